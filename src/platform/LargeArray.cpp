#include "platform/LargeArray.h"

#include <cstring>

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
constexpr std::size_t kLargeBlock = std::size_t{1} << 20;

bool MappedOnItsOwn(std::size_t bytes) { return bytes >= kLargeBlock && bytes <= static_cast<std::size_t>(-1) / 2; }
}  // namespace

bool LargeBlocksAreMapped() { return true; }

void* AllocateLarge(std::size_t bytes) {
    if (!MappedOnItsOwn(bytes)) return ::operator new(bytes);
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    return block;
}

void* AllocateLargeZeroed(std::size_t bytes) {
    void* const block = AllocateLarge(bytes);
    if (!MappedOnItsOwn(bytes)) std::memset(block, 0, bytes);
    return block;
}

void FreeLarge(void* block, std::size_t bytes) {
    if (block == nullptr) return;
    if (!MappedOnItsOwn(bytes)) {
        ::operator delete(block);
        return;
    }
    munmap(block, bytes);
}
#else
bool LargeBlocksAreMapped() { return false; }
void* AllocateLarge(std::size_t bytes) { return ::operator new(bytes); }
void* AllocateLargeZeroed(std::size_t bytes) { return std::memset(::operator new(bytes), 0, bytes); }
void FreeLarge(void* block, std::size_t) { ::operator delete(block); }
#endif
