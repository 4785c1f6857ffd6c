#pragma once
// The simulated board: the EZ-USB chip, its boot EEPROM, the capture logic and the probes,
// wired as on the real board: port C 0-2 mode lines (chip outputs), port C 3 status line,
// port C 4-7 unused inputs (pulled low), FWR#/FRD# fast-transfer strobes over the data bus.

#include "sim/board/capture_logic.h"
#include "sim/ezusb/ezusb.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pulsara::sim {

// What the board holds at power-on.
enum class SimBoot {
    Old,     // EEPROM with our firmware answering product "V099": the host reloads it
    Current, // EEPROM with our firmware as it is: no reload
    Blank,   // no EEPROM: the chip's default device, without string descriptors
};

inline constexpr std::string_view kOldProductString = "V099";

// A boot EEPROM in the chip's "B2" format that loads `image` at 0 and starts it. With a
// `product` text, the image's product string "V100" is replaced by it (same length);
// nothing when the image holds no such string.
[[nodiscard]] std::optional<std::vector<std::uint8_t>>
BootEeprom(std::span<const std::uint8_t> image, std::string_view product = {});

// Board time: machine cycles of the chip (6 per microsecond) and nanoseconds.
[[nodiscard]] constexpr std::uint64_t CyclesToNs(std::uint64_t cycles) {
    return cycles * 500 / 3;
}
[[nodiscard]] constexpr std::uint64_t NsToCycles(std::uint64_t ns) {
    return (ns * 3 + 499) / 500;
}

class Board final : private EzusbBoard {
public:
    // Powers the board on. A firmware image that cannot be put into an EEPROM (none given
    // for Old/Current) leaves the chip blank; bootError() says why.
    Board(SimBoot boot, std::span<const std::uint8_t> firmware);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    [[nodiscard]] Ezusb& chip() { return chip_; }
    [[nodiscard]] CaptureLogic& logic() { return logic_; }
    [[nodiscard]] SimBoot boot() const { return boot_; }
    [[nodiscard]] const std::string& bootError() const { return bootError_; }
    // The board time at which the running capture completes, if it ever does.
    [[nodiscard]] std::optional<std::uint64_t> CaptureCompletionCycle() const;

private:
    std::uint8_t portPins(Port port, std::uint64_t cycle) override;
    void portChanged(Port port, std::uint8_t out, std::uint8_t oe, std::uint64_t cycle) override;
    std::uint8_t fastRead(std::uint64_t cycle) override;
    void fastWrite(std::uint8_t byte, std::uint64_t cycle) override;

    Ezusb chip_;
    CaptureLogic logic_;
    SimBoot boot_;
    std::string bootError_;
};

} // namespace pulsara::sim
