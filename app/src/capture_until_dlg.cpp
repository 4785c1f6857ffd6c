#include "app/capture_until_dlg.h"

#include <QBoxLayout>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace pulsara {

CaptureUntilDlg::CaptureUntilDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Capture until"));
    auto* top = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    match_ = new QLineEdit(this);
    match_->setPlaceholderText(tr("--signal CLK --pulse high --shorter 20ns"));
    match_->setToolTip(
        tr("As pulsara-cli find takes it: --signal S --edge rising|falling|either, "
           "--signal S --pulse high|low [--shorter T] [--longer T], --signal ROW --value V "
           "[--mask M], --pattern SIG=LEVEL,..., -P STACK --text TEXT [--regex]"));
    match_->setMinimumWidth(380);
    form->addRow(tr("Match"), match_);
    tries_ = new QSpinBox(this);
    tries_->setRange(1, 1000000);
    tries_->setValue(100);
    form->addRow(tr("Tries at most"), tries_);
    top->addLayout(form);
    progress_ = new QLabel(this);
    progress_->setTextFormat(Qt::PlainText);
    progress_->setWordWrap(true);
    top->addWidget(progress_);
    auto* buttons = new QHBoxLayout;
    start_ = new QPushButton(tr("Start"), this);
    stop_ = new QPushButton(tr("Stop"), this);
    auto* close = new QPushButton(tr("Close"), this);
    start_->setDefault(true);
    buttons->addStretch(1);
    for (QPushButton* button : {start_, stop_, close}) {
        buttons->addWidget(button);
    }
    top->addLayout(buttons);
    setRunning(false);

    connect(start_, &QPushButton::clicked, this,
            [this] { emit startRequested(match_->text(), tries_->value()); });
    connect(stop_, &QPushButton::clicked, this, &CaptureUntilDlg::stopRequested);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
}

void CaptureUntilDlg::setMatch(const QString& match) {
    match_->setText(match);
}

void CaptureUntilDlg::setRunning(bool running) {
    start_->setEnabled(!running);
    stop_->setEnabled(running);
    match_->setEnabled(!running);
    tries_->setEnabled(!running);
}

void CaptureUntilDlg::setProgress(const QString& text) {
    progress_->setText(text);
}

} // namespace pulsara
