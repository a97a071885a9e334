/* The estimating commands: call the library, derive what a surveyor reads (plain parameters,
 * angles, residuals), refuse anything non-finite, then print a table or one JSON document. */
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "cli.h"
#include "orienta.h"

static const char* precision(const Opciones* o) { return o->flotante ? "single" : "double"; }

static int pocos_pares(const Conjunto* c, const char* orden, uint32_t minimo) {
  if (c->n >= minimo) return 0;
  error_general("%s: %lu point pair%s; %s needs at least %lu", c->nombre, (unsigned long)c->n,
                c->n == 1 ? "" : "s", orden, (unsigned long)minimo);
  return 1;
}

static int todos_finitos(const double* v, size_t n) {
  for (size_t k = 0; k < n; ++k)
    if (!isfinite(v[k])) return 0;
  return 1;
}

/* Pointer pairs over the parsed points, or over float copies of them for the float twins
 * (dimension 2 or 3 scalars a point). */
static double** punteros_dbl(Conjunto* c) {
  double** P = malloc(2 * (size_t)c->n * sizeof *P);
  if (P == NULL) return NULL;
  for (uint32_t k = 0; k < c->n; ++k) {
    P[2 * (size_t)k] = c->pares[k].origen;
    P[2 * (size_t)k + 1] = c->pares[k].destino;
  }
  return P;
}

static float** punteros_fl(const Conjunto* c, int dimension, float** bloque) {
  float* v = malloc(2 * (size_t)dimension * c->n * sizeof *v);
  float** P = malloc(2 * (size_t)c->n * sizeof *P);
  if (v == NULL || P == NULL) {
    free(v);
    free(P);
    return NULL;
  }
  for (uint32_t k = 0; k < c->n; ++k) {
    float* o = v + 2 * (size_t)dimension * k;
    float* d = o + dimension;
    for (int i = 0; i < dimension; ++i) {
      o[i] = (float)c->pares[k].origen[i];
      d[i] = (float)c->pares[k].destino[i];
    }
    P[2 * (size_t)k] = o;
    P[2 * (size_t)k + 1] = d;
  }
  *bloque = v;
  return P;
}

static int sin_memoria(const Conjunto* c) {
  error_general("%s: out of memory", c->nombre);
  return SALIDA_ERROR;
}

static int no_finito(const Conjunto* c, const char* que) {
  error_general("%s: degenerate point set: %s is not finite (are the source points coincident or "
                "on one line?)", c->nombre, que);
  return SALIDA_ERROR;
}

/* Residuals v = transformed source − target, their RMS length, written into v (3 a pair). */
static double rms_de(const double* v, uint32_t n, int dimension) {
  double suma = 0.0;
  for (uint32_t k = 0; k < n; ++k)
    for (int i = 0; i < dimension; ++i) suma += v[(size_t)dimension * k + i] * v[(size_t)dimension * k + i];
  return sqrt(suma / n);
}

static void tabla_residuos(const Conjunto* c, const double* v, int dimension, double rms) {
  static const char* const ejes[3] = {"vx", "vy", "vz"};
  printf("\n  residuals v = transformed source - target\n  %-12s", "id");
  for (int i = 0; i < dimension; ++i) printf(" %12s", ejes[i]);
  printf(" %12s\n", "|v|");
  for (uint32_t k = 0; k < c->n; ++k) {
    imprime_id(c, k, 12);
    double q = 0.0;
    for (int i = 0; i < dimension; ++i) {
      const double x = v[(size_t)dimension * k + i];
      printf(" %12.4f", x);
      q += x * x;
    }
    printf(" %12.4f\n", sqrt(q));
  }
  printf("  %-12s", "RMS of |v|");
  for (int i = 0; i < dimension; ++i) printf(" %12s", "");
  printf(" %12.4f\n", rms);
}

static void json_residuos(Json* j, const Conjunto* c, const double* v, int dimension, double rms) {
  json_clave(j, "residuals");
  json_abre(j, '[');
  for (uint32_t k = 0; k < c->n; ++k) {
    json_abre(j, '{');
    json_id(j, c, k);
    json_clave(j, "v");
    json_vector(j, v + (size_t)dimension * k, dimension);
    json_cierra(j, '}');
  }
  json_cierra(j, ']');
  json_clave(j, "rms");
  json_numero(j, rms);
}

static void json_cabecera(Json* j, const char* orden, const Opciones* o, const Conjunto* c) {
  json_clave(j, "command");
  json_texto(j, orden, strlen(orden));
  json_clave(j, "file");
  json_texto(j, c->nombre, strlen(c->nombre));
  json_clave(j, "precision");
  json_texto(j, precision(o), strlen(precision(o)));
  json_clave(j, "pairs");
  json_entero(j, c->n);
}

static void json_unidad(Json* j, const Opciones* o) {
  json_clave(j, "angle_unit");
  json_texto(j, nombre_unidad(o->unidad), strlen(nombre_unidad(o->unidad)));
}

/* ------------------------------------------------------------------------------------------ */

int orden_helmert3d(const Opciones* o, Conjunto* c, Json* j) {
  const uint32_t n = c->n;
  if (pocos_pares(c, "helmert3d", 3)) return SALIDA_ERROR;
  /* The library honours the general start only from 9 pairs on; say so rather than pretend. */
  const int general = o->general && n >= 9;
  if (o->general && !general) aviso("--general needs at least 9 pairs; the planar start was used");

  double co[3], cd[3], s, R[9];
  int32_t estado;
  if (!o->flotante) {
    double** P = punteros_dbl(c);
    if (P == NULL) return sin_memoria(c);
    Hel3Dg_dbl h;
    estado = Hel3Dg___ptr_dbl(P, n, &h, general, 0, NULL);
    free(P);
    memcpy(co, h.centro_origen, sizeof co);
    memcpy(cd, h.centro_destino, sizeof cd);
    s = h.escala;
    memcpy(R, h.rotacion, sizeof R);
  } else {
    float* bloque = NULL;
    float** P = punteros_fl(c, 3, &bloque);
    if (P == NULL) return sin_memoria(c);
    Hel3Dg_fl h;
    estado = Hel3Dg___ptr_fl(P, n, &h, general, 0, NULL);
    free(P);
    free(bloque);
    for (int i = 0; i < 3; ++i) co[i] = h.centro_origen[i], cd[i] = h.centro_destino[i];
    s = h.escala;
    for (int i = 0; i < 9; ++i) R[i] = h.rotacion[i];
  }
  if (estado == -2) return sin_memoria(c);
  if (estado == -1) return no_finito(c, "the estimate");
  if (estado != 0 && estado != 1) {
    error_general("%s: unexpected status %ld from the estimator", c->nombre, (long)estado);
    return SALIDA_ERROR;
  }

  /* Everything below is the host's own arithmetic, in double even for the float twin: the
   * residuals then show what the float estimate is worth against the coordinates as given. */
  const Terna a = Gmatriz_ωφκ_seg(R);
  double T[3];
  for (int i = 0; i < 3; ++i)
    T[i] = cd[i] - s * ((R[3 * i] * co[0] + R[3 * i + 1] * co[1]) + R[3 * i + 2] * co[2]);
  double* v = malloc(3 * (size_t)n * sizeof *v);
  if (v == NULL) return sin_memoria(c);
  for (uint32_t k = 0; k < n; ++k) {
    const Par* p = &c->pares[k];
    const double d[3] = {p->origen[0] - co[0], p->origen[1] - co[1], p->origen[2] - co[2]};
    for (int i = 0; i < 3; ++i) {
      const double r = (R[3 * i] * d[0] + R[3 * i + 1] * d[1]) + R[3 * i + 2] * d[2];
      v[3 * (size_t)k + i] = (cd[i] + s * r) - p->destino[i];
    }
  }
  const double rms = rms_de(v, n, 3);
  const double resumen[] = {co[0], co[1], co[2], cd[0], cd[1], cd[2], s, R[0], R[1], R[2], R[3], R[4], R[5],
                            R[6], R[7], R[8], a.v[0], a.v[1], a.v[2], T[0], T[1], T[2], rms};
  if (!todos_finitos(resumen, sizeof resumen / sizeof resumen[0]) || !todos_finitos(v, 3 * (size_t)n)) {
    free(v);
    return no_finito(c, "the estimate");
  }

  const double ang[3] = {angulo_en(a.v[0], o->unidad), angulo_en(a.v[1], o->unidad),
                         angulo_en(a.v[2], o->unidad)};
  const double ppm = (s - 1.0) * 1e6;
  if (j != NULL) {
    json_abre(j, '{');
    json_cabecera(j, "helmert3d", o, c);
    json_clave(j, "start");
    json_texto(j, general ? "general" : "planar", general ? 7 : 6);
    json_clave(j, "status");
    json_entero(j, estado);
    json_clave(j, "source_centroid");
    json_vector(j, co, 3);
    json_clave(j, "target_centroid");
    json_vector(j, cd, 3);
    json_clave(j, "scale");
    json_numero(j, s);
    json_clave(j, "scale_ppm");
    json_numero(j, ppm);
    json_clave(j, "rotation");
    json_vector(j, R, 9);
    json_unidad(j, o);
    json_clave(j, "omega");
    json_numero(j, ang[0]);
    json_clave(j, "phi");
    json_numero(j, ang[1]);
    json_clave(j, "kappa");
    json_numero(j, ang[2]);
    json_clave(j, "translation");
    json_vector(j, T, 3);
    json_residuos(j, c, v, 3, rms);
    json_cierra(j, '}');
  } else {
    const int dec = o->unidad == UNIDAD_RAD ? 10 : 8;
    printf("orienta helmert3d: %lu pairs from %s (%s precision, %s start)\n\n", (unsigned long)n, c->nombre,
           precision(o), general ? "general" : "planar");
    printf("  target = T + scale*R*source,  R = Rz(kappa)*Ry(phi)*Rx(omega)\n");
    printf("  %-22s %16.4f %16.4f %16.4f\n", "translation T", T[0], T[1], T[2]);
    char etiqueta[32];
    snprintf(etiqueta, sizeof etiqueta, "omega phi kappa (%s)", nombre_unidad(o->unidad));
    printf("  %-22s %16.*f %16.*f %16.*f\n", etiqueta, dec, ang[0], dec, ang[1], dec, ang[2]);
    printf("  %-22s %16.12f   (%+.4f ppm)\n", "scale", s, ppm);
    printf("\n  centred form: target = target centroid + scale*R*(source - source centroid)\n");
    printf("  %-22s %16.4f %16.4f %16.4f\n", "source centroid", co[0], co[1], co[2]);
    printf("  %-22s %16.4f %16.4f %16.4f\n", "target centroid", cd[0], cd[1], cd[2]);
    for (int i = 0; i < 3; ++i)
      printf("  %-22s %16.12f %16.12f %16.12f\n", i == 0 ? "rotation R, by rows" : "", R[3 * i], R[3 * i + 1],
             R[3 * i + 2]);
    tabla_residuos(c, v, 3, rms);
  }
  free(v);

  if (estado == 1) {
    aviso("%s: the refinement did not end at the best rotation (status 1): the result above is the "
          "last iterate and its rotation may be far from the true one.%s",
          c->nombre,
          general ? ""
          : n >= 9 ? " Try --general."
                   : " The general start (--general) needs at least 9 pairs.");
    return SALIDA_AVISO;
  }
  return SALIDA_BIEN;
}

/* ------------------------------------------------------------------------------------------ */

int orden_helmert2d(const Opciones* o, Conjunto* c, Json* j) {
  const uint32_t n = c->n;
  if (pocos_pares(c, "helmert2d", 2)) return SALIDA_ERROR;

  double g[7], p[5]; /* the centred and the plain record, field by field */
  if (!o->flotante) {
    double** P = punteros_dbl(c);
    if (P == NULL) return sin_memoria(c);
    const Hel2Dg_dbl h = Hel2Dg___ptr_dbl((const double* const*)P, n);
    free(P);
    const Hel2D_dbl l = Hel2D___Hel2Dg_dbl(&h);
    const double gg[7] = {h.xc_origen, h.yc_origen, h.xc_destino, h.yc_destino, h.escala, h.cos_giro, h.sen_giro};
    const double pp[5] = {l.tx, l.ty, l.escala, l.cos_giro, l.sen_giro};
    memcpy(g, gg, sizeof g);
    memcpy(p, pp, sizeof p);
  } else {
    float* bloque = NULL;
    float** P = punteros_fl(c, 2, &bloque);
    if (P == NULL) return sin_memoria(c);
    const Hel2Dg_fl h = Hel2Dg___ptr_fl((const float* const*)P, n);
    free(P);
    free(bloque);
    const Hel2D_fl l = Hel2D___Hel2Dg_fl(&h);
    const double gg[7] = {h.xc_origen, h.yc_origen, h.xc_destino, h.yc_destino, h.escala, h.cos_giro, h.sen_giro};
    const double pp[5] = {l.tx, l.ty, l.escala, l.cos_giro, l.sen_giro};
    memcpy(g, gg, sizeof g);
    memcpy(p, pp, sizeof p);
  }
  if (!todos_finitos(g, 7) || !todos_finitos(p, 5)) return no_finito(c, "the estimate");

  const double theta = atan2(g[6], g[5]);
  /* The same map as target = T + scale*R*source, the form a surveyor usually quotes. */
  const double T[2] = {g[2] - g[4] * (g[5] * g[0] - g[6] * g[1]), g[3] - g[4] * (g[6] * g[0] + g[5] * g[1])};
  double* v = malloc(2 * (size_t)n * sizeof *v);
  if (v == NULL) return sin_memoria(c);
  for (uint32_t k = 0; k < n; ++k) {
    const Par* q = &c->pares[k];
    const double dx = q->origen[0] - g[0], dy = q->origen[1] - g[1];
    v[2 * (size_t)k] = (g[2] + g[4] * (g[5] * dx - g[6] * dy)) - q->destino[0];
    v[2 * (size_t)k + 1] = (g[3] + g[4] * (g[6] * dx + g[5] * dy)) - q->destino[1];
  }
  const double rms = rms_de(v, n, 2);
  if (!todos_finitos(v, 2 * (size_t)n) || !isfinite(rms) || !todos_finitos(T, 2)) {
    free(v);
    return no_finito(c, "the estimate");
  }

  const double ang = angulo_en(theta, o->unidad);
  const double ppm = (g[4] - 1.0) * 1e6;
  if (j != NULL) {
    json_abre(j, '{');
    json_cabecera(j, "helmert2d", o, c);
    json_clave(j, "source_centroid");
    json_vector(j, g, 2);
    json_clave(j, "target_centroid");
    json_vector(j, g + 2, 2);
    json_clave(j, "scale");
    json_numero(j, g[4]);
    json_clave(j, "scale_ppm");
    json_numero(j, ppm);
    json_clave(j, "cos");
    json_numero(j, g[5]);
    json_clave(j, "sin");
    json_numero(j, g[6]);
    json_unidad(j, o);
    json_clave(j, "rotation");
    json_numero(j, ang);
    json_clave(j, "translation");
    json_vector(j, T, 2);
    json_clave(j, "plain_t");
    json_vector(j, p, 2);
    json_residuos(j, c, v, 2, rms);
    json_cierra(j, '}');
  } else {
    char etiqueta[32];
    snprintf(etiqueta, sizeof etiqueta, "rotation (%s)", nombre_unidad(o->unidad));
    printf("orienta helmert2d: %lu pairs from %s (%s precision)\n\n", (unsigned long)n, c->nombre, precision(o));
    printf("  target = T + scale*R*source,  R = [cos -sin; sin cos] of the rotation\n");
    printf("  %-22s %16.4f %16.4f\n", "translation T", T[0], T[1]);
    printf("  %-22s %16.*f\n", etiqueta, o->unidad == UNIDAD_RAD ? 10 : 8, ang);
    printf("  %-22s %16.12f   (%+.4f ppm)\n", "scale", g[4], ppm);
    printf("\n  plain form: target = scale*R*(source - t)\n");
    printf("  %-22s %16.4f %16.4f\n", "t", p[0], p[1]);
    printf("\n  centred form: target = target centroid + scale*R*(source - source centroid)\n");
    printf("  %-22s %16.4f %16.4f\n", "source centroid", g[0], g[1]);
    printf("  %-22s %16.4f %16.4f\n", "target centroid", g[2], g[3]);
    printf("  %-22s %16.12f %16.12f\n", "cos, sin", g[5], g[6]);
    tabla_residuos(c, v, 2, rms);
  }
  free(v);
  return SALIDA_BIEN;
}

/* ------------------------------------------------------------------------------------------ */

/* Fewest pairs that determine each kind: one per two parameters of a coordinate pair. */
static uint32_t minimo_poly(uint32_t tipo) {
  switch (tipo) {
    case 0: return 1;
    case 1:
    case 2: return 2;
    case 6: return 6;
    case 7: return 10;
    default: return 3;
  }
}

static const char* nombre_tipo(uint32_t tipo) {
  switch (tipo) {
    case 0: return "constant";
    case 1: return "rigid";
    case 2: return "similarity";
    case 6: return "second order";
    case 7: return "third order";
    default: return "affine";
  }
}

int orden_poly2d(const Opciones* o, Conjunto* c, Json* j) {
  static const char* const terminos[9] = {"dx", "dy", "dx^2", "dx*dy", "dy^2", "dx^3", "dx^2*dy", "dx*dy^2", "dy^3"};
  const uint32_t n = c->n;
  const uint32_t tipo = o->tipo;
  if (pocos_pares(c, "poly2d", minimo_poly(tipo))) return SALIDA_ERROR;

  double campos[4], cx[9], cy[9]; /* xc, yc, x0, y0, and the coefficients */
  double* v = malloc(2 * (size_t)n * sizeof *v);
  if (v == NULL) return sin_memoria(c);
  if (!o->flotante) {
    double** P = punteros_dbl(c);
    if (P == NULL) {
      free(v);
      return sin_memoria(c);
    }
    Trans_Polinomica2D_dbl t;
    memset(&t, 0, sizeof t);
    t.tipo = tipo;
    Trans_Polinomica2D___puntosxy_dbl(&t, (const double* const*)P, n);
    free(P);
    campos[0] = t.xc_origen, campos[1] = t.yc_origen, campos[2] = t.x0_destino, campos[3] = t.y0_destino;
    memcpy(cx, t.coef_x, sizeof cx);
    memcpy(cy, t.coef_y, sizeof cy);
    for (uint32_t k = 0; k < n; ++k) {
      double punto[2] = {c->pares[k].origen[0], c->pares[k].origen[1]};
      transforma_punto2D_dbl(&t, punto);
      v[2 * (size_t)k] = punto[0] - c->pares[k].destino[0];
      v[2 * (size_t)k + 1] = punto[1] - c->pares[k].destino[1];
    }
  } else {
    float* bloque = NULL;
    float** P = punteros_fl(c, 2, &bloque);
    if (P == NULL) {
      free(v);
      return sin_memoria(c);
    }
    Trans_Polinomica2D_fl t;
    memset(&t, 0, sizeof t);
    t.tipo = tipo;
    Trans_Polinomica2D___puntosxy_fl(&t, (const float* const*)P, n);
    free(P);
    free(bloque);
    campos[0] = t.xc_origen, campos[1] = t.yc_origen, campos[2] = t.x0_destino, campos[3] = t.y0_destino;
    for (int k = 0; k < 9; ++k) cx[k] = t.coef_x[k], cy[k] = t.coef_y[k];
    for (uint32_t k = 0; k < n; ++k) {
      float punto[2] = {(float)c->pares[k].origen[0], (float)c->pares[k].origen[1]};
      transforma_punto2D_fl(&t, punto);
      v[2 * (size_t)k] = (double)punto[0] - c->pares[k].destino[0];
      v[2 * (size_t)k + 1] = (double)punto[1] - c->pares[k].destino[1];
    }
  }
  const int usados = tipo >= 7 ? 9 : tipo == 6 ? 5 : 2;
  const double rms = rms_de(v, n, 2);
  if (!todos_finitos(campos, 4) || !todos_finitos(cx, usados) || !todos_finitos(cy, usados) ||
      !todos_finitos(v, 2 * (size_t)n) || !isfinite(rms)) {
    free(v);
    error_general("%s: degenerate point set: the %s fit is not determined (too few distinct points, "
                  "or points on one line or conic?)", c->nombre, nombre_tipo(tipo));
    return SALIDA_ERROR;
  }

  if (j != NULL) {
    json_abre(j, '{');
    json_cabecera(j, "poly2d", o, c);
    json_clave(j, "kind");
    json_texto(j, nombre_tipo(tipo), strlen(nombre_tipo(tipo)));
    json_clave(j, "tipo");
    json_entero(j, tipo);
    json_clave(j, "source_centroid");
    json_vector(j, campos, 2);
    json_clave(j, "target_origin");
    json_vector(j, campos + 2, 2);
    json_clave(j, "coef_x");
    json_vector(j, cx, 9);
    json_clave(j, "coef_y");
    json_vector(j, cy, 9);
    json_residuos(j, c, v, 2, rms);
    json_cierra(j, '}');
  } else {
    printf("orienta poly2d: %s (tipo %lu), %lu pairs from %s (%s precision)\n\n", nombre_tipo(tipo),
           (unsigned long)tipo, (unsigned long)n, c->nombre, precision(o));
    printf("  x' = x0 + sum cx[k]*term k,  y' = y0 + sum cy[k]*term k,  dx = x - xc, dy = y - yc\n");
    printf("  %-22s %22.4f %22.4f\n", "(xc, yc)", campos[0], campos[1]);
    printf("  %-22s %22.4f %22.4f\n", "(x0, y0)", campos[2], campos[3]);
    printf("  %-22s %22s %22s\n", "term", "cx", "cy");
    for (int k = 0; k < usados; ++k) printf("  %-22s %22.14e %22.14e\n", terminos[k], cx[k], cy[k]);
    tabla_residuos(c, v, 2, rms);
  }
  free(v);
  return SALIDA_BIEN;
}
