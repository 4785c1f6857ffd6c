// pulsara-cli info: the capture data after start-up and, optionally, after loading a capture.

#include "capture/capture_files.h"
#include "capture/labels.h"
#include "cli/commands.h"
#include "cli/startup.h"
#include "text_codec.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <ostream>

namespace pulsara::cli {
namespace {

struct InfoOptions {
    std::optional<std::filesystem::path> definition;
    std::optional<std::filesystem::path> capturePath;
    bool json = false;
};

std::string_view NameBytes(const ChannelRow& row) {
    return {row.name.data(), ::strnlen(row.name.data(), row.name.size())};
}

template <std::size_t N>
nlohmann::ordered_json LabelOrNull(const std::array<std::string_view, N>& table,
                                   std::int32_t index) {
    if (const auto label = LabelAt(table, index)) {
        return std::string(*label);
    }
    return nullptr;
}

nlohmann::ordered_json InfoJson(const Capture& capture, const std::optional<LoadResult>& load) {
    const auto& s = capture.settings;
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (int i = 0; i < capture.channels.rowCount; ++i) {
        const auto& row = capture.channels.rows[static_cast<std::size_t>(i)];
        nlohmann::ordered_json probes = nlohmann::ordered_json::array();
        for (int p = 0; p < row.probeCount; ++p) {
            probes.push_back(row.probes[static_cast<std::size_t>(p)]);
        }
        rows.push_back({{"name", ShiftJisToUtf8(NameBytes(row))},
                        {"nameHex", LowerHex(NameBytes(row))},
                        {"probes", probes}});
    }
    nlohmann::ordered_json info;
    info["settings"] = {{"rateIndex", s.rateIndex},
                        {"triggerPosition", s.triggerPosition},
                        {"triggerCondition", s.triggerCondition},
                        {"triggerProbe", s.triggerProbe},
                        {"unfilledPairs", s.unfilledPairs},
                        {"savedScrollPos", s.savedScrollPos}};
    info["labels"] = {{"rate", LabelOrNull(rateLabels, s.rateIndex)},
                      {"triggerPosition", LabelOrNull(triggerPositionLabels, s.triggerPosition)},
                      {"triggerCondition", LabelOrNull(triggerConditionLabels, s.triggerCondition)},
                      {"triggerProbe", LabelOrNull(triggerProbeLabels, s.triggerProbe)}};
    info["rowCount"] = capture.channels.rowCount;
    info["rows"] = rows;
    info["sampleBytesRead"] =
        load ? nlohmann::ordered_json(load->sampleBytesRead) : nlohmann::ordered_json(nullptr);
    info["sampleMemorySha256"] = Sha256Hex(capture.samples);
    info["companion"] = load && load->companionRead
                            ? nlohmann::ordered_json(load->companionRead->string())
                            : nlohmann::ordered_json(nullptr);
    return info;
}

template <std::size_t N>
std::string LabelText(const std::array<std::string_view, N>& table, std::int32_t index) {
    const auto label = LabelAt(table, index);
    return label ? std::string(*label) : std::string("(none)");
}

void PrintSummary(std::ostream& out, const Capture& capture, const std::optional<LoadResult>& load,
                  const std::optional<std::filesystem::path>& capturePath) {
    const auto& s = capture.settings;
    if (capturePath) {
        out << "capture          " << capturePath->string() << " (" << load->sampleBytesRead
            << " bytes read)\n";
        out << "companion        "
            << (load->companionRead ? load->companionRead->string() : std::string("none")) << "\n";
    }
    out << "sample rate      " << s.rateIndex << "  " << LabelText(rateLabels, s.rateIndex) << "\n"
        << "trigger position " << s.triggerPosition << "  "
        << LabelText(triggerPositionLabels, s.triggerPosition) << "\n"
        << "trigger cond.    " << s.triggerCondition << "  "
        << LabelText(triggerConditionLabels, s.triggerCondition) << "\n"
        << "trigger probe    " << s.triggerProbe << "  "
        << LabelText(triggerProbeLabels, s.triggerProbe) << "\n"
        << "unfilled pairs   " << s.unfilledPairs << "\n"
        << "saved scroll pos " << s.savedScrollPos << "\n"
        << "rows             " << capture.channels.rowCount << "\n";
    for (int i = 0; i < capture.channels.rowCount; ++i) {
        const auto& row = capture.channels.rows[static_cast<std::size_t>(i)];
        std::string name = ShiftJisToUtf8(NameBytes(row));
        // A name may end with its line's CR LF; keep the listing one line per row.
        std::erase_if(name, [](char c) { return c == '\r' || c == '\n'; });
        // Pad by terminal columns, not bytes, so Shift-JIS names line up too.
        name.append(static_cast<std::size_t>(std::max(1, 14 - DisplayWidth(name))), ' ');
        out << std::setw(3) << i << "  " << name << (row.probeCount == 1 ? "trace" : "bus  ")
            << " probes";
        for (int p = 0; p < row.probeCount; ++p) {
            out << ' ' << static_cast<int>(row.probes[static_cast<std::size_t>(p)]);
        }
        out << "\n";
    }
}

} // namespace

void AddInfoCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<InfoOptions>();
    auto* cmd = app.add_subcommand("info", "Show the channel rows and settings after start-up, "
                                           "or after loading a capture");
    cmd->add_option("--def", options->definition, "definition text to start with");
    cmd->add_flag("--json", options->json, "print one JSON object");
    cmd->add_option("capture", options->capturePath, "capture file (.wfa) to load");
    cmd->callback([options, &context] {
        std::unique_ptr<Capture> capture;
        std::optional<LoadResult> load;
        if (options->capturePath) {
            load.emplace();
            capture = StartUpAndLoad(options->definition, *options->capturePath, context, *load);
        } else {
            capture = StartUpOrReport(options->definition, context);
        }
        if (!capture) {
            return;
        }
        if (options->json) {
            // A file name need not be UTF-8; its stray bytes become U+FFFD rather than abort.
            context.out << InfoJson(*capture, load)
                               .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                        << "\n";
        } else {
            PrintSummary(context.out, *capture, load, options->capturePath);
        }
    });
}

} // namespace pulsara::cli
