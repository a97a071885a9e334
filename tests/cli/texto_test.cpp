// Fixed-point output: the residual table's fast path must print what std::to_chars prints, digit
// for digit, ties and the sign of zero included.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <string>

#include "cli.hpp"

namespace {

std::string referencia(double x, int d) {
  char b[512];
  const auto r = std::to_chars(b, b + sizeof b, x, std::chars_format::fixed, d);
  std::string s(b, r.ptr);
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

TEST(Fijo, IgualQueToChars) {
  std::mt19937_64 g(7);
  std::uniform_real_distribution<double> exponente(-12, 16);
  std::uniform_int_distribution<int> entero(-2000000, 2000000);
  int casos = 0;
  for (int d = 0; d <= 7; ++d) {
    const double f = std::pow(10.0, d);
    // Exact halves (ties, to even), their neighbours, signs and zeros, then random magnitudes.
    std::vector<double> xs = {0x1p52 / f, -0x1p52 / f};
    for (double x : {0.0, 0.5, 1.5, 2.5, 0.125, 0.375, 0.0625, 1e-300, 0x1p52, 0x1p53 + 2, 1e22}) {
      xs.push_back(x);
      xs.push_back(-x);
    }
    for (int k = 0; k < 2000; ++k) {
      const double t = (entero(g) + 0.5) / std::ldexp(1.0, k % 12);  // dyadic: many exact ties
      xs.push_back(t / f);
      xs.push_back(std::nextafter(t / f, 0.0));
      xs.push_back(std::nextafter(t / f, INFINITY));
      xs.push_back((g() & 1 ? 1 : -1) * std::pow(10.0, exponente(g)));
    }
    for (double x : xs) {
      char b[orienta::cli::kFijoMaximo];
      ASSERT_EQ(std::string(b, orienta::cli::fijo_en(b, x, d)), referencia(x, d)) << std::hexfloat << x << " " << d;
      ++casos;
    }
  }
  EXPECT_GT(casos, 60000);
  for (double x : {NAN, INFINITY, -INFINITY}) EXPECT_EQ(orienta::cli::fijo(x, 4), orienta::cli::corto(x));
}

// Degrees, minutes and seconds: rounding that reaches 60 carries upwards, the sign stays on the
// degrees, and what rounds to zero has none.
TEST(Sexagesimal, RedondeaYLleva) {
  const struct {
    double grados;
    const char* texto;
  } kCasos[] = {{0.0, "0\u00B000'00.00000\""},
                {97.5, "97\u00B030'00.00000\""},
                {-12.25, "-12\u00B015'00.00000\""},
                {1.0 - 1e-12, "1\u00B000'00.00000\""},
                {59.0 / 60.0 + 59.999994 / 3600.0, "0\u00B059'59.99999\""},
                {59.0 / 60.0 + 59.9999999 / 3600.0, "1\u00B000'00.00000\""},
                {-1e-12, "0\u00B000'00.00000\""},
                {359.9999999999, "360\u00B000'00.00000\""},
                {1.0 / 3600.0 * 2.4e-5, "0\u00B000'00.00002\""}};
  for (const auto& c : kCasos) EXPECT_EQ(orienta::cli::sexagesimal(c.grados), c.texto) << c.grados;
  EXPECT_EQ(orienta::cli::sexagesimal(NAN), orienta::cli::corto(NAN));
}

}  // namespace
