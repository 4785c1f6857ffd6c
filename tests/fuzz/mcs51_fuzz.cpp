// The 8051 core on random code: the input is code memory from address 0 (the rest 0x00,
// NOP), xdata answered by the bus. Every instruction, operand and interrupt entry must
// stay inside the core's memories; bounds-checked arrays and the sanitizers say when not.

#include "sim/mcs51/mcs51.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

class FlatBus final : public pulsara::sim::Mcs51Bus {
public:
    std::uint8_t xdataRead(std::uint16_t addr) override { return xdata[addr]; }
    void xdataWrite(std::uint16_t addr, std::uint8_t value) override { xdata[addr] = value; }
    std::uint8_t sfrRead(std::uint8_t addr, std::uint8_t latch) override {
        return static_cast<std::uint8_t>(latch ^ addr);
    }
    std::array<std::uint8_t, 0x10000> xdata{};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pulsara::sim;
    static std::array<std::uint8_t, 0x10000> code{};
    static FlatBus bus;
    code.fill(0);
    std::memcpy(code.data(), data, std::min(size, code.size()));
    bus.xdata.fill(0);
    Mcs51 cpu(bus);
    cpu.setCode(code.data());
    // Half the pages go through the bus, half straight to memory, as on the chip.
    for (unsigned page = 0; page < 256; page += 2) {
        cpu.mapXdataPage(static_cast<std::uint8_t>(page), bus.xdata.data() + page * 256,
                         bus.xdata.data() + page * 256);
    }
    if (size > 0) {
        cpu.hookSfr(static_cast<std::uint8_t>(0x80 | data[0]));
    }
    cpu.reset();
    RunLimits limits;
    limits.maxInstructions = 20000;
    (void)cpu.run(limits);
    return 0;
}
