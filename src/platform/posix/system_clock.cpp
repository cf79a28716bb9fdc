#include "platform/clock.h"

namespace torvane {

// The monotonic clock counts every millisecond here already.
Clock& SystemClock() {
    return MonotonicClock();
}

}  // namespace torvane
