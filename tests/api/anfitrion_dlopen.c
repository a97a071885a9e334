/* A host as our users write them: load the library by path, find each function named on the
 * command line by its unmangled name (Greek letters as UTF-8), call two through their pointers.
 * Usage: anfitrion_dlopen path/to/liborienta.so [name...] */
#define _GNU_SOURCE /* dladdr */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "orienta.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s path/to/liborienta.so [name...]\n", argv[0]);
    return 2;
  }
  void* biblioteca = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!biblioteca) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  int fallos = 0;
  for (int i = 2; i < argc; ++i)
    if (!dlsym(biblioteca, argv[i])) {
      fprintf(stderr, "missing: %s\n", argv[i]);
      ++fallos;
    }

  /* A record returned by value through a pointer: 3.0 and −3.0 average to just below −π. */
  Terna (*medio)(const double*, uint32_t) = 0;
  *(void**)&medio = dlsym(biblioteca, "Gmedio");
  const double angulos[6] = {0.5, 3.0, 0.0, -0.5, -3.0, 0.0}, media[3] = {0.0, -6.283185307179597 / 2, 0.0};
  if (!medio || memcmp(medio(angulos, 2).v, media, sizeof media) != 0) {
    fprintf(stderr, "Gmedio through dlsym: missing or wrong\n");
    ++fallos;
  }

  /* The solver comes from the library's own dependency, libdiradodavid: a handle's lookup scope
   * includes its dependencies, so dlsym finds it, but in that object, not in liborienta (which
   * must not export it; api.exportaciones checks the export list itself). */
  static const char* const kSolver[] = {"resuelve_sistema_sim_t_2_dbl", "resuelve_sistema_sim_t_2_fl"};
  Dl_info propia, ajena;
  const int hay_propia = dladdr(dlsym(biblioteca, "Hel2Dg___ptr_dbl"), &propia);
  for (size_t i = 0; i < 2; ++i) {
    void* f = dlsym(biblioteca, kSolver[i]);
    if (!f || (hay_propia && dladdr(f, &ajena) && strcmp(ajena.dli_fname, propia.dli_fname) == 0)) {
      fprintf(stderr, "%s: not found, or defined in liborienta itself\n", kSolver[i]);
      ++fallos;
    }
  }
  int32_t (*resuelve)(double*, double*, double*, int32_t) = 0;
  *(void**)&resuelve = dlsym(biblioteca, kSolver[0]);
  double N[1] = {4.0}, rx[1] = {8.0}, ry[1] = {2.0};
  if (!resuelve || resuelve(N, rx, ry, 1) != 0 || rx[0] != 2.0 || ry[0] != 0.5) {
    fprintf(stderr, "%s through dlsym: missing or wrong\n", kSolver[0]);
    ++fallos;
  }
  dlclose(biblioteca);
  printf("%d names looked up, %d problems\n", argc - 2, fallos);
  return fallos ? 1 : 0;
}
