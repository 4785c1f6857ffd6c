// A full 131072-byte read-out through the committed firmware on the emulated chip, the
// host's bulk reads included: wall time per read-out, and board time as a counter. For
// comparison, USB full speed carries at most 19 packets of 64 bytes per 1 ms frame, so
// this read-out needs about 108 ms on a real bus.
#include "firmware/image.h"
#include "sim/ezusb/ezusb.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

namespace {

using namespace pulsara;
using namespace pulsara::sim;

// Capture logic reduced to what the read-out needs: a counting data bus, status high.
class CountingBus final : public EzusbBoard {
public:
    std::uint8_t portPins(Port, std::uint64_t) override { return 0x08; }
    std::uint8_t fastRead(std::uint64_t) override { return next_++; }

private:
    std::uint8_t next_ = 0;
};

bool Boot(Ezusb& chip) {
    if (!chip.loadFirmware(FirmwareImage()).ok()) {
        return false;
    }
    const std::uint32_t before = chip.connectCount();
    if (!chip.runUntil([&] { return chip.connectCount() != before && chip.connected(); },
                       4 * kCyclesPerSecond)) {
        return false;
    }
    chip.busReset();
    const std::array<std::uint8_t, 2> startup = {0x07, 0x10};
    return chip.controlTransfer({0x80, 6, 0x0100, 0, 18}).ok() && chip.bulkOut(1, startup).ok();
}

void BM_ReadOut131072(benchmark::State& state) {
    Ezusb chip;
    CountingBus bus;
    chip.setBoard(&bus);
    if (!Boot(chip)) {
        state.SkipWithError("the firmware did not come up on the emulated chip");
        return;
    }
    const std::array<std::uint8_t, 4> readOut = {0x66, 0x00, 0x00, 0x08};
    const std::array<std::uint8_t, 1> idle = {0x10};
    std::uint64_t boardCycles = 0;
    for (auto _ : state) {
        const std::uint64_t start = chip.cycles();
        if (!chip.bulkOut(1, readOut).ok()) {
            state.SkipWithError("read-out command refused");
            return;
        }
        for (int packet = 0; packet < 2048; ++packet) {
            const UsbResult r = chip.bulkIn(2);
            if (!r.ok() || r.data.size() != 64) {
                state.SkipWithError("read-out packet missing or short");
                return;
            }
        }
        boardCycles += chip.cycles() - start;
        (void)chip.bulkOut(1, idle);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 131072);
    state.counters["board_ms"] =
        benchmark::Counter(1000.0 * static_cast<double>(boardCycles) / kCyclesPerSecond /
                           static_cast<double>(state.iterations()));
}
BENCHMARK(BM_ReadOut131072)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
