// The bus behind the libusb stand-in: ports, the host stack's enumeration, faults.

#include "standin_devices.h"

#include "firmware/image.h"

#include <algorithm>

namespace pulsara::test {
namespace {

constexpr std::uint64_t kCyclesPerMs = kCyclesPerSecond / 1000;
// The host stack enumerates a device once its connection has been stable this long.
constexpr std::uint64_t kDebounceCycles = 20 * kCyclesPerMs;
// A board plugged in has had this long to boot and be enumerated.
constexpr std::uint64_t kPlugBudget = 4 * kCyclesPerSecond;
constexpr std::uint8_t kGetDescriptor = 6, kSetAddress = 5, kSetConfiguration = 9;

StandinBus* g_live = nullptr;

} // namespace

StandinBus::StandinBus() {
    g_live = this;
}

StandinBus::~StandinBus() {
    if (g_live == this) {
        g_live = nullptr;
    }
}

StandinBus* StandinBus::live() {
    return g_live;
}

Board& StandinBus::Plug(SimBoot boot) {
    auto port = std::make_unique<Port>();
    port->number = static_cast<int>(ports_.size()) + 1;
    port->board = std::make_unique<Board>(boot, FirmwareImage());
    Port& p = *port;
    ports_.push_back(std::move(port));
    Ezusb& chip = p.board->chip();
    const std::uint64_t end = chip.cycles() + kPlugBudget;
    while (!p.current && !(p.enumerationTried && chip.connected()) && chip.cycles() < end) {
        Settle(p, chip.cycles() + kCyclesPerMs);
    }
    return *p.board;
}

Board& StandinBus::board(int number) {
    return *port(number).board;
}

void StandinBus::Advance(std::chrono::milliseconds duration) {
    for (auto& p : ports_) {
        Settle(*p, p->board->chip().cycles() +
                       static_cast<std::uint64_t>(duration.count()) * kCyclesPerMs);
    }
}

void StandinBus::Settle(Port& p, std::uint64_t target) {
    Ezusb& chip = p.board->chip();
    while (chip.cycles() < target) {
        if (chip.connected() && p.connection != chip.connectCount()) {
            p.connection = chip.connectCount();
            p.connectedAt = chip.cycles();
            p.enumerationTried = false;
            p.current = nullptr;
        }
        const bool waiting = chip.connected() && !p.enumerationTried;
        if (waiting && chip.cycles() - p.connectedAt >= kDebounceCycles) {
            Enumerate(p);
            continue;
        }
        const std::uint64_t left = target - chip.cycles();
        if (!waiting && chip.skipIdleLoop(left) > 0) {
            continue;
        }
        (void)chip.run(std::min(left, kCyclesPerMs));
    }
}

void StandinBus::Enumerate(Port& p) {
    p.enumerationTried = true;
    if (refuseEnumeration_) {
        return;
    }
    Ezusb& chip = p.board->chip();
    chip.busReset();
    const auto device = chip.controlTransfer({0x80, kGetDescriptor, 0x0100, 0, 18});
    if (!device.ok() || device.data.size() < 18) {
        return;
    }
    const std::uint8_t address = nextAddress_;
    nextAddress_ = static_cast<std::uint8_t>(nextAddress_ % 127 + 1);
    if (!chip.controlTransfer({0x00, kSetAddress, address, 0, 0}).ok()) {
        return;
    }
    const auto head = chip.controlTransfer({0x80, kGetDescriptor, 0x0200, 0, 9});
    if (!head.ok() || head.data.size() < 4) {
        return;
    }
    const auto total = static_cast<std::uint16_t>(head.data[2] | (head.data[3] << 8));
    const auto config = chip.controlTransfer({0x80, kGetDescriptor, 0x0200, 0, total});
    if (!config.ok() || !chip.controlTransfer({0x00, kSetConfiguration, 1, 0, 0}).ok()) {
        return;
    }
    auto d = std::make_unique<Device>();
    d->handle.device = d.get();
    d->port = &p;
    d->connection = chip.connectCount();
    d->address = address;
    d->deviceDescriptor = device.data;
    d->configuration = config.data;
    p.current = d.get();
    devices_.push_back(std::move(d));
}

std::vector<StandinBus::Device*> StandinBus::Enumerated() {
    std::vector<Device*> devices;
    for (auto& p : ports_) {
        if (p->current && p->current->alive()) {
            devices.push_back(p->current);
        }
    }
    return devices;
}

void StandinBus::Inject(StandinFault fault) {
    faults_.push_back({fault, 0});
}

const StandinFault* StandinBus::Due(StandinCall call) {
    static StandinFault due;
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->fault.call == call && ++it->seen == it->fault.nth) {
            due = it->fault;
            faults_.erase(it);
            return &due;
        }
    }
    return nullptr;
}

} // namespace pulsara::test
