/* Output helpers: angle units, point ids, and a JSON writer. */
#include <math.h>
#include <string.h>

#include "cli.h"

double angulo_en(double radianes, Unidad u) {
  /* One factor per unit, as a product: the factor is the double nearest 180/π (200/π). */
  switch (u) {
    case UNIDAD_DEG: return radianes * (180.0 / 3.141592653589793);
    case UNIDAD_GON: return radianes * (200.0 / 3.141592653589793);
    case UNIDAD_RAD: break;
  }
  return radianes;
}

const char* nombre_unidad(Unidad u) {
  switch (u) {
    case UNIDAD_DEG: return "deg";
    case UNIDAD_GON: return "gon";
    case UNIDAD_RAD: break;
  }
  return "rad";
}

/* A pair without an id is named by its line number. */
void imprime_id(const Conjunto* c, uint32_t i, int ancho) {
  const Par* p = &c->pares[i];
  if (p->id_largo > 0) {
    printf("  %-*.*s", ancho, (int)p->id_largo, c->texto + p->id_inicio);
  } else {
    char nombre[24];
    snprintf(nombre, sizeof nombre, "line %lu", (unsigned long)p->linea);
    printf("  %-*s", ancho, nombre);
  }
}

void json_inicia(Json* j, FILE* f) {
  memset(j, 0, sizeof *j);
  j->f = f;
  j->primero[0] = 1;
}

static void separa(Json* j) {
  if (j->tras_clave) {
    j->tras_clave = 0;
    return;
  }
  if (!j->primero[j->nivel]) fputc(',', j->f);
  j->primero[j->nivel] = 0;
}

void json_abre(Json* j, char apertura) {
  separa(j);
  fputc(apertura, j->f);
  if (j->nivel + 1 < (int)(sizeof j->primero / sizeof j->primero[0])) ++j->nivel;
  j->primero[j->nivel] = 1;
}

void json_cierra(Json* j, char cierre) {
  fputc(cierre, j->f);
  if (j->nivel > 0) --j->nivel;
  if (j->nivel == 0) fputc('\n', j->f);
}

static void escribe_texto(FILE* f, const char* s, size_t largo);

void json_clave(Json* j, const char* clave) {
  separa(j);
  escribe_texto(j->f, clave, strlen(clave));
  fputc(':', j->f);
  j->tras_clave = 1;
}

/* %.17g gives back the same double when read; JSON has no infinities or NaN, so those (which
 * the commands reject before printing) would appear as null. */
void json_numero(Json* j, double x) {
  separa(j);
  if (isfinite(x)) {
    fprintf(j->f, "%.17g", x);
  } else {
    fputs("null", j->f);
  }
}

void json_entero(Json* j, long long x) {
  separa(j);
  fprintf(j->f, "%lld", x);
}

/* Length of the valid UTF-8 sequence at s (1 to 4), or 0 if the bytes there are not one. */
static size_t utf8_valido(const unsigned char* s, size_t largo) {
  const unsigned char c = s[0];
  size_t n;
  unsigned int minimo;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2, minimo = 0x80;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, minimo = 0x800;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, minimo = 0x10000;
  else return 0;
  if (n > largo) return 0;
  unsigned int v = c & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    if ((s[k] & 0xC0) != 0x80) return 0;
    v = (v << 6) | (s[k] & 0x3F);
  }
  if (v < minimo || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  return n;
}

/* Escapes quotes, backslashes and control characters; bytes that are not UTF-8 (an id typed in
 * an older 8-bit encoding) become U+FFFD, so the document stays valid. */
static void escribe_texto(FILE* f, const char* s, size_t largo) {
  fputc('"', f);
  const unsigned char* u = (const unsigned char*)s;
  for (size_t i = 0; i < largo;) {
    const unsigned char c = u[i];
    if (c == '"' || c == '\\') {
      fputc('\\', f);
      fputc(c, f);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      fprintf(f, "\\u%04x", c);
      ++i;
    } else {
      const size_t n = utf8_valido(u + i, largo - i);
      if (n == 0) {
        fputs("\\ufffd", f);
        ++i;
      } else {
        fwrite(u + i, 1, n, f);
        i += n;
      }
    }
  }
  fputc('"', f);
}

void json_texto(Json* j, const char* s, size_t largo) {
  separa(j);
  escribe_texto(j->f, s, largo);
}

void json_vector(Json* j, const double* v, int n) {
  json_abre(j, '[');
  for (int k = 0; k < n; ++k) json_numero(j, v[k]);
  json_cierra(j, ']');
}

/* The id as given, or null; the line number always follows under "line". */
void json_id(Json* j, const Conjunto* c, uint32_t i) {
  const Par* p = &c->pares[i];
  json_clave(j, "id");
  if (p->id_largo > 0) {
    json_texto(j, c->texto + p->id_inicio, p->id_largo);
  } else {
    separa(j);
    fputs("null", j->f);
  }
  json_clave(j, "line");
  json_entero(j, p->linea);
}
