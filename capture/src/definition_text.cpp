#include "capture/definition_text.h"

#include "definition_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <system_error>

namespace pulsara {
namespace {

constexpr std::string_view kSettingsKeyword = "#SYSPARM";

bool IsDelimiter(char c) {
    return c == ' ' || c == ',' || c == '\t';
}

// strtok-like splitting: a run of delimiters counts as one, leading ones are skipped.
class Tokens {
public:
    explicit Tokens(std::string_view text) : rest_(text) {}

    std::optional<std::string_view> Next() {
        std::size_t start = 0;
        while (start < rest_.size() && IsDelimiter(rest_[start])) {
            ++start;
        }
        if (start == rest_.size()) {
            rest_ = {};
            return std::nullopt;
        }
        std::size_t end = start;
        while (end < rest_.size() && !IsDelimiter(rest_[end])) {
            ++end;
        }
        const auto token = rest_.substr(start, end - start);
        rest_ = rest_.substr(end);
        return token;
    }

private:
    std::string_view rest_;
};

std::string BuildDefaultText() {
    std::string text = "#SYSPARM 0,0,0,0,0,0\r\n";
    char line[32];
    for (int i = 0; i < 32; ++i) {
        std::snprintf(line, sizeof line, "PROBE%2.2d\t\t%d\r\n", i, i);
        text += line;
    }
    return text;
}

void ParseSettingsLine(std::string_view afterKeyword, CaptureSettings& settings) {
    Tokens tokens(afterKeyword);
    std::int32_t values[6];
    int count = 0;
    while (count < 6) {
        const auto token = tokens.Next();
        if (!token) {
            break;
        }
        values[count++] = ConvertNumber(*token);
    }
    // Fields the line does not reach keep their values.
    if (count > 0)
        settings.rateIndex = values[0];
    if (count > 1)
        settings.triggerPosition = values[1];
    if (count > 2)
        settings.triggerCondition = values[2];
    if (count > 3)
        settings.triggerProbe = values[3];
    if (count > 4)
        settings.unfilledPairs = static_cast<std::uint16_t>(values[4] & 0xFFFF);
    if (count > 5)
        settings.savedScrollPos = values[5];
}

void ParseRowLine(std::string_view line, ChannelRow& row) {
    Tokens tokens(line);
    row.name.fill('\0');
    if (const auto name = tokens.Next()) {
        const auto kept = std::min<std::size_t>(name->size(), kMaxNameLength);
        std::copy_n(name->data(), kept, row.name.begin());
    }
    int count = 0;
    while (count < kMaxProbesPerRow) {
        const auto token = tokens.Next();
        // The line end ends the list. A file written on Linux has no CR, so a bare LF after a
        // trailing blank must not count as one more probe (probe 0).
        if (!token || token->front() == '\r' || token->front() == '\n') {
            break;
        }
        row.probes[static_cast<std::size_t>(count)] =
            static_cast<std::uint8_t>(ConvertNumber(*token) & 0xFF);
        ++count;
    }
    row.probeCount = count;
}

void CopyIntoDefinition(std::string_view text, Capture& capture) {
    const auto n = std::min(text.size(), kDefinitionTextSize - 1);
    std::copy_n(text.data(), n, capture.definition.begin());
    capture.definition[n] = '\0';
}

} // namespace

const std::string& DefaultDefinitionText() {
    static const std::string text = BuildDefaultText();
    return text;
}

int ReadLine(char* line, int maxLength, const char*& cursor) {
    if (maxLength <= 0) {
        line[0] = '\0';
        return 0;
    }
    int n = 0;
    while (n < maxLength && *cursor != '\0') {
        const char c = *cursor++;
        line[n++] = c;
        if (c == '\n') {
            break;
        }
    }
    line[n] = '\0';
    return n;
}

std::int32_t ConvertNumber(std::string_view token) {
    std::size_t i = 0;
    while (i < token.size() && std::strchr(" \t\n\v\f\r", token[i]) != nullptr &&
           token[i] != '\0') {
        ++i;
    }
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
        negative = token[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and saturate at the 32-bit range, as a 32-bit strtol does.
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMinMagnitude = kMax + 1;
    std::int64_t magnitude = 0;
    while (i < token.size() && token[i] >= '0' && token[i] <= '9') {
        magnitude = std::min<std::int64_t>(magnitude * 10 + (token[i] - '0'), kMinMagnitude);
        ++i;
    }
    if (negative) {
        return static_cast<std::int32_t>(-magnitude);
    }
    return static_cast<std::int32_t>(std::min(magnitude, kMax));
}

void ParseDefinitionText(const char* text, Capture& capture) {
    char line[kMaxLineLength + 1];
    const char* cursor = text;
    int rowCounter = 0;
    while (true) {
        const int length = ReadLine(line, kMaxLineLength, cursor);
        if (length == 0) {
            break;
        }
        const std::string_view view(line, static_cast<std::size_t>(length));
        if (view.starts_with(kSettingsKeyword)) {
            ParseSettingsLine(view.substr(kSettingsKeyword.size()), capture.settings);
            continue;
        }
        if (view.front() == ';') {
            continue;
        }
        // The table holds 64 rows; further row lines are ignored.
        if (rowCounter >= kMaxRows) {
            continue;
        }
        ParseRowLine(view, capture.channels.rows[static_cast<std::size_t>(rowCounter)]);
        ++rowCounter;
    }
    capture.channels.rowCount = rowCounter;
}

void SetDefinitionText(std::string_view text, Capture& capture) {
    CopyIntoDefinition(text, capture);
    ParseDefinitionText(capture.definition.data(), capture);
}

std::optional<std::string> LoadDefinitionText(const std::filesystem::path& path, Capture& capture) {
    const auto text = detail::ReadDefinitionFile(path);
    if (!text) {
        return "cannot read definition text \"" + path.string() +
               "\": " + std::generic_category().message(errno) +
               "; check the path and that the file is readable";
    }
    SetDefinitionText(*text, capture);
    return std::nullopt;
}

DefinitionFileLoad LoadDefinitionFile(Capture& capture, const std::filesystem::path& dir) {
    const auto path = dir / "def.txt";
    if (auto text = detail::ReadDefinitionFile(path)) {
        SetDefinitionText(*text, capture);
        return {DefinitionFileLoad::Source::ReadFromFile, {}};
    }
    // Only a missing file is replaced ("x": never truncate one that exists but cannot be
    // read; that file is the user's).
    if (std::FILE* out = std::fopen(path.c_str(), "wbx")) {
        const auto& text = DefaultDefinitionText();
        const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
        const bool closed = std::fclose(out) == 0;
        if (written && closed) {
            if (auto reread = detail::ReadDefinitionFile(path)) {
                SetDefinitionText(*reread, capture);
                return {DefinitionFileLoad::Source::CreatedDefault, {}};
            }
        }
    }
    // Neither readable nor creatable (a read-only folder, say): run on the default rows
    // rather than stop or retry.
    SetDefinitionText(DefaultDefinitionText(), capture);
    return {DefinitionFileLoad::Source::DefaultInMemory,
            "cannot read or create \"" + path.string() +
                "\"; using the default channel definitions. Start pulsara in a writable "
                "folder to keep a def.txt there."};
}

} // namespace pulsara
