#pragma once
// Decoded annotations laid out as the analysis view's rows, one per annotation row of a
// decoder. The stack text a decoder choice is written as is analysis/stack_text.h.

#include "analysis/decode.h"
#include "view/analysis_scene.h"

#include <map>
#include <string>
#include <vector>

namespace pulsara {

// One view row per annotation row (and per class that belongs to no row) of every decoder
// in the plan, in stack order, boxes sorted; rows that got no annotation are left out.
[[nodiscard]] std::vector<AnnotationRow>
LayOutAnnotations(const analysis::DecodePlan& plan,
                  const std::vector<analysis::Annotation>& annotations);

} // namespace pulsara
