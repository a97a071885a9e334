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
ORIENTA_CON_AVX2 inline void guarda(double* p, __m256d v) { _mm256_storeu_pd(p, v); }
ORIENTA_CON_AVX2 inline void guarda(float* p, __m256 v) { _mm256_storeu_ps(p, v); }
ORIENTA_CON_AVX2 inline __m256d suma(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
ORIENTA_CON_AVX2 inline __m256 suma(__m256 a, __m256 b) { return _mm256_add_ps(a, b); }
ORIENTA_CON_AVX2 inline __m256d producto(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
ORIENTA_CON_AVX2 inline __m256 producto(__m256 a, __m256 b) { return _mm256_mul_ps(a, b); }

template <class T>
using Vector = decltype(difunde(T(0)));

}  // namespace orienta::interno

#endif
#endif
