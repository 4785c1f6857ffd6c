#pragma once
// What an importer hands over, and how it becomes the capture's samples, rows and settings.

#include "capture/capture.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pulsara::detail {

struct ImportedRow {
    std::string name; // as the file names the signal
    std::vector<int> probes;
    std::vector<std::string> scopes; // outermost first; names a signal only to tell it apart
};

struct ImportedCapture {
    std::unique_ptr<SampleMemory> samples = std::make_unique<SampleMemory>();
    std::vector<ImportedRow> rows; // file order; NAME[0]..NAME[n-1] not yet joined
    std::int32_t rateIndex = 15;
    std::int32_t triggerPosition = -1; // -1: the file marks no trigger
    std::uint16_t unfilledPairs = 0;
    int samplesCovered = 0;
    std::string origin; // where sample 0 stands in the file, when not at its time 0
    std::vector<std::string> warnings;
};

// Joins runs of one-probe rows named NAME[0], NAME[1], ... NAME[n-1] (n >= 2, in that
// order) into one bus row NAME, undoing what export does to a bus.
[[nodiscard]] std::vector<ImportedRow> JoinBusRows(const std::vector<ImportedRow>& rows);

// Row names fit for the definition text and distinct: a name that two rows share takes as
// much of its scopes as tells them apart ("u1.q"), a name longer than 12 characters is cut,
// and a cut name that clashes ends in "_2", "_3", ... within the 12 characters.
// Counts in cut the names that were cut.
[[nodiscard]] std::vector<std::string> DistinctRowNames(const std::vector<ImportedRow>& rows,
                                                        int& cut);

// The definition text for an import: a settings line, then one row line per row (at most
// 64) with names made fit for the format. Appends to warnings what could not be kept.
[[nodiscard]] std::string ImportedDefinitionText(const ImportedCapture& imported,
                                                 std::vector<std::string>& warnings);

} // namespace pulsara::detail
