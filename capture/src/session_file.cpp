#include "capture/session_file.h"

#include "capture/capture_files.h"
#include "temporary_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace pulsara {
namespace {

using Json = nlohmann::ordered_json;

// The line of a byte offset, for messages a person can follow into the file.
std::size_t LineOf(const std::string& text, std::size_t byte) {
    const auto end = text.begin() + static_cast<std::ptrdiff_t>(std::min(byte, text.size()));
    return 1 + static_cast<std::size_t>(std::count(text.begin(), end, '\n'));
}

template <typename T> void Optional(const Json& object, const char* key, std::optional<T>& out) {
    if (const auto it = object.find(key); it != object.end() && !it->is_null()) {
        out = it->template get<T>();
    }
}

} // namespace

std::filesystem::path SessionPath(const std::filesystem::path& capturePath) {
    return std::filesystem::path(CompanionPath(capturePath)).replace_extension(".wfs");
}

std::string SessionJson(const AnalysisSession& s) {
    Json json{{"version", kSessionVersion}, {"decoders", Json::array()}};
    for (const auto& stack : s.stacks) {
        json["decoders"].push_back({{"stack", stack}});
    }
    json["cursors"] = {{"a", s.cursorA ? Json(*s.cursorA) : Json(nullptr)},
                       {"b", s.cursorB ? Json(*s.cursorB) : Json(nullptr)}};
    json["view"] = {
        {"firstSample", s.firstSample ? Json(*s.firstSample) : Json(nullptr)},
        {"pixelsPerSample", s.pixelsPerSample ? Json(*s.pixelsPerSample) : Json(nullptr)},
        {"firstRow", s.firstRow}};
    json["search"] = s.search;
    if (s.geometry) {
        json["window"] = {{"x", s.geometry->x},
                          {"y", s.geometry->y},
                          {"width", s.geometry->width},
                          {"height", s.geometry->height}};
    }
    return json.dump(2) + "\n";
}

SessionRead ReadSessionFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    return ParseSession(std::string(std::istreambuf_iterator<char>(in), {}), path.string());
}

SessionRead ParseSession(const std::string& text, const std::string& name) {
    Json json;
    try {
        json = Json::parse(text);
    } catch (const Json::parse_error& e) {
        return {std::nullopt, name + ", line " + std::to_string(LineOf(text, e.byte)) +
                                  ": not an analysis session (malformed JSON); it was ignored"};
    }
    try {
        if (!json.is_object() || !json.contains("version")) {
            return {std::nullopt, name + ": not an analysis session (no version); it was ignored"};
        }
        const int version = json.at("version").get<int>();
        if (version > kSessionVersion || version < 1) {
            return {std::nullopt, name + ": session version " + std::to_string(version) +
                                      " is not one this pulsara reads (it reads " +
                                      std::to_string(kSessionVersion) + "); it was ignored"};
        }
        AnalysisSession s;
        if (const auto it = json.find("decoders"); it != json.end()) {
            for (const auto& decoder : *it) {
                s.stacks.push_back(decoder.at("stack").get<std::string>());
            }
        }
        if (const auto it = json.find("cursors"); it != json.end()) {
            Optional(*it, "a", s.cursorA);
            Optional(*it, "b", s.cursorB);
        }
        if (const auto it = json.find("view"); it != json.end()) {
            Optional(*it, "firstSample", s.firstSample);
            Optional(*it, "pixelsPerSample", s.pixelsPerSample);
            s.firstRow = it->value("firstRow", 0);
        }
        s.search = json.value("search", std::string());
        if (const auto it = json.find("window"); it != json.end()) {
            s.geometry = AnalysisSession::Geometry{
                it->at("x").get<std::int32_t>(), it->at("y").get<std::int32_t>(),
                it->at("width").get<std::int32_t>(), it->at("height").get<std::int32_t>()};
        }
        return {s, {}};
    } catch (const Json::exception& e) {
        return {std::nullopt,
                name + ": not an analysis session (" + e.what() + "); it was ignored"};
    }
}

std::optional<std::string> WriteSessionFile(const AnalysisSession& session,
                                            const std::filesystem::path& path) {
    if (auto error = detail::ReplaceFile(path, SessionJson(session))) {
        return path.string() + ": " + *error;
    }
    return std::nullopt;
}

} // namespace pulsara
