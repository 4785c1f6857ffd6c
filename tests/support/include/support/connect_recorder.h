#pragma once
// What a connect told its user: the progress lines and each failure as the message box
// explains it.

#include "device/firmware_loader.h"

#include <string>
#include <string_view>
#include <vector>

namespace pulsara::test {

struct ConnectRecorder final : ConnectEvents {
    void Progress(std::string_view line) override { lines.emplace_back(line); }
    void ConnectFailed(std::string_view, const ConnectResult& result) override {
        failures.push_back(ExplainConnectFailure(result));
    }
    std::vector<std::string> lines;
    std::vector<std::string> failures;
};

} // namespace pulsara::test
