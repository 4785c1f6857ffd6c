#include "definition_file.h"

#include <fstream>

namespace pulsara {
namespace detail {

std::optional<std::string> ReadDefinitionFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text(kDefinitionTextSize - 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    // A NUL ends the text there.
    if (const auto nul = text.find('\0'); nul != std::string::npos) {
        text.resize(nul);
    }
    return text;
}

} // namespace detail
} // namespace pulsara
