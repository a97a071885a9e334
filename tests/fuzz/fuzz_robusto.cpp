// The robust fits on arbitrary pairs: any model and method, weights or none, any threshold,
// confidence, sample cap and seed, coordinates raw or small integers (coincident and collinear
// samples common), a share of them moved far as blunders.
//
// For every input:
//  - no crash, no sanitizer report, and every status one of the library's;
//  - a negative status leaves every output untouched;
//  - status 0 ⇒ a record the validator accepts, finite centres and matrix, flags of 0 and 1 that
//    add up to info.inliers, weights in (0, 1] (MSAC: exactly the flags), a finite σ0 ≥ 0 or NaN
//    with r = 0, the fit's own pairs with finite residuals, and no more samples than the cap;
//  - the same call again gives the same bits.
#include "comun.hpp"
#include "orienta_ajuste.h"

using namespace orienta::fuzz;

namespace {

struct Salida {
  int32_t estado;
  orienta_transformacion t;
  orienta_estadisticas e;
  orienta_robusto_info info;
  std::vector<uint8_t> dentro;
  std::vector<double> peso, v;
};

Salida llama(int32_t modelo, const orienta_pares& p, const orienta_robusto_opciones& op, int dim) {
  Salida s;
  std::memset(&s.t, 0xa5, sizeof s.t), std::memset(&s.e, 0xa5, sizeof s.e), std::memset(&s.info, 0xa5, sizeof s.info);
  s.dentro.assign(p.n + 1, 0xa5), s.peso.assign(p.n + 1, 0.125), s.v.assign(size_t(dim) * p.n + 1, 0.125);
  const orienta_observaciones obs{s.v.data(), nullptr, nullptr, nullptr, nullptr};
  s.estado = orienta_robusto(modelo, &p, &op, &s.t, &s.e, &obs, s.dentro.data(), s.peso.data(), &s.info);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tam) {
  Lector l(datos, tam);
  const int32_t modelo = 1 + l.byte() % 7;  // 7 is an unknown model
  const uint8_t opciones = l.byte();
  const bool entero = opciones & 1, con_sigma = opciones & 2, depura = opciones & 8;
  const int dim = modelo == ORIENTA_HELMERT3D || modelo == ORIENTA_RIGIDO3D ? 3 : 2;
  const int spp = con_sigma && dim == 3 && (opciones & 4) ? 2 : 1;
  orienta_robusto_opciones op{};
  op.metodo = l.byte() % 5;  // 0 and 4 are unknown methods
  switch (l.byte() % 4) {
    case 0: op.umbral = 0.0; break;
    case 1: op.umbral = 0.5 * (1 + l.byte() % 8); break;
    default: op.umbral = l.escalar<double>(); break;  // negative, NaN, ∞, subnormal …
  }
  op.confianza = l.byte() % 3 == 0 ? l.escalar<double>() : 0.0;
  op.max_iteraciones = 1 + l.byte() % 64;  // few samples and steps: the search itself is not under test
  op.max_pasos = 1 + l.byte() % 8;
  op.semilla = uint64_t(l.u32()) | uint64_t(l.u32()) << 32;
  const uint32_t n = l.cuenta(40);
  std::vector<double> o(size_t(dim) * n + 1), d(size_t(dim) * n + 1), s(size_t(spp) * n + 1, 1.0);
  for (uint32_t i = 0; i < n; ++i) {
    for (int k = 0; k < dim; ++k) o[dim * i + k] = coordenada(l, entero);
    const bool grueso = l.byte() % 3 == 0;
    for (int k = 0; k < dim; ++k) d[dim * i + k] = o[dim * i + k] + coordenada(l, entero) * (grueso ? 64.0 : 0.01);
    for (int k = 0; con_sigma && k < spp; ++k) s[spp * i + k] = entero ? 0.01 * (1 + l.byte() % 8) : coordenada(l, false);
  }
  const orienta_pares pares{o.data(), 8 * dim, d.data(), 8 * dim, n, con_sigma ? s.data() : nullptr, spp,
                            depura ? 3.29 : 0.0};

  const Salida a = llama(modelo, pares, op, dim);
  EXIGE(estado_conocido(a.estado));
  if (a.estado < 0) {
    Salida nada;
    std::memset(&nada.t, 0xa5, sizeof nada.t), std::memset(&nada.e, 0xa5, sizeof nada.e);
    std::memset(&nada.info, 0xa5, sizeof nada.info);
    EXIGE(mismos_bits(a.t, nada.t) && mismos_bits(a.e, nada.e) && mismos_bits(a.info, nada.info));
    for (uint8_t b : a.dentro) EXIGE(b == 0xa5);
    for (double w : a.peso) EXIGE(w == 0.125);
    for (double v : a.v) EXIGE(v == 0.125);
    return 0;
  }
  EXIGE(a.estado == ORIENTA_OK);
  EXIGE(orienta_valida(&a.t, nullptr) == ORIENTA_OK);
  EXIGE(todos_finitos(a.t.centro_origen, 3) && todos_finitos(a.t.centro_destino, 3) && todos_finitos(a.t.matriz, 9));
  EXIGE(a.e.sigma0 >= 0 || (std::isnan(a.e.sigma0) && a.e.redundancia == 0));
  EXIGE(a.dentro[n] == 0xa5 && a.peso[n] == 0.125 && a.v[dim * n] == 0.125);
  uint32_t dentro = 0;
  for (uint32_t i = 0; i < n; ++i) {
    EXIGE(a.dentro[i] <= 1);
    dentro += a.dentro[i];
    EXIGE(a.peso[i] > 0 || (op.metodo == ORIENTA_ROBUSTO_MSAC && a.peso[i] == 0));
    EXIGE(a.peso[i] <= 1);
    if (op.metodo == ORIENTA_ROBUSTO_MSAC) {
      EXIGE(a.peso[i] == a.dentro[i]);
      if (a.dentro[i]) EXIGE(todos_finitos(&a.v[dim * i], dim));
    }
  }
  EXIGE(dentro == a.info.inliers);
  EXIGE(a.info.iteraciones <= op.max_iteraciones);
  if (op.metodo == ORIENTA_ROBUSTO_MSAC)
    EXIGE(a.e.usados == a.info.inliers);
  else
    EXIGE(a.e.usados == n && a.info.iteraciones_irls <= op.max_pasos);
  const Salida b = llama(modelo, pares, op, dim);
  EXIGE(b.estado == a.estado && mismos_bits(a.t, b.t) && mismos_bits(a.info, b.info) && mismos_bits(a.dentro, b.dentro));
  EXIGE(mismos_bits(a.peso, b.peso) && mismos_bits(a.v, b.v));
  return 0;
}
