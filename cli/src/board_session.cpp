#include "cli/board_session.h"

#include "capture/capture_files.h"
#include "capture/labels.h"
#include "device/capture_cycle.h"
#include "device/capture_protocol.h"
#include "device/device_link.h"
#include "device/firmware_loader.h"

#include <array>
#include <cstring>
#include <ostream>

namespace pulsara::cli {
namespace {

class StderrConnectEvents final : public ConnectEvents {
public:
    explicit StderrConnectEvents(std::ostream& err) : err_(err) {}
    void Progress(std::string_view line) override { err_ << "pulsara-cli: " << line << "\n"; }
    void ConnectFailed(std::string_view message, const ConnectResult& result) override {
        err_ << message << "\n"
             << "pulsara-cli: cannot connect to the board. " << ExplainConnectFailure(result)
             << "\n";
    }

private:
    std::ostream& err_;
};

std::string Text(const std::array<char, kStringTextSize>& text) {
    return {text.data(), ::strnlen(text.data(), text.size())};
}

// What instance n runs, read under a claim so a running copy of pulsara is not disturbed.
std::string InstanceState(EzusbDriver& driver, const std::filesystem::path& lockDirectory, int n,
                          std::ostream& deviceMessages) {
    InstanceClaim claim;
    switch (claim.TryClaim(lockDirectory, n)) {
    case InstanceClaim::Outcome::HeldElsewhere:
        return "in use by another copy of pulsara";
    case InstanceClaim::Outcome::Error:
        return "not checked: " + claim.error();
    case InstanceClaim::Outcome::Claimed:
        break;
    }
    DeviceLink link{driver, deviceMessages, lockDirectory};
    if (OpenDevice(n, link) != 0) {
        return "cannot be opened (no access? install the udev rules, then plug it in again)";
    }
    std::array<char, kStringTextSize> d1{};
    std::array<char, kStringTextSize> d2{};
    if (GetStringDescriptor(link, 1, d1) != 0 || GetStringDescriptor(link, 2, d2) != 0) {
        return "answers no string descriptors (a blank chip?): it cannot be identified, so "
               "connect will not load it";
    }
    const std::string identity = "\"" + Text(d1) + "\" \"" + Text(d2) + "\"";
    if (Text(d1) == kExpectedDescriptor1 && Text(d2) == kExpectedDescriptor2) {
        return "runs the pulsara firmware (" + identity + ")";
    }
    return "other firmware (" + identity + "); the pulsara firmware is loaded at connect";
}

// What the driver said about its last failure, as " (...)", or nothing.
std::string Cause(EzusbDriver& driver) {
    const std::string error = driver.TakeError();
    return error.empty() ? std::string() : " (" + error + ")";
}

std::string SettingsText(const CaptureSettings& s) {
    auto label = [](auto table, std::int32_t index) {
        const auto text = LabelAt(table, index);
        return text ? std::string(*text) : "#" + std::to_string(index);
    };
    static constexpr std::array<std::string_view, 4> conditions = {"rising", "falling", "high",
                                                                   "low"};
    return "rate " + label(rateLabels, s.rateIndex) + ", position " +
           label(triggerPositionLabels, s.triggerPosition) + ", condition " +
           label(conditions, s.triggerCondition) + ", probe " +
           label(triggerProbeLabels, s.triggerProbe);
}

} // namespace

int ListBoards(EzusbDriver& driver, const std::filesystem::path& lockDirectory, std::ostream& out) {
    int found = 0;
    for (int n = 0; n < kMaxInstances; ++n) {
        const std::string identity = driver.DescribeInstance(n);
        if (identity.empty()) {
            continue;
        }
        ++found;
        out << "  instance " << n << ": " << identity << ": "
            << InstanceState(driver, lockDirectory, n, out) << "\n";
    }
    return found;
}

int RunBoardCapture(EzusbDriver& driver, Capture& capture, std::span<const std::uint8_t> image,
                    const BoardCaptureRequest& request, Clock& clock, std::ostream& out,
                    std::ostream& err) {
    DeviceLink link{driver, out, request.lockDirectory};
    StderrConnectEvents events{err};
    const auto connect = ConnectBoard(request.instance, link, image, kExpectedDescriptor1,
                                      kExpectedDescriptor2, clock, &events);
    if (!connect.ok()) {
        events.ConnectFailed(kConnectFailureMessage, connect);
        return 1;
    }
    const int instance = link.openedInstance;
    // Without it the mode lines stay inputs and no capture ever completes.
    if (!SendStartupCommand(link)) {
        err << "pulsara-cli: board instance " << instance
            << " did not take the start-up command; unplug it, plug it in again and retry\n";
        return 1;
    }
    CaptureCycle cycle;
    const CaptureSettings& wanted = capture.settings;
    const auto start = StartStop(
        cycle, link, capture,
        {wanted.rateIndex, wanted.triggerPosition, wanted.triggerCondition, wanted.triggerProbe});
    if (!start.settingsSent) {
        err << "pulsara-cli: board instance " << instance << " did not take the capture settings"
            << Cause(driver) << "; unplug it, plug it in again and retry\n";
        return 1;
    }
    const auto seconds = [](std::chrono::milliseconds ms) {
        return std::to_string(ms.count() / 1000) +
               (ms.count() % 1000 != 0 ? "." + std::to_string(ms.count() % 1000 / 100) : "");
    };
    err << "pulsara-cli: capture started on instance " << instance << " ("
        << SettingsText(capture.settings) << "); waiting up to " << seconds(request.timeout)
        << " s\n";

    auto started = clock.Now();
    // A fresh view starts at 0; the completed capture moves it to the trigger.
    std::int32_t h = 0;
    bool noticeGiven = false;
    std::string lastCause;
    for (;;) {
        clock.SleepFor(request.pollInterval);
        const TickResult tick = CaptureTick(cycle, link, capture, h);
        const PollResult result = tick.poll;
        // Taken after every poll, so a cause is never shown with a later, unrelated failure.
        const std::string cause = Cause(driver);
        if (tick.completed()) {
            h = tick.horizontalPos;
            const auto next =
                request.afterCapture ? request.afterCapture(capture, h) : AfterCapture::Keep;
            if (next == AfterCapture::GiveUp) {
                return 1;
            }
            if (next == AfterCapture::Keep) {
                break;
            }
            if (!StartStop(cycle, link, capture,
                           {wanted.rateIndex, wanted.triggerPosition, wanted.triggerCondition,
                            wanted.triggerProbe})
                     .settingsSent) {
                err << "pulsara-cli: board instance " << instance
                    << " did not take the next capture's start" << Cause(driver)
                    << "; unplug it, plug it in again and retry\n";
                return 1;
            }
            started = clock.Now();
            continue;
        }
        if (result == PollResult::ReadOutFailed) {
            err << "pulsara-cli: the capture completed but reading it out of board instance "
                << instance << " failed or came back short" << cause
                << "; nothing was saved. Retry, and check the USB cable if it happens again\n";
            return 1;
        }
        if (result == PollResult::StatusFailed) {
            lastCause = cause;
        }
        if (tick.boardLost) {
            err << "pulsara-cli: board instance " << instance << ": " << BoardLostText()
                << lastCause
                << "; nothing was saved. Check the USB cable, plug the board in again and "
                   "retry\n";
            return 1;
        }
        const auto armedFor = clock.Now() - started;
        if (!noticeGiven && result == PollResult::NotComplete &&
            TriggerNoticeDue(cycle, armedFor)) {
            noticeGiven = true;
            err << "pulsara-cli: " << TriggerWaitText(cycle.armedWith, armedFor)
                << " (giving up after " << seconds(request.timeout) << " s)\n";
        }
        if (armedFor >= request.timeout) {
            err << "pulsara-cli: no capture completed within " << seconds(request.timeout) << " s";
            if (result == PollResult::StatusFailed) {
                // Not the trigger's fault: the board did not answer the last query.
                err << "; board instance " << instance << " did not answer the last status query"
                    << lastCause << " (check the USB cable)";
            } else {
                err << "; the trigger condition may never have been met (try another "
                       "--condition or --probe, or a longer --timeout)";
            }
            err << "\n";
            return 1;
        }
    }

    const auto save = SaveCapture(capture, request.output, h);
    if (!save.ok) {
        err << "pulsara-cli: " << save.error << "\n";
        return 1;
    }
    err << "pulsara-cli: capture complete (" << capture.settings.unfilledPairs
        << " unfilled sample pairs cleared); wrote " << request.output.string() << " and "
        << CompanionPath(request.output).string() << "\n";
    return 0;
}

} // namespace pulsara::cli
