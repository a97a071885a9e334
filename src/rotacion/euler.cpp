#include "orienta.h"  // first, so a drifting signature is a compile error, not a mangled overload

#include "rotacion/euler.hpp"

using namespace orienta::interno;

extern "C" void MatrizRotGT_ωφκ(const SenosCosenos* sc, Matriz3x3 M) {
  const double* v = sc->v;
  matriz_omega_phi_kappa(v[0], v[1], v[2], v[3], v[4], v[5], M);
}
extern "C" void MatrizRotGT_κωφ(SenosCosenos* sc, Matriz3x3 M) { matriz_kappa_omega_phi(sc->v, M); }
extern "C" void MatrizRotGT_κwκ(const SenosCosenos* sc, Matriz3x3 M) { matriz_kappa_w_kappa(sc->v, M); }
extern "C" void MatrizRot_κωφ(double angulos[3], Matriz3x3 M) { matriz_kappa_omega_phi_angulos(angulos, M); }
