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

    // The decoder as chosen, e.g. "uart:tx=UART_TX:baudrate=9600", with the decoder stacked
    // on it after a comma ("i2c:scl=SCL:sda=SDA,eeprom24xx").
    [[nodiscard]] std::string Stack() const;
    // The decoders that read what the chosen one writes ("(none)" first); picking one
    // stacks it on top.
    [[nodiscard]] QComboBox& upperList() const { return *upperList_; }
    // Picks a decoder by id; false when it is not installed.
    bool SelectDecoder(const std::string& id);
    [[nodiscard]] QComboBox& decoderList() const { return *decoderList_; }
    // The signal chosen for a channel id ("" for none).
    [[nodiscard]] std::string ChannelSignal(const std::string& channelId) const;

private:
    void ShowDecoder(int index);

    std::vector<analysis::DecoderInfo> decoders_; // those that read probes
    std::vector<analysis::DecoderInfo> uppers_;   // those that read another decoder
    std::vector<std::size_t> upperChoices_;       // uppers_ offered for the shown decoder
    std::vector<std::string> signalNames_;
    QComboBox* decoderList_ = nullptr;
    QComboBox* upperList_ = nullptr;
    QFormLayout* channelForm_ = nullptr;
    QFormLayout* optionForm_ = nullptr;
    // Per channel and per option of the shown decoder: its id and its editor.
    std::vector<std::pair<std::string, QComboBox*>> channelEditors_;
    std::vector<std::pair<std::string, QWidget*>> optionEditors_;
};

} // namespace pulsara
