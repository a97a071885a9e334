/* The plane road: estimate the 2D similarity once, write it in plain form, fit an affine
 * polynomial to the same pairs, and carry a new point through both. Exits 1 if they disagree
 * with the transformation the points were made with. */
#include <math.h>
#include <stdio.h>

#include "orienta.h"

int main(void) {
  /* Five points of an old plane grid and their images: turned by −0.3 rad, scaled by 0.9996. */
  double viejo[5][2] = {
      {5012.31, 3021.77}, {5790.02, 3011.85}, {5779.15, 3590.26}, {5020.47, 3597.38}, {5377.12, 3301.94}};
  const double giro = -0.3, escala = 0.9996, t[2] = {498211.35, 4471630.22};
  double nuevo[5][2];
  for (int k = 0; k < 5; ++k) {
    nuevo[k][0] = t[0] + escala * (cos(giro) * viejo[k][0] - sin(giro) * viejo[k][1]);
    nuevo[k][1] = t[1] + escala * (sin(giro) * viejo[k][0] + cos(giro) * viejo[k][1]);
  }
  const double* P[10]; /* P[2k] → source point k, P[2k + 1] → its target */
  for (int k = 0; k < 5; ++k) P[2 * k] = viejo[k], P[2 * k + 1] = nuevo[k];

  /* The centred similarity, then its plain form target = escala·R·(source − (tx, ty)). */
  const Hel2Dg_dbl g = Hel2Dg___ptr_dbl(P, 5);
  const Hel2D_dbl h = Hel2D___Hel2Dg_dbl(&g);
  const double angulo = atan2(h.sen_giro, h.cos_giro);
  printf("rotation %.12f rad, scale %.12f, t = (%.4f, %.4f)\n", angulo, h.escala, h.tx, h.ty);

  /* An affine fit of the same pairs: the record, once estimated, carries any number of points. */
  Trans_Polinomica2D_dbl afin = {.tipo = 3};
  Trans_Polinomica2D___puntosxy_dbl(&afin, P, 5);
  double punto[2] = {5400.0, 3300.0};
  const double dx = punto[0] - h.tx, dy = punto[1] - h.ty;
  const double por_similitud[2] = {h.escala * (h.cos_giro * dx - h.sen_giro * dy),
                                   h.escala * (h.sen_giro * dx + h.cos_giro * dy)};
  transforma_punto2D_dbl(&afin, punto);
  printf("(5400, 3300) -> similarity (%.4f, %.4f), affine (%.4f, %.4f)\n", por_similitud[0], por_similitud[1], punto[0],
         punto[1]);

  /* Exact data: angle and scale to rounding; both maps agree to far below a millimetre. */
  const double desvio = fmax(fabs(angulo - giro), fabs(h.escala - escala));
  const double entre = fmax(fabs(punto[0] - por_similitud[0]), fabs(punto[1] - por_similitud[1]));
  printf("largest deviation %.3g, between the two maps %.3g m\n", desvio, entre);
  return desvio < 1e-10 && entre < 1e-6 ? 0 : 1;
}
