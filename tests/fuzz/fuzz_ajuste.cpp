// The adjustment on arbitrary pairs: any model, weights or none, snooping or not, coordinates
// either raw doubles or small integers (which make coincident, collinear and conic sets common).
//
// For every input:
//  - no crash, no sanitizer report;
//  - a negative status leaves the record, the statistics and every observation buffer untouched;
//  - status 0 ⇒ finite centres and matrix, for the similarities a proper rotation and s > 0,
//    σ0 ≥ 0 (or NaN when r = 0), and the pair counts add up;
//  - applying the record forward and back is finite where the inverse reports success.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orienta.h"

namespace {

// A broken invariant aborts, so libFuzzer keeps the input; the stack trace names the line.
void exige(bool condicion) {
  if (!condicion) std::abort();
}

// Reads the input front to back; past its end, zeros. Small integers (halves) or raw doubles.
struct Lector {
  const uint8_t* p;
  size_t n;
  uint8_t byte() { return n ? (--n, *p++) : 0; }
  double real(bool entero) {
    if (entero) return double(int8_t(byte())) * 0.5;
    uint8_t b[8];
    for (uint8_t& c : b) c = byte();
    double x;
    std::memcpy(&x, b, 8);
    return x;
  }
};

bool finitos(const double* x, int n) {
  for (int k = 0; k < n; ++k)
    if (!std::isfinite(x[k])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tam) {
  Lector l{datos, tam};
  const int32_t modelo = 1 + l.byte() % 6;  // 6 is an unknown model
  const uint8_t opciones = l.byte();
  const bool entero = opciones & 1, con_sigma = opciones & 2, dos_sigmas = opciones & 4;
  const double umbral = opciones & 8 ? 2.0 + (l.byte() % 16) * 0.25 : 0.0;
  const uint32_t n = l.byte() % 24;
  const int dim = modelo == ORIENTA_HELMERT3D ? 3 : 2, spp = dos_sigmas ? 2 : 1;
  std::vector<double> o(dim * n + 1), d(dim * n + 1), sigma(spp * n + 1);
  for (uint32_t i = 0; i < n; ++i) {
    for (int k = 0; k < dim; ++k) o[dim * i + k] = l.real(entero);
    for (int k = 0; k < dim; ++k) d[dim * i + k] = l.real(entero);
    for (int k = 0; con_sigma && k < spp; ++k) sigma[spp * i + k] = entero ? 0.01 * (1 + l.byte() % 8) : l.real(false);
  }
  const orienta_pares pares{o.data(), 8 * dim, d.data(), 8 * dim, n, con_sigma ? sigma.data() : nullptr, spp, umbral};

  orienta_transformacion t, t0;
  orienta_estadisticas e, e0;
  std::memset(&t, 0xa5, sizeof t), std::memset(&e, 0xa5, sizeof e), t0 = t, e0 = e;
  std::vector<double> v(dim * n + 1, 0.125), w = v, q = v, r = v;
  std::vector<uint8_t> fuera(n + 1, 0xa5);
  const orienta_observaciones obs{v.data(), w.data(), q.data(), r.data(), fuera.data()};
  const int32_t estado = orienta_ajusta(modelo, &pares, &t, &e, &obs);
  exige(orienta_estado_texto(estado) != nullptr);
  if (estado < 0) {
    exige(std::memcmp(&t, &t0, sizeof t) == 0 && std::memcmp(&e, &e0, sizeof e) == 0);
    for (double x : v) exige(x == 0.125);
    for (uint8_t x : fuera) exige(x == 0xa5);
    return 0;
  }
  exige(estado == ORIENTA_OK);
  exige(finitos(t.centro_origen, 3) && finitos(t.centro_destino, 3) && finitos(t.matriz, 9));
  exige(e.usados + e.excluidos == n && e.redundancia == dim * int32_t(e.usados) - e.num_parametros);
  exige(e.sigma0 >= 0 || (std::isnan(e.sigma0) && e.redundancia == 0));
  uint32_t marcados = 0;
  for (uint32_t i = 0; i < n; ++i) marcados += fuera[i];
  exige(marcados == e.excluidos);
  if (modelo == ORIENTA_HELMERT3D || modelo == ORIENTA_HELMERT2D) {
    exige(std::isfinite(t.escala) && t.escala > 0);
    const double* m = t.rotacion;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        const double p = m[3 * i] * m[3 * j] + m[3 * i + 1] * m[3 * j + 1] + m[3 * i + 2] * m[3 * j + 2];
        exige(std::fabs(p - (i == j)) < 1e-12);
      }
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    exige(std::fabs(det - 1) < 1e-12);
  }
  // Forward then back, in place: a point is flagged (and NaN) or, if its image was finite, a number.
  std::vector<double> ida(o.begin(), o.end() - 1);
  std::vector<uint8_t> fallo(n + 1, 0);
  exige(orienta_aplica(&t, 0, ida.data(), 8 * dim, ida.data(), 8 * dim, n, nullptr) == 0);
  const std::vector<double> imagen = ida;
  const int64_t fallidos = orienta_aplica(&t, 1, ida.data(), 8 * dim, ida.data(), 8 * dim, n, fallo.data());
  exige(fallidos >= 0 && fallidos <= int64_t(n));
  for (uint32_t i = 0; i < n; ++i) {
    if (fallo[i]) exige(std::isnan(ida[dim * i]));
    else if (finitos(&imagen[dim * i], dim)) exige(!std::isnan(ida[dim * i]));
  }
  return 0;
}
