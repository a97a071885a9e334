// The adjustment's exported functions: argument checks, then the templates of ajusta.hpp and
// aplica.hpp. No arithmetic here.
#include "orienta.h"  // first, so a drifting signature is a compile error, not a mangled overload

#include <cmath>
#include <cstdint>

#include "ajuste/ajusta.hpp"
#include "ajuste/aplica.hpp"
#include "ajuste/registro.hpp"

namespace {

using namespace orienta::interno;

bool alineado(const void* p, int64_t paso) {
  return reinterpret_cast<uintptr_t>(p) % alignof(double) == 0 && paso % int64_t(sizeof(double)) == 0;
}

// Everything orienta_ajusta refuses before it reads a coordinate.
int32_t argumentos(int32_t modelo, const orienta_pares* pares) {
  const orienta_modelo_info* m = modelo_de(modelo);
  if (!m || !pares) return ORIENTA_E_ARGUMENTO;
  const orienta_pares& p = *pares;
  if (p.n > 0 && (!p.origen || !p.destino)) return ORIENTA_E_ARGUMENTO;
  if (!alineado(p.origen, p.paso_origen) || !alineado(p.destino, p.paso_destino)) return ORIENTA_E_ARGUMENTO;
  if (p.sigma && !(p.sigmas_por_par == 1 || (p.sigmas_por_par == 2 && m->dim == 3))) return ORIENTA_E_ARGUMENTO;
  if (!(p.umbral >= 0.0) || std::isinf(p.umbral)) return ORIENTA_E_ARGUMENTO;
  return ORIENTA_OK;
}

Datos datos_de(const orienta_pares& p) {
  return Datos{reinterpret_cast<const unsigned char*>(p.origen),
               reinterpret_cast<const unsigned char*>(p.destino),
               p.paso_origen,
               p.paso_destino,
               p.n,
               p.sigma,
               p.sigma ? p.sigmas_por_par : 1};
}

// Pair i on its own: finite coordinates, and σ whose weight 1/σ² is a finite normal number.
int32_t par_valido(const Datos& x, int dim, uint32_t i) {
  const double *o = x.origen(i), *d = x.destino(i);
  for (int k = 0; k < dim; ++k)
    if (!std::isfinite(o[k]) || !std::isfinite(d[k])) return ORIENTA_E_NO_FINITO;
  for (int k = 0; x.sigma && k < x.spp; ++k) {
    const double s = x.sigma[size_t(x.spp) * i + k];
    if (!(s > 0.0) || std::isinf(s)) return ORIENTA_E_NO_FINITO;
    const double w = 1.0 / (s * s);
    if (!std::isfinite(w) || !std::isnormal(w)) return ORIENTA_E_PESO;
  }
  return ORIENTA_OK;
}

int32_t primer_par_malo(int32_t modelo, const orienta_pares& p, uint32_t& malo) {
  const Datos x = datos_de(p);
  const int dim = modelo_de(modelo)->dim;
  for (malo = 0; malo < p.n; ++malo) {
    const int32_t st = par_valido(x, dim, malo);
    if (st != ORIENTA_OK) return st;
  }
  return ORIENTA_OK;
}

}  // namespace

extern "C" int32_t orienta_ajusta(int32_t modelo, const orienta_pares* pares, orienta_transformacion* t,
                                  orienta_estadisticas* e, const orienta_observaciones* obs) {
  int32_t st = argumentos(modelo, pares);
  if (st != ORIENTA_OK) return st;
  if (pares->n < modelo_de(modelo)->min_pares) return ORIENTA_E_POCOS;
  uint32_t malo;
  st = primer_par_malo(modelo, *pares, malo);
  if (st != ORIENTA_OK) return st;
  const Datos x = datos_de(*pares);
  const Opciones op{pares->umbral, pares->sigma != nullptr};
  switch (modelo) {
    case ORIENTA_HELMERT3D: return ajusta_modelo<Helmert3D>(x, op, t, e, obs);
    case ORIENTA_HELMERT2D: return ajusta_modelo<Helmert2D>(x, op, t, e, obs);
    case ORIENTA_AFIN2D: return ajusta_modelo<Afin2D>(x, op, t, e, obs);
    case ORIENTA_POLI2D_2: return ajusta_modelo<Poli2D2>(x, op, t, e, obs);
    default: return ajusta_modelo<Poli2D3>(x, op, t, e, obs);
  }
}

extern "C" int32_t orienta_valida_pares(int32_t modelo, const orienta_pares* pares, uint32_t* par) {
  const int32_t st = argumentos(modelo, pares);
  if (st != ORIENTA_OK || !par) return ORIENTA_E_ARGUMENTO;
  return primer_par_malo(modelo, *pares, *par);
}

extern "C" int64_t orienta_aplica(const orienta_transformacion* t, int32_t inversa, const double* entrada,
                                  int64_t paso_entrada, double* salida, int64_t paso_salida, uint64_t n,
                                  uint8_t* fallo) {
  const int32_t st = valida_registro(t, nullptr);
  if (st != ORIENTA_OK) return st;
  if (n > 0 && (!entrada || !salida)) return ORIENTA_E_ARGUMENTO;
  if (!alineado(entrada, paso_entrada) || !alineado(salida, paso_salida)) return ORIENTA_E_ARGUMENTO;
  return aplica(t, inversa != 0, reinterpret_cast<const unsigned char*>(entrada), paso_entrada,
                reinterpret_cast<unsigned char*>(salida), paso_salida, n, fallo);
}

extern "C" int32_t orienta_invierte(const orienta_transformacion* t, orienta_transformacion* inv) {
  if (!inv) return ORIENTA_E_ARGUMENTO;
  const int32_t st = valida_registro(t, nullptr);
  if (st != ORIENTA_OK) return st;
  return invierte(t, inv);
}

extern "C" const char* orienta_estado_texto(int32_t estado) {
  switch (estado) {
    case ORIENTA_OK: return "success";
    case ORIENTA_E_ARGUMENTO: return "invalid argument: null pointer, unknown model or bad option";
    case ORIENTA_E_POCOS: return "too few point pairs for the model";
    case ORIENTA_E_NO_FINITO: return "a coordinate or sigma is not finite, or a sigma is not positive";
    case ORIENTA_E_COINCIDENTES: return "all source points (or all target points) coincide";
    case ORIENTA_E_COLINEALES: return "the source points lie on one line, so the map across it is not determined";
    case ORIENTA_E_RANGO: return "the points do not determine the model (too few distinct points, or on a conic?)";
    case ORIENTA_E_DESBORDA: return "coordinates too large: their squares overflow (reduce them first)";
    case ORIENTA_E_MEMORIA: return "out of memory";
    case ORIENTA_E_NO_CONVERGE: return "the adjustment did not converge (plan and height sigma far apart?)";
    case ORIENTA_E_PESO:
      return "a sigma so small or so large that its weight 1/sigma^2 is not a normal number "
             "(use sigma within 1e-150 ... 1e150, in the units of the coordinates)";
    case ORIENTA_E_DIMINUTO:
      return "coordinates too small: the points differ, but the square of their spread underflows "
             "(scale them up)";
    case ORIENTA_E_MODELO: return "unknown model, or a dimension that is not the model's";
    case ORIENTA_E_REG_NO_FINITO: return "a value the model uses is not a finite number";
    case ORIENTA_E_REG_TERMINOS:
      return "holds values its model has no place for (a record of another model, or higher-order "
             "terms than its order?)";
    case ORIENTA_E_REG_SINGULAR: return "the linear part is singular: the transformation cannot be inverted";
    case ORIENTA_E_REG_INCOHERENTE:
      return "its parts disagree beyond rounding (matrix against scale*rotation, a rotation that is not "
             "proper, or angles against the rotation): was it edited?";
    case ORIENTA_E_REG_FALTA: return "lacks a field its model needs";
    default: return "unknown status";
  }
}
