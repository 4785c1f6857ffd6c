#pragma once
// The application object: before any window exists it connects the board and loads the
// definition text; then it shows the main window modally, and the program ends with it.

#include "capture/capture.h"
#include "capture/definition_text.h"
#include "device/clock.h"
#include "device/device_link.h"
#include "device/firmware_loader.h"

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace pulsara {

class ViewerServices;

// What start-up shows the user: connect progress, the connect-failure message and a
// definition text that could not be read or written.
class StartupUi : public ConnectEvents {
public:
    virtual void DefinitionWarning(std::string_view text) = 0;
    // A connect the user asked for begins: progress is shown from its first line.
    virtual void ConnectBegin(std::string_view what) { Progress(what); }
    // The connect is over, whatever its result: progress shown for it can go.
    virtual void ConnectDone() {}
};

struct StartupEnvironment {
    EzusbDriver& driver;
    std::span<const std::uint8_t> firmwareImage;
    Clock& clock;
    StartupUi& ui;
    std::ostream& deviceMessages; // the device's failure lines (standard output)
    int instance = -1;            // -1: the first free board
    std::filesystem::path workingDirectory = ".";
    std::filesystem::path lockDirectory = DefaultLockDirectory();
};

class CViewerApp {
public:
    // ConnectAtStartup, then LoadDefinitionFile, in that order.
    explicit CViewerApp(const StartupEnvironment& environment);
    CViewerApp(const CViewerApp&) = delete;
    CViewerApp& operator=(const CViewerApp&) = delete;
    ~CViewerApp();

    // Runs the main window modally; when it closes the program ends. Nothing is saved.
    // With `analyse`, that capture is loaded as LOAD does and the analysis window opens.
    void InitInstance(ViewerServices& services,
                      const std::optional<std::filesystem::path>& analyse = std::nullopt);

    [[nodiscard]] Capture& capture() { return *capture_; }
    [[nodiscard]] DeviceLink& link() { return link_; }
    [[nodiscard]] const ConnectResult& connectResult() const { return connect_; }
    [[nodiscard]] const DefinitionFileLoad& definitionLoad() const { return definition_; }

private:
    std::unique_ptr<Capture> capture_;
    DeviceLink link_;
    ConnectResult connect_;
    // START's second connect, with start-up's image, clock and progress window.
    std::function<bool(DeviceLink&)> reconnect_;
    DefinitionFileLoad definition_;
};

// The Qt face of start-up: a small progress window while the board is being reloaded, and
// message boxes for failures (the Japanese text first, then what to do, in English).
class QtStartupUi final : public StartupUi {
public:
    QtStartupUi();
    ~QtStartupUi() override;
    void Progress(std::string_view line) override;
    void ConnectBegin(std::string_view what) override;
    void ConnectFailed(std::string_view message, const ConnectResult& result) override;
    void DefinitionWarning(std::string_view text) override;
    void ConnectDone() override;

private:
    struct ProgressWindow;
    std::unique_ptr<ProgressWindow> progress_;
    int lines_ = 0;
};

// The system clock, keeping the window system served while it sleeps, so the progress
// window paints during the pause after a firmware reload.
class EventPumpingClock final : public Clock {
public:
    [[nodiscard]] std::chrono::milliseconds Now() override { return system_.Now(); }
    void SleepFor(std::chrono::milliseconds duration) override;

private:
    SystemClock system_;
};

} // namespace pulsara
