// Angles and type-24 vectors back from a rotation matrix, and the front end that takes whole
// quarter and half turns about z out first. Double precision only; every operation keeps the
// order and grouping shown, since results are compared bit for bit.
#ifndef ORIENTA_ROTACION_RECUPERACION_HPP
#define ORIENTA_ROTACION_RECUPERACION_HPP

#include <cmath>
#include <cstdint>
#include <limits>

#include "interno.hpp"
#include "orienta.h"

namespace orienta::interno {

// One wrap by the library's full turn: below −π a turn is added, at or above π one is taken off.
// π itself therefore leaves as π − kVuelta, just below −π.
inline double envuelve(double a) {
  if (a < -kPi) return a + kVuelta;
  if (a >= kPi) return a - kVuelta;
  return a;
}

// (ω, φ, κ) of M = Rz(κ)·Ry(φ)·Rx(ω).
inline Terna angulos_omega_phi_kappa(const double* m) {
  // Off gimbal lock asin(−m6) is well conditioned and κ, ω come from their own column and row.
  if (std::fabs(m[6]) < 0.9) return Terna{{std::atan2(m[7], m[8]), std::asin(-m[6]), std::atan2(m[3], m[0])}};

  // Near φ = ±π/2 asin loses half its digits; acos of the length of the first column does not.
  const double phi0 = std::acos(std::sqrt(m[0] * m[0] + m[3] * m[3]));
  // φ near +π/2 fixes κ − ω well, φ near −π/2 fixes κ + ω; d is that well-determined combination.
  const bool arriba = m[6] < 0;
  const double phi = arriba ? phi0 : -phi0;
  const double d = arriba ? std::atan2(m[5] - m[1], m[4] + m[2]) : std::atan2(-m[1] - m[5], m[4] - m[2]);
  // At exact gimbal lock only d is defined: ω = 0 carries none of it, and d is not wrapped.
  if ((m[0] == 0 && m[3] == 0) || (m[7] == 0 && m[8] == 0)) return Terna{{0.0, phi, d}};

  // a and b are κ and ω read as off gimbal lock: their sum (or difference) is still sound, the
  // other combination is replaced by d, sharing the disagreement equally between them.
  const double a = std::atan2(m[3], m[0]);
  const double b = std::atan2(m[7], m[8]);
  double e = arriba ? (a - b) - d : (a + b) - d;
  e = envuelve(e);
  e = e * 0.5;
  const double kappa = envuelve(a - e);
  const double omega = envuelve(arriba ? b + e : b - e);
  return Terna{{omega, phi, kappa}};
}

// The type-24 vector 2·sin(θ/2)·n of M.
inline Terna vector_tipo24(const double* m) {
  const double t = (m[0] + m[4]) + m[8];
  // Away from half a turn the antisymmetric part carries the vector: it equals sin θ·n, and
  // 1/√(t + 1) = 1/(2·cos(θ/2)) turns it into 2·sin(θ/2)·n.
  if (t > -0.8) {
    const double k = 1.0 / std::sqrt(t + 1.0);
    return Terna{{(m[7] - m[5]) * k, (m[2] - m[6]) * k, (m[3] - m[1]) * k}};
  }

  // Near half a turn the antisymmetric part fades, but the diagonal gives each component's
  // magnitude: 2·mᵢᵢ + 1 − t = 4·qᵢ², q the quaternion's vector part.
  const double u = 1.0 - t;
  const double q[3] = {2.0 * m[0] + u, 2.0 * m[4] + u, 2.0 * m[8] + u};
  // The antisymmetric part is trusted only for the sign of the largest component (the first one
  // on ties), where it is farthest from rounding noise; at exactly half a turn it vanishes and
  // that component comes out positive. Each other component takes its sign relative to the
  // largest from the symmetric sum of the pair, 4·qᵢ·qⱼ, which the half turn leaves intact.
  int mayor = 0;
  if (q[1] > q[mayor]) mayor = 1;
  if (q[2] > q[mayor]) mayor = 2;
  const bool antisimetrica[3] = {m[5] > m[7], m[6] > m[2], m[1] > m[3]};
  // simetrica[i][j] = 4·qᵢ·qⱼ for i ≠ j (elements (i, j) + (j, i)).
  const double sxy = m[1] + m[3], sxz = m[2] + m[6], syz = m[5] + m[7];
  const double simetrica[3][3] = {{0.0, sxy, sxz}, {sxy, 0.0, syz}, {sxz, syz, 0.0}};
  const bool negativo_mayor = antisimetrica[mayor];

  Terna r;
  for (int i = 0; i < 3; ++i) {
    // q < 0 (only off a rotation, or by rounding) gives +0 whatever the signs say.
    if (!(q[i] >= 0)) {
      r.v[i] = 0.0;
      continue;
    }
    const bool negativo = i == mayor ? negativo_mayor : (simetrica[mayor][i] < 0 ? !negativo_mayor : negativo_mayor);
    const double magnitud = std::sqrt(q[i]);
    r.v[i] = negativo ? -magnitud : magnitud;
  }
  return r;
}

// Takes a quarter turn about z out of m when cos 2κ ≈ m1·m3 + m0·m4 is negative, then a half turn
// when what remains still turns by more than π/2, and recovers the triple with `recuperar`.
// `propia` is the address of this library's own ω-φ-κ recovery: with it the half turn is taken
// out of the returned angles, with any other function out of the matrix. The code is written
// through `codigo` as soon as the quarter turn is settled and again when a half turn is added.
inline Terna quita_vueltas(const double* m, FuncGmatriz recuperar, FuncGmatriz propia, uint32_t* codigo) {
  const double s = m[1] * m[3] + m[0] * m[4];
  double girada[9];
  const double* w = m;
  uint32_t c = 0;
  // A NaN s takes no turn out.
  if (s < 0) {
    // W = M·Rz(−π/2): the new first column is the old second negated, the new second the old
    // first, the third unchanged.
    const double cuarto[9] = {-m[1], m[0], m[2], -m[4], m[3], m[5], -m[7], m[6], m[8]};
    for (int k = 0; k < 9; ++k) girada[k] = cuarto[k];
    w = girada;
    c = 1;
  }
  *codigo = c;

  // Without a recovery function there is nothing to return but the code of the quarter turn.
  if (recuperar == nullptr) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return Terna{{nan, nan, nan}};
  }

  if (recuperar == propia) {
    // propia's own body, called here rather than through the pointer: a call through the
    // exported name could be bound to a host's function of that name.
    Terna r = angulos_omega_phi_kappa(w);
    double& kappa = r.v[2];
    // Only a strict excess over π/2 counts: κ = ±π/2 exactly stays.
    if (std::fabs(kappa) > kMedioPi) {
      *codigo = c + 2;
      // The angles of W·Rz(π): κ moves by π towards 0, ω and φ change sign.
      kappa = kappa >= 0 ? kappa - kPi : kappa + kPi;
      r.v[0] = -r.v[0];
      r.v[1] = -r.v[1];
    }
    return r;
  }

  if (w[0] < 0) {
    *codigo = c + 2;
    // W·Rz(π): the first and second columns negated.
    const double medio[9] = {-w[0], -w[1], w[2], -w[3], -w[4], w[5], -w[6], -w[7], w[8]};
    for (int k = 0; k < 9; ++k) girada[k] = medio[k];
    w = girada;
  }
  return recuperar(w);
}

}  // namespace orienta::interno

#endif
