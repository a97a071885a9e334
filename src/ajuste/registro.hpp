// The stored transformation: the table of models, the one rule for what a valid record is, and
// the parameters a record stands for. The fit, apply, the inverse and every reader of a stored
// record (the tool, the Python package) go through these, so a record means the same everywhere.
#ifndef ORIENTA_AJUSTE_REGISTRO_HPP
#define ORIENTA_AJUSTE_REGISTRO_HPP

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "interno.hpp"
#include "orienta.h"

namespace orienta::interno {

// Entries of a rotation may be off orthonormal, and the stored angles off the rotation, by this
// much: the rounding of a single-precision estimate (R rounded entry by entry to float, then
// refined by float Newton steps), which stored records of such estimates carry. A double fit
// is orthonormal to a few units of 1e-16.
inline constexpr double kTolRotacion = 4e-6;
// The linear part against s·R, and a polynomial's first-order terms held twice: both are written
// from the same numbers, so anything beyond a few roundings is an edited record.
inline constexpr double kTolCopia = 16 * kEps;

// Looks a model up in the table; null when the code is unknown.
const orienta_modelo_info* modelo_de(int32_t modelo);

inline void vacia_registro(orienta_transformacion* t, int32_t modelo, int32_t dim) {
  std::memset(t, 0, sizeof *t);
  t->modelo = modelo;
  t->dim = dim;
  for (size_t k = 0; k < 3; ++k) {
    t->matriz[4 * k] = 1.0;
    t->rotacion[4 * k] = 1.0;
  }
  t->escala = kNaN;
}

inline bool es_semejanza(int32_t modelo) {
  return modelo == ORIENTA_HELMERT3D || modelo == ORIENTA_HELMERT2D || modelo == ORIENTA_RIGIDO3D;
}
inline bool es_polinomio(int32_t modelo) { return modelo == ORIENTA_POLI2D_2 || modelo == ORIENTA_POLI2D_3; }

// T = c_d − M·c_o, the image of the origin, summed (x + y) + z. Every reported translation comes
// from here, so the fit, the tool and Python print the same digits.
inline void traslacion(const orienta_transformacion& t, double* T) {
  for (int i = 0; i < t.dim; ++i) {
    double m = 0.0;
    for (int k = 0; k < t.dim; ++k) m += t.matriz[3 * i + k] * t.centro_origen[k];
    T[i] = t.centro_destino[i] - m;
  }
}

// The reported parameters of a record, in the model's parameter order.
void parametros_de(const orienta_transformacion& t, double* p);

// The one rule. Returns ORIENTA_OK or the status of the first fault, and the stored field at fault.
int32_t valida_registro(const orienta_transformacion* t, const char** campo);

}  // namespace orienta::interno

#endif
