#include "app/viewer_dlg.h"

#include "app/about_dlg.h"
#include "app/dialog_units.h"
#include "app/history_panel.h"
#include "app/view_frame.h"
#include "app/viewer_services.h"
#include "app/zoom_wnd.h"
#include "capture/capture_files.h"
#include "capture/interop.h"
#include "capture/labels.h"
#include "capture/session_file.h"
#include "ui_viewer_dlg.h"
#include "view/geometry.h"
#include "view/scroll.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QShortcut>
#include <QStyleOptionComboBox>
#include <QTimer>

#include <algorithm>

namespace pulsara {
namespace {

// The template's sizes in dialog units.
constexpr QSize kDialogUnits{355, 235};
constexpr QSize kFrameUnits{340, 200};
// At least the view's own pixel size inside the frame.
constexpr QSize kViewPixels{kViewClientWidth, kViewClientHeight};

template <std::size_t N>
void FillList(QComboBox& list, const std::array<std::string_view, N>& labels) {
    // Appended in table order: the lists are not sorted.
    for (const auto label : labels) {
        list.addItem(QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())));
    }
}

template <std::size_t N>
QString LabelText(const std::array<std::string_view, N>& labels, std::int32_t index) {
    if (index < 0 || index >= static_cast<std::int32_t>(N)) {
        return QStringLiteral("#%1").arg(index);
    }
    const auto label = labels[static_cast<std::size_t>(index)];
    return QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size()));
}

void Select(QComboBox& list, std::int32_t index) {
    // An index outside the list leaves it without a selection.
    list.setCurrentIndex(index >= 0 && index < list.count() ? index : -1);
}

int ScrollCodeOf(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return kScrollLineBack;
    case QAbstractSlider::SliderSingleStepAdd:
        return kScrollLineForward;
    case QAbstractSlider::SliderPageStepSub:
        return kScrollPageBack;
    case QAbstractSlider::SliderPageStepAdd:
        return kScrollPageForward;
    case QAbstractSlider::SliderMove:
        return kScrollThumbTrack;
    case QAbstractSlider::SliderToMinimum:
        return kScrollToMinimum;
    case QAbstractSlider::SliderToMaximum:
        return kScrollToMaximum;
    default:
        return kScrollEnd;
    }
}

// The widest entry of a list in the list's font.
int WidestEntry(const QComboBox& list, const QFont& font) {
    const QFontMetrics metrics(font);
    int widest = 0;
    for (int i = 0; i < list.count(); ++i) {
        widest = std::max(widest, metrics.horizontalAdvance(list.itemText(i)));
    }
    return widest;
}

// The template's lists are narrow: the closed list gets the largest font, down to 7
// points, in which its widest entry fits beside the arrow; the dropped-down list is as
// wide as that entry needs and shows every entry whole.
void ShowWholeEntries(QComboBox& list) {
    QStyleOptionComboBox option;
    option.initFrom(&list);
    option.editable = false;
    option.subControls = QStyle::SC_All;
    const int field =
        list.style()
            ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &list)
            .width() -
        2; // the style sheet's left padding
    QFont font = list.font();
    for (double size = font.pointSizeF(); size > 7.0 && WidestEntry(list, font) > field;) {
        size -= 0.5;
        font.setPointSizeF(size);
    }
    list.setFont(font);
    QAbstractItemView& view = *list.view();
    view.setFont(list.font());
    view.setTextElideMode(Qt::ElideNone);
    const int margins =
        4 * list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) +
        list.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &view) + 16;
    view.setMinimumWidth(WidestEntry(list, view.font()) + margins);
}

QString Joined(const std::vector<std::string>& lines) {
    QStringList all;
    for (const auto& line : lines) {
        all << QString::fromStdString(line);
    }
    return all.join(QLatin1Char('\n'));
}

} // namespace

NoticeFit FitNotice(const QString& text, const QFont& font, QSize box) {
    // From the dialog font down to 7 points, the first size whose word-wrapped text fits;
    // a text too long even then keeps its first words and ends in an ellipsis.
    QFont f = font;
    const double largest = font.pointSizeF();
    for (double size = largest; size >= 7.0; size -= 0.5) {
        f.setPointSizeF(size);
        const QRect needed = QFontMetrics(f).boundingRect(QRect(QPoint(), box),
                                                          Qt::TextWordWrap | Qt::AlignLeft, text);
        if (needed.width() <= box.width() && needed.height() <= box.height()) {
            return {text, size, true};
        }
    }
    const QFontMetrics metrics(f);
    const int lines = std::max(1, box.height() / metrics.lineSpacing());
    QString shown = text;
    while (!shown.isEmpty()) {
        shown.chop(1);
        const QString candidate = shown.trimmed() + QChar(0x2026);
        if (metrics
                .boundingRect(QRect(QPoint(), QSize(box.width(), lines * metrics.lineSpacing())),
                              Qt::TextWordWrap | Qt::AlignLeft, candidate)
                .height() <= box.height()) {
            return {candidate, f.pointSizeF(), false};
        }
    }
    return {{}, f.pointSizeF(), false};
}

QFont DialogFont() {
    QFont font;
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("DejaVu Sans")});
    font.setPointSize(9);
    return font;
}

CViewerDlg::CViewerDlg(Capture& capture, DeviceLink& link, ViewerServices& services,
                       QWidget* parent)
    : QDialog(parent), capture_(capture), link_(link), services_(services),
      ui_(std::make_unique<Ui::CViewerDlg>()), timer_(new QTimer(this)), icon_(ProgramIcon()) {
    ui_->setupUi(this);
    setFont(DialogFont());
    // A modal frame with a system menu: no sizing border, no maximise or minimise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const DialogBaseUnits units =
        FitBaseUnits(MeasureBaseUnits(font()), kFrameUnits, kViewPixels, frame().frameWidth());
    ApplyDialogUnits(*this, units, kDialogUnits);
    setWindowIcon(icon_);

    frame().setSource({&capture_, [this] { return horizontalBar().value(); },
                       [this] { return verticalBar().value(); }});
    connect(&startButton(), &QPushButton::clicked, this, &CViewerDlg::OnStartStop);
    connect(&loadButton(), &QPushButton::clicked, this, &CViewerDlg::OnLoad);
    connect(&saveButton(), &QPushButton::clicked, this, &CViewerDlg::OnSave);
    connect(&aboutButton(), &QPushButton::clicked, this, &CViewerDlg::OnAbout);
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            &CViewerDlg::OnAbout);
    connect(&analysisButton(), &QPushButton::clicked, this, &CViewerDlg::OnAnalysis);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_E), this), &QShortcut::activated, this,
            &CViewerDlg::OnAnalysis);
    connect(&horizontalBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { OnScrollAction(horizontalBar(), action); });
    connect(&verticalBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { OnScrollAction(verticalBar(), action); });
    connect(&frame(), &ViewFrame::wheelStep, this, [this](int step, bool horizontal) {
        const int code = step < 0 ? kScrollLineBack : kScrollLineForward;
        horizontal ? OnHScroll(code, 0) : OnVScroll(code, 0);
    });
    connect(timer_, &QTimer::timeout, this, &CViewerDlg::OnTimer);
    statusLabel().setTextFormat(Qt::PlainText);
    // The template's lists are narrow; Qt's default arrow and padding would cut "100MHz".
    for (QComboBox* list : {&rateList(), &positionList(), &conditionList(), &probeList()}) {
        list->setStyleSheet(QStringLiteral(
            "QComboBox { padding: 0px 0px 0px 2px; }"
            "QComboBox::drop-down { subcontrol-origin: padding;"
            " subcontrol-position: center right; width: 9px;"
            " border: 0px; }"
            "QComboBox::down-arrow {"
            " image: url(:/pulsara/icons/down-arrow.png); width: 7px; height: 4px; }"));
    }
    // None of the push buttons is drawn as the default one: Enter on a list ends the
    // window, as the dialog manager's OK did, and would contradict the look.
    for (QPushButton* button : {&startButton(), &loadButton(), &saveButton()}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    statusLabel().setWordWrap(true);
    statusLabel().setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    OnInitDialog();
}

CViewerDlg::~CViewerDlg() {
    if (analysis_ != nullptr) {
        services_.RememberAnalysis(analysis_->Session());
    }
}

QScrollBar& CViewerDlg::horizontalBar() const {
    return *ui_->hScroll;
}
QScrollBar& CViewerDlg::verticalBar() const {
    return *ui_->vScroll;
}
QPushButton& CViewerDlg::startButton() const {
    return *ui_->startButton;
}
QPushButton& CViewerDlg::loadButton() const {
    return *ui_->loadButton;
}
QPushButton& CViewerDlg::saveButton() const {
    return *ui_->saveButton;
}
QPushButton& CViewerDlg::aboutButton() const {
    return *ui_->aboutButton;
}
QPushButton& CViewerDlg::analysisButton() const {
    return *ui_->analysisButton;
}
QComboBox& CViewerDlg::rateList() const {
    return *ui_->rateList;
}
QComboBox& CViewerDlg::positionList() const {
    return *ui_->positionList;
}
QComboBox& CViewerDlg::conditionList() const {
    return *ui_->conditionList;
}
QComboBox& CViewerDlg::probeList() const {
    return *ui_->probeList;
}
ViewFrame& CViewerDlg::frame() const {
    return *ui_->viewFrame;
}
QLabel& CViewerDlg::statusLabel() const {
    return *ui_->statusLabel;
}

void CViewerDlg::OnInitDialog() {
    // Positions start at 0 whatever the settings line saved.
    horizontalBar().setRange(kHorizontalScrollMin, kHorizontalScrollMax);
    horizontalBar().setValue(0);
    horizontalBar().setSingleStep(1);
    horizontalBar().setPageStep(10);
    const ScrollRange rows = VerticalScrollRange(capture_.channels.rowCount);
    verticalBar().setRange(rows.min, rows.max);
    verticalBar().setValue(0);
    verticalBar().setSingleStep(1);
    verticalBar().setPageStep(1);

    FillList(rateList(), rateLabels);
    FillList(positionList(), triggerPositionLabels);
    FillList(conditionList(), triggerConditionLabels);
    FillList(probeList(), triggerProbeLabels);
    for (QComboBox* list : {&rateList(), &positionList(), &conditionList(), &probeList()}) {
        ShowWholeEntries(*list);
    }
    SelectCombos();

    cycle_.captureArmed = 0;
    timer_->start(kPollIntervalMs);
    startButton().setFocus();
}

void CViewerDlg::SelectCombos() {
    Select(rateList(), capture_.settings.rateIndex);
    Select(positionList(), capture_.settings.triggerPosition);
    Select(conditionList(), capture_.settings.triggerCondition);
    Select(probeList(), capture_.settings.triggerProbe);
}

void CViewerDlg::OnScrollAction(QScrollBar& bar, int action) {
    // Qt has already proposed a position of its own; the program's rule replaces it.
    const int code = ScrollCodeOf(action);
    if (&bar == &horizontalBar()) {
        OnHScroll(code, bar.sliderPosition());
    } else {
        OnVScroll(code, bar.sliderPosition());
    }
}

void CViewerDlg::OnHScroll(int code, int position) {
    QScrollBar& bar = horizontalBar();
    const ScrollMove move =
        HorizontalScroll(code, bar.value(), position, {bar.minimum(), bar.maximum()});
    ApplyScroll(bar, move.position, move.changed);
}

void CViewerDlg::OnVScroll(int code, int position) {
    QScrollBar& bar = verticalBar();
    const ScrollMove move =
        VerticalScroll(code, bar.value(), position, {bar.minimum(), bar.maximum()});
    ApplyScroll(bar, move.position, move.changed);
}

void CViewerDlg::ApplyScroll(QScrollBar& bar, int position, bool changed) {
    // setValue also puts the thumb back where the rule says, undoing the slider's own move.
    bar.setValue(position);
    if (changed) {
        frame().repaint();
    }
}

void CViewerDlg::OnStartStop() {
    const StartStopResult result =
        StartStop(cycle_, link_, capture_,
                  {rateList().currentIndex(), positionList().currentIndex(),
                   conditionList().currentIndex(), probeList().currentIndex()});
    startButton().setText(result.armed ? QStringLiteral("STOP") : QStringLiteral("START"));
    const QString cause = DriverCause();
    if (result.reconnected) {
        RedrawFrame();
    }
    // A notice from before no longer holds at STOP, nor at a START the board took.
    if (!result.armed || result.settingsSent) {
        ShowStatus({});
    } else {
        ShowStatus(tr("The board did not take the settings."),
                   tr("Check that it is plugged in, then STOP and START again.") + cause);
    }
}

void CViewerDlg::OnTimer() {
    const TickResult tick = CaptureTick(cycle_, link_, capture_, horizontalBar().value());
    if (!tick.polled) {
        return;
    }
    const QString cause = DriverCause();
    switch (tick.poll) {
    case PollResult::Complete:
        horizontalBar().setValue(tick.horizontalPos);
        frame().repaint();
        startButton().setText(QStringLiteral("START"));
        ShowStatus({});
        emit captureChanged();
        emit captureCompleted();
        break;
    case PollResult::ReadOutFailed:
        startButton().setText(QStringLiteral("START"));
        RedrawFrame();
        ShowStatus(tr("Read-out failed; the previous capture is kept."),
                   tr("The capture completed but could not be read from the board. Press "
                      "START to try again.") +
                       cause);
        break;
    case PollResult::StatusFailed:
        if (tick.boardLost) {
            startButton().setText(QStringLiteral("START"));
            ShowStatus(tr("The board stopped answering."),
                       QString::fromStdString(BoardLostText()) + cause +
                           tr(". The previous capture is kept; plug the board in again and "
                              "press START."));
        } else {
            ShowStatus(tr("The board does not answer."),
                       tr("Check the USB cable; STOP gives up.") + cause);
        }
        break;
    case PollResult::NotComplete: {
        const std::chrono::milliseconds armedFor{std::int64_t{cycle_.polls} * kPollIntervalMs};
        if (TriggerNoticeDue(cycle_, armedFor)) {
            const CaptureSettings& armed = cycle_.armedWith;
            QString detail =
                QString::fromStdString(TriggerWaitText(armed, armedFor)) + tr(" (STOP gives up).");
            detail[0] = detail[0].toUpper();
            ShowStatus(tr("Trigger not met yet (%1, %2).")
                           .arg(LabelText(triggerProbeLabels, armed.triggerProbe),
                                LabelText(triggerConditionLabels, armed.triggerCondition)),
                       detail);
        } else {
            ShowStatus({});
        }
        break;
    }
    }
}

void CViewerDlg::OnLoad() {
    if (const auto path = services_.ChooseLoadPath(this)) {
        (void)LoadFrom(*path);
    }
}

bool CViewerDlg::LoadFrom(const std::filesystem::path& path) {
    // Another tool's file comes in through the importer; both leave the capture as it was
    // when they fail.
    QString notice;
    QString detail;
    if (InteropFormatOf(path)) {
        const ImportResult result = ImportCapture(path, capture_);
        if (!result.ok) {
            services_.ShowFileError(this, QString::fromStdString(result.error) +
                                              tr("\n\nNothing was changed."));
            return false;
        }
        // Every warning in the tooltip; the two lines say the first, or how many.
        if (result.warnings.size() == 1) {
            notice = QString::fromStdString(result.warnings.front());
        } else if (!result.warnings.empty()) {
            notice = tr("Imported with %1 warnings (point here to read them).")
                         .arg(result.warnings.size());
        }
        if (!result.warnings.empty()) {
            detail = Joined(result.warnings);
        }
    } else {
        const LoadResult result = LoadCapture(capture_, path);
        if (!result.ok) {
            services_.ShowFileError(this, QString::fromStdString(result.error) +
                                              tr("\n\nNothing was changed."));
            return false;
        }
        if (result.shortFile) {
            notice =
                tr("Short file: the samples after byte %1 read as 0.").arg(result.sampleBytesRead);
            detail = tr("%1 holds only %2 of 131072 bytes.")
                         .arg(FromPath(path.filename()))
                         .arg(result.sampleBytesRead);
        }
    }
    horizontalBar().setValue(ClampHorizontalPos(capture_.settings.savedScrollPos));
    SelectCombos();
    // The analysis session saved with the capture, if any; a broken one is only reported.
    SessionRead session = ReadSessionFile(SessionPath(path));
    if (!session.error.empty() && notice.isEmpty()) {
        notice = tr("Its analysis session was ignored.");
        detail = QString::fromStdString(session.error);
    }
    pendingSession_ = std::move(session.session);
    ShowStatus(notice, detail);
    RedrawFrame();
    emit captureChanged();
    if (analysis_ != nullptr && pendingSession_) {
        analysis_->ApplySession(*std::exchange(pendingSession_, std::nullopt), {});
    }
    return true;
}

void CViewerDlg::OnSave() {
    const auto path = services_.ChooseSavePath(this);
    if (!path) {
        return;
    }
    const auto format = InteropFormatOf(*path);
    if (format) {
        // An export for another tool; the capture itself is saved only as .wfa.
        const InteropResult result =
            *format == InteropFormat::Vcd ? ExportVcd(capture_, *path) : ExportSr(capture_, *path);
        if (!result.ok) {
            services_.ShowFileError(this, QString::fromStdString(result.error) +
                                              tr("\n\nThe file that was there is unchanged."));
            return;
        }
        ShowStatus(result.warnings.empty() ? QString()
                                           : QString::fromStdString(result.warnings.front()),
                   Joined(result.warnings));
        return;
    }
    const SaveResult result = SaveCapture(capture_, *path, horizontalBar().value());
    if (!result.ok) {
        services_.ShowFileError(this, QString::fromStdString(result.error) +
                                          tr("\n\nThe files that were there are unchanged."));
        return;
    }
    // The analysis session beside it, when there is one to keep.
    const std::optional<AnalysisSession> session =
        analysis_ != nullptr ? std::optional(analysis_->Session()) : pendingSession_;
    if (session) {
        if (const auto error = WriteSessionFile(*session, SessionPath(*path))) {
            ShowStatus(tr("The analysis session was not saved."), QString::fromStdString(*error));
        }
    }
}

void CViewerDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CViewerDlg::OnAnalysis() {
    if (analysis_ == nullptr) {
        // A child window, so the modal main window lets it take input; it lives as long.
        analysis_ = new CZoomWnd(capture_, this);
        connect(this, &CViewerDlg::captureChanged, analysis_, &CZoomWnd::OnCaptureChanged);
        // Last run's decoders and place first; a session loaded with the capture wins.
        if (const auto remembered = services_.RememberedAnalysis()) {
            analysis_->ApplySession(*remembered, {true, false, true});
        }
        if (pendingSession_) {
            analysis_->ApplySession(*std::exchange(pendingSession_, std::nullopt), {});
        }
        connect(this, &CViewerDlg::captureCompleted, analysis_, &CZoomWnd::OnCaptureCompleted);
        analysis_->historyPanel().SetCaptureControl(
            {[this] { OnStartStop(); }, [this] { return cycle_.captureArmed != 0; }});
    }
    analysis_->show();
    analysis_->raise();
    analysis_->activateWindow();
}

void CViewerDlg::OnButtonDown(QPoint point, int step) {
    const QPoint client = frame().mapFrom(this, point) - frame().clientOrigin();
    const std::int32_t h = JumpToEdge(capture_, horizontalBar().value(), verticalBar().value(),
                                      client.x(), client.y(), step);
    horizontalBar().setValue(h);
    RedrawFrame();
}

void CViewerDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) {
        OnButtonDown(event->position().toPoint(), event->button() == Qt::LeftButton ? -1 : +1);
    }
    QDialog::mousePressEvent(event);
}

void CViewerDlg::keyPressEvent(QKeyEvent* event) {
    // Enter ends the dialog when no push button has the focus, as the dialog manager's OK.
    // On a focused push button it presses that button, as the dialog manager did.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

QString CViewerDlg::DriverCause() {
    // Taken after every exchange, so a cause is never shown with a later, unrelated failure.
    const std::string error = link_.driver.TakeError();
    return error.empty() ? QString() : QStringLiteral(" (%1)").arg(QString::fromStdString(error));
}

void CViewerDlg::RedrawFrame() {
    // The frame paints opaquely, so the dialog's own update() does not reach it: it is
    // asked itself, after the rest of the window.
    update();
    frame().update();
}

void CViewerDlg::ShowStatus(const QString& text, const QString& detail) {
    QLabel& label = statusLabel();
    label.setToolTip(detail.isEmpty() || detail == text ? text : text + QLatin1Char('\n') + detail);
    const NoticeFit fit = FitNotice(text, font(), label.size());
    QFont shown = font();
    shown.setPointSizeF(fit.pointSize);
    label.setFont(shown);
    label.setText(fit.text);
}

} // namespace pulsara
