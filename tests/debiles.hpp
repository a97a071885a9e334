// Weak references to every exported function, for the test programs that exercise the whole
// surface at once (the fuzz targets and the thread test). A function that the library being
// linked does not define yet resolves to a null address instead of failing the link, and the
// callers skip it: these programs are built against partial libraries while the surface grows.
// The api tests are what insist that every name is exported.
#ifndef ORIENTA_PRUEBAS_DEBILES_HPP
#define ORIENTA_PRUEBAS_DEBILES_HPP

#include "orienta.h"

#pragma weak MatrizRotGT_ωφκ
#pragma weak MatrizRotGT_κωφ
#pragma weak MatrizRotGT_κwκ
#pragma weak MatrizRot_κωφ
#pragma weak MatrizRot_20
#pragma weak MatrizRot_24
#pragma weak MatrizRot_26
#pragma weak MatrizRot_28
#pragma weak MatrizDeltafl_dbl
#pragma weak MatrizDeltafl_fl
#pragma weak Gmatriz_ωφκ_seg
#pragma weak Gmatriz_24_seg
#pragma weak Getoffset_matriz
#pragma weak Orvinvsim3_dbl
#pragma weak Orvinvsim3_fl
#pragma weak convierte_en_R_dbl
#pragma weak convierte_en_R_fl
#pragma weak Gmedio
#pragma weak Gmedio_pesos
#pragma weak Hel2Dg___ptr_dbl
#pragma weak Hel2Dg___ptr_fl
#pragma weak Hel2Dg___p_dbl
#pragma weak Hel2Dg___p_fl
#pragma weak Hel2Dg___pp_dbl
#pragma weak Hel2Dg___pp_fl
#pragma weak Hel2Dg___g_dbl
#pragma weak Hel2Dg___g_fl
#pragma weak Hel2Dg___gg_dbl
#pragma weak Hel2Dg___gg_fl
#pragma weak Hel2Dg___mixed_dbl
#pragma weak Hel2Dg___mixed_fl
#pragma weak Hel2D___Hel2Dg_dbl
#pragma weak Hel2D___Hel2Dg_fl
#pragma weak transforma_punto2D_dbl
#pragma weak transforma_punto2D_fl
#pragma weak Trans_Polinomica2D___puntosxy_dbl
#pragma weak Trans_Polinomica2D___puntosxy_fl
#pragma weak Hel3Dg___ptr_dbl
#pragma weak Hel3Dg___ptr_fl

// True when the library linked in defines the function.
#define ORIENTA_PRESENTE(funcion) (reinterpret_cast<const void*>(&funcion) != nullptr)

#endif
