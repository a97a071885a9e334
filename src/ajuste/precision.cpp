// The precision of transformed points: the covariance of y = f(θ, x) propagated from the fit's
// parameter covariance Σθ (and the point's own Σx where given), J_θ·Σθ·J_θᵀ + J_x·Σx·J_xᵀ.
//
// For every model J_θ is linear in a short vector of terms of the centred point d = x − c_o:
// τ = (1, d) for the similarities and the affine, (1, dx, dy, dx², …) for the polynomials. With
// J_θ = Σ_i τ_i·B_i the covariance is Σ_{i,j} τ_i·τ_j·(B_i·Σθ·B_jᵀ): the small matrices in the
// parentheses are formed once, and each entry of a point's covariance is a polynomial in d with
// those fixed coefficients. Centring keeps the terms small, so that near the centroid the sum does
// not cancel the large variances of the translation at the origin against those of the angles.
//
// Each entry is evaluated in a nested (Horner) form in d rather than as one product per pair of
// terms. For the linear terms that is S_00 + Σ_i d_i·(S_0i + Σ_{j≥i} d_j·S_ij): in 3D 9 products
// an entry, where the pair sum took 10 an entry plus 10 for the pairs' τ_i·τ_j. The polynomials'
// pairs that give one monomial (dx·dx·dy and dx²·dy) are merged first, which leaves 28
// coefficients of a degree-6 polynomial in (dx, dy) for the cubic instead of 55 pairs, then Horner
// in dx over Horner polynomials in dy. Both only regroup the same small terms of the centred point,
// so the result stays accurate to rounding; neither reproduces the pair sum's bits.
//
// The points go through in lanes, one point per lane of a vector of doubles: two lanes in the
// portable kernel, four in the AVX2 one. Both run the same arithmetic over the vector type, so each
// lane does the scalar operations of its point in the same order and both give the same bits; the
// last few points fill a whole vector by repeating the last one.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "ajuste/registro.hpp"
#include "anchos/despacho.hpp"
#include "anchos/vectores.hpp"
#include "orienta_ajuste.h"

namespace {

using orienta::interno::con_nucleos;
using orienta::interno::NucleoPortable;
#if ORIENTA_AVX2
using orienta::interno::NucleoAvx2;
#endif

constexpr int kMaxTerminos = 10;  // 1 and the nine terms of a cubic
constexpr int kMaxPares = kMaxTerminos * (kMaxTerminos + 1) / 2;
constexpr int kMaxMonomios = 28;  // degree ≤ 6 in two variables: the products of two cubic terms

// The exponents of dx and dy in each term of the polynomials, in coef_x's order.
constexpr int kGradoX[kMaxTerminos] = {0, 1, 0, 2, 1, 0, 3, 2, 1, 0};
constexpr int kGradoY[kMaxTerminos] = {0, 0, 1, 0, 1, 2, 0, 1, 2, 3};

// The pair (i ≤ j) of L terms as numbered by the loops over i, then j ≥ i.
constexpr int par(int L, int i, int j) { return i * L - i * (i - 1) / 2 + (j - i); }

// The monomial dx^a·dy^b of a polynomial of degree g, numbered by a, then b ≤ g − a.
constexpr int monomio(int g, int a, int b) { return a * (g + 1) - a * (a - 1) / 2 + b; }

struct Plan {
  int d = 0, u = 0, L = 0, entradas = 0;
  double S[kMaxPares][6] = {};     // per pair of terms i ≤ j: the upper triangle of K_ij (+ K_ji)
  double P[kMaxMonomios][3] = {};  // polynomials: per monomial of d, the sum of its pairs' S
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
  int n = 0;
  for (int i = 0; i < p.L; ++i)
    for (int j = i; j < p.L; ++j, ++n) {
      int e = 0;
      for (int a = 0; a < p.d; ++a)
        for (int b = a; b < p.d; ++b, ++e) p.S[n][e] = i == j ? K(i, i, a, b) : K(i, j, a, b) + K(j, i, a, b);
    }
  if (p.L > t.dim + 1) {
    // τ_i·τ_j = dx^(a_i + a_j)·dy^(b_i + b_j): the pairs of one monomial share its coefficient.
    const int grado = 2 * (kGradoX[p.L - 1] + kGradoY[p.L - 1]);
    for (int i = 0; i < p.L; ++i)
      for (int j = i; j < p.L; ++j) {
        const int k = monomio(grado, kGradoX[i] + kGradoX[j], kGradoY[i] + kGradoY[j]);
        for (int e = 0; e < p.entradas; ++e) p.P[k][e] += p.S[par(p.L, i, j)][e];
      }
  }
  return true;
}

// The vector kernels. A vector holds one point per lane (GCC's and clang's vector extension). The
// arithmetic is one template over the vector type, forced inline into each kernel: it never exists
// as a function of its own, built for the portable instruction set, so the AVX2 kernel gets it in
// whole 256-bit registers, and no copy built for one set is ever called by the other. Only the
// loads and stores differ between the kernels, and those move values without rounding them.
#define ORIENTA_EN_LINEA inline __attribute__((always_inline))

using Dos = double __attribute__((vector_size(16)));

template <class V>
constexpr int kCarriles = int(sizeof(V) / sizeof(double));

template <class V>
ORIENTA_EN_LINEA void difunde(double x, V& v) {
  for (int l = 0; l < kCarriles<V>; ++l) v[l] = x;
}

// The coefficients of one model's entries, each a whole vector of one value, formed once per call.
// G = 0: the linear terms (1, d) of D coordinates; G = 2, 3: the polynomial of that order.
template <class V, int D, int G>
struct Coeficientes {
  static constexpr int kEntradas = D * (D + 1) / 2;
  static constexpr int kGrado = 2 * G;  // of the entries, as polynomials of (dx, dy)
  static constexpr int kNumero = G == 0 ? (D + 1) * (D + 2) / 2 : (kGrado + 1) * (kGrado + 2) / 2;
  static constexpr int kDerivadas = G == 3 ? 7 : 3;  // the terms above the linear ones
  V k[kEntradas][kNumero];
  V c0[D], m[D][D];
  V cx[kDerivadas], cy[kDerivadas];
};

template <class V, int D, int G>
ORIENTA_EN_LINEA void llena(const orienta_transformacion& t, const Plan& p, Coeficientes<V, D, G>& k) {
  using C = Coeficientes<V, D, G>;
  for (int q = 0; q < C::kEntradas; ++q)
    for (int i = 0; i < C::kNumero; ++i) difunde(G == 0 ? p.S[i][q] : p.P[i][q], k.k[q][i]);
  for (int a = 0; a < D; ++a) {
    difunde(t.centro_origen[a], k.c0[a]);
    for (int b = 0; b < D; ++b) difunde(t.matriz[3 * a + b], k.m[a][b]);
  }
  for (int i = 0; i < C::kDerivadas; ++i) {
    difunde(G == 0 ? 0.0 : t.coef_x[2 + i], k.cx[i]);
    difunde(G == 0 ? 0.0 : t.coef_y[2 + i], k.cy[i]);
  }
}

// ∂y/∂x at the centred points (dx, dy) of the polynomials: the linear part plus the derivatives of
// dx², dx·dy, dy², dx³, dx²·dy, dx·dy², dy³ (the zero ones left out).
template <class V, int G>
ORIENTA_EN_LINEA void jacobiano_polinomio(const Coeficientes<V, 2, G>& k, const V& x, const V& y, V (&J)[2][2]) {
  const V x2 = x + x, y2 = y + y;
  const V* c[2] = {k.cx, k.cy};
  for (int a = 0; a < 2; ++a) {
    const V* f = c[a];
    V jx = k.m[a][0] + f[0] * x2 + f[1] * y, jy = k.m[a][1] + f[1] * x + f[2] * y2;
    if constexpr (G == 3) {
      const V xx = x * x, xy = x * y, yy = y * y;
      jx = jx + f[3] * (xx + xx + xx) + f[4] * (xy + xy) + f[5] * yy;
      jy = jy + f[4] * xx + f[5] * (xy + xy) + f[6] * (yy + yy + yy);
    }
    J[a][0] = jx, J[a][1] = jy;
  }
}

// The upper triangle by rows, e, of the covariances of the points x (one per lane), with their own
// covariances Sx where kX.
template <class V, int D, int G, bool kX>
ORIENTA_EN_LINEA void entradas(const Coeficientes<V, D, G>& k, const V (&x)[D], const V (&Sx)[D][D],
                               V (&e)[D * (D + 1) / 2]) {
  using C = Coeficientes<V, D, G>;
  V d[D];
  for (int i = 0; i < D; ++i) d[i] = x[i] - k.c0[i];
  for (int q = 0; q < C::kEntradas; ++q) {
    const V* S = k.k[q];
    if constexpr (G == 0) {
      // S_00 + Σ_i d_i·(S_0i + Σ_{j≥i} d_j·S_ij), the terms numbered from 1 for d.
      V r = S[par(D + 1, 0, 0)];
      for (int i = 1; i <= D; ++i) {
        V a = S[par(D + 1, 0, i)] + d[i - 1] * S[par(D + 1, i, i)];
        for (int j = i + 1; j <= D; ++j) a = a + d[j - 1] * S[par(D + 1, i, j)];
        r = r + d[i - 1] * a;
      }
      e[q] = r;
    } else {
      // Horner in dx, from its highest power, over Horner polynomials in dy.
      constexpr int g = C::kGrado;
      V r = S[monomio(g, g, 0)];
      for (int a = g - 1; a >= 0; --a) {
        V h = S[monomio(g, a, g - a)];
        for (int b = g - a - 1; b >= 0; --b) h = S[monomio(g, a, b)] + d[1] * h;
        r = h + d[0] * r;
      }
      e[q] = r;
    }
  }
  if constexpr (kX) {
    // + J·Σx·Jᵀ: W = Σx·Jᵀ, then row a of J times column b of W.
    V J[D][D], W[D][D];
    if constexpr (G == 0) {
      for (int a = 0; a < D; ++a)
        for (int b = 0; b < D; ++b) J[a][b] = k.m[a][b];
    } else {
      jacobiano_polinomio<V, G>(k, d[0], d[1], J);
    }
    for (int i = 0; i < D; ++i)
      for (int b = 0; b < D; ++b) {
        V w = Sx[i][0] * J[b][0];
        for (int j = 1; j < D; ++j) w = w + Sx[i][j] * J[b][j];
        W[i][b] = w;
      }
    int q = 0;
    for (int a = 0; a < D; ++a)
      for (int b = a; b < D; ++b, ++q) {
        V r = J[a][0] * W[0][b];
        for (int i = 1; i < D; ++i) r = r + J[a][i] * W[i][b];
        e[q] = e[q] + r;
      }
  }
}

// The arrays of one call: points, their covariances (or null), the covariances written.
struct Flujo {
  const unsigned char* e;
  int64_t pe;
  const unsigned char* ce;
  int64_t pce;
  unsigned char* cs;
  int64_t pcs;
  uint64_t n;
};

template <class T>
ORIENTA_EN_LINEA T* registro(T* base, uint64_t k, int64_t paso) {
  return base + int64_t(k) * paso;
}

// The last points of a pass, fewer than a vector: copied into whole records of N points that
// repeat the last one, and their covariances written here, then copied out point by point.
template <int N, int D, bool kX>
struct Resto {
  double puntos[N][D] = {}, propias[N][D * D] = {}, cov[N][D * D] = {};
  static constexpr int64_t kPaso = int64_t(sizeof(double)) * D, kPasoCov = kPaso * D;

  Resto(const Flujo& f, uint64_t i) {
    for (int l = 0; l < N; ++l) {
      const uint64_t j = std::min(i + uint64_t(l), f.n - 1);
      std::memcpy(puntos[l], registro(f.e, j, f.pe), sizeof(puntos[l]));
      if (kX) std::memcpy(propias[l], registro(f.ce, j, f.pce), sizeof(propias[l]));
    }
  }
  const unsigned char* e() const { return reinterpret_cast<const unsigned char*>(puntos); }
  const unsigned char* ce() const { return reinterpret_cast<const unsigned char*>(propias); }
  unsigned char* cs() { return reinterpret_cast<unsigned char*>(cov); }
  void copia(const Flujo& f, uint64_t i) const {
    for (int l = 0; i + uint64_t(l) < f.n; ++l)
      std::memcpy(registro(f.cs, i + uint64_t(l), f.pcs), cov[l], sizeof(cov[l]));
  }
};

// The portable kernel: two points per vector, gathered and scattered element by element (two
// scalar loads make a vector of two; each entry is stored on its own, mirrored).
template <int D, int G, bool kX>
ORIENTA_EN_LINEA void bloque(NucleoPortable /*unused*/, const Coeficientes<Dos, D, G>& k, const unsigned char* e,
                             int64_t pe, const unsigned char* ce, int64_t pce, unsigned char* cs, int64_t pcs) {
  const auto* p0 = reinterpret_cast<const double*>(e);
  const auto* p1 = reinterpret_cast<const double*>(e + pe);
  Dos x[D], Sx[D][D] = {}, c[D * (D + 1) / 2];
  for (int i = 0; i < D; ++i) x[i] = Dos{p0[i], p1[i]};
  if constexpr (kX) {
    const auto* s0 = reinterpret_cast<const double*>(ce);
    const auto* s1 = reinterpret_cast<const double*>(ce + pce);
    for (int i = 0; i < D; ++i)
      for (int j = 0; j < D; ++j) Sx[i][j] = Dos{s0[i * D + j], s1[i * D + j]};
  }
  entradas<Dos, D, G, kX>(k, x, Sx, c);
  // By rows, the upper triangle mirrored.
  double* q[2] = {reinterpret_cast<double*>(cs), reinterpret_cast<double*>(cs + pcs)};
  for (int l = 0; l < 2; ++l) {
    int r = 0;
    for (int a = 0; a < D; ++a)
      for (int b = a; b < D; ++b, ++r) q[l][a * D + b] = q[l][b * D + a] = c[r][l];
  }
}

template <int D, int G, bool kX>
void recorre(NucleoPortable nucleo, const orienta_transformacion& t, const Plan& p, const Flujo& f) {
  Coeficientes<Dos, D, G> k;
  llena(t, p, k);
  uint64_t i = 0;
  for (; f.n - i >= 2; i += 2)
    bloque<D, G, kX>(nucleo, k, registro(f.e, i, f.pe), f.pe, kX ? registro(f.ce, i, f.pce) : nullptr, f.pce,
                     registro(f.cs, i, f.pcs), f.pcs);
  if (i == f.n) return;
  Resto<2, D, kX> r(f, i);
  bloque<D, G, kX>(nucleo, k, r.e(), r.kPaso, r.ce(), r.kPasoCov, r.cs(), r.kPasoCov);
  r.copia(f, i);
}

#if ORIENTA_AVX2
// The AVX2 kernel: four points per vector, moved in and out by transposes of whole registers.
// Gathered element by element through the vector extension, as the portable kernel does, GCC
// builds each vector in memory from four scalar stores and reloads it whole, which waits for every
// one of them; the loads and stores here are the intrinsics' own.
using Cuatro = double __attribute__((vector_size(32)));

// Doubles desde … desde + 3 of four records, one record per lane.
ORIENTA_CON_AVX2 ORIENTA_EN_LINEA void cuatro_de_cuatro(const unsigned char* b, int64_t paso, int desde,
                                                        __m256d (&v)[4]) {
  for (int l = 0; l < 4; ++l) v[l] = _mm256_loadu_pd(reinterpret_cast<const double*>(b + l * paso) + desde);
  orienta::interno::traspone(v);
}

ORIENTA_CON_AVX2 ORIENTA_EN_LINEA __m256d uno_de_cuatro(const unsigned char* b, int64_t paso, int i) {
  auto p = [&](int l) { return reinterpret_cast<const double*>(b + l * paso); };
  return _mm256_setr_pd(p(0)[i], p(1)[i], p(2)[i], p(3)[i]);
}

template <int D, int G, bool kX>
ORIENTA_CON_AVX2 ORIENTA_EN_LINEA void bloque(NucleoAvx2 /*unused*/, const Coeficientes<Cuatro, D, G>& k,
                                              const unsigned char* e, int64_t pe, const unsigned char* ce, int64_t pce,
                                              unsigned char* cs, int64_t pcs) {
  auto punto = [&](int l) { return reinterpret_cast<const double*>(e + l * pe); };
  __m256d xy[2];
  orienta::interno::xy_de_cuatro(punto(0), punto(1), punto(2), punto(3), xy[0], xy[1]);
  Cuatro x[D], Sx[D][D] = {}, c[D * (D + 1) / 2];
  x[0] = xy[0], x[1] = xy[1];
  if constexpr (D == 3) x[2] = uno_de_cuatro(e, pe, 2);
  if constexpr (kX) {
    // Σx by rows: its first four doubles (all of them in 2D), the next four, the ninth.
    __m256d v[4];
    cuatro_de_cuatro(ce, pce, 0, v);
    for (int r = 0; r < 4; ++r) Sx[r / D][r % D] = v[r];
    if constexpr (D == 3) {
      cuatro_de_cuatro(ce, pce, 4, v);
      for (int r = 4; r < 8; ++r) Sx[r / 3][r % 3] = v[r - 4];
      Sx[2][2] = uno_de_cuatro(ce, pce, 8);
    }
  }
  entradas<Cuatro, D, G, kX>(k, x, Sx, c);
  // By rows, the upper triangle mirrored: (c00 c01 c10 c11) in 2D; (c00 c01 c02 c10), (c11 c12
  // c20 c21) and c22 in 3D; each point's written before the next.
  auto q = [&](int l) { return reinterpret_cast<double*>(cs + l * pcs); };
  if constexpr (D == 2) {
    __m256d v[4] = {c[0], c[1], c[1], c[2]};
    orienta::interno::traspone(v);
    for (int l = 0; l < 4; ++l) _mm256_storeu_pd(q(l), v[l]);
  } else {
    __m256d a[4] = {c[0], c[1], c[2], c[1]}, b[4] = {c[3], c[4], c[2], c[4]};
    orienta::interno::traspone(a);
    orienta::interno::traspone(b);
    const __m128d bajo = _mm256_castpd256_pd128(c[5]), alto = _mm256_extractf128_pd(c[5], 1);
    const __m128d ultimo[4] = {bajo, _mm_unpackhi_pd(bajo, bajo), alto, _mm_unpackhi_pd(alto, alto)};
    for (int l = 0; l < 4; ++l) {
      _mm256_storeu_pd(q(l), a[l]);
      _mm256_storeu_pd(q(l) + 4, b[l]);
      _mm_store_sd(q(l) + 8, ultimo[l]);
    }
  }
}

// The portable pass over again with four lanes: a loop shared by both would be built for the
// portable instruction set, which cannot take the AVX2 block inline.
template <int D, int G, bool kX>
ORIENTA_CON_AVX2 void recorre(NucleoAvx2 nucleo, const orienta_transformacion& t, const Plan& p, const Flujo& f) {
  Coeficientes<Cuatro, D, G> k;
  llena(t, p, k);
  uint64_t i = 0;
  for (; f.n - i >= 4; i += 4)
    bloque<D, G, kX>(nucleo, k, registro(f.e, i, f.pe), f.pe, kX ? registro(f.ce, i, f.pce) : nullptr, f.pce,
                     registro(f.cs, i, f.pcs), f.pcs);
  if (i == f.n) return;
  Resto<4, D, kX> r(f, i);
  bloque<D, G, kX>(nucleo, k, r.e(), r.kPaso, r.ce(), r.kPasoCov, r.cs(), r.kPasoCov);
  r.copia(f, i);
}
#endif

// The kernel of the model, with or without the points' covariances: no test per point.
template <class Nucleo>
void covarianzas(Nucleo nucleo, const orienta_transformacion& t, const Plan& p, const Flujo& f) {
  const bool x = f.ce != nullptr;
  if (t.modelo == ORIENTA_POLI2D_3)
    x ? recorre<2, 3, true>(nucleo, t, p, f) : recorre<2, 3, false>(nucleo, t, p, f);
  else if (t.modelo == ORIENTA_POLI2D_2)
    x ? recorre<2, 2, true>(nucleo, t, p, f) : recorre<2, 2, false>(nucleo, t, p, f);
  else if (t.dim == 3)
    x ? recorre<3, 0, true>(nucleo, t, p, f) : recorre<3, 0, false>(nucleo, t, p, f);
  else
    x ? recorre<2, 0, true>(nucleo, t, p, f) : recorre<2, 0, false>(nucleo, t, p, f);
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
  const size_t d = size_t(p.d);
  auto* cs = reinterpret_cast<unsigned char*>(cov_salida);
  const Flujo f{reinterpret_cast<const unsigned char*>(entrada),
                paso_entrada,
                reinterpret_cast<const unsigned char*>(cov_entrada),
                paso_cov_entrada,
                cs,
                paso_cov_salida,
                n};
  // The covariances first: they read the points, which the images may overwrite in place.
  con_nucleos([&](auto nucleo) { covarianzas(nucleo, *t, p, f); });
  const int64_t malos = orienta_aplica(t, 0, entrada, paso_entrada, salida, paso_salida, n, fallo);
  if (malos > 0)
    for (uint64_t k = 0; k < n; ++k) {
      const auto* y =
          reinterpret_cast<const double*>(registro(reinterpret_cast<const unsigned char*>(salida), k, paso_salida));
      if (!std::isnan(y[0])) continue;
      auto* c = reinterpret_cast<double*>(registro(cs, k, paso_cov_salida));
      std::fill(c, c + d * d, std::numeric_limits<double>::quiet_NaN());
    }
  return malos;
}
