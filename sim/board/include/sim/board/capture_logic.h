#pragma once
// The board's capture logic behind the EZ-USB's port lines: three mode lines in, a status
// line out, registers 0 and 2 written over the data bus, and the 32768 x 32-bit sample
// memory read back over it. Time is board time in nanoseconds.
//
//   mode 0 / 2 + write strobe: register 0 (rate, trigger position) / 2 (condition, probe)
//   mode 4 (entered):          a capture starts; the status line goes high once complete
//   mode 6 (entered):          the read-out rewinds; each read strobe takes the next byte

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace pulsara::sim {

inline constexpr std::size_t kLogicSamples = 32768;
inline constexpr std::size_t kLogicBytes = kLogicSamples * 4;
// Memory index of the trigger sample for TOP, CENTER and LAST.
inline constexpr std::array<std::uint32_t, 3> kTriggerIndex = {24, 16378, 32728};
// Sample period of each rate index (15: the external clock, 1 MHz on this board).
inline constexpr std::array<std::uint64_t, 16> kRatePeriodNs = {
    10, 20, 40, 60, 80, 100, 120, 200, 260, 500, 1000, 2000, 10000, 100000, 1000000, 1000};
inline constexpr std::uint8_t kTriggerProbeHdl = 15;

struct LogicSettings {
    std::uint8_t rate = 0;      // register 0 bits 7-4
    std::uint8_t position = 0;  // register 0 bits 3-0; 3..15 act as TOP
    std::uint8_t condition = 0; // register 2 bits 7-6: rising, falling, high, low
    std::uint8_t probe = 0;     // register 2 bits 5-2; 15 (HDL) triggers on the first sample
};

class CaptureLogic {
public:
    // Called on every change of the mode lines (undriven lines read 0).
    void SetMode(int mode, std::uint64_t ns);
    // FWR#: the byte on the data bus goes to register 0 in mode 0, register 2 in mode 2.
    void WriteStrobe(std::uint8_t byte);
    // FRD#: in mode 6 the next memory byte (sample 0 first, little-endian), else 0xFF.
    [[nodiscard]] std::uint8_t ReadStrobe();
    // Mode 6: low after each unfilled 8-byte group. Otherwise high while the memory holds a
    // complete capture (during a capture: once it has completed).
    [[nodiscard]] bool StatusLine(std::uint64_t ns) const;

    [[nodiscard]] int mode() const { return mode_; }
    [[nodiscard]] const LogicSettings& settings() const { return settings_; }
    // When the running capture completes; nothing when none runs or its trigger never comes.
    [[nodiscard]] std::optional<std::uint64_t> CompletionNs() const;
    // The memory as last filled (zero before the first capture) and its unfilled groups.
    [[nodiscard]] const std::vector<std::uint32_t>& memory() const { return memory_; }
    [[nodiscard]] std::uint32_t unfilledGroups() const { return unfilled_; }

private:
    struct Run {
        std::uint64_t firstNs = 0;  // time of sample 0
        std::uint64_t periodNs = 0; // sample period
        LogicSettings settings;
        std::optional<std::uint64_t> triggerSample; // counted from sample 0
    };
    void Start(std::uint64_t ns);
    void Finish(std::uint64_t ns);

    int mode_ = 0;
    LogicSettings settings_;
    std::optional<Run> run_;
    bool complete_ = false;
    std::vector<std::uint32_t> memory_ = std::vector<std::uint32_t>(kLogicSamples, 0);
    std::uint32_t unfilled_ = 0;
    std::uint64_t reads_ = 0; // read strobes since mode 6 was entered
};

} // namespace pulsara::sim
