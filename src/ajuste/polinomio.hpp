// The affine and the polynomials from the triangular factor of a QR of their design: the source
// centred and scaled to unit spread (so every term of a cubic stays near 1), the targets centred,
// both target coordinates as two right-hand sides of one design (they share every weight). Blocks
// merge by stacking their factors in a common basis (tall-skinny QR), so the result is the
// one-shot QR fit's; moments would square the design's condition number.
#ifndef ORIENTA_AJUSTE_POLINOMIO_HPP
#define ORIENTA_AJUSTE_POLINOMIO_HPP

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "ajuste/pares.hpp"
#include "ajuste/registro.hpp"
#include "interno.hpp"
#include "orienta.h"

namespace orienta::interno {

// Terms 1, u, v, u², u·v, v², u³, u²·v, u·v², v³ by their exponents of u and v.
inline constexpr int kExpU[10] = {0, 1, 0, 2, 1, 0, 3, 2, 1, 0};
inline constexpr int kExpV[10] = {0, 0, 1, 0, 1, 2, 0, 1, 2, 3};

template <int U>
inline void terminos(double u, double v, double* t) {
  t[0] = 1.0, t[1] = u, t[2] = v;
  if (U > 3) t[3] = u * u, t[4] = u * v, t[5] = v * v;
  if (U > 6) t[6] = u * u * u, t[7] = u * u * v, t[8] = u * v * v, t[9] = v * v * v;
}

// The factor and its basis. The basis (centre c, scale l, target centre cd) is the one the rows
// were formed in; w, the means and the spreads are of the pairs now accumulated (a pair taken out
// changes them, not the basis).
template <int U>
struct AcumPolinomio {
  static constexpr int A = U + 2;  // the design and the two target coordinates
  double r[A * (A + 1) / 2];       // upper triangle by rows
  double c[2], l, cd[2];
  double w, mo[2], md[2], so, sd;  // Σw, weighted means, Σw·|p − mean|² of sources and targets
  double amin[2], amax[2], bmin[2], bmax[2];
};

template <int U>
using Triangulo = Eigen::Matrix<double, U + 2, U + 2>;

template <int U>
Triangulo<U> desempaqueta(const AcumPolinomio<U>& a) {
  constexpr int A = U + 2;
  Triangulo<U> t = Triangulo<U>::Zero();
  int q = 0;
  for (int i = 0; i < A; ++i)
    for (int j = i; j < A; ++j) t(i, j) = a.r[q++];
  return t;
}

template <int U>
void empaqueta(const Triangulo<U>& t, AcumPolinomio<U>& a) {
  constexpr int A = U + 2;
  int q = 0;
  for (int i = 0; i < A; ++i)
    for (int j = i; j < A; ++j) a.r[q++] = t(i, j);
}

template <int U>
void vacia_polinomio(AcumPolinomio<U>& a) {
  std::memset(&a, 0, sizeof a);
  a.l = 1.0;
  for (int k = 0; k < 2; ++k) {
    a.amin[k] = a.bmin[k] = INFINITY;
    a.amax[k] = a.bmax[k] = -INFINITY;
  }
}

// The triangular factor of [upper; lower], by Householder: the R of the stacked rows.
template <int U, int F>
Triangulo<U> apila(const Triangulo<U>& arriba, const Eigen::Matrix<double, F, U + 2>& abajo) {
  constexpr int A = U + 2;
  Eigen::Matrix<double, A + F, A> m;
  m.template topRows<A>() = arriba;
  m.template bottomRows<F>() = abajo;
  const Eigen::HouseholderQR<Eigen::Matrix<double, A + F, A>> qr(m);
  return qr.matrixQR().template topRows<A>().template triangularView<Eigen::Upper>();
}

// Rewrites a factor formed in basis (c, l, cd) into basis (c2, l2, cd2). With u = (x − c)/l the
// new terms are polynomials in the old ones, φ′ = P·φ, P lower triangular by degree (a term is
// only ever made of terms of its degree or less); so [Φ′ | b′] = [Φ | b]·diag(Pᵀ, I) and the
// factor is R·diag(Pᵀ, I), upper triangular again. Moving the target centre adds a multiple of the
// constant column, which is the first column of R in any basis.
template <int U>
void cambia_base(Triangulo<U>& t, const double* c, double l, const double* cd, const double* c2, double l2,
                 const double* cd2) {
  const double alfa = l / l2, bx = (c[0] - c2[0]) / l2, by = (c[1] - c2[1]) / l2;
  static constexpr int kBinomio[4][4] = {{1, 0, 0, 0}, {1, 1, 0, 0}, {1, 2, 1, 0}, {1, 3, 3, 1}};
  Eigen::Matrix<double, U, U> p = Eigen::Matrix<double, U, U>::Zero();
  for (int m = 0; m < U; ++m) {
    const int i = kExpU[m], j = kExpV[m];
    for (int n = 0; n < U; ++n) {
      const int a = kExpU[n], b = kExpV[n];
      if (a > i || b > j) continue;
      p(m, n) = kBinomio[i][a] * kBinomio[j][b] * std::pow(alfa, a + b) * std::pow(bx, i - a) * std::pow(by, j - b);
    }
  }
  t.template leftCols<U>() = (t.template leftCols<U>() * p.transpose()).eval();
  for (int e = 0; e < 2; ++e) t.col(U + e) += (cd[e] - cd2[e]) * t.col(0);
}

// Σw, weighted means and spreads of two sets together (the parallel-axis theorem).
template <int U>
void une_resumen(AcumPolinomio<U>& a, const AcumPolinomio<U>& b) {
  const double w = a.w + b.w;
  if (w == 0.0) return;
  const double f = a.w * b.w / w, g = b.w / w;
  double jo = 0.0, jd = 0.0;
  for (int k = 0; k < 2; ++k) {
    jo += (b.mo[k] - a.mo[k]) * (b.mo[k] - a.mo[k]);
    jd += (b.md[k] - a.md[k]) * (b.md[k] - a.md[k]);
  }
  a.so += b.so + f * jo;
  a.sd += b.sd + f * jd;
  for (int k = 0; k < 2; ++k) {
    a.mo[k] += g * (b.mo[k] - a.mo[k]);
    a.md[k] += g * (b.md[k] - a.md[k]);
    a.amin[k] = std::min(a.amin[k], b.amin[k]), a.amax[k] = std::max(a.amax[k], b.amax[k]);
    a.bmin[k] = std::min(a.bmin[k], b.bmin[k]), a.bmax[k] = std::max(a.bmax[k], b.bmax[k]);
  }
  a.w = w;
}

// The basis a set is best described in: its weighted centroid and RMS spread (1 when the points
// coincide, where any scale does).
template <int U>
void base_propia(const AcumPolinomio<U>& a, double* c, double& l, double* cd) {
  for (int k = 0; k < 2; ++k) c[k] = a.mo[k], cd[k] = a.md[k];
  l = a.w > 0.0 ? std::sqrt(a.so / a.w) : 0.0;
  if (!(l > 0.0) || !std::isfinite(l)) l = 1.0;
}

template <int U>
void une_polinomio(AcumPolinomio<U>& a, const AcumPolinomio<U>& b) {
  if (b.w == 0.0) return;
  if (a.w == 0.0) {
    a = b;
    return;
  }
  AcumPolinomio<U> r = a;
  une_resumen(r, b);
  double c[2], l, cd[2];
  base_propia(r, c, l, cd);
  Triangulo<U> ta = desempaqueta(a), tb = desempaqueta(b);
  cambia_base<U>(ta, a.c, a.l, a.cd, c, l, cd);
  cambia_base<U>(tb, b.c, b.l, b.cd, c, l, cd);
  empaqueta<U>(apila<U, U + 2>(ta, tb), r);
  std::copy(c, c + 2, r.c), std::copy(cd, cd + 2, r.cd);
  r.l = l;
  a = r;
}

// A block's rows are formed in the block's own basis (a first pass gives its centroid and
// spread), folded in runs of kFilas by Householder, then merged into the accumulator.
inline constexpr int kFilas = 32;

template <int U>
void fila(const Datos& x, uint32_t i, const double* c, double l, const double* cd, double* f) {
  const double* o = x.origen(i);
  const double* d = x.destino(i);
  const double r = 1.0 / l;
  terminos<U>((o[0] - c[0]) * r, (o[1] - c[1]) * r, f);
  f[U] = d[0] - cd[0], f[U + 1] = d[1] - cd[1];
  const double raiz = std::sqrt(x.peso(i, 0));
  for (int k = 0; k < U + 2; ++k) f[k] *= raiz;
}

template <int U>
AcumPolinomio<U> bloque_polinomio(const Datos& x) {
  AcumPolinomio<U> b;
  vacia_polinomio(b);
  double so[2] = {}, sd[2] = {};
  for (uint32_t i = 0; i < x.n; ++i) {
    const double p = x.peso(i, 0);
    const double *o = x.origen(i), *d = x.destino(i);
    b.w += p;
    for (int k = 0; k < 2; ++k) {
      so[k] += p * o[k], sd[k] += p * d[k];
      b.amin[k] = std::min(b.amin[k], o[k]), b.amax[k] = std::max(b.amax[k], o[k]);
      b.bmin[k] = std::min(b.bmin[k], d[k]), b.bmax[k] = std::max(b.bmax[k], d[k]);
    }
  }
  if (b.w == 0.0) return b;
  for (int k = 0; k < 2; ++k) b.mo[k] = so[k] * (1.0 / b.w), b.md[k] = sd[k] * (1.0 / b.w);
  for (uint32_t i = 0; i < x.n; ++i) {
    const double p = x.peso(i, 0);
    const double *o = x.origen(i), *d = x.destino(i);
    for (int k = 0; k < 2; ++k) {
      b.so += p * (o[k] - b.mo[k]) * (o[k] - b.mo[k]);
      b.sd += p * (d[k] - b.md[k]) * (d[k] - b.md[k]);
    }
  }
  base_propia(b, b.c, b.l, b.cd);
  Triangulo<U> t = Triangulo<U>::Zero();
  Eigen::Matrix<double, kFilas, U + 2> filas;
  for (uint32_t ini = 0; ini < x.n; ini += kFilas) {
    filas.setZero();
    const uint32_t fin = std::min<uint32_t>(x.n, ini + kFilas);
    for (uint32_t i = ini; i < fin; ++i) {
      double f[U + 2];
      fila<U>(x, i, b.c, b.l, b.cd, f);
      for (int k = 0; k < U + 2; ++k) filas(int(i - ini), k) = f[k];
    }
    t = apila<U, kFilas>(t, filas);
  }
  empaqueta<U>(t, b);
  return b;
}

// Takes rows back out of the factor: the Cholesky downdate (LINPACK's), with RᵀR − x·xᵀ = R′ᵀR′.
// False when x is not in the row space strongly enough to remove (it carried a parameter alone).
template <int U>
bool baja_fila(Triangulo<U>& t, const double* x) {
  constexpr int A = U + 2;
  double a[A], c[A], s[A];
  double norma = 0.0;
  for (int j = 0; j < A; ++j) {
    double v = x[j];
    for (int k = 0; k < j; ++k) v -= t(k, j) * a[k];
    a[j] = t(j, j) != 0.0 ? v / t(j, j) : (v == 0.0 ? 0.0 : INFINITY);
    norma += a[j] * a[j];
  }
  if (!(norma < 1.0 - 64 * kEps)) return false;
  double alfa = std::sqrt(1.0 - norma);
  for (int i = A - 1; i >= 0; --i) {
    const double escala = alfa + std::fabs(a[i]);
    const double p = alfa / escala, q = a[i] / escala, h = std::hypot(p, q);
    c[i] = p / h, s[i] = q / h;
    alfa = escala * h;
  }
  for (int j = 0; j < A; ++j) {
    double xx = 0.0;
    for (int i = j; i >= 0; --i) {
      const double v = c[i] * xx + s[i] * t(i, j);
      t(i, j) = c[i] * t(i, j) - s[i] * xx;
      xx = v;
    }
  }
  return true;
}

template <int U>
int32_t quita_polinomio(AcumPolinomio<U>& a, const Datos& x) {
  AcumPolinomio<U> b = bloque_polinomio<U>(x);
  Triangulo<U> t = desempaqueta(a);
  for (uint32_t i = 0; i < x.n; ++i) {
    double f[U + 2];
    fila<U>(x, i, a.c, a.l, a.cd, f);
    if (!baja_fila<U>(t, f)) return ORIENTA_E_RANGO;
  }
  // The summary runs une backwards: what is left, united with b, gives a.
  const double w = a.w - b.w;
  if (!(w > 1e-12 * a.w)) return ORIENTA_E_RANGO;
  double mo[2], md[2], jo = 0.0, jd = 0.0;
  for (int k = 0; k < 2; ++k) {
    mo[k] = a.mo[k] - (b.w / w) * (b.mo[k] - a.mo[k]);
    md[k] = a.md[k] - (b.w / w) * (b.md[k] - a.md[k]);
    jo += (b.mo[k] - mo[k]) * (b.mo[k] - mo[k]);
    jd += (b.md[k] - md[k]) * (b.md[k] - md[k]);
  }
  const double f = w * b.w / a.w;
  a.so -= b.so + f * jo;
  a.sd -= b.sd + f * jd;
  std::copy(mo, mo + 2, a.mo), std::copy(md, md + 2, a.md);
  a.w = w;
  empaqueta<U>(t, a);
  return ORIENTA_OK;
}

// What the residual pass and the statistics keep of a polynomial: the basis of the rows and the
// cofactors (RᵀR)⁻¹ of one target coordinate's U coefficients (the other's are the same).
struct InternoPolinomio {
  double c[2], l;
  int32_t u;
  double q[10 * 10];
};

}  // namespace orienta::interno

#endif
