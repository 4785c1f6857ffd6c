#include "cli/startup.h"

#include "capture/definition_text.h"

#include <ostream>
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

std::unique_ptr<Capture> StartUpOrReport(const std::optional<std::filesystem::path>& definitionPath,
                                         CommandContext& context) {
    auto startUp = StartUpCapture(definitionPath);
    if (!startUp.capture) {
        context.err << "pulsara-cli: " << startUp.error << "\n";
        context.exitCode = 1;
    }
    return std::move(startUp.capture);
}

std::unique_ptr<Capture> StartUpAndLoad(const std::optional<std::filesystem::path>& definitionPath,
                                        const std::filesystem::path& capturePath,
                                        CommandContext& context, LoadResult& load) {
    auto capture = StartUpOrReport(definitionPath, context);
    if (!capture) {
        return nullptr;
    }
    load = LoadCapture(*capture, capturePath);
    if (!load.ok) {
        context.err << "pulsara-cli: " << load.error << "\n";
        context.exitCode = 1;
        return nullptr;
    }
    if (load.shortFile) {
        context.err << "pulsara-cli: warning: \"" << capturePath.string() << "\" holds "
                    << load.sampleBytesRead << " of " << kSampleMemoryBytes
                    << " bytes; the samples after its end read as 0\n";
    }
    return capture;
}

void SaveAndReport(Capture& capture, const std::filesystem::path& out, std::int32_t horizontalPos,
                   CommandContext& context) {
    const auto save = SaveCapture(capture, out, horizontalPos);
    if (!save.ok) {
        context.err << "pulsara-cli: " << save.error << "\n";
        context.exitCode = 1;
        return;
    }
    context.err << "pulsara-cli: wrote " << out.string() << " and " << CompanionPath(out).string()
                << "\n";
}

} // namespace pulsara::cli
