#pragma once
// The last N completed captures, kept in memory so a repeated capture can be stepped back
// through: each entry is a whole copy of the capture (samples, settings, rows and
// definition text, sizeof(Capture) bytes) with the time it completed. Which entry is shown
// lives here too, so stepping and eviction agree on it.

#include "capture/capture.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <optional>

namespace pulsara::analysis {

struct HistoryEntry {
    std::shared_ptr<const Capture> capture; // shared: a pinned reference may outlive it here
    std::chrono::system_clock::time_point completed;
    int number = 0; // 1 for the first capture added, counting on across evictions
};

class CaptureHistory {
public:
    static constexpr int kDefaultCapacity = 64;
    static constexpr std::size_t kBytesPerEntry = sizeof(Capture);

    explicit CaptureHistory(int capacity = kDefaultCapacity);

    // At least 1; a smaller capacity drops the oldest entries at once.
    void SetCapacity(int capacity);
    [[nodiscard]] int capacity() const { return capacity_; }

    // Copies the capture in as the newest entry (dropping the oldest beyond the capacity)
    // and shows it.
    const HistoryEntry& Add(const Capture& capture, std::chrono::system_clock::time_point at);
    void Clear();

    [[nodiscard]] int size() const { return static_cast<int>(entries_.size()); }
    [[nodiscard]] bool empty() const { return entries_.empty(); }
    // 0 is the oldest entry kept.
    [[nodiscard]] const HistoryEntry& at(int index) const;

    // The entry shown, or nothing while the history is empty.
    [[nodiscard]] std::optional<int> shown() const;
    // Shows the entry `delta` steps newer (negative: older), stopping at either end;
    // true when that changed what is shown.
    bool Step(int delta);
    // Shows entry `index`, clamped to the entries there are.
    void Show(int index);

private:
    void Trim();

    int capacity_;
    std::deque<HistoryEntry> entries_;
    int shown_ = -1;
    int added_ = 0;
};

} // namespace pulsara::analysis
