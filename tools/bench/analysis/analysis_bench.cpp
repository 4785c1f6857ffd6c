// Measurements and decoding in-process: MeasureSignal over all 32 probes of a busy capture
// (every probe changes in about half of all samples; target under 1 ms), MeasureAt, and a
// UART decode of the whole memory through libsigrokdecode; and every search kind but
// decoded text over the busy capture (target under 1 ms each).

#include "analysis/decode.h"
#include "analysis/measure.h"
#include "analysis/search.h"
#include "capture/definition_text.h"

#include <benchmark/benchmark.h>

#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace pulsara::analysis {
namespace {

std::unique_ptr<Capture> BusyCapture() {
    auto capture = std::make_unique<Capture>();
    SetDefinitionText(DefaultDefinitionText(), *capture);
    capture->settings.rateIndex = 5;
    std::mt19937 random(11);
    for (auto& byte : capture->samples) {
        byte = static_cast<std::uint8_t>(random());
    }
    return capture;
}

// 100000 baud at 1 MHz on probe 0, back to back: 327 frames over the 32768 samples.
std::unique_ptr<Capture> UartCapture() {
    auto capture = std::make_unique<Capture>();
    SetDefinitionText(DefaultDefinitionText(), *capture);
    capture->settings.rateIndex = 10;
    std::mt19937 random(7);
    int s = 0;
    const auto put = [&](int level) {
        for (int i = 0; i < 10 && s < kSampleCount; ++i, ++s) {
            capture->samples[static_cast<std::size_t>(s) * 4] = static_cast<std::uint8_t>(level);
        }
    };
    while (s < kSampleCount) {
        const auto byte = random();
        put(0);
        for (int b = 0; b < 8; ++b) {
            put(static_cast<int>((byte >> b) & 1U));
        }
        put(1);
    }
    return capture;
}

void BM_MeasureSignalAll32Probes(benchmark::State& state) {
    const auto capture = BusyCapture();
    for (auto _ : state) {
        for (int probe = 0; probe < 32; ++probe) {
            benchmark::DoNotOptimize(MeasureSignal(*capture, Signal{"", probe}));
        }
    }
}
BENCHMARK(BM_MeasureSignalAll32Probes)->Unit(benchmark::kMicrosecond);

void BM_MeasureAt(benchmark::State& state) {
    const auto capture = BusyCapture();
    int sample = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(MeasureAt(*capture, Signal{"", 7}, sample));
        sample = (sample + 4099) % kSampleCount;
    }
}
BENCHMARK(BM_MeasureAt)->Unit(benchmark::kMicrosecond);

void BM_DecodeUart(benchmark::State& state) {
    const auto capture = UartCapture();
    const auto plan = PlanDecode(*capture, {{"uart:rx=0:baudrate=100000"}, std::nullopt, {}});
    if (!plan) {
        state.SkipWithError(plan.error().c_str());
        return;
    }
    std::size_t annotations = 0;
    for (auto _ : state) {
        const auto result = RunDecode(
            *capture, *plan, [&](const Annotation&) { ++annotations; }, nullptr,
            static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(result.samplesDecoded);
    }
    state.counters["annotations"] =
        benchmark::Counter(static_cast<double>(annotations), benchmark::Counter::kAvgIterations);
}
// The decoders run on libsigrokdecode's threads: only wall time tells.
BENCHMARK(BM_DecodeUart)
    ->Arg(4096)
    ->Arg(8192)
    ->Arg(16384)
    ->Arg(32768)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The busy capture with one bus row over all 32 probes, for the value and pattern searches.
std::unique_ptr<Capture> BusySearchCapture() {
    auto capture = BusyCapture();
    std::string rows = "#SYSPARM 5,0,0,0,0,0\r\nALL ";
    for (int p = 0; p < 32; ++p) {
        rows += std::to_string(p) + (p < 31 ? "," : "\r\n");
    }
    SetDefinitionText(rows, *capture);
    return capture;
}

constexpr const char* kSearches[] = {
    "--signal 7 --edge either",
    "--signal 7 --edge rising",
    "--signal 7 --pulse high --shorter 2",
    "--signal 7 --pulse low --longer 3 --shorter 200ns",
    "--signal ALL --value 3A --mask FF",
    "--pattern 0=1,5=0,ALL=0x????3???",
};

void BM_Find(benchmark::State& state) {
    const auto capture = BusySearchCapture();
    const char* match = kSearches[state.range(0)];
    state.SetLabel(match);
    const auto query = CompileMatch(*capture, *ParseMatchWords(match));
    if (!query) {
        state.SkipWithError(query.error().c_str());
        return;
    }
    std::size_t found = 0;
    for (auto _ : state) {
        const auto matches = FindMatches(*capture, *query);
        found = matches->size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["matches"] = static_cast<double>(found);
}
BENCHMARK(BM_Find)->DenseRange(0, std::size(kSearches) - 1)->Unit(benchmark::kMicrosecond);

// Rising edges of every one of the 32 probes, one search after the other.
void BM_FindEdgesAll32Probes(benchmark::State& state) {
    const auto capture = BusySearchCapture();
    std::vector<Query> queries;
    for (int p = 0; p < 32; ++p) {
        queries.push_back(*CompileMatch(
            *capture, *ParseMatchWords("--signal " + std::to_string(p) + " --edge rising")));
    }
    for (auto _ : state) {
        for (const auto& q : queries) {
            benchmark::DoNotOptimize(FindMatches(*capture, q)->size());
        }
    }
}
BENCHMARK(BM_FindEdgesAll32Probes)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace pulsara::analysis

BENCHMARK_MAIN();
