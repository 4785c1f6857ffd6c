#include "cli/capture_series.h"

#include <ostream>

namespace pulsara::cli {

std::filesystem::path SeriesPath(const std::filesystem::path& output, int k) {
    const std::string name = output.filename().string();
    const auto dot = name.find('.');
    const std::string numbered =
        dot == std::string::npos ? name + "-" + std::to_string(k)
                                 : name.substr(0, dot) + "-" + std::to_string(k) + name.substr(dot);
    return output.parent_path() / numbered;
}

int RunCaptureSeries(EzusbDriver& driver, Capture& capture, std::span<const std::uint8_t> image,
                     const BoardCaptureRequest& request, int count, Clock& clock, std::ostream& out,
                     std::ostream& err) {
    // Every capture starts from the settings asked for, whatever the last one left.
    const CaptureSettings wanted = capture.settings;
    for (int k = 1; k <= count; ++k) {
        BoardCaptureRequest one = request;
        one.output = SeriesPath(request.output, k);
        capture.settings = wanted;
        err << "pulsara-cli: capture " << k << " of " << count << " (" << one.output.string()
            << ")\n";
        if (const int status = RunBoardCapture(driver, capture, image, one, clock, out, err);
            status != 0) {
            err << "pulsara-cli: capture " << k << " of " << count << " failed; "
                << (k == 1 ? std::string("nothing was written")
                           : "captures 1 to " + std::to_string(k - 1) + " were written")
                << "\n";
            return status;
        }
    }
    err << "pulsara-cli: " << count << " captures written, "
        << SeriesPath(request.output, 1).string() << " to "
        << SeriesPath(request.output, count).string() << "\n";
    return 0;
}

} // namespace pulsara::cli
