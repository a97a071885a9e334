// The fit in blocks, for every model: the accumulator, its solution, the residual pass and the
// statistics; orienta_ajusta and data snooping are built from these alone.
#ifndef ORIENTA_AJUSTE_MOTOR_HPP
#define ORIENTA_AJUSTE_MOTOR_HPP

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "ajuste/aplica.hpp"
#include "ajuste/estadistica.hpp"
#include "ajuste/pares.hpp"
#include "ajuste/polinomio.hpp"
#include "ajuste/registro.hpp"
#include "ajuste/semejanza.hpp"
#include "orienta.h"

namespace orienta::interno {

static_assert(sizeof(AcumSemejanza<3>) <= sizeof(orienta_acumulador), "accumulator");
static_assert(sizeof(AcumPolinomio<10>) <= sizeof(orienta_acumulador), "accumulator");
static_assert(sizeof(InternoSemejanza) <= sizeof(orienta_solucion), "solution");
static_assert(sizeof(InternoPolinomio) <= sizeof(orienta_solucion), "solution");

// Above this condition number of the equilibrated design the solution holds no correct digit
// worth reporting: the arrangement is singular to within rounding.
inline constexpr double kCondicionMaxima = 1e12;
// Redundancy numbers below this are rounding around zero: the observation is not controlled.
inline constexpr double kRedundanciaMinima = 1e-10;

// The contents of the opaque arrays, copied in and out whole (memcpy keeps this free of
// aliasing questions and costs nothing next to a pass over the pairs).
template <class T, class Registro>
T lee(const Registro& r) {
  T t;
  std::memcpy(&t, r.d, sizeof t);
  return t;
}
template <class T, class Registro>
void escribe(Registro& r, const T& t) {
  std::memcpy(r.d, &t, sizeof t);
}

inline int terminos_de(int32_t modelo) { return modelo == ORIENTA_POLI2D_3 ? 10 : modelo == ORIENTA_POLI2D_2 ? 6 : 3; }
inline bool es_momentos(int32_t modelo) { return es_semejanza(modelo); }

// Calls f with the polynomial factor of the model's size.
template <class F>
decltype(auto) por_terminos(int32_t modelo, F&& f) {
  switch (terminos_de(modelo)) {
    case 10: return f(std::integral_constant<int, 10>{});
    case 6: return f(std::integral_constant<int, 6>{});
    default: return f(std::integral_constant<int, 3>{});
  }
}

// ---------------------------------------------------------------------------------------------
// The accumulator

inline void inicia(orienta_acumulador& a, int32_t modelo, int32_t spp) {
  std::memset(&a, 0, sizeof a);
  a.modelo = modelo;
  a.sigmas_por_par = spp;
  if (modelo == ORIENTA_HELMERT2D) {
    AcumSemejanza<2> s;
    vacia_semejanza(s);
    escribe(a, s);
  } else if (es_momentos(modelo)) {
    AcumSemejanza<3> s;
    vacia_semejanza(s);
    escribe(a, s);
  } else {
    por_terminos(modelo, [&](auto u) {
      AcumPolinomio<u()> p;
      vacia_polinomio(p);
      escribe(a, p);
    });
  }
}

inline void anade(orienta_acumulador& a, const Datos& x, bool quitar = false) {
  const int grupos = a.sigmas_por_par == 2 ? 2 : 1;
  if (a.modelo == ORIENTA_HELMERT2D) {
    AcumSemejanza<2> s = lee<AcumSemejanza<2>>(a);
    anade_semejanza(s, x, 1, quitar);
    escribe(a, s);
  } else if (es_momentos(a.modelo)) {
    AcumSemejanza<3> s = lee<AcumSemejanza<3>>(a);
    anade_semejanza(s, x, grupos, quitar);
    escribe(a, s);
    for (uint32_t i = 0; i < x.n && !a.anisotropo && !quitar; ++i) a.anisotropo = x.anisotropo(i) ? 1 : 0;
  } else {
    por_terminos(a.modelo, [&](auto u) {
      AcumPolinomio<u()> p = lee<AcumPolinomio<u()>>(a);
      une_polinomio(p, bloque_polinomio<u()>(x));
      escribe(a, p);
    });
  }
  a.n = quitar ? a.n - x.n : a.n + x.n;
}

inline int32_t quita(orienta_acumulador& a, const Datos& x) {
  if (x.n > a.n) return ORIENTA_E_ARGUMENTO;
  if (es_momentos(a.modelo)) {
    anade(a, x, true);
    return ORIENTA_OK;
  }
  return por_terminos(a.modelo, [&](auto u) {
    AcumPolinomio<u()> p = lee<AcumPolinomio<u()>>(a);
    const int32_t st = quita_polinomio<u()>(p, x);
    if (st != ORIENTA_OK) return st;
    escribe(a, p);
    a.n -= x.n;
    return int32_t(ORIENTA_OK);
  });
}

inline void une(orienta_acumulador& a, const orienta_acumulador& b) {
  if (a.modelo == ORIENTA_HELMERT2D) {
    AcumSemejanza<2> s = lee<AcumSemejanza<2>>(a);
    une_semejanza(s, lee<AcumSemejanza<2>>(b));
    escribe(a, s);
  } else if (es_momentos(a.modelo)) {
    AcumSemejanza<3> s = lee<AcumSemejanza<3>>(a);
    une_semejanza(s, lee<AcumSemejanza<3>>(b));
    escribe(a, s);
  } else {
    por_terminos(a.modelo, [&](auto u) {
      AcumPolinomio<u()> p = lee<AcumPolinomio<u()>>(a);
      une_polinomio(p, lee<AcumPolinomio<u()>>(b));
      escribe(a, p);
    });
  }
  a.n += b.n;
  a.anisotropo |= b.anisotropo;
}

// ---------------------------------------------------------------------------------------------
// Solving

template <int D>
bool momentos_finitos(const Momentos<D>& m) {
  const double* p = &m.w;
  for (size_t k = 0; k < sizeof m / sizeof(double); ++k)
    if (!std::isfinite(p[k])) return false;
  return true;
}

// Coincident, tiny or collinear sources, coincident or tiny targets.
template <int D>
int32_t geometria(const Momentos<D>& m, const AcumSemejanza<D>& a, bool sin_linea) {
  double tro = 0.0, trd = 0.0;
  for (int k = 0; k < D; ++k) tro += m.saa[k][k], trd += m.sbb[k][k];
  const double rms_o = std::sqrt(tro / m.w), rms_d = std::sqrt(trd / m.w);
  int32_t st = dispersion(rms_o, m.ma, a.amin, a.amax, D);
  if (st == ORIENTA_OK) st = dispersion(rms_d, m.mb, a.bmin, a.bmax, D);
  if (st != ORIENTA_OK || !sin_linea) return st;
  Eigen::Matrix<double, D, D> s;
  for (int i = 0; i < D; ++i)
    for (int j = 0; j < D; ++j) s(i, j) = m.saa[i][j] / m.w;
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, D, D>> eig(s);
  const double sv0 = std::sqrt(std::max(0.0, eig.eigenvalues()(D - 1)));
  const double sv1 = std::sqrt(std::max(0.0, eig.eigenvalues()(D - 2)));
  return sv1 <= std::max(ruido(m.ma, D, rms_o), kHilo * sv0) ? ORIENTA_E_COLINEALES : ORIENTA_OK;
}

// Cofactors, condition and the per-coordinate leverage forms from the normal matrix
// N = Σ_k G_k·M_k·G_kᵀ, M_k the moment matrix of coordinate k's group about the centre.
template <int F>
int32_t cierra_normales(const double (&g)[3][7][F], const double (&mm)[3][F][F], int dim, int u, InternoSemejanza& in,
                        double& condicion) {
  Eigen::Matrix<double, 7, 7> n = Eigen::Matrix<double, 7, 7>::Zero();
  for (int k = 0; k < dim; ++k)
    for (int i = 0; i < u; ++i)
      for (int j = 0; j < u; ++j) {
        double t = 0.0;
        for (int a = 0; a < F; ++a)
          for (int b = 0; b < F; ++b) t += g[k][i][a] * mm[k][a][b] * g[k][j][b];
        n(i, j) += t;
      }
  if (!n.allFinite()) return ORIENTA_E_DESBORDA;
  in.u = u;
  condicion = cofactores<7>(n, u, in.q);
  if (!(condicion <= kCondicionMaxima)) return ORIENTA_E_RANGO;
  for (int k = 0; k < dim; ++k) forma<F>(in.q, u, g[k], in.h[k]);
  return ORIENTA_OK;
}

inline int32_t resuelve_3d(const orienta_acumulador& ac, orienta_solucion& s) {
  const bool rigida = ac.modelo == ORIENTA_RIGIDO3D;
  const AcumSemejanza<3> a = lee<AcumSemejanza<3>>(ac);
  const bool dos = ac.sigmas_por_par == 2 && ac.anisotropo;
  const Momentos<3> g[2] = {a.grupo[0], ac.sigmas_por_par == 2 ? a.grupo[1] : a.grupo[0]};
  if (!momentos_finitos(g[0]) || !momentos_finitos(g[1])) return ORIENTA_E_DESBORDA;
  // One weight a pair for the closed form: the mean of its coordinates' (plan twice, height once).
  const double f[2] = {2.0 / 3.0, 1.0 / 3.0};
  const Momentos<3> m = dos ? mezcla(g, f, 2) : g[0];
  int32_t st = geometria(m, a, true);
  if (st != ORIENTA_OK) return st;
  Estimacion3D e;
  st = forma_cerrada(m, rigida, e);
  if (st != ORIENTA_OK) return st;
  if (dos && (st = gauss_newton(g, rigida, e)) != ORIENTA_OK) return st;
  // T_k follows from its own group's means; the record keeps the image of one centre for all.
  for (int k = 0; k < 3; ++k) {
    const Momentos<3>& mk = g[k < 2 ? 0 : 1];
    e.co[k] = m.ma[k];
    double t = 0.0;
    for (int j = 0; j < 3; ++j) t += e.r[k][j] * (m.ma[j] - mk.ma[j]);
    e.cd[k] = mk.mb[k] + e.s * t;
  }
  InternoSemejanza in{};
  std::copy(e.co, e.co + 3, in.co);
  double gk[3][7][4], mm[3][4][4];
  for (int k = 0; k < 3; ++k) {
    filas_3d(e, rigida, k, gk[k]);
    momento_centrado(g[k < 2 ? 0 : 1], e.co, mm[k]);
  }
  st = cierra_normales<4>(gk, mm, 3, rigida ? 6 : 7, in, s.condicion);
  if (st != ORIENTA_OK) return st;
  orienta_transformacion& t = s.t;
  vacia_registro(&t, ac.modelo, 3);
  for (int k = 0; k < 3; ++k) {
    t.centro_origen[k] = e.co[k];
    t.centro_destino[k] = e.cd[k];
    for (int j = 0; j < 3; ++j) {
      t.rotacion[3 * k + j] = e.r[k][j];
      t.matriz[3 * k + j] = e.s * e.r[k][j];
    }
  }
  t.escala = e.s;
  const Terna ang = angulos_omega_phi_kappa(t.rotacion);
  std::copy(ang.v, ang.v + 3, t.angulos);
  s.iteraciones = e.iteraciones;
  s.reflejo = e.reflejo;
  escribe(s, in);
  return ORIENTA_OK;
}

// The 2D similarity in closed form: x′ = T + [a −b; b a]·(x − x̄), with a, b the weighted
// least-squares ones, Σw·(p·q)/Σw·|p|² and Σw·(p×q)/Σw·|p|² over the centred pairs.
inline int32_t resuelve_2d(const orienta_acumulador& ac, orienta_solucion& s) {
  const AcumSemejanza<2> acum = lee<AcumSemejanza<2>>(ac);
  const Momentos<2>& m = acum.grupo[0];
  if (!momentos_finitos(m)) return ORIENTA_E_DESBORDA;
  int32_t st = geometria(m, acum, false);
  if (st != ORIENTA_OK) return st;
  const double tr = m.saa[0][0] + m.saa[1][1];
  const double a = (m.sab[0][0] + m.sab[1][1]) / tr, b = (m.sab[1][0] - m.sab[0][1]) / tr;
  // Mirrored input, by the rule of the 3D closed form: the reflection (x′ = a′x + b′y,
  // y′ = b′x − a′y) would explain (a′² + b′²)·tr of Σw|b|² where the rotation explains (a² + b²)·tr.
  const double ar = (m.sab[0][0] - m.sab[1][1]) / tr, br = (m.sab[1][0] + m.sab[0][1]) / tr;
  const double sbb = m.sbb[0][0] + m.sbb[1][1];
  const double ganancia = ((ar * ar + br * br) - (a * a + b * b)) * tr;
  const double resto_reflejo = std::max(0.0, sbb - (ar * ar + br * br) * tr);
  const int32_t reflejo = ganancia > std::max(resto_reflejo, 1e-10 * sbb) ? 1 : 0;
  if (!(std::hypot(a, b) > 0.0) || !std::isfinite(a) || !std::isfinite(b))
    return reflejo ? ORIENTA_E_REFLEJO : ORIENTA_E_RANGO;
  InternoSemejanza in{};
  in.co[0] = m.ma[0], in.co[1] = m.ma[1];
  double gk[3][7][3] = {}, mm[3][3][3] = {};
  gk[0][0][0] = 1, gk[0][2][1] = 1, gk[0][3][2] = -1;  // x′: Tx + a·px − b·py
  gk[1][1][0] = 1, gk[1][2][2] = 1, gk[1][3][1] = 1;   // y′: Ty + b·px + a·py
  for (int k = 0; k < 2; ++k) {
    mm[k][0][0] = m.w;
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) mm[k][1 + i][1 + j] = m.saa[i][j];
  }
  st = cierra_normales<3>(gk, mm, 2, 4, in, s.condicion);
  if (st != ORIENTA_OK) return st;
  orienta_transformacion& t = s.t;
  vacia_registro(&t, ORIENTA_HELMERT2D, 2);
  t.centro_origen[0] = m.ma[0], t.centro_origen[1] = m.ma[1];
  t.centro_destino[0] = m.mb[0], t.centro_destino[1] = m.mb[1];
  t.matriz[0] = a, t.matriz[1] = -b, t.matriz[3] = b, t.matriz[4] = a;
  t.escala = std::hypot(a, b);
  t.angulos[0] = std::atan2(b, a);
  const double c = std::cos(t.angulos[0]), sn = std::sin(t.angulos[0]);
  t.rotacion[0] = c, t.rotacion[1] = -sn, t.rotacion[3] = sn, t.rotacion[4] = c;
  s.iteraciones = 0;
  s.reflejo = reflejo;
  escribe(s, in);
  return ORIENTA_OK;
}

template <int U>
int32_t resuelve_poli(const orienta_acumulador& ac, orienta_solucion& s) {
  const AcumPolinomio<U> acum = lee<AcumPolinomio<U>>(ac);
  const double rms_o = std::sqrt(acum.so / acum.w), rms_d = std::sqrt(acum.sd / acum.w);
  if (!std::isfinite(rms_o) || !std::isfinite(rms_d)) return ORIENTA_E_DESBORDA;
  int32_t st = dispersion(rms_o, acum.mo, acum.amin, acum.amax, 2);
  if (st == ORIENTA_OK) st = dispersion(rms_d, acum.md, acum.bmin, acum.bmax, 2);
  if (st != ORIENTA_OK) return st;
  // Solved in the basis of the pairs now held (their centroid and spread): pairs taken out since
  // the rows were formed move it, and the record's centre is the centroid.
  AcumPolinomio<U> a = acum;
  Triangulo<U> t = desempaqueta(acum);
  base_propia(acum, a.c, a.l, a.cd);
  cambia_base<U>(t, acum.c, acum.l, acum.cd, a.c, a.l, a.cd);
  if (!t.allFinite()) return ORIENTA_E_DESBORDA;
  const Eigen::Matrix<double, U, U> r = t.template topLeftCorner<U, U>();
  // The spread of the sources across their line: the part of the u, v columns the constant does
  // not explain, accurate to ε of the spread (a QR factor, not squared moments).
  const Eigen::JacobiSVD<Eigen::Matrix2d> lineal(r.template block<2, 2>(1, 1));
  if (lineal.singularValues()(1) / std::sqrt(a.w) * a.l <= ruido(a.mo, 2, rms_o)) return ORIENTA_E_COLINEALES;
  Eigen::Matrix<double, U, U> e = r;
  for (int k = 0; k < U; ++k) {
    const double norma = r.col(k).norm();
    e.col(k) = norma > 0.0 ? (r.col(k) / norma).eval() : Eigen::Matrix<double, U, 1>::Zero();
  }
  const Eigen::JacobiSVD<Eigen::Matrix<double, U, U>> svd(e);
  const double menor = svd.singularValues()(U - 1);
  s.condicion = menor > 0.0 ? svd.singularValues()(0) / menor : INFINITY;
  if (std::isnan(s.condicion)) return ORIENTA_E_DESBORDA;
  if (!(s.condicion <= kCondicionMaxima)) return U == 3 ? ORIENTA_E_COLINEALES : ORIENTA_E_RANGO;
  const auto tri = r.template triangularView<Eigen::Upper>();
  const Eigen::Matrix<double, U, 2> x = tri.solve(t.template block<U, 2>(0, U));
  const Eigen::Matrix<double, U, U> ri = tri.solve(Eigen::Matrix<double, U, U>::Identity());
  const Eigen::Matrix<double, U, U> q = ri * ri.transpose();
  if (!x.allFinite() || !q.allFinite()) return ORIENTA_E_DESBORDA;
  InternoPolinomio in{};
  in.c[0] = a.c[0], in.c[1] = a.c[1], in.l = a.l, in.u = U;
  for (int i = 0; i < U; ++i)
    for (int j = 0; j < U; ++j) in.q[U * i + j] = q(i, j);
  orienta_transformacion& rec = s.t;
  vacia_registro(&rec, ac.modelo, 2);
  rec.centro_origen[0] = a.c[0], rec.centro_origen[1] = a.c[1];
  rec.centro_destino[0] = a.cd[0] + x(0, 0), rec.centro_destino[1] = a.cd[1] + x(0, 1);
  // The coefficient of a term of degree g in dx, dy is the scaled one over l^g.
  for (int k = 1; k < U; ++k) {
    double f = 1.0;
    for (int g = 0; g < kExpU[k] + kExpV[k]; ++g) f /= a.l;
    if (U > 3) rec.coef_x[k - 1] = x(k, 0) * f, rec.coef_y[k - 1] = x(k, 1) * f;
    if (k <= 2) rec.matriz[k - 1] = x(k, 0) * f, rec.matriz[3 + k - 1] = x(k, 1) * f;
  }
  s.iteraciones = 0;
  escribe(s, in);
  return ORIENTA_OK;
}

inline int32_t resuelve(const orienta_acumulador& a, orienta_solucion& s) {
  const orienta_modelo_info* m = modelo_de(a.modelo);
  if (a.n < m->min_pares) return ORIENTA_E_POCOS;
  orienta_solucion r;
  std::memset(&r, 0, sizeof r);
  r.modelo = a.modelo;
  r.sigmas_por_par = a.sigmas_por_par;
  r.n = a.n;
  int32_t st;
  if (a.modelo == ORIENTA_HELMERT2D)
    st = resuelve_2d(a, r);
  else if (es_momentos(a.modelo))
    st = resuelve_3d(a, r);
  else
    st = por_terminos(a.modelo, [&](auto u) { return resuelve_poli<u()>(a, r); });
  if (st != ORIENTA_OK) return st;
  // A fit whose record every reader would refuse is no result: an affine or polynomial fitted to
  // targets on one line has a singular linear part.
  if ((st = valida_registro(&r.t, nullptr)) != ORIENTA_OK) return st;
  s = r;
  return ORIENTA_OK;
}

// ---------------------------------------------------------------------------------------------
// The residual pass

// One pair against a solution: per coordinate the residual v, the weight p and the leverage
// h = p·φᵀQφ.
struct Residuo {
  double v[3], p[3], h[3];
};

template <int D>
struct PasoSemejanza {
  const orienta_transformacion& t;
  InternoSemejanza in;
  template <bool kPalanca, bool kConPeso>
  void operator()(const Datos& x, uint32_t i, Residuo& r) const {
    const double* o = x.origen(i);
    const double* d = x.destino(i);
    double a[D], q[D];
    for (int j = 0; j < D; ++j) a[j] = o[j] - t.centro_origen[j];
    // As orienta_aplica computes the image, so residuals and apply agree to the bit.
    for (size_t k = 0; k < size_t(D); ++k) {
      double s = t.matriz[3 * k] * a[0];
      for (size_t j = 1; j < size_t(D); ++j) s += t.matriz[3 * k + j] * a[j];
      q[k] = t.centro_destino[k] + s;
    }
    const double f[4] = {1.0, a[0], a[1], D == 3 ? a[D - 1] : 0.0};
    constexpr int F = D + 1;
    for (int k = 0; k < D; ++k) {
      r.v[k] = q[k] - d[k];
      r.p[k] = x.peso_de<kConPeso>(i, k);
      if (!kPalanca) continue;
      double h = 0.0;
      for (int u = 0; u < F; ++u) {
        double fila = 0.0;
        for (int w = 0; w < F; ++w) fila += in.h[k][F * u + w] * f[w];
        h += f[u] * fila;
      }
      r.h[k] = r.p[k] * h;
    }
  }
};

template <int U>
struct PasoPolinomio {
  const orienta_transformacion& t;
  InternoPolinomio in;
  template <bool kPalanca, bool kConPeso>
  void operator()(const Datos& x, uint32_t i, Residuo& r) const {
    const double* o = x.origen(i);
    const double* d = x.destino(i);
    double q[2];
    polinomio(&t, o[0] - t.centro_origen[0], o[1] - t.centro_origen[1], q, nullptr);
    if (!kPalanca) {
      for (int k = 0; k < 2; ++k) r.v[k] = q[k] - d[k], r.p[k] = x.peso_de<kConPeso>(i, k);
      return;
    }
    double f[10];
    const double e = 1.0 / in.l;
    terminos<U>((o[0] - in.c[0]) * e, (o[1] - in.c[1]) * e, f);
    double h = 0.0;
    for (int a = 0; a < U; ++a) {
      double fila = 0.0;
      for (int b = 0; b < U; ++b) fila += in.q[U * a + b] * f[b];
      h += f[a] * fila;
    }
    for (int k = 0; k < 2; ++k) {
      r.v[k] = q[k] - d[k];
      r.p[k] = x.peso_de<kConPeso>(i, k);
      r.h[k] = r.p[k] * h;
    }
  }
};

// Calls f with the pass of the solution's model.
template <class F>
void con_paso(const orienta_solucion& s, F&& f) {
  if (s.modelo == ORIENTA_HELMERT2D)
    f(PasoSemejanza<2>{s.t, lee<InternoSemejanza>(s)}, 2);
  else if (es_momentos(s.modelo))
    f(PasoSemejanza<3>{s.t, lee<InternoSemejanza>(s)}, 3);
  else
    por_terminos(s.modelo, [&](auto u) { f(PasoPolinomio<u()>{s.t, lee<InternoPolinomio>(s)}, 2); });
}

// v, q_vv, r and w of one observation. Active: r = 1 − leverage, q_vv = r/p, w = v/(σ̂·√q_vv),
// NaN where r is rounding around zero. Excluded: the cofactor of a new observation minus its
// prediction, (1 + leverage)/p.
inline void observacion(double v, double p, double h, bool usado, double sigma, double& w, double& q, double& r) {
  if (usado) {
    r = std::min(1.0, std::max(0.0, 1.0 - h));
    q = r / p;
    w = r > kRedundanciaMinima ? v / (sigma * std::sqrt(q)) : kNaN;
  } else {
    r = kNaN;
    q = kNaN;
    w = v / (sigma * std::sqrt((1.0 + h) / p));
  }
}

// The pass: vᵀPv of the active pairs, obs if asked, and the pair with the largest |v|/√q_vv
// among the observations the fit controls (data snooping's candidate). What is not asked for is
// not computed: vᵀPv alone needs no leverage, and the candidate needs no root nor division
// (v²·p/r is compared, squared).
struct Pasada {
  double vtpv = 0.0;
  double mayor = 0.0;   // |v|/√q_vv of the candidate
  double mayor2 = 0.0;  // its square, v²·p/r, as compared
  uint32_t peor = UINT32_MAX;
};

// What a candidate pass leaves for the exclusions after it: the kLista pairs of largest v²·p/r
// (each pair's largest over its coordinates), a value no other pair exceeded, and what bounds how
// far a later solution can move any pair: max √p·|source − centre|, max √p, max leverage.
inline constexpr int kLista = 128;
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name is the compiler's, in the copy it writes for the array
struct Lista {
  std::pair<double, uint32_t> c[kLista];  // a heap, smallest value on top
  int n = 0;
  double a2 = 0.0, b2 = 0.0, h = 0.0;  // a², b² and the leverage
  double suelo() const { return n < kLista ? 0.0 : c[0].first; }
  void mete(double v, uint32_t i) {
    const auto mayor = [](const auto& x, const auto& y) { return x.first > y.first; };
    if (n == kLista) {
      std::pop_heap(c, c + n, mayor);
      --n;
    }
    c[n++] = {v, i};
    std::push_heap(c, c + n, mayor);
  }
};

enum class Que { vtpv, candidato, todo };

// The list's share of a pair of the candidate pass: its value if it enters the list, and the
// bounds' maxima.
inline void apunta(Lista& l, const Residuo& o, const double* p_origen, const double* centro, int dim, uint32_t i) {
  double valor = -1.0, pm = 0.0, d2 = 0.0;
  for (int k = 0; k < dim; ++k) {
    const double rr = 1.0 - o.h[k], v2 = o.v[k] * o.v[k] * o.p[k];
    if (rr > kRedundanciaMinima && v2 > l.suelo() * rr) valor = std::max(valor, v2 / rr);
    pm = std::max(pm, o.p[k]), l.h = std::max(l.h, o.h[k]);
    const double e = p_origen[k] - centro[k];
    d2 += e * e;
  }
  l.a2 = std::max(l.a2, pm * d2), l.b2 = std::max(l.b2, pm);
  if (valor >= 0.0 && (l.n < kLista || valor > l.suelo())) l.mete(valor, i);
}

template <Que Q, bool kConPeso, class Paso>
void recorre(const Paso& paso, int dim, const Datos& x, const uint8_t* excluido, double escala,
             const orienta_observaciones* obs, Pasada& r, Lista* lista = nullptr, const double* centro = nullptr) {
  double mayor2 = 0.0;
  for (uint32_t i = 0; i < x.n; ++i) {
    Residuo o{};
    const bool usado = activo(excluido, i);
    if constexpr (Q == Que::vtpv) {
      if (!usado) continue;
      paso.template operator()<false, kConPeso>(x, i, o);
      for (int k = 0; k < dim; ++k) r.vtpv += o.p[k] * o.v[k] * o.v[k];
      continue;
    }
    paso.template operator()<true, kConPeso>(x, i, o);
    for (int k = 0; k < dim; ++k) {
      if (usado) {
        r.vtpv += o.p[k] * o.v[k] * o.v[k];
        const double rr = 1.0 - o.h[k];
        const double v2 = o.v[k] * o.v[k] * o.p[k];
        if (rr > kRedundanciaMinima && v2 > mayor2 * rr) mayor2 = v2 / rr, r.peor = i;
      }
      if constexpr (Q == Que::candidato)
        if (lista && usado && k == dim - 1) apunta(*lista, o, x.origen(i), centro, dim, i);
      if constexpr (Q == Que::todo) {
        double w, q, rr;
        observacion(o.v[k], o.p[k], o.h[k], usado, escala, w, q, rr);
        const size_t b = size_t(dim) * i + size_t(k);
        if (obs->v) obs->v[b] = o.v[k];
        if (obs->w) obs->w[b] = w;
        if (obs->qvv) obs->qvv[b] = q;
        if (obs->r) obs->r[b] = rr;
      }
    }
    if constexpr (Q == Que::todo)
      if (obs->excluido) obs->excluido[i] = usado ? 0 : 1;
  }
  r.mayor = std::sqrt(mayor2), r.mayor2 = mayor2;
}

inline Pasada pasa(const orienta_solucion& s, const Datos& x, const uint8_t* excluido, double sigma,
                   const orienta_observaciones* obs, bool candidato = false, Lista* lista = nullptr) {
  Pasada r;
  const double escala = std::isnan(sigma) ? 1.0 : sigma;
  con_paso(s, [&](const auto& paso, int dim) {
    auto con = [&](auto peso) {
      if (obs)
        recorre<Que::todo, peso()>(paso, dim, x, excluido, escala, obs, r);
      else if (candidato)
        recorre<Que::candidato, peso()>(paso, dim, x, excluido, escala, obs, r, lista, s.t.centro_origen);
      else
        recorre<Que::vtpv, peso()>(paso, dim, x, excluido, escala, obs, r);
    };
    if (x.sigma)
      con(std::true_type{});
    else
      con(std::false_type{});
  });
  return r;
}

// ---------------------------------------------------------------------------------------------
// The statistics

// ∂reported/∂internal by rows, u×u.
inline void jacobiano(const orienta_solucion& s, int u, double* jac) {
  std::fill(jac, jac + size_t(u) * size_t(u), 0.0);
  auto J = [jac, u](int i, int j) -> double& { return jac[u * i + j]; };
  const orienta_transformacion& t = s.t;
  const double* co = t.centro_origen;
  if (s.modelo == ORIENTA_HELMERT3D || s.modelo == ORIENTA_RIGIDO3D) {
    const bool rigida = s.modelo == ORIENTA_RIGIDO3D;
    const double e = t.escala;
    double rc[3];
    for (size_t k = 0; k < 3; ++k)
      rc[k] = t.rotacion[3 * k] * co[0] + t.rotacion[3 * k + 1] * co[1] + t.rotacion[3 * k + 2] * co[2];
    for (int k = 0; k < 3; ++k) {
      J(k, k) = 1.0;
      if (!rigida) J(k, 6) = -rc[k];
    }
    // T = T_c − s·R·c_o; δ turns R·c_o by δ × (R·c_o), so ∂T/∂δ = s·[R·c_o]×.
    J(0, 4) = -e * rc[2], J(0, 5) = e * rc[1];
    J(1, 3) = e * rc[2], J(1, 5) = -e * rc[0];
    J(2, 3) = -e * rc[1], J(2, 4) = e * rc[0];
    // δ = dω·Rz·Ry·x̂ + dφ·Rz·ŷ + dκ·ẑ, inverted; the ω and κ rows grow as 1/cos φ toward gimbal lock.
    const double sf = std::sin(t.angulos[1]), cf = std::cos(t.angulos[1]);
    const double sk = std::sin(t.angulos[2]), ck = std::cos(t.angulos[2]);
    J(3, 3) = ck / cf, J(3, 4) = sk / cf;
    J(4, 3) = -sk, J(4, 4) = ck;
    J(5, 3) = sf * ck / cf, J(5, 4) = sf * sk / cf, J(5, 5) = 1.0;
    if (!rigida) J(6, 6) = 1.0;
  } else if (s.modelo == ORIENTA_HELMERT2D) {
    const double a = t.matriz[0], b = t.matriz[3], e2 = a * a + b * b, e = std::sqrt(e2);
    // T = T_c − [a −b; b a]·c_o, α = atan2(b, a), s = |(a, b)|.
    const double filas[4][4] = {
        {1, 0, -co[0], co[1]}, {0, 1, -co[1], -co[0]}, {0, 0, -b / e2, a / e2}, {0, 0, a / e, b / e}};
    std::memcpy(jac, filas, sizeof filas);
  } else {
    // Internal: the x′ constant, the y′ constant, then x′'s and y′'s scaled coefficients.
    const InternoPolinomio in = lee<InternoPolinomio>(s);
    const int k = in.u - 1;
    J(0, 0) = 1.0, J(1, 1) = 1.0;
    for (int j = 0; j < k; ++j) {
      double f = 1.0;
      for (int g = 0; g < kExpU[j + 1] + kExpV[j + 1]; ++g) f /= in.l;
      J(2 + j, 2 + j) = f, J(2 + k + j, 2 + k + j) = f;
    }
    if (s.modelo == ORIENTA_AFIN2D) {
      // The affine reports T of target = T + A·source: T = T_c − A·c_o.
      J(0, 2) = -co[0] / in.l, J(0, 3) = -co[1] / in.l;
      J(1, 4) = -co[0] / in.l, J(1, 5) = -co[1] / in.l;
    }
  }
}

// The internal cofactors as u×u: a polynomial's two coordinates share theirs.
inline void cofactores_internos(const orienta_solucion& s, int u, double* q) {
  if (es_momentos(s.modelo)) {
    const InternoSemejanza in = lee<InternoSemejanza>(s);
    std::copy(in.q, in.q + size_t(u) * size_t(u), q);
    return;
  }
  const InternoPolinomio in = lee<InternoPolinomio>(s);
  const int n = in.u;
  // Internal order x0, y0, x′'s terms, y′'s terms: index of term a of axis e.
  auto indice = [n](int e, int a) { return a == 0 ? e : 2 + e * (n - 1) + (a - 1); };
  std::fill(q, q + size_t(u) * size_t(u), 0.0);
  for (int e = 0; e < 2; ++e)
    for (int a = 0; a < n; ++a)
      for (int b = 0; b < n; ++b) q[u * indice(e, a) + indice(e, b)] = in.q[n * a + b];
}

inline int32_t cierra(const orienta_solucion& s, double vtpv, uint32_t excluidos, double umbral,
                      orienta_estadisticas& e) {
  const orienta_modelo_info* m = modelo_de(s.modelo);
  const int u = m->num_parametros;
  orienta_estadisticas r{};
  r.usados = uint32_t(s.n);
  r.excluidos = excluidos;
  r.num_parametros = u;
  r.redundancia = int32_t(int64_t(m->dim) * int64_t(s.n) - u);
  r.vtpv = vtpv;
  r.sigma0 = r.redundancia > 0 ? std::sqrt(vtpv / r.redundancia) : kNaN;
  const bool con_sigma = s.sigmas_por_par > 0;
  r.con_sigma = con_sigma ? 1 : 0;
  r.reflejo = s.reflejo;
  r.iteraciones = s.iteraciones;
  r.tau_inalcanzable = !con_sigma && umbral > 0.0 && umbral > std::sqrt(double(r.redundancia));
  r.condicion = s.condicion;
  r.chi2 = con_sigma ? vtpv : kNaN;
  r.chi2_p = con_sigma && r.redundancia > 0 ? gamma_superior(0.5 * r.redundancia, 0.5 * vtpv) : kNaN;
  parametros_de(s.t, r.parametros);
  // Covariance of the reported parameters: J·σ0²·Q·Jᵀ.
  double q[ORIENTA_MAX_PARAMETROS * ORIENTA_MAX_PARAMETROS], jac[ORIENTA_MAX_PARAMETROS * ORIENTA_MAX_PARAMETROS];
  double jq[ORIENTA_MAX_PARAMETROS * ORIENTA_MAX_PARAMETROS];
  cofactores_internos(s, u, q);
  jacobiano(s, u, jac);
  const double s2 = r.sigma0 * r.sigma0;
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < u; ++j) {
      double t = 0.0;
      for (int k = 0; k < u; ++k) t += jac[i * u + k] * q[k * u + j];
      jq[i * u + j] = t;
    }
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < u; ++j) {
      double t = 0.0;
      for (int k = 0; k < u; ++k) t += jq[i * u + k] * jac[j * u + k];
      r.covarianza[i * u + j] = s2 * t;
    }
  for (int i = 0; i < u; ++i) r.desv[i] = std::sqrt(r.covarianza[i * u + i]);
  if (!std::isfinite(vtpv)) return ORIENTA_E_DESBORDA;
  for (int k = 0; k < u; ++k)
    if (!std::isfinite(r.parametros[k])) return ORIENTA_E_DESBORDA;
  e = r;
  return ORIENTA_OK;
}

}  // namespace orienta::interno

#endif
