// A capture file and its companion text from one input: the raw file is the bytes before
// the first "\n--wfd--\n" and the companion those after it (no marker: no companion). A
// first byte with bit 7 set pads the raw file to a whole sample memory and beyond.

#include "capture/capture_files.h"
#include "fuzz_support.h"

#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pulsara;
    const auto input = fuzz::Text(data, size);
    constexpr std::string_view kMarker = "\n--wfd--\n";
    const auto marker = input.find(kMarker);
    std::string raw(input.substr(0, marker));
    if (!raw.empty() && (static_cast<unsigned char>(raw[0]) & 0x80) != 0) {
        raw.resize(kSampleMemoryBytes + 7, '\x3C');
    }
    const auto& scratch = fuzz::ScratchFolder();
    const auto rawPath = scratch.Write("c.wfa", raw);
    if (marker == std::string_view::npos) {
        scratch.Remove("c.wfd");
    } else {
        (void)scratch.Write("c.wfd", input.substr(marker + kMarker.size()));
    }
    static const auto capture = std::make_unique<Capture>();
    const LoadResult result = LoadCapture(*capture, rawPath);
    if (!result.ok) {
        fuzz::Broken("a readable capture file was refused");
    }
    if (result.sampleBytesRead > kSampleMemoryBytes ||
        result.shortFile != (result.sampleBytesRead < kSampleMemoryBytes)) {
        fuzz::Broken("sample byte count out of range");
    }
    fuzz::CheckCapture(*capture);
    return 0;
}
