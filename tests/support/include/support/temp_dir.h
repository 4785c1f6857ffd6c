#pragma once
// A fresh directory for lock files and outputs, removed at the end of the test.

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace pulsara::test {

class TempDir {
public:
    // Throws when no folder can be made: an empty path would send the test's files into
    // the working directory.
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pulsara-test-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
        }
        path_ = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        // Tests make folders read-only to see saving fail; give them back first, or
        // remove_all leaves their contents behind.
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(path_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code entry;
            if (fs::is_directory(it->symlink_status(entry))) {
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, entry);
            }
        }
        fs::remove_all(path_, ec);
    }
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const {
        return path_ / name;
    }

private:
    std::filesystem::path path_;
};

} // namespace pulsara::test
