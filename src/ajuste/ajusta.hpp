// The fit of any model: Gauss–Newton on the Givens accumulator (one step for the linear models,
// none for the isotropic 3D closed form), then the statistics, then data snooping.
#ifndef ORIENTA_AJUSTE_AJUSTA_HPP
#define ORIENTA_AJUSTE_AJUSTA_HPP

#include "ajuste/minimos.hpp"
#include "ajuste/modelos.hpp"
#include "ajuste/registro.hpp"
#include "orienta.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace orienta::interno {

// Above this condition number of the equilibrated design the solution holds no correct digit
// worth reporting: the arrangement is singular to within rounding.
inline constexpr double kCondicionMaxima = 1e12;
// Redundancy numbers below this are rounding around zero: the observation is not controlled.
inline constexpr double kRedundanciaMinima = 1e-10;
inline constexpr int kMaxIteraciones = 50;

// ln Γ(a) for a > 0 without lgamma, which writes the global signgam: shifted up past 10, then
// Stirling's series to a⁻⁷ (relative error below 1e-16 there).
inline double ln_gamma(double a) {
  double desplazamiento = 0.0;
  while (a < 10.0) {
    desplazamiento -= std::log(a);
    a += 1.0;
  }
  const double a2 = 1.0 / (a * a);
  const double serie = (1.0 / 12.0 - a2 * (1.0 / 360.0 - a2 * (1.0 / 1260.0 - a2 * (1.0 / 1680.0)))) / a;
  return desplazamiento + (a - 0.5) * std::log(a) - a + 0.9189385332046728 + serie;
}

// Q(a, x) = Γ(a, x)/Γ(a), the upper regularised incomplete gamma: the series for P below a + 1,
// the continued fraction for Q above (Abramowitz & Stegun 6.5.29 and 6.5.31), the fraction
// evaluated by the modified Lentz method.
inline double gamma_superior(double a, double x) {
  if (!(x > 0.0)) return 1.0;
  if (std::isinf(x)) return 0.0;
  const double prefactor = std::exp(-x + a * std::log(x) - ln_gamma(a));
  const int maximo = 100000 + int(std::min(1e7, 10.0 * std::sqrt(a)));
  if (x < a + 1.0) {
    double termino = 1.0 / a, suma = termino;
    for (int n = 1; n < maximo; ++n) {
      termino *= x / (a + n);
      suma += termino;
      if (std::fabs(termino) < std::fabs(suma) * kEps) break;
    }
    return std::max(0.0, 1.0 - suma * prefactor);
  }
  const double diminuto = 1e-300;
  double b = x + 1.0 - a, c = 1.0 / diminuto, d = 1.0 / b, h = d;
  for (int i = 1; i < maximo; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < diminuto) d = diminuto;
    c = b + an / c;
    if (std::fabs(c) < diminuto) c = diminuto;
    d = 1.0 / d;
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1.0) < kEps) break;
  }
  return std::min(1.0, prefactor * h);
}

// The reported parameters of a model's estimate: those of the record it writes, so a fit and a
// stored record of it give the same numbers.
template <class M>
void reportados(const M& m, double* y) {
  orienta_transformacion t;
  m.registro(&t);
  parametros_de(t, y);
}

// The state of one fit over the active pairs.
template <class M>
struct Ajuste {
  M m;
  AcumuladorQR<M::U> qr;  // at the final estimate
  uint32_t usados = 0;
  int32_t iteraciones = 0;
  double condicion = 0.0;
  double vtpv = 0.0;
  int32_t redundancia = 0;
  double sigma0 = kNaN;
};

template <class M>
void acumula(const Datos& x, const uint8_t* excluido, const M& m, AcumuladorQR<M::U>& qr) {
  qr.vacia();
  for (uint32_t i = 0; i < x.n; ++i) {
    if (!activo(excluido, i)) continue;
    double a[M::D][M::U], f[M::D];
    m.linealiza(x.origen(i), a, f);
    const double* d = x.destino(i);
    for (int k = 0; k < M::D; ++k) {
      const double raiz = std::sqrt(x.peso(i, k));
      for (int j = 0; j < M::U; ++j) a[k][j] *= raiz;
      qr.anade(a[k], (d[k] - f[k]) * raiz);
    }
  }
}

template <class M>
double suma_vtpv(const Datos& x, const uint8_t* excluido, const M& m) {
  double vtpv = 0.0;
  for (uint32_t i = 0; i < x.n; ++i) {
    if (!activo(excluido, i)) continue;
    double fila[M::D][M::U], f[M::D];
    m.linealiza(x.origen(i), fila, f);
    const double* d = x.destino(i);
    for (int k = 0; k < M::D; ++k) {
      const double v = f[k] - d[k];
      vtpv += x.peso(i, k) * v * v;
    }
  }
  return vtpv;
}

template <class M>
int32_t ajusta_activos(const Datos& x, const uint8_t* excluido, Ajuste<M>& a) {
  int32_t st = a.m.inicia(x, excluido, a.usados);
  if (st != ORIENTA_OK) return st;
  if (a.usados < uint32_t(M::kMinPares)) return ORIENTA_E_POCOS;
  acumula(x, excluido, a.m, a.qr);
  a.condicion = a.qr.condicion();
  if (!(a.condicion <= kCondicionMaxima)) return std::isnan(a.condicion) ? ORIENTA_E_DESBORDA : M::kSinRango;
  double dx[M::U];
  if (M::kLineal) {
    // One step from T_c = target centroid and zero coefficients is the least-squares solution;
    // the design does not depend on the estimate, so R stays valid for the statistics.
    if (!a.qr.resuelve(dx)) return ORIENTA_E_DESBORDA;
    a.m.corrige(dx);
  } else if (a.m.itera()) {
    // Gauss–Newton with the step halved until vᵀPv does not grow and the scale stays positive:
    // on wild data the plain iteration can wander to s < 0, a different map, or oscillate.
    double actual = suma_vtpv(x, excluido, a.m);
    double anterior = std::numeric_limits<double>::infinity();
    for (;;) {
      if (!a.qr.resuelve(dx)) return ORIENTA_E_DESBORDA;
      M prueba = a.m;
      prueba.corrige(dx);
      double nuevo = suma_vtpv(x, excluido, prueba);
      for (int mitad = 0; mitad < 60 && !(prueba.valido() && nuevo <= actual); ++mitad) {
        for (double& c : dx) c *= 0.5;
        prueba = a.m;
        prueba.corrige(dx);
        nuevo = suma_vtpv(x, excluido, prueba);
      }
      // No step lowers vᵀPv: the estimate is the minimum to within rounding.
      if (!(prueba.valido() && nuevo <= actual)) break;
      a.m = prueba;
      actual = nuevo;
      ++a.iteraciones;
      acumula(x, excluido, a.m, a.qr);
      const double p = a.m.paso(dx);
      // Converged once the step is far below any digit that matters, or once it stops shrinking
      // at the level rounding leaves (an ill-conditioned set may never reach 1e-13).
      if (p <= 1e-13 || (p >= anterior && p <= 1e-8)) break;
      if (a.iteraciones >= kMaxIteraciones) return ORIENTA_E_NO_CONVERGE;
      anterior = p;
    }
    a.condicion = a.qr.condicion();
  }
  // vᵀPv from the residuals themselves: the part of b that the QR leaves over is the residual of
  // the last linearisation, not of the estimate it produced.
  const double vtpv = suma_vtpv(x, excluido, a.m);
  a.vtpv = vtpv;
  a.redundancia = int32_t(int64_t(M::D) * a.usados - M::U);
  a.sigma0 = a.redundancia > 0 ? std::sqrt(vtpv / a.redundancia) : kNaN;
  double y[M::U];
  reportados(a.m, y);
  for (int k = 0; k < M::U; ++k)
    if (!std::isfinite(y[k])) return ORIENTA_E_DESBORDA;
  if (!std::isfinite(vtpv)) return ORIENTA_E_DESBORDA;
  return ORIENTA_OK;
}

// Per-observation quantities of pair i against fit a. Active pairs: r = 1 − leverage,
// q_vv = r/p, w = v/(σ̂·√q_vv), NaN where r is rounding around zero. Excluded pairs: the
// cofactor of the difference between a new observation and its prediction, (1 + leverage)/p.
template <class M>
void observa(const Datos& x, const uint8_t* excluido, const Ajuste<M>& a, uint32_t i, double sigma_sombrero, double* v,
             double* w, double* qvv, double* r) {
  double fila[M::D][M::U], f[M::D];
  a.m.linealiza(x.origen(i), fila, f);
  const double* d = x.destino(i);
  const bool usado = activo(excluido, i);
  for (int k = 0; k < M::D; ++k) {
    const double p = x.peso(i, k), raiz = std::sqrt(p);
    double fp[M::U], y[M::U];
    for (int j = 0; j < M::U; ++j) fp[j] = fila[k][j] * raiz;
    a.qr.resuelve_traspuesta(fp, y);
    double h = 0.0;
    for (int j = 0; j < M::U; ++j) h += y[j] * y[j];
    v[k] = f[k] - d[k];
    if (usado) {
      r[k] = std::min(1.0, std::max(0.0, 1.0 - h));
      qvv[k] = r[k] / p;
      w[k] = r[k] > kRedundanciaMinima ? v[k] / (sigma_sombrero * std::sqrt(qvv[k])) : kNaN;
    } else {
      r[k] = kNaN;
      qvv[k] = kNaN;
      w[k] = v[k] / (sigma_sombrero * std::sqrt((1.0 + h) / p));
    }
  }
}

struct Opciones {
  double umbral;
  bool con_sigma;
};

// The whole call: fit, snoop, then write t, e and obs, all or nothing.
template <class M>
int32_t ajusta_modelo(const Datos& x, const Opciones& op, orienta_transformacion* t, orienta_estadisticas* e,
                      const orienta_observaciones* obs) {
  // The one allocation: a flag per pair, and only when snooping may exclude some.
  uint8_t* excluido = nullptr;
  if (op.umbral > 0.0) {
    excluido = static_cast<uint8_t*>(std::calloc(x.n, 1));
    if (!excluido) return ORIENTA_E_MEMORIA;
  }
  struct Libera {
    uint8_t* p;
    ~Libera() { std::free(p); }
  } libera{excluido};

  Ajuste<M> a;
  const int32_t st = ajusta_activos(x, excluido, a);
  if (st != ORIENTA_OK) return st;
  auto sombrero = [&](const Ajuste<M>& aj) { return op.con_sigma ? 1.0 : aj.sigma0; };

  uint32_t excluidos = 0;
  while (excluido && a.redundancia >= 1) {
    // The largest |w| among the observations the fit controls.
    double mayor = 0.0;
    uint32_t peor = x.n;
    const double sig = sombrero(a);
    for (uint32_t i = 0; i < x.n; ++i) {
      if (excluido[i]) continue;
      double v[M::D], w[M::D], q[M::D], r[M::D];
      observa(x, excluido, a, i, sig, v, w, q, r);
      for (int k = 0; k < M::D; ++k)
        if (std::fabs(w[k]) > mayor) mayor = std::fabs(w[k]), peor = i;
    }
    if (peor == x.n || !(mayor > op.umbral)) break;
    // Drop the whole pair, but only if what is left still has redundancy and fits.
    if (int64_t(M::D) * (a.usados - 1) - M::U < 1) break;
    excluido[peor] = 1;
    Ajuste<M> siguiente;
    if (ajusta_activos(x, excluido, siguiente) != ORIENTA_OK) {
      excluido[peor] = 0;
      break;
    }
    a = siguiente;
    ++excluidos;
  }

  // A fit whose record every reader would refuse is no result: an affine or polynomial fitted to
  // targets on one line has a singular linear part.
  orienta_transformacion registro;
  a.m.registro(&registro);
  if (const int32_t st = valida_registro(&registro, nullptr); st != ORIENTA_OK) return st;
  if (t) *t = registro;
  if (e) {
    constexpr int U = M::U;
    *e = orienta_estadisticas{};
    e->usados = a.usados;
    e->excluidos = excluidos;
    e->num_parametros = U;
    e->redundancia = a.redundancia;
    e->vtpv = a.vtpv;
    e->sigma0 = a.sigma0;
    e->con_sigma = op.con_sigma ? 1 : 0;
    if constexpr (M::kModelo == ORIENTA_HELMERT3D) e->reflejo = a.m.reflejo;
    e->iteraciones = a.iteraciones;
    e->tau_inalcanzable = !op.con_sigma && op.umbral > 0.0 && op.umbral > std::sqrt(double(a.redundancia));
    e->condicion = a.condicion;
    e->chi2 = op.con_sigma ? a.vtpv : kNaN;
    e->chi2_p = op.con_sigma && a.redundancia > 0 ? gamma_superior(0.5 * a.redundancia, 0.5 * a.vtpv) : kNaN;
    // Covariance of the reported parameters: J·σ0²·(AᵀPA)⁻¹·Jᵀ.
    double q[U * U], jac[U * U], jq[U * U];
    a.qr.cofactores(q);
    reportados(a.m, e->parametros);
    a.m.jacobiano(jac);
    const double s2 = a.sigma0 * a.sigma0;
    for (int i = 0; i < U; ++i)
      for (int j = 0; j < U; ++j) {
        double t2 = 0.0;
        for (int k = 0; k < U; ++k) t2 += jac[i * U + k] * q[k * U + j];
        jq[i * U + j] = t2;
      }
    for (int i = 0; i < U; ++i)
      for (int j = 0; j < U; ++j) {
        double t2 = 0.0;
        for (int k = 0; k < U; ++k) t2 += jq[i * U + k] * jac[j * U + k];
        e->covarianza[i * U + j] = s2 * t2;
      }
    for (int i = 0; i < U; ++i) e->desv[i] = std::sqrt(e->covarianza[i * U + i]);
  }
  if (obs) {
    const double sig = sombrero(a);
    for (uint32_t i = 0; i < x.n; ++i) {
      double v[M::D], w[M::D], q[M::D], r[M::D];
      observa(x, excluido, a, i, sig, v, w, q, r);
      const size_t base = size_t(M::D) * i;
      for (int k = 0; k < M::D; ++k) {
        if (obs->v) obs->v[base + k] = v[k];
        if (obs->w) obs->w[base + k] = w[k];
        if (obs->qvv) obs->qvv[base + k] = q[k];
        if (obs->r) obs->r[base + k] = r[k];
      }
      if (obs->excluido) obs->excluido[i] = excluido && excluido[i] ? 1 : 0;
    }
  }
  return ORIENTA_OK;
}

}  // namespace orienta::interno

#endif
