/* A host as our users write them: load the library by path, find every function by its
 * unmangled name (Greek letters as UTF-8), call one through its pointer. */
#define _GNU_SOURCE /* dladdr */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "orienta.h"

static const char* const kNombres[] = {
    "MatrizRotGT_ωφκ", "MatrizRotGT_κωφ", "MatrizRotGT_κwκ", "MatrizRot_κωφ",
    "MatrizRot_20", "MatrizRot_24", "MatrizRot_26", "MatrizRot_28",
    "MatrizDeltafl_dbl", "MatrizDeltafl_fl",
    "Gmatriz_ωφκ_seg", "Gmatriz_24_seg", "Getoffset_matriz",
    "Orvinvsim3_dbl", "Orvinvsim3_fl", "convierte_en_R_dbl", "convierte_en_R_fl",
    "Gmedio", "Gmedio_pesos",
    "Hel2Dg___g_dbl", "Hel2Dg___g_fl", "Hel2Dg___gg_dbl", "Hel2Dg___gg_fl",
    "Hel2Dg___mixed_dbl", "Hel2Dg___mixed_fl", "Hel2Dg___p_dbl", "Hel2Dg___p_fl",
    "Hel2Dg___pp_dbl", "Hel2Dg___pp_fl", "Hel2Dg___ptr_dbl", "Hel2Dg___ptr_fl",
    "Hel2D___Hel2Dg_dbl", "Hel2D___Hel2Dg_fl",
    "transforma_punto2D_dbl", "transforma_punto2D_fl",
    "Trans_Polinomica2D___puntosxy_dbl", "Trans_Polinomica2D___puntosxy_fl",
    "Hel3Dg___ptr_dbl", "Hel3Dg___ptr_fl",
};

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s path/to/liborienta.so\n", argv[0]);
    return 2;
  }
  void* biblioteca = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!biblioteca) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  int faltan = 0;
  const size_t total = sizeof kNombres / sizeof kNombres[0];
  for (size_t i = 0; i < total; ++i) {
    if (!dlsym(biblioteca, kNombres[i])) {
      fprintf(stderr, "missing: %s\n", kNombres[i]);
      ++faltan;
    }
  }

  /* One call through a pointer: a quarter turn about z. */
  void (*rot)(const SenosCosenos*, Matriz3x3) = 0;
  *(void**)&rot = dlsym(biblioteca, "MatrizRotGT_ωφκ");
  if (rot) {
    const SenosCosenos sc = {{0.0, 1.0, 0.0, 1.0, 1.0, 0.0}};
    Matriz3x3 M;
    rot(&sc, M);
    const double esperada[9] = {0, -1, 0, 1, 0, 0, -0.0, 0, 1}; /* element 6 is −sin φ = −0 */
    if (memcmp(M, esperada, sizeof M) != 0) {
      fprintf(stderr, "MatrizRotGT_ωφκ through dlsym gave a wrong matrix\n");
      ++faltan;
    }
  }
  /* A record returned by value through a pointer: 3.0 and −3.0 average to just below −π. */
  Terna (*medio)(const double*, uint32_t) = 0;
  *(void**)&medio = dlsym(biblioteca, "Gmedio");
  if (medio) {
    const double angulos[6] = {0.5, 3.0, 0.0, -0.5, -3.0, 0.0};
    const Terna t = medio(angulos, 2);
    const double esperada[3] = {0.0, -6.283185307179597 / 2, 0.0};
    if (memcmp(t.v, esperada, sizeof esperada) != 0) {
      fprintf(stderr, "Gmedio through dlsym gave a wrong mean\n");
      ++faltan;
    }
  }

  /* The solver comes from the library's own dependency, libdiradodavid: a handle's lookup scope
   * includes its dependencies, so dlsym finds it, but in that object, not in liborienta (which
   * must not export it; api.exportaciones checks the export list itself). */
  static const char* const kSolver[] = {"resuelve_sistema_sim_t_2_dbl", "resuelve_sistema_sim_t_2_fl"};
  Dl_info propia, ajena;
  const int hay_propia = dladdr(dlsym(biblioteca, "Hel2Dg___ptr_dbl"), &propia);
  for (size_t i = 0; i < 2; ++i) {
    void* f = dlsym(biblioteca, kSolver[i]);
    if (!f) {
      fprintf(stderr, "not found through the dependency: %s\n", kSolver[i]);
      ++faltan;
    } else if (hay_propia && dladdr(f, &ajena) && strcmp(ajena.dli_fname, propia.dli_fname) == 0) {
      fprintf(stderr, "%s is defined in %s itself\n", kSolver[i], propia.dli_fname);
      ++faltan;
    }
  }
  int32_t (*resuelve)(double*, double*, double*, int32_t) = 0;
  *(void**)&resuelve = dlsym(biblioteca, kSolver[0]);
  if (resuelve) {
    double N[1] = {4.0}, rx[1] = {8.0}, ry[1] = {2.0};
    if (resuelve(N, rx, ry, 1) != 0 || rx[0] != 2.0 || ry[0] != 0.5) {
      fprintf(stderr, "%s through dlsym gave a wrong solution\n", kSolver[0]);
      ++faltan;
    }
  }

  /* The 3D similarity through a pointer, on four exact pairs: a quarter turn about z, scale 2,
   * shift (10, 20, 30); the points are centred in place. */
  int32_t (*hel3d)(double* const*, uint32_t, Hel3Dg_dbl*, int32_t, int32_t, float*) = 0;
  *(void**)&hel3d = dlsym(biblioteca, "Hel3Dg___ptr_dbl");
  if (hel3d) {
    double puntos[8][3] = {{1, 0, 0}, {10, 22, 30}, {0, 1, 0}, {8, 20, 30},
                           {-1, 0, 0}, {10, 18, 30}, {0, -1, 0}, {12, 20, 30}};
    double* pares[8];
    for (int k = 0; k < 8; ++k) pares[k] = puntos[k];
    Hel3Dg_dbl hel;
    float inversa[9];
    const int32_t estado = hel3d(pares, 4, &hel, 1, 1, inversa);
    const double rotacion[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    int bien = estado == 0 && hel.escala == 2.0 && hel.centro_destino[0] == 10.0 &&
               hel.centro_destino[1] == 20.0 && hel.centro_destino[2] == 30.0 &&
               inversa[0] == 0.25f && inversa[8] == 0.125f && puntos[1][1] == 2.0;
    for (int e = 0; e < 9; ++e) bien = bien && hel.rotacion[e] == rotacion[e];
    if (!bien) {
      fprintf(stderr, "Hel3Dg___ptr_dbl through dlsym gave a wrong estimate (status %d)\n", (int)estado);
      ++faltan;
    }
  }
  dlclose(biblioteca);
  printf("%zu names looked up, %d problems\n", total, faltan);
  return faltan ? 1 : 0;
}
