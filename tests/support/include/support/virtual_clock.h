#pragma once
// A clock whose sleeps pass no real time, so waits on a board run in virtual time.

#include "device/clock.h"

#include <chrono>
#include <vector>

namespace pulsara::test {

class VirtualClock final : public Clock {
public:
    std::chrono::milliseconds Now() override { return now; }
    void SleepFor(std::chrono::milliseconds d) override {
        sleeps.push_back(d);
        now += d;
    }
    std::chrono::milliseconds now{0};
    std::vector<std::chrono::milliseconds> sleeps;
};

} // namespace pulsara::test
