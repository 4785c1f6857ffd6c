#pragma once
// Which annotations to show, from sigrok-cli's -A syntax: "uart=rx-data:rx-warnings" shows
// those classes (or rows) of every uart instance; "uart" alone all of them. Without any
// entry every annotation of every decoder shows, as sigrok-cli does.

#include "analysis/decode.h"
#include "analysis/result.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace pulsara::analysis {

class AnnotationFilter {
public:
    [[nodiscard]] bool Shows(const Annotation& annotation) const;

private:
    friend Result<AnnotationFilter> ParseAnnotationFilter(const std::vector<std::string>&,
                                                          const DecodePlan&);
    // Decoder id -> classes shown; an empty set shows every class.
    std::map<std::string, std::set<int>, std::less<>> shown_;
};

// Entries are separated by commas or given one per string. Names match sigrok-cli's way:
// case and punctuation aside, a class id first, then a row id. Only decoders of the plan
// may be named.
[[nodiscard]] Result<AnnotationFilter>
ParseAnnotationFilter(const std::vector<std::string>& entries, const DecodePlan& plan);

} // namespace pulsara::analysis
