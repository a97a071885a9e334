// One name per AVX2 operation for both precisions, so that a kernel is written once over T. Two
// register widths serve the kernels: Vector<T>, a whole register (double in four lanes, float in
// eight), and Cuatro<T>, four lanes of T (a whole register of double, half of one of float), for the
// passes that take four pairs at a time in either precision.
//
// GCC and clang define +, − and · on these types lane by lane, as the same operations the
// intrinsics name (GCC's headers write _mm256_add_pd as that very addition): the term functions of
// the estimators, written once for a scalar, form the terms of several pairs when given vectors.
#ifndef ORIENTA_ANCHOS_VECTORES_HPP
#define ORIENTA_ANCHOS_VECTORES_HPP

#include "anchos/despacho.hpp"

#if ORIENTA_AVX2
#  include <immintrin.h>

namespace orienta::interno {

ORIENTA_CON_AVX2 inline __m256d difunde(double x) { return _mm256_set1_pd(x); }
ORIENTA_CON_AVX2 inline __m256 difunde(float x) { return _mm256_set1_ps(x); }
ORIENTA_CON_AVX2 inline __m256d carga(const double* p) { return _mm256_loadu_pd(p); }
ORIENTA_CON_AVX2 inline __m256 carga(const float* p) { return _mm256_loadu_ps(p); }
// From scalars already in registers: no trip through memory, whose narrow stores a wide load
// could not forward.
ORIENTA_CON_AVX2 inline __m256d junta(const double* p) { return _mm256_setr_pd(p[0], p[1], p[2], p[3]); }
ORIENTA_CON_AVX2 inline __m256 junta(const float* p) {
  return _mm256_setr_ps(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]);
}
ORIENTA_CON_AVX2 inline void guarda(double* p, __m256d v) { _mm256_storeu_pd(p, v); }
ORIENTA_CON_AVX2 inline void guarda(float* p, __m256 v) { _mm256_storeu_ps(p, v); }
ORIENTA_CON_AVX2 inline void guarda(float* p, __m128 v) { _mm_storeu_ps(p, v); }

ORIENTA_CON_AVX2 inline __m256d difunde_cuatro(double x) { return _mm256_set1_pd(x); }
ORIENTA_CON_AVX2 inline __m128 difunde_cuatro(float x) { return _mm_set1_ps(x); }

template <class T>
using Vector = decltype(difunde(T(0)));
template <class T>
using Cuatro = decltype(difunde_cuatro(T(0)));

// Two points of two scalars in four lanes, (x_a, y_a, x_b, y_b). A float point is one unaligned
// 8-byte load into the low half of a register.
ORIENTA_CON_AVX2 inline __m256d dos(const double* a, const double* b) {
  return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(a)), _mm_loadu_pd(b), 1);
}
ORIENTA_CON_AVX2 inline __m128 punto(const float* a) {
  return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)));
}
ORIENTA_CON_AVX2 inline __m128 dos(const float* a, const float* b) { return _mm_movelh_ps(punto(a), punto(b)); }

// x and y of four points of two scalars, one point per lane in the order given.
ORIENTA_CON_AVX2 inline void xy_de_cuatro(const double* p0, const double* p1, const double* p2, const double* p3,
                                          __m256d& x, __m256d& y) {
  const __m256d a = dos(p0, p2), b = dos(p1, p3);
  x = _mm256_unpacklo_pd(a, b);
  y = _mm256_unpackhi_pd(a, b);
}
ORIENTA_CON_AVX2 inline void xy_de_cuatro(const float* p0, const float* p1, const float* p2, const float* p3, __m128& x,
                                          __m128& y) {
  const __m128 a = dos(p0, p1), b = dos(p2, p3);
  x = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
  y = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
}

// Lanes 0 and 2 of a, 1 and 3 of b. A blend runs on any of the three vector ports, a shuffle on two.
ORIENTA_CON_AVX2 inline __m256d alterna(__m256d a, __m256d b) { return _mm256_blend_pd(a, b, 0b1010); }
ORIENTA_CON_AVX2 inline __m128 alterna(__m128 a, __m128 b) { return _mm_blend_ps(a, b, 0b1010); }

// Rows become columns: on return v[p] holds lane p of the four (eight) registers, in their order.
ORIENTA_CON_AVX2 inline void traspone(__m256d v[4]) {
  const __m256d t0 = _mm256_unpacklo_pd(v[0], v[1]);  // v0[0] v1[0] v0[2] v1[2]
  const __m256d t1 = _mm256_unpackhi_pd(v[0], v[1]);  // v0[1] v1[1] v0[3] v1[3]
  const __m256d t2 = _mm256_unpacklo_pd(v[2], v[3]);
  const __m256d t3 = _mm256_unpackhi_pd(v[2], v[3]);
  v[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
  v[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
  v[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
  v[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
}
ORIENTA_CON_AVX2 inline void traspone(__m128 v[4]) { _MM_TRANSPOSE4_PS(v[0], v[1], v[2], v[3]); }
ORIENTA_CON_AVX2 inline void traspone8(__m256 v[8]) {
  const __m256 a0 = _mm256_unpacklo_ps(v[0], v[1]), a1 = _mm256_unpackhi_ps(v[0], v[1]);
  const __m256 a2 = _mm256_unpacklo_ps(v[2], v[3]), a3 = _mm256_unpackhi_ps(v[2], v[3]);
  const __m256 a4 = _mm256_unpacklo_ps(v[4], v[5]), a5 = _mm256_unpackhi_ps(v[4], v[5]);
  const __m256 a6 = _mm256_unpacklo_ps(v[6], v[7]), a7 = _mm256_unpackhi_ps(v[6], v[7]);
  const __m256 b0 = _mm256_shuffle_ps(a0, a2, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 b1 = _mm256_shuffle_ps(a0, a2, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 b2 = _mm256_shuffle_ps(a1, a3, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 b3 = _mm256_shuffle_ps(a1, a3, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 b4 = _mm256_shuffle_ps(a4, a6, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 b5 = _mm256_shuffle_ps(a4, a6, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 b6 = _mm256_shuffle_ps(a5, a7, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 b7 = _mm256_shuffle_ps(a5, a7, _MM_SHUFFLE(3, 2, 3, 2));
  v[0] = _mm256_permute2f128_ps(b0, b4, 0x20);
  v[1] = _mm256_permute2f128_ps(b1, b5, 0x20);
  v[2] = _mm256_permute2f128_ps(b2, b6, 0x20);
  v[3] = _mm256_permute2f128_ps(b3, b7, 0x20);
  v[4] = _mm256_permute2f128_ps(b0, b4, 0x31);
  v[5] = _mm256_permute2f128_ps(b1, b5, 0x31);
  v[6] = _mm256_permute2f128_ps(b2, b6, 0x31);
  v[7] = _mm256_permute2f128_ps(b3, b7, 0x31);
}

// Adds the terms of four pairs to four running sums held as the lanes of acc. w, x, y, z hold the
// terms of sums 0, 1, 2, 3, one pair per lane; the transpose gives one register per pair, and those
// are added in pair order, so each lane takes its pairs one by one. With kCruzados the lanes hold
// the pairs in the order (0, 2, 1, 3), as two blended loads leave them, and are added as 0, 2, 1, 3.
template <bool kCruzados = false, class V>
ORIENTA_CON_AVX2 inline V suma_por_pares(V acc, V w, V x, V y, V z) {
  V v[4] = {w, x, y, z};
  traspone(v);
  acc = acc + v[0];
  acc = acc + v[kCruzados ? 2 : 1];
  acc = acc + v[kCruzados ? 1 : 2];
  return acc + v[3];
}

// T's vectors rounded to single precision: four doubles give half a register of floats, float
// vectors stay as they are; une puts the halves of eight lanes together, lanes 0–3 first.
ORIENTA_CON_AVX2 inline __m128 a_simple(__m256d v) { return _mm256_cvtpd_ps(v); }
ORIENTA_CON_AVX2 inline __m256 a_simple(__m256 v) { return v; }
ORIENTA_CON_AVX2 inline __m256 une(const __m128 v[2]) { return _mm256_set_m128(v[1], v[0]); }
ORIENTA_CON_AVX2 inline __m256 une(const __m256 v[1]) { return v[0]; }

}  // namespace orienta::interno

#endif
#endif
