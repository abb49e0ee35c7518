#pragma once
// The library's errors as Python exceptions: ValueError for what the caller
// passed (parameters, shapes, sample types, sizes, depth values), OSError
// for files, MemoryError for what would not fit, RuntimeError otherwise.
// The message is the library's reason, as the program prints it.
#include <string>

#include <dof/Error.h>

[[noreturn]] void RaiseError(const dof::Error& error);

// A ValueError about an argument, from the module's own checks.
[[noreturn]] void RaiseValueError(const std::string& message);

// An OSError, from the module's own checks.
[[noreturn]] void RaiseOSError(const std::string& message);
