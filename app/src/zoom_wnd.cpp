#include "app/zoom_wnd.h"

#include "analysis/decoders.h"
#include "analysis/measure.h"
#include "app/add_decoder_dlg.h"
#include "app/capture_until_dlg.h"
#include "app/decoded_table.h"
#include "app/decoder_runner.h"
#include "app/history_panel.h"
#include "app/search_bar.h"
#include "app/viewer_dlg.h"
#include "app/zoom_view_widget.h"
#include "view/cursors.h"
#include "view/hover_text.h"
#include "view/qt_canvas.h"
#include "view/rows.h"

#include <QBoxLayout>
#include <QCursor>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QToolTip>

#include <cmath>

namespace pulsara {
namespace {

// Row names are Shift-JIS bytes; decoders and users speak UTF-8.
std::string NameAsText(std::string_view bytes) {
    return DecodeShiftJis(bytes).toStdString();
}

// The status line when the pointer is over no channel row.
QString Hint() {
    return CZoomWnd::tr("Wheel: zoom   drag: pan   click: cursor A, right click: B   "
                        "+ - 0 Home End T   Ctrl+F: find, F3 / Shift+F3");
}

// The view moved so that samples first..last stand in it, centred and big enough to see.
TimeWindow WindowShowing(TimeWindow window, int first, int last) {
    const double length = last + 1.0 - first;
    const double centre = first + length / 2;
    if (length > 0.8 * window.Span()) {
        // Wider than most of the view: shown whole, with a margin.
        return ShowSamples(window.width, first - 0.1 * length, last + 1.0 + 0.1 * length);
    }
    if (window.Span() > kSampleCount / 4.0) {
        // Zoomed far out a match is a hairline: come close enough to see it.
        const double half = std::max(10 * length, 100.0);
        return ShowSamples(window.width, centre - half, centre + half);
    }
    return CentreOn(window, centre);
}

} // namespace

struct CZoomWnd::UntilRun {
    analysis::Query query;
    int tries = 0;
    int done = 0;
};

CZoomWnd::CZoomWnd(const Capture& capture, QWidget* parent)
    : QWidget(parent, Qt::Window), live_(capture), shown_(std::make_unique<Capture>(capture)),
      capture_(*shown_), changes_(capture.samples) {
    setWindowTitle(QStringLiteral("pulsara analysis"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(4, 4, 4, 4);
    top->setSpacing(3);

    auto* tools = new QHBoxLayout;
    auto* zoomOut = new QPushButton(QStringLiteral("-"), this);
    auto* zoomIn = new QPushButton(QStringLiteral("+"), this);
    auto* all = new QPushButton(tr("All"), this);
    for (QPushButton* button : {zoomOut, zoomIn, all}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        tools->addWidget(button);
    }
    zoomOut->setToolTip(tr("Zoom out (-)"));
    zoomIn->setToolTip(tr("Zoom in (+)"));
    all->setToolTip(tr("The whole capture (0)"));
    auto* addDecoder = new QPushButton(tr("Add decoder..."), this);
    auto* removeDecoders = new QPushButton(tr("Remove decoders"), this);
    auto* captureUntil = new QPushButton(tr("Capture until..."), this);
    captureUntil->setToolTip(tr("Capture again and again until a capture holds a match"));
    auto* tableButton = new QPushButton(tr("Decoded table"), this);
    tableButton->setCheckable(true);
    tableButton->setToolTip(tr("Every annotation of the decoders, with times (Ctrl+D)"));
    for (QPushButton* button : {addDecoder, removeDecoders, tableButton, captureUntil}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        tools->addWidget(button);
    }
    cursorText_ = new QLabel(this);
    cursorText_->setTextFormat(Qt::PlainText);
    cursorText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    tools->addWidget(cursorText_, 1);
    top->addLayout(tools);

    results_ = new QListWidget(this);
    results_->setFocusPolicy(Qt::ClickFocus);
    results_->setMaximumWidth(190);
    results_->hide();
    search_ = new SearchBar(capture_, *results_, this);
    search_->hide();
    top->addWidget(search_);

    auto* middle = new QHBoxLayout;
    view_ = new ZoomViewWidget(this);
    rowBar_ = new QScrollBar(Qt::Vertical, this);
    rowBar_->setFocusPolicy(Qt::NoFocus);
    middle->addWidget(view_, 1);
    middle->addWidget(rowBar_);
    middle->addWidget(results_);
    SetUpHistory();
    middle->addWidget(history_);
    top->addLayout(middle, 1);

    table_ = new DecodedTable(this);
    table_->setMinimumHeight(160);
    table_->hide();
    top->addWidget(table_);

    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    status_->setText(Hint());
    top->addWidget(status_);

    connect(zoomIn, &QPushButton::clicked, this,
            [this] { view_->zoomBy(2.0, view_->window().width / 2.0); });
    connect(zoomOut, &QPushButton::clicked, this,
            [this] { view_->zoomBy(0.5, view_->window().width / 2.0); });
    connect(all, &QPushButton::clicked, view_, &ZoomViewWidget::showAll);
    connect(addDecoder, &QPushButton::clicked, this, &CZoomWnd::OnAddDecoder);
    connect(removeDecoders, &QPushButton::clicked, this, &CZoomWnd::RemoveDecoders);
    connect(captureUntil, &QPushButton::clicked, this, &CZoomWnd::OnCaptureUntil);
    runner_ = new DecoderRunner(this);
    connect(runner_, &DecoderRunner::finished, this, &CZoomWnd::OnDecoded);
    connect(view_, &ZoomViewWidget::hovered, this, &CZoomWnd::OnHover);
    connect(view_, &ZoomViewWidget::cursorsChanged, this, &CZoomWnd::UpdateCursorText);
    connect(view_, &ZoomViewWidget::firstRowChanged, rowBar_, &QScrollBar::setValue);
    connect(view_, &ZoomViewWidget::resized, this, &CZoomWnd::UpdateRowBar);
    connect(rowBar_, &QScrollBar::valueChanged, view_, &ZoomViewWidget::setFirstRow);

    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this,
            &CZoomWnd::ShowSearch);
    connect(new QShortcut(QKeySequence(Qt::Key_F3), this), &QShortcut::activated, this, [this] {
        ShowSearch();
        search_->next();
    });
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this), &QShortcut::activated, this,
            [this] {
                ShowSearch();
                search_->previous();
            });
    connect(search_, &SearchBar::marksChanged, this, [this] {
        view_->setSearchMarks(search_->marks(), search_->current());
        const QString error = search_->countLabel().toolTip();
        if (!error.isEmpty()) {
            status_->setText(error);
        }
    });
    connect(search_, &SearchBar::currentChanged, this, &CZoomWnd::ShowMatch);

    connect(tableButton, &QPushButton::toggled, table_, &QWidget::setVisible);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_D), this), &QShortcut::activated,
            tableButton, &QPushButton::toggle);
    connect(runner_, &DecoderRunner::annotationsDecoded, this,
            [this](const std::vector<analysis::Annotation>& annotations) {
                table_->setAnnotations(annotations, capture_.settings);
            });
    connect(table_, &DecodedTable::annotationChosen, this, &CZoomWnd::ShowAnnotation);
    connect(view_, &ZoomViewWidget::clicked, this, [this](int row, double sample) {
        if (const AnnotationBox* box = BoxAt(row, sample)) {
            table_->selectAnnotation(box->first, box->end);
        }
    });

    view_->setData(&capture_, &changes_, decoderRows_);
    resize(1000, 560);
    UpdateRowBar();
}

CZoomWnd::~CZoomWnd() = default;

void CZoomWnd::OnCaptureChanged() {
    ++captureUpdates_;
    *shown_ = live_;
    history_->ShowingLive();
    changes_ = ChangeTable(capture_.samples);
    view_->setData(&capture_, &changes_, decoderRows_);
    view_->showAll();
    UpdateRowBar();
    UpdateCursorText();
    CompareShown();
    view_->update();
    ContinueCaptureUntil();
    search_->captureChanged();
    Decode();
}

void CZoomWnd::OnCaptureUntil() {
    if (untilDlg_ == nullptr) {
        untilDlg_ = new CaptureUntilDlg(this);
        connect(untilDlg_, &CaptureUntilDlg::startRequested, this, &CZoomWnd::StartCaptureUntil);
        connect(untilDlg_, &CaptureUntilDlg::stopRequested, this,
                [this] { StopCaptureUntil(tr("Stopped.")); });
    }
    if (!until_) {
        // What the search bar holds, with the window's decoders for decoded text.
        if (auto words = search_->matchWords();
            words && (words->signal || words->pattern || words->text)) {
            if (words->text) {
                words.value().stacks = stacks_;
            }
            untilDlg_->setMatch(QString::fromStdString(analysis::MatchWordsText(*words)));
        }
    }
    untilDlg_->show();
    untilDlg_->raise();
}

void CZoomWnd::UntilProgress(const QString& text) {
    status_->setText(text);
    if (untilDlg_ != nullptr) {
        untilDlg_->setProgress(text);
        untilDlg_->setRunning(until_ != nullptr);
    }
}

bool CZoomWnd::StartCaptureUntil(const QString& match, int tries) {
    auto* main = qobject_cast<CViewerDlg*>(parentWidget());
    const auto words = analysis::ParseMatchWords(match.toStdString());
    auto query = words ? analysis::CompileMatch(capture_, *words, NameAsText)
                       : analysis::Result<analysis::Query>::Fail(words.error());
    if (!query || main == nullptr) {
        until_.reset();
        UntilProgress(main == nullptr ? tr("There is no main window to capture with.")
                                      : QString::fromStdString(query.error()));
        return false;
    }
    until_ = std::make_unique<UntilRun>(UntilRun{std::move(query).value(), std::max(tries, 1), 0});
    if (main->cycle().captureArmed == 0) {
        main->OnStartStop();
    }
    UntilProgress(tr("Capture 1 of %1...").arg(until_->tries));
    return true;
}

void CZoomWnd::StopCaptureUntil(const QString& why) {
    if (!until_) {
        return;
    }
    until_.reset();
    auto* main = qobject_cast<CViewerDlg*>(parentWidget());
    if (main != nullptr && main->cycle().captureArmed != 0) {
        main->OnStartStop(); // STOP
    }
    UntilProgress(why);
}

void CZoomWnd::ContinueCaptureUntil() {
    if (!until_) {
        return;
    }
    const int done = ++until_->done;
    const auto found = analysis::FindMatches(capture_, until_->query, {1});
    if (!found) {
        StopCaptureUntil(QString::fromStdString(found.error()));
        return;
    }
    if (!found->empty()) {
        const auto& m = found->front();
        until_.reset();
        view_->setWindow(
            ShowSamples(view_->window().width, m.start - 100.0, std::max(m.end, m.start) + 100.0));
        view_->setCursors({m.start, {}});
        UntilProgress(
            tr("Capture %1 holds a match at sample %2 (cursor A).").arg(done).arg(m.start));
        return;
    }
    if (done >= until_->tries) {
        StopCaptureUntil(tr("None of the %1 captures held a match.").arg(done));
        return;
    }
    UntilProgress(
        tr("Capture %1 of %2 held no match; capturing again...").arg(done).arg(until_->tries));
    // After the main window has finished with the capture it just showed.
    QTimer::singleShot(0, this, [this] {
        auto* main = qobject_cast<CViewerDlg*>(parentWidget());
        if (until_ && main != nullptr && main->cycle().captureArmed == 0) {
            main->OnStartStop();
        }
    });
}

void CZoomWnd::ShowSearch() {
    search_->show();
    results_->show();
    search_->detailEdit().setFocus();
    search_->detailEdit().selectAll();
}

void CZoomWnd::ShowAnnotation(int first, int end) {
    const int last = std::max(first, end - 1);
    view_->setWindow(WindowShowing(view_->window(), first, last));
    annotationMark_ = {first, last};
    view_->setSearchMarks(std::span(&annotationMark_, 1), 0);
    table_->selectAnnotation(first, end);
}

const AnnotationBox* CZoomWnd::BoxAt(int row, double sample) const {
    const int channelRows = std::clamp(capture_.channels.rowCount, 0, kMaxRows);
    const int decoderRow = row - channelRows;
    if (decoderRow < 0 || decoderRow >= static_cast<int>(decoderRows_.size())) {
        return nullptr;
    }
    const auto& boxes = decoderRows_[static_cast<std::size_t>(decoderRow)].boxes;
    const int s = static_cast<int>(std::floor(sample));
    // Boxes are in order of their first sample.
    auto it = std::upper_bound(boxes.begin(), boxes.end(), s,
                               [](int at, const AnnotationBox& b) { return at < b.first; });
    while (it != boxes.begin()) {
        --it;
        if (s < std::max(it->end, it->first + 1)) {
            return &*it;
        }
        if (boxes.end() - it > 64) {
            break; // boxes far before do not reach this far
        }
    }
    return nullptr;
}

void CZoomWnd::ShowMatch(int index) {
    const auto& marks = search_->marks();
    if (index < 0 || static_cast<std::size_t>(index) >= marks.size()) {
        return;
    }
    const SearchMark& m = marks[static_cast<std::size_t>(index)];
    view_->setWindow(WindowShowing(view_->window(), m.start, m.end));
    view_->setSearchMarks(marks, index);
    status_->setText(search_->countLabel().text());
}

void CZoomWnd::AddDecoder(const std::string& stack) {
    if (!stack.empty()) {
        stacks_.push_back(stack);
        Decode();
    }
}

void CZoomWnd::RemoveDecoders() {
    stacks_.clear();
    Decode();
}

void CZoomWnd::OnAddDecoder() {
    // Loading every decoder takes a moment, once per process.
    static const auto installed = analysis::InstalledDecoders();
    if (!installed) {
        QMessageBox::warning(this, windowTitle(), QString::fromStdString(installed.error()));
        return;
    }
    AddDecoderDlg dialog(*installed, analysis::SignalNames(capture_.channels, NameAsText), this);
    if (dialog.exec() == QDialog::Accepted) {
        AddDecoder(dialog.Stack());
    }
}

void CZoomWnd::Decode() {
    // Until the worker is done each decoder shows a busy row.
    decoderRows_.clear();
    for (const auto& stack : stacks_) {
        decoderRows_.push_back({stack.substr(0, stack.find(':')), {}, "decoding...", false});
    }
    view_->setData(&capture_, &changes_, decoderRows_);
    search_->setDecoderRows(decoderRows_);
    UpdateRowBar();
    runner_->Start(capture_, stacks_, NameAsText);
}

void CZoomWnd::OnDecoded(const std::vector<AnnotationRow>& rows) {
    decoderRows_ = rows;
    view_->setData(&capture_, &changes_, decoderRows_);
    search_->setDecoderRows(decoderRows_);
    UpdateRowBar();
}

void CZoomWnd::UpdateRowBar() {
    const AnalysisScene scene = view_->scene();
    const AnalysisLayout layout{{0, 0, view_->width(), std::max(view_->height(), 1)}};
    rowBar_->setRange(0, std::max(0, TotalRows(scene) - layout.VisibleRows()));
    rowBar_->setPageStep(std::max(1, layout.VisibleRows()));
    rowBar_->setValue(view_->firstRow());
}

void CZoomWnd::UpdateCursorText() {
    cursorText_->setText(
        QString::fromStdString(CursorReadout(view_->cursors(), capture_.settings)));
}

void CZoomWnd::OnHover(int row, double sample) {
    const int channelRows = std::clamp(capture_.channels.rowCount, 0, kMaxRows);
    if (row < 0 || row >= channelRows) {
        // What the last channel row said does not hold here; a decoder's box shows its
        // longest text, which the box itself may have to cut.
        status_->setText(Hint());
        const AnnotationBox* box = BoxAt(row, sample);
        if (box != nullptr && !box->texts.empty()) {
            QToolTip::showText(QCursor::pos(), QString::fromStdString(box->texts.front()), view_);
        } else {
            QToolTip::hideText();
        }
        return;
    }
    const auto& channel = capture_.channels.rows[static_cast<std::size_t>(row)];
    const int s = std::clamp(static_cast<int>(std::floor(sample)), 0, kSampleCount - 1);
    const std::string name = NameAsText(VisibleName(channel));
    std::string text;
    if (channel.probeCount == 1) {
        const auto measured = analysis::MeasureAt(capture_, {name, channel.probes[0]}, s);
        text = measured ? MeasurementText(name, *measured) : name + ": " + measured.error();
    } else {
        const auto probes = std::span(channel.probes)
                                .first(static_cast<std::size_t>(
                                    std::clamp(channel.probeCount, 0, kMaxProbesPerRow)));
        const std::uint32_t word = changes_.Word(s);
        std::uint32_t value = 0;
        for (std::size_t j = 0; j < probes.size(); ++j) {
            value |= probes[j] <= 31 ? ((word >> probes[j]) & 1U) << j : 0U;
        }
        text = name + " #" + std::to_string(s) + " = " +
               BusLabel(value, BusLabelWidth(static_cast<int>(probes.size())));
    }
    status_->setText(QString::fromStdString(text));
    QToolTip::showText(QCursor::pos(), QString::fromStdString(text), view_);
}

} // namespace pulsara
