// The usbfs side of the kernel for one simulated board, served through umockdev's ioctl
// handler. The handler runs on umockdev's own thread; every entry point takes the mutex.

#include "usbfs_testbed.h"

#include "firmware/image.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <thread>

#include <unistd.h>

namespace pulsara::test {
namespace {

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

std::string Hex(unsigned long v, int width) {
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
    std::deque<Urb> done;     // completed, waiting to be reaped
    std::vector<Urb> pending; // NAKed, until the host discards them

    void Unclaim() {
        if (claimant) {
            g_object_unref(claimant);
            claimant = nullptr;
        }
    }
};

int ErrnoOf(UsbStatus status) {
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

} // namespace

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
    std::vector<std::string> log;
    std::vector<std::string> unknown;

    // --- the port ------------------------------------------------------------------------
    Ezusb& chip() { return board->chip(); }

    void Track() {
        Ezusb& c = chip();
        if (current && !(c.connected() && c.connectCount() == current->connection)) {
            Leave(*current);
        }
        if (c.connected() && connection != c.connectCount()) {
            connection = c.connectCount();
            connectedAt = c.cycles();
            enumerationTried = false;
        }
    }

    void RunTo(std::uint64_t target) {
        Ezusb& c = chip();
        while (c.cycles() < target) {
            Track();
            const bool waiting = c.connected() && !enumerationTried;
            if (waiting && c.cycles() - connectedAt >= kDebounceCycles) {
                Enumerate();
                continue;
            }
            std::uint64_t left = target - c.cycles();
            if (waiting) {
                left = std::min(left, connectedAt + kDebounceCycles - c.cycles());
            }
            if (!waiting && c.skipIdleLoop(left) > 0) {
                continue;
            }
            (void)c.run(std::min(left, kCyclesPerMs));
        }
        Track();
    }

    // A board off the bus that will come back (re-enumerating) is back at once.
    void ComeBack() {
        Ezusb& c = chip();
        const std::uint64_t end = c.cycles() + kBootBudget;
        while (!current && c.cableAttached() && !c.cpuHeld() && c.cycles() < end &&
               !(enumerationTried && c.connected())) {
            RunTo(c.cycles() + kCyclesPerMs);
        }
    }

    void Reenumerate(std::uint32_t connectionBefore) {
        Ezusb& c = chip();
        const std::uint64_t end = c.cycles() + kBootBudget;
        while (c.cycles() < end && c.cableAttached() &&
               !(current && c.connectCount() != connectionBefore)) {
            RunTo(c.cycles() + kCyclesPerMs);
        }
    }

    // Board time jumps as the simulator's speed 0 makes it: the firmware finishes what it
    // was handed, and a running capture is complete when the host next looks.
    void CatchUp() {
        Ezusb& c = chip();
        const std::uint64_t end = c.cycles() + kSettleCycles;
        while (c.cycles() < end) {
            const std::uint64_t before = c.cycles();
            if (c.skipIdleLoop(kCyclesPerMs) > 0 || c.cycles() == before) {
                break;
            }
        }
        Track();
        const auto done = board->CaptureCompletionCycle();
        if (board->logic().mode() == 4 && done && *done > c.cycles()) {
            RunTo(*done);
        }
    }

    void Enumerate() {
        enumerationTried = true;
        if (refuseEnumeration) {
            return;
        }
        Ezusb& c = chip();
        c.busReset();
        const auto device = c.controlTransfer({0x80, kGetDescriptor, 0x0100, 0, 18});
        if (!device.ok() || device.data.size() < 18) {
            return;
        }
        const int address = nextAddress;
        nextAddress = nextAddress % 127 + 1;
        if (!c.controlTransfer({0x00, kSetAddress, static_cast<std::uint16_t>(address), 0, 0})
                 .ok()) {
            return;
        }
        const auto head = c.controlTransfer({0x80, kGetDescriptor, 0x0200, 0, 9});
        if (!head.ok() || head.data.size() < 4) {
            return;
        }
        const auto total = static_cast<std::uint16_t>(head.data[2] | (head.data[3] << 8));
        const auto config = c.controlTransfer({0x80, kGetDescriptor, 0x0200, 0, total});
        if (!config.ok() || !c.controlTransfer({0x00, kSetConfiguration, 1, 0, 0}).ok()) {
            return;
        }
        auto d = std::make_unique<Device>();
        d->address = address;
        d->connection = c.connectCount();
        d->deviceDescriptor = device.data;
        d->configuration = config.data;
        current = d.get();
        devices.push_back(std::move(d));
        ++enumerations;
        Appear(*current);
    }

    // The device as the kernel publishes it: sysfs attributes, udev properties, its node.
    void Appear(Device& d) {
        const auto& dd = d.deviceDescriptor;
        char node[32];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", kBus, d.address);
        d.devnode = node;
        const std::string vendor = Hex(static_cast<unsigned>(dd[8] | (dd[9] << 8)), 4);
        const std::string product = Hex(static_cast<unsigned>(dd[10] | (dd[11] << 8)), 4);
        const std::string bcd = Hex(static_cast<unsigned>(dd[12] | (dd[13] << 8)), 4);
        const std::string devnum = std::to_string(d.address);
        char devnum3[8];
        std::snprintf(devnum3, sizeof devnum3, "%03d", d.address);
        const std::string minor = std::to_string((kBus - 1) * 128 + d.address - 1);
        std::string lowerVendor = vendor, lowerProduct = product;
        for (auto* s : {&lowerVendor, &lowerProduct}) {
            std::transform(s->begin(), s->end(), s->begin(), [](char ch) {
                return static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            });
        }
        const std::string productProperty =
            std::to_string(std::strtoul(vendor.c_str(), nullptr, 16)) + "/" +
            std::to_string(std::strtoul(product.c_str(), nullptr, 16));
        // Text attributes end in a newline, as the kernel writes them.
        const std::string dev = "189:" + minor;
        const std::vector<std::pair<std::string, std::string>> text = {
            {"busnum", std::to_string(kBus)},
            {"devnum", devnum},
            {"devpath", "1"},
            {"speed", "12"},
            {"idVendor", lowerVendor},
            {"idProduct", lowerProduct},
            {"bcdDevice", bcd},
            {"bConfigurationValue", quirk.unconfigured ? "" : "1"},
            {"bNumConfigurations", "1"},
            {"maxchild", "0"},
        };
        std::vector<std::string> lines;
        std::vector<const gchar*> attributes = {"dev", dev.c_str()};
        for (const auto& [name, value] : text) {
            lines.push_back(value.empty() ? value : value + "\n"); // empty: nothing at all
        }
        for (std::size_t i = 0; i < text.size(); ++i) {
            attributes.push_back(text[i].first.c_str());
            attributes.push_back(lines[i].c_str());
        }
        attributes.push_back(nullptr);
        const gchar* properties[] = {"DEVNAME", node,
                                     "DEVTYPE", "usb_device",
                                     "BUSNUM",  "001",
                                     "DEVNUM",  devnum3,
                                     "MAJOR",   "189",
                                     "MINOR",   minor.c_str(),
                                     "PRODUCT", productProperty.c_str(),
                                     nullptr};
        GError* error = nullptr;
        if (!umockdev_testbed_attach_ioctl(testbed, node, handler, &error)) {
            const std::string what = error ? error->message : "?";
            g_clear_error(&error);
            throw std::runtime_error("umockdev cannot serve " + d.devnode + ": " + what);
        }
        gchar* syspath = umockdev_testbed_add_devicev(testbed, "usb", "1-1", nullptr,
                                                      const_cast<gchar**>(attributes.data()),
                                                      const_cast<gchar**>(properties));
        d.syspath = syspath ? syspath : "";
        g_free(syspath);
        // The node itself: a plain file, as umockdev makes them for USB devices.
        gchar* root = umockdev_testbed_get_root_dir(testbed);
        const std::filesystem::path file = std::filesystem::path(root) / d.devnode.substr(1);
        g_free(root);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream{file};
        std::vector<std::uint8_t> descriptors = d.deviceDescriptor;
        std::vector<std::uint8_t> config = d.configuration;
        if (quirk.configLength >= 0 && config.size() >= 4) {
            config[2] = static_cast<std::uint8_t>(quirk.configLength & 0xFF);
            config[3] = static_cast<std::uint8_t>(quirk.configLength >> 8);
        }
        descriptors.insert(descriptors.end(), config.begin(), config.end());
        if (quirk.descriptorsCut >= 0) {
            descriptors.resize(
                std::min(descriptors.size(), static_cast<std::size_t>(quirk.descriptorsCut)));
        }
        umockdev_testbed_set_attribute_binary(testbed, d.syspath.c_str(), "descriptors",
                                              descriptors.data(),
                                              static_cast<gint>(descriptors.size()));
        // add_devicev announced the device before its descriptors were there: announce it
        // again (libusb ignores an add for a device it already holds).
        umockdev_testbed_uevent(testbed, d.syspath.c_str(), "add");
    }

    // The device is off the bus: URBs in flight end as the kernel ends them on a
    // disconnect, the node answers ENODEV, sysfs forgets it.
    void Leave(Device& d) {
        if (!d.alive) {
            return;
        }
        d.alive = false;
        for (Urb& urb : d.pending) {
            urb.Finish(-ESHUTDOWN, urb.urb().actual_length);
            d.done.push_back(urb);
        }
        d.pending.clear();
        if (current == &d) {
            current = nullptr;
        }
        if (!d.syspath.empty()) {
            umockdev_testbed_uevent(testbed, d.syspath.c_str(), "remove");
            umockdev_testbed_remove_device(testbed, d.syspath.c_str());
        }
        gchar* root = umockdev_testbed_get_root_dir(testbed);
        std::error_code ec;
        std::filesystem::remove(std::filesystem::path(root) / d.devnode.substr(1), ec);
        g_free(root);
    }

    // --- faults --------------------------------------------------------------------------
    std::optional<UrbFault> Due(UrbKind kind) {
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if (it->fault.urb == kind && ++it->seen == it->fault.nth) {
                const UrbFault fault = it->fault;
                faults.erase(it);
                return fault;
            }
        }
        return std::nullopt;
    }

    // --- the ioctls ----------------------------------------------------------------------
    Device* DeviceAt(const char* devnode) {
        for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
            if ((*it)->devnode == devnode) {
                return it->get();
            }
        }
        return nullptr;
    }

    static UMockdevIoctlData* Resolve(UMockdevIoctlData* data, std::size_t offset,
                                      std::size_t length) {
        GError* error = nullptr;
        UMockdevIoctlData* child = umockdev_ioctl_data_resolve(data, offset, length, &error);
        g_clear_error(&error);
        return child;
    }

    void Handle(UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        Device* d = DeviceAt(umockdev_ioctl_client_get_devnode(client));
        const auto complete = [&](long result, int error) {
            umockdev_ioctl_client_complete(client, result, error);
        };
        if (!d) {
            complete(-1, ENODEV);
            return;
        }
        // Reaping works after a disconnect; everything else answers ENODEV.
        if (!d->alive && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB &&
            request != USBDEVFS_DISCARDURB) {
            complete(-1, ENODEV);
            return;
        }
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps = Resolve(arg, 0, sizeof(std::uint32_t));
            if (!caps) {
                complete(-1, EFAULT);
                return;
            }
            std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
            complete(0, 0);
            g_object_unref(caps);
            return;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM: {
            UMockdevIoctlData* number = Resolve(arg, 0, sizeof(unsigned int));
            if (!number) {
                complete(-1, EFAULT);
                return;
            }
            unsigned int interface = 0;
            std::memcpy(&interface, number->data, sizeof interface);
            g_object_unref(number);
            if (interface != 0) {
                complete(-1, ENOENT);
                return;
            }
            // One open file at a time holds an interface; a closed one lets go of it.
            const bool held = d->claimant && d->claimant != client &&
                              umockdev_ioctl_client_get_connected(d->claimant);
            if (request == USBDEVFS_RELEASEINTERFACE) {
                if (d->claimant == client) {
                    d->Unclaim();
                }
                complete(0, 0);
                return;
            }
            if (held) {
                complete(-1, EBUSY);
                return;
            }
            if (d->claimant != client) {
                d->Unclaim();
                d->claimant = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
            }
            complete(0, 0);
            return;
        }
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL: // connect/disconnect a kernel driver: none is bound
            complete(-1, ENODATA);
            return;
        case USBDEVFS_SETCONFIGURATION: {
            UMockdevIoctlData* value = Resolve(arg, 0, sizeof(unsigned int));
            unsigned int config = 0;
            if (value) {
                std::memcpy(&config, value->data, sizeof config);
                g_object_unref(value);
            }
            const auto r = chip().controlTransfer(
                {0x00, kSetConfiguration, static_cast<std::uint16_t>(config), 0, 0});
            if (r.ok()) {
                const std::string value = std::to_string(config) + "\n";
                umockdev_testbed_set_attribute(testbed, d->syspath.c_str(), "bConfigurationValue",
                                               value.c_str());
                log.push_back("set configuration " + std::to_string(config));
            }
            complete(r.ok() ? 0 : -1, r.ok() ? 0 : EPIPE);
            return;
        }
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
        case USBDEVFS_RESET:
            complete(0, 0);
            return;
        case USBDEVFS_SUBMITURB:
            Submit(*d, arg, complete);
            return;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            Reap(*d, arg, complete);
            return;
        case USBDEVFS_DISCARDURB: {
            unsigned long address = 0;
            std::memcpy(&address, arg->data, sizeof address);
            const auto it = std::find_if(d->pending.begin(), d->pending.end(),
                                         [&](const Urb& u) { return u.clientAddress == address; });
            if (it == d->pending.end()) {
                complete(-1, EINVAL); // done already: the reap brings it
                return;
            }
            it->Finish(-ENOENT, it->urb().actual_length);
            d->done.push_back(*it);
            d->pending.erase(it);
            complete(0, 0);
            return;
        }
        default:
            unknown.push_back(Hex(request, 8));
            complete(-1, ENOTTY);
            return;
        }
    }

    template <typename Complete> void Reap(Device& d, UMockdevIoctlData* arg, Complete complete) {
        if (d.done.empty()) {
            if (!d.alive && d.pending.empty()) {
                complete(-1, ENODEV);
                return;
            }
            // libusb polls the node, which never blocks here: keep its spinning slow.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            complete(-1, EAGAIN);
            return;
        }
        Urb urb = d.done.front();
        d.done.pop_front();
        UMockdevIoctlData* slot = Resolve(arg, 0, sizeof(void*));
        if (!slot) {
            urb.Release();
            complete(-1, EFAULT);
            return;
        }
        umockdev_ioctl_data_set_ptr(slot, 0, urb.record);
        complete(0, 0);
        g_object_unref(slot);
        urb.Release();
    }

    template <typename Complete> void Submit(Device& d, UMockdevIoctlData* arg, Complete complete) {
        Urb urb;
        urb.record = Resolve(arg, 0, sizeof(usbdevfs_urb));
        if (!urb.record) {
            complete(-1, EFAULT);
            return;
        }
        urb.clientAddress = urb.record->client_addr;
        const usbdevfs_urb head = urb.urb();
        if (head.buffer_length < 0) {
            urb.Release();
            complete(-1, EINVAL);
            return;
        }
        if (head.buffer_length > 0) {
            urb.buffer = Resolve(urb.record, offsetof(usbdevfs_urb, buffer),
                                 static_cast<std::size_t>(head.buffer_length));
            if (!urb.buffer) {
                urb.Release();
                complete(-1, EFAULT);
                return;
            }
        }
        if (head.type == USBDEVFS_URB_TYPE_CONTROL && head.buffer_length < 8) {
            urb.Release();
            complete(-1, EINVAL);
            return;
        }
        if (head.type != USBDEVFS_URB_TYPE_CONTROL && head.type != USBDEVFS_URB_TYPE_BULK &&
            head.type != USBDEVFS_URB_TYPE_INTERRUPT) {
            urb.Release();
            complete(-1, EINVAL);
            return;
        }
        CatchUp();
        const bool wasHeld = chip().cpuHeld();
        const std::uint32_t connectionBefore = chip().connectCount();
        const bool pending = head.type == USBDEVFS_URB_TYPE_CONTROL ? Control(urb) : Bulk(urb);
        if (pending) {
            d.pending.push_back(urb);
        } else {
            d.done.push_back(urb);
        }
        log.push_back(Describe(urb, pending));
        // A board whose 8051 was just released drops off the bus to re-enumerate with its
        // new firmware: it is back before the host looks.
        if (wasHeld && !chip().cpuHeld()) {
            Reenumerate(connectionBefore);
        }
        Track();
        ComeBack();
        complete(0, 0);
    }

    static std::string Describe(const Urb& urb, bool pending) {
        const usbdevfs_urb& u = urb.urb();
        std::string line;
        if (u.type == USBDEVFS_URB_TYPE_CONTROL) {
            const auto b = urb.bytes();
            line = "control " + Hex(b[0], 2) + " " + Hex(b[1], 2) + " " +
                   Hex(static_cast<unsigned>(b[2] | (b[3] << 8)), 4) + " len " +
                   std::to_string(b[6] | (b[7] << 8));
        } else {
            line = std::string((u.endpoint & 0x80) ? "bulk in " : "bulk out ") +
                   Hex(u.endpoint, 2) + " len " + std::to_string(u.buffer_length);
        }
        return line + " -> " + (pending ? "pending" : std::to_string(u.status)) + " moved " +
               std::to_string(u.actual_length);
    }

    // Pulls the cable at the fault's moment.
    void PullCable() {
        chip().setCableAttached(false);
        Track();
    }

    // True when the URB stays pending (NAKed).
    bool Control(Urb& urb) {
        const auto b = urb.bytes();
        const UsbSetup setup{b[0], b[1], static_cast<std::uint16_t>(b[2] | (b[3] << 8)),
                             static_cast<std::uint16_t>(b[4] | (b[5] << 8)),
                             static_cast<std::uint16_t>(b[6] | (b[7] << 8))};
        const bool in = (setup.bmRequestType & 0x80) != 0;
        const std::size_t room = b.size() - 8;
        if (setup.wLength > room) {
            urb.Finish(-EINVAL, 0);
            return false;
        }
        const auto fault = Due(UrbKind::Control);
        if (fault && fault->then == UrbFault::Then::Hang) {
            urb.Finish(0, 0);
            return true;
        }
        if (fault && fault->then == UrbFault::Then::Unplug) {
            PullCable();
            urb.Finish(-ESHUTDOWN, 0);
            return false;
        }
        if (fault && fault->then == UrbFault::Then::Stall) {
            urb.Finish(-EPIPE, 0);
            return false;
        }
        if (fault && fault->then == UrbFault::Then::Babble) {
            urb.Finish(-EOVERFLOW, 0);
            return false;
        }
        if (fault && fault->then == UrbFault::Then::Garbage && in) {
            const std::size_t n =
                std::min<std::size_t>(setup.wLength, static_cast<std::size_t>(fault->keepBytes));
            std::fill_n(b.begin() + 8, n, std::uint8_t{0xEE});
            urb.Finish(0, static_cast<int>(n));
            return false;
        }
        const UsbResult r = chip().controlTransfer(
            setup, in ? std::span<const std::uint8_t>{} : b.subspan(8, setup.wLength), kNakCycles);
        if (r.status == UsbStatus::Timeout) {
            urb.Finish(0, 0);
            return true;
        }
        if (!r.ok()) {
            urb.Finish(ErrnoOf(r.status), 0);
            return false;
        }
        if (fault && fault->then == UrbFault::Then::Lost) {
            urb.Finish(-EPROTO, 0);
            return false;
        }
        std::size_t n = in ? std::min<std::size_t>(r.data.size(), setup.wLength) : setup.wLength;
        if (fault && fault->then == UrbFault::Then::Short) {
            n = std::min(n, static_cast<std::size_t>(fault->keepBytes));
        }
        if (in) {
            std::copy_n(r.data.begin(), n, b.begin() + 8);
        }
        urb.Finish(0, static_cast<int>(n));
        return false;
    }

    bool Bulk(Urb& urb) {
        const usbdevfs_urb& u = urb.urb();
        const bool in = (u.endpoint & 0x80) != 0;
        const int ep = u.endpoint & 0x0F;
        const auto b = urb.bytes();
        const int length = u.buffer_length;
        const auto fault = Due(in ? UrbKind::BulkIn : UrbKind::BulkOut);
        const int limit = fault ? std::min(length, fault->keepBytes) : length;
        int moved = 0;
        int status = 0;
        bool nak = false;
        if (fault && fault->then == UrbFault::Then::Garbage && in) {
            std::fill_n(b.begin(), limit, std::uint8_t{0xEE});
            urb.Finish(0, limit);
            return false;
        }
        for (;;) {
            if (fault && moved >= limit) {
                break;
            }
            if (in) {
                const UsbResult p = chip().bulkIn(ep, kNakCycles);
                if (p.status == UsbStatus::Timeout) {
                    nak = true;
                    break;
                }
                if (!p.ok()) {
                    status = ErrnoOf(p.status);
                    break;
                }
                if (p.data.size() > static_cast<std::size_t>(length - moved)) {
                    status = -EOVERFLOW; // the device sent more than was asked for
                    break;
                }
                std::copy(p.data.begin(), p.data.end(), b.begin() + moved);
                moved += static_cast<int>(p.data.size());
                if (p.data.size() < kEndpointPacketSize) {
                    break; // a short packet ends the transfer
                }
            } else {
                const int n = std::min<int>(length - moved, kEndpointPacketSize);
                const UsbResult p = chip().bulkOut(
                    ep,
                    std::span<const std::uint8_t>(b.data() + moved, static_cast<std::size_t>(n)),
                    kNakCycles);
                if (p.status == UsbStatus::Timeout) {
                    nak = true;
                    break;
                }
                if (!p.ok()) {
                    status = ErrnoOf(p.status);
                    break;
                }
                moved += n;
            }
            if (moved >= length) {
                break;
            }
        }
        if (status == -ESHUTDOWN) {
            Track();
        }
        if (fault && status == 0 && !nak) {
            switch (fault->then) {
            case UrbFault::Then::Short:
            case UrbFault::Then::Garbage:
                break;
            case UrbFault::Then::Lost:
                status = -EPROTO;
                break;
            case UrbFault::Then::Stall:
                status = -EPIPE;
                break;
            case UrbFault::Then::Hang:
                nak = true;
                break;
            case UrbFault::Then::Unplug:
                PullCable();
                status = -ESHUTDOWN;
                break;
            case UrbFault::Then::Babble:
                status = -EOVERFLOW;
                break;
            }
        }
        if (in && status == 0 && !nak && moved < length && (u.flags & USBDEVFS_URB_SHORT_NOT_OK)) {
            status = -EREMOTEIO;
        }
        urb.Finish(nak ? 0 : status, moved);
        return nak;
    }
};

namespace {

gboolean OnIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client, gpointer self) {
    auto* state = static_cast<UsbfsTestbed::State*>(self);
    const std::lock_guard lock(state->mutex);
    state->Handle(client);
    return TRUE;
}

} // namespace

UsbfsTestbed::UsbfsTestbed() : state_(std::make_unique<State>()) {
    state_->testbed = umockdev_testbed_new();
    state_->handler = umockdev_ioctl_base_new();
    g_signal_connect(state_->handler, "handle-ioctl", G_CALLBACK(OnIoctl), state_.get());
}

UsbfsTestbed::~UsbfsTestbed() {
    {
        const std::lock_guard lock(state_->mutex);
        for (auto& d : state_->devices) {
            for (Urb& urb : d->done) {
                urb.Release();
            }
            for (Urb& urb : d->pending) {
                urb.Release();
            }
            d->done.clear();
            d->pending.clear();
            d->Unclaim();
        }
    }
    g_object_unref(state_->testbed);
    g_object_unref(state_->handler);
}

void UsbfsTestbed::Plug(SimBoot boot) {
    const std::lock_guard lock(state_->mutex);
    State& s = *state_;
    s.boot = boot;
    s.board = std::make_unique<Board>(boot, FirmwareImage());
    s.connection = 0;
    s.enumerationTried = false;
    const std::uint64_t end = s.chip().cycles() + kBootBudget;
    while (!s.current && !(s.enumerationTried && s.chip().connected()) && s.chip().cycles() < end) {
        s.RunTo(s.chip().cycles() + kCyclesPerMs);
    }
}

void UsbfsTestbed::Unplug() {
    const std::lock_guard lock(state_->mutex);
    if (state_->board) {
        state_->PullCable();
    }
}

void UsbfsTestbed::Replug() {
    SimBoot boot{};
    {
        const std::lock_guard lock(state_->mutex);
        if (state_->current) {
            state_->Leave(*state_->current);
        }
        boot = state_->boot;
    }
    Plug(boot);
}

void UsbfsTestbed::RunTo(std::uint64_t cycle) {
    const std::lock_guard lock(state_->mutex);
    state_->RunTo(cycle);
}

void UsbfsTestbed::Inject(UrbFault fault) {
    const std::lock_guard lock(state_->mutex);
    state_->faults.push_back({fault, 0});
}

void UsbfsTestbed::RefuseEnumeration(bool refuse) {
    const std::lock_guard lock(state_->mutex);
    state_->refuseEnumeration = refuse;
}

void UsbfsTestbed::SetQuirk(SysfsQuirk quirk) {
    const std::lock_guard lock(state_->mutex);
    state_->quirk = quirk;
}

bool UsbfsTestbed::FaultsLeft() {
    const std::lock_guard lock(state_->mutex);
    return !state_->faults.empty();
}

Board& UsbfsTestbed::board() {
    const std::lock_guard lock(state_->mutex);
    return *state_->board;
}

std::string UsbfsTestbed::devnode() {
    const std::lock_guard lock(state_->mutex);
    return state_->current ? state_->current->devnode : std::string();
}

int UsbfsTestbed::enumerations() {
    const std::lock_guard lock(state_->mutex);
    return state_->enumerations;
}

std::vector<std::string> UsbfsTestbed::log() {
    const std::lock_guard lock(state_->mutex);
    return state_->log;
}

std::vector<std::string> UsbfsTestbed::unknownIoctls() {
    const std::lock_guard lock(state_->mutex);
    return state_->unknown;
}

void StartUnderUmockdev(char** argv) {
    const char* loaded = std::getenv("LD_PRELOAD");
    if (loaded && std::strstr(loaded, "libumockdev-preload") != nullptr) {
        return;
    }
    std::string preload = "libumockdev-preload.so.0";
    if (loaded && *loaded) {
        preload = std::string(loaded) + ":" + preload;
    }
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    // A sanitizer runtime then no longer comes first in the library list, which is fine.
    std::string asan = "verify_asan_link_order=0";
    if (const char* old = std::getenv("ASAN_OPTIONS"); old && *old) {
        asan = std::string(old) + ":" + asan;
    }
    ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
    ::execv("/proc/self/exe", argv);
    std::perror("cannot start again under libumockdev-preload");
}

} // namespace pulsara::test
