// The distribution functions the statistics of a fit need, written out so that nothing writes
// global state (lgamma writes signgam) and the results are the same on every platform.
#ifndef ORIENTA_AJUSTE_ESTADISTICA_HPP
#define ORIENTA_AJUSTE_ESTADISTICA_HPP

#include <algorithm>
#include <cmath>

#include "interno.hpp"

namespace orienta::interno {

// ln Γ(a) for a > 0 without lgamma, which writes the global signgam: shifted up past 10, then
// Stirling's series to a⁻⁷ (relative error below 1e-16 there).
inline double ln_gamma(double a) {
  double desplazamiento = 0.0;
  while (a < 10.0) {
    desplazamiento -= std::log(a);
    a += 1.0;
  }
  const double a2 = 1.0 / (a * a);
  const double serie = (1.0 / 12.0 - a2 * (1.0 / 360.0 - a2 * (1.0 / 1260.0 - a2 * (1.0 / 1680.0)))) / a;
  return desplazamiento + (a - 0.5) * std::log(a) - a + 0.9189385332046728 + serie;
}

// Q(a, x) = Γ(a, x)/Γ(a), the upper regularised incomplete gamma: the series for P below a + 1,
// the continued fraction for Q above (Abramowitz & Stegun 6.5.29 and 6.5.31), the fraction
// evaluated by the modified Lentz method.
inline double gamma_superior(double a, double x) {
  if (!(x > 0.0)) return 1.0;
  if (std::isinf(x)) return 0.0;
  const double prefactor = std::exp(-x + a * std::log(x) - ln_gamma(a));
  const int maximo = 100000 + int(std::min(1e7, 10.0 * std::sqrt(a)));
  if (x < a + 1.0) {
    double termino = 1.0 / a, suma = termino;
    for (int n = 1; n < maximo; ++n) {
      termino *= x / (a + n);
      suma += termino;
      if (std::fabs(termino) < std::fabs(suma) * kEps) break;
    }
    return std::max(0.0, 1.0 - suma * prefactor);
  }
  const double diminuto = 1e-300;
  double b = x + 1.0 - a, c = 1.0 / diminuto, d = 1.0 / b, h = d;
  for (int i = 1; i < maximo; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < diminuto) d = diminuto;
    c = b + an / c;
    if (std::fabs(c) < diminuto) c = diminuto;
    d = 1.0 / d;
    const double del = d * c;
    h *= del;
    if (std::fabs(del - 1.0) < kEps) break;
  }
  return std::min(1.0, prefactor * h);
}

}  // namespace orienta::interno

#endif
