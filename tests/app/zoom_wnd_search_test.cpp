// The analysis window's search bar over a capture with glitches, a bus value and UART bytes
// planted at known samples: Ctrl+F, each match kind, F3 / Shift+F3 centring the match, the
// result list with times from the trigger, the ticks in the overview strip.

#include "app/capture_until_dlg.h"
#include "app/decoder_runner.h"
#include "app/search_bar.h"
#include "app/zoom_view_widget.h"
#include "app/zoom_wnd.h"
#include "capture/definition_text.h"
#include "viewer_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <cmath>
#include <memory>
#include <vector>

namespace pulsara::test {
namespace {

void Fill(Capture& c, int probe, int from, int to, int level) {
    for (int s = from; s < to; ++s) {
        auto& byte = c.samples[static_cast<std::size_t>(s) * 4 + probe / 8];
        const auto bit = static_cast<std::uint8_t>(1U << (probe % 8));
        byte = level != 0 ? (byte | bit) : (byte & static_cast<std::uint8_t>(~bit));
    }
}

std::unique_ptr<Capture> Planted() {
    auto c = std::make_unique<Capture>();
    // 10MHz, trigger at TOP (sample 24); 50 pairs cleared, so the data starts at 100.
    SetDefinitionText("#SYSPARM 5,0,0,15,0,0\r\nGL\t1\r\nDATA\t8,9,10,11\r\nRX\t4\r\n", *c);
    c->settings.unfilledPairs = 50;
    Fill(*c, 1, 40, 41, 1); // in the cleared samples: never found
    Fill(*c, 1, 5000, 5001, 1);
    Fill(*c, 1, 9000, 9003, 1);
    Fill(*c, 1, 20000, 20050, 1);
    Fill(*c, 8 + 1, 30000, 30010, 1); // DATA = 2
    Fill(*c, 8 + 3, 30000, 30010, 1); // DATA = A
    // 'Z' (0x5A) at 115200 baud, 87 samples a bit, from sample 25000; idle high.
    Fill(*c, 4, 0, kSampleCount, 1);
    const int bits[10] = {0, 0, 1, 0, 1, 1, 0, 1, 0, 1};
    for (int b = 0; b < 10; ++b) {
        Fill(*c, 4, 25000 + b * 87, 25000 + (b + 1) * 87, bits[b]);
    }
    return c;
}

// A read-out whose probe 0 rises at sample 8192 (all of the second quarter on), or stays low.
std::deque<ScriptedRead> ReadOut(bool rises) {
    const Bytes low(32768, 0x00);
    const Bytes high(32768, rises ? 0x01 : 0x00);
    return {{true, {0x0C}}, {true, low}, {true, high}, {true, high}, {true, high}, {true, {0, 0}}};
}

double Centre(const ZoomViewWidget& view) {
    return view.window().SampleAt(view.window().width / 2.0);
}

} // namespace

class ZoomWndSearchTest : public QObject {
    Q_OBJECT
private slots:
    void findsEveryKindAndStepsThroughTheMatches() {
        const auto capture = Planted();
        CZoomWnd wnd(*capture);
        wnd.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wnd));
        wnd.OnCaptureChanged();
        auto& bar = wnd.searchBar();
        auto& view = wnd.view();
        QVERIFY(!bar.isVisible());
        QTest::keyClick(&wnd, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar.isVisible());
        QVERIFY(wnd.resultList().isVisible());
        QTRY_VERIFY(bar.detailEdit().hasFocus());

        struct Case {
            SearchBar::Kind kind;
            QString signal;
            QString detail;
            std::vector<int> starts;
            QString count;
        };
        const Case cases[] = {
            {SearchBar::Pulse, "GL", "high <4", {5000, 9000}, "1 of 2"},
            {SearchBar::Pulse, "GL", "high >300ns", {20000}, "1 of 1"},
            {SearchBar::Edge, "GL", "rising", {5000, 9000, 20000}, "1 of 3"},
            {SearchBar::Edge, "1", "", {5000, 5001, 9000, 9003, 20000, 20050}, "1 of 6"},
            {SearchBar::Value, "DATA", "A", {30000}, "1 of 1"},
            {SearchBar::Value, "DATA", "8/8", {30000}, "1 of 1"},
            {SearchBar::Pattern, "", "GL=1,DATA=0", {5000, 9000, 20000}, "1 of 3"},
            {SearchBar::Pulse, "GL", "low >30000", {}, "no match"},
            {SearchBar::Edge, "NOPE", "rising", {}, "cannot search"},
            {SearchBar::Pulse, "GL", "wide", {}, "cannot search"},
        };
        for (const auto& c : cases) {
            const QByteArray trace = (c.signal + " " + c.detail).toUtf8();
            bar.kindBox().setCurrentIndex(c.kind);
            bar.signalBox().setCurrentText(c.signal);
            bar.detailEdit().setText(c.detail);
            QTest::keyClick(&bar.detailEdit(), Qt::Key_Return);
            std::vector<int> starts;
            for (const auto& m : bar.marks()) {
                starts.push_back(m.start);
            }
            QVERIFY2(starts == c.starts, trace.constData());
            QCOMPARE(bar.countLabel().text(), c.count);
            QCOMPARE(wnd.resultList().count(), static_cast<int>(c.starts.size()));
            QCOMPARE(view.scene().searchMarks.size(), c.starts.size());
            if (!c.starts.empty()) {
                QCOMPARE(bar.current(), 0);
                QVERIFY2(std::abs(Centre(view) - c.starts[0]) < 30, trace.constData());
            }
        }
        QVERIFY(wnd.statusLine().text().contains("--pulse") ||
                wnd.statusLine().text().contains("a pulse search reads high or low"));

        // F3 goes on, Shift+F3 back, both wrapping round; the list follows and reads the
        // times from the trigger (sample 24, 100 ns a sample).
        bar.kindBox().setCurrentIndex(SearchBar::Edge);
        bar.signalBox().setCurrentText("GL");
        bar.detailEdit().setText("rising");
        QTest::keyClick(&bar.detailEdit(), Qt::Key_Return);
        QCOMPARE(wnd.resultList().item(0)->text(), QStringLiteral("5000  +497.6 us"));
        view.setFocus();
        QTest::keyClick(&wnd, Qt::Key_F3);
        QCOMPARE(bar.current(), 1);
        QVERIFY(std::abs(Centre(view) - 9000) < 30);
        QCOMPARE(wnd.resultList().currentRow(), 1);
        QCOMPARE(bar.countLabel().text(), QStringLiteral("2 of 3"));
        QTest::keyClick(&wnd, Qt::Key_F3, Qt::ShiftModifier);
        QTest::keyClick(&wnd, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(bar.current(), 2);
        QVERIFY(std::abs(Centre(view) - 20000) < 30);
        QCOMPARE(view.scene().currentMark, 2);
        // A click in the list goes there.
        wnd.resultList().setCurrentRow(0);
        QCOMPARE(bar.current(), 0);
        QVERIFY(std::abs(Centre(view) - 5000) < 30);

        // Every match has its tick at the top of the overview strip.
        const QImage shown = view.grab().toImage();
        const TimeWindow whole = WholeCapture(view.layout().TraceWidth());
        for (const int s : {5000, 9000, 20000}) {
            const int x = AnalysisLayout::kTraceLeft + static_cast<int>(std::lround(whole.XOf(s)));
            QCOMPARE(shown.pixel(x, AnalysisLayout::kOverviewTop + 2) | 0xFF000000U, 0xFFE67800U);
        }

        // Decoded text searches the window's own decoder rows, once they are decoded.
        wnd.AddDecoder("uart:rx=RX:baudrate=115200");
        QTRY_VERIFY_WITH_TIMEOUT(!wnd.decoderRunner().Busy(), 20000);
        bar.kindBox().setCurrentIndex(SearchBar::Decoded);
        bar.detailEdit().setText("^5A$");
        bar.regexBox().setChecked(true);
        QTest::keyClick(&bar.detailEdit(), Qt::Key_Return);
        QCOMPARE(bar.marks().size(), std::size_t{1});
        QVERIFY(bar.marks()[0].start > 25000 && bar.marks()[0].end < 25000 + 10 * 87);

        // A new capture is searched again at once: the glitches are gone from it.
        bar.kindBox().setCurrentIndex(SearchBar::Edge);
        bar.detailEdit().setText("rising");
        QTest::keyClick(&bar.detailEdit(), Qt::Key_Return);
        QCOMPARE(bar.marks().size(), std::size_t{3});
        for (int s = 4000; s < 21000; ++s) {
            capture->samples[static_cast<std::size_t>(s) * 4] &= 0xFDU;
        }
        wnd.OnCaptureChanged();
        QCOMPARE(bar.marks().size(), std::size_t{0});
        QCOMPARE(bar.countLabel().text(), QStringLiteral("no match"));
        QTRY_VERIFY_WITH_TIMEOUT(!wnd.decoderRunner().Busy(), 20000);
    }

    void captureUntilRunsTheMainWindowsCycle() {
        Viewer viewer("#SYSPARM 5,0,0,15,0,0\r\nR0\t0\r\n");
        auto& dlg = *viewer.dialog;
        QTest::mouseClick(&dlg.analysisButton(), Qt::LeftButton);
        CZoomWnd& wnd = *dlg.analysisWindow();
        const auto& cycle = dlg.cycle();

        // The dialog starts from the search bar's match.
        wnd.ShowSearch();
        wnd.searchBar().kindBox().setCurrentIndex(SearchBar::Edge);
        wnd.searchBar().signalBox().setCurrentText("R0");
        wnd.searchBar().detailEdit().setText("rising");
        wnd.OnCaptureUntil();
        CaptureUntilDlg& until = *wnd.captureUntilDialog();
        QCOMPARE(until.matchEdit().text(), QStringLiteral("--signal R0 --edge rising"));

        // Held on the second capture: the first one is followed by a START of its own.
        QVERIFY(wnd.StartCaptureUntil(until.matchEdit().text(), 3));
        QCOMPARE(cycle.captureArmed, 1);
        QVERIFY(!until.startButton().isEnabled());
        viewer.linked.board.reads = ReadOut(false);
        dlg.OnTimer();
        QVERIFY(until.progressLabel().text().contains("Capture 1 of 3 held no match"));
        QTRY_COMPARE(cycle.captureArmed, 1);
        viewer.linked.board.reads = ReadOut(true);
        dlg.OnTimer();
        QCOMPARE(until.progressLabel().text(),
                 QStringLiteral("Capture 2 holds a match at sample 8192 (cursor A)."));
        QVERIFY(!wnd.captureUntilRunning());
        QCOMPARE(wnd.view().cursors().a, std::optional<int>(8192));
        QCoreApplication::processEvents();
        QCOMPARE(cycle.captureArmed, 0);
        QVERIFY(until.startButton().isEnabled());

        // Never held: it gives up after the tries, unarmed.
        QVERIFY(wnd.StartCaptureUntil("--signal R0 --pulse high", 2));
        for (int i = 0; i < 2; ++i) {
            QTRY_COMPARE(cycle.captureArmed, 1);
            viewer.linked.board.reads = ReadOut(true); // a rise, but no complete pulse
            dlg.OnTimer();
        }
        QCOMPARE(until.progressLabel().text(),
                 QStringLiteral("None of the 2 captures held a match."));
        QCoreApplication::processEvents();
        QCOMPARE(cycle.captureArmed, 0);

        // Stop presses STOP; a match that cannot be read never starts.
        QVERIFY(wnd.StartCaptureUntil("--signal R0 --edge falling", 5));
        QCOMPARE(cycle.captureArmed, 1);
        QTest::mouseClick(&until.stopButton(), Qt::LeftButton);
        QCOMPARE(cycle.captureArmed, 0);
        QVERIFY(!wnd.captureUntilRunning());
        QVERIFY(!wnd.StartCaptureUntil("--signal NOPE --edge falling", 5));
        QCOMPARE(cycle.captureArmed, 0);
        QVERIFY(until.progressLabel().text().contains("no row is named \"NOPE\""));
    }
};

} // namespace pulsara::test

int RunZoomWndSearchTests(int argc, char** argv) {
    pulsara::test::ZoomWndSearchTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "zoom_wnd_search_test.moc"
