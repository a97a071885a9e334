// Exported angle means; the arithmetic is in medias.hpp.
#include "orienta.h"

#include "angulos/medias.hpp"

extern "C" Terna Gmedio(const double* angulos, uint32_t n) { return orienta::interno::media_angulos(angulos, n); }

extern "C" Terna Gmedio_pesos(const double* angulos, uint32_t n, const float* pesos) {
  return orienta::interno::media_angulos_pesos(angulos, n, pesos);
}
