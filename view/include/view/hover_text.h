#pragma once
// What the analysis window says about the sample under the pointer: the level there, and
// the pulse, period, frequency and duty that MeasureAt finds around it.

#include "analysis/measure.h"

#include <string>

namespace pulsara {

// "UART_TX #1234 high   pulse 8.700 us (87)   period 17.40 us (174)   57.47 kHz   duty 50.0 %";
// a value that needs data beyond the capture reads "?".
[[nodiscard]] std::string MeasurementText(const std::string& name,
                                          const analysis::PointMeasurement& m);

} // namespace pulsara
