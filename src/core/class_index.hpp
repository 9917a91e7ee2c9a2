// A window classified once: the class of every value, and running class counts per block.
#pragma once

#include <cstdint>
#include <vector>

namespace quorvel {

// Positions are 0-based window indices; classes are 1..K, 0 meaning "in no class".
struct ClassIndex {
    int n = 0;
    int K = 0;
    // Whether b_0..b_K ascend without NaN: then a value lies in (b_s, b_e] exactly when its
    // class is one of s+1..e, so ranges of classes can be read off the labels.
    bool ordered = false;
    std::vector<std::int32_t> label;   // class of each value
    std::vector<std::int32_t> counts;  // values per class, 0..K

    // The window cut into blocks of blockSize positions (the last may be shorter), with the
    // count of each class before every block boundary: before(c)[j] counts class c among the
    // positions 0 .. j*blockSize - 1, for j = 0..blocks. blockSize >= K keeps this table at
    // about one int per value.
    int blockSize = 1;
    int blocks = 0;
    std::vector<std::int32_t> countsBefore;  // class-major: (K + 1) rows of blocks + 1

    int count(int c) const { return counts[static_cast<std::size_t>(c)]; }
    const std::int32_t* before(int c) const {
        return countsBefore.data() + static_cast<std::size_t>(c) * (static_cast<std::size_t>(blocks) + 1);
    }
};

// Classifies the window [first, last) into the classes (b[c-1], b[c]], c = 1..K.
ClassIndex classify(const double* first, const double* last, const std::vector<double>& b, int K);

}  // namespace quorvel
