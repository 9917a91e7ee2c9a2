// An indexed sequence from which the values of ranges of classes are taken, in sequence order.
#pragma once

#include "class_index.hpp"

#include <cstdint>
#include <vector>

namespace quorvel {

class ClassSource {
public:
    explicit ClassSource(ClassIndex index) : index_(std::move(index)) {}

    const ClassIndex& index() const { return index_; }

    // The values of classes first..last (within the index's classes), in sequence order,
    // indexed on their own.
    ClassIndex extract(int first, int last) const;

private:
    Labels scanFor(int first, int last, std::int32_t values) const;
    Labels mergeFor(int first, int last, std::int32_t values) const;

    ClassIndex index_;
    // The positions ordered by class, then by position; built when a small part is first taken
    // (one source is taken from once per pass while it is followed). Not safe to share between
    // threads, as a source never is.
    mutable std::vector<std::int32_t> byClass_;
};

}  // namespace quorvel
