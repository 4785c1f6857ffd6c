#pragma once
// What the analysis view shows, and where: the overview strip, the time ruler, the channel
// rows and below them the decoder rows, laid out in a client rectangle of any size. The
// window and the headless render fill in the same scene and draw it with DrawAnalysisView.

#include "capture/capture.h"
#include "view/canvas.h"
#include "view/change_table.h"
#include "view/time_window.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pulsara {

// One annotation of a decoder: samples first..end-1 and its texts, longest first.
struct AnnotationBox {
    int first = 0;
    int end = 0;
    std::vector<std::string> texts;
};

// One annotation row of a decoder, boxes in order of their first sample. A row with a
// message (decoding, or what went wrong) shows that instead of boxes.
struct AnnotationRow {
    std::string title;
    std::vector<AnnotationBox> boxes;
    std::string message;
    bool error = false;
};

// Cursor positions are sample boundaries: a cursor at s stands on the left edge of s.
struct CursorPair {
    std::optional<int> a;
    std::optional<int> b;
};

// A search match, samples start..end: a tick in the overview strip; the current one is
// also shaded across the rows.
struct SearchMark {
    int start = 0;
    int end = 0;
};

struct AnalysisScene {
    const Capture* capture = nullptr;
    const ChangeTable* changes = nullptr; // built from capture->samples
    TimeWindow window;
    int firstRow = 0; // rows scrolled off the top (channel rows, then decoder rows)
    CursorPair cursors;
    std::span<const AnnotationRow> decoderRows;
    std::span<const SearchMark> searchMarks; // in sample order
    int currentMark = -1;                    // index into searchMarks, or -1
};

struct AnalysisLayout {
    static constexpr int kTraceLeft = 80; // row names to the left, as in the main window
    static constexpr int kOverviewTop = 2;
    static constexpr int kOverviewBottom = 27;
    static constexpr int kRulerTop = 28;     // cursor and trigger letters from here
    static constexpr int kRulerTextTop = 40; // tick labels from here
    static constexpr int kRowsTop = 54;
    static constexpr int kRowHeight = 20;

    Rect client;

    [[nodiscard]] int TraceWidth() const { return client.Width() - kTraceLeft; }
    [[nodiscard]] int VisibleRows() const;
    [[nodiscard]] int RowTop(int slot) const { return client.top + kRowsTop + kRowHeight * slot; }
    // Where a trace is low and a bus box ends: two pixels above the next row.
    [[nodiscard]] int Baseline(int slot) const { return RowTop(slot) + kRowHeight - 2; }
};

// Channel rows (rowCount of the table, at most 64) plus the decoder rows.
[[nodiscard]] int TotalRows(const AnalysisScene& scene);
[[nodiscard]] int ClampFirstRow(const AnalysisScene& scene, const AnalysisLayout& layout, int row);

// The probes a channel row reads, as a mask; 0 for a row outside the table.
[[nodiscard]] std::uint32_t RowMask(const ChannelTable& table, int row);

enum class AnalysisArea { Outside, Names, Overview, Ruler, Rows };

struct AnalysisHit {
    AnalysisArea area = AnalysisArea::Outside;
    int row = -1;      // a row index (channel rows first), for AnalysisArea::Rows
    double sample = 0; // the sample position under x (in the overview: of the whole capture)
};

[[nodiscard]] AnalysisHit HitTest(const AnalysisScene& scene, const AnalysisLayout& layout,
                                  Point point);

// Everything, clipped to `client`; leaves the canvas's pen, font and clip as it found
// them (no clip).
void DrawAnalysisView(Canvas& canvas, const Rect& client, const AnalysisScene& scene);

} // namespace pulsara
