// Angles and type-24 vectors back from rotation matrices, and the quarter/half-turn front end.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "comun.hpp"
#include "orienta.h"

namespace {

using namespace prueba;

M3<double> matriz(const SenosCosenos& sc) {
  M3<double> M;
  MatrizRotGT_ωφκ(&sc, M.data());
  return M;
}
M3<double> matriz(double o, double p, double k) {
  return matriz({{std::sin(o), std::cos(o), std::sin(p), std::cos(p), std::sin(k), std::cos(k)}});
}

TEST(RecuperacionTest, AnglesComeBackAcrossTheWholeRange) {
  // φ on both sides of |m6| = 0.9 (the branch switch) and up to a hair from ±π/2.
  const double b = std::asin(0.9);
  const double phis[] = {-kMedioPi + 1e-7, -1.4, -b - 1e-9, -b + 1e-9, -0.5, 0, b - 1e-9, b + 1e-9, kMedioPi - 1e-7};
  const double otros[] = {-kPi + 1e-12, -2.5, -0.3, 0, 0.7, 3.0, kPi};
  for (double phi : phis)
    for (double omega : otros)
      for (double kappa : otros) {
        SCOPED_TRACE(::testing::Message() << omega << ", " << phi << ", " << kappa);
        const Terna r = Gmatriz_ωφκ_seg(matriz(omega, phi, kappa).data());
        // ω and κ are read from entries of size cos φ carrying rounding of 1e-16, so their error
        // grows as 1/cos φ; φ stays well conditioned in both branches. One wrap with the long turn
        // may leave a value just below −π, never at or above π.
        EXPECT_NEAR(r.v[1], phi, 1e-14);
        EXPECT_LT(distancia_angular(r.v[0], omega), 1e-14 / std::cos(phi));
        EXPECT_LT(distancia_angular(r.v[2], kappa), 1e-14 / std::cos(phi));
        for (double a : {r.v[0], r.v[2]}) EXPECT_TRUE(a >= kPi - kVuelta && a < kPi + 1e-15) << a;
      }
}

TEST(RecuperacionTest, AnglesAtAndNearGimbalLock) {
  const double s4 = std::sin(0.4), c4 = std::cos(0.4), s11 = std::sin(1.1), c11 = std::cos(1.1);
  struct Caso {
    const char* nombre;
    SenosCosenos sc;  // given exactly
    double omega, phi, kappa, tol;
  };
  const Caso casos[] = {
      // m0 = m3 = m7 = m8 = 0: only κ − ω (φ = π/2) or κ + ω (φ = −π/2) is defined; ω = 0.
      {"phi = pi/2", {{s4, c4, 1, 0, s11, c11}}, 0, kMedioPi, 1.1 - 0.4, 1e-15},
      {"phi = -pi/2", {{s4, c4, -1, 0, s11, c11}}, 0, -kMedioPi, 1.1 + 0.4, 1e-15},
      // κ = π, ω = 0, sin φ = 0.95: κ is exactly π before its wrap, which lands just below −π.
      {"wrap of pi", {{0, 1, 0.95, std::sqrt(1 - 0.95 * 0.95), 0, -1}}, 0, std::asin(0.95), kPi - kVuelta, 0},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    const Terna r = Gmatriz_ωφκ_seg(matriz(c.sc).data());
    EXPECT_EQ(r.v[0], c.omega);
    EXPECT_NEAR(r.v[1], c.phi, 1e-15);
    EXPECT_NEAR(r.v[2], c.kappa, c.tol);
  }
}

// Nudges a type-24 vector into |v|² ≤ 4 when rounding put it just outside (NaN otherwise).
void en_rango_24(double* v) {
  while ((v[1] * v[1] + v[0] * v[0]) + v[2] * v[2] > 4)
    for (int i = 0; i < 3; ++i) v[i] = v[i] * (1 - 0x1p-52);
}

TEST(RecuperacionTest, Type24VectorComesBackOnBothBranchesAndAtHalfTurns) {
  // Oblique axes with mixed signs and no component below 0.2, so that each component's magnitude
  // is well determined by the diagonal. θ = 2.6906 is where the trace crosses −0.8.
  const std::array<double, 3> ejes[] = {{1, -1, 0.3}, {0.3, 0.5, -0.8}, {-0.6, 0.2, 0.7},
                                        {0.9, 0.4, 0.5}, {-0.3, -0.7, -0.4}, {0.5, -0.5, -0.6}};
  const double thetas[] = {0.1, 1.5, 2.69, 2.6906, 2.6907, 2.75, 3.0, kPi - 1e-3, kPi - 1e-6};
  for (const auto& eje : ejes) {
    const double l = std::sqrt(eje[0] * eje[0] + eje[1] * eje[1] + eje[2] * eje[2]);
    const double n[3] = {eje[0] / l, eje[1] / l, eje[2] / l};
    for (double theta : thetas) {
      SCOPED_TRACE(::testing::Message() << n[0] << ", " << n[1] << ", " << n[2] << " by " << theta);
      const double m = 2 * std::sin(theta * 0.5);
      double p[3] = {m * n[0], m * n[1], m * n[2]}, M[9];
      en_rango_24(p);
      const double esperado[3] = {p[0], p[1], p[2]};
      MatrizRot_24(p, M);
      // Components of size ≥ 0.2·m come from a square root or a ratio of entries carrying
      // rounding of 1e-16: a few dozen ulp.
      EXPECT_LT(desvio(Gmatriz_24_seg(M).v, esperado, 3), 1e-14);
    }
    // At half a turn (2·n·nᵀ − I, or MatrizRot_24 of 2·n with an antisymmetric part of rounding
    // noise) the vector's sign is free, the rotation is not. Near |v| = 2 the scalar part
    // √(1 − |v|²/4) is known to about √ε, so the rebuilt matrix agrees to 1e-7; a wrong sign
    // would be off by order 1.
    double M[2][9], p[3] = {2 * n[0], 2 * n[1], 2 * n[2]};
    for (int k = 0; k < 9; ++k) M[0][k] = 2 * n[k / 3] * n[k % 3] - (k % 4 == 0 ? 1 : 0);
    en_rango_24(p);
    MatrizRot_24(p, M[1]);
    for (const double* Mk : M) {
      const Terna t = Gmatriz_24_seg(Mk);
      double v[3] = {t.v[0], t.v[1], t.v[2]}, R[9];
      en_rango_24(v);
      MatrizRot_24(v, R);
      EXPECT_LT(desvio(R, Mk), 1e-7);
    }
  }
}

TEST(RecuperacionTest, Type24ExactCases) {
  const double r2 = std::sqrt(2.0), umbral = -0.8, u = 1 - umbral;
  struct Caso { const char* nombre; double M[9], v[3]; };
  const Caso casos[] = {
      {"identity", {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}},
      {"half turn about x", {1, 0, 0, 0, -1, 0, 0, 0, -1}, {2, 0, 0}},
      // No antisymmetric part: the largest component comes out positive, the others take their
      // signs from the symmetric part.
      {"half turn about (1, -1, 0)", {0, -1, 0, -1, 0, 0, 0, 0, -1}, {r2, -r2, 0}},
      // Trace exactly −0.8 takes the diagonal branch, which reads this non-rotation as √(2·mᵢᵢ + 1 − t)
      // per component; one step above, the trace branch sees no antisymmetric part and gives 0.
      {"trace at -0.8", {umbral, 0, 0, 0, 0, 0, 0, 0, 0}, {std::sqrt(2 * umbral + u), std::sqrt(u), std::sqrt(u)}},
      {"trace above -0.8", {std::nextafter(umbral, 0.0), 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0}},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    const Terna v = Gmatriz_24_seg(c.M);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(v.v[i], c.v[i]) << i;
  }
}

// A recovery function of the caller's own, which keeps the matrix it was given.
double g_vista[9];
Terna registra(const double* M) {
  std::memcpy(g_vista, M, sizeof g_vista);
  return Gmatriz_24_seg(M);
}

TEST(RecuperacionTest, OffsetCodesForQuarterAndHalfTurns) {
  struct Caso {
    const char* nombre;
    double M[9];
    uint32_t codigo;
    bool solo_z;  // a pure turn about z: nothing left to recover
  };
  const Caso casos[] = {
      {"identity", {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0, true},
      {"Rz(pi/2)", {0, -1, 0, 1, 0, 0, 0, 0, 1}, 1, true},
      {"Rz(pi)", {-1, 0, 0, 0, -1, 0, 0, 0, 1}, 2, true},
      {"Rz(-pi/2)", {0, 1, 0, -1, 0, 0, 0, 0, 1}, 3, true},
      {"cos 2 kappa = m1 m3 + m0 m4 = 0 takes no quarter turn", {1, -1, 0, 1, 1, 0, 0, 0, 1}, 0, false},
      {"Rz(pi/2) Rx(pi): kappa = pi/2 exactly is no excess", {0, 1, 0, 1, 0, 0, 0, 0, -1}, 0, false},
  };
  const double cero[3] = {0, 0, 0};
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    for (FuncGmatriz f : {Gmatriz_24_seg, Gmatriz_ωφκ_seg, FuncGmatriz(nullptr)}) {
      uint32_t codigo = 0xFFFFFFFFu;  // written, never read
      const Terna t = Getoffset_matriz(c.M, f, &codigo);
      // Without a recovery function only the quarter turn is settled, and nothing is recovered.
      EXPECT_EQ(codigo, f ? c.codigo : c.codigo & 1);
      EXPECT_TRUE(f ? !c.solo_z || desvio(t.v, cero, 3) < 1e-15 : std::isnan(t.v[0]) && std::isnan(t.v[2]));
    }
  }
  // The library's own recovery is recognised by its address: the half turn comes off its angles
  // (κ moves by π towards 0, ω and φ change sign). Any other function sees M·Rz(π) instead.
  const M3<double> M = matriz(0.1, 0.2, 2.5);
  uint32_t codigo = 7;
  const Terna a = Getoffset_matriz(M.data(), Gmatriz_ωφκ_seg, &codigo), b = Gmatriz_ωφκ_seg(M.data());
  EXPECT_EQ(codigo, 2u);
  EXPECT_TRUE(mismos_bits(a, Terna{{-b.v[0], -b.v[1], b.v[2] - kPi}}));
  Getoffset_matriz(M.data(), registra, &codigo);
  const double esperada[9] = {-M[0], -M[1], M[2], -M[3], -M[4], M[5], -M[6], -M[7], M[8]};
  EXPECT_TRUE(codigo == 2 && mismos_bits(g_vista, esperada));
}

}  // namespace
