// pulsara-soak: many capture cycles on the simulated board in one process, as the window
// runs them (START, ticks until the read-out, the view moved), printing the resident
// memory as it goes. A leak per cycle shows as steady growth after the first hundred.
//
//   pulsara-soak [cycles=1000] [--fail-growth-kib N]

#include "capture/capture.h"
#include "device/capture_cycle.h"
#include "device/firmware_loader.h"
#include "firmware/image.h"
#include "sim/driver/sim_driver.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

namespace {

using namespace pulsara;
using namespace pulsara::sim;

// Board time stands still at speed 0; the clock only counts the pauses asked for.
class CountingClock final : public Clock {
public:
    std::chrono::milliseconds Now() override { return now_; }
    void SleepFor(std::chrono::milliseconds d) override { now_ += d; }

private:
    std::chrono::milliseconds now_{0};
};

long ResidentKib() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

struct Quiet final : ConnectEvents {
    void ConnectFailed(std::string_view, const ConnectResult& r) override {
        std::cerr << "pulsara-soak: connect failed: " << ExplainConnectFailure(r) << "\n";
    }
};

} // namespace

int main(int argc, char** argv) {
    int cycles = 1000;
    long failGrowthKib = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--fail-growth-kib" && i + 1 < argc) {
            failGrowthKib = std::atol(argv[++i]);
        } else {
            cycles = std::atoi(argv[i]);
        }
    }
    if (cycles < 100) {
        std::cerr << "pulsara-soak: at least 100 cycles\n";
        return 2;
    }
    char pattern[] = "/tmp/pulsara-soak-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 2;
    }
    const std::filesystem::path locks = pattern;

    CountingClock clock;
    SimDriver sim{{1, SimBoot::Old, 0.0}, clock};
    std::ostringstream messages;
    long afterWarmUp = 0;
    long atEnd = 0;
    int failed = 0;
    {
        DeviceLink link{sim, messages, locks};
        Quiet events;
        if (!ConnectAtStartup(link, FirmwareImage(), clock, events).ok()) {
            return 1;
        }
        auto capture = std::make_unique<Capture>();
        CaptureCycle cycle;
        cycle.reconnect = ConnectAgain(FirmwareImage(), clock, nullptr);
        std::int32_t h = 0;
        const auto began = std::chrono::steady_clock::now();
        std::printf("cycle  resident KiB\n%5d  %ld\n", 0, ResidentKib());
        for (int n = 1; n <= cycles; ++n) {
            // Every setting in turn, as a user would vary them.
            const ComboSelections combos{n % 14, n % 3, n % 4, 15};
            (void)StartStop(cycle, link, *capture, combos);
            bool done = false;
            for (int t = 0; t < 5 && !done; ++t) {
                const TickResult tick = CaptureTick(cycle, link, *capture, h);
                h = tick.horizontalPos;
                done = tick.completed();
            }
            if (!done) {
                ++failed;
                // STOP, unless the cycle gave up by itself (a board that left the bus).
                if (cycle.captureArmed == 1) {
                    (void)StartStop(cycle, link, *capture, combos);
                }
            }
            if (n == 100) {
                afterWarmUp = ResidentKib();
            }
            if (n % 100 == 0) {
                std::printf("%5d  %ld\n", n, ResidentKib());
                std::fflush(stdout);
            }
        }
        atEnd = ResidentKib();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        std::printf("%d cycles in %.1f s, %d did not complete\n", cycles, seconds, failed);
    }
    std::filesystem::remove_all(locks);
    const long growth = atEnd - afterWarmUp;
    std::printf("resident growth from cycle 100 to %d: %ld KiB\n", cycles, growth);
    if (failed > 0 || (failGrowthKib >= 0 && growth > failGrowthKib)) {
        return 1;
    }
    return 0;
}
