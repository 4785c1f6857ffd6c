#include "sim/driver/sim_driver.h"

#include "device/driver_records.h"
#include "device/instance_claim.h"
#include "firmware/image.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace pulsara::sim {
namespace {

constexpr std::uint64_t kCyclesPerMs = kCyclesPerSecond / 1000;
// A host enumerates a new device only after the connection has been stable this long.
constexpr std::uint64_t kDebounceCycles = 20 * kCyclesPerMs;
// How long a board may take to boot or to come back after a firmware load.
constexpr std::uint64_t kBootBudget = 4 * kCyclesPerSecond;
// The most board time one call emulates instruction by instruction (idle passes that are
// skipped do not count): about 0.1 s of host CPU.
constexpr std::uint64_t kMaxCatchUpCycles = 5 * kCyclesPerSecond;
// At speed 0, how long the firmware may take to finish a command before a call goes on.
constexpr std::uint64_t kSettleCycles = 10 * kCyclesPerMs;
constexpr std::size_t kDownloadChunk = 4096;
constexpr std::uint8_t kGetDescriptor = 6, kSetAddress = 5, kSetConfiguration = 9;
constexpr std::uint8_t kEndpointIn = 0x80, kTypeMask = 0x03, kTypeBulk = 2, kTypeInterrupt = 3;

} // namespace

std::optional<SimBoot> ParseSimBoot(std::string_view text) {
    if (text == "old") {
        return SimBoot::Old;
    }
    if (text == "current") {
        return SimBoot::Current;
    }
    if (text == "blank") {
        return SimBoot::Blank;
    }
    return std::nullopt;
}

std::string_view SimBootName(SimBoot boot) {
    switch (boot) {
    case SimBoot::Old:
        return "old";
    case SimBoot::Current:
        return "current";
    case SimBoot::Blank:
        return "blank";
    }
    return "?";
}

std::filesystem::path SimLockDirectory() {
    const auto base = DefaultLockDirectory();
    std::string name = "pulsara-sim";
    if (base == "/tmp") {
        name += "-uid" + std::to_string(::getuid());
    }
    const auto dir = base / name;
    (void)::mkdir(dir.c_str(), 0700);
    // Only a real directory of our own: anything else could be someone else's trap.
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        return base;
    }
    return dir;
}

struct SimDriver::Slot {
    int instance = 0;
    std::unique_ptr<Board> board;
    bool settled = false;
    std::chrono::milliseconds wallBase{};
    std::uint64_t cycleBase = 0;
    // The connection the host stack last saw, since when, and whether it enumerated it.
    std::uint32_t connection = 0;
    std::uint64_t connectedAt = 0;
    bool enumerated = false;
    bool enumerationTried = false;
    std::vector<std::uint8_t> pipes; // endpoint address of pipe n
    std::vector<std::uint8_t> pipeTypes;
    std::optional<std::uint64_t> unplugAt; // board time at which the cable is pulled
};

SimDriver::SimDriver(SimOptions options, Clock& wallClock) : options_(options), wall_(wallClock) {
    options_.boards = std::clamp(options_.boards, 0, kMaxSimBoards);
    if (!(options_.speed >= 0.0) || !std::isfinite(options_.speed)) {
        options_.speed = 0.0;
    }
    for (int n = 0; n < options_.boards; ++n) {
        slots_.push_back(std::make_unique<Slot>());
        slots_.back()->instance = n;
    }
}

SimDriver::~SimDriver() = default;

SimDriver::Slot* SimDriver::SlotFor(int instance) {
    if (instance < 0 || instance >= options_.boards) {
        return nullptr;
    }
    Slot& slot = *slots_[static_cast<std::size_t>(instance)];
    if (!slot.board) {
        slot.board = std::make_unique<Board>(options_.boot, FirmwareImage());
    }
    if (!slot.settled) {
        Settle(slot);
    }
    return &slot;
}

// The board was plugged in long before: it has booted and the host has enumerated it.
void SimDriver::Settle(Slot& slot) {
    slot.settled = true;
    Ezusb& chip = slot.board->chip();
    const std::uint64_t end = chip.cycles() + kBootBudget;
    while (!slot.enumerated && !slot.enumerationTried && chip.cycles() < end) {
        RunTo(slot, std::min(end, chip.cycles() + kCyclesPerMs));
    }
    slot.wallBase = wall_.Now();
    slot.cycleBase = chip.cycles();
    if (options_.unplugAfterMs >= 0 && !slot.unplugAt) {
        slot.unplugAt =
            chip.cycles() + static_cast<std::uint64_t>(options_.unplugAfterMs) * kCyclesPerMs;
    }
}

bool SimDriver::UnplugDue(Slot& slot) {
    Ezusb& chip = slot.board->chip();
    if (slot.unplugAt && chip.cycles() >= *slot.unplugAt && chip.cableAttached()) {
        chip.setCableAttached(false);
    }
    return !chip.cableAttached();
}

void SimDriver::UnplugAt(int instance, std::uint64_t cycle) {
    if (Slot* slot = SlotFor(instance)) {
        slot->unplugAt = cycle;
        (void)UnplugDue(*slot);
    }
}

void SimDriver::Replug(int instance) {
    if (instance < 0 || instance >= options_.boards) {
        return;
    }
    // The new board's connect count starts again from where the old one's did, so the old
    // handles must go rather than match it by chance.
    std::erase_if(open_, [&](const auto& entry) { return entry.second.instance == instance; });
    auto& slot = slots_[static_cast<std::size_t>(instance)];
    slot = std::make_unique<Slot>();
    slot->instance = instance;
}

bool SimDriver::RunTo(Slot& slot, std::uint64_t target, std::uint64_t maxEmulated) {
    Ezusb& chip = slot.board->chip();
    std::uint64_t emulated = 0;
    while (chip.cycles() < target) {
        if (emulated >= maxEmulated) {
            return false;
        }
        (void)UnplugDue(slot);
        // Stop at the unplug cycle, so the cable goes at that cycle and not later.
        const std::uint64_t stop = slot.unplugAt && *slot.unplugAt > chip.cycles()
                                       ? std::min(target, *slot.unplugAt)
                                       : target;
        if (chip.connected() && slot.connection != chip.connectCount()) {
            slot.connection = chip.connectCount();
            slot.connectedAt = chip.cycles();
            slot.enumerated = slot.enumerationTried = false;
        }
        const bool waiting = chip.connected() && !slot.enumerationTried;
        if (waiting && chip.cycles() - slot.connectedAt >= kDebounceCycles) {
            Enumerate(slot);
            continue;
        }
        const std::uint64_t left = stop - chip.cycles();
        if (!waiting && chip.skipIdleLoop(left) > 0) {
            continue;
        }
        if (chip.cycles() < stop) {
            const std::uint64_t before = chip.cycles();
            (void)chip.run(std::min(stop - chip.cycles(), kCyclesPerMs));
            emulated += chip.cycles() - before;
        }
    }
    return true;
}

void SimDriver::CatchUp(Slot& slot) {
    Ezusb& chip = slot.board->chip();
    std::uint64_t target = chip.cycles();
    if (options_.speed > 0.0) {
        const double ms = static_cast<double>((wall_.Now() - slot.wallBase).count());
        const double due = static_cast<double>(slot.cycleBase) +
                           ms * options_.speed * static_cast<double>(kCyclesPerMs);
        target = std::max(target, static_cast<std::uint64_t>(due));
    } else {
        // No waiting: the firmware finishes what the last call handed it (a start command
        // is taken only after its packet was acknowledged), and a running capture is
        // complete when it is looked at.
        const std::uint64_t end = chip.cycles() + kSettleCycles;
        while (chip.cycles() < end) {
            const std::uint64_t before = chip.cycles();
            if (chip.skipIdleLoop(kCyclesPerMs) > 0 || chip.cycles() == before) {
                break; // idle, or a CPU that does not run
            }
        }
        target = chip.cycles();
        const auto done = slot.board->CaptureCompletionCycle();
        if (slot.board->logic().mode() == 4 && done) {
            target = std::max(target, *done);
        }
    }
    // A firmware that stays busy while the host looks away (a read-out left half-drained)
    // cannot be skipped through; rather than stall the caller for seconds, board time
    // then falls behind the wall clock.
    if (!RunTo(slot, target, kMaxCatchUpCycles)) {
        slot.wallBase = wall_.Now();
        slot.cycleBase = chip.cycles();
    }
}

bool SimDriver::Enumerate(Slot& slot) {
    slot.enumerationTried = true;
    slot.enumerated = false;
    slot.pipes.clear();
    slot.pipeTypes.clear();
    Ezusb& chip = slot.board->chip();
    chip.busReset();
    if (!chip.controlTransfer({0x80, kGetDescriptor, 0x0100, 0, 64}).ok()) {
        return false;
    }
    const auto address = static_cast<std::uint16_t>(slot.instance + 2);
    if (!chip.controlTransfer({0x00, kSetAddress, address, 0, 0}).ok()) {
        return false;
    }
    const auto head = chip.controlTransfer({0x80, kGetDescriptor, 0x0200, 0, 9});
    if (!head.ok() || head.data.size() < 4) {
        return false;
    }
    const auto total = static_cast<std::uint16_t>(head.data[2] | (head.data[3] << 8));
    const auto config = chip.controlTransfer({0x80, kGetDescriptor, 0x0200, 0, total});
    if (!config.ok()) {
        return false;
    }
    // Pipe n is the n-th endpoint of interface 0, alternate setting 0.
    bool inInterface = false;
    for (std::size_t at = 0; at + 1 < config.data.size() && config.data[at] >= 2;
         at += config.data[at]) {
        const std::uint8_t length = config.data[at];
        const std::uint8_t type = config.data[at + 1];
        if (type == 4 && length >= 4 && at + 3 < config.data.size()) {
            inInterface = config.data[at + 2] == 0 && config.data[at + 3] == 0;
        } else if (type == 5 && inInterface && length >= 4 && at + 3 < config.data.size()) {
            slot.pipes.push_back(config.data[at + 2]);
            slot.pipeTypes.push_back(config.data[at + 3] & kTypeMask);
        }
    }
    if (!chip.controlTransfer({0x00, kSetConfiguration, 1, 0, 0}).ok()) {
        return false;
    }
    slot.enumerated = true;
    return true;
}

DriverHandle SimDriver::Open(int instance) {
    Slot* slot = SlotFor(instance);
    if (!slot) {
        return kInvalidHandle;
    }
    CatchUp(*slot);
    (void)UnplugDue(*slot);
    Ezusb& chip = slot->board->chip();
    const auto onBus = [&] {
        return chip.connected() && slot->connection == chip.connectCount() && slot->enumerated;
    };
    if (!onBus() && options_.speed == 0.0 && !chip.cpuHeld() && chip.cableAttached()) {
        // No waiting: a board that is re-enumerating is back as soon as it is looked for.
        const std::uint64_t end = chip.cycles() + kBootBudget;
        while (!onBus() && chip.cycles() < end) {
            RunTo(*slot, chip.cycles() + kCyclesPerMs);
        }
    }
    if (!onBus()) {
        return kInvalidHandle;
    }
    const DriverHandle handle = nextHandle_++;
    open_[handle] = {instance, chip.connectCount()};
    return handle;
}

void SimDriver::Close(DriverHandle handle) {
    open_.erase(handle);
}

std::string SimDriver::DescribeInstance(int instance) {
    if (instance < 0 || instance >= options_.boards) {
        return {};
    }
    switch (options_.boot) {
    case SimBoot::Old:
        return "simulated board, boots our firmware as \"V099\" from its EEPROM";
    case SimBoot::Current:
        return "simulated board, boots our firmware from its EEPROM";
    case SimBoot::Blank:
        return "simulated board, no EEPROM (blank chip)";
    }
    return {};
}

Board& SimDriver::board(int instance) {
    return *SlotFor(instance)->board;
}

void SimDriver::RunBoard(int instance, std::uint64_t cycles) {
    if (Slot* slot = SlotFor(instance)) {
        RunTo(*slot, slot->board->chip().cycles() + cycles);
    }
}

IoResult SimDriver::IoControl(DriverHandle handle, std::uint32_t code,
                              std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
    const auto it = open_.find(handle);
    if (it == open_.end()) {
        NoteError("handle " + std::to_string(handle) +
                  " is not open (closed, or its simulated board was plugged in again)");
        return {};
    }
    Slot& slot = *slots_[static_cast<std::size_t>(it->second.instance)];
    CatchUp(slot);
    // A board that left the bus (to re-enumerate, or unplugged) no longer answers this handle.
    Ezusb& chip = slot.board->chip();
    const auto offBus = [&] {
        NoteError("simulated board instance " + std::to_string(it->second.instance) +
                  (chip.cableAttached() ? " left the bus to re-enumerate; the handle is dead"
                                        : " is off the bus: its cable was pulled"));
        return IoResult{};
    };
    if (UnplugDue(slot) || !chip.connected() || chip.connectCount() != it->second.connection) {
        return offBus();
    }
    IoResult result;
    switch (code) {
    case IOCTL_Ezusb_VENDOR_REQUEST:
        result = VendorRequest(slot, input, output);
        break;
    case IOCTL_Ezusb_ANCHOR_DOWNLOAD:
        result = AnchorDownload(slot, input);
        break;
    case IOCTL_Ezusb_GET_STRING_DESCRIPTOR:
        result = StringDescriptor(slot, input, output);
        break;
    case IOCTL_EZUSB_BULK_WRITE:
        result = Bulk(slot, true, input, output);
        break;
    case IOCTL_EZUSB_BULK_READ:
        result = Bulk(slot, false, input, output);
        break;
    default:
        break;
    }
    // A cable pulled while the transfer ran takes it down with it.
    if (UnplugDue(slot)) {
        return offBus();
    }
    return result;
}

IoResult SimDriver::VendorRequest(Slot& slot, std::span<const std::uint8_t> input,
                                  std::span<std::uint8_t> output) {
    const auto request = DecodeVendorRequestIn(input);
    // The record carries one data byte, so no request can move more.
    if (!request || request->length > 1) {
        return {};
    }
    const bool toDevice = request->direction == 0;
    const UsbSetup setup{static_cast<std::uint8_t>(toDevice ? 0x40 : 0xC0), request->request,
                         request->value, request->index, request->length};
    const std::uint8_t data = request->data;
    const auto r = slot.board->chip().controlTransfer(
        setup, toDevice ? std::span<const std::uint8_t>(&data, request->length)
                        : std::span<const std::uint8_t>{});
    if (!r.ok()) {
        return {};
    }
    if (!toDevice && !r.data.empty() && !output.empty()) {
        output[0] = r.data[0];
        return {true, 1};
    }
    return {true, 0};
}

IoResult SimDriver::AnchorDownload(Slot& slot, std::span<const std::uint8_t> image) {
    if (image.size() > 0x10000) {
        return {};
    }
    for (std::size_t off = 0; off < image.size(); off += kDownloadChunk) {
        const std::size_t n = std::min(kDownloadChunk, image.size() - off);
        const UsbSetup setup{0x40, kFirmwareLoadRequest, static_cast<std::uint16_t>(off), 0,
                             static_cast<std::uint16_t>(n)};
        if (!slot.board->chip().controlTransfer(setup, image.subspan(off, n)).ok()) {
            return {};
        }
    }
    return {true, 0};
}

IoResult SimDriver::StringDescriptor(Slot& slot, std::span<const std::uint8_t> input,
                                     std::span<std::uint8_t> output) {
    const auto request = DecodeGetStringDescriptorIn(input);
    if (!request || output.empty()) {
        return {};
    }
    const UsbSetup setup{0x80, kGetDescriptor, static_cast<std::uint16_t>(0x0300 | request->index),
                         request->languageId,
                         static_cast<std::uint16_t>(std::min<std::size_t>(output.size(), 0xFFFF))};
    const auto r = slot.board->chip().controlTransfer(setup);
    if (!r.ok()) {
        return {};
    }
    const std::size_t n = std::min(r.data.size(), output.size());
    std::copy_n(r.data.begin(), n, output.begin());
    return {true, static_cast<std::uint32_t>(n)};
}

IoResult SimDriver::Bulk(Slot& slot, bool toDevice, std::span<const std::uint8_t> input,
                         std::span<std::uint8_t> output) {
    const auto control = DecodeBulkTransferControl(input);
    if (!control || control->pipeNumber >= slot.pipes.size()) {
        return {};
    }
    const std::uint8_t address = slot.pipes[control->pipeNumber];
    const std::uint8_t type = slot.pipeTypes[control->pipeNumber];
    if (((address & kEndpointIn) != 0) == toDevice ||
        (type != kTypeBulk && type != kTypeInterrupt)) {
        return {}; // the pipe runs the other way, or is no bulk pipe
    }
    Ezusb& chip = slot.board->chip();
    const int endpoint = address & 0x0F;
    if (toDevice) {
        std::size_t off = 0;
        do {
            const std::size_t n = std::min(kEndpointPacketSize, output.size() - off);
            if (!chip.bulkOut(endpoint, output.subspan(off, n)).ok()) {
                return {};
            }
            off += n;
        } while (off < output.size());
        return {true, static_cast<std::uint32_t>(output.size())};
    }
    std::size_t got = 0;
    while (got < output.size()) {
        const auto r = chip.bulkIn(endpoint);
        if (!r.ok()) {
            return {};
        }
        // More than the buffer holds is an overflow, as on a real bus: the transfer fails.
        if (r.data.size() > output.size() - got) {
            return {};
        }
        std::copy(r.data.begin(), r.data.end(), output.begin() + static_cast<std::ptrdiff_t>(got));
        got += r.data.size();
        if (r.data.size() < kEndpointPacketSize) {
            break;
        }
    }
    return {true, static_cast<std::uint32_t>(got)};
}

} // namespace pulsara::sim
