// The adjustment's exported functions: argument checks, then motor.hpp and aplica.hpp. No
// arithmetic here but for the order of the passes of orienta_ajusta.
#include "orienta.h"  // first, so a drifting signature is a compile error, not a mangled overload

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "ajuste/aplica.hpp"
#include "ajuste/motor.hpp"
#include "ajuste/registro.hpp"

namespace {

using namespace orienta::interno;

bool alineado(const void* p, int64_t paso) {
  return reinterpret_cast<uintptr_t>(p) % alignof(double) == 0 && paso % int64_t(sizeof(double)) == 0;
}

// What every function taking pairs refuses before it reads one: a model without its σ count,
// pointers or strides that do not hold points.
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

// Pair i's σ: finite, positive, and with a weight 1/σ² that is a finite normal number.
int32_t sigmas_validas(const Datos& x, uint32_t i) {
  for (int k = 0; k < x.spp; ++k) {
    const double s = x.sigma[size_t(x.spp) * i + k];
    if (!(s > 0.0) || std::isinf(s)) return ORIENTA_E_NO_FINITO;
    const double w = 1.0 / (s * s);
    if (!std::isfinite(w) || !std::isnormal(w)) return ORIENTA_E_PESO;
  }
  return ORIENTA_OK;
}

// The first pair with a coordinate or σ that is no number to fit. x·0 is 0 for every finite x
// and NaN otherwise, so one comparison a pair tells.
template <int D>
int32_t primer_par_malo(const Datos& x, uint32_t& malo) {
  for (malo = 0; malo < x.n; ++malo) {
    const double *o = x.origen(malo), *d = x.destino(malo);
    double z = 0.0;
    for (int k = 0; k < D; ++k) z += o[k] * 0.0 + d[k] * 0.0;
    if (z != 0.0) return ORIENTA_E_NO_FINITO;
    if (x.sigma)
      if (const int32_t st = sigmas_validas(x, malo); st != ORIENTA_OK) return st;
  }
  return ORIENTA_OK;
}

int32_t primer_par_malo(int32_t modelo, const orienta_pares& p, uint32_t& malo) {
  const Datos x = datos_de(p);
  return modelo_de(modelo)->dim == 3 ? primer_par_malo<3>(x, malo) : primer_par_malo<2>(x, malo);
}

// A block for an accumulator or a solution: its σ count must be theirs; with pares_leidos, also
// every pair.
int32_t bloque_valido(int32_t modelo, int32_t spp, const orienta_pares* b, bool pares_leidos = true) {
  int32_t st = argumentos(modelo, b);
  if (st != ORIENTA_OK) return st;
  if ((b->sigma != nullptr) != (spp > 0) || (b->sigma && b->sigmas_por_par != spp)) return ORIENTA_E_ARGUMENTO;
  uint32_t malo;
  return pares_leidos ? primer_par_malo(modelo, *b, malo) : ORIENTA_OK;
}

// A bound on v²·p/r, at solution s, of every pair the list of the pass at s0 left out: each had
// at most the list's floor there. A linear map moves a pair's weighted residual by at most
// δ = ‖ΔM‖·a + |Δ image of the centre|·b, and m pairs leaving raise no leverage above
// h / (1 − m·dim·h). Infinite where no bound holds (polynomials, large leverages).
double cota_fuera(const Lista& l, const orienta_solucion& s0, const orienta_solucion& s, uint32_t quitados, int dim) {
  if (!es_momentos(s.modelo) && s.modelo != ORIENTA_HELMERT2D && s.modelo != ORIENTA_AFIN2D) return INFINITY;
  const orienta_transformacion &t0 = s0.t, &t = s.t;
  double dm = 0.0, dy = 0.0;
  for (int i = 0; i < dim; ++i) {
    double y = t.centro_destino[i];
    for (int j = 0; j < dim; ++j) {
      const double d = t.matriz[3 * i + j] - t0.matriz[3 * i + j];
      dm += d * d;
      y += t.matriz[3 * i + j] * (t0.centro_origen[j] - t.centro_origen[j]);
    }
    dy += (y - t0.centro_destino[i]) * (y - t0.centro_destino[i]);
  }
  const double delta = std::sqrt(dm) * std::sqrt(l.a2) + std::sqrt(dy) * std::sqrt(l.b2);
  const double resto = 1.0 - double(quitados) * dim * l.h;
  if (!(resto > 0.5) || !(l.h / resto < 0.5)) return INFINITY;
  const double raiz = std::sqrt(l.suelo()) + delta;
  // The margin covers the rounding of the pass and of this bound, and the solution's effect on
  // the leverages beyond the pairs removed.
  return raiz * raiz / (1.0 - l.h / resto) * (1.0 + 1e-6) + 1e-300;
}

// The next candidate without a pass over every pair: the listed pairs at the new solution, if
// the largest of them exceeds what any other pair can reach. False when a pass is needed.
bool candidato_listado(const Datos& x, const uint8_t* excluido, const Lista& l, const orienta_solucion& s0,
                       const orienta_solucion& s, uint32_t quitados, int dim, Pasada& p) {
  double mejor = -1.0;
  uint32_t cual = UINT32_MAX;
  for (int k = 0; k < l.n; ++k) {
    const uint32_t i = l.c[k].second;
    if (excluido[i]) continue;
    const Pasada q = pasa(s, x.uno(i), nullptr, 1.0, nullptr, true);
    if (q.peor == UINT32_MAX) continue;
    if (q.mayor2 > mejor || (q.mayor2 == mejor && i < cual)) mejor = q.mayor2, cual = i;
  }
  if (cual == UINT32_MAX || !(mejor > cota_fuera(l, s0, s, quitados, dim))) return false;
  p.peor = cual, p.mayor2 = mejor, p.mayor = std::sqrt(mejor);
  return true;
}

// Data snooping: while the worst observation the fit controls exceeds the threshold, its pair
// leaves the accumulator and the fit is solved again. Stops where removing the pair would leave
// no redundancy or a degenerate set (that pair is kept). A pass over every pair finds the
// candidate and lists the runners-up; while the best of those provably beats every pair not
// listed, the next candidate comes from the list alone, and σ0 from the last pass (removing pairs
// only lowers vᵀPv, so going on is then decided with a σ0 too large). Any other decision gets a
// pass first. Returns the last pass, that of the final fit.
Pasada depura(const Datos& x, double umbral, uint8_t* excluido, orienta_acumulador& a, orienta_solucion& s,
              uint32_t& excluidos) {
  const orienta_modelo_info* m = modelo_de(a.modelo);
  const bool con_sigma = a.sigmas_por_par > 0;
  if (!excluido) return pasa(s, x, nullptr, 1.0, nullptr);
  Lista lista;
  orienta_solucion s0 = s;
  uint32_t desde = 0;  // pairs removed since the last pass
  auto completa = [&] {
    lista = Lista{};
    s0 = s, desde = 0;
    return pasa(s, x, excluido, 1.0, nullptr, true, &lista);
  };
  Pasada p = completa();
  for (;;) {
    const int64_t r = int64_t(m->dim) * int64_t(s.n) - m->num_parametros;
    const double sigma = con_sigma ? 1.0 : std::sqrt(p.vtpv / double(r));
    bool sigue = p.peor != UINT32_MAX && p.mayor > umbral * sigma;
    orienta_acumulador b = a;
    orienta_solucion t;
    sigue = sigue && int64_t(m->dim) * int64_t(s.n - 1) - m->num_parametros >= 1 &&
            quita(b, x.uno(p.peor)) == ORIENTA_OK && resuelve(b, t) == ORIENTA_OK;
    if (!sigue) {
      if (desde == 0) return p;
      p = completa();
      continue;
    }
    a = b, s = t;
    excluido[p.peor] = 1;
    ++excluidos, ++desde;
    const double vtpv = p.vtpv;
    if (candidato_listado(x, excluido, lista, s0, s, desde, m->dim, p))
      p.vtpv = vtpv;
    else
      p = completa();
  }
}

}  // namespace

extern "C" int32_t orienta_ajusta(int32_t modelo, const orienta_pares* pares, orienta_transformacion* t,
                                  orienta_estadisticas* e, const orienta_observaciones* obs) {
  int32_t st = argumentos(modelo, pares);
  if (st != ORIENTA_OK) return st;
  if (pares->n < modelo_de(modelo)->min_pares) return ORIENTA_E_POCOS;
  uint32_t malo;
  if ((st = primer_par_malo(modelo, *pares, malo)) != ORIENTA_OK) return st;
  const Datos x = datos_de(*pares);
  orienta_acumulador a;
  inicia(a, modelo, pares->sigma ? pares->sigmas_por_par : 0);
  anade(a, x);
  orienta_solucion s;
  if ((st = resuelve(a, s)) != ORIENTA_OK) return st;
  // The one allocation: a flag per pair, and only when snooping may exclude some.
  uint8_t* excluido = nullptr;
  if (pares->umbral > 0.0 && !(excluido = static_cast<uint8_t*>(std::calloc(x.n, 1)))) return ORIENTA_E_MEMORIA;
  struct Libera {
    uint8_t* p;
    ~Libera() { std::free(p); }
  } libera{excluido};
  uint32_t excluidos = 0;
  const Pasada p = depura(x, pares->umbral, excluido, a, s, excluidos);
  orienta_estadisticas est;
  if ((st = cierra(s, p.vtpv, excluidos, pares->umbral, est)) != ORIENTA_OK) return st;
  if (obs) pasa(s, x, excluido, est.con_sigma ? 1.0 : est.sigma0, obs);
  if (t) *t = s.t;
  if (e) *e = est;
  return ORIENTA_OK;
}

extern "C" int32_t orienta_acumulador_inicia(orienta_acumulador* a, int32_t modelo, int32_t sigmas_por_par) {
  const orienta_modelo_info* m = modelo_de(modelo);
  if (!a || !m || !(sigmas_por_par == 0 || sigmas_por_par == 1 || (sigmas_por_par == 2 && m->dim == 3)))
    return ORIENTA_E_ARGUMENTO;
  inicia(*a, modelo, sigmas_por_par);
  return ORIENTA_OK;
}

extern "C" int32_t orienta_acumulador_anade(orienta_acumulador* a, const orienta_pares* bloque) {
  if (!a || !modelo_de(a->modelo)) return ORIENTA_E_ARGUMENTO;
  const int32_t st = bloque_valido(a->modelo, a->sigmas_por_par, bloque);
  if (st != ORIENTA_OK) return st;
  anade(*a, datos_de(*bloque));
  return ORIENTA_OK;
}

extern "C" int32_t orienta_acumulador_une(orienta_acumulador* a, const orienta_acumulador* b) {
  if (!a || !b || !modelo_de(a->modelo) || a->modelo != b->modelo || a->sigmas_por_par != b->sigmas_por_par)
    return ORIENTA_E_ARGUMENTO;
  const orienta_acumulador copia = *b;  // a may be b
  une(*a, copia);
  return ORIENTA_OK;
}

extern "C" int32_t orienta_acumulador_quita(orienta_acumulador* a, const orienta_pares* bloque) {
  if (!a || !modelo_de(a->modelo)) return ORIENTA_E_ARGUMENTO;
  int32_t st = bloque_valido(a->modelo, a->sigmas_por_par, bloque);
  if (st != ORIENTA_OK) return st;
  orienta_acumulador r = *a;
  if ((st = quita(r, datos_de(*bloque))) != ORIENTA_OK) return st;
  *a = r;
  return ORIENTA_OK;
}

extern "C" int32_t orienta_resuelve(const orienta_acumulador* a, orienta_solucion* s) {
  if (!a || !s || !modelo_de(a->modelo)) return ORIENTA_E_ARGUMENTO;
  return resuelve(*a, *s);
}

extern "C" int32_t orienta_residuos(const orienta_solucion* s, const orienta_pares* bloque, const uint8_t* excluido,
                                    double escala_w, const orienta_observaciones* obs, double* vtpv) {
  if (!s || !modelo_de(s->modelo) || valida_registro(&s->t, nullptr) != ORIENTA_OK) return ORIENTA_E_ARGUMENTO;
  // The pairs are those accumulated, checked then; any other gives NaN, never a wrong number.
  const int32_t st = bloque_valido(s->modelo, s->sigmas_por_par, bloque, false);
  if (st != ORIENTA_OK) return st;
  const Pasada p = pasa(*s, datos_de(*bloque), excluido, escala_w, obs);
  if (vtpv) *vtpv = p.vtpv;
  return ORIENTA_OK;
}

extern "C" int32_t orienta_cierra(const orienta_solucion* s, double vtpv, uint32_t excluidos, double umbral,
                                  orienta_estadisticas* e) {
  if (!s || !e || !modelo_de(s->modelo) || !(umbral >= 0.0)) return ORIENTA_E_ARGUMENTO;
  return cierra(*s, vtpv, excluidos, umbral, *e);
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
    case ORIENTA_E_REFLEJO:
      return "the targets are a mirror image of the sources: a reflection maps them, no rotation does "
             "(one system left-handed, or x and y swapped?)";
    default: return "unknown status";
  }
}
