// The one way to read the cancel flag: an interlocked compare-exchange of 1 against 1 returns
// the current value with a full barrier and never changes it.
#pragma once

#include <windows.h>

inline bool cancel_requested(volatile LONG* cancel_flag) {
    return InterlockedCompareExchange(cancel_flag, 1, 1) == 1;
}
