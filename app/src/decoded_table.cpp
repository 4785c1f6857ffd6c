#include "app/decoded_table.h"

#include "analysis/annotation_export.h"
#include "analysis/signal.h"
#include "view/time_scale.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>

#include <fstream>
#include <set>

namespace pulsara {
namespace {

// A data byte as ASCII: "p" for 70, "." for what does not print. Data classes are named
// like "rx-data", "mosi-data" (UART, SPI) or "data-write" (I2C); their bits ("rx-data-bits")
// and texts other than two hexadecimal digits get none.
QString AsciiOf(const analysis::Annotation& a, const QString& text) {
    const std::string_view cls = a.className;
    const bool data = cls.ends_with("-data") || cls.starts_with("data-");
    if (!data || text.size() != 2) {
        return {};
    }
    bool hex = false;
    const int byte = text.toInt(&hex, 16);
    if (!hex) {
        return {};
    }
    return byte >= 0x20 && byte < 0x7F ? QString(QChar(byte)) : QStringLiteral(".");
}

QString TimeAt(const CaptureSettings& settings, std::uint64_t sample) {
    const auto ns = analysis::NsFromTrigger(settings, static_cast<int>(sample));
    return ns ? QString::fromStdString(FormatDuration(*ns)) : QString();
}

} // namespace

void DecodedTableModel::setAnnotations(std::vector<analysis::Annotation> annotations,
                                       const CaptureSettings& settings) {
    beginResetModel();
    all_ = std::move(annotations);
    settings_ = settings;
    texts_.clear();
    texts_.reserve(all_.size());
    for (const auto& a : all_) {
        texts_.push_back(a.texts.empty() ? QString() : QString::fromStdString(a.texts.front()));
    }
    shown_.resize(all_.size());
    for (std::size_t i = 0; i < all_.size(); ++i) {
        shown_[i] = static_cast<int>(i);
    }
    endResetModel();
}

bool DecodedTableModel::Accepts(const analysis::Annotation& a, const Filter& filter,
                                const QRegularExpression& pattern) const {
    if (!filter.decoder.isEmpty() && filter.decoder.toStdString() != a.instance) {
        return false;
    }
    if (!filter.row.isEmpty() && filter.row.toStdString() != a.row.value_or(a.className)) {
        return false;
    }
    if (filter.text.isEmpty()) {
        return true;
    }
    const QString& text = texts_[static_cast<std::size_t>(&a - all_.data())];
    return filter.regex ? pattern.match(text).hasMatch()
                        : text.contains(filter.text, Qt::CaseInsensitive);
}

bool DecodedTableModel::setFilter(const Filter& filter) {
    const QRegularExpression pattern(filter.regex ? filter.text : QString());
    beginResetModel();
    shown_.clear();
    const bool valid = pattern.isValid();
    if (valid) {
        for (std::size_t i = 0; i < all_.size(); ++i) {
            if (Accepts(all_[i], filter, pattern)) {
                shown_.push_back(static_cast<int>(i));
            }
        }
    }
    endResetModel();
    return valid;
}

int DecodedTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int DecodedTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

const analysis::Annotation& DecodedTableModel::shown(int row) const {
    return all_[static_cast<std::size_t>(shown_[static_cast<std::size_t>(row)])];
}

QVariant DecodedTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const auto i = static_cast<std::size_t>(shown_[static_cast<std::size_t>(index.row())]);
    const auto& a = all_[i];
    if (role == Qt::TextAlignmentRole) {
        return index.column() <= EndSample ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                           : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role == Qt::ToolTipRole && index.column() == Text) {
        QStringList all;
        for (const auto& t : a.texts) {
            all << QString::fromStdString(t);
        }
        return all.join(QLatin1Char('\n'));
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
    case StartTime:
        return TimeAt(settings_, a.start);
    case EndTime:
        return TimeAt(settings_, a.end);
    case StartSample:
        return QString::number(a.start);
    case EndSample:
        return QString::number(a.end);
    case Decoder:
        return QString::fromStdString(a.instance);
    case Class:
        return QString::fromStdString(a.className);
    case Row:
        return QString::fromStdString(a.row.value_or(a.className));
    case Text:
        return texts_[i];
    case Ascii:
        return AsciiOf(a, texts_[i]);
    default:
        return {};
    }
}

QVariant DecodedTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    static const char* const kHeaders[kColumns] = {
        "Start", "End", "Start sample", "End sample", "Decoder", "Class", "Row", "Text", "ASCII"};
    return section >= 0 && section < kColumns ? tr(kHeaders[section]) : QVariant();
}

std::optional<int> DecodedTableModel::rowOf(int first, int end) const {
    for (std::size_t r = 0; r < shown_.size(); ++r) {
        const auto& a = all_[static_cast<std::size_t>(shown_[r])];
        if (static_cast<int>(a.start) == first && static_cast<int>(a.end) == end) {
            return static_cast<int>(r);
        }
    }
    return std::nullopt;
}

QStringList DecodedTableModel::decoders() const {
    QStringList names;
    for (const auto& a : all_) {
        const QString name = QString::fromStdString(a.instance);
        if (!names.contains(name)) {
            names << name;
        }
    }
    return names;
}

QStringList DecodedTableModel::rows() const {
    std::set<std::string> seen;
    QStringList names;
    for (const auto& a : all_) {
        if (seen.insert(a.row.value_or(a.className)).second) {
            names << QString::fromStdString(a.row.value_or(a.className));
        }
    }
    return names;
}

void DecodedTableModel::WriteCsv(std::ostream& out) const {
    const auto clock = analysis::ClockFor(settings_);
    out << analysis::kAnnotationCsvHeader;
    for (const int i : shown_) {
        out << analysis::AnnotationCsvLine(all_[static_cast<std::size_t>(i)], clock);
    }
}

void DecodedTableModel::WriteJsonLines(std::ostream& out) const {
    for (const int i : shown_) {
        out << analysis::AnnotationJsonLine(all_[static_cast<std::size_t>(i)]) << '\n';
    }
}

DecodedTable::DecodedTable(QWidget* parent) : QWidget(parent) {
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    auto* filters = new QHBoxLayout;
    decoder_ = new QComboBox(this);
    row_ = new QComboBox(this);
    text_ = new QLineEdit(this);
    text_->setPlaceholderText(tr("Filter by text"));
    text_->setClearButtonEnabled(true);
    regex_ = new QCheckBox(tr("Regex"), this);
    count_ = new QLabel(this);
    auto* exportButton = new QPushButton(tr("Export..."), this);
    exportButton->setAutoDefault(false);
    for (QWidget* w : std::initializer_list<QWidget*>{decoder_, row_}) {
        filters->addWidget(w);
    }
    filters->addWidget(text_, 1);
    filters->addWidget(regex_);
    filters->addWidget(count_);
    filters->addWidget(exportButton);
    top->addLayout(filters);

    model_ = new DecodedTableModel(this);
    view_ = new QTableView(this);
    view_->setModel(model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->verticalHeader()->hide();
    // Rows of one height and columns sized once: a resize per row would cost seconds for
    // a long capture's annotations.
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
    view_->horizontalHeader()->setStretchLastSection(false);
    view_->horizontalHeader()->setSectionResizeMode(DecodedTableModel::Text, QHeaderView::Stretch);
    view_->setWordWrap(false);
    top->addWidget(view_, 1);

    connect(decoder_, &QComboBox::currentIndexChanged, this, &DecodedTable::ApplyFilter);
    connect(row_, &QComboBox::currentIndexChanged, this, &DecodedTable::ApplyFilter);
    connect(text_, &QLineEdit::textChanged, this, &DecodedTable::ApplyFilter);
    connect(regex_, &QCheckBox::toggled, this, &DecodedTable::ApplyFilter);
    connect(exportButton, &QPushButton::clicked, this, &DecodedTable::OnExport);
    connect(view_, &QTableView::clicked, this, [this](const QModelIndex& index) {
        const auto& a = model_->shown(index.row());
        emit annotationChosen(static_cast<int>(a.start), static_cast<int>(a.end));
    });
    FillChoices();
}

void DecodedTable::setAnnotations(std::vector<analysis::Annotation> annotations,
                                  const CaptureSettings& settings) {
    model_->setAnnotations(std::move(annotations), settings);
    FillChoices();
    ApplyFilter();
}

void DecodedTable::FillChoices() {
    // The choice made stays when the new annotations still have it.
    const auto refill = [](QComboBox& box, const QString& all, const QStringList& names) {
        const QString kept = box.currentIndex() > 0 ? box.currentText() : QString();
        const QSignalBlocker quiet(box);
        box.clear();
        box.addItem(all);
        box.addItems(names);
        box.setCurrentIndex(std::max(0, static_cast<int>(box.findText(kept))));
    };
    refill(*decoder_, tr("All decoders"), model_->decoders());
    refill(*row_, tr("All rows"), model_->rows());
}

void DecodedTable::ApplyFilter() {
    const bool valid =
        model_->setFilter({decoder_->currentIndex() > 0 ? decoder_->currentText() : QString(),
                           row_->currentIndex() > 0 ? row_->currentText() : QString(),
                           text_->text(), regex_->isChecked()});
    text_->setStyleSheet(valid ? QString() : QStringLiteral("color: #c00000;"));
    text_->setToolTip(valid ? QString() : tr("Not a regular expression"));
    count_->setText(tr("%1 of %2").arg(model_->rowCount()).arg(model_->all().size()));
}

void DecodedTable::selectAnnotation(int first, int end) {
    if (const auto row = model_->rowOf(first, end)) {
        view_->selectRow(*row);
        view_->scrollTo(model_->index(*row, 0));
    } else {
        view_->clearSelection();
    }
}

std::optional<QString> DecodedTable::Export(const QString& path) const {
    std::ofstream out(path.toLocal8Bit().toStdString(), std::ios::binary | std::ios::trunc);
    if (!out) {
        return tr("%1 cannot be written; choose another folder.").arg(path);
    }
    if (path.endsWith(QStringLiteral(".json")) || path.endsWith(QStringLiteral(".jsonl"))) {
        model_->WriteJsonLines(out);
    } else {
        model_->WriteCsv(out);
    }
    out.flush();
    if (!out) {
        return tr("%1 could not be written whole (is the disk full?).").arg(path);
    }
    return std::nullopt;
}

void DecodedTable::OnExport() {
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Export decoded data"), QString(), tr("CSV (*.csv);;JSON lines (*.json *.jsonl)"));
    if (path.isEmpty()) {
        return;
    }
    if (const auto error = Export(path)) {
        QMessageBox::warning(this, QStringLiteral("pulsara"), *error);
    }
}

} // namespace pulsara
