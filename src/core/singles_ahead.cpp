#include "singles_ahead.hpp"

#include "worker_pool.hpp"

#include <algorithm>
#include <cstddef>

namespace quorvel {
namespace {

// Tests a thread makes per batch: enough to outweigh waking the threads (chosen by hand on
// long noise, where a batch of 16 was slower than none).
constexpr std::size_t kPerThread = 64;

}  // namespace

SinglesAhead::SinglesAhead(const ClassIndex& index, double z, double threshold, WorkerPool* pool,
                           int step, int last)
    : index_(index), z_(z), threshold_(threshold), pool_(pool), step_(step), last_(last) {}

std::optional<bool> SinglesAhead::settles(int c) {
    const int k = (c - first_) * step_;
    if (k >= 0 && k < static_cast<int>(passes_.size()))
        return passes_[static_cast<std::size_t>(k)] != 0;
    if (pool_ == nullptr || !ahead_ || (last_ - c) * step_ < 0) return std::nullopt;
    testFrom(c);
    return passes_.front() != 0;
}

void SinglesAhead::testFrom(int c) {
    const auto left = static_cast<std::size_t>((last_ - c) * step_ + 1);
    const std::size_t batch = std::min(kPerThread * pool_->size(), left);
    first_ = c;
    passes_.assign(batch, 0);
    pool_->forEach(batch, [&](std::size_t k) {
        ClassGroup single(index_);
        single.add(c + static_cast<int>(k) * step_);
        passes_[k] = single.passes(z_, threshold_) ? 1 : 0;
    });
}

}  // namespace quorvel
