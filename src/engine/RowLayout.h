#pragma once
// What the passes' row arrays and J tables share.
#include <cstdint>

// Per-target arrays and J table rows carry this many unused entries before
// index 0 and after the last one, so that whole lanes may run past either
// end of a span.
constexpr int kRowPad = 16;

// The table id of a pixel whose blur has no J table.
constexpr std::uint16_t kNoSpreadTable = 0xffff;

// J, the attenuated blur B (1 - M^2) with M = 1 - (B - w) / B, of a
// neighbour with blur B at doubled distance w. Static, so that every unit
// (the wide-lane ones among them) has its own copy built for its own
// instructions.
static inline double AttenuatedBlur(double b, double w) {
    const double m = 1.0 - (b - w) / b;
    return b * (1.0 - m * m);
}

// Sums of multiples of kExactStep below kExactBelow are exact in double
// arithmetic, in any order (both are powers of two 2^52 apart).
constexpr double kExactStep = 0x1p-24;
constexpr double kExactBelow = 0x1p28;
static inline bool IsExactStep(double v) { return v / kExactStep == __builtin_floor(v / kExactStep); }
