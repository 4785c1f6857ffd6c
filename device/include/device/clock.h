#pragma once
// Time as the device link sees it: real time in the program, virtual time in tests.

#include <chrono>

namespace pulsara {

class Clock {
public:
    virtual ~Clock() = default;
    [[nodiscard]] virtual std::chrono::milliseconds Now() = 0;
    virtual void SleepFor(std::chrono::milliseconds duration) = 0;
};

// The monotonic system clock and a real sleep.
class SystemClock final : public Clock {
public:
    [[nodiscard]] std::chrono::milliseconds Now() override;
    void SleepFor(std::chrono::milliseconds duration) override;
};

} // namespace pulsara
