// The 2D similarity where P² + V² over- or underflows although P and V are finite: both twins,
// every layout, and the rigid and similarity polynomial kinds that start from it.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

#include "comun.hpp"

namespace {

using namespace prueba;

template <class T>
class DesbordeTest : public ::testing::Test {};
TYPED_TEST_SUITE(DesbordeTest, Escalares);

// Five points spread over about 2^e and their images turned by (c, s) and scaled by 2, as rows
// (source x, source y, target x, target y). Scaling by a power of two is exact in every step of the
// estimate, so the records at 2^e and at 1 differ only where P² + V² leaves the range.
template <class T>
std::vector<T> pares(int e, T c, T s) {
  const T base[5][2] = {{1, 0}, {0, 1}, {-1, T(0.5)}, {T(0.25), -1}, {T(0.75), T(0.75)}};
  std::vector<T> a;
  for (const auto& q : base) {
    const T x = std::ldexp(q[0], e), y = std::ldexp(q[1], e);
    a.insert(a.end(), {x, y, T(2) * (x * c - y * s), T(2) * (x * s + y * c)});
  }
  return a;
}

TYPED_TEST(DesbordeTest, TurnSurvivesBothEndsOfTheRange) {
  using T = TypeParam;
  const bool doble = std::is_same_v<T, double>;
  struct Caso {
    const char* nombre;
    int e;
  };
  // P ~ 2^(2e) stays finite and normal while P² leaves the range.
  const Caso casos[] = {{"squares overflow", doble ? 300 : 40}, {"squares underflow", doble ? -300 : -50}};
  const T giros[][2] = {{0, 1}, {T(0.6), T(0.8)}, {T(-0.28), T(-0.96)}};
  const T eps = std::numeric_limits<T>::epsilon();
  for (const Caso& caso : casos)
    for (const auto& giro : giros) {
      SCOPED_TRACE(testing::Message() << caso.nombre << ", turn " << giro[0] << ", " << giro[1]);
      const std::vector<T> a = pares<T>(caso.e, giro[0], giro[1]);
      const std::vector<T> uno = pares<T>(0, giro[0], giro[1]);
      const uint32_t n = uint32_t(a.size() / 4);
      std::vector<const T*> P, P1;
      std::vector<T> S, D;
      for (uint32_t i = 0; i < n; ++i) {
        P.insert(P.end(), {&a[4 * i], &a[4 * i + 2]});
        P1.insert(P1.end(), {&uno[4 * i], &uno[4 * i + 2]});
        S.insert(S.end(), {a[4 * i], a[4 * i + 1]});
        D.insert(D.end(), {a[4 * i + 2], a[4 * i + 3]});
      }
      const Hel2Dg<T> h = ptr(P.data(), n), h1 = ptr(P1.data(), n);
      const int64_t paso = 2 * sizeof(T);
      const Hel2Dg<T> capas[] = {p(a.data(), n), pp(S.data(), D.data(), n), g(a.data(), paso, n),
                                 gg(S.data(), D.data(), paso, n), mixed(a.data(), 2 * paso, D.data(), paso, n)};
      for (const Hel2Dg<T>& c : capas) EXPECT_TRUE(mismos_bits(c, h));
      EXPECT_EQ(h.escala, h1.escala);
      EXPECT_EQ(h.xc_destino, std::ldexp(h1.xc_destino, caso.e));
      EXPECT_NEAR(h.cos_giro, h1.cos_giro, 4 * eps);
      EXPECT_NEAR(h.sen_giro, h1.sen_giro, 4 * eps);
      if (giro[0] == 0) {  // an exact quarter turn comes back exact, here and in the polynomials
        EXPECT_EQ(h.cos_giro, T(0));
        EXPECT_EQ(h.sen_giro, T(1));
        for (uint32_t tipo : {1u, 2u}) {  // rigid, then with the scale 2
          Polinomica<T> t{};
          t.tipo = tipo;
          estima(&t, P.data(), n);
          const T k = T(tipo);
          EXPECT_EQ((std::array<T, 4>{t.coef_x[0], t.coef_x[1], t.coef_y[0], t.coef_y[1]}),
                    (std::array<T, 4>{0, -k, k, 0}));
        }
      }
    }
}

}  // namespace
