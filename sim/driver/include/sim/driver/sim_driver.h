#pragma once
// The simulated boards as an EzusbDriver backend: instances 0..N-1, each our firmware on
// the emulated chip. The five I/O controls become what the vendor driver does on the bus:
// 0xA0 control transfers, GET_DESCRIPTOR for strings, bulk pipe n = the n-th endpoint of
// the board's interface. No threads: each call runs the chip as long as it needs.
//
// Board time follows the wall clock times `speed` between calls (speed 0: it stands still,
// except that a running capture completes as soon as it is polled and a re-enumerating
// board is back as soon as it is opened). A board first seen has long been plugged in: it
// has booted and been enumerated.
//
//   SystemClock clock;
//   SimDriver driver{{.boards = 1, .boot = SimBoot::Old, .speed = 1.0}, clock};
//   DeviceLink link{driver, std::cout, SimLockDirectory()};

#include "device/clock.h"
#include "device/ezusb_driver.h"
#include "sim/board/board.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pulsara::sim {

[[nodiscard]] std::optional<SimBoot> ParseSimBoot(std::string_view text); // old|current|blank
[[nodiscard]] std::string_view SimBootName(SimBoot boot);

inline constexpr int kMaxSimBoards = kMaxInstances;

struct SimOptions {
    int boards = 1; // 1..8
    SimBoot boot = SimBoot::Old;
    double speed = 1.0; // board seconds per wall second; 0: no waiting
    // Every board leaves the bus (its cable pulled) this long after it was first looked at,
    // in board time; negative: never.
    std::int64_t unplugAfterMs = -1;
};

// Claims of simulated boards live apart from real boards' (a subdirectory of the default
// lock directory), so a copy on the simulator never blocks one on a real board.
[[nodiscard]] std::filesystem::path SimLockDirectory();

class SimDriver final : public EzusbDriver {
public:
    // wallClock: the real SystemClock in the programs; tests pass a virtual one, or use
    // speed 0 and drive board time by hand with RunBoard.
    SimDriver(SimOptions options, Clock& wallClock);
    SimDriver(const SimDriver&) = delete;
    SimDriver& operator=(const SimDriver&) = delete;
    ~SimDriver() override;

    [[nodiscard]] DriverHandle Open(int instance) override;
    void Close(DriverHandle handle) override;
    IoResult IoControl(DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output) override;
    [[nodiscard]] std::string DescribeInstance(int instance) override;
    // Why a call failed when the board was off the bus or the handle dead; transfers the
    // firmware did not answer report nothing here.
    [[nodiscard]] std::string TakeError() override { return std::exchange(error_, {}); }

    // --- tests and tools ------------------------------------------------------------------
    [[nodiscard]] const SimOptions& options() const { return options_; }
    // Board n, booted and enumerated (n must be below options().boards).
    [[nodiscard]] Board& board(int instance);
    // Runs board n for `cycles` more of board time, whatever the wall clock says,
    // enumerating it whenever it comes onto the bus.
    void RunBoard(int instance, std::uint64_t cycles);
    // Pulls board n's cable when its board time reaches `cycle` (at once when it has
    // passed): a transfer under way then fails, and the board is gone until Replug.
    void UnplugAt(int instance, std::uint64_t cycle);
    // Plugs board n in again: it powers on afresh (boots from its EEPROM and is enumerated);
    // handles to it from before are dead.
    void Replug(int instance);

private:
    struct Slot;
    Slot* SlotFor(int instance);
    void Settle(Slot& slot);
    void CatchUp(Slot& slot);
    // False when it stopped after emulating maxEmulated cycles without reaching the target.
    bool RunTo(Slot& slot, std::uint64_t targetCycle,
               std::uint64_t maxEmulated = std::numeric_limits<std::uint64_t>::max());
    bool Enumerate(Slot& slot);
    // Pulls the cable once the unplug cycle has come; true when the board is off the bus.
    bool UnplugDue(Slot& slot);
    IoResult VendorRequest(Slot& slot, std::span<const std::uint8_t> input,
                           std::span<std::uint8_t> output);
    IoResult AnchorDownload(Slot& slot, std::span<const std::uint8_t> image);
    IoResult StringDescriptor(Slot& slot, std::span<const std::uint8_t> input,
                              std::span<std::uint8_t> output);
    IoResult Bulk(Slot& slot, bool toDevice, std::span<const std::uint8_t> input,
                  std::span<std::uint8_t> output);

    SimOptions options_;
    Clock& wall_;
    std::vector<std::unique_ptr<Slot>> slots_;
    struct OpenHandle {
        int instance = 0;
        std::uint32_t connection = 0; // the chip's connect count at the open
    };
    std::map<DriverHandle, OpenHandle> open_;
    DriverHandle nextHandle_ = 1;
    std::string error_;
    void NoteError(std::string text) {
        if (error_.empty()) {
            error_ = std::move(text);
        }
    }
};

} // namespace pulsara::sim
