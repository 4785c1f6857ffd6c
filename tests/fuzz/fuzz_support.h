#pragma once
// Shared by the fuzz targets: a scratch folder for inputs that must be files, and the
// checks every loaded capture must pass whatever the input was.

#include "capture/capture.h"
#include "support/temp_dir.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <unistd.h>

namespace pulsara::fuzz {

// Stops the run so the fuzzer keeps the input; names what broke.
[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}

// One folder per process, removed at exit.
class Scratch {
public:
    [[nodiscard]] std::filesystem::path Write(const char* name, std::string_view bytes) const {
        const auto path = dir_.path() / name;
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    void Remove(const char* name) const {
        std::error_code ec;
        std::filesystem::remove(dir_.path() / name, ec);
    }

private:
    test::TempDir dir_;
};

inline const Scratch& ScratchFolder() {
    static const Scratch scratch;
    return scratch;
}

// The table and the text stay within their bounds, whatever was parsed.
inline void CheckCapture(const Capture& capture) {
    if (capture.channels.rowCount < 0 || capture.channels.rowCount > kMaxRows) {
        Broken("row count out of range");
    }
    for (int r = 0; r < capture.channels.rowCount; ++r) {
        const ChannelRow& row = capture.channels.rows[static_cast<std::size_t>(r)];
        if (row.probeCount < 0 || row.probeCount > kMaxProbesPerRow) {
            Broken("probe count out of range");
        }
        if (row.name[kMaxNameLength] != '\0') {
            Broken("row name without its NUL");
        }
    }
    if (capture.definition[kDefinitionTextSize - 1] != '\0') {
        Broken("definition text without its NUL");
    }
}

inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

} // namespace pulsara::fuzz
