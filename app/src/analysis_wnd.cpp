#include "app/analysis_wnd.h"

#include "app/analysis_view_widget.h"
#include "view/cursors.h"
#include "view/qt_canvas.h"
#include "view/rows.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

#include <cmath>

namespace pulsara {

CAnalysisWnd::CAnalysisWnd(const Capture& capture, QWidget* parent)
    : QWidget(parent, Qt::Window), capture_(capture), changes_(capture.samples) {
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
    changes_ = ChangeTable(capture_.samples);
    view_->setData(&capture_, &changes_, decoderRows_);
    view_->showAll();
    UpdateRowBar();
    UpdateCursorText();
    view_->update();
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
        return;
    }
    const auto& channel = capture_.channels.rows[static_cast<std::size_t>(row)];
    const int s = std::clamp(static_cast<int>(std::floor(sample)), 0, kSampleCount - 1);
    QString text = DecodeShiftJis(VisibleName(channel)) + QStringLiteral("  #%1").arg(s);
    status_->setText(text);
}

} // namespace pulsara
