#include "batch.hpp"

#include "../core/interrupt.hpp"
#include "../core/run_buffer.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

namespace quorvel::engine {
namespace {

// Thrown inside a worker's run when the batch is being stopped.
struct Stopped {};

// The stop flag of the batch a worker thread serves, read by its runs' interrupt checks.
thread_local const std::atomic<bool>* stopOfThisThread = nullptr;

void stopIfAsked() {
    if (stopOfThisThread != nullptr && stopOfThisThread->load(std::memory_order_relaxed))
        throw Stopped{};
}

class Batch {
public:
    Batch(std::size_t count, const Task& task) : count_(count), task_(task), results_(count) {}

    void work() {
        const InterruptScope interruptible(&stopIfAsked);
        stopOfThisThread = &stop_;
        // A worker's runs mostly ask for arrays of the sizes its last run released. A batch of
        // one run may share it with a pool's threads, whose requests would not find them.
        std::optional<KeptRunMemory> kept;
        if (count_ > 1) kept.emplace();
        Scratch scratch;
        while (!stop_.load(std::memory_order_relaxed)) {
            const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
            if (i >= count_ || i > failedAt_.load(std::memory_order_relaxed)) break;
            try {
                const Figures result = task_(i, scratch);
                results_.value[i] = result.value;
                results_.H0[i] = result.H0;
                results_.H[i] = result.H;
            } catch (const Stopped&) {
                break;
            } catch (...) {
                fail(i, std::current_exception());
            }
            // Counted without waking the waiting thread, which reads the count on its own time.
            done_.fetch_add(1, std::memory_order_relaxed);
        }
        stopOfThisThread = nullptr;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++finished_;
        }
        progressed_.notify_one();
    }

    // Waits for `workers` threads to finish, calling wait() between times: woken only when a
    // worker finishes, since a wake-up per task costs more than a short run.
    void await(unsigned workers, const Wait& wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (finished_ < workers) {
            progressed_.wait_for(lock, std::chrono::milliseconds(50),
                                 [&] { return finished_ == workers; });
            const std::size_t done = done_.load(std::memory_order_relaxed);
            lock.unlock();
            wait(done);
            lock.lock();
        }
    }

    void stop() { stop_.store(true, std::memory_order_relaxed); }

    BatchResults take() {
        if (failure_) std::rethrow_exception(failure_);
        return std::move(results_);
    }

private:
    void fail(std::size_t i, std::exception_ptr error) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (i < failedAt_.load(std::memory_order_relaxed)) {
            failedAt_.store(i, std::memory_order_relaxed);
            failure_ = std::move(error);
        }
    }

    const std::size_t count_;
    const Task& task_;
    BatchResults results_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    // Tasks after the lowest failed one need not run; those before it still do, so the failure
    // reported is the same for any number of workers.
    std::atomic<std::size_t> failedAt_{std::numeric_limits<std::size_t>::max()};
    std::exception_ptr failure_;
    std::mutex mutex_;
    std::condition_variable progressed_;
    std::atomic<std::size_t> done_{0};
    unsigned finished_ = 0;
};

// Joins every thread on every exit path.
class Workers {
public:
    Workers(unsigned count, Batch& batch) {
        try {
            threads_.reserve(count);
            for (unsigned k = 0; k < count; ++k) threads_.emplace_back([&batch] { batch.work(); });
        } catch (...) {
            batch.stop();
            joinAll();
            throw;
        }
    }
    ~Workers() { joinAll(); }
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

private:
    void joinAll() {
        for (std::thread& thread : threads_) thread.join();
    }

    std::vector<std::thread> threads_;
};

}  // namespace

BatchResults runTasks(std::size_t count, unsigned workers, const Task& task, const Wait& wait) {
    Batch batch(count, task);
    const auto threads =
        static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>(workers, count)));
    {
        Workers running(threads, batch);
        try {
            batch.await(threads, wait);
        } catch (...) {
            batch.stop();
            throw;  // the workers are joined on the way out
        }
    }
    return batch.take();
}

}  // namespace quorvel::engine
