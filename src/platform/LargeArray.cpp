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

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace {
constexpr std::size_t kLargeBlock = std::size_t{1} << 20;

bool MappedOnItsOwn(std::size_t bytes) { return bytes >= kLargeBlock && bytes <= static_cast<std::size_t>(-1) / 2; }

constexpr std::size_t kHugePage = std::size_t{2} << 20;

bool AskForHugePages();

// What a big block takes of the address space: whole huge pages where they
// are asked for (the block's last part would otherwise be small pages),
// whole small pages otherwise.
std::size_t BlockRounded(std::size_t bytes) {
    static const std::size_t granule =
        AskForHugePages() ? kHugePage : static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return (bytes + granule - 1) / granule * granule;
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
        kept.blocks.push_back(KeptBlock{static_cast<char*>(block), BlockRounded(bytes)});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// A fresh small page that takes longer than this to map first is mapped by a
// hypervisor that traps page-table updates (some 10 us a page where seen);
// elsewhere it takes 0.5 to 2 us.
constexpr double kTrappedSmallPageMicroseconds = 4.0;

bool AskForHugePages() {
#ifdef MADV_HUGEPAGE
    static const bool ask = FreshSmallPageMicroseconds() > kTrappedSmallPageMicroseconds;
    return ask;
#else
    return false;
#endif
}

void* Map(std::size_t bytes) {
    void* const block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void* MapFresh(std::size_t bytes) {
    const std::size_t rounded = BlockRounded(bytes);
#ifdef MADV_HUGEPAGE
    if (AskForHugePages()) {
        // Placed on a huge page's boundary, its spare ends given back; where
        // there is no room for the spare, as it comes.
        char* block = static_cast<char*>(Map(rounded + kHugePage));
        if (block != nullptr) {
            const std::size_t lead = (kHugePage - reinterpret_cast<std::uintptr_t>(block) % kHugePage) % kHugePage;
            if (lead > 0) munmap(block, lead);
            munmap(block + lead + rounded, kHugePage - lead);
            block += lead;
        } else {
            block = static_cast<char*>(Map(rounded));
            if (block == nullptr) throw std::bad_alloc();
        }
        madvise(block, rounded, MADV_HUGEPAGE);
        return block;
    }
#endif
    void* const block = Map(rounded);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
}  // namespace

double FreshSmallPageMicroseconds() {
    constexpr std::size_t kPages = 31;
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* const block = mmap(nullptr, kPages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return 0.0;
    volatile unsigned char* const bytes = static_cast<unsigned char*>(block);
    double micros[kPages];
    for (std::size_t i = 0; i < kPages; ++i) {
        const auto start = std::chrono::steady_clock::now();
        bytes[i * page] = 1;
        micros[i] = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    }
    munmap(block, kPages * page);
    std::nth_element(micros, micros + kPages / 2, micros + kPages);
    return micros[kPages / 2];
}

bool BigBlocksAskForHugePages() { return AskForHugePages(); }

void ReadyForWriting(void* block, std::size_t bytes) {
    if (!MappedOnItsOwn(bytes)) return;
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(block), end = first + bytes;
    const std::uintptr_t pagesFrom = (first + page - 1) / page * page, pagesTo = end / page * page;
#ifdef MADV_HUGEPAGE
    const std::uintptr_t hugeFrom = (first + kHugePage - 1) / kHugePage * kHugePage, hugeTo = end / kHugePage * kHugePage;
    if (AskForHugePages() && hugeFrom < hugeTo)
        madvise(reinterpret_cast<void*>(hugeFrom), hugeTo - hugeFrom, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    if (pagesFrom < pagesTo) madvise(reinterpret_cast<void*>(pagesFrom), pagesTo - pagesFrom, MADV_POPULATE_WRITE);
#else
    (void)pagesFrom, (void)pagesTo;
#endif
}

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
    if (void* reused = TakeKept(BlockRounded(bytes))) return reused;
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
double FreshSmallPageMicroseconds() { return 0.0; }
bool BigBlocksAskForHugePages() { return false; }
void ReadyForWriting(void*, std::size_t) {}
void* AllocateLarge(std::size_t bytes) { return ::operator new(bytes); }
void* AllocateLargeZeroed(std::size_t bytes) { return std::memset(::operator new(bytes), 0, bytes); }
void FreeLarge(void* block, std::size_t) { ::operator delete(block); }
#endif
