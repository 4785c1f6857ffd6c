#include "sim/board/capture_logic.h"

#include "sim/board/signal_generator.h"

namespace pulsara::sim {
namespace {

constexpr int kModeRegister0 = 0;
constexpr int kModeRegister2 = 2;
constexpr int kModeCapture = 4;
constexpr int kModeReadOut = 6;
constexpr std::size_t kGroupBytes = 8;

std::uint32_t TriggerIndex(std::uint8_t position) {
    return position < kTriggerIndex.size() ? kTriggerIndex[position] : kTriggerIndex[0];
}

bool ProbeLevel(std::uint64_t ns, std::uint8_t probe) {
    return ((ProbesAt(ns) >> probe) & 1) != 0;
}

// The first sample that meets the condition. Trigger probes 0-14 are counter bits, whose
// sampled sequence repeats within 65536 samples: a condition not met by then never is.
std::optional<std::uint64_t> FindTrigger(std::uint64_t firstNs, std::uint64_t periodNs,
                                         const LogicSettings& s) {
    if (s.probe == kTriggerProbeHdl) {
        return 0;
    }
    constexpr std::uint64_t kSearch = 65536 + 2;
    bool before = ProbeLevel(firstNs, s.probe);
    for (std::uint64_t k = 0; k < kSearch; ++k) {
        const bool now = k == 0 ? before : ProbeLevel(firstNs + k * periodNs, s.probe);
        const bool met = s.condition == 0   ? k > 0 && !before && now
                         : s.condition == 1 ? k > 0 && before && !now
                         : s.condition == 2 ? now
                                            : !now;
        if (met) {
            return k;
        }
        before = now;
    }
    return std::nullopt;
}

} // namespace

void CaptureLogic::SetMode(int mode, std::uint64_t ns) {
    const int before = mode_;
    mode_ = mode;
    if (before == kModeCapture && mode != kModeCapture) {
        Finish(ns);
    }
    if (before != kModeCapture && mode == kModeCapture) {
        Start(ns);
    }
    if (before != kModeReadOut && mode == kModeReadOut) {
        reads_ = 0;
    }
}

void CaptureLogic::Start(std::uint64_t ns) {
    Run run;
    run.settings = settings_;
    run.periodNs = kRatePeriodNs[settings_.rate & 0x0F];
    // The sample clock runs free: the first sample is its next edge.
    run.firstNs = (ns + run.periodNs - 1) / run.periodNs * run.periodNs;
    run.triggerSample = FindTrigger(run.firstNs, run.periodNs, run.settings);
    run_ = run;
    complete_ = false;
}

std::optional<std::uint64_t> CaptureLogic::CompletionNs() const {
    if (!run_ || !run_->triggerSample) {
        return std::nullopt;
    }
    const std::uint32_t t = TriggerIndex(run_->settings.position);
    // The last memory sample is taken (kLogicSamples - 1 - t) samples after the trigger.
    return run_->firstNs + (*run_->triggerSample + (kLogicSamples - 1 - t)) * run_->periodNs;
}

// Leaving mode 4: a completed capture becomes the memory; an unfinished one is dropped and
// the memory keeps what it held.
void CaptureLogic::Finish(std::uint64_t ns) {
    const auto done = CompletionNs();
    if (!done || ns < *done) {
        run_.reset();
        return;
    }
    const Run& run = *run_;
    const std::uint64_t trigger = *run.triggerSample;
    const std::uint64_t t = TriggerIndex(run.settings.position);
    // Samples before the first one the logic took read 0 and come first. The memory is
    // written in 8-byte groups, so storing starts at a group boundary: an odd count drops
    // the first sample taken rather than leave a zero inside a group flagged as filled.
    const std::uint64_t before = t > trigger ? t - trigger : 0;
    const std::uint64_t missing = (before + 1) / 2 * 2;
    for (std::uint64_t i = 0; i < kLogicSamples; ++i) {
        memory_[i] = i < missing ? 0 : ProbesAt(run.firstNs + (trigger + i - t) * run.periodNs);
    }
    unfilled_ = static_cast<std::uint32_t>(missing / 2);
    complete_ = true;
    run_.reset();
}

void CaptureLogic::WriteStrobe(std::uint8_t byte) {
    if (mode_ == kModeRegister0) {
        settings_.rate = static_cast<std::uint8_t>(byte >> 4);
        settings_.position = static_cast<std::uint8_t>(byte & 0x0F);
    } else if (mode_ == kModeRegister2) {
        settings_.condition = static_cast<std::uint8_t>(byte >> 6);
        settings_.probe = static_cast<std::uint8_t>((byte >> 2) & 0x0F);
    }
}

std::uint8_t CaptureLogic::ReadStrobe() {
    if (mode_ != kModeReadOut) {
        return 0xFF;
    }
    const std::uint64_t at = reads_++ % kLogicBytes;
    return static_cast<std::uint8_t>(memory_[at / 4] >> (8 * (at % 4)));
}

bool CaptureLogic::StatusLine(std::uint64_t ns) const {
    if (mode_ == kModeReadOut) {
        return reads_ == 0 || (reads_ - 1) / kGroupBytes >= unfilled_;
    }
    if (run_) {
        const auto done = CompletionNs();
        return done && ns >= *done;
    }
    return complete_;
}

} // namespace pulsara::sim
