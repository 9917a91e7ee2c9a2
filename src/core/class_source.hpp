// An indexed sequence from which the values of ranges of classes are taken, in sequence order.
#pragma once

#include "class_index.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace quorvel {

// The positions of a sequence ordered by class, then by position, with where each class's
// begin: built on first need, once, whichever thread needs it, and announced when complete.
class PositionsByClass {
public:
    // The table of `index`, built on the first call, on the threads of `pool` (null: the
    // calling thread alone).
    const PositionsByClass& of(const ClassIndex& index, WorkerPool* pool);
    bool built() const { return built_.load(std::memory_order_acquire); }

    int n = 0;
    int lowest = 0;
    // Ordinary heap memory: on huge pages, as run storage, draws of 2*10^6 values took 3% more.
    std::vector<std::int32_t> positions;
    std::vector<std::size_t> start;  // where class lowest + k begins, for k = 0..classes

private:
    std::once_flag once_;
    std::atomic<bool> built_{false};
};

// A classified window, or a part of it taken out by class. Every part shares its window's
// positions by class (not the window itself, which is released once no stretch reads it), so
// that once they are built, every later part is merged from them.
class ClassSource {
public:
    // A window.
    explicit ClassSource(ClassIndex index)
        : index_(std::move(index)),
          positions_(std::make_shared<PositionsByClass>()),
          windowPositions_(positions_) {}
    // A part of the window whose positions are `windowPositions`.
    ClassSource(ClassIndex index, std::shared_ptr<PositionsByClass> windowPositions)
        : index_(std::move(index)),
          positions_(std::make_shared<PositionsByClass>()),
          windowPositions_(std::move(windowPositions)) {}

    const ClassIndex& index() const { return index_; }

    // The values of classes first..last (within the index's classes), in sequence order,
    // indexed on their own, on the threads of `pool` (null: the calling thread alone). Parts of
    // one source may be taken out on several threads at once.
    std::shared_ptr<const ClassSource> extract(int first, int last, WorkerPool* pool) const;

    // Whether extract(first, last) builds a table of positions by class, and that table built
    // beforehand on the threads of `pool`.
    bool extractBuildsTable(int first, int last) const;
    void prepareExtract(int first, int last, WorkerPool* pool) const;

    // extract(first, split) and extract(split + 1, last) at once: where both would scan the
    // blocks holding their values, one scan fills both.
    std::pair<std::shared_ptr<const ClassSource>, std::shared_ptr<const ClassSource>> extractBoth(
        int first, int split, int last, WorkerPool* pool) const;

private:
    // Whether the part of classes first..last, of `values` values, is merged from positions by
    // class rather than scanned for.
    bool mergesPart(std::int32_t values) const;
    std::shared_ptr<const ClassSource> indexed(Labels labels, int first, int last,
                                               WorkerPool* pool) const;

    ClassIndex index_;
    // This source's positions by class, built when a small part is first taken from it, unless
    // the window's serve.
    std::shared_ptr<PositionsByClass> positions_;
    std::shared_ptr<PositionsByClass> windowPositions_;
};

}  // namespace quorvel
