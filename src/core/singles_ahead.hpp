// The band tests of classes alone, a batch at a time on the threads of a run, for a sweep that
// groups classes in turn: a class that settles by itself closes its group at once, as most
// classes of a stationary series do, so the sweep then needs those tests one after another.
#pragma once

#include "class_group.hpp"
#include "class_index.hpp"

#include <optional>
#include <vector>

namespace quorvel {

class WorkerPool;

class SinglesAhead {
public:
    // A sweep over classes from one end towards `last` (inclusive) by `step` (+1 or -1),
    // testing with multiplier z against `threshold`; without a pool nothing is tested ahead.
    SinglesAhead(const ClassIndex& index, double z, double threshold, WorkerPool* pool, int step,
                 int last);

    // Whether class c settles alone, where a batch has tested it or begins with it now;
    // nothing where the sweep is to test it itself.
    std::optional<bool> settles(int c);

    // The sweep closed a group; `alone` when it held one class. After a group of several, the
    // next start is left to the sweep, as a batch there would mostly test classes that join a
    // group.
    void closed(bool alone) { ahead_ = alone; }

private:
    void testFrom(int c);

    const ClassIndex& index_;
    double z_;
    double threshold_;
    WorkerPool* pool_;
    int step_;
    int last_;
    bool ahead_ = true;
    int first_ = 0;
    std::vector<char> passes_;  // class first_ + k * step_ at k, written by the threads
};

}  // namespace quorvel
