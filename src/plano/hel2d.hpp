// 2D similarity: the estimator, written once for both precisions and all six memory layouts, and the
// conversion of its centred record to the plain form. Every value is of the scalar type T.
#ifndef ORIENTA_PLANO_HEL2D_HPP
#define ORIENTA_PLANO_HEL2D_HPP

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "anchos/despacho.hpp"
#include "gemelos.hpp"
#include "interno.hpp"
#include "orienta.h"
#include "plano/capas.hpp"
#include "plano/hel2d_avx2.hpp"
#include "plano/hel2d_pasadas.hpp"

namespace orienta::interno {

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

// The two passes, by kind of kernel: centroids first, then Qo, Qd, P and V.
template <class T, class Capa>
void pasadas_hel2d(NucleoPortable, const Capa& pares, uint32_t n, T (&co)[2], T (&cd)[2], T (&s)[4]) {
  centroides<2>(pares, n, co, cd);
  sumas_centradas(pares, n, co, cd, s);
}
#if ORIENTA_AVX2
template <class T, class Capa>
void pasadas_hel2d(NucleoAvx2, const Capa& pares, uint32_t n, T (&co)[2], T (&cd)[2], T (&s)[4]) {
  pasadas_hel2d_avx2(pares, n, co, cd, s);
}
#endif

// The only copy of the arithmetic after the passes.
template <class T>
RegistroHel2Dg<T> hel2dg_de_sumas(const T centro_o[2], const T centro_d[2], const T s[4]) {
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

// With the kernels of the kind given: the polynomial estimator, which has chosen its kind already,
// runs the similarity with the same kind as its own pass.
template <class T, class Nucleo, class Capa>
RegistroHel2Dg<T> estima_hel2dg(Nucleo nucleo, const Capa& pares, uint32_t n) {
  T centro_o[2], centro_d[2], s[4];
  pasadas_hel2d(nucleo, pares, n, centro_o, centro_d, s);
  return hel2dg_de_sumas(centro_o, centro_d, s);
}

// The exported estimators: the kind of kernel is chosen here, once per call.
template <class T, class Capa>
RegistroHel2Dg<T> estima_hel2dg(const Capa& pares, uint32_t n) {
  return con_nucleos([&](auto nucleo) { return estima_hel2dg<T>(nucleo, pares, n); });
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
