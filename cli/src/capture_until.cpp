#include "capture_until.h"

#include "analysis/search.h"
#include "match_options.h"
#include "text_codec.h"
#include "view/geometry.h"

#include <ostream>

namespace pulsara::cli {

std::int32_t ScrollPosShowing(int sample) {
    // ColumnToSample: sample = column + 2 h + kSampleAtColumn0.
    const int offset = sample - kColumnCount / 2 - kSampleAtColumn0;
    const int h = offset >= 0 ? offset / 2 : -((1 - offset) / 2);
    return ClampHorizontalPos(h);
}

int RunBoardCaptureUntil(EzusbDriver& driver, Capture& capture, std::span<const std::uint8_t> image,
                         BoardCaptureRequest request, const UntilRequest& until, Clock& clock,
                         std::ostream& out, std::ostream& err) {
    const auto words = analysis::ParseMatchWords(until.match);
    if (!words) {
        err << "pulsara-cli: --until: " << words.error() << "\n";
        return 2;
    }
    // Rows and rate are known before the first capture; only the samples change.
    const auto query = analysis::CompileMatch(capture, *words, ShiftJisToUtf8);
    if (!query) {
        err << "pulsara-cli: --until: " << query.error() << "\n";
        return 2;
    }
    int tries = 0;
    bool failed = false;
    request.afterCapture = [&](Capture& completed, std::int32_t& h) {
        ++tries;
        const auto found = analysis::FindMatches(completed, *query, {1});
        if (!found) {
            err << "pulsara-cli: --until: " << found.error() << "\n";
            failed = true;
            return AfterCapture::GiveUp;
        }
        if (!found->empty()) {
            const auto& m = found->front();
            err << "pulsara-cli: try " << tries << " of " << until.tries << ": match at sample "
                << m.start;
            if (const auto ns = analysis::NsFromTrigger(completed.settings, m.start)) {
                err << " (" << TimeText(*ns) << " from the trigger)";
            }
            err << "\n";
            h = ScrollPosShowing(m.start);
            return AfterCapture::Keep;
        }
        if (tries >= until.tries) {
            err << "pulsara-cli: try " << tries << " of " << until.tries
                << ": no match; no capture of the " << tries
                << " held one, nothing was saved (try more --tries, or a looser match)\n";
            return AfterCapture::GiveUp;
        }
        err << "pulsara-cli: try " << tries << " of " << until.tries
            << ": no match, capturing again\n";
        return AfterCapture::Again;
    };
    const int status = RunBoardCapture(driver, capture, image, request, clock, out, err);
    return failed ? 2 : status;
}

} // namespace pulsara::cli
