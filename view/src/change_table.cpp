#include "view/change_table.h"

#include "capture/samples.h"

#include <algorithm>
#include <bit>

namespace pulsara {
namespace {

constexpr std::size_t kTotalBlocks = 2 * static_cast<std::size_t>(kSampleCount) - 1;

// The largest level whose block starts at `first` and ends by `end`.
int AlignedLevel(int first, int end) {
    int level = first == 0 ? ChangeTable::kLevels - 1
                           : std::min(std::countr_zero(static_cast<unsigned>(first)),
                                      ChangeTable::kLevels - 1);
    while (first + (1 << level) > end) {
        --level;
    }
    return level;
}

// The largest level whose block ends at `end` and starts at or after `first`.
int AlignedLevelBack(int first, int end) {
    int level = std::min(std::countr_zero(static_cast<unsigned>(end)), ChangeTable::kLevels - 1);
    while (end - (1 << level) < first) {
        --level;
    }
    return level;
}

} // namespace

ChangeTable::ChangeTable() : words_(kSampleCount, 0U), blocks_(kTotalBlocks, 0U) {
    std::size_t offset = 0;
    for (int k = 0; k < kLevels; ++k) {
        offsets_[static_cast<std::size_t>(k)] = offset;
        offset += static_cast<std::size_t>(kSampleCount >> k);
    }
}

ChangeTable::ChangeTable(const SampleMemory& memory) : ChangeTable() {
    for (int s = 0; s < kSampleCount; ++s) {
        words_[static_cast<std::size_t>(s)] = SampleWord(memory, s);
    }
    blocks_[0] = 0;
    for (std::size_t s = 1; s < static_cast<std::size_t>(kSampleCount); ++s) {
        blocks_[s] = words_[s] ^ words_[s - 1];
    }
    for (int k = 1; k < kLevels; ++k) {
        const std::size_t below = offsets_[static_cast<std::size_t>(k - 1)];
        const std::size_t here = offsets_[static_cast<std::size_t>(k)];
        const std::size_t count = static_cast<std::size_t>(kSampleCount >> k);
        for (std::size_t i = 0; i < count; ++i) {
            blocks_[here + i] = blocks_[below + 2 * i] | blocks_[below + 2 * i + 1];
        }
    }
}

std::uint32_t ChangeTable::ChangeAt(int s) const {
    return s > 0 && s < kSampleCount ? blocks_[static_cast<std::size_t>(s)] : 0U;
}

std::uint32_t ChangeTable::ChangesIn(int first, int end) const {
    first = std::max(first, 0);
    end = std::min(end, kSampleCount);
    std::uint32_t changes = 0;
    while (first < end) {
        const int level = AlignedLevel(first, end);
        changes |= Block(level, first >> level);
        first += 1 << level;
    }
    return changes;
}

std::optional<int> ChangeTable::NextChange(int first, int end, std::uint32_t mask) const {
    first = std::max(first, 0);
    end = std::min(end, kSampleCount);
    while (first < end) {
        int level = AlignedLevel(first, end);
        if ((Block(level, first >> level) & mask) == 0) {
            first += 1 << level;
            continue;
        }
        // Down into the block: its left half first.
        while (level > 0) {
            --level;
            if ((Block(level, first >> level) & mask) == 0) {
                first += 1 << level;
            }
        }
        return first;
    }
    return std::nullopt;
}

std::optional<int> ChangeTable::PreviousChange(int first, int end, std::uint32_t mask) const {
    first = std::max(first, 0);
    end = std::min(end, kSampleCount);
    while (end > first) {
        int level = AlignedLevelBack(first, end);
        int start = end - (1 << level);
        if ((Block(level, start >> level) & mask) == 0) {
            end = start;
            continue;
        }
        // Down into the block: its right half first.
        while (level > 0) {
            --level;
            const int right = start + (1 << level);
            if ((Block(level, right >> level) & mask) != 0) {
                start = right;
            }
        }
        return start;
    }
    return std::nullopt;
}

} // namespace pulsara
