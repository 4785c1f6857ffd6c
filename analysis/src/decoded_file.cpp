#include "decoded_file.h"

#include <glib.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <limits>
#include <unordered_map>

// An option's value keeps its type: integer, real or text.
template <> struct nlohmann::adl_serializer<pulsara::analysis::OptionValue> {
    static void to_json(json& j, const pulsara::analysis::OptionValue& v) {
        std::visit([&](const auto& value) { j = value; }, v);
    }
    static void from_json(const json& j, pulsara::analysis::OptionValue& v) {
        if (j.is_number_integer()) {
            v = j.get<std::int64_t>();
        } else if (j.is_number()) {
            v = j.get<double>();
        } else {
            v = j.get<std::string>();
        }
    }
};

namespace pulsara::analysis {

// The plan is small and rarely read field by field, so it is JSON; the annotations, many
// and alike, are binary with every text stored once.
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(DecoderChannel, id, name, desc)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(DecoderOption, id, desc, defaultValue, values)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(AnnotationClass, id, desc)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(AnnotationRow, id, desc, classes)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(DecoderInfo, id, name, longname, desc, inputs, outputs, channels,
                                   optionalChannels, options, annotations, rows)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(DecoderSetup, decoder, channels, options)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(DecodePlan, stacks, samplerate, firstSample, unitSize)

namespace detail {
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(FileStamp, path, size, mtimeNs)

namespace {

constexpr std::string_view kMagic = "pulsara decoded 1\n";
constexpr std::uint32_t kNoRow = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t kDigestSize = 16;

// A digest of everything before it ends the file, so that a spoilt byte anywhere makes the
// entry unusable instead of a wrong answer.
std::string DigestOf(std::string_view bytes) {
    GChecksum* sum = g_checksum_new(G_CHECKSUM_MD5);
    g_checksum_update(sum, reinterpret_cast<const guchar*>(bytes.data()),
                      static_cast<gssize>(bytes.size()));
    std::string digest(kDigestSize, '\0');
    gsize size = digest.size();
    g_checksum_get_digest(sum, reinterpret_cast<guint8*>(digest.data()), &size);
    g_checksum_free(sum);
    return digest;
}

class Writer {
public:
    void U32(std::uint32_t v) { Raw(&v, sizeof v); }
    void U64(std::uint64_t v) { Raw(&v, sizeof v); }
    void Bytes(std::string_view s) {
        U32(static_cast<std::uint32_t>(s.size()));
        out_.append(s);
    }
    // Texts are numbered in the order first seen.
    std::uint32_t Text(const std::string& s) {
        const auto [at, added] = index_.try_emplace(s, static_cast<std::uint32_t>(texts_.size()));
        if (added) {
            texts_.push_back(&at->first);
        }
        return at->second;
    }
    [[nodiscard]] const std::vector<const std::string*>& Texts() const { return texts_; }
    std::string& Out() { return out_; }

private:
    void Raw(const void* p, std::size_t n) { out_.append(static_cast<const char*>(p), n); }
    std::string out_;
    std::unordered_map<std::string, std::uint32_t> index_;
    std::vector<const std::string*> texts_;
};

class Reader {
public:
    explicit Reader(std::string_view in) : in_(in) {}
    bool U32(std::uint32_t& v) { return Raw(&v, sizeof v); }
    bool U64(std::uint64_t& v) { return Raw(&v, sizeof v); }
    bool Bytes(std::string_view& s) {
        std::uint32_t n = 0;
        if (!U32(n) || n > in_.size() - at_) {
            return false;
        }
        s = in_.substr(at_, n);
        at_ += n;
        return true;
    }
    [[nodiscard]] bool AtEnd() const { return at_ == in_.size(); }

private:
    bool Raw(void* p, std::size_t n) {
        if (n > in_.size() - at_) {
            return false;
        }
        std::memcpy(p, in_.data() + at_, n);
        at_ += n;
        return true;
    }
    std::string_view in_;
    std::size_t at_ = 0;
};

} // namespace

std::string EncodeDecodedFile(const DecodedFile& file) {
    // Annotations first into their own buffer, so the text table can go before them.
    Writer body;
    body.U32(static_cast<std::uint32_t>(file.annotations.size()));
    for (const auto& a : file.annotations) {
        body.U64(a.start);
        body.U64(a.end);
        body.U32(static_cast<std::uint32_t>(a.stack));
        body.U32(body.Text(a.instance));
        body.U32(body.Text(a.decoder));
        body.U32(static_cast<std::uint32_t>(a.annotationClass));
        body.U32(body.Text(a.className));
        body.U32(a.row ? body.Text(*a.row) : kNoRow);
        body.U32(static_cast<std::uint32_t>(a.texts.size()));
        for (const auto& t : a.texts) {
            body.U32(body.Text(t));
        }
    }
    Writer out;
    out.Out().append(kMagic);
    const nlohmann::json head = {{"key", file.key}, {"stamps", file.stamps}, {"plan", file.plan}};
    out.Bytes(head.dump());
    out.U32(static_cast<std::uint32_t>(body.Texts().size()));
    for (const auto* t : body.Texts()) {
        out.Bytes(*t);
    }
    out.Out().append(body.Out());
    out.Out().append(DigestOf(out.Out()));
    return std::move(out.Out());
}

std::optional<DecodedFile> DecodeDecodedFile(std::string_view bytes) {
    if (bytes.size() < kMagic.size() + kDigestSize || bytes.substr(0, kMagic.size()) != kMagic) {
        return std::nullopt;
    }
    const std::string_view digest = bytes.substr(bytes.size() - kDigestSize);
    bytes.remove_suffix(kDigestSize);
    if (DigestOf(bytes) != digest) {
        return std::nullopt;
    }
    Reader in(bytes.substr(kMagic.size()));
    DecodedFile file;
    std::string_view head;
    if (!in.Bytes(head)) {
        return std::nullopt;
    }
    try {
        const auto j = nlohmann::json::parse(head);
        j.at("key").get_to(file.key);
        j.at("stamps").get_to(file.stamps);
        j.at("plan").get_to(file.plan);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    std::uint32_t textCount = 0;
    if (!in.U32(textCount)) {
        return std::nullopt;
    }
    std::vector<std::string> texts;
    for (std::uint32_t i = 0; i < textCount; ++i) {
        std::string_view t;
        if (!in.Bytes(t)) {
            return std::nullopt;
        }
        texts.emplace_back(t);
    }
    const auto text = [&](std::uint32_t i, std::string& to) {
        if (i >= texts.size()) {
            return false;
        }
        to = texts[i];
        return true;
    };
    std::uint32_t count = 0;
    if (!in.U32(count)) {
        return std::nullopt;
    }
    for (std::uint32_t n = 0; n < count; ++n) {
        Annotation a;
        std::uint32_t stack = 0, instance = 0, decoder = 0, cls = 0, className = 0, row = 0,
                      textsHeld = 0;
        if (!in.U64(a.start) || !in.U64(a.end) || !in.U32(stack) || !in.U32(instance) ||
            !in.U32(decoder) || !in.U32(cls) || !in.U32(className) || !in.U32(row) ||
            !in.U32(textsHeld) || !text(instance, a.instance) || !text(decoder, a.decoder) ||
            !text(className, a.className) || stack >= file.plan.stacks.size()) {
            return std::nullopt;
        }
        a.stack = static_cast<int>(stack);
        a.annotationClass = static_cast<int>(cls);
        if (row != kNoRow) {
            a.row.emplace();
            if (!text(row, *a.row)) {
                return std::nullopt;
            }
        }
        for (std::uint32_t t = 0; t < textsHeld; ++t) {
            std::uint32_t i = 0;
            if (!in.U32(i) || !text(i, a.texts.emplace_back())) {
                return std::nullopt;
            }
        }
        file.annotations.push_back(std::move(a));
    }
    if (!in.AtEnd()) {
        return std::nullopt;
    }
    return file;
}

} // namespace detail
} // namespace pulsara::analysis
