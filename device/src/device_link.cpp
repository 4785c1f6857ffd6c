#include "device/device_link.h"

#include "device/driver_records.h"

#include <algorithm>
#include <climits>
#include <ostream>

namespace pulsara {
namespace {

// Opens instance n into the link, storing the result whatever it is.
bool OpenInto(DeviceLink& link, int instance) {
    // A handle still open would leak when overwritten.
    if (link.handleOpen) {
        link.driver.Close(link.handle);
        link.handleOpen = false;
    }
    link.handle = link.driver.Open(instance);
    if (link.handle == kInvalidHandle) {
        return false;
    }
    link.handleOpen = true;
    link.openedInstance = instance;
    return true;
}

int CpucsWrite(DeviceLink& link, std::uint8_t value, const char* failureLine) {
    const auto record =
        Encode(VendorRequestIn{kFirmwareLoadRequest, kCpucsAddress, 0, 1, 0, value});
    const auto result = link.driver.IoControl(link.handle, IOCTL_Ezusb_VENDOR_REQUEST, record, {});
    if (!result.ok) {
        link.messages << failureLine << std::flush;
        return -1;
    }
    return 0;
}

} // namespace

DeviceLink::DeviceLink(EzusbDriver& driver_, std::ostream& messages_,
                       std::filesystem::path lockDirectory_)
    : driver(driver_), messages(messages_), lockDirectory(std::move(lockDirectory_)) {}

DeviceLink::~DeviceLink() {
    if (handleOpen) {
        driver.Close(handle);
    }
}

int OpenDevice(int instance, DeviceLink& link) {
    if (instance != -1) {
        return OpenInto(link, instance) ? 0 : -1;
    }
    link.claimError.clear();
    for (int n = 0; n < kMaxInstances; ++n) {
        // Claiming first and opening second leaves no moment in which another copy could
        // find the instance free after we found it free.
        InstanceClaim claim;
        switch (claim.TryClaim(link.lockDirectory, n)) {
        case InstanceClaim::Outcome::Claimed:
            break;
        case InstanceClaim::Outcome::HeldElsewhere:
            continue;
        case InstanceClaim::Outcome::Error:
            // A lock file we cannot use must not lock the user out of every board: say so
            // and open without a claim.
            link.claimError = claim.error();
            break;
        }
        if (!OpenInto(link, n)) {
            continue; // the claim is dropped with `claim`
        }
        link.claim = std::move(claim);
        return 0;
    }
    return -1;
}

int CloseDevice(DeviceLink& link) {
    if (link.handleOpen) {
        link.driver.Close(link.handle);
        link.handleOpen = false;
    }
    link.claim.Release();
    return 0;
}

int Halt8051(DeviceLink& link) {
    return CpucsWrite(link, 1, "i8051 halt err.\n");
}

int Run8051(DeviceLink& link) {
    return CpucsWrite(link, 0, "i8051 run err.\n");
}

int DownloadFirmware(DeviceLink& link, std::span<const std::uint8_t> image) {
    const auto result = link.driver.IoControl(link.handle, IOCTL_Ezusb_ANCHOR_DOWNLOAD, image, {});
    if (!result.ok) {
        link.messages << "usb dwnload err.\n" << std::flush;
        return -1;
    }
    return 0;
}

int GetStringDescriptor(DeviceLink& link, int index, std::span<char, kStringTextSize> text) {
    const auto record =
        Encode(GetStringDescriptorIn{static_cast<std::uint8_t>(index & 0xFF), kStringLanguageId});
    std::array<std::uint8_t, kStringReplySize> reply{};
    const auto result =
        link.driver.IoControl(link.handle, IOCTL_Ezusb_GET_STRING_DESCRIPTOR, record, reply);
    if (!result.ok) {
        return -1;
    }
    // The length byte may claim more than arrived or than the buffer holds: take only the
    // units actually received.
    const std::size_t received = std::min<std::size_t>(result.bytesReturned, reply.size());
    long units = reply[0] / 2 - 1;
    units = std::min<long>(units, received >= 2 ? static_cast<long>((received - 2) / 2) : 0);
    units = std::min<long>(units, static_cast<long>(text.size()) - 1);
    std::size_t k = 0;
    for (; static_cast<long>(k) < units; ++k) {
        text[k] = static_cast<char>(reply[2 + 2 * k]); // low byte of the unit, no conversion
    }
    text[k] = '\0';
    return 0;
}

int BulkWrite(DeviceLink& link, std::uint32_t pipe, std::span<const std::uint8_t> data) {
    const auto record = Encode(BulkTransferControl{pipe});
    for (std::size_t offset = 0; offset < data.size();) {
        const std::size_t chunk = std::min(data.size() - offset, kBulkChunkBytes);
        // The driver takes the data to send in its output buffer and only reads it there.
        const std::span<std::uint8_t> out(const_cast<std::uint8_t*>(data.data()) + offset, chunk);
        if (!link.driver.IoControl(link.handle, IOCTL_EZUSB_BULK_WRITE, record, out).ok) {
            return -1;
        }
        offset += chunk;
    }
    return 0;
}

int BulkRead(DeviceLink& link, std::uint32_t pipe, std::span<std::uint8_t> buffer) {
    if (buffer.size() > static_cast<std::size_t>(INT_MAX)) {
        return -1;
    }
    const auto record = Encode(BulkTransferControl{pipe});
    long long total = 0;
    for (std::size_t offset = 0; offset < buffer.size();) {
        const std::size_t chunk = std::min(buffer.size() - offset, kBulkChunkBytes);
        const auto result = link.driver.IoControl(link.handle, IOCTL_EZUSB_BULK_READ, record,
                                                  buffer.subspan(offset, chunk));
        if (!result.ok) {
            return -1;
        }
        // A backend that claims more than the chunk cannot inflate the total.
        total += std::min<std::size_t>(result.bytesReturned, chunk);
        offset += chunk; // a short chunk still leaves its whole slot behind
    }
    return static_cast<int>(total);
}

} // namespace pulsara
