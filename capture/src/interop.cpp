#include "capture/interop.h"

#include "capture/definition_text.h"
#include "imported_capture.h"
#include "sr_export.h"
#include "sr_import.h"
#include "temporary_file.h"
#include "vcd_export.h"
#include "vcd_import.h"

#include <algorithm>
#include <cctype>

namespace pulsara {
namespace {

// An export is a copy that can be made again from the capture at any time, so it is not
// forced to disk: the rename still keeps a half-written file from taking its place.
constexpr auto kExportSync = detail::TemporaryFile::Sync::No;

std::string Quoted(const std::filesystem::path& path) {
    return "\"" + path.string() + "\"";
}

InteropResult Failed(const std::filesystem::path& out, const std::string& why,
                     std::vector<std::string> warnings) {
    return {false,
            "cannot write " + Quoted(out) + ": " + why +
                "; nothing was written there. Choose a writable folder.",
            std::move(warnings)};
}

InteropResult Written(const std::filesystem::path& out, const std::string& bytes,
                      std::vector<std::string> warnings) {
    if (const auto error = detail::ReplaceFile(out, bytes, kExportSync)) {
        return Failed(out, *error, std::move(warnings));
    }
    return {true, {}, std::move(warnings)};
}

bool ShowsAnyProbe(const ChannelTable& channels) {
    const int rows = std::clamp(channels.rowCount, 0, kMaxRows);
    return std::any_of(channels.rows.begin(), channels.rows.begin() + rows,
                       [](const ChannelRow& row) { return row.probeCount > 0; });
}

} // namespace

std::optional<InteropFormat> InteropFormatOf(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".vcd") {
        return InteropFormat::Vcd;
    }
    if (ext == ".sr") {
        return InteropFormat::Sr;
    }
    return std::nullopt;
}

InteropResult ExportVcd(const Capture& capture, const std::filesystem::path& out,
                        const VcdOptions& options) {
    if (!ShowsAnyProbe(capture.channels)) {
        return {false,
                "no row of the definition shows a probe, so " + Quoted(out) +
                    " would hold no signals; nothing was written. Give a definition text "
                    "whose rows name probes (--def FILE)",
                {}};
    }
    std::vector<std::string> warnings;
    detail::TemporaryFile file(out);
    const bool written = detail::WriteVcd(capture, options, warnings, [&](std::string_view piece) {
        return file.Write(piece.data(), piece.size());
    });
    if (!written || !file.Finish(kExportSync) || !file.Commit()) {
        return Failed(out, file.Error(), std::move(warnings));
    }
    return {true, {}, std::move(warnings)};
}

InteropResult ExportSr(const Capture& capture, const std::filesystem::path& out) {
    std::vector<std::string> warnings;
    std::string error;
    const auto archive = detail::WriteSr(capture, warnings, error);
    if (!archive) {
        return {false, "cannot build the archive for " + Quoted(out) + ": " + error, warnings};
    }
    return Written(out, *archive, std::move(warnings));
}

ImportResult ImportCapture(const std::filesystem::path& in, Capture& capture,
                           const ImportOptions& options) {
    const auto format = InteropFormatOf(in);
    if (!format) {
        return {false,
                "cannot import " + Quoted(in) +
                    ": pulsara imports VCD (.vcd) and sigrok session (.sr) files; rename the "
                    "file if it is one of these",
                {},
                0};
    }
    detail::ImportedCapture imported;
    const auto error = *format == InteropFormat::Vcd ? detail::ReadVcd(in, options, imported)
                                                     : detail::ReadSr(in, options, imported);
    if (error) {
        return {
            false, "cannot import " + Quoted(in) + ", " + *error + "; nothing was loaded", {}, 0};
    }
    ImportResult result{true, {}, std::move(imported.warnings), imported.samplesCovered};
    const auto text = detail::ImportedDefinitionText(imported, result.warnings);
    capture.samples = *imported.samples;
    SetDefinitionText(text, capture);
    return result;
}

} // namespace pulsara
