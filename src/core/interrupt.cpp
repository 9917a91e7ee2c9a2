#include "interrupt.hpp"

namespace quorvel::detail {

// Out of line: the rare path stays out of the loops that poll.
void runInterruptCheck() {
    interruptState.workSinceCheck = 0;
    if (interruptState.check != nullptr) interruptState.check();
}

}  // namespace quorvel::detail
