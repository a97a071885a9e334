// The packed Cholesky solver, both precisions: the systems it must refuse. Solutions, scaled
// systems included, and orders below 1 are the solver fuzz target's.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "comun.hpp"
#include "diradodavid.h"

namespace {

GEMELOS(resuelve, resuelve_sistema_sim_t_2_dbl, resuelve_sistema_sim_t_2_fl)

template <class T>
class ResuelveTest : public ::testing::Test {};
TYPED_TEST_SUITE(ResuelveTest, prueba::Escalares);

// Full symmetric u×u matrix (by rows) to the packed lower triangle by rows.
template <class T>
std::vector<T> empaqueta(const std::vector<double>& A, int u) {
  std::vector<T> N;
  for (int j = 0; j < u; ++j)
    for (int k = 0; k <= j; ++k) N.push_back(T(A[j * u + k]));
  return N;
}

TYPED_TEST(ResuelveTest, RefusedSystemsGiveNaNAndTheFailingRow) {
  using T = TypeParam;
  const double eps = std::numeric_limits<T>::epsilon();
  struct Caso {
    const char* nombre;
    int u;
    std::vector<double> A;
    int32_t estado;  // 1-based row of the failing pivot
  };
  const Caso casos[] = {
      // Row 2 is row 0 plus row 1; elimination on small integers is exact and leaves pivot 0.
      {"rank 2", 3, {1, 1, 2, 1, 2, 3, 2, 3, 5}, 3},
      {"indefinite", 2, {1, 2, 2, 1}, 2},
      {"zero", 3, {0, 0, 0, 0, 0, 0, 0, 0, 0}, 1},
      {"negative diagonal", 1, {-4}, 1},
      {"NaN", 2, {4, 0, 0, std::nan("")}, 2},
      // Pivot 2ε: positive and above ε times its own diagonal entry 1 + 2ε, but not above u·ε
      // times it (u = 3): the test scales with the order.
      {"pivot between eps and u eps of its diagonal", 3, {1, 0, 1, 0, 1, 0, 1, 0, 1 + 2 * eps}, 3},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    std::vector<T> N = empaqueta<T>(c.A, c.u), rx(c.u, T(1)), ry(c.u, T(2));
    EXPECT_EQ(resuelve(N.data(), rx.data(), ry.data(), c.u), c.estado);
    for (int i = 0; i < c.u; ++i) EXPECT_TRUE(std::isnan(rx[i]) && std::isnan(ry[i])) << i;
  }
}

}  // namespace
