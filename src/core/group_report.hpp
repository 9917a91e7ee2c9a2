// The groups a measure forms, reported as it forms them to whoever listens on the run's thread
// (the batch engine); the result table a measure writes is the same whether anyone listens.
#pragma once

#include <cstdint>
#include <vector>

namespace quorvel {

enum class GroupKind : std::uint8_t {
    Group,       // a group the measure closed
    Core,        // NSLocaltoGlobal's core
    Unsettled,   // classes that reached the end of the range without settling
    FailedCore,  // the classes NSLocaltoGlobal's core search merged without settling a core
};

// Classes first..last (1-based), their count of values and their share as the measure took it.
struct FormedGroup {
    int first;
    int last;
    std::int64_t count;
    double share;
    GroupKind kind;
};

namespace detail {
inline thread_local std::vector<FormedGroup>* groupListener = nullptr;
}  // namespace detail

// Collects into `groups` the groups of the runs on this thread while it lives.
class GroupListener {
public:
    explicit GroupListener(std::vector<FormedGroup>& groups) : previous_(detail::groupListener) {
        detail::groupListener = &groups;
    }
    ~GroupListener() { detail::groupListener = previous_; }
    GroupListener(const GroupListener&) = delete;
    GroupListener& operator=(const GroupListener&) = delete;

private:
    std::vector<FormedGroup>* previous_;
};

inline bool groupsListenedTo() {
    return detail::groupListener != nullptr;
}

inline void reportGroup(const FormedGroup& group) {
    if (detail::groupListener != nullptr) detail::groupListener->push_back(group);
}

}  // namespace quorvel
