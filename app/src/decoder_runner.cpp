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

struct Decoded {
    std::vector<AnnotationRow> rows;
    std::vector<analysis::Annotation> annotations; // every stack's, in stack order
};

Decoded DecodeAll(const Capture& capture, const std::vector<std::string>& stacks,
                  const analysis::NameDecoder& decodeName, const std::atomic<bool>& cancel) {
    Decoded decoded;
    auto& rows = decoded.rows;
    for (std::size_t i = 0; i < stacks.size(); ++i) {
        const std::string& stack = stacks[i];
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
        for (auto& a : annotations) {
            a.stack = static_cast<int>(i);
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
        decoded.annotations.insert(decoded.annotations.end(),
                                   std::make_move_iterator(annotations.begin()),
                                   std::make_move_iterator(annotations.end()));
    }
    return decoded;
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
        emit annotationsDecoded({});
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
            auto decoded = DecodeAll(*copy, stacks, decodeName, *cancel);
            if (cancel->load()) {
                return;
            }
            QMetaObject::invokeMethod(
                this,
                [this, generation, decoded = std::move(decoded)] {
                    if (generation != generation_) {
                        return; // superseded by a later start
                    }
                    Join();
                    busy_ = false;
                    emit annotationsDecoded(decoded.annotations);
                    emit finished(decoded.rows);
                },
                Qt::QueuedConnection);
        });
}

} // namespace pulsara
