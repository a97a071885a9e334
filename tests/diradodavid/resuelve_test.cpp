#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "diradodavid.h"

namespace {

int32_t resuelve(double* N, double* rx, double* ry, int32_t u) { return resuelve_sistema_sim_t_2_dbl(N, rx, ry, u); }
int32_t resuelve(float* N, float* rx, float* ry, int32_t u) { return resuelve_sistema_sim_t_2_fl(N, rx, ry, u); }

template <class T>
class ResuelveTest : public ::testing::Test {};
using Escalares = ::testing::Types<double, float>;
TYPED_TEST_SUITE(ResuelveTest, Escalares);

// Full symmetric matrix (row-major u×u) to the packed lower triangle by rows.
template <class T>
std::vector<T> empaqueta(const std::vector<double>& A, int u) {
  std::vector<T> N;
  for (int j = 0; j < u; ++j)
    for (int k = 0; k <= j; ++k) N.push_back(T(A[j * u + k]));
  return N;
}

// A = D·(BᵀB + u·I)·D: well conditioned before the diagonal scaling D, whose entries grow by
// `paso` per row so that the diagonal spans many orders of magnitude, as in unscaled normal
// equations. Cholesky is invariant under such scaling, so the scaled residual stays tight.
template <class T>
void comprueba_spd(int u, double paso) {
  std::mt19937 gen(u);
  std::uniform_real_distribution<double> d(-1, 1);
  std::vector<double> B(u * u), A(u * u), D(u), x(u), y(u);
  for (double& v : B) v = d(gen);
  for (int i = 0; i < u; ++i) D[i] = std::pow(paso, i);
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < u; ++j) {
      double s = i == j ? u : 0;
      for (int k = 0; k < u; ++k) s += B[k * u + i] * B[k * u + j];
      A[i * u + j] = D[i] * s * D[j];
    }
  std::vector<T> N = empaqueta<T>(A, u), rx(u), ry(u);
  for (int i = 0; i < u; ++i) {
    rx[i] = T(d(gen) * D[i]);
    ry[i] = T(d(gen) * D[i]);
  }
  const std::vector<T> bx = rx, by = ry;
  ASSERT_EQ(resuelve(N.data(), rx.data(), ry.data(), u), 0);
  // Backward stable: residual row i within a modest multiple of u·ε of |A|·|x| in that row.
  const std::vector<T>* sol[2] = {&rx, &ry};
  const std::vector<T>* rhs[2] = {&bx, &by};
  for (int r = 0; r < 2; ++r)
    for (int i = 0; i < u; ++i) {
      double res = -double((*rhs[r])[i]), escala = std::abs(double((*rhs[r])[i]));
      for (int j = 0; j < u; ++j) {
        // The matrix as the solver saw it, rounded to T.
        const double a = double(T(A[i * u + j]));
        res += a * double((*sol[r])[j]);
        escala += std::abs(a * double((*sol[r])[j]));
      }
      EXPECT_LE(std::abs(res), 8 * u * std::numeric_limits<T>::epsilon() * escala) << r << " " << i;
    }
}

TYPED_TEST(ResuelveTest, SistemasDefinidosPositivos) {
  for (int u : {1, 3, 6, 10}) {
    SCOPED_TRACE(u);
    comprueba_spd<TypeParam>(u, 1.0);
    // Diagonal from 1 to ~10²⁴ (double) or ~10⁹ (float): a pivot test against the largest
    // diagonal entry would reject these.
    comprueba_spd<TypeParam>(u, std::is_same_v<TypeParam, double> ? 400.0 : 10.0);
  }
}

TYPED_TEST(ResuelveTest, SingularDaNaNYEstado) {
  using T = TypeParam;
  struct Caso {
    const char* nombre;
    int u;
    std::vector<double> A;
    int32_t estado;  // 1-based row of the failing pivot
  };
  const Caso casos[] = {
      // Row 2 is row 0 plus row 1; elimination on small integers is exact and leaves pivot 0.
      {"rango 2", 3, {1, 1, 2, 1, 2, 3, 2, 3, 5}, 3},
      {"indefinida", 2, {1, 2, 2, 1}, 2},
      {"cero", 3, {0, 0, 0, 0, 0, 0, 0, 0, 0}, 1},
      {"diagonal negativa", 1, {-4}, 1},
      {"NaN", 2, {4, 0, 0, std::nan("")}, 2},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    std::vector<T> N = empaqueta<T>(c.A, c.u), rx(c.u, T(1)), ry(c.u, T(2));
    EXPECT_EQ(resuelve(N.data(), rx.data(), ry.data(), c.u), c.estado);
    for (int i = 0; i < c.u; ++i) EXPECT_TRUE(std::isnan(rx[i]) && std::isnan(ry[i])) << i;
  }
  T nada = T(7);
  EXPECT_EQ(resuelve(&nada, &nada, &nada, 0), -1);
  EXPECT_EQ(nada, T(7));
}

}  // namespace
