#pragma once
// The analysis window's side panel for repeated capture and comparison: Repeat runs the
// main window's capture cycle again after every completed capture until Stop; every
// completed capture goes into a history (the last 64 by default, "Keep" changes it) that
// the list, PgUp and PgDn step through; Save... writes the capture shown. A capture from
// the history or from a file can be pinned as the reference: the window then marks where
// the capture shown differs from it, aligned at the trigger or at sample 0.

#include "analysis/capture_history.h"
#include "analysis/compare.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace pulsara {

class HistoryPanel final : public QWidget {
    Q_OBJECT
public:
    // How the panel drives the main window's capture cycle.
    struct CaptureControl {
        std::function<void()> startStop; // the main window's START/STOP
        std::function<bool()> armed;     // a capture is running
    };

    explicit HistoryPanel(QWidget* parent = nullptr);

    void SetCaptureControl(CaptureControl control) { control_ = std::move(control); }

    // A capture completed in the main window: into the history, shown, and the next one
    // started while repeating.
    void OnCaptureCompleted(const Capture& capture);
    void StartRepeat();
    void StopRepeat();
    [[nodiscard]] bool repeating() const { return repeating_; }

    // The window shows the main window's own capture (a load): no entry is shown.
    void ShowingLive();
    [[nodiscard]] bool showingLive() const { return live_; }
    // Shows the entry `delta` steps newer (negative: older; from the main window's capture,
    // the newest entry); true when it changed.
    bool Step(int delta);
    void ShowEntry(int index);
    // The history's entry shown, or null (the window then shows the live capture).
    [[nodiscard]] const Capture* shownCapture() const;
    [[nodiscard]] QLabel& shownLine() const { return *shownText_; }

    // Writes the capture shown (.wfa and its .wfd); an error text, empty on success.
    [[nodiscard]] std::string SaveShown(const std::filesystem::path& path) const;
    void PinShown();
    // Loads a capture file as the reference; an error text, empty on success.
    [[nodiscard]] std::string PinFile(const std::filesystem::path& path);
    void Unpin();
    void SetAlignment(analysis::Alignment alignment);

    // Compares `shown` with the reference, row by row (nothing without a reference).
    void CompareWith(const Capture& shown);
    [[nodiscard]] const analysis::Comparison* comparison() const {
        return comparison_ ? &*comparison_ : nullptr;
    }

    [[nodiscard]] analysis::CaptureHistory& history() { return history_; }
    [[nodiscard]] QListWidget& list() const { return *list_; }
    [[nodiscard]] QSpinBox& keep() const { return *keep_; }
    [[nodiscard]] QLabel& compareLine() const { return *compareText_; }
    [[nodiscard]] QPushButton& repeatButton() const { return *repeat_; }
    [[nodiscard]] QPushButton& stopButton() const { return *stop_; }

signals:
    // The entry to show changed (a history copy, owned by the history).
    void entryShown(const Capture* capture);
    // The marks changed: a new reference, alignment or comparison.
    void comparisonChanged();
    // "Next difference" from the window: it asks where to go.
    void nextDifferenceRequested();

private:
    void RefreshList();
    void UpdateButtons();
    void OnSave();
    void OnPinFile();

    analysis::CaptureHistory history_;
    std::shared_ptr<const Capture> reference_;
    QString referenceName_;
    analysis::Alignment alignment_ = analysis::Alignment::Trigger;
    std::optional<analysis::Comparison> comparison_;
    CaptureControl control_;
    bool repeating_ = false;
    bool refreshing_ = false;
    bool live_ = true;

    QPushButton* repeat_ = nullptr;
    QPushButton* stop_ = nullptr;
    QSpinBox* keep_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* pin_ = nullptr;
    QPushButton* unpin_ = nullptr;
    QComboBox* align_ = nullptr;
    QPushButton* next_ = nullptr;
    QLabel* compareText_ = nullptr;
    QLabel* shownText_ = nullptr;
};

} // namespace pulsara
