#include "device/firmware_loader.h"

#include "device/capture_protocol.h"

#include <array>
#include <cstring>
#include <utility>

namespace pulsara {
namespace {

void Progress(ConnectEvents* events, const std::string& line) {
    if (events) {
        events->Progress(line);
    }
}

// The failure with what the driver can tell about it, and the claim problem if any.
ConnectResult Failed(ConnectFailure failure, DeviceLink& link, const std::string& claimProblem = {},
                     bool reloaded = false) {
    std::string detail = link.driver.TakeError();
    if (!claimProblem.empty()) {
        detail += (detail.empty() ? "" : "; ") + claimProblem;
    }
    return {failure, reloaded, std::move(detail)};
}

// Opens into the link and hands over the claim problem met on the way, if any, so that it
// is reported once: with this open's failure, or as a note when the open went ahead.
bool Open(int instance, DeviceLink& link, std::string& claimProblem) {
    const bool opened = OpenDevice(instance, link) == 0;
    claimProblem = std::exchange(link.claimError, {});
    return opened;
}

void NoteUnclaimed(ConnectEvents* events, const DeviceLink& link, const std::string& problem) {
    if (!problem.empty()) {
        Progress(events, "board instance " + std::to_string(link.openedInstance) +
                             " opened without a claim, so another copy of pulsara could open "
                             "it too: " +
                             problem);
    }
}

std::string Quoted(const std::array<char, kStringTextSize>& text) {
    return "\"" + std::string(text.data(), ::strnlen(text.data(), text.size())) + "\"";
}

} // namespace

std::string ExplainConnectFailure(const ConnectResult& result) {
    std::string text;
    switch (result.failure) {
    case ConnectFailure::None:
        return "The board is connected.";
    case ConnectFailure::NoInstance:
        text = "No board could be opened: none with USB ID 0547:2131 is attached, it is in use by "
               "another copy of pulsara, or this user may not access it. Plug the board in, close "
               "other copies, and install the udev rules (70-pulsara.rules) if access is denied.";
        break;
    case ConnectFailure::Descriptor1:
    case ConnectFailure::Descriptor2:
        text = std::string("The board did not answer the request for string descriptor ") +
               (result.failure == ConnectFailure::Descriptor1 ? "1" : "2") +
               ", so its firmware could not be identified and nothing was loaded (a chip "
               "without any firmware does not answer it). Unplug the board, plug it in again "
               "and retry.";
        break;
    case ConnectFailure::Halt:
        text = "The board refused to hold its 8051 in reset for the firmware load. Unplug it, "
               "plug it in again and retry.";
        break;
    case ConnectFailure::Download:
        text = "Downloading the firmware into the board failed. Unplug it, plug it in again and "
               "retry.";
        break;
    case ConnectFailure::Run:
        text = "The firmware was downloaded but the board's 8051 could not be started. Unplug it, "
               "plug it in again and retry.";
        break;
    case ConnectFailure::NoImage:
        text = "The board does not run the pulsara firmware and this build has no firmware image "
               "built in to load into it. Use a build that includes the firmware (firmware/).";
        break;
    case ConnectFailure::NotBack:
        text = "The board did not come back within 30 s after its firmware was loaded. Unplug it, "
               "plug it in again and retry; if this repeats, check the USB cable and hub.";
        break;
    }
    if (!result.detail.empty()) {
        text += " (" + result.detail + ")";
    }
    return text;
}

ConnectResult ConnectBoard(int instance, DeviceLink& link, std::span<const std::uint8_t> image,
                           std::string_view expected1, std::string_view expected2, Clock& clock,
                           ConnectEvents* events) {
    (void)link.driver.TakeError(); // only what this connect meets is reported with it
    std::string claimProblem;
    if (!Open(instance, link, claimProblem)) {
        return Failed(ConnectFailure::NoInstance, link, claimProblem);
    }
    NoteUnclaimed(events, link, claimProblem);
    std::array<char, kStringTextSize> text1{};
    std::array<char, kStringTextSize> text2{};
    if (GetStringDescriptor(link, 1, text1) != 0) {
        return Failed(ConnectFailure::Descriptor1, link);
    }
    if (GetStringDescriptor(link, 2, text2) != 0) {
        return Failed(ConnectFailure::Descriptor2, link);
    }
    // Whole zero-terminated texts, byte for byte; descriptor 2 only counts when 1 matched.
    const std::string_view got1(text1.data(), ::strnlen(text1.data(), text1.size()));
    const std::string_view got2(text2.data(), ::strnlen(text2.data(), text2.size()));
    if (got1 == expected1 && got2 == expected2) {
        Progress(events, "board instance " + std::to_string(link.openedInstance) +
                             " runs the firmware (" + Quoted(text1) + " " + Quoted(text2) + ")");
        return {};
    }
    if (image.empty()) {
        return Failed(ConnectFailure::NoImage, link);
    }
    Progress(events, "board instance " + std::to_string(link.openedInstance) + " answers " +
                         Quoted(text1) + " " + Quoted(text2) + "; loading the firmware (" +
                         std::to_string(image.size()) + " bytes)");
    if (Halt8051(link) != 0) {
        return Failed(ConnectFailure::Halt, link);
    }
    if (DownloadFirmware(link, image) != 0) {
        return Failed(ConnectFailure::Download, link);
    }
    if (Run8051(link) != 0) {
        return Failed(ConnectFailure::Run, link);
    }
    // The board leaves the bus and comes back as a new device; release it meanwhile.
    CloseDevice(link);
    Progress(events, "firmware loaded; waiting for the board to come back on the bus");
    const auto start = clock.Now();
    for (;;) {
        clock.SleepFor(kReopenPause);
        if (Open(instance, link, claimProblem)) {
            break;
        }
        if (clock.Now() - start >= kReopenLimit) {
            return Failed(ConnectFailure::NotBack, link, claimProblem, true);
        }
    }
    NoteUnclaimed(events, link, claimProblem);
    Progress(events, "board is back as instance " + std::to_string(link.openedInstance));
    return {ConnectFailure::None, true, {}};
}

ConnectResult ConnectAtStartup(DeviceLink& link, std::span<const std::uint8_t> image, Clock& clock,
                               ConnectEvents& events, int instance) {
    auto result = ConnectBoard(instance, link, image, kExpectedDescriptor1, kExpectedDescriptor2,
                               clock, &events);
    if (!result.ok()) {
        events.ConnectFailed(kConnectFailureMessage, result);
    }
    // Sent even after a failed connect; its failure then is expected and goes unnoticed.
    (void)SendStartupCommand(link);
    return result;
}

} // namespace pulsara
