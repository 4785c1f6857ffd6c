#include "analysis/decode_cache.h"

#include "decoded_file.h"
#include "decoder_sources.h"
#include "srd_library.h"

#include <libsigrokdecode/libsigrokdecode.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace pulsara::analysis {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kKeptEntries = 64;

class Sha256 {
public:
    Sha256() : sum_(g_checksum_new(G_CHECKSUM_SHA256)) {}
    ~Sha256() { g_checksum_free(sum_); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Bytes(const void* p, std::size_t n) {
        g_checksum_update(sum_, static_cast<const guchar*>(p), static_cast<gssize>(n));
    }
    // Length first, so that no two sequences of fields hash alike.
    void Text(std::string_view s) {
        Number(s.size());
        Bytes(s.data(), s.size());
    }
    void Number(std::uint64_t v) { Bytes(&v, sizeof v); }
    std::string Hex() { return g_checksum_get_string(sum_); }

private:
    GChecksum* sum_;
};

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Everything a decode's result depends on apart from the decoder sources, which the entry's
// stamps cover.
std::string KeyOf(const Capture& capture, const DecodeRequest& request) {
    Sha256 h;
    h.Text("pulsara decoded 1");
    h.Text(srd_lib_version_string_get());
    // Where libsigrokdecode looks for decoders.
    for (const char* name : {"SIGROKDECODE_DIR", "XDG_DATA_HOME", "XDG_DATA_DIRS", "HOME"}) {
        h.Text(Env(name));
    }
    h.Number(request.stacks.size());
    for (const auto& stack : request.stacks) {
        h.Text(stack);
    }
    h.Number(request.samplerate ? 1 : 0);
    h.Number(request.samplerate.value_or(0));
    const auto& s = capture.settings;
    for (const std::int64_t v : {std::int64_t{s.rateIndex}, std::int64_t{s.triggerPosition},
                                 std::int64_t{s.triggerCondition}, std::int64_t{s.triggerProbe},
                                 std::int64_t{s.unfilledPairs}}) {
        h.Number(static_cast<std::uint64_t>(v));
    }
    h.Bytes(capture.samples.data(), capture.samples.size());
    const int rows = std::clamp(capture.channels.rowCount, 0, kMaxRows);
    h.Number(static_cast<std::uint64_t>(rows));
    for (int r = 0; r < rows; ++r) {
        const auto& row = capture.channels.rows[static_cast<std::size_t>(r)];
        h.Bytes(row.name.data(), row.name.size());
        h.Number(static_cast<std::uint64_t>(row.probeCount));
        h.Bytes(row.probes.data(), row.probes.size());
    }
    return h.Hex();
}

std::optional<DecodedCapture> Recall(const fs::path& entry, const std::string& key) {
    std::ifstream in(entry, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    auto file = detail::DecodeDecodedFile(bytes);
    if (!file || file->key != key || !detail::StampsHold(file->stamps)) {
        return std::nullopt;
    }
    std::error_code ec;
    fs::last_write_time(entry, fs::file_time_type::clock::now(), ec); // used last: kept longest
    return DecodedCapture{std::move(file->plan), std::move(file->annotations), true};
}

void DropOldest(const fs::path& folder) {
    std::error_code ec;
    std::vector<std::pair<fs::file_time_type, fs::path>> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".dec") {
            entries.emplace_back(it->last_write_time(ec), it->path());
        }
    }
    if (entries.size() <= kKeptEntries) {
        return;
    }
    std::sort(entries.begin(), entries.end());
    for (std::size_t i = 0; i + kKeptEntries < entries.size(); ++i) {
        fs::remove(entries[i].second, ec);
    }
}

void Remember(const fs::path& folder, const fs::path& entry, detail::DecodedFile file) {
    std::vector<std::string> ids;
    for (const auto& stack : file.plan.stacks) {
        for (const auto& setup : stack) {
            ids.push_back(setup.decoder.id);
        }
    }
    {
        auto lock = detail::LockSrd();
        if (!lock) {
            return;
        }
        file.stamps = detail::DecoderSourceStamps(lock.value(), ids);
    }
    if (file.stamps.empty()) {
        return; // sources that cannot be told could change unseen
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    // Written beside the entry and renamed over it, so a reader never sees half a file.
    const fs::path temporary = entry.string() + ".part" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        const std::string bytes = detail::EncodeDecodedFile(file);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            out.close();
            fs::remove(temporary, ec);
            return;
        }
    }
    fs::rename(temporary, entry, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return;
    }
    DropOldest(folder);
}

} // namespace

fs::path DefaultDecodeCacheFolder() {
    const std::string folder = detail::UserCacheFolder();
    return folder.empty() ? fs::path() : fs::path(folder) / "decoded";
}

Result<DecodedCapture> DecodeRemembered(const Capture& capture, const DecodeRequest& request,
                                        const fs::path& folder) {
    std::string key;
    fs::path entry;
    if (!folder.empty()) {
        key = KeyOf(capture, request);
        entry = folder / (key + ".dec");
        if (auto recalled = Recall(entry, key)) {
            return std::move(*recalled);
        }
    }
    auto plan = PlanDecode(capture, request);
    if (!plan) {
        return Result<DecodedCapture>::Fail(plan.error());
    }
    DecodedCapture decoded{std::move(plan).value(), {}, false};
    const auto result = RunDecode(capture, decoded.plan,
                                  [&](const Annotation& a) { decoded.annotations.push_back(a); });
    if (result.status != DecodeStatus::Finished) {
        return Result<DecodedCapture>::Fail(result.error);
    }
    if (!folder.empty()) {
        Remember(folder, entry, {key, {}, decoded.plan, decoded.annotations});
    }
    return decoded;
}

} // namespace pulsara::analysis
