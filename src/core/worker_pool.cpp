#include "worker_pool.hpp"

#include <algorithm>
#include <limits>

namespace quorvel {

WorkerPool::WorkerPool(unsigned workers) {
    try {
        for (unsigned k = 1; k < workers; ++k) threads_.emplace_back([this] { serve(); });
    } catch (...) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        started_.notify_all();
        for (std::thread& thread : threads_) thread.join();
        throw;
    }
}

WorkerPool::~WorkerPool() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    started_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::serve() {
    std::size_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        started_.wait(lock, [&] { return closing_ || job_ != seen; });
        if (closing_) return;
        seen = job_;
        ++busy_;
        lock.unlock();
        takeParts();
        lock.lock();
        if (--busy_ == 0) finished_.notify_all();
    }
}

void WorkerPool::takeParts() {
    while (true) {
        std::size_t i = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (next_ >= count_) return;
            i = next_++;
        }
        try {
            (*part_)(i);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!failure_ || i < failedAt_) {
                failedAt_ = i;
                failure_ = std::current_exception();
            }
        }
    }
}

void WorkerPool::forEach(std::size_t count, const std::function<void(std::size_t)>& part) {
    if (threads_.empty() || count <= 1) {
        for (std::size_t i = 0; i < count; ++i) part(i);
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        part_ = &part;
        count_ = count;
        next_ = 0;
        failure_ = nullptr;
        ++job_;
        ++busy_;  // the calling thread
    }
    started_.notify_all();
    takeParts();
    std::exception_ptr failure;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        --busy_;
        // Every part refers to the caller's data: wait for all of them, failed or not.
        finished_.wait(lock, [&] { return busy_ == 0; });
        part_ = nullptr;
        failure = std::move(failure_);
    }
    if (failure) std::rethrow_exception(failure);
}

std::size_t rangeCount(const WorkerPool* pool, std::size_t n, std::size_t fewest) {
    if (pool == nullptr || pool->size() == 1) return 1;
    return std::clamp<std::size_t>(n / std::max<std::size_t>(fewest, 1), 1, pool->size());
}

}  // namespace quorvel
