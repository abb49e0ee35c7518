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
#include <unistd.h>

#include <mutex>
#include <vector>

namespace {
constexpr std::size_t kLargeBlock = std::size_t{1} << 20;

bool MappedOnItsOwn(std::size_t bytes) { return bytes >= kLargeBlock && bytes <= static_cast<std::size_t>(-1) / 2; }

std::size_t PageRounded(std::size_t bytes) {
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

struct KeptBlock {
    char* start;
    std::size_t bytes;
};
// The blocks kept and the KeptBlocks alive; never destroyed, since threads
// may free blocks as the process ends.
struct Kept {
    std::mutex mutex;
    std::vector<KeptBlock> blocks;
    int keepers = 0;
};
Kept& TheKept() {
    static Kept* const kept = new Kept;
    return *kept;
}

// The smallest kept block of at least bytes (page rounded), its first bytes
// taken and the rest kept; null where none is large enough.
void* TakeKept(std::size_t bytes) {
    Kept& kept = TheKept();
    std::lock_guard<std::mutex> lock(kept.mutex);
    std::vector<KeptBlock>& blocks = kept.blocks;
    std::size_t best = blocks.size();
    for (std::size_t i = 0; i < blocks.size(); ++i)
        if (blocks[i].bytes >= bytes && (best == blocks.size() || blocks[i].bytes < blocks[best].bytes)) best = i;
    if (best == blocks.size()) return nullptr;
    char* const start = blocks[best].start;
    if (blocks[best].bytes == bytes) {
        blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(best));
    } else {
        blocks[best].start += bytes;
        blocks[best].bytes -= bytes;
    }
    return start;
}

// Whether the block was kept (while a KeptBlocks lives, and there is room
// to note it).
bool Keep(void* block, std::size_t bytes) noexcept {
    Kept& kept = TheKept();
    std::lock_guard<std::mutex> lock(kept.mutex);
    if (kept.keepers == 0) return false;
    try {
        kept.blocks.push_back(KeptBlock{static_cast<char*>(block), PageRounded(bytes)});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void* MapFresh(std::size_t bytes) {
    void* const block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    return block;
}
}  // namespace

KeptBlocks::KeptBlocks() {
    Kept& kept = TheKept();
    std::lock_guard<std::mutex> lock(kept.mutex);
    ++kept.keepers;
}

KeptBlocks::~KeptBlocks() {
    Kept& kept = TheKept();
    std::vector<KeptBlock> released;
    {
        std::lock_guard<std::mutex> lock(kept.mutex);
        if (--kept.keepers == 0) released.swap(kept.blocks);
    }
    for (const KeptBlock& block : released) munmap(block.start, block.bytes);
}

bool LargeBlocksAreMapped() { return true; }

void* AllocateLarge(std::size_t bytes) {
    if (!MappedOnItsOwn(bytes)) return ::operator new(bytes);
    if (void* reused = TakeKept(PageRounded(bytes))) return reused;
    return MapFresh(bytes);
}

void* AllocateLargeZeroed(std::size_t bytes) {
    return MappedOnItsOwn(bytes) ? MapFresh(bytes) : std::memset(::operator new(bytes), 0, bytes);
}

void FreeLarge(void* block, std::size_t bytes) {
    if (block == nullptr) return;
    if (!MappedOnItsOwn(bytes)) {
        ::operator delete(block);
        return;
    }
    if (!Keep(block, bytes)) munmap(block, bytes);
}
#else
KeptBlocks::KeptBlocks() {}
KeptBlocks::~KeptBlocks() {}
bool LargeBlocksAreMapped() { return false; }
void* AllocateLarge(std::size_t bytes) { return ::operator new(bytes); }
void* AllocateLargeZeroed(std::size_t bytes) { return std::memset(::operator new(bytes), 0, bytes); }
void FreeLarge(void* block, std::size_t) { ::operator delete(block); }
#endif
