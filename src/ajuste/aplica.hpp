// Carrying points through a fitted transformation, forward and inverse, and inverting records.
#ifndef ORIENTA_AJUSTE_APLICA_HPP
#define ORIENTA_AJUSTE_APLICA_HPP

#include "ajuste/registro.hpp"
#include "rotacion/recuperacion.hpp"
#include "orienta.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace orienta::interno {

// A point whose image is not finite is written as NaN in every coordinate and counted: a
// number that is no number must never pass for a result. NaN·0 and ∞·0 are NaN, so a sum of
// zero multiples is 0 exactly when every coordinate is finite.
template <int D>
inline bool finito(const double* q) {
  double z = q[0] * 0.0;
  for (int i = 1; i < D; ++i) z += q[i] * 0.0;
  return z == 0.0;
}

template <int D>
inline void anula(double* q, uint8_t* fallo, uint64_t k) {
  for (int i = 0; i < D; ++i) q[i] = kNaN;
  if (fallo) fallo[k] = 1;
}

// q = destino + m·(p − origen) on n strided points. Every point is read whole before it is
// written, so entrada == salida with equal strides works in place. One pass over the points and
// nothing kept between them: the loop runs at the speed of memory. Returns the points whose image
// is not finite.
template <int D>
inline __attribute__((always_inline)) uint64_t recorre(const double* origen, const double* destino,
                                                       const double (&m)[D][D], const unsigned char* e, int64_t pe,
                                                       unsigned char* s, int64_t ps, uint64_t n, uint8_t* fallo) {
  uint64_t malos = 0;
  for (uint64_t k = 0; k < n; ++k) {
    const double* p = reinterpret_cast<const double*>(e + int64_t(k) * pe);
    double a[D], r[D];
    for (int j = 0; j < D; ++j) a[j] = p[j] - origen[j];
    for (int i = 0; i < D; ++i) {
      double t = m[i][0] * a[0];
      for (int j = 1; j < D; ++j) t += m[i][j] * a[j];
      r[i] = destino[i] + t;
    }
    double* q = reinterpret_cast<double*>(s + int64_t(k) * ps);
    for (int i = 0; i < D; ++i) q[i] = r[i];
    if (__builtin_expect(!finito<D>(r), 0)) {
      anula<D>(q, fallo, k);
      ++malos;
    }
  }
  return malos;
}

template <int D>
uint64_t afin_en_pasos(const double* origen, const double* destino, const double (&m)[D][D], const unsigned char* e,
                       int64_t pe, unsigned char* s, int64_t ps, uint64_t n, uint8_t* fallo) {
  // Packed points, the common case, get strides the compiler can see, so it addresses them
  // with constant offsets; the results are the same either way.
  constexpr int64_t kDenso = D * int64_t(sizeof(double));
  if (pe == kDenso && ps == kDenso) return recorre<D>(origen, destino, m, e, kDenso, s, kDenso, n, fallo);
  return recorre<D>(origen, destino, m, e, pe, s, ps, n, fallo);
}

// The linear part of a valid record inverted: for the similarities Rᵀ/s (exact up to one rounding
// per element, since R is orthonormal), for the affine and the polynomials the adjugate over the
// determinant, which the validator has found not to vanish.
template <int D>
void inversa_lineal(const orienta_transformacion* t, double (&mi)[D][D]) {
  if (es_semejanza(t->modelo)) {
    const double rs = 1.0 / t->escala;
    for (int i = 0; i < D; ++i)
      for (int j = 0; j < D; ++j) mi[i][j] = t->rotacion[3 * j + i] * rs;
  } else {
    const double* a = t->matriz;
    const double det = a[0] * a[4] - a[1] * a[3];
    const double r = 1.0 / det;
    mi[0][0] = a[4] * r, mi[0][1] = -a[1] * r;
    mi[1][0] = -a[3] * r, mi[1][1] = a[0] * r;
  }
}

// The polynomial of a record at the centred point (dx, dy), with its Jacobian if asked for. The
// linear, quadratic and cubic groups are summed apart, then joined, then the offset added last,
// so the source centroid maps exactly onto centro_destino.
inline void polinomio(const orienta_transformacion* t, double dx, double dy, double* f, double (*jac)[2]) {
  const int k = t->modelo == ORIENTA_POLI2D_3 ? 9 : t->modelo == ORIENTA_POLI2D_2 ? 5 : 2;
  const double tt[9] = {dx, dy, dx * dx, dx * dy, dy * dy, dx * dx * dx, dx * dx * dy, dx * dy * dy, dy * dy * dy};
  const double tx[9] = {1, 0, 2 * dx, dy, 0, 3 * dx * dx, 2 * dx * dy, dy * dy, 0};
  const double ty[9] = {0, 1, 0, dx, 2 * dy, 0, dx * dx, 2 * dx * dy, 3 * dy * dy};
  // The affine keeps its coefficients in matriz only; the polynomials read all theirs from coef_*.
  double c[2][9] = {};
  for (int j = 0; j < k; ++j) {
    c[0][j] = k == 2 ? t->matriz[j] : t->coef_x[j];
    c[1][j] = k == 2 ? t->matriz[3 + j] : t->coef_y[j];
  }
  for (int eje = 0; eje < 2; ++eje) {
    double grupo[3] = {0, 0, 0};
    for (int j = 0; j < k; ++j) grupo[j < 2 ? 0 : j < 5 ? 1 : 2] += c[eje][j] * tt[j];
    f[eje] = t->centro_destino[eje] + ((grupo[0] + grupo[1]) + grupo[2]);
    if (jac) {
      double gx = 0.0, gy = 0.0;
      for (int j = 0; j < k; ++j) {
        gx += c[eje][j] * tx[j];
        gy += c[eje][j] * ty[j];
      }
      jac[eje][0] = gx, jac[eje][1] = gy;
    }
  }
}

// Newton's method on polinomio(p − c_o) = q from the inverse of the linear part. Converged when
// the step falls to the rounding of p itself or of q seen through J⁻¹; a point that does not get
// there in kIteraciones (a fold of the map, a point far outside the fitted area) is a failure.
inline bool invierte_polinomio(const orienta_transformacion* t, const double (&mi)[2][2], const double* q, double* p) {
  constexpr int kIteraciones = 100;
  const double b[2] = {q[0] - t->centro_destino[0], q[1] - t->centro_destino[1]};
  double d[2] = {mi[0][0] * b[0] + mi[0][1] * b[1], mi[1][0] * b[0] + mi[1][1] * b[1]};
  const double escala_q =
      std::max({std::fabs(q[0]), std::fabs(q[1]), std::fabs(t->centro_destino[0]), std::fabs(t->centro_destino[1])});
  double anterior = std::numeric_limits<double>::infinity();
  for (int it = 0; it < kIteraciones; ++it) {
    double f[2], j[2][2];
    polinomio(t, d[0], d[1], f, j);
    const double det = j[0][0] * j[1][1] - j[0][1] * j[1][0];
    const double r = 1.0 / det;
    const double ji[2][2] = {{j[1][1] * r, -j[0][1] * r}, {-j[1][0] * r, j[0][0] * r}};
    const double e[2] = {f[0] - q[0], f[1] - q[1]};
    const double paso[2] = {ji[0][0] * e[0] + ji[0][1] * e[1], ji[1][0] * e[0] + ji[1][1] * e[1]};
    if (!std::isfinite(paso[0]) || !std::isfinite(paso[1])) return false;
    d[0] -= paso[0], d[1] -= paso[1];
    const double px = t->centro_origen[0] + d[0], py = t->centro_origen[1] + d[1];
    const double norma_ji =
        std::max(std::fabs(ji[0][0]) + std::fabs(ji[0][1]), std::fabs(ji[1][0]) + std::fabs(ji[1][1]));
    const double tol = 16.0 * kEps * (std::max(std::fabs(px), std::fabs(py)) + norma_ji * escala_q);
    const double m = std::max(std::fabs(paso[0]), std::fabs(paso[1]));
    // Past quadratic convergence the step only shrinks while it is above rounding: a step that
    // stops shrinking within a thousand roundings is rounding, not distance to the root.
    if (m <= tol || (m >= anterior && m <= 1e3 * tol)) {
      p[0] = px, p[1] = py;
      return std::isfinite(px) && std::isfinite(py);
    }
    anterior = m;
  }
  return false;
}

template <int D>
uint64_t aplica_lineal(const orienta_transformacion* t, bool inversa, const unsigned char* e, int64_t pe,
                       unsigned char* s, int64_t ps, uint64_t n, uint8_t* fallo) {
  double m[D][D];
  if (!inversa) {
    for (int i = 0; i < D; ++i)
      for (int j = 0; j < D; ++j) m[i][j] = t->matriz[3 * i + j];
    return afin_en_pasos<D>(t->centro_origen, t->centro_destino, m, e, pe, s, ps, n, fallo);
  }
  inversa_lineal<D>(t, m);
  return afin_en_pasos<D>(t->centro_destino, t->centro_origen, m, e, pe, s, ps, n, fallo);
}

// t has passed the validator.
inline int64_t aplica(const orienta_transformacion* t, bool inversa, const unsigned char* e, int64_t pe,
                      unsigned char* s, int64_t ps, uint64_t n, uint8_t* fallo) {
  if (fallo) std::memset(fallo, 0, n);
  if (t->dim == 3) return int64_t(aplica_lineal<3>(t, inversa, e, pe, s, ps, n, fallo));
  if (!es_polinomio(t->modelo)) return int64_t(aplica_lineal<2>(t, inversa, e, pe, s, ps, n, fallo));
  double mi[2][2];
  inversa_lineal<2>(t, mi);
  int64_t fallidos = 0;
  for (uint64_t k = 0; k < n; ++k) {
    const double* p = reinterpret_cast<const double*>(e + int64_t(k) * pe);
    double* q = reinterpret_cast<double*>(s + int64_t(k) * ps);
    const double entrada[2] = {p[0], p[1]};
    double salida[2] = {0.0, 0.0};
    bool bien = true;
    if (!inversa)
      polinomio(t, entrada[0] - t->centro_origen[0], entrada[1] - t->centro_origen[1], salida, nullptr);
    else
      bien = invierte_polinomio(t, mi, entrada, salida);
    q[0] = salida[0], q[1] = salida[1];
    if (!bien || !finito<2>(salida)) {
      anula<2>(q, fallo, k);
      ++fallidos;
    }
  }
  return fallidos;
}

inline int32_t invierte(const orienta_transformacion* t, orienta_transformacion* inv) {
  if (es_polinomio(t->modelo)) return ORIENTA_E_ARGUMENTO;
  orienta_transformacion r;
  vacia_registro(&r, t->modelo, t->dim);
  if (t->dim == 3) {
    double mi[3][3] = {};
    inversa_lineal<3>(t, mi);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r.matriz[3 * i + j] = mi[i][j];
  } else {
    double mi[2][2];
    inversa_lineal<2>(t, mi);
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) r.matriz[3 * i + j] = mi[i][j];
  }
  for (int k = 0; k < 3; ++k) {
    r.centro_origen[k] = t->centro_destino[k];
    r.centro_destino[k] = t->centro_origen[k];
  }
  if (es_semejanza(t->modelo)) {
    r.escala = 1.0 / t->escala;
    const int d = t->dim;
    for (int i = 0; i < d; ++i)
      for (int j = 0; j < d; ++j) r.rotacion[3 * i + j] = t->rotacion[3 * j + i];
    if (d == 3) {
      const Terna a = angulos_omega_phi_kappa(r.rotacion);
      std::copy(a.v, a.v + 3, r.angulos);
    } else {
      r.angulos[0] = -t->angulos[0];
    }
  }
  // A linear part near the ends of the double range (entries of 1e308 beside ones of 1e-3) has an
  // inverse whose determinant or entries fall outside it: refused rather than written as a record
  // that no reader would take back.
  if (valida_registro(&r, nullptr) != ORIENTA_OK) return ORIENTA_E_REG_SINGULAR;
  *inv = r;
  return ORIENTA_OK;
}

}  // namespace orienta::interno

#endif
