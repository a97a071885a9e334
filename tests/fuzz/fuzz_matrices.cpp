// Rotation matrices from Euler angles (sines and cosines, or the angles) and from rotation vectors
// of types 20, 24, 26, 28, the float type-26 builders included.
//
// For every input, through the two-fill runner: all nine output elements are written and nothing
// but the input is read; the input ends unchanged, reordered or overwritten as documented; the two
// float type-26 builders return |p|² and leave the same rewritten vector (NaN of either sign); every
// type builds the rotation of its vector.
#include <algorithm>

#include "comun.hpp"

using namespace orienta::fuzz;
using namespace prueba;

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
  const auto [v_dbl, m_dbl] =
      dos_rellenos<M>(q, [&](std::array<float, 3>& e, M& s) { l_dbl = MatrizDeltafl_dbl(e.data(), s.data()); });
  const auto [v_fl, m_fl] =
      dos_rellenos<Mf>(q, [&](std::array<float, 3>& e, Mf& s) { l_fl = MatrizDeltafl_fl(e.data(), s.data()); });
  EXIGE(mismo_valor<float>(l_dbl, largo) && mismo_valor<float>(l_fl, largo) && mismo_valor<float>(v_dbl, v_fl));
  // Each entry is one operation on floats, so the double twin's entry rounded to float is the
  // float twin's (rounding to double first is harmless for one operation on floats).
  for (int k = 0; k < 9; ++k) EXIGE(mismo_valor<float>(float(m_dbl[k]), m_fl[k]));
}

// One rotation given as each kind of vector: a unit axis n from the input and θ in (0, π). All
// four types build the rotation cos θ·I + sin θ·[n]× + (1 − cos θ)·n·nᵀ, and 20, 24 and 26 leave
// sin θ·n in the vector: entries of size ≤ 1 a handful of roundings past sin and cos, 1e-13.
void un_giro(Lector& lector) {
  double n[3] = {lector.escalar<double>(), lector.escalar<double>(), lector.escalar<double>()};
  const double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]), theta = (lector.byte() + 1) * (kPi / 257);
  if (!(l > 1e-100 && l < 1e100)) return;
  for (double& x : n) x /= l;
  const double c = std::cos(theta), s = std::sin(theta), h = std::sin(theta / 2);
  double p[4][3], m[4][9], r[9];
  for (int i = 0; i < 3; ++i)
    p[0][i] = theta * n[i], p[1][i] = 2 * h * n[i], p[2][i] = 2 * std::tan(theta / 2) * n[i],
    p[3][i] = 2 * std::asin(h * n[i]);
  const double cruz[9] = {0, -n[2], n[1], n[2], 0, -n[0], -n[1], n[0], 0};  // [n]×
  for (int k = 0; k < 9; ++k) r[k] = (k % 4 == 0 ? c : 0) + s * cruz[k] + (1 - c) * n[k / 3] * n[k % 3];
  MatrizRot_20(p[0], m[0]), MatrizRot_24(p[1], m[1]), MatrizRot_26(p[2], m[2]), MatrizRot_28(p[3], m[3]);
  // Type 28's vector comes through asin, whose rounding grows as 1/√(1 − x²) near ±1 (θ near π
  // about an axis near a coordinate axis): its rotation is compared within that much more.
  double peor = 1.0;
  for (const double x : n) peor = std::max(peor, 1.0 / std::sqrt(std::max(1e-300, 1.0 - h * x * h * x)));
  for (int t = 0; t < 4; ++t)
    for (int k = 0; k < 9; ++k)
      EXIGE(std::fabs(m[t][k] - r[k]) < (t == 3 ? peor : 1.0) * 1e-13 &&
            (t == 3 || std::fabs(p[t][k % 3] - s * n[k % 3]) < 1e-13));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  euler(lector);
  vectores(lector);
  un_giro(lector);
  return 0;
}
