// sigrok session import: each channel onto the probe of its own number, or, when some
// channel lies beyond probe 31 or --signals picks them, in order onto probes 0, 1, 2, ...

#include "sr_import.h"
#include "interop_settings.h"
#include "zip_archive.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

namespace pulsara::detail {
namespace {

constexpr std::size_t kMaxMetadataBytes = 1 << 20;
// sigrok's own devices stop far below this; a sample of 64 bytes holds 512 channels.
constexpr long kMaxChannels = 512;
constexpr long kMaxUnitSize = 64;
// What our export writes before the channel names: the probes no row shows.
constexpr std::string_view kUnshownComment = "# probes no row shows:";

std::string Member(const std::string& name) {
    return "archive member \"" + name + "\"";
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<long> ParseInt(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// "200 kHz", "16.666667 MHz", "3846154 Hz", "1000000": whole hertz.
std::optional<std::uint64_t> ParseSampleRate(std::string_view text) {
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end == copy.c_str() || !(value >= 0) || value > 1e12) {
        return std::nullopt;
    }
    std::string_view unit = Trim(std::string_view(end));
    double scale = 1;
    if (!unit.empty() && (unit[0] == 'k' || unit[0] == 'K' || unit[0] == 'M' || unit[0] == 'G')) {
        scale = unit[0] == 'G' ? 1e9 : (unit[0] == 'M' ? 1e6 : 1e3);
        unit.remove_prefix(1);
    }
    if (!unit.empty() && unit != "Hz") {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(std::llround(value * scale));
}

struct Metadata {
    std::string capturefile;
    std::map<std::string, std::pair<std::string, long>> keys; // value and line
    std::optional<std::string> unshown; // our export's list of probes no row shows
    bool fromSigrok = false;            // [global] names the sigrok version that wrote it
};

// The first [device N] section that names a logic capture.
std::optional<std::string> ParseMetadata(const std::string& text, Metadata& device) {
    std::string section;
    Metadata current;
    long line = 0;
    bool found = false;
    bool sigrok = false;
    const auto finishSection = [&] {
        if (!found && section.starts_with("device ") && current.keys.count("capturefile") != 0) {
            device = current;
            device.capturefile = current.keys["capturefile"].first;
            found = true;
        }
        current = {};
    };
    for (std::size_t start = 0; start < text.size();) {
        const auto end = std::min(text.find('\n', start), text.size());
        const auto raw = Trim(std::string_view(text).substr(start, end - start));
        start = end + 1;
        ++line;
        if (raw.starts_with(kUnshownComment)) {
            current.unshown = std::string(Trim(raw.substr(kUnshownComment.size())));
        }
        if (raw.empty() || raw[0] == '#' || raw[0] == ';') {
            continue;
        }
        if (raw.front() == '[') {
            if (raw.back() != ']') {
                return Member("metadata") + ", line " + std::to_string(line) +
                       ": section header \"" + std::string(raw) + "\" is not closed by ']'";
            }
            finishSection();
            section = raw.substr(1, raw.size() - 2);
            continue;
        }
        const auto equals = raw.find('=');
        if (equals == std::string_view::npos) {
            return Member("metadata") + ", line " + std::to_string(line) + ": \"" +
                   std::string(raw.substr(0, 40)) + "\" is not key=value";
        }
        const std::string key(Trim(raw.substr(0, equals)));
        if (section == "global" && key == "sigrok version") {
            sigrok = true;
        }
        current.keys[key] = {std::string(Trim(raw.substr(equals + 1))), line};
    }
    finishSection();
    device.fromSigrok = sigrok;
    if (!found) {
        return Member("metadata") + " names no logic capture (no [device] section with "
                                    "capturefile=); the file holds no samples pulsara can read";
    }
    return std::nullopt;
}

// "0-3,7" or "0,1,2,3,7": the probe numbers of our export's list.
std::vector<bool> ProbeList(std::string_view text) {
    std::vector<bool> listed(32, false);
    while (!text.empty()) {
        const auto comma = std::min(text.find(','), text.size());
        const auto item = Trim(text.substr(0, comma));
        text.remove_prefix(std::min(comma + 1, text.size()));
        const auto dash = item.find('-');
        const auto first = ParseInt(item.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : ParseInt(item.substr(dash + 1));
        for (long p = first.value_or(32); p <= last.value_or(-1) && p < 32; ++p) {
            listed[static_cast<std::size_t>(p)] = true;
        }
    }
    return listed;
}

struct Channel {
    long index = 0; // its bit in a sample
    std::string name;
    int probe = -1; // -1: left out
};

// Which channels become which probes; fills rows and warnings.
std::optional<std::string> MapChannels(const Metadata& device, long count,
                                       const ImportOptions& options, std::vector<Channel>& mapped,
                                       ImportedCapture& imported) {
    std::vector<Channel> channels;
    for (long c = 0; c < count; ++c) {
        const auto found = device.keys.find("probe" + std::to_string(c + 1));
        if (found != device.keys.end()) {
            channels.push_back({c, found->second.first, -1});
        }
    }
    if (channels.empty()) {
        return Member("metadata") + " names no channel (probe1=...); there are no signals to read";
    }
    std::vector<Channel> order;
    if (!options.names.empty()) {
        for (const auto& wanted : options.names) {
            const auto found = std::find_if(channels.begin(), channels.end(),
                                            [&](const Channel& c) { return c.name == wanted; });
            if (found == channels.end()) {
                return "--signals names \"" + wanted + "\", which is no channel of the file";
            }
            if (std::none_of(order.begin(), order.end(),
                             [&](const Channel& c) { return c.index == found->index; })) {
                order.push_back(*found);
            }
        }
    } else {
        order = channels;
    }
    // A channel keeps its own number as its probe, as sigrok numbers it, while every one
    // has a probe of that number; otherwise they go in order onto probes 0, 1, 2, ...
    const bool ownNumbers =
        options.names.empty() &&
        std::all_of(order.begin(), order.end(), [](const Channel& c) { return c.index < 32; });
    std::string leftOut;
    int leftCount = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (ownNumbers) {
            order[i].probe = static_cast<int>(order[i].index);
        } else if (i < 32) {
            order[i].probe = static_cast<int>(i);
        } else {
            ++leftCount;
            leftOut += (leftOut.empty() ? "" : ", ") + order[i].name;
        }
    }
    if (leftCount > 0) {
        imported.warnings.push_back("left out " + std::to_string(leftCount) +
                                    " channel(s) that do not fit the 32 probes after the ones "
                                    "before them: " +
                                    leftOut + "; pick the channels with --signals NAME,NAME,...");
    }
    // Our export lists the probes no row shows; a file of ours from before that list names
    // them P<n> at their own number (and has no sigrok version).
    std::vector<bool> unshown(32, false);
    if (device.unshown) {
        unshown = ProbeList(*device.unshown);
    } else if (!device.fromSigrok && count == 32 && ownNumbers) {
        const bool anyNamed = std::any_of(order.begin(), order.end(), [](const Channel& c) {
            return c.name != "P" + std::to_string(c.index);
        });
        for (const auto& c : order) {
            unshown[static_cast<std::size_t>(c.index)] =
                anyNamed && c.name == "P" + std::to_string(c.index);
        }
    }
    for (const auto& c : order) {
        if (c.probe < 0) {
            continue;
        }
        mapped.push_back(c);
        if (!(ownNumbers && unshown[static_cast<std::size_t>(c.index)])) {
            imported.rows.push_back({c.name, {c.probe}, {}});
        }
    }
    return std::nullopt;
}

// The "version" member: sessions of versions 1 and 2.
std::optional<std::string> CheckVersion(ZipReader& zip) {
    std::string text;
    bool tooLong = false;
    if (!zip.Has("version")) {
        return Member("version") + " is missing; this is not a sigrok session file";
    }
    if (!zip.Read("version", 16, text, tooLong)) {
        return Member("version") + " cannot be read: " + zip.Error();
    }
    const auto version = Trim(std::string_view(text).substr(0, text.find('\n')));
    if (version != "1" && version != "2") {
        return Member("version") + " holds \"" + std::string(version.substr(0, 16)) +
               "\"; pulsara reads sigrok session files of versions 1 and 2";
    }
    return std::nullopt;
}

std::optional<std::string> ReadMetadata(ZipReader& zip, Metadata& device) {
    if (!zip.Has("metadata")) {
        return Member("metadata") + " is missing; it names the channels and the sample rate";
    }
    std::string text;
    bool tooLong = false;
    if (!zip.Read("metadata", kMaxMetadataBytes, text, tooLong) || tooLong) {
        return Member("metadata") +
               (tooLong ? " is larger than 1 MiB" : " cannot be read: " + zip.Error());
    }
    return ParseMetadata(text, device);
}

struct SampleFormat {
    long channels = 0;
    long unitSize = 1; // bytes per sample
};

// Channel count, sample size and rate from the device's keys.
std::optional<std::string> ReadFormat(Metadata& device, const ImportOptions& options,
                                      SampleFormat& format, ImportedCapture& imported) {
    const auto at = [&](const std::string& key) {
        return Member("metadata") + ", line " + std::to_string(device.keys[key].second) + ": ";
    };
    if (device.keys.count("total probes") == 0) {
        return Member("metadata") + " does not give \"total probes\"";
    }
    const auto channels = ParseInt(device.keys["total probes"].first);
    if (!channels || *channels < 1 || *channels > kMaxChannels) {
        return at("total probes") + "the capture has \"" + device.keys["total probes"].first +
               "\" logic channels; pulsara reads 1 to " + std::to_string(kMaxChannels);
    }
    format.channels = *channels;
    if (device.keys.count("unitsize") != 0) {
        const auto parsed = ParseInt(device.keys["unitsize"].first);
        if (!parsed || *parsed < 1 || *parsed > kMaxUnitSize) {
            return at("unitsize") + "unit size \"" + device.keys["unitsize"].first +
                   "\"; pulsara reads samples of 1 to " + std::to_string(kMaxUnitSize) + " bytes";
        }
        format.unitSize = *parsed;
    }
    if (format.channels > format.unitSize * 8) {
        return at("total probes") + std::to_string(format.channels) +
               " channels do not fit samples of " + std::to_string(format.unitSize) + " byte(s)";
    }
    if (device.keys.count("samplerate") != 0) {
        const auto hz = ParseSampleRate(device.keys["samplerate"].first);
        if (!hz) {
            return at("samplerate") + "sample rate \"" + device.keys["samplerate"].first +
                   "\" is not a number of Hz, kHz, MHz or GHz";
        }
        // sigrok-cli writes 0 when it re-saves a capture that had no rate: an external clock.
        imported.rateIndex = *hz == 0 ? kExtRateIndex : RateIndexForHz(*hz);
    }
    if (options.rateIndex) {
        return std::string("--rate samples a VCD at another rate; a session's samples are "
                           "taken as they are, at the session's own rate");
    }
    return std::nullopt;
}

struct SampleBytes {
    std::string data;
    std::string lastMember; // the member the last bytes came from
    bool cut = false;       // more samples than a capture holds
};

// The samples: <capturefile>-1, -2, ... in order (older files: <capturefile> alone), up to
// one capture's worth.
std::optional<std::string> ReadSampleBytes(ZipReader& zip, const Metadata& device, std::size_t unit,
                                           SampleBytes& bytes) {
    const std::size_t wanted = static_cast<std::size_t>(kSampleCount) * unit;
    std::string& data = bytes.data;
    bool tooLong = false;
    for (int chunk = 1;; ++chunk) {
        std::string name = device.capturefile + "-" + std::to_string(chunk);
        if (chunk == 1 && !zip.Has(name) && zip.Has(device.capturefile)) {
            name = device.capturefile;
        }
        if (!zip.Has(name)) {
            if (chunk == 1) {
                return Member(name) + " with the samples is missing";
            }
            // A later chunk after the missing one: the samples have a hole.
            const auto members = zip.Members();
            for (const auto& member : members) {
                const std::string prefix = device.capturefile + "-";
                const auto number = member.starts_with(prefix)
                                        ? ParseInt(std::string_view(member).substr(prefix.size()))
                                        : std::nullopt;
                if (number && *number > chunk) {
                    return Member(member) + " follows " + Member(bytes.lastMember) + " without " +
                           Member(name) + " between them; the archive is damaged";
                }
            }
            break;
        }
        if (data.size() == wanted) {
            bytes.cut = true;
            break;
        }
        std::string piece;
        if (!zip.Read(name, wanted - data.size(), piece, tooLong)) {
            return Member(name) + " cannot be read (" + zip.Error() + "); the archive is damaged";
        }
        data += piece;
        bytes.lastMember = name;
        if (tooLong) {
            bytes.cut = true;
            break;
        }
        if (name == device.capturefile) {
            break;
        }
    }
    if (!bytes.cut && data.size() % unit != 0) {
        return Member(bytes.lastMember) + " ends inside a sample: the samples hold " +
               std::to_string(data.size()) + " bytes, not a whole number of " +
               std::to_string(unit) + "-byte samples";
    }
    return std::nullopt;
}

// Each sample's mapped channels onto their probes' bits.
void UnpackSamples(const SampleBytes& bytes, std::size_t unit, const std::vector<Channel>& mapped,
                   ImportedCapture& imported) {
    const std::size_t count = bytes.data.size() / unit;
    auto& samples = *imported.samples;
    for (std::size_t s = 0; s < count; ++s) {
        std::uint32_t word = 0;
        for (const auto& c : mapped) {
            const auto byte = static_cast<unsigned char>(
                bytes.data[s * unit + static_cast<std::size_t>(c.index / 8)]);
            if (((byte >> (c.index % 8)) & 1U) != 0) {
                word |= 1U << c.probe;
            }
        }
        for (std::size_t b = 0; b < 4; ++b) {
            samples[s * 4 + b] = static_cast<std::uint8_t>(word >> (8 * b));
        }
    }
    imported.samplesCovered = static_cast<int>(count);
    if (bytes.cut) {
        imported.warnings.push_back("the file holds more than " + std::to_string(kSampleCount) +
                                    " samples; only the first " + std::to_string(kSampleCount) +
                                    " were read");
    } else if (count < static_cast<std::size_t>(kSampleCount)) {
        imported.warnings.push_back("the file holds " + std::to_string(count) +
                                    " samples; samples " + std::to_string(count) + " to " +
                                    std::to_string(kSampleCount - 1) + " read as 0");
    }
}

} // namespace

std::optional<std::string> ReadSr(const std::filesystem::path& path, const ImportOptions& options,
                                  ImportedCapture& imported) {
    ZipReader zip;
    if (!zip.Open(path)) {
        return "it is not a readable zip archive (" + zip.Error() +
               "); a sigrok session file is one";
    }
    if (auto error = CheckVersion(zip)) {
        return error;
    }
    Metadata device;
    if (auto error = ReadMetadata(zip, device)) {
        return error;
    }
    SampleFormat format;
    if (auto error = ReadFormat(device, options, format, imported)) {
        return error;
    }
    std::vector<Channel> mapped;
    if (auto error = MapChannels(device, format.channels, options, mapped, imported)) {
        return error;
    }
    if (device.keys.count("total analog") != 0 && device.keys["total analog"].first != "0") {
        imported.warnings.push_back("the file's " + device.keys["total analog"].first +
                                    " analog channel(s) were not read");
    }
    const auto unit = static_cast<std::size_t>(format.unitSize);
    SampleBytes bytes;
    if (auto error = ReadSampleBytes(zip, device, unit, bytes)) {
        return error;
    }
    UnpackSamples(bytes, unit, mapped, imported);
    return std::nullopt;
}

} // namespace pulsara::detail
