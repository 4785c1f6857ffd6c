// Repeat, the history and comparison in the analysis window, over the scripted board:
// Repeat keeps the main window's cycle going, every completed capture joins the history,
// PgUp/PgDn step through it, Save... writes the one shown, and a pinned reference marks
// the rows that differ and leads "next difference" there.

#include "app/history_panel.h"
#include "app/zoom_view_widget.h"
#include "app/zoom_wnd.h"
#include "capture/capture_files.h"
#include "support/temp_dir.h"
#include "view/difference_marks.h"
#include "viewer_test_support.h"

#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace pulsara::test {

class ZoomWndHistoryTest : public QObject {
    Q_OBJECT
private slots:
    void repeatStepSaveAndCompare() {
        Viewer viewer("#SYSPARM 5,0,0,15,0,0\r\nR0\t0\r\nR1\t1\r\n");
        auto& dlg = *viewer.dialog;
        dlg.OnAnalysis();
        CZoomWnd& wnd = *dlg.analysisWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&wnd));
        wnd.resize(1000, 500);
        HistoryPanel& panel = wnd.historyPanel();
        auto& view = wnd.view();

        // Repeat starts the main window's capture and starts it again after each one.
        QTest::mouseClick(&panel.repeatButton(), Qt::LeftButton);
        QCOMPARE(dlg.startButton().text(), QStringLiteral("STOP"));
        for (const std::uint8_t fill : {0x01, 0x03, 0x01}) {
            viewer.linked.board.reads = CompletedReadOut(fill, 0);
            dlg.OnTimer();
            QCOMPARE(dlg.startButton().text(), QStringLiteral("STOP"));
            QCOMPARE(wnd.shownCapture().samples[0], fill); // each shown as it completes
        }
        QTest::mouseClick(&panel.stopButton(), Qt::LeftButton);
        QCOMPARE(dlg.startButton().text(), QStringLiteral("START"));
        QVERIFY(!panel.repeating());
        QCOMPARE(panel.history().size(), 3);
        QCOMPARE(panel.list().count(), 3);
        QCOMPARE(panel.list().currentRow(), 2);
        QCOMPARE(panel.shownLine().text(), QStringLiteral("Shown: #3, 3 of 3"));

        // A load is shown but is no completed capture; PgUp comes back to the newest.
        const auto dir = std::filesystem::temp_directory_path() / "pulsara-history-test";
        std::filesystem::create_directories(dir);
        auto other = std::make_unique<Capture>(*viewer.capture);
        other->samples.fill(0x07);
        QVERIFY(SaveCapture(*other, dir / "other.wfa", 0).ok);
        QVERIFY(dlg.LoadFrom(dir / "other.wfa"));
        QCOMPARE(wnd.shownCapture().samples[0], 0x07);
        QCOMPARE(panel.history().size(), 3);
        QCOMPARE(panel.list().currentRow(), -1);
        QCOMPARE(panel.shownLine().text(), QStringLiteral("Shown: the main window's capture"));
        view.setFocus();
        QTest::keyClick(&view, Qt::Key_PageDown);
        QCOMPARE(wnd.shownCapture().samples[0], 0x07);
        QTest::keyClick(&view, Qt::Key_PageUp);
        QCOMPARE(panel.list().currentRow(), 2);

        // PgUp goes back, PgDn forward, stopping at either end; the zoom stays.
        view.setFocus();
        view.zoomBy(4.0, 100);
        const TimeWindow zoomed = view.window();
        const std::pair<Qt::Key, int> keys[] = {{Qt::Key_PageUp, 1},   {Qt::Key_PageUp, 0},
                                                {Qt::Key_PageUp, 0},   {Qt::Key_PageDown, 1},
                                                {Qt::Key_PageDown, 2}, {Qt::Key_PageDown, 2}};
        const std::uint8_t fills[] = {0x01, 0x03, 0x01};
        for (const auto& [key, shown] : keys) {
            QTest::keyClick(&view, key);
            QCOMPARE(panel.list().currentRow(), shown);
            QCOMPARE(wnd.shownCapture().samples[0], fills[shown]);
            QCOMPARE(view.scene().changes->Word(100), fills[shown] * 0x01010101U);
        }
        QCOMPARE(view.window(), zoomed);
        QCOMPARE(viewer.capture->samples[0], 0x07); // the main window keeps its own

        // Save... writes the capture shown.
        panel.list().setCurrentRow(1);
        QCOMPARE(wnd.shownCapture().samples[0], 0x03);
        QCOMPARE(panel.SaveShown(dir / "second.wfa"), std::string());
        std::ifstream saved(dir / "second.wfa", std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(saved), {}};
        QCOMPARE(bytes.size(), kSampleMemoryBytes);
        QCOMPARE(bytes.find_first_not_of('\x03'), std::string::npos);
        auto reread = std::make_unique<Capture>();
        QVERIFY(LoadCapture(*reread, dir / "second.wfa").companionRead.has_value());
        QCOMPARE(reread->settings.savedScrollPos, kHorizontalScrollMin); // TOP

        // Pin the second as the reference and show the third: R1 differs everywhere.
        panel.PinShown();
        QTest::keyClick(&view, Qt::Key_PageDown);
        const auto* comparison = panel.comparison();
        QVERIFY(comparison != nullptr);
        QCOMPARE(comparison->targets.size(), std::size_t{2});
        QCOMPARE(comparison->targets[0].samples, 0);
        QCOMPARE(comparison->targets[1].samples, kSampleCount);
        QVERIFY(panel.compareLine().text().startsWith(QStringLiteral("1 rows differ")));
        const AnalysisLayout layout = view.layout();
        QImage image = view.grab().toImage();
        const int x = AnalysisLayout::kTraceLeft + 50;
        const QRgb red = qRgb(kDifferenceColour.r, kDifferenceColour.g, kDifferenceColour.b);
        QCOMPARE(image.pixel(x, layout.RowTop(1)) | 0xFF000000U, red);
        QVERIFY((image.pixel(x, layout.RowTop(0)) | 0xFF000000U) != red);
        QCOMPARE(image.pixel(x, AnalysisLayout::kOverviewBottom - 1) | 0xFF000000U, red);

        // A reference from a file, one sample of R0 off: "next difference" goes there,
        // and comes round to it again.
        auto reference = std::make_unique<Capture>(wnd.shownCapture());
        reference->samples[20000 * 4] &= 0xFE;
        QVERIFY(SaveCapture(*reference, dir / "ref.wfa", 0).ok);
        QCOMPARE(panel.PinFile(dir / "ref.wfa"), std::string());
        QCOMPARE(panel.comparison()->targets[0].spans,
                 (std::vector<analysis::SampleSpan>{{20000, 20000}}));
        QCOMPARE(panel.comparison()->targets[1].samples, 0);
        view.showAll();
        view.zoomBy(64.0, 0);
        for (int round = 0; round < 2; ++round) {
            wnd.OnNextDifference();
            const TimeWindow& w = view.window();
            QVERIFY(std::abs(w.SampleAt(w.width / 2.0) - 20000.5) < 1.0);
        }
        image = view.grab().toImage();
        const int glitchX = AnalysisLayout::kTraceLeft + static_cast<int>(view.window().XOf(20000));
        QCOMPARE(image.pixel(glitchX, layout.RowTop(0)) | 0xFF000000U, red);

        // Aligned at sample 0 the same; unpinned, no marks.
        panel.SetAlignment(analysis::Alignment::Start);
        QCOMPARE(panel.comparison()->targets[0].samples, 1);
        panel.Unpin();
        QVERIFY(panel.comparison() == nullptr);

        // Keeping fewer drops the oldest at once.
        panel.keep().setValue(1);
        QCOMPARE(panel.history().size(), 1);
        QCOMPARE(panel.list().count(), 1);
        QCOMPARE(panel.history().at(0).number, 3);
        std::filesystem::remove_all(dir);
    }
};

} // namespace pulsara::test

int RunZoomWndHistoryTests(int argc, char** argv) {
    pulsara::test::ZoomWndHistoryTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "zoom_wnd_history_test.moc"
