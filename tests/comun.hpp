// Shared by the unit tests: the typed-suite scalars, 3×3 matrices and a reference rotation written
// independently of the library, largest deviation and bit comparison.
#ifndef ORIENTA_PRUEBAS_COMUN_HPP
#define ORIENTA_PRUEBAS_COMUN_HPP

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "gemelos.hpp"

namespace prueba {

using Escalares = ::testing::Types<double, float>;

template <class A, class B>
bool mismos_bits(const A& a, const B& b) {
  static_assert(sizeof(A) == sizeof(B), "objects of one size");
  return std::memcmp(&a, &b, sizeof a) == 0;
}

template <class T>
using M3 = std::array<T, 9>;  // by rows, element 3·i + j

// cos θ·I + sin θ·[n]× + (1 − cos θ)·n·nᵀ, n = eje normalised here.
template <class T>
M3<T> rotacion(std::array<T, 3> eje, T angulo) {
  const T l = std::sqrt(eje[0] * eje[0] + eje[1] * eje[1] + eje[2] * eje[2]);
  const T x = eje[0] / l, y = eje[1] / l, z = eje[2] / l;
  const T c = std::cos(angulo), s = std::sin(angulo), t = 1 - c;
  return {t * x * x + c,     t * x * y - s * z, t * x * z + s * y, t * x * y + s * z, t * y * y + c,
          t * y * z - s * x, t * x * z - s * y, t * y * z + s * x, t * z * z + c};
}

// Largest |a_k − b_k| over n entries, in long double.
template <class A, class B>
long double desvio(const A* a, const B* b, int n = 9) {
  long double d = 0;
  for (int k = 0; k < n; ++k) d = std::max(d, std::fabs((long double)a[k] - (long double)b[k]));
  return d;
}

}  // namespace prueba

#endif
