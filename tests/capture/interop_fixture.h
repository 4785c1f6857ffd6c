#pragma once
// Shared by the exchange-format tests: captures with known contents, and running the peer
// tools.

#include "capture/capture.h"
#include "capture/definition_text.h"
#include "capture/samples.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace pulsara::test {

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The probes some row shows, as a mask.
inline std::uint32_t ShownProbes(const Capture& capture) {
    std::uint32_t mask = 0;
    for (int r = 0; r < capture.channels.rowCount; ++r) {
        const auto& row = capture.channels.rows[static_cast<std::size_t>(r)];
        for (int j = 0; j < row.probeCount; ++j) {
            mask |= 1U << row.probes[static_cast<std::size_t>(j)];
        }
    }
    return mask;
}

// A busy capture: random words limited to `mask`, unfilled samples cleared as the board does.
inline std::unique_ptr<Capture> MakeCapture(const std::string& definition, std::uint32_t mask,
                                            unsigned seed = 1) {
    auto capture = std::make_unique<Capture>();
    SetDefinitionText(definition, *capture);
    std::mt19937 random(seed);
    for (int s = 0; s < kSampleCount; ++s) {
        const std::uint32_t word = static_cast<std::uint32_t>(random()) & mask;
        for (int b = 0; b < 4; ++b) {
            capture->samples[static_cast<std::size_t>(s * 4 + b)] =
                static_cast<std::uint8_t>(word >> (8 * b));
        }
    }
    ClearLeadingSamples(capture->samples, 2L * capture->settings.unfilledPairs);
    return capture;
}

// Each row as "NAME:p,p,...".
inline std::vector<std::string> RowsOf(const Capture& capture) {
    std::vector<std::string> rows;
    for (int r = 0; r < capture.channels.rowCount; ++r) {
        const auto& row = capture.channels.rows[static_cast<std::size_t>(r)];
        std::string text = std::string(row.name.data()) + ":";
        for (int j = 0; j < row.probeCount; ++j) {
            text += (j == 0 ? "" : ",") + std::to_string(row.probes[static_cast<std::size_t>(j)]);
        }
        rows.push_back(text);
    }
    return rows;
}

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; its standard output and exit status.
inline std::pair<std::string, int> RunTool(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {out, -1};
    }
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

inline std::string Quote(const fs::path& path) {
    return "'" + path.string() + "'";
}

} // namespace pulsara::test
