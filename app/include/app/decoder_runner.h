#pragma once
// Runs the analysis window's decoder stacks on a worker thread over a copy of the capture,
// so the window stays responsive and a new capture can arrive meanwhile. Starting again
// cancels the run in progress; results of a cancelled or superseded run are dropped.

#include "analysis/decode.h"
#include "analysis/signal.h"
#include "capture/capture.h"
#include "view/analysis_scene.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pulsara {

class DecoderRunner final : public QObject {
    Q_OBJECT
public:
    explicit DecoderRunner(QObject* parent = nullptr);
    ~DecoderRunner() override; // cancels and waits for the worker

    // Decodes every stack (sigrok -P syntax) over a copy of `capture`.
    void Start(const Capture& capture, std::vector<std::string> stacks,
               analysis::NameDecoder decodeName);
    void Cancel();
    [[nodiscard]] bool Busy() const { return busy_; }

signals:
    // The rows of every stack, in order; a stack that failed has one row with its error.
    void finished(const std::vector<pulsara::AnnotationRow>& rows);
    // Every annotation of the run, stack by stack (Annotation::stack counts the stacks),
    // just before `finished`.
    void annotationsDecoded(const std::vector<pulsara::analysis::Annotation>& annotations);

private:
    void Join();

    std::thread worker_;
    std::shared_ptr<std::atomic<bool>> cancel_;
    unsigned generation_ = 0;
    bool busy_ = false;
};

} // namespace pulsara
