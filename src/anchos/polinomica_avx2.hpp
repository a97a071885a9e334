// The normal-equation pass of the polynomial estimation on AVX2, both precisions. Same terms, same
// order of additions as suma_normales in plano/polinomica.hpp.
//
// Row-wise: row j of N is m[j]·(m[0], …, m[j]), so m[j] is broadcast and multiplied by the
// vector of monomials, and the products land in the lanes of the row's own accumulators, one lane
// per entry, each taking the pairs in order. A row of j + 1 entries takes ⌈(j + 1)/L⌉ registers of
// L lanes; lanes past the row's end collect products nobody reads. rx and ry are two more rows,
// m·ex and m·ey.
#ifndef ORIENTA_ANCHOS_POLINOMICA_AVX2_HPP
#define ORIENTA_ANCHOS_POLINOMICA_AVX2_HPP

#include <cstdint>

#include "anchos/despacho.hpp"
#include "anchos/vectores.hpp"
#include "gemelos.hpp"
#include "interno.hpp"

#if ORIENTA_AVX2

namespace orienta::interno {

template <class T, uint32_t U>
void monomios(const T* o, const T* d, const RegistroHel2Dg<T>& g, T c, T s, T m[10], T& ex, T& ey);

// Registers before row j when row i takes ⌈(i + 1)/L⌉ of them.
constexpr uint32_t antes_de_fila(uint32_t j, uint32_t L) {
  uint32_t r = 0;
  for (uint32_t i = 0; i < j; ++i) r += (i + L) / L;
  return r;
}

template <class T, uint32_t U>
ORIENTA_CON_AVX2 void suma_normales_avx2(const CapaPtr<T>& pares, uint32_t n,
                                         const RegistroHel2Dg<T>& g, T c, T s, T* N, T* rx, T* ry) {
  constexpr uint32_t L = sizeof(Vector<T>) / sizeof(T);
  constexpr uint32_t B = (U + L - 1) / L;  // registers of one full row of U
  constexpr uint32_t kN = antes_de_fila(U, L);
  Vector<T> acc[kN + 2 * B];  // the rows of N, then rx, then ry
  for (Vector<T>& v : acc) v = difunde(T(0));
  for (uint32_t i = 0; i < n; ++i) {
    T m[B * L > 10 ? B * L : 10] = {};
    T ex, ey;
    monomios<T, U>(pares.origen(i), pares.destino(i), g, c, s, m, ex, ey);
    Vector<T> mv[B];
    for (uint32_t b = 0; b < B; ++b) mv[b] = junta(m + b * L);
#pragma GCC unroll 10
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
