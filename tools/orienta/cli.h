/* orienta command-line tool: declarations shared by its files. */
#ifndef ORIENTA_CLI_H
#define ORIENTA_CLI_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/* Exit statuses: the table was printed; it was printed but the fit is not trustworthy; nothing
 * was printed (bad input, bad options, degenerate data). */
enum { SALIDA_BIEN = 0, SALIDA_AVISO = 1, SALIDA_ERROR = 2 };

typedef enum { UNIDAD_RAD, UNIDAD_DEG, UNIDAD_GON } Unidad;

typedef struct {
  int json;
  int flotante;      /* --float: the single-precision twin */
  int general;       /* --general: the general start of helmert3d */
  Unidad unidad;
  uint32_t tipo;     /* --kind of poly2d, as the record's tipo */
  int tipo_dado;
} Opciones;

/* One point pair as read: the id is a slice of the input text (id_largo 0: none given). */
typedef struct {
  uint32_t linea;
  size_t id_inicio, id_largo;
  double origen[3], destino[3];
} Par;

/* The pairs of one input, with the text they were read from (ids point into it). */
typedef struct {
  const char* nombre; /* file name for messages */
  const char* texto;
  size_t largo;
  Par* pares;
  uint32_t n;
} Conjunto;

/* lectura.c */
int lee_fichero(const char* ruta, char** texto, size_t* largo);
int lee_conjunto(Conjunto* c, int dimension);
void libera_conjunto(Conjunto* c);
void error_en(const char* nombre, uint32_t linea, size_t columna, const char* formato, ...);
void error_general(const char* formato, ...);
void aviso(const char* formato, ...);

/* salida.c: a minimal JSON writer that places the commas itself. */
typedef struct {
  FILE* f;
  int nivel;
  int primero[16];
  int tras_clave;
} Json;

void json_inicia(Json* j, FILE* f);
void json_abre(Json* j, char apertura);
void json_cierra(Json* j, char cierre);
void json_clave(Json* j, const char* clave);
void json_numero(Json* j, double x);
void json_entero(Json* j, long long x);
void json_texto(Json* j, const char* s, size_t largo);
void json_vector(Json* j, const double* v, int n);
void json_id(Json* j, const Conjunto* c, uint32_t i);

double angulo_en(double radianes, Unidad u);
const char* nombre_unidad(Unidad u);
void imprime_id(const Conjunto* c, uint32_t i, int ancho);

/* ordenes.c: each returns an exit status; j is null for the table. */
int orden_helmert3d(const Opciones* o, Conjunto* c, Json* j);
int orden_helmert2d(const Opciones* o, Conjunto* c, Json* j);
int orden_poly2d(const Opciones* o, Conjunto* c, Json* j);

/* datos_demo.c, generated from examples/data at configure time. */
extern const unsigned char orienta_demo_3d[];
extern const size_t orienta_demo_3d_largo;
extern const unsigned char orienta_demo_2d[];
extern const size_t orienta_demo_2d_largo;

#endif /* ORIENTA_CLI_H */
