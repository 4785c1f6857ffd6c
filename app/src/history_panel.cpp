#include "app/history_panel.h"

#include "capture/capture_files.h"
#include "capture/definition_text.h"
#include "capture/labels.h"
#include "device/capture_cycle.h"
#include "view/analysis_scene.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

namespace pulsara {
namespace {

QString EntryText(const analysis::HistoryEntry& entry) {
    const auto& s = entry.capture->settings;
    const auto rate = LabelAt(rateLabels, s.rateIndex);
    const auto position = LabelAt(triggerPositionLabels, s.triggerPosition);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(entry.completed.time_since_epoch())
            .count();
    return QStringLiteral("#%1  %2  %3 %4")
        .arg(entry.number)
        .arg(QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss")))
        .arg(rate ? QString::fromUtf8(rate->data(), static_cast<int>(rate->size()))
                  : QStringLiteral("?"))
        .arg(position ? QString::fromUtf8(position->data(), static_cast<int>(position->size()))
                      : QStringLiteral("?"));
}

// Every channel row, so that a row's difference sits at its row index.
std::vector<analysis::CompareTarget> AllRows(const ChannelTable& channels) {
    std::vector<analysis::CompareTarget> targets;
    for (int r = 0; r < std::clamp(channels.rowCount, 0, kMaxRows); ++r) {
        targets.push_back({std::to_string(r), RowMask(channels, r)});
    }
    return targets;
}

} // namespace

HistoryPanel::HistoryPanel(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    const auto button = [this](const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, this);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setToolTip(tip);
        return b;
    };
    auto* runRow = new QHBoxLayout;
    repeat_ = button(tr("Repeat"), tr("Capture again after every completed capture"));
    stop_ = button(tr("Stop"), tr("Stop repeating and give up the running capture"));
    runRow->addWidget(repeat_);
    runRow->addWidget(stop_);
    column->addLayout(runRow);

    auto* keepRow = new QHBoxLayout;
    keepRow->addWidget(new QLabel(tr("Keep"), this));
    keep_ = new QSpinBox(this);
    keep_->setRange(1, 4096);
    keep_->setValue(analysis::CaptureHistory::kDefaultCapacity);
    keep_->setSuffix(tr(" captures"));
    keep_->setToolTip(tr("How many completed captures the history keeps (about 147 KiB each)"));
    keepRow->addWidget(keep_, 1);
    column->addLayout(keepRow);

    list_ = new QListWidget(this);
    list_->setToolTip(tr("Completed captures, newest last; PgUp and PgDn step through them"));
    column->addWidget(list_, 1);
    shownText_ = new QLabel(tr("Shown: the main window's capture"), this);
    shownText_->setTextFormat(Qt::PlainText);
    column->addWidget(shownText_);
    save_ = button(tr("Save..."), tr("Save the capture shown (.wfa and .wfd)"));
    column->addWidget(save_);

    pin_ = button(tr("Pin as reference"), tr("Compare every capture shown with this one"));
    auto* pinFile = button(tr("Reference from file..."), tr("Compare with a saved capture"));
    unpin_ = button(tr("Unpin"), tr("Stop comparing"));
    align_ = new QComboBox(this);
    align_->setFocusPolicy(Qt::NoFocus);
    align_->addItems({tr("Align at the trigger"), tr("Align at sample 0")});
    next_ = button(tr("Next difference"), tr("Go to the next range that differs (N)"));
    compareText_ = new QLabel(this);
    compareText_->setWordWrap(true);
    compareText_->setTextFormat(Qt::PlainText);
    for (QWidget* w : {static_cast<QWidget*>(pin_), static_cast<QWidget*>(pinFile),
                       static_cast<QWidget*>(unpin_), static_cast<QWidget*>(align_),
                       static_cast<QWidget*>(next_), static_cast<QWidget*>(compareText_)}) {
        column->addWidget(w);
    }
    setFixedWidth(210);

    connect(repeat_, &QPushButton::clicked, this, &HistoryPanel::StartRepeat);
    connect(stop_, &QPushButton::clicked, this, &HistoryPanel::StopRepeat);
    connect(keep_, &QSpinBox::valueChanged, this, [this](int n) {
        history_.SetCapacity(n);
        RefreshList();
        emit entryShown(shownCapture());
    });
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!refreshing_ && row >= 0) {
            ShowEntry(row);
        }
    });
    connect(save_, &QPushButton::clicked, this, &HistoryPanel::OnSave);
    connect(pin_, &QPushButton::clicked, this, &HistoryPanel::PinShown);
    connect(pinFile, &QPushButton::clicked, this, &HistoryPanel::OnPinFile);
    connect(unpin_, &QPushButton::clicked, this, &HistoryPanel::Unpin);
    connect(align_, &QComboBox::currentIndexChanged, this, [this](int index) {
        SetAlignment(index == 1 ? analysis::Alignment::Start : analysis::Alignment::Trigger);
    });
    connect(next_, &QPushButton::clicked, this, &HistoryPanel::nextDifferenceRequested);
    UpdateButtons();
}

void HistoryPanel::OnCaptureCompleted(const Capture& capture) {
    (void)history_.Add(capture, std::chrono::system_clock::now());
    live_ = false;
    RefreshList();
    emit entryShown(shownCapture());
    if (repeating_ && control_.startStop && control_.armed && !control_.armed()) {
        control_.startStop();
    }
}

void HistoryPanel::StartRepeat() {
    repeating_ = true;
    if (control_.startStop && control_.armed && !control_.armed()) {
        control_.startStop();
    }
    UpdateButtons();
}

void HistoryPanel::StopRepeat() {
    repeating_ = false;
    if (control_.startStop && control_.armed && control_.armed()) {
        control_.startStop(); // STOP: gives the running capture up
    }
    UpdateButtons();
}

void HistoryPanel::ShowingLive() {
    live_ = true;
    RefreshList();
}

bool HistoryPanel::Step(int delta) {
    if (live_ && !history_.empty()) {
        if (delta > 0) {
            return false;
        }
        history_.Show(history_.size() - 1);
    } else if (!history_.Step(delta)) {
        return false;
    }
    live_ = false;
    RefreshList();
    emit entryShown(shownCapture());
    return true;
}

void HistoryPanel::ShowEntry(int index) {
    history_.Show(index);
    live_ = history_.empty();
    RefreshList();
    emit entryShown(shownCapture());
}

const Capture* HistoryPanel::shownCapture() const {
    const auto shown = live_ ? std::nullopt : history_.shown();
    return shown ? history_.at(*shown).capture.get() : nullptr;
}

std::string HistoryPanel::SaveShown(const std::filesystem::path& path) const {
    const Capture* shown = shownCapture();
    if (shown == nullptr) {
        return "the history holds no capture yet; capture first";
    }
    // The history keeps its copy as it was. The position stored is where the main window
    // put the view when the capture completed, as its SAVE right then would store.
    auto copy = std::make_unique<Capture>(*shown);
    const auto result = SaveCapture(
        *copy, path,
        PostCaptureScrollPos(copy->settings.triggerPosition, copy->settings.savedScrollPos));
    return result.ok ? std::string() : result.error;
}

void HistoryPanel::PinShown() {
    const auto shown = live_ ? std::nullopt : history_.shown();
    if (!shown) {
        return;
    }
    reference_ = history_.at(*shown).capture;
    referenceName_ = tr("capture #%1").arg(history_.at(*shown).number);
    UpdateButtons();
    emit comparisonChanged();
}

std::string HistoryPanel::PinFile(const std::filesystem::path& path) {
    auto loaded = std::make_unique<Capture>();
    SetDefinitionText(DefaultDefinitionText(), *loaded);
    const auto result = LoadCapture(*loaded, path);
    if (!result.ok) {
        return result.error;
    }
    reference_ = std::move(loaded);
    referenceName_ = QString::fromStdString(path.filename().string());
    UpdateButtons();
    emit comparisonChanged();
    return {};
}

void HistoryPanel::Unpin() {
    reference_.reset();
    comparison_.reset();
    UpdateButtons();
    emit comparisonChanged();
}

void HistoryPanel::SetAlignment(analysis::Alignment alignment) {
    alignment_ = alignment;
    align_->setCurrentIndex(alignment == analysis::Alignment::Start ? 1 : 0);
    emit comparisonChanged();
}

void HistoryPanel::CompareWith(const Capture& shown) {
    comparison_.reset();
    if (!reference_) {
        compareText_->clear();
        return;
    }
    const auto rows = AllRows(shown.channels);
    auto result = analysis::CompareCaptures(shown, *reference_, rows, alignment_);
    if (!result) {
        compareText_->setText(QString::fromStdString(result.error()));
        return;
    }
    int differing = 0;
    int samples = 0;
    for (const auto& row : result->targets) {
        differing += row.samples > 0 ? 1 : 0;
        samples += row.samples;
    }
    compareText_->setText(differing == 0 ? tr("Same as %1").arg(referenceName_)
                                         : tr("%1 rows differ from %2 (%3 samples)")
                                               .arg(differing)
                                               .arg(referenceName_)
                                               .arg(samples));
    comparison_ = std::move(result).value();
}

void HistoryPanel::RefreshList() {
    refreshing_ = true;
    while (list_->count() > history_.size()) {
        delete list_->takeItem(0);
    }
    for (int i = 0; i < history_.size(); ++i) {
        const QString text = EntryText(history_.at(i));
        if (i < list_->count()) {
            list_->item(i)->setText(text);
        } else {
            list_->addItem(text);
        }
    }
    const auto shown = live_ ? std::nullopt : history_.shown();
    list_->setCurrentRow(shown ? *shown : -1);
    shownText_->setText(shown ? tr("Shown: #%1, %2 of %3")
                                    .arg(history_.at(*shown).number)
                                    .arg(*shown + 1)
                                    .arg(history_.size())
                              : tr("Shown: the main window's capture"));
    refreshing_ = false;
    UpdateButtons();
}

void HistoryPanel::UpdateButtons() {
    repeat_->setEnabled(!repeating_);
    stop_->setEnabled(repeating_);
    save_->setEnabled(shownCapture() != nullptr);
    pin_->setEnabled(shownCapture() != nullptr);
    unpin_->setEnabled(reference_ != nullptr);
    next_->setEnabled(reference_ != nullptr);
}

void HistoryPanel::OnSave() {
    const QString file = QFileDialog::getSaveFileName(this, tr("Save the capture shown"),
                                                      QStringLiteral("."), QStringLiteral("*.wfa"));
    if (file.isEmpty()) {
        return;
    }
    std::filesystem::path path = file.toStdString();
    if (!path.has_extension()) {
        path += ".wfa";
    }
    if (const auto error = SaveShown(path); !error.empty()) {
        QMessageBox::warning(this, window()->windowTitle(), QString::fromStdString(error));
    }
}

void HistoryPanel::OnPinFile() {
    const QString file = QFileDialog::getOpenFileName(this, tr("Reference capture"),
                                                      QStringLiteral("."), QStringLiteral("*.wfa"));
    if (file.isEmpty()) {
        return;
    }
    if (const auto error = PinFile(file.toStdString()); !error.empty()) {
        QMessageBox::warning(this, window()->windowTitle(), QString::fromStdString(error));
    }
}

} // namespace pulsara
