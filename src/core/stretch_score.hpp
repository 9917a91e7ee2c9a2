// How well the share of a range of classes settles along a stretch of a classified sequence:
// the band test of the running share and of its complement, judged in one walk.
#pragma once

#include "band.hpp"
#include "class_index.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace quorvel {

// The values of classes first..last of `source`, in sequence order. The source's block counts
// give the stretch's position and counts at every block boundary, so a stretch that fills most
// of its source is followed through it instead of being copied.
struct StretchView {
    const ClassIndex* source;
    int first;
    int last;

    // Values of the stretch before block boundary j of the source.
    std::int32_t before(int j) const { return source->rangeBefore(first, last, j); }
    std::int32_t size() const { return before(source->blocks); }
};

// Band tests over the inner boundaries of one stretch (band multiplier z, each band around its
// series' last element). The stretch's positions at the source's block boundaries, and the
// roots there, are shared by every boundary.
class StretchScorer {
public:
    // strayAt[q] is where along its stretch (a fraction of the stretch's values) boundary q was
    // last found out of reach, negative when never: the part of a stretch that the next pass
    // examines holds mostly the same values, so a boundary tends to stray there again, and that
    // block is judged first.
    StretchScorer(const StretchView& stretch, double z, std::vector<double>& strayAt);

    // The smaller of two in-band counts: that of the running share p_t of classes first..q
    // among the stretch's first t values, and that of its complement 1 - p_t. Counting stops as
    // soon as either count can no longer reach `atLeast`, and the value returned is then below
    // `atLeast`; otherwise it is exact.
    std::int64_t settledCount(int q, std::int64_t atLeast);

private:
    class Boundary;

    // The phases of settledCount: the probes of blocks likely to lie outside a band, which
    // give the value to return when they show the boundary out of reach, then the count itself.
    std::optional<std::int64_t> probeStrayed(Boundary& boundary, int q, std::int64_t allowed);
    std::optional<std::int64_t> probeSpread(Boundary& boundary, int q, std::int64_t allowed);
    std::int64_t countRuns(Boundary& boundary, int q, std::int64_t allowed);
    // Judges source block j whole in this probing round, tallying its positions found outside.
    BandVerdicts judgeWhole(Boundary& boundary, int j);
    bool empty(int j) const;  // whether source block j holds none of the stretch's values

    // The block holding the stretch's values at `fraction` of the way through.
    int blockAt(double fraction) const;
    // Notes that boundary q went out of reach in block j, and the value to return for it.
    std::int64_t outOfReach(int q, int j, std::int64_t mostOutside);

    StretchView stretch_;
    double z_;
    std::int32_t n_;
    std::vector<std::int32_t> position_;  // stretch values before each source block boundary
    // ~1/sqrt of the stretch's position before each source block boundary (1 for none): that
    // of a block's last position, and of the one before its first, which bounds the roots of
    // all its positions from above.
    std::vector<double> rootAt_;
    std::vector<std::uint32_t> probedIn_;  // the probing round that last judged each block
    std::uint32_t probeRound_ = 0;
    int lastOutside_ = 0;  // a block found outside for the previous boundary
    std::vector<double>* strayAt_;
};

}  // namespace quorvel
