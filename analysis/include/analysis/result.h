#pragma once
// A value, or a message for the user that says what is wrong and what to do next.

#include <optional>
#include <string>
#include <utility>

namespace pulsara::analysis {

template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {} // NOLINT: a value converts implicitly
    [[nodiscard]] static Result Fail(std::string error) { return Result(std::move(error), 0); }

    [[nodiscard]] bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    [[nodiscard]] const T& value() const& { return *value_; }
    [[nodiscard]] T& value() & { return *value_; }
    [[nodiscard]] T&& value() && { return std::move(*value_); }
    const T* operator->() const { return &*value_; }
    const T& operator*() const { return *value_; }
    [[nodiscard]] const std::string& error() const { return error_; }

private:
    Result(std::string error, int) : error_(std::move(error)) {}
    std::optional<T> value_;
    std::string error_;
};

} // namespace pulsara::analysis
