// 2D similarity: the estimator, written once for both precisions and all six memory layouts, and the
// conversion of its centred record to the plain form. Every value is of the scalar type T.
#ifndef ORIENTA_PLANO_HEL2D_HPP
#define ORIENTA_PLANO_HEL2D_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "anchos/hel2d_avx2.hpp"
#include "gemelos.hpp"
#include "interno.hpp"
#include "orienta.h"

namespace orienta::interno {

// Layouts differ only in where pair i lives; that is all an accessor knows (the pointer layout,
// CapaPtr, is shared with the other estimators). Indices are widened before they are multiplied:
// 2·i and 4·i overflow 32 bits past 2^31 and 2^30 pairs.

template <class T>
struct CapaP {  // n packed records of four scalars: source x, source y, target x, target y
  const T* a;
  const T* origen(uint32_t i) const { return a + 4 * size_t(i); }
  const T* destino(uint32_t i) const { return a + 4 * size_t(i) + 2; }
};

template <class T>
struct CapaPP {  // two packed point arrays
  const T *s, *t;
  const T* origen(uint32_t i) const { return s + 2 * size_t(i); }
  const T* destino(uint32_t i) const { return t + 2 * size_t(i); }
};

// Strides count bytes and are signed: a negative stride walks an array backwards from the pointer
// given. Only the two scalars at the start of an entry are read.
template <class T>
struct CapaG {  // one strided array, source and target entries alternating
  const unsigned char* b;
  int64_t d;
  const T* origen(uint32_t i) const { return reinterpret_cast<const T*>(b + 2 * int64_t(i) * d); }
  const T* destino(uint32_t i) const { return reinterpret_cast<const T*>(b + (2 * int64_t(i) + 1) * d); }
};

template <class T>
struct CapaMixed {  // two strided arrays with their own strides (gg passes the same stride twice)
  const unsigned char *s, *t;
  int64_t ds, dt;
  const T* origen(uint32_t i) const { return reinterpret_cast<const T*>(s + int64_t(i) * ds); }
  const T* destino(uint32_t i) const { return reinterpret_cast<const T*>(t + int64_t(i) * dt); }
};

template <class T>
const unsigned char* bytes(const T* p) {
  return reinterpret_cast<const unsigned char*>(p);
}

// The turn when P² + V² has left the range (+∞ or 0). If P and V are finite and not both 0, k
// would be 0 (or ∞) and the turn lost: they are first divided by their larger magnitude, which
// keeps the direction and brings the squares back into range. Anything else keeps the plain
// formula. Out of line and cold, so that the estimator's loops compile as if it were not there
// (GCC otherwise keeps P and V in two forms through the second pass).
template <class T>
[[gnu::noinline, gnu::cold]] void giro_fuera_de_rango(T p, T v, T pv, T& coseno, T& seno) {
  if (std::isfinite(p) && std::isfinite(v) && !(p == T(0) && v == T(0))) {
    const T m = std::max(std::fabs(p), std::fabs(v));
    p = p / m;
    v = v / m;
    pv = p * p + v * v;
  }
  const T k = T(1) / std::sqrt(pv);
  coseno = k * p;
  seno = k * v;
}

// (cos, sin) = k·(P, V), k = 1/√(P² + V²): the least-squares rotation; no angle is ever formed.
template <class T>
void giro_unitario(T p, T v, T& coseno, T& seno) {
  const T pv = p * p + v * v;
  if (pv == std::numeric_limits<T>::infinity() || pv == T(0)) return giro_fuera_de_rango(p, v, pv, coseno, seno);
  const T k = T(1) / std::sqrt(pv);
  coseno = k * p;
  seno = k * v;
}

// The portable second pass: the spreads and the dot and cross sums from coordinates already
// centred (raw moments of one pass would cancel badly far from the origin). Every sum is one
// accumulator running in array order, and each point's term is formed in full before it is added,
// so the six layouts agree to the last bit.
template <class T, class Capa>
void sumas_centradas(const Capa& pares, uint32_t n, const T co[2], const T cd[2], T s[4]) {
  T qo = T(0), qd = T(0), p = T(0), v = T(0);
  for (uint32_t i = 0; i < n; ++i) {
    const T* o = pares.origen(i);
    const T* d = pares.destino(i);
    const T dxo = o[0] - co[0];
    const T dyo = o[1] - co[1];
    const T dxd = d[0] - cd[0];
    const T dyd = d[1] - cd[1];
    qo += dxo * dxo + dyo * dyo;
    qd += dxd * dxd + dyd * dyd;
    p += dxo * dxd + dyo * dyd;
    v += dxo * dyd - dyo * dxd;
  }
  s[0] = qo;
  s[1] = qd;
  s[2] = p;
  s[3] = v;
}

// The only copy of the arithmetic after the passes. Two passes: centroids first, then Qo, Qd, P
// and V; the AVX2 kernels, where the processor has them, make the same additions in the same
// order.
template <class T, class Capa>
RegistroHel2Dg<T> estima_hel2dg(const Capa& pares, uint32_t n) {
  T centro_o[2], centro_d[2], s[4];
#if ORIENTA_AVX2
  if (usa_avx2()) {
    pasadas_hel2d_avx2(pares, n, centro_o, centro_d, s);
  } else
#endif
  {
    centroides<2>(pares, n, centro_o, centro_d);
    sumas_centradas(pares, n, centro_o, centro_d, s);
  }
  RegistroHel2Dg<T> g;
  g.xc_origen = centro_o[0];
  g.yc_origen = centro_o[1];
  g.xc_destino = centro_d[0];
  g.yc_destino = centro_d[1];
  // Ratio of the root-sum-square spreads, not the least-squares scale √(P²+V²)/Qo: the quotient
  // first, then one root.
  g.escala = std::sqrt(s[1] / s[0]);
  giro_unitario(s[2], s[3], g.cos_giro, g.sen_giro);
  return g;
}

// tx, ty = source centroid − (1/escala)·Rᵀ·target centroid, with the groupings below fixed for
// reproducibility. c′ and s′ are products with the reciprocal, not quotients by escala.
template <class T>
RegistroHel2D<T> hel2d_de_hel2dg(const RegistroHel2Dg<T>& g) {
  const T u = T(1) / g.escala;
  const T c = u * g.cos_giro;
  const T s = u * g.sen_giro;
  RegistroHel2D<T> h;
  h.tx = (g.xc_origen - g.xc_destino * c) - g.yc_destino * s;
  h.ty = (g.xc_destino * s + g.yc_origen) - g.yc_destino * c;
  h.escala = g.escala;
  h.cos_giro = g.cos_giro;
  h.sen_giro = g.sen_giro;
  return h;
}

}  // namespace orienta::interno

#endif
