// The analysis window over the main window's capture: it opens from the main window, shows
// each completed or loaded capture at once, zooms by key, shows decoder errors in their row,
// and never changes the main window.

#include "app/analysis_view_widget.h"
#include "app/analysis_wnd.h"
#include "app/decoder_runner.h"
#include "app/view_frame.h"
#include "capture/capture_files.h"
#include "viewer_test_support.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <fstream>

namespace pulsara::test {

class AnalysisWndTest : public QObject {
    Q_OBJECT
private slots:
    void followsTheCaptureAndLeavesTheMainWindowAlone() {
        Viewer viewer("#SYSPARM 5,0,0,15,0,0\r\nR0\t0\r\nR1\t1\r\n");
        auto& dlg = *viewer.dialog;
        const QSize mainSize = dlg.size();

        QTest::mouseClick(&dlg.analysisButton(), Qt::LeftButton);
        CAnalysisWnd* wnd = dlg.analysisWindow();
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
};

} // namespace pulsara::test

int RunAnalysisTests(int argc, char** argv) {
    pulsara::test::AnalysisWndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "analysis_wnd_test.moc"
