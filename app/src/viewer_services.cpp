#include "app/viewer_services.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>

namespace pulsara {
namespace {

// The capture's own format first, as it always was; the exchange formats after it.
const QStringList& NameFilters() {
    static const QStringList filters = {QStringLiteral("*.wfa"),
                                        QStringLiteral("Value change dump (*.vcd)"),
                                        QStringLiteral("sigrok session (*.sr)")};
    return filters;
}

QString SuffixOf(const QString& filter) {
    if (filter.contains(QStringLiteral("*.vcd"))) {
        return QStringLiteral("vcd");
    }
    return filter.contains(QStringLiteral("*.sr")) ? QStringLiteral("sr") : QStringLiteral("wfa");
}

std::optional<std::filesystem::path> RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setNameFilters(NameFilters());
    dialog.setDefaultSuffix(QStringLiteral("wfa"));
    // A name typed without a suffix gets the one of the file type shown.
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog,
        [&dialog](const QString& filter) { dialog.setDefaultSuffix(SuffixOf(filter)); });
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

namespace {
const QString kAnalysisKey = QStringLiteral("analysis/session");
} // namespace

std::optional<AnalysisSession> QtViewerServices::RememberedAnalysis() {
    const QSettings settings(QStringLiteral("pulsara"), QStringLiteral("pulsara"));
    const QByteArray text = settings.value(kAnalysisKey).toByteArray();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    // Settings from a later or broken run are dropped quietly: they are only a convenience.
    return ParseSession(text.toStdString(), settings.fileName().toStdString()).session;
}

void QtViewerServices::RememberAnalysis(const AnalysisSession& session) {
    QSettings settings(QStringLiteral("pulsara"), QStringLiteral("pulsara"));
    settings.setValue(kAnalysisKey, QByteArray::fromStdString(SessionJson(session)));
}

} // namespace pulsara
