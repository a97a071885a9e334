// The adjustment's exported functions: argument checks, then the templates of ajusta.hpp and
// aplica.hpp. No arithmetic here.
#include "orienta.h"  // first, so a drifting signature is a compile error, not a mangled overload

#include "ajuste/ajusta.hpp"
#include "ajuste/aplica.hpp"

#include <cmath>
#include <cstdint>

namespace {

using namespace orienta::interno;

bool alineado(const void* p, int64_t paso) {
  return reinterpret_cast<uintptr_t>(p) % alignof(double) == 0 && paso % int64_t(sizeof(double)) == 0;
}

int32_t dimension(int32_t modelo) { return modelo == ORIENTA_HELMERT3D ? 3 : 2; }

// Everything orienta_ajusta can refuse before it reads a coordinate, then every coordinate and σ.
int32_t valida(int32_t modelo, const orienta_pares* pares, Datos& x, Opciones& op) {
  if (modelo < ORIENTA_HELMERT3D || modelo > ORIENTA_POLI2D_3 || !pares) return ORIENTA_E_ARGUMENTO;
  const int dim = dimension(modelo);
  const orienta_pares& p = *pares;
  if (p.n > 0 && (!p.origen || !p.destino)) return ORIENTA_E_ARGUMENTO;
  if (!alineado(p.origen, p.paso_origen) || !alineado(p.destino, p.paso_destino)) return ORIENTA_E_ARGUMENTO;
  if (p.sigma && !(p.sigmas_por_par == 1 || (p.sigmas_por_par == 2 && dim == 3))) return ORIENTA_E_ARGUMENTO;
  if (!(p.umbral >= 0.0) || std::isinf(p.umbral)) return ORIENTA_E_ARGUMENTO;
  static constexpr uint32_t kMinimos[] = {0, 3, 2, 3, 6, 10};
  if (p.n < kMinimos[modelo]) return ORIENTA_E_POCOS;
  x = Datos{reinterpret_cast<const unsigned char*>(p.origen),
            reinterpret_cast<const unsigned char*>(p.destino),
            p.paso_origen,
            p.paso_destino,
            p.n,
            p.sigma,
            p.sigma ? p.sigmas_por_par : 1};
  for (uint32_t i = 0; i < p.n; ++i) {
    const double *o = x.origen(i), *d = x.destino(i);
    for (int k = 0; k < dim; ++k)
      if (!std::isfinite(o[k]) || !std::isfinite(d[k])) return ORIENTA_E_NO_FINITO;
    for (int k = 0; p.sigma && k < x.spp; ++k) {
      const double s = p.sigma[size_t(x.spp) * i + k];
      if (!(s > 0.0) || std::isinf(s)) return ORIENTA_E_NO_FINITO;
      // 1/σ² must be a finite, normal weight.
      const double w = 1.0 / (s * s);
      if (!std::isfinite(w) || w == 0.0) return ORIENTA_E_DESBORDA;
    }
  }
  op = Opciones{p.umbral, p.sigma != nullptr};
  return ORIENTA_OK;
}

}  // namespace

extern "C" int32_t orienta_ajusta(int32_t modelo, const orienta_pares* pares, orienta_transformacion* t,
                                  orienta_estadisticas* e, const orienta_observaciones* obs) {
  Datos x{};
  Opciones op{};
  const int32_t st = valida(modelo, pares, x, op);
  if (st != ORIENTA_OK) return st;
  switch (modelo) {
    case ORIENTA_HELMERT3D: return ajusta_modelo<Helmert3D>(x, op, t, e, obs);
    case ORIENTA_HELMERT2D: return ajusta_modelo<Helmert2D>(x, op, t, e, obs);
    case ORIENTA_AFIN2D: return ajusta_modelo<Afin2D>(x, op, t, e, obs);
    case ORIENTA_POLI2D_2: return ajusta_modelo<Poli2D2>(x, op, t, e, obs);
    default: return ajusta_modelo<Poli2D3>(x, op, t, e, obs);
  }
}

extern "C" int64_t orienta_aplica(const orienta_transformacion* t, int32_t inversa, const double* entrada,
                                  int64_t paso_entrada, double* salida, int64_t paso_salida, uint64_t n,
                                  uint8_t* fallo) {
  if (!t || !registro_valido(t)) return ORIENTA_E_ARGUMENTO;
  if (n > 0 && (!entrada || !salida)) return ORIENTA_E_ARGUMENTO;
  if (!alineado(entrada, paso_entrada) || !alineado(salida, paso_salida)) return ORIENTA_E_ARGUMENTO;
  return aplica(t, inversa != 0, reinterpret_cast<const unsigned char*>(entrada), paso_entrada,
                reinterpret_cast<unsigned char*>(salida), paso_salida, n, fallo);
}

extern "C" int32_t orienta_invierte(const orienta_transformacion* t, orienta_transformacion* inv) {
  if (!t || !inv || !registro_valido(t)) return ORIENTA_E_ARGUMENTO;
  return invierte(t, inv);
}

extern "C" const char* orienta_estado_texto(int32_t estado) {
  switch (estado) {
    case ORIENTA_OK: return "success";
    case ORIENTA_E_ARGUMENTO: return "invalid argument: null pointer, unknown model or bad option";
    case ORIENTA_E_POCOS: return "too few point pairs for the model";
    case ORIENTA_E_NO_FINITO: return "a coordinate or sigma is not finite, or a sigma is not positive";
    case ORIENTA_E_COINCIDENTES: return "all source points or all target points coincide";
    case ORIENTA_E_COLINEALES: return "the source points lie on one line";
    case ORIENTA_E_RANGO: return "the design matrix loses rank: the points do not determine the model";
    case ORIENTA_E_DESBORDA: return "an intermediate overflowed: coordinates or weights too large";
    case ORIENTA_E_MEMORIA: return "out of memory";
    case ORIENTA_E_NO_CONVERGE: return "the iteration did not converge";
    default: return "unknown status";
  }
}
