#pragma once
// The program's one link to a board instance and the operations on it. Results follow the
// driver's convention: 0 for success, -1 for failure (BulkRead: bytes received or -1).

#include "device/ezusb_driver.h"
#include "device/instance_claim.h"

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <span>
#include <string>

namespace pulsara {

inline constexpr std::size_t kStringTextSize = 128;
inline constexpr std::size_t kStringReplySize = 130;
inline constexpr std::uint16_t kStringLanguageId = 27;
inline constexpr std::size_t kBulkChunkBytes = 32768;

// Owns the open driver handle and the claim; destroying the link closes both.
struct DeviceLink {
    // messages receives the three failure lines of Halt8051, Run8051 and DownloadFirmware
    // (standard output in the program).
    DeviceLink(EzusbDriver& driver, std::ostream& messages,
               std::filesystem::path lockDirectory = DefaultLockDirectory());
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    ~DeviceLink();

    EzusbDriver& driver;
    std::ostream& messages;
    std::filesystem::path lockDirectory;

    // kNullHandle before the first open; every open attempt stores its result, a failed one
    // too (kInvalidHandle); CloseDevice leaves the closed value in place.
    DriverHandle handle = kNullHandle;
    bool handleOpen = false; // handle still needs closing
    int openedInstance = -1; // instance of the last successful open
    InstanceClaim claim;     // held only after OpenDevice(-1) that could claim
    // The lock-file problem met by the last OpenDevice(-1), if any; whoever reports it
    // clears it.
    std::string claimError;
};

// -1 claims and opens the first free instance of 0..7, skipping those claimed elsewhere
// (an instance whose lock file cannot be used is opened unclaimed, with claimError set);
// any other number opens that instance without looking at claims.
[[nodiscard]] int OpenDevice(int instance, DeviceLink& link);
// Closes the handle and releases the claim. Always 0.
int CloseDevice(DeviceLink& link);
[[nodiscard]] int Halt8051(DeviceLink& link);
[[nodiscard]] int Run8051(DeviceLink& link);
// Writes the image into the 8051's memory from address 0 while it is held.
[[nodiscard]] int DownloadFirmware(DeviceLink& link, std::span<const std::uint8_t> image);
// Reads string descriptor `index` (low 8 bits) and keeps the low byte of each UTF-16
// unit, NUL-terminated. On failure the text is untouched.
[[nodiscard]] int GetStringDescriptor(DeviceLink& link, int index,
                                      std::span<char, kStringTextSize> text);
// Sends data in chunks of at most 32768 bytes; stops at the first failed chunk.
[[nodiscard]] int BulkWrite(DeviceLink& link, std::uint32_t pipe,
                            std::span<const std::uint8_t> data);
// Fills buffer in chunks of at most 32768 bytes, each chunk at its own 32768-byte slot
// even when the one before came back short. Returns the bytes received, or -1 when a
// chunk fails (bytes received before stay in the buffer).
[[nodiscard]] int BulkRead(DeviceLink& link, std::uint32_t pipe, std::span<std::uint8_t> buffer);

} // namespace pulsara
