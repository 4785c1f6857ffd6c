// Python.h first, as it asks to be.
#include <Python.h>

#include "decoder_sources.h"
#include "srd_library.h"

#include <libsigrokdecode/libsigrokdecode.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>

namespace pulsara::analysis::detail {
namespace {

namespace fs = std::filesystem;

// The file a decoder's module was loaded from (its package's __init__.py).
std::optional<fs::path> ModuleFile(const srd_decoder& decoder) {
    if (decoder.py_mod == nullptr) {
        return std::nullopt;
    }
    const PyGILState_STATE gil = PyGILState_Ensure();
    std::optional<fs::path> file;
    PyObject* name = PyModule_GetFilenameObject(static_cast<PyObject*>(decoder.py_mod));
    if (name != nullptr) {
        PyObject* bytes = PyUnicode_EncodeFSDefault(name);
        if (bytes != nullptr) {
            file = fs::path(PyBytes_AsString(bytes));
            Py_DECREF(bytes);
        }
        Py_DECREF(name);
    }
    PyErr_Clear();
    PyGILState_Release(gil);
    return file;
}

void StampPythonFiles(const fs::path& folder, bool recursive, std::vector<FileStamp>& out) {
    std::error_code ec;
    std::vector<std::string> files;
    const auto take = [&](const fs::directory_entry& entry) {
        if (entry.path().extension() == ".py") {
            files.push_back(entry.path().string());
        }
    };
    if (recursive) {
        for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            take(*it);
        }
    } else {
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            take(*it);
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        out.push_back(StampOf(file));
    }
}

// The folders libsigrokdecode searches, and the user's own decoder folder even before it
// exists: a decoder installed there later is loaded first.
std::vector<fs::path> SearchFolders() {
    std::vector<fs::path> folders;
    GSList* paths = srd_searchpaths_get();
    for (const GSList* l = paths; l != nullptr; l = l->next) {
        folders.emplace_back(static_cast<const char*>(l->data));
    }
    g_slist_free_full(paths, g_free);
    const fs::path own = fs::path(g_get_user_data_dir()) / "libsigrokdecode" / "decoders";
    if (std::find(folders.begin(), folders.end(), own) == folders.end()) {
        folders.push_back(own);
    }
    return folders;
}

} // namespace

FileStamp StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {path, -1, 0};
    }
    return {path, static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

std::vector<FileStamp> DecoderSourceStamps(SrdLock& /*lock*/, const std::vector<std::string>& ids) {
    std::vector<FileStamp> stamps;
    std::set<fs::path> commons;
    const auto folders = SearchFolders();
    for (const auto& id : ids) {
        const srd_decoder* decoder = srd_decoder_get_by_id(id.c_str());
        const auto file = decoder != nullptr ? ModuleFile(*decoder) : std::nullopt;
        if (!file) {
            return {};
        }
        const fs::path package = file->parent_path();
        StampPythonFiles(package, false, stamps);
        commons.insert(package.parent_path() / "common");
        for (const auto& folder : folders) {
            if (folder / id != package) {
                stamps.push_back(StampOf((folder / id / "pd.py").string()));
            }
        }
    }
    for (const auto& common : commons) {
        StampPythonFiles(common, true, stamps);
    }
    return stamps;
}

bool StampsHold(const std::vector<FileStamp>& stamps) {
    return std::all_of(stamps.begin(), stamps.end(),
                       [](const FileStamp& s) { return StampOf(s.path) == s; });
}

} // namespace pulsara::analysis::detail
