#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "orienta.h"

namespace {

using Real = long double;

template <class T> struct Variante;
template <> struct Variante<double> {
  using Registro = Hel3Dg_dbl;
  static int32_t estima(double* const* p, uint32_t n, Registro* h, int32_t g, int32_t s, float* k) {
    return Hel3Dg___ptr_dbl(p, n, h, g, s, k);
  }
};
template <> struct Variante<float> {
  using Registro = Hel3Dg_fl;
  static int32_t estima(float* const* p, uint32_t n, Registro* h, int32_t g, int32_t s, float* k) {
    return Hel3Dg___ptr_fl(p, n, h, g, s, k);
  }
};

struct Vec3 { Real v[3]; };
struct Rot { Real m[9]; };

// Rotation by angulo about eje (normalised here), Rodrigues' formula in long double.
Rot rotacion(Vec3 eje, Real angulo) {
  const Real l = std::sqrt(eje.v[0] * eje.v[0] + eje.v[1] * eje.v[1] + eje.v[2] * eje.v[2]);
  const Real x = eje.v[0] / l, y = eje.v[1] / l, z = eje.v[2] / l;
  const Real c = std::cos(angulo), s = std::sin(angulo), t = 1 - c;
  return {{t * x * x + c, t * x * y - s * z, t * x * z + s * y, t * x * y + s * z, t * y * y + c,
           t * y * z - s * x, t * x * z - s * y, t * y * z + s * x, t * z * z + c}};
}

// Pairs held as two arrays of points; each call gets fresh pointers, so in-place calls can be
// repeated on the same data or on a copy.
template <class T> struct Conjunto {
  std::vector<T> origen, destino;  // 3n each
  uint32_t n() const { return uint32_t(origen.size() / 3); }
  std::vector<T*> punteros() {
    std::vector<T*> p;
    for (uint32_t k = 0; k < n(); ++k) {
      p.push_back(&origen[3 * k]);
      p.push_back(&destino[3 * k]);
    }
    return p;
  }
};

// n source points spread ±radio around centro (mt19937_64 is specified bit for bit; the mapping to
// [−1, 1) is ours), targets = destino + escala·R·(p − centro) + noise of ±ruido per coordinate.
template <class T>
Conjunto<T> genera(uint32_t n, Vec3 centro, Real radio, const Rot& r, Real escala, Vec3 destino,
                   Real ruido, uint64_t semilla) {
  std::mt19937_64 gen(semilla);
  auto uniforme = [&] { return Real(gen() >> 11) * 0x1p-52L - 1; };
  Conjunto<T> c;
  for (uint32_t k = 0; k < n; ++k) {
    Real a[3];
    for (int i = 0; i < 3; ++i) a[i] = radio * uniforme();
    for (int i = 0; i < 3; ++i) c.origen.push_back(T(centro.v[i] + a[i]));
    for (int i = 0; i < 3; ++i) {
      const Real ra = r.m[3 * i] * a[0] + r.m[3 * i + 1] * a[1] + r.m[3 * i + 2] * a[2];
      c.destino.push_back(T(destino.v[i] + escala * ra + ruido * uniforme()));
    }
  }
  return c;
}

template <class Registro>
Real diferencia_maxima(const Registro& h, const Rot& r) {
  Real d = 0;
  for (int e = 0; e < 9; ++e) d = std::max(d, std::fabs(Real(h.rotacion[e]) - r.m[e]));
  return d;
}

// The least-squares rotation of the pairs as given: the orthogonal polar factor of
// M = Σ b·aᵀ (a, b centred in long double), by Newton's iteration X ← (X + X⁻ᵀ)/2. It maximises
// Σ b·(R·a) over orthogonal R, and is a proper rotation because the tests check det M > 0.
template <class T>
Rot rotacion_optima(const Conjunto<T>& c) {
  const uint32_t n = c.n();
  Real co[3] = {0, 0, 0}, cd[3] = {0, 0, 0};
  for (uint32_t k = 0; k < n; ++k)
    for (int i = 0; i < 3; ++i) {
      co[i] += c.origen[3 * k + i];
      cd[i] += c.destino[3 * k + i];
    }
  for (int i = 0; i < 3; ++i) co[i] /= n, cd[i] /= n;
  Rot x{};
  for (uint32_t k = 0; k < n; ++k)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        x.m[3 * i + j] += (c.destino[3 * k + i] - cd[i]) * (c.origen[3 * k + j] - co[j]);
  auto det = [](const Real* m) {
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
  };
  EXPECT_GT(det(x.m), 0) << "the polar factor would be a reflection";
  for (int it = 0; it < 60; ++it) {
    const Real* m = x.m;
    const Real dt = det(m);
    // X⁻ᵀ = cofactor matrix / det.
    const Real cof[9] = {m[4] * m[8] - m[5] * m[7], m[5] * m[6] - m[3] * m[8], m[3] * m[7] - m[4] * m[6],
                         m[2] * m[7] - m[1] * m[8], m[0] * m[8] - m[2] * m[6], m[1] * m[6] - m[0] * m[7],
                         m[1] * m[5] - m[2] * m[4], m[2] * m[3] - m[0] * m[5], m[0] * m[4] - m[1] * m[3]};
    for (int e = 0; e < 9; ++e) x.m[e] = (x.m[e] + cof[e] / dt) / 2;
  }
  return x;
}

template <class T> class Hel3dTest : public ::testing::Test {};
using Escalares = ::testing::Types<double, float>;
TYPED_TEST_SUITE(Hel3dTest, Escalares);

// Four points on the unit circle, mapped by a quarter turn about z, scale 2, shift (10, 20, 30).
// Every value along the way is a small dyadic number, so the result is exact: c = 0, σ = 8, and
// the single Newton step has g = 0, q = 0, K = diag(4, 4, 8).
TYPED_TEST(Hel3dTest, WorkedExampleIsExactInBothModes) {
  using T = TypeParam;
  using V = Variante<T>;
  const std::vector<T> origen = {1, 0, 0, 0, 1, 0, -1, 0, 0, 0, -1, 0};
  const std::vector<T> destino = {10, 22, 30, 8, 20, 30, 10, 18, 30, 12, 20, 30};
  typename V::Registro hel[2];
  for (int32_t en_sitio : {0, 1}) {
    SCOPED_TRACE(en_sitio);
    Conjunto<T> c{origen, destino};
    auto p = c.punteros();
    float kinv[9];
    ASSERT_EQ(V::estima(p.data(), c.n(), &hel[en_sitio], 1, en_sitio, kinv), 0);
    const typename V::Registro& h = hel[en_sitio];
    for (int i = 0; i < 3; ++i) EXPECT_EQ(h.centro_origen[i], T(0));
    EXPECT_EQ(h.centro_destino[0], T(10));
    EXPECT_EQ(h.centro_destino[1], T(20));
    EXPECT_EQ(h.centro_destino[2], T(30));
    EXPECT_EQ(h.escala, T(2));
    const T r[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    for (int e = 0; e < 9; ++e) EXPECT_EQ(h.rotacion[e], r[e]) << e;
    const float k[9] = {0.25f, 0, 0, 0, 0.25f, 0, 0, 0, 0.125f};
    for (int e = 0; e < 9; ++e) EXPECT_EQ(kinv[e], k[e]) << e;
    EXPECT_EQ(c.origen, origen);
    const std::vector<T> centrados = {0, 2, 0, -2, 0, 0, 0, -2, 0, 2, 0, 0};
    EXPECT_EQ(c.destino, en_sitio ? centrados : destino);
  }
  EXPECT_EQ(std::memcmp(&hel[0], &hel[1], sizeof hel[0]), 0);
}

// Noise-free similarities: the estimate equals the truth to within rounding. The data carry one
// rounding per coordinate, the moments sum 12 products and the rotation passes through a few
// 3×3 products: 8 units of T's epsilon per rotation entry, relative errors of the same order for
// the scale and for the mapped points (of size ~400·escala).
struct CasoExacto {
  const char* nombre;
  Vec3 eje;
  Real angulo;
  Real escala;
  int32_t general;  // 1: n = 12 and the general start; 0: planar start, about z only
};
const CasoExacto kExactos[] = {
    {"30° about z", {{0, 0, 1}}, 0.5235987755982988731L, 2, 0},
    {"-135° about z, shrink", {{0, 0, 1}}, -2.356194490192344929L, 0.25L, 0},
    {"179° about z", {{0, 0, 1}}, 3.124139361069006L, 1.5L, 0},
    {"oblique axis, 1 rad", {{1, 2, -2}}, 1, 3, 1},
    {"170° about x", {{1, 0, 0}}, 2.967059728390360280L, 1, 1},
    {"oblique axis, 2.5 rad", {{-0.3L, 0.9L, 0.2L}}, 2.5L, 0.7L, 1},
};

TYPED_TEST(Hel3dTest, ExactSimilaritiesAreRecovered) {
  using T = TypeParam;
  using V = Variante<T>;
  for (const CasoExacto& caso : kExactos) {
    SCOPED_TRACE(caso.nombre);
    const Rot r = rotacion(caso.eje, caso.angulo);
    Conjunto<T> c = genera<T>(12, {{50, -20, 5}}, 100, r, caso.escala, {{-300, 400, 80}}, 0, 7);
    auto p = c.punteros();
    typename V::Registro h;
    ASSERT_EQ(V::estima(p.data(), c.n(), &h, caso.general, 0, nullptr), 0);
    const Real eps = std::numeric_limits<T>::epsilon();
    EXPECT_LT(diferencia_maxima(h, r), 8 * eps);
    EXPECT_NEAR(h.escala, caso.escala, 8 * eps * caso.escala);
    // Every source point lands on its target: this checks both centroids together.
    for (uint32_t k = 0; k < c.n(); ++k) {
      Real a[3];
      for (int j = 0; j < 3; ++j) a[j] = Real(c.origen[3 * k + j]) - h.centro_origen[j];
      for (int i = 0; i < 3; ++i) {
        const Real ra = h.rotacion[3 * i] * a[0] + h.rotacion[3 * i + 1] * a[1] + h.rotacion[3 * i + 2] * a[2];
        EXPECT_NEAR(h.centro_destino[i] + h.escala * ra, c.destino[3 * k + i], 400 * caso.escala * 16 * eps);
      }
    }
  }
}

// n = 8 is one pair short of the general start: the flag must change nothing, bit for bit. On a
// rotation of 170° about x the planar start cannot reach the answer and must say so (status 1);
// from n = 9 on, the general start finds it.
TYPED_TEST(Hel3dTest, GeneralStartNeedsNinePairsAndFindsHalfTurnsTheZStartMisses) {
  using T = TypeParam;
  using V = Variante<T>;
  const Rot r = rotacion({{1, 0, 0}}, 2.967059728390360280L);
  for (uint32_t n : {8u, 9u}) {
    SCOPED_TRACE(n);
    Conjunto<T> c = genera<T>(n, {{0, 0, 0}}, 50, r, 1, {{10, 10, 10}}, 0, 11);
    auto p = c.punteros();
    typename V::Registro plano, general;
    float k_plano[9], k_general[9];
    EXPECT_EQ(V::estima(p.data(), n, &plano, 0, 0, k_plano), 1);
    EXPECT_GT(diferencia_maxima(plano, r), 0.5L);
    const int32_t estado = V::estima(p.data(), n, &general, 1, 0, k_general);
    if (n == 8) {
      EXPECT_EQ(estado, 1);
      EXPECT_EQ(std::memcmp(&plano, &general, sizeof plano), 0);
      EXPECT_EQ(std::memcmp(k_plano, k_general, sizeof k_plano), 0);
    } else {
      EXPECT_EQ(estado, 0);
      EXPECT_LT(diferencia_maxima(general, r), 8 * std::numeric_limits<T>::epsilon());
    }
  }
}

// Targets that are copies of the sources: identical sums give a scale of exactly 1 and equal
// centroids; the rotation is the identity to within rounding.
TYPED_TEST(Hel3dTest, IdenticalSetsGiveUnitScaleAndIdentity) {
  using T = TypeParam;
  using V = Variante<T>;
  const Rot identidad = rotacion({{0, 0, 1}}, 0);
  for (int32_t general : {0, 1}) {
    SCOPED_TRACE(general);
    Conjunto<T> c = genera<T>(10, {{1000, 2000, 300}}, 100, identidad, 1, {{0, 0, 0}}, 0, 3);
    c.destino = c.origen;
    auto p = c.punteros();
    typename V::Registro h;
    ASSERT_EQ(V::estima(p.data(), c.n(), &h, general, 0, nullptr), 0);
    EXPECT_EQ(h.escala, T(1));
    EXPECT_EQ(std::memcmp(h.centro_origen, h.centro_destino, sizeof h.centro_origen), 0);
    EXPECT_LT(diferencia_maxima(h, identidad), 16 * std::numeric_limits<T>::epsilon());
  }
}

// Geocentric-like coordinates (~6.4e6 m, spread ±300 m, 1 cm noise) for the double twin; local
// ones for the float twin, whose 24-bit significand cannot hold centimetres at 6.4e6 m. Both
// starts must end at the least-squares rotation with status 0, and scratch and in-place modes must
// agree bit for bit. The bound: the gradient is summed in floats, but near the optimum each term
// r × b is only (residual)·(spread), so its float rounding moves the maximiser by about
// float epsilon · ruido/radio relative to K ~ Σ|a|·|b|; 64 of those (2.5e-10) for the double twin.
// The float twin's data are themselves rounded to float epsilon: 8 of those.
TYPED_TEST(Hel3dTest, NoisyFitsMatchTheLeastSquaresRotation) {
  using T = TypeParam;
  using V = Variante<T>;
  const bool doble = sizeof(T) == 8;
  const Vec3 origen = doble ? Vec3{{4510731.25L, 812345.5L, 4409012.75L}} : Vec3{{800, -300, 50}};
  const Vec3 destino = doble ? Vec3{{4510611.0L, 812431.0L, 4409163.0L}} : Vec3{{-40, 60, 10}};
  const Real radio = 300, ruido = 0.01L, eps_fl = std::numeric_limits<float>::epsilon();
  const Real tolerancia = doble ? 64 * eps_fl * ruido / radio : 8 * eps_fl;
  struct Caso { const char* nombre; Rot r; int32_t general; };
  const Caso casos[] = {
      {"datum-like: 0.7 rad about z, arc-second tilts", rotacion({{2e-5L, -1e-5L, 1}}, 0.7L), 0},
      {"datum-like, general start", rotacion({{2e-5L, -1e-5L, 1}}, 0.7L), 1},
      {"oblique 0.4 rad, general start", rotacion({{1, 2, -2}}, 0.4L), 1},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nombre);
    const Conjunto<T> c = genera<T>(40, origen, radio, caso.r, 1 + 3e-6L, destino, ruido, 17);
    const Rot optima = rotacion_optima(c);
    typename V::Registro h[3];
    Conjunto<T> copia = c;
    auto p = copia.punteros();
    ASSERT_EQ(V::estima(p.data(), c.n(), &h[0], caso.general, 0, nullptr), 0);
    ASSERT_EQ(V::estima(p.data(), c.n(), &h[1], caso.general, 1, nullptr), 0);
    EXPECT_EQ(std::memcmp(&h[0], &h[1], sizeof h[0]), 0);
    EXPECT_LT(diferencia_maxima(h[0], optima), tolerancia);
    // A second in-place call sees the centred points: zero centroids to within the rounding of
    // the coordinates, and the same fit to within rounding.
    ASSERT_EQ(V::estima(p.data(), c.n(), &h[2], caso.general, 1, nullptr), 0);
    const Real eps = std::numeric_limits<T>::epsilon();
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(h[2].centro_origen[i], 0, 16 * eps * (std::fabs(origen.v[i]) + radio));
      EXPECT_NEAR(h[2].centro_destino[i], 0, 16 * eps * (std::fabs(destino.v[i]) + radio));
    }
    EXPECT_NEAR(h[2].escala, h[0].escala, 16 * eps);
    EXPECT_LT(diferencia_maxima(h[2], optima), tolerancia);
  }
}

// Degenerate sets: the record cannot mean anything, and the status must say so rather than 0.
TYPED_TEST(Hel3dTest, DegenerateSetsAreReportedNotFinite) {
  using T = TypeParam;
  using V = Variante<T>;
  const T nan = std::numeric_limits<T>::quiet_NaN();
  struct Caso { const char* nombre; std::vector<T> origen, destino; int32_t general; };
  std::vector<Caso> casos = {
      {"no pairs", {}, {}, 0},
      {"all sources equal", {1, 2, 3, 1, 2, 3, 1, 2, 3}, {0, 0, 0, 1, 0, 0, 0, 1, 0}, 0},
      {"all on the z axis", {0, 0, 1, 0, 0, 2, 0, 0, 3}, {0, 0, 2, 0, 0, 4, 0, 0, 6}, 0},
      {"all on the x axis", {1, 0, 0, 2, 0, 0, 4, 0, 0}, {0, 1, 0, 0, 2, 0, 0, 4, 0}, 0},
      {"a NaN coordinate", {1, 0, 0, 0, 1, 0, nan, 0, 1}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0},
  };
  // Nine sources in the plane z = 0 with the general start: N is singular.
  Caso plano{"flat sources, general start", {}, {}, 1};
  for (int k = 0; k < 9; ++k) {
    const T o[3] = {T(k % 3), T(k / 3 + (k % 2)), 0};
    const T d[3] = {o[1], -o[0], T(k)};
    plano.origen.insert(plano.origen.end(), o, o + 3);
    plano.destino.insert(plano.destino.end(), d, d + 3);
  }
  casos.push_back(plano);
  for (Caso& caso : casos) {
    SCOPED_TRACE(caso.nombre);
    Conjunto<T> c{caso.origen, caso.destino};
    auto p = c.punteros();
    typename V::Registro h;
    float kinv[9];
    EXPECT_EQ(V::estima(p.data(), c.n(), &h, caso.general, 0, kinv), -1);
  }
}

// 48·0xFFFFFFFF bytes (24· for floats, ~100-200 GB) is more than this machine grants: the call must
// report −2 and leave record, inverse and points as they were. The points are never read.
TYPED_TEST(Hel3dTest, RefusedScratchTouchesNothing) {
  using T = TypeParam;
  using V = Variante<T>;
  Conjunto<T> c{{1, 2, 3}, {4, 5, 6}};
  auto p = c.punteros();
  typename V::Registro h, antes;
  std::memset(&h, 0x5A, sizeof h);
  antes = h;
  float kinv[9], kinv_antes[9];
  std::memset(kinv, 0x5A, sizeof kinv);
  std::memcpy(kinv_antes, kinv, sizeof kinv);
  EXPECT_EQ(V::estima(p.data(), 0xFFFFFFFFu, &h, 1, 0, kinv), -2);
  EXPECT_EQ(std::memcmp(&h, &antes, sizeof h), 0);
  EXPECT_EQ(std::memcmp(kinv, kinv_antes, sizeof kinv), 0);
  EXPECT_EQ(c.origen, (std::vector<T>{1, 2, 3}));
  EXPECT_EQ(c.destino, (std::vector<T>{4, 5, 6}));
}

}  // namespace

namespace {

// The scratch copy and the caller's points are two stores of the same centred pairs, read by
// different loops (the copy's laid out for several pairs at a time); the arithmetic on them must
// agree to the bit. Counts around the vector widths and their remainders, both starts, noise.
TYPED_TEST(Hel3dTest, ScratchCopyAndInPlaceAgreeBitForBit) {
  using T = TypeParam;
  using V = Variante<T>;
  const Rot r = rotacion({{0.3L, -0.5L, 0.8L}}, 0.7L);
  for (uint32_t n : {3u, 4u, 5u, 8u, 9u, 10u, 11u, 17u, 64u, 1001u}) {
    for (int32_t general : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "n = " << n << ", general = " << general);
      Conjunto<T> datos = genera<T>(n, {{500, -300, 80}}, 150, r, 1.25L, {{4e3L, 2e3L, 100}},
                                    0.05L, 77 + n);
      Conjunto<T> copia = datos;
      typename V::Registro en_copia, en_sitio;
      float k_copia[9], k_sitio[9];
      const int32_t e_copia = V::estima(datos.punteros().data(), n, &en_copia, general, 0, k_copia);
      const int32_t e_sitio = V::estima(copia.punteros().data(), n, &en_sitio, general, 1, k_sitio);
      EXPECT_EQ(e_copia, e_sitio);
      EXPECT_EQ(0, std::memcmp(&en_copia, &en_sitio, sizeof en_copia));
      EXPECT_EQ(0, std::memcmp(k_copia, k_sitio, sizeof k_copia));
    }
  }
}

}  // namespace
