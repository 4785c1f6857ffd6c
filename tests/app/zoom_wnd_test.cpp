// The analysis window over the main window's capture: it opens from the main window, shows
// each completed or loaded capture at once, zooms by key, shows decoder errors in their row,
// measures under the pointer over channel rows only, and never changes the main window.

#include "analysis/measure.h"
#include "app/decoder_runner.h"
#include "app/view_frame.h"
#include "app/zoom_view_widget.h"
#include "app/zoom_wnd.h"
#include "capture/capture_files.h"
#include "capture/definition_text.h"
#include "support/temp_dir.h"
#include "view/hover_text.h"
#include "viewer_test_support.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>

#include <filesystem>
#include <fstream>
#include <functional>

namespace pulsara::test {

class ZoomWndTest : public QObject {
    Q_OBJECT
private slots:
    void followsTheCaptureAndLeavesTheMainWindowAlone() {
        Viewer viewer("#SYSPARM 5,0,0,15,0,0\r\nR0\t0\r\nR1\t1\r\n");
        auto& dlg = *viewer.dialog;
        const QSize mainSize = dlg.size();

        QTest::mouseClick(&dlg.analysisButton(), Qt::LeftButton);
        CZoomWnd* wnd = dlg.analysisWindow();
        QVERIFY(wnd != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(wnd));
        QCOMPARE(wnd->windowTitle(), QStringLiteral("pulsara analysis"));
        QVERIFY(wnd->isWindow());
        wnd->resize(900, 400); // resizable
        QTRY_COMPARE(wnd->size(), QSize(900, 400));
        auto& view = wnd->view();

        // LOAD: probe 0 high from sample 20000 on; the window shows it without being asked.
        const auto dir = std::filesystem::temp_directory_path() / "pulsara-analysis-wnd-test";
        std::filesystem::create_directories(dir);
        auto loaded = std::make_unique<Capture>();
        for (int s = 20000; s < kSampleCount; ++s) {
            loaded->samples[static_cast<std::size_t>(s) * 4] = 0x01;
        }
        std::ofstream(dir / "a.wfa", std::ios::binary)
            .write(reinterpret_cast<const char*>(loaded->samples.data()),
                   static_cast<std::streamsize>(loaded->samples.size()));
        viewer.services.loadPath = dir / "a.wfa";
        dlg.OnLoad();
        QCOMPARE(wnd->captureUpdates(), 1);
        QCOMPARE(view.scene().changes->ChangeAt(20000), 1U);
        const TimeWindow whole = view.window();
        QCOMPARE(whole.Span(), double{kSampleCount});
        const AnalysisLayout layout = view.layout();
        const QImage shown = view.grab().toImage();
        const int x = AnalysisLayout::kTraceLeft + static_cast<int>(whole.XOf(26000));
        QCOMPARE(shown.pixel(x, layout.Baseline(0) - 16) | 0xFF000000U, 0xFFFF0000U);
        QCOMPARE(shown.pixel(x, layout.Baseline(1) - 16) | 0xFF000000U, 0xFFFFFFFFU);

        // A completed capture arrives the same way.
        dlg.OnStartStop();
        viewer.linked.board.reads = CompletedReadOut(0x01, 0);
        dlg.OnTimer();
        QCOMPARE(wnd->captureUpdates(), 2);
        QCOMPARE(view.scene().changes->Word(5), 0x01010101U);
        const QImage mainBefore = dlg.grab().toImage();

        // Keys: + zooms around the centre, 0 shows all again, T centres the trigger.
        view.setFocus();
        QTest::keyClick(&view, Qt::Key_Plus);
        QCOMPARE(view.window().pixelsPerSample, 2 * whole.pixelsPerSample);
        QTest::keyClick(&view, Qt::Key_Plus);
        QTest::keyClick(&view, Qt::Key_T);
        QVERIFY(std::abs(view.window().SampleAt(view.window().width / 2.0) - 24) <
                view.window().Span() / 2 + 1); // TOP: the trigger at 24, near the start
        QTest::keyClick(&view, Qt::Key_End);
        QCOMPARE(view.window().first + view.window().Span(), double{kSampleCount});
        QTest::keyClick(&view, Qt::Key_0);
        QCOMPARE(view.window(), whole);

        // A click on row R0 places cursor A on its edge, a right click B; the line says so.
        const int y = layout.Baseline(0) - 8;
        view.setWindow(ShowSamples(whole.width, 19990, 20089));
        const int edgeX = AnalysisLayout::kTraceLeft + static_cast<int>(view.window().XOf(20000));
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(edgeX + 3, y));
        QCOMPARE(view.cursors().a, std::optional<int>(20000));
        QTest::mouseClick(&view, Qt::RightButton, {}, QPoint(edgeX + 200, y));
        QVERIFY(view.cursors().b.has_value());
        QVERIFY(wnd->cursorLine().text().contains(QStringLiteral("B-A")));

        // A decoder that does not exist: its row says so; nothing else changes.
        wnd->AddDecoder("nosuchdecoder:rx=R0");
        QTRY_VERIFY(!wnd->decoderRunner().Busy());
        QCOMPARE(wnd->decoderRows().size(), std::size_t{1});
        QVERIFY(wnd->decoderRows()[0].error);
        QVERIFY(!wnd->decoderRows()[0].message.empty());

        // Nothing done in the analysis window shows in the main window.
        QCOMPARE(dlg.size(), mainSize);
        QCOMPARE(dlg.grab().toImage(), mainBefore);
        std::filesystem::remove_all(dir);
    }

    // Hovering measures over channel rows only: a trace gives its level and pulse, a bus its
    // value; a decoder row, the space below the rows, the names, the ruler, the overview
    // and leaving the view give none, and take back what the last trace row said.
    void hoverMeasuresOverChannelRowsOnly() {
        auto capture = std::make_unique<Capture>();
        std::string definition = "#SYSPARM 5,0,0,15,0,0\r\nTRACE\t0\r\nBUS\t1,2,3,4\r\n";
        for (int p = 5; p < 32; ++p) {
            definition += "P" + std::to_string(p) + "\t" + std::to_string(p) + "\r\n";
        }
        SetDefinitionText(definition, *capture);
        QCOMPARE(capture->channels.rowCount, 29);
        // Probe 0 high for 30 samples of every 100; the bus reads A (probes 2 and 4 high).
        for (int s = 0; s < kSampleCount; ++s) {
            const std::uint8_t trace = s % 100 < 30 ? 0x01 : 0x00;
            capture->samples[static_cast<std::size_t>(s) * 4] = trace | 0x14;
        }
        CZoomWnd wnd(*capture);
        wnd.resize(900, 900);
        wnd.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wnd));
        wnd.AddDecoder("nosuchdecoder:rx=TRACE"); // its row comes right below the channels
        QTRY_VERIFY(!wnd.decoderRunner().Busy());
        QCOMPARE(wnd.decoderRows().size(), std::size_t{1});
        auto& view = wnd.view();
        QTRY_VERIFY(view.layout().VisibleRows() > 31);      // all 30 rows and space below
        view.setWindow({1100.0, 4.0, view.window().width}); // 4 pixels a sample
        const QString hint = wnd.statusLine().text();

        const auto hover = [&view](QPoint at) {
            QMouseEvent move(QEvent::MouseMove, at, view.mapToGlobal(at), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(&view, &move);
        };
        const auto rowY = [&view](int row) {
            return view.layout().RowTop(row - view.firstRow()) + 8;
        };
        const int x = AnalysisLayout::kTraceLeft + static_cast<int>(view.window().XOf(1234)) + 2;
        // Rows 2 on are P5 to P31, one probe each.
        const auto measured = [&](int row) {
            const int probe = row == 0 ? 0 : row + 3;
            const std::string name = row == 0 ? "TRACE" : "P" + std::to_string(probe);
            const auto m = analysis::MeasureAt(*capture, {name, probe}, 1234);
            return m ? QString::fromStdString(MeasurementText(name, *m)) : QString();
        };
        const QString traceText = measured(0);
        QVERIFY(traceText.startsWith(QStringLiteral("TRACE #1234 low   pulse ")));

        struct Case {
            const char* what;
            std::function<void()> go; // moves the pointer there
            QString text;             // empty: no measurement
        };
        const auto to = [&](QPoint p) { return [&, p] { hover(p); }; };
        const auto at = [&](int row) { return [&, row] { hover({x, rowY(row)}); }; };
        const std::vector<Case> unscrolled = {
            {"trace", at(0), traceText},
            {"bus", at(1), QStringLiteral("BUS #1234 = A")},
            {"last channel row", at(28), measured(28)},
            {"decoder row", at(29), {}},
            {"below the rows", at(30), {}},
            {"names", to({20, rowY(0)}), {}},
            {"ruler", to({x, AnalysisLayout::kRulerTextTop}), {}},
            {"overview", to({x, AnalysisLayout::kOverviewTop + 5}), {}},
            {"left the view",
             [&] {
                 QEvent leave(QEvent::Leave);
                 QApplication::sendEvent(&view, &leave);
             },
             {}},
        };
        const auto check = [&](int measuredRow, const std::vector<Case>& cases) {
            for (const Case& c : cases) {
                at(measuredRow)(); // a measurement the next place must not leave standing
                QCOMPARE(wnd.statusLine().text(), measured(measuredRow));
                c.go();
                const QString status = wnd.statusLine().text();
                if (c.text.isEmpty()) {
                    QVERIFY2(status == hint, c.what);
                    QTRY_VERIFY2(!QToolTip::isVisible(), c.what);
                } else {
                    QVERIFY2(status == c.text, qPrintable(QString(c.what) + ": " + status));
                    QVERIFY2(QToolTip::isVisible() && QToolTip::text() == c.text, c.what);
                }
            }
        };
        check(0, unscrolled);
        if (QTest::currentTestFailed()) {
            return;
        }

        wnd.resize(900, 500);
        QTRY_VERIFY(view.layout().VisibleRows() < 25);
        wnd.rowBar().setValue(wnd.rowBar().maximum());
        const int first = view.firstRow();
        QCOMPARE(first, 30 - view.layout().VisibleRows());
        QVERIFY(first > 2);
        // Scrolled so that the decoder row is the last one in view.
        check(first, {
                         {"scrolled: first row in view", at(first), measured(first)},
                         {"scrolled: last channel row", at(28), measured(28)},
                         {"scrolled: decoder row", at(29), {}},
                     });
        QToolTip::hideText();
    }
};

} // namespace pulsara::test

int RunZoomWndTests(int argc, char** argv) {
    pulsara::test::ZoomWndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "zoom_wnd_test.moc"
