#include "cli/startup.h"

#include "capture/definition_text.h"

#include <system_error>

namespace pulsara::cli {

StartUp StartUpCapture(const std::optional<std::filesystem::path>& definitionPath) {
    auto capture = std::make_unique<Capture>();
    std::optional<std::filesystem::path> path = definitionPath;
    if (!path) {
        std::error_code ec;
        if (std::filesystem::exists("def.txt", ec)) {
            path = "def.txt";
        }
    }
    if (!path) {
        SetDefinitionText(DefaultDefinitionText(), *capture);
        return {std::move(capture), {}};
    }
    if (auto error = LoadDefinitionText(*path, *capture)) {
        return {nullptr, *error};
    }
    return {std::move(capture), {}};
}

} // namespace pulsara::cli
