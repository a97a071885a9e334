// Rotation matrices from Euler angles: properties against products of elementary rotations.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>

#include "orienta.h"

namespace {

using Matriz = std::array<double, 9>;

Matriz producto(const Matriz& a, const Matriz& b) {
  Matriz c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) c[3 * i + j] += a[3 * i + k] * b[3 * k + j];
  return c;
}
Matriz rx(double t) { return {1, 0, 0, 0, std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t)}; }
Matriz ry(double t) { return {std::cos(t), 0, std::sin(t), 0, 1, 0, -std::sin(t), 0, std::cos(t)}; }
Matriz rz(double t) { return {std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t), 0, 0, 0, 1}; }

SenosCosenos senos_cosenos(double a0, double a1, double a2) {
  return {{std::sin(a0), std::cos(a0), std::sin(a1), std::cos(a1), std::sin(a2), std::cos(a2)}};
}

void espera_cerca(const double* obtenida, const Matriz& esperada, double tolerancia) {
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(obtenida[k], esperada[k], tolerancia) << "element " << k;
}

// A few entries of each product are sums of three rounded products: 4 ulp of 1 covers them.
constexpr double kTol = 1e-15;

struct Angulos {
  const char* nombre;
  double omega, phi, kappa;
};
const Angulos kAngulos[] = {
    {"zero", 0, 0, 0},
    {"small", 1e-9, -2e-9, 3e-9},
    {"generic", 0.3, -0.7, 2.1},
    {"near gimbal", -1.2, 1.5, -3.0},
    {"quarter turns", 1.5707963267948966, -1.5707963267948966, 3.141592653589793},
    {"outside range", 7.5, -4.0, 12.0},
};

TEST(EulerTest, OmegaPhiKappaIsRzRyRx) {
  for (const Angulos& a : kAngulos) {
    SCOPED_TRACE(a.nombre);
    const SenosCosenos sc = senos_cosenos(a.omega, a.phi, a.kappa);
    Matriz3x3 M;
    MatrizRotGT_ωφκ(&sc, M);
    espera_cerca(M, producto(producto(rz(a.kappa), ry(a.phi)), rx(a.omega)), kTol);
  }
}

TEST(EulerTest, KappaOmegaPhiPairAgreesWithRyRxRz) {
  for (const Angulos& a : kAngulos) {
    SCOPED_TRACE(a.nombre);
    const Matriz esperada = producto(producto(ry(a.phi), rx(a.omega)), rz(a.kappa));
    SenosCosenos sc = senos_cosenos(a.omega, a.phi, a.kappa);
    Matriz3x3 desde_senos, desde_angulos;
    MatrizRotGT_κωφ(&sc, desde_senos);
    double angulos[3] = {a.omega, a.phi, a.kappa};
    MatrizRot_κωφ(angulos, desde_angulos);
    espera_cerca(desde_senos, esperada, kTol);
    espera_cerca(desde_angulos, esperada, kTol);
    // Both leave their input in (κ, ω, φ) order.
    const SenosCosenos reordenado = senos_cosenos(a.kappa, a.omega, a.phi);
    EXPECT_EQ(0, std::memcmp(&sc, &reordenado, sizeof sc));
    EXPECT_EQ(angulos[0], a.kappa);
    EXPECT_EQ(angulos[1], a.omega);
    EXPECT_EQ(angulos[2], a.phi);
  }
}

TEST(EulerTest, ThreeKappaOmegaPhiCallsRestoreTheInput) {
  const SenosCosenos original = senos_cosenos(0.3, -0.7, 2.1);
  SenosCosenos sc = original;
  Matriz3x3 primera, segunda;
  MatrizRotGT_κωφ(&sc, primera);
  MatrizRotGT_κωφ(&sc, segunda);
  EXPECT_NE(0, std::memcmp(primera, segunda, sizeof primera));  // the reordered input is read anew
  MatrizRotGT_κωφ(&sc, segunda);
  EXPECT_EQ(0, std::memcmp(&sc, &original, sizeof sc));

  double angulos[3] = {0.3, -0.7, 2.1};
  for (int i = 0; i < 3; ++i) MatrizRot_κωφ(angulos, primera);
  EXPECT_EQ(angulos[0], 0.3);
  EXPECT_EQ(angulos[1], -0.7);
  EXPECT_EQ(angulos[2], 2.1);
}

TEST(EulerTest, KappaWKappaIsRzRxRz) {
  for (const Angulos& a : kAngulos) {
    SCOPED_TRACE(a.nombre);
    // Slots are (κ₁, w, κ₂).
    const SenosCosenos sc = senos_cosenos(a.omega, a.phi, a.kappa);
    Matriz3x3 M;
    MatrizRotGT_κwκ(&sc, M);
    espera_cerca(M, producto(producto(rz(a.kappa), rx(a.phi)), rz(a.omega)), kTol);
  }
}

TEST(EulerTest, KappaWKappaWithZeroWIsOneTurnAboutZ) {
  SenosCosenos sc = senos_cosenos(0.4, 0.0, 1.1);
  Matriz3x3 M;
  MatrizRotGT_κwκ(&sc, M);
  espera_cerca(M, rz(1.5), kTol);
  // Element 8 is the given cosine itself, unit pair or not.
  sc.v[3] = 0.123456789;
  MatrizRotGT_κwκ(&sc, M);
  EXPECT_EQ(M[8], 0.123456789);
}

TEST(EulerTest, IdentityFromZeroAngles) {
  const double identidad[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  SenosCosenos sc = senos_cosenos(0, 0, 0);
  Matriz3x3 M;
  double angulos[3] = {0, 0, 0};
  MatrizRotGT_ωφκ(&sc, M);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(M[k], identidad[k]);
  MatrizRotGT_κωφ(&sc, M);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(M[k], identidad[k]);
  MatrizRotGT_κwκ(&sc, M);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(M[k], identidad[k]);
  MatrizRot_κωφ(angulos, M);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(M[k], identidad[k]);
}

TEST(EulerTest, GimbalLockDependsOnlyOnOmegaMinusKappa) {
  // φ = π/2 exactly: sin φ = 1, cos φ = 0.
  auto matriz = [](double omega, double kappa) {
    SenosCosenos sc = senos_cosenos(omega, 0, kappa);
    sc.v[2] = 1.0;
    sc.v[3] = 0.0;
    Matriz a;
    MatrizRotGT_ωφκ(&sc, a.data());
    return a;
  };
  const Matriz a = matriz(0.9, 0.4), b = matriz(1.3, 0.8);
  EXPECT_EQ(a[6], -1.0);
  for (int k : {0, 3, 7, 8}) EXPECT_EQ(std::fabs(a[k]), 0.0) << k;
  for (int k : {1, 2, 4, 5}) EXPECT_NEAR(a[k], b[k], kTol) << k;
}

TEST(EulerTest, RandomAnglesGiveRotations) {
  std::mt19937_64 azar(20261206);
  std::uniform_real_distribution<double> angulo(-3.141592653589793, 3.141592653589793);
  for (int caso = 0; caso < 200; ++caso) {
    const double o = angulo(azar), p = angulo(azar), k = angulo(azar);
    Matriz3x3 M;
    SenosCosenos sc = senos_cosenos(o, p, k);
    MatrizRotGT_ωφκ(&sc, M);
    Matriz m, mt;
    for (int i = 0; i < 9; ++i) m[i] = M[i], mt[3 * (i % 3) + i / 3] = M[i];
    const Matriz mmt = producto(m, mt);
    for (int i = 0; i < 9; ++i) ASSERT_NEAR(mmt[i], i % 4 == 0 ? 1.0 : 0.0, 1e-15);
  }
}

}  // namespace
