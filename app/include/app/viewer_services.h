#pragma once
// What the main window asks of the desktop: file choosers and message boxes. The program
// uses Qt's dialogs; tests answer in their place, so no test waits on a modal window.

#include "capture/session_file.h"

#include <QString>

#include <filesystem>
#include <optional>

class QWidget;

namespace pulsara {

class ViewerServices {
public:
    virtual ~ViewerServices() = default;
    // The file to load or save, or nothing when the user cancels.
    [[nodiscard]] virtual std::optional<std::filesystem::path> ChooseLoadPath(QWidget* parent) = 0;
    [[nodiscard]] virtual std::optional<std::filesystem::path> ChooseSavePath(QWidget* parent) = 0;
    // A modal message that a file could not be read or written.
    virtual void ShowFileError(QWidget* parent, const QString& text) = 0;
    // The analysis window's decoders and geometry from the last run, and keeping them for
    // the next; nothing by default (tests start afresh).
    [[nodiscard]] virtual std::optional<AnalysisSession> RememberedAnalysis() { return {}; }
    virtual void RememberAnalysis(const AnalysisSession& /*session*/) {}
};

// Qt's file dialogs as the original ones were set up: "*.wfa", default suffix "wfa",
// starting in the working directory, asking before overwriting; the exchange formats (.vcd,
// .sr) as further file types. And QMessageBox.
class QtViewerServices final : public ViewerServices {
public:
    [[nodiscard]] std::optional<std::filesystem::path> ChooseLoadPath(QWidget* parent) override;
    [[nodiscard]] std::optional<std::filesystem::path> ChooseSavePath(QWidget* parent) override;
    void ShowFileError(QWidget* parent, const QString& text) override;
    // In the user's settings (QSettings "pulsara"), as the session's JSON.
    [[nodiscard]] std::optional<AnalysisSession> RememberedAnalysis() override;
    void RememberAnalysis(const AnalysisSession& session) override;
};

// A file name from Qt as the bytes the file system uses.
[[nodiscard]] std::filesystem::path ToPath(const QString& name);
// A path for messages.
[[nodiscard]] QString FromPath(const std::filesystem::path& path);

} // namespace pulsara
