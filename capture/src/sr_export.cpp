// sigrok session export: the 32 probes as 32 logic channels, named after the rows.

#include "sr_export.h"
#include "interop_names.h"
#include "interop_settings.h"
#include "zip_archive.h"

#include <array>

namespace pulsara::detail {

std::string SrMetadata(const Capture& capture, std::vector<std::string>& warnings) {
    const auto layout = LayoutSignals(capture.channels);
    warnings.insert(warnings.end(), layout.warnings.begin(), layout.warnings.end());
    // Each channel takes the name of the first wire that shows it, as in the VCD.
    std::array<std::string, 32> names;
    UniqueNames unique;
    for (const auto& wire : layout.wires) {
        unique.Reserve(wire.name);
        if (wire.probe <= 31 && names[static_cast<std::size_t>(wire.probe)].empty()) {
            names[static_cast<std::size_t>(wire.probe)] = wire.name;
        }
    }
    std::string unshown;
    for (std::size_t p = 0; p < names.size(); ++p) {
        if (names[p].empty()) {
            unshown += (unshown.empty() ? "" : ",") + std::to_string(p);
            names[p] = unique.Take("P" + std::to_string(p));
        }
    }
    std::string text = "[global]\n\n[device 1]\ncapturefile=logic-1\n"
                       "total probes=32\n";
    // An external clock has no known rate; sigrok reads the file without one.
    if (const auto hz = SampleRateHz(capture.settings.rateIndex)) {
        text += "samplerate=" + std::to_string(*hz) + " Hz\n";
    }
    text += "total analog=0\n";
    // Import gives these no rows, whatever they are named; sigrok reads it as a comment.
    text += "# probes no row shows: " + (unshown.empty() ? "none" : unshown) + "\n";
    for (std::size_t p = 0; p < names.size(); ++p) {
        text += "probe" + std::to_string(p + 1) + "=" + names[p] + "\n";
    }
    text += "unitsize=4\n";
    return text;
}

std::optional<std::string> WriteSr(const Capture& capture, std::vector<std::string>& warnings,
                                   std::string& error) {
    const std::string version = "2";
    const std::string metadata = SrMetadata(capture, warnings);
    // The sample memory is already sigrok's layout: 4 bytes a sample, little-endian.
    const std::string_view logic(reinterpret_cast<const char*>(capture.samples.data()),
                                 capture.samples.size());
    ZipWriter zip;
    if (!zip.Add("version", version) || !zip.Add("metadata", metadata) ||
        !zip.Add("logic-1-1", logic)) {
        error = zip.Error();
        return std::nullopt;
    }
    auto bytes = zip.Finish();
    if (!bytes) {
        error = zip.Error();
    }
    return bytes;
}

} // namespace pulsara::detail
