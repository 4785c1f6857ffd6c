#pragma once
// "Add decoder": one of the installed decoders, its channels mapped to the capture's
// signalNames (guessed from the row names, changeable) and its options. The result is a stack
// in sigrok-cli's -P syntax.

#include "analysis/decoders.h"

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QFormLayout;
class QWidget;

namespace pulsara {

class AddDecoderDlg final : public QDialog {
    Q_OBJECT
public:
    AddDecoderDlg(std::vector<analysis::DecoderInfo> decoders, std::vector<std::string> signalNames,
                  QWidget* parent = nullptr);

    // The decoder as chosen, e.g. "uart:tx=UART_TX:baudrate=9600".
    [[nodiscard]] std::string Stack() const;
    // Picks a decoder by id; false when it is not installed.
    bool SelectDecoder(const std::string& id);
    [[nodiscard]] QComboBox& decoderList() const { return *decoderList_; }
    // The signal chosen for a channel id ("" for none).
    [[nodiscard]] std::string ChannelSignal(const std::string& channelId) const;

private:
    void ShowDecoder(int index);

    std::vector<analysis::DecoderInfo> decoders_;
    std::vector<std::string> signalNames_;
    QComboBox* decoderList_ = nullptr;
    QFormLayout* channelForm_ = nullptr;
    QFormLayout* optionForm_ = nullptr;
    // Per channel and per option of the shown decoder: its id and its editor.
    std::vector<std::pair<std::string, QComboBox*>> channelEditors_;
    std::vector<std::pair<std::string, QWidget*>> optionEditors_;
};

} // namespace pulsara
