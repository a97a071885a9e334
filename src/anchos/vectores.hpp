// One name per AVX2 operation for both precisions, so that a kernel is written once over T:
// double in four lanes, float in eight.
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
// Two points in one register, (x_a, y_a, x_b, y_b).
ORIENTA_CON_AVX2 inline __m256d dos(const double* a, const double* b) {
  return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(a)), _mm_loadu_pd(b), 1);
}
ORIENTA_CON_AVX2 inline void guarda(double* p, __m256d v) { _mm256_storeu_pd(p, v); }
ORIENTA_CON_AVX2 inline void guarda(float* p, __m256 v) { _mm256_storeu_ps(p, v); }
ORIENTA_CON_AVX2 inline __m256d suma(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
ORIENTA_CON_AVX2 inline __m256 suma(__m256 a, __m256 b) { return _mm256_add_ps(a, b); }
ORIENTA_CON_AVX2 inline __m256d producto(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
ORIENTA_CON_AVX2 inline __m256 producto(__m256 a, __m256 b) { return _mm256_mul_ps(a, b); }

template <class T>
using Vector = decltype(difunde(T(0)));

// Adds the terms of four pairs to four running sums held as the lanes of acc. w, x, y, z hold the
// terms of sums 0, 1, 2, 3, one pair per lane; a 4×4 transpose gives one register per pair, and
// those are added in pair order, so each lane takes its pairs one by one.
ORIENTA_CON_AVX2 inline __m256d suma_por_pares(__m256d acc, __m256d w, __m256d x, __m256d y, __m256d z) {
  const __m256d t0 = _mm256_unpacklo_pd(w, x);  // w0 x0 w2 x2
  const __m256d t1 = _mm256_unpackhi_pd(w, x);  // w1 x1 w3 x3
  const __m256d t2 = _mm256_unpacklo_pd(y, z);
  const __m256d t3 = _mm256_unpackhi_pd(y, z);
  acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(t0, t2, 0x20));
  acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(t1, t3, 0x20));
  acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(t0, t2, 0x31));
  return _mm256_add_pd(acc, _mm256_permute2f128_pd(t1, t3, 0x31));
}

}  // namespace orienta::interno

#endif
#endif
