#include "run_buffer.hpp"

#include <sys/mman.h>

#include <cstdlib>

namespace quorvel {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// AddressSanitizer checks the bytes asked for only when nothing rounds them up.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOnHugePages = false;
#else
constexpr bool kOnHugePages = true;
#endif

bool onHugePages(std::size_t bytes) {
    return kOnHugePages && bytes >= kHugePage &&
           bytes <= std::numeric_limits<std::size_t>::max() - kHugePage;
}

}  // namespace

void* allocateRunBytes(std::size_t bytes) {
    if (!onHugePages(bytes)) return ::operator new(bytes);
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* memory = std::aligned_alloc(kHugePage, rounded);
    if (memory == nullptr) throw std::bad_alloc();
    // Only a hint: where the system does not take it, ordinary pages serve.
    madvise(memory, rounded, MADV_HUGEPAGE);
    return memory;
}

void releaseRunBytes(void* memory, std::size_t bytes) noexcept {
    if (onHugePages(bytes))
        std::free(memory);
    else
        ::operator delete(memory);
}

}  // namespace quorvel
