// pulsara-cli render: the view of a loaded capture as a PNG, painted exactly as the window
// paints its drawing frame; with --analysis, the analysis window's zoomable view instead.

#include "analysis/decode.h"
#include "capture/capture_files.h"
#include "cli/commands.h"
#include "cli/startup.h"
#include "device/instance_claim.h"
#include "text_codec.h"
#include "view/analysis_scene.h"
#include "view/change_table.h"
#include "view/decoder_rows.h"
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
    bool analysis = false;
    int width = 1200;
    int height = 600;
    std::optional<int> from;
    std::optional<int> to;
    std::vector<std::string> stacks;
};

// Fonts need a GUI application; without a display the offscreen platform serves.
std::unique_ptr<QGuiApplication> EnsureGuiApplication() {
    if (QCoreApplication::instance() != nullptr) {
        return nullptr;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ExportRuntimeDirectory();
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

// The decoder rows for the -P stacks, or nothing after saying what went wrong.
std::optional<std::vector<AnnotationRow>> DecodeRows(const Capture& capture,
                                                     const std::vector<std::string>& stacks,
                                                     CommandContext& context) {
    if (stacks.empty()) {
        return std::vector<AnnotationRow>{};
    }
    const auto plan = analysis::PlanDecode(capture, {stacks, std::nullopt, ShiftJisToUtf8});
    if (!plan) {
        context.err << "pulsara-cli: " << plan.error() << "\n";
        return std::nullopt;
    }
    std::vector<analysis::Annotation> annotations;
    const auto result = analysis::RunDecode(
        capture, *plan, [&](const analysis::Annotation& a) { annotations.push_back(a); });
    if (result.status != analysis::DecodeStatus::Finished) {
        context.err << "pulsara-cli: " << result.error << "\n";
        return std::nullopt;
    }
    return LayOutAnnotations(*plan, annotations);
}

QImage RenderAnalysis(const Capture& capture, const RenderOptions& options,
                      std::span<const AnnotationRow> decoderRows) {
    const ChangeTable changes(capture.samples);
    const int traceWidth = options.width - AnalysisLayout::kTraceLeft;
    AnalysisScene scene{&capture, &changes, WholeCapture(traceWidth), 0, {}, decoderRows};
    if (options.from || options.to) {
        scene.window = ShowSamples(traceWidth, options.from.value_or(0),
                                   options.to.value_or(kSampleCount - 1));
    }
    QImage image(options.width, options.height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    {
        QtCanvas canvas(painter);
        DrawAnalysisView(canvas, {0, 0, options.width, options.height}, scene);
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
    auto* analysis =
        cmd->add_flag("--analysis", options->analysis,
                      "draw the analysis window's view (zoomable, overview, decoders)");
    cmd->add_option("--width", options->width, "image width with --analysis (default 1200)")
        ->check(CLI::Range(AnalysisLayout::kTraceLeft + 20, 16384))
        ->needs(analysis);
    cmd->add_option("--height", options->height, "image height with --analysis (default 600)")
        ->check(CLI::Range(AnalysisLayout::kRowsTop + 20, 16384))
        ->needs(analysis);
    cmd->add_option("--from", options->from, "first sample shown with --analysis (default 0)")
        ->check(CLI::Range(0, kSampleCount - 1))
        ->needs(analysis);
    cmd->add_option("--to", options->to, "last sample shown with --analysis (default 32767)")
        ->check(CLI::Range(0, kSampleCount - 1))
        ->needs(analysis);
    cmd->add_option("-P,--protocol-decoders", options->stacks,
                    "with --analysis, decoder rows: a stack as sigrok-cli takes it, "
                    "uart:rx=NAME:baudrate=115200; repeat for more")
        ->allow_extra_args(false)
        ->needs(analysis);
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
        if (options->analysis &&
            options->from.value_or(0) > options->to.value_or(kSampleCount - 1)) {
            context.err << "pulsara-cli: --from " << options->from.value_or(0)
                        << " lies after --to " << options->to.value_or(kSampleCount - 1)
                        << "; give the first sample first\n";
            context.exitCode = 1;
            return;
        }
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

        const auto decoderRows = DecodeRows(capture, options->stacks, context);
        if (!decoderRows) {
            context.exitCode = 1;
            return;
        }
        const auto application = EnsureGuiApplication();
        const QImage image = options->analysis ? RenderAnalysis(capture, *options, *decoderRows)
                                               : RenderView(capture, h, v);
        const QString outName = QString::fromStdString(options->outPath.string());
        QImageWriter writer(outName, "png");
        if (!writer.write(image)) {
            context.err << "pulsara-cli: cannot write \"" << options->outPath.string()
                        << "\": " << writer.errorString().toStdString()
                        << "; check that its folder exists and is writable\n";
            context.exitCode = 1;
            return;
        }
        context.err << "pulsara-cli: wrote " << options->outPath.string();
        if (options->analysis) {
            context.err << " (samples " << options->from.value_or(0) << ".."
                        << options->to.value_or(kSampleCount - 1) << ")\n";
        } else {
            context.err << " (H " << h << ", V " << v << ")\n";
        }
    });
}

} // namespace pulsara::cli
