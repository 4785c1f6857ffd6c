#include "device/libusb_driver.h"

#include "device/driver_records.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <tuple>

namespace pulsara {
namespace {

constexpr int kBoardInterface = 0;
constexpr std::size_t kDownloadChunk = 4096;
constexpr std::uint8_t kStringDescriptorType = 3;
// bmRequestType values: vendor request to or from the device, standard request from it.
constexpr std::uint8_t kVendorOut = 0x40;
constexpr std::uint8_t kVendorIn = 0xC0;
constexpr std::uint8_t kStandardIn = 0x80;

struct Candidate {
    libusb_device* device = nullptr;
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports;
    std::uint8_t address = 0;
};

// The attached boards in instance order: bus, then port path. The list keeps a reference
// on each device until it is destroyed.
class BoardList {
public:
    explicit BoardList(libusb_context* context) {
        if (!context) {
            return;
        }
        const ssize_t count = libusb_get_device_list(context, &list_);
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device* device = list_[i];
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(device, &descriptor) != 0 ||
                descriptor.idVendor != kBoardVendorId || descriptor.idProduct != kBoardProductId) {
                continue;
            }
            Candidate c;
            c.device = device;
            c.bus = libusb_get_bus_number(device);
            std::array<std::uint8_t, 8> ports{};
            const int depth = libusb_get_port_numbers(device, ports.data(), ports.size());
            c.ports.assign(ports.begin(), ports.begin() + std::max(depth, 0));
            c.address = libusb_get_device_address(device);
            boards_.push_back(std::move(c));
        }
        std::sort(boards_.begin(), boards_.end(), [](const Candidate& a, const Candidate& b) {
            return std::tie(a.bus, a.ports, a.address) < std::tie(b.bus, b.ports, b.address);
        });
        if (boards_.size() > static_cast<std::size_t>(kMaxInstances)) {
            boards_.resize(kMaxInstances);
        }
    }
    BoardList(const BoardList&) = delete;
    BoardList& operator=(const BoardList&) = delete;
    ~BoardList() {
        if (list_) {
            libusb_free_device_list(list_, 1);
        }
    }

    [[nodiscard]] const Candidate* At(int instance) const {
        if (instance < 0 || static_cast<std::size_t>(instance) >= boards_.size()) {
            return nullptr;
        }
        return &boards_[static_cast<std::size_t>(instance)];
    }
    [[nodiscard]] int size() const { return static_cast<int>(boards_.size()); }

private:
    libusb_device** list_ = nullptr;
    std::vector<Candidate> boards_;
};

std::string ErrorText(int code) {
    return std::string(libusb_error_name(code)) + " (" + libusb_strerror(code) + ")";
}

// Releasing the 8051 starts the new firmware, which drops off the bus within
// microseconds to re-enumerate: the write's status stage may then fail although the 8051
// runs. For this one write those failures mean done.
bool IsCpuRelease(const VendorRequestIn& request) {
    return request.request == kFirmwareLoadRequest && request.value == kCpucsAddress &&
           request.direction == 0 && request.length == 1 && (request.data & 0x01) == 0;
}

bool LeftTheBus(int result) {
    return result == LIBUSB_ERROR_IO || result == LIBUSB_ERROR_NO_DEVICE;
}

// Where the board sits, for listings and messages: "bus 001 port 1.2, address 005".
std::string Where(const Candidate& c) {
    std::string path;
    for (const auto port : c.ports) {
        path += (path.empty() ? "" : ".") + std::to_string(port);
    }
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "bus %03u port %s, address %03u", c.bus,
                  path.empty() ? "-" : path.c_str(), c.address);
    return text.data();
}

unsigned int Millis(std::chrono::milliseconds ms) {
    return static_cast<unsigned int>(ms.count());
}

} // namespace

LibusbDriver::LibusbDriver(LibusbTimeouts timeouts) : timeouts_(timeouts) {
    if (const int r = libusb_init(&context_); r != 0) {
        context_ = nullptr;
        initError_ = "cannot start libusb: " + ErrorText(r);
    }
}

LibusbDriver::~LibusbDriver() {
    for (auto& [handle, board] : open_) {
        libusb_release_interface(board.usb, kBoardInterface);
        libusb_close(board.usb);
    }
    open_.clear();
    if (context_) {
        libusb_exit(context_);
    }
}

int LibusbDriver::CountInstances() {
    return BoardList(context_).size();
}

std::string LibusbDriver::DescribeInstance(int instance) {
    const BoardList boards(context_);
    const Candidate* c = boards.At(instance);
    if (!c) {
        return {};
    }
    std::array<char, 32> id{};
    std::snprintf(id.data(), id.size(), "USB ID %04x:%04x, ", kBoardVendorId, kBoardProductId);
    return id.data() + Where(*c);
}

DriverHandle LibusbDriver::Open(int instance) {
    const BoardList boards(context_);
    const Candidate* c = boards.At(instance);
    if (!c) {
        // An instance that is not there says nothing: keep the error of one that is, so
        // a scan over all eight still names why the board could not be opened.
        if (!context_) {
            lastOpenError_ = initError_;
        }
        return kInvalidHandle;
    }
    OpenBoard board;
    // Messages name the board, so a user with several can tell which one failed.
    board.where = "the board at " + Where(*c);
    if (const int r = libusb_open(c->device, &board.usb); r != 0) {
        lastOpenError_ = "cannot open " + board.where + ": " + ErrorText(r);
        return kInvalidHandle;
    }
    // A kernel driver bound to the interface is detached while we hold it.
    libusb_set_auto_detach_kernel_driver(board.usb, 1);
    libusb_config_descriptor* config = nullptr;
    int r = libusb_get_active_config_descriptor(c->device, &config);
    if (r == LIBUSB_ERROR_NOT_FOUND) {
        // Not configured yet: both the blank chip and our firmware have configuration 1.
        libusb_set_configuration(board.usb, 1);
        r = libusb_get_active_config_descriptor(c->device, &config);
    }
    if (r != 0) {
        lastOpenError_ = "cannot read the configuration of " + board.where + ": " + ErrorText(r);
        libusb_close(board.usb);
        return kInvalidHandle;
    }
    // Pipe n is the n-th endpoint of the interface, as the vendor driver numbered them.
    if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
        const libusb_interface_descriptor& alt = config->interface[0].altsetting[0];
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            board.pipes.push_back(alt.endpoint[e].bEndpointAddress);
            board.pipeTypes.push_back(alt.endpoint[e].bmAttributes & LIBUSB_TRANSFER_TYPE_MASK);
        }
    }
    libusb_free_config_descriptor(config);
    if (r = libusb_claim_interface(board.usb, kBoardInterface); r != 0) {
        lastOpenError_ = "cannot claim interface 0 of " + board.where + ": " + ErrorText(r);
        libusb_close(board.usb);
        return kInvalidHandle;
    }
    lastOpenError_.clear();
    const DriverHandle handle = nextHandle_++;
    open_.emplace(handle, std::move(board));
    return handle;
}

void LibusbDriver::Close(DriverHandle handle) {
    const auto it = open_.find(handle);
    if (it == open_.end()) {
        return;
    }
    libusb_release_interface(it->second.usb, kBoardInterface);
    libusb_close(it->second.usb);
    open_.erase(it);
}

IoResult LibusbDriver::IoControl(DriverHandle handle, std::uint32_t code,
                                 std::span<const std::uint8_t> input,
                                 std::span<std::uint8_t> output) {
    const auto it = open_.find(handle);
    if (it == open_.end()) {
        return {};
    }
    switch (code) {
    case IOCTL_Ezusb_VENDOR_REQUEST:
        return VendorRequest(it->second, input, output);
    case IOCTL_Ezusb_ANCHOR_DOWNLOAD:
        return AnchorDownload(it->second, input);
    case IOCTL_Ezusb_GET_STRING_DESCRIPTOR:
        return StringDescriptor(it->second, input, output);
    case IOCTL_EZUSB_BULK_WRITE:
        return BulkTransfer(it->second, true, input, output);
    case IOCTL_EZUSB_BULK_READ:
        return BulkTransfer(it->second, false, input, output);
    default:
        return {};
    }
}

std::string LibusbDriver::TakeError() {
    std::string error = std::exchange(ioError_, {});
    if (error.empty()) {
        error = lastOpenError_;
    }
    lastOpenError_.clear();
    return error;
}

IoResult LibusbDriver::Failed(const OpenBoard& board, const std::string& what, int result) {
    if (ioError_.empty()) {
        ioError_ = what + " (" + board.where + "): " +
                   (result < 0 ? ErrorText(result) : "only " + std::to_string(result) + " bytes");
    }
    return {};
}

IoResult LibusbDriver::Refused(const OpenBoard& board, const std::string& why) {
    if (ioError_.empty()) {
        ioError_ = "bulk transfer refused (" + board.where + "): " + why;
    }
    return {};
}

IoResult LibusbDriver::VendorRequest(OpenBoard& board, std::span<const std::uint8_t> input,
                                     std::span<std::uint8_t> output) {
    const auto request = DecodeVendorRequestIn(input);
    // The record carries one data byte, so no request can move more.
    if (!request || request->length > 1) {
        return {};
    }
    std::uint8_t data = request->data;
    const bool toDevice = request->direction == 0;
    const std::uint8_t type = toDevice ? kVendorOut : kVendorIn;
    const int r =
        libusb_control_transfer(board.usb, type, request->request, request->value, request->index,
                                &data, request->length, Millis(timeouts_.control));
    if (r != request->length && !(IsCpuRelease(*request) && LeftTheBus(r))) {
        return Failed(board, "vendor request", r);
    }
    if (!toDevice && r == 1 && !output.empty()) {
        output[0] = data;
        return {true, 1};
    }
    return {true, 0};
}

IoResult LibusbDriver::AnchorDownload(OpenBoard& board, std::span<const std::uint8_t> image) {
    // The control carries no address: the image goes to 8051 memory from address 0, and
    // wValue cannot address beyond 64 KiB.
    if (image.size() > 0x10000) {
        return {};
    }
    const std::uint8_t type = kVendorOut;
    for (std::size_t offset = 0; offset < image.size(); offset += kDownloadChunk) {
        const std::size_t chunk = std::min(kDownloadChunk, image.size() - offset);
        // libusb takes a mutable pointer but only reads an OUT transfer's data.
        auto* data = const_cast<std::uint8_t*>(image.data() + offset);
        const int r = libusb_control_transfer(
            board.usb, type, kFirmwareLoadRequest, static_cast<std::uint16_t>(offset), 0, data,
            static_cast<std::uint16_t>(chunk), Millis(timeouts_.control));
        if (r != static_cast<int>(chunk)) {
            return Failed(board, "firmware download at " + std::to_string(offset), r);
        }
    }
    return {true, 0};
}

IoResult LibusbDriver::StringDescriptor(OpenBoard& board, std::span<const std::uint8_t> input,
                                        std::span<std::uint8_t> output) {
    const auto request = DecodeGetStringDescriptorIn(input);
    if (!request || output.empty()) {
        return {};
    }
    const auto length = static_cast<std::uint16_t>(std::min<std::size_t>(output.size(), 0xFFFF));
    const int r = libusb_control_transfer(
        board.usb, kStandardIn, LIBUSB_REQUEST_GET_DESCRIPTOR,
        static_cast<std::uint16_t>((kStringDescriptorType << 8) | request->index),
        request->languageId, output.data(), length, Millis(timeouts_.control));
    if (r < 0) {
        return Failed(board, "string descriptor " + std::to_string(request->index), r);
    }
    return {true, static_cast<std::uint32_t>(r)};
}

IoResult LibusbDriver::BulkTransfer(OpenBoard& board, bool toDevice,
                                    std::span<const std::uint8_t> input,
                                    std::span<std::uint8_t> output) {
    const auto control = DecodeBulkTransferControl(input);
    if (!control || output.size() > static_cast<std::size_t>(INT32_MAX)) {
        return {};
    }
    // A board whose configuration lacks the pipe (bad descriptors, other firmware) says
    // so rather than failing without a word.
    const std::string pipe = "pipe " + std::to_string(control->pipeNumber);
    if (control->pipeNumber >= board.pipes.size()) {
        return Refused(board, "no " + pipe + ": interface 0 has " +
                                  std::to_string(board.pipes.size()) + " endpoints");
    }
    const std::uint8_t endpoint = board.pipes[control->pipeNumber];
    const bool endpointIn = (endpoint & LIBUSB_ENDPOINT_IN) != 0;
    if (endpointIn == toDevice) {
        return Refused(board, pipe + " runs the other way");
    }
    const auto type = board.pipeTypes[control->pipeNumber];
    if (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT) {
        return Refused(board, pipe + " is neither a bulk nor an interrupt endpoint");
    }
    int transferred = 0;
    const int length = static_cast<int>(output.size());
    const unsigned int timeout = Millis(timeouts_.bulk);
    const int r = type == LIBUSB_TRANSFER_TYPE_BULK
                      ? libusb_bulk_transfer(board.usb, endpoint, output.data(), length,
                                             &transferred, timeout)
                      : libusb_interrupt_transfer(board.usb, endpoint, output.data(), length,
                                                  &transferred, timeout);
    // A timeout is a failure even when part of the data moved: the caller must not wait
    // for or trust the rest.
    if (r != 0 || (toDevice && transferred != length)) {
        return Failed(board,
                      std::string(toDevice ? "bulk write" : "bulk read") + " on pipe " +
                          std::to_string(control->pipeNumber) + " (" + std::to_string(transferred) +
                          " of " + std::to_string(length) + " bytes moved)",
                      r != 0 ? r : transferred);
    }
    return {true, static_cast<std::uint32_t>(transferred)};
}

} // namespace pulsara
