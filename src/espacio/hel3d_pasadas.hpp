// 3D similarity: where the centred pairs are kept, the terms of one pair (its moments, its share
// of a Newton step) and the portable passes that sum them. The wide passes
// (espacio/hel3d_avx2.hpp) form their terms with the same functions and take the portable per-pair
// steps for the pairs left over, so both add the same terms in the same order.
//
// The term functions serve one pair for a scalar V and one pair per lane for a vector. They are
// always inlined and take references: given vectors, they must become part of the wide kernel that
// calls them (a copy of their own would be built for the portable target, and vectors cannot be
// passed by value between the two targets).
#ifndef ORIENTA_ESPACIO_HEL3D_PASADAS_HPP
#define ORIENTA_ESPACIO_HEL3D_PASADAS_HPP

#include <cstddef>
#include <cstdint>
#include <utility>

#include "interno.hpp"

namespace orienta::interno {

// Where the centred pairs live between the centring pass and the Newton steps. Each step reads
// every pair once, so this is the hot loop of the estimator; the two stores below differ only in
// where pair k is found, never in the arithmetic done on it.
//
// The scratch copy keeps the six coordinates as six contiguous arrays of n (the same 6·n scalars
// as n records of six): consecutive pairs then sit side by side, and the compiler can form the
// terms of several pairs at once in vector lanes, one lane per pair, while each running sum still
// takes the terms one by one in array order.
template <class T>
struct CentradosCopia {
  T* c[6];                                  // a0, a1, a2, b0, b1, b2
  CentradosCopia(T* memoria, uint32_t n) {  // memoria is null when centring in place
    for (int e = 0; e < 6; ++e) c[e] = memoria != nullptr ? memoria + size_t(e) * n : nullptr;
  }
  void guarda(uint32_t k, const T a[3], const T b[3]) const {
    for (int e = 0; e < 3; ++e) c[e][k] = a[e];
    for (int e = 0; e < 3; ++e) c[3 + e][k] = b[e];
  }
  void lee(uint32_t k, T a[3], T b[3]) const {
    for (int e = 0; e < 3; ++e) a[e] = c[e][k];
    for (int e = 0; e < 3; ++e) b[e] = c[3 + e][k];
  }
};

// In place: the caller's points, reached through the pair array.
template <class T>
struct CentradosSitio {
  CapaPtr<T, T> pares;
  void guarda(uint32_t k, const T a[3], const T b[3]) const {
    T* o = pares.origen(k);
    T* d = pares.destino(k);
    for (int e = 0; e < 3; ++e) o[e] = a[e];
    for (int e = 0; e < 3; ++e) d[e] = b[e];
  }
  void lee(uint32_t k, T a[3], T b[3]) const {
    const T* o = pares.origen(k);
    const T* d = pares.destino(k);
    for (int e = 0; e < 3; ++e) a[e] = o[e];
    for (int e = 0; e < 3; ++e) b[e] = d[e];
  }
};

// The moments the centring pass sums, in the order their terms are formed and added, in groups of
// four as the wide pass adds them: the six the planar start uses first, then the rest of Σ b·aᵀ and
// the upper triangle of Σ a·aᵀ, which only the general start needs.
enum Momento : int { kSa, kSb, kM0, kM1, kM3, kM4, kM2, kM5, kM6, kM7, kM8, kN0, kN1, kN2, kN4, kN5, kN8 };
inline constexpr int kMomentosPlanos = 6;
inline constexpr int kMomentos = 17;

// Term e of the moments of the centred pair (a, b), into t: the squared lengths grouped
// (x² + y²) + z², then products.
template <int e, class V>
[[gnu::always_inline]] inline void termino_momento(const V a[3], const V b[3], V& t) {
  if constexpr (e == kSa) t = (a[0] * a[0] + a[1] * a[1]) + a[2] * a[2];
  if constexpr (e == kSb) t = (b[0] * b[0] + b[1] * b[1]) + b[2] * b[2];
  if constexpr (e == kM0) t = b[0] * a[0];
  if constexpr (e == kM1) t = b[0] * a[1];
  if constexpr (e == kM3) t = b[1] * a[0];
  if constexpr (e == kM4) t = b[1] * a[1];
  if constexpr (e == kM2) t = b[0] * a[2];
  if constexpr (e == kM5) t = b[1] * a[2];
  if constexpr (e == kM6) t = b[2] * a[0];
  if constexpr (e == kM7) t = b[2] * a[1];
  if constexpr (e == kM8) t = b[2] * a[2];
  if constexpr (e == kN0) t = a[0] * a[0];
  if constexpr (e == kN1) t = a[0] * a[1];
  if constexpr (e == kN2) t = a[0] * a[2];
  if constexpr (e == kN4) t = a[1] * a[1];
  if constexpr (e == kN5) t = a[1] * a[2];
  if constexpr (e == kN8) t = a[2] * a[2];
}

// Adds each term to its running sum as soon as it is formed: in this order GCC keeps the portable
// pass's sums in registers (forming them all first, it moves them through the stack in halves,
// and every reload waits for its store). s holds one running sum per moment.
template <class T, int... e>
[[gnu::always_inline]] inline void suma_terminos(T s[kMomentos], const T a[3], const T b[3],
                                                 std::integer_sequence<int, e...>) {
  T t;
  ((termino_momento<e>(a, b, t), s[e] = s[e] + t), ...);
}
template <bool kGeneral, class T>
[[gnu::always_inline]] inline void suma_momentos(T s[kMomentos], const T a[3], const T b[3]) {
  constexpr int kSumados = kGeneral ? kMomentos : kMomentosPlanos;
  suma_terminos(s, a, b, std::make_integer_sequence<int, kSumados>());
}

// The terms of the four moments 4·kGrupo … 4·kGrupo + 3, for the wide pass, which forms them a
// group at a time and holds four vectors of terms, not seventeen, between forming and adding them.
template <int kGrupo, class V>
[[gnu::always_inline]] inline void terminos_momentos(const V a[3], const V b[3], V t[4]) {
  termino_momento<4 * kGrupo>(a, b, t[0]);
  if constexpr (4 * kGrupo + 1 < kMomentos) {
    termino_momento<4 * kGrupo + 1>(a, b, t[1]);
    termino_momento<4 * kGrupo + 2>(a, b, t[2]);
    termino_momento<4 * kGrupo + 3>(a, b, t[3]);
  }
}

// Centres pair k on co and cd (arrays of the caller's frame, so that no store of a point can be
// taken to change them), stores it where the Newton steps will read it, and adds its moments.
template <bool kGeneral, class T, class Centrados>
[[gnu::always_inline]] inline void centra_y_suma_par(const CapaPtr<T, T>& pares, uint32_t k, const T co[3],
                                                     const T cd[3], const Centrados& destino, T s[kMomentos]) {
  const T* o = pares.origen(k);
  const T* d = pares.destino(k);
  const T a[3] = {o[0] - co[0], o[1] - co[1], o[2] - co[2]};
  const T b[3] = {d[0] - cd[0], d[1] - cd[1], d[2] - cd[2]};
  destino.guarda(k, a, b);
  suma_momentos<kGeneral>(s, a, b);
}

// Sums of the centring pass as the start needs them: Sa, Sb, M (by rows) and the upper triangle
// of N.
template <class T>
struct Momentos {
  T sa, sb, m[9], nn[9];
};

// From the sums of the centring pass; the planar start leaves the moments it does not sum at +0.
template <class T>
Momentos<T> momentos_de_sumas(const T s[kMomentos]) {
  return {s[kSa],
          s[kSb],
          {s[kM0], s[kM1], s[kM2], s[kM3], s[kM4], s[kM5], s[kM6], s[kM7], s[kM8]},
          {s[kN0], s[kN1], s[kN2], T(0), s[kN4], s[kN5], T(0), T(0), s[kN8]}};
}

// The portable centring pass: centres every pair, stores it, sums the moments. In place, each
// point is read as it stands now, so a point shared by several pairs is reduced once per
// reference. Always inlined into the stage that calls it: out of line, GCC keeps more of the
// general start's seventeen sums on the stack (7% slower per call in place at n = 10⁴).
template <bool kGeneral, class T, class Centrados>
[[gnu::always_inline]] inline Momentos<T> centra_y_suma(const CapaPtr<T, T>& pares, uint32_t n, const T centro_o[3],
                                                        const T centro_d[3], const Centrados& destino) {
  const T co[3] = {centro_o[0], centro_o[1], centro_o[2]};
  const T cd[3] = {centro_d[0], centro_d[1], centro_d[2]};
  T s[kMomentos];
  for (T& v : s) v = T(0);
  for (uint32_t k = 0; k < n; ++k) centra_y_suma_par<kGeneral>(pares, k, co, cd, destino, s);
  return momentos_de_sumas(s);
}

// R·a, each row grouped (r0·a0 + r1·a1) + r2·a2.
template <class V>
[[gnu::always_inline]] inline void gira(const V r[9], const V a[3], V ra[3]) {
  ra[0] = (r[0] * a[0] + r[1] * a[1]) + r[2] * a[2];
  ra[1] = (r[3] * a[0] + r[4] * a[1]) + r[5] * a[2];
  ra[2] = (r[6] * a[0] + r[7] * a[1]) + r[8] * a[2];
}

// The gradient's terms, (R·a) × b, in T's precision: each difference is formed in T, then rounded
// to float by the caller.
template <class V>
[[gnu::always_inline]] inline void terminos_gradiente(const V ra[3], const V b[3], V t[3]) {
  t[0] = ra[1] * b[2] - ra[2] * b[1];
  t[1] = ra[2] * b[0] - ra[0] * b[2];
  t[2] = ra[0] * b[1] - ra[1] * b[0];
}

// The Newton matrix's terms from R·a and b already rounded to float, in the order k0, k4, k8, k1,
// k2, k5 of the upper triangle (before its off-diagonal entries are halved).
template <class W>
[[gnu::always_inline]] inline void terminos_matriz(const W rf[3], const W bf[3], W t[6]) {
  t[0] = rf[1] * bf[1] + rf[2] * bf[2];
  t[1] = rf[0] * bf[0] + rf[2] * bf[2];
  t[2] = rf[0] * bf[0] + rf[1] * bf[1];
  t[3] = rf[1] * bf[0] + rf[0] * bf[1];
  t[4] = rf[2] * bf[0] + rf[0] * bf[2];
  t[5] = rf[2] * bf[1] + rf[1] * bf[2];
}

// Adds the terms of centred pair k under the rotation r to the nine sums s: g0, g1, g2, then k0, k4,
// k8, k1, k2, k5. In the double twin R·a and the gradient's differences are formed in double, then
// rounded. The gradient's sums take their terms as soon as they are formed: in this order GCC
// keeps every sum of the portable pass in a register.
template <class T, class Centrados>
[[gnu::always_inline]] inline void suma_par_newton(const Centrados& centrados, uint32_t k, const T r[9], float s[9]) {
  T a[3], b[3];
  centrados.lee(k, a, b);
  T ra[3], tg[3];
  gira(r, a, ra);
  terminos_gradiente(ra, b, tg);
  for (int e = 0; e < 3; ++e) s[e] = s[e] + static_cast<float>(tg[e]);
  const float rf[3] = {static_cast<float>(ra[0]), static_cast<float>(ra[1]), static_cast<float>(ra[2])};
  const float bf[3] = {static_cast<float>(b[0]), static_cast<float>(b[1]), static_cast<float>(b[2])};
  float t[6];
  terminos_matriz(rf, bf, t);
  for (int e = 0; e < 6; ++e) s[3 + e] = s[3 + e] + t[e];
}

// The gradient g and the upper triangle of the Newton matrix kk from the nine sums.
inline void newton_de_sumas(const float s[9], float g[3], float kk[9]) {
  const float triangulo[9] = {s[3], s[6], s[7], 0.0f, s[4], s[8], 0.0f, 0.0f, s[5]};
  for (int e = 0; e < 3; ++e) g[e] = s[e];
  for (int e = 0; e < 9; ++e) kk[e] = triangulo[e];
}

// The portable pass of a Newton step: g (three floats) and the upper triangle of the Newton matrix
// kk, before its off-diagonal entries are halved. The rotation is copied to this frame and the sums
// are locals, so nothing is reloaded per pair.
template <class T, class Centrados>
void acumula_newton(const Centrados& centrados, uint32_t n, const T r[9], float g[3], float kk[9]) {
  const T rl[9] = {r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8]};
  float s[9] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  for (uint32_t k = 0; k < n; ++k) suma_par_newton(centrados, k, rl, s);
  newton_de_sumas(s, g, kk);
}

}  // namespace orienta::interno

#endif
