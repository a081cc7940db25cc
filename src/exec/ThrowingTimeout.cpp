#include "exec/ThrowingTimeout.h"

void CancellationFlag::set() {
    const std::lock_guard guard(lock);
    cancelled = true;
}

bool CancellationFlag::isSet() const {
    const std::lock_guard guard(lock);
    return cancelled;
}
