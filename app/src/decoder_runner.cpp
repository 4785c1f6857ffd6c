#include "app/decoder_runner.h"

#include "analysis/decode.h"
#include "view/decoder_rows.h"

#include <QMetaObject>

namespace pulsara {
namespace {

AnnotationRow ErrorRow(const std::string& stack, const std::string& error) {
    const std::string decoder = stack.substr(0, stack.find(':'));
    return {decoder, {}, decoder + ": " + error, true};
}

std::vector<AnnotationRow> DecodeAll(const Capture& capture, const std::vector<std::string>& stacks,
                                     const analysis::NameDecoder& decodeName,
                                     const std::atomic<bool>& cancel) {
    std::vector<AnnotationRow> rows;
    for (const auto& stack : stacks) {
        const auto plan = analysis::PlanDecode(capture, {{stack}, std::nullopt, decodeName});
        if (!plan) {
            rows.push_back(ErrorRow(stack, plan.error()));
            continue;
        }
        std::vector<analysis::Annotation> annotations;
        const auto result = analysis::RunDecode(
            capture, *plan, [&](const analysis::Annotation& a) { annotations.push_back(a); },
            &cancel);
        if (result.status == analysis::DecodeStatus::Cancelled) {
            return {};
        }
        if (result.status == analysis::DecodeStatus::Failed) {
            rows.push_back(ErrorRow(stack, result.error));
            continue;
        }
        auto laidOut = LayOutAnnotations(*plan, annotations);
        if (laidOut.empty()) {
            laidOut.push_back({stack.substr(0, stack.find(':')), {}, "no annotations", false});
        }
        rows.insert(rows.end(), laidOut.begin(), laidOut.end());
    }
    return rows;
}

} // namespace

DecoderRunner::DecoderRunner(QObject* parent) : QObject(parent) {}

DecoderRunner::~DecoderRunner() {
    Cancel();
}

void DecoderRunner::Join() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void DecoderRunner::Cancel() {
    if (cancel_) {
        cancel_->store(true);
    }
    Join(); // within one chunk of samples: a few milliseconds
    ++generation_;
    busy_ = false;
}

void DecoderRunner::Start(const Capture& capture, std::vector<std::string> stacks,
                          analysis::NameDecoder decodeName) {
    Cancel();
    if (stacks.empty()) {
        emit finished({});
        return;
    }
    busy_ = true;
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    // The worker decodes its own copy: the main window may replace the capture meanwhile.
    auto copy = std::make_shared<const Capture>(capture);
    worker_ =
        std::thread([this, copy, stacks = std::move(stacks), decodeName = std::move(decodeName),
                     cancel = cancel_, generation = generation_] {
            auto rows = DecodeAll(*copy, stacks, decodeName, *cancel);
            if (cancel->load()) {
                return;
            }
            QMetaObject::invokeMethod(
                this,
                [this, generation, rows = std::move(rows)] {
                    if (generation != generation_) {
                        return; // superseded by a later start
                    }
                    Join();
                    busy_ = false;
                    emit finished(rows);
                },
                Qt::QueuedConnection);
        });
}

} // namespace pulsara
