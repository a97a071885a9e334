// The two passes of the 2D similarity on AVX2, for any layout accessor, both precisions. Same
// terms, same order of additions as the portable passes in plano/hel2d.hpp, so the same bits.
//
// Pass 1 holds the four coordinate sums (Σxs, Σys, Σxt, Σyt) as the four lanes of one register:
// one vector addition per pair, each lane one accumulator taking the pairs in order. Pass 2 forms
// the centred terms of four pairs at once, one pair per lane, with the portable grouping
// (dxo·dxo + dyo·dyo, ..., dxo·dyd − dyo·dxd), transposes them so that each register holds one
// pair's (Qo, Qd, P, V) terms, and adds those four registers to the running sums in pair order.
// Pairs left over after the last group of four take the portable expression one by one.
//
// Two packed point arrays (the pp layout) are deinterleaved by blending loads that start one
// scalar apart instead of by shuffles: (x0 y0 x1 y1) and (y1 x2 y2 x3) blend to (x0 x2 x1 x3).
// Blends run on any of the three vector ports, shuffles on two; with the subtractions, the term
// additions and the transpose competing for those two, this is what bounds the pass. The lanes
// then hold the pairs in the order (0, 2, 1, 3), which the transpose undoes. Packed records of
// four (the p layout) take the same blends over loads of two halves, a record apart.
#ifndef ORIENTA_ANCHOS_HEL2D_AVX2_HPP
#define ORIENTA_ANCHOS_HEL2D_AVX2_HPP

#include "anchos/despacho.hpp"
#include "anchos/vectores.hpp"

#if ORIENTA_AVX2
#  include <immintrin.h>

#  include <cstdint>

namespace orienta::interno {

template <class T>
struct CapaPP;
template <class Capa>
inline constexpr bool kDosArreglos = false;
template <class T>
inline constexpr bool kDosArreglos<CapaPP<T>> = true;
template <class T>
struct CapaP;
template <class Capa>
inline constexpr bool kRegistros = false;
template <class T>
inline constexpr bool kRegistros<CapaP<T>> = true;

// Centred terms of one pair, exactly as the portable pass writes them.
template <class T>
inline void terminos_hel2d(const T* o, const T* d, const T co[2], const T cd[2], T s[4]) {
  const T dxo = o[0] - co[0];
  const T dyo = o[1] - co[1];
  const T dxd = d[0] - cd[0];
  const T dyd = d[1] - cd[1];
  s[0] += dxo * dxo + dyo * dyo;
  s[1] += dxd * dxd + dyd * dyd;
  s[2] += dxo * dxd + dyo * dyd;
  s[3] += dxo * dyd - dyo * dxd;
}

// Helpers carry the target themselves: lambdas would not inherit it. One float point, (x, y), in
// the low half of a register (an unaligned 8-byte load).
ORIENTA_CON_AVX2 inline __m128 punto(const float* a) {
  return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)));
}

// x of points 0, 2, 1, 3 of a packed array from p (y of them from p + 1): the first load's lanes
// 0 and 2, the second's 1 and 3. Reads p[0 … 6].
ORIENTA_CON_AVX2 inline __m256d desentrelaza(const double* p) {
  return _mm256_blend_pd(_mm256_loadu_pd(p), _mm256_loadu_pd(p + 3), 0b1010);
}
ORIENTA_CON_AVX2 inline __m128 desentrelaza(const float* p) {
  return _mm_blend_ps(_mm_loadu_ps(p), _mm_loadu_ps(p + 3), 0b1010);
}

// The terms of four pairs, one per lane, grouped as the portable pass groups them.
ORIENTA_CON_AVX2 inline void terminos_anchos(__m256d dxo, __m256d dyo, __m256d dxd, __m256d dyd, __m256d& qo,
                                             __m256d& qd, __m256d& p, __m256d& v) {
  qo = _mm256_add_pd(_mm256_mul_pd(dxo, dxo), _mm256_mul_pd(dyo, dyo));
  qd = _mm256_add_pd(_mm256_mul_pd(dxd, dxd), _mm256_mul_pd(dyd, dyd));
  p = _mm256_add_pd(_mm256_mul_pd(dxo, dxd), _mm256_mul_pd(dyo, dyd));
  v = _mm256_sub_pd(_mm256_mul_pd(dxo, dyd), _mm256_mul_pd(dyo, dxd));
}
ORIENTA_CON_AVX2 inline void terminos_anchos(__m128 dxo, __m128 dyo, __m128 dxd, __m128 dyd, __m128& qo, __m128& qd,
                                             __m128& p, __m128& v) {
  qo = _mm_add_ps(_mm_mul_ps(dxo, dxo), _mm_mul_ps(dyo, dyo));
  qd = _mm_add_ps(_mm_mul_ps(dxd, dxd), _mm_mul_ps(dyd, dyd));
  p = _mm_add_ps(_mm_mul_ps(dxo, dxd), _mm_mul_ps(dyo, dyd));
  v = _mm_sub_ps(_mm_mul_ps(dxo, dyd), _mm_mul_ps(dyo, dxd));
}

template <class Capa>
ORIENTA_CON_AVX2 void pasadas_hel2d_avx2(const Capa& pares, uint32_t n, double co[2], double cd[2], double s[4]) {
  __m256d suma = _mm256_setzero_pd();  // Σxs, Σys, Σxt, Σyt
  for (uint32_t i = 0; i < n; ++i) {
    suma = _mm256_add_pd(suma, dos(pares.origen(i), pares.destino(i)));
  }
  double sumas[4];
  _mm256_storeu_pd(sumas, suma);
  const double r = 1.0 / double(n);
  co[0] = sumas[0] * r;
  co[1] = sumas[1] * r;
  cd[0] = sumas[2] * r;
  cd[1] = sumas[3] * r;

  const __m256d cxo = _mm256_set1_pd(co[0]), cyo = _mm256_set1_pd(co[1]);
  const __m256d cxd = _mm256_set1_pd(cd[0]), cyd = _mm256_set1_pd(cd[1]);
  __m256d acc = _mm256_setzero_pd();  // Qo, Qd, P, V
  uint32_t i = 0;
  if constexpr (kDosArreglos<Capa>) {
    for (; n - i >= 4; i += 4) {
      // Every load stays within the eight scalars of the four points.
      const double* o = pares.origen(i);
      const double* d = pares.destino(i);
      const __m256d dxo = _mm256_sub_pd(desentrelaza(o), cxo);  // pairs i, i+2, i+1, i+3
      const __m256d dyo = _mm256_sub_pd(desentrelaza(o + 1), cyo);
      const __m256d dxd = _mm256_sub_pd(desentrelaza(d), cxd);
      const __m256d dyd = _mm256_sub_pd(desentrelaza(d + 1), cyd);
      __m256d qo, qd, p, v;
      terminos_anchos(dxo, dyo, dxd, dyd, qo, qd, p, v);
      const __m256d t0 = _mm256_unpacklo_pd(qo, qd);  // Qo, Qd of pairs i, i+1
      const __m256d t1 = _mm256_unpackhi_pd(qo, qd);  // of pairs i+2, i+3
      const __m256d t2 = _mm256_unpacklo_pd(p, v);
      const __m256d t3 = _mm256_unpackhi_pd(p, v);
      acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(t0, t2, 0x20));
      acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(t0, t2, 0x31));
      acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(t1, t3, 0x20));
      acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(t1, t3, 0x31));
    }
  }
  if constexpr (kRegistros<Capa>) {
    for (; n - i >= 4; i += 4) {
      // Scalar k of the records of pairs i and i+2 is r[k] and r[k + 8]; every load stays within
      // the sixteen scalars of the four records.
      const double* r = pares.origen(i);
      const __m256d a0 = dos(r, r + 8), a1 = dos(r + 1, r + 9), a2 = dos(r + 2, r + 10);
      const __m256d a3 = dos(r + 3, r + 11), a4 = dos(r + 4, r + 12), a5 = dos(r + 5, r + 13);
      const __m256d a6 = dos(r + 6, r + 14);
      const __m256d dxo = _mm256_sub_pd(_mm256_blend_pd(a0, a3, 0b1010), cxo);
      const __m256d dyo = _mm256_sub_pd(_mm256_blend_pd(a1, a4, 0b1010), cyo);
      const __m256d dxd = _mm256_sub_pd(_mm256_blend_pd(a2, a5, 0b1010), cxd);
      const __m256d dyd = _mm256_sub_pd(_mm256_blend_pd(a3, a6, 0b1010), cyd);
      __m256d qo, qd, p, v;
      terminos_anchos(dxo, dyo, dxd, dyd, qo, qd, p, v);
      acc = suma_por_pares(acc, qo, qd, p, v);
    }
  }
  for (; n - i >= 4; i += 4) {
    // Lanes (0, 1, 2, 3) = pairs i … i+3 once unpacked.
    const __m256d o02 = dos(pares.origen(i), pares.origen(i + 2));
    const __m256d o13 = dos(pares.origen(i + 1), pares.origen(i + 3));
    const __m256d d02 = dos(pares.destino(i), pares.destino(i + 2));
    const __m256d d13 = dos(pares.destino(i + 1), pares.destino(i + 3));
    const __m256d dxo = _mm256_sub_pd(_mm256_unpacklo_pd(o02, o13), cxo);
    const __m256d dyo = _mm256_sub_pd(_mm256_unpackhi_pd(o02, o13), cyo);
    const __m256d dxd = _mm256_sub_pd(_mm256_unpacklo_pd(d02, d13), cxd);
    const __m256d dyd = _mm256_sub_pd(_mm256_unpackhi_pd(d02, d13), cyd);
    __m256d qo, qd, p, v;
    terminos_anchos(dxo, dyo, dxd, dyd, qo, qd, p, v);
    acc = suma_por_pares(acc, qo, qd, p, v);
  }
  _mm256_storeu_pd(s, acc);
  for (; i < n; ++i) terminos_hel2d(pares.origen(i), pares.destino(i), co, cd, s);
}

// The float twin: four lanes of single precision in 128-bit registers, the same scheme.
template <class Capa>
ORIENTA_CON_AVX2 void pasadas_hel2d_avx2(const Capa& pares, uint32_t n, float co[2], float cd[2], float s[4]) {
  __m128 suma = _mm_setzero_ps();
  for (uint32_t i = 0; i < n; ++i)
    suma = _mm_add_ps(suma, _mm_movelh_ps(punto(pares.origen(i)), punto(pares.destino(i))));
  float sumas[4];
  _mm_storeu_ps(sumas, suma);
  const float r = 1.0f / float(n);
  co[0] = sumas[0] * r;
  co[1] = sumas[1] * r;
  cd[0] = sumas[2] * r;
  cd[1] = sumas[3] * r;

  const __m128 cxo = _mm_set1_ps(co[0]), cyo = _mm_set1_ps(co[1]);
  const __m128 cxd = _mm_set1_ps(cd[0]), cyd = _mm_set1_ps(cd[1]);
  __m128 acc = _mm_setzero_ps();
  uint32_t i = 0;
  if constexpr (kDosArreglos<Capa>) {
    for (; n - i >= 4; i += 4) {
      const float* o = pares.origen(i);
      const float* d = pares.destino(i);
      __m128 qo, qd, p, v;
      terminos_anchos(_mm_sub_ps(desentrelaza(o), cxo), _mm_sub_ps(desentrelaza(o + 1), cyo),
                      _mm_sub_ps(desentrelaza(d), cxd), _mm_sub_ps(desentrelaza(d + 1), cyd), qo, qd, p, v);
      _MM_TRANSPOSE4_PS(qo, qd, p, v);  // rows: pairs i, i+2, i+1, i+3
      acc = _mm_add_ps(acc, qo);
      acc = _mm_add_ps(acc, p);
      acc = _mm_add_ps(acc, qd);
      acc = _mm_add_ps(acc, v);
    }
  }
  for (; n - i >= 4; i += 4) {
    const __m128 o01 = _mm_movelh_ps(punto(pares.origen(i)), punto(pares.origen(i + 1)));
    const __m128 o23 = _mm_movelh_ps(punto(pares.origen(i + 2)), punto(pares.origen(i + 3)));
    const __m128 d01 = _mm_movelh_ps(punto(pares.destino(i)), punto(pares.destino(i + 1)));
    const __m128 d23 = _mm_movelh_ps(punto(pares.destino(i + 2)), punto(pares.destino(i + 3)));
    const __m128 dxo = _mm_sub_ps(_mm_shuffle_ps(o01, o23, _MM_SHUFFLE(2, 0, 2, 0)), cxo);
    const __m128 dyo = _mm_sub_ps(_mm_shuffle_ps(o01, o23, _MM_SHUFFLE(3, 1, 3, 1)), cyo);
    const __m128 dxd = _mm_sub_ps(_mm_shuffle_ps(d01, d23, _MM_SHUFFLE(2, 0, 2, 0)), cxd);
    const __m128 dyd = _mm_sub_ps(_mm_shuffle_ps(d01, d23, _MM_SHUFFLE(3, 1, 3, 1)), cyd);
    __m128 qo, qd, p, v;
    terminos_anchos(dxo, dyo, dxd, dyd, qo, qd, p, v);
    _MM_TRANSPOSE4_PS(qo, qd, p, v);  // now one register per pair: (Qo, Qd, P, V) terms
    acc = _mm_add_ps(acc, qo);
    acc = _mm_add_ps(acc, qd);
    acc = _mm_add_ps(acc, p);
    acc = _mm_add_ps(acc, v);
  }
  _mm_storeu_ps(s, acc);
  for (; i < n; ++i) terminos_hel2d(pares.origen(i), pares.destino(i), co, cd, s);
}

}  // namespace orienta::interno

#endif
#endif
