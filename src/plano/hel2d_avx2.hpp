// The two passes of the 2D similarity on AVX2, for any layout accessor, written once for both
// precisions: four pairs at a time in Cuatro<T> (double in a whole register, float in half of one).
// The terms are those of cuadrado, escalar and vectorial, and the pairs left over take
// suma_par_hel2d, as in the portable pass, so the bits are the same.
//
// Pass 1 holds the four coordinate sums (Σxs, Σys, Σxt, Σyt) as the four lanes of one register:
// one vector addition per pair, each lane one accumulator taking the pairs in order. Pass 2 forms
// the centred terms of four pairs at once, one pair per lane, transposes them so that each register
// holds one pair's (Qo, Qd, P, V) terms, and adds those four registers to the running sums in pair
// order.
//
// Two packed point arrays (the pp layout) are deinterleaved by blending loads that start one
// scalar apart instead of by shuffles: (x0 y0 x1 y1) and (y1 x2 y2 x3) blend to (x0 x2 x1 x3).
// Blends run on any of the three vector ports, shuffles on two; with the subtractions, the term
// additions and the transpose competing for those two, this is what bounds the pass. The lanes
// then hold the pairs in the order (0, 2, 1, 3), which the transpose undoes. Packed records of
// four (the p layout) take the same blends over loads of two halves, a record apart.
#ifndef ORIENTA_PLANO_HEL2D_AVX2_HPP
#define ORIENTA_PLANO_HEL2D_AVX2_HPP

#include "anchos/despacho.hpp"
#include "anchos/vectores.hpp"
#include "plano/capas.hpp"
#include "plano/hel2d_pasadas.hpp"

#if ORIENTA_AVX2
#  include <cstdint>
#  include <type_traits>

namespace orienta::interno {

template <class Capa>
inline constexpr bool kDosArreglos = false;
template <class T>
inline constexpr bool kDosArreglos<CapaPP<T>> = true;
template <class Capa>
inline constexpr bool kRegistros = false;
template <class T>
inline constexpr bool kRegistros<CapaP<T>> = true;

// x of points 0, 2, 1, 3 of a packed array from p (y of them from p + 1): the first load's lanes
// 0 and 2, the second's 1 and 3. Reads p[0 … 6].
ORIENTA_CON_AVX2 inline __m256d desentrelaza(const double* p) {
  return alterna(_mm256_loadu_pd(p), _mm256_loadu_pd(p + 3));
}
ORIENTA_CON_AVX2 inline __m128 desentrelaza(const float* p) { return alterna(_mm_loadu_ps(p), _mm_loadu_ps(p + 3)); }

template <class T, class Capa>
ORIENTA_CON_AVX2 void centroides_hel2d_avx2(const Capa& pares, uint32_t n, T (&co)[2], T (&cd)[2]) {
  Cuatro<T> suma = difunde_cuatro(T(0));  // Σxs, Σys, Σxt, Σyt
  for (uint32_t i = 0; i < n; ++i) suma = suma + dos(pares.origen(i), pares.destino(i));
  T sumas[4];
  guarda(sumas, suma);
  const T so[2] = {sumas[0], sumas[1]}, sd[2] = {sumas[2], sumas[3]};
  medias(so, sd, n, co, cd);
}

// Adds the terms of four pairs, given as their coordinates one pair per lane and centred on c
// here, to the running sums acc = (Qo, Qd, P, V); kCruzados as for suma_por_pares.
template <bool kCruzados, class V>
ORIENTA_CON_AVX2 inline V suma_cuatro(V acc, V xo, V yo, V xd, V yd, const V c[4]) {
  const V dxo = xo - c[0], dyo = yo - c[1], dxd = xd - c[2], dyd = yd - c[3];
  V qo, qd, p, v;
  cuadrado(dxo, dyo, qo);
  cuadrado(dxd, dyd, qd);
  escalar(dxo, dyo, dxd, dyd, p);
  vectorial(dxo, dyo, dxd, dyd, v);
  return suma_por_pares<kCruzados>(acc, qo, qd, p, v);
}

template <class T, class Capa>
ORIENTA_CON_AVX2 void sumas_centradas_avx2(const Capa& pares, uint32_t n, const T co[2], const T cd[2], T s[4]) {
  using V = Cuatro<T>;
  const V c[4] = {difunde_cuatro(co[0]), difunde_cuatro(co[1]), difunde_cuatro(cd[0]), difunde_cuatro(cd[1])};
  V acc = difunde_cuatro(T(0));  // Qo, Qd, P, V
  uint32_t i = 0;
  if constexpr (kDosArreglos<Capa>) {
    for (; n - i >= 4; i += 4) {
      // Every load stays within the eight scalars of the four points.
      const T* o = pares.origen(i);
      const T* d = pares.destino(i);
      acc = suma_cuatro<true>(acc, desentrelaza(o), desentrelaza(o + 1), desentrelaza(d), desentrelaza(d + 1), c);
    }
  }
  // Double only: float halves are 8-byte loads that take a shuffle each to join, so a group costs
  // fourteen loads, seven shuffles and four blends against the general loop's eight loads and eight
  // shuffles (3.5% more instructions per call at n = 10⁴).
  if constexpr (kRegistros<Capa> && std::is_same_v<T, double>) {
    for (; n - i >= 4; i += 4) {
      // Scalar k of the records of pairs i and i+2 is r[k] and r[k + 8]; every load stays within
      // the sixteen scalars of the four records.
      const T* r = pares.origen(i);
      const V a0 = dos(r, r + 8), a1 = dos(r + 1, r + 9), a2 = dos(r + 2, r + 10);
      const V a3 = dos(r + 3, r + 11), a4 = dos(r + 4, r + 12), a5 = dos(r + 5, r + 13);
      const V a6 = dos(r + 6, r + 14);
      acc = suma_cuatro<false>(acc, alterna(a0, a3), alterna(a1, a4), alterna(a2, a5), alterna(a3, a6), c);
    }
  }
  for (; n - i >= 4; i += 4) {
    V xo, yo, xd, yd;
    xy_de_cuatro(pares.origen(i), pares.origen(i + 1), pares.origen(i + 2), pares.origen(i + 3), xo, yo);
    xy_de_cuatro(pares.destino(i), pares.destino(i + 1), pares.destino(i + 2), pares.destino(i + 3), xd, yd);
    acc = suma_cuatro<false>(acc, xo, yo, xd, yd, c);
  }
  guarda(s, acc);
  for (; i < n; ++i) suma_par_hel2d(pares.origen(i), pares.destino(i), co, cd, s[0], s[1], s[2], s[3]);
}

template <class T, class Capa>
ORIENTA_CON_AVX2 void pasadas_hel2d_avx2(const Capa& pares, uint32_t n, T (&co)[2], T (&cd)[2], T s[4]) {
  centroides_hel2d_avx2(pares, n, co, cd);
  sumas_centradas_avx2(pares, n, co, cd, s);
}

}  // namespace orienta::interno

#endif
#endif
