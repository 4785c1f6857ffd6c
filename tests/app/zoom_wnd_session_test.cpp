// The analysis window's session kept with a capture (NAME.wfs) and between runs, and its
// decoded data table: stacked decoders, filters, a click into the view, export.

#include "analysis/decode.h"
#include "app/add_decoder_dlg.h"
#include "app/decoded_table.h"
#include "app/decoder_runner.h"
#include "app/search_bar.h"
#include "app/zoom_view_widget.h"
#include "app/zoom_wnd.h"
#include "capture/session_file.h"
#include "support/signal_builder.h"
#include "support/temp_dir.h"
#include "viewer_test_support.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <QToolTip>

#include <fstream>
#include <iterator>

namespace pulsara::test {
namespace {

const std::string kRows =
    "#SYSPARM 5,0,0,0,0,0\r\nRX 17\r\nSCL 22\r\nSDA 23\r\nSCK 18\r\nMOSI 19\r\nCS# 20\r\n";

// "pulsara," on RX at 115200 baud (10 MHz), an EEPROM write on I2C.
void WriteTraffic(Capture& capture) {
    const std::vector<std::uint8_t> text = {'p', 'u', 'l', 's', 'a', 'r', 'a', ','};
    WriteUart(capture, 17, 300, 87, text, 120);
    WriteI2c(capture, 22, 23, 12000, 25, 0x50, {0x10, 0x42});
}

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

CZoomWnd& OpenAnalysis(Viewer& viewer) {
    viewer.dialog->OnAnalysis();
    CZoomWnd& wnd = *viewer.dialog->analysisWindow();
    (void)QTest::qWaitForWindowExposed(&wnd);
    return wnd;
}

void Decoded(CZoomWnd& wnd) {
    QTRY_VERIFY_WITH_TIMEOUT(!wnd.decoderRunner().Busy(), 20000);
}

} // namespace

class ZoomWndSessionTest : public QObject {
    Q_OBJECT
private slots:
    // SAVE keeps the window's decoders, cursors, zoom, search and place beside the capture
    // and changes nothing in the .wfa/.wfd; LOAD after a restart brings them back; without
    // a .wfs only the last run's decoders and place come back; a broken or newer .wfs is
    // reported and ignored.
    void sessionKeptWithTheCapture_data() {
        QTest::addColumn<QString>("wfs"); // what stands in x.wfs at LOAD ("=": as saved)
        QTest::addColumn<bool>("restored");
        QTest::addColumn<QString>("notice");
        QTest::newRow("as saved") << "=" << true << "";
        QTest::newRow("no session file") << "" << false << "";
        QTest::newRow("malformed") << "{\n \"version\": 1,\n nope" << false << "line 3";
        QTest::newRow("from a newer pulsara") << "{\"version\": 99}" << false << "version 99";
        QTest::newRow("wrong type")
            << "{\"version\": 1, \"decoders\": 7}" << false << "not an analysis session";
    }

    void sessionKeptWithTheCapture() {
        QFETCH(QString, wfs);
        QFETCH(bool, restored);
        QFETCH(QString, notice);
        TempDir dir;
        const auto path = dir.path() / "x.wfa";
        const std::vector<std::string> stacks = {"uart:rx=RX:baudrate=115200",
                                                 "i2c:scl=SCL:sda=SDA,eeprom24xx"};
        AnalysisSession saved;
        std::string plainWfa;
        std::string plainWfd;
        {
            Viewer plain(kRows);
            WriteTraffic(*plain.capture);
            plain.services.savePath = dir.path() / "plain.wfa";
            plain.dialog->OnSave();
            plainWfa = Slurp(dir.path() / "plain.wfa");
            plainWfd = Slurp(dir.path() / "plain.wfd");
            QVERIFY(!std::filesystem::exists(dir.path() / "plain.wfs"));
        }
        std::optional<AnalysisSession> remembered;
        {
            Viewer viewer(kRows);
            WriteTraffic(*viewer.capture);
            CZoomWnd& wnd = OpenAnalysis(viewer);
            wnd.resize(1400, 760);
            for (const auto& stack : stacks) {
                wnd.AddDecoder(stack);
            }
            Decoded(wnd);
            wnd.view().setCursors({120, 4000});
            wnd.view().setWindow({1000.0, 2.0, wnd.view().window().width});
            wnd.view().setFirstRow(2);
            wnd.searchBar().SetState("0\tRX\tfalling\t0");
            viewer.services.savePath = path;
            viewer.dialog->OnSave();
            QVERIFY(viewer.services.errors.empty());
            // The capture's own files are those of a SAVE without the analysis window.
            QCOMPARE(Slurp(path), plainWfa);
            QCOMPARE(Slurp(dir.path() / "x.wfd"), plainWfd);
            const SessionRead read = ReadSessionFile(dir.path() / "x.wfs");
            QVERIFY2(read.session.has_value(), read.error.c_str());
            saved = *read.session;
            QVERIFY(saved == wnd.Session());
            QCOMPARE(saved.stacks, stacks);
            QCOMPARE(saved.search, std::string("0\tRX\tfalling\t0"));
            viewer.dialog.reset(); // the program ends: the window keeps its decoders and place
            remembered = viewer.services.rememberedOut;
        }
        QVERIFY(remembered.has_value());
        if (wfs != QStringLiteral("=")) {
            std::filesystem::remove(dir.path() / "x.wfs");
            if (!wfs.isEmpty()) {
                std::ofstream(dir.path() / "x.wfs") << wfs.toStdString();
            }
        }

        Viewer again(kRows);
        again.services.rememberedIn = remembered;
        again.services.loadPath = path;
        again.dialog->OnLoad();
        QVERIFY(again.services.errors.empty());
        const QString tip = again.dialog->statusLabel().toolTip();
        if (notice.isEmpty()) {
            QVERIFY2(again.dialog->statusLabel().text().isEmpty(), qPrintable(tip));
        } else {
            QVERIFY2(tip.contains(notice) && tip.contains("x.wfs"), qPrintable(tip));
        }
        CZoomWnd& wnd = OpenAnalysis(again);
        Decoded(wnd);
        // The last run's decoders and geometry come back in every case.
        QCOMPARE(wnd.decoderStacks(), stacks);
        QVERIFY(saved.geometry.has_value());
        QCOMPARE(wnd.size(), QSize(saved.geometry->width, saved.geometry->height));
        const AnalysisSession now = wnd.Session();
        if (restored) {
            QCOMPARE(now.cursorA, saved.cursorA);
            QCOMPARE(now.cursorB, saved.cursorB);
            QCOMPARE(now.firstSample, saved.firstSample);
            QCOMPARE(now.pixelsPerSample, saved.pixelsPerSample);
            QCOMPARE(now.firstRow, saved.firstRow);
            QCOMPARE(now.search, saved.search);
        } else {
            QVERIFY(!now.cursorA && !now.cursorB);
            QVERIFY(now.search.empty());
        }
    }

    // The table lists every annotation of every stack with times from the trigger; the
    // filters narrow it (an unreadable regular expression shows nothing); a row's click
    // centres and marks its annotation, a click on a box selects its row; Export writes
    // what the filter shows; a box's tooltip is its longest text.
    void decodedTableFollowsTheDecoders() {
        auto capture = MakeCapture(kRows);
        WriteTraffic(*capture);
        CZoomWnd wnd(*capture);
        wnd.resize(1200, 800);
        wnd.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wnd));
        wnd.AddDecoder("uart:rx=RX:baudrate=115200");
        wnd.AddDecoder("i2c:scl=SCL:sda=SDA,eeprom24xx");
        Decoded(wnd);
        DecodedTable& table = wnd.decodedTable();
        DecodedTableModel& model = table.model();

        std::size_t expected = 0;
        for (const char* stack : {"uart:rx=RX:baudrate=115200", "i2c:scl=SCL:sda=SDA,eeprom24xx"}) {
            const auto plan = analysis::PlanDecode(*capture, {{stack}, std::nullopt, {}});
            QVERIFY(plan.ok());
            (void)analysis::RunDecode(*capture, *plan,
                                      [&](const analysis::Annotation&) { ++expected; });
        }
        QCOMPARE(model.all().size(), expected);
        QCOMPARE(model.rowCount(), static_cast<int>(expected));
        QVERIFY(model.decoders().contains("eeprom24xx-1"));
        QVERIFY(table.decoderBox().count() >= 4); // all, uart-1, i2c-1, eeprom24xx-1

        struct Case {
            const char* what;
            QString decoder;
            QString row;
            QString text;
            bool regex;
            int rows; // -1: at least one
            QString firstText;
            QString firstAscii;
        };
        const Case cases[] = {
            // A byte's start bit, data and parity check share the row.
            {"uart data row", "uart-1", "rx-data", "", false, 24, "Start bit", ""},
            {"a byte by text", "uart-1", "rx-data", "2c", false, 1, "2C", ","},
            {"bytes by expression", "uart-1", "", "^7[0-5]$", true, 4, "70", "p"},
            {"not an expression", "", "", "(", true, 0, "", ""},
            {"the stacked decoder", "eeprom24xx-1", "", "", false, -1, "", ""},
            // Data bits are no bytes: no ASCII for them.
            {"data bits", "uart-1", "rx-data-bits", "", false, 64, "0", ""},
        };
        for (const Case& c : cases) {
            table.decoderBox().setCurrentText(c.decoder.isEmpty() ? "All decoders" : c.decoder);
            table.rowBox().setCurrentText(c.row.isEmpty() ? "All rows" : c.row);
            table.regexBox().setChecked(c.regex);
            table.textEdit().setText(c.text);
            if (c.rows >= 0) {
                QVERIFY2(model.rowCount() == c.rows, c.what);
            } else {
                QVERIFY2(model.rowCount() > 0, c.what);
            }
            QVERIFY2(table.countLabel().text().startsWith(QString::number(model.rowCount())),
                     c.what);
            if (!c.firstText.isEmpty()) {
                const auto cell = [&](int column) {
                    return model.data(model.index(0, column), Qt::DisplayRole).toString();
                };
                QVERIFY2(cell(DecodedTableModel::Text) == c.firstText, c.what);
                QVERIFY2(cell(DecodedTableModel::Ascii) == c.firstAscii, c.what);
                // 10 MHz from the trigger at sample 24.
                const auto& a = model.shown(0);
                QVERIFY2(cell(DecodedTableModel::StartTime).endsWith(" us"), c.what);
                QVERIFY2(cell(DecodedTableModel::StartSample) == QString::number(a.start), c.what);
            }
        }

        // Export writes what the filter shows.
        TempDir dir;
        table.decoderBox().setCurrentText("uart-1");
        table.rowBox().setCurrentText("rx-data");
        table.regexBox().setChecked(false);
        table.textEdit().clear();
        QCOMPARE(model.rowCount(), 24);
        const QString csv = QString::fromStdString((dir.path() / "t.csv").string());
        QVERIFY(!table.Export(csv).has_value());
        const std::string csvText = Slurp(dir.path() / "t.csv");
        QCOMPARE(std::count(csvText.begin(), csvText.end(), '\n'), 25);
        QVERIFY(
            csvText.starts_with("start_sample,end_sample,start_s,end_s,decoder,class,row,text"));
        QVERIFY(csvText.find(",uart,rx-data,rx-data,2C\r\n") != std::string::npos);
        const QString json = QString::fromStdString((dir.path() / "t.json").string());
        QVERIFY(!table.Export(json).has_value());
        const std::string jsonText = Slurp(dir.path() / "t.json");
        QCOMPARE(std::count(jsonText.begin(), jsonText.end(), '\n'), 24);
        QVERIFY(table.Export("/nonexistent-folder/t.csv").has_value());

        // A click on a row centres its annotation and marks it.
        const auto& third = model.shown(2);
        emit table.view().clicked(model.index(2, 0));
        const TimeWindow& window = wnd.view().window();
        const double centre = window.first + window.Span() / 2;
        QVERIFY(std::abs(centre - (third.start + third.end) / 2.0) < 2);
        QCOMPARE(wnd.view().scene().currentMark, 0);
        QCOMPARE(wnd.view().scene().searchMarks[0].start, static_cast<int>(third.start));
        QCOMPARE(table.view().currentIndex().row(), 2);

        // A click on the byte's box in the view selects its row; hovering shows its text.
        table.view().clearSelection();
        const int channelRows = capture->channels.rowCount;
        int uartRow = -1;
        for (std::size_t r = 0; r < wnd.decoderRows().size(); ++r) {
            const auto& boxes = wnd.decoderRows()[r].boxes;
            const std::string& title = wnd.decoderRows()[r].title;
            if (title.ends_with(" rx-data") && !boxes.empty()) {
                uartRow = channelRows + static_cast<int>(r);
                break;
            }
        }
        QVERIFY(uartRow >= 0);
        const double inside = (third.start + third.end) / 2.0;
        emit wnd.view().clicked(uartRow, inside);
        QVERIFY(table.view().selectionModel()->isRowSelected(2, {}));
        auto& view = wnd.view();
        view.setFirstRow(0);
        const QPoint at(AnalysisLayout::kTraceLeft + static_cast<int>(view.window().XOf(inside)),
                        view.layout().RowTop(uartRow - view.firstRow()) + 8);
        QMouseEvent move(QEvent::MouseMove, at, view.mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&view, &move);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text().toStdString(), third.texts.front());
        QToolTip::hideText();
    }

    // Add decoder offers what can stack on the chosen decoder, and the stack names both.
    void addDecoderStacksADecoder() {
        const auto installed = analysis::InstalledDecoders();
        QVERIFY(installed.ok());
        AddDecoderDlg dialog(*installed, {"RX", "SCL", "SDA"});
        QVERIFY(dialog.SelectDecoder("i2c"));
        const int eeprom = dialog.upperList().findText("eeprom24xx", Qt::MatchStartsWith);
        QVERIFY(eeprom > 0);
        QCOMPARE(dialog.upperList().findText("spiflash", Qt::MatchStartsWith), -1);
        dialog.upperList().setCurrentIndex(eeprom);
        QCOMPARE(dialog.Stack(), std::string("i2c:scl=SCL:sda=SDA,eeprom24xx"));
        QVERIFY(dialog.SelectDecoder("spi"));
        QVERIFY(dialog.upperList().findText("spiflash", Qt::MatchStartsWith) > 0);
        QCOMPARE(dialog.upperList().currentIndex(), 0);
        QVERIFY(dialog.Stack().find(',') == std::string::npos);
    }
};

} // namespace pulsara::test

int RunZoomWndSessionTests(int argc, char** argv) {
    pulsara::test::ZoomWndSessionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "zoom_wnd_session_test.moc"
