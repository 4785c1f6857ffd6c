// Python.h first, as it asks to be.
#include <Python.h>

#include "srd_library.h"

#include <libsigrokdecode/libsigrokdecode.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

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

// The installed decoders sit in a system folder that users cannot write, so Python would
// compile a decoder's source on every run: two thirds of a short decode's start-up. The
// compiled code goes to the user's cache folder instead, where Python checks it against the
// source's time stamp and size as it does in __pycache__.
void KeepCompiledDecoders() {
    const std::string folder = UserCacheFolder();
    if (folder.empty()) {
        return;
    }
    const PyGILState_STATE gil = PyGILState_Ensure();
    PyObject* prefix = PyUnicode_DecodeFSDefault((folder + "/python").c_str());
    if (prefix != nullptr) {
        (void)PySys_SetObject("pycache_prefix", prefix);
        Py_DECREF(prefix);
    }
    PyErr_Clear();
    PyGILState_Release(gil);
}

struct Library {
    Library() {
        // libsigrokdecode starts the interpreter. The installed decoders import only the
        // standard library, so the site module's scan for installed packages is skipped:
        // a tenth of a short decode's start-up.
        //
        // The interpreter is ours alone: the user's PYTHON* settings (a PYTHONPATH of
        // other modules, PYTHONDONTWRITEBYTECODE) are for their own Python programs.
        const bool ours = Py_IsInitialized() == 0;
        if (ours) {
            Py_NoSiteFlag = 1;
            Py_IgnoreEnvironmentFlag = 1;
            Py_DontWriteBytecodeFlag = 0;
        }
        status = srd_init(nullptr);
        if (status == SRD_OK) {
            srd_log_callback_set(KeepErrors, nullptr);
            if (ours) {
                KeepCompiledDecoders();
            }
        }
    }
    // libsigrokdecode stays up until the process ends, without srd_exit: that would
    // finalize the interpreter from whichever thread ends the program, which Python's
    // threading module refuses with a traceback on stderr when decoders were first used
    // on another thread (the analysis window decodes on a worker), and it frees nothing
    // that the exit does not.
    ~Library() = default;
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

std::string UserCacheFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') {
        return std::string(cache) + "/pulsara";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.cache/pulsara";
    }
    return {};
}

HashTablePtr NewVariantTable() {
    return HashTablePtr(g_hash_table_new_full(g_str_hash, g_str_equal, g_free,
                                              reinterpret_cast<GDestroyNotify>(g_variant_unref)));
}

void InsertVariant(GHashTable* table, const std::string& key, GVariant* value) {
    g_hash_table_insert(table, g_strdup(key.c_str()), g_variant_ref_sink(value));
}

} // namespace pulsara::analysis::detail
