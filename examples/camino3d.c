/* The typical road in 3D: matched points in two systems, the seven-parameter estimate, the
 * rotation read as angles (with whole quarter turns about z taken out), the matrix built back.
 * Exits 1 if anything strays from the transformation the points were made with. */
#include <math.h>
#include <stdio.h>

#include "orienta.h"

static void matriz_de(Terna a, Matriz3x3 M) {
  SenosCosenos sc = {{sin(a.v[0]), cos(a.v[0]), sin(a.v[1]), cos(a.v[1]), sin(a.v[2]), cos(a.v[2])}};
  MatrizRotGT_ωφκ(&sc, M); /* M = Rz(κ)·Ry(φ)·Rx(ω) */
}

int main(void) {
  /* Six points of a local frame and their images under a known transformation (metres). */
  double local[6][3] = {{0, 0, 0}, {120, 5, 2}, {130, 95, -3}, {10, 110, 4}, {60, 50, 25}, {75, -40, 12}};
  const Terna verdad = {{0.002, -0.001, 2.1}}; /* ω, φ, κ in radians: κ is about 120° */
  const double escala = 1.0000125, T[3] = {431250.0, 4582110.0, 612.0};
  Matriz3x3 R0;
  matriz_de(verdad, R0);
  double red[6][3];
  for (int k = 0; k < 6; ++k)
    for (int i = 0; i < 3; ++i)
      red[k][i] = T[i] + escala * (R0[3 * i] * local[k][0] + R0[3 * i + 1] * local[k][1] + R0[3 * i + 2] * local[k][2]);

  /* 1. The pointer-pair array: pares[2k] → source point k, pares[2k + 1] → its target. */
  double* pares[12];
  for (int k = 0; k < 6; ++k) pares[2 * k] = local[k], pares[2 * k + 1] = red[k];

  /* 2. The estimate: planar start (the rotation is mostly about z), points only read. */
  Hel3Dg_dbl hel;
  const int32_t estado = Hel3Dg___ptr_dbl(pares, 6, &hel, 0, 0, NULL);
  if (estado != 0) {
    fprintf(stderr, "estimate failed with status %d\n", (int)estado);
    return 1;
  }
  printf("scale %.12f (%+.3f ppm)\n", hel.escala, (hel.escala - 1.0) * 1e6);

  /* 3. The rotation as ω, φ, κ; then again with whole quarter turns about z taken out. */
  const double grado = 180.0 / 3.141592653589793;
  const Terna a = Gmatriz_ωφκ_seg(hel.rotacion);
  printf("omega %.9f  phi %.9f  kappa %.9f  (deg)\n", a.v[0] * grado, a.v[1] * grado, a.v[2] * grado);
  uint32_t codigo = 0;
  const Terna b = Getoffset_matriz(hel.rotacion, Gmatriz_ωφκ_seg, &codigo);
  printf("after taking out quarter turns (code %u): omega %.9f  phi %.9f  kappa %.9f\n", (unsigned)codigo,
         b.v[0] * grado, b.v[1] * grado, b.v[2] * grado);

  /* 4. Back to matrices: R from a; and from b, with the turns taken out put back on the right
   *    (code 1 took out a quarter turn, 2 a half turn, 3 both). */
  Matriz3x3 Ra, Rb, Rz;
  matriz_de(a, Ra);
  matriz_de(b, Rb);
  const double vuelta[4] = {0.0, 1.5707963267948966, 3.141592653589793, -1.5707963267948966};
  const Terna giro = {{0.0, 0.0, vuelta[codigo & 3]}};
  matriz_de(giro, Rz);
  double desvio = fabs(hel.escala - escala);
  for (int i = 0; i < 3; ++i) {
    desvio = fmax(desvio, fabs(a.v[i] - verdad.v[i]));
    for (int j = 0; j < 3; ++j) {
      const double rb = (Rb[3 * i] * Rz[j] + Rb[3 * i + 1] * Rz[3 + j]) + Rb[3 * i + 2] * Rz[6 + j];
      desvio = fmax(desvio, fmax(fabs(Ra[3 * i + j] - hel.rotacion[3 * i + j]), fabs(rb - hel.rotacion[3 * i + j])));
    }
  }
  /* Exact data, yet the angles come back within a few 1e-9 rad, not to rounding: the Newton
   * system is solved in single precision and the refinement stops right after a step whose
   * squared length is below 1e-5 (here the first), so its own second-order error remains. A
   * few 1e-9 rad is a micrometre over a kilometre. */
  printf("largest deviation %.3g\n", desvio);
  return desvio < 1e-8 ? 0 : 1;
}
