// The decoded data table with 10000 annotations (a long UART capture's worth): filling it
// (model, choices, filter, the shown view laid out and painted) and a filter keystroke
// answered on screen. Targets: under 50 ms and under 16 ms.

#include "app/decoded_table.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableView>

#include <benchmark/benchmark.h>

namespace {

using pulsara::analysis::Annotation;

std::vector<Annotation> Annotations(int count) {
    std::vector<Annotation> all;
    all.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        Annotation a;
        a.start = static_cast<std::uint64_t>(i) * 3;
        a.end = a.start + 3;
        a.instance = i % 4 == 0 ? "i2c-1" : "uart-1";
        a.decoder = a.instance.substr(0, a.instance.find('-'));
        a.className = i % 3 == 0 ? "rx-data" : "rx-start";
        a.row = "rx-data";
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02X", i % 256);
        a.texts = {hex, "x"};
        all.push_back(std::move(a));
    }
    return all;
}

pulsara::CaptureSettings Settings() {
    pulsara::CaptureSettings s;
    s.rateIndex = 5;
    s.triggerPosition = 1;
    return s;
}

void BM_FillTable(benchmark::State& state) {
    pulsara::DecodedTable table;
    table.resize(1000, 400);
    table.show();
    const auto all = Annotations(10000);
    for (auto _ : state) {
        table.setAnnotations(all, Settings());
        table.view().repaint();
    }
}
BENCHMARK(BM_FillTable)->Unit(benchmark::kMillisecond);

void BM_FilterKeystroke(benchmark::State& state) {
    pulsara::DecodedTable table;
    table.resize(1000, 400);
    table.show();
    table.setAnnotations(Annotations(10000), Settings());
    bool odd = false;
    for (auto _ : state) {
        // One more character typed, then taken back: the filter runs over all 10000.
        table.textEdit().setText(odd ? QStringLiteral("7") : QStringLiteral("7F"));
        table.view().repaint();
        odd = !odd;
    }
}
BENCHMARK(BM_FilterKeystroke)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
