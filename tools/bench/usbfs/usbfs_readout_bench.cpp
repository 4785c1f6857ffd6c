// The read-out through Debian's libusb-1.0 over the emulated usbfs (umockdev): libusb's
// URBs, its event loop and umockdev's ioctl socket on top of the emulated board.

#include "readout_bench.h"
#include "usbfs_testbed.h"

using namespace std::chrono_literals;

static void BM_ReadOutOverUsbfs(benchmark::State& state) {
    pulsara::test::UsbfsTestbed bed;
    bed.Plug(pulsara::sim::SimBoot::Current);
    pulsara::bench::NoWaitClock clock;
    pulsara::LibusbDriver driver{pulsara::LibusbTimeouts{1000ms, 5000ms}};
    // The handler completes a running capture when it is polled, as the simulator's speed 0.
    pulsara::bench::TimeReadOuts(state, driver, clock, [] {});
}
BENCHMARK(BM_ReadOutOverUsbfs)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    pulsara::test::StartUnderUmockdev(argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
