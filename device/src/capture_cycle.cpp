#include "device/capture_cycle.h"

#include "capture/labels.h"

#include <array>

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
    cycle.armedWith = capture.settings;
    cycle.polls = 0;
    cycle.unansweredPolls = 0;
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
    ++cycle.polls;
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
        if (++cycle.unansweredPolls >= kUnansweredPollsForBoardLost) {
            result.boardLost = true;
            cycle.captureArmed = 0;
        }
        return result;
    case PollResult::NotComplete:
        break;
    }
    cycle.unansweredPolls = 0;
    return result;
}

bool TriggerNoticeDue(const CaptureCycle& cycle, std::chrono::milliseconds armedFor) {
    if (cycle.captureArmed == 0) {
        return false;
    }
    // EXT has no known period; the sample period table counts it as 1 ns.
    const auto rate = static_cast<std::size_t>(cycle.armedWith.rateIndex);
    const double periodNs = rate < samplePeriodNs.size() ? samplePeriodNs[rate] : 0.0;
    const auto fill = std::chrono::milliseconds(
        static_cast<std::int64_t>(periodNs * static_cast<double>(kSampleCount) / 1e6));
    return armedFor >= kTriggerNoticeAfter + fill;
}

std::string TriggerWaitText(const CaptureSettings& armedWith, std::chrono::milliseconds armedFor) {
    static constexpr std::array<std::string_view, 4> kConditions = {
        "a rising edge on ", "a falling edge on ", "a high level on ", "a low level on "};
    const auto probe = LabelAt(triggerProbeLabels, armedWith.triggerProbe);
    const auto condition = LabelAt(kConditions, armedWith.triggerCondition);
    std::string text = "the trigger has not been met after " +
                       std::to_string(armedFor.count() / 1000) + " s: still waiting for ";
    text += condition ? std::string(*condition)
                      : "condition #" + std::to_string(armedWith.triggerCondition) + " on ";
    text += probe ? std::string(*probe) : "probe #" + std::to_string(armedWith.triggerProbe);
    if (armedWith.rateIndex == static_cast<std::int32_t>(rateLabels.size()) - 1) {
        text += " (with EXT, also check that the external clock runs)";
    }
    return text;
}

std::string BoardLostText() {
    return std::to_string(kUnansweredPollsForBoardLost) +
           " status queries in a row got no answer: the board stopped answering or left the bus";
}

} // namespace pulsara
