#include "app/about_dlg.h"

#include "app/dialog_units.h"
#include "app/viewer_dlg.h"
#include "ui_about_dlg.h"

#include <QIcon>

namespace pulsara {

QIcon ProgramIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/pulsara/icons/pulsara-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/pulsara/icons/pulsara-32.png"), QSize(32, 32));
    return icon;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
    ui_->setupUi(this);
    setFont(DialogFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    ApplyDialogUnits(*this, MeasureBaseUnits(font()), QSize(235, 55));
    ui_->iconLabel->setPixmap(ProgramIcon().pixmap(32, 32));
    ui_->iconLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui_->iconLabel->adjustSize();
}

CAboutDlg::~CAboutDlg() = default;

} // namespace pulsara
