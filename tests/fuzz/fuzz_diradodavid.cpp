// The packed Cholesky solver of libdiradodavid, both precisions, on any order (negative too) and
// any matrix, or on a positive semi-definite BᵀB + d·I built from the input.
//
// For every input: an order below 1 returns −1 and touches nothing; a refusal names a row in
// [1, u] and leaves both right-hand sides all NaN; the same input gives the same bits. A solution
// is backward stable: each residual within a few u·ε of Σⱼ √(N_ii·N_jj)·|x_j|, the size of
// |L|·|Lᵀ|·|x| for the factor the elimination made, whatever the scaling of the rows.
#include "comun.hpp"
#include "diradodavid.h"

using namespace orienta::fuzz;

namespace {

GEMELOS(resuelve, resuelve_sistema_sim_t_2_dbl, resuelve_sistema_sim_t_2_fl)

// Zero, or far from T's overflow and underflow: the residual bound below assumes neither.
template <class T>
bool moderado(const std::vector<T>& v) {
  using L = std::numeric_limits<T>;
  for (T x : v)
    if (!(x == 0 || (std::fabs(x) >= std::ldexp(T(1), L::min_exponent / 2) &&
                     std::fabs(x) <= std::ldexp(T(1), L::max_exponent / 2))))
      return false;
  return true;
}

template <class T>
void comprueba(Lector& lector) {
  const int32_t u = int32_t(lector.byte() % 14) - 1;
  const size_t orden = size_t(u < 1 ? 1 : u), empaquetados = orden * (orden + 1) / 2;
  using Sistema = std::pair<std::vector<T>, std::vector<T>>;  // N packed, then rx and ry
  Sistema s = {std::vector<T>(empaquetados), std::vector<T>(2 * orden)};
  bool definida = false;
  if (lector.byte() % 2 == 0) {
    for (T& v : s.first) v = lector.escalar<T>();
  } else {
    std::vector<T> B(orden * orden);
    for (T& v : B) v = T(int8_t(lector.byte())) * T(0.125);
    const T d = T(lector.byte() % 4) * T(0.25);
    // With d > 0 every pivot keeps at least d/(u·16²) of its diagonal entry, far above u·ε.
    definida = d > 0;
    // Row and column j scaled by 2^(paso·j), as unscaled normal equations are: the diagonal
    // spans up to 2^±44, and a sound pivot test must not take that for singularity.
    const int paso = int(lector.byte() % 5) - 2;
    for (size_t j = 0, e = 0; j < orden; ++j)
      for (size_t k = 0; k <= j; ++k, ++e) {
        T suma = j == k ? d : T(0);
        for (size_t i = 0; i < orden; ++i) suma += B[i * orden + j] * B[i * orden + k];
        s.first[e] = std::ldexp(suma, paso * int(j + k));
      }
  }
  for (T& v : s.second) v = lector.escalar<T>();

  const auto [resuelto, estado] = dos_rellenos<int32_t>(s, [u, orden](Sistema& e, int32_t& r) {
    r = resuelve(e.first.data(), e.second.data(), e.second.data() + orden, u);
  });
  if (u < 1) {
    EXIGE(estado == -1 && mismos_bits(resuelto, s));
    return;
  }
  EXIGE(estado >= 0 && estado <= u && !(definida && estado != 0));
  if (estado != 0) {
    for (T x : resuelto.second) EXIGE(std::isnan(x));
    return;
  }
  if (!moderado(s.first) || !moderado(s.second) || !todos_finitos(resuelto.second.data(), 2 * orden)) return;
  auto N = [&](size_t i, size_t j) { return (long double)s.first[i >= j ? i * (i + 1) / 2 + j : j * (j + 1) / 2 + i]; };
  const long double tolerancia = 4 * (3 * u + 1) * (long double)std::numeric_limits<T>::epsilon();
  for (size_t lado = 0; lado < 2; ++lado)
    for (size_t i = 0; i < orden; ++i) {
      const T* x = resuelto.second.data() + lado * orden;
      long double residuo = -(long double)s.second[lado * orden + i], cota = std::fabs(residuo) * tolerancia;
      for (size_t j = 0; j < orden; ++j) {
        residuo += N(i, j) * x[j];
        cota += tolerancia * std::sqrt(N(i, i) * N(j, j)) * std::fabs((long double)x[j]);
      }
      EXIGE(std::fabs(residuo) <= cota);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  (lector.byte() % 2 == 0 ? comprueba<double> : comprueba<float>)(lector);
  return 0;
}
