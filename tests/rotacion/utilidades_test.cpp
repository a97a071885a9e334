// Symmetric 3×3 inverse and re-orthonormalisation, both twins.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "comun.hpp"
#include "orienta.h"

namespace {

using namespace prueba;

template <class T>
class UtilidadesTest : public ::testing::Test {};
TYPED_TEST_SUITE(UtilidadesTest, Escalares);

// The inverse's bits on ordinary matrices are the digest test's, and that it reads only the upper
// triangle is the recupera fuzz target's.
TYPED_TEST(UtilidadesTest, SingularInverseIsNotFinite) {
  TypeParam singular[9] = {0, 0, 0, 0, 1, 0, 0, 0, 1};
  invierte(singular);
  EXPECT_FALSE(std::isfinite(singular[8]));
}

TYPED_TEST(UtilidadesTest, ReorthonormalisationCases) {
  using T = TypeParam;
  const T eps = std::numeric_limits<T>::epsilon(), r5 = T(1) / std::sqrt(T(5)),
          nan = std::numeric_limits<T>::quiet_NaN();
  struct Caso {
    const char* nombre;
    M3<T> m, esperada;
    int32_t reconstruida;
    T tol;
  };
  const Caso casos[] = {
      {"identity takes the column path", {1, 0, 0, 0, 1, 0, 0, 0, 1}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0, 0},
      {"reflection becomes proper", {1, 0, 0, 0, 1, 0, 0, 0, -1}, {-1, 0, 0, 0, 1, 0, 0, 0, -1}, 0, 0},
      // Rows and columns tie, and columns win: column 1 is kept, column 0 orthogonalised to it,
      // column 2 rebuilt. The row path would give the transpose. A few roundings of 1/√5.
      {"symmetric tie goes to columns",
       {2, 1, 0, 1, 2, 0, 0, 0, 1},
       {2 * r5, r5, 0, -r5, 2 * r5, 0, 0, 0, 1},
       2,
       4 * eps},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    M3<T> m = c.m;
    EXPECT_EQ(ortonormaliza(m.data()), c.reconstruida);
    EXPECT_LE(desvio(m.data(), c.esperada.data()), c.tol);
  }
  // Degenerate input gives non-finite entries, and a NaN never compares longer: no line index out
  // of range.
  T cero[9] = {}, con_nan[9] = {nan, 0, 0, 0, 1, 0, 0, 0, 1};
  ortonormaliza(cero);
  EXPECT_FALSE(std::isfinite(cero[0]) && std::isfinite(cero[4]) && std::isfinite(cero[8]));
  const int32_t linea = ortonormaliza(con_nan);
  EXPECT_TRUE(linea >= 0 && linea <= 2);
}

}  // namespace
