// pulsara-cli capture: one capture on a board, saved as a capture file.

#include "capture/labels.h"
#include "capture_until.h"
#include "cli/board_session.h"
#include "cli/capture_series.h"
#include "cli/commands.h"
#include "cli/startup.h"
#include "device/clock.h"
#include "device/libusb_driver.h"
#include "device/tracing_driver.h"
#include "sim_options.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <memory>
#include <ostream>

#include "firmware/image.h"

namespace pulsara::cli {
namespace {

struct CaptureOptions {
    std::string board;
    int instance = -1;
    std::optional<std::string> rate;
    std::optional<std::string> position;
    std::optional<std::string> condition;
    std::optional<std::string> probe;
    std::optional<std::filesystem::path> definition;
    double timeoutSeconds = 60.0;
    bool traceIo = false;
    std::filesystem::path output;
    std::optional<int> count;
    SimCliOptions sim;
    std::optional<std::string> until;
    int tries = 100;
};

constexpr std::array<std::string_view, 4> kConditionNames = {"rising", "falling", "high", "low"};

template <std::size_t N> std::vector<std::string> Names(const std::array<std::string_view, N>& t) {
    return {t.begin(), t.end()};
}

template <std::size_t N>
void Apply(const std::optional<std::string>& given, const std::array<std::string_view, N>& table,
           std::int32_t& field) {
    if (given) {
        // The option's check has already limited it to the table.
        field = IndexOfLabel(table, *given).value_or(field);
    }
}

std::span<const std::uint8_t> BuiltInImage() {
    return FirmwareImage();
}

} // namespace

void AddCaptureCommand(CLI::App& app, CommandContext& context) {
    auto options = std::make_shared<CaptureOptions>();
    auto* cmd = app.add_subcommand("capture", "Run one capture on a board and save it (.wfa)");
    cmd->add_option("--board", options->board, "driver backend: usb (real boards) or sim")
        ->required()
        ->check(CLI::IsMember({"usb", "sim"}));
    cmd->add_option("--instance", options->instance,
                    "board instance 0..7 (default: the first free one)")
        ->check(CLI::Range(0, kMaxInstances - 1));
    cmd->add_option("--rate", options->rate, "sample rate (default: the definition text's)")
        ->check(CLI::IsMember(Names(rateLabels)));
    cmd->add_option("--position", options->position, "trigger position TOP, CENTER or LAST")
        ->check(CLI::IsMember(Names(triggerPositionLabels)));
    cmd->add_option("--condition", options->condition, "trigger condition")
        ->check(CLI::IsMember(Names(kConditionNames)));
    cmd->add_option("--probe", options->probe, "trigger probe PROBE00..PROBE14 or HDL")
        ->check(CLI::IsMember(Names(triggerProbeLabels)));
    cmd->add_option("--def", options->definition, "definition text to start with");
    cmd->add_option("--timeout", options->timeoutSeconds,
                    "seconds to wait for the capture to complete (default 60)")
        ->check(CLI::Range(0.1, 86400.0));
    cmd->add_flag("--trace-io", options->traceIo, "print every I/O control on stderr");
    cmd->add_option("-o,--output", options->output, "capture file to write (.wfa)")->required();
    auto* count = cmd->add_option("--count", options->count,
                                  "captures one after another: run.wfa gives "
                                  "run-1.wfa ... run-N.wfa")
                      ->check(CLI::Range(1, 1000000));
    AddSimOptions(*cmd, options->sim);
    auto* until = cmd->add_option(
        "--until", options->until,
        "capture again until a capture holds this match, as find takes it: "
        "\"--signal S --pulse high --shorter 20ns\"; exit status 1 when no try did");
    cmd->add_option("--tries", options->tries, "captures --until makes at most (default 100)")
        ->check(CLI::Range(1, 1000000))
        ->needs(until);
    // One series or one search at a time: each decides what is saved.
    until->excludes(count);
    cmd->callback([options, &context] {
        const auto capture = StartUpOrReport(options->definition, context);
        if (!capture) {
            return;
        }
        auto& settings = capture->settings;
        Apply(options->rate, rateLabels, settings.rateIndex);
        Apply(options->position, triggerPositionLabels, settings.triggerPosition);
        Apply(options->condition, kConditionNames, settings.triggerCondition);
        Apply(options->probe, triggerProbeLabels, settings.triggerProbe);

        const auto image = BuiltInImage();
        if (image.empty()) {
            context.err << "pulsara-cli: warning: this build has no firmware image built in "
                           "(firmware/ was not built); only a board that already runs the "
                           "pulsara firmware can be used\n";
        }
        SystemClock clock;
        BoardCaptureRequest request;
        request.instance = options->instance;
        request.timeout = std::chrono::milliseconds(
            static_cast<std::int64_t>(std::llround(options->timeoutSeconds * 1000.0)));
        request.output = options->output;
        std::unique_ptr<EzusbDriver> backend;
        if (options->board == "sim") {
            const sim::SimOptions sim = options->sim.ToSimOptions();
            backend = std::make_unique<sim::SimDriver>(sim, clock);
            request.lockDirectory = sim::SimLockDirectory();
            // Board time does not wait for the wall clock: poll at once, and often.
            if (sim.speed == 0.0) {
                request.pollInterval = std::chrono::milliseconds(10);
            }
        } else {
            auto usb = std::make_unique<LibusbDriver>();
            if (!usb->initError().empty()) {
                context.err << "pulsara-cli: " << usb->initError() << "\n";
            }
            backend = std::move(usb);
        }
        TracingDriver traced{*backend, context.err};
        EzusbDriver& driver = options->traceIo ? static_cast<EzusbDriver&>(traced) : *backend;
        context.exitCode =
            options->until
                ? RunBoardCaptureUntil(driver, *capture, image, request,
                                       {*options->until, options->tries}, clock, context.out,
                                       context.err)
            : options->count ? RunCaptureSeries(driver, *capture, image, request, *options->count,
                                                clock, context.out, context.err)
                             : RunBoardCapture(driver, *capture, image, request, clock,
                                               context.out, context.err);
    });
}

} // namespace pulsara::cli
