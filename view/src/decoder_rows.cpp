#include "view/decoder_rows.h"

#include <algorithm>
#include <set>
#include <tuple>

namespace pulsara {
std::vector<AnnotationRow> LayOutAnnotations(const analysis::DecodePlan& plan,
                                             const std::vector<analysis::Annotation>& annotations) {
    std::vector<AnnotationRow> rows;
    // (stack, decoder id, row id or class id) -> index into rows.
    std::map<std::tuple<int, std::string, std::string>, std::size_t> index;
    for (std::size_t s = 0; s < plan.stacks.size(); ++s) {
        for (const auto& setup : plan.stacks[s]) {
            const auto& info = setup.decoder;
            std::set<int> inRows;
            for (const auto& row : info.rows) {
                index[{static_cast<int>(s), info.id, row.id}] = rows.size();
                rows.push_back({info.id + " " + row.id, {}, {}, false});
                inRows.insert(row.classes.begin(), row.classes.end());
            }
            for (std::size_t c = 0; c < info.annotations.size(); ++c) {
                if (!inRows.contains(static_cast<int>(c))) {
                    index[{static_cast<int>(s), info.id, info.annotations[c].id}] = rows.size();
                    rows.push_back({info.id + " " + info.annotations[c].id, {}, {}, false});
                }
            }
        }
    }
    for (const auto& a : annotations) {
        const auto it = index.find({a.stack, a.decoder, a.row.value_or(a.className)});
        if (it == index.end()) {
            continue;
        }
        const auto clampSample = [](std::uint64_t s) {
            return static_cast<int>(std::min<std::uint64_t>(s, kSampleCount));
        };
        rows[it->second].boxes.push_back({clampSample(a.start), clampSample(a.end), a.texts});
    }
    std::erase_if(rows, [](const AnnotationRow& row) { return row.boxes.empty(); });
    for (auto& row : rows) {
        std::stable_sort(
            row.boxes.begin(), row.boxes.end(),
            [](const AnnotationBox& x, const AnnotationBox& y) { return x.first < y.first; });
    }
    return rows;
}

} // namespace pulsara
