// Storage for a run's per-value arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>
#include <vector>

namespace quorvel {

// Fresh memory costs a page fault per 4 KiB page on first touch: for a window of 10^6 values
// that was a fifth of a run. Arrays of 2 MiB and more are therefore placed on huge-page
// boundaries and offered to the system for transparent huge pages (where it grants them on
// request), which cuts those faults 512-fold. Smaller arrays use the ordinary heap.
void* allocateRunBytes(std::size_t bytes);
void releaseRunBytes(void* memory, std::size_t bytes) noexcept;

// While one lives on a thread, the arrays of 2 MiB and more that the thread releases are kept
// for its later requests of the same size instead of going back to the system, which would
// zero every page of them again for the next run (a fifth of a draw's time at 2*10^6 values).
// Kept and live arrays together stay within the most that was live at once, since a request
// that no kept array fits first gives back at least as much as it asks. Only the outermost of
// nested ones keeps; it hands everything back when it ends.
class KeptRunMemory {
public:
    KeptRunMemory() noexcept;
    ~KeptRunMemory();
    KeptRunMemory(const KeptRunMemory&) = delete;
    KeptRunMemory& operator=(const KeptRunMemory&) = delete;

private:
    struct Block {
        void* memory;
        std::size_t bytes;
    };
    static constexpr std::size_t kMostKept = 32;

    Block kept_[kMostKept];
    std::size_t count_ = 0;
    bool outermost_;

    friend void* allocateRunBytes(std::size_t bytes);
    friend void releaseRunBytes(void* memory, std::size_t bytes) noexcept;
};

template <typename T>
struct RunAllocator {
    using value_type = T;

    RunAllocator() noexcept = default;
    template <typename U>
    RunAllocator(const RunAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(allocateRunBytes(count * sizeof(T)));
    }
    void deallocate(T* memory, std::size_t count) noexcept {
        releaseRunBytes(memory, count * sizeof(T));
    }

    // Elements made without a value are left unset: every per-value array is written in full
    // before it is read, by the threads of the run where there are several, so that no pass
    // of one thread zeroes the fresh memory first.
    template <typename U>
    void construct(U* at) noexcept {
        ::new (static_cast<void*>(at)) U;
    }
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }

    friend bool operator==(const RunAllocator&, const RunAllocator&) noexcept { return true; }
    friend bool operator!=(const RunAllocator&, const RunAllocator&) noexcept { return false; }
};

template <typename T>
using RunBuffer = std::vector<T, RunAllocator<T>>;

// Class labels of a sequence.
using Labels = RunBuffer<std::int32_t>;

}  // namespace quorvel
