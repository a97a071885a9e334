// 3×3 utilities: the symmetric inverse and re-orthonormalisation, once for both precisions.
// Every intermediate value is of the matrix's own scalar type T.
#ifndef ORIENTA_ROTACION_UTILIDADES_HPP
#define ORIENTA_ROTACION_UTILIDADES_HPP

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace orienta::interno {

// Symmetric elimination without pivoting. Reads the upper triangle (elements 0, 1, 2, 4, 5, 8) and
// writes the full symmetric inverse. The operations and their order are fixed: the 3D similarity
// solves its Newton system with this and its results are compared bit for bit.
// Returns true when the three pivots it divides by (a00 and the two below) are all positive, i.e.
// the matrix is positive definite as this elimination sees it; a NaN pivot is not positive. The
// verdict thus comes from the very roundings of the inverse.
template <class T>
bool inversa_simetrica(T* m) {
  const T a00 = m[0], a01 = m[1], a02 = m[2], a11 = m[4], a12 = m[5], a22 = m[8];
  const T p = T(1) / a00;
  const T u = -(a01 * p);
  const T v = -(a02 * p);
  const T pivote1 = u * a01 + a11;
  const T e = T(1) / pivote1;
  const T w = v * a01 + a12;
  const T h = -(w * e);
  const T pivote2 = (v * a02 + a22) + h * w;
  const T f = T(1) / pivote2;
  m[8] = f;
  const T y = f * h;
  m[5] = y;
  m[7] = y;
  const T z = y * h + e;
  m[4] = z;
  const T t = u * y + f * v;
  m[2] = t;
  m[6] = t;
  const T o = u * z + y * v;
  m[1] = o;
  m[3] = o;
  m[0] = (o * u + t * v) + p;
  return a00 > T(0) && pivote1 > T(0) && pivote2 > T(0);
}

// Orders three squared lengths descending, ties to the higher index. Only strict > is used, so a
// NaN never counts as longer.
struct Orden3 {
  int largo, segundo, tercero;
};

template <class T>
Orden3 ordena_longitudes(const T (&l)[3]) {
  if (l[0] > l[1]) {
    if (l[0] > l[2]) return l[1] > l[2] ? Orden3{0, 1, 2} : Orden3{0, 2, 1};
    return Orden3{2, 0, 1};
  }
  if (l[1] > l[2]) return l[0] > l[2] ? Orden3{1, 0, 2} : Orden3{1, 2, 0};
  return Orden3{2, 1, 0};
}

// Turns a near-rotation (possibly scaled) into a rotation in place and returns the index of the
// line rebuilt by the cross product.
template <class T>
int32_t convierte_en_rotacion(T* m) {
  T filas[3], columnas[3];
  for (std::ptrdiff_t i = 0; i < 3; ++i)
    filas[i] = (m[3 * i] * m[3 * i] + m[3 * i + 1] * m[3 * i + 1]) + m[3 * i + 2] * m[3 * i + 2];
  for (int j = 0; j < 3; ++j) columnas[j] = (m[j] * m[j] + m[3 + j] * m[3 + j]) + m[6 + j] * m[6 + j];
  const Orden3 of = ordena_longitudes(filas);
  const Orden3 oc = ordena_longitudes(columnas);

  // Rows when the second-longest row beats the second-longest column; ties go to columns, which
  // is the path the identity takes.
  const bool por_filas = filas[of.segundo] > columnas[oc.segundo];
  const Orden3 o = por_filas ? of : oc;
  const T* longitud = por_filas ? filas : columnas;
  // Element k of line i: a row walks along one stride, a column along the other.
  const int paso_linea = por_filas ? 3 : 1, paso_elemento = por_filas ? 1 : 3;
  auto elem = [&](int linea, int k) -> T& { return m[linea * paso_linea + k * paso_elemento]; };

  const T k1 = T(1) / std::sqrt(longitud[o.largo]);
  for (int k = 0; k < 3; ++k) elem(o.largo, k) = elem(o.largo, k) * k1;

  const T d = (elem(o.largo, 0) * elem(o.segundo, 0) + elem(o.largo, 1) * elem(o.segundo, 1)) +
              elem(o.largo, 2) * elem(o.segundo, 2);
  for (int k = 0; k < 3; ++k) elem(o.segundo, k) = elem(o.segundo, k) - elem(o.largo, k) * d;
  // The length of the orthogonalised line is predicted from the first pass (|S|² − d²), not
  // measured again.
  const T k2 = T(1) / std::sqrt(longitud[o.segundo] - d * d);
  for (int k = 0; k < 3; ++k) elem(o.segundo, k) = elem(o.segundo, k) * k2;

  // Line T = line (T+1) × line (T+2), cyclic: right-handed whatever the input's handedness.
  const int a = (o.tercero + 1) % 3, b = (o.tercero + 2) % 3;
  const T a0 = elem(a, 0), a1 = elem(a, 1), a2 = elem(a, 2);
  const T b0 = elem(b, 0), b1 = elem(b, 1), b2 = elem(b, 2);
  elem(o.tercero, 0) = a1 * b2 - a2 * b1;
  elem(o.tercero, 1) = a2 * b0 - a0 * b2;
  elem(o.tercero, 2) = a0 * b1 - a1 * b0;
  return o.tercero;
}

}  // namespace orienta::interno

#endif
