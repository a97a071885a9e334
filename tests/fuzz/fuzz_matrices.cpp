// Rotation matrices from Euler angles (sines and cosines, or the angles) and from rotation vectors
// of types 20, 24, 26, 28, the float type-26 builders included.
//
// For every input, through the two-fill runner: all nine output elements are written and nothing
// but the input is read; the input ends unchanged, reordered or overwritten as documented; the two
// float type-26 builders return |p|² and leave the same rewritten vector (NaN of either sign).
#include "comun.hpp"

using namespace orienta::fuzz;

namespace {

using M = std::array<double, 9>;
using Mf = std::array<float, 9>;

void euler(Lector& lector) {
  SenosCosenos sc;
  for (double& v : sc.v) v = lector.escalar<double>();
  EXIGE(mismos_bits(dos_rellenos<M>(sc, [](SenosCosenos& e, M& s) { MatrizRotGT_ωφκ(&e, s.data()); }).first, sc));
  const auto [kwk, m] = dos_rellenos<M>(sc, [](SenosCosenos& e, M& s) { MatrizRotGT_κwκ(&e, s.data()); });
  EXIGE(mismos_bits(kwk, sc) && mismos_bits(m[8], sc.v[3]));  // element 8 is cos w as given
  // Both κ-ω-φ builders reorder their input from (ω, φ, κ) to (κ, ω, φ).
  const SenosCosenos reordenado = {{sc.v[4], sc.v[5], sc.v[0], sc.v[1], sc.v[2], sc.v[3]}};
  EXIGE(
      mismos_bits(dos_rellenos<M>(sc, [](SenosCosenos& e, M& s) { MatrizRotGT_κωφ(&e, s.data()); }).first, reordenado));
  const std::array<double, 3> angulos = {sc.v[0], sc.v[1], sc.v[2]};
  const std::array<double, 3> rotados = {angulos[2], angulos[0], angulos[1]};
  EXIGE(mismos_bits(
      dos_rellenos<M>(angulos, [](std::array<double, 3>& e, M& s) { MatrizRot_κωφ(e.data(), s.data()); }).first,
      rotados));
}

void vectores(Lector& lector) {
  const std::array<double, 3> p = {lector.escalar<double>(), lector.escalar<double>(), lector.escalar<double>()};
  for (auto f : {MatrizRot_20, MatrizRot_24, MatrizRot_26})
    dos_rellenos<M>(p, [f](std::array<double, 3>& e, M& s) { f(e.data(), s.data()); });
  EXIGE(mismos_bits(dos_rellenos<M>(p, [](std::array<double, 3>& e, M& s) { MatrizRot_28(e.data(), s.data()); }).first,
                    p));

  const std::array<float, 3> q = {lector.escalar<float>(), lector.escalar<float>(), lector.escalar<float>()};
  const float largo = (q[1] * q[1] + q[0] * q[0]) + q[2] * q[2];
  float l_dbl = 0, l_fl = 0;
  const auto v_dbl =
      dos_rellenos<M>(q, [&](std::array<float, 3>& e, M& s) { l_dbl = MatrizDeltafl_dbl(e.data(), s.data()); }).first;
  const auto v_fl =
      dos_rellenos<Mf>(q, [&](std::array<float, 3>& e, Mf& s) { l_fl = MatrizDeltafl_fl(e.data(), s.data()); }).first;
  EXIGE(mismo_valor<float>(l_dbl, largo) && mismo_valor<float>(l_fl, largo) && mismo_valor<float>(v_dbl, v_fl));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  euler(lector);
  vectores(lector);
  return 0;
}
