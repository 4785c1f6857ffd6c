#pragma once
// libsigrokdecode, set up once per process on first use and used by one caller at a time,
// with RAII owners for the GLib values its C interface passes around.

#include "analysis/result.h"

#include <glib.h>

#include <memory>
#include <mutex>
#include <string>

namespace pulsara::analysis::detail {

// Holds the library for the caller: libsigrokdecode's sessions, decoder list and the
// Python interpreter behind them are process-wide.
class SrdLock {
public:
    // The error messages the library logged since the lock was taken (or last taken out).
    [[nodiscard]] std::string TakeLog();

private:
    friend Result<SrdLock> LockSrd();
    explicit SrdLock(std::unique_lock<std::mutex> lock) : lock_(std::move(lock)) {}
    std::unique_lock<std::mutex> lock_;
};

// Initialises libsigrokdecode on the first call (it stays up until the process exits).
[[nodiscard]] Result<SrdLock> LockSrd();

// $XDG_CACHE_HOME/pulsara, else ~/.cache/pulsara; empty when neither is set. What is kept
// there only saves time: anything missing or spoilt is made afresh.
[[nodiscard]] std::string UserCacheFolder();

struct GHashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using HashTablePtr = std::unique_ptr<GHashTable, GHashTableUnref>;

// String keys owned by the table, GVariant values it unrefs: what srd_inst_new and
// srd_inst_channel_set_all take.
[[nodiscard]] HashTablePtr NewVariantTable();
void InsertVariant(GHashTable* table, const std::string& key, GVariant* value);

} // namespace pulsara::analysis::detail
