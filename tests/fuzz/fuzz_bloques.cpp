// The fit in blocks on arbitrary pairs: any model, weights or none, split into blocks of any
// size (none and one included), the blocks' statistics merged in an order the input chooses.
//
// For every input:
//  - no crash, no sanitizer report, and every status one of the library's;
//  - a refused block, merge or solve leaves its output untouched;
//  - a solved fit's record passes the validator;
//  - the residual pass over the blocks writes, pair by pair, the bits of one pass over all
//    pairs (each pair's statistics depend on the solution alone), and the blocks' shares of
//    vᵀPv add up to the whole pass's to rounding;
//  - taking a block back out of the statistics and solving gives a valid record or a status.
#include <algorithm>

#include "comun.hpp"
#include "orienta_ajuste.h"

using namespace orienta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tam) {
  Lector l(datos, tam);
  const int32_t modelo = 1 + l.byte() % 6;
  const uint8_t opciones = l.byte();
  const bool entero = opciones & 1, con_sigma = opciones & 2;
  const int dim = orienta_modelo(modelo)->dim, spp = con_sigma ? (dim == 3 && (opciones & 4) ? 2 : 1) : 0;
  const uint32_t n = l.cuenta(40);
  std::vector<double> o(size_t(dim) * n + 1), d(size_t(dim) * n + 1), s(size_t(std::max(spp, 1)) * n + 1, 1.0);
  for (uint32_t i = 0; i < n; ++i) {
    for (int k = 0; k < dim; ++k) o[dim * i + k] = coordenada(l, entero);
    for (int k = 0; k < dim; ++k) d[dim * i + k] = coordenada(l, entero);
    for (int k = 0; k < spp; ++k) s[spp * i + k] = entero ? 0.01 * (1 + l.byte() % 8) : coordenada(l, false);
  }
  auto vista = [&](uint32_t ini, uint32_t m) {
    return orienta_pares{o.data() + size_t(dim) * ini,
                         8 * dim,
                         d.data() + size_t(dim) * ini,
                         8 * dim,
                         m,
                         spp ? s.data() + size_t(spp) * ini : nullptr,
                         spp ? spp : 1,
                         0.0};
  };
  // Blocks of the sizes the input gives, each into its own statistics.
  std::vector<std::pair<uint32_t, uint32_t>> bloques;
  std::vector<orienta_acumulador> acums;
  for (uint32_t ini = 0; ini < n || bloques.empty();) {
    // An empty block first when the input says so (and always when there are no pairs).
    const uint8_t b = l.byte();
    const uint32_t m = std::min<uint32_t>(n - ini, bloques.empty() && b % 9 == 0 ? 0 : 1 + b % 8);
    orienta_acumulador a;
    EXIGE(orienta_acumulador_inicia(&a, modelo, spp) == ORIENTA_OK);
    const orienta_pares p = vista(ini, m);
    const orienta_acumulador antes = a;
    const int32_t st = orienta_acumulador_anade(&a, &p);
    EXIGE(estado_conocido(st));
    if (st != ORIENTA_OK) {
      EXIGE(mismos_bits(a, antes));
      return 0;  // a pair no fit takes: nothing more to check
    }
    bloques.push_back({ini, m}), acums.push_back(a);
    ini += m;
  }
  // Merged in the order the input picks: each step joins a chosen record into another.
  while (acums.size() > 1) {
    const size_t i = l.byte() % acums.size(), j = (i + 1 + l.byte() % (acums.size() - 1)) % acums.size();
    EXIGE(orienta_acumulador_une(&acums[i], &acums[j]) == ORIENTA_OK);
    acums.erase(acums.begin() + std::ptrdiff_t(j));
  }
  EXIGE(acums[0].n == n);
  orienta_solucion sol, sol0;
  std::memset(&sol, 0x5a, sizeof sol), sol0 = sol;
  const int32_t st = orienta_resuelve(&acums[0], &sol);
  EXIGE(estado_conocido(st) && st <= 0);
  if (st != ORIENTA_OK) {
    EXIGE(mismos_bits(sol, sol0));
    return 0;
  }
  const char* campo = "";
  EXIGE(orienta_valida(&sol.t, &campo) == ORIENTA_OK && campo == nullptr);
  // One pass over everything, then one pass a block into the same arrays.
  const size_t c = size_t(dim) * n + 1;
  std::vector<double> v(c), w(c), q(c), r(c), v2(c), w2(c), q2(c), r2(c);
  const orienta_observaciones todo{v.data(), w.data(), q.data(), r.data(), nullptr};
  const orienta_pares p = vista(0, n);
  double vtpv = 0.0, suma = 0.0, mayor = 0.0;
  EXIGE(orienta_residuos(&sol, &p, nullptr, 1.0, &todo, &vtpv) == ORIENTA_OK);
  for (const auto& [ini, m] : bloques) {
    const size_t b = size_t(dim) * ini;
    const orienta_observaciones parte{v2.data() + b, w2.data() + b, q2.data() + b, r2.data() + b, nullptr};
    const orienta_pares pb = vista(ini, m);
    double x = 0.0;
    EXIGE(orienta_residuos(&sol, &pb, nullptr, 1.0, &parte, &x) == ORIENTA_OK);
    suma += x, mayor = std::max(mayor, std::fabs(x));
  }
  for (size_t k = 0; k + 1 < c; ++k) {
    for (const auto& [a, b] : {std::pair{v[k], v2[k]}, {w[k], w2[k]}, {q[k], q2[k]}, {r[k], r2[k]}})
      EXIGE(mismos_bits(a, b) || (std::isnan(a) && std::isnan(b)));
  }
  // Non-negative shares: no cancellation, so the sums differ by the rounding of the additions.
  if (std::isfinite(vtpv)) EXIGE(std::fabs(suma - vtpv) <= 1e-12 * double(bloques.size() + 1) * std::max(vtpv, mayor));
  // The last block taken back out.
  const orienta_pares ultimo = vista(bloques.back().first, bloques.back().second);
  orienta_acumulador a = acums[0];
  const orienta_acumulador antes = a;
  const int32_t sq = orienta_acumulador_quita(&a, &ultimo);
  EXIGE(estado_conocido(sq));
  if (sq != ORIENTA_OK) {
    EXIGE(mismos_bits(a, antes));
    return 0;
  }
  EXIGE(a.n == n - bloques.back().second);
  orienta_solucion t;
  const int32_t s2 = orienta_resuelve(&a, &t);
  EXIGE(estado_conocido(s2));
  if (s2 == ORIENTA_OK) EXIGE(orienta_valida(&t.t, nullptr) == ORIENTA_OK);
  return 0;
}
