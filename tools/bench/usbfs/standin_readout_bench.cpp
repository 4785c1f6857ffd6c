// The read-out through the libusb stand-in that the unit tests compile LibusbDriver
// against: the same emulated board, no kernel interface in between. Board time passes
// only in transfers and when advanced; the capture is given 5 ms before the timed poll.

#include "readout_bench.h"
#include "standin_bus.h"

using namespace std::chrono_literals;

static void BM_ReadOutOverStandin(benchmark::State& state) {
    pulsara::test::StandinBus bus;
    bus.Plug(pulsara::sim::SimBoot::Current);
    pulsara::bench::NoWaitClock clock;
    pulsara::LibusbDriver driver{pulsara::LibusbTimeouts{1000ms, 5000ms}};
    pulsara::bench::TimeReadOuts(state, driver, clock, [&] { bus.Advance(5ms); });
}
BENCHMARK(BM_ReadOutOverStandin)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
