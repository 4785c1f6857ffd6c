#pragma once
// Real boards over libusb-1.0. Instances are the attached devices with USB ID 0547:2131
// (the blank chip and our firmware share it), numbered 0..7 by bus, then port path.
// Every transfer has a timeout, so a board that stops answering cannot hang the caller.

#include "device/ezusb_driver.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct libusb_context;
struct libusb_device_handle;

namespace pulsara {

inline constexpr std::uint16_t kBoardVendorId = 0x0547;
inline constexpr std::uint16_t kBoardProductId = 0x2131;

struct LibusbTimeouts {
    std::chrono::milliseconds control{1000};
    std::chrono::milliseconds bulk{5000};
};

class LibusbDriver final : public EzusbDriver {
public:
    explicit LibusbDriver(LibusbTimeouts timeouts = {});
    LibusbDriver(const LibusbDriver&) = delete;
    LibusbDriver& operator=(const LibusbDriver&) = delete;
    ~LibusbDriver() override;

    // Empty when libusb started; else what went wrong (then no instance can be opened).
    [[nodiscard]] const std::string& initError() const { return initError_; }
    // How many boards are attached right now (at most 8 count).
    [[nodiscard]] int CountInstances();

    [[nodiscard]] DriverHandle Open(int instance) override;
    void Close(DriverHandle handle) override;
    IoResult IoControl(DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output) override;
    [[nodiscard]] std::string DescribeInstance(int instance) override;

    // The last libusb error met by Open since it last succeeded, for messages
    // ("LIBUSB_ERROR_ACCESS ..."); instances that are not attached leave it as it is.
    [[nodiscard]] const std::string& lastOpenError() const { return lastOpenError_; }
    // The first transfer failure since the last call ("bulk read on pipe 8 ... (the board
    // at bus 001 port 1, address 003): LIBUSB_ERROR_TIMEOUT ..."): the cause, not what followed
    // from it; else the last open error. Both are forgotten once taken.
    [[nodiscard]] std::string TakeError() override;

private:
    struct OpenBoard {
        libusb_device_handle* usb = nullptr;
        std::string where;               // "the board at bus 001 port 1, address 003"
        std::vector<std::uint8_t> pipes; // endpoint address of pipe n
        std::vector<std::uint8_t> pipeTypes;
    };

    IoResult Failed(const OpenBoard& board, const std::string& what, int result);
    IoResult Refused(const OpenBoard& board, const std::string& why);
    IoResult VendorRequest(OpenBoard& board, std::span<const std::uint8_t> input,
                           std::span<std::uint8_t> output);
    IoResult AnchorDownload(OpenBoard& board, std::span<const std::uint8_t> image);
    IoResult StringDescriptor(OpenBoard& board, std::span<const std::uint8_t> input,
                              std::span<std::uint8_t> output);
    IoResult BulkTransfer(OpenBoard& board, bool toDevice, std::span<const std::uint8_t> input,
                          std::span<std::uint8_t> output);

    libusb_context* context_ = nullptr;
    std::string initError_;
    std::string lastOpenError_;
    std::string ioError_;
    LibusbTimeouts timeouts_;
    std::map<DriverHandle, OpenBoard> open_;
    DriverHandle nextHandle_ = 1;
};

} // namespace pulsara
