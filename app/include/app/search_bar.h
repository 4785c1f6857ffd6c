#pragma once
// The analysis window's search bar (Ctrl+F): a match kind, a signal and what to look for,
// searched over the capture with the analysis library (decoded text over the window's own
// decoder rows). It keeps the matches, the current one and the result list with times
// from the trigger; the window shows them.

#include "analysis/search.h"
#include "view/analysis_scene.h"

#include <QWidget>

#include <span>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace pulsara {

class SearchBar final : public QWidget {
    Q_OBJECT
public:
    enum Kind { Edge, Pulse, Value, Pattern, Decoded };

    // `results` is the list the window places beside the view; the bar fills it.
    SearchBar(const Capture& capture, QListWidget& results, QWidget* parent = nullptr);

    // What a decoded search looks through; searched again when the bar has a search.
    void setDecoderRows(std::span<const AnnotationRow> rows);
    // The capture changed: new signal names, and the search again over the new samples.
    void captureChanged();

    // Runs the search the fields describe; the first match becomes current.
    void search();
    void next();
    void previous();
    void setCurrent(int index);

    // The find options the fields stand for (decoded: the text alone).
    [[nodiscard]] analysis::Result<analysis::MatchWords> matchWords() const;

    // The fields as one line for the analysis session ("KIND<tab>SIGNAL<tab>DETAIL<tab>
    // REGEX"), and put back from one; a line that does not fit leaves the fields as they are.
    [[nodiscard]] std::string State() const;
    void SetState(const std::string& state);

    [[nodiscard]] const std::vector<SearchMark>& marks() const { return marks_; }
    [[nodiscard]] int current() const { return current_; }
    [[nodiscard]] QComboBox& kindBox() const { return *kind_; }
    [[nodiscard]] QComboBox& signalBox() const { return *signal_; }
    [[nodiscard]] QLineEdit& detailEdit() const { return *detail_; }
    [[nodiscard]] QCheckBox& regexBox() const { return *regex_; }
    [[nodiscard]] QLabel& countLabel() const { return *count_; }

signals:
    void marksChanged();
    void currentChanged(int index);

private:
    void KindChanged();
    void Show(const std::string& error);
    [[nodiscard]] std::vector<SearchMark> FindDecoded(std::string* error) const;

    const Capture& capture_;
    QListWidget& results_;
    std::span<const AnnotationRow> decoderRows_;
    QComboBox* kind_ = nullptr;
    QComboBox* signal_ = nullptr;
    QLineEdit* detail_ = nullptr;
    QCheckBox* regex_ = nullptr;
    QLabel* count_ = nullptr;
    std::vector<SearchMark> marks_;
    int current_ = -1;
    bool searched_ = false;
};

} // namespace pulsara
