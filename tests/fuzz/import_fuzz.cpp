// An importer on any bytes, the one PULSARA_IMPORT_SUFFIX (".vcd" or ".sr") picks: a file
// it refuses leaves the capture exactly as it was.

#include "capture/interop.h"
#include "fuzz_support.h"

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pulsara;
    const auto path =
        fuzz::ScratchFolder().Write("i" PULSARA_IMPORT_SUFFIX, fuzz::Text(data, size));
    static const auto capture = std::make_unique<Capture>();
    static const auto before = std::make_unique<Capture>();
    *before = *capture;
    const ImportResult result = ImportCapture(path, *capture);
    if (!result.ok && std::memcmp(capture.get(), before.get(), sizeof(Capture)) != 0) {
        fuzz::Broken("a refused file changed the capture");
    }
    if (result.samplesCovered < 0 ||
        result.samplesCovered > static_cast<int>(kSampleMemoryBytes / 4)) {
        fuzz::Broken("samples covered out of range");
    }
    fuzz::CheckCapture(*capture);
    return 0;
}
