// Polynomial estimation: the monomials of the pairs, and the portable pass that forms the normal
// equations from them. The wide pass (plano/polinomica_avx2.hpp) forms its monomials with the same
// function, so both add the same products in the same order.
#ifndef ORIENTA_PLANO_POLINOMICA_PASADAS_HPP
#define ORIENTA_PLANO_POLINOMICA_PASADAS_HPP

#include <cstdint>

#include "gemelos.hpp"
#include "interno.hpp"

namespace orienta::interno {

// The source point (dx, dy), centred, carried through the rotation (c, s) to (X′, Y′), the residual
// (ex, ey) of the target point (ddx, ddy), centred, and the monomials past the constant one, m[1]
// … m[U − 1] for U = 3, 6 or 10: of one pair for a scalar V, of one pair per lane for a vector.
// Always inlined and taking references, as the terms of the 2D similarity and for their reasons.
template <uint32_t U, class V>
[[gnu::always_inline]] inline void monomios(const V& dx, const V& dy, const V& ddx, const V& ddy, const V& c,
                                            const V& s, V m[10], V& ex, V& ey) {
  const V xp = dx * c - dy * s;
  const V yp = dx * s + dy * c;
  ex = ddx - xp;
  ey = ddy - yp;
  m[1] = xp;
  m[2] = yp;
  m[3] = xp * xp;
  m[4] = xp * yp;
  m[5] = yp * yp;
  if constexpr (U == 10) {
    m[6] = m[3] * xp;
    m[7] = xp * m[4];
    m[8] = yp * m[4];
    m[9] = m[5] * yp;
  }
}

// The monomials of pair (o, d), m[0] = 1 included, in the coordinates the similarity g carries the
// source point to, and the residuals they are fitted to.
template <uint32_t U, class T>
[[gnu::always_inline]] inline void monomios_de_par(const T* o, const T* d, const RegistroHel2Dg<T>& g, T c, T s,
                                                   T m[10], T& ex, T& ey) {
  m[0] = T(1);
  monomios<U>(o[0] - g.xc_origen, o[1] - g.yc_origen, d[0] - g.xc_destino, d[1] - g.yc_destino, c, s, m, ex, ey);
}

// Forms the normal equations of the correction: N (lower triangle of m·mᵀ, packed by rows), rx
// (m·ex) and ry (m·ey) summed over the pairs in array order, every entry its own running sum. U,
// the number of monomials, is a constant here so that the loops over j and k unroll completely:
// the entries of a row are then independent sums at fixed places, which the compiler may update
// side by side in vector lanes, each lane still one entry taking the pairs in order.
template <uint32_t U, class T>
void suma_normales(const CapaPtr<T>& pares, uint32_t n, const RegistroHel2Dg<T>& g, T c, T s, T* N, T* rx, T* ry) {
  for (uint32_t i = 0; i < n; ++i) {
    T m[10], ex, ey;
    monomios_de_par<U>(pares.origen(i), pares.destino(i), g, c, s, m, ex, ey);
#pragma GCC unroll 10
    for (uint32_t j = 0; j < U; ++j) {
      T* fila = N + j * (j + 1) / 2;
#pragma GCC unroll 10
      for (uint32_t k = 0; k <= j; ++k) fila[k] += m[j] * m[k];
      rx[j] += m[j] * ex;
      ry[j] += m[j] * ey;
    }
  }
}

}  // namespace orienta::interno

#endif
