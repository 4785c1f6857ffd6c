#pragma once
// Programs for the 8051 core as files: Intel HEX (.ihx/.hex) or raw binary loaded at address 0.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pulsara::sim {

struct [[nodiscard]] ProgramFile {
    bool ok = false;
    std::string error;               // names the file, the line and the problem when !ok
    std::vector<std::uint8_t> bytes; // from address 0 up to the highest byte written
    std::vector<bool> written;       // which bytes the file defined (same size as bytes)
};

// Intel HEX record types 00 and 01 only; a checksum error or an address past 0xFFFF fails.
[[nodiscard]] ProgramFile ParseIntelHex(const std::string& text, const std::string& name);
// .ihx and .hex are parsed as Intel HEX, anything else is taken as raw binary.
[[nodiscard]] ProgramFile LoadProgramFile(const std::filesystem::path& path);

} // namespace pulsara::sim
