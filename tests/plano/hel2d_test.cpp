#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "orienta.h"

namespace {

template <class T>
struct Api;
template <>
struct Api<double> {
  using G = Hel2Dg_dbl;
  using D = Hel2D_dbl;
  static constexpr auto ptr = Hel2Dg___ptr_dbl;
  static constexpr auto p = Hel2Dg___p_dbl;
  static constexpr auto pp = Hel2Dg___pp_dbl;
  static constexpr auto g = Hel2Dg___g_dbl;
  static constexpr auto gg = Hel2Dg___gg_dbl;
  static constexpr auto mixed = Hel2Dg___mixed_dbl;
  static constexpr auto plano = Hel2D___Hel2Dg_dbl;
};
template <>
struct Api<float> {
  using G = Hel2Dg_fl;
  using D = Hel2D_fl;
  static constexpr auto ptr = Hel2Dg___ptr_fl;
  static constexpr auto p = Hel2Dg___p_fl;
  static constexpr auto pp = Hel2Dg___pp_fl;
  static constexpr auto g = Hel2Dg___g_fl;
  static constexpr auto gg = Hel2Dg___gg_fl;
  static constexpr auto mixed = Hel2Dg___mixed_fl;
  static constexpr auto plano = Hel2D___Hel2Dg_fl;
};

// Pairs as (source x, source y, target x, target y), estimated through the pointer layout.
template <class T>
typename Api<T>::G estima(const std::vector<T>& a) {
  std::vector<const T*> P;
  for (size_t i = 0; i < a.size(); i += 4) {
    P.push_back(&a[i]);
    P.push_back(&a[i + 2]);
  }
  return Api<T>::ptr(P.data(), uint32_t(a.size() / 4));
}

template <class T>
class Hel2dTest : public ::testing::Test {};
using Escalares = ::testing::Types<double, float>;
TYPED_TEST_SUITE(Hel2dTest, Escalares);

TYPED_TEST(Hel2dTest, EjemplosResueltos) {
  using T = TypeParam;
  const T inf = std::numeric_limits<T>::infinity();
  const T nan = std::numeric_limits<T>::quiet_NaN();
  struct Caso {
    const char* nombre;
    std::vector<T> pares;
    T esperado[7];  // NaN stands for "is NaN"
  };
  const Caso casos[] = {
      // One pair: centroids are the pair itself, nothing to scale or turn.
      {"un par", {3, -4, 7, 8}, {3, -4, 7, 8, nan, nan, nan}},
      // Coincident source points: Qo = 0 with Qd > 0; the centroid 1.8, 2.2 is 9·(1/5), 11·(1/5).
      {"origen repetido",
       {3, 4, 1, 2, 3, 4, 2, 2, 3, 4, 0, 1, 3, 4, 5, 5, 3, 4, 1, 1},
       {3, 4, T(9) * (T(1) / T(5)), T(11) * (T(1) / T(5)), inf, nan, nan}},
      {"todo repetido", {3, 4, 1, 2, 3, 4, 1, 2}, {3, 4, 1, 2, nan, nan, nan}},
      // A mirror image is fitted as a rotation (here a quarter turn, P = 0 and V > 0); nothing
      // detects the reflection.
      {"espejo",
       {0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 0, -1},
       {T(1) * (T(1) / T(3)), T(1) * (T(1) / T(3)), T(1) * (T(1) / T(3)), T(-1) * (T(1) / T(3)), 1, 0, 1}},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    const auto g = estima(c.pares);
    const T obtenido[7] = {g.xc_origen, g.yc_origen, g.xc_destino, g.yc_destino,
                           g.escala, g.cos_giro, g.sen_giro};
    for (int k = 0; k < 7; ++k) {
      if (std::isnan(c.esperado[k]))
        EXPECT_TRUE(std::isnan(obtenido[k])) << k;
      else
        EXPECT_EQ(obtenido[k], c.esperado[k]) << k;
    }
  }
}

TYPED_TEST(Hel2dTest, SinParesTodoNaNSinLeer) {
  using T = TypeParam;
  const auto g = Api<T>::ptr(nullptr, 0);
  for (T v : {g.xc_origen, g.yc_origen, g.xc_destino, g.yc_destino, g.escala, g.cos_giro, g.sen_giro})
    EXPECT_TRUE(std::isnan(v));
}

TYPED_TEST(Hel2dTest, EscalaDeDispersionesNoDeMinimosCuadrados) {
  using T = TypeParam;
  // The least-squares scale of these pairs would be 2; the ratio of spreads is √(13/3), which both
  // twins reach exactly despite the inexact 1/3 in the target spread.
  const auto g = estima<T>({-1, 0, -2, 0, 1, 0, 2, 0, 0, 0, 0, 1});
  EXPECT_EQ(g.xc_origen, T(0));
  EXPECT_EQ(g.yc_destino, T(1) / T(3));
  EXPECT_EQ(g.escala, std::sqrt(T(13) / T(3)));
  EXPECT_EQ(g.cos_giro, T(1));
  EXPECT_EQ(g.sen_giro, T(0));
}

TEST(Hel2dDobleTest, CentroideEsSumaPorReciproco) {
  // 5·(1/3) is one unit in the last place below 5/3: the mean is not a quotient.
  const auto g = estima<double>({1, 0, 0, 0, 2, 0, 1, 0, 2, 1, 0, 1});
  EXPECT_EQ(g.xc_origen, std::nextafter(5.0 / 3.0, 0.0));
}

TYPED_TEST(Hel2dTest, SemejanzaExactaRecuperada) {
  using T = TypeParam;
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> u(-100, 100);
  for (const double giro : {0.0, 0.3, 1.5707963267948966, 2.5, -3.0}) {
    const double escala = 0.5 + std::abs(u(gen)) / 50, tx = u(gen), ty = u(gen);
    std::vector<T> a;
    for (int i = 0; i < 20; ++i) {
      const double x = u(gen), y = u(gen);
      a.insert(a.end(), {T(x), T(y), T(tx + escala * (std::cos(giro) * x - std::sin(giro) * y)),
                         T(ty + escala * (std::sin(giro) * x + std::cos(giro) * y))});
    }
    SCOPED_TRACE(giro);
    const auto g = estima(a);
    // Targets are rounded to T once, so the fit is exact to a few units of T's epsilon.
    const double tol = 64 * std::numeric_limits<T>::epsilon();
    EXPECT_NEAR(g.escala, escala, tol * escala);
    EXPECT_NEAR(g.cos_giro, std::cos(giro), tol);
    EXPECT_NEAR(g.sen_giro, std::sin(giro), tol);
  }
}

// Copies the pairs into the five other layouts, with entries wider than a point and the bytes in
// between set to NaN, and asserts that every layout returns the pointer layout's record bit for bit.
TYPED_TEST(Hel2dTest, SeisCapasIdenticas) {
  using T = TypeParam;
  constexpr uint32_t n = 37;
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> u(-1e3, 1e3);
  std::vector<T> pts(4 * n - 8);  // pairs 0..n-3 own their points; the last two reuse others
  for (T& v : pts) v = T(u(gen));
  // ptr shares points between pairs: pair n-2 reuses pair 0's source and pair 5's target, pair
  // n-1 takes pair 3's source as its target.
  std::vector<const T*> P;
  for (uint32_t i = 0; i + 2 < n; ++i) {
    P.push_back(&pts[4 * i]);
    P.push_back(&pts[4 * i + 2]);
  }
  P.insert(P.end(), {&pts[0], &pts[22], &pts[6], &pts[12]});
  const auto referencia = Api<T>::ptr(P.data(), n);

  std::vector<T> A, S, D;
  for (uint32_t i = 0; i < n; ++i) {
    A.insert(A.end(), {P[2 * i][0], P[2 * i][1], P[2 * i + 1][0], P[2 * i + 1][1]});
    S.insert(S.end(), {P[2 * i][0], P[2 * i][1]});
    D.insert(D.end(), {P[2 * i + 1][0], P[2 * i + 1][1]});
  }
  const int64_t s = 5 * sizeof(T), st = 3 * sizeof(T);  // entries of 5 and 3 scalars
  std::vector<unsigned char> bg(2 * n * s), bs(n * s), bt(n * s), bst(n * st), brev(n * s);
  for (auto* b : {&bg, &bs, &bt, &bst, &brev}) std::memset(b->data(), 0xFF, b->size());  // NaN
  for (uint32_t i = 0; i < n; ++i) {
    std::memcpy(&bg[2 * i * s], &S[2 * i], 2 * sizeof(T));
    std::memcpy(&bg[(2 * i + 1) * s], &D[2 * i], 2 * sizeof(T));
    std::memcpy(&bs[i * s], &S[2 * i], 2 * sizeof(T));
    std::memcpy(&bt[i * s], &D[2 * i], 2 * sizeof(T));
    std::memcpy(&bst[i * st], &D[2 * i], 2 * sizeof(T));
    std::memcpy(&brev[(n - 1 - i) * s], &S[2 * i], 2 * sizeof(T));  // source walked backwards
  }
  auto en = [](const std::vector<unsigned char>& b, size_t desde = 0) {
    return reinterpret_cast<const T*>(b.data() + desde);
  };
  const struct {
    const char* nombre;
    typename Api<T>::G g;
  } capas[] = {
      {"p", Api<T>::p(A.data(), n)},
      {"pp", Api<T>::pp(S.data(), D.data(), n)},
      {"g", Api<T>::g(en(bg), s, n)},
      {"gg", Api<T>::gg(en(bs), en(bt), s, n)},
      {"mixed", Api<T>::mixed(en(bs), s, en(bst), st, n)},
      {"mixed hacia atras", Api<T>::mixed(en(brev, (n - 1) * s), -s, en(bst), st, n)},
  };
  EXPECT_FALSE(std::isnan(referencia.escala));
  for (const auto& c : capas) {
    SCOPED_TRACE(c.nombre);
    EXPECT_EQ(std::memcmp(&c.g, &referencia, sizeof referencia), 0);
  }
}

TYPED_TEST(Hel2dTest, FormaPlanaEjemplos) {
  using T = TypeParam;
  struct Caso {
    const char* nombre;
    typename Api<T>::G g;
    T tx, ty;
    T tol_ty;
  };
  const Caso casos[] = {
      {"identidad", {5, -3, 5, -3, 1, 1, 0}, 0, 0, 0},
      {"traslacion", {1, 2, 11, 22, 1, 1, 0}, -10, -20, 0},
      {"cuarto de vuelta y escala 2", {1, 2, 4, 6, 2, 0, 1}, -2, 4, 0},
      // ty = (3·0.4 + 1) − 4·0.3 with rounded 0.3 and 0.4 lands on 1 + 2⁻⁵² in double; the float
      // twin rounds on its own, within two units of 1.
      {"0.6, 0.8", {1, 1, 3, 4, 2, T(0.6), T(0.8)}, T(-1.5),
       std::is_same_v<T, double> ? T(1 + std::ldexp(1.0, -52)) : T(1),
       std::is_same_v<T, double> ? T(0) : 2 * std::numeric_limits<T>::epsilon()},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    const auto h = Api<T>::plano(&c.g);
    EXPECT_EQ(h.tx, c.tx);
    if (c.tol_ty == 0)
      EXPECT_EQ(h.ty, c.ty);
    else
      EXPECT_NEAR(h.ty, c.ty, c.tol_ty);
    EXPECT_EQ(std::memcmp(&h.escala, &c.g.escala, 3 * sizeof(T)), 0);  // copied unchanged
  }
}

TYPED_TEST(Hel2dTest, FormaPlanaLlevaCentroideACentroide) {
  using T = TypeParam;
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> u(-50, 50);
  for (int k = 0; k < 20; ++k) {
    const double giro = u(gen) / 10;
    const typename Api<T>::G g = {T(u(gen)), T(u(gen)), T(u(gen)), T(u(gen)), T(1 + std::abs(u(gen)) / 10),
                                  T(std::cos(giro)), T(std::sin(giro))};
    const auto h = Api<T>::plano(&g);
    const T dx = g.xc_origen - h.tx, dy = g.yc_origen - h.ty;
    // Coordinates up to ~100 through two roundings each way: a few hundred epsilon absolute.
    const double tol = 512 * std::numeric_limits<T>::epsilon();
    EXPECT_NEAR(h.escala * (h.cos_giro * dx - h.sen_giro * dy), g.xc_destino, tol);
    EXPECT_NEAR(h.escala * (h.sen_giro * dx + h.cos_giro * dy), g.yc_destino, tol);
  }
}

TEST(Hel2dFloatTest, CercaDelDoble) {
  // The float twin on float-representable data stays within a stated multiple of float epsilon of
  // the double twin: centring and sums over 50 pairs lose at most a few dozen units.
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> u(-10, 10);
  std::vector<float> f;
  for (int i = 0; i < 200; ++i) f.push_back(u(gen));
  const std::vector<double> d(f.begin(), f.end());
  const auto gf = estima(f);
  const auto gd = estima(d);
  const double tol = 64 * std::numeric_limits<float>::epsilon();
  EXPECT_NEAR(gf.escala, gd.escala, tol * gd.escala);
  EXPECT_NEAR(gf.cos_giro, gd.cos_giro, tol);
  EXPECT_NEAR(gf.sen_giro, gd.sen_giro, tol);
  EXPECT_NEAR(gf.xc_origen, gd.xc_origen, tol * 10);
}

}  // namespace
