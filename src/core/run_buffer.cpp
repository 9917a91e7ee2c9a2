#include "run_buffer.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace quorvel {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// AddressSanitizer checks the bytes asked for only when nothing rounds them up; its builds also
// fill every large array with a pattern when handed out, so that a read before a write shows.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

bool isLarge(std::size_t bytes) {
    return bytes >= kHugePage && bytes <= std::numeric_limits<std::size_t>::max() - kHugePage;
}

// The size of the block that serves a large array.
std::size_t blockBytes(std::size_t bytes) {
    return kSanitized ? bytes : (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

void* freshBlock(std::size_t block) {
    if (kSanitized) return ::operator new(block);
    void* memory = std::aligned_alloc(kHugePage, block);
    if (memory == nullptr) throw std::bad_alloc();
    // Only a hint: where the system does not take it, ordinary pages serve.
    madvise(memory, block, MADV_HUGEPAGE);
    return memory;
}

void freeBlock(void* memory) noexcept {
    if (kSanitized)
        ::operator delete(memory);
    else
        std::free(memory);
}

thread_local KeptRunMemory* keptOnThisThread = nullptr;

}  // namespace

KeptRunMemory::KeptRunMemory() noexcept : outermost_(keptOnThisThread == nullptr) {
    if (outermost_) keptOnThisThread = this;
}

KeptRunMemory::~KeptRunMemory() {
    if (!outermost_) return;
    for (std::size_t k = 0; k < count_; ++k) freeBlock(kept_[k].memory);
    keptOnThisThread = nullptr;
}

void* allocateRunBytes(std::size_t bytes) {
    if (!isLarge(bytes)) return ::operator new(bytes);
    const std::size_t block = blockBytes(bytes);
    void* memory = nullptr;
    if (KeptRunMemory* kept = keptOnThisThread) {
        for (std::size_t k = 0; k < kept->count_ && memory == nullptr; ++k)
            if (kept->kept_[k].bytes == block) {
                memory = kept->kept_[k].memory;
                kept->kept_[k] = kept->kept_[--kept->count_];
            }
        // None fits: give back as much as a fresh block takes.
        for (std::size_t freed = 0; memory == nullptr && freed < block && kept->count_ > 0;) {
            const KeptRunMemory::Block last = kept->kept_[--kept->count_];
            freeBlock(last.memory);
            freed += last.bytes;
        }
    }
    if (memory == nullptr) memory = freshBlock(block);
    if (kSanitized) std::memset(memory, 0xA5, block);
    return memory;
}

void releaseRunBytes(void* memory, std::size_t bytes) noexcept {
    if (!isLarge(bytes)) {
        ::operator delete(memory);
        return;
    }
    KeptRunMemory* kept = keptOnThisThread;
    if (kept != nullptr && kept->count_ < KeptRunMemory::kMostKept)
        kept->kept_[kept->count_++] = KeptRunMemory::Block{memory, blockBytes(bytes)};
    else
        freeBlock(memory);
}

}  // namespace quorvel
