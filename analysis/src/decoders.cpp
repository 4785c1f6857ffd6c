#include "analysis/decoders.h"

#include "decoder_catalogue.h"

#include <libsigrokdecode/libsigrokdecode.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace pulsara::analysis {
namespace {

std::string Str(const char* text) {
    return text != nullptr ? text : "";
}

std::vector<std::string> Strings(const GSList* list) {
    std::vector<std::string> out;
    for (const GSList* l = list; l != nullptr; l = l->next) {
        out.push_back(Str(static_cast<const char*>(l->data)));
    }
    return out;
}

std::vector<DecoderChannel> Channels(const GSList* list) {
    std::vector<DecoderChannel> out;
    for (const GSList* l = list; l != nullptr; l = l->next) {
        const auto* ch = static_cast<const srd_channel*>(l->data);
        out.push_back({Str(ch->id), Str(ch->name), Str(ch->desc)});
    }
    return out;
}

std::optional<OptionValue> ValueOf(GVariant* variant) {
    if (variant == nullptr) {
        return std::nullopt;
    }
    if (g_variant_is_of_type(variant, G_VARIANT_TYPE_INT64)) {
        return OptionValue(static_cast<std::int64_t>(g_variant_get_int64(variant)));
    }
    if (g_variant_is_of_type(variant, G_VARIANT_TYPE_DOUBLE)) {
        return OptionValue(g_variant_get_double(variant));
    }
    if (g_variant_is_of_type(variant, G_VARIANT_TYPE_STRING)) {
        return OptionValue(Str(g_variant_get_string(variant, nullptr)));
    }
    return std::nullopt;
}

DecoderInfo Describe(const srd_decoder& dec) {
    DecoderInfo info;
    info.id = Str(dec.id);
    info.name = Str(dec.name);
    info.longname = Str(dec.longname);
    info.desc = Str(dec.desc);
    info.inputs = Strings(dec.inputs);
    info.outputs = Strings(dec.outputs);
    info.channels = Channels(dec.channels);
    info.optionalChannels = Channels(dec.opt_channels);
    for (const GSList* l = dec.options; l != nullptr; l = l->next) {
        const auto* o = static_cast<const srd_decoder_option*>(l->data);
        // Every installed decoder's defaults are integers, reals or texts; an option of
        // another type could not be given a value, so it is not offered.
        const auto def = ValueOf(o->def);
        if (!def) {
            continue;
        }
        DecoderOption option{Str(o->id), Str(o->desc), *def, {}};
        for (const GSList* v = o->values; v != nullptr; v = v->next) {
            if (const auto value = ValueOf(static_cast<GVariant*>(v->data))) {
                option.values.push_back(*value);
            }
        }
        info.options.push_back(std::move(option));
    }
    for (const GSList* l = dec.annotations; l != nullptr; l = l->next) {
        const auto* pair = static_cast<char* const*>(l->data);
        info.annotations.push_back({Str(pair[0]), Str(pair[1])});
    }
    for (const GSList* l = dec.annotation_rows; l != nullptr; l = l->next) {
        const auto* row = static_cast<const srd_decoder_annotation_row*>(l->data);
        AnnotationRow out{Str(row->id), Str(row->desc), {}};
        for (const GSList* c = row->ann_classes; c != nullptr; c = c->next) {
            out.classes.push_back(GPOINTER_TO_INT(c->data));
        }
        info.rows.push_back(std::move(out));
    }
    return info;
}

bool PlainId(std::string_view id) {
    return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    });
}

bool Installed(std::string_view id) {
    GSList* paths = srd_searchpaths_get();
    bool found = false;
    for (const GSList* l = paths; l != nullptr && !found; l = l->next) {
        std::error_code ec;
        const auto dir = std::filesystem::path(static_cast<const char*>(l->data)) / id;
        found = std::filesystem::is_regular_file(dir / "pd.py", ec);
    }
    g_slist_free_full(paths, g_free);
    return found;
}

} // namespace

std::string OptionText(const OptionValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        return std::to_string(*i);
    }
    if (const auto* d = std::get_if<double>(&value)) {
        std::ostringstream out;
        out << *d;
        return out.str();
    }
    return std::get<std::string>(value);
}

std::string_view OptionTypeName(const OptionValue& value) {
    switch (value.index()) {
    case 0:
        return "an integer";
    case 1:
        return "a number";
    default:
        return "a text";
    }
}

namespace detail {

Result<DecoderInfo> LoadDecoder(SrdLock& lock, std::string_view id) {
    const std::string name(id);
    if (!PlainId(id) || !Installed(id)) {
        return Result<DecoderInfo>::Fail(
            "no protocol decoder is named \"" + name +
            "\"; `pulsara-cli decode --list` lists the installed ones");
    }
    if (srd_decoder_load(name.c_str()) != SRD_OK) {
        return Result<DecoderInfo>::Fail("protocol decoder \"" + name +
                                         "\" did not load: " + lock.TakeLog());
    }
    const srd_decoder* dec = srd_decoder_get_by_id(name.c_str());
    if (dec == nullptr) {
        return Result<DecoderInfo>::Fail("protocol decoder \"" + name + "\" did not load");
    }
    return Describe(*dec);
}

} // namespace detail

Result<std::vector<DecoderInfo>> InstalledDecoders() {
    auto lock = detail::LockSrd();
    if (!lock) {
        return Result<std::vector<DecoderInfo>>::Fail(lock.error());
    }
    // A decoder that fails to load is left out; the rest still serve.
    (void)srd_decoder_load_all();
    (void)lock.value().TakeLog();
    std::vector<DecoderInfo> all;
    for (const GSList* l = srd_decoder_list(); l != nullptr; l = l->next) {
        all.push_back(Describe(*static_cast<const srd_decoder*>(l->data)));
    }
    std::sort(all.begin(), all.end(),
              [](const DecoderInfo& a, const DecoderInfo& b) { return a.id < b.id; });
    return all;
}

} // namespace pulsara::analysis
