#include "device/capture_protocol.h"

#include "capture/samples.h"

#include <array>
#include <vector>

namespace pulsara {
namespace {

bool Write(DeviceLink& link, std::initializer_list<std::uint8_t> bytes) {
    return BulkWrite(link, kCommandPipe, std::span(bytes.begin(), bytes.size())) == 0;
}

} // namespace

bool SendStartupCommand(DeviceLink& link) {
    return Write(link, {0x07, 0x10});
}

bool SendParameter(DeviceLink& link, int selector, int value) {
    const std::uint8_t command = (selector & 0xFF) != 0 ? 0x32 : 0x30;
    return Write(link, {command, static_cast<std::uint8_t>(value & 0xFF)});
}

bool StartCapture(DeviceLink& link, const CaptureSettings& settings) {
    // Three separate writes: the board must see each register byte in its own packet.
    const bool reg0 = SendParameter(link, 0, Register0Byte(settings));
    const bool reg2 = SendParameter(link, 1, Register2Byte(settings));
    const bool start = Write(link, {0x14});
    return reg0 && reg2 && start;
}

PollResult PollCapture(DeviceLink& link, Capture& capture) {
    (void)Write(link, {0x24});
    std::array<std::uint8_t, 1> status{0};
    const int statusBytes = BulkRead(link, kReplyPipe, status);
    if (statusBytes < 1) {
        return PollResult::StatusFailed;
    }
    if ((status[0] & kStatusComplete) == 0) {
        return PollResult::NotComplete;
    }

    (void)Write(link, {0x66, 0x00, 0x00, 0x08});
    // Whatever does not arrive must read as 0, not as the previous capture.
    capture.samples.fill(0);
    const int sampleBytes = BulkRead(link, kReplyPipe, capture.samples);

    (void)Write(link, {0x70});
    // Low byte first; a failed read leaves the previous count, as the board's field would.
    const std::uint16_t previous = capture.settings.unfilledPairs;
    std::array<std::uint8_t, 2> count{static_cast<std::uint8_t>(previous & 0xFFU),
                                      static_cast<std::uint8_t>(previous >> 8)};
    const int countBytes = BulkRead(link, kReplyPipe, count);
    capture.settings.unfilledPairs = static_cast<std::uint16_t>(count[0] | (count[1] << 8));
    ClearLeadingSamples(capture.samples, 2L * capture.settings.unfilledPairs);

    // Back to idle in every case, so the board is ready for the next start.
    (void)Write(link, {0x10});
    const bool complete = sampleBytes == static_cast<int>(kSampleMemoryBytes) && countBytes == 2;
    return complete ? PollResult::Complete : PollResult::ReadOutFailed;
}

int DrainReplies(DeviceLink& link) {
    // Whole driver chunks: a broken read-out is drained in a few calls, not one per packet.
    constexpr int kMostChunks = static_cast<int>(kSampleMemoryBytes / kBulkChunkBytes) + 2;
    std::vector<std::uint8_t> chunk(kBulkChunkBytes);
    int dropped = 0;
    for (int i = 0; i < kMostChunks; ++i) {
        const int got = BulkRead(link, kReplyPipe, chunk);
        if (got <= 0) {
            break;
        }
        dropped += got;
    }
    return dropped;
}

} // namespace pulsara
