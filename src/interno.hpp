// Helpers shared by several subsystems. Nothing here has C linkage or is exported.
#ifndef ORIENTA_INTERNO_HPP
#define ORIENTA_INTERNO_HPP

namespace orienta::interno {

// The doubles nearest to π and π/2.
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kMedioPi = 1.5707963267948966;
// The full turn used wherever an angle is wrapped or shifted by a turn. It is deliberately
// 6.283185307179597, 12 units in the last place above the double nearest to 2π
// (6.283185307179586): results of the angle functions are reproduced bit for bit, so the larger
// value is kept. A wrapped π therefore lands just below −π.
inline constexpr double kVuelta = 6.283185307179597;

}  // namespace orienta::interno

#endif
