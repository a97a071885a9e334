// The pairs of a fit as orienta_pares describes them, already checked: where pair i lives and
// what each of its coordinates weighs.
#ifndef ORIENTA_AJUSTE_PARES_HPP
#define ORIENTA_AJUSTE_PARES_HPP

#include <cstddef>
#include <cstdint>

#include "orienta.h"

namespace orienta::interno {

struct Datos {
  const unsigned char* o;
  const unsigned char* d;
  int64_t po, pd;
  uint32_t n;
  const double* sigma;  // null: unit weights
  int32_t spp;          // σ per pair: 1, or 2 (plan, height) in 3D

  const double* origen(uint32_t i) const { return reinterpret_cast<const double*>(o + int64_t(i) * po); }
  const double* destino(uint32_t i) const { return reinterpret_cast<const double*>(d + int64_t(i) * pd); }
  // The weight 1/σ² of coordinate k of pair i: plan σ for x and y, height σ for z.
  double peso(uint32_t i, int k) const {
    if (!sigma) return 1.0;
    const double s = sigma[size_t(spp) * i + (spp == 2 && k == 2 ? 1 : 0)];
    return 1.0 / (s * s);
  }
  // The same, where the caller knows whether there are σ: unit weights then fold away.
  template <bool kConPeso>
  double peso_de(uint32_t i, int k) const {
    return kConPeso ? peso(i, k) : 1.0;
  }
  // Plan and height weights differ for this pair.
  bool anisotropo(uint32_t i) const { return sigma && spp == 2 && sigma[2 * size_t(i)] != sigma[2 * size_t(i) + 1]; }
  Datos uno(uint32_t i) const {
    return Datos{reinterpret_cast<const unsigned char*>(origen(i)),
                 reinterpret_cast<const unsigned char*>(destino(i)),
                 po,
                 pd,
                 1,
                 sigma ? sigma + size_t(spp) * i : nullptr,
                 spp};
  }
};

inline Datos datos_de(const orienta_pares& p) {
  return Datos{reinterpret_cast<const unsigned char*>(p.origen),
               reinterpret_cast<const unsigned char*>(p.destino),
               p.paso_origen,
               p.paso_destino,
               p.n,
               p.sigma,
               p.sigma ? p.sigmas_por_par : 1};
}

inline bool activo(const uint8_t* excluido, uint32_t i) { return !excluido || !excluido[i]; }

}  // namespace orienta::interno

#endif
