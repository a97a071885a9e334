// The 3×3 utilities (symmetric inverse, making a rotation) and the recovery of angles and vectors
// from a matrix, Getoffset_matriz included with this library's recovery functions, one of the
// caller's own and none.
//
// For every input: the symmetric inverse ignores the lower triangle it is given and returns a
// symmetric matrix; a near-rotation, scaled and perturbed, comes back a rotation near it; finite
// angles lie in their ranges, and the angles and the type-24 vector of a rotation rebuild it; the
// matrix is only read; Getoffset_matriz writes a code of two bits without reading it first and
// calls the recovery function once (none: NaN, quarter bit only).
#include "comun.hpp"

using namespace orienta::fuzz;
using namespace prueba;

namespace {

template <class T>
void inversa(Lector& lector) {
  std::array<T, 9> m, otra;
  for (T& v : m) v = lector.escalar<T>();
  otra = m;
  for (int k : {3, 6, 7}) otra[k] = lector.escalar<T>();
  invierte(m.data());
  invierte(otra.data());
  EXIGE(mismos_bits(m, otra));
  EXIGE(mismos_bits(m[3], m[1]) && mismos_bits(m[6], m[2]) && mismos_bits(m[7], m[5]));
}

template <class T>
void hacia_rotacion(Lector& lector) {
  std::array<T, 9> m;
  double R[9];
  const bool cercana = lector.byte() % 2 == 0;
  if (cercana) {
    // A rotation (type 26 builds one from any finite vector), scaled by 2^±30 and perturbed by
    // up to 1/16 of the scale per entry: well conditioned, so the result must be a rotation to a
    // few units of T's ε.
    double v[3] = {lector.escalar<double>(), lector.escalar<double>(), lector.escalar<double>()};
    for (double& x : v) x = std::isfinite(x) ? std::fmod(x, 64.0) : 1.0;
    MatrizRot_26(v, R);
    const double escala = std::ldexp(1.0, int(lector.byte() % 61) - 30);
    for (int k = 0; k < 9; ++k) m[k] = T(escala * (R[k] + int8_t(lector.byte()) / 2048.0));
  } else {
    for (T& v : m) v = lector.escalar<T>();
  }
  const auto [resultado, linea] =
      dos_rellenos<int32_t>(m, [](std::array<T, 9>& e, int32_t& s) { s = ortonormaliza(e.data()); });
  EXIGE(linea >= 0 && linea <= 2);
  if (!cercana) return;
  EXIGE(es_rotacion(resultado.data(), 16 * double(std::numeric_limits<T>::epsilon())));
  for (int k = 0; k < 9; ++k) EXIGE(std::fabs(resultado[k] - R[k]) < 0.5);  // the rotation it was near
}

// A recovery function of the caller's own: counts its calls and answers with three elements.
thread_local int llamadas = 0;
Terna recuperador_propio(const double* M) {
  ++llamadas;
  return Terna{{M[0], M[4], -M[8]}};
}

void recupera(Lector& lector) {
  std::array<double, 9> m;
  const bool rotacion = lector.byte() % 2 == 1;
  if (!rotacion) {
    for (double& v : m) v = lector.escalar<double>();
  } else {  // a true rotation, so that the branches meant for rotations are reached often
    double angulos[3] = {lector.escalar<double>(), lector.escalar<double>(), lector.escalar<double>()};
    MatrizRot_κωφ(angulos, m.data());
  }
  const auto [leida, t] =
      dos_rellenos<Terna>(m, [](std::array<double, 9>& e, Terna& s) { s = Gmatriz_ωφκ_seg(e.data()); });
  EXIGE(mismos_bits(leida, m));
  // ω and κ within one wrap by the full turn of [−π, π] (it is 12 ulp longer than 2π, so a wrap
  // may land just past either end), φ within [−π/2, π/2].
  for (int i : {0, 2}) EXIGE(!std::isfinite(t.v[i]) || (t.v[i] >= kPi - kVuelta && t.v[i] <= kVuelta - kPi));
  EXIGE(!std::isfinite(t.v[1]) || std::fabs(t.v[1]) <= kMedioPi);
  const auto [leida24, v] =
      dos_rellenos<Terna>(m, [](std::array<double, 9>& e, Terna& s) { s = Gmatriz_24_seg(e.data()); });
  EXIGE(mismos_bits(leida24, m));
  if (rotacion && todos_finitos(m.data(), 9)) {
    // Both readings rebuild the rotation: the angles to a few dozen ε even near gimbal lock (where
    // ω and κ alone are ill determined, their well-determined combination is what rebuilds it),
    // the type-24 vector to 1e-7, since near half a turn its scalar part √(1 − |v|²/4) holds
    // only about √ε. Rounding may put |v|² just above 4: scaled down by an ulp until it is not.
    const SenosCosenos sc = {
        {std::sin(t.v[0]), std::cos(t.v[0]), std::sin(t.v[1]), std::cos(t.v[1]), std::sin(t.v[2]), std::cos(t.v[2])}};
    double r[9], q[3] = {v.v[0], v.v[1], v.v[2]}, r24[9];
    MatrizRotGT_ωφκ(&sc, r);
    while ((q[1] * q[1] + q[0] * q[0]) + q[2] * q[2] > 4)
      for (double& x : q) x *= 1 - 0x1p-52;
    MatrizRot_24(q, r24);
    for (int k = 0; k < 9; ++k) EXIGE(std::fabs(r[k] - m[k]) < 1e-13 && std::fabs(r24[k] - m[k]) < 1e-7);
  }

  for (const FuncGmatriz f :
       {FuncGmatriz(Gmatriz_ωφκ_seg), FuncGmatriz(Gmatriz_24_seg), recuperador_propio, FuncGmatriz(nullptr)}) {
    llamadas = 0;
    const uint32_t antes = lector.u32();  // never read: any value must do
    const auto [codigo, r] =
        dos_rellenos<Terna>(antes, [&](uint32_t& c, Terna& s) { s = Getoffset_matriz(m.data(), f, &c); });
    EXIGE(codigo <= (f ? 3u : 1u));
    EXIGE(f != recuperador_propio || llamadas == 2);  // once per run of the two-fill runner
    EXIGE(f || (std::isnan(r.v[0]) && std::isnan(r.v[1]) && std::isnan(r.v[2])));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  static void (*const kPartes[])(Lector&) = {inversa<double>, inversa<float>, hacia_rotacion<double>,
                                             hacia_rotacion<float>, recupera};
  kPartes[lector.byte() % 5](lector);
  return 0;
}
