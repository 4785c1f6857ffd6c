#pragma once
// The board work behind `pulsara-cli list` and `pulsara-cli capture`, over any driver
// backend, so it runs the same against a real board, the simulated one or a test fake.

#include "capture/capture.h"
#include "device/clock.h"
#include "device/ezusb_driver.h"
#include "device/instance_claim.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <span>
#include <string_view>

namespace pulsara::cli {

// Lines "  instance N: <identity>: <state>" for each instance the backend has.
// Returns how many instances it found.
int ListBoards(EzusbDriver& driver, const std::filesystem::path& lockDirectory, std::ostream& out);

// What to do with a completed capture before it is saved.
enum class AfterCapture {
    Keep,   // save it
    Again,  // arm the board for another capture; the timeout starts again
    GiveUp, // end with status 1, saving nothing
};

struct BoardCaptureRequest {
    int instance = -1;
    std::chrono::milliseconds timeout{60000};
    std::chrono::milliseconds pollInterval{400};
    std::filesystem::path output;
    std::filesystem::path lockDirectory = DefaultLockDirectory();
    // Asked after every completed capture, with the scroll position it will be saved with
    // (which it may change); empty keeps the first one.
    std::function<AfterCapture(Capture&, std::int32_t& horizontalPos)> afterCapture;
};

// Connects (loading `image` when the board needs it), starts a capture with
// capture.settings, polls until it completes or the timeout passes, and saves it.
// out receives the device's failure lines, err the progress and errors. Returns the exit
// status: 0 when the capture was saved.
[[nodiscard]] int RunBoardCapture(EzusbDriver& driver, Capture& capture,
                                  std::span<const std::uint8_t> image,
                                  const BoardCaptureRequest& request, Clock& clock,
                                  std::ostream& out, std::ostream& err);

} // namespace pulsara::cli
