// Rotation matrices from Euler angles (ω-φ-κ, κ-ω-φ, κ-w-κ), double precision only. Every product
// is evaluated left to right as written and every sum in the order shown: matrices are compared
// bit for bit.
#ifndef ORIENTA_ROTACION_EULER_HPP
#define ORIENTA_ROTACION_EULER_HPP

#include <cmath>

namespace orienta::interno {

// M = Rz(κ)·Ry(φ)·Rx(ω) from the sines and cosines of ω, φ, κ.
inline void matriz_omega_phi_kappa(double so, double co, double sp, double cp, double sk, double ck, double* M) {
  M[0] = cp * ck;
  M[1] = sp * so * ck - sk * co;
  M[2] = so * sk + sp * co * ck;
  M[3] = cp * sk;
  M[4] = sp * so * sk + ck * co;
  M[5] = sp * co * sk - so * ck;
  M[6] = -sp;
  M[7] = cp * so;
  M[8] = cp * co;
}

// M = Ry(φ)·Rx(ω)·Rz(κ). [in,out] v, six sines and cosines in pairs, is reordered from (ω, φ, κ)
// to (κ, ω, φ), as the caller sees it; the matrix is then read off the reordered array.
inline void matriz_kappa_omega_phi(double* v, double* M) {
  const double viejo[6] = {v[0], v[1], v[2], v[3], v[4], v[5]};
  v[0] = viejo[4];
  v[1] = viejo[5];
  v[2] = viejo[0];
  v[3] = viejo[1];
  v[4] = viejo[2];
  v[5] = viejo[3];
  const double sk = v[0], ck = v[1], so = v[2], co = v[3], sp = v[4], cp = v[5];
  M[0] = ck * cp + sp * sk * so;
  M[1] = sp * ck * so - sk * cp;
  M[2] = sp * co;
  M[3] = sk * co;
  M[4] = ck * co;
  M[5] = -so;
  M[6] = sk * so * cp - ck * sp;
  M[7] = sk * sp + ck * so * cp;
  M[8] = co * cp;
}

// M = Rz(κ₂)·Rx(w)·Rz(κ₁) from v = (sin κ₁, cos κ₁, sin w, cos w, sin κ₂, cos κ₂).
inline void matriz_kappa_w_kappa(const double* v, double* M) {
  const double s1 = v[0], c1 = v[1], sw = v[2], cw = v[3], s2 = v[4], c2 = v[5];
  M[0] = c2 * c1 - cw * s1 * s2;
  M[1] = -c2 * s1 - cw * c1 * s2;
  M[2] = sw * s2;
  M[3] = cw * s1 * c2 + c1 * s2;
  M[4] = cw * c1 * c2 - s1 * s2;
  M[5] = -c2 * sw;
  M[6] = sw * s1;
  M[7] = sw * c1;
  M[8] = cw;
}

// M = Ry(φ)·Rx(ω)·Rz(κ) from the angles themselves. [in,out] angulos is reordered from (ω, φ, κ)
// to (κ, ω, φ). Rz(φ)·Ry(ω)·Rx(κ) is built by the ω-φ-κ formulas with (κ, ω, φ) in the (ω, φ, κ)
// slots, then the cyclic relabelling x→z, y→x, z→y of rows and columns turns it into
// Ry(φ)·Rx(ω)·Rz(κ); this rounds differently from the κ-ω-φ formulas above.
inline void matriz_kappa_omega_phi_angulos(double* angulos, double* M) {
  const double omega = angulos[0], phi = angulos[1], kappa = angulos[2];
  angulos[0] = kappa;
  angulos[1] = omega;
  angulos[2] = phi;
  double A[9];
  matriz_omega_phi_kappa(std::sin(kappa), std::cos(kappa), std::sin(omega), std::cos(omega), std::sin(phi),
                         std::cos(phi), A);
  // New entry (i, j) = old entry ((i + 1) mod 3, (j + 1) mod 3).
  static constexpr int kCiclo[9] = {4, 5, 3, 7, 8, 6, 1, 2, 0};
  for (int k = 0; k < 9; ++k) M[k] = A[kCiclo[k]];
}

}  // namespace orienta::interno

#endif
