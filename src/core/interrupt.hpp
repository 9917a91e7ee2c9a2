// Stopping a long run from outside: the caller installs a check for its thread, and the run
// offers it the chance to stop at coarse points. The check stops the run by throwing; every
// working array of a run is owned by RAII, so nothing leaks, and a run commits its results only
// when it returns, so an abandoned run leaves the estimator as it was.
#pragma once

#include <cstdint>

namespace quorvel {

// Throws to abandon the run; returns to let it go on.
using InterruptCheck = void (*)();

namespace detail {

struct InterruptState {
    InterruptCheck check = nullptr;
    std::int64_t workSinceCheck = 0;
};

// Per thread, so that runs on several threads each answer to their own caller. Initial-exec:
// one load from the thread pointer, with no call to resolve the variable at every poll.
inline thread_local InterruptState interruptState __attribute__((tls_model("initial-exec")));

// Work between two checks, in units of about one value handled: of the order of a millisecond.
constexpr std::int64_t kWorkBetweenChecks = std::int64_t{1} << 20;

void runInterruptCheck();

}  // namespace detail

// Installs `check` for the calling thread while it lives, restoring the previous one after.
class InterruptScope {
public:
    explicit InterruptScope(InterruptCheck check) : previous_(detail::interruptState.check) {
        detail::interruptState.check = check;
        detail::interruptState.workSinceCheck = 0;
    }
    ~InterruptScope() { detail::interruptState.check = previous_; }
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    InterruptCheck previous_;
};

// Counts `work` done and, every kWorkBetweenChecks of it, runs the installed check (which may
// throw). Cheap enough for every block of work; too dear for every value.
inline void pollInterrupt(std::int64_t work) {
    detail::InterruptState& state = detail::interruptState;
    state.workSinceCheck += work;
    if (state.workSinceCheck >= detail::kWorkBetweenChecks) detail::runInterruptCheck();
}

}  // namespace quorvel
