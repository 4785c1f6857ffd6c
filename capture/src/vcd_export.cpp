// VCD export: one time unit per sample, only the signals that change at each time.

#include "vcd_export.h"
#include "capture/samples.h"
#include "interop_names.h"
#include "interop_settings.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace pulsara::detail {
namespace {

constexpr std::size_t kChunkSize = 256 * 1024;

// Identifier codes in base 94 over the printable characters '!'..'~'.
std::string IdentifierCode(std::size_t index) {
    std::string code;
    do {
        code += static_cast<char>('!' + index % 94);
        index /= 94;
    } while (index > 0);
    return code;
}

// 10 ns, 260 ns, 1 us, 2 us, 1 ms: the largest unit that holds the period whole.
std::string Timescale(std::int64_t periodNs) {
    if (periodNs % 1000000 == 0) {
        return std::to_string(periodNs / 1000000) + " ms";
    }
    if (periodNs % 1000 == 0) {
        return std::to_string(periodNs / 1000) + " us";
    }
    return std::to_string(periodNs) + " ns";
}

struct Signal {
    std::string code;
    std::uint32_t probeMask = 0; // the probe it shows; 0 for a probe the board lacks
};

struct Vector {
    std::string code;
    std::vector<std::uint32_t> bitMasks; // bit 0 first
    std::uint32_t anyMask = 0;
};

class VcdWriter {
public:
    VcdWriter(const Capture& capture, const VcdOptions& options, std::vector<std::string>& warnings)
        : capture_(capture), layout_(LayoutSignals(capture.channels)) {
        warnings.insert(warnings.end(), layout_.warnings.begin(), layout_.warnings.end());
        for (std::size_t i = 0; i < layout_.wires.size(); ++i) {
            const int probe = layout_.wires[i].probe;
            wires_.push_back({IdentifierCode(i), probe <= 31 ? 1U << probe : 0U});
        }
        if (options.vectors) {
            for (const auto& bus : layout_.buses) {
                Vector v{IdentifierCode(wires_.size() + vectors_.size()), {}, 0};
                for (const int w : bus.wires) {
                    v.bitMasks.push_back(wires_[static_cast<std::size_t>(w)].probeMask);
                    v.anyMask |= v.bitMasks.back();
                }
                vectors_.push_back(std::move(v));
            }
        }
        triggerCode_ = IdentifierCode(wires_.size() + vectors_.size());
        trigger_ = TriggerSampleOf(capture.settings.triggerPosition);
        unfilled_ = std::min(2 * static_cast<int>(capture.settings.unfilledPairs), kSampleCount);
    }

    bool Write(const VcdSink& sink) {
        sink_ = &sink;
        Header();
        ok_ = (*sink_)(out_);
        Body();
        Flush();
        return ok_;
    }

private:
    void Header() {
        const auto rate = capture_.settings.rateIndex;
        const auto period = PeriodNs(rate).value_or(1);
        out_ += "$version pulsara $end\n";
        if (rate == kExtRateIndex || !PeriodNs(rate)) {
            out_ += "$comment the sample clock was external (EXT): one time unit is one "
                    "sample, not a known time $end\n";
        } else {
            out_ += "$comment sample rate " + std::string(*LabelAt(rateLabels, rate)) +
                    ": one time unit is one sample $end\n";
        }
        if (trigger_) {
            out_ += "$comment trigger at sample " + std::to_string(*trigger_);
            if (rate != kExtRateIndex) {
                out_ += " (" + std::to_string(*trigger_ * period) + " ns)";
            }
            out_ += ", marked by the wire " + std::string(kTriggerSignalName) + " $end\n";
        }
        if (unfilled_ > 0) {
            out_ += "$comment samples 0 to " + std::to_string(unfilled_ - 1) +
                    " hold no captured data and are written as x $end\n";
        }
        out_ += "$timescale " + Timescale(period) + " $end\n";
        out_ += "$scope module pulsara $end\n";
        for (std::size_t i = 0; i < wires_.size(); ++i) {
            out_ += "$var wire 1 " + wires_[i].code + " " + layout_.wires[i].name + " $end\n";
        }
        for (std::size_t i = 0; i < vectors_.size(); ++i) {
            const auto width = std::to_string(vectors_[i].bitMasks.size());
            out_ += "$var wire " + width + " " + vectors_[i].code + " " + layout_.buses[i].name +
                    " [" + std::to_string(vectors_[i].bitMasks.size() - 1) + ":0] $end\n";
        }
        if (trigger_) {
            out_ +=
                "$var wire 1 " + triggerCode_ + " " + std::string(kTriggerSignalName) + " $end\n";
        }
        out_ += "$upscope $end\n$enddefinitions $end\n";
    }

    void Body() {
        std::vector<std::uint32_t> words(kSampleCount);
        for (int s = 0; s < kSampleCount; ++s) {
            words[static_cast<std::size_t>(s)] = SampleWord(capture_.samples, s);
        }
        std::array<std::vector<const Signal*>, 32> wiresOfProbe;
        std::size_t perSample = 32 + triggerCode_.size(); // time stamp and trigger
        for (const auto& w : wires_) {
            if (w.probeMask != 0) {
                wiresOfProbe[static_cast<std::size_t>(std::countr_zero(w.probeMask))].push_back(&w);
            }
            perSample += 2 + w.code.size();
        }
        for (const auto& v : vectors_) {
            perSample += 3 + v.bitMasks.size() + v.code.size();
        }
        chunk_ = std::max<std::size_t>(kChunkSize, 2 * perSample + 64);
        buffer_ = std::make_unique<char[]>(chunk_);
        Ensure(perSample + 16);
        Text("#0\n$dumpvars\n");
        AllValues(words[0], unfilled_ > 0);
        if (trigger_) {
            Scalar(*trigger_ == 0 ? '1' : '0', triggerCode_);
        }
        Text("$end\n");
        for (int s = 1; s < kSampleCount; ++s) {
            const std::uint32_t word = words[static_cast<std::size_t>(s)];
            const std::uint32_t diff =
                s > unfilled_ ? word ^ words[static_cast<std::size_t>(s - 1)] : 0U;
            const bool filledNow = s == unfilled_;
            const bool triggerEdge = trigger_ && (s == *trigger_ || s == *trigger_ + 1);
            if (diff == 0 && !filledNow && !triggerEdge) {
                continue;
            }
            Ensure(perSample);
            Time(s);
            if (filledNow) {
                AllValues(word, false);
            } else if (diff != 0) {
                // Wires in probe order, then the vectors that hold a changed probe.
                for (std::uint32_t bits = diff; bits != 0; bits &= bits - 1) {
                    const auto p = static_cast<std::size_t>(std::countr_zero(bits));
                    const char value = (word >> p) & 1U ? '1' : '0';
                    for (const Signal* w : wiresOfProbe[p]) {
                        Scalar(value, w->code);
                    }
                }
                for (const auto& v : vectors_) {
                    if ((diff & v.anyMask) != 0) {
                        VectorValue(v, word, false);
                    }
                }
            }
            if (triggerEdge) {
                Scalar(s == *trigger_ ? '1' : '0', triggerCode_);
            }
        }
        Ensure(perSample);
        Time(kSampleCount);
    }

    // Value changes go through a cursor into a buffer with room made ahead for a whole
    // sample, since a busy capture makes half a million of them.
    void Ensure(std::size_t bytes) {
        if (chunk_ - cursor_ < bytes) {
            Flush();
        }
    }

    void Flush() {
        if (ok_ && cursor_ > 0) {
            ok_ = (*sink_)(std::string_view(buffer_.get(), cursor_));
        }
        cursor_ = 0;
    }

    void Put(char c) { buffer_[cursor_++] = c; }

    void Text(std::string_view text) {
        for (const char c : text) {
            Put(c);
        }
    }

    void Time(int s) {
        Put('#');
        const auto end = std::to_chars(&buffer_[cursor_], &buffer_[cursor_] + 12, s).ptr;
        cursor_ = static_cast<std::size_t>(end - buffer_.get());
        Put('\n');
    }

    void Scalar(char value, const std::string& code) {
        Put(value);
        Text(code);
        Put('\n');
    }

    void VectorValue(const Vector& v, std::uint32_t word, bool unknown) {
        Put('b');
        if (unknown) {
            Put('x');
        } else {
            for (auto bit = v.bitMasks.rbegin(); bit != v.bitMasks.rend(); ++bit) {
                Put((word & *bit) != 0 ? '1' : '0');
            }
        }
        Put(' ');
        Text(v.code);
        Put('\n');
    }

    void AllValues(std::uint32_t word, bool unknown) {
        for (const auto& w : wires_) {
            Scalar(unknown ? 'x' : ((word & w.probeMask) != 0 ? '1' : '0'), w.code);
        }
        for (const auto& v : vectors_) {
            VectorValue(v, word, unknown);
        }
    }

    const Capture& capture_;
    ExportLayout layout_;
    std::vector<Signal> wires_;
    std::vector<Vector> vectors_;
    std::string triggerCode_;
    std::optional<std::int32_t> trigger_;
    int unfilled_ = 0;
    std::string out_; // the header
    const VcdSink* sink_ = nullptr;
    bool ok_ = true;
    std::unique_ptr<char[]> buffer_;
    std::size_t chunk_ = 0;
    std::size_t cursor_ = 0;
};

} // namespace

bool WriteVcd(const Capture& capture, const VcdOptions& options, std::vector<std::string>& warnings,
              const VcdSink& sink) {
    return VcdWriter(capture, options, warnings).Write(sink);
}

} // namespace pulsara::detail
