#pragma once
// A driver that records every call, a board behind it that answers as a test scripts, and
// a virtual clock.

#include "device/clock.h"
#include "device/device_link.h"
#include "device/driver_records.h"
#include "device/ezusb_driver.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace pulsara::test {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

struct DriverCall {
    int instance = -1; // set for Open, else -1
    std::uint32_t code = 0;
    Bytes input;
    std::size_t outputLength = 0;
    Bytes written; // a bulk write's data (its output buffer)
};

class FakeDriver : public EzusbDriver {
public:
    std::function<bool(int instance)> present = [](int) { return false; };
    std::function<IoResult(const DriverCall&, std::span<std::uint8_t>)> reply =
        [](const DriverCall&, std::span<std::uint8_t>) {
            return IoResult{true, 0};
        };
    std::vector<DriverCall> calls; // opens and I/O controls, in order
    std::set<DriverHandle> openHandles;
    std::string error; // what TakeError hands out once

    DriverHandle Open(int instance) override {
        calls.push_back({instance, 0, {}, 0, {}});
        if (!present(instance)) {
            return kInvalidHandle;
        }
        openHandles.insert(next_);
        return next_++;
    }
    void Close(DriverHandle handle) override { openHandles.erase(handle); }
    std::string TakeError() override { return std::exchange(error, {}); }
    IoResult IoControl(DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output) override {
        DriverCall call{-1, code, {input.begin(), input.end()}, output.size(), {}};
        if (code == IOCTL_EZUSB_BULK_WRITE) {
            call.written.assign(output.begin(), output.end());
        }
        calls.push_back(call);
        return openHandles.contains(handle) ? reply(call, output) : IoResult{};
    }

    [[nodiscard]] std::vector<DriverCall> IoCalls() const {
        std::vector<DriverCall> io;
        std::copy_if(calls.begin(), calls.end(), std::back_inserter(io),
                     [](const DriverCall& c) { return c.instance < 0; });
        return io;
    }
    [[nodiscard]] std::vector<int> Opened() const {
        std::vector<int> opened;
        for (const auto& c : calls) {
            if (c.instance >= 0) {
                opened.push_back(c.instance);
            }
        }
        return opened;
    }

private:
    DriverHandle next_ = 100;
};

class FakeClock : public Clock {
public:
    milliseconds now{0};
    std::vector<milliseconds> sleeps;
    milliseconds Now() override { return now; }
    void SleepFor(milliseconds d) override {
        sleeps.push_back(d);
        now += d;
    }
};

struct ScriptedRead {
    bool ok = true;
    Bytes data; // copied to the buffer; its size is the count returned
};

// A board on instance 0. It identifies itself with two descriptor texts (nothing: the
// request fails), collects bulk writes and serves bulk reads from `reads`. Once its 8051 is
// released after a download it is off the bus until `backAfter` has passed (never if unset).
class FakeBoard {
public:
    std::optional<std::string> descriptor1 = "WFFW";
    std::optional<std::string> descriptor2 = "V100";
    std::set<std::string> failing; // "halt", "download", "run"
    std::optional<milliseconds> backAfter = milliseconds{0};
    std::deque<ScriptedRead> reads;
    std::vector<Bytes> writes;
    std::vector<std::size_t> readLengths;

    FakeBoard(FakeDriver& driver, FakeClock& clock) {
        driver.present = [this, &clock](int n) {
            return n == 0 && (!leftAt_ || (backAfter && clock.now - *leftAt_ >= *backAfter));
        };
        driver.reply = [this, &clock](const DriverCall& call, std::span<std::uint8_t> out) {
            return Answer(call, out, clock);
        };
    }

private:
    IoResult Answer(const DriverCall& call, std::span<std::uint8_t> out, FakeClock& clock) {
        switch (call.code) {
        case IOCTL_Ezusb_GET_STRING_DESCRIPTOR: {
            const auto& text = call.input[0] == 1 ? descriptor1 : descriptor2;
            if (!text) {
                return {};
            }
            out[0] = static_cast<std::uint8_t>(2 + 2 * text->size());
            out[1] = 3;
            for (std::size_t k = 0; k < text->size(); ++k) {
                out[2 + 2 * k] = static_cast<std::uint8_t>((*text)[k]);
            }
            return {true, out[0]};
        }
        case IOCTL_Ezusb_VENDOR_REQUEST: {
            const bool halt = call.input[9] == 1;
            if (failing.contains(halt ? "halt" : "run")) {
                return {};
            }
            if (!halt) {
                leftAt_ = clock.now;
            }
            return {true, 0};
        }
        case IOCTL_Ezusb_ANCHOR_DOWNLOAD:
            return {!failing.contains("download"), 0};
        case IOCTL_EZUSB_BULK_WRITE:
            writes.push_back(call.written);
            return {true, static_cast<std::uint32_t>(call.written.size())};
        case IOCTL_EZUSB_BULK_READ: {
            if (reads.empty()) {
                return {};
            }
            const auto next = reads.front();
            reads.pop_front();
            readLengths.push_back(out.size());
            const std::size_t n = std::min(next.data.size(), out.size());
            std::copy_n(next.data.begin(), n, out.begin());
            return {next.ok, static_cast<std::uint32_t>(n)};
        }
        default:
            return {};
        }
    }

    std::optional<milliseconds> leftAt_;
};

// A link to a scripted board on instance 0, with its claims in a folder of their own.
struct LinkedBoard {
    TempDir locks;
    FakeDriver driver;
    FakeClock clock;
    FakeBoard board{driver, clock};
    std::ostringstream out;
    DeviceLink link{driver, out, locks.path()};
};

} // namespace pulsara::test
