// The precision of transformed points: the covariance written for every model equals J·Σ·Jᵀ with
// J the numerical derivative of the model as documented (which must also give apply's points),
// near the centroid and far from it, with and without the points' own covariance; it matches the
// spread of the image over refits on re-noised data; both kernels give the same bits in every
// layout; and bad arguments are refused.
#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "comun.hpp"

namespace {

using Real = long double;

constexpr int kModelos[] = {ORIENTA_HELMERT3D, ORIENTA_RIGIDO3D, ORIENTA_HELMERT2D,
                            ORIENTA_AFIN2D,    ORIENTA_POLI2D_2, ORIENTA_POLI2D_3};

int dimension(int modelo) { return modelo == ORIENTA_HELMERT3D || modelo == ORIENTA_RIGIDO3D ? 3 : 2; }

// The map as the header states it, from the parameters alone (orienta_parametros' order):
// R = Rz(κ)·Ry(φ)·Rx(ω) for the 3D models, the polynomials about the source centroid.
std::vector<Real> imagen(int modelo, const orienta_transformacion& t, const std::vector<Real>& q, const Real* x) {
  if (dimension(modelo) == 3) {
    using V = Eigen::Matrix<Real, 3, 1>;
    const auto giro = [](Real a, const V& eje) { return Eigen::AngleAxis<Real>(a, eje).toRotationMatrix(); };
    const Real s = modelo == ORIENTA_RIGIDO3D ? 1 : q[6];
    const V p(x[0], x[1], x[2]),
        y = V(q[0], q[1], q[2]) + s * giro(q[5], V::UnitZ()) * giro(q[4], V::UnitY()) * giro(q[3], V::UnitX()) * p;
    return {y[0], y[1], y[2]};
  }
  if (modelo == ORIENTA_HELMERT2D) {
    const Real c = q[3] * std::cos(q[2]), s = q[3] * std::sin(q[2]);
    return {q[0] + c * x[0] - s * x[1], q[1] + s * x[0] + c * x[1]};
  }
  if (modelo == ORIENTA_AFIN2D) return {q[0] + q[2] * x[0] + q[3] * x[1], q[1] + q[4] * x[0] + q[5] * x[1]};
  const Real dx = x[0] - t.centro_origen[0], dy = x[1] - t.centro_origen[1];
  const Real tau[9] = {dx, dy, dx * dx, dx * dy, dy * dy, dx * dx * dx, dx * dx * dy, dx * dy * dy, dy * dy * dy};
  const size_t m = modelo == ORIENTA_POLI2D_2 ? 5 : 9;
  std::vector<Real> y = {q[0], q[1]};
  for (size_t k = 0; k < m; ++k) y[0] += q[2 + k] * tau[k], y[1] += q[2 + m + k] * tau[k];
  return y;
}

struct Ajuste {
  orienta_transformacion t;
  orienta_estadisticas e;
};

// Pairs on projected coordinates with centimetre noise; the truth is a turn, a scale and a bend.
Ajuste ajusta(int modelo, uint64_t semilla) {
  std::mt19937_64 g(semilla);
  std::uniform_real_distribution<double> u(-800, 800);
  std::normal_distribution<double> e(0, 0.01);
  const int d = dimension(modelo);
  std::mt19937_64 fija(99);  // the same source points whatever the noise
  std::vector<double> o, t, s;
  for (int i = 0; i < 15; ++i) {
    // In 3D the target tilted by 0.4 rad about x and −0.3 about y, so that every angle's derivative
    // counts.
    using Eigen::AngleAxisd, Eigen::Vector3d;
    const Vector3d f{u(fija), u(fija), 0.05 * u(fija)};
    const Vector3d a =
        d == 2 ? f : Vector3d(AngleAxisd(-0.3, Vector3d::UnitY()) * AngleAxisd(0.4, Vector3d::UnitX()) * f);
    const double c = std::cos(0.7), sn = std::sin(0.7);
    const double y[3] = {4.1e5 + 0.9999 * (c * a[0] - sn * a[1]) + 3e-7 * a[1] * a[1],
                         4.6e6 + 0.9999 * (sn * a[0] + c * a[1]) + 2e-10 * a[0] * a[0] * a[1], 200 + a[2] + 1e-4 * a[0]};
    for (int k = 0; k < d; ++k) o.push_back(f[k] + (k < 2 ? 2e5 : 0)), t.push_back(y[k] + e(g));
    s.push_back(0.01);
  }
  const orienta_pares p{o.data(), 8 * d, t.data(), 8 * d, 15, s.data(), 1, 0};
  Ajuste a;
  EXPECT_EQ(orienta_ajusta(modelo, &p, &a.t, &a.e, nullptr), ORIENTA_OK);
  return a;
}

// Where the records of a call lie: doubles of gap after each point and each covariance, images
// over the points, or every array walked from its last record with negative strides.
struct Disposicion {
  const char* nombre;
  size_t hueco_punto, hueco_cov;
  bool en_sitio, al_reves;
};
const Disposicion kDisposiciones[] = {{"packed", 0, 0, false, false},
                                      {"gaps", 1, 3, false, false},
                                      {"in place", 2, 0, true, false},
                                      {"reversed", 1, 2, false, true}};

struct Resultado {
  int64_t malos;
  std::vector<double> y, C;
  std::vector<uint8_t> fallo;
};

bool mismos(const double* a, const double* b, size_t n) {
  for (size_t k = 0; k < n; ++k)
    if (!(std::isnan(a[k]) && std::isnan(b[k])) && std::memcmp(&a[k], &b[k], sizeof(double)) != 0) return false;
  return true;
}

// One call on n points x (d a record) and their covariances cx (or null) laid out as z; the
// images and covariances read back in point order. The gaps must keep what was there.
Resultado calcula(const Ajuste& a, int d, const double* x, const double* cx, size_t n, const Disposicion& z) {
  const size_t dd = size_t(d), pp = dd + z.hueco_punto, pc = dd * dd + z.hueco_cov;
  const double kRelleno = -7.25;
  std::vector<double> e(n * pp, kRelleno), ce(n * pc, kRelleno), s(n * pp, kRelleno), cs(n * pc, kRelleno);
  auto r = [&](size_t k) { return z.al_reves ? n - 1 - k : k; };
  for (size_t k = 0; k < n; ++k) {
    std::copy(&x[k * dd], &x[k * dd] + dd, &e[r(k) * pp]);
    if (cx) std::copy(&cx[k * dd * dd], &cx[k * dd * dd] + dd * dd, &ce[r(k) * pc]);
  }
  double* salida = z.en_sitio ? e.data() : s.data();
  const size_t primero = z.al_reves ? n - 1 : 0;
  const int64_t signo = z.al_reves ? -1 : 1, paso = signo * int64_t(8 * pp), paso_cov = signo * int64_t(8 * pc);
  Resultado res{0, {}, {}, std::vector<uint8_t>(n, 9)};
  res.malos = orienta_aplica_precision(&a.t, a.e.covarianza, e.data() + primero * pp, paso,
                                       cx ? ce.data() + primero * pc : nullptr, paso_cov, salida + primero * pp, paso,
                                       cs.data() + primero * pc, paso_cov, n, res.fallo.data());
  for (size_t k = 0; k < n; ++k) {
    res.y.insert(res.y.end(), salida + r(k) * pp, salida + r(k) * pp + dd);
    res.C.insert(res.C.end(), &cs[r(k) * pc], &cs[r(k) * pc] + dd * dd);
    for (size_t j = dd; j < pp; ++j) EXPECT_EQ(salida[r(k) * pp + j], kRelleno) << "gap after image " << k;
    for (size_t j = dd * dd; j < pc; ++j) EXPECT_EQ(cs[r(k) * pc + j], kRelleno) << "gap after covariance " << k;
  }
  return res;
}

TEST(Precision, IgualAlJacobianoNumerico) {
  for (const int modelo : kModelos) {
    SCOPED_TRACE(modelo);
    const int d = dimension(modelo);
    const Ajuste a = ajusta(modelo, 5);
    const int u = a.e.num_parametros;
    double qd[ORIENTA_MAX_PARAMETROS];
    ASSERT_EQ(orienta_parametros(&a.t, qd), ORIENTA_OK);
    const std::vector<Real> q(qd, qd + u);
    // The centroid, a point of the site, one 5 km out; each with a point covariance.
    const double x[3][3] = {{a.t.centro_origen[0], a.t.centro_origen[1], a.t.centro_origen[2]},
                            {2e5 + 300, -450, 12},
                            {2e5 + 5000, 4000, 30}};
    const double sx[9] = {4e-4, 1e-4, 0, 1e-4, 9e-4, 0, 0, 0, 1e-4};
    std::vector<double> puntos, cx;
    for (const auto& p : x) {
      puntos.insert(puntos.end(), p, p + d);
      for (int i = 0; i < d; ++i)
        for (int j = 0; j < d; ++j) cx.push_back(sx[3 * i + j]);
    }
    for (const bool con_x : {false, true}) {
      const Resultado res = calcula(a, d, puntos.data(), con_x ? cx.data() : nullptr, 3, kDisposiciones[0]);
      ASSERT_EQ(res.malos, 0);
      for (int k = 0; k < 3; ++k) {
        // The parameters, then the point: central differences in each, steps scaled to each.
        std::vector<Real> z(q);
        z.insert(z.end(), &puntos[d * k], &puntos[d * k] + d);
        const std::vector<Real> y0 = imagen(modelo, a.t, q, &z[u]);
        for (int i = 0; i < d; ++i) EXPECT_NEAR(double(y0[i]), res.y[d * k + i], 1e-6) << "the model";
        Real J[3][ORIENTA_MAX_PARAMETROS + 3];
        for (int b = 0; b < u + d; ++b) {
          const Real h = b >= u ? 1e-3L : 1e-6L * std::max<Real>(std::fabs(q[b]), b < d ? 1.0L : 1e-3L);
          std::vector<Real> mas = z, menos = z;
          mas[b] += h, menos[b] -= h;
          const auto a1 = imagen(modelo, a.t, mas, &mas[u]), a0 = imagen(modelo, a.t, menos, &menos[u]);
          for (int i = 0; i < d; ++i) J[i][b] = (a1[i] - a0[i]) / (2 * h);
        }
        // J·Σ·Jᵀ, Σ the parameters' covariance and (with Sx) the point's beside it. Entries to 1e-6
        // of the matrix' scale: an off-diagonal entry that is zero in truth (a similarity's
        // isotropic spread) is within the numerical derivative's noise of it.
        auto sigma = [&](int m, int l) -> Real {
          if (m < u && l < u) return a.e.covarianza[m * u + l];
          return con_x && m >= u && l >= u ? sx[3 * (m - u) + l - u] : 0;
        };
        const double* Ck = res.C.data() + d * d * k;
        for (int i = 0; i < d; ++i)
          for (int j = 0; j < d; ++j) {
            Real r = 0;
            for (int m = 0; m < u + d; ++m)
              for (int l = 0; l < u + d; ++l) r += J[i][m] * sigma(m, l) * J[j][l];
            EXPECT_NEAR(Ck[d * i + j], double(r), 1e-6 * std::sqrt(Ck[d * i + i] * Ck[d * j + j]))
                << "point " << k << " entry " << i << j << (con_x ? " with Sx" : "");
            EXPECT_EQ(Ck[d * i + j], Ck[d * j + i]) << "symmetric";
          }
      }
    }
  }
}

// Refits on re-noised pairs: the spread of a point's image is what the cofactors propagate (with
// σ given, the covariance over σ0² is the a priori one). 2000 refits put the sample variance
// within about 3 % of its value; the bound is far wider, and the seeds are fixed.
TEST(Precision, ComoLaDispersionDeLosAjustes) {
  for (const int modelo : {ORIENTA_HELMERT3D, ORIENTA_HELMERT2D, ORIENTA_POLI2D_3}) {
    SCOPED_TRACE(modelo);
    const int d = dimension(modelo);
    const Ajuste base = ajusta(modelo, 1);
    const double x[3] = {2e5 + 700, 650, 20}, s02 = base.e.sigma0 * base.e.sigma0;
    const Resultado b = calcula(base, d, x, nullptr, 1, kDisposiciones[0]);  // C / σ0²: a priori
    const int veces = 2000;
    Real suma[3] = {}, cuadrados[3] = {};  // of the image's departures from the base fit's
    for (int r = 0; r < veces; ++r) {
      const Ajuste a = ajusta(modelo, 1000 + uint64_t(r));
      double z[3];
      ASSERT_EQ(orienta_aplica(&a.t, 0, x, 8 * d, z, 8 * d, 1, nullptr), 0);
      for (int i = 0; i < d; ++i) suma[i] += z[i] - b.y[i], cuadrados[i] += Real(z[i] - b.y[i]) * (z[i] - b.y[i]);
    }
    for (int i = 0; i < d; ++i) {
      const double muestra = double((cuadrados[i] - suma[i] * suma[i] / veces) / (veces - 1));
      EXPECT_NEAR(muestra * s02 / b.C[d * i + i], 1.0, 0.15) << "coordinate " << i;
    }
  }
}

// The AVX2 kernel takes four points per vector and the portable one two, the last few filling a
// vector by repeating the last point: counts around those widths, in every layout, with and
// without the points' covariances, must give the portable bits (a NaN matches any NaN), and each
// point the covariance it gets alone (no lane sees another's values). In the second draw the odd
// points hold a non-finite or extreme coordinate and covariance entry.
TEST(Precision, NucleosIgualesYPuntoAPunto) {
  const bool avx2 = orienta_nucleos(1) == 1;
  std::mt19937_64 g(77);
  std::uniform_real_distribution<double> u(-3000, 3000), v(0.5, 2);
  const double raros[] = {INFINITY, NAN, 1e300, -1e-310, 0.0, 1e155};
  for (const int modelo : kModelos) {
    const int d = dimension(modelo);
    const size_t dd = size_t(d);
    const Ajuste a = ajusta(modelo, 11);
    for (const bool especiales : {false, true})
      for (const uint64_t n : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 9u, 13u}) {
        std::vector<double> x, cx;
        for (uint64_t k = 0; k < n; ++k) {
          for (size_t i = 0; i < dd; ++i) x.push_back(a.t.centro_origen[i] + (k == 0 ? 0.0 : u(g)));
          const double s0 = 1e-4 * v(g), s1 = 1e-4 * v(g), r = 5e-5 * (v(g) - 1);
          const double S[9] = {s0, r, 0, r, s1, 2 * r, 0, 2 * r, s0 + s1};
          for (size_t i = 0; i < dd; ++i) cx.insert(cx.end(), S + 3 * i, S + 3 * i + dd);
          if (especiales && k % 2 == 1) {
            x[k * dd + k % dd] = raros[k % 6];
            cx[k * dd * dd + (k / 2) % (dd * dd)] = raros[(k + 1) % 6];
          }
        }
        for (const bool con_x : {false, true})
          for (const Disposicion& z : kDisposiciones) {
            SCOPED_TRACE(::testing::Message() << "model " << modelo << ", n = " << n << ", " << z.nombre
                                              << (con_x ? ", with Sx" : "") << (especiales ? ", special" : ""));
            Resultado r[2];
            for (int32_t nucleos : {0, 1}) {
              if (nucleos == 1 && !avx2) continue;
              ASSERT_EQ(orienta_nucleos(nucleos), nucleos);
              r[nucleos] = calcula(a, d, x.data(), con_x ? cx.data() : nullptr, n, z);
              // A point without an image is flagged, counted, and its covariance NaN.
              int64_t sin_imagen = 0;
              for (uint64_t k = 0; k < n; ++k) {
                const bool sin = std::isnan(r[nucleos].y[k * dd]);
                sin_imagen += sin;
                EXPECT_EQ(r[nucleos].fallo[k], sin) << k;
                EXPECT_TRUE(!sin || std::isnan(r[nucleos].C[k * dd * dd])) << k;
              }
              EXPECT_EQ(r[nucleos].malos, sin_imagen);
              EXPECT_TRUE(especiales || sin_imagen == 0);
              for (uint64_t k = 0; k < n; ++k) {
                const auto solo = calcula(a, d, &x[k * dd], con_x ? &cx[k * dd * dd] : nullptr, 1, kDisposiciones[0]);
                EXPECT_TRUE(mismos(solo.C.data(), &r[nucleos].C[k * dd * dd], dd * dd))
                    << "point " << k << " alone, kernels " << nucleos;
              }
            }
            if (!avx2) continue;
            EXPECT_EQ(r[0].malos, r[1].malos);
            EXPECT_TRUE(mismos(r[0].y.data(), r[1].y.data(), n * dd)) << "images";
            EXPECT_TRUE(mismos(r[0].C.data(), r[1].C.data(), n * dd * dd)) << "covariances";
            EXPECT_EQ(r[0].fallo, r[1].fallo);
          }
      }
  }
  orienta_nucleos(1);
}

TEST(Precision, Rechazos) {
  const Ajuste a = ajusta(ORIENTA_HELMERT2D, 3);
  double x[2] = {2e5, 0}, y[2], C[4];
  double malo[16];
  std::copy(a.e.covarianza, a.e.covarianza + 16, malo);
  malo[5] = NAN;
  orienta_transformacion roto = a.t;
  roto.escala = -1;
  auto llama = [&](const orienta_transformacion* t, const double* cov, double* salida_cov) {
    return orienta_aplica_precision(t, cov, x, 16, nullptr, 0, y, 16, salida_cov, 32, 1, nullptr);
  };
  EXPECT_EQ(llama(&a.t, nullptr, C), ORIENTA_E_ARGUMENTO) << "null covariance";
  EXPECT_EQ(llama(&a.t, malo, C), ORIENTA_E_REG_NO_FINITO) << "NaN in the covariance";
  EXPECT_EQ(llama(&roto, a.e.covarianza, C), ORIENTA_E_REG_INCOHERENTE) << "invalid record";
  EXPECT_EQ(llama(&a.t, a.e.covarianza, nullptr), ORIENTA_E_ARGUMENTO) << "no output";
}

}  // namespace
