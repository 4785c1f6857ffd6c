// The port: board time, the host stack's enumeration, the device as sysfs shows it.

#include "usbfs_state.h"

#include "firmware/image.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace pulsara::test {

void UsbfsTestbed::State::Track() {
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

void UsbfsTestbed::State::RunTo(std::uint64_t target) {
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

void UsbfsTestbed::State::ComeBack() {
    Ezusb& c = chip();
    const std::uint64_t end = c.cycles() + kBootBudget;
    while (!current && c.cableAttached() && !c.cpuHeld() && c.cycles() < end &&
           !(enumerationTried && c.connected())) {
        RunTo(c.cycles() + kCyclesPerMs);
    }
}

void UsbfsTestbed::State::Reenumerate(std::uint32_t connectionBefore) {
    Ezusb& c = chip();
    const std::uint64_t end = c.cycles() + kBootBudget;
    while (c.cycles() < end && c.cableAttached() &&
           !(current && c.connectCount() != connectionBefore)) {
        RunTo(c.cycles() + kCyclesPerMs);
    }
}

void UsbfsTestbed::State::CatchUp() {
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

void UsbfsTestbed::State::Enumerate() {
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
    if (!c.controlTransfer({0x00, kSetAddress, static_cast<std::uint16_t>(address), 0, 0}).ok()) {
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

void UsbfsTestbed::State::Appear(Device& d) {
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
    const std::string productProperty = std::to_string(std::strtoul(vendor.c_str(), nullptr, 16)) +
                                        "/" +
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

void UsbfsTestbed::State::Leave(Device& d) {
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

} // namespace pulsara::test
