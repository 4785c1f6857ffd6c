#pragma once
// A driver that records every call and answers as a script says, and a virtual clock.

#include "device/clock.h"
#include "device/ezusb_driver.h"

#include <deque>
#include <functional>
#include <set>
#include <vector>

namespace pulsara::test {

struct DriverCall {
    enum class Kind { Open, Close, Io };
    Kind kind = Kind::Io;
    int instance = -1;
    DriverHandle handle = kNullHandle;
    std::uint32_t code = 0;
    std::vector<std::uint8_t> input;
    std::size_t outputLength = 0;
    std::vector<std::uint8_t> written; // the data of a bulk write (its output buffer)
};

class FakeDriver : public EzusbDriver {
public:
    // Which instances can be opened; none by default.
    std::function<bool(int instance)> present = [](int) { return false; };
    // The answer to an I/O control on an open handle; by default success with 0 bytes.
    std::function<IoResult(const DriverCall&, std::span<std::uint8_t> output)> reply =
        [](const DriverCall&, std::span<std::uint8_t>) {
            return IoResult{true, 0};
        };

    std::vector<DriverCall> calls;
    std::set<DriverHandle> openHandles;

    DriverHandle Open(int instance) override {
        calls.push_back({DriverCall::Kind::Open, instance, kNullHandle, 0, {}, 0, {}});
        if (!present(instance)) {
            return kInvalidHandle;
        }
        const DriverHandle handle = nextHandle_++;
        openHandles.insert(handle);
        return handle;
    }

    void Close(DriverHandle handle) override {
        calls.push_back({DriverCall::Kind::Close, -1, handle, 0, {}, 0, {}});
        openHandles.erase(handle);
    }

    IoResult IoControl(DriverHandle handle, std::uint32_t code, std::span<const std::uint8_t> input,
                       std::span<std::uint8_t> output) override {
        DriverCall call{DriverCall::Kind::Io, -1, handle, code, {input.begin(), input.end()},
                        output.size(),        {}};
        if (code == IOCTL_EZUSB_BULK_WRITE) {
            call.written.assign(output.begin(), output.end());
        }
        calls.push_back(call);
        if (!openHandles.contains(handle)) {
            return {};
        }
        return reply(call, output);
    }

    [[nodiscard]] std::vector<DriverCall> IoCalls() const {
        std::vector<DriverCall> io;
        for (const auto& c : calls) {
            if (c.kind == DriverCall::Kind::Io) {
                io.push_back(c);
            }
        }
        return io;
    }
    [[nodiscard]] std::vector<int> OpenedInstances() const {
        std::vector<int> opened;
        for (const auto& c : calls) {
            if (c.kind == DriverCall::Kind::Open) {
                opened.push_back(c.instance);
            }
        }
        return opened;
    }

private:
    DriverHandle nextHandle_ = 100;
};

// A board on instance 0 that runs our firmware: bulk writes are collected, bulk reads are served in
// order from `reads` (an entry that is not ok fails the read).
struct ScriptedRead {
    bool ok = true;
    std::vector<std::uint8_t> data; // copied to the buffer; its size is the count returned
};

class ScriptedBoard {
public:
    explicit ScriptedBoard(FakeDriver& driver) {
        driver.present = [](int instance) { return instance == 0; };
        driver.reply = [this](const DriverCall& call, std::span<std::uint8_t> output) {
            if (call.code == IOCTL_EZUSB_BULK_WRITE) {
                writes.push_back(call.written);
                return IoResult{true, static_cast<std::uint32_t>(call.written.size())};
            }
            if (call.code == IOCTL_Ezusb_GET_STRING_DESCRIPTOR) {
                // Our firmware's identity: "WFFW" for 1, "V100" for 2.
                const char* text = call.input[0] == 1 ? "WFFW" : "V100";
                output[0] = 10;
                output[1] = 3;
                for (std::size_t k = 0; k < 4; ++k) {
                    output[2 + 2 * k] = static_cast<std::uint8_t>(text[k]);
                }
                return IoResult{true, 10};
            }
            if (call.code != IOCTL_EZUSB_BULK_READ || reads.empty()) {
                return IoResult{};
            }
            const auto next = reads.front();
            reads.pop_front();
            readLengths.push_back(output.size());
            if (!next.ok) {
                return IoResult{};
            }
            const std::size_t n = std::min(next.data.size(), output.size());
            std::copy_n(next.data.begin(), n, output.begin());
            return IoResult{true, static_cast<std::uint32_t>(n)};
        };
    }

    std::deque<ScriptedRead> reads;
    std::vector<std::vector<std::uint8_t>> writes;
    std::vector<std::size_t> readLengths;
};

class FakeClock : public Clock {
public:
    std::chrono::milliseconds now{0};
    std::vector<std::chrono::milliseconds> sleeps;

    std::chrono::milliseconds Now() override { return now; }
    void SleepFor(std::chrono::milliseconds duration) override {
        sleeps.push_back(duration);
        now += duration;
    }
};

} // namespace pulsara::test
