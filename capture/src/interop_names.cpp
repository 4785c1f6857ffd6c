#include "interop_names.h"

#include <algorithm>
#include <cstring>

namespace pulsara::detail {

std::string InteropName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        // A Shift-JIS character of two bytes becomes one '_': its second byte may be ASCII.
        const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        if (lead && i + 1 < name.size()) {
            ++i;
        }
        out += (byte > 0x20 && byte < 0x7F && name[i] != '\\') ? name[i] : '_';
    }
    return out.empty() ? "_" : out;
}

bool UniqueNames::Used(const std::string& name) const {
    return std::find(used_.begin(), used_.end(), name) != used_.end();
}

std::string UniqueNames::Take(const std::string& name) {
    std::string unique = name;
    for (int n = 2; Used(unique); ++n) {
        unique = name + "_" + std::to_string(n);
    }
    used_.push_back(unique);
    return unique;
}

ExportLayout LayoutSignals(const ChannelTable& channels) {
    ExportLayout layout;
    UniqueNames wireNames;
    wireNames.Reserve(std::string(kTriggerSignalName));
    const int rowCount = std::clamp(channels.rowCount, 0, kMaxRows);
    for (int r = 0; r < rowCount; ++r) {
        const auto& row = channels.rows[static_cast<std::size_t>(r)];
        const int count = std::clamp(row.probeCount, 0, kMaxProbesPerRow);
        const std::string base = InteropName(
            std::string_view(row.name.data(), ::strnlen(row.name.data(), row.name.size())));
        ExportBus bus;
        for (int j = 0; j < count; ++j) {
            const int probe = row.probes[static_cast<std::size_t>(j)];
            if (probe > 31) {
                layout.warnings.push_back("row " + std::to_string(r) + " (" + base +
                                          ") shows probe " + std::to_string(probe) +
                                          ", which the board does not have; it is written as 0");
            }
            const std::string name = count == 1 ? base : base + "[" + std::to_string(j) + "]";
            bus.wires.push_back(static_cast<int>(layout.wires.size()));
            layout.wires.push_back({wireNames.Take(name), probe});
        }
        if (count > 1) {
            bus.name = base;
            layout.buses.push_back(std::move(bus));
        }
    }
    // Vectors come after every wire, so a wire keeps its name when a vector would clash.
    for (auto& bus : layout.buses) {
        bus.name = wireNames.Take(bus.name);
    }
    return layout;
}

} // namespace pulsara::detail
