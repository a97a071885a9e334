// 2D polynomial transformations: evaluation of one point and least-squares estimation from point
// pairs, each written once for both precisions. Every value is of the scalar type T.
#ifndef ORIENTA_PLANO_POLINOMICA_HPP
#define ORIENTA_PLANO_POLINOMICA_HPP

#include <cstdint>

#include "anchos/despacho.hpp"
#include "gemelos.hpp"
#include "interno.hpp"
#include "orienta.h"
#include "plano/hel2d.hpp"
#include "plano/polinomica_avx2.hpp"
#include "plano/polinomica_pasadas.hpp"

namespace orienta::interno {

// Registro is Trans_Polinomica2D_dbl or _fl, whose scalars are T. tipo is compared unsigned:
// below 6 only the linear terms count, 6 adds the quadratic ones, 7 and anything larger all nine.
// The powers are formed once, only as far as the kind needs, and serve both coordinates. Each group
// (linear, quadratic, cubic) is summed on its own in term order before it joins the result, and the
// destination is added last, so that the centroid maps exactly onto (x0_destino, y0_destino).
template <class T, class Registro>
void transforma_punto(const Registro& t, T* punto) {
  const T* cx = t.coef_x;
  const T* cy = t.coef_y;
  const T dx = punto[0] - t.xc_origen;
  const T dy = punto[1] - t.yc_origen;
  T x = cx[0] * dx + cx[1] * dy;
  T y = cy[0] * dx + cy[1] * dy;
  if (t.tipo >= 6) {
    const T dx2 = dx * dx, dxdy = dx * dy, dy2 = dy * dy;
    x = x + ((cx[2] * dx2 + cx[3] * dxdy) + cx[4] * dy2);
    y = y + ((cy[2] * dx2 + cy[3] * dxdy) + cy[4] * dy2);
    if (t.tipo >= 7) {
      const T dx3 = dx2 * dx, dx2dy = dxdy * dx, dxdy2 = dy2 * dx, dy3 = dy * dy2;
      x = x + (((cx[5] * dx3 + cx[6] * dx2dy) + cx[7] * dxdy2) + cx[8] * dy3);
      y = y + (((cy[5] * dx3 + cy[6] * dx2dy) + cy[7] * dxdy2) + cy[8] * dy3);
    }
  }
  punto[0] = x + t.x0_destino;
  punto[1] = y + t.y0_destino;
}

// Products of the scaled cosine c and sine s, each formed once and shared by both coordinates.
template <class T>
struct Potencias {
  T c2, s2, sc;        // c², s², s·c
  T c3, s3, s2c, sc2;  // c²·c, s²·s, s²·c, (s·c)·c
};

// The correction's terms in X′, Y′ rewritten in dx, dy, for one output coordinate (a holds the
// solution for that coordinate). The groupings are fixed: results are reproduced bit for bit.
template <class T>
void pliega_orden_dos(const Potencias<T>& p, const T* a, T* coef) {
  const T dos_sc = p.sc + p.sc;
  coef[2] = (a[3] * p.c2 + a[4] * p.sc) + a[5] * p.s2;
  coef[3] = (a[5] - a[3]) * dos_sc + (p.c2 - p.s2) * a[4];
  coef[4] = (a[3] * p.s2 - a[4] * p.sc) + a[5] * p.c2;
}

template <class T>
void pliega_orden_tres(const Potencias<T>& p, const T* a, T* coef) {
  const T c3_menos = p.c3 - (p.s2c + p.s2c);   // c³ − 2·s²·c
  const T sc2_menos = (p.sc2 + p.sc2) - p.s3;  // 2·s·c² − s³
  const T tres_sc2 = p.sc2 * T(3), tres_s2c = p.s2c * T(3);
  coef[5] = ((a[6] * p.c3 + a[7] * p.sc2) + a[8] * p.s2c) + a[9] * p.s3;
  coef[6] = ((a[7] * c3_menos - tres_sc2 * a[6]) + a[8] * sc2_menos) + tres_s2c * a[9];
  coef[7] = ((tres_s2c * a[6] - a[7] * sc2_menos) + a[8] * c3_menos) + tres_sc2 * a[9];
  coef[8] = ((a[7] * p.s2c - a[6] * p.s3) - a[8] * p.sc2) + a[9] * p.c3;
}

// The normal-equation pass, by kind of kernel.
template <uint32_t U, class T>
void suma_normales(NucleoPortable, const CapaPtr<T>& pares, uint32_t n, const RegistroHel2Dg<T>& g, T c, T s, T* N,
                   T* rx, T* ry) {
  suma_normales<U>(pares, n, g, c, s, N, rx, ry);
}
#if ORIENTA_AVX2
template <uint32_t U, class T>
void suma_normales(NucleoAvx2, const CapaPtr<T>& pares, uint32_t n, const RegistroHel2Dg<T>& g, T c, T s, T* N, T* rx,
                   T* ry) {
  suma_normales_avx2<U>(pares, n, g, c, s, N, rx, ry);
}
#endif

// Kind 0: the centroids alone.
template <class T, class Registro>
void estima_constante(Registro& t, const CapaPtr<T>& pares, uint32_t n) {
  T centro_o[2], centro_d[2];
  centroides<2>(pares, n, centro_o, centro_d);
  t.xc_origen = centro_o[0];
  t.yc_origen = centro_o[1];
  t.x0_destino = centro_d[0];
  t.y0_destino = centro_d[1];
}

// The least-squares correction in the carried coordinates: a and b receive the solution for x and
// for y, u = 3, 6 or 10 coefficients each. 3, 4 and 5 fit the affine correction (1, X′, Y′): 4
// and 5 have no kind of their own and are evaluated as affine, so an affine fit is what their
// record can express. The work area is a fixed block on this frame.
template <class Nucleo, class T>
void ajusta_correccion(Nucleo nucleo, uint32_t tipo, const CapaPtr<T>& pares, uint32_t n, const RegistroHel2Dg<T>& g,
                       T c, T s, T a[10], T b[10]) {
  const uint32_t u = tipo == 7 ? 10 : tipo == 6 ? 6 : 3;
  T N[55];
  for (T& v : N) v = T(0);
  for (int j = 0; j < 10; ++j) a[j] = b[j] = T(0);

  // The normal equations are formed in the coordinates the similarity carries the source points
  // to, unscaled apart from that: only the lower triangle of N, packed by rows.
  if (u == 10)
    suma_normales<10>(nucleo, pares, n, g, c, s, N, a, b);
  else if (u == 6)
    suma_normales<6>(nucleo, pares, n, g, c, s, N, a, b);
  else
    suma_normales<3>(nucleo, pares, n, g, c, s, N, a, b);

  // A singular system leaves NaN in a and b, so a degenerate fit yields a NaN record rather than
  // noise; the status adds nothing the record does not already show.
  Gemelo<T>::resuelve_normales(N, a, b, int32_t(u));
}

// Folds the correction a, b (for x and y) and the similarity's turn (c, s) into the record's
// coefficients, as far as its kind goes.
template <class T, class Registro>
void pliega_correccion(Registro& t, const RegistroHel2Dg<T>& g, const T a[10], const T b[10], T c, T s) {
  t.x0_destino = g.xc_destino + a[0];
  t.y0_destino = g.yc_destino + b[0];
  // X′ = c·dx − s·dy and Y′ = s·dx + c·dy carry a unit coefficient of their own: it joins a1 in x
  // and b2 in y.
  const T a1 = a[1] + T(1), b2 = b[2] + T(1);
  t.coef_x[0] = a1 * c + a[2] * s;
  t.coef_x[1] = a[2] * c - a1 * s;
  t.coef_y[0] = b[1] * c + b2 * s;
  t.coef_y[1] = b2 * c - b[1] * s;
  if (t.tipo < 6) return;

  Potencias<T> p;
  p.c2 = c * c;
  p.s2 = s * s;
  p.sc = s * c;
  pliega_orden_dos(p, a, t.coef_x);
  pliega_orden_dos(p, b, t.coef_y);
  if (t.tipo < 7) return;

  p.c3 = p.c2 * c;
  p.s3 = p.s2 * s;
  p.s2c = p.s2 * c;
  p.sc2 = p.sc * c;
  pliega_orden_tres(p, a, t.coef_x);
  pliega_orden_tres(p, b, t.coef_y);
}

// Fills t for the kind in t.tipo from n pairs in the pointer layout, with the kernels of the kind
// given. The polynomial kinds carry each source point through the similarity of the same pairs, fit
// a correction by least squares in the carried coordinates and fold both into the record. Sums run
// in array order, one accumulator each.
template <class Nucleo, class T, class Registro>
void estima_polinomica(Nucleo nucleo, Registro& t, const CapaPtr<T>& pares, uint32_t n) {
  if (t.tipo > 7) t.tipo = 7;
  for (int k = 0; k < 9; ++k) t.coef_x[k] = t.coef_y[k] = T(0);
  if (t.tipo == 0) return estima_constante(t, pares, n);

  const RegistroHel2Dg<T> g = estima_hel2dg<T>(nucleo, pares, n);
  t.xc_origen = g.xc_origen;
  t.yc_origen = g.yc_origen;
  t.x0_destino = g.xc_destino;
  t.y0_destino = g.yc_destino;
  T c = g.cos_giro, s = g.sen_giro;
  if (t.tipo != 1) {  // the rigid kind drops the scale
    c = c * g.escala;
    s = s * g.escala;
  }
  if (t.tipo <= 2) {
    t.coef_x[0] = c;
    t.coef_x[1] = -s;
    t.coef_y[0] = s;
    t.coef_y[1] = c;
    return;
  }
  T a[10], b[10];
  ajusta_correccion(nucleo, t.tipo, pares, n, g, c, s, a, b);
  pliega_correccion(t, g, a, b, c, s);
}

// The exported estimators: the kind of kernel is chosen here, once per call, for the similarity
// and the normal equations alike.
template <class T, class Registro>
void estima_polinomica(Registro& t, const T* const* P, uint32_t n) {
  con_nucleos([&](auto nucleo) { estima_polinomica(nucleo, t, CapaPtr<T>{P}, n); });
}

}  // namespace orienta::interno

#endif
