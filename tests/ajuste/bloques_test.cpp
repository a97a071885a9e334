// The fit in blocks: any split of the pairs into blocks (of one pair, or none), merged in any
// order, gives the one-shot fit; the residual pass over the blocks gives its statistics; a pair
// taken out gives the fit without it; and with plan and height σ the estimate is the weighted
// least-squares optimum of an independent Gauss–Newton in long double.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "comun.hpp"

namespace {

using namespace prueba;
using Real = long double;

struct Nube {
  int dim, spp;
  std::vector<double> o, d, s;
  uint32_t n() const { return uint32_t(o.size() / size_t(dim)); }
  orienta_pares vista(uint32_t ini, uint32_t n, double umbral = 0) const {
    return {o.data() + size_t(dim) * ini,
            8 * dim,
            d.data() + size_t(dim) * ini,
            8 * dim,
            n,
            spp ? s.data() + size_t(spp) * ini : nullptr,
            spp ? spp : 1,
            umbral};
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

struct Ajuste {
  orienta_transformacion t;
  orienta_estadisticas e;
};

Ajuste de_una_vez(int modelo, const Nube& c) {
  Ajuste a;
  const orienta_pares p = c.vista(0, c.n());
  EXPECT_EQ(orienta_ajusta(modelo, &p, &a.t, &a.e, nullptr), ORIENTA_OK);
  return a;
}

// Parameters and σ0 against the one-shot fit, in relative terms: the parts of a linear map to
// 1e-10 of their size (rounding of 1e6 m coordinates), translations to 1e-6 m.
void como(const Ajuste& a, const Ajuste& b, int u) {
  for (int k = 0; k < u; ++k) {
    const double x = a.e.parametros[k], y = b.e.parametros[k];
    EXPECT_NEAR(x, y, 1e-6 + 1e-10 * std::fabs(y)) << "parameter " << k;
    EXPECT_NEAR(a.e.desv[k], b.e.desv[k], 1e-6 * b.e.desv[k]) << "sd " << k;
  }
  EXPECT_NEAR(a.e.sigma0, b.e.sigma0, 1e-7 * b.e.sigma0);
  EXPECT_EQ(a.e.redundancia, b.e.redundancia);
}

struct Caso {
  int modelo, spp;
};
constexpr Caso kCasos[] = {{ORIENTA_HELMERT3D, 0}, {ORIENTA_HELMERT3D, 1}, {ORIENTA_HELMERT3D, 2},
                           {ORIENTA_RIGIDO3D, 2},  {ORIENTA_HELMERT2D, 0}, {ORIENTA_HELMERT2D, 1},
                           {ORIENTA_AFIN2D, 1},    {ORIENTA_POLI2D_2, 0},  {ORIENTA_POLI2D_3, 1}};

TEST(Bloques, CualquierParticionYOrdenDanElAjusteDeUnaVez) {
  for (const Caso& caso : kCasos) {
    for (uint64_t semilla = 1; semilla <= 3; ++semilla) {
      SCOPED_TRACE(::testing::Message() << "model " << caso.modelo << " spp " << caso.spp << " seed " << semilla);
      const Nube c = nube(caso.modelo, caso.spp, 400, semilla);
      const Ajuste uno = de_una_vez(caso.modelo, c);
      const int u = uno.e.num_parametros;
      // Blocks of random sizes, ones of one pair and empty ones among them.
      std::mt19937_64 g(semilla);
      std::vector<orienta_acumulador> bloques;
      for (uint32_t ini = 0; ini < c.n();) {
        const uint32_t talla =
            std::min<uint32_t>(c.n() - ini, g() % 4 == 0 ? uint32_t(g() % 2) : 1 + uint32_t(g() % 90));
        orienta_acumulador a;
        ASSERT_EQ(orienta_acumulador_inicia(&a, caso.modelo, caso.spp), ORIENTA_OK);
        const orienta_pares p = c.vista(ini, talla);
        ASSERT_EQ(orienta_acumulador_anade(&a, &p), ORIENTA_OK);
        bloques.push_back(a);
        ini += talla;
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
      ASSERT_EQ(bloques[0].n, c.n());
      orienta_solucion s;
      ASSERT_EQ(orienta_resuelve(&bloques[0], &s), ORIENTA_OK);
      // The residual pass over other blocks than the accumulation's.
      double vtpv = 0;
      for (uint32_t ini = 0; ini < c.n(); ini += 37) {
        double parte;
        const orienta_pares p = c.vista(ini, std::min<uint32_t>(37, c.n() - ini));
        ASSERT_EQ(orienta_residuos(&s, &p, nullptr, NAN, nullptr, &parte), ORIENTA_OK);
        vtpv += parte;
      }
      Ajuste b;
      b.t = s.t;
      ASSERT_EQ(orienta_cierra(&s, vtpv, 0, 0, &b.e), ORIENTA_OK);
      como(b, uno, u);
    }
  }
}

TEST(Bloques, LasObservacionesPorBloquesSonLasDeUnaVez) {
  for (const Caso& caso : kCasos) {
    SCOPED_TRACE(caso.modelo);
    const Nube c = nube(caso.modelo, caso.spp, 120, 9);
    const uint32_t n = c.n();
    const size_t m = size_t(c.dim) * n;
    std::vector<double> v(m), w(m), q(m), r(m), v2(m), w2(m), q2(m), r2(m);
    const orienta_observaciones obs{v.data(), w.data(), q.data(), r.data(), nullptr};
    const orienta_pares p = c.vista(0, n);
    orienta_transformacion t;
    orienta_estadisticas e;
    ASSERT_EQ(orienta_ajusta(caso.modelo, &p, &t, &e, &obs), ORIENTA_OK);
    orienta_acumulador a;
    orienta_solucion s;
    orienta_acumulador_inicia(&a, caso.modelo, caso.spp);
    orienta_acumulador_anade(&a, &p);
    ASSERT_EQ(orienta_resuelve(&a, &s), ORIENTA_OK);
    const double sigma = caso.spp ? 1.0 : e.sigma0;
    for (uint32_t ini = 0; ini < n; ini += 50) {
      const size_t b = size_t(c.dim) * ini;
      const orienta_observaciones o{v2.data() + b, w2.data() + b, q2.data() + b, r2.data() + b, nullptr};
      const orienta_pares bl = c.vista(ini, std::min<uint32_t>(50, n - ini));
      ASSERT_EQ(orienta_residuos(&s, &bl, nullptr, sigma, &o, nullptr), ORIENTA_OK);
    }
    EXPECT_EQ(v, v2);
    EXPECT_EQ(w, w2);
    EXPECT_EQ(q, q2);
    EXPECT_EQ(r, r2);
    // Redundancy numbers add up to the redundancy.
    EXPECT_NEAR(std::accumulate(r.begin(), r.end(), 0.0), e.redundancia, 1e-6 * e.redundancia);
  }
}

TEST(Bloques, QuitarUnParEsAjustarSinEl) {
  for (const Caso& caso : kCasos) {
    SCOPED_TRACE(caso.modelo);
    Nube c = nube(caso.modelo, caso.spp, 60, 4);
    orienta_acumulador a;
    orienta_acumulador_inicia(&a, caso.modelo, caso.spp);
    const orienta_pares todo = c.vista(0, c.n());
    orienta_acumulador_anade(&a, &todo);
    for (uint32_t k : {0u, 17u, 59u}) {
      const orienta_pares uno = c.vista(k, 1);
      ASSERT_EQ(orienta_acumulador_quita(&a, &uno), ORIENTA_OK);
    }
    orienta_solucion s;
    ASSERT_EQ(orienta_resuelve(&a, &s), ORIENTA_OK);
    Nube sin = c;
    for (uint32_t k : {59u, 17u, 0u}) {
      sin.o.erase(sin.o.begin() + c.dim * k, sin.o.begin() + c.dim * (k + 1));
      sin.d.erase(sin.d.begin() + c.dim * k, sin.d.begin() + c.dim * (k + 1));
      if (c.spp) sin.s.erase(sin.s.begin() + c.spp * k, sin.s.begin() + c.spp * (k + 1));
    }
    const Ajuste ref = de_una_vez(caso.modelo, sin);
    double vtpv;
    const orienta_pares p = sin.vista(0, sin.n());
    orienta_residuos(&s, &p, nullptr, NAN, nullptr, &vtpv);
    Ajuste b;
    ASSERT_EQ(orienta_cierra(&s, vtpv, 0, 0, &b.e), ORIENTA_OK);
    como(b, ref, ref.e.num_parametros);
  }
}

// An independent reference: Gauss–Newton in long double on Σ w_plan·(vx² + vy²) + w_height·vz²
// over T, a rotation (updated by the exact rotation of a small vector) and s, from a start a
// milliradian off, until the step is below 1e-18.
struct Referencia {
  Real t[3], r[3][3], s;
};

// The references need long double's 64-bit significand; under valgrind (which computes long
// double in double) they are no better than the library, and those tests are skipped.
bool largos_extendidos() {
  volatile Real uno = 1, poco = Real(1) / Real(uint64_t(1) << 60);
  return (uno + poco) - uno != 0;
}

Referencia optimo_largo(const Nube& c, const orienta_transformacion& inicio) {
  Referencia x;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) x.r[i][j] = inicio.rotacion[3 * i + j];
  x.s = inicio.escala * 1.0001;
  const M3<double> perturba = rotacion<double>({1, 2, 3}, 1e-3);
  Real nr[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      nr[i][j] = 0;
      for (int k = 0; k < 3; ++k) nr[i][j] += perturba[3 * i + k] * x.r[k][j];
    }
  std::copy(&nr[0][0], &nr[0][0] + 9, &x.r[0][0]);
  for (int k = 0; k < 3; ++k) x.t[k] = inicio.centro_destino[k];  // T_c about the source centroid
  const Real* co = nullptr;
  Real centro[3] = {inicio.centro_origen[0], inicio.centro_origen[1], inicio.centro_origen[2]};
  co = centro;
  for (int it = 0; it < 200; ++it) {
    Real n[7][7] = {}, b[7] = {};
    for (uint32_t i = 0; i < c.n(); ++i) {
      Real p[3], y[3];
      for (int k = 0; k < 3; ++k) p[k] = Real(c.o[3 * i + k]) - co[k];
      for (int k = 0; k < 3; ++k) y[k] = x.r[k][0] * p[0] + x.r[k][1] * p[1] + x.r[k][2] * p[2];
      for (int k = 0; k < 3; ++k) {
        const Real sg = c.s[2 * i + (k == 2 ? 1 : 0)], w = 1 / (sg * sg);
        const Real v = x.t[k] + x.s * y[k] - Real(c.d[3 * i + k]);
        Real a[7] = {0, 0, 0, 0, 0, 0, y[k]};
        a[k] = 1;
        const Real cruz[3][3] = {
            {0, x.s * y[2], -x.s * y[1]}, {-x.s * y[2], 0, x.s * y[0]}, {x.s * y[1], -x.s * y[0], 0}};
        for (int l = 0; l < 3; ++l) a[3 + l] = cruz[k][l];
        for (int f = 0; f < 7; ++f) {
          b[f] -= w * a[f] * v;
          for (int g = 0; g < 7; ++g) n[f][g] += w * a[f] * a[g];
        }
      }
    }
    // Gaussian elimination with partial pivoting, in long double.
    Real m[7][8];
    for (int f = 0; f < 7; ++f) {
      for (int g = 0; g < 7; ++g) m[f][g] = n[f][g];
      m[f][7] = b[f];
    }
    for (int col = 0; col < 7; ++col) {
      int piv = col;
      for (int f = col + 1; f < 7; ++f)
        if (std::fabs(m[f][col]) > std::fabs(m[piv][col])) piv = f;
      std::swap(m[col], m[piv]);
      for (int f = col + 1; f < 7; ++f) {
        const Real q = m[f][col] / m[col][col];
        for (int g = col; g < 8; ++g) m[f][g] -= q * m[col][g];
      }
    }
    Real d[7];
    for (int f = 6; f >= 0; --f) {
      Real t = m[f][7];
      for (int g = f + 1; g < 7; ++g) t -= m[f][g] * d[g];
      d[f] = t / m[f][f];
    }
    for (int k = 0; k < 3; ++k) x.t[k] += d[k];
    x.s += d[6];
    const Real th = std::sqrt(d[3] * d[3] + d[4] * d[4] + d[5] * d[5]);
    const Real sa = th > 0 ? std::sin(th) / th : 1, sb = th > 0 ? (1 - std::cos(th)) / (th * th) : 0.5L;
    const Real k3[3][3] = {{0, -d[5], d[4]}, {d[5], 0, -d[3]}, {-d[4], d[3], 0}};
    Real e[3][3], r2[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        Real kk = 0;
        for (int l = 0; l < 3; ++l) kk += k3[i][l] * k3[l][j];
        e[i][j] = (i == j) + sa * k3[i][j] + sb * kk;
      }
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r2[i][j] = e[i][0] * x.r[0][j] + e[i][1] * x.r[1][j] + e[i][2] * x.r[2][j];
    std::copy(&r2[0][0], &r2[0][0] + 9, &x.r[0][0]);
    Real paso = 0;
    for (Real v : d) paso = std::max(paso, std::fabs(v));
    if (paso < 1e-18L) break;
  }
  // T at the origin: T_c − s·R·c_o.
  for (int k = 0; k < 3; ++k) x.t[k] -= x.s * (x.r[k][0] * co[0] + x.r[k][1] * co[1] + x.r[k][2] * co[2]);
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
    orienta_estadisticas e;
    const orienta_pares p = c.vista(0, n);
    ASSERT_EQ(orienta_ajusta(ORIENTA_HELMERT3D, &p, &t, &e, nullptr), ORIENTA_OK);
    const Referencia ref = optimo_largo(c, t);
    EXPECT_NEAR(t.escala, double(ref.s), 1e-13 * t.escala);
    // The rotation's entries are angles to first order.
    EXPECT_LT(desvio(t.rotacion, &ref.r[0][0], 9), 1e-13L);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(e.parametros[k], double(ref.t[k]), 1e-7) << k;
  }
}

TEST(Rigido, UnGiroExactoConEscalaUno) {
  Nube c = nube(ORIENTA_RIGIDO3D, 0, 10, 3);
  const M3<double> r = rotacion<double>({1, -1, 2}, 3.0);
  for (uint32_t i = 0; i < c.n(); ++i)
    for (int k = 0; k < 3; ++k) {
      double y = 7.0 * k;
      for (int j = 0; j < 3; ++j) y += r[3 * k + j] * c.o[3 * i + j];
      c.d[3 * i + k] = y;
    }
  orienta_transformacion t;
  orienta_estadisticas e;
  const orienta_pares p = c.vista(0, c.n());
  ASSERT_EQ(orienta_ajusta(ORIENTA_RIGIDO3D, &p, &t, &e, nullptr), ORIENTA_OK);
  EXPECT_EQ(t.escala, 1.0);
  EXPECT_EQ(e.num_parametros, 6);
  EXPECT_EQ(e.redundancia, 3 * 10 - 6);
  EXPECT_LT(desvio(t.rotacion, r.data(), 9), 1e-13L);  // the targets are rounded at 1e6 m
  EXPECT_NEAR(e.parametros[2], 14.0, 1e-8);
  EXPECT_EQ(orienta_valida(&t, nullptr), ORIENTA_OK);
}

}  // namespace

namespace {

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
    const Ajuste a = de_una_vez(ORIENTA_HELMERT2D, c);
    const std::array<Real, 2> ref = giro_escala_largos(c);
    EXPECT_LT(std::fabs(Real(std::atan2(a.t.matriz[3], a.t.matriz[0])) - ref[0]), 4e-16L);
    EXPECT_LT(std::fabs(Real(a.t.escala) - ref[1]), 4e-15L);
  }
}

}  // namespace
