/* orienta: command-line host of the library: options, help texts and the demonstration. */
#include <stdlib.h>
#include <string.h>

#include "cli.h"

enum { OPC_JSON = 1, OPC_UNIDADES = 2, OPC_FLOAT = 4, OPC_GENERAL = 8, OPC_TIPO = 16 };

#define ENTRADA_AYUDA                                                                          \
  "Input: one point pair a line, columns separated by blanks or commas, an optional point id\n" \
  "first; '#' starts a comment, blank lines are ignored. FILE '-' or no FILE reads standard\n"  \
  "input. Residuals are v = transformed source - target; the RMS is that of their lengths.\n"

#define OPCIONES_AYUDA                                                               \
  "  --float        estimate with the single-precision functions (points rounded to\n"   \
  "                 float: about 7 significant digits, reduce large coordinates first)\n" \
  "  --json         print one JSON document instead of the table (numbers as %.17g)\n"

static const char kAyudaGeneral[] =
    "usage: orienta COMMAND [OPTIONS] [FILE]\n"
    "\n"
    "Commands:\n"
    "  demo        the 3D and 2D estimates on the bundled control points\n"
    "  helmert3d   3D similarity (seven parameters) from pairs of 3D points\n"
    "  helmert2d   2D similarity from pairs of 2D points\n"
    "  poly2d      2D polynomial transformation (constant to third order)\n"
    "\n"
    "'orienta COMMAND --help' describes each command; 'orienta --version' prints the version.\n"
    "Exit status: 0 done; 1 printed, but the 3D fit is not the best one (see the warning);\n"
    "2 error (bad options or input, degenerate points), nothing printed on standard output.\n";

static const char kAyudaDemo[] =
    "usage: orienta demo [--units rad|deg|gon] [--json]\n"
    "\n"
    "Runs helmert3d on the bundled examples/data/control3d.txt (ten control points of a site,\n"
    "local frame to UTM grid with heights) and helmert2d on examples/data/control2d.txt (twelve\n"
    "cadastral points, old plane grid to UTM). The data are compiled into the program.\n"
    "With --json, one document {\"helmert3d\": ..., \"helmert2d\": ...}.\n";

static const char kAyuda3d[] =
    "usage: orienta helmert3d [--general] [--float] [--units rad|deg|gon] [--json] [FILE]\n"
    "\n"
    "Estimates the 3D similarity target = T + scale*R*source and prints the translation T, the\n"
    "angles omega, phi, kappa of R = Rz(kappa)*Ry(phi)*Rx(omega), the scale and its deviation\n"
    "from 1 in ppm, the centred form (both centroids and R by rows), each pair's residual and\n"
    "the RMS. Columns: [id] source x y z target x y z. At least 3 pairs, not on one line.\n"
    "\n" ENTRADA_AYUDA
    "\n"
    "  --general      start from the linear least-squares map (from 9 pairs on) instead of the\n"
    "                 best rotation about z: needed when R is far from a rotation about z\n"
    OPCIONES_AYUDA
    "  --units U      angles in rad, deg (default) or gon\n"
    "\n"
    "Exit status 1: printed, but the refinement did not end at the best rotation.\n";

static const char kAyuda2d[] =
    "usage: orienta helmert2d [--float] [--units rad|deg|gon] [--json] [FILE]\n"
    "\n"
    "Estimates the 2D similarity target = scale*R*(source - t) and prints t, the rotation angle\n"
    "(positive turns +x towards +y), the scale and its deviation from 1 in ppm, the centred form\n"
    "(both centroids, cos and sin of the rotation), each pair's residual and the RMS.\n"
    "Columns: [id] source x y target x y. At least 2 pairs with distinct source points.\n"
    "\n" ENTRADA_AYUDA
    "\n" OPCIONES_AYUDA
    "  --units U      angles in rad, deg (default) or gon\n";

static const char kAyudaPoly[] =
    "usage: orienta poly2d --kind KIND [--float] [--json] [FILE]\n"
    "\n"
    "Fits x' = x0 + sum cx[k]*term k, y' = y0 + sum cy[k]*term k in dx = x - xc, dy = y - yc\n"
    "(terms dx, dy; dx^2, dx*dy, dy^2; dx^3, dx^2*dy, dx*dy^2, dy^3) and prints the record, each\n"
    "pair's residual through the fitted transformation and the RMS.\n"
    "Columns: [id] source x y target x y.\n"
    "\n" ENTRADA_AYUDA
    "\n"
    "  --kind KIND    constant (1 pair at least), rigid or similarity (2), affine or 1 (3),\n"
    "                 2 for second order (6), 3 for third order (10)\n" OPCIONES_AYUDA;

typedef struct {
  const char* nombre;
  int (*ejecuta)(const Opciones*, Conjunto*, Json*);
  int dimension;
  unsigned permitidas;
  const char* ayuda;
} Orden;

static const Orden kOrdenes[] = {
    {"demo", NULL, 0, OPC_JSON | OPC_UNIDADES, kAyudaDemo},
    {"helmert3d", orden_helmert3d, 3, OPC_JSON | OPC_UNIDADES | OPC_FLOAT | OPC_GENERAL, kAyuda3d},
    {"helmert2d", orden_helmert2d, 2, OPC_JSON | OPC_UNIDADES | OPC_FLOAT, kAyuda2d},
    {"poly2d", orden_poly2d, 2, OPC_JSON | OPC_FLOAT | OPC_TIPO, kAyudaPoly},
};

static int lee_unidad(const char* s, Unidad* u) {
  if (strcmp(s, "rad") == 0) *u = UNIDAD_RAD;
  else if (strcmp(s, "deg") == 0) *u = UNIDAD_DEG;
  else if (strcmp(s, "gon") == 0) *u = UNIDAD_GON;
  else return 0;
  return 1;
}

static int lee_tipo(const char* s, uint32_t* tipo) {
  static const struct {
    const char* nombre;
    uint32_t tipo;
  } kTipos[] = {{"constant", 0}, {"rigid", 1}, {"similarity", 2}, {"affine", 3}, {"1", 3}, {"2", 6}, {"3", 7}};
  for (size_t k = 0; k < sizeof kTipos / sizeof kTipos[0]; ++k)
    if (strcmp(s, kTipos[k].nombre) == 0) {
      *tipo = kTipos[k].tipo;
      return 1;
    }
  return 0;
}

/* Flushes standard output and reports a failed write (a full disk, a closed pipe). */
static int termina(int estado) {
  if (fflush(stdout) != 0 || ferror(stdout)) {
    error_general("cannot write the output");
    return SALIDA_ERROR;
  }
  return estado;
}

static int ejecuta_texto(const Orden* orden, const Opciones* o, const char* nombre, const char* texto,
                         size_t largo, Json* j) {
  Conjunto c = {nombre, texto, largo, NULL, 0};
  int estado = SALIDA_ERROR;
  if (lee_conjunto(&c, orden->dimension)) estado = orden->ejecuta(o, &c, j);
  libera_conjunto(&c);
  return estado;
}

static int demo(const Opciones* o) {
  Json j;
  json_inicia(&j, stdout);
  Json* pj = o->json ? &j : NULL;
  if (pj != NULL) {
    json_abre(pj, '{');
    json_clave(pj, "helmert3d");
  }
  int estado = ejecuta_texto(&kOrdenes[1], o, "examples/data/control3d.txt", (const char*)orienta_demo_3d,
                             orienta_demo_3d_largo, pj);
  if (estado == SALIDA_ERROR) return estado;
  if (pj != NULL) {
    json_clave(pj, "helmert2d");
  } else {
    printf("\n");
  }
  const int estado2 = ejecuta_texto(&kOrdenes[2], o, "examples/data/control2d.txt",
                                    (const char*)orienta_demo_2d, orienta_demo_2d_largo, pj);
  if (estado2 == SALIDA_ERROR) return estado2;
  if (pj != NULL) json_cierra(pj, '}');
  return estado > estado2 ? estado : estado2;
}

static int uso_mal(const Orden* orden, const char* formato, const char* que) {
  if (orden != NULL) fprintf(stderr, "orienta: %s: ", orden->nombre);
  else fputs("orienta: ", stderr);
  fprintf(stderr, formato, que);
  fprintf(stderr, " (see 'orienta %s%s--help')\n", orden ? orden->nombre : "", orden ? " " : "");
  return SALIDA_ERROR;
}

int main(int argc, char** argv) {
  if (argc < 2) return uso_mal(NULL, "%s", "missing command");
  const char* primero = argv[1];
  if (strcmp(primero, "--help") == 0 || strcmp(primero, "-h") == 0 || strcmp(primero, "help") == 0) {
    fputs(kAyudaGeneral, stdout);
    return termina(SALIDA_BIEN);
  }
  if (strcmp(primero, "--version") == 0) {
    printf("orienta %s\n", ORIENTA_VERSION);
    return termina(SALIDA_BIEN);
  }
  const Orden* orden = NULL;
  for (size_t k = 0; k < sizeof kOrdenes / sizeof kOrdenes[0]; ++k)
    if (strcmp(primero, kOrdenes[k].nombre) == 0) orden = &kOrdenes[k];
  if (orden == NULL) return uso_mal(NULL, "unknown command '%s'", primero);
  Opciones o = {0, 0, 0, UNIDAD_DEG, 0, 0};
  const char* fichero = NULL;
  int ficheros = 0, solo_ficheros = 0;
  for (int i = 2; i < argc; ++i) {
    const char* a = argv[i];
    if (solo_ficheros || a[0] != '-' || strcmp(a, "-") == 0) {
      fichero = a;
      ++ficheros;
      continue;
    }
    if (strcmp(a, "--") == 0) {
      solo_ficheros = 1;
      continue;
    }
    if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
      fputs(orden->ayuda, stdout);
      return termina(SALIDA_BIEN);
    }
    /* Options with a value take it as "--units deg" or "--units=deg". */
    const char* valor = NULL;
    unsigned cual = 0;
    if (strcmp(a, "--json") == 0) {
      cual = OPC_JSON;
    } else if (strcmp(a, "--float") == 0) {
      cual = OPC_FLOAT;
    } else if (strcmp(a, "--general") == 0) {
      cual = OPC_GENERAL;
    } else if (strncmp(a, "--units", 7) == 0 && (a[7] == '\0' || a[7] == '=')) {
      cual = OPC_UNIDADES;
    } else if (strncmp(a, "--kind", 6) == 0 && (a[6] == '\0' || a[6] == '=')) {
      cual = OPC_TIPO;
    }
    if (cual == 0 || !(orden->permitidas & cual)) return uso_mal(orden, "unknown option '%s'", a);
    if (cual == OPC_UNIDADES || cual == OPC_TIPO) {
      const char* igual = strchr(a, '=');
      if (igual != NULL) {
        valor = igual + 1;
      } else if (i + 1 < argc) {
        valor = argv[++i];
      } else {
        return uso_mal(orden, "option '%s' needs a value", a);
      }
    }
    switch (cual) {
      case OPC_JSON: o.json = 1; break;
      case OPC_FLOAT: o.flotante = 1; break;
      case OPC_GENERAL: o.general = 1; break;
      case OPC_UNIDADES:
        if (!lee_unidad(valor, &o.unidad)) return uso_mal(orden, "unknown unit '%s': use rad, deg or gon", valor);
        break;
      case OPC_TIPO:
        if (!lee_tipo(valor, &o.tipo))
          return uso_mal(orden, "unknown kind '%s': use constant, rigid, similarity, affine, 2 or 3", valor);
        o.tipo_dado = 1;
        break;
      default: break;
    }
  }
  if (ficheros > 1) return uso_mal(orden, "%s", "more than one input file");
  if (orden->ejecuta == NULL) {
    if (ficheros > 0) return uso_mal(orden, "%s", "takes no input file");
    return termina(demo(&o));
  }
  if ((orden->permitidas & OPC_TIPO) && !o.tipo_dado) return uso_mal(orden, "%s", "--kind is required");

  char* texto = NULL;
  size_t largo = 0;
  if (!lee_fichero(fichero, &texto, &largo)) return SALIDA_ERROR;
  const char* nombre = fichero == NULL || strcmp(fichero, "-") == 0 ? "<stdin>" : fichero;
  Json j;
  json_inicia(&j, stdout);
  const int estado = ejecuta_texto(orden, &o, nombre, texto, largo, o.json ? &j : NULL);
  free(texto);
  return termina(estado);
}
