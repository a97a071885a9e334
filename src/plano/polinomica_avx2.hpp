// The normal-equation pass of the polynomial estimation on AVX2, both precisions. The monomials are
// those of monomios and each entry takes its products in pair order, as in suma_normales, so the
// bits are the same.
//
// Row-wise: row j of N is m[j]·(m[0], …, m[j]), so m[j] is broadcast and multiplied by the
// vector of monomials, and the products land in the lanes of the row's own accumulators, one lane
// per entry, each taking the pairs in order. A row of j + 1 entries takes ⌈(j + 1)/L⌉ registers of
// L lanes; lanes past the row's end collect products nobody reads. rx and ry are two more rows,
// m·ex and m·ey.
//
// For ten monomials in double, the monomials of four pairs are formed side by side, one pair per
// lane, and three 4×4 transposes store each pair's (m0 … m3), (m4 … m7), (m8, m9, ex, ey) as three
// vectors (ex and ey sit in lanes no row reads). The rows then read m[j] as broadcast loads and the
// monomial vectors as plain loads: no scalar-to-vector shuffles per pair.
#ifndef ORIENTA_PLANO_POLINOMICA_AVX2_HPP
#define ORIENTA_PLANO_POLINOMICA_AVX2_HPP

#include <cstdint>
#include <type_traits>

#include "anchos/despacho.hpp"
#include "anchos/vectores.hpp"
#include "gemelos.hpp"
#include "interno.hpp"
#include "plano/polinomica_pasadas.hpp"

#if ORIENTA_AVX2

namespace orienta::interno {

// Registers before row j when row i takes ⌈(i + 1)/L⌉ of them.
constexpr uint32_t antes_de_fila(uint32_t j, uint32_t L) {
  uint32_t r = 0;
  for (uint32_t i = 0; i < j; ++i) r += (i + L) / L;
  return r;
}

// Pairs i … i+3: m0 … m9, ex, ey of pair i + q, the values monomios_de_par<10> gives one pair at a
// time, in three blocks of four vectors: block b holds m[4b … 4b + 3] of pair q at 4q.
ORIENTA_CON_AVX2 inline void monomios_de_cuatro(const CapaPtr<double>& pares, uint32_t i,
                                                const RegistroHel2Dg<double>& g, double c, double s, double mm[48]) {
  __m256d xo, yo, xd, yd;
  xy_de_cuatro(pares.origen(i), pares.origen(i + 1), pares.origen(i + 2), pares.origen(i + 3), xo, yo);
  xy_de_cuatro(pares.destino(i), pares.destino(i + 1), pares.destino(i + 2), pares.destino(i + 3), xd, yd);
  __m256d m[12];
  m[0] = difunde(1.0);
  monomios<10>(xo - difunde(g.xc_origen), yo - difunde(g.yc_origen), xd - difunde(g.xc_destino),
               yd - difunde(g.yc_destino), difunde(c), difunde(s), m, m[10], m[11]);
  for (size_t b = 0; b < 3; ++b) {
    traspone(m + 4 * b);
    for (size_t q = 0; q < 4; ++q) guarda(mm + 16 * b + 4 * q, m[4 * b + q]);
  }
}

// Where monomios_de_cuatro leaves m[j] of pair q (j = 10, 11: ex, ey).
constexpr uint32_t lugar(uint32_t q, uint32_t j) { return 16 * (j / 4) + 4 * q + j % 4; }

// Adds the products of one pair to the rows of acc: mv holds its monomials as vectors of L, m[j] (or
// m[lugar(0, j)] when kBloques, the layout of monomios_de_cuatro) monomial j as a scalar.
template <uint32_t U, bool kBloques, class T>
ORIENTA_CON_AVX2 inline void suma_par_a_filas(Vector<T>* acc, const Vector<T>* mv, const T* m, T ex, T ey) {
  constexpr uint32_t L = sizeof(Vector<T>) / sizeof(T);
  constexpr uint32_t B = (U + L - 1) / L;  // registers of one full row of U
  constexpr uint32_t kN = antes_de_fila(U, L);
#  pragma GCC unroll 10
  for (uint32_t j = 0; j < U; ++j) {
    const Vector<T> mj = difunde(m[kBloques ? lugar(0, j) : j]);
    for (uint32_t b = 0; b <= j / L; ++b) acc[antes_de_fila(j, L) + b] = acc[antes_de_fila(j, L) + b] + mj * mv[b];
  }
  const Vector<T> exv = difunde(ex), eyv = difunde(ey);
  for (uint32_t b = 0; b < B; ++b) {
    acc[kN + b] = acc[kN + b] + mv[b] * exv;
    acc[kN + B + b] = acc[kN + B + b] + mv[b] * eyv;
  }
}

template <uint32_t U, class T>
ORIENTA_CON_AVX2 void suma_normales_avx2(const CapaPtr<T>& pares, uint32_t n, const RegistroHel2Dg<T>& g, T c, T s,
                                         T* N, T* rx, T* ry) {
  constexpr uint32_t L = sizeof(Vector<T>) / sizeof(T);
  constexpr uint32_t B = (U + L - 1) / L;
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
        suma_par_a_filas<U, true>(acc, mv, mm + 4 * size_t(q), mm[lugar(q, 10)], mm[lugar(q, 11)]);
      }
    }
  }
  for (; i < n; ++i) {
    T m[B * L > 10 ? B * L : 10] = {};
    T ex, ey;
    monomios_de_par<U>(pares.origen(i), pares.destino(i), g, c, s, m, ex, ey);
    Vector<T> mv[B];
    for (uint32_t b = 0; b < B; ++b) mv[b] = junta(m + b * L);
    suma_par_a_filas<U, false>(acc, mv, m, ex, ey);
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
