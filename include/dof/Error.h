#pragma once
// Failures of the library are values: a code a program can act on and a
// reason a person can read. Nothing is printed and nothing is thrown across
// the API, except std::bad_alloc from a call that allocates (see dof.h).
#include <string>
#include <utility>

namespace dof {

enum class ErrorCode {
    kNone = 0,
    kBadParameter,     // a blur parameter that leaves the result undefined
    kInvalidImage,     // an image the call cannot take (channels, sample type, no pixels)
    kDepthSize,        // the depth's size differs from the colour's
    kLensSize,         // the lens is not 256 x 256
    kBadDepth,         // depth values that are not a number or below zero
    kReadFailed,       // a file could not be opened, read or decoded
    kWriteFailed,      // a file could not be written
    kTooLarge,         // would not fit in the memory limit; refused before anything was allocated for it
    kOutOfMemory,      // an allocation failed
    kCancelled,        // stopped through RunOptions::cancel
    kSystem,           // the system refused a resource (a thread, for example)
    kInternal,         // a fault of the library itself (an exception it did not expect)
};

struct Error {
    ErrorCode code = ErrorCode::kNone;
    std::string message;  // empty when code is kNone

    Error() = default;
    Error(ErrorCode errorCode, std::string text) : code(errorCode), message(std::move(text)) {}
    // True when there is an error.
    explicit operator bool() const { return code != ErrorCode::kNone; }
};

// A value or the error that kept it from being made.
template <class T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error)) {}

    bool Ok() const { return !error_; }
    explicit operator bool() const { return Ok(); }
    const Error& error() const { return error_; }
    // The value; an empty one when there is an error.
    T& value() & { return value_; }
    const T& value() const& { return value_; }
    T&& value() && { return std::move(value_); }

private:
    T value_{};
    Error error_;
};

}  // namespace dof
