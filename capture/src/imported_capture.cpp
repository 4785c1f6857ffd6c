#include "imported_capture.h"

#include "interop_settings.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

namespace pulsara::detail {
namespace {

// "NAME[k]" split into NAME and k.
std::optional<std::pair<std::string_view, int>> BitOf(std::string_view name) {
    if (name.size() < 4 || name.back() != ']') {
        return std::nullopt;
    }
    const auto open = name.rfind('[');
    if (open == std::string_view::npos || open == 0 || open + 2 > name.size() - 1) {
        return std::nullopt;
    }
    int bit = 0;
    for (std::size_t i = open + 1; i + 1 < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || bit > 1000) {
            return std::nullopt;
        }
        bit = bit * 10 + (name[i] - '0');
    }
    return std::pair{name.substr(0, open), bit};
}

// A row name the definition text reads back as it is: no delimiters or control bytes, not
// a comment or a settings line. Not yet cut to the 12 characters.
std::string DefinitionRowName(std::string_view name) {
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        out += (byte <= 0x20 || byte == 0x7F || c == ',') ? '_' : c;
    }
    if (out.empty() || out[0] == ';' || out.starts_with("#SYSPARM")) {
        out.insert(out.begin(), '_');
    }
    return out;
}

// The name with its innermost `depth` scopes before it, joined by dots.
std::string Qualified(const ImportedRow& row, std::size_t depth) {
    std::string name = row.name;
    const std::size_t n = std::min(depth, row.scopes.size());
    for (std::size_t i = 0; i < n; ++i) {
        name = row.scopes[row.scopes.size() - 1 - i] + "." + name;
    }
    return name;
}

} // namespace

std::vector<ImportedRow> JoinBusRows(const std::vector<ImportedRow>& rows) {
    std::vector<ImportedRow> joined;
    std::size_t i = 0;
    while (i < rows.size()) {
        const auto first = BitOf(rows[i].name);
        std::size_t n = 0;
        if (first && first->second == 0) {
            while (i + n < rows.size() && rows[i + n].probes.size() == 1) {
                const auto bit = BitOf(rows[i + n].name);
                if (!bit || bit->first != first->first || bit->second != static_cast<int>(n)) {
                    break;
                }
                ++n;
            }
        }
        if (n < 2) {
            joined.push_back(rows[i]);
            ++i;
            continue;
        }
        ImportedRow bus{std::string(first->first), {}, rows[i].scopes};
        for (std::size_t k = 0; k < n; ++k) {
            bus.probes.push_back(rows[i + k].probes[0]);
        }
        joined.push_back(std::move(bus));
        i += n;
    }
    return joined;
}

std::vector<std::string> DistinctRowNames(const std::vector<ImportedRow>& rows, int& cut) {
    // Scopes first: each name shared by several rows takes one more scope until it is no
    // longer shared or its rows have no more scopes.
    std::vector<std::size_t> depth(rows.size(), 0);
    std::vector<std::string> names(rows.size());
    for (bool changed = true; changed;) {
        changed = false;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            names[i] = Qualified(rows[i], depth[i]);
        }
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const bool shared = std::count(names.begin(), names.end(), names[i]) > 1;
            if (shared && depth[i] < rows[i].scopes.size()) {
                ++depth[i];
                changed = true;
            }
        }
    }
    cut = 0;
    std::vector<std::string> out;
    const auto max = static_cast<std::size_t>(kMaxNameLength);
    for (const auto& qualified : names) {
        std::string name = DefinitionRowName(qualified);
        if (name.size() > max) {
            ++cut;
            name.resize(max);
        }
        const std::string base = name;
        for (int n = 2; std::find(out.begin(), out.end(), name) != out.end(); ++n) {
            const std::string suffix = "_" + std::to_string(n);
            name = base.substr(0, std::min(base.size(), max - suffix.size())) + suffix;
        }
        out.push_back(std::move(name));
    }
    return out;
}

std::string ImportedDefinitionText(const ImportedCapture& imported,
                                   std::vector<std::string>& warnings) {
    const bool triggered = imported.triggerPosition >= 0;
    const auto scroll = triggered
                            ? kTriggerScrollPos[static_cast<std::size_t>(imported.triggerPosition)]
                            : kTriggerScrollPos[0];
    char settings[96];
    std::snprintf(settings, sizeof settings, "#SYSPARM\t%d,%d,0,0,%d,%d\r\n", imported.rateIndex,
                  triggered ? imported.triggerPosition : 0,
                  static_cast<int>(imported.unfilledPairs), scroll);
    std::string text = settings;
    if (!imported.origin.empty()) {
        text += "; sample 0 is " + imported.origin + "\r\n";
    }

    auto rows = JoinBusRows(imported.rows);
    if (rows.size() > static_cast<std::size_t>(kMaxRows)) {
        warnings.push_back("the file has " + std::to_string(rows.size()) +
                           " signals; only the first " + std::to_string(kMaxRows) +
                           " became rows (their samples were all read)");
        rows.resize(static_cast<std::size_t>(kMaxRows));
    }
    int cut = 0;
    const auto names = DistinctRowNames(rows, cut);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::string line = names[r];
        for (std::size_t j = 0; j < rows[r].probes.size(); ++j) {
            line += j == 0 ? '\t' : ',';
            line += std::to_string(rows[r].probes[j]);
        }
        text += line + "\r\n";
    }
    if (cut > 0) {
        warnings.push_back(std::to_string(cut) + " signal name(s) were cut to the " +
                           std::to_string(kMaxNameLength) + " characters a row name holds");
    }
    return text;
}

} // namespace pulsara::detail
