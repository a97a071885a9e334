#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "orienta.h"

namespace {

constexpr double kPi = 3.141592653589793;

struct Giro {
  const char* nombre;
  double eje[3];  // need not be unit
  double theta;
};

// Rotations spread over the range every type can express (types 24 and 26 stop at half a turn).
const Giro kGiros[] = {
    {"small about oblique axis", {1, 2, 3}, 1e-4},
    {"0.3 about x", {1, 0, 0}, 0.3},
    {"1 about oblique axis", {-0.4, 0.7, 0.2}, 1.0},
    {"2 about negative axis", {-1, -1, -1}, 2.0},
    {"3 about y and z", {0, 0.6, -0.8}, 3.0},
    {"just short of half a turn", {0.3, -0.5, 0.9}, kPi - 1e-3},
};

struct EjeAngulo {
  double n[3], theta;
};

EjeAngulo normaliza(const Giro& g) {
  const double l = std::sqrt(g.eje[0] * g.eje[0] + g.eje[1] * g.eje[1] + g.eje[2] * g.eje[2]);
  return {{g.eje[0] / l, g.eje[1] / l, g.eje[2] / l}, g.theta};
}

// Reference: R = cos θ·I + sin θ·[n]× + (1 − cos θ)·n·nᵀ, written independently of the library.
void referencia(const EjeAngulo& r, double* M) {
  const double c = std::cos(r.theta), s = std::sin(r.theta), v = 1 - c;
  const double* n = r.n;
  M[0] = c + v * n[0] * n[0];
  M[1] = v * n[0] * n[1] - s * n[2];
  M[2] = v * n[0] * n[2] + s * n[1];
  M[3] = v * n[1] * n[0] + s * n[2];
  M[4] = c + v * n[1] * n[1];
  M[5] = v * n[1] * n[2] - s * n[0];
  M[6] = v * n[2] * n[0] - s * n[1];
  M[7] = v * n[2] * n[1] + s * n[0];
  M[8] = c + v * n[2] * n[2];
}

// Each entry (magnitude ≤ 1) is a handful of rounded operations on top of sin and cos, in the
// library and in the reference: a few dozen units in the last place of 1 bounds their distance.
constexpr double kTolDbl = 1e-14;

void espera_cerca(const double* a, const double* b, int n, double tol) {
  for (int k = 0; k < n; ++k) EXPECT_NEAR(a[k], b[k], tol) << "element " << k;
}

TEST(VectoresTest, EveryTypeBuildsTheRotationOfItsVector) {
  for (const Giro& g : kGiros) {
    SCOPED_TRACE(g.nombre);
    const EjeAngulo r = normaliza(g);
    double esperada[9];
    referencia(r, esperada);
    const double medio = std::sin(r.theta * 0.5), tangente = std::tan(r.theta * 0.5);
    const double seno[3] = {std::sin(r.theta) * r.n[0], std::sin(r.theta) * r.n[1],
                            std::sin(r.theta) * r.n[2]};

    double p20[3], p24[3], p26[3], p28[3], M[9];
    for (int i = 0; i < 3; ++i) {
      p20[i] = r.theta * r.n[i];
      p24[i] = 2 * medio * r.n[i];
      p26[i] = 2 * tangente * r.n[i];
      p28[i] = 2 * std::asin(medio * r.n[i]);
    }
    MatrizRot_20(p20, M);
    espera_cerca(M, esperada, 9, kTolDbl);
    espera_cerca(p20, seno, 3, kTolDbl);
    MatrizRot_24(p24, M);
    espera_cerca(M, esperada, 9, kTolDbl);
    espera_cerca(p24, seno, 3, kTolDbl);
    MatrizRot_26(p26, M);
    espera_cerca(M, esperada, 9, kTolDbl);
    espera_cerca(p26, seno, 3, kTolDbl);
    const double p28_antes[3] = {p28[0], p28[1], p28[2]};
    MatrizRot_28(p28, M);
    espera_cerca(M, esperada, 9, kTolDbl);
    EXPECT_EQ(0, std::memcmp(p28, p28_antes, sizeof p28));
  }
}

TEST(VectoresTest, DeltaflTwinsAgreeOnEveryBitTheirPrecisionsShare) {
  // Every matrix entry is one operation (1 − a or a ± b) on floats; rounding the double result to
  // float gives the float twin's entry exactly (double has more than 2·24 + 2 bits).
  for (const Giro& g : kGiros) {
    SCOPED_TRACE(g.nombre);
    const EjeAngulo r = normaliza(g);
    const double t = 2 * std::tan(r.theta * 0.5);
    float pd[3], pf[3];
    for (int i = 0; i < 3; ++i) pd[i] = pf[i] = float(t * r.n[i]);
    double Md[9];
    float Mf[9];
    const float nd = MatrizDeltafl_dbl(pd, Md);
    const float nf = MatrizDeltafl_fl(pf, Mf);
    EXPECT_EQ(0, std::memcmp(&nd, &nf, sizeof nd));
    EXPECT_EQ(0, std::memcmp(pd, pf, sizeof pd));
    for (int k = 0; k < 9; ++k) EXPECT_EQ(float(Md[k]), Mf[k]) << "element " << k;
  }
}

TEST(VectoresTest, DeltaflIsTheType26RotationToSinglePrecision) {
  for (const Giro& g : kGiros) {
    SCOPED_TRACE(g.nombre);
    const EjeAngulo r = normaliza(g);
    const double t = 2 * std::tan(r.theta * 0.5);
    float pf[3];
    double p26[3], M26[9], Md[9];
    for (int i = 0; i < 3; ++i) p26[i] = pf[i] = float(t * r.n[i]);
    const double norma2_exacta = (p26[1] * p26[1] + p26[0] * p26[0]) + p26[2] * p26[2];
    const float norma2 = MatrizDeltafl_dbl(pf, Md);
    MatrizRot_26(p26, M26);
    // Three float squares and two float sums.
    EXPECT_NEAR(norma2, norma2_exacta, 4 * FLT_EPSILON * norma2_exacta);
    // A handful of float roundings on entries of magnitude ≤ 1.
    espera_cerca(Md, M26, 9, 16 * FLT_EPSILON);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(pf[i], p26[i], 16 * FLT_EPSILON);
  }
}

struct Exacto {
  const char* nombre;
  void (*construye)(double*, double*);
  double p[3];
  double M[9];  // compared with ==, so +0 and −0 both match a 0
  double s[3];
};

const Exacto kExactos[] = {
    {"type 24 half turn about x", MatrizRot_24, {2, 0, 0}, {1, 0, 0, 0, -1, 0, 0, 0, -1}, {0, 0, 0}},
    {"type 26 quarter turn about z", MatrizRot_26, {0, 0, 2}, {0, -1, 0, 1, 0, 0, 0, 0, 1}, {0, 0, 1}},
    {"type 26 zero vector", MatrizRot_26, {0, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}},
    {"type 24 zero vector", MatrizRot_24, {0, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}},
    // θ = 0 has the limits sin θ/θ = 1 and (1 − cos θ)/θ² = 1/2 instead of 0/0.
    {"type 20 zero vector", MatrizRot_20, {0, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0}},
};

TEST(VectoresTest, WorkedExamplesComeBackExactly) {
  for (const Exacto& c : kExactos) {
    SCOPED_TRACE(c.nombre);
    double p[3] = {c.p[0], c.p[1], c.p[2]}, M[9];
    c.construye(p, M);
    for (int k = 0; k < 9; ++k) EXPECT_EQ(M[k], c.M[k]) << "element " << k;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p[i], c.s[i]);
  }
  float pd[3] = {0, 0, 0}, pf[3] = {0, 0, 0};
  double Md[9];
  float Mf[9];
  EXPECT_EQ(MatrizDeltafl_dbl(pd, Md), 0.0f);
  EXPECT_EQ(MatrizDeltafl_fl(pf, Mf), 0.0f);
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(Md[k], k % 4 == 0 ? 1.0 : 0.0);
    EXPECT_EQ(Mf[k], k % 4 == 0 ? 1.0f : 0.0f);
  }
}

TEST(VectoresTest, TinyType20VectorKeepsItsFirstOrderRotation) {
  // The squares underflow to 0, so the limits apply: identity diagonal, antisymmetric part p.
  double p[3] = {1e-200, -2e-200, 3e-200}, M[9];
  MatrizRot_20(p, M);
  EXPECT_EQ(p[0], 1e-200);
  EXPECT_EQ(M[0], 1.0);
  EXPECT_EQ(M[7], 1e-200);
  EXPECT_EQ(M[1], -3e-200);
}

TEST(VectoresTest, QuarterTurnsAboutZMatchTheEulerBuilder) {
  const SenosCosenos sc = {{0, 1, 0, 1, 1, 0}};
  double Rz[9], M[9];
  MatrizRotGT_ωφκ(&sc, Rz);
  double p20[3] = {0, 0, kPi / 2};
  MatrizRot_20(p20, M);
  // (1 − cos θ)/θ² and sin θ/θ each round once or twice: a few units in the last place of 1.
  espera_cerca(M, Rz, 9, 4 * DBL_EPSILON);
  EXPECT_NEAR(p20[2], 1.0, 4 * DBL_EPSILON);
  for (double a : {-kPi, -2.0, 0.5, kPi / 2, kPi}) {
    SCOPED_TRACE(a);
    double p28[3] = {0, 0, a};
    MatrizRot_28(p28, M);
    const double esperada[9] = {std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1};
    espera_cerca(M, esperada, 9, kTolDbl);
    EXPECT_EQ(p28[2], a);
  }
}

TEST(VectoresTest, OutOfRangeGivesNaNOffTheDiagonal) {
  double p24[3] = {3, 0, 0}, p28[3] = {3, 3, 3}, M[9];
  MatrizRot_24(p24, M);
  for (int k : {1, 2, 3, 5, 6, 7}) EXPECT_TRUE(std::isnan(M[k])) << "type 24 element " << k;
  EXPECT_TRUE(std::isfinite(M[0]) && std::isfinite(M[4]) && std::isfinite(M[8]));
  EXPECT_TRUE(std::isnan(p24[0]));
  MatrizRot_28(p28, M);
  for (int k : {1, 2, 3, 5, 6, 7}) EXPECT_TRUE(std::isnan(M[k])) << "type 28 element " << k;
  EXPECT_TRUE(std::isfinite(M[0]) && std::isfinite(M[4]) && std::isfinite(M[8]));
}

}  // namespace
