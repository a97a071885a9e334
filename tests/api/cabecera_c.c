/* Compiled as strict C11: the public header must need nothing from C++. */
#include "orienta.h"
#include "orienta_ajuste.h"

#include <stddef.h>

/* Records keep their documented sizes: plain scalars, no padding but after tipo. */
_Static_assert(sizeof(Terna) == 3 * sizeof(double), "Terna");
_Static_assert(sizeof(SenosCosenos) == 6 * sizeof(double), "SenosCosenos");
_Static_assert(sizeof(Hel2Dg_dbl) == 7 * sizeof(double), "Hel2Dg_dbl");
_Static_assert(sizeof(Hel2Dg_fl) == 7 * sizeof(float), "Hel2Dg_fl");
_Static_assert(sizeof(Hel2D_dbl) == 5 * sizeof(double), "Hel2D_dbl");
_Static_assert(sizeof(Hel3Dg_dbl) == 16 * sizeof(double), "Hel3Dg_dbl");
_Static_assert(sizeof(Hel3Dg_fl) == 16 * sizeof(float), "Hel3Dg_fl");
_Static_assert(offsetof(Trans_Polinomica2D_dbl, xc_origen) == 8, "Trans_Polinomica2D_dbl");
_Static_assert(offsetof(Trans_Polinomica2D_fl, xc_origen) == 4, "Trans_Polinomica2D_fl");
/* The fit's records travel as bytes (between processes, to disk): sizes fixed, no padding. */
_Static_assert(sizeof(orienta_acumulador) == 4 * 4 + 8 + 128 * 8, "orienta_acumulador");
_Static_assert(sizeof(orienta_solucion) == 4 * 4 + 8 + 8 + sizeof(orienta_transformacion) + 176 * 8,
               "orienta_solucion");

FuncGmatriz cabecera_c_recuperador(void) { return Gmatriz_ωφκ_seg; }
