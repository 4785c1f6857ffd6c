// Measurements and decoding in-process: MeasureSignal over all 32 probes of a busy capture
// (every probe changes in about half of all samples; target under 1 ms), MeasureAt, and a
// UART decode of the whole memory through libsigrokdecode.

#include "analysis/decode.h"
#include "analysis/measure.h"
#include "capture/definition_text.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

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

} // namespace
} // namespace pulsara::analysis

BENCHMARK_MAIN();
