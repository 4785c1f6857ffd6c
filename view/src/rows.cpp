#include "view/rows.h"

#include "capture/samples.h"
#include "view/geometry.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace pulsara {

void DrawTrace(Canvas& canvas, const SampleMemory& memory, std::int32_t h, int probe,
               int baseline) {
    int previous = 0;
    for (int i = 0; i < kColumnCount; ++i) {
        const int level = ProbeBit(memory, h, i, probe);
        const int y = baseline - kLevelHeight * level;
        if (i == 0) {
            canvas.MoveTo({kGridLeft, y});
        } else if (level != previous) {
            canvas.LineTo({ColumnLeft(i), y});
        }
        canvas.LineTo({ColumnLeft(i + 1), y});
        previous = level;
    }
}

namespace {

// The value from one sample word; reading the word once per column keeps a 32-probe bus
// to 64 memory reads.
std::uint32_t ValueOfWord(std::uint32_t word, std::span<const std::uint8_t> probes) {
    std::uint32_t value = 0;
    const std::size_t count = probes.size() < 32 ? probes.size() : 32;
    for (std::size_t j = 0; j < count; ++j) {
        const unsigned p = probes[j];
        if (p <= 31) {
            value |= ((word >> p) & 1U) << j;
        }
    }
    return value;
}

} // namespace

std::uint32_t BusValue(const SampleMemory& memory, std::int32_t h, std::int32_t column,
                       std::span<const std::uint8_t> probes) {
    return ValueOfWord(SampleWord(memory, ColumnToSample(column, h)), probes);
}

std::string BusLabel(std::uint32_t value, int digits) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%8.8X", static_cast<unsigned>(value));
    const std::string full(text.data());
    if (digits <= 0) {
        return {};
    }
    const auto keep = static_cast<std::size_t>(digits) < full.size()
                          ? static_cast<std::size_t>(digits)
                          : full.size();
    return full.substr(full.size() - keep);
}

void DrawBus(Canvas& canvas, const SampleMemory& memory, std::int32_t h,
             std::span<const std::uint8_t> probes, int baseline) {
    if (probes.size() > static_cast<std::size_t>(kMaxProbesPerRow)) {
        probes = probes.first(static_cast<std::size_t>(kMaxProbesPerRow));
    }
    if (probes.empty()) {
        return;
    }
    const Pen oldPen = canvas.SelectPen(kBusPen);
    const Font oldFont = canvas.SelectFont(kViewFont);
    const int digits = BusLabelWidth(static_cast<int>(probes.size()));
    const int top = baseline - kLevelHeight;

    std::array<std::uint32_t, kColumnCount> values{};
    for (int i = 0; i < kColumnCount; ++i) {
        values[static_cast<std::size_t>(i)] = BusValue(memory, h, i, probes);
    }

    // Labels, in column order, once a run has reached the label's width.
    int runStart = 0;
    for (int i = 0; i < kColumnCount; ++i) {
        if (i > 0 &&
            values[static_cast<std::size_t>(i)] != values[static_cast<std::size_t>(i - 1)]) {
            runStart = i;
        }
        if (i - runStart + 1 == digits) {
            canvas.DrawText({ColumnLeft(runStart) + 1, baseline - 14},
                            BusLabel(values[static_cast<std::size_t>(runStart)], digits));
        }
    }

    canvas.MoveTo({kGridLeft, top});
    canvas.LineTo({kGridRight, top});
    canvas.MoveTo({kGridRight, baseline});
    canvas.LineTo({kGridLeft, baseline});
    for (int i = 1; i < kColumnCount; ++i) {
        if (values[static_cast<std::size_t>(i)] != values[static_cast<std::size_t>(i - 1)]) {
            canvas.MoveTo({ColumnLeft(i), top});
            canvas.LineTo({ColumnLeft(i), baseline});
        }
    }

    canvas.SelectFont(oldFont);
    canvas.SelectPen(oldPen);
}

std::string VisibleName(const ChannelRow& row) {
    std::string name(row.name.data(), ::strnlen(row.name.data(), row.name.size()));
    std::erase_if(name, [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
    return name;
}

} // namespace pulsara
