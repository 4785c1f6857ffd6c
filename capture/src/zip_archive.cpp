#include "zip_archive.h"

#include <zip.h>

namespace pulsara::detail {
namespace {

std::string ErrorText(zip_error_t* error) {
    return zip_error_strerror(error);
}

struct FileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

} // namespace

ZipWriter::ZipWriter() {
    zip_error_t error;
    zip_error_init(&error);
    buffer_ = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (buffer_ == nullptr) {
        error_ = ErrorText(&error);
        zip_error_fini(&error);
        return;
    }
    // The source outlives the archive, so the finished bytes can be read back from it.
    zip_source_keep(buffer_);
    archive_ = zip_open_from_source(buffer_, ZIP_TRUNCATE, &error);
    if (archive_ == nullptr) {
        error_ = ErrorText(&error);
    }
    zip_error_fini(&error);
}

ZipWriter::~ZipWriter() {
    if (archive_ != nullptr) {
        zip_discard(archive_);
    }
    if (buffer_ != nullptr) {
        zip_source_free(buffer_);
    }
}

bool ZipWriter::Add(const std::string& name, std::string_view bytes) {
    if (archive_ == nullptr) {
        return false;
    }
    zip_source_t* member = zip_source_buffer(archive_, bytes.data(), bytes.size(), 0);
    if (member == nullptr) {
        error_ = zip_strerror(archive_);
        return false;
    }
    const auto index = zip_file_add(archive_, name.c_str(), member, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        error_ = zip_strerror(archive_);
        zip_source_free(member);
        return false;
    }
    // Stored, not deflated: the members are at most 128 KiB, a busy capture does not
    // compress, and deflating it would take most of an export's time.
    zip_set_file_compression(archive_, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    return true;
}

std::optional<std::string> ZipWriter::Finish() {
    if (archive_ == nullptr) {
        return std::nullopt;
    }
    if (zip_close(archive_) != 0) {
        error_ = zip_strerror(archive_);
        return std::nullopt;
    }
    archive_ = nullptr;
    zip_stat_t stat;
    if (zip_source_stat(buffer_, &stat) != 0 || zip_source_open(buffer_) != 0) {
        error_ = ErrorText(zip_source_error(buffer_));
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(stat.size), '\0');
    const auto got = zip_source_read(buffer_, bytes.data(), bytes.size());
    zip_source_close(buffer_);
    if (got < 0 || static_cast<std::size_t>(got) != bytes.size()) {
        error_ = "the archive could not be read back from memory";
        return std::nullopt;
    }
    return bytes;
}

ZipReader::~ZipReader() {
    if (archive_ != nullptr) {
        zip_discard(archive_);
    }
}

bool ZipReader::Open(const std::filesystem::path& path) {
    int code = 0;
    archive_ = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (archive_ == nullptr) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        error_ = ErrorText(&error);
        zip_error_fini(&error);
        return false;
    }
    return true;
}

bool ZipReader::Has(const std::string& member) const {
    return zip_name_locate(archive_, member.c_str(), 0) >= 0;
}

std::vector<std::string> ZipReader::Members() const {
    std::vector<std::string> names;
    const auto count = zip_get_num_entries(archive_, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        if (const char* name = zip_get_name(archive_, static_cast<zip_uint64_t>(i), 0)) {
            names.emplace_back(name);
        }
    }
    return names;
}

bool ZipReader::Read(const std::string& member, std::size_t maxBytes, std::string& out,
                     bool& tooLong) {
    std::unique_ptr<zip_file_t, FileCloser> file(zip_fopen(archive_, member.c_str(), 0));
    if (!file) {
        error_ = zip_strerror(archive_);
        return false;
    }
    out.assign(maxBytes + 1, '\0');
    std::size_t have = 0;
    while (have < out.size()) {
        const auto n = zip_fread(file.get(), out.data() + have, out.size() - have);
        if (n < 0) {
            error_ = zip_file_strerror(file.get());
            return false;
        }
        if (n == 0) {
            break;
        }
        have += static_cast<std::size_t>(n);
    }
    tooLong = have > maxBytes;
    out.resize(std::min(have, maxBytes));
    return true;
}

} // namespace pulsara::detail
