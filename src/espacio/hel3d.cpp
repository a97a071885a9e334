#include "orienta.h"

#include "espacio/hel3d.hpp"

using namespace orienta::interno;

extern "C" int32_t Hel3Dg___ptr_dbl(double* const* pares, uint32_t n, Hel3Dg_dbl* hel, int32_t aprox_general,
                                    int32_t centrar_en_sitio, float* inversa_normal) {
  return estima_hel3dg<double>(pares, n, hel, aprox_general, centrar_en_sitio, inversa_normal);
}
extern "C" int32_t Hel3Dg___ptr_fl(float* const* pares, uint32_t n, Hel3Dg_fl* hel, int32_t aprox_general,
                                   int32_t centrar_en_sitio, float* inversa_normal) {
  return estima_hel3dg<float>(pares, n, hel, aprox_general, centrar_en_sitio, inversa_normal);
}
