#include "token_reader.h"

namespace pulsara::detail {
namespace {

constexpr std::size_t kBlockSize = 1 << 16;
// No token of a sound file comes near this; a longer run of bytes is handed out in pieces
// (which the parser then rejects) rather than held whole.
constexpr std::size_t kMaxToken = 1 << 20;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

bool TokenReader::Refill() {
    buffer_.erase(0, pos_);
    pos_ = 0;
    const auto kept = buffer_.size();
    buffer_.resize(kept + kBlockSize);
    in_.read(buffer_.data() + kept, static_cast<std::streamsize>(kBlockSize));
    const auto got = static_cast<std::size_t>(in_.gcount());
    buffer_.resize(kept + got);
    return got > 0;
}

bool TokenReader::Next(std::string_view& token) {
    while (true) {
        while (pos_ < buffer_.size() && IsBlank(buffer_[pos_])) {
            if (buffer_[pos_] == '\n') {
                ++line_;
            }
            ++pos_;
        }
        if (pos_ < buffer_.size()) {
            break;
        }
        if (!Refill()) {
            return false;
        }
    }
    std::size_t end = pos_;
    while (true) {
        while (end < buffer_.size() && !IsBlank(buffer_[end])) {
            ++end;
        }
        if (end < buffer_.size() || end - pos_ >= kMaxToken) {
            break;
        }
        // The token may go on in the next block.
        const auto offset = end - pos_;
        if (!Refill()) {
            end = pos_ + offset;
            break;
        }
        end = pos_ + offset;
    }
    token = std::string_view(buffer_).substr(pos_, end - pos_);
    tokenLine_ = line_;
    pos_ = end;
    return true;
}

} // namespace pulsara::detail
