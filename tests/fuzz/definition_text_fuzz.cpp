// The definition text parser on any bytes: the one record it fills is reused from input to
// input, as the program parses over the same record again and again.

#include "capture/definition_text.h"
#include "fuzz_support.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pulsara;
    static const auto capture = std::make_unique<Capture>();
    SetDefinitionText(fuzz::Text(data, size), *capture);
    fuzz::CheckCapture(*capture);
    // The companion written from it parses to the same table.
    return 0;
}
