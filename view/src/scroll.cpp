#include "view/scroll.h"

#include "capture/samples.h"
#include "view/geometry.h"

#include <algorithm>

namespace pulsara {

ScrollRange VerticalScrollRange(std::int32_t rowCount) {
    return {0, std::max<std::int32_t>(0, rowCount - kSlotCount)};
}

std::int32_t ClampToRange(std::int64_t position, ScrollRange range) {
    const std::int64_t lo = std::min(range.min, range.max);
    const std::int64_t hi = std::max(range.min, range.max);
    return static_cast<std::int32_t>(std::clamp(position, lo, hi));
}

namespace {

ScrollMove Scroll(int code, std::int32_t current, std::int32_t thumb, ScrollRange range,
                  std::int32_t page) {
    std::int64_t target = current;
    switch (code) {
    case kScrollLineBack:
        target = std::int64_t{current} - 1;
        break;
    case kScrollLineForward:
        target = std::int64_t{current} + 1;
        break;
    case kScrollPageBack:
        target = std::int64_t{current} - page;
        break;
    case kScrollPageForward:
        target = std::int64_t{current} + page;
        break;
    case kScrollThumbPosition:
    case kScrollThumbTrack:
        target = thumb;
        break;
    case kScrollToMinimum:
        target = range.min;
        break;
    case kScrollToMaximum:
        target = range.max;
        break;
    default:
        break;
    }
    const std::int32_t position = ClampToRange(target, range);
    return {position, position != current};
}

} // namespace

ScrollMove HorizontalScroll(int code, std::int32_t current, std::int32_t thumb, ScrollRange range) {
    return Scroll(code, current, thumb, range, 10);
}

ScrollMove VerticalScroll(int code, std::int32_t current, std::int32_t thumb, ScrollRange range) {
    return Scroll(code, current, thumb, range, 1);
}

std::int32_t FindEdge(const Capture& capture, std::int32_t h, std::int32_t v, std::int32_t column,
                      std::int32_t slot, int step) {
    if (step == 0) {
        return 0;
    }
    step = step < 0 ? -1 : 1;
    const std::int32_t s0 = ColumnToSample(column, h);
    const std::int64_t rowIndex = std::int64_t{slot} + v;
    const std::int32_t rowCount = std::min(capture.channels.rowCount, kMaxRows);
    if (s0 < 0 || s0 >= kSampleCount || rowIndex < 0 || rowIndex >= rowCount) {
        return 0;
    }
    const auto& row = capture.channels.rows[static_cast<std::size_t>(rowIndex)];
    const int count = std::clamp(row.probeCount, 0, kMaxProbesPerRow);
    std::uint32_t mask = 0;
    for (int j = 0; j < count; ++j) {
        const unsigned p = row.probes[static_cast<std::size_t>(j)];
        if (p <= 31) {
            mask |= 1U << p;
        }
    }
    if (mask == 0) {
        return 0; // nothing in the row can change
    }
    const auto word = [&capture](std::int32_t s) { return SampleWord(capture.samples, s); };
    const std::uint32_t ref = word(s0) & mask;
    for (std::int32_t q = s0 + step; q >= 0 && q < kSampleCount; q += step) {
        if ((word(q) & mask) != ref) {
            return q - s0;
        }
    }
    return 0;
}

std::int32_t EdgeJumpPosition(std::int32_t h, std::int32_t d, int step) {
    return ClampToRange(std::int64_t{h} + d / 2 + (step < 0 ? -1 : 1), kHorizontalScrollRange);
}

std::int32_t JumpToEdge(const Capture& capture, std::int32_t h, std::int32_t v, int x, int y,
                        int step) {
    const GridCell cell = ClickToCell(x, y);
    return EdgeJumpPosition(h, FindEdge(capture, h, v, cell.column, cell.slot, step), step);
}

} // namespace pulsara
