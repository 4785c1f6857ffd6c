// The testbed's public side. umockdev runs the ioctl handler on its own thread; every
// entry point takes the mutex.

#include "usbfs_state.h"

#include "firmware/image.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace pulsara::test {

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

void UsbfsTestbed::SetScatterGather(bool available) {
    const std::lock_guard lock(state_->mutex);
    state_->scatterGather = available;
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
