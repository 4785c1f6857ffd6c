// The usbfs ioctls libusb sends, served by the emulated chip.

#include "usbfs_state.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <set>
#include <thread>

namespace pulsara::test {

std::optional<UrbFault> UsbfsTestbed::State::Due(UrbKind kind) {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->fault.urb == kind && ++it->seen == it->fault.nth) {
            const UrbFault fault = it->fault;
            faults.erase(it);
            return fault;
        }
    }
    return std::nullopt;
}

Device* UsbfsTestbed::State::DeviceAt(const char* devnode) {
    for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
        if ((*it)->devnode == devnode) {
            return it->get();
        }
    }
    return nullptr;
}

UMockdevIoctlData* UsbfsTestbed::State::Resolve(UMockdevIoctlData* data, std::size_t offset,
                                                std::size_t length) {
    GError* error = nullptr;
    UMockdevIoctlData* child = umockdev_ioctl_data_resolve(data, offset, length, &error);
    g_clear_error(&error);
    return child;
}

void UsbfsTestbed::State::Handle(UMockdevIoctlClient* client) {
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
        const std::uint32_t offered =
            scatterGather ? kCapabilities : kCapabilities & ~USBDEVFS_CAP_BULK_SCATTER_GATHER;
        std::memcpy(caps->data, &offered, sizeof offered);
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
        Submit(*d, arg, client);
        return;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
        Reap(*d, arg, client);
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

void UsbfsTestbed::State::Reap(Device& d, UMockdevIoctlData* arg, UMockdevIoctlClient* client) {
    const auto complete = [client](long result, int error) {
        umockdev_ioctl_client_complete(client, result, error);
    };
    if (d.done.empty()) {
        if (!d.alive && d.pending.empty()) {
            complete(-1, ENODEV);
            return;
        }
        // libusb polls the node, which never blocks here: keep its spinning slow (the
        // first empty reap after one that found a URB is libusb draining, not waiting).
        if (++d.emptyReaps > 1) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        complete(-1, EAGAIN);
        return;
    }
    d.emptyReaps = 0;
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

void UsbfsTestbed::State::Submit(Device& d, UMockdevIoctlData* arg, UMockdevIoctlClient* client) {
    const auto complete = [client](long result, int error) {
        umockdev_ioctl_client_complete(client, result, error);
    };
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
    // A transfer libusb split into URBs: once one ended short or failed, the kernel ends
    // the rest of that transfer (flagged as its continuation) without moving data.
    const int bulkEp = head.endpoint & 0x8F;
    const bool bulk = head.type != USBDEVFS_URB_TYPE_CONTROL;
    const bool continuation = (head.flags & USBDEVFS_URB_BULK_CONTINUATION) != 0;
    if (bulk && !continuation) {
        d.stoppedEndpoints.erase(bulkEp);
    }
    bool pending = false;
    if (bulk && continuation && d.stoppedEndpoints.count(bulkEp) != 0) {
        urb.Finish(-EREMOTEIO, 0);
    } else {
        pending = bulk ? Bulk(urb) : Control(urb);
    }
    if (bulk && !pending && urb.urb().status != 0) {
        d.stoppedEndpoints.insert(bulkEp);
    }
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

std::string UsbfsTestbed::State::Describe(const Urb& urb, bool pending) {
    const usbdevfs_urb& u = urb.urb();
    std::string line;
    if (u.type == USBDEVFS_URB_TYPE_CONTROL) {
        const auto b = urb.bytes();
        line = "control " + Hex(b[0], 2) + " " + Hex(b[1], 2) + " " +
               Hex(static_cast<unsigned>(b[2] | (b[3] << 8)), 4) + " len " +
               std::to_string(b[6] | (b[7] << 8));
    } else {
        line = std::string((u.endpoint & 0x80) ? "bulk in " : "bulk out ") + Hex(u.endpoint, 2) +
               " len " + std::to_string(u.buffer_length);
    }
    return line + " -> " + (pending ? "pending" : std::to_string(u.status)) + " moved " +
           std::to_string(u.actual_length);
}

void UsbfsTestbed::State::PullCable() {
    chip().setCableAttached(false);
    Track();
}

bool UsbfsTestbed::State::Control(Urb& urb) {
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

bool UsbfsTestbed::State::Bulk(Urb& urb) {
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
                ep, std::span<const std::uint8_t>(b.data() + moved, static_cast<std::size_t>(n)),
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

} // namespace pulsara::test
