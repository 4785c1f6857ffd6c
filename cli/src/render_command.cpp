// pulsara-cli render: the view of a loaded capture as a PNG, painted exactly as the window
// paints its drawing frame.

#include "capture/capture_files.h"
#include "cli/commands.h"
#include "cli/startup.h"
#include "view/geometry.h"
#include "view/qt_canvas.h"
#include "view/redraw.h"
#include "view/scroll.h"

#include <CLI/CLI.hpp>

#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <memory>
#include <ostream>

namespace pulsara::cli {
namespace {

struct RenderOptions {
    std::optional<std::filesystem::path> definition;
    std::optional<std::int32_t> horizontalPos;
    std::int32_t verticalPos = 0;
    std::filesystem::path capturePath;
    std::filesystem::path outPath;
};

// Fonts need a GUI application; without a display the offscreen platform serves.
std::unique_ptr<QGuiApplication> EnsureGuiApplication() {
    if (QCoreApplication::instance() != nullptr) {
        return nullptr;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "pulsara-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

QImage RenderView(const Capture& capture, std::int32_t h, std::int32_t v) {
    QImage image(kViewClientWidth, kViewClientHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    {
        QtCanvas canvas(painter);
        RedrawView(canvas, {0, 0, kViewClientWidth, kViewClientHeight}, capture, h, v);
    }
    painter.end();
    return image;
}

} // namespace

void AddRenderCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<RenderOptions>();
    auto* cmd = app.add_subcommand("render", "Load a capture and write its view as a PNG image");
    cmd->add_option("--def", options->definition, "definition text to start with");
    cmd->add_option("--h", options->horizontalPos,
                    "horizontal scroll position (default: the loaded one)")
        ->check(CLI::Range(kHorizontalScrollMin, kHorizontalScrollMax));
    cmd->add_option("--v", options->verticalPos,
                    "first row shown (default 0; kept within 0..rows-13)");
    cmd->add_option("capture", options->capturePath, "capture file to load (.wfa)")->required();
    cmd->add_option("-o,--output", options->outPath, "PNG file to write")->required();
    cmd->callback([options, &context] {
        LoadResult load;
        const auto loaded =
            StartUpAndLoad(options->definition, options->capturePath, context, load);
        if (!loaded) {
            return;
        }
        auto& capture = *loaded;
        // The scroll bars hold their positions within their ranges, and so does the render.
        const std::int32_t h =
            options->horizontalPos.value_or(ClampHorizontalPos(capture.settings.savedScrollPos));
        const ScrollRange rows = VerticalScrollRange(capture.channels.rowCount);
        const std::int32_t v = ClampToRange(options->verticalPos, rows);
        if (v != options->verticalPos) {
            context.err << "pulsara-cli: --v " << options->verticalPos << " is outside 0.."
                        << rows.max << " for " << capture.channels.rowCount
                        << " rows; showing rows from " << v << "\n";
        }

        const auto application = EnsureGuiApplication();
        const QImage image = RenderView(capture, h, v);
        const QString outName = QString::fromStdString(options->outPath.string());
        QImageWriter writer(outName, "png");
        if (!writer.write(image)) {
            context.err << "pulsara-cli: cannot write \"" << options->outPath.string()
                        << "\": " << writer.errorString().toStdString()
                        << "; check that its folder exists and is writable\n";
            context.exitCode = 1;
            return;
        }
        context.err << "pulsara-cli: wrote " << options->outPath.string() << " (H " << h << ", V "
                    << v << ")\n";
    });
}

} // namespace pulsara::cli
