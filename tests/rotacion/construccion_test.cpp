// Rotation matrices from Euler angles and from rotation vectors at their edges; that every vector
// type builds the rotation of its vector is the matrices fuzz target's check.
#include <gtest/gtest.h>

#include <cmath>

#include "comun.hpp"
#include "orienta.h"

namespace {

using namespace prueba;

// The builders from sines and cosines keep their bits on ordinary angles (the digest test); the one
// from the angles themselves, whose sines and cosines come from the mathematical library, is
// checked against the κ-ω-φ builder: the same matrix up to rounding.
TEST(EulerTest, FromAnglesAsFromSinesAndCosines) {
  for (const auto& [o, p, k] : {std::array<double, 3>{0.3, -0.7, 2.1}, {-1.2, 1.5, -3.0}, {7.5, -4.0, 12.0}}) {
    SCOPED_TRACE(::testing::Message() << o << ", " << p << ", " << k);
    SenosCosenos sc = {{std::sin(o), std::cos(o), std::sin(p), std::cos(p), std::sin(k), std::cos(k)}};
    double angulos[3] = {o, p, k}, kop[9], kop_angulos[9];
    MatrizRotGT_κωφ(&sc, kop);
    MatrizRot_κωφ(angulos, kop_angulos);
    EXPECT_LE(desvio(kop_angulos, kop), 1e-15);  // their reordering of the input: the matrices fuzz target
  }
}

TEST(VectoresTest, WorkedExamplesComeBackExactly) {
  struct Exacto {
    const char* nombre;
    void (*construye)(double*, double*);
    double p[3], M[9], s[3];  // compared with ==, so +0 and −0 both match a 0
  };
  const Exacto casos[] = {
      {"type 24 half turn about x", MatrizRot_24, {2, 0, 0}, {1, 0, 0, 0, -1, 0, 0, 0, -1}, {0, 0, 0}},
      {"type 26 quarter turn about z", MatrizRot_26, {0, 0, 2}, {0, -1, 0, 1, 0, 0, 0, 0, 1}, {0, 0, 1}},
      // θ = 0 takes the limits sin θ/θ = 1 and (1 − cos θ)/θ² = 1/2 instead of 0/0; squares that
      // underflow to 0 take them too and keep the first-order rotation I + [p]×.
      {"type 20 zero vector", MatrizRot_20, {0, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}},
      {"type 20 underflowing squares",
       MatrizRot_20,
       {1e-200, -2e-200, 3e-200},
       {1, -3e-200, -2e-200, 3e-200, 1, -1e-200, 2e-200, 1e-200, 1},
       {1e-200, -2e-200, 3e-200}},
  };
  for (const Exacto& c : casos) {
    SCOPED_TRACE(c.nombre);
    double p[3] = {c.p[0], c.p[1], c.p[2]}, M[9];
    c.construye(p, M);
    for (int k = 0; k < 9; ++k) EXPECT_EQ(M[k], c.M[k]) << k;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p[i], c.s[i]) << i;
  }
}

TEST(VectoresTest, OutOfRangeGivesNaNOffTheDiagonal) {
  double p24[3] = {3, 0, 0}, p28[3] = {3, 3, 3}, M24[9], M28[9];
  MatrizRot_24(p24, M24);
  MatrizRot_28(p28, M28);
  EXPECT_TRUE(std::isnan(p24[0]));
  for (int k = 0; k < 9; ++k)
    EXPECT_TRUE(std::isnan(M24[k]) == (k % 4 != 0) && std::isnan(M28[k]) == (k % 4 != 0)) << k;
}

}  // namespace
