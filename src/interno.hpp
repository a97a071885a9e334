// Helpers shared by several subsystems. Nothing here has C linkage or is exported.
#ifndef ORIENTA_INTERNO_HPP
#define ORIENTA_INTERNO_HPP

#include <cstddef>
#include <cstdint>
#include <limits>

namespace orienta::interno {

// The doubles nearest to π and π/2.
inline constexpr double kPi = 3.141592653589793;
// Unit roundoff's double, and the quiet NaN every "not defined" result is written as.
inline constexpr double kEps = std::numeric_limits<double>::epsilon();
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kMedioPi = 1.5707963267948966;
// The full turn used wherever an angle is wrapped or shifted by a turn. It is deliberately
// 6.283185307179597, 12 units in the last place above the double nearest to 2π
// (6.283185307179586): results of the angle functions are reproduced bit for bit, so the larger
// value is kept. A wrapped π therefore lands just below −π.
inline constexpr double kVuelta = 6.283185307179597;

// The pointer-pair layout shared by the plane and space estimators: 2n pointers, source, target,
// source, ... Punto is const T where the points are only read and T where they are written in
// place. The index is widened before it is doubled: 2·i overflows 32 bits past 2^31 pairs.
template <class T, class Punto = const T>
struct CapaPtr {
  Punto* const* p;
  Punto* origen(uint32_t i) const { return p[2 * size_t(i)]; }
  Punto* destino(uint32_t i) const { return p[2 * size_t(i) + 1]; }
};

// The means of the coordinate sums of n pairs: sum·(1/n), the reciprocal formed once in T. The
// wide centroid passes finish here too, so every kernel divides the same way.
template <int D, class T>
void medias(const T (&so)[D], const T (&sd)[D], uint32_t n, T (&origen)[D], T (&destino)[D]) {
  const T r = T(1) / T(n);
  for (int c = 0; c < D; ++c) {
    origen[c] = so[c] * r;
    destino[c] = sd[c] * r;
  }
}

// Centroids of the D-coordinate source and target points of n pairs, read through any accessor
// with origen(i) and destino(i). Each coordinate is one running sum in array order seeded with
// +0, then multiplied by one reciprocal of the count: sum/n can differ from sum·(1/n) in the last
// place (5/3 against 5·(1/3)), and results are compared bit for bit. The float twins convert the
// count to float.
template <int D, class T, class Capa>
void centroides(const Capa& pares, uint32_t n, T (&origen)[D], T (&destino)[D]) {
  T so[D], sd[D];
  for (int c = 0; c < D; ++c) so[c] = sd[c] = T(0);
  for (uint32_t i = 0; i < n; ++i) {
    const T* o = pares.origen(i);
    const T* d = pares.destino(i);
    for (int c = 0; c < D; ++c) so[c] += o[c];
    for (int c = 0; c < D; ++c) sd[c] += d[c];
  }
  medias(so, sd, n, origen, destino);
}

}  // namespace orienta::interno

#endif
