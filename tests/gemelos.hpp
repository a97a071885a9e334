// Twin names and angle constants for the test programs, with nothing else pulled in: the unit
// tests and the fuzz targets call a double/float pair through one name chosen by the argument
// types, and name a twin's record through its scalar.
#ifndef ORIENTA_PRUEBAS_GEMELOS_HPP
#define ORIENTA_PRUEBAS_GEMELOS_HPP

#include <type_traits>

#include "orienta.h"

// One overloaded name for an exported double/float twin pair, chosen by the argument types, so
// that a template calls nombre(...) whatever its scalar.
#define GEMELOS(nombre, dbl, fl)             \
  template <class... A>                      \
  auto nombre(A... a)->decltype(dbl(a...)) { \
    return dbl(a...);                        \
  }                                          \
  template <class... A>                      \
  auto nombre(A... a)->decltype(fl(a...)) {  \
    return fl(a...);                         \
  }

namespace prueba {

constexpr double kPi = 3.141592653589793, kMedioPi = 1.5707963267948966;
constexpr double kVuelta = 6.283185307179597;  // the library's full turn, 12 ulp above 2π

template <class T, class Doble, class Simple>
using Segun = std::conditional_t<std::is_same_v<T, double>, Doble, Simple>;  // the record of T's twin

GEMELOS(invierte, Orvinvsim3_dbl, Orvinvsim3_fl)
GEMELOS(ortonormaliza, convierte_en_R_dbl, convierte_en_R_fl)
GEMELOS(ptr, Hel2Dg___ptr_dbl, Hel2Dg___ptr_fl)  // the 2D similarity, one name per layout
GEMELOS(p, Hel2Dg___p_dbl, Hel2Dg___p_fl)
GEMELOS(pp, Hel2Dg___pp_dbl, Hel2Dg___pp_fl)
GEMELOS(g, Hel2Dg___g_dbl, Hel2Dg___g_fl)
GEMELOS(gg, Hel2Dg___gg_dbl, Hel2Dg___gg_fl)
GEMELOS(mixed, Hel2Dg___mixed_dbl, Hel2Dg___mixed_fl)
GEMELOS(plano, Hel2D___Hel2Dg_dbl, Hel2D___Hel2Dg_fl)
GEMELOS(punto, transforma_punto2D_dbl, transforma_punto2D_fl)
GEMELOS(estima, Trans_Polinomica2D___puntosxy_dbl, Trans_Polinomica2D___puntosxy_fl)
GEMELOS(hel3d, Hel3Dg___ptr_dbl, Hel3Dg___ptr_fl)
template <class T>
using Hel2Dg = Segun<T, Hel2Dg_dbl, Hel2Dg_fl>;
template <class T>
using Polinomica = Segun<T, Trans_Polinomica2D_dbl, Trans_Polinomica2D_fl>;
template <class T>
using Hel3Dg = Segun<T, Hel3Dg_dbl, Hel3Dg_fl>;

}  // namespace prueba

#endif
