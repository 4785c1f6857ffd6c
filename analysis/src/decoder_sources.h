#pragma once
// What a decode's result depends on outside the capture: the source files of the decoders
// it loaded, and the places where a copy installed later would be loaded instead.

#include <cstdint>
#include <string>
#include <vector>

namespace pulsara::analysis::detail {

class SrdLock;

// A file as it was: size and modification time, or size -1 for a file that was not there.
struct FileStamp {
    std::string path;
    std::int64_t size = -1;
    std::int64_t mtimeNs = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

[[nodiscard]] FileStamp StampOf(const std::string& path);

// The stamps of every Python file of the loaded decoders `ids` and of the decoders'
// shared "common" package, and of `ID/pd.py` in every other decoder folder
// libsigrokdecode searches. Empty when a decoder's files cannot be told.
[[nodiscard]] std::vector<FileStamp> DecoderSourceStamps(SrdLock& lock,
                                                         const std::vector<std::string>& ids);

// Whether every file is still as stamped.
[[nodiscard]] bool StampsHold(const std::vector<FileStamp>& stamps);

} // namespace pulsara::analysis::detail
