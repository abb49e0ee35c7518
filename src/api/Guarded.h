#pragma once
// No exception leaves the library's calls: body's is turned into the error
// value the call returns (kOutOfMemory, kSystem, or kInternal for a fault).
#include <exception>
#include <new>
#include <system_error>

#include <dof/Error.h>

template <class Body>
auto Guarded(Body body) -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc& e) {
        return dof::Error(dof::ErrorCode::kOutOfMemory, e.what());
    } catch (const std::system_error& e) {
        return dof::Error(dof::ErrorCode::kSystem, e.what());
    } catch (const std::exception& e) {
        return dof::Error(dof::ErrorCode::kInternal, e.what());
    } catch (...) {
        return dof::Error(dof::ErrorCode::kInternal, "unknown exception");
    }
}
