// NSLefttoRight: one sweep from the lowest class upward, closing each group of adjacent
// classes as soon as its running proportion settles.
#include "measures.hpp"

#include "../core/class_group.hpp"
#include "../core/classes.hpp"
#include "../core/entropy.hpp"
#include "../core/worker_pool.hpp"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

namespace quorvel {
namespace {

// Columns 3..5: for each class that ends a group, its upper boundary and the group's count
// and share, summed over the group's classes in ascending order.
void reportGroups(const std::vector<bool>& endsGroup, int K, Eigen::MatrixXd& A) {
    double groupCount = 0.0;
    double groupShare = 0.0;
    for (int c = 1; c <= K; ++c) {
        groupCount += A(c, 1);
        groupShare += A(c, 2);
        if (endsGroup[static_cast<std::size_t>(c)]) {
            A(c, 3) = A(c, 0);
            A(c, 4) = groupCount;
            A(c, 5) = groupShare;
            groupCount = 0.0;
            groupShare = 0.0;
        }
    }
}

// With threads, the band tests of the classes from s up, each alone, are made a batch at a
// time while classes settle by themselves, as most classes of a stationary series do: the
// sweep then needs those tests in turn. After a group of several classes, the next start is
// tested alone first, as a batch there would mostly test classes that join a group. They are
// the sweep's own tests, so they decide as the sweep would.
class SinglesAhead {
public:
    SinglesAhead(const ClassIndex& index, const MeasureSettings& settings)
        : index_(index), settings_(settings) {}

    // Whether class s settles alone, where a batch has tested it or begins with it now.
    std::optional<bool> settles(int s) {
        if (s >= first_ && s < first_ + static_cast<int>(passes_.size()))
            return passes_[static_cast<std::size_t>(s - first_)] != 0;
        if (settings_.pool == nullptr || !ahead_ || s >= settings_.K) return std::nullopt;
        testFrom(s);
        return passes_.front() != 0;
    }

    // The sweep closed the group s..e.
    void closed(int s, int e) { ahead_ = s == e; }

private:
    void testFrom(int s) {
        const std::size_t batch = std::min<std::size_t>(kPerThread * settings_.pool->size(),
                                                        static_cast<std::size_t>(settings_.K - s));
        first_ = s;
        passes_.assign(batch, 0);
        settings_.pool->forEach(batch, [&](std::size_t k) {
            ClassGroup single(index_);
            single.add(s + static_cast<int>(k));
            passes_[k] = single.passes(settings_.z, settings_.threshold) ? 1 : 0;
        });
    }

    // Tests a thread makes per batch: enough to outweigh waking the threads.
    static constexpr std::size_t kPerThread = 64;
    const ClassIndex& index_;
    const MeasureSettings& settings_;
    bool ahead_ = true;
    int first_ = 0;
    std::vector<char> passes_;  // one per class from first_, written by the threads
};

}  // namespace

void NSLefttoRight(const double* first, const double* last, const MeasureSettings& settings,
                   MeasureResult& result) {
    const int K = settings.K;
    // Whether class c ends a group (c = 0 stands for the boundary below the first).
    std::vector<bool> endsGroup(static_cast<std::size_t>(K) + 1, false);
    endsGroup[0] = true;
    endsGroup[static_cast<std::size_t>(K)] = true;

    // Offset lowest boundary and single-precision positions, as the reference records have them
    // for this measure (single precision differs from exact positions only past 2^24 values).
    const ClassIndex index =
        classifyWindow(first, last, K, settings.binning, LowestBoundary::Offset,
                       PositionPrecision::Single, &result.H0, result.table, settings.pool);

    result.H = 0.0;
    SinglesAhead singles(index, settings);
    for (int s = 1; s <= K;) {
        // The group s..e grows one class at a time until it settles or reaches class K.
        ClassGroup group(index);
        for (int e = s;; ++e) {
            group.add(e);
            // The group reaching class K closes untested.
            const std::optional<bool> alone = e == s ? singles.settles(s) : std::nullopt;
            const bool closes =
                e == K || (alone ? *alone : group.passes(settings.z, settings.threshold));
            if (!closes) continue;
            singles.closed(s, e);
            result.H = subtractEntropyTerm(result.H, group.share());
            if (settings.groups)
                result.groups.push_back(
                    {s, e, index.rangeCount(s, e), group.share(), GroupKind::Group});
            endsGroup[static_cast<std::size_t>(e)] = true;
            s = e + 1;
            break;
        }
    }
    result.value = 1.0 - result.H / result.H0;
    reportGroups(endsGroup, K, result.table);
}

}  // namespace quorvel
