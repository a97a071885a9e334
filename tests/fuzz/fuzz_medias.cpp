// Means of angle triplets, plain and weighted, with the count, the angles and the weights taken
// from the input.
//
// For every input: the arrays are read within 3·n elements and never written; n = 0 gives NaN;
// angles within [−π, π] give a mean within [−π, π] up to rounding (the wrap may land it a few ulps
// below −π, the full turn used being 12 ulps longer than 2π); positive weights keep that range up
// to the rounding of their single-precision total.
#include "comun.hpp"

using namespace orienta::fuzz;

namespace {

constexpr double kPi = 3.141592653589793;

bool en_rango(double a) { return a >= -kPi && a <= kPi; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  const uint32_t n = lector.cuenta(48);
  const bool acotar = lector.byte() % 2 == 0;

  std::vector<double> angulos(3 * size_t(n));
  std::vector<float> pesos(3 * size_t(n));
  bool angulos_en_rango = true, pesos_positivos = true;
  for (uint32_t i = 0; i < 3 * n; ++i) {
    double a = lector.escalar<double>();
    // Half the inputs fold their angles into [−π, π], the range the method is made for.
    if (acotar && std::isfinite(a)) a = std::remainder(a, 2 * kPi);
    if (acotar && !en_rango(a)) a = 0;
    angulos[i] = a;
    angulos_en_rango = angulos_en_rango && en_rango(a);
    float w = lector.escalar<float>();
    if (acotar && !(std::isfinite(w) && w > 0 && w < 1e30f)) w = 1;
    pesos[i] = w;
    pesos_positivos = pesos_positivos && std::isfinite(w) && w >= std::numeric_limits<float>::min() && w < 1e30f;
  }

  Zona zona_angulos(angulos.size() * sizeof(double)), zona_pesos(pesos.size() * sizeof(float));
  copia(zona_angulos.bytes(), angulos.data(), zona_angulos.tamano());
  copia(zona_pesos.bytes(), pesos.data(), zona_pesos.tamano());
  const double* a = zona_angulos.como<double>();
  const float* w = zona_pesos.como<float>();

  // Each mean twice, the same bits both times; n = 0 gives NaN. Everything in range gives a mean
  // within [π − 6.283185307179597, π], with room for the rounding of the group means (a single
  // group is not wrapped, so its mean may round an ulp past π). With weights, their
  // single-precision total carries a relative error of about 2^-24 per weight into the divisor.
  auto comprueba = [n](const Terna& m, const Terna& otra, bool acotada, double holgura) {
    EXIGE(std::memcmp(&m, &otra, sizeof m) == 0);
    for (double c : m.v) {
      if (n == 0) EXIGE(std::isnan(c));
      if (n > 0 && acotada) EXIGE(c <= kPi + holgura && c >= -kPi - holgura);
    }
  };
  comprueba(Gmedio(a, n), Gmedio(a, n), angulos_en_rango, 1e-13);
  comprueba(Gmedio_pesos(a, n, w), Gmedio_pesos(a, n, w), angulos_en_rango && pesos_positivos, 1e-5);
  EXIGE(mismos_bytes(a, angulos.data(), zona_angulos.tamano()));
  EXIGE(mismos_bytes(w, pesos.data(), zona_pesos.tamano()));
  return 0;
}
