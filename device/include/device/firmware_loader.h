#pragma once
// Start-up connect: claim a board, check that it runs our firmware, load the firmware
// when it does not, and wait for the board to come back on the bus.

#include "device/clock.h"
#include "device/device_link.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pulsara {

inline constexpr std::string_view kExpectedDescriptor1 = "WFFW";
inline constexpr std::string_view kExpectedDescriptor2 = "V100";
// Shown when the connect fails: "cannot connect to the Varion USB board".
inline constexpr std::string_view kConnectFailureMessage =
    "\u30F4\u30A1\u30EA\u30AA\u30F3\uFF35\uFF33\uFF22\u306B\u63A5\u7D9A\u3067\u304D\u307E\u305B"
    "\u3093";
// The pause before each attempt to reopen a reloaded board.
inline constexpr std::chrono::milliseconds kReopenPause{2000};
// A reloaded board that is not back after this long counts as lost.
inline constexpr std::chrono::milliseconds kReopenLimit{30000};

enum class ConnectFailure {
    None,
    NoInstance,  // no instance could be opened (or all were claimed)
    Descriptor1, // reading string descriptor 1 failed
    Descriptor2,
    Halt,
    Download,
    Run,
    NoImage, // the board needs the firmware but no image was given
    NotBack, // the board did not come back after its firmware was loaded
};

struct ConnectResult {
    ConnectFailure failure = ConnectFailure::None;
    bool reloaded = false; // the firmware was downloaded during this connect
    std::string detail;    // extra facts for the explanation (lock-file problems)

    [[nodiscard]] bool ok() const { return failure == ConnectFailure::None; }
    // The connect's result in the driver's convention: 0 or -1.
    [[nodiscard]] int status() const { return ok() ? 0 : -1; }
};

// One or two English sentences: what failed and what the user can do next.
[[nodiscard]] std::string ExplainConnectFailure(const ConnectResult& result);

// Where a connect reports to. The GUI shows the failure in a message box and waits for
// the user; the command line writes both to stderr.
class ConnectEvents {
public:
    virtual ~ConnectEvents() = default;
    virtual void Progress(std::string_view line) { (void)line; }
    // message is kConnectFailureMessage (UTF-8).
    virtual void ConnectFailed(std::string_view message, const ConnectResult& result) = 0;
};

// Opens `instance` (-1: the first free one), reads descriptors 1 and 2 and, unless they
// equal the expected texts exactly, reloads the board with `image` and reopens it every
// 2000 ms for at most 30 s. An empty image is never downloaded: a board that needs the
// firmware then fails with NoImage, untouched. On failure the link stays as the failing
// step left it.
[[nodiscard]] ConnectResult ConnectBoard(int instance, DeviceLink& link,
                                         std::span<const std::uint8_t> image,
                                         std::string_view expected1, std::string_view expected2,
                                         Clock& clock, ConnectEvents* events = nullptr);

// ConnectBoard(instance, ..., "WFFW", "V100"), the connect-failure message when it fails,
// and in every case the start-up command. The program passes -1 (the first free board)
// unless the user named an instance.
ConnectResult ConnectAtStartup(DeviceLink& link, std::span<const std::uint8_t> image, Clock& clock,
                               ConnectEvents& events, int instance = -1);

} // namespace pulsara
