#pragma once
// The USB bus behind the libusb stand-in: simulated boards on ports 1..n of bus 1 and the
// host stack around them, which enumerates a board (bus reset, address, descriptors,
// configuration 1) once it has been on the bus for 20 ms, as the kernel does. A board that
// leaves the bus is gone for its open handles (LIBUSB_ERROR_NO_DEVICE); when it comes back
// it is a new device with a new address and the descriptors it answers now.
//
// Board time passes only during transfers and in Advance(): tests make their clock's
// sleeps call Advance(). Faults make chosen calls fail the way real cables do.
//
//   StandinBus bus;                       // libusb_init binds to the live bus
//   Board& board = bus.Plug(SimBoot::Old);
//   bus.Inject({StandinCall::BulkIn, 3, LIBUSB_ERROR_TIMEOUT});

#include "sim/board/board.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace pulsara::test {
using namespace pulsara::sim;

enum class StandinCall { Open, Control, BulkOut, BulkIn };

struct StandinFault {
    StandinCall call = StandinCall::Control;
    int nth = 1;         // the nth call of this kind from the moment of Inject, 1-based
    int error = 0;       // the LIBUSB_ERROR_* the call returns; 0: it succeeds, short
    int keepBytes = 0;   // bulk: how many bytes move before the call ends
    bool moves = false;  // control: the request reaches the board, then the status fails
    bool unplug = false; // the board leaves the bus for good at that moment
};

class StandinBus {
public:
    StandinBus();
    StandinBus(const StandinBus&) = delete;
    StandinBus& operator=(const StandinBus&) = delete;
    ~StandinBus();

    // Plugs in a board that has been on the bus long enough to be enumerated.
    Board& Plug(SimBoot boot);
    [[nodiscard]] Board& board(int port); // 1-based, as on the bus

    // Board time passes on every board; boards that come onto the bus are enumerated.
    void Advance(std::chrono::milliseconds duration);
    // Runs board `port` until its chip reaches board time `cycle`.
    void RunTo(int port, std::uint64_t cycle) { Settle(this->port(port), cycle); }
    // From now on boards that come onto the bus are never enumerated (a board that does
    // not come back after its firmware load).
    void RefuseEnumeration(bool refuse) { refuseEnumeration_ = refuse; }
    void Inject(StandinFault fault);
    [[nodiscard]] bool FaultsLeft() const { return !faults_.empty(); }

    // Resources the stand-in handed out and that are still outstanding.
    [[nodiscard]] int openHandles() const { return openHandles_; }
    [[nodiscard]] int deviceLists() const { return deviceLists_; }
    [[nodiscard]] int configDescriptors() const { return configDescriptors_; }
    // Every control and bulk call, one line each ("control 40 A0 7F92 len 1 -> 1").
    [[nodiscard]] const std::vector<std::string>& log() const { return log_; }

    // --- for the stand-in itself -------------------------------------------------------------
    struct Port;
    struct Device;
    static StandinBus* live();
    std::vector<Device*> Enumerated();
    // The fault due for this call, counting it; nullptr when none.
    const StandinFault* Due(StandinCall call);
    void Log(std::string line) { log_.push_back(std::move(line)); }
    void Settle(Port& port, std::uint64_t targetCycle);
    Port& port(int number) { return *ports_.at(static_cast<std::size_t>(number - 1)); }
    int openHandles_ = 0;
    int deviceLists_ = 0;
    int configDescriptors_ = 0;

private:
    void Enumerate(Port& port);

    std::vector<std::unique_ptr<Port>> ports_;
    std::vector<std::unique_ptr<Device>> devices_; // every device ever enumerated
    struct Pending {
        StandinFault fault;
        int seen = 0;
    };
    std::deque<Pending> faults_;
    bool refuseEnumeration_ = false;
    std::vector<std::string> log_;
    std::uint8_t nextAddress_ = 2;
};

} // namespace pulsara::test
