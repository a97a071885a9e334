// The wide passes of the 3D similarity on AVX2: the centroids and the centring into the copy for
// double points, and the Newton pass over either store, for both precisions (float in place has
// none: its portable pass runs). The terms are those of espacio/hel3d_pasadas.hpp, and pairs left
// over take its per-pair steps, so the bits are those of the portable passes.
//
// The Newton pass takes eight pairs at a time: their nine single-precision terms are formed side by
// side, one pair per lane (in T's precision up to the roundings to float, exactly as the portable
// pass rounds; double points in two halves of four). An 8×8 transpose then gives one register per
// pair holding that pair's terms of eight of the sums (g0, g1, g2, k0, k4, k8, k1, k2), and those
// registers are added in pair order to one register of running sums, each lane one accumulator.
// The ninth sum, k5, takes its eight terms one by one.
#ifndef ORIENTA_ESPACIO_HEL3D_AVX2_HPP
#define ORIENTA_ESPACIO_HEL3D_AVX2_HPP

#include "anchos/despacho.hpp"
#include "anchos/vectores.hpp"
#include "espacio/hel3d_pasadas.hpp"
#include "interno.hpp"

#if ORIENTA_AVX2
#  include <cstddef>
#  include <cstdint>

namespace orienta::interno {

// Pairs k … k+L−1 of the store, one coordinate per register: a0, a1, a2, b0, b1, b2.
template <class T>
ORIENTA_CON_AVX2 inline void lee_ancho(const CentradosCopia<T>& copia, uint32_t k, Vector<T> v[6]) {
  for (int e = 0; e < 6; ++e) v[e] = carga(copia.c[e] + k);
}
// x and y of four points from their 16-byte halves, z one scalar at a time: a point's fourth
// scalar may lie past the caller's memory.
ORIENTA_CON_AVX2 inline void tres(const double* q0, const double* q1, const double* q2, const double* q3,
                                  __m256d v[3]) {
  xy_de_cuatro(q0, q1, q2, q3, v[0], v[1]);
  v[2] = _mm256_setr_pd(q0[2], q1[2], q2[2], q3[2]);
}
ORIENTA_CON_AVX2 inline void lee_ancho(const CentradosSitio<double>& sitio, uint32_t k, __m256d v[6]) {
  const double* const* q = sitio.pares.p + 2 * size_t(k);
  tres(q[0], q[2], q[4], q[6], v);
  tres(q[1], q[3], q[5], q[7], v + 3);
}

// Terms of eight pairs as nine registers of eight floats, in the order of suma_par_newton.
template <class T, class Centrados>
ORIENTA_CON_AVX2 inline void terminos8(const Centrados& centrados, uint32_t k, const Vector<T> r[9], __m256 t[9]) {
  constexpr uint32_t L = sizeof(Vector<T>) / sizeof(T);
  constexpr uint32_t H = 8 / L;  // reads of L pairs
  using Simple = decltype(a_simple(Vector<T>()));
  Simple m[9][H];  // g0 g1 g2, then R·a and b, rounded to float
  for (uint32_t h = 0; h < H; ++h) {
    Vector<T> v[6], ra[3], tg[3];
    lee_ancho(centrados, k + L * h, v);
    gira(r, v, ra);
    terminos_gradiente(ra, v + 3, tg);
    for (int e = 0; e < 3; ++e) m[e][h] = a_simple(tg[e]);
    for (int e = 0; e < 3; ++e) m[3 + e][h] = a_simple(ra[e]);
    for (int e = 0; e < 3; ++e) m[6 + e][h] = a_simple(v[3 + e]);
  }
  __m256 u[9];
  for (int e = 0; e < 9; ++e) u[e] = une(m[e]);
  for (int e = 0; e < 3; ++e) t[e] = u[e];
  terminos_matriz(u + 3, u + 6, t + 3);
}

// g and the upper triangle of kk, as acumula_newton leaves them.
template <class T, class Centrados>
ORIENTA_CON_AVX2 void acumula_newton_avx2(const Centrados& centrados, uint32_t n, const T r[9], float g[3],
                                          float kk[9]) {
  Vector<T> rv[9];
  for (int e = 0; e < 9; ++e) rv[e] = difunde(r[e]);
  __m256 acc = difunde(0.0f);  // g0, g1, g2, k0, k4, k8, k1, k2
  float k5 = 0.0f;
  uint32_t k = 0;
  for (; n - k >= 8; k += 8) {
    __m256 t[9];
    terminos8<T>(centrados, k, rv, t);
    float quinto[8];
    guarda(quinto, t[8]);
    traspone8(t);
    for (int p = 0; p < 8; ++p) acc = acc + t[p];
    for (const float q : quinto) k5 = k5 + q;
  }
  float s[9];
  guarda(s, acc);
  s[8] = k5;
  for (; k < n; ++k) suma_par_newton(centrados, k, r, s);
  newton_de_sumas(s, g, kk);
}

// Centroids of double points through the pair array: (Σxs, Σys, Σxt, Σyt) as the lanes of one
// register and (Σzs, Σzt) of another, each lane one sum in pair order; then medias.
ORIENTA_CON_AVX2 inline void centroides3_avx2(const CapaPtr<double, double>& pares, uint32_t n, double (&co)[3],
                                              double (&cd)[3]) {
  __m256d xy = difunde(0.0);
  __m128d z = _mm_setzero_pd();
  for (uint32_t k = 0; k < n; ++k) {
    const double* o = pares.origen(k);
    const double* d = pares.destino(k);
    xy = xy + dos(o, d);
    z = z + _mm_loadh_pd(_mm_load_sd(o + 2), d + 2);
  }
  double s[6];
  guarda(s, xy);
  _mm_storeu_pd(s + 4, z);
  const double so[3] = {s[0], s[1], s[4]}, sd[3] = {s[2], s[3], s[5]};
  medias(so, sd, n, co, cd);
}

// The centring pass into the double copy, four pairs at a time: the six centred coordinates of
// four pairs side by side, stored to the copy as they are, their moment terms, and the sums in four
// groups of four through 4×4 transposes, in the order of Momento, then n8 one term at a time (the
// planar start sums the first six).
template <bool kGeneral>
ORIENTA_CON_AVX2 Momentos<double> centra_y_suma_avx2(const CapaPtr<double, double>& pares, uint32_t n,
                                                     const double centro_o[3], const double centro_d[3],
                                                     const CentradosCopia<double>& copia) {
  const double co[3] = {centro_o[0], centro_o[1], centro_o[2]};
  const double cd[3] = {centro_d[0], centro_d[1], centro_d[2]};
  const __m256d c[6] = {difunde(co[0]), difunde(co[1]), difunde(co[2]), difunde(cd[0]), difunde(cd[1]), difunde(cd[2])};
  const __m256d cero = difunde(0.0);
  __m256d acc[4] = {cero, cero, cero, cero};
  double n8 = 0.0;
  uint32_t k = 0;
  for (; n - k >= 4; k += 4) {
    __m256d v[6];
    lee_ancho(CentradosSitio<double>{pares}, k, v);  // the points as they stand
    for (int e = 0; e < 6; ++e) {
      v[e] = v[e] - c[e];
      guarda(copia.c[e] + k, v[e]);
    }
    __m256d t[4];
    terminos_momentos<0>(v, v + 3, t);
    acc[0] = suma_por_pares(acc[0], t[0], t[1], t[2], t[3]);
    terminos_momentos<1>(v, v + 3, t);
    if constexpr (kGeneral) {
      acc[1] = suma_por_pares(acc[1], t[0], t[1], t[2], t[3]);
      terminos_momentos<2>(v, v + 3, t);
      acc[2] = suma_por_pares(acc[2], t[0], t[1], t[2], t[3]);
      terminos_momentos<3>(v, v + 3, t);
      acc[3] = suma_por_pares(acc[3], t[0], t[1], t[2], t[3]);
      terminos_momentos<4>(v, v + 3, t);
      double ultimo[4];
      guarda(ultimo, t[0]);
      for (const double q : ultimo) n8 = n8 + q;
    } else {
      acc[1] = suma_por_pares(acc[1], t[0], t[1], cero, cero);
    }
  }
  double m[kMomentos];
  for (size_t g = 0; g < 4; ++g) guarda(m + 4 * g, acc[g]);
  m[kN8] = n8;
  for (; k < n; ++k) centra_y_suma_par<kGeneral>(pares, k, co, cd, copia, m);
  return momentos_de_sumas(m);
}

}  // namespace orienta::interno

#endif
#endif
