#pragma once
// Storage for the big per-pixel arrays of a run. They live on the heap in
// the system's own pages: huge pages are not asked for. Where the system has
// to find fresh memory (a virtual machine's host giving memory back), a huge
// page costs far more to touch first than the 4 KiB pages it stands for, and
// no pass runs faster in huge pages (see the README's *Fresh memory*).
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

template <class T>
using LargeArray = std::vector<T>;

// The same storage, but resize(n) leaves the new elements as they come: for
// arrays that a loop over every element writes before any is read, so that
// the pages are first touched in that loop, on its threads, and not by a
// fill before it.
template <class T>
struct UnfilledAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        typedef UnfilledAllocator<U> other;
    };
    UnfilledAllocator() = default;
    template <class U>
    UnfilledAllocator(const UnfilledAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* place) noexcept(std::is_nothrow_default_constructible<U>::value) {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

template <class T>
using UnfilledArray = std::vector<T, UnfilledAllocator<T>>;
