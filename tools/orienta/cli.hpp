// orienta command-line tool: declarations shared by its files.
#ifndef ORIENTA_CLI_HPP
#define ORIENTA_CLI_HPP

#include <cstdint>
#include <cstdio>
#include <functional>
#include <istream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "orienta_ajuste.h"

namespace orienta::cli {

// Keys stay in the order they were written.
using Json = nlohmann::ordered_json;

// Exit statuses: the result was printed; it was printed but is not trustworthy (a warning says
// why); nothing was printed (bad options or input, degenerate data).
enum Salida { kBien = 0, kAviso = 1, kError = 2 };

// A failure that ends the command: one line, printed after "orienta: ", exit status 2.
struct Fallo : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Unidad { rad, deg, gon, arcsec, dms };  // dms: degrees, printed sexagesimal
enum class Ids { automatico, si, no };  // --ids

// --columns: which column of the file holds each field, in the order the readers take them (id,
// coordinates, σ, then for apply the columns carried through). Every line must have `total`.
struct Columnas {
  std::vector<size_t> orden;
  size_t total = 0;
  bool con_z = false;  // a z column is named (a 3D record needs one)
};

struct Opciones {
  bool json = false;
  bool descrita = false;  // --described: the library's own estimators instead of the adjustment
  bool flotante = false;  // --float (described only)
  bool general = false;   // --general (described helmert3d only)
  bool rigido = false;    // helmert3d --rigid: the scale held at 1
  Unidad unidad = Unidad::deg;
  uint32_t tipo = 3;  // poly2d --kind, as the described record's kind code
  bool con_sigma = false;
  int sigmas = 0;                // --sigmas N: σ a line (0: 1 or 2 as the first line settles)
  std::optional<double> umbral;  // --snoop K
  std::optional<double> alfa;    // --snoop-alpha A: the family-wise threshold for A
  std::string dibujo;            // --plot FILE.svg
  bool inversa = false;          // apply --inverse
  Ids ids = Ids::automatico;
  bool coma_decimal = false;  // --decimal-comma
  bool reflejo_ok = false;    // --mirrored-ok
  int decimales = -1;         // apply --decimals N (-1: shortest round trip)
  bool estricto = false;      // --strict: two lists must hold the same ids
  Columnas columnas;          // --columns (empty: as the file's first data line shows)
  bool filas_abajo = false;   // --image-rows-down: source y is an image row, growing downwards
  bool precision = false;     // apply --precision: each image's σ (and 2D error ellipse)
  int32_t robusto = 0;        // --robust: ORIENTA_ROBUSTO_* (0: the plain adjustment)
  double umbral_robusto = 0;  // --threshold M (0: from σ)
  uint64_t semilla = 1;       // --seed N
  std::string zona;           // export --area XMIN,YMIN,XMAX,YMAX, as given (exporta.cpp reads it)
  std::string tolerancia;     // export --inverse-tolerance T, as given
};

// Progress on standard error, only when it is a terminal; at most a few updates a second.
class Progreso {
 public:
  explicit Progreso(std::string que);
  ~Progreso();
  void avanza(uint64_t cuenta) {
    if (activo_ && (cuenta & 0xFFFF) == 0) muestra(cuenta);
  }

 private:
  void muestra(uint64_t cuenta);
  std::string que_;
  bool activo_;
  bool escrito_ = false;
  double ultimo_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Reading (lectura.cpp)

// One column of a line: its text (quotes taken off) and the character (not byte) column where
// it starts.
struct Columna {
  std::string_view texto;
  uint64_t col;
  bool citada = false;  // written between double quotes
};

// Splits a stream into lines without holding more than one block of it: memory stays flat
// whatever the input size. Lines longer than kLineaMaxima are refused.
class Lector {
 public:
  static constexpr size_t kLineaMaxima = size_t(1) << 20;
  Lector(std::FILE* f, std::string nombre, bool coma_decimal = false);
  // The next line with at least one column; false at the end of the input. Columns are
  // separated by blanks, tabs, ';' or (without a decimal comma) ','; '#' starts a comment; a
  // column may be quoted ("P 1", "" for a quote). The views stay valid until the next call.
  bool siguiente(std::vector<Columna>& columnas);
  uint64_t linea() const { return linea_; }
  uint64_t col_fin() const { return col_fin_; }  // column just past the last character of the line
  const std::string& nombre() const { return nombre_; }
  uint64_t bytes_leidos() const { return leidos_; }
  bool coma_decimal() const { return coma_decimal_; }
  // Every line then has c.total columns, handed on as c.orden picks them.
  void selecciona(const Columnas& c) { columnas_ = c; }

 private:
  bool linea_cruda(std::string_view& l);
  void parte(std::string_view l, std::vector<Columna>& columnas);
  std::FILE* f_;
  std::string nombre_;
  bool coma_decimal_;
  bool corta_[256];  // the bytes that end a bare column
  std::vector<char> bloque_;
  std::string citas_;  // the unquoted text of quoted columns, for the current line
  size_t ini_ = 0, fin_ = 0;
  bool agotado_ = false;
  uint64_t linea_ = 0, col_fin_ = 1, leidos_ = 0;
  Columnas columnas_;
  std::vector<Columna> todas_;  // a line's columns before --columns picks them
};

// "FILE:LINE:COLUMN: message" as a Fallo.
[[noreturn]] void error_en(const std::string& nombre, uint64_t linea, uint64_t col, const std::string& mensaje);
// A column read as a finite double; throws naming the column (hex, not a number, not finite).
double numero_en(const Lector& l, const Columna& c);
// True when the whole text is a decimal number.
bool es_numero(std::string_view s, bool coma_decimal = false);
// True when s reads as any number, NaN and infinities included (for options that take one).
bool parece_numero(std::string_view s);
// A token as quoted in a message: at most 40 characters, control characters as '?'.
std::string cita(std::string_view s);

// What a command reads on each line: an optional id, `fijos` numbers, then a trailing count
// among those allowed: σ of a pair (none, 1, or 1 or 2), or, for apply, any columns carried
// through as text.
struct Esquema {
  int fijos;                       // 2·dim for pairs, dim for points
  std::vector<int> extras;         // allowed counts of trailing numbers; empty: any, as text
  std::string numeros;             // what the fixed numbers are, for messages: "source x y z, target x y z"
  std::vector<std::string> extra;  // what each allowed trailing count means: "sigma", "plan and height sigma"
  Ids ids = Ids::automatico;
  int sigmas_forzados = 0;  // --sigmas
};

// The layout the first data line settles for the whole file: whether column 1 is an id, and how
// many trailing numbers follow the fixed ones. Every later line must have the same.
struct Disposicion {
  bool con_id = false;
  int extra = 0;
  size_t columnas = 0;
  uint64_t linea = 0;   // the line that settled it
  bool puesta = false;  // settled
  size_t nombres = 0;   // columns a header row named (0: none)
  uint64_t linea_nombres = 0;
};
Disposicion decide(const Esquema& e, const Lector& l, const std::vector<Columna>& cols);
// Refuses a later line whose columns do not fit d, naming the line that settled d.
void comprueba(const Esquema& e, const Disposicion& d, const Lector& l, const std::vector<Columna>& cols);
// Every line of a file through one call: a first line of names alone (a header row) is skipped
// (false), and the data must have the columns it names; the first data line settles d (decide),
// later ones are checked against it (comprueba).
bool asienta(const Esquema& e, const Lector& l, const std::vector<Columna>& cols, Disposicion& d);

// Point ids end to end in one block, so that a million of them cost a million offsets, not a
// million strings.
class ListaIds {
 public:
  void anade(std::string_view id) {
    texto_.append(id);
    fin_.push_back(texto_.size());
  }
  std::string_view operator[](size_t k) const {
    const size_t a = k == 0 ? 0 : fin_[k - 1];
    return std::string_view(texto_).substr(a, fin_[k] - a);
  }
  size_t size() const { return fin_.size(); }
  void reserva(size_t n) { fin_.reserve(n); }
  void vacia() {
    texto_.clear();
    fin_.clear();
  }

 private:
  std::string texto_;
  std::vector<size_t> fin_;
};

// Point pairs as read, packed: dim doubles a point, sigmas_por_par σ a pair.
struct Conjunto {
  std::string nombre;
  int dim = 3;
  int sigmas_por_par = 0;
  bool con_id = false;
  std::vector<double> origen, destino, sigma;
  ListaIds ids;  // "" where the file gives none
  std::vector<uint64_t> lineas;
  size_t n() const { return lineas.size(); }
  void vacia();  // no pair, the room kept
};

// The pairs of a stream for a command fitting dim-D pairs (σ at the end of each line when
// con_sigma), as many at a time as asked.
class LectorPares {
 public:
  LectorPares(std::FILE* f, const std::string& nombre, int dim, const Opciones& o);
  // Appends pairs to c until it holds `hasta` (reserving room for the whole file first when
  // `reservar`); false once the input has ended.
  bool lee(Conjunto& c, size_t hasta, bool reservar = false);

 private:
  std::FILE* f_;
  Lector l_;
  Esquema e_;
  Disposicion d_;
  int dim_;
  bool con_sigma_;
  bool filas_abajo_;
  std::vector<Columna> cols_;
  Progreso progreso_;
};

// Reads every pair of a stream. Warns about repeated ids.
Conjunto lee_pares(std::FILE* f, const std::string& nombre, int dim, const Opciones& o);
Esquema esquema_pares(int dim, const Opciones& o);
// The pairs of two point lists, source and target, joined by point id (in the source's order;
// target σ where asked); ids found in one list only are warned about, or refused with --strict.
Conjunto une_listas(const std::string& origen, const std::string& destino, int dim, const Opciones& o);
// Warns about ids given more than once (lineas: the line of each).
void avisa_repetidos(const std::string& nombre, const ListaIds& ids, const std::vector<uint64_t>& lineas);

// ---------------------------------------------------------------------------------------------
// Files written and read (salida.cpp)

// Every file a run writes goes to a temporary file beside it and replaces the named one only when
// the whole run has succeeded; a path that names one of the run's inputs (the same file, by
// device and inode, links included) or its standard output is refused before anything is
// written. Unconfirmed temporary files are removed.
class Escrituras {
 public:
  Escrituras() = default;
  Escrituras(const Escrituras&) = delete;
  Escrituras& operator=(const Escrituras&) = delete;
  ~Escrituras();
  // An input of the run; refused when it is standard output's file (the output would overwrite it).
  void entrada(const std::string& ruta);
  // The output file ruta, opened for writing; what is written reaches ruta at confirma().
  std::FILE* abre(const std::string& ruta, const std::string& que);
  // Closes every output and renames it into place. Throws naming the first that failed.
  void confirma();

 private:
  struct Pendiente {
    std::string destino, temporal, que;
    std::FILE* f;
  };
  std::vector<std::pair<uint64_t, uint64_t>> entradas_;  // device, inode
  std::vector<Pendiente> pendientes_;
};
Escrituras& escrituras();  // the run's

// ---------------------------------------------------------------------------------------------
// Text and numbers (texto.cpp)

std::string corto(double x);                // shortest round trip; "nan"/"inf"
std::string fijo(double x, int decimales);  // fixed point, never "-0.000"
// fijo() into b (kFijoMaximo bytes), as fast as a residual table needs; returns the length.
constexpr size_t kFijoMaximo = 400;
size_t fijo_en(char* b, double x, int decimales);
std::string rellena(const std::string& s, size_t ancho, bool derecha = true);  // by display width
size_t ancho_visible(std::string_view s);     // columns a UTF-8 string takes on a terminal
std::string id_visible(std::string_view id);  // control characters escaped, invalid UTF-8 as U+FFFD
std::string id_json(std::string_view id);     // valid UTF-8 for JSON (bad bytes as U+FFFD)
// The document with every number written shortest-round-trip by std::to_chars (non-finite as
// null).
std::string escribe_json(const Json& j);
void escribe_json(const Json& j, std::string& r);  // appended, no newline
void aviso(const std::string& mensaje);            // "orienta: warning: ..." on stderr
double en_unidad(double radianes, Unidad u);
const char* nombre_unidad(Unidad u);
// Decimals an angle prints with in u (kSexagesimal: as degrees, minutes and seconds).
constexpr int kSexagesimal = -2;
int decimales_angulo(Unidad u);
// Degrees as d°mm'ss.sssss", the seconds rounded to 1e-5 (about 5e-11 rad).
std::string sexagesimal(double grados);

// ---------------------------------------------------------------------------------------------
// The stored transformation (registro.cpp)

// The record of a "transform" object (or of a whole --json document holding one), validated by
// the library; faults name the file and the field.
// What a fitted record carries besides the map for the precision of transformed points: the
// parameters' covariance (u × u by rows, in the library's units and order; σ0² is in it).
struct Precision {
  std::vector<double> covarianza;
};
orienta_transformacion registro_de_json(const Json& documento, const std::string& fichero, Precision* p = nullptr);
// Adds the fit's precision to the record it wrote (of the map as read with --image-rows-down):
// nothing when the covariance is not finite (no redundancy).
void anade_precision(Json& registro, const orienta_transformacion& t, const orienta_estadisticas& e,
                     bool filas_abajo);
Json json_de_registro(const orienta_transformacion& t);
// A 2D map fitted with the source's y negated (--image-rows-down) as the map of the source as read:
// a similarity becomes the affine record that turns the image over.
orienta_transformacion de_filas_abajo(const orienta_transformacion& t);
// Reads the transform of a JSON file, parsing only as far as its end.
orienta_transformacion lee_registro(const std::string& fichero, Precision* p = nullptr);
orienta_transformacion lee_registro(std::istream& f, const std::string& fichero, Precision* p = nullptr);
// The library's model row, never null for a valid record's code.
const orienta_modelo_info& modelo(int32_t codigo);

// ---------------------------------------------------------------------------------------------
// Commands

enum class Orden { helmert3d, helmert2d, poly2d };
const char* nombre_orden(Orden m);

// One block of a fit's pairs with what is printed of each, in file order.
struct Filas {
  const Conjunto& c;
  const double* v;  // dim a pair
  const double* w;
  const uint8_t* excluido;  // null: none excluded
  const double* r;          // redundancy numbers, dim a pair; null: not known
};
// Hands every block of a fit's pairs, in order, to its argument: the pairs held in memory, or a
// file read once more.
using Recorrido = std::function<void(const std::function<void(const Filas&)>&)>;

// What the report says of all the residuals before listing them.
struct Resumen {
  double suma[3] = {0, 0, 0};  // Σv² over the pairs used: every coordinate, plan (x y), height (z)
  size_t usados = 0;
  size_t ancho = 12;  // of the id column: the widest label, 12 to 32 columns
  void anade(const Filas& f);
  double rms(int que) const;  // of suma[que]; NaN when no pair was used
};
// A pair's label in the report: its id as shown on a terminal, or "line N" without one.
std::string etiqueta_id(const Conjunto& c, size_t k);

// Everything a fitting command prints, whichever estimator made it (ajuste.cpp).
struct Ajuste {
  std::string nombre;  // of the input
  size_t n = 0;        // pairs read
  int dim = 3;
  Resumen resumen;
  int32_t modelo = 0;  // 0: described only (poly2d constant, rigid)
  bool descrito = false;
  orienta_transformacion t{};
  orienta_estadisticas e{};
  std::vector<double> valores;  // parameters in the library's units
  std::vector<double> v, w, r;  // dim a pair: residuals, standardized residuals, redundancy numbers
  std::vector<uint8_t> excluido;
  double umbral = 0;
  double alfa = 0;       // the family-wise α the threshold was derived from (0: given or usual)
  int32_t estado3d = 0;  // described helmert3d status
  bool general = false;
  double vtpv = 0, vtpv_optimo = 0, cota = 0;
  std::vector<std::string> avisos;
  orienta_robusto_info robusto{};  // with --robust: what the search did
  std::vector<double> pesos;       // with --robust: each pair's final weight
  std::vector<uint8_t> dentro;     // with --robust: 1 for a pair a clean fit keeps
  // The non-centrality the test at umbral detects with 80 % power: umbral plus the normal
  // quantile of 0.8.
  double delta0() const { return umbral + 0.8416212335729143; }
};
Ajuste ajusta(Orden m, const Opciones& o, const Conjunto& c);
// Prints a fit's warnings; the exit status they leave.
int avisa(const Ajuste& a);
// The pairs c held in memory with a's residuals, as one block.
Recorrido en_memoria(const Conjunto& c, const Ajuste& a);

// A fit that reads a regular file twice instead of holding it (flujo.cpp): the adjustment without
// snooping or plot. Prints the report and returns the exit status.
bool puede_fluir(Orden m, const Opciones& o, std::FILE* f);
// Nothing when the pairs are too few or degenerate: the fit in memory names the cause then.
std::optional<int> ajusta_fichero(Orden m, const Opciones& o, std::FILE* f, const std::string& nombre);

// The report of a fit as text or one JSON document, on standard output (presentacion.cpp).
void presenta(Orden m, const Opciones& o, const Ajuste& a, const Recorrido& pares);
// The JSON document alone, without a newline, streamed to standard output.
void escribe_documento(Orden m, const Opciones& o, const Ajuste& a, const Recorrido& pares);
const char* nombre_tipo(uint32_t tipo);

int orden_aplica(const Opciones& o, const std::string& transformacion, const std::string& fichero);
// `orienta export FORMAT TRANSFORM [PAIRS]` (exporta.cpp): proj, world, gcp, points.
int orden_exporta(const Opciones& o, const std::string& formato, const std::string& transformacion,
                  const std::string& pares);

// SVG of the residuals (dibujo.cpp).
struct Dibujo {
  const Conjunto* c;
  const std::vector<double>* v;  // dim a pair
  const std::vector<double>* w;
  const std::vector<uint8_t>* excluido;
  double umbral;
  const Ajuste* ajuste = nullptr;  // the fit, for the title's model and σ0; null: a title without them
};
void dibuja(std::FILE* salida, const Dibujo& d);

// Demo data compiled into the tool.
extern const unsigned char orienta_demo_3d[];
extern const size_t orienta_demo_3d_largo;
extern const unsigned char orienta_demo_2d[];
extern const size_t orienta_demo_2d_largo;

}  // namespace orienta::cli

#endif  // ORIENTA_CLI_HPP
