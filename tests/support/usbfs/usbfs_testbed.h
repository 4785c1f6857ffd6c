#pragma once
// A umockdev testbed holding one simulated board on port 1 of bus 1, as the kernel shows a
// USB device: a sysfs directory (busnum, devnum, speed, descriptors, bConfigurationValue,
// udev properties) and a usbfs node /dev/bus/usb/001/DDD whose ioctls (SUBMITURB,
// REAPURBNDELAY, DISCARDURB, CLAIMINTERFACE, ...) the emulated chip serves. Debian's
// libusb-1.0 runs unchanged against it, in this process or in a child started with the
// same environment (LD_PRELOAD=libumockdev-preload.so and UMOCKDEV_DIR).
//
// Board time passes only while the chip serves a transfer, and jumps as the simulator's
// speed 0 does: before each transfer the firmware finishes what it was handed, and a
// running capture completes. When the board drops off the bus (its firmware released, or
// the cable pulled) the device leaves the testbed; when it connects again the host stack
// enumerates it after 20 ms of board time and it appears with a new address and the
// descriptors it answers now, with "remove" and "add" uevents as the kernel sends them.
//
//   UsbfsTestbed bed;
//   bed.Plug(SimBoot::Old);
//   bed.Inject({.urb = UrbKind::BulkIn, .nth = 2, .keepBytes = 640});   // a short read
//   LibusbDriver driver;   // sees 0547:2131 at bus 001 port 1

#include "sim/board/board.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pulsara::test {
using namespace pulsara::sim;

enum class UrbKind { Control, BulkOut, BulkIn };

// What happens to the nth URB of a kind (counted from the moment of Inject, 1-based).
struct UrbFault {
    UrbKind urb = UrbKind::Control;
    int nth = 1;
    enum class Then {
        Short,   // the transfer ends after keepBytes, as a short or zero-length packet ends it
        Stall,   // the endpoint stalls after keepBytes (-EPIPE)
        Hang,    // the device NAKs after keepBytes until the host gives up (libusb's timeout)
        Unplug,  // the cable is pulled after keepBytes: -ESHUTDOWN, the device leaves
        Babble,  // the device sends more than was asked for (-EOVERFLOW)
        Garbage, // the device answers keepBytes of 0xEE, whatever was asked
        Lost,    // control: the request is carried out, its status stage is lost (-EPROTO)
    } then = Then::Short;
    int keepBytes = 0;
};

// What the kernel would say about the device when it appears.
struct SysfsQuirk {
    int descriptorsCut = -1;   // the descriptors attribute holds only this many bytes
    int configLength = -1;     // wTotalLength of the configuration descriptor as read
    bool unconfigured = false; // no configuration chosen yet (bConfigurationValue empty)
};

class UsbfsTestbed {
public:
    UsbfsTestbed();
    UsbfsTestbed(const UsbfsTestbed&) = delete;
    UsbfsTestbed& operator=(const UsbfsTestbed&) = delete;
    ~UsbfsTestbed();

    // A board that has been on the bus long enough to be enumerated.
    void Plug(SimBoot boot);
    // The cable pulled: URBs in flight end with -ESHUTDOWN, the device node answers
    // ENODEV, and the device leaves sysfs.
    void Unplug();
    // A new board of the same kind on the same port, powered on afresh.
    void Replug();
    // Runs the board until its chip reaches board time `cycle`.
    void RunTo(std::uint64_t cycle);
    void Inject(UrbFault fault);
    // From now on a board that comes onto the bus is never enumerated.
    void RefuseEnumeration(bool refuse);
    void SetQuirk(SysfsQuirk quirk);
    // Without scatter-gather (a host controller that lacks it) libusb splits a bulk
    // transfer into URBs of 16 KiB, each after the first a continuation of the one before.
    void SetScatterGather(bool available);
    [[nodiscard]] bool FaultsLeft();

    // The board (tests read its sample memory); only while no transfer runs.
    [[nodiscard]] Board& board();
    [[nodiscard]] std::string devnode();
    [[nodiscard]] int enumerations();
    // Every URB served, one line each ("bulk in 82 len 131072 -> 0 moved 131072").
    [[nodiscard]] std::vector<std::string> log();
    // usbfs ioctls that the handler did not know (request numbers in hex).
    [[nodiscard]] std::vector<std::string> unknownIoctls();

    struct State;

private:
    std::unique_ptr<State> state_;
};

// umockdev's preload must be in place when a process starts: without it, starts this
// program again with it (and returns only when it already runs under it, or cannot).
// Children inherit it, and the testbed's UMOCKDEV_DIR.
void StartUnderUmockdev(char** argv);

} // namespace pulsara::test
