#include "orienta.h"  // first, so a drifting signature is a compile error, not a mangled overload

#include "plano/polinomica.hpp"

using namespace orienta::interno;

extern "C" void transforma_punto2D_dbl(const Trans_Polinomica2D_dbl* t, double punto[2]) {
  transforma_punto(*t, punto);
}
extern "C" void transforma_punto2D_fl(const Trans_Polinomica2D_fl* t, float punto[2]) { transforma_punto(*t, punto); }
extern "C" void Trans_Polinomica2D___puntosxy_dbl(Trans_Polinomica2D_dbl* t, const double* const* P, uint32_t n) {
  estima_polinomica(*t, P, n);
}
extern "C" void Trans_Polinomica2D___puntosxy_fl(Trans_Polinomica2D_fl* t, const float* const* P, uint32_t n) {
  estima_polinomica(*t, P, n);
}
