// Angles and type-24 vectors back from rotation matrices at their boundaries, and the
// quarter/half-turn front end. That both rebuild any rotation is checked by the recupera fuzz
// target.
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

TEST(RecuperacionTest, Type24ExactCases) {
  const double r2 = std::sqrt(2.0), umbral = -0.8, u = 1 - umbral;
  struct Caso {
    const char* nombre;
    double M[9], v[3];
  };
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
