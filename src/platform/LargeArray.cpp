#include "platform/LargeArray.h"

#include <cstdint>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DOF_PLAIN_ALLOCATION 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define DOF_PLAIN_ALLOCATION 1
#endif
#endif

#if defined(__linux__) && !defined(DOF_PLAIN_ALLOCATION)
#include <sys/mman.h>

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kLargeBlock = std::size_t{1} << 20;

bool MappedOnItsOwn(std::size_t bytes) { return bytes >= kLargeBlock && bytes <= static_cast<std::size_t>(-1) / 2; }
std::size_t MappedSize(std::size_t bytes) { return (bytes + kHugePage - 1) & ~(kHugePage - 1); }
}  // namespace

bool LargeBlocksAreMapped() { return true; }

void* AllocateLarge(std::size_t bytes) {
    if (!MappedOnItsOwn(bytes)) return ::operator new(bytes);
    // Map one huge page more than needed and trim both ends, so that the
    // block starts on a huge-page boundary.
    const std::size_t size = MappedSize(bytes);
    void* mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~static_cast<std::uintptr_t>(kHugePage - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    const std::size_t tail = kHugePage - (aligned - start);
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
    void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    madvise(block, size, MADV_HUGEPAGE);  // advice only; without it the block still works
#endif
    return block;
}

void AdviseHugePages(void* block, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    if (!MappedOnItsOwn(bytes)) return;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + kHugePage - 1) & ~static_cast<std::uintptr_t>(kHugePage - 1);
    const std::uintptr_t end = (start + bytes) & ~static_cast<std::uintptr_t>(kHugePage - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

void FreeLarge(void* block, std::size_t bytes) {
    if (block == nullptr) return;
    if (!MappedOnItsOwn(bytes)) {
        ::operator delete(block);
        return;
    }
    munmap(block, MappedSize(bytes));
}
#else
bool LargeBlocksAreMapped() { return false; }
void* AllocateLarge(std::size_t bytes) { return ::operator new(bytes); }
void FreeLarge(void* block, std::size_t) { ::operator delete(block); }
void AdviseHugePages(void*, std::size_t) {}
#endif
