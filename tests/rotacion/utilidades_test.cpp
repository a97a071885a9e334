// Symmetric 3×3 inverse and re-orthonormalisation, both twins.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "orienta.h"

namespace {

void invierte(double* m) { Orvinvsim3_dbl(m); }
void invierte(float* m) { Orvinvsim3_fl(m); }
int32_t ortonormaliza(double* m) { return convierte_en_R_dbl(m); }
int32_t ortonormaliza(float* m) { return convierte_en_R_fl(m); }

template <class T>
void producto(const T* a, const T* b, T* c) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      T s = 0;
      for (int k = 0; k < 3; ++k) s += a[3 * i + k] * b[3 * k + j];
      c[3 * i + j] = s;
    }
}

template <class T>
T determinante(const T* m) {
  return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
         m[2] * (m[3] * m[7] - m[4] * m[6]);
}

// Entries of R·Rᵀ − I for a re-orthonormalised matrix.
template <class T>
T desvio_de_ortonormal(const T* r) {
  T rt[9], rrt[9], peor = 0;
  for (int i = 0; i < 9; ++i) rt[3 * (i % 3) + i / 3] = r[i];
  producto(r, rt, rrt);
  for (int i = 0; i < 9; ++i) peor = std::max(peor, std::fabs(rrt[i] - (i % 4 == 0 ? T(1) : T(0))));
  return peor;
}

template <class T>
void rotacion_aleatoria(std::mt19937_64& azar, T* r) {
  // Unit quaternion from four normals, then its matrix in double.
  std::normal_distribution<double> normal;
  double q[4], n = 0;
  for (double& c : q) c = normal(azar), n += c * c;
  n = std::sqrt(n);
  const double w = q[0] / n, x = q[1] / n, y = q[2] / n, z = q[3] / n;
  const double m[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
                       2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
                       2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
  for (int i = 0; i < 9; ++i) r[i] = T(m[i]);
}

template <class T>
class UtilidadesTest : public ::testing::Test {};
using Escalares = ::testing::Types<double, float>;
TYPED_TEST_SUITE(UtilidadesTest, Escalares);

TYPED_TEST(UtilidadesTest, InverseOfDiagonalIsReciprocals) {
  using T = TypeParam;
  T m[9] = {4, 0, 0, 0, 0.5, 0, 0, 0, -8};
  invierte(m);
  EXPECT_EQ(m[0], T(0.25));
  EXPECT_EQ(m[4], T(2));
  EXPECT_EQ(m[8], T(-0.125));
  for (int k : {1, 2, 3, 5, 6, 7}) EXPECT_EQ(m[k], T(0)) << k;  // −0 compares equal
}

TYPED_TEST(UtilidadesTest, InverseReadsOnlyTheUpperTriangle) {
  using T = TypeParam;
  const T nan = std::numeric_limits<T>::quiet_NaN();
  T simetrica[9] = {4, 1, 0.5, 1, 3, -0.25, 0.5, -0.25, 2};
  T basura[9] = {4, 1, 0.5, nan, 3, -0.25, T(1e30), nan, 2};
  invierte(simetrica);
  invierte(basura);
  EXPECT_EQ(0, std::memcmp(simetrica, basura, sizeof simetrica));
  EXPECT_EQ(simetrica[1], simetrica[3]);
  EXPECT_EQ(simetrica[2], simetrica[6]);
  EXPECT_EQ(simetrica[5], simetrica[7]);
}

TYPED_TEST(UtilidadesTest, InverseOfPositiveDefiniteTimesMatrixIsIdentity) {
  using T = TypeParam;
  std::mt19937_64 azar(7);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int caso = 0; caso < 100; ++caso) {
    // A = B·Bᵀ + I/2 is positive definite with a condition number of a few hundred at most.
    T b[9], bt[9], a[9];
    for (int i = 0; i < 9; ++i) b[i] = T(u(azar));
    for (int i = 0; i < 9; ++i) bt[3 * (i % 3) + i / 3] = b[i];
    producto(b, bt, a);
    for (int i : {0, 4, 8}) a[i] += T(0.5);
    T inv[9];
    std::memcpy(inv, a, sizeof a);
    invierte(inv);
    T id[9];
    producto(a, inv, id);
    const T eps = std::numeric_limits<T>::epsilon();
    for (int i = 0; i < 9; ++i) ASSERT_NEAR(id[i], i % 4 == 0 ? T(1) : T(0), 2000 * eps) << i;
  }
}

TYPED_TEST(UtilidadesTest, IdentityTakesTheColumnPathUnchanged) {
  using T = TypeParam;
  T m[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  // Column mode, column 0 rebuilt as column 1 × column 2.
  EXPECT_EQ(ortonormaliza(m), 0);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(m[i], i % 4 == 0 ? T(1) : T(0)) << i;
}

TYPED_TEST(UtilidadesTest, ReflectionBecomesProperRotation) {
  using T = TypeParam;
  T m[9] = {1, 0, 0, 0, 1, 0, 0, 0, -1};
  EXPECT_EQ(ortonormaliza(m), 0);
  const T esperada[9] = {-1, 0, 0, 0, 1, 0, 0, 0, -1};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(m[i], esperada[i]) << i;
}

TYPED_TEST(UtilidadesTest, RotationsScaledAndNoisyComeBackAsRotations) {
  using T = TypeParam;
  const T eps = std::numeric_limits<T>::epsilon();
  std::mt19937_64 azar(11);
  std::normal_distribution<double> ruido(0, 1e-3);
  for (int caso = 0; caso < 100; ++caso) {
    T r[9];
    rotacion_aleatoria(azar, r);
    const T escala = T(0.5 + caso * 0.05);
    struct Variante {
      const char* nombre;
      T m[9];
      T tolerancia_a_r;  // how far the result may lie from r
    } variantes[3];
    variantes[0].nombre = "exact";
    variantes[1].nombre = "scaled";
    variantes[2].nombre = "noisy";
    for (int i = 0; i < 9; ++i) {
      variantes[0].m[i] = r[i];
      variantes[1].m[i] = r[i] * escala;
      variantes[2].m[i] = r[i] + T(ruido(azar));
    }
    variantes[0].tolerancia_a_r = 16 * eps;
    variantes[1].tolerancia_a_r = 16 * eps;
    variantes[2].tolerancia_a_r = T(1e-2);
    for (auto& v : variantes) {
      SCOPED_TRACE(v.nombre);
      const int32_t reconstruida = ortonormaliza(v.m);
      EXPECT_TRUE(reconstruida >= 0 && reconstruida <= 2);
      EXPECT_LT(desvio_de_ortonormal(v.m), 16 * eps);
      EXPECT_NEAR(determinante(v.m), T(1), 16 * eps);
      for (int i = 0; i < 9; ++i) EXPECT_NEAR(v.m[i], r[i], v.tolerancia_a_r) << i;
    }
  }
}

TYPED_TEST(UtilidadesTest, DegenerateInputGivesNonFiniteNotACrash) {
  using T = TypeParam;
  T cero[9] = {};
  ortonormaliza(cero);
  EXPECT_FALSE(std::isfinite(cero[0]) && std::isfinite(cero[4]) && std::isfinite(cero[8]));
  T singular[9] = {0, 0, 0, 0, 1, 0, 0, 0, 1};
  invierte(singular);
  EXPECT_TRUE(std::isinf(singular[8]) || std::isnan(singular[8]));
  const T nan = std::numeric_limits<T>::quiet_NaN();
  T con_nan[9] = {nan, 0, 0, 0, 1, 0, 0, 0, 1};
  ortonormaliza(con_nan);  // NaN never compares greater: no out-of-range line index
}

}  // namespace
