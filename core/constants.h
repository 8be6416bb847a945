// Constants that the program has always used as single-precision values
// widened to double.  Results depend on them in the last digits (angle
// conversions, far-field factors, the surface parametrisation), so every
// file takes them from here instead of writing its own.
#pragma once

namespace quarel {

// pi, its multiples and the degree factor, as the nearest float.
constexpr double kPiSingle = static_cast<double>(3.1415927f);      // 3.1415927410125732
constexpr double kTwoPiSingle = static_cast<double>(6.2831855f);   // 6.2831854820251465
constexpr double kHalfPiSingle = static_cast<double>(1.5707964f);  // 1.5707963705062866
constexpr double kThreeHalfPiSingle = static_cast<double>(4.712389f);
constexpr double kDeg180Single = static_cast<double>(180.0f);

// Ratio of specific heats of air, as the input reader sets it.
constexpr double kGammaSingle = static_cast<double>(1.4f);

// Rounds to single precision.  Out of line on purpose: GCC 12 at -O2/-O3
// was seen to drop an inlined double -> float -> double round trip when it
// vectorised neighbouring products, which changes the last digits.
[[gnu::noinline]] double RoundSingle(double v);

}  // namespace quarel
