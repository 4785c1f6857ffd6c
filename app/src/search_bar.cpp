#include "app/search_bar.h"

#include "view/qt_canvas.h"
#include "view/time_scale.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <regex>
#include <sstream>

namespace pulsara {
namespace {

// Row names are Shift-JIS bytes; the user types UTF-8.
std::string NameAsText(std::string_view bytes) {
    return DecodeShiftJis(bytes).toStdString();
}

// More than this many lines makes the list slow to fill, and nobody reads them.
constexpr int kListedMatches = 5000;

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

} // namespace

SearchBar::SearchBar(const Capture& capture, QListWidget& results, QWidget* parent)
    : QWidget(parent), capture_(capture), results_(results) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(tr("Find"), this));
    kind_ = new QComboBox(this);
    kind_->addItems({tr("Edge"), tr("Pulse"), tr("Value"), tr("Pattern"), tr("Decoded text")});
    row->addWidget(kind_);
    signal_ = new QComboBox(this);
    signal_->setEditable(true);
    signal_->setMinimumContentsLength(10);
    signal_->setToolTip(tr("A row, a bus row's probe as NAME[j], or a probe number"));
    row->addWidget(signal_);
    detail_ = new QLineEdit(this);
    row->addWidget(detail_, 1);
    regex_ = new QCheckBox(tr("Regex"), this);
    row->addWidget(regex_);
    auto* previous = new QPushButton(tr("Previous"), this);
    auto* next = new QPushButton(tr("Next"), this);
    previous->setToolTip(tr("The previous match (Shift+F3)"));
    next->setToolTip(tr("The next match (F3)"));
    for (QPushButton* button : {previous, next}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        row->addWidget(button);
    }
    count_ = new QLabel(this);
    count_->setTextFormat(Qt::PlainText);
    count_->setMinimumWidth(90);
    row->addWidget(count_);

    connect(kind_, &QComboBox::currentIndexChanged, this, &SearchBar::KindChanged);
    connect(detail_, &QLineEdit::returnPressed, this, &SearchBar::search);
    connect(signal_->lineEdit(), &QLineEdit::returnPressed, this, &SearchBar::search);
    connect(next, &QPushButton::clicked, this, &SearchBar::next);
    connect(previous, &QPushButton::clicked, this, &SearchBar::previous);
    connect(&results_, &QListWidget::currentRowChanged, this, [this](int index) {
        if (index >= 0 && index != current_) {
            setCurrent(index);
        }
    });
    captureChanged();
    KindChanged();
}

void SearchBar::KindChanged() {
    const int kind = kind_->currentIndex();
    signal_->setEnabled(kind == Edge || kind == Pulse || kind == Value);
    regex_->setEnabled(kind == Decoded);
    static const char* const kHints[] = {
        "rising, falling or either",
        "high or low, then <T and/or >T: high <20ns, low >3 (samples)",
        "hex value, /mask: 3A, 3A/F0",
        "levels at once: CLK=1,CS#=0,DATA=0x3? (? any digit)",
        "text of a decoder's annotations (Add decoder... first)",
    };
    detail_->setPlaceholderText(tr(kHints[std::clamp(kind, 0, 4)]));
}

void SearchBar::captureChanged() {
    const QString typed = signal_->currentText();
    signal_->clear();
    for (const auto& name : analysis::SignalNames(capture_.channels, NameAsText)) {
        // A bus is listed as NAME[0..n]: the row itself is what a value search takes.
        const auto bracket = name.find("[0..");
        signal_->addItem(
            QString::fromStdString(bracket == std::string::npos ? name : name.substr(0, bracket)));
    }
    signal_->setCurrentText(typed);
    if (searched_) {
        search();
    }
}

void SearchBar::setDecoderRows(std::span<const AnnotationRow> rows) {
    decoderRows_ = rows;
    if (searched_ && kind_->currentIndex() == Decoded) {
        search();
    }
}

analysis::Result<analysis::MatchWords> SearchBar::matchWords() const {
    using WordsResult = analysis::Result<analysis::MatchWords>;
    analysis::MatchWords words;
    const std::string signal = signal_->currentText().trimmed().toStdString();
    const std::string detail = detail_->text().trimmed().toStdString();
    if (!signal.empty()) {
        words.signal = signal;
    }
    switch (kind_->currentIndex()) {
    case Edge:
        words.edge = detail.empty() ? "either" : detail;
        break;
    case Pulse: {
        words.pulse = "high";
        for (const auto& word : Words(detail)) {
            if (word == "high" || word == "low") {
                words.pulse = word;
            } else if (word.size() > 1 && word[0] == '<') {
                words.shorter = word.substr(1);
            } else if (word.size() > 1 && word[0] == '>') {
                words.longer = word.substr(1);
            } else {
                return WordsResult::Fail("a pulse search reads high or low, then <T and >T (as "
                                         "high <20ns), not \"" +
                                         word + "\"");
            }
        }
        break;
    }
    case Value: {
        const auto slash = detail.find('/');
        words.value = detail.substr(0, slash);
        if (slash != std::string::npos) {
            words.mask = detail.substr(slash + 1);
        }
        break;
    }
    case Pattern:
        words.signal.reset();
        words.pattern = detail;
        break;
    default:
        words.signal.reset();
        words.text = detail;
        words.regex = regex_->isChecked();
        break;
    }
    return words;
}

std::vector<SearchMark> SearchBar::FindDecoded(std::string* error) const {
    std::vector<SearchMark> marks;
    const std::string text = detail_->text().toStdString();
    std::optional<std::regex> pattern;
    if (regex_->isChecked()) {
        try {
            pattern.emplace(text);
        } catch (const std::regex_error& e) {
            *error = "\"" + text + "\" is not a regular expression (" + e.what() + ")";
            return marks;
        }
    }
    if (decoderRows_.empty()) {
        *error = "no decoder rows to search: add a decoder first";
        return marks;
    }
    const int first = analysis::FirstCapturedSample(capture_.settings);
    for (const auto& row : decoderRows_) {
        for (const auto& box : row.boxes) {
            const bool hit = std::any_of(box.texts.begin(), box.texts.end(), [&](const auto& t) {
                return pattern ? std::regex_search(t, *pattern) : t.find(text) != std::string::npos;
            });
            if (hit && box.first >= first) {
                marks.push_back({box.first, std::max(box.first, box.end - 1)});
            }
        }
    }
    std::stable_sort(marks.begin(), marks.end(),
                     [](const SearchMark& a, const SearchMark& b) { return a.start < b.start; });
    return marks;
}

void SearchBar::search() {
    searched_ = true;
    std::string error;
    std::vector<SearchMark> marks;
    if (kind_->currentIndex() == Decoded) {
        marks = FindDecoded(&error);
    } else if (const auto s = matchWords(); !s) {
        error = s.error();
    } else if (const auto query = analysis::CompileMatch(capture_, *s, NameAsText); !query) {
        error = query.error();
    } else if (const auto found = analysis::FindMatches(capture_, *query); !found) {
        error = found.error();
    } else {
        for (const auto& m : *found) {
            marks.push_back({m.start, m.end});
        }
    }
    marks_ = std::move(marks);
    current_ = -1;
    const QSignalBlocker block(&results_);
    results_.clear();
    const auto periodNs = KnownPeriodNs(capture_.settings);
    const int origin = TimeOrigin(capture_.settings);
    for (std::size_t i = 0; i < marks_.size() && i < kListedMatches; ++i) {
        const auto& m = marks_[i];
        QString line = QString::number(m.start);
        if (m.end != m.start) {
            line += QLatin1Char('-') + QString::number(m.end);
        }
        if (periodNs) {
            const double ns = (m.start - origin) * *periodNs;
            line += QStringLiteral("  ") + (ns > 0 ? QStringLiteral("+") : QString()) +
                    QString::fromStdString(FormatDuration(ns));
        }
        results_.addItem(line);
    }
    Show(error);
    emit marksChanged();
    if (!marks_.empty()) {
        setCurrent(0);
    }
}

void SearchBar::Show(const std::string& error) {
    count_->setToolTip(QString::fromStdString(error));
    if (!error.empty()) {
        count_->setText(tr("cannot search"));
        return;
    }
    if (marks_.empty()) {
        count_->setText(tr("no match"));
        return;
    }
    count_->setText(current_ < 0 ? tr("%1 matches").arg(marks_.size())
                                 : tr("%1 of %2").arg(current_ + 1).arg(marks_.size()));
}

void SearchBar::setCurrent(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= marks_.size()) {
        return;
    }
    current_ = index;
    {
        const QSignalBlocker block(&results_);
        results_.setCurrentRow(index < results_.count() ? index : -1);
    }
    Show({});
    emit currentChanged(index);
}

void SearchBar::next() {
    if (!searched_) {
        search();
        return;
    }
    if (!marks_.empty()) {
        setCurrent((current_ + 1) % static_cast<int>(marks_.size()));
    }
}

void SearchBar::previous() {
    if (!searched_) {
        search();
        return;
    }
    if (!marks_.empty()) {
        const int n = static_cast<int>(marks_.size());
        setCurrent((current_ - 1 + n) % n);
    }
}

std::string SearchBar::State() const {
    if (detail_->text().isEmpty() && signal_->currentText().isEmpty()) {
        return {};
    }
    return QStringList{QString::number(kind_->currentIndex()), signal_->currentText(),
                       detail_->text(),
                       regex_->isChecked() ? QStringLiteral("1") : QStringLiteral("0")}
        .join(QLatin1Char('\t'))
        .toStdString();
}

void SearchBar::SetState(const std::string& state) {
    const QStringList fields = QString::fromStdString(state).split(QLatin1Char('\t'));
    bool number = false;
    const int kind = fields.value(0).toInt(&number);
    if (fields.size() != 4 || !number || kind < 0 || kind >= kind_->count()) {
        return;
    }
    kind_->setCurrentIndex(kind);
    signal_->setCurrentText(fields[1]);
    detail_->setText(fields[2]);
    regex_->setChecked(fields[3] == QStringLiteral("1"));
}

} // namespace pulsara
