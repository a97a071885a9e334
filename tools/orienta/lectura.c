/* Reading point pairs: one pair a line, columns separated by blanks or commas, '#' starts a
 * comment. Every fault is reported once, with file, line and column, and nothing is guessed. */
#include <errno.h>
#include <math.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "cli.h"

void error_en(const char* nombre, uint32_t linea, size_t columna, const char* formato, ...) {
  va_list a;
  va_start(a, formato);
  fprintf(stderr, "orienta: %s:%lu:%lu: ", nombre, (unsigned long)linea, (unsigned long)columna);
  vfprintf(stderr, formato, a);
  fputc('\n', stderr);
  va_end(a);
}

void error_general(const char* formato, ...) {
  va_list a;
  va_start(a, formato);
  fputs("orienta: ", stderr);
  vfprintf(stderr, formato, a);
  fputc('\n', stderr);
  va_end(a);
}

void aviso(const char* formato, ...) {
  va_list a;
  va_start(a, formato);
  fputs("orienta: warning: ", stderr);
  vfprintf(stderr, formato, a);
  fputc('\n', stderr);
  va_end(a);
}

/* Reads a whole file (or standard input for null or "-") into one heap block. */
int lee_fichero(const char* ruta, char** texto, size_t* largo) {
  const int es_entrada = ruta == NULL || strcmp(ruta, "-") == 0;
  const char* nombre = es_entrada ? "<stdin>" : ruta;
  FILE* f = es_entrada ? stdin : fopen(ruta, "rb");
  if (f == NULL) {
    error_general("%s: cannot open: %s", nombre, strerror(errno));
    return 0;
  }
  size_t capacidad = 1 << 16, usados = 0;
  char* b = malloc(capacidad);
  int bien = b != NULL;
  while (bien) {
    if (usados == capacidad) {
      char* mayor = capacidad > SIZE_MAX / 2 ? NULL : realloc(b, capacidad * 2);
      if (mayor == NULL) {
        bien = 0;
        break;
      }
      b = mayor;
      capacidad *= 2;
    }
    const size_t leidos = fread(b + usados, 1, capacidad - usados, f);
    usados += leidos;
    if (leidos == 0) break;
  }
  if (!bien) {
    error_general("%s: out of memory", nombre);
  } else if (ferror(f)) {
    error_general("%s: cannot read: %s", nombre, strerror(errno));
    bien = 0;
  }
  if (!es_entrada) fclose(f);
  if (!bien) {
    free(b);
    return 0;
  }
  *texto = b;
  *largo = usados;
  return 1;
}

static int es_blanco(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

/* Columns count characters, not bytes: UTF-8 continuation bytes do not start a column. */
static size_t columna(const char* t, size_t inicio_linea, size_t pos) {
  size_t col = 1;
  for (size_t i = inicio_linea; i < pos; ++i)
    if (((unsigned char)t[i] & 0xC0) != 0x80) ++col;
  return col;
}

/* The whole token must be a finite number: strtod alone would accept "12abc" as 12, and
 * "nan" or "1e999" as values no estimate can use. */
static int lee_numero(const char* t, size_t largo, double* x, const char** motivo) {
  char corto[128];
  char* copia = largo < sizeof corto ? corto : malloc(largo + 1);
  if (copia == NULL) {
    *motivo = "out of memory";
    return 0;
  }
  memcpy(copia, t, largo);
  copia[largo] = '\0';
  char* fin = NULL;
  errno = 0;
  *x = strtod(copia, &fin);
  const int entero = fin == copia + largo && largo > 0;
  if (copia != corto) free(copia);
  if (!entero) {
    *motivo = "is not a number";
    return 0;
  }
  if (!isfinite(*x)) {
    *motivo = "is not a finite number";
    return 0;
  }
  return 1;
}

/* Prints a token for a message: at most 40 characters, control bytes as '?'. */
static void cita(char* destino, size_t capacidad, const char* t, size_t largo) {
  size_t k = 0;
  for (size_t i = 0; i < largo && k + 4 < capacidad && i < 40; ++i)
    destino[k++] = (unsigned char)t[i] < 0x20 || t[i] == 0x7F ? '?' : t[i];
  if (largo > 40 && k + 4 < capacidad) destino[k++] = '.', destino[k++] = '.', destino[k++] = '.';
  destino[k] = '\0';
}

enum { kMaxColumnas = 8 };

int lee_conjunto(Conjunto* c, int dimension) {
  const char* t = c->texto;
  const size_t fin = c->largo;
  const int numeros = 2 * dimension;
  size_t capacidad = 0;
  c->pares = NULL;
  c->n = 0;

  size_t pos = 0;
  if (fin >= 3 && memcmp(t, "\xEF\xBB\xBF", 3) == 0) pos = 3; /* a byte-order mark is no column */
  uint32_t linea = 0;
  while (pos < fin) {
    const size_t inicio = pos;
    size_t final_linea = pos;
    while (final_linea < fin && t[final_linea] != '\n') ++final_linea;
    pos = final_linea + 1;
    if (linea == UINT32_MAX) {
      error_general("%s: more than %lu lines", c->nombre, (unsigned long)UINT32_MAX);
      return 0;
    }
    ++linea;

    size_t ini[kMaxColumnas], lar[kMaxColumnas];
    int columnas = 0;
    size_t extra = 0; /* where the first column past kMaxColumnas starts */
    int tras_coma = 0;
    size_t i = inicio;
    for (;;) {
      while (i < final_linea && es_blanco((unsigned char)t[i])) ++i;
      if (i >= final_linea || t[i] == '#') {
        if (tras_coma) {
          error_en(c->nombre, linea, columna(t, inicio, i), "empty column after ','");
          return 0;
        }
        break;
      }
      if (t[i] == ',') {
        if (columnas == 0 || tras_coma) {
          error_en(c->nombre, linea, columna(t, inicio, i), "empty column before ','");
          return 0;
        }
        tras_coma = 1;
        ++i;
        continue;
      }
      const size_t a = i;
      while (i < final_linea && !es_blanco((unsigned char)t[i]) && t[i] != ',' && t[i] != '#') ++i;
      if (columnas < kMaxColumnas) {
        ini[columnas] = a;
        lar[columnas] = i - a;
      } else if (columnas == kMaxColumnas) {
        extra = a;
      }
      ++columnas;
      tras_coma = 0;
    }
    if (columnas == 0) continue;

    double x;
    const char* motivo = NULL;
    const int con_id = columnas == numeros + 1 ||
                       (columnas == numeros && !lee_numero(t + ini[0], lar[0], &x, &motivo));
    if (columnas != numeros + 1 && (columnas != numeros || con_id)) {
      const size_t donde = columnas > kMaxColumnas ? extra
                           : columnas > numeros + 1 ? ini[numeros + 1]
                                                   : i;
      if (con_id || columnas == numeros) {
        char id[64];
        cita(id, sizeof id, t + ini[0], lar[0]);
        error_en(c->nombre, linea, columna(t, inicio, donde),
                 "expected %d numbers after the id '%s', found %d", numeros, id, columnas - 1);
      } else {
        error_en(c->nombre, linea, columna(t, inicio, donde),
                 "expected %d numbers (source %s, target %s), optionally after an id; found %d columns",
                 numeros, dimension == 3 ? "x y z" : "x y", dimension == 3 ? "x y z" : "x y", columnas);
      }
      return 0;
    }

    if (c->n == capacidad) {
      if (capacidad >= UINT32_MAX / 2) {
        error_general("%s: more than %lu pairs", c->nombre, (unsigned long)(UINT32_MAX / 2));
        return 0;
      }
      const size_t mayor = capacidad == 0 ? 64 : capacidad * 2;
      Par* nuevos = realloc(c->pares, mayor * sizeof(Par));
      if (nuevos == NULL) {
        error_general("%s: out of memory", c->nombre);
        return 0;
      }
      c->pares = nuevos;
      capacidad = mayor;
    }
    Par* p = &c->pares[c->n];
    memset(p, 0, sizeof *p);
    p->linea = linea;
    const int primera = con_id ? 1 : 0;
    if (con_id) {
      p->id_inicio = ini[0];
      p->id_largo = lar[0];
    }
    for (int k = 0; k < numeros; ++k) {
      const int col = primera + k;
      double* destino = k < dimension ? &p->origen[k] : &p->destino[k - dimension];
      if (!lee_numero(t + ini[col], lar[col], destino, &motivo)) {
        char q[64];
        cita(q, sizeof q, t + ini[col], lar[col]);
        error_en(c->nombre, linea, columna(t, inicio, ini[col]), "'%s' %s", q, motivo);
        return 0;
      }
    }
    ++c->n;
  }
  return 1;
}

void libera_conjunto(Conjunto* c) {
  free(c->pares);
  c->pares = NULL;
  c->n = 0;
}
