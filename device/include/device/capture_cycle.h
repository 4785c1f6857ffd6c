#pragma once
// The capture cycle behind the START/STOP button and the 400 ms timer, shared by the
// window and `pulsara-cli capture`: the armed flag, what a press and a tick do, and where
// the view goes after a completed capture. No Qt here; the caller owns the widgets.

#include "capture/capture.h"
#include "device/capture_protocol.h"
#include "device/device_link.h"
#include "device/firmware_loader.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace pulsara {

inline constexpr int kPollIntervalMs = 400;
// A board whose status queries go unanswered this many times in a row has stopped
// answering or left the bus, and the capture is given up. One miss can be a timeout the
// board recovers from.
inline constexpr int kUnansweredPollsForBoardLost = 3;
// How long a capture may wait, beyond the time a whole memory takes at its rate, before the
// user is told that its trigger has not come yet.
inline constexpr std::chrono::milliseconds kTriggerNoticeAfter{3000};

// Where the view is put after a completed capture, so the trigger stands in its fixed
// column: TOP at the range's minimum, CENTER at -17, LAST at the maximum. Any other
// position (a combo without a selection gives -1) leaves the view where it was.
[[nodiscard]] constexpr std::int32_t PostCaptureScrollPos(std::int32_t triggerPosition,
                                                          std::int32_t current) {
    switch (triggerPosition) {
    case 0:
        return kHorizontalScrollMin;
    case 1:
        return -17;
    case 2:
        return kHorizontalScrollMax;
    default:
        return current;
    }
}

struct CaptureCycle {
    CaptureCycle();
    CaptureCycle(const CaptureCycle&) = delete;
    CaptureCycle& operator=(const CaptureCycle&) = delete;
    ~CaptureCycle();

    std::int32_t captureArmed = 0; // 1 from START until read out or given up
    // What the running capture was started with (a LOAD while armed changes the settings,
    // not the capture on the board).
    CaptureSettings armedWith;
    int polls = 0;           // status queries since START
    int unansweredPolls = 0; // status queries in a row that got no answer
    // A poll failed half-way: replies may wait on the pipe and must go before the next
    // command, or they would be taken for its answer.
    bool repliesPending = false;
    // Connects the board again when START finds it gone (unplugged and plugged in again):
    // the program's own connect, with its firmware image. True when the board is back.
    // Empty: START does not try.
    std::function<bool(DeviceLink&)> reconnect;

    // The read-out lands here first, so a failed one never replaces the samples shown.
    std::unique_ptr<Capture> incoming;
};

// A reconnect for CaptureCycle::reconnect: releases the dead link, then the program's
// connect (descriptors, firmware reload when the board came back with other firmware) on
// `instance` (-1: the first free board). image, clock and events must outlive the cycle.
[[nodiscard]] std::function<bool(DeviceLink&)> ConnectAgain(std::span<const std::uint8_t> image,
                                                            Clock& clock, ConnectEvents* events,
                                                            int instance = -1);

// The four combo selections START copies into the settings; -1 for a list without one.
struct ComboSelections {
    std::int32_t rateIndex = 0;
    std::int32_t triggerPosition = 0;
    std::int32_t triggerCondition = 0;
    std::int32_t triggerProbe = 0;
};

struct StartStopResult {
    bool armed = false;       // the cycle is armed after the press (the button reads "STOP")
    bool settingsSent = true; // false when the board did not take the settings or the start
    bool reconnected = false; // the board had gone and was connected again for this start
};

// OnStartStop: when armed, only disarms (nothing read, nothing sent). Otherwise copies the
// selections into capture.settings, starts the capture and arms, whatever the board said:
// without a working board every poll then finds the capture not complete. When the board
// does not take the start, the cycle's reconnect (if any) runs once and the start is sent
// again.
StartStopResult StartStop(CaptureCycle& cycle, DeviceLink& link, Capture& capture,
                          const ComboSelections& selections);

struct TickResult {
    PollResult poll = PollResult::NotComplete; // meaningful when polled
    bool polled = false;                       // the cycle was armed: one status query went out
    std::int32_t horizontalPos = 0; // where the view goes now (unchanged unless Complete)
    // The status query went unanswered kUnansweredPollsForBoardLost times in a row: the
    // board stopped answering or left the bus, and the cycle has disarmed.
    bool boardLost = false;

    [[nodiscard]] bool completed() const { return polled && poll == PollResult::Complete; }
    [[nodiscard]] bool disarmed() const {
        return polled &&
               (poll == PollResult::Complete || poll == PollResult::ReadOutFailed || boardLost);
    }
};

// OnTimer: while armed, one poll. A completed read-out replaces the samples and the
// unfilled count and moves the view by triggerPosition; a failed one disarms and keeps the
// previous capture whole, and so does a board that no longer answers (boardLost). Unarmed,
// nothing is sent.
[[nodiscard]] TickResult CaptureTick(CaptureCycle& cycle, DeviceLink& link, Capture& capture,
                                     std::int32_t horizontalPos);

// Whether a capture armed for `armedFor` without completing should tell the user that its
// trigger has not come: after kTriggerNoticeAfter plus the time the memory takes to fill
// at the rate (at 1KHz a capture needs 33 s whatever the trigger does).
[[nodiscard]] bool TriggerNoticeDue(const CaptureCycle& cycle, std::chrono::milliseconds armedFor);
// "the trigger has not been met after 5 s: still waiting for a rising edge on PROBE00"
[[nodiscard]] std::string TriggerWaitText(const CaptureSettings& armedWith,
                                          std::chrono::milliseconds armedFor);
// "3 status queries in a row got no answer: the board stopped answering or left the bus"
[[nodiscard]] std::string BoardLostText();

} // namespace pulsara
