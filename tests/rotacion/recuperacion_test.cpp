#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <array>
#include <random>
#include <vector>

#include "orienta.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kMedioPi = 1.5707963267948966;
constexpr double kVuelta = 6.283185307179597;

void matriz_omega_phi_kappa(double omega, double phi, double kappa, double* M) {
  const SenosCosenos sc = {{std::sin(omega), std::cos(omega), std::sin(phi), std::cos(phi),
                            std::sin(kappa), std::cos(kappa)}};
  MatrizRotGT_ωφκ(&sc, M);
}

// Distance between two angles modulo a turn.
double distancia_angular(double a, double b) { return std::fabs(std::remainder(a - b, 2 * kPi)); }

TEST(RecuperacionTest, AnglesComeBackAcrossTheWholeRange) {
  // φ on both sides of |m6| = 0.9 (the branch switch) and up to a hair from ±π/2.
  const double borde = std::asin(0.9);
  const double phis[] = {-kMedioPi + 1e-7, -1.4, -borde - 1e-9, -borde + 1e-9, -0.5, 0, 0.2,
                         borde - 1e-9, borde + 1e-9, 1.4, kMedioPi - 1e-7};
  const double otros[] = {-kPi + 1e-12, -2.5, -0.3, 0, 0.7, 3.0, kPi};
  for (double phi : phis)
    for (double omega : otros)
      for (double kappa : otros) {
        SCOPED_TRACE(::testing::Message() << omega << ", " << phi << ", " << kappa);
        double M[9];
        matriz_omega_phi_kappa(omega, phi, kappa, M);
        const Terna r = Gmatriz_ωφκ_seg(M);
        // ω and κ are read from entries of size cos φ carrying rounding of size 1e-16, so their
        // error grows as 1/cos φ; φ itself stays well conditioned in both branches.
        const double tol = 1e-14 / std::cos(phi);
        EXPECT_NEAR(r.v[1], phi, 1e-14);
        EXPECT_LT(distancia_angular(r.v[0], omega), tol);
        EXPECT_LT(distancia_angular(r.v[2], kappa), tol);
        // One wrap with the long turn can leave a value just below −π, never at or above π.
        for (double a : {r.v[0], r.v[2]}) {
          EXPECT_GE(a, kPi - kVuelta);
          EXPECT_LT(a, kPi + 1e-15);
        }
      }
}

TEST(RecuperacionTest, GimbalLockPutsTheDefinedCombinationInKappa) {
  struct Caso { double s_phi, omega, kappa, phi, kappa_esperado; };
  // φ = ±π/2 with sin/cos given exactly, so m0 = m3 = m7 = m8 = 0.
  const Caso casos[] = {{1, 0.4, 1.1, kMedioPi, 1.1 - 0.4}, {-1, 0.4, 1.1, -kMedioPi, 1.1 + 0.4}};
  for (const Caso& c : casos) {
    const SenosCosenos sc = {{std::sin(c.omega), std::cos(c.omega), c.s_phi, 0,
                              std::sin(c.kappa), std::cos(c.kappa)}};
    double M[9];
    MatrizRotGT_ωφκ(&sc, M);
    const Terna r = Gmatriz_ωφκ_seg(M);
    EXPECT_EQ(r.v[0], 0.0);
    EXPECT_EQ(r.v[1], c.phi);
    EXPECT_NEAR(r.v[2], c.kappa_esperado, 1e-15);
  }
}

TEST(RecuperacionTest, NearGimbalWrapOfPiLandsJustBelowMinusPi) {
  // κ = π, ω = 0, sin φ = 0.95: a = π, b = 0, d = π, so κ is exactly π before its one wrap.
  const double c_phi = std::sqrt(1 - 0.95 * 0.95);
  const SenosCosenos sc = {{0, 1, 0.95, c_phi, 0, -1}};
  double M[9];
  MatrizRotGT_ωφκ(&sc, M);
  const Terna r = Gmatriz_ωφκ_seg(M);
  EXPECT_EQ(r.v[2], kPi - kVuelta);
  EXPECT_LT(r.v[2], -kPi);
  EXPECT_EQ(r.v[0], 0.0);
}

double norma(const double* v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// Nudges a type-24 vector into |v|² ≤ 4 when rounding put it just outside (NaN otherwise).
void en_rango_24(double* v) {
  while ((v[1] * v[1] + v[0] * v[0]) + v[2] * v[2] > 4)
    for (int i = 0; i < 3; ++i) v[i] = v[i] * (1 - 0x1p-52);
}

void reconstruye_24(const Terna& t, double* M) {
  double v[3] = {t.v[0], t.v[1], t.v[2]};
  en_rango_24(v);
  MatrizRot_24(v, M);
}

// Oblique unit axes with every component at least 0.2 in size and mixed signs, so each
// component's magnitude is well determined by the diagonal.
std::vector<std::array<double, 3>> ejes_oblicuos() {
  std::mt19937_64 gen(24);
  std::uniform_real_distribution<double> u(0.2, 1.0);
  std::vector<std::array<double, 3>> ejes = {{1 / std::sqrt(2.0), -1 / std::sqrt(2.0), 0}};
  while (ejes.size() < 40) {
    double n[3] = {u(gen) * (gen() & 1 ? 1 : -1), u(gen) * (gen() & 1 ? 1 : -1),
                   u(gen) * (gen() & 1 ? 1 : -1)};
    const double l = norma(n);
    if (std::fabs(n[0]) / l < 0.2 || std::fabs(n[1]) / l < 0.2 || std::fabs(n[2]) / l < 0.2) continue;
    ejes.push_back({n[0] / l, n[1] / l, n[2] / l});
  }
  return ejes;
}

TEST(RecuperacionTest, Type24VectorComesBackOnBothBranches) {
  // θ = 2.6906 is where the trace crosses −0.8; the angles straddle it and run up to π.
  // Closer to π than about 1e-7, 2·sin(θ/2) rounds to 2 and the matrix is a half turn, whose
  // vector is defined only up to sign (see the next test).
  const double thetas[] = {0.1, 1.5, 2.69, 2.6906, 2.6907, 2.75, 3.0, kPi - 1e-3, kPi - 1e-6};
  for (const auto& n : ejes_oblicuos())
    for (double theta : thetas) {
      SCOPED_TRACE(::testing::Message() << n[0] << ", " << n[1] << ", " << n[2] << " by " << theta);
      const double m = 2 * std::sin(theta * 0.5);
      double p[3] = {m * n[0], m * n[1], m * n[2]}, M[9];
      en_rango_24(p);
      const double esperado[3] = {p[0], p[1], p[2]};
      MatrizRot_24(p, M);
      const Terna v = Gmatriz_24_seg(M);
      // Components of size ≥ 0.2·m come from a square root or a ratio of entries carrying
      // rounding of size 1e-16: a few dozen units in the last place.
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(v.v[i], esperado[i], 1e-14) << "component " << i;
    }
}

TEST(RecuperacionTest, HalfTurnVectorRebuildsItsMatrix) {
  for (const auto& n : ejes_oblicuos()) {
    SCOPED_TRACE(::testing::Message() << n[0] << ", " << n[1] << ", " << n[2]);
    // 2·n·nᵀ − I, one rounding away from the exact half turn, and MatrizRot_24 of 2·n, whose
    // antisymmetric part is rounding noise. The vector's sign is free; the rotation is not.
    // Within rounding of |v| = 2 the scalar part √(1 − |v|²/4) is only known to about √ε, so the
    // rebuilt matrix agrees to 1e-7; a wrong sign would be off by order 1.
    const double tol = 1e-7;
    double M[9], R[9], p[3] = {2 * n[0], 2 * n[1], 2 * n[2]};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) M[3 * i + j] = 2 * n[i] * n[j] - (i == j ? 1 : 0);
    reconstruye_24(Gmatriz_24_seg(M), R);
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(R[k], M[k], tol) << "element " << k;
    en_rango_24(p);
    MatrizRot_24(p, M);
    reconstruye_24(Gmatriz_24_seg(M), R);
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(R[k], M[k], tol) << "element " << k;
  }
  // The exact half turn about (1, −1, 0)/√2: the antisymmetric part is exactly 0.
  const double M[9] = {0, -1, 0, -1, 0, 0, 0, 0, -1};
  const Terna v = Gmatriz_24_seg(M);
  EXPECT_EQ(v.v[0], std::sqrt(2.0));
  EXPECT_EQ(v.v[1], -std::sqrt(2.0));
  EXPECT_EQ(v.v[2], 0.0);
}

TEST(RecuperacionTest, Type24ExactCases) {
  struct Caso { const char* nombre; double M[9]; double v[3]; };
  const Caso casos[] = {
      {"identity", {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}},
      {"half turn about x", {1, 0, 0, 0, -1, 0, 0, 0, -1}, {2, 0, 0}},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    const Terna v = Gmatriz_24_seg(c.M);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(v.v[i], c.v[i]);
  }
  // Trace exactly −0.8 takes the diagonal branch, which reads these (non-rotation) matrices as
  // non-zero vectors; one step above, the trace branch sees no antisymmetric part and gives 0.
  const double umbral[9] = {-0.8, 0, 0, 0, 0, 0, 0, 0, 0};
  const double encima[9] = {std::nextafter(-0.8, 0.0), 0, 0, 0, 0, 0, 0, 0, 0};
  for (double x : Gmatriz_24_seg(umbral).v) EXPECT_GT(x, 0.4);
  for (double x : Gmatriz_24_seg(encima).v) EXPECT_EQ(x, 0.0);
}

// Recovery functions of the caller's own: a plain forwarder, and one that keeps what it was given.
Terna reenvia(const double* M) { return Gmatriz_ωφκ_seg(M); }
double g_vista[9];
Terna registra(const double* M) {
  std::memcpy(g_vista, M, sizeof g_vista);
  return Gmatriz_24_seg(M);
}

TEST(RecuperacionTest, OffsetCodesForQuarterAndHalfTurns) {
  struct Caso { const char* nombre; double M[9]; uint32_t codigo; };
  const Caso casos[] = {
      {"identity", {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0},
      {"Rz(π/2)", {0, -1, 0, 1, 0, 0, 0, 0, 1}, 1},
      {"Rz(π)", {-1, 0, 0, 0, -1, 0, 0, 0, 1}, 2},
      {"Rz(−π/2)", {0, 1, 0, -1, 0, 0, 0, 0, 1}, 3},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    for (uint32_t basura : {0u, 0xFFFFFFFFu}) {  // the slot is written, never read
      uint32_t codigo = basura;
      const Terna v = Getoffset_matriz(c.M, Gmatriz_24_seg, &codigo);
      EXPECT_EQ(codigo, c.codigo);
      for (double x : v.v) EXPECT_EQ(x, 0.0);
      codigo = basura;
      const Terna a = Getoffset_matriz(c.M, Gmatriz_ωφκ_seg, &codigo);
      EXPECT_EQ(codigo, c.codigo);
      for (double x : a.v) EXPECT_NEAR(x, 0.0, 1e-15);  // Rz(π) carries no rounding: κ − π = 0
    }
  }
}

TEST(RecuperacionTest, OwnFunctionHalfTurnComesOffTheAngles) {
  double M[9];
  matriz_omega_phi_kappa(0.1, 0.2, 2.5, M);
  uint32_t codigo = 7;
  const Terna a = Getoffset_matriz(M, Gmatriz_ωφκ_seg, &codigo);
  EXPECT_EQ(codigo, 2u);
  const double esperado[3] = {-0.1, -0.2, 2.5 - kPi};
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(a.v[i], esperado[i], 1e-15);

  // A forwarder has another address, so the half turn comes off the matrix instead: the same
  // angles up to rounding, by the other road.
  codigo = 7;
  const Terna b = Getoffset_matriz(M, reenvia, &codigo);
  EXPECT_EQ(codigo, 2u);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(b.v[i], esperado[i], 1e-15);
}

TEST(RecuperacionTest, OtherFunctionsSeeTheTurnedMatrix) {
  double M[9];
  matriz_omega_phi_kappa(0.1, 0.2, 2.5, M);
  uint32_t codigo = 0;
  Getoffset_matriz(M, registra, &codigo);
  EXPECT_EQ(codigo, 2u);
  // M·Rz(π): first and second columns negated.
  const double esperada[9] = {-M[0], -M[1], M[2], -M[3], -M[4], M[5], -M[6], -M[7], M[8]};
  EXPECT_EQ(0, std::memcmp(g_vista, esperada, sizeof esperada));
}

TEST(RecuperacionTest, NullRecoveryStoresTheCodeAndReturnsNaN) {
  const double cuarto[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1}, identidad[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  uint32_t codigo = 9;
  Terna r = Getoffset_matriz(cuarto, nullptr, &codigo);
  EXPECT_EQ(codigo, 1u);
  for (double x : r.v) EXPECT_TRUE(std::isnan(x));
  r = Getoffset_matriz(identidad, nullptr, &codigo);
  EXPECT_EQ(codigo, 0u);
  for (double x : r.v) EXPECT_TRUE(std::isnan(x));
}

}  // namespace
