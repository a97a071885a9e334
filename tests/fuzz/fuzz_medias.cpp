// Means of angle triplets, plain and weighted, with the count, the angles and the weights taken
// from the input.
//
// For every input: the arrays are only read, within 3·n elements; n = 0 gives NaN; angles within
// [−π, π] give a mean within [π − full turn, π] up to the rounding of the group means, and so do
// positive weights whose single-precision total stays finite.
#include "comun.hpp"

using namespace orienta::fuzz;
using namespace prueba;

namespace {

void comprueba(const Terna& m, uint32_t n, bool acotada, double holgura) {
  for (double c : m.v) {
    EXIGE(n > 0 || std::isnan(c));
    EXIGE(n == 0 || !acotada || (c <= kPi + holgura && c >= kPi - kVuelta - holgura));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  const uint32_t n = lector.cuenta(48);
  const bool acotar = lector.byte() % 2 == 0;
  std::vector<double> angulos(3 * size_t(n));
  std::vector<float> pesos(3 * size_t(n));
  bool en_rango = true, positivos = true;
  double total[3] = {};
  for (uint32_t i = 0; i < 3 * n; ++i) {
    double a = lector.escalar<double>();
    // Half the inputs fold their angles into [−π, π] and their weights into positive values.
    if (acotar) a = std::isfinite(a) ? std::remainder(a, 2 * kPi) : 0;
    angulos[i] = a;
    en_rango = en_rango && a >= -kPi && a <= kPi;
    float w = lector.escalar<float>();
    if (acotar && !(std::isfinite(w) && w > 0)) w = 1;
    pesos[i] = w;
    positivos = positivos && std::isfinite(w) && w >= std::numeric_limits<float>::min();
    total[i % 3] += w;
  }
  for (double t : total) positivos = positivos && t < 0.5 * std::numeric_limits<float>::max();

  // Each mean through the two-fill runner. A single group is not wrapped, so its mean may round
  // an ulp past π; with weights, their single-precision total carries a relative error of about
  // 2^-24 per weight into the divisor.
  auto a = dos_rellenos<Terna>(angulos, [n](std::vector<double>& e, Terna& s) { s = Gmedio(e.data(), n); });
  EXIGE(mismos_bits(a.first, angulos));
  comprueba(a.second, n, en_rango, 1e-13);
  const std::pair<std::vector<double>, std::vector<float>> juntos = {angulos, pesos};
  auto b =
      dos_rellenos<Terna>(juntos, [n](auto& e, Terna& s) { s = Gmedio_pesos(e.first.data(), n, e.second.data()); });
  EXIGE(mismos_bits(b.first.first, angulos) && mismos_bits(b.first.second, pesos));
  comprueba(b.second, n, en_rango && positivos, 1e-5);
  return 0;
}
