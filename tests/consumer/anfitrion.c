/* A host of the installed library: a 2D similarity, an affine fit (which calls the solver
 * library that liborienta imports) and a 3D estimate. Prints "ok" when all three are right. */
#include <math.h>
#include <stdio.h>

#include "orienta.h"

int main(void) {
  /* target = (10, 20) + 2·R(90°)·source, in the plane and, with z kept, in space. */
  double o2[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}}, d2[4][2] = {{10, 22}, {8, 20}, {10, 18}, {12, 20}};
  double o3[4][3] = {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}};
  double d3[4][3] = {{10, 22, 30}, {8, 20, 30}, {10, 18, 30}, {12, 20, 30}};
  const double* p2[8];
  double* p3[8];
  for (int k = 0; k < 4; ++k) p2[2 * k] = o2[k], p2[2 * k + 1] = d2[k], p3[2 * k] = o3[k], p3[2 * k + 1] = d3[k];

  const Hel2Dg_dbl g = Hel2Dg___ptr_dbl(p2, 4);
  Trans_Polinomica2D_dbl afin = {.tipo = 3};
  Trans_Polinomica2D___puntosxy_dbl(&afin, p2, 4);
  double punto[2] = {1, 0};
  transforma_punto2D_dbl(&afin, punto);
  Hel3Dg_dbl h;
  const int32_t estado = Hel3Dg___ptr_dbl(p3, 4, &h, 0, 0, NULL);

  const int bien = g.escala == 2.0 && g.sen_giro == 1.0 && fabs(punto[0] - 10) < 1e-9 && fabs(punto[1] - 22) < 1e-9 &&
                   estado == 0 && h.escala == 2.0 && h.rotacion[3] == 1.0;
  printf("%s\n", bien ? "ok" : "wrong results");
  return bien ? 0 : 1;
}
