// Means of angle triplets across the ±π wrap-around, plain and weighted.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "comun.hpp"
#include "orienta.h"

namespace {

using namespace prueba;

// Worked examples, each value repeated in all three components. Expected values are written in the
// order the mean is formed: group means by division, the non-positive one shifted by the full turn
// when the groups lie more than π apart, then (nN·N̄ + P)·(1/n) or (N̄·WN + SP)/(WN + WP), wrapped
// above π.
struct Caso {
  const char* nombre;
  std::vector<double> angulos;
  std::vector<float> pesos;  // empty: plain mean
  double esperada;
};
const Caso kCasos[] = {
    {"zeros are non-positive", {0.0, 0.0, 0.0}, {}, 0.0},
    {"3 and -3 land just below -pi", {3.0, -3.0}, {}, -kVuelta / 2},
    // Exactly π apart is not "more than π": no shift, π/2. A shift would give about −π/2.
    {"groups exactly pi apart", {kPi, 0.0}, {}, (1.0 * 0.0 + kPi) * 0.5},
    // The zero joins −3.1: N̄ = −1.55 lies more than π below 3.1; were it positive, N̄ = −3.1.
    {"zero counts as non-positive",
     {3.1, 0.0, -3.1},
     {},
     (2.0 * ((-3.1 + 0.0) / 2.0 + kVuelta) + 3.1) * (1.0 / 3.0) - kVuelta},
    // sum·(1/n) and sum/n differ in the last place here.
    {"one group, 5 times 1/3", {2.0, 2.0, 1.0}, {}, 5.0 * (1.0 / 3.0)},
    // −3.0000000000000107 + kVuelta + 3.0 is 2π's double exactly: a mean of exactly π is kept.
    {"mean of exactly pi is not wrapped", {3.0, -3.0000000000000107}, {}, kPi},
    {"zero weight leaves its group out", {1.0, -1.0}, {1.0f, 0.0f}, 1.0},
    {"only zero weights", {1.0, -2.0}, {0.0f, 0.0f}, NAN},  // no triplets at all: the means fuzz target
    // The total 1 + 2⁻³⁰ rounds to 1 in float; a double total would not.
    {"weight total in float",
     {3.0, -3.0},
     {0x1p-30f, 1.0f},
     ((-3.0 + kVuelta) * 1.0 + 0x1p-30 * 3.0) / double(1.0f + 0x1p-30f) - kVuelta},
};

TEST(MediasTest, WorkedExamplesBitForBit) {
  for (const Caso& c : kCasos) {
    SCOPED_TRACE(c.nombre);
    std::vector<double> a;
    std::vector<float> w;
    for (double x : c.angulos) a.insert(a.end(), {x, x, x});
    for (float p : c.pesos) w.insert(w.end(), {p, p, p});
    const uint32_t n = uint32_t(c.angulos.size());
    const Terna t = w.empty() ? Gmedio(a.data(), n) : Gmedio_pesos(a.data(), n, w.data());
    for (double x : t.v) EXPECT_TRUE(std::isnan(c.esperada) ? std::isnan(x) : mismos_bits(x, c.esperada)) << x;
  }
}

}  // namespace
