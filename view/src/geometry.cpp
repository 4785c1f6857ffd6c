#include "view/geometry.h"

#include "capture/samples.h"

#include <algorithm>
#include <limits>

namespace pulsara {

std::int32_t ColumnToSample(std::int32_t column, std::int32_t h) {
    const std::int64_t s = std::int64_t{column} + 2 * std::int64_t{h} + kSampleAtColumn0;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        s, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

int ProbeBit(const SampleMemory& memory, std::int32_t h, std::int32_t column, int probe) {
    return SampleProbe(memory, ColumnToSample(column, h), probe);
}

} // namespace pulsara
