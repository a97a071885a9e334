// The precision of transformed points: the covariance of y = f(θ, x) propagated from the fit's
// parameter covariance Σθ (and the point's own Σx where given), J_θ·Σθ·J_θᵀ + J_x·Σx·J_xᵀ.
//
// For every model J_θ is linear in a short vector of terms of the centred point d = x − c_o:
// τ = (1, d) for the similarities and the affine, (1, dx, dy, dx², …) for the polynomials. With
// J_θ = Σ_i τ_i·B_i the covariance is Σ_{i,j} τ_i·τ_j·(B_i·Σθ·B_jᵀ): the small matrices in the
// parentheses are formed once, and each point costs one product of its terms per pair (i ≤ j)
// and entry. Centring keeps the terms small, so that near the centroid the sum does not cancel
// the large variances of the translation at the origin against those of the angles.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "ajuste/registro.hpp"
#include "orienta_ajuste.h"

namespace {

constexpr int kMaxTerminos = 10;  // 1 and the nine terms of a cubic
constexpr int kMaxPares = kMaxTerminos * (kMaxTerminos + 1) / 2;

struct Plan {
  int d = 0, u = 0, L = 0, entradas = 0;
  double S[kMaxPares][6] = {};  // per pair of terms i ≤ j: the upper triangle of K_ij (+ K_ji)
};

// R = Rz(κ)·Ry(φ)·Rx(ω) and its three derivatives, each times s.
void producto(const double a[3][3], const double b[3][3], double r[3][3]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
}

void giros(const double* ang, double s, double G[4][3][3]) {
  const double cw = std::cos(ang[0]), sw = std::sin(ang[0]), cp = std::cos(ang[1]), sp = std::sin(ang[1]),
               ck = std::cos(ang[2]), sk = std::sin(ang[2]);
  const double X[3][3] = {{1, 0, 0}, {0, cw, -sw}, {0, sw, cw}}, dX[3][3] = {{0, 0, 0}, {0, -sw, -cw}, {0, cw, -sw}};
  const double Y[3][3] = {{cp, 0, sp}, {0, 1, 0}, {-sp, 0, cp}}, dY[3][3] = {{-sp, 0, cp}, {0, 0, 0}, {-cp, 0, -sp}};
  const double Z[3][3] = {{ck, -sk, 0}, {sk, ck, 0}, {0, 0, 1}}, dZ[3][3] = {{-sk, -ck, 0}, {ck, -sk, 0}, {0, 0, 0}};
  const double(*factores[4][3])[3] = {{Z, Y, dX}, {Z, dY, X}, {dZ, Y, X}, {Z, Y, X}};
  for (int k = 0; k < 4; ++k) {
    double zy[3][3];
    producto(factores[k][0], factores[k][1], zy);
    producto(zy, factores[k][2], G[k]);
    if (k < 3)
      for (auto& fila : G[k])
        for (double& x : fila) x *= s;
  }
}

// B_i (d × u, by rows) of each term i: J_θ(x) = Σ_i τ_i·B_i.
void jacobianos(const orienta_transformacion& t, int L, double B[kMaxTerminos][3][ORIENTA_MAX_PARAMETROS]) {
  std::memset(B, 0, sizeof(double) * kMaxTerminos * 3 * ORIENTA_MAX_PARAMETROS);
  const double* c = t.centro_origen;
  switch (t.modelo) {
    case ORIENTA_HELMERT3D:
    case ORIENTA_RIGIDO3D: {
      // y = T + s·R·x: ∂y/∂T = I, ∂y/∂ω = s·Rz·Ry·Rx′·x …, ∂y/∂s = R·x; x = c_o + d.
      double G[4][3][3];
      giros(t.angulos, t.modelo == ORIENTA_RIGIDO3D ? 1.0 : t.escala, G);
      const int columnas = t.modelo == ORIENTA_RIGIDO3D ? 3 : 4;
      for (int a = 0; a < 3; ++a) {
        B[0][a][a] = 1.0;
        for (int k = 0; k < columnas; ++k) {
          B[0][a][3 + k] = G[k][a][0] * c[0] + G[k][a][1] * c[1] + G[k][a][2] * c[2];
          for (int i = 0; i < 3; ++i) B[1 + i][a][3 + k] = G[k][a][i];
        }
      }
      return;
    }
    case ORIENTA_HELMERT2D: {
      // y = T + s·R(α)·x: ∂y/∂α = s·R′·x, ∂y/∂s = R·x.
      const double ca = std::cos(t.angulos[0]), sa = std::sin(t.angulos[0]), s = t.escala;
      const double G[2][2][2] = {{{-s * sa, -s * ca}, {s * ca, -s * sa}}, {{ca, -sa}, {sa, ca}}};
      for (int a = 0; a < 2; ++a) {
        B[0][a][a] = 1.0;
        for (int k = 0; k < 2; ++k) {
          B[0][a][2 + k] = G[k][a][0] * c[0] + G[k][a][1] * c[1];
          for (int i = 0; i < 2; ++i) B[1 + i][a][2 + k] = G[k][a][i];
        }
      }
      return;
    }
    case ORIENTA_AFIN2D:
      // y_a = T_a + Σ_i A_ai·x_i.
      for (int a = 0; a < 2; ++a) {
        B[0][a][a] = 1.0;
        for (int i = 0; i < 2; ++i) {
          B[0][a][2 + 2 * a + i] = c[i];
          B[1 + i][a][2 + 2 * a + i] = 1.0;
        }
      }
      return;
    default:
      // y_a = c_d,a + Σ_k coef_a,k·τ_k: x0, y0 then coef_x, coef_y of the L − 1 terms.
      for (int a = 0; a < 2; ++a) {
        B[0][a][a] = 1.0;
        for (int k = 1; k < L; ++k) B[k][a][2 + a * (L - 1) + (k - 1)] = 1.0;
      }
  }
}

bool prepara(const orienta_transformacion& t, const double* cov, Plan& p) {
  const orienta_modelo_info* m = orienta_modelo(t.modelo);
  p.d = t.dim;
  p.u = m->num_parametros;
  p.L = t.modelo == ORIENTA_POLI2D_2 || t.modelo == ORIENTA_POLI2D_3 ? 1 + m->num_terminos : 1 + t.dim;
  p.entradas = p.d * (p.d + 1) / 2;
  for (int k = 0; k < p.u * p.u; ++k)
    if (!std::isfinite(cov[k])) return false;
  double B[kMaxTerminos][3][ORIENTA_MAX_PARAMETROS];
  jacobianos(t, p.L, B);
  // BS_i = B_i·Σθ (d × u), then K_ij = BS_i·B_jᵀ.
  double BS[kMaxTerminos][3][ORIENTA_MAX_PARAMETROS];
  for (int i = 0; i < p.L; ++i)
    for (int a = 0; a < p.d; ++a)
      for (int c = 0; c < p.u; ++c) {
        double s = 0.0;
        for (int b = 0; b < p.u; ++b) s += B[i][a][b] * cov[b * p.u + c];
        BS[i][a][c] = s;
      }
  auto K = [&](int i, int j, int a, int b) {
    double s = 0.0;
    for (int c = 0; c < p.u; ++c) s += BS[i][a][c] * B[j][b][c];
    return s;
  };
  int par = 0;
  for (int i = 0; i < p.L; ++i)
    for (int j = i; j < p.L; ++j, ++par) {
      int e = 0;
      for (int a = 0; a < p.d; ++a)
        for (int b = a; b < p.d; ++b, ++e) p.S[par][e] = i == j ? K(i, i, a, b) : K(i, j, a, b) + K(j, i, a, b);
    }
  return true;
}

// ∂y/∂x at p: the linear part, plus for the polynomials the derivatives of their higher terms.
void jacobiano_punto(const orienta_transformacion& t, const double* p, double J[3][3]) {
  for (int a = 0; a < t.dim; ++a)
    for (int b = 0; b < t.dim; ++b) J[a][b] = t.matriz[3 * a + b];
  if (t.modelo != ORIENTA_POLI2D_2 && t.modelo != ORIENTA_POLI2D_3) return;
  const double x = p[0] - t.centro_origen[0], y = p[1] - t.centro_origen[1];
  // d/dx and d/dy of dx², dx·dy, dy², dx³, dx²·dy, dx·dy², dy³.
  const double ddx[7] = {2 * x, y, 0, 3 * x * x, 2 * x * y, y * y, 0};
  const double ddy[7] = {0, x, 2 * y, 0, x * x, 2 * x * y, 3 * y * y};
  const int k = orienta_modelo(t.modelo)->num_terminos - 2;
  for (int i = 0; i < k; ++i) {
    J[0][0] += t.coef_x[2 + i] * ddx[i], J[0][1] += t.coef_x[2 + i] * ddy[i];
    J[1][0] += t.coef_y[2 + i] * ddx[i], J[1][1] += t.coef_y[2 + i] * ddy[i];
  }
}

// One pass over the points with the sizes fixed, so that the sum over the pairs of terms unrolls:
// for each point its terms τ, then every entry of the upper triangle as Σ τ_i·τ_j·S_ij.
// Left scalar on purpose: vectorised, the loop loads pairs of terms just stored one by one and
// waits for every such store (about 4× slower in 2D, where it matters most; 3D loses a little).
#if defined(__GNUC__) && !defined(__clang__)
#  define ORIENTA_SIN_VECTORES __attribute__((optimize("no-tree-vectorize")))
#else
#  define ORIENTA_SIN_VECTORES
#endif

template <int D, int L>
ORIENTA_SIN_VECTORES void covarianzas(const orienta_transformacion& t, const Plan& p, const unsigned char* e, int64_t pe,
                 const unsigned char* ce, int64_t pce, unsigned char* cs, int64_t pcs, uint64_t n) {
  constexpr int kEntradas = D * (D + 1) / 2, kAncho = kEntradas, kPares = L * (L + 1) / 2;
  double S[kPares][kAncho] = {};
  for (int par = 0; par < kPares; ++par)
    for (int q = 0; q < kEntradas; ++q) S[par][q] = p.S[par][q];
  const double* c0 = t.centro_origen;
  for (uint64_t k = 0; k < n; ++k) {
    const double* x = reinterpret_cast<const double*>(e + int64_t(k) * pe);
    double tau[L];
    tau[0] = 1.0;
    if constexpr (L == D + 1) {
      for (int i = 0; i < D; ++i) tau[1 + i] = x[i] - c0[i];
    } else {
      const double dx = x[0] - c0[0], dy = x[1] - c0[1];
      const double todos[kMaxTerminos] = {1.0, dx, dy, dx * dx, dx * dy, dy * dy, dx * dx * dx, dx * dx * dy,
                                          dx * dy * dy, dy * dy * dy};
      for (int i = 1; i < L; ++i) tau[i] = todos[i];
    }
    double C[kAncho] = {};
    int par = 0;
    for (int i = 0; i < L; ++i)
      for (int j = i; j < L; ++j, ++par) {
        const double f = tau[i] * tau[j];
        for (int q = 0; q < kAncho; ++q) C[q] += f * S[par][q];
      }
    if (ce) {
      double J[3][3] = {}, Sx[3][3] = {}, punto[3] = {0, 0, 0};
      for (int i = 0; i < D; ++i) punto[i] = x[i];
      jacobiano_punto(t, punto, J);
      const double* s = reinterpret_cast<const double*>(ce + int64_t(k) * pce);
      for (int a = 0; a < D; ++a)
        for (int b = 0; b < D; ++b) Sx[a][b] = s[a * D + b];
      int q = 0;
      for (int a = 0; a < D; ++a)
        for (int b = a; b < D; ++b, ++q) {
          double r = 0.0;
          for (int i = 0; i < D; ++i)
            for (int j = 0; j < D; ++j) r += J[a][i] * Sx[i][j] * J[b][j];
          C[q] += r;
        }
    }
    double* c = reinterpret_cast<double*>(cs + int64_t(k) * pcs);
    int q = 0;
    for (int a = 0; a < D; ++a)
      for (int b = a; b < D; ++b, ++q) c[a * D + b] = c[b * D + a] = C[q];
  }
}

bool alineado(const void* p, int64_t paso) {
  return reinterpret_cast<uintptr_t>(p) % alignof(double) == 0 && paso % int64_t(sizeof(double)) == 0;
}

}  // namespace

extern "C" int64_t orienta_aplica_precision(const orienta_transformacion* t, const double* cov_parametros,
                                            const double* entrada, int64_t paso_entrada, const double* cov_entrada,
                                            int64_t paso_cov_entrada, double* salida, int64_t paso_salida,
                                            double* cov_salida, int64_t paso_cov_salida, uint64_t n, uint8_t* fallo) {
  if (!t || !cov_parametros) return ORIENTA_E_ARGUMENTO;
  if (const int32_t st = orienta_valida(t, nullptr); st != ORIENTA_OK) return st;
  if (n > 0 && (!entrada || !salida || !cov_salida)) return ORIENTA_E_ARGUMENTO;
  if (n > 0 && (!alineado(entrada, paso_entrada) || !alineado(salida, paso_salida) ||
                !alineado(cov_salida, paso_cov_salida) || (cov_entrada && !alineado(cov_entrada, paso_cov_entrada))))
    return ORIENTA_E_ARGUMENTO;
  Plan p;
  if (!prepara(*t, cov_parametros, p)) return ORIENTA_E_REG_NO_FINITO;
  const int d = p.d;
  const auto* e = reinterpret_cast<const unsigned char*>(entrada);
  const auto* ce = reinterpret_cast<const unsigned char*>(cov_entrada);
  auto* cs = reinterpret_cast<unsigned char*>(cov_salida);
  // The covariances first: they read the points, which the images may overwrite in place.
  if (t->modelo == ORIENTA_POLI2D_3)
    covarianzas<2, 10>(*t, p, e, paso_entrada, ce, paso_cov_entrada, cs, paso_cov_salida, n);
  else if (t->modelo == ORIENTA_POLI2D_2)
    covarianzas<2, 6>(*t, p, e, paso_entrada, ce, paso_cov_entrada, cs, paso_cov_salida, n);
  else if (d == 3)
    covarianzas<3, 4>(*t, p, e, paso_entrada, ce, paso_cov_entrada, cs, paso_cov_salida, n);
  else
    covarianzas<2, 3>(*t, p, e, paso_entrada, ce, paso_cov_entrada, cs, paso_cov_salida, n);
  const int64_t malos = orienta_aplica(t, 0, entrada, paso_entrada, salida, paso_salida, n, fallo);
  if (malos > 0)
    for (uint64_t k = 0; k < n; ++k) {
      const double* y = reinterpret_cast<const double*>(reinterpret_cast<const unsigned char*>(salida) +
                                                        int64_t(k) * paso_salida);
      if (!std::isnan(y[0])) continue;
      double* c = reinterpret_cast<double*>(cs + int64_t(k) * paso_cov_salida);
      std::fill(c, c + size_t(d) * size_t(d), std::numeric_limits<double>::quiet_NaN());
    }
  return malos;
}
