#pragma once
// Inside the usbfs testbed: the URBs and devices the handler keeps, and its state, shared
// by the port (usbfs_port.cpp: board time, enumeration, sysfs) and the ioctls
// (usbfs_ioctls.cpp). Every member runs under the mutex.

#include "usbfs_testbed.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace pulsara::test {

constexpr std::uint64_t kCyclesPerMs = kCyclesPerSecond / 1000;
// The host stack enumerates a device once its connection has been stable this long.
constexpr std::uint64_t kDebounceCycles = 20 * kCyclesPerMs;
// A board plugged in, or released to re-enumerate, is back within this much board time.
constexpr std::uint64_t kBootBudget = 4 * kCyclesPerSecond;
// Before a transfer, the firmware may take this long to finish what it was handed.
constexpr std::uint64_t kSettleCycles = 10 * kCyclesPerMs;
// A packet NAKed for this long stays NAKed until the host's own timeout discards the URB.
constexpr std::uint64_t kNakCycles = 200 * kCyclesPerMs;
// What a current kernel offers on a full-speed device behind xHCI (no mmap).
constexpr std::uint32_t kCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
    USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr std::uint8_t kGetDescriptor = 6, kSetAddress = 5, kSetConfiguration = 9;
constexpr int kBus = 1;

inline std::string Hex(unsigned long v, int width) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*lX", width, v);
    return text;
}

// A URB from SUBMITURB until it is reaped: the client's urb record and its buffer, copied
// into this process. Completing it writes status and length into the copy; the reap hands
// the client its pointer, and umockdev writes the copy back.
struct Urb {
    UMockdevIoctlData* record = nullptr; // owned
    UMockdevIoctlData* buffer = nullptr; // owned; null for a zero-length URB
    unsigned long clientAddress = 0;

    [[nodiscard]] usbdevfs_urb& urb() const {
        return *reinterpret_cast<usbdevfs_urb*>(record->data);
    }
    [[nodiscard]] std::span<std::uint8_t> bytes() const {
        return buffer ? std::span<std::uint8_t>(buffer->data,
                                                static_cast<std::size_t>(buffer->data_len))
                      : std::span<std::uint8_t>{};
    }
    void Finish(int status, int actual) const {
        urb().status = status;
        urb().actual_length = actual;
    }
    void Release() {
        if (buffer) {
            g_object_unref(buffer);
        }
        if (record) {
            g_object_unref(record);
        }
        buffer = record = nullptr;
    }
};

struct Device {
    int address = 0;
    std::uint32_t connection = 0;
    std::string devnode;
    std::string syspath;
    bool alive = true;
    UMockdevIoctlClient* claimant = nullptr; // the open file holding interface 0 (a ref)
    std::vector<std::uint8_t> deviceDescriptor;
    std::vector<std::uint8_t> configuration;
    std::deque<Urb> done;           // completed, waiting to be reaped
    std::vector<Urb> pending;       // NAKed, until the host discards them
    std::set<int> stoppedEndpoints; // a split transfer ended early on these
    int emptyReaps = 0;             // REAPURBNDELAY calls in a row that found nothing

    void Unclaim() {
        if (claimant) {
            g_object_unref(claimant);
            claimant = nullptr;
        }
    }
};

inline int ErrnoOf(UsbStatus status) {
    switch (status) {
    case UsbStatus::Ack:
        return 0;
    case UsbStatus::Stall:
        return -EPIPE;
    case UsbStatus::Timeout:
        return -ETIMEDOUT; // not reported: the URB stays pending
    case UsbStatus::NoDevice:
        return -ESHUTDOWN;
    case UsbStatus::NoResponse:
        return -EPROTO;
    case UsbStatus::Error:
        return -EOVERFLOW;
    }
    return -EIO;
}

struct UsbfsTestbed::State {
    std::mutex mutex;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::unique_ptr<Board> board;
    SimBoot boot = SimBoot::Old;

    // The host stack's view of the port.
    std::uint32_t connection = 0;
    std::uint64_t connectedAt = 0;
    bool enumerationTried = false;
    int nextAddress = 2;
    int enumerations = 0;
    std::vector<std::unique_ptr<Device>> devices; // every device that ever appeared
    Device* current = nullptr;

    struct Pending {
        UrbFault fault;
        int seen = 0;
    };
    std::deque<Pending> faults;
    SysfsQuirk quirk;
    bool refuseEnumeration = false;
    bool scatterGather = true;
    std::vector<std::string> log;
    std::vector<std::string> unknown;

    // --- the port ------------------------------------------------------------------------
    Ezusb& chip() { return board->chip(); }
    void Track();
    void RunTo(std::uint64_t target);

    // A board off the bus that will come back (re-enumerating) is back at once.
    void ComeBack();
    void Reenumerate(std::uint32_t connectionBefore);

    // Board time jumps as the simulator's speed 0 makes it: the firmware finishes what it
    // was handed, and a running capture is complete when the host next looks.
    void CatchUp();
    void Enumerate();

    // The device as the kernel publishes it: sysfs attributes, udev properties, its node.
    void Appear(Device& d);

    // The device is off the bus: URBs in flight end as the kernel ends them on a
    // disconnect, the node answers ENODEV, sysfs forgets it.
    void Leave(Device& d);

    // --- faults --------------------------------------------------------------------------
    std::optional<UrbFault> Due(UrbKind kind);

    // --- the ioctls ----------------------------------------------------------------------
    Device* DeviceAt(const char* devnode);

    static UMockdevIoctlData* Resolve(UMockdevIoctlData* data, std::size_t offset,
                                      std::size_t length);

    void Handle(UMockdevIoctlClient* client);

    void Reap(Device& d, UMockdevIoctlData* arg, UMockdevIoctlClient* client);

    void Submit(Device& d, UMockdevIoctlData* arg, UMockdevIoctlClient* client);

    static std::string Describe(const Urb& urb, bool pending);

    // Pulls the cable at the fault's moment.
    void PullCable();

    // True when the URB stays pending (NAKed).
    bool Control(Urb& urb);

    bool Bulk(Urb& urb);
};

} // namespace pulsara::test
