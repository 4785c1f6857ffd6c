#pragma once
// The channel definition text: line reader, parser and the start-up load of "def.txt".

#include "capture/capture.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pulsara {

// The text written as "def.txt" when none exists: a settings line of zeros and
// rows PROBE00..PROBE31 showing probe i alone, CR LF line ends, 428 bytes.
[[nodiscard]] const std::string& DefaultDefinitionText();

// Copies the next line from cursor into line (which holds maxLength + 1 bytes): up to and
// including a LF, up to a NUL (not copied, cursor stays on it) or maxLength characters.
// NUL-terminates the copy and returns its length; 0 means the text is exhausted.
int ReadLine(char* line, int maxLength, const char*& cursor);

// Converts like a 32-bit strtol in base 10: leading white space, optional sign, digits up
// to the first non-digit (none gives 0); out-of-range values saturate.
[[nodiscard]] std::int32_t ConvertNumber(std::string_view token);

// Fills capture.channels and, where the text has a settings line, capture.settings.
// Nothing is cleared first: rows past the new rowCount keep their old contents.
// A settings line with fewer than six numbers leaves the missing fields unchanged;
// row lines past the 64th are ignored; a token starting with CR or LF ends a row's probes.
void ParseDefinitionText(const char* text, Capture& capture);

// Copies text (cut to 16383 bytes) into capture.definition and parses it.
void SetDefinitionText(std::string_view text, Capture& capture);

// Reads at most 16383 bytes of a file into capture.definition and parses it.
// Returns an error message naming the file when it cannot be read; nothing changes then.
[[nodiscard]] std::optional<std::string> LoadDefinitionText(const std::filesystem::path& path,
                                                            Capture& capture);

struct DefinitionFileLoad {
    enum class Source {
        ReadFromFile,    // the file existed and was read
        CreatedDefault,  // the file was missing; the default was written and read back
        DefaultInMemory, // the file could neither be read nor created
    };
    Source source = Source::ReadFromFile;
    // Set with DefaultInMemory: what went wrong and what the user can do.
    std::string warning;
};

// The start-up load: reads "def.txt" (in dir), writing the default file first when it is
// missing. When it can neither be read nor created the default text is used from memory
// and the result says so; this never retries.
DefinitionFileLoad LoadDefinitionFile(Capture& capture, const std::filesystem::path& dir = ".");

} // namespace pulsara
