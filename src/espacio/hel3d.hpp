// 3D similarity (seven-parameter Helmert) estimation, once for both precisions.
//
// Stages: centroids; one pass that centres the points and sums the moments; a starting rotation
// (about z, or the linear least-squares map made orthonormal); one to four Newton steps on the
// rotation. The Newton system is accumulated and solved in single precision in both twins, so it
// is written once below, in floats, whatever T is.
//
// Every sum runs in array order in one accumulator; results are compared bit for bit, so the
// grouping of each expression is part of the result and must not be rearranged.
#ifndef ORIENTA_ESPACIO_HEL3D_HPP
#define ORIENTA_ESPACIO_HEL3D_HPP

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

#if defined(__linux__)
#  include <sys/mman.h>
#endif

#include "anchos/hel3d_avx2.hpp"
#include "espacio/momentos.hpp"
#include "interno.hpp"
#include "orienta.h"
#include "rotacion/utilidades.hpp"
#include "rotacion/vectores.hpp"

namespace orienta::interno {

// Stop once the squared step falls below this (the float nearest 1e-5, about 0.18° of turn).
inline constexpr float kUmbralPaso = 1e-5f;
inline constexpr int kMaxPasosNewton = 4;

template <class T>
bool todos_finitos(const T* v, int cuantos) {
  for (int i = 0; i < cuantos; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

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

// Sums of the centring pass: Sa, Sb, M (by rows) and the upper triangle of N.
template <class T>
struct Momentos {
  T sa, sb, m[9], nn[9];
};

// Centres every pair, stores it where the Newton steps will read it, and sums the moments. In
// place, each point is read as it stands now, so a point shared by several pairs is reduced once
// per reference.
template <class T, bool kGeneral, class Centrados>
Momentos<T> centra_y_suma(const CapaPtr<T, T>& pares, uint32_t n, const T centro_o[3], const T centro_d[3],
                          const Centrados& destino) {
  const T co0 = centro_o[0], co1 = centro_o[1], co2 = centro_o[2];
  const T cd0 = centro_d[0], cd1 = centro_d[1], cd2 = centro_d[2];
  SumasMomentos<T> s = {T(0), T(0), T(0), T(0), T(0), T(0), T(0), T(0), T(0),
                        T(0), T(0), T(0), T(0), T(0), T(0), T(0), T(0)};
  for (uint32_t k = 0; k < n; ++k) {
    const T* o = pares.origen(k);
    const T* d = pares.destino(k);
    const T a[3] = {o[0] - co0, o[1] - co1, o[2] - co2};
    const T b[3] = {d[0] - cd0, d[1] - cd1, d[2] - cd2};
    destino.guarda(k, a, b);
    suma_momentos<T, kGeneral>(s, a, b);
  }
  return {s.sa,
          s.sb,
          {s.m0, s.m1, s.m2, s.m3, s.m4, s.m5, s.m6, s.m7, s.m8},
          {s.n0, s.n1, s.n2, T(0), s.n4, s.n5, T(0), T(0), s.n8}};
}

// One pass of a Newton step: the gradient g (three floats) and the upper triangle of the Newton
// matrix kk, before its off-diagonal entries are halved. The nine sums are scalars of their own
// and the rotation is held in locals, so nothing is reloaded per pair.
template <class T, class Centrados>
void acumula_newton(const Centrados& centrados, uint32_t n, const T r[9], float g[3], float kk[9]) {
  const T r0 = r[0], r1 = r[1], r2 = r[2], r3 = r[3], r4 = r[4], r5 = r[5], r6 = r[6], r7 = r[7], r8 = r[8];
  float g0 = 0.0f, g1 = 0.0f, g2 = 0.0f;
  float k0 = 0.0f, k1 = 0.0f, k2 = 0.0f, k4 = 0.0f, k5 = 0.0f, k8 = 0.0f;
  for (uint32_t k = 0; k < n; ++k) {
    T a[3], b[3];
    centrados.lee(k, a, b);
    const T ra0 = (r0 * a[0] + r1 * a[1]) + r2 * a[2];
    const T ra1 = (r3 * a[0] + r4 * a[1]) + r5 * a[2];
    const T ra2 = (r6 * a[0] + r7 * a[1]) + r8 * a[2];
    // g += r × b; in the double twin each difference is formed in double, then rounded.
    g0 = g0 + static_cast<float>(ra1 * b[2] - ra2 * b[1]);
    g1 = g1 + static_cast<float>(ra2 * b[0] - ra0 * b[2]);
    g2 = g2 + static_cast<float>(ra0 * b[1] - ra1 * b[0]);
    const float rf0 = static_cast<float>(ra0), rf1 = static_cast<float>(ra1), rf2 = static_cast<float>(ra2);
    const float bf0 = static_cast<float>(b[0]), bf1 = static_cast<float>(b[1]), bf2 = static_cast<float>(b[2]);
    k0 = k0 + (rf1 * bf1 + rf2 * bf2);
    k4 = k4 + (rf0 * bf0 + rf2 * bf2);
    k8 = k8 + (rf0 * bf0 + rf1 * bf1);
    k1 = k1 + (rf1 * bf0 + rf0 * bf1);
    k2 = k2 + (rf2 * bf0 + rf0 * bf2);
    k5 = k5 + (rf2 * bf1 + rf1 * bf2);
  }
  g[0] = g0;
  g[1] = g1;
  g[2] = g2;
  const float triangulo[9] = {k0, k1, k2, 0.0f, k4, k5, 0.0f, 0.0f, k8};
  std::memcpy(kk, triangulo, sizeof triangulo);
}

// The scratch area. From 32 MiB up, where the C library maps fresh pages for every request (and
// every call faults them in 4 KiB at a time, about a third of the run at n = 10⁶), it is aligned
// to 2 MiB and offered to the kernel as huge pages: 1.4× faster at n = 10⁶. Below, reused heap
// memory is faster than fresh huge pages (0.8× at n = 10⁵). The advice may be ignored; the area is
// released with std::free either way.
inline constexpr size_t kPaginaGrande = size_t(2) << 20;
inline constexpr size_t kBorradorGrande = size_t(32) << 20;
inline void* reserva_borrador(size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes >= kBorradorGrande && bytes <= std::numeric_limits<size_t>::max() - kPaginaGrande) {
    const size_t entero = (bytes + kPaginaGrande - 1) / kPaginaGrande * kPaginaGrande;
    void* p = std::aligned_alloc(kPaginaGrande, entero);
    if (p != nullptr) madvise(p, entero, MADV_HUGEPAGE);
    return p;
  }
#endif
  return std::malloc(bytes);
}

// Statuses, as documented in the header.
// Newton steps only turn the start, so a start that is no rotation (its squares overflowed or
// underflowed, or the general start came from a badly conditioned linear map) stays none however
// well the steps converge. Such a record must not read as a finished estimate. The bound is far
// above any rounding of a real rotation in single precision and far below what those starts give.
template <class T>
bool casi_rotacion(const T r[9]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double p = 0.0;
      for (int k = 0; k < 3; ++k) p += double(r[3 * i + k]) * double(r[3 * j + k]);
      if (std::fabs(p - (i == j ? 1.0 : 0.0)) > 1e-3) return false;
    }
  return true;
}

inline constexpr int32_t kEstimaHecha = 0;
inline constexpr int32_t kEstimaNoOptima = 1;
inline constexpr int32_t kEstimaNoFinita = -1;
inline constexpr int32_t kSinMemoria = -2;

// Estimates hel from n pairs: pares[2k] → source point k, pares[2k+1] → target point k.
// T is the scalar of the points and of the record (Registro: Hel3Dg_dbl or Hel3Dg_fl).
template <class T, class Registro>
int32_t estima_hel3dg(T* const* pares, uint32_t n, Registro* hel, int32_t aprox_general, int32_t centrar_en_sitio,
                      float* inversa_normal) {
  // 1. Scratch first, so that a refusal leaves everything untouched. Six scalars per pair, sized
  // in 64 bits: 48·n wraps 32 bits from n = 89 478 486 on. n = 0 has nothing to store, and a
  // zero-byte request may legitimately come back null, so it is not made.
  T* memoria = nullptr;
  if (centrar_en_sitio == 0 && n != 0) {
    const uint64_t bytes = uint64_t(n) * (6 * sizeof(T));
    if (bytes > std::numeric_limits<size_t>::max()) return kSinMemoria;
    memoria = static_cast<T*>(reserva_borrador(size_t(bytes)));
    if (memoria == nullptr) return kSinMemoria;
  }
  const bool en_sitio = centrar_en_sitio != 0;
  [[maybe_unused]] const bool anchos = usa_avx2();  // once: a call runs one kind of kernel
  // Unsigned comparison: the general start needs at least nine pairs.
  const bool general = aprox_general != 0 && n >= 9u;

  // 2. Centroids.
  const CapaPtr<T, T> puntos{pares};
  T centro_o[3], centro_d[3];
  bool hechos = false;  // by a wide kernel
#if ORIENTA_AVX2
  if constexpr (std::is_same_v<T, double>) {
    if (anchos) {
      centroides3_avx2(pares, n, centro_o, centro_d);
      hechos = true;
    }
  }
#endif
  if (!hechos) centroides<3>(puntos, n, centro_o, centro_d);

  // 3. Centring and moments in one pass, the centred pairs kept in the caller's points or in the
  // scratch area for the Newton steps.
  const CentradosSitio<T> en_los_puntos{puntos};
  const CentradosCopia<T> en_la_copia(memoria, n);
  Momentos<T> mom;
  hechos = false;
#if ORIENTA_AVX2
  // In place the portable pass stays: a point shared by several pairs must be read as the earlier
  // pairs left it, which a group of four read at once would not see.
  if constexpr (std::is_same_v<T, double>) {
    if (anchos && !en_sitio) {
      double s[17];
      if (general)
        centra_y_suma_avx2<true>(pares, n, centro_o, centro_d, en_la_copia.c, s);
      else
        centra_y_suma_avx2<false>(pares, n, centro_o, centro_d, en_la_copia.c, s);
      mom = {s[0],
             s[1],
             {s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], s[10]},
             {s[11], s[12], s[13], 0.0, s[14], s[15], 0.0, 0.0, s[16]}};
      hechos = true;
    }
  }
#endif
  if (!hechos)
    mom = en_sitio ? (general ? centra_y_suma<T, true>(puntos, n, centro_o, centro_d, en_los_puntos)
                              : centra_y_suma<T, false>(puntos, n, centro_o, centro_d, en_los_puntos))
                   : (general ? centra_y_suma<T, true>(puntos, n, centro_o, centro_d, en_la_copia)
                              : centra_y_suma<T, false>(puntos, n, centro_o, centro_d, en_la_copia));
  const T sa = mom.sa, sb = mom.sb;
  const T* m = mom.m;
  T nn[9];
  std::memcpy(nn, mom.nn, sizeof nn);

  // 4. Scale: ratio of the root-mean-square spreads; it takes no part in the rotation.
  const T escala = std::sqrt(sb / sa);

  // 5. Starting rotation.
  T r[9];
  if (general) {
    // L = M·N⁻¹, the unconstrained least-squares linear map a → b, made orthonormal. N⁻¹ is
    // symmetric, so row j of it serves as column j.
    inversa_simetrica<T>(nn);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        r[3 * i + j] = (m[3 * i] * nn[3 * j] + m[3 * i + 1] * nn[3 * j + 1]) + m[3 * i + 2] * nn[3 * j + 2];
    convierte_en_rotacion<T>(r);
  } else {
    // The rotation about z that best carries (a0, a1) onto (b0, b1): its cosine and sine are
    // proportional to the trace and the antisymmetric part of the upper-left 2×2 block of M.
    const T c = m[0] + m[4];
    const T s = m[3] - m[1];
    const T h = T(1) / std::sqrt(s * s + c * c);
    const T rz[9] = {h * c, -h * s, T(0), h * s, h * c, T(0), T(0), T(0), T(1)};
    std::memcpy(r, rz, sizeof r);
  }

  // 6. Newton steps maximising Σ b·(R·a) over rotations R ← D·R. Gradient and Newton matrix are
  // single precision in both twins; only r = R·a, D and R carry T's precision.
  float kinv[9];
  float q = 0.0f;
  bool detenida = false;
  bool definida = false;
  for (int paso = 0; paso < kMaxPasosNewton && !detenida; ++paso) {
    float g[3];
    float kk[9];  // upper triangle
#if ORIENTA_AVX2
    const bool hecha = anchos && acumula_newton_avx2_en(en_sitio, pares, en_la_copia.c, n, r, g, kk);
#else
    const bool hecha = false;
#endif
    if (!hecha && en_sitio)
      acumula_newton<T>(en_los_puntos, n, r, g, kk);
    else if (!hecha)
      acumula_newton<T>(en_la_copia, n, r, g, kk);
    // K = (Σ r·b)·I − ½·Σ(r·bᵀ + b·rᵀ): the negated Hessian of the objective for a small
    // rotation vector applied on the left of R.
    kk[1] = kk[1] * -0.5f;
    kk[2] = kk[2] * -0.5f;
    kk[5] = kk[5] * -0.5f;
    // At the best rotation K is positive definite; a step that ends elsewhere (a saddle, or
    // still on its way) is reported, not hidden. The verdict comes from the inverse's own pivots.
    std::memcpy(kinv, kk, sizeof kinv);
    definida = inversa_simetrica<float>(kinv);

    float x[3];
    for (int i = 0; i < 3; ++i) x[i] = (kinv[3 * i] * g[0] + kinv[3 * i + 1] * g[1]) + kinv[3 * i + 2] * g[2];
    T d[9];
    // The update is the Cayley rotation of x/2 (type 26), its products in single precision and
    // its sums in T's; x is overwritten, and no longer needed.
    q = matriz_rodrigues<Tipo26, float, T>(x, d);

    T nueva[9];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        nueva[3 * i + j] = ((d[3 * i] * r[j]) + d[3 * i + 1] * r[3 + j]) + d[3 * i + 2] * r[6 + j];
    std::memcpy(r, nueva, sizeof r);
    // The test follows the update, so the last, small step is always applied. A NaN q stops too.
    detenida = !(q >= kUmbralPaso);
  }

  // 7. Output.
  for (int c = 0; c < 3; ++c) hel->centro_origen[c] = centro_o[c];
  for (int c = 0; c < 3; ++c) hel->centro_destino[c] = centro_d[c];
  hel->escala = escala;
  for (int e = 0; e < 9; ++e) hel->rotacion[e] = r[e];
  if (inversa_normal != nullptr) std::memcpy(inversa_normal, kinv, sizeof kinv);

  std::free(memoria);

  // The last K⁻¹ is judged whether or not the caller asked for it, so that the status does not
  // depend on the optional output.
  const bool finito = todos_finitos(centro_o, 3) && todos_finitos(centro_d, 3) && std::isfinite(escala) &&
                      todos_finitos(r, 9) && todos_finitos(kinv, 9);
  if (!finito) return kEstimaNoFinita;
  if (!detenida || !definida || !casi_rotacion(r)) return kEstimaNoOptima;
  return kEstimaHecha;
}

}  // namespace orienta::interno

#endif
