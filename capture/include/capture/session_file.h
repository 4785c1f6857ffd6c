#pragma once
// The analysis session kept beside a capture: NAME.wfs (JSON, with a version number) next
// to NAME.wfa and NAME.wfd. It holds what the analysis window shows of the capture
// (decoder stacks, cursors, zoom and position, the search, the window's geometry); the
// .wfa and .wfd stay exactly as they are, so other programs reading them see no change.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pulsara {

inline constexpr int kSessionVersion = 1;

struct AnalysisSession {
    std::vector<std::string> stacks; // decoder stacks as -P takes them (channels, options)
    std::optional<std::int32_t> cursorA;
    std::optional<std::int32_t> cursorB;
    // The view: the sample at its left edge and the zoom; none for the whole capture.
    std::optional<double> firstSample;
    std::optional<double> pixelsPerSample;
    std::int32_t firstRow = 0;
    std::string search; // the search bar's text, as the user typed it
    struct Geometry {
        std::int32_t x = 0;
        std::int32_t y = 0;
        std::int32_t width = 0;
        std::int32_t height = 0;
        friend bool operator==(const Geometry&, const Geometry&) = default;
    };
    std::optional<Geometry> geometry;
    friend bool operator==(const AnalysisSession&, const AnalysisSession&) = default;
};

// NAME.wfs beside a capture file: the companion's rule (the name cut before its first ".").
[[nodiscard]] std::filesystem::path SessionPath(const std::filesystem::path& capturePath);

[[nodiscard]] std::string SessionJson(const AnalysisSession& session);

struct [[nodiscard]] SessionRead {
    std::optional<AnalysisSession> session; // none: no file, or one that was not taken
    std::string error;                      // set when a file was there but not taken
};

// The session from `path`. A missing file is no error and no session; a malformed file, a
// field of the wrong type or a version newer than this program's gives an error that names
// the file (and the line), and no session.
SessionRead ReadSessionFile(const std::filesystem::path& path);
// The same for a session's text from elsewhere (the program's settings); `name` is where
// it came from, for the error.
SessionRead ParseSession(const std::string& text, const std::string& name);

// Writes through a temporary file renamed into place, as SAVE writes the capture; the
// error names the file when it fails, and the file that was there stays.
[[nodiscard]] std::optional<std::string> WriteSessionFile(const AnalysisSession& session,
                                                          const std::filesystem::path& path);

} // namespace pulsara
