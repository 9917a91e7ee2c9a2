// A sequence of class labels (a classified window, or the values of a stretch of its classes)
// with running class counts per block.
#pragma once

#include <cstdint>
#include <vector>

namespace quorvel {

// Positions are 0-based; classes are 1..K, 0 meaning "in no class" in a window. The sequence is cut
// into blocks of blockSize positions (the last may be shorter), and before(c)[j] counts class c
// among the positions 0 .. j*blockSize - 1, for j = 0..blocks. blockSize >= K keeps that table at
// about one count per position.
struct ClassIndex {
    int n = 0;
    int K = 0;
    int lowest = 0;  // the labels lie in lowest..K
    int blockSize = 1;
    int blocks = 0;
    std::vector<std::int32_t> label;         // class of each position
    std::vector<std::int32_t> counts;        // positions per class, lowest..K
    std::vector<std::int32_t> countsBefore;  // class-major: a row of blocks + 1 per class

    int count(int c) const { return counts[static_cast<std::size_t>(c - lowest)]; }
    const std::int32_t* before(int c) const {
        return countsBefore.data() +
               static_cast<std::size_t>(c - lowest) * (static_cast<std::size_t>(blocks) + 1);
    }
};

// Indexes a sequence of labels in lowest..K.
ClassIndex indexLabels(std::vector<std::int32_t> labels, int lowest, int K);

// 1/sqrt(i) for i = 1..n, to within an ulp (entry 0 unused).
std::vector<double> inverseRoots(int n);

// Classifies the window [first, last) into the classes (b[c-1], b[c]], c = 1..K.
ClassIndex classify(const double* first, const double* last, const std::vector<double>& b, int K);

}  // namespace quorvel
