#include "diradodavid.h"  // first, so a drifting signature is a compile error

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>

namespace {

// Position of (j, k), k ≤ j, in the packed lower triangle.
inline size_t pos(size_t j, size_t k) { return j * (j + 1) / 2 + k; }

// Cholesky N = L·Lᵀ in place, row by row, then L·y = r and Lᵀ·x = y for both right-hand sides.
// Every sum runs in increasing index order.
template <class T>
int32_t resuelve(T* N, T* rx, T* ry, int32_t u) {
  if (u < 1) return -1;
  const size_t n = size_t(u);
  // Relative pivot test: what elimination leaves of a diagonal entry is compared with that same
  // entry as given. A test against the largest diagonal entry would reject sound unscaled systems
  // (a third-order fit over kilometre spreads has diagonal entries from n up to ~10²⁴).
  const T umbral = T(u) * std::numeric_limits<T>::epsilon();
  for (size_t j = 0; j < n; ++j) {
    T* fila = N + pos(j, 0);
    for (size_t k = 0; k < j; ++k) {
      const T* fila_k = N + pos(k, 0);
      T suma = fila[k];
      for (size_t m = 0; m < k; ++m) suma -= fila[m] * fila_k[m];
      fila[k] = suma / fila_k[k];
    }
    const T diagonal = fila[j];
    T pivote = diagonal;
    for (size_t m = 0; m < j; ++m) pivote -= fila[m] * fila[m];
    // Written so that NaN fails too.
    if (!(pivote > T(0)) || !(pivote > umbral * diagonal)) {
      for (size_t i = 0; i < n; ++i) rx[i] = ry[i] = std::numeric_limits<T>::quiet_NaN();
      return int32_t(j + 1);
    }
    fila[j] = std::sqrt(pivote);
  }
  for (T* r : {rx, ry}) {
    for (size_t j = 0; j < n; ++j) {
      const T* fila = N + pos(j, 0);
      T suma = r[j];
      for (size_t k = 0; k < j; ++k) suma -= fila[k] * r[k];
      r[j] = suma / fila[j];
    }
    for (size_t j = n; j-- > 0;) {
      T suma = r[j];
      for (size_t k = j + 1; k < n; ++k) suma -= N[pos(k, j)] * r[k];
      r[j] = suma / N[pos(j, j)];
    }
  }
  return 0;
}

}  // namespace

extern "C" int32_t resuelve_sistema_sim_t_2_dbl(double* N, double* rx, double* ry, int32_t u) {
  return resuelve<double>(N, rx, ry, u);
}
extern "C" int32_t resuelve_sistema_sim_t_2_fl(float* N, float* rx, float* ry, int32_t u) {
  return resuelve<float>(N, rx, ry, u);
}
