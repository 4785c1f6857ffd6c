#include "app/add_decoder_dlg.h"

#include "analysis/stack_text.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace pulsara {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

void Clear(QFormLayout& form) {
    while (form.rowCount() > 0) {
        form.removeRow(0);
    }
}

} // namespace

AddDecoderDlg::AddDecoderDlg(std::vector<analysis::DecoderInfo> decoders,
                             std::vector<std::string> signalNames, QWidget* parent)
    : QDialog(parent), signalNames_(std::move(signalNames)) {
    setWindowTitle(tr("Add decoder"));
    // Only decoders that read probes can sit at the bottom of a stack; the others can go on
    // top of one.
    for (auto& decoder : decoders) {
        if (std::find(decoder.inputs.begin(), decoder.inputs.end(), "logic") !=
            decoder.inputs.end()) {
            decoders_.push_back(std::move(decoder));
        } else {
            uppers_.push_back(std::move(decoder));
        }
    }
    auto* layout = new QVBoxLayout(this);
    decoderList_ = new QComboBox(this);
    for (const auto& decoder : decoders_) {
        decoderList_->addItem(Q(decoder.id + "  (" + decoder.longname + ")"));
    }
    layout->addWidget(decoderList_);
    auto* stackRow = new QFormLayout;
    upperList_ = new QComboBox(this);
    upperList_->setToolTip(tr("A decoder that reads what this one decodes, stacked on it"));
    stackRow->addRow(tr("Stacked decoder"), upperList_);
    layout->addLayout(stackRow);
    auto* channels = new QGroupBox(tr("Channels"), this);
    channelForm_ = new QFormLayout(channels);
    layout->addWidget(channels);
    // Some decoders have a dozen options: they scroll rather than push OK off the screen.
    auto* options = new QGroupBox(tr("Options"), this);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setMinimumHeight(160);
    optionForm_ = new QFormLayout(options);
    scroll->setWidget(options);
    layout->addWidget(scroll, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(decoderList_, &QComboBox::currentIndexChanged, this, &AddDecoderDlg::ShowDecoder);
    ShowDecoder(decoderList_->currentIndex());
}

bool AddDecoderDlg::SelectDecoder(const std::string& id) {
    for (std::size_t i = 0; i < decoders_.size(); ++i) {
        if (decoders_[i].id == id) {
            decoderList_->setCurrentIndex(static_cast<int>(i));
            return true;
        }
    }
    return false;
}

void AddDecoderDlg::ShowDecoder(int index) {
    Clear(*channelForm_);
    Clear(*optionForm_);
    channelEditors_.clear();
    optionEditors_.clear();
    if (index < 0 || index >= static_cast<int>(decoders_.size())) {
        return;
    }
    const auto& decoder = decoders_[static_cast<std::size_t>(index)];
    upperList_->clear();
    upperList_->addItem(tr("(none)"));
    upperChoices_.clear();
    for (std::size_t u = 0; u < uppers_.size(); ++u) {
        const auto& inputs = uppers_[u].inputs;
        const bool reads = std::any_of(
            decoder.outputs.begin(), decoder.outputs.end(), [&](const std::string& out) {
                return std::find(inputs.begin(), inputs.end(), out) != inputs.end();
            });
        if (reads) {
            upperChoices_.push_back(u);
            upperList_->addItem(Q(uppers_[u].id + "  (" + uppers_[u].longname + ")"));
        }
    }
    const auto guess = analysis::GuessChannels(decoder, signalNames_);
    const std::size_t required = decoder.channels.size();
    for (std::size_t c = 0; c < guess.size(); ++c) {
        auto* list = new QComboBox(channelForm_->parentWidget());
        list->addItem(tr("(none)"));
        for (const auto& signal : signalNames_) {
            list->addItem(Q(signal));
        }
        const auto at = std::find(signalNames_.begin(), signalNames_.end(), guess[c].second);
        list->setCurrentIndex(at == signalNames_.end()
                                  ? 0
                                  : static_cast<int>(std::distance(signalNames_.begin(), at)) + 1);
        const QString label = Q(guess[c].first) + (c < required ? QStringLiteral(" *") : QString());
        channelForm_->addRow(label, list);
        channelEditors_.emplace_back(guess[c].first, list);
    }
    for (const auto& option : decoder.options) {
        QWidget* editor = nullptr;
        if (!option.values.empty()) {
            auto* list = new QComboBox(optionForm_->parentWidget());
            for (const auto& value : option.values) {
                list->addItem(Q(analysis::OptionText(value)));
            }
            list->setCurrentText(Q(analysis::OptionText(option.defaultValue)));
            editor = list;
        } else {
            editor = new QLineEdit(Q(analysis::OptionText(option.defaultValue)),
                                   optionForm_->parentWidget());
        }
        editor->setToolTip(Q(option.desc));
        optionForm_->addRow(Q(option.id), editor);
        optionEditors_.emplace_back(option.id, editor);
    }
}

std::string AddDecoderDlg::ChannelSignal(const std::string& channelId) const {
    for (const auto& [id, list] : channelEditors_) {
        if (id == channelId && list->currentIndex() > 0) {
            return signalNames_[static_cast<std::size_t>(list->currentIndex() - 1)];
        }
    }
    return {};
}

std::string AddDecoderDlg::Stack() const {
    const int index = decoderList_->currentIndex();
    if (index < 0 || index >= static_cast<int>(decoders_.size())) {
        return {};
    }
    const auto& decoder = decoders_[static_cast<std::size_t>(index)];
    std::vector<std::pair<std::string, std::string>> channels;
    for (const auto& [id, list] : channelEditors_) {
        channels.emplace_back(id, ChannelSignal(id));
    }
    // Only options the user changed: the decoder knows its own defaults.
    std::vector<std::pair<std::string, std::string>> options;
    for (std::size_t i = 0; i < optionEditors_.size(); ++i) {
        const QWidget* editor = optionEditors_[i].second;
        const auto* list = qobject_cast<const QComboBox*>(editor);
        const auto* line = qobject_cast<const QLineEdit*>(editor);
        const std::string value =
            (list != nullptr ? list->currentText() : line->text()).trimmed().toStdString();
        if (value != analysis::OptionText(decoder.options[i].defaultValue)) {
            options.emplace_back(optionEditors_[i].first, value);
        }
    }
    std::string stack = analysis::StackText(decoder.id, channels, options);
    if (const int upper = upperList_->currentIndex(); upper > 0) {
        stack += "," + uppers_[upperChoices_[static_cast<std::size_t>(upper - 1)]].id;
    }
    return stack;
}

} // namespace pulsara
