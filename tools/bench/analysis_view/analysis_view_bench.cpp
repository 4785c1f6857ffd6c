// How long the analysis window takes: building the change table of a capture, and a whole
// redraw at 1600 x 900 with 32 busy rows, zoomed all the way out, in the middle and all the
// way in, and a step through the history with a reference pinned. Target: each under 5 ms.

#include "capture/capture.h"
#include "view/analysis_scene.h"
#include "view/change_table.h"
#include "view/difference_marks.h"
#include "view/qt_canvas.h"
#include "view/time_window.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace pulsara {
namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 900;

// Probe p toggles every p + 1 samples, with a one-sample glitch now and then: every row is
// busy at every zoom, from one change per pixel to many.
std::unique_ptr<Capture> BusyCapture() {
    auto capture = std::make_unique<Capture>();
    for (int s = 0; s < kSampleCount; ++s) {
        std::uint32_t word = 0;
        for (int p = 0; p < 32; ++p) {
            word |= static_cast<std::uint32_t>((s / (p + 1)) & 1) << p;
        }
        if (s % 997 == 0) {
            word ^= 0x80000001U;
        }
        std::memcpy(capture->samples.data() + static_cast<std::size_t>(s) * 4, &word, 4);
    }
    auto& table = capture->channels;
    for (int p = 0; p < 32; ++p) {
        auto& row = table.rows[static_cast<std::size_t>(table.rowCount++)];
        const std::string name = "P" + std::to_string(p);
        std::memcpy(row.name.data(), name.c_str(), name.size());
        row.probeCount = 1;
        row.probes[0] = static_cast<std::uint8_t>(p);
    }
    return capture;
}

void BM_BuildChangeTable(benchmark::State& state) {
    const auto capture = BusyCapture();
    for (auto _ : state) {
        const ChangeTable table(capture->samples);
        benchmark::DoNotOptimize(table.ChangesIn(0, kSampleCount));
    }
}
BENCHMARK(BM_BuildChangeTable)->Unit(benchmark::kMicrosecond);

// Argument: 0 the whole capture, 1 the middle zoom (geometric), 2 sixteen pixels a sample.
void BM_Redraw(benchmark::State& state) {
    const auto capture = BusyCapture();
    const ChangeTable table(capture->samples);
    const int traceWidth = kWidth - AnalysisLayout::kTraceLeft;
    const double widest = MinPixelsPerSample(traceWidth);
    const double zoom[] = {widest, std::sqrt(widest * kMaxPixelsPerSample), kMaxPixelsPerSample};
    const double pps = zoom[state.range(0)];
    const TimeWindow window =
        ClampWindow({kSampleCount / 2.0 - traceWidth / pps / 2, pps, traceWidth});
    const AnalysisScene scene{capture.get(), &table, window, 0, {2000, 9000}, {}};
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&image);
        QtCanvas canvas(painter);
        DrawAnalysisView(canvas, {0, 0, kWidth, kHeight}, scene);
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(pps) + " px/sample");
}
BENCHMARK(BM_Redraw)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// A step through the history with a pinned reference, whole capture in view: the entry
// copied in, its change table, the comparison over every row and the redraw with the marks.
// Argument: 0 a reference that differs in a few hundred samples, 1 one shifted by a sample
// (every toggle of every row differs: tens of thousands of ranges).
void BM_HistoryStep(benchmark::State& state) {
    const auto entry = BusyCapture();
    auto reference = std::make_unique<Capture>(*entry);
    if (state.range(0) == 0) {
        for (std::size_t i = 0; i < reference->samples.size(); i += 401) {
            reference->samples[i] ^= 0x04;
        }
    } else {
        std::memmove(reference->samples.data() + 4, entry->samples.data(),
                     reference->samples.size() - 4);
    }
    std::vector<analysis::CompareTarget> rows;
    for (int r = 0; r < entry->channels.rowCount; ++r) {
        rows.push_back({std::to_string(r), RowMask(entry->channels, r)});
    }
    const int traceWidth = kWidth - AnalysisLayout::kTraceLeft;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    auto shown = std::make_unique<Capture>();
    for (auto _ : state) {
        *shown = *entry;
        const ChangeTable table(shown->samples);
        const auto comparison =
            analysis::CompareCaptures(*shown, *reference, rows, analysis::Alignment::Trigger);
        const AnalysisScene scene{shown.get(), &table, WholeCapture(traceWidth), 0, {}, {}};
        QPainter painter(&image);
        QtCanvas canvas(painter);
        DrawAnalysisView(canvas, {0, 0, kWidth, kHeight}, scene);
        DrawDifferenceMarks(canvas, {0, 0, kWidth, kHeight}, scene, comparison->targets);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_HistoryStep)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace pulsara

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
