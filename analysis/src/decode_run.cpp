#include "analysis/decode.h"

#include "srd_library.h"

#include <libsigrokdecode/libsigrokdecode.h>

#include <algorithm>
#include <exception>
#include <map>

namespace pulsara::analysis {
namespace {

struct SessionDestroy {
    void operator()(srd_session* session) const { srd_session_destroy(session); }
};
using SessionPtr = std::unique_ptr<srd_session, SessionDestroy>;

// What the output callback needs to turn libsigrokdecode's records into Annotations.
struct RunState {
    const AnnotationSink* sink = nullptr;
    std::uint64_t offset = 0; // capture index of the first sample fed
    std::map<const srd_decoder_inst*, std::pair<int, const DecoderInfo*>> instances;
    std::exception_ptr failure; // a sink that threw: the run stops after the chunk
};

void OnAnnotation(srd_proto_data* pdata, void* data) {
    auto& state = *static_cast<RunState*>(data);
    if (state.failure) {
        return;
    }
    const auto found = state.instances.find(pdata->pdo->di);
    if (found == state.instances.end()) {
        return;
    }
    const auto& [stack, decoder] = found->second;
    const auto* ann = static_cast<const srd_proto_data_annotation*>(pdata->data);
    try {
        Annotation a;
        a.start = pdata->start_sample + state.offset;
        a.end = pdata->end_sample + state.offset;
        a.stack = stack;
        a.instance = pdata->pdo->proto_id != nullptr ? pdata->pdo->proto_id : "";
        a.decoder = decoder->id;
        a.annotationClass = ann->ann_class;
        if (ann->ann_class >= 0 &&
            static_cast<std::size_t>(ann->ann_class) < decoder->annotations.size()) {
            a.className = decoder->annotations[static_cast<std::size_t>(ann->ann_class)].id;
        }
        for (const auto& row : decoder->rows) {
            if (std::find(row.classes.begin(), row.classes.end(), ann->ann_class) !=
                row.classes.end()) {
                a.row = row.id;
                break;
            }
        }
        for (char** text = ann->ann_text; text != nullptr && *text != nullptr; ++text) {
            a.texts.emplace_back(*text);
        }
        (*state.sink)(a);
    } catch (...) {
        // Nothing may unwind through libsigrokdecode's C frames.
        state.failure = std::current_exception();
    }
}

DecodeResult Failed(std::string error, int decoded = 0) {
    return {DecodeStatus::Failed, std::move(error), decoded};
}

std::string Why(detail::SrdLock& lock, const std::string& what) {
    const std::string log = lock.TakeLog();
    return log.empty() ? what : what + ": " + log;
}

} // namespace

DecodeResult RunDecode(const Capture& capture, const DecodePlan& plan, const AnnotationSink& sink,
                       const std::atomic<bool>* cancel, int chunkSamples) {
    auto locked = detail::LockSrd();
    if (!locked) {
        return Failed(locked.error());
    }
    auto& lock = locked.value();
    const int first = std::clamp(plan.firstSample, 0, kSampleCount);
    const int unit = std::clamp(plan.unitSize, 1, 4);
    chunkSamples = std::max(chunkSamples, 1);

    // Declared before the session, so it outlives the decoder threads the session ends.
    RunState state;
    state.sink = &sink;
    state.offset = static_cast<std::uint64_t>(first);
    srd_session* raw = nullptr;
    if (srd_session_new(&raw) != SRD_OK) {
        return Failed(Why(lock, "libsigrokdecode could not open a session"));
    }
    const SessionPtr session(raw);

    for (std::size_t s = 0; s < plan.stacks.size(); ++s) {
        srd_decoder_inst* below = nullptr;
        for (const auto& setup : plan.stacks[s]) {
            const auto options = detail::NewVariantTable();
            for (const auto& [key, value] : setup.options) {
                GVariant* v = nullptr;
                if (const auto* i = std::get_if<std::int64_t>(&value)) {
                    v = g_variant_new_int64(*i);
                } else if (const auto* d = std::get_if<double>(&value)) {
                    v = g_variant_new_double(*d);
                } else {
                    v = g_variant_new_string(std::get<std::string>(value).c_str());
                }
                detail::InsertVariant(options.get(), key, v);
            }
            srd_decoder_inst* inst =
                srd_inst_new(session.get(), setup.decoder.id.c_str(), options.get());
            if (inst == nullptr) {
                return Failed(Why(lock, setup.decoder.id + " did not accept its options"));
            }
            if (!setup.channels.empty()) {
                // Samples are fed as the low bytes of the 32-bit words, so probe p stays
                // channel index p.
                const auto channels = detail::NewVariantTable();
                for (const auto& [id, probe] : setup.channels) {
                    detail::InsertVariant(channels.get(), id, g_variant_new_int32(probe));
                }
                if (srd_inst_channel_set_all(inst, channels.get()) != SRD_OK) {
                    return Failed(Why(lock, setup.decoder.id + " did not accept its channels"));
                }
            }
            if (below != nullptr && srd_inst_stack(session.get(), below, inst) != SRD_OK) {
                return Failed(Why(lock, setup.decoder.id + " could not be stacked"));
            }
            state.instances[inst] = {static_cast<int>(s), &setup.decoder};
            below = inst;
        }
    }
    srd_pd_output_callback_add(session.get(), SRD_OUTPUT_ANN, OnAnnotation, &state);
    // Set once the instances exist: a decoder reads the rate when it starts.
    if (srd_session_metadata_set(session.get(), SRD_CONF_SAMPLERATE,
                                 g_variant_new_uint64(plan.samplerate)) != SRD_OK ||
        srd_session_start(session.get()) != SRD_OK) {
        return Failed(Why(lock, "the decoders did not start"));
    }

    std::vector<std::uint8_t> packed;
    int fed = 0;
    const int total = kSampleCount - first;
    while (fed < total) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
            return {DecodeStatus::Cancelled, {}, fed};
        }
        const int count = std::min(chunkSamples, total - fed);
        const std::uint8_t* bytes =
            capture.samples.data() + static_cast<std::size_t>(first + fed) * 4;
        if (unit < 4) {
            packed.resize(static_cast<std::size_t>(count) * static_cast<std::size_t>(unit));
            for (int i = 0; i < count; ++i) {
                std::copy_n(bytes + static_cast<std::size_t>(i) * 4, unit,
                            packed.begin() + static_cast<std::ptrdiff_t>(i) * unit);
            }
            bytes = packed.data();
        }
        // Sample numbers count from the first captured sample: libsigrokdecode wants a
        // session to start at 0. OnAnnotation adds the offset back.
        const int status = srd_session_send(
            session.get(), static_cast<std::uint64_t>(fed), static_cast<std::uint64_t>(fed + count),
            bytes, static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(unit),
            static_cast<std::uint64_t>(unit));
        if (state.failure) {
            try {
                std::rethrow_exception(state.failure);
            } catch (const std::exception& e) {
                return Failed(std::string("the annotation receiver failed: ") + e.what(), fed);
            } catch (...) {
                return Failed("the annotation receiver failed", fed);
            }
        }
        if (status != SRD_OK) {
            return Failed(Why(lock, "decoding stopped at sample " + std::to_string(first + fed)),
                          fed);
        }
        fed += count;
    }
    return {DecodeStatus::Finished, {}, fed};
}

} // namespace pulsara::analysis
