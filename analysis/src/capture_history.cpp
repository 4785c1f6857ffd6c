#include "analysis/capture_history.h"

#include <algorithm>

namespace pulsara::analysis {

CaptureHistory::CaptureHistory(int capacity) : capacity_(std::max(capacity, 1)) {}

void CaptureHistory::SetCapacity(int capacity) {
    capacity_ = std::max(capacity, 1);
    Trim();
}

const HistoryEntry& CaptureHistory::Add(const Capture& capture,
                                        std::chrono::system_clock::time_point at) {
    entries_.push_back({std::make_shared<const Capture>(capture), at, ++added_});
    Trim();
    shown_ = size() - 1;
    return entries_.back();
}

void CaptureHistory::Clear() {
    entries_.clear();
    shown_ = -1;
}

const HistoryEntry& CaptureHistory::at(int index) const {
    return entries_.at(static_cast<std::size_t>(index));
}

std::optional<int> CaptureHistory::shown() const {
    return shown_ >= 0 ? std::optional<int>(shown_) : std::nullopt;
}

bool CaptureHistory::Step(int delta) {
    if (entries_.empty()) {
        return false;
    }
    const int before = shown_;
    Show(shown_ + delta);
    return shown_ != before;
}

void CaptureHistory::Show(int index) {
    shown_ = entries_.empty() ? -1 : std::clamp(index, 0, size() - 1);
}

void CaptureHistory::Trim() {
    const int excess = size() - capacity_;
    if (excess <= 0) {
        return;
    }
    entries_.erase(entries_.begin(), entries_.begin() + excess);
    // The entry shown stays shown while it is kept; an evicted one gives way to the oldest.
    if (shown_ >= 0) {
        shown_ = std::max(shown_ - excess, 0);
    }
}

} // namespace pulsara::analysis
