// orienta command-line tool: declarations shared by its files.
#ifndef ORIENTA_CLI_HPP
#define ORIENTA_CLI_HPP

#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

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

enum class Unidad { rad, deg, gon };

struct Opciones {
  bool json = false;
  bool descrita = false;  // --described: the library's own estimators instead of the adjustment
  bool flotante = false;  // --float (described only)
  bool general = false;   // --general (described helmert3d only)
  Unidad unidad = Unidad::deg;
  uint32_t tipo = 3;  // poly2d --kind, as the record's tipo
  bool con_sigma = false;
  std::optional<double> umbral;  // --snoop K
  std::string dibujo;            // --plot FILE.svg
  bool inversa = false;          // apply --inverse
};

// ---------------------------------------------------------------------------------------------
// Reading (lectura.cpp)

// One column of a line: its text and the character (not byte) column where it starts.
struct Columna {
  std::string_view texto;
  uint64_t col;
};

// Splits a stream into lines without holding more than one block of it: memory stays flat
// whatever the input size. Lines longer than kLineaMaxima are refused.
class Lector {
 public:
  static constexpr size_t kLineaMaxima = size_t(1) << 20;
  Lector(std::FILE* f, std::string nombre);
  // The next line with at least one column; false at the end of the input. Columns are
  // separated by blanks or commas, '#' starts a comment. The views stay valid until the next call.
  bool siguiente(std::vector<Columna>& columnas);
  uint64_t linea() const { return linea_; }
  uint64_t col_fin() const { return col_fin_; }  // column just past the last character of the line
  const std::string& nombre() const { return nombre_; }
  uint64_t bytes_leidos() const { return leidos_; }

 private:
  bool linea_cruda(std::string_view& l);
  std::FILE* f_;
  std::string nombre_;
  std::vector<char> bloque_;
  size_t ini_ = 0, fin_ = 0;
  bool agotado_ = false;
  uint64_t linea_ = 0, col_fin_ = 1, leidos_ = 0;
};

// "FILE:LINE:COLUMN: message" as a Fallo.
[[noreturn]] void error_en(const std::string& nombre, uint64_t linea, uint64_t col, const std::string& mensaje);
// A column read as a finite double; throws naming the column (hex, not a number, not finite).
double numero_en(const Lector& l, const Columna& c);
// True when the whole text is a decimal number (the test that tells an id from a coordinate).
bool es_numero(std::string_view s);
// A token as quoted in a message: at most 40 characters, control characters as '?'.
std::string cita(std::string_view s);

// Point pairs as read, packed: dim doubles a point, sigmas_por_par σ a pair.
struct Conjunto {
  std::string nombre;
  int dim = 3;
  int sigmas_por_par = 0;
  std::vector<double> origen, destino, sigma;
  std::vector<std::string> ids;  // "" where the line gave none
  std::vector<uint64_t> lineas;
  size_t n() const { return lineas.size(); }
};

// Reads every pair of a stream. con_sigma: each line ends with σ (one, or in 3D two: plan and
// height), the same count on every line. Warns about repeated ids.
Conjunto lee_pares(std::FILE* f, const std::string& nombre, int dim, bool con_sigma);

// ---------------------------------------------------------------------------------------------
// Text and numbers (texto.cpp)

std::string corto(double x);                // shortest round trip; "nan"/"inf" as such
std::string fijo(double x, int decimales);  // fixed point, never "-0.000"
std::string rellena(const std::string& s, size_t ancho, bool derecha = true);  // by display width
size_t ancho_visible(std::string_view s);     // columns a UTF-8 string takes on a terminal
std::string id_visible(std::string_view id);  // control characters escaped, invalid UTF-8 as U+FFFD
std::string id_json(std::string_view id);     // valid UTF-8 for JSON (bad bytes as U+FFFD)
// The document with every number written shortest-round-trip by std::to_chars (non-finite as
// null); indentation as nlohmann's dump.
std::string escribe_json(const Json& j);
void aviso(const std::string& mensaje);  // "orienta: warning: ..." on stderr
double en_unidad(double radianes, Unidad u);
const char* nombre_unidad(Unidad u);

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
// Commands

enum class Modelo { helmert3d, helmert2d, poly2d };
// Each returns an exit status; with j set, the result goes into *j instead of the text.
int orden_ajuste(Modelo m, const Opciones& o, const Conjunto& c, Json* j);
int orden_aplica(const Opciones& o, const std::string& transformacion, const std::string& fichero);

// The record of a "transform" object (or a whole --json document holding one); faults name the file.
orienta_transformacion transformacion_de_json_en(const Json& j, const std::string& fichero);
Json json_de_transformacion(const orienta_transformacion& t);

// SVG of the residuals (dibujo.cpp).
struct Dibujo {
  const Conjunto* c;
  const std::vector<double>* v;  // dim a pair
  const std::vector<double>* w;
  const std::vector<uint8_t>* excluido;
  double umbral;
};
void dibuja(const std::string& ruta, const Dibujo& d);

// Demo data compiled into the tool.
extern const unsigned char orienta_demo_3d[];
extern const size_t orienta_demo_3d_largo;
extern const unsigned char orienta_demo_2d[];
extern const size_t orienta_demo_2d_largo;

}  // namespace orienta::cli

#endif  // ORIENTA_CLI_HPP
