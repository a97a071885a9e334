// Rotation matrices from three-component rotation vectors. Types 20, 24 and 26 (and the float
// type-26 builders used by the 3D similarity) share one Rodrigues scheme,
//   R = I + [s]× + k·(p·pᵀ − |p|²·I),
// and differ only in the factor k, the symmetric products and the rewritten vector s; type 28
// builds the unit-quaternion matrix directly. Every operation below keeps the order and grouping
// shown: matrices are compared bit for bit, and (a·b)·c differs from a·(b·c) in the last place.
#ifndef ORIENTA_ROTACION_VECTORES_HPP
#define ORIENTA_ROTACION_VECTORES_HPP

#include <cmath>

namespace orienta::interno {

// What a vector type contributes to the shared scheme, all in the vector's scalar type T.
template <class T>
struct Rodrigues {
  T k;           // the factor of p·pᵀ − |p|²·I
  T xy, zx, yz;  // the symmetric off-diagonal products (elements 1/3, 2/6, 5/7)
  T s[3];        // the vector left in the caller's array: sin θ·n
};

// Type 20: p = θ·n. k = (1 − cos θ)/θ², s = (sin θ/θ)·p.
struct Tipo20 {
  template <class T>
  static Rodrigues<T> prepara(T x, T y, T z, T norma2) {
    T k, f;
    if (norma2 == T(0)) {
      // θ = 0 would divide 0 by 0 in both ratios; their limits are sin θ/θ = 1 and
      // (1 − cos θ)/θ² = 1/2, which give the identity and leave the vector as it is. Only an
      // exact 0 takes this branch, so every other vector keeps the general formulas (a vector
      // whose squares underflow to 0 also gets the limits, the right first-order answer).
      k = T(0.5);
      f = T(1);
    } else {
      const T theta = std::sqrt(norma2);
      const T seno = std::sin(theta), coseno = std::cos(theta);
      k = (T(1) - coseno) / norma2;
      f = seno / theta;
    }
    return {k, (k * x) * y, (k * z) * x, (k * y) * z, {f * x, f * y, f * z}};
  }
};

// Type 24: p = 2·sin(θ/2)·n. k = 1/2, s = √(1 − |p|²/4)·p (NaN beyond |p| = 2).
struct Tipo24 {
  template <class T>
  static Rodrigues<T> prepara(T x, T y, T z, T norma2) {
    const T k = T(0.5);
    const T c = std::sqrt(T(1) - norma2 * T(0.25));
    return {k, (k * x) * y, (k * z) * x, (k * y) * z, {c * x, c * y, c * z}};
  }
};

// Type 26: p = 2·tan(θ/2)·n. k = 1/(|p|²/2 + 2), s = 2·k·p. The factor enters the vector first
// (k·x, k·y, k·z), the symmetric products are formed from those, and only then is each
// component doubled.
struct Tipo26 {
  template <class T>
  static Rodrigues<T> prepara(T x, T y, T z, T norma2) {
    const T k = T(1) / (norma2 * T(0.5) + T(2));
    const T kx = k * x, ky = k * y, kz = k * z;
    return {k, kx * y, z * kx, ky * z, {T(2) * kx, T(2) * ky, T(2) * kz}};
  }
};

// The shared scheme. Calculo is the vector's type, in which every square, sum, factor and product
// is formed; Almacen is the matrix's type. When Almacen is wider (double matrix from a float
// vector), each product is widened as it is stored, and the subtractions from 1 on the diagonal
// and the antisymmetric additions run in Almacen on the widened values. p is overwritten with s;
// p and M must not overlap. Returns |p|² = (y² + x²) + z² of p as passed in.
template <class Tipo, class Calculo, class Almacen>
Calculo matriz_rodrigues(Calculo* p, Almacen* M) {
  const Calculo x = p[0], y = p[1], z = p[2];
  const Calculo x2 = x * x, y2 = y * y, z2 = z * z;
  const Calculo norma2 = (y2 + x2) + z2;
  const Rodrigues<Calculo> r = Tipo::prepara(x, y, z, norma2);

  M[0] = Almacen(1) - Almacen((z2 + y2) * r.k);
  M[4] = Almacen(1) - Almacen((z2 + x2) * r.k);
  M[8] = Almacen(1) - Almacen((y2 + x2) * r.k);
  M[1] = M[3] = Almacen(r.xy);
  M[2] = M[6] = Almacen(r.zx);
  M[5] = M[7] = Almacen(r.yz);

  p[0] = r.s[0];
  p[1] = r.s[1];
  p[2] = r.s[2];

  // The antisymmetric part [s]× uses the vector as stored in the caller's type.
  const Almacen sx = Almacen(p[0]), sy = Almacen(p[1]), sz = Almacen(p[2]);
  M[1] = M[1] - sz;
  M[3] = M[3] + sz;
  M[2] = M[2] + sy;
  M[6] = M[6] - sy;
  M[5] = M[5] - sx;
  M[7] = M[7] + sx;
  return norma2;
}

// Type 28: p = (2·asin q1, 2·asin q2, 2·asin q3), q = sin(θ/2)·n. The unit-quaternion matrix with
// vector part (sin(x/2), sin(y/2), sin(z/2)) and scalar part w/2; its diagonal uses
// 1 − 2·sin²(a/2) = cos a, so it needs no squares. p is only read.
inline void matriz_tipo28(const double* p, double* M) {
  const double cx = std::cos(p[0]), cy = std::cos(p[1]), cz = std::cos(p[2]);
  const double sx = std::sin(p[0] * 0.5), sy = std::sin(p[1] * 0.5), sz = std::sin(p[2] * 0.5);
  const double traza = (cy + cx) + cz;
  // Twice the scalar part; NaN once sin²(x/2) + sin²(y/2) + sin²(z/2) exceeds 1.
  const double w = std::sqrt(2.0 * traza - 2.0);
  M[0] = cz + cy - 1.0;
  M[1] = 2.0 * sx * sy - w * sz;
  M[2] = 2.0 * sx * sz + w * sy;
  M[3] = 2.0 * sx * sy + w * sz;
  M[4] = cx + cz - 1.0;
  M[5] = 2.0 * sy * sz - w * sx;
  M[6] = 2.0 * sx * sz - w * sy;
  M[7] = 2.0 * sy * sz + w * sx;
  M[8] = cx + cy - 1.0;
}

}  // namespace orienta::interno

#endif
