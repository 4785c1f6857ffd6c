// How long the view takes: a full redraw of a busy capture onto a 600 x 304 image, and an
// edge search across the whole memory.

#include "capture/capture.h"
#include "support/recording_canvas.h"
#include "view/geometry.h"
#include "view/qt_canvas.h"
#include "view/redraw.h"
#include "view/scroll.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstring>
#include <memory>

namespace pulsara {
namespace {

void SetRow(ChannelRow& row, const char* name, int first, int count) {
    std::strncpy(row.name.data(), name, kMaxNameLength);
    row.probeCount = count;
    for (int j = 0; j < count; ++j) {
        row.probes[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>((first + j) % 32);
    }
}

// Every sample differs from its neighbours in all 32 bits, so every bus changes in every
// column and every trace toggles.
std::unique_ptr<Capture> BusyCapture(int busRows, int traceRows) {
    auto capture = std::make_unique<Capture>();
    for (int s = 0; s < kSampleCount; ++s) {
        // Complementary words, so that every bit toggles between neighbours.
        const std::uint32_t word = (s & 1) != 0 ? 0xA5A5A5A5U : 0x5A5A5A5AU;
        std::memcpy(capture->samples.data() + static_cast<std::size_t>(s) * 4, &word, 4);
    }
    auto& table = capture->channels;
    for (int n = 0; n < busRows; ++n) {
        SetRow(table.rows[static_cast<std::size_t>(table.rowCount++)], "BUS", n, 32);
    }
    for (int n = 0; n < traceRows; ++n) {
        SetRow(table.rows[static_cast<std::size_t>(table.rowCount++)], "TRACE", n, 1);
    }
    return capture;
}

void RedrawOnImage(benchmark::State& state, int busRows, int traceRows) {
    const auto capture = BusyCapture(busRows, traceRows);
    QImage image(kViewClientWidth, kViewClientHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&image);
        QtCanvas canvas(painter);
        RedrawView(canvas, {0, 0, kViewClientWidth, kViewClientHeight}, *capture, 0, 0);
        benchmark::ClobberMemory();
    }
}

void BM_RedrawBuses(benchmark::State& state) {
    RedrawOnImage(state, 13, 0);
}
BENCHMARK(BM_RedrawBuses)->Unit(benchmark::kMicrosecond);

void BM_RedrawBusesAndTraces(benchmark::State& state) {
    RedrawOnImage(state, 7, 6);
}
BENCHMARK(BM_RedrawBusesAndTraces)->Unit(benchmark::kMicrosecond);

// Runs of 8 columns: every bus row gets its eight-digit labels, the text-heavy case.
void BM_RedrawLabelledBuses(benchmark::State& state) {
    auto capture = BusyCapture(13, 0);
    for (int s = 0; s < kSampleCount; ++s) {
        const auto word = static_cast<std::uint32_t>(s / 8) * 0x01010101U;
        std::memcpy(capture->samples.data() + static_cast<std::size_t>(s) * 4, &word, 4);
    }
    QImage image(kViewClientWidth, kViewClientHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&image);
        QtCanvas canvas(painter);
        RedrawView(canvas, {0, 0, kViewClientWidth, kViewClientHeight}, *capture, 0, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RedrawLabelledBuses)->Unit(benchmark::kMicrosecond);

// The view logic alone, without pixels.
void BM_RedrawRecording(benchmark::State& state) {
    const auto capture = BusyCapture(7, 6);
    for (auto _ : state) {
        RecordingCanvas canvas;
        RedrawView(canvas, {0, 0, kViewClientWidth, kViewClientHeight}, *capture, 0, 0);
        benchmark::DoNotOptimize(canvas.Ops().size());
    }
}
BENCHMARK(BM_RedrawRecording)->Unit(benchmark::kMicrosecond);

// A row that never changes: the search walks all 32768 samples, forward from sample 0
// and backward from the last one shown.
void BM_FindEdgeWholeMemory(benchmark::State& state) {
    auto capture = std::make_unique<Capture>();
    SetRow(capture->channels.rows[0], "BUS", 0, 32);
    capture->channels.rowCount = 1;
    const int step = static_cast<int>(state.range(0));
    const std::int32_t h = step > 0 ? kHorizontalScrollMin : kHorizontalScrollMax;
    const std::int32_t column = step > 0 ? 0 : kColumnCount - 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FindEdge(*capture, h, 0, column, 0, step));
    }
}
BENCHMARK(BM_FindEdgeWholeMemory)->Arg(1)->Arg(-1)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace pulsara

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
