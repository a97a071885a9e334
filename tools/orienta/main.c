/* orienta: command-line host of the library. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "orienta.h"

static void imprime_matriz(const char* titulo, const Matriz3x3 M) {
  printf("%s\n", titulo);
  for (int i = 0; i < 3; ++i) printf("  % .15f  % .15f  % .15f\n", M[3 * i], M[3 * i + 1], M[3 * i + 2]);
}

static int demo(void) {
  const double grado = 3.141592653589793 / 180.0;
  const double omega = 2.5 * grado, phi = -1.25 * grado, kappa = 97.0 * grado;
  SenosCosenos sc = {{sin(omega), cos(omega), sin(phi), cos(phi), sin(kappa), cos(kappa)}};
  Matriz3x3 R;
  MatrizRotGT_ωφκ(&sc, R);
  printf("ω = 2.5°, φ = −1.25°, κ = 97°\n");
  imprime_matriz("R = Rz(κ)·Ry(φ)·Rx(ω):", R);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2 || strcmp(argv[1], "demo") == 0) return demo();
  fprintf(stderr, "usage: orienta demo\n");
  return 2;
}
