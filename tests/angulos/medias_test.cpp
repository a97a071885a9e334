#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "orienta.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kVuelta = 6.283185307179597;  // the library's full turn, 12 ulp above 2π
constexpr double kEps = std::numeric_limits<double>::epsilon();

// n triplets with every component equal to the given column of values.
std::vector<double> repite(const std::vector<double>& valores) {
  std::vector<double> a;
  for (double v : valores) a.insert(a.end(), {v, v, v});
  return a;
}

bool mismos_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

// Worked examples. Expected values are written in the order the mean is formed: group means by
// division, the non-positive one shifted by the full turn when the groups lie more than π apart,
// then (nN·N̄ + P)·(1/n) or (N̄·WN + SP)/(WN + WP), wrapped above π.
struct Caso {
  const char* nombre;
  std::vector<double> angulos;
  std::vector<float> pesos;  // empty: plain mean
  double esperada;
};

const Caso kCasos[] = {
    {"ceros son no positivos", {0.0, 0.0, 0.0}, {}, 0.0},
    {"0.5 y -0.5 no se desplazan", {0.5, -0.5}, {}, 0.0},
    {"3 y -3 caen justo bajo -pi", {3.0, -3.0}, {}, -kVuelta / 2},
    {"3, -3.1, 2.9", {3.0, -3.1, 2.9}, {}, (1.0 * (-3.1 + kVuelta) + (3.0 + 2.9)) * (1.0 / 3.0)},
    // Exactly π apart is not "more than π": no shift, π/2. A shift would give about -π/2.
    {"grupos a pi justo", {kPi, 0.0}, {}, (1.0 * 0.0 + kPi) * 0.5},
    // The zero joins -3.1: N̄ = -1.55 lies more than π below 3.1; were it positive, N̄ = -3.1.
    {"el cero cuenta con los no positivos", {3.1, 0.0, -3.1}, {},
     (2.0 * ((-3.1 + 0.0) / 2.0 + kVuelta) + 3.1) * (1.0 / 3.0) - kVuelta},
    // sum·(1/n) and sum/n differ in the last place here, for one group and for two.
    {"un grupo, 5 por 1/3", {2.0, 2.0, 1.0}, {}, 5.0 * (1.0 / 3.0)},
    {"dos grupos, por 1/3", {-3.1, -3.0, 0.1}, {},
     (2.0 * ((-3.1 + -3.0) / 2.0 + kVuelta) + 0.1) * (1.0 / 3.0)},
    // -3.0000000000000107 + kVuelta + 3.0 is 2π's double exactly: a mean of exactly π is kept.
    {"media justo pi no se envuelve", {3.0, -3.0000000000000107}, {}, kPi},
    {"peso cero deja fuera el grupo", {1.0, -1.0}, {1.0f, 0.0f}, 1.0},
    {"pesos 1 y 3 en 3 y -3", {3.0, -3.0}, {1.0f, 3.0f},
     (((3.0 * -3.0) / 3.0 + kVuelta) * 3.0 + 3.0) / 4.0 - kVuelta},
    // The total 1 + 2^-30 rounds to 1 in float; a double total would not.
    {"total de pesos en float", {3.0, -3.0}, {0x1p-30f, 1.0f},
     ((-3.0 + kVuelta) * 1.0 + 0x1p-30 * 3.0) / double(1.0f + 0x1p-30f) - kVuelta},
};

TEST(MediasTest, EjemplosExactos) {
  for (const Caso& c : kCasos) {
    SCOPED_TRACE(c.nombre);
    const std::vector<double> a = repite(c.angulos);
    const uint32_t n = uint32_t(c.angulos.size());
    Terna t;
    if (c.pesos.empty()) {
      t = Gmedio(a.data(), n);
    } else {
      std::vector<float> w;
      for (float p : c.pesos) w.insert(w.end(), {p, p, p});
      t = Gmedio_pesos(a.data(), n, w.data());
    }
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(mismos_bits(t.v[k], c.esperada)) << t.v[k];
  }
}

TEST(MediasTest, VaciosDanNaN) {
  const double a[6] = {1.0, -2.0, 0.5, 2.0, 3.0, -0.5};
  const Terna t0 = Gmedio(a, 0);
  const Terna tp0 = Gmedio_pesos(a, 0, nullptr);
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(std::isnan(t0.v[k]));
    EXPECT_TRUE(std::isnan(tp0.v[k]));
  }
  // Only component 1 carries no weight; the others are untouched by it.
  const float w[6] = {1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f};
  const Terna t = Gmedio_pesos(a, 2, w);
  EXPECT_EQ(t.v[0], 1.5);
  EXPECT_TRUE(std::isnan(t.v[1]));
  EXPECT_EQ(t.v[2], 0.0);
}

// Random triplets clustered around a centre: component 0 around 0, 1 around +π/-π, 2 around 2.
// The reference is the mean of the same angles unwrapped onto one side of the centre.
struct Nube {
  std::vector<double> angulos, referencia_suma;
  std::vector<float> pesos;
};

Nube nube(uint32_t n, unsigned semilla) {
  const double centros[3] = {0.0, kPi, 2.0};
  std::mt19937 gen(semilla);
  std::uniform_real_distribution<double> desvio(-0.4, 0.4);
  std::uniform_int_distribution<int> octavos(1, 16);
  Nube r;
  for (uint32_t i = 0; i < n; ++i)
    for (int c = 0; c < 3; ++c) {
      const double sin_envolver = centros[c] + desvio(gen);
      r.angulos.push_back(sin_envolver > kPi ? sin_envolver - 2 * kPi : sin_envolver);
      r.referencia_suma.push_back(sin_envolver);
      r.pesos.push_back(float(octavos(gen)) / 8.0f);  // eighths: float totals stay exact
    }
  return r;
}

double distancia_circular(double x, double y) { return std::fabs(std::remainder(x - y, 2 * kPi)); }

TEST(MediasTest, NubesAlrededorDePiYDeCero) {
  const uint32_t n = 200;
  const Nube d = nube(n, 7);
  const Terna plano = Gmedio(d.angulos.data(), n);
  const Terna pesado = Gmedio_pesos(d.angulos.data(), n, d.pesos.data());
  for (int c = 0; c < 3; ++c) {
    SCOPED_TRACE(c);
    double s = 0, sw = 0, w = 0;
    for (uint32_t i = 0; i < n; ++i) {
      s += d.referencia_suma[3 * i + c];
      sw += double(d.pesos[3 * i + c]) * d.referencia_suma[3 * i + c];
      w += d.pesos[3 * i + c];
    }
    // Rounding of n sums of magnitude ≤ π, plus the full turn's 12 ulp for shifted angles.
    const double tolerancia = n * kEps * kPi + 12 * 2 * kPi * kEps;
    EXPECT_LE(distancia_circular(plano.v[c], s / n), tolerancia);
    EXPECT_LE(distancia_circular(pesado.v[c], sw / w), tolerancia);
    EXPECT_GT(plano.v[c], kPi - kVuelta);
    EXPECT_LE(plano.v[c], kPi);
  }
  // Around ±π the mean stays near π, not near 0.
  EXPECT_GT(std::fabs(plano.v[1]), 2.5);
}

// Equal weights: agreement with the plain mean up to rounding. Totals of 1, 0.25 and 3 are exact
// in float, so only double rounding (≈ n·ε·π) separates the two; 0.1f totals are rounded float
// sums, whose relative error (≈ n·ε_float) carries into the mean.
TEST(MediasTest, PesosIgualesComoMediaPlana) {
  struct Fila { float peso; double tolerancia_por_angulo; };
  const Fila filas[] = {{1.0f, kEps}, {0.25f, kEps}, {3.0f, kEps},
                        {0.1f, std::numeric_limits<float>::epsilon()}};
  const uint32_t n = 300;
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> angulo(-kPi, kPi);
  std::vector<double> a(3 * n);
  for (double& x : a) x = angulo(gen);
  const Terna plano = Gmedio(a.data(), n);
  for (const Fila& f : filas) {
    SCOPED_TRACE(f.peso);
    const std::vector<float> w(3 * n, f.peso);
    const Terna pesado = Gmedio_pesos(a.data(), n, w.data());
    for (int c = 0; c < 3; ++c)
      EXPECT_LE(distancia_circular(pesado.v[c], plano.v[c]), n * f.tolerancia_por_angulo * kPi);
  }
}

}  // namespace
