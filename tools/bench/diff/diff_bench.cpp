// CompareCaptures in-process over 64 rows (32 one-probe rows and 32 buses): two random
// captures (every sample differs) and two that differ in a few hundred samples.

#include "analysis/compare.h"
#include "capture/definition_text.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>

namespace pulsara::analysis {
namespace {

std::unique_ptr<Capture> Busy(unsigned seed) {
    auto capture = std::make_unique<Capture>();
    std::string text = "#SYSPARM 5,1,0,0,0,0\r\n";
    for (int p = 0; p < 32; ++p) {
        text += "P" + std::to_string(p) + " " + std::to_string(p) + "\r\n";
    }
    for (int r = 0; r < 32; ++r) {
        text += "BUS" + std::to_string(r) + " " + std::to_string(r) + "," +
                std::to_string((r + 1) % 32) + "," + std::to_string((r + 7) % 32) + "\r\n";
    }
    SetDefinitionText(text, *capture);
    std::mt19937 random(seed);
    for (auto& byte : capture->samples) {
        byte = static_cast<std::uint8_t>(random());
    }
    return capture;
}

void Run(benchmark::State& state, const Capture& a, const Capture& b) {
    const auto targets = RowTargets(a.channels);
    for (auto _ : state) {
        benchmark::DoNotOptimize(CompareCaptures(a, b, targets, Alignment::Trigger));
    }
}

void BM_CompareRandomPair(benchmark::State& state) {
    const auto a = Busy(1);
    const auto b = Busy(2);
    Run(state, *a, *b);
}
BENCHMARK(BM_CompareRandomPair)->Unit(benchmark::kMicrosecond);

void BM_CompareNearlySamePair(benchmark::State& state) {
    const auto a = Busy(1);
    auto b = std::make_unique<Capture>(*a);
    for (std::size_t i = 0; i < b->samples.size(); i += 397) {
        b->samples[i] ^= 0x10;
    }
    Run(state, *a, *b);
}
BENCHMARK(BM_CompareNearlySamePair)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace pulsara::analysis

BENCHMARK_MAIN();
