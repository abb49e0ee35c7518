#include "PythonErrors.h"

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace {

PyObject* ExceptionFor(dof::ErrorCode code) {
    switch (code) {
        case dof::ErrorCode::kBadParameter:
        case dof::ErrorCode::kInvalidImage:
        case dof::ErrorCode::kDepthSize:
        case dof::ErrorCode::kLensSize:
        case dof::ErrorCode::kBadDepth: return PyExc_ValueError;
        case dof::ErrorCode::kReadFailed:
        case dof::ErrorCode::kWriteFailed: return PyExc_OSError;
        case dof::ErrorCode::kTooLarge:
        case dof::ErrorCode::kOutOfMemory: return PyExc_MemoryError;
        default: return PyExc_RuntimeError;
    }
}

}  // namespace

void RaiseError(const dof::Error& error) {
    PyErr_SetString(ExceptionFor(error.code), error.message.c_str());
    throw py::error_already_set();
}

void RaiseValueError(const std::string& message) { throw py::value_error(message); }

void RaiseOSError(const std::string& message) {
    PyErr_SetString(PyExc_OSError, message.c_str());
    throw py::error_already_set();
}
