#include "sim_options.h"

#include <CLI/CLI.hpp>

namespace pulsara::cli {

sim::SimOptions SimCliOptions::ToSimOptions() const {
    // The option checks have already limited every value.
    return {boards, sim::ParseSimBoot(boot).value_or(sim::SimBoot::Old), speed, unplugAfterMs};
}

void AddSimOptions(CLI::App& command, SimCliOptions& options) {
    command
        .add_option("--sim-boards", options.boards,
                    "simulated boards at instances 0..N-1 (--board sim; default 1)")
        ->check(CLI::Range(1, sim::kMaxSimBoards));
    command
        .add_option("--sim-boot", options.boot,
                    "what the simulated boards boot: old (firmware \"V099\", reloaded at "
                    "connect), current (no reload) or blank (no EEPROM); default old")
        ->check(CLI::IsMember({"old", "current", "blank"}));
    command
        .add_option("--sim-speed", options.speed,
                    "board seconds per real second (default 1: a 1KHz capture takes 33 s); 0: "
                    "no waiting, a capture completes as soon as it is polled")
        ->check(CLI::Range(0.0, 1e6));
    command
        .add_option("--sim-unplug-after-ms", options.unplugAfterMs,
                    "pull the simulated boards' cables after this much board time, to see "
                    "what an unplug does (default: never)")
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{86'400'000}));
}

} // namespace pulsara::cli
