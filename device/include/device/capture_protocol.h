#pragma once
// The host side of the board's command protocol: commands on pipe 0, replies on pipe 8.

#include "capture/capture.h"
#include "device/device_link.h"

#include <cstdint>

namespace pulsara {

inline constexpr std::uint32_t kCommandPipe = 0;
inline constexpr std::uint32_t kReplyPipe = 8;
inline constexpr std::uint8_t kStatusComplete = 0x08;

// Register 0: rateIndex in bits 7-4, triggerPosition in bits 3-0. The indices are packed
// without masking, as the board has always received them: an out-of-range value spills
// into its neighbour (a position of -1 gives 0xFF).
[[nodiscard]] constexpr std::uint8_t Register0Byte(const CaptureSettings& s) {
    return static_cast<std::uint8_t>((static_cast<std::uint32_t>(s.rateIndex) * 16U) |
                                     static_cast<std::uint32_t>(s.triggerPosition));
}

// Register 2: triggerCondition in bits 7-6, triggerProbe in bits 5-2, 0 in bits 1-0.
[[nodiscard]] constexpr std::uint8_t Register2Byte(const CaptureSettings& s) {
    return static_cast<std::uint8_t>(((static_cast<std::uint32_t>(s.triggerCondition) * 16U) |
                                      static_cast<std::uint32_t>(s.triggerProbe)) *
                                     4U);
}

// Mode lines to outputs, then idle. Returns whether the write went through (at start-up a
// failed connect makes it fail, which is expected and not reported).
bool SendStartupCommand(DeviceLink& link);
// Strobes the low 8 bits of value into register 0 (selector's low 8 bits 0) or 2.
bool SendParameter(DeviceLink& link, int selector, int value);
// Both registers from the settings, then the start command. Returns whether all three
// writes went through.
bool StartCapture(DeviceLink& link, const CaptureSettings& settings);

enum class PollResult {
    NotComplete,   // the board answered: still capturing
    StatusFailed,  // the status query got no answer; the capture counts as not complete
    Complete,      // read out: samples and unfilledPairs are those of the new capture
    ReadOutFailed, // complete, but the read-out failed or came back short
};

// One status query; when the board reports completion, reads the sample memory and the
// unfilled count, clears the unfilled samples and returns the board to idle. A failed
// read-out still returns the board to idle; samples that did not arrive read as 0.
[[nodiscard]] PollResult PollCapture(DeviceLink& link, Capture& capture);

// Reads and drops the replies a failed exchange left waiting on pipe 8 (a status byte
// nobody read, the rest of a broken read-out), so that the next read answers the next
// command. Stops at the first read that finds nothing, after at most one whole read-out.
// Returns the bytes dropped.
int DrainReplies(DeviceLink& link);

} // namespace pulsara
