// Threads that one run shares its work with. A job is cut into numbered parts whose results
// depend on the part's number alone, never on the thread that did it, so a run gives the same
// figures on any number of threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvel {

class WorkerPool {
public:
    // `workers` threads in all, the caller of forEach among them.
    explicit WorkerPool(unsigned workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned size() const { return static_cast<unsigned>(threads_.size()) + 1; }

    // Runs part(i) for i = 0..count-1, each once, on the pool's threads and the calling one,
    // and returns when all are done. When parts throw, the exception of the lowest part number
    // is rethrown. Only the calling thread looks for a request to stop the run.
    void forEach(std::size_t count, const std::function<void(std::size_t)>& part);

private:
    void serve();
    // Takes parts of the current job until none is left.
    void takeParts();

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable started_;
    std::condition_variable finished_;
    const std::function<void(std::size_t)>* part_ = nullptr;
    std::size_t count_ = 0;
    std::size_t next_ = 0;
    std::size_t busy_ = 0;  // threads inside the current job
    std::size_t job_ = 0;   // numbers the jobs, so that a thread takes each one once
    bool closing_ = false;
    std::size_t failedAt_ = 0;
    std::exception_ptr failure_;
};

// How many ranges forEachRange cuts [0, n) into, so that callers can size their tallies.
std::size_t rangeCount(const WorkerPool* pool, std::size_t n, std::size_t fewest);

// Cuts [0, n) into ranges of at least `fewest` items, about one per thread of `pool`, and runs
// range(k, begin, end) for each, k numbering the ranges from 0; on the calling thread alone,
// with no call in between, when there is one range (one range [0, 0) when n = 0).
template <typename Range>
void forEachRange(WorkerPool* pool, std::size_t n, std::size_t fewest, const Range& range) {
    const std::size_t ranges = rangeCount(pool, n, fewest);
    if (ranges == 1) {
        range(std::size_t{0}, std::size_t{0}, n);
        return;
    }
    const auto bound = [n, ranges](std::size_t k) {
        return n / ranges * k + (k < n % ranges ? k : n % ranges);
    };
    pool->forEach(ranges, [&](std::size_t k) { range(k, bound(k), bound(k + 1)); });
}

}  // namespace quorvel
