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

#include "anchos/despacho.hpp"
#include "espacio/hel3d_avx2.hpp"
#include "espacio/hel3d_pasadas.hpp"
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

// Which pass each kind of kernel runs. The wide kind has no kernel for float centroids or
// centring, and none for the Newton pass over float points in place: those run the portable pass.
// In place the centring stays portable for double too: a point shared by several pairs must be read
// as the earlier pairs left it, which a group of four read at once would not see.
template <class T>
void centroides_hel3d(NucleoPortable, const CapaPtr<T, T>& pares, uint32_t n, T (&co)[3], T (&cd)[3]) {
  centroides<3>(pares, n, co, cd);
}
template <bool kGeneral, class T, class Centrados>
Momentos<T> centra_y_suma(NucleoPortable, const CapaPtr<T, T>& pares, uint32_t n, const T co[3], const T cd[3],
                          const Centrados& destino) {
  return centra_y_suma<kGeneral>(pares, n, co, cd, destino);
}
template <class T, class Centrados>
void acumula_newton(NucleoPortable, const Centrados& centrados, uint32_t n, const T r[9], float g[3], float kk[9]) {
  acumula_newton(centrados, n, r, g, kk);
}
#if ORIENTA_AVX2
template <class T>
void centroides_hel3d(NucleoAvx2, const CapaPtr<T, T>& pares, uint32_t n, T (&co)[3], T (&cd)[3]) {
  if constexpr (std::is_same_v<T, double>)
    centroides3_avx2(pares, n, co, cd);
  else
    centroides<3>(pares, n, co, cd);
}
template <bool kGeneral, class T, class Centrados>
Momentos<T> centra_y_suma(NucleoAvx2, const CapaPtr<T, T>& pares, uint32_t n, const T co[3], const T cd[3],
                          const Centrados& destino) {
  if constexpr (std::is_same_v<Centrados, CentradosCopia<double>>)
    return centra_y_suma_avx2<kGeneral>(pares, n, co, cd, destino);
  else
    return centra_y_suma<kGeneral>(pares, n, co, cd, destino);
}
template <class T, class Centrados>
void acumula_newton(NucleoAvx2, const Centrados& centrados, uint32_t n, const T r[9], float g[3], float kk[9]) {
  if constexpr (std::is_same_v<Centrados, CentradosSitio<float>>)
    acumula_newton(centrados, n, r, g, kk);
  else
    acumula_newton_avx2(centrados, n, r, g, kk);
}
#endif

// What the stages hand on, and what the record and the status are made of.
template <class T>
struct Estimacion3d {
  T centro_o[3], centro_d[3];
  T escala;
  T r[9];         // the rotation: the start, then every step's update
  float kinv[9];  // the last step's inverse Newton matrix
  bool detenida;  // the last step fell below the threshold
  bool definida;  // the last Newton matrix was positive definite
};

// The scratch copy: six scalars per pair, sized in 64 bits (48·n wraps 32 bits from n = 89 478 486
// on). n = 0 has nothing to store, and a zero-byte request may legitimately come back null, so it
// is not made. False when the area is refused.
template <class T>
bool reserva_copia(uint32_t n, T*& memoria) {
  memoria = nullptr;
  if (n == 0) return true;
  const uint64_t bytes = uint64_t(n) * (6 * sizeof(T));
  if (bytes > std::numeric_limits<size_t>::max()) return false;
  memoria = static_cast<T*>(reserva_borrador(size_t(bytes)));
  return memoria != nullptr;
}

// L = M·N⁻¹, the unconstrained least-squares linear map a → b, made orthonormal. N⁻¹ is symmetric,
// so row j of it serves as column j.
template <class T>
void rotacion_general(const Momentos<T>& mom, T r[9]) {
  const T* m = mom.m;
  T nn[9];
  std::memcpy(nn, mom.nn, sizeof nn);
  inversa_simetrica<T>(nn);
  for (size_t i = 0; i < 3; ++i)
    for (size_t j = 0; j < 3; ++j)
      r[3 * i + j] = (m[3 * i] * nn[3 * j] + m[3 * i + 1] * nn[3 * j + 1]) + m[3 * i + 2] * nn[3 * j + 2];
  convierte_en_rotacion<T>(r);
}

// The rotation about z that best carries (a0, a1) onto (b0, b1): its cosine and sine are
// proportional to the trace and the antisymmetric part of the upper-left 2×2 block of M.
template <class T>
void rotacion_en_z(const Momentos<T>& mom, T r[9]) {
  const T* m = mom.m;
  const T c = m[0] + m[4];
  const T s = m[3] - m[1];
  const T h = T(1) / std::sqrt(s * s + c * c);
  const T rz[9] = {h * c, -h * s, T(0), h * s, h * c, T(0), T(0), T(0), T(1)};
  std::memcpy(r, rz, sizeof rz);
}

// The solve and update of one Newton step from its sums g and kk: r ← D·r, kinv the inverse of
// the step's matrix. Returns the squared step q.
template <class T>
float paso_newton(const float g[3], float kk[9], T r[9], float kinv[9], bool& definida) {
  // K = (Σ r·b)·I − ½·Σ(r·bᵀ + b·rᵀ): the negated Hessian of the objective for a small rotation
  // vector applied on the left of R.
  kk[1] = kk[1] * -0.5f;
  kk[2] = kk[2] * -0.5f;
  kk[5] = kk[5] * -0.5f;
  // At the best rotation K is positive definite; a step that ends elsewhere (a saddle, or still on
  // its way) is reported, not hidden. The verdict comes from the inverse's own pivots.
  std::memcpy(kinv, kk, 9 * sizeof(float));
  definida = inversa_simetrica<float>(kinv);

  float x[3];
  for (size_t i = 0; i < 3; ++i) x[i] = (kinv[3 * i] * g[0] + kinv[3 * i + 1] * g[1]) + kinv[3 * i + 2] * g[2];
  T d[9];
  // The update is the Cayley rotation of x/2 (type 26), its products in single precision and its
  // sums in T's; x is overwritten, and no longer needed.
  const float q = matriz_rodrigues<Tipo26, float, T>(x, d);

  T nueva[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      nueva[3 * i + j] = ((d[3 * i] * r[j]) + d[3 * i + 1] * r[3 + j]) + d[3 * i + 2] * r[6 + j];
  std::memcpy(r, nueva, sizeof nueva);
  return q;
}

// One to four Newton steps maximising Σ b·(R·a) over rotations R ← D·R. Gradient and Newton
// matrix are single precision in both twins; only r = R·a, D and R carry T's precision.
template <class Nucleo, class T, class Centrados>
void pasos_newton(Nucleo nucleo, const Centrados& centrados, uint32_t n, Estimacion3d<T>& e) {
  e.detenida = false;
  e.definida = false;
  for (int paso = 0; paso < kMaxPasosNewton && !e.detenida; ++paso) {
    float g[3];
    float kk[9];  // upper triangle
    acumula_newton(nucleo, centrados, n, e.r, g, kk);
    const float q = paso_newton(g, kk, e.r, e.kinv, e.definida);
    // The test follows the update, so the last, small step is always applied. A NaN q stops too.
    e.detenida = !(q >= kUmbralPaso);
  }
}

// Every stage from the centroids to the last Newton step, with the kernels of one kind and the
// centred pairs kept in centrados (the caller's points or the scratch copy).
template <class Nucleo, class T, class Centrados>
void estima_etapas(Nucleo nucleo, const CapaPtr<T, T>& puntos, uint32_t n, bool general, const Centrados& centrados,
                   Estimacion3d<T>& e) {
  centroides_hel3d(nucleo, puntos, n, e.centro_o, e.centro_d);
  const Momentos<T> mom = general ? centra_y_suma<true>(nucleo, puntos, n, e.centro_o, e.centro_d, centrados)
                                  : centra_y_suma<false>(nucleo, puntos, n, e.centro_o, e.centro_d, centrados);
  // Scale: ratio of the root-mean-square spreads; it takes no part in the rotation.
  e.escala = std::sqrt(mom.sb / mom.sa);
  if (general)
    rotacion_general(mom, e.r);
  else
    rotacion_en_z(mom, e.r);
  pasos_newton(nucleo, centrados, n, e);
}

template <class T, class Registro>
void escribe_hel3dg(const Estimacion3d<T>& e, Registro* hel, float* inversa_normal) {
  for (int c = 0; c < 3; ++c) hel->centro_origen[c] = e.centro_o[c];
  for (int c = 0; c < 3; ++c) hel->centro_destino[c] = e.centro_d[c];
  hel->escala = e.escala;
  for (int k = 0; k < 9; ++k) hel->rotacion[k] = e.r[k];
  if (inversa_normal != nullptr) std::memcpy(inversa_normal, e.kinv, sizeof e.kinv);
}

// The last K⁻¹ is judged whether or not the caller asked for it, so that the status does not
// depend on the optional output.
template <class T>
int32_t estado_hel3dg(const Estimacion3d<T>& e) {
  const bool finito = todos_finitos(e.centro_o, 3) && todos_finitos(e.centro_d, 3) && std::isfinite(e.escala) &&
                      todos_finitos(e.r, 9) && todos_finitos(e.kinv, 9);
  if (!finito) return kEstimaNoFinita;
  if (!e.detenida || !e.definida || !casi_rotacion(e.r)) return kEstimaNoOptima;
  return kEstimaHecha;
}

// Estimates hel from n pairs: pares[2k] → source point k, pares[2k+1] → target point k.
// T is the scalar of the points and of the record (Registro: Hel3Dg_dbl or Hel3Dg_fl). The
// scratch comes first, so that a refusal leaves everything untouched; the kind of kernel is chosen
// once, for every pass of the call.
template <class T, class Registro>
int32_t estima_hel3dg(T* const* pares, uint32_t n, Registro* hel, int32_t aprox_general, int32_t centrar_en_sitio,
                      float* inversa_normal) {
  const bool en_sitio = centrar_en_sitio != 0;
  T* memoria = nullptr;
  if (!en_sitio && !reserva_copia(n, memoria)) return kSinMemoria;
  // Unsigned comparison: the general start needs at least nine pairs.
  const bool general = aprox_general != 0 && n >= 9u;
  const CapaPtr<T, T> puntos{pares};
  Estimacion3d<T> e;
  con_nucleos([&](auto nucleo) {
    if (en_sitio)
      estima_etapas(nucleo, puntos, n, general, CentradosSitio<T>{puntos}, e);
    else
      estima_etapas(nucleo, puntos, n, general, CentradosCopia<T>(memoria, n), e);
  });
  escribe_hel3dg(e, hel, inversa_normal);
  std::free(memoria);
  return estado_hel3dg(e);
}

}  // namespace orienta::interno

#endif
