// Host-side cost of the capture protocol, with a driver that answers at once: what the
// program adds on top of the USB transfer time of a poll and of a full read-out.

#include "device/capture_protocol.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <sstream>

namespace pulsara {
namespace {

// Answers every status query with "complete", fills read-out chunks and counts 0 pairs.
class InstantBoard final : public EzusbDriver {
public:
    DriverHandle Open(int) override { return 1; }
    void Close(DriverHandle) override {}
    IoResult IoControl(DriverHandle, std::uint32_t code, std::span<const std::uint8_t>,
                       std::span<std::uint8_t> output) override {
        if (code == IOCTL_EZUSB_BULK_READ) {
            std::memset(output.data(), output.size() == 1 ? status : 0xA5, output.size());
            if (output.size() == 2) {
                output[0] = output[1] = 0;
            }
        }
        return {true, static_cast<std::uint32_t>(output.size())};
    }
    std::uint8_t status = 0x08;
};

void BM_PollNotComplete(benchmark::State& state) {
    InstantBoard board;
    board.status = 0x04;
    std::ostringstream out;
    DeviceLink link{board, out, "/tmp"};
    (void)OpenDevice(0, link);
    auto capture = std::make_unique<Capture>();
    for (auto _ : state) {
        benchmark::DoNotOptimize(PollCapture(link, *capture));
    }
}
BENCHMARK(BM_PollNotComplete);

void BM_PollWithReadOut(benchmark::State& state) {
    InstantBoard board;
    std::ostringstream out;
    DeviceLink link{board, out, "/tmp"};
    (void)OpenDevice(0, link);
    auto capture = std::make_unique<Capture>();
    for (auto _ : state) {
        benchmark::DoNotOptimize(PollCapture(link, *capture));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kSampleMemoryBytes));
}
BENCHMARK(BM_PollWithReadOut);

} // namespace
} // namespace pulsara

BENCHMARK_MAIN();
