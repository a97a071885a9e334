// The Newton pass of the 3D similarity on AVX2, over the scratch copy (six contiguous arrays), for
// both precisions. Same terms, same order of additions as acumula_newton in espacio/hel3d.hpp.
//
// Eight pairs at a time: their nine single-precision terms are formed side by side, one pair per
// lane (in T's precision up to the roundings to float, exactly as the portable pass rounds). An
// 8×8 transpose then gives one register per pair holding that pair's terms of eight of the sums
// (g0, g1, g2, k0, k4, k8, k1, k2), and those registers are added in pair order to one register of
// running sums, each lane one accumulator. The ninth sum, k5, takes its eight terms one by one.
// Pairs left over after the last group of eight take the portable expression one by one.
#ifndef ORIENTA_ANCHOS_HEL3D_AVX2_HPP
#define ORIENTA_ANCHOS_HEL3D_AVX2_HPP

#include "anchos/despacho.hpp"
#include "anchos/vectores.hpp"
#include "espacio/momentos.hpp"

#if ORIENTA_AVX2
#  include <immintrin.h>

#  include <cstdint>

namespace orienta::interno {

// The nine float terms of pair (a, b) under rotation r, in the order of the register of sums
// (g0, g1, g2, k0, k4, k8, k1, k2), then k5. The portable pass adds exactly these.
template <class T>
inline void terminos_newton(const T r[9], const T a[3], const T b[3], float t[9]) {
  const T ra0 = (r[0] * a[0] + r[1] * a[1]) + r[2] * a[2];
  const T ra1 = (r[3] * a[0] + r[4] * a[1]) + r[5] * a[2];
  const T ra2 = (r[6] * a[0] + r[7] * a[1]) + r[8] * a[2];
  t[0] = static_cast<float>(ra1 * b[2] - ra2 * b[1]);
  t[1] = static_cast<float>(ra2 * b[0] - ra0 * b[2]);
  t[2] = static_cast<float>(ra0 * b[1] - ra1 * b[0]);
  const float rf0 = static_cast<float>(ra0), rf1 = static_cast<float>(ra1), rf2 = static_cast<float>(ra2);
  const float bf0 = static_cast<float>(b[0]), bf1 = static_cast<float>(b[1]), bf2 = static_cast<float>(b[2]);
  t[3] = rf1 * bf1 + rf2 * bf2;
  t[4] = rf0 * bf0 + rf2 * bf2;
  t[5] = rf0 * bf0 + rf1 * bf1;
  t[6] = rf1 * bf0 + rf0 * bf1;
  t[7] = rf2 * bf0 + rf0 * bf2;
  t[8] = rf2 * bf1 + rf1 * bf2;
}

// Rows become columns: on return v[p] holds lane p of every input register, in input order.
ORIENTA_CON_AVX2 inline void transpone8(__m256 v[8]) {
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

// Where the Newton pass finds pairs j … j+3 of double points, one coordinate per register.
struct CopiaDoble {  // the scratch copy: six arrays
  double* const* c;
  ORIENTA_CON_AVX2 void lee4(uint32_t j, __m256d v[6]) const {
    for (int e = 0; e < 6; ++e) v[e] = _mm256_loadu_pd(c[e] + j);
  }
  void lee(uint32_t k, double a[3], double b[3]) const {
    for (int e = 0; e < 3; ++e) a[e] = c[e][k];
    for (int e = 0; e < 3; ++e) b[e] = c[3 + e][k];
  }
};
struct SitioDoble {  // the caller's points, centred in place, through the pair array
  double* const* p;
  // x and y of four points from their 16-byte halves, z one scalar at a time: a point's fourth
  // scalar may lie past the caller's memory.
  ORIENTA_CON_AVX2 static void tres(const double* q0, const double* q1, const double* q2, const double* q3,
                                    __m256d v[3]) {
    const __m256d a = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(q0)), _mm_loadu_pd(q2), 1);
    const __m256d b = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(q1)), _mm_loadu_pd(q3), 1);
    v[0] = _mm256_unpacklo_pd(a, b);
    v[1] = _mm256_unpackhi_pd(a, b);
    v[2] = _mm256_setr_pd(q0[2], q1[2], q2[2], q3[2]);
  }
  ORIENTA_CON_AVX2 void lee4(uint32_t j, __m256d v[6]) const {
    const double* const* q = p + 2 * size_t(j);
    tres(q[0], q[2], q[4], q[6], v);
    tres(q[1], q[3], q[5], q[7], v + 3);
  }
  void lee(uint32_t k, double a[3], double b[3]) const {
    const double* o = p[2 * size_t(k)];
    const double* d = p[2 * size_t(k) + 1];
    for (int e = 0; e < 3; ++e) a[e] = o[e];
    for (int e = 0; e < 3; ++e) b[e] = d[e];
  }
};
struct CopiaSimple {  // the float scratch copy
  float* const* c;
  void lee(uint32_t k, float a[3], float b[3]) const {
    for (int e = 0; e < 3; ++e) a[e] = c[e][k];
    for (int e = 0; e < 3; ++e) b[e] = c[3 + e][k];
  }
};

// Terms of eight pairs as nine registers of eight floats, from double points.
template <class Lector>
ORIENTA_CON_AVX2 inline void terminos8(const Lector& lector, uint32_t k, const __m256d r[9], __m256 t[9]) {
  __m128 m[9][2];
  for (int h = 0; h < 2; ++h) {
    __m256d v[6];
    lector.lee4(k + 4 * uint32_t(h), v);
    const __m256d a0 = v[0], a1 = v[1], a2 = v[2], b0 = v[3], b1 = v[4], b2 = v[5];
    const __m256d ra0 =
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(r[0], a0), _mm256_mul_pd(r[1], a1)), _mm256_mul_pd(r[2], a2));
    const __m256d ra1 =
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(r[3], a0), _mm256_mul_pd(r[4], a1)), _mm256_mul_pd(r[5], a2));
    const __m256d ra2 =
        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(r[6], a0), _mm256_mul_pd(r[7], a1)), _mm256_mul_pd(r[8], a2));
    m[0][h] = _mm256_cvtpd_ps(_mm256_sub_pd(_mm256_mul_pd(ra1, b2), _mm256_mul_pd(ra2, b1)));
    m[1][h] = _mm256_cvtpd_ps(_mm256_sub_pd(_mm256_mul_pd(ra2, b0), _mm256_mul_pd(ra0, b2)));
    m[2][h] = _mm256_cvtpd_ps(_mm256_sub_pd(_mm256_mul_pd(ra0, b1), _mm256_mul_pd(ra1, b0)));
    m[3][h] = _mm256_cvtpd_ps(ra0);
    m[4][h] = _mm256_cvtpd_ps(ra1);
    m[5][h] = _mm256_cvtpd_ps(ra2);
    m[6][h] = _mm256_cvtpd_ps(b0);
    m[7][h] = _mm256_cvtpd_ps(b1);
    m[8][h] = _mm256_cvtpd_ps(b2);
  }
  __m256 u[9];
  for (int e = 0; e < 9; ++e) u[e] = _mm256_set_m128(m[e][1], m[e][0]);
  t[0] = u[0];
  t[1] = u[1];
  t[2] = u[2];
  const __m256 rf0 = u[3], rf1 = u[4], rf2 = u[5], bf0 = u[6], bf1 = u[7], bf2 = u[8];
  t[3] = _mm256_add_ps(_mm256_mul_ps(rf1, bf1), _mm256_mul_ps(rf2, bf2));
  t[4] = _mm256_add_ps(_mm256_mul_ps(rf0, bf0), _mm256_mul_ps(rf2, bf2));
  t[5] = _mm256_add_ps(_mm256_mul_ps(rf0, bf0), _mm256_mul_ps(rf1, bf1));
  t[6] = _mm256_add_ps(_mm256_mul_ps(rf1, bf0), _mm256_mul_ps(rf0, bf1));
  t[7] = _mm256_add_ps(_mm256_mul_ps(rf2, bf0), _mm256_mul_ps(rf0, bf2));
  t[8] = _mm256_add_ps(_mm256_mul_ps(rf2, bf1), _mm256_mul_ps(rf1, bf2));
}

// The same from the float copy: every step is already single precision.
ORIENTA_CON_AVX2 inline void terminos8(const CopiaSimple& copia, uint32_t k, const __m256 r[9], __m256 t[9]) {
  float* const* c = copia.c;
  const __m256 a0 = _mm256_loadu_ps(c[0] + k), a1 = _mm256_loadu_ps(c[1] + k), a2 = _mm256_loadu_ps(c[2] + k);
  const __m256 b0 = _mm256_loadu_ps(c[3] + k), b1 = _mm256_loadu_ps(c[4] + k), b2 = _mm256_loadu_ps(c[5] + k);
  const __m256 ra0 =
      _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(r[0], a0), _mm256_mul_ps(r[1], a1)), _mm256_mul_ps(r[2], a2));
  const __m256 ra1 =
      _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(r[3], a0), _mm256_mul_ps(r[4], a1)), _mm256_mul_ps(r[5], a2));
  const __m256 ra2 =
      _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(r[6], a0), _mm256_mul_ps(r[7], a1)), _mm256_mul_ps(r[8], a2));
  t[0] = _mm256_sub_ps(_mm256_mul_ps(ra1, b2), _mm256_mul_ps(ra2, b1));
  t[1] = _mm256_sub_ps(_mm256_mul_ps(ra2, b0), _mm256_mul_ps(ra0, b2));
  t[2] = _mm256_sub_ps(_mm256_mul_ps(ra0, b1), _mm256_mul_ps(ra1, b0));
  t[3] = _mm256_add_ps(_mm256_mul_ps(ra1, b1), _mm256_mul_ps(ra2, b2));
  t[4] = _mm256_add_ps(_mm256_mul_ps(ra0, b0), _mm256_mul_ps(ra2, b2));
  t[5] = _mm256_add_ps(_mm256_mul_ps(ra0, b0), _mm256_mul_ps(ra1, b1));
  t[6] = _mm256_add_ps(_mm256_mul_ps(ra1, b0), _mm256_mul_ps(ra0, b1));
  t[7] = _mm256_add_ps(_mm256_mul_ps(ra2, b0), _mm256_mul_ps(ra0, b2));
  t[8] = _mm256_add_ps(_mm256_mul_ps(ra2, b1), _mm256_mul_ps(ra1, b2));
}

// g and the upper triangle of kk, as acumula_newton leaves them, from pairs found by lector.
template <class T, class Lector>
ORIENTA_CON_AVX2 void acumula_newton_avx2(const Lector& lector, uint32_t n, const T r[9], float g[3], float kk[9]) {
  Vector<T> rv[9];
  for (int e = 0; e < 9; ++e) rv[e] = difunde(r[e]);
  __m256 acc = _mm256_setzero_ps();  // g0, g1, g2, k0, k4, k8, k1, k2
  float k5 = 0.0f;
  uint32_t k = 0;
  for (; n - k >= 8; k += 8) {
    __m256 t[9];
    terminos8(lector, k, rv, t);
    float quinto[8];
    _mm256_storeu_ps(quinto, t[8]);
    transpone8(t);
    for (int p = 0; p < 8; ++p) acc = _mm256_add_ps(acc, t[p]);
    for (int p = 0; p < 8; ++p) k5 = k5 + quinto[p];
  }
  float s[8];
  _mm256_storeu_ps(s, acc);
  for (; k < n; ++k) {
    T a[3], b[3];
    lector.lee(k, a, b);
    float t[9];
    terminos_newton(r, a, b, t);
    for (int e = 0; e < 8; ++e) s[e] = s[e] + t[e];
    k5 = k5 + t[8];
  }
  g[0] = s[0];
  g[1] = s[1];
  g[2] = s[2];
  const float triangulo[9] = {s[3], s[6], s[7], 0.0f, s[4], k5, 0.0f, 0.0f, s[5]};
  for (int e = 0; e < 9; ++e) kk[e] = triangulo[e];
}

// Centroids of double points through the pair array: (Σxs, Σys, Σxt, Σyt) as the lanes of one
// register and (Σzs, Σzt) of another, each lane one sum in pair order; then sum·(1/n), as
// centroides does.
ORIENTA_CON_AVX2 inline void centroides3_avx2(double* const* p, uint32_t n, double co[3], double cd[3]) {
  __m256d xy = _mm256_setzero_pd();
  __m128d z = _mm_setzero_pd();
  for (uint32_t k = 0; k < n; ++k) {
    const double* o = p[2 * size_t(k)];
    const double* d = p[2 * size_t(k) + 1];
    xy = _mm256_add_pd(xy, _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(o)), _mm_loadu_pd(d), 1));
    z = _mm_add_pd(z, _mm_loadh_pd(_mm_load_sd(o + 2), d + 2));
  }
  double s[6];
  _mm256_storeu_pd(s, xy);
  _mm_storeu_pd(s + 4, z);
  const double r = 1.0 / double(n);
  co[0] = s[0] * r;
  co[1] = s[1] * r;
  co[2] = s[4] * r;
  cd[0] = s[2] * r;
  cd[1] = s[3] * r;
  cd[2] = s[5] * r;
}

// The centring pass into the double copy, four pairs at a time: the six centred coordinates of
// four pairs side by side (stored to the copy as they are), their moment terms with the portable
// grouping, and the sums in the order sa, sb, m0 … m8, n0, n1, n2, n4, n5, n8 (the last six and
// m2, m5, m6, m7, m8 only for the general start). Pairs left over take the portable expression.
template <bool kGeneral>
ORIENTA_CON_AVX2 void centra_y_suma_avx2(double* const* p, uint32_t n, const double co[3], const double cd[3],
                                         double* const c[6], double s[17]) {
  const __m256d cv[6] = {_mm256_set1_pd(co[0]), _mm256_set1_pd(co[1]), _mm256_set1_pd(co[2]),
                         _mm256_set1_pd(cd[0]), _mm256_set1_pd(cd[1]), _mm256_set1_pd(cd[2])};
  const __m256d cero = _mm256_setzero_pd();
  __m256d acc[4] = {cero, cero, cero, cero};
  double n8 = 0.0;
  uint32_t k = 0;
  for (; n - k >= 4; k += 4) {
    __m256d v[6];
    SitioDoble{p}.lee4(k, v);
    for (int e = 0; e < 6; ++e) {
      v[e] = _mm256_sub_pd(v[e], cv[e]);
      _mm256_storeu_pd(c[e] + k, v[e]);
    }
    const __m256d a0 = v[0], a1 = v[1], a2 = v[2], b0 = v[3], b1 = v[4], b2 = v[5];
    const __m256d sa = _mm256_add_pd(_mm256_add_pd(producto(a0, a0), producto(a1, a1)), producto(a2, a2));
    const __m256d sb = _mm256_add_pd(_mm256_add_pd(producto(b0, b0), producto(b1, b1)), producto(b2, b2));
    acc[0] = suma_por_pares(acc[0], sa, sb, producto(b0, a0), producto(b0, a1));
    if constexpr (kGeneral) {
      acc[1] = suma_por_pares(acc[1], producto(b1, a0), producto(b1, a1), producto(b0, a2), producto(b1, a2));
      acc[2] = suma_por_pares(acc[2], producto(b2, a0), producto(b2, a1), producto(b2, a2), producto(a0, a0));
      acc[3] = suma_por_pares(acc[3], producto(a0, a1), producto(a0, a2), producto(a1, a1), producto(a1, a2));
      double ultimo[4];
      _mm256_storeu_pd(ultimo, producto(a2, a2));
      for (int q = 0; q < 4; ++q) n8 = n8 + ultimo[q];
    } else {
      acc[1] = suma_por_pares(acc[1], producto(b1, a0), producto(b1, a1), cero, cero);
    }
  }
  double t[16];
  for (int g = 0; g < 4; ++g) _mm256_storeu_pd(t + 4 * g, acc[g]);
  // Sums in the order of s: sa sb m0 m1 | m3 m4 m2 m5 | m6 m7 m8 n0 | n1 n2 n4 n5, then n8.
  SumasMomentos<double> m = {t[0], t[1],  t[2],  t[3],  t[6],  t[4],  t[5],  t[7], t[8],
                             t[9], t[10], t[11], t[12], t[13], t[14], t[15], n8};
  for (; k < n; ++k) {
    const double* o = p[2 * size_t(k)];
    const double* d = p[2 * size_t(k) + 1];
    const double a[3] = {o[0] - co[0], o[1] - co[1], o[2] - co[2]};
    const double b[3] = {d[0] - cd[0], d[1] - cd[1], d[2] - cd[2]};
    for (int e = 0; e < 3; ++e) c[e][k] = a[e];
    for (int e = 0; e < 3; ++e) c[3 + e][k] = b[e];
    suma_momentos<double, kGeneral>(m, a, b);
  }
  const double todas[17] = {m.sa, m.sb, m.m0, m.m1, m.m2, m.m3, m.m4, m.m5, m.m6,
                            m.m7, m.m8, m.n0, m.n1, m.n2, m.n4, m.n5, m.n8};
  for (int e = 0; e < 17; ++e) s[e] = todas[e];
}

// The pass over the store of the estimate at hand, in place or the copy. False where there is no
// wide kernel for it (float points in place): the caller then runs the portable pass.
ORIENTA_CON_AVX2 inline bool acumula_newton_avx2_en(bool en_sitio, double* const* pares, double* const c[6], uint32_t n,
                                                    const double r[9], float g[3], float kk[9]) {
  if (en_sitio)
    acumula_newton_avx2<double>(SitioDoble{pares}, n, r, g, kk);
  else
    acumula_newton_avx2<double>(CopiaDoble{c}, n, r, g, kk);
  return true;
}
ORIENTA_CON_AVX2 inline bool acumula_newton_avx2_en(bool en_sitio, float* const*, float* const c[6], uint32_t n,
                                                    const float r[9], float g[3], float kk[9]) {
  if (en_sitio) return false;
  acumula_newton_avx2<float>(CopiaSimple{c}, n, r, g, kk);
  return true;
}

}  // namespace orienta::interno

#endif
#endif
