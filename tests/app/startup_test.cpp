// Start-up: the connect comes first (with its failure message), then the definition text.

#include "app/viewer_app.h"
#include "support/fake_driver.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

#include <fstream>

namespace pulsara::test {
namespace {

using namespace std::chrono_literals;

struct RecordingUi final : StartupUi {
    std::filesystem::path definitionFile;
    std::vector<std::string> events;

    void Progress(std::string_view) override { events.emplace_back("progress"); }
    void ConnectFailed(std::string_view message, const ConnectResult&) override {
        // The definition text is read only after the user has seen this.
        events.push_back("failed " + std::string(message) +
                         (std::filesystem::exists(definitionFile) ? " after def.txt" : ""));
    }
    void DefinitionWarning(std::string_view) override { events.emplace_back("warning"); }
    void ConnectDone() override { events.emplace_back("done"); }
};

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    // A connect at start-up shows the progress window only from its second line (a reload);
    // one the user asked for (START after the board was lost) from its first. Either way
    // the window is as wide as its text and goes when the connect is over.
    void progressWindowShowsItsWholeText() {
        const auto shown = [] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->isVisible() && w->windowTitle() == QStringLiteral("pulsara")) {
                    return w;
                }
            }
            return static_cast<QWidget*>(nullptr);
        };
        const std::string longLine =
            "firmware loaded; waiting for the board to come back on the bus as instance 0 "
            "(this takes a few seconds)";
        QtStartupUi ui;
        ui.Progress("board instance 0 answers");
        QVERIFY(shown() == nullptr);
        ui.Progress(longLine);
        QWidget* window = shown();
        QVERIFY(window != nullptr);
        auto* label = window->findChild<QLabel*>();
        QVERIFY(label != nullptr);
        QCOMPARE(label->text().toStdString(), longLine);
        const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, label->width(), 10000),
                                                               Qt::TextWordWrap, label->text());
        QVERIFY(needed.width() <= label->width() && needed.height() <= label->height());
        ui.ConnectDone();
        QVERIFY(shown() == nullptr);

        ui.ConnectBegin("Connecting the board again...");
        QVERIFY(shown() != nullptr);
        ui.ConnectDone();
        QVERIFY(shown() == nullptr);
    }

    void connectThenDefinitions_data() {
        QTest::addColumn<QString>("board");
        QTest::addColumn<bool>("reloaded");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<bool>("existingDefinition");
        QTest::newRow("runs our firmware") << "current" << false << false << false;
        QTest::newRow("older firmware is reloaded") << "old" << true << false << true;
        QTest::newRow("no board") << "none" << false << true << false;
    }

    void connectThenDefinitions() {
        QFETCH(QString, board);
        QFETCH(bool, reloaded);
        QFETCH(bool, failed);
        QFETCH(bool, existingDefinition);

        TempDir dir;
        FakeDriver driver;
        FakeClock clock;
        FakeBoard fake(driver, clock);
        if (board == "old") {
            fake.descriptor2 = "V099";
        }
        if (board == "none") {
            driver.present = [](int) { return false; };
        }
        const auto defTxt = dir.path() / "def.txt";
        if (existingDefinition) {
            std::ofstream(defTxt) << "#SYSPARM 5,1,2,3,0,0\r\nCLK\t4\r\n";
        }
        RecordingUi ui;
        ui.definitionFile = defTxt;
        std::ostringstream messages;
        const Bytes image(4096, 0x02);
        StartupEnvironment environment{driver, image, clock, ui, messages};
        environment.workingDirectory = dir.path();
        environment.lockDirectory = dir.path();
        CViewerApp app(environment);

        QCOMPARE(app.connectResult().ok(), !failed);
        QCOMPARE(app.connectResult().reloaded, reloaded);
        std::vector<std::string> expected;
        if (failed) {
            expected.push_back("failed " + std::string(kConnectFailureMessage));
        }
        expected.emplace_back("done");
        if (ui.events.size() > expected.size()) { // progress lines of a reload come first
            ui.events.erase(ui.events.begin(),
                            ui.events.end() - static_cast<std::ptrdiff_t>(expected.size()));
        }
        QVERIFY(ui.events == expected);
        QCOMPARE(clock.sleeps,
                 reloaded ? std::vector<milliseconds>{2000ms} : std::vector<milliseconds>{});
        // The start-up command goes out in every case, the last call of the connect.
        const auto io = driver.IoCalls();
        QVERIFY(!io.empty());
        QVERIFY(io.back().written == (Bytes{0x07, 0x10}));

        QVERIFY(std::filesystem::exists(defTxt));
        const Capture& capture = app.capture();
        QCOMPARE(capture.channels.rowCount, existingDefinition ? 1 : 32);
        QCOMPARE(capture.settings.rateIndex, existingDefinition ? 5 : 0);
    }
};

} // namespace pulsara::test

int RunStartupTests(int argc, char** argv) {
    pulsara::test::StartupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "startup_test.moc"
