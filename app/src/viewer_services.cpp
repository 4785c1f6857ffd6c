#include "app/viewer_services.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>

namespace pulsara {
namespace {

std::optional<std::filesystem::path> RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("*.wfa"));
    dialog.setDefaultSuffix(QStringLiteral("wfa"));
    dialog.setDirectory(QDir::currentPath());
    // Qt asks before overwriting unless told not to; keep it explicit.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return ToPath(dialog.selectedFiles().constFirst());
}

} // namespace

std::filesystem::path ToPath(const QString& name) {
    return {QFile::encodeName(name).toStdString()};
}

QString FromPath(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

std::optional<std::filesystem::path> QtViewerServices::ChooseLoadPath(QWidget* parent) {
    return RunFileDialog(parent, QFileDialog::AcceptOpen);
}

std::optional<std::filesystem::path> QtViewerServices::ChooseSavePath(QWidget* parent) {
    return RunFileDialog(parent, QFileDialog::AcceptSave);
}

void QtViewerServices::ShowFileError(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, QStringLiteral("pulsara"), text);
}

} // namespace pulsara
