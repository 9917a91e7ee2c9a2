// A window classified once: the class of every value and, per class, where its values stand.
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
    std::vector<std::int32_t> label;     // class of each value
    std::vector<std::int32_t> firstOf;   // values of class c: positions[firstOf[c] .. firstOf[c+1])
    std::vector<std::int32_t> positions;

    int count(int c) const { return firstOf[c + 1] - firstOf[c]; }
    const std::int32_t* begin(int c) const { return positions.data() + firstOf[c]; }
    const std::int32_t* end(int c) const { return positions.data() + firstOf[c + 1]; }
};

// Classifies the window [first, last) into the classes (b[c-1], b[c]], c = 1..K.
ClassIndex classify(const double* first, const double* last, const std::vector<double>& b, int K);

}  // namespace quorvel
