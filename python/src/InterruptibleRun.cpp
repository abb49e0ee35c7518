#include "InterruptibleRun.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "ArrayImages.h"
#include "PythonErrors.h"

namespace py = pybind11;

namespace {

// Often enough for Ctrl-C to feel immediate, seldom enough that taking the
// lock (which may wait for another Python thread) costs the blur nothing.
constexpr std::chrono::milliseconds kReportInterval(50);

bool OnMainThread() {
    const py::module_ threading = py::module_::import("threading");
    return threading.attr("current_thread")().is(threading.attr("main_thread")());
}

}  // namespace

InterruptibleRun::InterruptibleRun(py::object progress, int threads) : callable_(std::move(progress)) {
    if (threads < 0 || threads > 4096)
        RaiseValueError("threads = " + std::to_string(threads) +
                        ": a whole number from 0 (one per processor) to 4096 is taken");
    if (!callable_.is_none() && !PyCallable_Check(callable_.ptr()))
        throw py::type_error("progress must be a callable taking the fraction done, or None");
    options_.threads = threads;
    options_.progress = [this](const dof::Progress& progress) { OnProgress(progress); };
    mainThread_ = OnMainThread();
}

InterruptibleRun::~InterruptibleRun() {
    Py_XDECREF(errorType_);
    Py_XDECREF(errorValue_);
    Py_XDECREF(errorTrace_);
}

py::array InterruptibleRun::Run(const std::function<dof::Result<dof::Image>(const dof::RunOptions&)>& blur) {
    lastReport_ = std::chrono::steady_clock::now();
    dof::Result<dof::Image> result = dof::Image();
    {
        py::gil_scoped_release unlocked;
        result = blur(options_);
    }
    // Whatever stopped the run comes first; a late one wins over a result too.
    if (errorType_ == nullptr && result && reported_ < 1.0) Report(1.0);
    if (errorType_ != nullptr) {
        PyErr_Restore(errorType_, errorValue_, errorTrace_);
        errorType_ = errorValue_ = errorTrace_ = nullptr;
        throw py::error_already_set();
    }
    if (!result) RaiseError(result.error());
    return ArrayOfImage(std::move(result).value());
}

void InterruptibleRun::OnProgress(const dof::Progress& progress) {
    // Without the lock: only this thread touches these members.
    if (errorType_ != nullptr || (!mainThread_ && callable_.is_none())) return;
    const double fraction = std::max(progress.fraction, reported_);
    const auto now = std::chrono::steady_clock::now();
    const bool end = fraction >= 1.0 && reported_ < 1.0;
    if (!end && now - lastReport_ < kReportInterval) return;
    lastReport_ = now;
    py::gil_scoped_acquire locked;
    if (!Report(fraction)) options_.cancel.Cancel();
}

bool InterruptibleRun::Report(double fraction) {
    try {
        if (mainThread_ && PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (!callable_.is_none()) callable_(fraction);
        reported_ = fraction;
        return true;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    PyErr_Fetch(&errorType_, &errorValue_, &errorTrace_);
    return false;
}
