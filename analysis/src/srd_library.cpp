// Python.h first, as it asks to be.
#include <Python.h>

#include "srd_library.h"

#include <libsigrokdecode/libsigrokdecode.h>

#include <cstdarg>
#include <cstdio>

#if defined(__SANITIZE_ADDRESS__)
#define PULSARA_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PULSARA_LEAK_CHECKED 1
#endif
#endif

#if PULSARA_LEAK_CHECKED
// What the interpreter and libsigrokdecode keep until the process ends (interpreter
// start-up, decoder registration) is theirs to free. Every program that decodes links this
// file, so the sanitizer builds of the programs, and the tests that run them as child
// processes, check our own allocations only.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpython3.11.so\nleak:libsigrokdecode.so\nleak:libglib-2.0.so\n";
}
#endif

namespace pulsara::analysis::detail {
namespace {

// Decoder threads log too, so the buffer has a lock of its own.
std::mutex logMutex;
std::string logText;

int KeepErrors(void* /*data*/, int level, const char* format, va_list args) {
    if (level > SRD_LOG_ERR) {
        return SRD_OK;
    }
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    const std::lock_guard<std::mutex> lock(logMutex);
    if (logText.size() < 16384) {
        logText += (logText.empty() ? "" : "\n") + std::string(line);
    }
    return SRD_OK;
}

struct Library {
    Library() {
        // libsigrokdecode starts the interpreter. The installed decoders import only the
        // standard library, so the site module's scan for installed packages is skipped:
        // a tenth of a short decode's start-up.
        if (Py_IsInitialized() == 0) {
            Py_NoSiteFlag = 1;
        }
        status = srd_init(nullptr);
        if (status == SRD_OK) {
            srd_log_callback_set(KeepErrors, nullptr);
        }
    }
    ~Library() {
        if (status == SRD_OK) {
            srd_exit();
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    int status = SRD_ERR;
    std::mutex use;
};

} // namespace

std::string SrdLock::TakeLog() {
    const std::lock_guard<std::mutex> lock(logMutex);
    std::string text;
    text.swap(logText);
    return text;
}

Result<SrdLock> LockSrd() {
    static Library library;
    if (library.status != SRD_OK) {
        return Result<SrdLock>::Fail(std::string("libsigrokdecode did not start (") +
                                     srd_strerror(library.status) +
                                     "); is libsigrokdecode4 installed with its decoders?");
    }
    SrdLock lock(std::unique_lock<std::mutex>(library.use));
    (void)lock.TakeLog(); // what an earlier user left
    return lock;
}

HashTablePtr NewVariantTable() {
    return HashTablePtr(g_hash_table_new_full(g_str_hash, g_str_equal, g_free,
                                              reinterpret_cast<GDestroyNotify>(g_variant_unref)));
}

void InsertVariant(GHashTable* table, const std::string& key, GVariant* value) {
    g_hash_table_insert(table, g_strdup(key.c_str()), g_variant_ref_sink(value));
}

} // namespace pulsara::analysis::detail
