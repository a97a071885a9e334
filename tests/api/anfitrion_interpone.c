/* A host that defines functions of its own under two of the library's names. The library must
 * not call them in place of its own: the 3D estimator still recovers an exact quarter turn. */
#include <math.h>
#include <stdio.h>

#include "orienta.h"

float MatrizDeltafl_dbl(float p[3], Matriz3x3 M) {
  for (int k = 0; k < 9; ++k) M[k] = 7.0;
  return p[0] = 0.0f;
}
float MatrizDeltafl_fl(float p[3], Matriz3x3_fl M) {
  for (int k = 0; k < 9; ++k) M[k] = 7.0f;
  return p[0] = 0.0f;
}

int main(void) {
  /* Ten points off any plane and their images under Rz(π/2): (x, y, z) → (−y, x, z). */
  double s[10][3], d[10][3];
  float sf[10][3], df[10][3];
  double* P[20];
  float* Pf[20];
  for (int i = 0; i < 10; ++i) {
    const double q[3] = {i % 3, i % 4 - 1.5, (i * 7 % 5) * 0.5};
    const double r[3] = {-q[1], q[0], q[2]};
    for (int k = 0; k < 3; ++k) {
      s[i][k] = sf[i][k] = (float)q[k];
      d[i][k] = df[i][k] = (float)r[k];
    }
    P[2 * i] = s[i], P[2 * i + 1] = d[i], Pf[2 * i] = sf[i], Pf[2 * i + 1] = df[i];
  }
  const double giro[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  int fallos = 0;
  for (int general = 0; general < 2; ++general) {
    Hel3Dg_dbl h;
    Hel3Dg_fl hf;
    const int e = Hel3Dg___ptr_dbl(P, 10, &h, general, 0, NULL);
    const int ef = Hel3Dg___ptr_fl(Pf, 10, &hf, general, 0, NULL);
    double desvio = 0;
    for (int k = 0; k < 9; ++k)
      desvio = fmax(desvio, fmax(fabs(h.rotacion[k] - giro[k]), fabs(hf.rotacion[k] - giro[k])));
    if (e != 0 || ef != 0 || !(desvio < 1e-5)) {
      fprintf(stderr, "start %d: statuses %d, %d, rotation off by %g\n", general, e, ef, desvio);
      ++fallos;
    }
  }
  return fallos != 0;
}
