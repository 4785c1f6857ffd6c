#pragma once
// Blank-separated tokens of a text file with their line numbers, read in blocks so that a
// file of any size is never held whole.

#include <cstddef>
#include <fstream>
#include <string>
#include <string_view>

namespace pulsara::detail {

class TokenReader {
public:
    explicit TokenReader(std::ifstream& in) : in_(in) {}

    // The next token, valid until the next call; false at the end of the file.
    [[nodiscard]] bool Next(std::string_view& token);
    // The line the last token stands on, from 1.
    [[nodiscard]] long Line() const { return tokenLine_; }
    // True when reading stopped on an error of the stream rather than its end.
    [[nodiscard]] bool Failed() const { return in_.bad(); }

private:
    // Moves the unread rest to the front and appends the next block; false when none came.
    bool Refill();

    std::ifstream& in_;
    std::string buffer_;
    std::size_t pos_ = 0;
    long line_ = 1;
    long tokenLine_ = 0;
};

} // namespace pulsara::detail
