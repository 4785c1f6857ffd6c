#pragma once
// Protocol decoding of a capture through libsigrokdecode. A request in sigrok-cli's terms
// (one "-P" text per stack) is first checked and typed into a plan, then run:
//
//   auto plan = PlanDecode(capture, {{"uart:rx=UART_TX:baudrate=115200"}});
//   if (!plan) { show(plan.error()); return; }
//   std::atomic<bool> cancel{false};              // set from any thread to stop
//   auto result = RunDecode(capture, *plan, sink, &cancel);   // e.g. on a worker thread
//
// Only captured samples are decoded (FirstCapturedSample on), and every annotation's
// sample numbers are capture indices. Decoding needs no Qt and may run on any thread;
// runs are serialised process-wide, since libsigrokdecode keeps global state.

#include "analysis/decoders.h"
#include "analysis/result.h"
#include "analysis/signal.h"
#include "capture/capture.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pulsara::analysis {

struct DecodeRequest {
    // Each like sigrok-cli's -P argument: "uart:rx=RX:baudrate=115200", stacked with a
    // comma as in "i2c:scl=SCL:sda=SDA,eeprom24xx". Channels take signals (ResolveSignal).
    std::vector<std::string> stacks;
    // Samples per second; needed for EXT captures, and overrides the capture's rate.
    std::optional<std::uint64_t> samplerate;
    NameDecoder decodeName;
};

struct DecoderSetup {
    DecoderInfo decoder;
    std::vector<std::pair<std::string, int>> channels;        // channel id, probe
    std::vector<std::pair<std::string, OptionValue>> options; // only those given
};

struct DecodePlan {
    std::vector<std::vector<DecoderSetup>> stacks; // each bottom first
    std::uint64_t samplerate = 0;
    int firstSample = 0; // the first captured sample
    int unitSize = 1;    // bytes per sample fed: enough for the highest probe used
};

// Checks and types a request: known decoders that stack, channels mapped to signals with
// every required one given, options the decoder has with values of its default's type,
// a sample rate. The error says what is wrong and what to give instead.
[[nodiscard]] Result<DecodePlan> PlanDecode(const Capture& capture, const DecodeRequest& request);

struct Annotation {
    std::uint64_t start = 0; // capture sample indices
    std::uint64_t end = 0;
    int stack = 0;                  // index into DecodePlan::stacks
    std::string instance;           // as sigrok-cli names it: "uart-1", "uart-2", ...
    std::string decoder;            // "uart"
    int annotationClass = 0;        // index into DecoderInfo::annotations
    std::string className;          // "rx-data"
    std::optional<std::string> row; // the first row that holds the class
    std::vector<std::string> texts; // longest first
};

// Called for every annotation, in the order the decoders give them: within a stack in
// sample order more or less, and stack after stack per chunk fed. It runs on one of
// libsigrokdecode's decoder threads while RunDecode waits, never two at once; it must not
// call into this library.
using AnnotationSink = std::function<void(const Annotation&)>;

enum class DecodeStatus { Finished, Cancelled, Failed };

struct [[nodiscard]] DecodeResult {
    DecodeStatus status = DecodeStatus::Failed;
    std::string error;      // when Failed: the decoder's own message
    int samplesDecoded = 0; // captured samples fed before the end or the cancel
};

// Feeds the captured samples in chunks; `cancel`, when given, is read before each chunk,
// so a cancel takes effect within one chunk (a few milliseconds).
DecodeResult RunDecode(const Capture& capture, const DecodePlan& plan, const AnnotationSink& sink,
                       const std::atomic<bool>* cancel = nullptr, int chunkSamples = 4096);

} // namespace pulsara::analysis
