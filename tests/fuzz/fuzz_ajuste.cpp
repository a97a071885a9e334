// The adjustment on arbitrary pairs: any model, weights or none, snooping or not, coordinates
// either raw doubles or small integers (which make coincident, collinear and conic sets common).
//
// For every input:
//  - no crash, no sanitizer report;
//  - a negative status leaves the record, the statistics and every observation buffer untouched;
//  - status 0 ⇒ finite centres and matrix, for the similarities a proper rotation and s > 0,
//    σ0 ≥ 0 (or NaN when r = 0), and the pair counts add up;
//  - the record passes the validator every reader of stored records uses;
//  - applying it forward and back flags exactly the points whose image is not finite, as NaN.
#include "comun.hpp"

using namespace orienta::fuzz;

namespace {

// Small integers (halves), or the raw bits of a double.
double real(Lector& l, bool entero) {
  if (entero) return double(int8_t(l.byte())) * 0.5;
  uint64_t b = l.u32();
  b |= uint64_t(l.u32()) << 32;
  double x;
  std::memcpy(&x, &b, 8);
  return x;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tam) {
  Lector l(datos, tam);
  const int32_t modelo = 1 + l.byte() % 7;  // 7 is an unknown model
  const uint8_t opciones = l.byte();
  const bool entero = opciones & 1, con_sigma = opciones & 2, dos_sigmas = opciones & 4;
  const double umbral = opciones & 8 ? 2.0 + (l.byte() % 16) * 0.25 : 0.0;
  const uint32_t n = l.byte() % 24;
  const int dim = modelo == ORIENTA_HELMERT3D || modelo == ORIENTA_RIGIDO3D ? 3 : 2, spp = dos_sigmas ? 2 : 1;
  std::vector<double> o(dim * n + 1), d(dim * n + 1), sigma(spp * n + 1);
  for (uint32_t i = 0; i < n; ++i) {
    for (int k = 0; k < dim; ++k) o[dim * i + k] = real(l, entero);
    for (int k = 0; k < dim; ++k) d[dim * i + k] = real(l, entero);
    for (int k = 0; con_sigma && k < spp; ++k) sigma[spp * i + k] = entero ? 0.01 * (1 + l.byte() % 8) : real(l, false);
  }
  const orienta_pares pares{o.data(), 8 * dim, d.data(), 8 * dim, n, con_sigma ? sigma.data() : nullptr, spp, umbral};

  orienta_transformacion t, t0;
  orienta_estadisticas e, e0;
  std::memset(&t, 0xa5, sizeof t), std::memset(&e, 0xa5, sizeof e), t0 = t, e0 = e;
  std::vector<double> v(dim * n + 1, 0.125), w = v, q = v, r = v;
  std::vector<uint8_t> fuera(n + 1, 0xa5);
  const orienta_observaciones obs{v.data(), w.data(), q.data(), r.data(), fuera.data()};
  const int32_t estado = orienta_ajusta(modelo, &pares, &t, &e, &obs);
  EXIGE(orienta_estado_texto(estado) != nullptr);
  if (estado < 0) {
    EXIGE(mismos_bits(t, t0) && mismos_bits(e, e0));
    for (const auto* b : {&v, &w, &q, &r}) EXIGE(mismos_bits(*b, std::vector<double>(dim * n + 1, 0.125)));
    for (uint8_t x : fuera) EXIGE(x == 0xa5);
    return 0;
  }
  EXIGE(estado == ORIENTA_OK);
  EXIGE(todos_finitos(t.centro_origen, 3) && todos_finitos(t.centro_destino, 3) && todos_finitos(t.matriz, 9));
  EXIGE(e.usados + e.excluidos == n && e.redundancia == dim * int32_t(e.usados) - e.num_parametros);
  EXIGE(e.sigma0 >= 0 || (std::isnan(e.sigma0) && e.redundancia == 0));
  uint32_t marcados = 0;
  for (uint32_t i = 0; i < n; ++i) marcados += fuera[i];
  EXIGE(marcados == e.excluidos);
  if (modelo == ORIENTA_HELMERT3D || modelo == ORIENTA_HELMERT2D || modelo == ORIENTA_RIGIDO3D)
    EXIGE(std::isfinite(t.escala) && t.escala > 0 && es_rotacion(t.rotacion, 1e-12));
  const char* campo = "";
  EXIGE(orienta_valida(&t, &campo) == ORIENTA_OK && campo == nullptr);
  // Forward then back, in place: every point is either flagged, and NaN, or a finite number.
  std::vector<double> ida(o.begin(), o.end() - 1);
  for (int sentido = 0; sentido < 2; ++sentido) {
    std::vector<uint8_t> fallo(n + 1, 0xa5);
    const int64_t fallidos = orienta_aplica(&t, sentido, ida.data(), 8 * dim, ida.data(), 8 * dim, n, fallo.data());
    EXIGE(fallidos >= 0 && fallidos <= int64_t(n) && fallo[n] == 0xa5);
    int64_t marcados = 0;
    for (uint32_t i = 0; i < n; ++i) {
      EXIGE(fallo[i] <= 1);
      marcados += fallo[i];
      if (fallo[i])
        for (int k = 0; k < dim; ++k) EXIGE(std::isnan(ida[dim * i + k]));
      else
        EXIGE(todos_finitos(&ida[dim * i], dim));
    }
    EXIGE(marcados == fallidos);
  }
  return 0;
}
