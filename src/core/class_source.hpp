// An indexed sequence from which the values of ranges of classes are taken, in sequence order.
#pragma once

#include "class_index.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace quorvel {

// A classified window, or a part of it taken out by class. Every part keeps its window, so that
// once the window's positions by class are built, every later part is merged from them.
class ClassSource : public std::enable_shared_from_this<ClassSource> {
public:
    // A window.
    explicit ClassSource(ClassIndex index) : index_(std::move(index)) {}
    // A part taken out of `window`.
    ClassSource(ClassIndex index, std::shared_ptr<const ClassSource> window)
        : index_(std::move(index)), window_(std::move(window)) {}

    const ClassIndex& index() const { return index_; }

    // The values of classes first..last (within the index's classes), in sequence order,
    // indexed on their own.
    std::shared_ptr<const ClassSource> extract(int first, int last) const;

private:
    const ClassSource& window() const { return window_ ? *window_ : *this; }

    Labels scanFor(int first, int last, std::int32_t values) const;
    // Merged from this source's positions by class, built on the first call.
    Labels mergeFor(int first, int last, std::int32_t values) const;
    const std::vector<std::int32_t>& positionsByClass() const;

    ClassIndex index_;
    std::shared_ptr<const ClassSource> window_;  // null for the window itself
    // The positions ordered by class, then by position; built when a small part is first taken
    // from this source, unless the window's serve. Parts of one source may be taken out on
    // several threads at once: the table is built once, and announced when complete.
    mutable std::vector<std::int32_t> byClass_;
    mutable std::once_flag byClassOnce_;
    mutable std::atomic<bool> byClassBuilt_{false};
};

}  // namespace quorvel
