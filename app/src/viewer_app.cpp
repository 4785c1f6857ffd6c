#include "app/viewer_app.h"

#include "app/viewer_dlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace pulsara {

CViewerApp::CViewerApp(const StartupEnvironment& environment)
    : capture_(std::make_unique<Capture>()),
      link_(environment.driver, environment.deviceMessages, environment.lockDirectory) {
    connect_ = ConnectAtStartup(link_, environment.firmwareImage, environment.clock, environment.ui,
                                environment.instance);
    environment.ui.ConnectDone();
    reconnect_ = [again = ConnectAgain(environment.firmwareImage, environment.clock,
                                       &environment.ui, environment.instance),
                  &ui = environment.ui](DeviceLink& link) {
        // The window is held while the board is looked for (within the reload's own
        // limits); the progress window says why.
        ui.ConnectBegin("Connecting the board again...");
        const bool back = again(link);
        ui.ConnectDone();
        return back;
    };
    definition_ = LoadDefinitionFile(*capture_, environment.workingDirectory);
    if (definition_.source == DefinitionFileLoad::Source::DefaultInMemory) {
        environment.ui.DefinitionWarning(definition_.warning);
    }
}

CViewerApp::~CViewerApp() = default;

void CViewerApp::InitInstance(ViewerServices& services,
                              const std::optional<std::filesystem::path>& analyse) {
    CViewerDlg dialog(*capture_, link_, services);
    dialog.SetReconnect(reconnect_);
    if (analyse) {
        // A file that cannot be read says so; the window then shows the capture there is.
        (void)dialog.LoadFrom(*analyse);
        // Once the main window is up, so the analysis window opens in front of it.
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.OnAnalysis(); });
    }
    (void)dialog.exec();
}

struct QtStartupUi::ProgressWindow {
    QWidget window;
    QLabel* label = nullptr;
};

QtStartupUi::QtStartupUi() = default;
QtStartupUi::~QtStartupUi() = default;

void QtStartupUi::ConnectBegin(std::string_view what) {
    lines_ = 1; // the window shows from the first line on
    Progress(what);
}

void QtStartupUi::Progress(std::string_view line) {
    const QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    // A board that runs our firmware says one line and is done; a window only for a reload.
    if (!progress_ && ++lines_ < 2) {
        return;
    }
    if (!progress_) {
        progress_ = std::make_unique<ProgressWindow>();
        auto& window = progress_->window;
        window.setWindowTitle(QStringLiteral("pulsara"));
        auto* layout = new QVBoxLayout(&window);
        progress_->label = new QLabel(&window);
        progress_->label->setMinimumWidth(360);
        // A line longer than the screen allows the window wraps rather than cut.
        progress_->label->setWordWrap(true);
        auto* busy = new QProgressBar(&window);
        busy->setRange(0, 0); // no end known: the board comes back when it does
        layout->addWidget(progress_->label);
        layout->addWidget(busy);
        window.show();
    }
    progress_->label->setText(text);
    // Grown to each line, so none is cut.
    progress_->window.adjustSize();
    QApplication::processEvents();
}

void QtStartupUi::ConnectDone() {
    progress_.reset();
    lines_ = 0;
}

void QtStartupUi::ConnectFailed(std::string_view message, const ConnectResult& result) {
    progress_.reset();
    const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())) +
                         QStringLiteral("\n\n") +
                         QString::fromStdString(ExplainConnectFailure(result));
    QMessageBox box(QMessageBox::Warning, QStringLiteral("pulsara"), text, QMessageBox::Ok);
    box.exec();
}

void QtStartupUi::DefinitionWarning(std::string_view text) {
    progress_.reset();
    QMessageBox box(QMessageBox::Warning, QStringLiteral("pulsara"),
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                    QMessageBox::Ok);
    box.exec();
}

void EventPumpingClock::SleepFor(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) {
        QApplication::processEvents(QEventLoop::AllEvents,
                                    static_cast<int>(duration.count() - timer.elapsed()));
        system_.SleepFor(std::chrono::milliseconds(std::min<std::int64_t>(
            20, std::max<std::int64_t>(0, duration.count() - timer.elapsed()))));
    }
}

} // namespace pulsara
