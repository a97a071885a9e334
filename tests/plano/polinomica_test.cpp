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
  using R = Trans_Polinomica2D_dbl;
  static constexpr auto punto = transforma_punto2D_dbl;
  static constexpr auto estima = Trans_Polinomica2D___puntosxy_dbl;
  static constexpr auto hel = Hel2Dg___ptr_dbl;
};
template <>
struct Api<float> {
  using R = Trans_Polinomica2D_fl;
  static constexpr auto punto = transforma_punto2D_fl;
  static constexpr auto estima = Trans_Polinomica2D___puntosxy_fl;
  static constexpr auto hel = Hel2Dg___ptr_fl;
};

template <class T>
class PolinomicaTest : public ::testing::Test {};
using Escalares = ::testing::Types<double, float>;
TYPED_TEST_SUITE(PolinomicaTest, Escalares);

template <class T>
typename Api<T>::R registro(uint32_t tipo, T xc, T yc, T x0, T y0, std::vector<T> cx, std::vector<T> cy) {
  typename Api<T>::R t{};
  t.tipo = tipo;
  t.xc_origen = xc, t.yc_origen = yc, t.x0_destino = x0, t.y0_destino = y0;
  for (size_t k = 0; k < 9; ++k) t.coef_x[k] = k < cx.size() ? cx[k] : T(0), t.coef_y[k] = k < cy.size() ? cy[k] : T(0);
  return t;
}

template <class T>
std::vector<T> aplica(const typename Api<T>::R& t, T x, T y) {
  T p[2] = {x, y};
  Api<T>::punto(&t, p);
  return {p[0], p[1]};
}

TYPED_TEST(PolinomicaTest, EvaluacionSegunTipo) {
  using T = TypeParam;
  // dx = 1, dy = 2: the linear group gives 3, the quadratic 1 + 2 + 4, the cubic 1 + 2 + 4 + 8
  // (all coefficients 1), then the destination (100, −100) is added.
  const std::vector<T> unos(9, T(1));
  struct Caso {
    uint32_t tipo;
    T x;
  };
  for (const Caso c : {Caso{0, 103}, Caso{2, 103}, Caso{4, 103}, Caso{5, 103}, Caso{6, 110}, Caso{7, 125},
                       Caso{8, 125}, Caso{0xFFFFFFFFu, 125}}) {
    SCOPED_TRACE(c.tipo);
    const auto t = registro<T>(c.tipo, 5, 6, 100, -100, unos, unos);
    EXPECT_EQ(aplica<T>(t, 6, 8), (std::vector<T>{c.x, c.x - 200}));
    // The source centroid maps exactly onto the destination, whatever the coefficients.
    EXPECT_EQ(aplica<T>(t, 5, 6), (std::vector<T>{100, -100}));
  }
}

TYPED_TEST(PolinomicaTest, IdentidadYCeros) {
  using T = TypeParam;
  const auto identidad = registro<T>(7, 3, -2, 3, -2, {1}, {0, 1});
  const auto ceros = registro<T>(7, 3, -2, 9, 4, {}, {});
  std::mt19937 gen(1);
  std::uniform_int_distribution<int> d(-1000, 1000);
  for (int i = 0; i < 50; ++i) {
    // Integers keep dx, dy and their sums with the centroid exact, so "unchanged" is bitwise.
    const T x = T(d(gen)) / 8, y = T(d(gen)) / 8;
    EXPECT_EQ(aplica<T>(identidad, x, y), (std::vector<T>{x, y}));
    EXPECT_EQ(aplica<T>(ceros, x, y), (std::vector<T>{9, 4}));
  }
}

TEST(PolinomicaFloatTest, SoloPrecisionSimple) {
  // dx = 1, dy = 2⁻²⁴: 1 + 2⁻²⁴ rounds to 1 in float, and adding x0 = 2⁻²⁴ rounds back to 1. One
  // widened evaluation would give 1 + 2⁻²³ instead.
  const float e = std::ldexp(1.0f, -24);
  const auto t = registro<float>(3, 0, 0, e, 0, {1, 1}, {0, 1});
  EXPECT_EQ(aplica<float>(t, 1, e)[0], 1.0f);
}

// Source points on a symmetric grid, so the centroid is exactly (0, 0) and the record's coefficients
// are directly those of the map.
template <class T>
std::vector<T> rejilla() {
  std::vector<T> s;
  for (int i = -3; i <= 3; ++i)
    for (int j = -3; j <= 3; ++j) s.insert(s.end(), {T(1.5 * i), T(1.25 * j + 0.5 * i)});
  return s;
}

template <class T>
typename Api<T>::R ajusta(uint32_t tipo, const std::vector<T>& origen, const std::vector<T>& destino) {
  std::vector<const T*> P;
  for (size_t i = 0; i < origen.size(); i += 2) P.insert(P.end(), {&origen[i], &destino[i]});
  typename Api<T>::R t;
  std::memset(&t, 0x7F, sizeof t);  // garbage: huge finite values in every field
  t.tipo = tipo;
  Api<T>::estima(&t, P.data(), uint32_t(origen.size() / 2));
  return t;
}

TYPED_TEST(PolinomicaTest, MapasExactosReproducidos) {
  using T = TypeParam;
  struct Mapa {
    const char* nombre;
    uint32_t tipo_minimo;
    double x0, y0, cx[9], cy[9];
  };
  const Mapa mapas[] = {
      {"afin", 3, 10, -20, {1.2, 0.3}, {-0.4, 0.9}},
      {"segundo orden", 6, 1, 2, {1.1, -0.2, 0.05, 0.02, -0.03}, {0.1, 0.95, -0.01, 0.04, 0.02}},
      {"tercer orden", 7, -5, 7,
       {0.9, 0.1, 0.01, -0.02, 0.03, 0.004, -0.002, 0.001, 0.003},
       {-0.2, 1.05, 0.02, 0.01, -0.01, -0.001, 0.002, 0.003, -0.004}},
  };
  const std::vector<T> origen = rejilla<T>();
  for (const Mapa& m : mapas) {
    std::vector<T> destino;
    for (size_t i = 0; i < origen.size(); i += 2) {
      const double x = origen[i], y = origen[i + 1];
      const double t[9] = {x, y, x * x, x * y, y * y, x * x * x, x * x * y, x * y * y, y * y * y};
      double px = m.x0, py = m.y0;
      for (int k = 0; k < 9; ++k) px += m.cx[k] * t[k], py += m.cy[k] * t[k];
      destino.insert(destino.end(), {T(px), T(py)});
    }
    for (uint32_t tipo : {3u, 4u, 5u, 6u, 7u}) {
      if (tipo < m.tipo_minimo) continue;
      SCOPED_TRACE(std::string(m.nombre) + " tipo " + std::to_string(tipo));
      const auto r = ajusta<T>(tipo, origen, destino);
      EXPECT_EQ(r.tipo, tipo);
      // Targets are rounded to T once and the grid keeps the normal equations well conditioned:
      // the coefficients come back within a few dozen ε (observed: 2 ε), the destination within
      // a few dozen ε of its size (up to 20).
      const double tol = 64 * std::numeric_limits<T>::epsilon();
      EXPECT_NEAR(r.x0_destino, m.x0, tol * 20);
      EXPECT_NEAR(r.y0_destino, m.y0, tol * 20);
      const int usados = tipo >= 7 ? 9 : tipo == 6 ? 5 : 2;
      for (int k = 0; k < 9; ++k) {
        if (k < usados) {
          EXPECT_NEAR(r.coef_x[k], m.cx[k], tol) << k;
          EXPECT_NEAR(r.coef_y[k], m.cy[k], tol) << k;
        } else {  // unused coefficients are cleared, not left as garbage
          EXPECT_EQ(r.coef_x[k], T(0)) << k;
          EXPECT_EQ(r.coef_y[k], T(0)) << k;
        }
      }
    }
  }
}

TYPED_TEST(PolinomicaTest, TiposDeSemejanza) {
  using T = TypeParam;
  std::mt19937 gen(2);
  std::uniform_real_distribution<double> d(-50, 50);
  std::vector<T> origen, destino;
  const double c = 1.3 * std::cos(0.7), s = 1.3 * std::sin(0.7);
  for (int i = 0; i < 30; ++i) {
    const double x = T(d(gen)), y = T(d(gen));
    origen.insert(origen.end(), {T(x), T(y)});
    destino.insert(destino.end(), {T(100 + c * x - s * y), T(-40 + s * x + c * y)});
  }
  std::vector<const T*> P;
  for (size_t i = 0; i < origen.size(); i += 2) P.insert(P.end(), {&origen[i], &destino[i]});
  const auto g = Api<T>::hel(P.data(), 30);

  const auto t0 = ajusta<T>(0, origen, destino);
  EXPECT_EQ(t0.xc_origen, g.xc_origen);  // the same sums times the same reciprocal
  EXPECT_EQ(t0.y0_destino, g.yc_destino);
  const auto t1 = ajusta<T>(1, origen, destino);
  const auto t2 = ajusta<T>(2, origen, destino);
  EXPECT_EQ((std::vector<T>{t1.coef_x[0], t1.coef_x[1], t1.coef_y[0], t1.coef_y[1]}),
            (std::vector<T>{g.cos_giro, -g.sen_giro, g.sen_giro, g.cos_giro}));
  EXPECT_EQ((std::vector<T>{t2.coef_x[0], t2.coef_y[1]}),
            (std::vector<T>{g.cos_giro * g.escala, g.cos_giro * g.escala}));
  for (const auto* t : {&t0, &t1, &t2})
    for (int k = 0; k < 9; ++k) {
      if (t != &t0 && k < 2) continue;
      EXPECT_EQ(t->coef_x[k], T(0));
      EXPECT_EQ(t->coef_y[k], T(0));
    }
  // The polynomial kinds find nothing to correct: same linear coefficients up to rounding.
  const double tol = 256 * std::numeric_limits<T>::epsilon();
  for (uint32_t tipo : {3u, 6u, 9u}) {
    SCOPED_TRACE(tipo);
    const auto t = ajusta<T>(tipo, origen, destino);
    EXPECT_EQ(t.tipo, tipo > 7 ? 7u : tipo);
    EXPECT_NEAR(t.coef_x[0], t2.coef_x[0], tol);
    EXPECT_NEAR(t.coef_x[1], t2.coef_x[1], tol);
    EXPECT_NEAR(t.coef_y[0], t2.coef_y[0], tol);
    EXPECT_NEAR(t.coef_y[1], t2.coef_y[1], tol);
  }
}

TYPED_TEST(PolinomicaTest, ResiduosSumanCero) {
  using T = TypeParam;
  std::mt19937 gen(4);
  std::uniform_real_distribution<double> d(-20, 20), ruido(-0.5, 0.5);
  std::vector<T> origen, destino;
  for (int i = 0; i < 40; ++i) {
    const double x = d(gen), y = d(gen);
    origen.insert(origen.end(), {T(x), T(y)});
    destino.insert(destino.end(), {T(3 + x + 0.01 * x * y + ruido(gen)), T(-2 + y - 0.02 * x * x + ruido(gen))});
  }
  for (uint32_t tipo : {3u, 4u, 6u, 7u}) {
    SCOPED_TRACE(tipo);
    const auto t = ajusta<T>(tipo, origen, destino);
    double sx = 0, sy = 0;
    for (size_t i = 0; i < origen.size(); i += 2) {
      const auto p = aplica<T>(t, origen[i], origen[i + 1]);
      sx += double(p[0]) - double(destino[i]);
      sy += double(p[1]) - double(destino[i + 1]);
    }
    // 40 targets of size ~50: rounding leaves sums of order 40·50·ε·(condition of the fit).
    const double tol = 1e5 * std::numeric_limits<T>::epsilon();
    EXPECT_NEAR(sx, 0, tol);
    EXPECT_NEAR(sy, 0, tol);
  }
  // 4 and 5 are fitted exactly as 3 and keep their own code.
  auto t3 = ajusta<T>(3, origen, destino), t5 = ajusta<T>(5, origen, destino);
  EXPECT_EQ(t5.tipo, 5u);
  t5.tipo = 3;
  EXPECT_EQ(std::memcmp(&t3, &t5, sizeof t3), 0);
}

TYPED_TEST(PolinomicaTest, DegeneradoDaNaN) {
  using T = TypeParam;
  // Every source point on y = 0, targets on y = 7: the similarity leaves Y′ exactly 0, so the
  // affine normal matrix has a zero row and the solver refuses it.
  const std::vector<T> origen = {0, 0, 1, 0, 2, 0, 3, 0}, destino = {5, 7, 7, 7, 9, 7, 11, 7};
  for (uint32_t tipo : {3u, 6u, 7u}) {
    SCOPED_TRACE(tipo);
    const auto t = ajusta<T>(tipo, origen, destino);
    EXPECT_TRUE(std::isnan(t.x0_destino) && std::isnan(t.y0_destino));
    EXPECT_TRUE(std::isnan(t.coef_x[0]) && std::isnan(t.coef_y[1]));
    EXPECT_EQ(t.xc_origen, T(1.5));
  }
  const auto vacio = ajusta<T>(3, {}, {});  // no pairs: NaN throughout, nothing read
  EXPECT_TRUE(std::isnan(vacio.xc_origen) && std::isnan(vacio.coef_x[0]) && std::isnan(vacio.y0_destino));
}

}  // namespace
