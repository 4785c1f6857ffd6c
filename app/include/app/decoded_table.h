#pragma once
// The decoded data table of the analysis window: every annotation of the shown decoders
// with its times from the trigger, samples, decoder, class, row and text, bytes of data
// rows also as ASCII; filtered by decoder, row and text (substring or regular expression).
// A click asks the window to centre that annotation; "Export..." writes what the filter
// shows as CSV or JSON lines, the lines `pulsara-cli decode --csv/--json` writes.

#include "analysis/decode.h"
#include "capture/capture.h"

#include <QAbstractTableModel>
#include <QRegularExpression>
#include <QWidget>

#include <iosfwd>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTableView;

namespace pulsara {

// The annotations and the filter, without widgets, so the filter's speed and rules can be
// measured and tested on their own.
class DecodedTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { StartTime, EndTime, StartSample, EndSample, Decoder, Class, Row, Text, Ascii };
    static constexpr int kColumns = 9;

    struct Filter {
        QString decoder; // empty: every decoder
        QString row;     // empty: every row
        QString text;    // empty: every text
        bool regex = false;
    };

    using QAbstractTableModel::QAbstractTableModel;

    void setAnnotations(std::vector<analysis::Annotation> annotations,
                        const CaptureSettings& settings);
    // False (and nothing shown) for a regular expression that does not compile.
    bool setFilter(const Filter& filter);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

    [[nodiscard]] const analysis::Annotation& shown(int row) const;
    // The shown row of the first annotation that covers sample range first..end-1, or none.
    [[nodiscard]] std::optional<int> rowOf(int first, int end) const;
    [[nodiscard]] QStringList decoders() const;
    [[nodiscard]] QStringList rows() const;
    [[nodiscard]] const std::vector<analysis::Annotation>& all() const { return all_; }

    // What the filter shows, as the decode command writes it.
    void WriteCsv(std::ostream& out) const;
    void WriteJsonLines(std::ostream& out) const;

private:
    [[nodiscard]] bool Accepts(const analysis::Annotation& a, const Filter& filter,
                               const QRegularExpression& pattern) const;

    std::vector<analysis::Annotation> all_;
    std::vector<QString> texts_; // the longest text of each, decoded once
    std::vector<int> shown_;     // indices into all_, in order
    CaptureSettings settings_;
};

class DecodedTable final : public QWidget {
    Q_OBJECT
public:
    explicit DecodedTable(QWidget* parent = nullptr);

    void setAnnotations(std::vector<analysis::Annotation> annotations,
                        const CaptureSettings& settings);
    // Selects the row of the annotation first..end-1 (the one selected in the view).
    void selectAnnotation(int first, int end);

    [[nodiscard]] DecodedTableModel& model() const { return *model_; }
    [[nodiscard]] QTableView& view() const { return *view_; }
    [[nodiscard]] QComboBox& decoderBox() const { return *decoder_; }
    [[nodiscard]] QComboBox& rowBox() const { return *row_; }
    [[nodiscard]] QLineEdit& textEdit() const { return *text_; }
    [[nodiscard]] QCheckBox& regexBox() const { return *regex_; }
    [[nodiscard]] QLabel& countLabel() const { return *count_; }
    // Writes what the filter shows: JSON lines for a name ending in .json or .jsonl, CSV
    // otherwise. The error names the file.
    [[nodiscard]] std::optional<QString> Export(const QString& path) const;

signals:
    // A row was clicked: centre samples first..end-1 and select that annotation.
    void annotationChosen(int first, int end);

private:
    void ApplyFilter();
    void FillChoices();
    void OnExport();

    DecodedTableModel* model_ = nullptr;
    QTableView* view_ = nullptr;
    QComboBox* decoder_ = nullptr;
    QComboBox* row_ = nullptr;
    QLineEdit* text_ = nullptr;
    QCheckBox* regex_ = nullptr;
    QLabel* count_ = nullptr;
};

} // namespace pulsara
