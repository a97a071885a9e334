// 2D similarity: the terms of centred pairs, and the portable second pass that sums them. The
// wide pass (plano/hel2d_avx2.hpp) forms its terms with the same function, so both add the same
// terms in the same order.
#ifndef ORIENTA_PLANO_HEL2D_PASADAS_HPP
#define ORIENTA_PLANO_HEL2D_PASADAS_HPP

#include <cstdint>

namespace orienta::interno {

// The terms of Qo, Qd, P and V of a centred pair, into t: of one pair for a scalar V, of one pair
// per lane for a vector. Always inlined: given vectors, they must become part of the wide kernel
// that calls them (a copy of their own would be built for the portable target); the arguments and
// the result are references for the same reason, as vectors cannot be passed by value between the
// two targets.
template <class V>
[[gnu::always_inline]] inline void cuadrado(const V& dx, const V& dy, V& t) {  // Qo, Qd
  t = dx * dx + dy * dy;
}
template <class V>
[[gnu::always_inline]] inline void escalar(const V& dxo, const V& dyo, const V& dxd, const V& dyd, V& t) {  // P
  t = dxo * dxd + dyo * dyd;
}
template <class V>
[[gnu::always_inline]] inline void vectorial(const V& dxo, const V& dyo, const V& dxd, const V& dyd, V& t) {  // V
  t = dxo * dyd - dyo * dxd;
}

// Adds the terms of pair (o, d), centred on co and cd, to the running sums Qo, Qd, P and V, each
// term as soon as it is formed (in this order GCC keeps the portable pass's sums in registers).
template <class T>
[[gnu::always_inline]] inline void suma_par_hel2d(const T* o, const T* d, const T co[2], const T cd[2], T& qo, T& qd,
                                                  T& p, T& v) {
  const T dxo = o[0] - co[0];
  const T dyo = o[1] - co[1];
  const T dxd = d[0] - cd[0];
  const T dyd = d[1] - cd[1];
  T t;
  cuadrado(dxo, dyo, t);
  qo = qo + t;
  cuadrado(dxd, dyd, t);
  qd = qd + t;
  escalar(dxo, dyo, dxd, dyd, t);
  p = p + t;
  vectorial(dxo, dyo, dxd, dyd, t);
  v = v + t;
}

// The portable second pass: the spreads and the dot and cross sums from coordinates already
// centred (raw moments of one pass would cancel badly far from the origin). Every sum is one
// accumulator running in array order, so the six layouts agree to the last bit.
template <class T, class Capa>
void sumas_centradas(const Capa& pares, uint32_t n, const T co[2], const T cd[2], T s[4]) {
  T qo = T(0), qd = T(0), p = T(0), v = T(0);
  for (uint32_t i = 0; i < n; ++i) suma_par_hel2d(pares.origen(i), pares.destino(i), co, cd, qo, qd, p, v);
  s[0] = qo;
  s[1] = qd;
  s[2] = p;
  s[3] = v;
}

}  // namespace orienta::interno

#endif
