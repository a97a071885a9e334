// The fit in blocks: any split of the pairs into blocks (of one pair, or none), merged in any
// order, gives the one-shot fit; the residual pass over the blocks gives its statistics; a pair
// taken out gives the fit without it; and with plan and height σ the estimate is the weighted
// least-squares optimum of an independent Gauss–Newton in long double.
#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "comun.hpp"

namespace {

using namespace prueba;
using Real = long double;

struct Nube {
  int dim, spp;
  std::vector<double> o, d, s;
  uint32_t n() const { return uint32_t(o.size() / size_t(dim)); }
  orienta_pares vista(uint32_t ini, uint32_t n) const {
    const double* sigma = spp ? s.data() + size_t(spp) * ini : nullptr;
    return {o.data() + size_t(dim) * ini, 8 * dim, d.data() + size_t(dim) * ini, 8 * dim, n, sigma, spp ? spp : 1, 0};
  }
};

// Projected coordinates (~5e5, 4.5e6 m) over a 2 km site, a rotation of any size, a bend for the
// polynomials, centimetre noise, and per pair σ (plan and height apart when spp = 2).
Nube nube(int modelo, int spp, uint32_t n, uint64_t semilla) {
  std::mt19937_64 g(semilla);
  std::uniform_real_distribution<double> u(-1000, 1000), un(0.5, 2.0);
  std::normal_distribution<double> e(0, 0.01);
  const int dim = modelo == ORIENTA_HELMERT3D || modelo == ORIENTA_RIGIDO3D ? 3 : 2;
  const M3<double> r = rotacion<double>({0.3, -0.2, 1.0}, 2.1 + 0.1 * double(semilla % 7));
  const double s = modelo == ORIENTA_RIGIDO3D ? 1.0 : 0.99985;
  Nube c{dim, spp, {}, {}, {}};
  for (uint32_t i = 0; i < n; ++i) {
    const double a[3] = {u(g), u(g), 0.1 * u(g)};
    const double base[3] = {512345.678, 4401234.567, 321.5};
    for (int k = 0; k < dim; ++k) c.o.push_back(a[k] + (k < 2 ? 3e5 : 50.0));
    for (int k = 0; k < dim; ++k) {
      double y = 0;
      for (int j = 0; j < dim; ++j)
        y += (dim == 3 ? r[3 * k + j] : (k == j ? std::cos(2.1) : (k ? 1 : -1) * std::sin(2.1))) * a[j];
      if (modelo == ORIENTA_POLI2D_2 || modelo == ORIENTA_POLI2D_3)
        y += 2e-6 * a[1 - k] * a[1 - k] + 1e-9 * a[0] * a[0] * a[k];
      c.d.push_back(base[k] + s * y + e(g));
    }
    for (int k = 0; k < spp; ++k) c.s.push_back(0.01 * un(g));
  }
  return c;
}

orienta_estadisticas de_una_vez(int modelo, const Nube& c, orienta_transformacion* t = nullptr,
                                const orienta_observaciones* obs = nullptr) {
  orienta_estadisticas e;
  const orienta_pares p = c.vista(0, c.n());
  EXPECT_EQ(orienta_ajusta(modelo, &p, t, &e, obs), ORIENTA_OK);
  return e;
}

// The statistics of s from a residual pass over blocks of `talla` pairs.
orienta_estadisticas por_bloques(const orienta_solucion& s, const Nube& c, uint32_t talla) {
  double vtpv = 0, parte;
  for (uint32_t ini = 0; ini < c.n(); ini += talla) {
    const orienta_pares p = c.vista(ini, std::min(talla, c.n() - ini));
    EXPECT_EQ(orienta_residuos(&s, &p, nullptr, NAN, nullptr, &parte), ORIENTA_OK);
    vtpv += parte;
  }
  orienta_estadisticas e;
  EXPECT_EQ(orienta_cierra(&s, vtpv, 0, 0, &e), ORIENTA_OK);
  return e;
}

// Parameters and σ0 against the one-shot fit, in relative terms: the parts of a linear map to
// 1e-10 of their size (rounding of 1e6 m coordinates), translations to 1e-6 m.
void como(const orienta_estadisticas& a, const orienta_estadisticas& b) {
  for (int k = 0; k < b.num_parametros; ++k) {
    EXPECT_NEAR(a.parametros[k], b.parametros[k], 1e-6 + 1e-10 * std::fabs(b.parametros[k])) << "parameter " << k;
    EXPECT_NEAR(a.desv[k], b.desv[k], 1e-6 * b.desv[k]) << "sd " << k;
  }
  EXPECT_NEAR(a.sigma0, b.sigma0, 1e-7 * b.sigma0);
  EXPECT_EQ(a.redundancia, b.redundancia);
}

// Each model, with σ per pair: none (0), one (1), or plan and height apart (2).
constexpr std::pair<int, int> kCasos[] = {{ORIENTA_HELMERT3D, 0}, {ORIENTA_HELMERT3D, 1}, {ORIENTA_HELMERT3D, 2},
                                          {ORIENTA_RIGIDO3D, 2},  {ORIENTA_HELMERT2D, 0}, {ORIENTA_HELMERT2D, 1},
                                          {ORIENTA_AFIN2D, 1},    {ORIENTA_POLI2D_2, 0},  {ORIENTA_POLI2D_3, 1}};

TEST(Bloques, CualquierParticionYOrdenDanElAjusteDeUnaVez) {
  for (const auto& [modelo, spp] : kCasos) {
    for (uint64_t semilla = 1; semilla <= 3; ++semilla) {
      SCOPED_TRACE(::testing::Message() << "model " << modelo << " spp " << spp << " seed " << semilla);
      const Nube c = nube(modelo, spp, 400, semilla);
      // Blocks of random sizes, ones of one pair and empty ones among them.
      std::mt19937_64 g(semilla);
      std::vector<orienta_acumulador> bloques;
      for (uint32_t ini = 0, talla; ini < c.n(); ini += talla) {
        talla = std::min<uint32_t>(c.n() - ini, g() % 4 == 0 ? uint32_t(g() % 2) : 1 + uint32_t(g() % 90));
        bloques.emplace_back();
        ASSERT_EQ(orienta_acumulador_inicia(&bloques.back(), modelo, spp), ORIENTA_OK);
        const orienta_pares p = c.vista(ini, talla);
        ASSERT_EQ(orienta_acumulador_anade(&bloques.back(), &p), ORIENTA_OK);
      }
      // Merged as a shuffled tree, the way a cluster reduces.
      std::shuffle(bloques.begin(), bloques.end(), g);
      while (bloques.size() > 1) {
        std::vector<orienta_acumulador> nivel;
        for (size_t k = 0; k + 1 < bloques.size(); k += 2) {
          ASSERT_EQ(orienta_acumulador_une(&bloques[k], &bloques[k + 1]), ORIENTA_OK);
          nivel.push_back(bloques[k]);
        }
        if (bloques.size() % 2) nivel.push_back(bloques.back());
        bloques = nivel;
      }
      orienta_solucion s;
      ASSERT_EQ(orienta_resuelve(&bloques[0], &s), ORIENTA_OK);
      como(por_bloques(s, c, 37), de_una_vez(modelo, c));  // other blocks than the accumulation's
    }
  }
}

// All pairs in one accumulator: its residual pass, block by block, writes the bits of the one-shot
// fit's observations; three pairs taken back out give the fit without them.
TEST(Bloques, ObservacionesPorBloquesYQuitarPares) {
  for (const auto& [modelo, spp] : kCasos) {
    SCOPED_TRACE(modelo);
    const Nube c = nube(modelo, spp, 120, 9);
    const uint32_t n = c.n();
    const size_t m = size_t(c.dim) * n;
    std::vector<double> v(m), w(m), q(m), r(m), v2(m), w2(m), q2(m), r2(m);
    const orienta_observaciones obs{v.data(), w.data(), q.data(), r.data(), nullptr};
    const orienta_estadisticas e = de_una_vez(modelo, c, nullptr, &obs);
    orienta_acumulador a;
    orienta_solucion s;
    const orienta_pares p = c.vista(0, n);
    ASSERT_EQ(orienta_acumulador_inicia(&a, modelo, spp), ORIENTA_OK);
    ASSERT_EQ(orienta_acumulador_anade(&a, &p), ORIENTA_OK);
    ASSERT_EQ(orienta_resuelve(&a, &s), ORIENTA_OK);
    for (uint32_t ini = 0; ini < n; ini += 50) {
      const size_t b = size_t(c.dim) * ini;
      const orienta_observaciones o{v2.data() + b, w2.data() + b, q2.data() + b, r2.data() + b, nullptr};
      const orienta_pares bl = c.vista(ini, std::min<uint32_t>(50, n - ini));
      ASSERT_EQ(orienta_residuos(&s, &bl, nullptr, spp ? 1.0 : e.sigma0, &o, nullptr), ORIENTA_OK);
    }
    EXPECT_TRUE(v == v2 && w == w2 && q == q2 && r == r2);
    Nube sin = c;
    for (uint32_t k : {n - 1, 17u, 0u}) {
      const orienta_pares uno = c.vista(k, 1);
      ASSERT_EQ(orienta_acumulador_quita(&a, &uno), ORIENTA_OK);
      sin.o.erase(sin.o.begin() + c.dim * k, sin.o.begin() + c.dim * (k + 1));
      sin.d.erase(sin.d.begin() + c.dim * k, sin.d.begin() + c.dim * (k + 1));
      if (c.spp) sin.s.erase(sin.s.begin() + c.spp * k, sin.s.begin() + c.spp * (k + 1));
    }
    ASSERT_EQ(orienta_resuelve(&a, &s), ORIENTA_OK);
    como(por_bloques(s, sin, n), de_una_vez(modelo, sin));
  }
}

// The references need long double's 64-bit significand; under valgrind (which computes long
// double in double) they are no better than the library, and those tests are skipped.
bool largos_extendidos() {
  volatile Real uno = 1, poco = Real(1) / Real(uint64_t(1) << 60);
  return (uno + poco) - uno != 0;
}

// An independent reference: Gauss–Newton in long double on Σ w_plan·(vx² + vy²) + w_height·vz²
// over T, a rotation (updated by the exact rotation of a small vector) and s, from a start a
// milliradian off, until the step is below 1e-18.
using V3 = Eigen::Matrix<Real, 3, 1>;
using R3 = Eigen::Matrix<Real, 3, 3, Eigen::RowMajor>;
using V7 = Eigen::Matrix<Real, 7, 1>;
struct Referencia {
  V3 t;
  R3 r;
  Real s;
};
V3 largo(const double* x) { return V3(x[0], x[1], x[2]); }

Referencia optimo_largo(const Nube& c, const orienta_transformacion& inicio) {
  const V3 co = largo(inicio.centro_origen);
  // T_c about the source centroid.
  Referencia x{largo(inicio.centro_destino),
               Eigen::AngleAxis<Real>(1e-3L, V3(1, 2, 3).normalized()) *
                   Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(inicio.rotacion).cast<Real>(),
               inicio.escala * 1.0001L};
  for (int it = 0; it < 200; ++it) {
    Eigen::Matrix<Real, 7, 7> n = Eigen::Matrix<Real, 7, 7>::Zero();
    V7 b = V7::Zero();
    for (uint32_t i = 0; i < c.n(); ++i) {
      const V3 y = x.r * (largo(&c.o[3 * i]) - co), v = x.t + x.s * y - largo(&c.d[3 * i]);
      // ∂v over T, the small rotation δ (R ← e^[δ]× R) and s: I, −s·[y]×, y.
      R3 cruz;
      cruz << 0, -y[2], y[1], y[2], 0, -y[0], -y[1], y[0], 0;  // [y]×
      Eigen::Matrix<Real, 3, 7> a;
      a << R3::Identity(), -x.s * cruz, y;
      const Real plan = 1 / (c.s[2 * i] * c.s[2 * i]), altura = 1 / (c.s[2 * i + 1] * c.s[2 * i + 1]);
      const Eigen::DiagonalMatrix<Real, 3> w(plan, plan, altura);
      n += a.transpose() * w * a;
      b -= a.transpose() * (w * v);
    }
    const V7 d = n.partialPivLu().solve(b);
    const V3 giro = d.segment<3>(3);
    x.t += d.head<3>(), x.s += d[6];
    if (giro.norm() > 0) x.r = Eigen::AngleAxis<Real>(giro.norm(), giro.normalized()) * x.r;
    if (d.cwiseAbs().maxCoeff() < 1e-18L) break;
  }
  x.t -= x.s * x.r * co;  // T at the origin: T_c − s·R·c_o
  return x;
}

TEST(PlanoAltura, ElOptimoDeUnGaussNewtonIndependienteEnLongDouble) {
  if (!largos_extendidos()) GTEST_SKIP() << "long double carries no more than double here";
  std::mt19937_64 g(5);
  for (int caso = 0; caso < 40; ++caso) {
    SCOPED_TRACE(caso);
    const uint32_t n = 3 + uint32_t(g() % 18);
    Nube c = nube(ORIENTA_HELMERT3D, 2, n, 100 + uint64_t(caso));
    // Plan and height σ a factor of up to 30 apart, pair by pair.
    for (uint32_t i = 0; i < n; ++i) c.s[2 * i + 1] = c.s[2 * i] * (0.2 + double(g() % 60) * 0.1);
    orienta_transformacion t;
    const orienta_estadisticas e = de_una_vez(ORIENTA_HELMERT3D, c, &t);
    const Referencia ref = optimo_largo(c, t);
    EXPECT_NEAR(t.escala, double(ref.s), 1e-13 * t.escala);
    // The rotation's entries are angles to first order.
    EXPECT_LT(desvio(t.rotacion, ref.r.data(), 9), 1e-13L);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(e.parametros[k], double(ref.t[k]), 1e-7) << k;
  }
}

// The 2D similarity's optimum in long double: centred sums of the same double pairs.
std::array<Real, 2> giro_escala_largos(const Nube& c) {
  const uint32_t n = c.n();
  Real m[4] = {};
  for (uint32_t i = 0; i < n; ++i)
    for (int k = 0; k < 2; ++k) m[k] += c.o[2 * i + k], m[2 + k] += c.d[2 * i + k];
  for (Real& x : m) x /= Real(n);
  Real a = 0, b = 0, t = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const Real p = c.o[2 * i] - m[0], q = c.o[2 * i + 1] - m[1], x = c.d[2 * i] - m[2], y = c.d[2 * i + 1] - m[3];
    a += p * x + q * y, b += p * y - q * x, t += p * p + q * q;
  }
  return {std::atan2(b, a), std::hypot(a, b) / t};
}

// Thousands of runs of pairs, merged one after another: were a run's mean left rounded (1e-9 m
// at 4.4e6 m), each merge would carry that into the centred sums through the jump between
// means, and the rotation would drift by 1e-14 rad after a few dozen runs.
TEST(Momentos, MuchosTramosNoAlejanElOptimo) {
  if (!largos_extendidos()) GTEST_SKIP() << "long double carries no more than double here";
  for (const uint32_t n : {1000u, 20000u, 200000u}) {
    SCOPED_TRACE(n);
    const Nube c = nube(ORIENTA_HELMERT2D, 0, n, 11);
    orienta_transformacion t;
    de_una_vez(ORIENTA_HELMERT2D, c, &t);
    const std::array<Real, 2> ref = giro_escala_largos(c);
    EXPECT_LT(std::fabs(Real(std::atan2(t.matriz[3], t.matriz[0])) - ref[0]), 4e-16L);
    EXPECT_LT(std::fabs(Real(t.escala) - ref[1]), 4e-15L);
  }
}

}  // namespace
