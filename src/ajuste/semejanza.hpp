// The similarities (3D, 2D, and the 3D rigid motion) from moments: weighted, centred sums of the
// pairs per weight group, merged by the pairwise update of Chan, Golub and LeVeque; the closed
// form from them, Gauss–Newton on them where plan and height weights differ, and the normal matrix
// of the adjustment, also from them.
#ifndef ORIENTA_AJUSTE_SEMEJANZA_HPP
#define ORIENTA_AJUSTE_SEMEJANZA_HPP

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "ajuste/pares.hpp"
#include "ajuste/registro.hpp"
#include "interno.hpp"
#include "orienta.h"
#include "rotacion/recuperacion.hpp"
#include "rotacion/vectores.hpp"

namespace orienta::interno {

// Moments of one weight group: Σw, the weighted means, and the centred second moments
// Σ w·(a − ā)(a − ā)ᵀ, Σ w·(b − b̄)(a − ā)ᵀ, Σ w·(b − b̄)(b − b̄)ᵀ.
template <int D>
struct Momentos {
  double w;
  double ma[D], mb[D];  // the means, rounded
  double la[D], lb[D];  // what rounding them left out: the means are ma + la and mb + lb
  double saa[D][D], sab[D][D], sbb[D][D];
};

// s + e = a + b exactly (Knuth's two-sum).
inline void dos_suma(double a, double b, double& s, double& e) {
  s = a + b;
  const double bb = s - a;
  e = (a - (s - bb)) + (b - bb);
}

// m ← m + d, m held as hi + lo. A merge moves the mean by d; were the moved mean rounded, the
// centred sums (about the exact mean) and the mean they are next merged with would disagree by
// the rounding, which the next merge's jump multiplies: on coordinates of 10⁶ m over blocks of
// a few hundred pairs that cost 1e-14 in the rotation after a few dozen merges.
inline void mueve(double& hi, double& lo, double d) {
  double e;
  dos_suma(hi, d + lo, hi, e);
  lo = e;
}

// a ← a ∪ b. Never Σa·aᵀ − n·ā·āᵀ: the centred sums meet only through the jump between the two
// means, so coordinates of 10⁶ m over a site of 1 km lose nothing to cancellation.
template <int D>
void une(Momentos<D>& a, const Momentos<D>& b) {
  if (b.w == 0.0) return;
  if (a.w == 0.0) {
    a = b;
    return;
  }
  const double w = a.w + b.w, f = a.w * b.w / w, g = b.w / w;
  double da[D], db[D];
  for (int k = 0; k < D; ++k)
    da[k] = (b.ma[k] - a.ma[k]) + (b.la[k] - a.la[k]), db[k] = (b.mb[k] - a.mb[k]) + (b.lb[k] - a.lb[k]);
  for (int i = 0; i < D; ++i)
    for (int j = 0; j < D; ++j) {
      a.saa[i][j] += b.saa[i][j] + f * da[i] * da[j];
      a.sab[i][j] += b.sab[i][j] + f * db[i] * da[j];
      a.sbb[i][j] += b.sbb[i][j] + f * db[i] * db[j];
    }
  for (int k = 0; k < D; ++k) mueve(a.ma[k], a.la[k], g * da[k]), mueve(a.mb[k], a.lb[k], g * db[k]);
  a.w = w;
}

// a ← a ∖ b, b having been merged into a: the merge run backwards.
template <int D>
void quita(Momentos<D>& a, const Momentos<D>& b) {
  const double w = a.w - b.w;
  if (!(w > 1e-12 * a.w)) {
    std::memset(&a, 0, sizeof a);
    return;
  }
  // The jump from the remainder's means to b's, as une would have seen it: b's offset from the
  // whole mean grown by a.w / w; then the remainder's means.
  double da[D], db[D];
  for (int k = 0; k < D; ++k) {
    da[k] = ((b.ma[k] - a.ma[k]) + (b.la[k] - a.la[k])) * (a.w / w);
    db[k] = ((b.mb[k] - a.mb[k]) + (b.lb[k] - a.lb[k])) * (a.w / w);
  }
  const double f = w * b.w / a.w;
  for (int i = 0; i < D; ++i)
    for (int j = 0; j < D; ++j) {
      a.saa[i][j] -= b.saa[i][j] + f * da[i] * da[j];
      a.sab[i][j] -= b.sab[i][j] + f * db[i] * da[j];
      a.sbb[i][j] -= b.sbb[i][j] + f * db[i] * db[j];
    }
  for (int k = 0; k < D; ++k)
    mueve(a.ma[k], a.la[k], -(b.w / a.w) * da[k]), mueve(a.mb[k], a.lb[k], -(b.w / a.w) * db[k]);
  a.w = w;
}

// Σ f_g·group_g: the moments of the pairs weighted by a mix of the groups' weights (the closed
// form's start when plan and height weights differ), by the parallel-axis theorem.
template <int D>
Momentos<D> mezcla(const Momentos<D>* g, const double* f, int n) {
  Momentos<D> r{};
  for (int q = 0; q < n; ++q) {
    Momentos<D> h = g[q];
    h.w *= f[q];
    for (int i = 0; i < D; ++i)
      for (int j = 0; j < D; ++j) h.saa[i][j] *= f[q], h.sab[i][j] *= f[q], h.sbb[i][j] *= f[q];
    une(r, h);
  }
  return r;
}

// The accumulator's contents for a similarity: one group, or plan and height groups in 3D with
// two σ a pair, and the extent of the points (which tells coincident points from tiny ones).
template <int D>
struct AcumSemejanza {
  Momentos<D> grupo[2];
  double amin[D], amax[D], bmin[D], bmax[D];
};

// Pairs are summed in runs of this many: means of the run first, then its centred sums, both over
// data still in cache; runs merge by une.
inline constexpr uint32_t kTramo = 256;

// The moments of group grupo over pairs [ini, fin); with kExtension the points' extent in a grows
// in the same first pass, over coordinates already loaded.
template <int D, bool kConPeso, bool kExtension>
void suma_tramo(const Datos& x, uint32_t ini, uint32_t fin, int grupo, Momentos<D>& m, AcumSemejanza<D>& a) {
  m = Momentos<D>{};
  double peso[kTramo];
  const int k_peso = grupo == 0 ? 0 : 2;
  double sa[D] = {}, sb[D] = {}, w = 0.0;
  double amin[D], amax[D], bmin[D], bmax[D];
  for (int k = 0; k < D; ++k) amin[k] = a.amin[k], amax[k] = a.amax[k], bmin[k] = a.bmin[k], bmax[k] = a.bmax[k];
  for (uint32_t i = ini; i < fin; ++i) {
    const double p = peso[i - ini] = x.peso_de<kConPeso>(i, k_peso);
    const double *o = x.origen(i), *d = x.destino(i);
    w += p;
    for (int k = 0; k < D; ++k) {
      sa[k] += p * o[k], sb[k] += p * d[k];
      if constexpr (kExtension) {
        amin[k] = std::min(amin[k], o[k]), amax[k] = std::max(amax[k], o[k]);
        bmin[k] = std::min(bmin[k], d[k]), bmax[k] = std::max(bmax[k], d[k]);
      }
    }
  }
  if constexpr (kExtension)
    for (int k = 0; k < D; ++k) a.amin[k] = amin[k], a.amax[k] = amax[k], a.bmin[k] = bmin[k], a.bmax[k] = bmax[k];
  m.w = w;
  const double r = 1.0 / w;
  for (int k = 0; k < D; ++k) m.ma[k] = sa[k] * r, m.mb[k] = sb[k] * r;
  // The upper triangles of the two symmetric sums, one running sum each; and the first moments
  // about the rounded means, which put back what rounding the means lost (the differences from
  // them are exact, being of nearby numbers, so these sums are good to the last bits of the
  // spread, not of the coordinates).
  double saa[D][D] = {}, sab[D][D] = {}, sbb[D][D] = {}, ra[D] = {}, rb[D] = {};
  for (uint32_t i = ini; i < fin; ++i) {
    const double p = peso[i - ini];
    const double *o = x.origen(i), *d = x.destino(i);
    double a[D], b[D], pa[D], pb[D];
    for (int k = 0; k < D; ++k) {
      a[k] = o[k] - m.ma[k], b[k] = d[k] - m.mb[k];
      pa[k] = p * a[k], pb[k] = p * b[k];
      ra[k] += pa[k], rb[k] += pb[k];
    }
    for (int i2 = 0; i2 < D; ++i2) {
      for (int j = i2; j < D; ++j) saa[i2][j] += pa[i2] * a[j], sbb[i2][j] += pb[i2] * b[j];
      for (int j = 0; j < D; ++j) sab[i2][j] += pb[i2] * a[j];
    }
  }
  // The sums are about the rounded means; about the exact ones they are smaller by w·δδᵀ.
  for (int k = 0; k < D; ++k) m.la[k] = ra[k] * r, m.lb[k] = rb[k] * r;
  for (int i2 = 0; i2 < D; ++i2)
    for (int j = i2; j < D; ++j) {
      saa[i2][j] -= m.w * m.la[i2] * m.la[j], sbb[i2][j] -= m.w * m.lb[i2] * m.lb[j];
      sab[i2][j] -= m.w * m.lb[i2] * m.la[j];
      if (j > i2) sab[j][i2] -= m.w * m.lb[j] * m.la[i2];
    }
  for (int i2 = 0; i2 < D; ++i2)
    for (int j = 0; j < D; ++j) {
      m.saa[i2][j] = j >= i2 ? saa[i2][j] : saa[j][i2];
      m.sbb[i2][j] = j >= i2 ? sbb[i2][j] : sbb[j][i2];
      m.sab[i2][j] = sab[i2][j];
    }
}

template <int D>
void vacia_semejanza(AcumSemejanza<D>& a) {
  std::memset(&a, 0, sizeof a);
  for (int k = 0; k < D; ++k) {
    a.amin[k] = a.bmin[k] = INFINITY;
    a.amax[k] = a.bmax[k] = -INFINITY;
  }
}

template <int D>
void anade_semejanza(AcumSemejanza<D>& a, const Datos& x, int grupos, bool quitar = false) {
  for (uint32_t ini = 0; ini < x.n; ini += kTramo) {
    const uint32_t fin = std::min<uint32_t>(x.n, ini + kTramo);
    for (int g = 0; g < grupos; ++g) {
      Momentos<D> m;
      // The extent grows with the first group's pass, and only as pairs come in.
      const bool extension = g == 0 && !quitar;
      if (x.sigma)
        extension ? suma_tramo<D, true, true>(x, ini, fin, g, m, a) : suma_tramo<D, true, false>(x, ini, fin, g, m, a);
      else
        extension ? suma_tramo<D, false, true>(x, ini, fin, g, m, a) : suma_tramo<D, false, false>(x, ini, fin, g, m, a);
      if (quitar)
        quita(a.grupo[g], m);
      else
        une(a.grupo[g], m);
    }
  }
}

template <int D>
void une_semejanza(AcumSemejanza<D>& a, const AcumSemejanza<D>& b) {
  for (int g = 0; g < 2; ++g) une(a.grupo[g], b.grupo[g]);
  for (int k = 0; k < D; ++k) {
    a.amin[k] = std::min(a.amin[k], b.amin[k]), a.amax[k] = std::max(a.amax[k], b.amax[k]);
    a.bmin[k] = std::min(a.bmin[k], b.bmin[k]), a.bmax[k] = std::max(a.bmax[k], b.bmax[k]);
  }
}

// Rounding in the centred coordinates: a spread below this is indistinguishable from none.
inline double ruido(const double* c, int dim, double rms) {
  double m = 0.0;
  for (int k = 0; k < dim; ++k) m = std::max(m, std::fabs(c[k]));
  return 64.0 * kEps * (m + rms);
}

// A set thinner than this fraction of its length is collinear as far as moments can tell: their
// rounding resolves a second singular value only down to about √ε of the first.
inline constexpr double kHilo = 1e-7;

// Coincident, or so small that the spread's square underflowed though the points differ.
inline int32_t dispersion(double rms, const double* media, const double* mn, const double* mx, int dim) {
  const double r = ruido(media, dim, 0.0);
  if (rms > r) return ORIENTA_OK;
  for (int k = 0; k < dim; ++k)
    if (mx[k] - mn[k] > r) return ORIENTA_E_DIMINUTO;
  return ORIENTA_E_COINCIDENTES;
}

// ---------------------------------------------------------------------------------------------
// The solution

// What the residual pass and the statistics keep of a similarity: the centre of the internal
// rows, the cofactors of the internal parameters (T_c, then δ and s in 3D, a and b in 2D), and
// per target coordinate the form H_k with φᵀQφ = [1; p]ᵀ·H_k·[1; p], p = source − centre.
struct InternoSemejanza {
  double co[3];
  int32_t u;
  double q[7 * 7];
  double h[3][16];
};

inline void rota_por(double (&r)[3][3], const double* delta) {
  // The exact rotation by δ (the rotation vector θ·n of MatrizRot_20) keeps R orthonormal to
  // rounding through the iterations.
  double d[3] = {delta[0], delta[1], delta[2]}, e[9];
  matriz_rodrigues<Tipo20>(d, e);
  double nueva[3][3];
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j) nueva[i][j] = e[3 * i] * r[0][j] + e[3 * i + 1] * r[1][j] + e[3 * i + 2] * r[2][j];
  std::memcpy(r, nueva, sizeof nueva);
}

// [e_l]×, row k, times R: ∂(R·p)_k/∂δ_l for R ← (I + [δ]×)·R.
inline double giro_fila(const double (&r)[3][3], int l, int k, int m) {
  static constexpr int kCruz[3][3][3] = {
      {{0, 0, 0}, {0, 0, -1}, {0, 1, 0}}, {{0, 0, 1}, {0, 0, 0}, {-1, 0, 0}}, {{0, -1, 0}, {1, 0, 0}, {0, 0, 0}}};
  double s = 0.0;
  for (int j = 0; j < 3; ++j) s += kCruz[l][k][j] * r[j][m];
  return s;
}

// The 3D estimate: rotation, scale, and the centres it maps.
struct Estimacion3D {
  double r[3][3];
  double s;
  double co[3], cd[3];
  int32_t reflejo = 0, iteraciones = 0;
};

// The closed form of the weighted orthogonal Procrustes problem: with Σ w·b·aᵀ = U·Σ·Vᵀ, the
// rotation maximising Σ w·b·(R·a) is U·diag(1, 1, det(U·Vᵀ))·Vᵀ, the determinant held at +1. No
// angles are involved, so it is exact for any rotation; the scale is then the least-squares one.
inline int32_t forma_cerrada(const Momentos<3>& m, bool rigida, Estimacion3D& e) {
  Eigen::Matrix3d c;
  for (int k = 0; k < 3; ++k)
    for (int j = 0; j < 3; ++j) c(k, j) = m.sab[k][j];
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(c, Eigen::ComputeFullU | Eigen::ComputeFullV);
  const Eigen::Vector3d& sig = svd.singularValues();
  const double d = svd.matrixU().determinant() * svd.matrixV().determinant() < 0.0 ? -1.0 : 1.0;
  const Eigen::Matrix3d r = svd.matrixU() * Eigen::Vector3d(1.0, 1.0, d).asDiagonal() * svd.matrixV().transpose();
  const double saa = m.saa[0][0] + m.saa[1][1] + m.saa[2][2];
  const double sbb = m.sbb[0][0] + m.sbb[1][1] + m.sbb[2][2];
  const double traza = sig(0) + sig(1) + d * sig(2);
  e.s = rigida ? 1.0 : traza / saa;
  if (!(traza > 0.0) || !std::isfinite(e.s)) return ORIENTA_E_RANGO;
  // Mirrored input: the reflection would cut the misfit Σw|b|² − (trace)²/Σw|a|² by
  // 4σ₃(σ₁+σ₂)/Σw|a|²; call it a reflection when that gain exceeds what the reflection leaves.
  const double ganancia = 4.0 * sig(2) * (sig(0) + sig(1)) / saa;
  const double entera = sig(0) + sig(1) + sig(2);
  const double resto_reflejo = std::max(0.0, sbb - entera * entera / saa);
  e.reflejo = d < 0.0 && ganancia > std::max(resto_reflejo, 1e-10 * sbb) ? 1 : 0;
  for (int k = 0; k < 3; ++k)
    for (int j = 0; j < 3; ++j) e.r[k][j] = r(k, j);
  return ORIENTA_OK;
}

// Σ_k m_kᵀ·C_k·m_k − 2·m_kᵀ·d_k + (b − b̄)ᵀ(b − b̄)_kk over the target coordinates k, with m_k the
// row k of s·R and C_k, d_k the moments of k's group: vᵀPv once T takes its best value, which
// eliminates it. Used only to keep a long step from climbing.
inline double misfit(const Momentos<3>* g, const double (&r)[3][3], double s) {
  double f = 0.0;
  for (int k = 0; k < 3; ++k) {
    const Momentos<3>& m = g[k < 2 ? 0 : 1];
    double cm[3];
    for (int i = 0; i < 3; ++i) cm[i] = (m.saa[i][0] * r[k][0] + m.saa[i][1] * r[k][1] + m.saa[i][2] * r[k][2]) * s;
    f += s * (r[k][0] * cm[0] + r[k][1] * cm[1] + r[k][2] * cm[2]) -
         2.0 * s * (r[k][0] * m.sab[k][0] + r[k][1] * m.sab[k][1] + r[k][2] * m.sab[k][2]) + m.sbb[k][k];
  }
  return f;
}

inline constexpr int kMaxIteraciones = 100;

// Gauss–Newton on the moments of the plan and height groups, in a small rotation δ and s (T is
// eliminated: its best value follows from the others). It stops when a step no longer changes the
// parameters beyond their rounding, or stops shrinking at that level.
inline int32_t gauss_newton(const Momentos<3>* g, bool rigida, Estimacion3D& e) {
  const int u = rigida ? 3 : 4;
  double anterior = INFINITY;
  const double escala_f = g[0].sbb[0][0] + g[0].sbb[1][1] + g[1].sbb[2][2] + 1e-300;
  for (int it = 1; it <= kMaxIteraciones; ++it) {
    Eigen::Matrix4d n = Eigen::Matrix4d::Zero();
    Eigen::Vector4d b = Eigen::Vector4d::Zero();
    for (int k = 0; k < 3; ++k) {
      const Momentos<3>& m = g[k < 2 ? 0 : 1];
      double j[3][4], res[3];
      for (int c = 0; c < 3; ++c) {
        for (int l = 0; l < 3; ++l) j[c][l] = e.s * giro_fila(e.r, l, k, c);
        j[c][3] = rigida ? 0.0 : e.r[k][c];
      }
      for (int i = 0; i < 3; ++i) {
        double cm = 0.0;
        for (int c = 0; c < 3; ++c) cm += m.saa[i][c] * e.r[k][c];
        res[i] = m.sab[k][i] - e.s * cm;
      }
      for (int p = 0; p < u; ++p) {
        for (int q = 0; q < u; ++q) {
          double t = 0.0;
          for (int i = 0; i < 3; ++i)
            for (int c = 0; c < 3; ++c) t += j[i][p] * m.saa[i][c] * j[c][q];
          n(p, q) += t;
        }
        double t = 0.0;
        for (int i = 0; i < 3; ++i) t += j[i][p] * res[i];
        b(p) += t;
      }
    }
    if (rigida) n(3, 3) = 1.0, b(3) = 0.0;
    Eigen::Vector4d paso = n.ldlt().solve(b);
    if (!paso.allFinite()) return ORIENTA_E_DESBORDA;
    double p = std::max({std::fabs(paso(0)), std::fabs(paso(1)), std::fabs(paso(2)), std::fabs(paso(3)) / e.s});
    // A long step from a poor start may climb; halve it until the misfit does not grow.
    const double f0 = misfit(g, e.r, e.s);
    for (int mitad = 0; mitad < 60; ++mitad) {
      Estimacion3D prueba = e;
      rota_por(prueba.r, paso.data());
      prueba.s = e.s + paso(3);
      if (p < 1e-6 || (prueba.s > 0.0 && misfit(g, prueba.r, prueba.s) <= f0 + 1e-12 * escala_f)) {
        std::memcpy(e.r, prueba.r, sizeof e.r);
        e.s = prueba.s;
        break;
      }
      paso *= 0.5;
      p *= 0.5;
    }
    e.iteraciones = it;
    if (!(e.s > 0.0)) return ORIENTA_E_RANGO;
    if (p <= 4.0 * kEps || (p >= anterior && p <= 1e-12)) return ORIENTA_OK;
    anterior = p;
  }
  return ORIENTA_E_NO_CONVERGE;
}

// The rows of the adjustment for target coordinate k as G_k·[1; p]: u internal parameters by the
// constant and the three coordinates of p = source − centre.
inline void filas_3d(const Estimacion3D& e, bool rigida, int k, double (&g)[7][4]) {
  std::memset(g, 0, sizeof g);
  g[k][0] = 1.0;
  for (int m = 0; m < 3; ++m) {
    for (int l = 0; l < 3; ++l) g[3 + l][1 + m] = e.s * giro_fila(e.r, l, k, m);
    if (!rigida) g[6][1 + m] = e.r[k][m];
  }
}

// The 4×4 moment matrix of group m about the centre c: Σ w·[1; p][1; p]ᵀ.
inline void momento_centrado(const Momentos<3>& m, const double* c, double (&mm)[4][4]) {
  double d[3];
  for (int k = 0; k < 3; ++k) d[k] = m.ma[k] - c[k];
  mm[0][0] = m.w;
  for (int k = 0; k < 3; ++k) mm[0][1 + k] = mm[1 + k][0] = m.w * d[k];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) mm[1 + i][1 + j] = m.saa[i][j] + m.w * d[i] * d[j];
}

// Q = N⁻¹ by the eigenvalues of the column-equilibrated N, whose condition is the square of the
// design's: returns the design's 2-norm condition number, infinite when N is singular.
template <int U>
double cofactores(const Eigen::Matrix<double, U, U>& n, int u, double* q) {
  Eigen::MatrixXd m = n.topLeftCorner(u, u);
  Eigen::VectorXd d(u);
  for (int i = 0; i < u; ++i) d(i) = m(i, i) > 0.0 ? 1.0 / std::sqrt(m(i, i)) : 0.0;
  const Eigen::MatrixXd e = d.asDiagonal() * m * d.asDiagonal();
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(e);
  const Eigen::VectorXd& l = eig.eigenvalues();
  if (!(l(0) > 0.0) || !l.allFinite()) return INFINITY;
  const Eigen::MatrixXd inv = d.asDiagonal() * eig.eigenvectors() * l.cwiseInverse().asDiagonal() *
                              eig.eigenvectors().transpose() * d.asDiagonal();
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < u; ++j) q[u * i + j] = inv(i, j);
  return std::sqrt(l(u - 1) / l(0));
}

// H = Gᵀ·Q·G for the rows of one coordinate.
template <int F>
void forma(const double* q, int u, const double (&g)[7][F], double* h) {
  for (int a = 0; a < F; ++a)
    for (int b = 0; b < F; ++b) {
      double t = 0.0;
      for (int i = 0; i < u; ++i)
        for (int j = 0; j < u; ++j) t += g[i][a] * q[u * i + j] * g[j][b];
      h[F * a + b] = t;
    }
}

}  // namespace orienta::interno

#endif
