// libusb's functions over the devices of the live StandinBus.

#include "standin_devices.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

namespace pulsara::test {
namespace {

constexpr std::uint64_t kCyclesPerMs = kCyclesPerSecond / 1000;
// libusb's timeout 0 means none; the stand-in still ends such a transfer after this long.
constexpr std::uint64_t kNoTimeoutBudget = 60 * kCyclesPerSecond;

std::string Hex(unsigned v, int width) {
    char text[8];
    std::snprintf(text, sizeof text, "%0*X", width, v);
    return text;
}

int ErrorOf(UsbStatus status) {
    switch (status) {
    case UsbStatus::Ack:
        return LIBUSB_SUCCESS;
    case UsbStatus::Stall:
        return LIBUSB_ERROR_PIPE;
    case UsbStatus::Timeout:
        return LIBUSB_ERROR_TIMEOUT;
    case UsbStatus::NoDevice:
        return LIBUSB_ERROR_NO_DEVICE;
    case UsbStatus::NoResponse:
    case UsbStatus::Error:
        return LIBUSB_ERROR_IO;
    }
    return LIBUSB_ERROR_OTHER;
}

std::uint64_t Budget(unsigned int timeoutMs) {
    return timeoutMs == 0 ? kNoTimeoutBudget : timeoutMs * kCyclesPerMs;
}

// A configuration descriptor parsed into libusb's structures, which point into it.
struct ParsedConfig {
    libusb_config_descriptor config{};
    std::vector<libusb_interface> interfaces;
    std::vector<std::vector<libusb_interface_descriptor>> alternates; // per interface
    std::vector<std::vector<libusb_endpoint_descriptor>> endpoints;   // per alternate
};

std::map<libusb_config_descriptor*, std::unique_ptr<ParsedConfig>> g_configs;

std::unique_ptr<ParsedConfig> Parse(const std::vector<std::uint8_t>& d) {
    auto parsed = std::make_unique<ParsedConfig>();
    if (d.size() < 9) {
        return parsed;
    }
    libusb_config_descriptor& c = parsed->config;
    c.bLength = d[0];
    c.bDescriptorType = d[1];
    c.wTotalLength = static_cast<std::uint16_t>(d[2] | (d[3] << 8));
    c.bNumInterfaces = d[4];
    c.bConfigurationValue = d[5];
    c.iConfiguration = d[6];
    c.bmAttributes = d[7];
    c.MaxPower = d[8];
    parsed->alternates.resize(c.bNumInterfaces);
    std::vector<std::pair<std::size_t, std::size_t>> owner; // (interface, alternate) per list
    for (std::size_t at = d[0]; at + 2 <= d.size() && d[at] >= 2; at += d[at]) {
        const std::uint8_t* p = &d[at];
        if (p[1] == 4 && p[0] >= 9 && at + 9 <= d.size() && p[2] < c.bNumInterfaces) {
            libusb_interface_descriptor alt{};
            alt.bLength = p[0];
            alt.bDescriptorType = p[1];
            alt.bInterfaceNumber = p[2];
            alt.bAlternateSetting = p[3];
            alt.bNumEndpoints = p[4];
            alt.bInterfaceClass = p[5];
            alt.bInterfaceSubClass = p[6];
            alt.bInterfaceProtocol = p[7];
            alt.iInterface = p[8];
            parsed->alternates[p[2]].push_back(alt);
            parsed->endpoints.emplace_back();
            owner.emplace_back(p[2], parsed->alternates[p[2]].size() - 1);
        } else if (p[1] == 5 && p[0] >= 7 && at + 7 <= d.size() && !parsed->endpoints.empty()) {
            libusb_endpoint_descriptor ep{};
            ep.bLength = p[0];
            ep.bDescriptorType = p[1];
            ep.bEndpointAddress = p[2];
            ep.bmAttributes = p[3];
            ep.wMaxPacketSize = static_cast<std::uint16_t>(p[4] | (p[5] << 8));
            ep.bInterval = p[6];
            parsed->endpoints.back().push_back(ep);
        }
    }
    // Pointers only once every list is complete.
    for (std::size_t k = 0; k < owner.size(); ++k) {
        auto& alt = parsed->alternates[owner[k].first][owner[k].second];
        alt.endpoint = parsed->endpoints[k].data();
        alt.bNumEndpoints = static_cast<std::uint8_t>(parsed->endpoints[k].size());
    }
    for (auto& alts : parsed->alternates) {
        parsed->interfaces.push_back({alts.data(), static_cast<int>(alts.size())});
    }
    c.interface = parsed->interfaces.data();
    return parsed;
}

} // namespace
} // namespace pulsara::test

using pulsara::sim::Ezusb;
using pulsara::sim::UsbResult;
using pulsara::test::StandinBus;
using pulsara::test::StandinCall;
using pulsara::test::StandinFault;

namespace {

StandinBus::Device* Alive(libusb_device_handle* h) {
    if (!h || !h->device || !h->device->device->alive()) {
        return nullptr;
    }
    return h->device->device;
}

// The fault's moment: the board may leave the bus with it.
int Apply(const StandinFault& fault, StandinBus::Device& d) {
    if (fault.unplug) {
        d.port->board->chip().setCableAttached(false);
    }
    return fault.error;
}

std::string Result(int r) {
    return r >= 0 ? std::to_string(r) : libusb_error_name(r);
}

int Bulk(libusb_device_handle* h, unsigned char endpoint, unsigned char* data, int length,
         int* actual, unsigned int timeout) {
    StandinBus* bus = StandinBus::live();
    int moved = 0;
    if (actual) {
        *actual = 0;
    }
    StandinBus::Device* d = bus ? Alive(h) : nullptr;
    if (!d) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    if (length < 0 || (length > 0 && !data)) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    const bool in = (endpoint & LIBUSB_ENDPOINT_IN) != 0;
    const int ep = endpoint & 0x0F;
    const StandinFault* fault = bus->Due(in ? StandinCall::BulkIn : StandinCall::BulkOut);
    const int limit = fault ? std::min(length, fault->keepBytes) : length;
    Ezusb& chip = d->port->board->chip();
    const std::uint64_t end = chip.cycles() + pulsara::test::Budget(timeout);
    int r = LIBUSB_SUCCESS;
    do {
        if (fault && moved >= limit) {
            break;
        }
        const std::uint64_t left = end > chip.cycles() ? end - chip.cycles() : 0;
        if (left == 0) {
            r = LIBUSB_ERROR_TIMEOUT;
            break;
        }
        if (in) {
            const UsbResult p = chip.bulkIn(ep, left);
            if (!p.ok()) {
                r = pulsara::test::ErrorOf(p.status);
                break;
            }
            if (p.data.size() > static_cast<std::size_t>(length - moved)) {
                r = LIBUSB_ERROR_OVERFLOW; // the device sent more than was asked for
                break;
            }
            std::copy(p.data.begin(), p.data.end(), data + moved);
            moved += static_cast<int>(p.data.size());
            if (p.data.size() < pulsara::sim::kEndpointPacketSize) {
                break; // a short packet ends the transfer
            }
        } else {
            const int n = std::min<int>(length - moved, pulsara::sim::kEndpointPacketSize);
            const UsbResult p = chip.bulkOut(ep, {data + moved, static_cast<std::size_t>(n)}, left);
            if (!p.ok()) {
                r = pulsara::test::ErrorOf(p.status);
                break;
            }
            moved += n;
        }
    } while (moved < length);
    if (fault && r == LIBUSB_SUCCESS) {
        r = Apply(*fault, *d);
        if (r == LIBUSB_ERROR_TIMEOUT) {
            bus->Settle(*d->port, end); // a timeout takes its time
        }
    }
    if (actual) {
        *actual = moved;
    }
    bus->Log(std::string(in ? "bulk in " : "bulk out ") + pulsara::test::Hex(endpoint, 2) +
             " len " + std::to_string(length) + " -> " + Result(r) + " moved " +
             std::to_string(moved));
    return r;
}

} // namespace

extern "C" {

int libusb_init(libusb_context** ctx) {
    if (!StandinBus::live()) {
        return LIBUSB_ERROR_OTHER;
    }
    *ctx = new libusb_context;
    return LIBUSB_SUCCESS;
}

void libusb_exit(libusb_context* ctx) {
    delete ctx;
}

const char* libusb_error_name(int errcode) {
    switch (errcode) {
    case LIBUSB_SUCCESS:
        return "LIBUSB_SUCCESS";
    case LIBUSB_ERROR_IO:
        return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM:
        return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS:
        return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE:
        return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND:
        return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY:
        return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT:
        return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW:
        return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE:
        return "LIBUSB_ERROR_PIPE";
    default:
        return "LIBUSB_ERROR_OTHER";
    }
}

const char* libusb_strerror(int errcode) {
    return libusb_error_name(errcode);
}

ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
    StandinBus* bus = StandinBus::live();
    const auto devices = bus ? bus->Enumerated() : std::vector<StandinBus::Device*>{};
    *list = new libusb_device*[devices.size() + 1];
    for (std::size_t i = 0; i < devices.size(); ++i) {
        (*list)[i] = &devices[i]->handle;
    }
    (*list)[devices.size()] = nullptr;
    if (bus) {
        ++bus->deviceLists_;
    }
    return static_cast<ssize_t>(devices.size());
}

void libusb_free_device_list(libusb_device** list, int) {
    if (StandinBus* bus = StandinBus::live(); bus && list) {
        --bus->deviceLists_;
    }
    delete[] list;
}

int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
    const auto& d = dev->device->deviceDescriptor;
    *desc = {};
    desc->bLength = d[0];
    desc->bDescriptorType = d[1];
    desc->bcdUSB = static_cast<std::uint16_t>(d[2] | (d[3] << 8));
    desc->bDeviceClass = d[4];
    desc->bDeviceSubClass = d[5];
    desc->bDeviceProtocol = d[6];
    desc->bMaxPacketSize0 = d[7];
    desc->idVendor = static_cast<std::uint16_t>(d[8] | (d[9] << 8));
    desc->idProduct = static_cast<std::uint16_t>(d[10] | (d[11] << 8));
    desc->bcdDevice = static_cast<std::uint16_t>(d[12] | (d[13] << 8));
    desc->iManufacturer = d[14];
    desc->iProduct = d[15];
    desc->iSerialNumber = d[16];
    desc->bNumConfigurations = d[17];
    return LIBUSB_SUCCESS;
}

uint8_t libusb_get_bus_number(libusb_device*) {
    return 1;
}

int libusb_get_port_numbers(libusb_device* dev, uint8_t* ports, int length) {
    if (length < 1) {
        return LIBUSB_ERROR_OVERFLOW;
    }
    ports[0] = static_cast<std::uint8_t>(dev->device->port->number);
    return 1;
}

uint8_t libusb_get_device_address(libusb_device* dev) {
    return dev->device->address;
}

int libusb_get_active_config_descriptor(libusb_device* dev, libusb_config_descriptor** config) {
    StandinBus* bus = StandinBus::live();
    if (!bus || !dev->device->alive()) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    auto parsed = pulsara::test::Parse(dev->device->configuration);
    *config = &parsed->config;
    pulsara::test::g_configs[*config] = std::move(parsed);
    ++bus->configDescriptors_;
    return LIBUSB_SUCCESS;
}

void libusb_free_config_descriptor(libusb_config_descriptor* config) {
    if (pulsara::test::g_configs.erase(config) > 0) {
        if (StandinBus* bus = StandinBus::live()) {
            --bus->configDescriptors_;
        }
    }
}

int libusb_open(libusb_device* dev, libusb_device_handle** handle) {
    StandinBus* bus = StandinBus::live();
    if (!bus || !dev->device->alive()) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    if (const StandinFault* fault = bus->Due(StandinCall::Open)) {
        return Apply(*fault, *dev->device);
    }
    *handle = new libusb_device_handle{dev};
    ++bus->openHandles_;
    return LIBUSB_SUCCESS;
}

void libusb_close(libusb_device_handle* handle) {
    if (!handle) {
        return;
    }
    if (StandinBus* bus = StandinBus::live()) {
        --bus->openHandles_;
    }
    // Closing lets go of the interface.
    if (handle->device && handle->device->device->claimant == handle) {
        handle->device->device->claimant = nullptr;
    }
    delete handle;
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int) {
    return LIBUSB_SUCCESS;
}

int libusb_set_configuration(libusb_device_handle* handle, int) {
    return Alive(handle) ? LIBUSB_SUCCESS : LIBUSB_ERROR_NO_DEVICE;
}

int libusb_claim_interface(libusb_device_handle* handle, int interface) {
    StandinBus::Device* d = Alive(handle);
    if (!d) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    if (interface != 0) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    // As the kernel does: one open handle at a time holds an interface.
    if (d->claimant && d->claimant != handle) {
        return LIBUSB_ERROR_BUSY;
    }
    d->claimant = handle;
    return LIBUSB_SUCCESS;
}

int libusb_release_interface(libusb_device_handle* handle, int) {
    StandinBus::Device* d = Alive(handle);
    if (!d) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    if (d->claimant == handle) {
        d->claimant = nullptr;
    }
    return LIBUSB_SUCCESS;
}

int libusb_control_transfer(libusb_device_handle* handle, uint8_t type, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                            unsigned int timeout) {
    StandinBus* bus = StandinBus::live();
    StandinBus::Device* d = bus ? Alive(handle) : nullptr;
    if (!d) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    const bool in = (type & LIBUSB_ENDPOINT_IN) != 0;
    const StandinFault* fault = bus->Due(StandinCall::Control);
    int r = 0;
    if (fault && !fault->moves) {
        r = Apply(*fault, *d);
    } else {
        Ezusb& chip = d->port->board->chip();
        const std::span<const std::uint8_t> out =
            in ? std::span<const std::uint8_t>{} : std::span<const std::uint8_t>(data, length);
        const UsbResult u = chip.controlTransfer({type, request, value, index, length}, out,
                                                 pulsara::test::Budget(timeout));
        r = pulsara::test::ErrorOf(u.status);
        if (u.ok()) {
            const std::size_t n = std::min<std::size_t>(u.data.size(), length);
            std::copy_n(u.data.begin(), in ? n : 0, data);
            r = in ? static_cast<int>(n) : length;
        }
        if (fault) {
            r = Apply(*fault, *d);
        }
    }
    bus->Log("control " + pulsara::test::Hex(type, 2) + " " + pulsara::test::Hex(request, 2) + " " +
             pulsara::test::Hex(value, 4) + " len " + std::to_string(length) + " -> " + Result(r));
    return r;
}

int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data,
                         int length, int* actual, unsigned int timeout) {
    return Bulk(handle, endpoint, data, length, actual, timeout);
}

int libusb_interrupt_transfer(libusb_device_handle* handle, unsigned char endpoint,
                              unsigned char* data, int length, int* actual, unsigned int timeout) {
    return Bulk(handle, endpoint, data, length, actual, timeout);
}

} // extern "C"
