// A sequence of class labels (a classified window, or the values of a stretch of its classes)
// with running class counts per block.
#pragma once

#include "run_buffer.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel {

class WorkerPool;

// Positions are 0-based; classes are 1..K, 0 meaning "in no class" in a window. The sequence is
// cut into blocks of blockSize positions (the last may be shorter), and for every block boundary
// j = 0..blocks the index keeps how many of the positions before it have a class up to c, for
// every class c: any range of classes then counts its positions before a boundary with one
// subtraction. blockSize >= K keeps that table at about one count per position.
struct ClassIndex {
    int n = 0;
    int K = 0;
    int lowest = 0;  // the labels lie in lowest..K
    int blockSize = 1;
    int blocks = 0;
    Labels label;                      // class of each position
    std::vector<std::int32_t> counts;  // positions per class, lowest..K
    // Class-major: row c - lowest holds, for j = 0..blocks, the positions before j*blockSize
    // whose class lies in lowest..c.
    RunBuffer<std::int32_t> upToBefore;

    int count(int c) const { return counts[static_cast<std::size_t>(c - lowest)]; }

    // Positions whose class lies in first..last.
    std::int32_t rangeCount(int first, int last) const { return rangeBefore(first, last, blocks); }

    // Positions before block boundary j whose class lies in first..last.
    std::int32_t rangeBefore(int first, int last, int j) const {
        const std::size_t stride = static_cast<std::size_t>(blocks) + 1;
        const std::int32_t upToLast = upToBefore[static_cast<std::size_t>(last - lowest) * stride +
                                                 static_cast<std::size_t>(j)];
        if (first <= lowest) return upToLast;
        return upToLast - upToBefore[static_cast<std::size_t>(first - 1 - lowest) * stride +
                                     static_cast<std::size_t>(j)];
    }
};

// Blocks of at least this many positions keep the work per block small beside the positions.
constexpr int kFewestPerBlock = 32;

// The fewest positions per block of a classified window of n values: a short window takes
// blocks down to 16 values, which its band tests decide whole more often than they would walk.
constexpr int fewestPerBlockOfWindow(std::size_t n) {
    return n < 4096 ? 16 : kFewestPerBlock;
}

// Blocks per range of a sequence's labels handled on one thread: ranges of at least about 2^18
// values.
std::size_t fewestBlocksPerRange(int blockSize);

// Indexes a sequence of labels in lowest..K, in blocks of at least fewestPerBlock positions, on
// the threads of `pool` (null: the calling thread alone).
ClassIndex indexLabels(Labels labels, int lowest, int K, int fewestPerBlock = kFewestPerBlock,
                       WorkerPool* pool = nullptr);

// Classifies the window [first, last) into the classes (b[c-1], b[c]], c = 1..K, on the threads
// of `pool` (null: the calling thread alone).
ClassIndex classify(const double* first, const double* last, const std::vector<double>& b, int K,
                    WorkerPool* pool = nullptr);

}  // namespace quorvel
