#pragma once
// Signal names in the interop formats: which signal each probe of each row becomes on
// export, and the names made safe for VCD and sigrok.

#include "capture/capture.h"

#include <string>
#include <string_view>
#include <vector>

namespace pulsara::detail {

// The name the trigger mark takes in a VCD; no row's signal may take it.
inline constexpr std::string_view kTriggerSignalName = "TRIGGER";

// Printable ASCII without blanks: every other byte (and '\', which GTKWave reads as an
// escape and sigrok's metadata as one) becomes '_'. An empty name becomes "_".
[[nodiscard]] std::string InteropName(std::string_view name);

struct ExportWire {
    std::string name;
    int probe = 0; // 0..255 as the definition holds it; above 31 it reads as 0
};

struct ExportBus {
    std::string name;
    std::vector<int> wires; // indices into ExportLayout::wires, bit 0 first
};

struct ExportLayout {
    std::vector<ExportWire> wires; // row order; one per probe of each row
    std::vector<ExportBus> buses;  // the rows of two or more probes
    std::vector<std::string> warnings;
};

// One wire per probe of each defined row: a one-probe row under its name, a bus row as
// NAME[j]. Names are unique (a clash gets "_2", "_3", ...) and never the trigger's name.
[[nodiscard]] ExportLayout LayoutSignals(const ChannelTable& channels);

// Names unique within one file: the first use keeps the name, later ones get a suffix.
class UniqueNames {
public:
    void Reserve(std::string name) { used_.push_back(std::move(name)); }
    [[nodiscard]] std::string Take(const std::string& name);

private:
    [[nodiscard]] bool Used(const std::string& name) const;
    std::vector<std::string> used_;
};

} // namespace pulsara::detail
