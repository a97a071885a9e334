// The normal-equation pass of the polynomial estimation on AVX2, both precisions. Same terms, same
// order of additions as suma_normales in plano/polinomica.hpp.
//
// Row-wise: row j of N is m[j]·(m[0], …, m[j]), so m[j] is broadcast and multiplied by the
// vector of monomials, and the products land in the lanes of the row's own accumulators, one lane
// per entry, each taking the pairs in order. A row of j + 1 entries takes ⌈(j + 1)/L⌉ registers of
// L lanes; lanes past the row's end collect products nobody reads. rx and ry are two more rows,
// m·ex and m·ey.
//
// For ten monomials in double, the monomials of four pairs are formed side by side, one pair per
// lane, with the scalar expressions of monomios, and three 4×4 transposes store each pair's
// (m0 … m3), (m4 … m7), (m8, m9, ex, ey) as three vectors (ex and ey sit in lanes no row reads).
// The rows then read m[j] as broadcast loads and the monomial vectors as plain loads: no
// scalar-to-vector shuffles per pair.
#ifndef ORIENTA_ANCHOS_POLINOMICA_AVX2_HPP
#define ORIENTA_ANCHOS_POLINOMICA_AVX2_HPP

#include <cstdint>
#include <type_traits>

#include "anchos/despacho.hpp"
#include "anchos/vectores.hpp"
#include "gemelos.hpp"
#include "interno.hpp"

#if ORIENTA_AVX2
#  include <immintrin.h>

namespace orienta::interno {

template <class T, uint32_t U>
void monomios(const T* o, const T* d, const RegistroHel2Dg<T>& g, T c, T s, T m[10], T& ex, T& ey);

// Registers before row j when row i takes ⌈(i + 1)/L⌉ of them.
constexpr uint32_t antes_de_fila(uint32_t j, uint32_t L) {
  uint32_t r = 0;
  for (uint32_t i = 0; i < j; ++i) r += (i + L) / L;
  return r;
}

// Stores the transpose of a, b, c, d: out[4q + k] = lane q of the k-th register.
ORIENTA_CON_AVX2 inline void traspone_y_guarda(__m256d a, __m256d b, __m256d c, __m256d d, double* out) {
  const __m256d t0 = _mm256_unpacklo_pd(a, b);  // a0 b0 a2 b2
  const __m256d t1 = _mm256_unpackhi_pd(a, b);  // a1 b1 a3 b3
  const __m256d t2 = _mm256_unpacklo_pd(c, d);
  const __m256d t3 = _mm256_unpackhi_pd(c, d);
  _mm256_storeu_pd(out, _mm256_permute2f128_pd(t0, t2, 0x20));
  _mm256_storeu_pd(out + 4, _mm256_permute2f128_pd(t1, t3, 0x20));
  _mm256_storeu_pd(out + 8, _mm256_permute2f128_pd(t0, t2, 0x31));
  _mm256_storeu_pd(out + 12, _mm256_permute2f128_pd(t1, t3, 0x31));
}

// Pairs i … i+3: m0 … m9, ex, ey of pair i + q, the same values monomios<double, 10> gives one
// pair at a time, in three blocks of four vectors: block b holds m[4b … 4b + 3] of pair q at 4q.
ORIENTA_CON_AVX2 inline void monomios_de_cuatro(const CapaPtr<double>& pares, uint32_t i,
                                                const RegistroHel2Dg<double>& g, double c, double s, double mm[48]) {
  const __m256d o02 = dos(pares.origen(i), pares.origen(i + 2));
  const __m256d o13 = dos(pares.origen(i + 1), pares.origen(i + 3));
  const __m256d d02 = dos(pares.destino(i), pares.destino(i + 2));
  const __m256d d13 = dos(pares.destino(i + 1), pares.destino(i + 3));
  const __m256d cv = _mm256_set1_pd(c), sv = _mm256_set1_pd(s);
  const __m256d dx = _mm256_sub_pd(_mm256_unpacklo_pd(o02, o13), _mm256_set1_pd(g.xc_origen));
  const __m256d dy = _mm256_sub_pd(_mm256_unpackhi_pd(o02, o13), _mm256_set1_pd(g.yc_origen));
  const __m256d xp = _mm256_sub_pd(_mm256_mul_pd(dx, cv), _mm256_mul_pd(dy, sv));
  const __m256d yp = _mm256_add_pd(_mm256_mul_pd(dx, sv), _mm256_mul_pd(dy, cv));
  const __m256d ex = _mm256_sub_pd(_mm256_sub_pd(_mm256_unpacklo_pd(d02, d13), _mm256_set1_pd(g.xc_destino)), xp);
  const __m256d ey = _mm256_sub_pd(_mm256_sub_pd(_mm256_unpackhi_pd(d02, d13), _mm256_set1_pd(g.yc_destino)), yp);
  const __m256d m3 = _mm256_mul_pd(xp, xp);
  const __m256d m4 = _mm256_mul_pd(xp, yp);
  const __m256d m5 = _mm256_mul_pd(yp, yp);
  traspone_y_guarda(_mm256_set1_pd(1.0), xp, yp, m3, mm);
  traspone_y_guarda(m4, m5, _mm256_mul_pd(m3, xp), _mm256_mul_pd(xp, m4), mm + 16);
  traspone_y_guarda(_mm256_mul_pd(yp, m4), _mm256_mul_pd(m5, yp), ex, ey, mm + 32);
}

// Where monomios_de_cuatro leaves m[j] of pair q (j = 10, 11: ex, ey).
constexpr uint32_t lugar(uint32_t q, uint32_t j) { return 16 * (j / 4) + 4 * q + j % 4; }

template <class T, uint32_t U>
ORIENTA_CON_AVX2 void suma_normales_avx2(const CapaPtr<T>& pares, uint32_t n, const RegistroHel2Dg<T>& g, T c, T s,
                                         T* N, T* rx, T* ry) {
  constexpr uint32_t L = sizeof(Vector<T>) / sizeof(T);
  constexpr uint32_t B = (U + L - 1) / L;  // registers of one full row of U
  constexpr uint32_t kN = antes_de_fila(U, L);
  Vector<T> acc[kN + 2 * B];  // the rows of N, then rx, then ry
  for (Vector<T>& v : acc) v = difunde(T(0));
  uint32_t i = 0;
  if constexpr (std::is_same_v<T, double> && U == 10) {
    for (; n - i >= 4; i += 4) {
      double mm[48];
      monomios_de_cuatro(pares, i, g, c, s, mm);
      for (uint32_t q = 0; q < 4; ++q) {
        Vector<T> mv[B];
        for (uint32_t b = 0; b < B; ++b) mv[b] = carga(mm + lugar(q, 4 * b));
#  pragma GCC unroll 10
        for (uint32_t j = 0; j < U; ++j) {
          const Vector<T> mj = difunde(mm[lugar(q, j)]);
          for (uint32_t b = 0; b <= j / L; ++b)
            acc[antes_de_fila(j, L) + b] = suma(acc[antes_de_fila(j, L) + b], producto(mj, mv[b]));
        }
        const Vector<T> exv = difunde(mm[lugar(q, 10)]), eyv = difunde(mm[lugar(q, 11)]);
        for (uint32_t b = 0; b < B; ++b) {
          acc[kN + b] = suma(acc[kN + b], producto(mv[b], exv));
          acc[kN + B + b] = suma(acc[kN + B + b], producto(mv[b], eyv));
        }
      }
    }
  }
  for (; i < n; ++i) {
    T m[B * L > 10 ? B * L : 10] = {};
    T ex, ey;
    monomios<T, U>(pares.origen(i), pares.destino(i), g, c, s, m, ex, ey);
    Vector<T> mv[B];
    for (uint32_t b = 0; b < B; ++b) mv[b] = junta(m + b * L);
#  pragma GCC unroll 10
    for (uint32_t j = 0; j < U; ++j) {
      const Vector<T> mj = difunde(m[j]);
      for (uint32_t b = 0; b <= j / L; ++b)
        acc[antes_de_fila(j, L) + b] = suma(acc[antes_de_fila(j, L) + b], producto(mj, mv[b]));
    }
    const Vector<T> exv = difunde(ex), eyv = difunde(ey);
    for (uint32_t b = 0; b < B; ++b) {
      acc[kN + b] = suma(acc[kN + b], producto(mv[b], exv));
      acc[kN + B + b] = suma(acc[kN + B + b], producto(mv[b], eyv));
    }
  }
  T filas[(kN + 2 * B) * L];
  for (uint32_t v = 0; v < kN + 2 * B; ++v) guarda(filas + v * L, acc[v]);
  for (uint32_t j = 0; j < U; ++j) {
    for (uint32_t k = 0; k <= j; ++k) N[j * (j + 1) / 2 + k] = filas[antes_de_fila(j, L) * L + k];
    rx[j] = filas[kN * L + j];
    ry[j] = filas[(kN + B) * L + j];
  }
}

}  // namespace orienta::interno

#endif
#endif
