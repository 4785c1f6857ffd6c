// How long the exchange formats take in-process on a busy capture: every probe changes in
// about half of all samples, so the VCD holds half a million value changes.

#include "capture/definition_text.h"
#include "capture/interop.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <unistd.h>

namespace pulsara {
namespace {

// The default rows (one per probe); with buses, four byte-wide bus rows as well.
std::unique_ptr<Capture> BusyCapture(bool buses = false) {
    auto capture = std::make_unique<Capture>();
    std::string definition = DefaultDefinitionText();
    if (buses) {
        for (int b = 0; b < 4; ++b) {
            definition += "BYTE" + std::to_string(b);
            for (int j = 0; j < 8; ++j) {
                definition += (j == 0 ? "\t" : ",") + std::to_string(8 * b + j);
            }
            definition += "\r\n";
        }
    }
    SetDefinitionText(definition, *capture);
    capture->settings.rateIndex = 5;
    capture->settings.triggerPosition = 1;
    std::mt19937 random(11);
    for (auto& byte : capture->samples) {
        byte = static_cast<std::uint8_t>(random());
    }
    return capture;
}

std::filesystem::path Scratch(const char* name) {
    return std::filesystem::temp_directory_path() /
           ("pulsara-bench-" + std::to_string(::getpid()) + "-" + name);
}

void BM_ExportVcd(benchmark::State& state) {
    const bool vectors = state.range(0) != 0;
    const auto capture = BusyCapture(vectors);
    const auto out = Scratch("x.vcd");
    for (auto _ : state) {
        const auto result = ExportVcd(*capture, out, VcdOptions{vectors});
        if (!result.ok) {
            state.SkipWithError(result.error.c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(out)));
    std::filesystem::remove(out);
}
// vectors:1 adds four byte buses, written both as wires and as vectors.
BENCHMARK(BM_ExportVcd)->Arg(0)->Arg(1)->ArgName("vectors")->Unit(benchmark::kMillisecond);

void BM_ExportSr(benchmark::State& state) {
    const auto capture = BusyCapture();
    const auto out = Scratch("x.sr");
    for (auto _ : state) {
        const auto result = ExportSr(*capture, out);
        if (!result.ok) {
            state.SkipWithError(result.error.c_str());
            break;
        }
    }
    std::filesystem::remove(out);
}
BENCHMARK(BM_ExportSr)->Unit(benchmark::kMillisecond);

void BM_Import(benchmark::State& state) {
    const auto capture = BusyCapture();
    const bool vcd = state.range(0) != 0;
    const auto in = Scratch(vcd ? "in.vcd" : "in.sr");
    if (!(vcd ? ExportVcd(*capture, in) : ExportSr(*capture, in)).ok) {
        state.SkipWithError("export failed");
        return;
    }
    auto target = std::make_unique<Capture>();
    for (auto _ : state) {
        const auto result = ImportCapture(in, *target);
        if (!result.ok) {
            state.SkipWithError(result.error.c_str());
            break;
        }
    }
    std::filesystem::remove(in);
}
BENCHMARK(BM_Import)->Arg(1)->Arg(0)->ArgName("vcd")->Unit(benchmark::kMillisecond);

} // namespace
} // namespace pulsara

BENCHMARK_MAIN();
