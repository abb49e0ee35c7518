#pragma once
// Scans over per-pixel arrays whose neighbouring values are mostly equal.

// The first index from begin on (below end) whose value is not value (a NaN
// is equal to nothing), or end. Four values are compared at a time, which
// the compiler does in lanes.
template <class T>
inline int EqualRunEnd(const T* values, int begin, int end, T value) {
    int i = begin;
    for (; i + 4 <= end; i += 4) {
        const bool same = (values[i] == value) & (values[i + 1] == value) & (values[i + 2] == value) &
                          (values[i + 3] == value);
        if (!same) break;
    }
    while (i < end && values[i] == value) ++i;
    return i;
}
