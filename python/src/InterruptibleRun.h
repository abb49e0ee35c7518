#pragma once
// A blur run from Python: the interpreter lock is released while the
// library works; from its progress hook (on the calling thread) the lock is
// taken at most every 50 ms to hand the caller's progress callable the
// fraction done and, on the main thread, to run pending signal handlers
// (Ctrl-C). A handler's or the callable's exception cancels the blur and is
// raised again when it returns.
#include <chrono>
#include <functional>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <dof/Blur.h>

class InterruptibleRun {
public:
    // progress: None, or a callable taking the fraction done (0..1).
    InterruptibleRun(pybind11::object progress, int threads);
    ~InterruptibleRun();
    InterruptibleRun(const InterruptibleRun&) = delete;
    InterruptibleRun& operator=(const InterruptibleRun&) = delete;

    // Runs blur(options) without the interpreter lock (the caller holds it)
    // and returns its picture as an array, or raises: the exception that
    // stopped it, else the library's error.
    pybind11::array Run(const std::function<dof::Result<dof::Image>(const dof::RunOptions&)>& blur);

private:
    void OnProgress(const dof::Progress& progress);
    // With the lock held: signals, then the callable. False once either raised.
    bool Report(double fraction);

    pybind11::object callable_;
    dof::RunOptions options_;
    bool mainThread_ = false;
    std::chrono::steady_clock::time_point lastReport_;
    double reported_ = -1.0;  // the last fraction handed to the callable
    // The exception that stopped the run (PyErr_Fetch's three).
    PyObject* errorType_ = nullptr;
    PyObject* errorValue_ = nullptr;
    PyObject* errorTrace_ = nullptr;
};
