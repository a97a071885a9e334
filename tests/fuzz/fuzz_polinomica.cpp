// Polynomial transformations: estimation from pointer pairs for any tipo (values past 7 too), and
// evaluation of any record at any point.
//
// For every input: the pairs are only read; the record is filled the same whatever it held before
// (tipo aside, which is read and lowered to 7 at most); coefficients the kind does not use are +0;
// with finite coefficients the record carries its source centroid exactly onto (x0, y0);
// evaluation writes the point alone.
#include "comun.hpp"

using namespace orienta::fuzz;
using namespace prueba;

namespace {

uint32_t lee_tipo(Lector& lector) {
  const uint8_t b = lector.byte();
  return b < 224 ? b % 10 : lector.u32();  // mostly the kinds, sometimes any 32-bit value
}

// The padding after tipo is nobody's output: clear it before comparing records bit for bit.
// (Records are template parameters R here: the scalar cannot be deduced through Polinomica<T>.)
template <class R>
R sin_relleno(R t) {
  std::memset(reinterpret_cast<char*>(&t) + sizeof t.tipo, 0, offsetof(R, xc_origen) - sizeof t.tipo);
  return t;
}

// Evaluates t (only read) at p, through the two-fill runner for the point.
template <class R, class T = decltype(R::x0_destino)>
std::array<T, 2> evalua(const R& t, std::array<T, 2> p) {
  const auto [leido, imagen] = dos_rellenos<std::array<T, 2>>(t, [&](const R& e, std::array<T, 2>& s) {
    s = p;
    punto(&e, s.data());
  });
  EXIGE(mismos_bits(sin_relleno(leido), sin_relleno(t)));
  return imagen;
}

// The centroid maps onto (x0, y0): the terms of dx = dy = 0 sum to ±0, and x0 + ±0 = x0.
template <class R>
void centro_fijo(const R& t) {
  if (!todos_finitos(t.coef_x, 9) || !todos_finitos(t.coef_y, 9) || !std::isfinite(t.xc_origen) ||
      !std::isfinite(t.yc_origen))
    return;
  const auto q = evalua(t, {t.xc_origen, t.yc_origen});
  EXIGE((q[0] == t.x0_destino || std::isnan(t.x0_destino)) && (q[1] == t.y0_destino || std::isnan(t.y0_destino)));
}

template <class T>
void estimacion(Lector& lector) {
  const uint32_t tipo = lee_tipo(lector);
  const uint32_t n = lector.cuenta(32);
  std::vector<T> valores(4 * size_t(n));
  for (T& v : valores) v = lector.escalar<T>();

  // The record is the output; tipo is set in it first, so both fills keep that field.
  const auto [leidos, t] = dos_rellenos<Polinomica<T>>(valores, [&](std::vector<T>& e, Polinomica<T>& s) {
    const Puntos<T> puntos(e, 2);
    const auto P = pares<T>(n, [&](uint32_t j) { return puntos[j]; });
    s.tipo = tipo;
    estima(&s, P.get(), n);
    s = sin_relleno(s);
    e = puntos.valores();
  });
  EXIGE(mismos_bits(leidos, valores));
  EXIGE(t.tipo == (tipo > 7 ? 7u : tipo));
  const int usados = t.tipo == 0 ? 0 : t.tipo < 6 ? 2 : t.tipo == 6 ? 5 : 9;
  for (int k = usados; k < 9; ++k) EXIGE(mismos_bits(t.coef_x[k], T(0)) && mismos_bits(t.coef_y[k], T(0)));
  centro_fijo(t);
}

template <class T>
void evaluacion(Lector& lector) {
  Polinomica<T> t;
  std::memset(static_cast<void*>(&t), 0, sizeof t);
  t.tipo = lee_tipo(lector);
  for (T* campo = &t.xc_origen; campo <= &t.coef_y[8]; ++campo) *campo = lector.escalar<T>();
  evalua(t, std::array<T, 2>{lector.escalar<T>(), lector.escalar<T>()});
  centro_fijo(t);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  static void (*const kPartes[])(Lector&) = {estimacion<double>, estimacion<float>, evaluacion<double>,
                                             evaluacion<float>};
  kPartes[lector.byte() % 4](lector);
  return 0;
}
