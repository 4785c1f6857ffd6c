// pulsara-mcs51: runs an 8051 image and prints the final machine state as one JSON object.
// Plain mode is an 8051 with one unified 8 KiB code/xdata RAM at 0; --ezusb runs the image
// on the EZ-USB chip model instead (registers at 0x7Fxx, CPU released at 0).

#include "sim/ezusb/ezusb.h"
#include "sim/mcs51/mcs51.h"
#include "sim/mcs51/program_file.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <memory>

namespace {

using namespace pulsara;
using namespace pulsara::sim;

constexpr std::uint32_t kPlainRamSize = 0x2000;
constexpr std::uint64_t kDefaultMaxCycles = 100'000'000;

// Plain 8051: RAM pages are direct, the rest of xdata reads 0xFF and ignores writes.
class PlainMachine final : public Mcs51Bus {
public:
    PlainMachine() : cpu(*this) {
        mem.fill(0xFF);
        std::fill(mem.begin(), mem.begin() + kPlainRamSize, 0);
        floating.fill(0xFF);
        cpu.setCode(mem.data());
        for (unsigned p = 0; p < 256; ++p) {
            if (p < kPlainRamSize / 256)
                cpu.mapXdataPage(static_cast<std::uint8_t>(p), &mem[p << 8], &mem[p << 8]);
            else
                cpu.mapXdataPage(static_cast<std::uint8_t>(p), floating.data(), sink.data());
        }
    }
    std::uint8_t xdataRead(std::uint16_t) override { return 0xFF; }
    void xdataWrite(std::uint16_t, std::uint8_t) override {}

    std::array<std::uint8_t, 0x10000> mem{};
    std::array<std::uint8_t, 256> floating{};
    std::array<std::uint8_t, 256> sink{};
    Mcs51 cpu;
};

std::string HexBytes(const std::uint8_t* p, std::size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s(n * 2, '0');
    for (std::size_t i = 0; i < n; ++i) {
        s[2 * i] = digits[p[i] >> 4];
        s[2 * i + 1] = digits[p[i] & 15];
    }
    return s;
}

void Trace(const Mcs51& cpu, const std::uint8_t* code) {
    int len = 0;
    const std::string text = Disassemble(code, cpu.pc(), &len);
    std::fprintf(stderr, "%04X  %-24s A=%02X B=%02X PSW=%02X SP=%02X DPTR=%04X\n", cpu.pc(),
                 text.c_str(), cpu.acc(), cpu.b(), cpu.psw(), cpu.sp(), cpu.dptr(cpu.dps() & 1));
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Runs an 8051 image and prints the final state as JSON"};
    app.require_subcommand(1);
    auto* run = app.add_subcommand("run", "run IMAGE (.ihx, .hex or raw binary)");
    std::string imagePath;
    std::string untilPc;
    std::uint64_t maxCycles = kDefaultMaxCycles;
    std::uint64_t maxInstructions = 0;
    bool trace = false;
    bool ezusb = false;
    run->add_option("image", imagePath, "image file")->required();
    run->add_option("--until-pc", untilPc, "stop when the PC reaches ADDR (0x.. or decimal)");
    run->add_option("--max-cycles", maxCycles, "machine-cycle budget");
    run->add_option("--max-instructions", maxInstructions, "instruction budget");
    run->add_flag("--trace", trace, "print every instruction on stderr");
    run->add_flag("--ezusb", ezusb, "run on the EZ-USB chip model");
    CLI11_PARSE(app, argc, argv);

    const ProgramFile image = LoadProgramFile(imagePath);
    if (!image.ok) {
        std::cerr << "pulsara-mcs51: " << image.error << "\n";
        return 2;
    }
    const std::size_t limit = ezusb ? kEzusbRamEnd : kPlainRamSize;
    if (image.bytes.size() > limit) {
        std::cerr << "pulsara-mcs51: " << imagePath << ": the image reaches address 0x" << std::hex
                  << image.bytes.size() - 1 << ", past the RAM (ends at 0x" << limit - 1
                  << "); relink it lower\n";
        return 2;
    }

    RunLimits limits;
    limits.maxCycles = maxCycles;
    if (maxInstructions)
        limits.maxInstructions = maxInstructions;
    limits.stopOnSelfJump = true;
    if (!untilPc.empty()) {
        try {
            std::size_t used = 0;
            const unsigned long v = std::stoul(untilPc, &used, 0);
            if (v > 0xFFFF || used != untilPc.size())
                throw std::out_of_range("pc");
            limits.stopPc = static_cast<std::uint16_t>(v);
        } catch (const std::exception&) {
            std::cerr << "pulsara-mcs51: --until-pc " << untilPc
                      << " is not an address from 0 to 0xFFFF\n";
            return 2;
        }
    }

    std::unique_ptr<PlainMachine> plain;
    std::unique_ptr<Ezusb> chip;
    Mcs51* cpu = nullptr;
    const std::uint8_t* mem = nullptr;
    if (ezusb) {
        chip = std::make_unique<Ezusb>();
        if (auto r = chip->loadFirmware(image.bytes); !r.ok()) {
            std::cerr << "pulsara-mcs51: " << imagePath << ": " << r.message << "\n";
            return 2;
        }
        cpu = &chip->cpu();
        mem = chip->memory().data();
    } else {
        plain = std::make_unique<PlainMachine>();
        std::copy(image.bytes.begin(), image.bytes.end(), plain->mem.begin());
        cpu = &plain->cpu;
        mem = plain->mem.data();
    }
    if (trace)
        cpu->setTrace([mem](const Mcs51& c) { Trace(c, mem); });

    const StopReason why = cpu->run(limits);

    std::uint8_t iram[256];
    for (int i = 0; i < 256; ++i)
        iram[i] = cpu->iram(static_cast<std::uint8_t>(i));
    nlohmann::ordered_json out;
    out["pc"] = cpu->pc();
    out["a"] = cpu->acc();
    out["b"] = cpu->b();
    out["psw"] = cpu->psw();
    out["sp"] = cpu->sp();
    out["dptr0"] = cpu->dptr(0);
    out["dptr1"] = cpu->dptr(1);
    out["dps"] = cpu->dps();
    out["instructions"] = cpu->instructions();
    out["cycles"] = cpu->cycles();
    out["stop"] = StopReasonName(why);
    out["iram"] = HexBytes(iram, 256);
    out["xram"] = HexBytes(mem, kPlainRamSize);
    std::cout << out.dump() << "\n";
    return 0;
}
