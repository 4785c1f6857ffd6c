#include "analysis/annotation_filter.h"

#include <algorithm>
#include <cctype>

namespace pulsara::analysis {
namespace {

// sigrok-cli's comparison: case aside, and any character but a letter or digit alike.
std::string Canonical(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        out += std::isalnum(u) != 0 ? static_cast<char>(std::tolower(u)) : '-';
    }
    return out;
}

const DecoderInfo* InPlan(const DecodePlan& plan, std::string_view id) {
    for (const auto& stack : plan.stacks) {
        for (const auto& setup : stack) {
            if (setup.decoder.id == id) {
                return &setup.decoder;
            }
        }
    }
    return nullptr;
}

} // namespace

bool AnnotationFilter::Shows(const Annotation& annotation) const {
    if (shown_.empty()) {
        return true;
    }
    const auto found = shown_.find(annotation.decoder);
    return found != shown_.end() &&
           (found->second.empty() || found->second.contains(annotation.annotationClass));
}

Result<AnnotationFilter> ParseAnnotationFilter(const std::vector<std::string>& entries,
                                               const DecodePlan& plan) {
    using R = Result<AnnotationFilter>;
    AnnotationFilter filter;
    for (const auto& argument : entries) {
        std::string_view rest = argument;
        while (!rest.empty()) {
            const auto comma = rest.find(',');
            const std::string_view entry = rest.substr(0, comma);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            if (entry.empty()) {
                continue;
            }
            const auto eq = entry.find('=');
            const std::string id(entry.substr(0, eq));
            const auto* decoder = InPlan(plan, id);
            if (decoder == nullptr) {
                return R::Fail("-A names " + id + ", which no -P stack decodes");
            }
            if (decoder->annotations.empty()) {
                return R::Fail(id + " gives no annotations to show");
            }
            auto& classes = filter.shown_[id];
            if (eq == std::string_view::npos || eq + 1 == entry.size()) {
                classes.clear(); // every class
                continue;
            }
            std::string_view names = entry.substr(eq + 1);
            while (!names.empty()) {
                const auto colon = names.find(':');
                const std::string name(names.substr(0, colon));
                names =
                    colon == std::string_view::npos ? std::string_view() : names.substr(colon + 1);
                if (name.empty()) {
                    continue;
                }
                const auto& anns = decoder->annotations;
                const auto cls = std::find_if(anns.begin(), anns.end(), [&](const auto& a) {
                    return Canonical(a.id) == Canonical(name);
                });
                if (cls != anns.end()) {
                    classes.insert(static_cast<int>(cls - anns.begin()));
                    continue;
                }
                const auto& rows = decoder->rows;
                const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& r) {
                    return Canonical(r.id) == Canonical(name);
                });
                if (row == rows.end()) {
                    std::string known;
                    for (const auto& a : anns) {
                        known += (known.empty() ? "" : ", ") + a.id;
                    }
                    for (const auto& r : rows) {
                        if (std::none_of(anns.begin(), anns.end(),
                                         [&](const auto& a) { return a.id == r.id; })) {
                            known += ", " + r.id;
                        }
                    }
                    return R::Fail(id + " has no annotation class or row \"" + name +
                                   "\"; it has " + known);
                }
                classes.insert(row->classes.begin(), row->classes.end());
            }
        }
    }
    return filter;
}

} // namespace pulsara::analysis
