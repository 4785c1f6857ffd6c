#pragma once
// The about box: the icon, "pulsara Version 1.0", a notice line and OK.

#include <QDialog>

#include <memory>

namespace Ui {
class CAboutDlg;
}

namespace pulsara {

class CAboutDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::CAboutDlg> ui_;
};

// Icon 128: the program's icon at every size it ships.
[[nodiscard]] QIcon ProgramIcon();

} // namespace pulsara
