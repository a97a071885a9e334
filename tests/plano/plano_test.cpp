// 2D similarity, its plain form and 2D polynomial transformations, both twins, on the inputs that
// settle their edges. The six layouts' agreement is the hel2d fuzz target's; the bits of fits on
// ordinary data, the digest test's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "comun.hpp"

namespace {

using namespace prueba;

template <class T>
class PlanoTest : public ::testing::Test {};
TYPED_TEST_SUITE(PlanoTest, Escalares);

// Pairs held as (source x, source y, target x, target y), passed in the pointer layout.
template <class T>
std::vector<const T*> punteros(const std::vector<T>& a) {
  std::vector<const T*> P;
  for (size_t i = 0; i < a.size(); i += 4) P.insert(P.end(), {&a[i], &a[i + 2]});
  return P;
}
template <class T>
Hel2Dg<T> hel2d(const std::vector<T>& a) {
  return ptr(punteros(a).data(), uint32_t(a.size() / 4));
}
template <class T>
Polinomica<T> ajusta(uint32_t tipo, const std::vector<T>& a) {
  Polinomica<T> t;
  std::memset(static_cast<void*>(&t), 0x7F, sizeof t);  // huge finite values in every field
  t.tipo = tipo;
  estima(&t, punteros(a).data(), uint32_t(a.size() / 4));
  return t;
}

TYPED_TEST(PlanoTest, SimilarityWorkedExamples) {
  using T = TypeParam;
  const T inf = std::numeric_limits<T>::infinity(), nan = std::numeric_limits<T>::quiet_NaN(), tercio = T(1) / T(3);
  struct Caso {
    const char* nombre;
    std::vector<T> pares;
    T esperado[7];  // centroids, escala, cos, sin; NaN stands for "is NaN"
  };
  const Caso casos[] = {
      {"no pairs, nothing read", {}, {nan, nan, nan, nan, nan, nan, nan}},
      {"one pair", {3, -4, 7, 8}, {3, -4, 7, 8, nan, nan, nan}},
      // Qo = 0 with Qd > 0; the centroid 1.8, 2.2 is 9·(1/5), 11·(1/5).
      {"repeated source",
       {3, 4, 1, 2, 3, 4, 2, 2, 3, 4, 0, 1, 3, 4, 5, 5, 3, 4, 1, 1},
       {3, 4, T(9) * (T(1) / T(5)), T(11) * (T(1) / T(5)), inf, nan, nan}},
      {"everything repeated", {3, 4, 1, 2, 3, 4, 1, 2}, {3, 4, 1, 2, nan, nan, nan}},
      // A mirror image is fitted as a rotation (a quarter turn here, P = 0, V > 0).
      {"mirror", {0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 0, -1}, {tercio, tercio, tercio, -tercio, 1, 0, 1}},
      // The least-squares scale would be 2; the ratio of spreads is √(13/3).
      {"ratio of spreads", {-1, 0, -2, 0, 1, 0, 2, 0, 0, 0, 0, 1}, {0, 0, 0, tercio, std::sqrt(T(13) / T(3)), 1, 0}},
      // 5·(1/3), one unit in the last place below 5/3 in double: the mean is not a quotient.
      {"sum times 1/n", {1, 0, 1, 0, 2, 0, 2, 0, 2, 1, 2, 1}, {5 * tercio, tercio, 5 * tercio, tercio, 1, 1, 0}},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    const auto g = hel2d(c.pares);
    const T obtenido[7] = {g.xc_origen, g.yc_origen, g.xc_destino, g.yc_destino, g.escala, g.cos_giro, g.sen_giro};
    for (int k = 0; k < 7; ++k)
      EXPECT_TRUE(std::isnan(c.esperado[k]) ? std::isnan(obtenido[k]) : obtenido[k] == c.esperado[k]) << k;
  }
}

TYPED_TEST(PlanoTest, EvaluationByKind) {
  using T = TypeParam;
  // dx = 1, dy = 2, every coefficient 1: the linear group gives 3, the quadratic 1 + 2 + 4, the
  // cubic 1 + 2 + 4 + 8, then the destination (100, −100) is added.
  const std::pair<uint32_t, T> casos[] = {{0, 103}, {2, 103}, {5, 103}, {6, 110}, {7, 125}, {0xFFFFFFFFu, 125}};
  for (const auto& [tipo, x] : casos) {
    SCOPED_TRACE(tipo);
    const Polinomica<T> t = {tipo, 5, 6, 100, -100, {1, 1, 1, 1, 1, 1, 1, 1, 1}, {1, 1, 1, 1, 1, 1, 1, 1, 1}};
    T q[2] = {6, 8};
    punto(&t, q);
    EXPECT_TRUE(q[0] == x && q[1] == x - 200);
  }
}

TYPED_TEST(PlanoTest, DegenerateFitsGiveNaN) {
  using T = TypeParam;
  // Every source on y = 0: the similarity leaves Y′ exactly 0, the normal matrix has a zero row
  // and the solver refuses it. With no pairs nothing is read and everything is NaN.
  const std::vector<T> a = {0, 0, 5, 7, 1, 0, 7, 7, 2, 0, 9, 7, 3, 0, 11, 7};
  for (uint32_t tipo : {3u, 6u, 7u}) {
    SCOPED_TRACE(tipo);
    const auto t = ajusta<T>(tipo, a), vacio = ajusta<T>(tipo, std::vector<T>{});
    EXPECT_TRUE(std::isnan(t.x0_destino) && std::isnan(t.y0_destino) && std::isnan(t.coef_x[0]) &&
                std::isnan(t.coef_y[1]));
    EXPECT_EQ(t.xc_origen, T(1.5));
    EXPECT_TRUE(std::isnan(vacio.xc_origen) && std::isnan(vacio.coef_x[0]) && std::isnan(vacio.y0_destino));
  }
}

}  // namespace
