#pragma once

#include <string>
#include <utility>
#include <variant>

namespace quillix {

// What went wrong, coarse enough for a caller to pick a message or a recovery.
enum class ErrorKind {
    BadHeader,      // not a container, or a header that fails validation
    Truncated,      // shorter than its own layout says
    WrongPassword,  // MAC mismatch: a wrong password and a damaged body look the same
    Unsupported,    // a format or option this build does not handle
    Io,             // the operating system refused a read or write
    Exists,         // the name a result would take belongs to another file, which is left alone
    Changed,        // the file went, was replaced or changed while it was worked on: looking again may do
    Cancelled,      // the user gave no password, or did not confirm it: nothing to report
};

struct Error {
    ErrorKind kind;
    std::string message;
};

// The core returns results instead of throwing; a default-constructed Result<void> is success.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), ok_(false) {}

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const Error& error() const { return error_; }

private:
    Error error_{ErrorKind::Io, {}};
    bool ok_ = true;
};

inline Error MakeError(ErrorKind kind, std::string message)
{
    return Error{kind, std::move(message)};
}

}  // namespace quillix
