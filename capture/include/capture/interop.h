#pragma once
// Interop with other logic-analyser tools: VCD (IEEE 1364 value change dump, read by
// GTKWave and sigrok) and sigrok session files (.sr, a zip archive), both ways.
//
// Export writes one 1-bit signal per probe of each defined row, in row order: a one-probe
// row under its name, a bus row as NAME[j] for its j-th probe. Import maps the file's
// signals in order onto probes 0..31 and rebuilds the rows (NAME[0]..NAME[n-1] become a bus
// row NAME again), so a capture whose rows show probes 0, 1, 2, ... in order comes back with
// the same samples and rows; other definitions come back with their probes renumbered.

#include "capture/capture.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pulsara {

enum class InteropFormat { Vcd, Sr };

// The format a path names by its extension (.vcd or .sr, any case), if any.
[[nodiscard]] std::optional<InteropFormat> InteropFormatOf(const std::filesystem::path& path);

struct VcdOptions {
    // Also write each bus row as one vector variable. GTKWave shows it as a bus; sigrok-cli
    // 0.7 stops reading a file at the first vector value, hence off by default.
    bool vectors = false;
};

struct [[nodiscard]] InteropResult {
    bool ok = false;
    std::string error;                 // names the file and the next step when !ok
    std::vector<std::string> warnings; // what was written differently from the capture
};

// Both write through a temporary file renamed into place: on failure the file at `out`
// stays as it was.
InteropResult ExportVcd(const Capture& capture, const std::filesystem::path& out,
                        const VcdOptions& options = {});
InteropResult ExportSr(const Capture& capture, const std::filesystem::path& out);

struct [[nodiscard]] ImportResult {
    bool ok = false;
    std::string error;                 // names the file and the line or archive member
    std::vector<std::string> warnings; // a cut file, signals beyond the 64 rows, ...
    int samplesCovered = 0;            // samples the file held data for (the rest read 0)
};

struct ImportOptions {
    // The signals to read, by name and in this order onto probes 0, 1, 2, ...; empty: the
    // file's signals in declaration order, as many whole ones as fit the 32 probes.
    // A VCD signal may also be named with its scope ("u1.q", "top.u1.q").
    std::vector<std::string> names;
    // VCD only: sample the file at this rate (index 0..14 of the rate labels), the value at
    // each sample time being the last change at or before it, instead of one sample per
    // time unit.
    std::optional<std::int32_t> rateIndex;
};

// Reads a .vcd or .sr file (by extension) into capture: samples, definition text (rows
// naming the signals, a settings line with the rate whose period equals the file's time
// unit or sample rate, else EXT), channel table and settings, as LOAD does for a .wfa.
// Sample 0 is the file's first time stamp. On failure capture is unchanged.
ImportResult ImportCapture(const std::filesystem::path& in, Capture& capture,
                           const ImportOptions& options = {});

} // namespace pulsara
