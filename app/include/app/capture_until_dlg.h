#pragma once
// "Capture until...": the match a capture must hold (as find takes it, filled in from the
// search bar), how many captures to make at most, Start and Stop, and how far it got. The
// analysis window runs the main window's capture cycle for it.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace pulsara {

class CaptureUntilDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CaptureUntilDlg(QWidget* parent = nullptr);

    void setMatch(const QString& match);
    void setRunning(bool running);
    void setProgress(const QString& text);

    [[nodiscard]] QLineEdit& matchEdit() const { return *match_; }
    [[nodiscard]] QSpinBox& triesBox() const { return *tries_; }
    [[nodiscard]] QPushButton& startButton() const { return *start_; }
    [[nodiscard]] QPushButton& stopButton() const { return *stop_; }
    [[nodiscard]] QLabel& progressLabel() const { return *progress_; }

signals:
    void startRequested(const QString& match, int tries);
    void stopRequested();

private:
    QLineEdit* match_ = nullptr;
    QSpinBox* tries_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* progress_ = nullptr;
};

} // namespace pulsara
