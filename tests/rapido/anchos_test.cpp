// The wide kernels against the portable ones: every estimator that has a wide kernel runs both ways
// on the same data, and every output must carry the same bits (a NaN matches any NaN, as the header
// allows). Data sets mix ordinary survey coordinates with the values that test an addition order:
// NaN, ±∞, huge, tiny and subnormal values, signed zeros, exact cancellations; the counts straddle
// the vector widths.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "comun.hpp"
#include "gemelos.hpp"

namespace {

using namespace prueba;

template <class T>
class AnchosTest : public ::testing::Test {};
TYPED_TEST_SUITE(AnchosTest, Escalares);

// Both kernels may only differ in a NaN's sign and payload.
template <class T>
bool mismos_resultados(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k)
    if (!(std::isnan(a[k]) && std::isnan(b[k])) && std::memcmp(&a[k], &b[k], sizeof(T)) != 0) return false;
  return true;
}

template <class R, class T>
void agrega(std::vector<T>& v, const R& r) {
  static_assert(sizeof(R) % sizeof(T) == 0, "records of whole scalars");
  const size_t k = v.size();
  v.resize(k + sizeof(R) / sizeof(T));
  std::memcpy(&v[k], &r, sizeof(R));
}

// Every output of every estimator with a wide kernel, on n pairs given as (xs, ys, zs, xt, yt, zt):
// the 2D estimators read x and y, the 3D ones all three.
template <class T>
std::vector<T> todo(const std::vector<T>& seis, uint32_t n) {
  std::vector<T> v;
  // 2D layouts: pointers into the six-scalar records (a stride of 3 scalars for strided forms,
  // walked backwards for the source of mixed), packed copies for p and pp.
  std::vector<const T*> P;
  std::vector<T> A, S, D;
  for (uint32_t i = 0; i < n; ++i) {
    const T* o = &seis[6 * i];
    P.insert(P.end(), {o, o + 3});
    A.insert(A.end(), {o[0], o[1], o[3], o[4]});
    S.insert(S.end(), {o[0], o[1]});
    D.insert(D.end(), {o[3], o[4]});
  }
  std::vector<T> invertidos(seis.size());
  for (uint32_t i = 0; i < n; ++i) std::memcpy(&invertidos[6 * (n - 1 - i)], &seis[6 * i], 6 * sizeof(T));
  const int64_t s3 = 3 * sizeof(T), s6 = 6 * sizeof(T);
  agrega(v, ptr(P.data(), n));
  agrega(v, p(A.data(), n));
  agrega(v, pp(S.data(), D.data(), n));
  agrega(v, g(seis.data(), s3, n));
  agrega(v, gg(seis.data(), seis.data() + 3, s6, n));
  agrega(v, mixed(n ? &invertidos[6 * (n - 1)] : invertidos.data(), -s6, D.data(), int64_t(2 * sizeof(T)), n));
  for (uint32_t tipo : {3u, 6u, 7u}) {
    Polinomica<T> t{};
    t.tipo = tipo;
    estima(&t, P.data(), n);
    agrega(v, t.coef_x);
    agrega(v, t.coef_y);
    v.insert(v.end(), {t.xc_origen, t.yc_origen, t.x0_destino, t.y0_destino});
  }
  for (int32_t general : {0, 1})
    for (int32_t en_sitio : {0, 1}) {
      std::vector<T> puntos = seis;
      std::vector<T*> Q;
      for (uint32_t i = 0; i < n; ++i) Q.insert(Q.end(), {&puntos[6 * i], &puntos[6 * i + 3]});
      Hel3Dg<T> h{};
      float inversa[9] = {};
      v.push_back(T(hel3d(Q.data(), n, &h, general, en_sitio, inversa)));
      agrega(v, h);
      v.insert(v.end(), inversa, inversa + 9);
      if (en_sitio) v.insert(v.end(), puntos.begin(), puntos.end());
    }
  return v;
}

TYPED_TEST(AnchosTest, WideAndPortableKernelsAgreeBitForBit) {
  using T = TypeParam;
  if (orienta_nucleos(1) != 1) GTEST_SKIP() << "no AVX2 on this processor";
  const T inf = std::numeric_limits<T>::infinity(), nan = std::numeric_limits<T>::quiet_NaN();
  const T raros[] = {nan,
                     inf,
                     -inf,
                     std::numeric_limits<T>::max() / T(4),
                     std::numeric_limits<T>::min(),
                     std::numeric_limits<T>::denorm_min() * T(3),
                     T(-0.0),
                     T(0),
                     T(1e-30)};
  std::mt19937 azar(20261206);
  std::uniform_real_distribution<double> u(-1, 1);
  // One value of each data set; k is the scalar's index within its six-scalar record.
  struct Datos {
    const char* nombre;
    T (*valor)(std::mt19937&, std::uniform_real_distribution<double>&, size_t k, const T* raros);
  };
  const Datos datos[] = {
      // A local grid tied into projected coordinates: the usual case, far from the origin.
      {"survey", [](auto& a, auto& u, size_t k, const T*) { return T((k % 6 < 3 ? 0 : 4.6e6) + 1e3 * u(a)); }},
      // Small integers: many exact ties, zero terms and exact cancellations.
      {"integers", [](auto& a, auto& u, size_t, const T*) { return T(std::round(4 * u(a))); }},
      // Magnitudes spread over the whole exponent range: overflow, underflow and absorption.
      {"exponents",
       [](auto& a, auto& u, size_t, const T*) {
         return T(u(a) * std::ldexp(1.0, int(u(a) * std::numeric_limits<T>::max_exponent)));
       }},
      // One value in twelve drawn from the special values above.
      {"special",
       [](auto& a, auto& u, size_t, const T* r) {
         const double x = u(a);
         return std::fabs(x) < 1.0 / 6 ? r[size_t(std::fabs(x) * 54)] : T(10 * x);
       }},
  };
  for (const Datos& d : datos)
    for (uint32_t n : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 10u, 15u, 16u, 17u, 33u, 1001u})
      for (int repeticion = 0; repeticion < 4; ++repeticion) {
        SCOPED_TRACE(::testing::Message() << d.nombre << ", n = " << n << ", draw " << repeticion);
        std::vector<T> seis(6 * size_t(n));
        for (size_t k = 0; k < seis.size(); ++k) seis[k] = d.valor(azar, u, k, raros);
        ASSERT_EQ(orienta_nucleos(0), 0);
        const std::vector<T> portable = todo(seis, n);
        ASSERT_EQ(orienta_nucleos(1), 1);
        EXPECT_TRUE(mismos_resultados(portable, todo(seis, n)));
      }
}

// Centring in place reads each point as the earlier pairs left it: pairs that share a point, or
// whose points overlap by a scalar, inside one group of vector lanes must still see the portable
// order of reads and writes.
TYPED_TEST(AnchosTest, SharedAndOverlappingPointsInPlace) {
  using T = TypeParam;
  if (orienta_nucleos(1) != 1) GTEST_SKIP() << "no AVX2 on this processor";
  const uint32_t n = 13;
  std::vector<T> base(40);
  for (size_t k = 0; k < base.size(); ++k) base[k] = T(100 + 37 * ((k * 7) % 11)) + T(k) / T(8);
  // Source i starts at scalar (5·i) mod 11, so that sources overlap by one or two scalars; pairs
  // 2j and 2j + 1 share one target point.
  for (int32_t general : {0, 1}) {
    std::vector<T> salidas[2];
    for (int32_t nucleos : {0, 1}) {
      ASSERT_EQ(orienta_nucleos(nucleos), nucleos);
      std::vector<T> puntos = base;
      std::vector<T*> Q;
      for (uint32_t i = 0; i < n; ++i) Q.insert(Q.end(), {&puntos[(5 * i) % 11], &puntos[20 + 3 * (i / 2 % 5)]});
      Hel3Dg<T> h{};
      salidas[nucleos].push_back(T(hel3d(Q.data(), n, &h, general, 1, nullptr)));
      agrega(salidas[nucleos], h);
      salidas[nucleos].insert(salidas[nucleos].end(), puntos.begin(), puntos.end());
    }
    EXPECT_TRUE(mismos_resultados(salidas[0], salidas[1])) << "general start " << general;
  }
}

// 700 000 double pairs need a 33.6 MB scratch area, past the size from which it is taken in huge
// pages: both kernels, copy and in place, must still agree.
TEST(AnchosTest, LargeScratchAreaKeepsTheBits) {
  if (orienta_nucleos(1) != 1) GTEST_SKIP() << "no AVX2 on this processor";
  const uint32_t n = 700000;
  std::mt19937 azar(7);
  std::uniform_real_distribution<double> u(-1e3, 1e3);
  std::vector<double> seis(6 * size_t(n));
  for (size_t k = 0; k < seis.size(); ++k) seis[k] = (k % 6 < 3 ? 0 : 4.6e6) + u(azar);
  std::vector<double> salidas[2];
  for (int32_t nucleos : {0, 1}) {
    ASSERT_EQ(orienta_nucleos(nucleos), nucleos);
    for (int32_t en_sitio : {0, 1}) {
      std::vector<double> puntos = seis;
      std::vector<double*> Q;
      for (uint32_t i = 0; i < n; ++i) Q.insert(Q.end(), {&puntos[6 * i], &puntos[6 * i + 3]});
      Hel3Dg_dbl h{};
      ASSERT_GE(Hel3Dg___ptr_dbl(Q.data(), n, &h, 0, en_sitio, nullptr), 0);
      agrega(salidas[nucleos], h);
    }
  }
  EXPECT_TRUE(mismos_resultados(salidas[0], salidas[1]));
}

// Each estimate reads the setting once and hands the kind down to all its passes (the similarity
// and the normal equations of a polynomial fit, the three passes of the 3D fit). Calls made while
// another thread keeps switching kinds must still return the bits of a quiet run, and the switching
// must not race with them (the tsan preset watches this).
TYPED_TEST(AnchosTest, SwitchingKernelsDuringCallsChangesNoResult) {
  using T = TypeParam;
  if (orienta_nucleos(1) != 1) GTEST_SKIP() << "no AVX2 on this processor";
  const uint32_t n = 37;  // leftover pairs after groups of four and of eight
  std::mt19937 azar(11);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<T> seis(6 * size_t(n));
  for (size_t k = 0; k < seis.size(); ++k) seis[k] = T((k % 6 < 3 ? 0 : 4.6e6) + 1e3 * u(azar));
  const std::vector<T> quieto = todo(seis, n);

  std::atomic<bool> fin{false};
  std::thread conmutador([&fin] {
    for (int32_t k = 0; !fin.load(std::memory_order_relaxed); k ^= 1) orienta_nucleos(k);
  });
  bool iguales = true;
  for (int vuelta = 0; vuelta < 200 && iguales; ++vuelta) iguales = mismos_resultados(quieto, todo(seis, n));
  fin.store(true, std::memory_order_relaxed);
  conmutador.join();
  orienta_nucleos(1);
  EXPECT_TRUE(iguales);
}

TEST(AnchosTest, ControlOnlyActsOnKnownRequests) {
  const int32_t en_uso = orienta_nucleos(1);
  EXPECT_EQ(orienta_nucleos(7), en_uso);
  EXPECT_EQ(orienta_nucleos(-1), en_uso);
  EXPECT_EQ(orienta_nucleos(0), 0);
  EXPECT_EQ(orienta_nucleos(2), 0);
  EXPECT_EQ(orienta_nucleos(1), en_uso);
}

}  // namespace
