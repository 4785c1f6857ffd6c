#pragma once
// The options that shape the simulated board (--board sim), shared by list and capture.

#include "sim/driver/sim_driver.h"

#include <cstdint>
#include <string>

namespace CLI {
class App;
}

namespace pulsara::cli {

struct SimCliOptions {
    int boards = 1;
    std::string boot = "old";
    double speed = 1.0;
    std::int64_t unplugAfterMs = -1;

    [[nodiscard]] sim::SimOptions ToSimOptions() const;
};

void AddSimOptions(CLI::App& command, SimCliOptions& options);

} // namespace pulsara::cli
