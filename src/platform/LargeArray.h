#pragma once
// Storage for the big per-pixel arrays of a run. Blocks of a megabyte or
// more are mapped on their own, so that freeing one gives its memory back at
// once (and a process forked later does not share it), unless a KeptBlocks
// asks to keep it for the next blocks of the run; smaller blocks come
// from operator new, as do all blocks in sanitizer builds, which keep their
// checks on every array. Huge pages are asked for only where a fresh small
// page is slow to map (a hypervisor trapping every page-table update, some
// 10 us a page), and the blocks then lie in whole ones: there they make whole
// runs a quarter to two fifths faster. Elsewhere a small page maps in 1 to 2
// us, and where the system has to find fresh memory (a virtual machine's host
// giving memory back) a huge page can cost far more to touch first than the
// 4 KiB pages it stands for; no pass runs faster in huge pages once they are
// touched (see *Fresh memory* in docs/performance.md).
#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

void* AllocateLarge(std::size_t bytes);
// The same, all zero: a block mapped on its own is so already, and its pages
// are left untouched until first written (on the threads that write them).
void* AllocateLargeZeroed(std::size_t bytes);
// Whether big blocks are mapped on their own here (not in sanitizer builds).
bool LargeBlocksAreMapped();
// What a first write to a fresh small page costs here, in microseconds (the
// median of a few; 0 where big blocks are not mapped), and whether big blocks
// ask for huge pages for it, which is measured once, at the first.
double FreshSmallPageMicroseconds();
bool BigBlocksAskForHugePages();
// A big block from elsewhere (operator new) that is about to be written
// whole by one call (a file read into it): its pages mapped at once, not a
// fault each, and huge where big blocks ask for them.
void ReadyForWriting(void* block, std::size_t bytes);
void FreeLarge(void* block, std::size_t bytes);

// While one lives, big blocks freed are kept, their pages as they are, and
// serve the blocks asked for after (not the zeroed ones), the smallest that
// is large enough a part at a time: a page touched afresh costs the system
// about as much as writing it several times. What is left is given back
// when the last one ends.
class KeptBlocks {
public:
    KeptBlocks();
    ~KeptBlocks();
    KeptBlocks(const KeptBlocks&) = delete;
    KeptBlocks& operator=(const KeptBlocks&) = delete;
};

template <class T>
struct LargeAllocator {
    typedef T value_type;
    LargeAllocator() = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(AllocateLarge(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept { FreeLarge(block, count * sizeof(T)); }
    template <class U>
    bool operator==(const LargeAllocator<U>&) const noexcept { return true; }
    template <class U>
    bool operator!=(const LargeAllocator<U>&) const noexcept { return false; }
};

template <class T>
using LargeArray = std::vector<T, LargeAllocator<T>>;

// The same storage, but resize(n) leaves the new elements as they come (zero
// where the block was mapped on its own, anything otherwise): for arrays that
// a loop over every element writes before any is read, so that the pages are
// first touched in that loop, on its threads, and not by a fill before it.
template <class T>
struct UnfilledAllocator : LargeAllocator<T> {
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
