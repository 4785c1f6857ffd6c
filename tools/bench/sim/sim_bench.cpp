// Instructions per second of the 8051 core and of ucsim's s51 on the same programs, and
// emulated machine cycles per second of the whole chip (real silicon: 6 million).

#include "sim/ezusb/ezusb.h"
#include "sim/mcs51/mcs51.h"
#include "sim/mcs51/program_file.h"

#include "firmware/image.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace pulsara;
using namespace pulsara::sim;

// 0000 MOV R6,#0 / MOV R7,#0 / DJNZ R7,$ / DJNZ R6,0004 / SJMP 0000
const std::vector<std::uint8_t> kDjnzLoop = {0x7E, 0x00, 0x7F, 0x00, 0xDF,
                                             0xFE, 0xDE, 0xFC, 0x80, 0xF6};
// 0000 MOV DPTR,#1000h / MOV R0,#30h
// 0004 ADD A,R1 / XRL A,#5Ah / MOV @R0,A / INC R1 / MOVX @DPTR,A / RLC A / SJMP 0004
const std::vector<std::uint8_t> kAluLoop = {0x90, 0x10, 0x00, 0x78, 0x30, 0x29, 0x64,
                                            0x5A, 0xF6, 0x09, 0xF0, 0x33, 0x80, 0xF7};

class PlainMachine final : public Mcs51Bus {
public:
    explicit PlainMachine(const std::vector<std::uint8_t>& image) : cpu(*this) {
        std::copy(image.begin(), image.end(), mem.begin());
        cpu.setCode(mem.data());
        for (unsigned p = 0; p < 0x20; ++p)
            cpu.mapXdataPage(static_cast<std::uint8_t>(p), &mem[p << 8], &mem[p << 8]);
        for (unsigned p = 0x20; p < 0x100; ++p)
            cpu.mapXdataPage(static_cast<std::uint8_t>(p), floating.data(), sink.data());
        floating.fill(0xFF);
    }
    std::uint8_t xdataRead(std::uint16_t) override { return 0xFF; }
    void xdataWrite(std::uint16_t, std::uint8_t) override {}
    std::array<std::uint8_t, 0x10000> mem{};
    std::array<std::uint8_t, 256> floating{};
    std::array<std::uint8_t, 256> sink{};
    Mcs51 cpu;
};

std::string WriteIhx(const std::vector<std::uint8_t>& bytes, const std::string& name) {
    const auto path = std::filesystem::temp_directory_path() / ("pulsara_bench_" + name + ".ihx");
    std::ofstream f(path);
    for (std::size_t off = 0; off < bytes.size(); off += 16) {
        const std::size_t n = std::min<std::size_t>(16, bytes.size() - off);
        unsigned sum = static_cast<unsigned>(n + (off >> 8) + (off & 0xFF));
        char buf[64];
        std::snprintf(buf, sizeof buf, ":%02X%04X00", static_cast<unsigned>(n),
                      static_cast<unsigned>(off));
        f << buf;
        for (std::size_t i = 0; i < n; ++i) {
            std::snprintf(buf, sizeof buf, "%02X", bytes[off + i]);
            f << buf;
            sum += bytes[off + i];
        }
        std::snprintf(buf, sizeof buf, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        f << buf;
    }
    f << ":00000001FF\n";
    return path.string();
}

// --- our core ---------------------------------------------------------------------------

void RunCore(benchmark::State& state, const std::vector<std::uint8_t>& image,
             std::optional<std::uint16_t> until) {
    std::uint64_t total = 0;
    for (auto _ : state) {
        PlainMachine m(image);
        RunLimits l;
        if (until)
            l.stopOnSelfJump = true; // the C program ends in for(;;)
        else
            l.maxInstructions = 20'000'000;
        m.cpu.run(l);
        total += m.cpu.instructions();
    }
    state.counters["instr_per_s"] =
        benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
}

void BM_Core_DjnzLoop(benchmark::State& state) {
    RunCore(state, kDjnzLoop, std::nullopt);
}
void BM_Core_AluMovxLoop(benchmark::State& state) {
    RunCore(state, kAluLoop, std::nullopt);
}
BENCHMARK(BM_Core_DjnzLoop)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Core_AluMovxLoop)->UseRealTime()->Unit(benchmark::kMillisecond);

// --- s51 on the same programs -----------------------------------------------------------

struct S51Run {
    bool ok = false;
    std::uint64_t instructions = 0;
};

S51Run RunS51(const std::string& ihx, const std::string& until) {
    std::string cmd =
        "s51 -t 8052 -q -b -e 'memory create addressdecoder xram 0 0x1fff rom_chip 0'";
    cmd += " -e 'load \"" + ihx + "\"'";
    cmd += until.empty() ? " -e 'step 20000000'" : " -e 'break " + until + "' -e run";
    cmd += " -e state -e quit </dev/null 2>/dev/null";
    S51Run r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return r;
    std::string out;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    const int rc = pclose(p);
    std::smatch m;
    if (rc == 0 && std::regex_search(out, m, std::regex("Inst= ([0-9]+)"))) {
        r.ok = true;
        r.instructions = std::stoull(m[1]);
    }
    return r;
}

void RunS51Bench(benchmark::State& state, const std::string& ihx, const std::string& until) {
    std::uint64_t total = 0;
    for (auto _ : state) {
        const S51Run r = RunS51(ihx, until);
        if (!r.ok) {
            state.SkipWithError("s51 did not run (is sdcc-ucsim installed?)");
            return;
        }
        total += r.instructions;
    }
    state.counters["instr_per_s"] =
        benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
}

void BM_S51_DjnzLoop(benchmark::State& state) {
    RunS51Bench(state, WriteIhx(kDjnzLoop, "djnz"), "");
}
void BM_S51_AluMovxLoop(benchmark::State& state) {
    RunS51Bench(state, WriteIhx(kAluLoop, "alu"), "");
}
BENCHMARK(BM_S51_DjnzLoop)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_S51_AluMovxLoop)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

#ifdef PULSARA_CRC_PLAIN
// The address of `done` from the linker map next to the image.
std::string DoneAddress(const std::string& ihx) {
    std::ifstream map(std::filesystem::path(ihx).replace_extension(".map"));
    const std::string text((std::istreambuf_iterator<char>(map)), std::istreambuf_iterator<char>());
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("([0-9A-F]{8})\\s+_done\\b")))
        return "";
    return "0x" + m[1].str().substr(4);
}

void BM_Core_CrcC(benchmark::State& state) {
    const ProgramFile img = LoadProgramFile(PULSARA_CRC_PLAIN);
    if (!img.ok) {
        state.SkipWithError(img.error.c_str());
        return;
    }
    RunCore(state, img.bytes, 0);
}
void BM_S51_CrcC(benchmark::State& state) {
    const std::string done = DoneAddress(PULSARA_CRC_PLAIN);
    if (done.empty()) {
        state.SkipWithError("no _done in the CRC program's map");
        return;
    }
    RunS51Bench(state, PULSARA_CRC_PLAIN, done);
}
BENCHMARK(BM_Core_CrcC)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_S51_CrcC)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// The whole chip (USB core, SOF every 1 ms, registers) running the CRC program to its end:
// emulated machine cycles per second against the real chip's 6 million.
void BM_Chip_CrcC(benchmark::State& state) {
    const ProgramFile img = LoadProgramFile(PULSARA_CRC_CHIP);
    const std::string doneText = DoneAddress(PULSARA_CRC_CHIP);
    if (!img.ok || doneText.empty()) {
        state.SkipWithError("the chip's CRC program or its map is missing");
        return;
    }
    const auto done = static_cast<std::uint16_t>(std::stoul(doneText, nullptr, 16));
    std::uint64_t cycles = 0;
    for (auto _ : state) {
        Ezusb chip;
        if (!chip.loadFirmware(img.bytes).ok()) {
            state.SkipWithError("0xA0 load failed");
            return;
        }
        const std::uint64_t start = chip.cycles();
        if (!chip.runUntil([&] { return chip.cpu().pc() == done; }, 100'000'000)) {
            state.SkipWithError("the CRC program did not reach done on the chip");
            return;
        }
        cycles += chip.cycles() - start;
    }
    state.counters["cycles_per_s"] =
        benchmark::Counter(static_cast<double>(cycles), benchmark::Counter::kIsRate);
    state.counters["x_real_chip"] =
        benchmark::Counter(static_cast<double>(cycles) / static_cast<double>(kCyclesPerSecond),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Chip_CrcC)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

// A board that answers every read strobe with a counter and reports the status line high.
class CountingBoard final : public EzusbBoard {
public:
    std::uint8_t portPins(Port, std::uint64_t) override { return 0x08; }
    std::uint8_t fastRead(std::uint64_t) override { return next++; }
    std::uint8_t next = 0;
};

// The board firmware serving the host's sample read-out: 2048 packets of 64 bytes from
// endpoint 2 IN, each filled through 64 fast-transfer read strobes.
void BM_Chip_FirmwareReadOut(benchmark::State& state) {
    CountingBoard board;
    Ezusb chip;
    chip.setBoard(&board);
    const auto image = FirmwareImage();
    const std::uint32_t before = chip.connectCount();
    if (!chip.loadFirmware(image).ok() ||
        !chip.runUntil([&] { return chip.connectCount() != before && chip.connected(); },
                       4 * kCyclesPerSecond)) {
        state.SkipWithError("the firmware did not come back on the bus");
        return;
    }
    chip.busReset();
    if (!chip.controlTransfer({0x80, 0x06, 0x0100, 0, 18}).ok() ||
        !chip.controlTransfer({0x00, 0x09, 1, 0, 0}).ok()) {
        state.SkipWithError("enumeration failed");
        return;
    }
    const std::uint8_t outputs[] = {0x07, 0x10};
    const std::uint8_t readOut[] = {0x66, 0x00, 0x00, 0x08};
    (void)chip.bulkOut(1, outputs);
    std::uint64_t cycles = 0, bytes = 0;
    for (auto _ : state) {
        const std::uint64_t start = chip.cycles();
        if (!chip.bulkOut(1, readOut).ok()) {
            state.SkipWithError("read-out command not taken");
            return;
        }
        for (int p = 0; p < 2048; ++p) {
            UsbResult r = chip.bulkIn(2);
            if (!r.ok() || r.data.size() != 64) {
                state.SkipWithError(r.message.c_str());
                return;
            }
            bytes += r.data.size();
        }
        cycles += chip.cycles() - start;
    }
    state.counters["bytes_per_s"] =
        benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kIsRate);
    state.counters["board_ms_per_readout"] = static_cast<double>(cycles) /
                                             static_cast<double>(state.iterations()) * 1000.0 /
                                             static_cast<double>(kCyclesPerSecond);
    state.counters["x_real_chip"] =
        benchmark::Counter(static_cast<double>(cycles) / static_cast<double>(kCyclesPerSecond),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Chip_FirmwareReadOut)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
