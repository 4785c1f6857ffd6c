#include "device/capture_cycle.h"

namespace pulsara {
namespace {

void DrainIfPending(CaptureCycle& cycle, DeviceLink& link) {
    if (cycle.repliesPending) {
        (void)DrainReplies(link);
        cycle.repliesPending = false;
    }
}

} // namespace

std::function<bool(DeviceLink&)> ConnectAgain(std::span<const std::uint8_t> image, Clock& clock,
                                              ConnectEvents* events, int instance) {
    return [image, &clock, events, instance](DeviceLink& link) {
        // Our own claim on the old instance would make it look taken.
        CloseDevice(link);
        if (!ConnectBoard(instance, link, image, kExpectedDescriptor1, kExpectedDescriptor2, clock,
                          events)
                 .ok()) {
            return false;
        }
        // A board that lost power has its mode lines back as inputs.
        return SendStartupCommand(link);
    };
}

CaptureCycle::CaptureCycle() : incoming(std::make_unique<Capture>()) {}
CaptureCycle::~CaptureCycle() = default;

StartStopResult StartStop(CaptureCycle& cycle, DeviceLink& link, Capture& capture,
                          const ComboSelections& selections) {
    if (cycle.captureArmed == 1) {
        cycle.captureArmed = 0;
        return {false, true};
    }
    capture.settings.rateIndex = selections.rateIndex;
    capture.settings.triggerPosition = selections.triggerPosition;
    capture.settings.triggerCondition = selections.triggerCondition;
    capture.settings.triggerProbe = selections.triggerProbe;
    DrainIfPending(cycle, link);
    StartStopResult result{true, StartCapture(link, capture.settings), false};
    if (!result.settingsSent && cycle.reconnect && cycle.reconnect(link)) {
        // A board that came back is a new device: nothing of the old exchange waits.
        cycle.repliesPending = false;
        result.reconnected = true;
        result.settingsSent = StartCapture(link, capture.settings);
    }
    cycle.captureArmed = 1;
    return result;
}

TickResult CaptureTick(CaptureCycle& cycle, DeviceLink& link, Capture& capture,
                       std::int32_t horizontalPos) {
    TickResult result;
    result.horizontalPos = horizontalPos;
    if (cycle.captureArmed == 0) {
        return result;
    }
    result.polled = true;
    DrainIfPending(cycle, link);
    Capture& incoming = *cycle.incoming;
    // PollCapture keeps a failed count read at the previous value: start from the shown one.
    incoming.settings.unfilledPairs = capture.settings.unfilledPairs;
    result.poll = PollCapture(link, incoming);
    switch (result.poll) {
    case PollResult::Complete:
        capture.samples = incoming.samples;
        capture.settings.unfilledPairs = incoming.settings.unfilledPairs;
        // The position follows triggerPosition as it is now: a LOAD while armed may have
        // changed it.
        result.horizontalPos = ClampHorizontalPos(
            PostCaptureScrollPos(capture.settings.triggerPosition, horizontalPos));
        cycle.captureArmed = 0;
        break;
    case PollResult::ReadOutFailed:
        cycle.captureArmed = 0;
        cycle.repliesPending = true;
        break;
    case PollResult::StatusFailed:
        cycle.repliesPending = true;
        break;
    case PollResult::NotComplete:
        break;
    }
    return result;
}

} // namespace pulsara
