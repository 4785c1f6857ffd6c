#include "app/analysis_wnd.h"

#include "analysis/decoders.h"
#include "analysis/measure.h"
#include "app/add_decoder_dlg.h"
#include "app/analysis_view_widget.h"
#include "app/decoder_runner.h"
#include "app/history_panel.h"
#include "view/cursors.h"
#include "view/hover_text.h"
#include "view/qt_canvas.h"
#include "view/rows.h"

#include <QBoxLayout>
#include <QCursor>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QToolTip>

#include <cmath>

namespace pulsara {
namespace {

// Row names are Shift-JIS bytes; decoders and users speak UTF-8.
std::string NameAsText(std::string_view bytes) {
    return DecodeShiftJis(bytes).toStdString();
}

} // namespace

CAnalysisWnd::CAnalysisWnd(const Capture& capture, QWidget* parent)
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
    for (QPushButton* button : {addDecoder, removeDecoders}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        tools->addWidget(button);
    }
    cursorText_ = new QLabel(this);
    cursorText_->setTextFormat(Qt::PlainText);
    cursorText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    tools->addWidget(cursorText_, 1);
    top->addLayout(tools);

    auto* middle = new QHBoxLayout;
    view_ = new AnalysisViewWidget(this);
    rowBar_ = new QScrollBar(Qt::Vertical, this);
    rowBar_->setFocusPolicy(Qt::NoFocus);
    middle->addWidget(view_, 1);
    middle->addWidget(rowBar_);
    SetUpHistory();
    middle->addWidget(history_);
    top->addLayout(middle, 1);

    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    status_->setText(tr("Wheel: zoom   drag: pan   click: cursor A, right click: B   "
                        "+ - 0 Home End T"));
    top->addWidget(status_);

    connect(zoomIn, &QPushButton::clicked, this,
            [this] { view_->zoomBy(2.0, view_->window().width / 2.0); });
    connect(zoomOut, &QPushButton::clicked, this,
            [this] { view_->zoomBy(0.5, view_->window().width / 2.0); });
    connect(all, &QPushButton::clicked, view_, &AnalysisViewWidget::showAll);
    connect(addDecoder, &QPushButton::clicked, this, &CAnalysisWnd::OnAddDecoder);
    connect(removeDecoders, &QPushButton::clicked, this, &CAnalysisWnd::RemoveDecoders);
    runner_ = new DecoderRunner(this);
    connect(runner_, &DecoderRunner::finished, this, &CAnalysisWnd::OnDecoded);
    connect(view_, &AnalysisViewWidget::hovered, this, &CAnalysisWnd::OnHover);
    connect(view_, &AnalysisViewWidget::cursorsChanged, this, &CAnalysisWnd::UpdateCursorText);
    connect(view_, &AnalysisViewWidget::firstRowChanged, rowBar_, &QScrollBar::setValue);
    connect(view_, &AnalysisViewWidget::resized, this, &CAnalysisWnd::UpdateRowBar);
    connect(rowBar_, &QScrollBar::valueChanged, view_, &AnalysisViewWidget::setFirstRow);

    view_->setData(&capture_, &changes_, decoderRows_);
    resize(1000, 560);
    UpdateRowBar();
}

CAnalysisWnd::~CAnalysisWnd() = default;

void CAnalysisWnd::OnCaptureChanged() {
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
    Decode();
}

void CAnalysisWnd::AddDecoder(const std::string& stack) {
    if (!stack.empty()) {
        stacks_.push_back(stack);
        Decode();
    }
}

void CAnalysisWnd::RemoveDecoders() {
    stacks_.clear();
    Decode();
}

void CAnalysisWnd::OnAddDecoder() {
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

void CAnalysisWnd::Decode() {
    // Until the worker is done each decoder shows a busy row.
    decoderRows_.clear();
    for (const auto& stack : stacks_) {
        decoderRows_.push_back({stack.substr(0, stack.find(':')), {}, "decoding...", false});
    }
    view_->setData(&capture_, &changes_, decoderRows_);
    UpdateRowBar();
    runner_->Start(capture_, stacks_, NameAsText);
}

void CAnalysisWnd::OnDecoded(const std::vector<AnnotationRow>& rows) {
    decoderRows_ = rows;
    view_->setData(&capture_, &changes_, decoderRows_);
    UpdateRowBar();
}

void CAnalysisWnd::UpdateRowBar() {
    const AnalysisScene scene = view_->scene();
    const AnalysisLayout layout{{0, 0, view_->width(), std::max(view_->height(), 1)}};
    rowBar_->setRange(0, std::max(0, TotalRows(scene) - layout.VisibleRows()));
    rowBar_->setPageStep(std::max(1, layout.VisibleRows()));
    rowBar_->setValue(view_->firstRow());
}

void CAnalysisWnd::UpdateCursorText() {
    cursorText_->setText(
        QString::fromStdString(CursorReadout(view_->cursors(), capture_.settings)));
}

void CAnalysisWnd::OnHover(int row, double sample) {
    const int channelRows = std::clamp(capture_.channels.rowCount, 0, kMaxRows);
    if (row < 0 || row >= channelRows) {
        QToolTip::hideText();
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
