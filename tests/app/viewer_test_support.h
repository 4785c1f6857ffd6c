#pragma once
// The main window over the scripted board of the device tests, with file choosers and
// message boxes answered by the test.

#include "app/viewer_dlg.h"
#include "app/viewer_services.h"
#include "capture/definition_text.h"
#include "support/fake_driver.h"

#include <QString>
#include <QTest>

#include <memory>
#include <optional>
#include <vector>

namespace pulsara::test {

struct FakeServices final : ViewerServices {
    std::optional<std::filesystem::path> loadPath;
    std::optional<std::filesystem::path> savePath;
    std::vector<QString> errors;

    std::optional<std::filesystem::path> ChooseLoadPath(QWidget*) override { return loadPath; }
    std::optional<std::filesystem::path> ChooseSavePath(QWidget*) override { return savePath; }
    void ShowFileError(QWidget*, const QString& text) override { errors.push_back(text); }
    // The settings of "the last run": what a test puts in, and what the window kept.
    std::optional<AnalysisSession> rememberedIn;
    std::optional<AnalysisSession> rememberedOut;
    std::optional<AnalysisSession> RememberedAnalysis() override { return rememberedIn; }
    void RememberAnalysis(const AnalysisSession& session) override { rememberedOut = session; }
};

// The reads of one completed poll: status "complete", the memory in four chunks filled
// with `fill`, then the unfilled count.
inline std::deque<ScriptedRead> CompletedReadOut(std::uint8_t fill, std::uint16_t unfilled) {
    const Bytes chunk(32768, fill);
    return {
        {true, {0x0C}},
        {true, chunk},
        {true, chunk},
        {true, chunk},
        {true, chunk},
        {true,
         {static_cast<std::uint8_t>(unfilled & 0xFF), static_cast<std::uint8_t>(unfilled >> 8)}}};
}

// A capture record, a board on instance 0 and the window over them, shown offscreen.
struct Viewer {
    explicit Viewer(std::string_view definition = DefaultDefinitionText()) {
        SetDefinitionText(definition, *capture);
        (void)OpenDevice(0, linked.link);
        dialog = std::make_unique<CViewerDlg>(*capture, linked.link, services);
        dialog->show();
        // Paints happen only once the window is on screen.
        (void)QTest::qWaitForWindowExposed(dialog.get());
    }
    // What the board received since the last call.
    std::vector<Bytes> TakeWrites() { return std::exchange(linked.board.writes, {}); }

    std::unique_ptr<Capture> capture = std::make_unique<Capture>();
    LinkedBoard linked;
    FakeServices services;
    std::unique_ptr<CViewerDlg> dialog;
};

} // namespace pulsara::test
