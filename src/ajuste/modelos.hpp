// The five models of the adjustment. Each keeps its estimate in a centred internal form, gives
// the design rows and predicted coordinates of a source point at that estimate, takes a
// correction, and maps its internal parameters to the reported ones with their Jacobian.
#ifndef ORIENTA_AJUSTE_MODELOS_HPP
#define ORIENTA_AJUSTE_MODELOS_HPP

#include "ajuste/minimos.hpp"
#include "ajuste/registro.hpp"
#include "orienta.h"
#include "rotacion/recuperacion.hpp"
#include "rotacion/vectores.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace orienta::interno {

// The pairs as orienta_pares describes them, already validated.
struct Datos {
  const unsigned char* o;
  const unsigned char* d;
  int64_t po, pd;
  uint32_t n;
  const double* sigma;  // null: unit weights
  int32_t spp;          // σ per pair: 1, or 2 (plan, height) in 3D

  const double* origen(uint32_t i) const { return reinterpret_cast<const double*>(o + int64_t(i) * po); }
  const double* destino(uint32_t i) const { return reinterpret_cast<const double*>(d + int64_t(i) * pd); }
  double peso(uint32_t i, int k) const {
    if (!sigma) return 1.0;
    const double s = sigma[size_t(spp) * i + (spp == 2 && k == 2 ? 1 : 0)];
    return 1.0 / (s * s);
  }
  // One weight per pair for the centroids and the closed form: the mean of its coordinates'.
  template <int D>
  double peso_par(uint32_t i) const {
    double w = 0.0;
    for (int k = 0; k < D; ++k) w += peso(i, k);
    return w * (1.0 / D);
  }
};

inline bool activo(const uint8_t* excluido, uint32_t i) { return !excluido || !excluido[i]; }

// Centroids, spreads and the singular values of the centred source set, over the active pairs.
template <int D>
struct Geometria {
  double co[3] = {0, 0, 0}, cd[3] = {0, 0, 0};
  double w = 0.0;             // Σ pair weights
  double rms_o = 0.0;         // √(Σ w·|a|² / Σ w), a the centred source points
  double rms_d = 0.0;         // the same for the targets
  double sv[D] = {};          // singular values of the rows √(w/Σw)·a, largest first
  double cruzada[D][D] = {};  // Σ w·b·aᵀ, b the centred targets
  double saa = 0.0;           // Σ w·|a|²
  uint32_t usados = 0;
};

// Rounding in the centred coordinates: a spread below this is indistinguishable from none.
inline double ruido(const double* c, int dim, double rms) {
  double m = 0.0;
  for (int k = 0; k < dim; ++k) m = std::max(m, std::fabs(c[k]));
  return 64.0 * kEps * (m + rms);
}

template <int D>
int32_t mide(const Datos& x, const uint8_t* excluido, Geometria<D>& g) {
  // Shifted sums: the centroid is the first active point plus the weighted mean offset from it,
  // so projected coordinates of 1e6 m lose nothing to the sum of their large common part.
  uint32_t primero = x.n;
  for (uint32_t i = 0; i < x.n; ++i)
    if (activo(excluido, i)) {
      primero = i;
      break;
    }
  if (primero == x.n) return ORIENTA_E_POCOS;
  const double* o0 = x.origen(primero);
  const double* d0 = x.destino(primero);
  double so[D] = {}, sd[D] = {};
  for (uint32_t i = 0; i < x.n; ++i) {
    if (!activo(excluido, i)) continue;
    const double w = x.peso_par<D>(i);
    const double *o = x.origen(i), *d = x.destino(i);
    for (int k = 0; k < D; ++k) {
      so[k] += w * (o[k] - o0[k]);
      sd[k] += w * (d[k] - d0[k]);
    }
    g.w += w;
    ++g.usados;
  }
  const double rw = 1.0 / g.w;
  for (int k = 0; k < D; ++k) {
    g.co[k] = o0[k] + so[k] * rw;
    g.cd[k] = d0[k] + sd[k] * rw;
  }
  // The centred source rows go through a QR: the singular values of its R carry an absolute
  // error of ε·σ₁, where the eigenvalues of the scatter matrix would only resolve √ε·σ₁.
  AcumuladorQR<D> qr;
  qr.vacia();
  double sbb = 0.0, mayor_a = 0.0, mayor_b = 0.0;
  for (uint32_t i = 0; i < x.n; ++i) {
    if (!activo(excluido, i)) continue;
    const double w = x.peso_par<D>(i) * rw;
    const double *o = x.origen(i), *d = x.destino(i);
    double a[D], b[D], fila[D];
    for (int k = 0; k < D; ++k) {
      a[k] = o[k] - g.co[k];
      b[k] = d[k] - g.cd[k];
      fila[k] = std::sqrt(w) * a[k];
      mayor_a = std::max(mayor_a, std::fabs(a[k]));
      mayor_b = std::max(mayor_b, std::fabs(b[k]));
      g.saa += w * a[k] * a[k];
      sbb += w * b[k] * b[k];
    }
    for (int k = 0; k < D; ++k)
      for (int j = 0; j < D; ++j) g.cruzada[k][j] += w * b[k] * a[j];
    qr.anade(fila, 0.0);
  }
  // Everything above was normalised by Σw, so the spreads are root-mean-squares.
  g.rms_o = std::sqrt(g.saa);
  g.rms_d = std::sqrt(sbb);
  Eigen::Matrix<double, D, D> r = Eigen::Matrix<double, D, D>::Zero();
  for (int j = 0; j < D; ++j)
    for (int k = j; k < D; ++k) r(j, k) = qr.r[j][k];
  const Eigen::JacobiSVD<Eigen::Matrix<double, D, D>> svd(r);
  for (int k = 0; k < D; ++k) g.sv[k] = svd.singularValues()(k);
  bool finito = std::isfinite(g.w) && std::isfinite(g.saa) && std::isfinite(sbb);
  for (int k = 0; k < D; ++k) finito = finito && std::isfinite(g.co[k]) && std::isfinite(g.cd[k]);
  if (!finito) return ORIENTA_E_DESBORDA;
  // A spread lost in rounding is coincidence; points that visibly differ but whose spread squares
  // to nothing are merely tiny, and say so.
  const double ro = ruido(g.co, D, 0.0), rd = ruido(g.cd, D, 0.0);
  if ((g.rms_o <= ro && mayor_a > ro) || (g.rms_d <= rd && mayor_b > rd)) return ORIENTA_E_DIMINUTO;
  if (g.rms_o <= ro || g.rms_d <= rd) return ORIENTA_E_COINCIDENTES;
  return ORIENTA_OK;
}

// ω, φ, κ of R = Rz(κ)·Ry(φ)·Rx(ω) as the library's own recovery reads them, so that a fitted
// record and Gmatriz_ωφκ_seg of its rotation print the same angles, gimbal lock included.
inline void angulos_de(const double (&m)[3][3], double* ang) {
  const Terna a = angulos_omega_phi_kappa(&m[0][0]);
  for (int k = 0; k < 3; ++k) ang[k] = a.v[k];
}

// 3D similarity. Internal parameters: T_c (the image of the source centroid), a small rotation δ
// applied on the left (R ← (I + [δ]×)·R) and s. δ has no gimbal lock, unlike ω φ κ.
struct Helmert3D {
  static constexpr int U = 7, D = 3, kModelo = ORIENTA_HELMERT3D, kMinPares = 3;
  static constexpr bool kLineal = false;
  static constexpr int32_t kSinRango = ORIENTA_E_RANGO;
  double co[3], tc[3], rot[3][3], s;
  double escala_t;  // target spread: the unit of translation steps
  bool anisotropo;
  int32_t reflejo;

  int32_t inicia(const Datos& x, const uint8_t* excluido, uint32_t& usados) {
    Geometria<3> g;
    const int32_t st = mide<3>(x, excluido, g);
    if (st != ORIENTA_OK) return st;
    usados = g.usados;
    if (g.sv[1] <= ruido(g.co, 3, g.rms_o)) return ORIENTA_E_COLINEALES;
    // The weighted orthogonal Procrustes problem: with Σ w·b·aᵀ = U·Σ·Vᵀ, the rotation maximising
    // Σ w·b·(R·a) is U·diag(1, 1, det(U·Vᵀ))·Vᵀ: the orthogonal Procrustes solution with the
    // determinant held at +1. No angles are involved, so it is exact for any rotation.
    Eigen::Matrix3d m;
    for (int k = 0; k < 3; ++k)
      for (int j = 0; j < 3; ++j) m(k, j) = g.cruzada[k][j];
    const Eigen::JacobiSVD<Eigen::Matrix3d> svd(m, Eigen::ComputeFullU | Eigen::ComputeFullV);
    const Eigen::Vector3d sig = svd.singularValues();
    const double d = svd.matrixU().determinant() * svd.matrixV().determinant() < 0.0 ? -1.0 : 1.0;
    Eigen::Matrix3d r = svd.matrixU() * Eigen::Vector3d(1.0, 1.0, d).asDiagonal() * svd.matrixV().transpose();
    // Least-squares scale Σ w·b·(R·a) / Σ w·|a|² (trace of Σ·diag(1, 1, d)).
    s = (sig(0) + sig(1) + d * sig(2)) / g.saa;
    if (!(s > 0.0)) return ORIENTA_E_RANGO;
    // Mirrored input: the reflection would cut the misfit Σw|b|² − (trace)²/Σw|a|² by
    // 4σ₃(σ₁+σ₂)/Σw|a|²; call it a reflection when that gain exceeds what the reflection leaves.
    const double sbb = g.rms_d * g.rms_d;
    const double ganancia = 4.0 * sig(2) * (sig(0) + sig(1)) / g.saa;
    const double traza = sig(0) + sig(1) + sig(2);
    const double resto_reflejo = std::max(0.0, sbb - traza * traza / g.saa);
    reflejo = d < 0.0 && ganancia > std::max(resto_reflejo, 1e-10 * sbb) ? 1 : 0;
    for (int k = 0; k < 3; ++k) {
      co[k] = g.co[k];
      tc[k] = g.cd[k];
      for (int j = 0; j < 3; ++j) rot[k][j] = r(k, j);
    }
    escala_t = g.rms_d;
    anisotropo = false;
    if (x.sigma && x.spp == 2)
      for (uint32_t i = 0; i < x.n && !anisotropo; ++i)
        anisotropo = activo(excluido, i) && x.sigma[2 * size_t(i)] != x.sigma[2 * size_t(i) + 1];
    return ORIENTA_OK;
  }

  // The closed form is the optimum for one weight per pair; plan and height weights need Gauss–Newton.
  bool itera() const { return anisotropo; }
  bool valido() const { return s > 0.0 && std::isfinite(s); }

  void linealiza(const double* o, double (&a)[3][7], double (&f)[3]) const {
    const double p[3] = {o[0] - co[0], o[1] - co[1], o[2] - co[2]};
    double y[3];
    for (int k = 0; k < 3; ++k) y[k] = rot[k][0] * p[0] + rot[k][1] * p[1] + rot[k][2] * p[2];
    for (int k = 0; k < 3; ++k) {
      f[k] = tc[k] + s * y[k];
      for (int j = 0; j < 7; ++j) a[k][j] = 0.0;
      a[k][k] = 1.0;
      a[k][6] = y[k];
    }
    // ∂(s·R·p)/∂δ = −s·[R·p]×
    a[0][4] = s * y[2], a[0][5] = -s * y[1];
    a[1][3] = -s * y[2], a[1][5] = s * y[0];
    a[2][3] = s * y[1], a[2][4] = -s * y[0];
  }

  void corrige(const double* x) {
    for (int k = 0; k < 3; ++k) tc[k] += x[k];
    s += x[6];
    // The exact rotation by δ (the rotation vector θ·n of MatrizRot_20) keeps R orthonormal to
    // rounding through the iterations.
    double d[3] = {x[3], x[4], x[5]}, e[9];
    matriz_rodrigues<Tipo20>(d, e);
    double nueva[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        nueva[i][j] = e[3 * i] * rot[0][j] + e[3 * i + 1] * rot[1][j] + e[3 * i + 2] * rot[2][j];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) rot[i][j] = nueva[i][j];
  }

  double paso(const double* x) const {
    double m = 0.0;
    for (int k = 0; k < 3; ++k) m = std::max({m, std::fabs(x[k]) / escala_t, std::fabs(x[3 + k])});
    return std::max(m, std::fabs(x[6]) / s);
  }

  // ∂reported/∂internal by rows, reported = (Tx Ty Tz ω φ κ s) of target = T + s·R·source.
  void jacobiano(double* jac) const {
    double ang[3];
    angulos_de(rot, ang);
    double rc[3];
    for (int k = 0; k < 3; ++k) rc[k] = rot[k][0] * co[0] + rot[k][1] * co[1] + rot[k][2] * co[2];
    std::fill(jac, jac + 49, 0.0);
    auto J = [jac](int i, int j) -> double& { return jac[7 * i + j]; };
    for (int k = 0; k < 3; ++k) {
      J(k, k) = 1.0;
      J(k, 6) = -rc[k];
    }
    // T = T_c − s·R·c_o; δ turns R·c_o by δ × (R·c_o), so ∂T/∂δ = s·[R·c_o]×.
    J(0, 4) = -s * rc[2], J(0, 5) = s * rc[1];
    J(1, 3) = s * rc[2], J(1, 5) = -s * rc[0];
    J(2, 3) = -s * rc[1], J(2, 4) = s * rc[0];
    // δ = dω·Rz·Ry·x̂ + dφ·Rz·ŷ + dκ·ẑ, inverted; the ω and κ rows grow as 1/cos φ toward gimbal lock.
    const double sf = std::sin(ang[1]), cf = std::cos(ang[1]);
    const double sk = std::sin(ang[2]), ck = std::cos(ang[2]);
    J(3, 3) = ck / cf, J(3, 4) = sk / cf;
    J(4, 3) = -sk, J(4, 4) = ck;
    J(5, 3) = sf * ck / cf, J(5, 4) = sf * sk / cf, J(5, 5) = 1.0;
    J(6, 6) = 1.0;
  }

  void registro(orienta_transformacion* t) const {
    vacia_registro(t, kModelo, 3);
    for (int k = 0; k < 3; ++k) {
      t->centro_origen[k] = co[k];
      t->centro_destino[k] = tc[k];
      for (int j = 0; j < 3; ++j) {
        t->rotacion[3 * k + j] = rot[k][j];
        t->matriz[3 * k + j] = s * rot[k][j];
      }
    }
    t->escala = s;
    angulos_de(rot, t->angulos);
  }
};

// What the three linear 2D models share: the centred source scaled to unit spread (so every
// term of a cubic stays near 1 and the design near orthonormal), T_c first, then the others.
template <int UU, int MINIMO, int MODELO>
struct Lineal2D {
  static constexpr int U = UU, D = 2, kModelo = MODELO, kMinPares = MINIMO;
  static constexpr bool kLineal = true;
  double co[2], cd[2], escala;  // escala: L, the source spread
  double x[UU];                 // internal parameters: T_c, then the coefficients of scaled terms

  int32_t prepara(const Datos& dat, const uint8_t* excluido, uint32_t& usados, bool no_colineal) {
    Geometria<2> g;
    const int32_t st = mide<2>(dat, excluido, g);
    if (st != ORIENTA_OK) return st;
    usados = g.usados;
    if (no_colineal && g.sv[1] <= ruido(g.co, 2, g.rms_o)) return ORIENTA_E_COLINEALES;
    co[0] = g.co[0], co[1] = g.co[1];
    cd[0] = g.cd[0], cd[1] = g.cd[1];
    escala = g.rms_o;
    std::fill(x, x + UU, 0.0);
    x[0] = cd[0], x[1] = cd[1];
    return ORIENTA_OK;
  }
  bool itera() const { return false; }
  bool valido() const { return true; }
  void corrige(const double* dx) {
    for (int k = 0; k < UU; ++k) x[k] += dx[k];
  }
  double paso(const double*) const { return 0.0; }
  void centrado(const double* o, double& u, double& v) const {
    const double r = 1.0 / escala;
    u = (o[0] - co[0]) * r;
    v = (o[1] - co[1]) * r;
  }
};

// 2D similarity: x′ = Tcx + a·u − b·v, y′ = Tcy + b·u + a·v on the scaled centred source.
struct Helmert2D : Lineal2D<4, 2, ORIENTA_HELMERT2D> {
  static constexpr int32_t kSinRango = ORIENTA_E_RANGO;
  int32_t inicia(const Datos& d, const uint8_t* e, uint32_t& usados) { return prepara(d, e, usados, false); }
  void linealiza(const double* o, double (&a)[2][4], double (&f)[2]) const {
    double u, v;
    centrado(o, u, v);
    a[0][0] = 1, a[0][1] = 0, a[0][2] = u, a[0][3] = -v;
    a[1][0] = 0, a[1][1] = 1, a[1][2] = v, a[1][3] = u;
    f[0] = x[0] + (x[2] * u - x[3] * v);
    f[1] = x[1] + (x[3] * u + x[2] * v);
  }
  // ∂(Tx Ty α s)/∂internal.
  void jacobiano(double* jac) const {
    const double r = 1.0 / escala;
    const double a = x[2] * r, b = x[3] * r;
    const double s = std::hypot(a, b);
    const double filas[4][4] = {
        {1, 0, -co[0] * r, co[1] * r},
        {0, 1, -co[1] * r, -co[0] * r},
        {0, 0, -b / (s * s) * r, a / (s * s) * r},
        {0, 0, a / s * r, b / s * r},
    };
    std::memcpy(jac, filas, sizeof filas);
  }
  void registro(orienta_transformacion* t) const {
    vacia_registro(t, kModelo, 2);
    const double r = 1.0 / escala;
    const double a = x[2] * r, b = x[3] * r, s = std::hypot(a, b);
    t->centro_origen[0] = co[0], t->centro_origen[1] = co[1];
    t->centro_destino[0] = x[0], t->centro_destino[1] = x[1];
    t->matriz[0] = a, t->matriz[1] = -b, t->matriz[3] = b, t->matriz[4] = a;
    t->escala = s;
    t->angulos[0] = std::atan2(b, a);
    const double c = std::cos(t->angulos[0]), sn = std::sin(t->angulos[0]);
    t->rotacion[0] = c, t->rotacion[1] = -sn, t->rotacion[3] = sn, t->rotacion[4] = c;
  }
};

// 2D affine and the polynomials: each target coordinate its own combination of the terms u, v,
// u², u·v, v², u³, u²·v, u·v², v³ (the first K). Internal order: T_c, then x′'s K, then y′'s K.
template <int K, int MINIMO, int MODELO>
struct Polinomio2D : Lineal2D<2 + 2 * K, MINIMO, MODELO> {
  using Base = Lineal2D<2 + 2 * K, MINIMO, MODELO>;
  using Base::co, Base::x, Base::escala;
  static constexpr int U = Base::U;
  // An affine set is singular only when collinear; a polynomial also on conics and cubics.
  static constexpr int32_t kSinRango = K == 2 ? ORIENTA_E_COLINEALES : ORIENTA_E_RANGO;
  static constexpr int kGrado[9] = {1, 1, 2, 2, 2, 3, 3, 3, 3};

  static void terminos(double u, double v, double* t) {
    t[0] = u, t[1] = v;
    if (K > 2) t[2] = u * u, t[3] = u * v, t[4] = v * v;
    if (K > 5) t[5] = u * u * u, t[6] = u * u * v, t[7] = u * v * v, t[8] = v * v * v;
  }
  int32_t inicia(const Datos& d, const uint8_t* e, uint32_t& usados) { return Base::prepara(d, e, usados, true); }
  void linealiza(const double* o, double (&a)[2][U], double (&f)[2]) const {
    double u, v, t[9];
    this->centrado(o, u, v);
    terminos(u, v, t);
    for (int j = 0; j < U; ++j) a[0][j] = a[1][j] = 0.0;
    a[0][0] = 1.0, a[1][1] = 1.0;
    double sx = 0.0, sy = 0.0;
    for (int k = 0; k < K; ++k) {
      a[0][2 + k] = t[k];
      a[1][2 + K + k] = t[k];
      sx += x[2 + k] * t[k];
      sy += x[2 + K + k] * t[k];
    }
    f[0] = x[0] + sx;
    f[1] = x[1] + sy;
  }
  // The coefficient of a term of degree g in dx, dy is the scaled one over L^g.
  double desescala(int k) const {
    double f = 1.0;
    for (int g = 0; g < kGrado[k]; ++g) f /= escala;
    return f;
  }
  // ∂reported/∂internal: the coefficients unscaled; the affine reports T = T_c − A·c_o.
  void jacobiano(double* jac) const {
    std::fill(jac, jac + U * U, 0.0);
    for (int j = 0; j < 2 * K; ++j) jac[(2 + j) * U + 2 + j] = desescala(j % K);
    jac[0] = 1.0, jac[U + 1] = 1.0;
    if (K == 2) {
      const double r = 1.0 / escala;
      jac[2] = -co[0] * r, jac[3] = -co[1] * r;
      jac[U + 4] = -co[0] * r, jac[U + 5] = -co[1] * r;
    }
  }
  void registro(orienta_transformacion* t) const {
    vacia_registro(t, MODELO, 2);
    t->centro_origen[0] = co[0], t->centro_origen[1] = co[1];
    t->centro_destino[0] = x[0], t->centro_destino[1] = x[1];
    t->escala = std::numeric_limits<double>::quiet_NaN();
    for (int k = 0; k < K; ++k) {
      const double f = desescala(k);
      if (K > 2) {
        t->coef_x[k] = x[2 + k] * f;
        t->coef_y[k] = x[2 + K + k] * f;
      }
    }
    t->matriz[0] = x[2] * desescala(0), t->matriz[1] = x[3] * desescala(1);
    t->matriz[3] = x[2 + K] * desescala(0), t->matriz[4] = x[3 + K] * desescala(1);
  }
};

using Afin2D = Polinomio2D<2, 3, ORIENTA_AFIN2D>;
using Poli2D2 = Polinomio2D<5, 6, ORIENTA_POLI2D_2>;
using Poli2D3 = Polinomio2D<9, 10, ORIENTA_POLI2D_3>;

}  // namespace orienta::interno

#endif
