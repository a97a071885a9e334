// The precision of transformed points: the covariance written for every model equals J·Σ·Jᵀ with
// J the numerical derivative of the model as documented (which must also give apply's points),
// near the centroid and far from it, with and without the points' own covariance; it matches the
// spread of the image over refits on re-noised data; both kernels give the same bits in every
// layout; and bad arguments are refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "comun.hpp"

namespace {

using Real = long double;

struct Caso {
  int modelo;
  const char* nombre;
};
const Caso kModelos[] = {{ORIENTA_HELMERT3D, "helmert3d"}, {ORIENTA_RIGIDO3D, "rigid3d"},
                         {ORIENTA_HELMERT2D, "helmert2d"}, {ORIENTA_AFIN2D, "affine2d"},
                         {ORIENTA_POLI2D_2, "poly2d_2"},   {ORIENTA_POLI2D_3, "poly2d_3"}};

int dimension(int modelo) { return modelo == ORIENTA_HELMERT3D || modelo == ORIENTA_RIGIDO3D ? 3 : 2; }

// The map as the header states it, from the parameters alone (orienta_parametros' order).
std::vector<Real> imagen(int modelo, const orienta_transformacion& t, const std::vector<Real>& q, const Real* x) {
  const int d = dimension(modelo);
  std::vector<Real> y(static_cast<size_t>(d));
  if (d == 3) {
    const Real w = q[3], p = q[4], k = q[5], s = modelo == ORIENTA_RIGIDO3D ? 1 : q[6];
    const Real X[3][3] = {{1, 0, 0}, {0, std::cos(w), -std::sin(w)}, {0, std::sin(w), std::cos(w)}};
    const Real Y[3][3] = {{std::cos(p), 0, std::sin(p)}, {0, 1, 0}, {-std::sin(p), 0, std::cos(p)}};
    const Real Z[3][3] = {{std::cos(k), -std::sin(k), 0}, {std::sin(k), std::cos(k), 0}, {0, 0, 1}};
    Real a[3], b[3];
    for (int i = 0; i < 3; ++i) a[i] = X[i][0] * x[0] + X[i][1] * x[1] + X[i][2] * x[2];
    for (int i = 0; i < 3; ++i) b[i] = Y[i][0] * a[0] + Y[i][1] * a[1] + Y[i][2] * a[2];
    for (int i = 0; i < 3; ++i) y[size_t(i)] = q[size_t(i)] + s * (Z[i][0] * b[0] + Z[i][1] * b[1] + Z[i][2] * b[2]);
    return y;
  }
  if (modelo == ORIENTA_HELMERT2D) {
    const Real c = std::cos(q[2]), s = std::sin(q[2]);
    y[0] = q[0] + q[3] * (c * x[0] - s * x[1]);
    y[1] = q[1] + q[3] * (s * x[0] + c * x[1]);
  } else if (modelo == ORIENTA_AFIN2D) {
    y[0] = q[0] + q[2] * x[0] + q[3] * x[1];
    y[1] = q[1] + q[4] * x[0] + q[5] * x[1];
  } else {
    const Real dx = x[0] - t.centro_origen[0], dy = x[1] - t.centro_origen[1];
    const Real tau[9] = {dx, dy, dx * dx, dx * dy, dy * dy, dx * dx * dx, dx * dx * dy, dx * dy * dy, dy * dy * dy};
    const size_t m = modelo == ORIENTA_POLI2D_2 ? 5 : 9;
    y[0] = q[0], y[1] = q[1];
    for (size_t k = 0; k < m; ++k) y[0] += q[2 + k] * tau[k], y[1] += q[2 + m + k] * tau[k];
  }
  return y;
}

struct Ajuste {
  orienta_transformacion t;
  orienta_estadisticas e;
};

// Pairs on projected coordinates with centimetre noise; the truth is a turn, a scale and a bend.
Ajuste ajusta(int modelo, uint64_t semilla, double ruido = 0.01, std::vector<double>* origen = nullptr) {
  std::mt19937_64 g(semilla);
  std::uniform_real_distribution<double> u(-800, 800);
  std::normal_distribution<double> e(0, ruido);
  const int d = dimension(modelo);
  std::mt19937_64 fija(99);  // the same source points whatever the noise
  std::vector<double> o, t, s;
  for (int i = 0; i < 15; ++i) {
    const double f[3] = {u(fija), u(fija), 0.05 * u(fija)};
    double a[3] = {f[0], f[1], f[2]};
    if (d == 3) {
      // The target tilted by 0.4 rad about x and −0.3 about y, so that every angle's derivative
      // counts.
      const double cw = std::cos(0.4), sw = std::sin(0.4), cp = std::cos(-0.3), sp = std::sin(-0.3);
      const double b[3] = {f[0], cw * f[1] - sw * f[2], sw * f[1] + cw * f[2]};
      a[0] = cp * b[0] + sp * b[2], a[1] = b[1], a[2] = -sp * b[0] + cp * b[2];
    }
    const double c = std::cos(0.7), sn = std::sin(0.7);
    const double y[3] = {4.1e5 + 0.9999 * (c * a[0] - sn * a[1]) + 3e-7 * a[1] * a[1],
                         4.6e6 + 0.9999 * (sn * a[0] + c * a[1]) + 2e-10 * a[0] * a[0] * a[1], 200 + a[2] + 1e-4 * a[0]};
    for (int k = 0; k < d; ++k) o.push_back(f[k] + (k < 2 ? 2e5 : 0)), t.push_back(y[k] + e(g));
    s.push_back(ruido);
  }
  if (origen) *origen = o;
  const orienta_pares p{o.data(), 8 * d, t.data(), 8 * d, 15, s.data(), 1, 0};
  Ajuste a;
  EXPECT_EQ(orienta_ajusta(modelo, &p, &a.t, &a.e, nullptr), ORIENTA_OK);
  return a;
}

TEST(Precision, IgualAlJacobianoNumerico) {
  for (const Caso& c : kModelos) {
    SCOPED_TRACE(c.nombre);
    const int d = dimension(c.modelo);
    const Ajuste a = ajusta(c.modelo, 5);
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
      std::vector<double> y(puntos.size()), C(3 * size_t(d * d));
      ASSERT_EQ(orienta_aplica_precision(&a.t, a.e.covarianza, puntos.data(), 8 * d, con_x ? cx.data() : nullptr,
                                         8 * d * d, y.data(), 8 * d, C.data(), 8 * d * d, 3, nullptr),
                0);
      for (int k = 0; k < 3; ++k) {
        Real p[3];
        for (int i = 0; i < d; ++i) p[i] = puntos[size_t(d * k + i)];
        const std::vector<Real> y0 = imagen(c.modelo, a.t, q, p);
        for (int i = 0; i < d; ++i) EXPECT_NEAR(double(y0[size_t(i)]), y[size_t(d * k + i)], 1e-6) << "the model";
        // Central differences in every parameter and coordinate, steps scaled to each.
        Real J[3][ORIENTA_MAX_PARAMETROS], Jx[3][3];
        for (int b = 0; b < u; ++b) {
          const Real h = 1e-6L * std::max<Real>(std::fabs(q[size_t(b)]), b < d ? 1.0L : 1e-3L);
          std::vector<Real> mas = q, menos = q;
          mas[size_t(b)] += h, menos[size_t(b)] -= h;
          const std::vector<Real> a1 = imagen(c.modelo, a.t, mas, p), a0 = imagen(c.modelo, a.t, menos, p);
          for (int i = 0; i < d; ++i) J[i][b] = (a1[size_t(i)] - a0[size_t(i)]) / (2 * h);
        }
        for (int b = 0; b < d; ++b) {
          Real p1[3], p0[3];
          std::copy(p, p + 3, p1), std::copy(p, p + 3, p0);
          p1[b] += 1e-3L, p0[b] -= 1e-3L;
          const std::vector<Real> a1 = imagen(c.modelo, a.t, q, p1), a0 = imagen(c.modelo, a.t, q, p0);
          for (int i = 0; i < d; ++i) Jx[i][b] = (a1[size_t(i)] - a0[size_t(i)]) / 2e-3L;
        }
        // Entries to 1e-6 of the matrix' scale: an off-diagonal entry that is zero in truth (a
        // similarity's isotropic spread) is within the numerical derivative's noise of it.
        const double* Ck = C.data() + size_t(d * d * k);
        for (int i = 0; i < d; ++i)
          for (int j = 0; j < d; ++j) {
            const double escala = std::sqrt(Ck[d * i + i] * Ck[d * j + j]);
            Real r = 0;
            for (int m = 0; m < u; ++m)
              for (int l = 0; l < u; ++l) r += J[i][m] * Real(a.e.covarianza[m * u + l]) * J[j][l];
            if (con_x)
              for (int m = 0; m < d; ++m)
                for (int l = 0; l < d; ++l) r += Jx[i][m] * Real(sx[3 * m + l]) * Jx[j][l];
            const double obtenido = C[size_t(d * d * k + d * i + j)];
            EXPECT_NEAR(obtenido, double(r), 1e-6 * escala)
                << "point " << k << " entry " << i << j << (con_x ? " with Sx" : "");
            EXPECT_EQ(obtenido, C[size_t(d * d * k + d * j + i)]) << "symmetric";
          }
      }
    }
  }
}

// Refits on re-noised pairs: the spread of a point's image is what the cofactors propagate (with
// σ given, the covariance over σ0² is the a priori one). 2000 refits put the sample variance
// within about 3 % of its value; the bound is far wider, and the seeds are fixed.
TEST(Precision, ComoLaDispersionDeLosAjustes) {
  for (const Caso& c : {kModelos[0], kModelos[2], kModelos[5]}) {
    SCOPED_TRACE(c.nombre);
    const int d = dimension(c.modelo);
    const Ajuste base = ajusta(c.modelo, 1);
    const int u = base.e.num_parametros;
    std::vector<double> Q(size_t(u * u));
    for (int k = 0; k < u * u; ++k) Q[size_t(k)] = base.e.covarianza[k] / (base.e.sigma0 * base.e.sigma0);
    const double x[3] = {2e5 + 700, 650, 20};
    double y[3], C[9];
    ASSERT_EQ(orienta_aplica_precision(&base.t, Q.data(), x, 8 * d, nullptr, 0, y, 8 * d, C, 8 * d * d, 1, nullptr), 0);
    const int veces = 2000;
    std::vector<Real> suma(size_t(d), 0), cruz(size_t(d * d), 0);
    std::vector<std::vector<double>> imagenes;
    for (int r = 0; r < veces; ++r) {
      const Ajuste a = ajusta(c.modelo, 1000 + uint64_t(r));
      double z[3];
      ASSERT_EQ(orienta_aplica(&a.t, 0, x, 8 * d, z, 8 * d, 1, nullptr), 0);
      imagenes.emplace_back(z, z + d);
      for (int i = 0; i < d; ++i) suma[size_t(i)] += z[i];
    }
    for (const auto& z : imagenes)
      for (int i = 0; i < d; ++i)
        for (int j = 0; j < d; ++j)
          cruz[size_t(d * i + j)] += (z[size_t(i)] - suma[size_t(i)] / veces) * (z[size_t(j)] - suma[size_t(j)] / veces);
    for (int i = 0; i < d; ++i) {
      const double muestra = double(cruz[size_t(d * i + i)] / (veces - 1));
      EXPECT_NEAR(muestra / C[d * i + i], 1.0, 0.15) << "coordinate " << i;
    }
  }
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

bool mismos(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k)
    if (!(std::isnan(a[k]) && std::isnan(b[k])) && std::memcmp(&a[k], &b[k], sizeof(double)) != 0) return false;
  return true;
}

// One call on the points x (d a record) and their covariances cx (none if empty) laid out as z;
// the images and covariances read back in point order. The gaps must keep what was there.
Resultado calcula(const Ajuste& a, int d, const std::vector<double>& x, const std::vector<double>& cx,
                  const Disposicion& z) {
  const size_t dd = size_t(d), n = x.size() / dd, pp = dd + z.hueco_punto, pc = dd * dd + z.hueco_cov;
  const double kRelleno = -7.25;
  std::vector<double> e(n * pp, kRelleno), ce(n * pc, kRelleno), s(n * pp, kRelleno), cs(n * pc, kRelleno);
  auto r = [&](size_t k) { return z.al_reves ? n - 1 - k : k; };
  for (size_t k = 0; k < n; ++k) {
    std::copy(&x[k * dd], &x[k * dd] + dd, &e[r(k) * pp]);
    if (!cx.empty()) std::copy(&cx[k * dd * dd], &cx[k * dd * dd] + dd * dd, &ce[r(k) * pc]);
  }
  double* salida = z.en_sitio ? e.data() : s.data();
  const size_t primero = z.al_reves ? n - 1 : 0;
  const int64_t signo = z.al_reves ? -1 : 1, paso = signo * int64_t(8 * pp), paso_cov = signo * int64_t(8 * pc);
  Resultado res{0, {}, {}, std::vector<uint8_t>(n, 9)};
  res.malos = orienta_aplica_precision(&a.t, a.e.covarianza, e.data() + primero * pp, paso,
                                       cx.empty() ? nullptr : ce.data() + primero * pc, paso_cov, salida + primero * pp,
                                       paso, cs.data() + primero * pc, paso_cov, n, res.fallo.data());
  for (size_t k = 0; k < n; ++k) {
    res.y.insert(res.y.end(), salida + r(k) * pp, salida + r(k) * pp + dd);
    res.C.insert(res.C.end(), &cs[r(k) * pc], &cs[r(k) * pc] + dd * dd);
    for (size_t j = dd; j < pp; ++j) EXPECT_EQ(salida[r(k) * pp + j], kRelleno) << "gap after image " << k;
    for (size_t j = dd * dd; j < pc; ++j) EXPECT_EQ(cs[r(k) * pc + j], kRelleno) << "gap after covariance " << k;
  }
  return res;
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
  for (const Caso& c : kModelos) {
    const int d = dimension(c.modelo);
    const size_t dd = size_t(d);
    const Ajuste a = ajusta(c.modelo, 11);
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
            SCOPED_TRACE(::testing::Message() << c.nombre << ", n = " << n << ", " << z.nombre
                                              << (con_x ? ", with Sx" : "") << (especiales ? ", special" : ""));
            const std::vector<double> sin;
            Resultado r[2];
            for (int32_t nucleos : {0, 1}) {
              if (nucleos == 1 && !avx2) continue;
              ASSERT_EQ(orienta_nucleos(nucleos), nucleos);
              r[nucleos] = calcula(a, d, x, con_x ? cx : sin, z);
              int64_t sin_imagen = 0;
              for (uint64_t k = 0; k < n; ++k) sin_imagen += std::isnan(r[nucleos].y[k * dd]);
              EXPECT_EQ(r[nucleos].malos, sin_imagen);
              if (!especiales) {
                EXPECT_EQ(sin_imagen, 0);
              }
              for (uint64_t k = 0; k < n; ++k) {
                const std::vector<double> xk(&x[k * dd], &x[k * dd] + dd),
                    ck(&cx[k * dd * dd], &cx[k * dd * dd] + dd * dd);
                const Resultado solo = calcula(a, d, xk, con_x ? ck : sin, kDisposiciones[0]);
                EXPECT_TRUE(
                    mismos(solo.C, std::vector<double>(&r[nucleos].C[k * dd * dd], &r[nucleos].C[(k + 1) * dd * dd])))
                    << "point " << k << " alone, kernels " << nucleos;
              }
            }
            if (!avx2) continue;
            EXPECT_EQ(r[0].malos, r[1].malos);
            EXPECT_TRUE(mismos(r[0].y, r[1].y)) << "images";
            EXPECT_TRUE(mismos(r[0].C, r[1].C)) << "covariances";
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
  const struct {
    const char* que;
    const orienta_transformacion* t;
    const double* cov;
    double* salida_cov;
    int64_t esperado;
  } kCasos[] = {{"null covariance", &a.t, nullptr, C, ORIENTA_E_ARGUMENTO},
                {"NaN in the covariance", &a.t, malo, C, ORIENTA_E_REG_NO_FINITO},
                {"invalid record", &roto, a.e.covarianza, C, ORIENTA_E_REG_INCOHERENTE},
                {"no output", &a.t, a.e.covarianza, nullptr, ORIENTA_E_ARGUMENTO}};
  for (const auto& k : kCasos)
    EXPECT_EQ(orienta_aplica_precision(k.t, k.cov, x, 16, nullptr, 0, y, 16, k.salida_cov, 32, 1, nullptr), k.esperado)
        << k.que;
  // In place, and a point without an image: NaN covariance, flagged, counted.
  double p[4] = {2e5 + 10, 20, INFINITY, 0}, cs[8];
  uint8_t fallo[2] = {9, 9};
  ASSERT_EQ(orienta_aplica_precision(&a.t, a.e.covarianza, p, 16, nullptr, 0, p, 16, cs, 32, 2, fallo), 1);
  EXPECT_EQ(fallo[0], 0);
  EXPECT_EQ(fallo[1], 1);
  EXPECT_TRUE(std::isfinite(cs[0]) && cs[0] > 0);
  EXPECT_TRUE(std::isnan(cs[4]));
}

}  // namespace
