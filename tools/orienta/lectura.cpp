// Reading points and point pairs: one a line, columns separated by blanks, tabs, ';' or ',', '#'
// starts a comment. The first data line settles the layout of the whole file; every fault is
// reported once, with file, line and column, and nothing is guessed line by line.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <tuple>
#include <unordered_map>

#include <sys/stat.h>

#include "cli.hpp"

namespace orienta::cli {

void error_en(const std::string& nombre, uint64_t linea, uint64_t col, const std::string& mensaje) {
  throw Fallo(nombre + ":" + std::to_string(linea) + ":" + std::to_string(col) + ": " + mensaje);
}

std::string cita(std::string_view s) {
  std::string r;
  size_t caracteres = 0, i = 0;
  for (; i < s.size() && caracteres < 40; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    r += c < 0x20 || c == 0x7F ? '?' : char(c);
    if ((c & 0xC0) != 0x80) ++caracteres;
  }
  // Finish a UTF-8 sequence cut at the limit, so the message stays valid text.
  while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) r += s[i++];
  if (i < s.size()) r += "...";
  return r;
}

namespace {

// from_chars is locale-proof and rounds correctly; it takes no '+' and no hexadecimal without
// being asked, so those two are settled here. With a decimal comma the comma becomes the point
// and a point is refused (1.234,5 is a thousands separator, not a number). Returns null on
// success, else why the text is refused.
const char* lee_decimal(std::string_view s, bool coma_decimal, double& x) {
  std::string_view cuerpo = s;
  char copia[128];
  if (coma_decimal) {
    if (cuerpo.find('.') != std::string_view::npos)
      return "has a '.', but with --decimal-comma the decimal point is ','";
    if (cuerpo.size() >= sizeof copia) return "is not a number";
    std::copy(cuerpo.begin(), cuerpo.end(), copia);
    std::replace(copia, copia + cuerpo.size(), ',', '.');
    cuerpo = std::string_view(copia, cuerpo.size());
  }
  if (!cuerpo.empty() && cuerpo[0] == '+') {
    cuerpo.remove_prefix(1);
    if (!cuerpo.empty() && (cuerpo[0] == '-' || cuerpo[0] == '+')) return "is not a number";
  }
  const size_t signo = !cuerpo.empty() && cuerpo[0] == '-' ? 1 : 0;
  if (cuerpo.size() >= signo + 2 && cuerpo[signo] == '0' && (cuerpo[signo + 1] == 'x' || cuerpo[signo + 1] == 'X'))
    return "is a hexadecimal number: write coordinates in decimal";
  if (cuerpo.empty()) return "is not a number";
  const char* fin = cuerpo.data() + cuerpo.size();
  const auto [p, ec] = std::from_chars(cuerpo.data(), fin, x, std::chars_format::general);
  if (p != fin || ec == std::errc::invalid_argument) return "is not a number";
  if (ec == std::errc::result_out_of_range) {
    // Too small for a double reads as zero (as every decimal reader does); too large is refused.
    const size_t e = cuerpo.find_first_of("eE");
    if (e == std::string_view::npos || e + 1 >= cuerpo.size() || cuerpo[e + 1] != '-') return "is not a finite number";
    x = signo ? -0.0 : 0.0;
  }
  if (!std::isfinite(x)) return "is not a finite number";
  return nullptr;
}

bool es_blanco(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool es_digito(char c) { return c >= '0' && c <= '9'; }

// A whole number as written (sign and digits only): what a numeric point id looks like. A number
// with a point, a comma or an exponent is a coordinate.
bool es_entero(std::string_view s) {
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
  return !s.empty() && std::all_of(s.begin(), s.end(), es_digito);
}

}  // namespace

bool es_numero(std::string_view s, bool coma_decimal) {
  double x;
  return lee_decimal(s, coma_decimal, x) == nullptr;
}

bool parece_numero(std::string_view s) {
  double x;
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), x);
  return !s.empty() && p == s.data() + s.size() && ec != std::errc::invalid_argument;
}

double numero_en(const Lector& l, const Columna& c) {
  double x;
  if (c.citada) error_en(l.nombre(), l.linea(), c.col, "'" + cita(c.texto) + "' is quoted: a number is written bare");
  if (const char* motivo = lee_decimal(c.texto, l.coma_decimal(), x))
    error_en(l.nombre(), l.linea(), c.col, "'" + cita(c.texto) + "' " + motivo);
  return x;
}

Lector::Lector(std::FILE* f, std::string nombre, bool coma_decimal)
    : f_(f), nombre_(std::move(nombre)), coma_decimal_(coma_decimal), bloque_(size_t(1) << 16) {
  for (int c = 0; c < 256; ++c)
    corta_[size_t(c)] = es_blanco(char(c)) || c == ';' || c == '#' || (c == ',' && !coma_decimal_);
}

bool Lector::linea_cruda(std::string_view& l) {
  for (;;) {
    const char* base = bloque_.data();
    if (const void* p = std::memchr(base + ini_, '\n', fin_ - ini_)) {
      const size_t fin_linea = size_t(static_cast<const char*>(p) - base);
      l = std::string_view(base + ini_, fin_linea - ini_);
      ini_ = fin_linea + 1;
      return true;
    }
    if (agotado_) {
      if (ini_ == fin_) return false;
      l = std::string_view(base + ini_, fin_ - ini_);
      ini_ = fin_;
      return true;
    }
    if (ini_ > 0) {
      std::memmove(bloque_.data(), base + ini_, fin_ - ini_);
      fin_ -= ini_;
      ini_ = 0;
    }
    if (fin_ == bloque_.size()) {
      if (bloque_.size() > kLineaMaxima)
        error_en(nombre_, linea_ + 1, 1, "line longer than 1 MiB (is this a text file?)");
      bloque_.resize(bloque_.size() * 2);
    }
    const size_t r = std::fread(bloque_.data() + fin_, 1, bloque_.size() - fin_, f_);
    if (r == 0) {
      if (std::ferror(f_)) throw Fallo(nombre_ + ": cannot read: " + std::strerror(errno));
      agotado_ = true;
    }
    fin_ += r;
    leidos_ += r;
  }
}

// Columns of one line. A separator is a run of blanks holding at most one ',' or ';'; two of
// those with nothing between is an empty column. Without --decimal-comma a comma between two
// digits that is the only separator there (12,5) while the line also separates by blanks or ';'
// is most likely a decimal comma, and reading it as two numbers would be a silent wrong answer.
void Lector::parte(std::string_view l, std::vector<Columna>& columnas) {
  columnas.clear();
  citas_.clear();
  citas_.reserve(l.size());  // views into it must survive the whole line
  uint64_t col = 1;
  size_t i = 0;
  // Columns count characters, not bytes: UTF-8 continuation bytes do not start one.
  auto avanza = [&] {
    if ((static_cast<unsigned char>(l[i]) & 0xC0) != 0x80) ++col;
    ++i;
  };
  bool tras_separador = false;               // a ',' or ';' seen since the last column
  size_t coma_apretada = std::string::npos;  // the column index after a tight comma
  bool otro_separador = false;
  for (;;) {
    const size_t inicio_hueco = i;
    int separadores = 0;
    bool blancos = false;
    for (;;) {
      while (i < l.size() && es_blanco(l[i])) avanza(), blancos = true;
      const bool separa = i < l.size() && (l[i] == ';' || (l[i] == ',' && !coma_decimal_));
      if (!separa) break;
      if (columnas.empty() || tras_separador)
        error_en(nombre_, linea_, col, std::string("empty column before '") + l[i] + "'");
      tras_separador = true;
      ++separadores;
      avanza();
    }
    if (i >= l.size() || l[i] == '#') {
      if (tras_separador) error_en(nombre_, linea_, col, "empty column after the last separator");
      break;
    }
    if (!columnas.empty()) {
      const bool apretada = !blancos && separadores == 1 && l[inicio_hueco] == ',' && inicio_hueco > 0 &&
                            es_digito(l[inicio_hueco - 1]) && es_digito(l[i]);
      if (apretada && coma_apretada == std::string::npos) coma_apretada = columnas.size();
      // Columns apart by a lone comma are a comma-separated line; blanks or ';' anywhere make the
      // comma between two digits ambiguous.
      if (blancos || separadores != 1 || l[inicio_hueco] != ',') otro_separador = true;
    }
    const uint64_t col_a = col;
    if (l[i] == '"') {
      avanza();
      const size_t a = citas_.size();
      for (;;) {
        if (i >= l.size()) error_en(nombre_, linea_, col_a, "unterminated quote");
        if (l[i] == '"') {
          avanza();
          if (i < l.size() && l[i] == '"') {
            citas_ += '"';
            avanza();
            continue;
          }
          break;
        }
        citas_ += l[i];
        avanza();
      }
      if (i < l.size() && !es_blanco(l[i]) && l[i] != '#' && l[i] != ';' && !(l[i] == ',' && !coma_decimal_))
        error_en(nombre_, linea_, col, "text after a closing quote");
      columnas.push_back({std::string_view(citas_).substr(a), col_a, true});
    } else {
      // The body of a bare column, the bulk of every file: one table look-up a byte.
      const size_t a = i;
      unsigned alto = 0;  // any byte past ASCII: then continuation bytes are not columns
      while (i < l.size() && !corta_[static_cast<unsigned char>(l[i])]) alto |= static_cast<unsigned char>(l[i++]);
      col += i - a;
      if (alto & 0x80)
        for (size_t k = a; k < i; ++k) col -= (static_cast<unsigned char>(l[k]) & 0xC0) == 0x80;
      columnas.push_back({l.substr(a, i - a), col_a, false});
    }
    tras_separador = false;
  }
  col_fin_ = col;
  if (coma_apretada != std::string::npos && otro_separador) {
    const Columna& a = columnas[coma_apretada - 1];
    const Columna& b = columnas[coma_apretada];
    const std::string numero = std::string(a.texto) + "," + std::string(b.texto);
    error_en(nombre_, linea_, a.col,
             "'" + cita(numero) +
                 "' looks like a number with a decimal comma, read as two columns; with --decimal-comma it is "
                 "one number (columns then separated by blanks, tabs or ';')");
  }
}

bool Lector::siguiente(std::vector<Columna>& columnas) {
  std::string_view l;
  while (linea_cruda(l)) {
    if (linea_ == UINT64_MAX) throw Fallo(nombre_ + ": too many lines");
    ++linea_;
    if (linea_ == 1 && l.substr(0, 3) == "\xEF\xBB\xBF") l.remove_prefix(3);  // a byte-order mark is no column
    if (columnas_.total == 0) {
      parte(l, columnas);
      if (!columnas.empty()) return true;
      continue;
    }
    parte(l, todas_);
    if (todas_.empty()) continue;
    if (todas_.size() != columnas_.total) {
      const uint64_t donde = todas_.size() > columnas_.total ? todas_[columnas_.total].col : col_fin_;
      error_en(nombre_, linea_, donde,
               std::to_string(todas_.size()) + (todas_.size() == 1 ? " column" : " columns") + " where --columns names " +
                   std::to_string(columnas_.total));
    }
    columnas.clear();
    for (const size_t k : columnas_.orden) columnas.push_back(todas_[k]);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// The layout of a file

namespace {

std::string en_palabras(const Esquema& e, bool con_id, int extra) {
  std::string r = con_id ? "an id, " : "";
  r += std::to_string(e.fijos) + " numbers (" + e.numeros + ")";
  if (e.extras.empty()) {
    if (extra > 0) r += " and " + std::to_string(extra) + (extra == 1 ? " column" : " columns") + " carried through";
  } else if (extra > 0) {
    r += " and " + e.extra[size_t(extra - 1)];
  }
  return r + (con_id ? "" : ", without an id");
}

std::string esperado(const Esquema& e) {
  std::string r = "expected " + std::to_string(e.fijos) + " numbers (" + e.numeros + ")";
  if (!e.extras.empty() && e.extras.back() > 0) {
    std::string que;
    for (int x : e.extras)
      if (x > 0 && (e.sigmas_forzados == 0 || x == e.sigmas_forzados))
        que += (que.empty() ? "" : " or ") + e.extra[size_t(x - 1)];
    r += " then " + que;
  }
  return r + (e.ids == Ids::no ? "" : e.ids == Ids::si ? ", after an id" : ", optionally after an id");
}

}  // namespace

Disposicion decide(const Esquema& e, const Lector& l, const std::vector<Columna>& cols) {
  const int m = int(std::min<size_t>(cols.size(), 100000));
  const Columna& primera = cols[0];
  if (m > 1 &&
      std::none_of(cols.begin(), cols.end(), [&](const Columna& c) { return es_numero(c.texto, l.coma_decimal()); }))
    error_en(l.nombre(), l.linea(), primera.col,
             "a line without a single number: a header row of column names? remove it or start it with '#'");
  const bool numero = !primera.citada && es_numero(primera.texto, l.coma_decimal());
  const bool fraccion = numero && !es_entero(primera.texto);
  std::vector<Disposicion> lecturas;
  for (const bool con_id : {false, true}) {
    if (e.ids == (con_id ? Ids::no : Ids::si)) continue;
    if (!con_id && !numero) continue;
    // A number with a fraction is a coordinate, not a point id, unless the user says otherwise.
    if (con_id && fraccion && e.ids != Ids::si) continue;
    const int resto = m - (con_id ? 1 : 0) - e.fijos;
    if (resto < 0) continue;
    const bool cabe = e.extras.empty() ? true
                                       : std::find(e.extras.begin(), e.extras.end(), resto) != e.extras.end() &&
                                             (e.sigmas_forzados == 0 || resto == e.sigmas_forzados);
    if (cabe) lecturas.push_back({con_id, resto, size_t(m), l.linea()});
  }
  if (lecturas.size() == 1) return lecturas[0];
  if (lecturas.empty() && !numero && e.ids != Ids::no && m <= e.fijos)
    error_en(l.nombre(), l.linea(), l.col_fin(),
             "expected " + std::to_string(e.fijos) + " numbers after the id '" + cita(primera.texto) + "', found " +
                 std::to_string(m - 1));
  // The count fits a layout without ids, so the text in column 1 is what is wrong.
  const int sin_id = m - e.fijos;
  if (lecturas.empty() && !numero && e.ids == Ids::no && sin_id >= 0 &&
      (e.extras.empty() || std::find(e.extras.begin(), e.extras.end(), sin_id) != e.extras.end()))
    error_en(l.nombre(), l.linea(), primera.col,
             "'" + cita(primera.texto) + "' is not a number, and this file is read without an id column");
  if (lecturas.empty()) {
    std::string pista;
    const int sobra = (e.ids == Ids::no ? 0 : 1) + e.fijos + (e.extras.empty() ? 0 : e.extras.back());
    const uint64_t donde = m > sobra ? cols[size_t(sobra)].col : l.col_fin();
    error_en(l.nombre(), l.linea(), donde,
             esperado(e) + "; found " + std::to_string(m) + (m == 1 ? " column" : " columns") + pista);
  }
  std::string opciones = "--ids yes|no";
  if (!e.extras.empty() && lecturas[0].extra != lecturas[1].extra) opciones += " or --sigmas 1|2";
  error_en(l.nombre(), l.linea(), primera.col,
           std::to_string(m) + " columns read two ways: " + en_palabras(e, lecturas[1].con_id, lecturas[1].extra) +
               "; or " + en_palabras(e, lecturas[0].con_id, lecturas[0].extra) + "; say which with " + opciones);
}

void comprueba(const Esquema& e, const Disposicion& d, const Lector& l, const std::vector<Columna>& cols) {
  // Called on every line: the message is only put together when there is something to say.
  const auto fijada = [&] {
    return "line " + std::to_string(d.linea) + " set the layout of this file: " + en_palabras(e, d.con_id, d.extra);
  };
  if (cols.size() != d.columnas) {
    const uint64_t donde = cols.size() > d.columnas ? cols[d.columnas].col : l.col_fin();
    error_en(l.nombre(), l.linea(), donde,
             std::to_string(cols.size()) + (cols.size() == 1 ? " column" : " columns") + " where " + fijada() + " (" +
                 std::to_string(d.columnas) + " columns); every line must have the same");
  }
  const Columna& primera = cols[0];
  if (d.con_id && e.ids != Ids::si && !primera.citada && es_numero(primera.texto, l.coma_decimal()) &&
      !es_entero(primera.texto))
    error_en(l.nombre(), l.linea(), primera.col,
             "'" + cita(primera.texto) + "' in the id column has a fraction, but " + fijada() +
                 "; if the file has no ids, say --ids no");
}

bool asienta(const Esquema& e, const Lector& l, const std::vector<Columna>& cols, Disposicion& d) {
  if (d.puesta) {
    comprueba(e, d, l, cols);
    return true;
  }
  if (d.nombres == 0 && cols.size() >= 2 &&
      std::none_of(cols.begin(), cols.end(), [&](const Columna& c) { return es_numero(c.texto, l.coma_decimal()); })) {
    d.nombres = cols.size();
    d.linea_nombres = l.linea();
    return false;
  }
  Disposicion nueva = decide(e, l, cols);
  if (d.nombres > 0 && d.nombres != cols.size())
    error_en(l.nombre(), l.linea(), 1,
             "the header row on line " + std::to_string(d.linea_nombres) + " names " + std::to_string(d.nombres) +
                 " columns, this first data line has " + std::to_string(cols.size()));
  nueva.nombres = d.nombres;
  nueva.linea_nombres = d.linea_nombres;
  nueva.puesta = true;
  d = nueva;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Pairs

namespace {

// The σ a line may end with: none, or one (2D), one or two (3D: plan and height).
void admite_sigmas(Esquema& e, int dim, bool con_sigma, int forzados) {
  if (con_sigma) {
    e.extras = dim == 3 ? std::vector<int>{1, 2} : std::vector<int>{1};
    e.extra = {"1 sigma", "plan and height sigma"};
    e.sigmas_forzados = forzados;
  } else {
    e.extras = {0};
  }
}

// A σ column: a finite number, and positive.
double sigma_en(const Lector& l, const Columna& c) {
  const double s = numero_en(l, c);
  if (!(s > 0)) error_en(l.nombre(), l.linea(), c.col, "sigma '" + cita(c.texto) + "' must be positive");
  return s;
}

}  // namespace

Esquema esquema_pares(int dim, const Opciones& o) {
  Esquema e;
  e.fijos = 2 * dim;
  e.numeros = dim == 3 ? "source x y z, target x y z" : "source x y, target x y";
  e.ids = o.ids;
  admite_sigmas(e, dim, o.con_sigma, o.sigmas);
  return e;
}

// Ids seen more than once, warned about after reading: hashes sorted, so a million ids cost a
// sort of a million small records rather than a hash table of strings.
void avisa_repetidos(const std::string& nombre, const ListaIds& ids, const std::vector<uint64_t>& lineas) {
  std::vector<std::pair<size_t, size_t>> h(ids.size());
  for (size_t k = 0; k < ids.size(); ++k) h[k] = {std::hash<std::string_view>{}(ids[k]), k};
  std::sort(h.begin(), h.end());
  std::vector<std::pair<size_t, size_t>> repeticiones;  // (line of the repeat, line of the first)
  for (size_t a = 0; a < h.size();) {
    size_t b = a + 1;
    while (b < h.size() && h[b].first == h[a].first) ++b;
    for (size_t i = a + 1; i < b; ++i)
      for (size_t j = a; j < i; ++j)
        if (ids[h[j].second] == ids[h[i].second]) {
          repeticiones.emplace_back(h[i].second, h[j].second);
          break;
        }
    a = b;
  }
  std::sort(repeticiones.begin(), repeticiones.end());
  for (size_t k = 0; k < repeticiones.size() && k < 5; ++k) {
    const auto [otra, primera] = repeticiones[k];
    aviso(nombre + ":" + std::to_string(lineas[otra]) + ": point id '" + id_visible(ids[otra]) + "' repeats line " +
          std::to_string(lineas[primera]));
  }
  if (repeticiones.size() > 5)
    aviso(nombre + ": " + std::to_string(repeticiones.size()) + " repeated point ids in all");
}

namespace {

// A regular file's size over its first line's length estimates its lines: reserving room for a
// quarter more spares the copies (and the moment they need both blocks) of growing by doubling.
// Room not written to is never touched, so an estimate too large costs no memory in use.
void reserva(Conjunto& c, std::FILE* f, uint64_t largo) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return;
  const size_t n = std::min<size_t>(size_t(st.st_size) / std::max<uint64_t>(largo, 8) * 5 / 4 + 16, UINT32_MAX);
  c.origen.reserve(n * size_t(c.dim));
  c.destino.reserve(n * size_t(c.dim));
  c.sigma.reserve(n * size_t(c.sigmas_por_par));
  c.lineas.reserve(n);
}

}  // namespace

void Conjunto::vacia() {
  origen.clear(), destino.clear(), sigma.clear(), lineas.clear();
  ids.vacia();
}

LectorPares::LectorPares(std::FILE* f, const std::string& nombre, int dim, const Opciones& o)
    : f_(f),
      l_(f, nombre, o.coma_decimal),
      e_(esquema_pares(dim, o)),
      dim_(dim),
      con_sigma_(o.con_sigma),
      filas_abajo_(o.filas_abajo),
      progreso_("reading " + nombre) {
  l_.selecciona(o.columnas);
}

bool LectorPares::lee(Conjunto& c, size_t hasta, bool reservar) {
  while (c.n() < hasta) {
    if (!l_.siguiente(cols_)) return false;
    progreso_.avanza(l_.linea());
    if (!asienta(e_, l_, cols_, d_)) continue;
    if (c.n() == 0) {
      c.dim = dim_;
      c.con_id = d_.con_id;
      c.sigmas_por_par = con_sigma_ ? d_.extra : 0;
      if (reservar) reserva(c, f_, l_.col_fin());
    }
    if (c.n() >= UINT32_MAX) throw Fallo(l_.nombre() + ": more than " + std::to_string(UINT32_MAX) + " point pairs");
    const size_t p = d_.con_id ? 1 : 0;
    for (int k = 0; k < dim_; ++k) c.origen.push_back(numero_en(l_, cols_[p + size_t(k)]));
    // An image row grows downwards: negated, the source is a right-handed system like the map.
    if (filas_abajo_) {
      double& fila = c.origen[c.origen.size() - size_t(dim_) + 1];
      fila = -fila;
    }
    for (int k = 0; k < dim_; ++k) c.destino.push_back(numero_en(l_, cols_[p + size_t(dim_ + k)]));
    for (int k = 0; k < c.sigmas_por_par; ++k) c.sigma.push_back(sigma_en(l_, cols_[p + size_t(2 * dim_ + k)]));
    c.ids.anade(d_.con_id ? cols_[0].texto : std::string_view());
    c.lineas.push_back(l_.linea());
  }
  return true;
}

Conjunto lee_pares(std::FILE* f, const std::string& nombre, int dim, const Opciones& o) {
  Conjunto c;
  c.nombre = nombre;
  c.dim = dim;
  LectorPares lector(f, nombre, dim, o);
  lector.lee(c, SIZE_MAX, true);
  if (c.con_id) avisa_repetidos(c.nombre, c.ids, c.lineas);
  return c;
}

// ---------------------------------------------------------------------------------------------
// Two point lists joined by id

namespace {

// The points of one list: an id (required) and dim coordinates a line, then σ where asked.
struct Lista {
  std::string nombre;
  ListaIds ids;
  std::vector<double> x, sigma;
  std::vector<uint64_t> lineas;
  int sigmas_por_par = 0;
};

Lista lee_lista(const std::string& ruta, int dim, const Opciones& o, bool con_sigma, bool filas_abajo) {
  Lista r;
  r.nombre = ruta == "-" ? "<stdin>" : ruta;
  std::FILE* f = ruta == "-" ? stdin : std::fopen(ruta.c_str(), "rb");
  if (f == nullptr) throw Fallo(r.nombre + ": cannot open: " + std::strerror(errno));
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> cierra(
      f, ruta == "-" ? [](std::FILE*) { return 0; } : [](std::FILE* g) { return std::fclose(g); });
  Esquema e;
  e.fijos = dim;
  e.numeros = dim == 3 ? "x y z of a point list: two files are two lists joined by id"
                       : "x y of a point list: two files are two lists joined by id";
  e.ids = Ids::si;
  admite_sigmas(e, dim, con_sigma, o.sigmas);
  Lector l(f, r.nombre, o.coma_decimal);
  std::vector<Columna> cols;
  Disposicion d;
  while (l.siguiente(cols)) {
    if (!asienta(e, l, cols, d)) continue;
    r.sigmas_por_par = d.extra;
    for (int k = 0; k < dim; ++k) r.x.push_back(numero_en(l, cols[1 + size_t(k)]));
    if (filas_abajo) r.x[r.x.size() - size_t(dim) + 1] = -r.x[r.x.size() - size_t(dim) + 1];
    for (int k = 0; k < d.extra; ++k) r.sigma.push_back(sigma_en(l, cols[1 + size_t(dim + k)]));
    r.ids.anade(cols[0].texto);
    r.lineas.push_back(l.linea());
  }
  return r;
}

// Each id once: where two points share one, the join would have to guess which is meant.
std::unordered_map<std::string_view, size_t> indice(const Lista& l) {
  std::unordered_map<std::string_view, size_t> r;
  r.reserve(l.ids.size());
  for (size_t k = 0; k < l.ids.size(); ++k)
    if (const auto [it, nuevo] = r.emplace(l.ids[k], k); !nuevo)
      error_en(l.nombre, l.lineas[k], 1,
               "point id '" + id_visible(l.ids[k]) + "' repeats line " + std::to_string(l.lineas[it->second]) +
                   ": joining two lists needs every id once");
  return r;
}

// "A, B, C and 4 more"
std::string algunos(const std::vector<std::string_view>& ids) {
  std::string r;
  for (size_t k = 0; k < ids.size() && k < 5; ++k) r += (k ? ", " : "") + id_visible(ids[k]);
  if (ids.size() > 5) r += " and " + std::to_string(ids.size() - 5) + " more";
  return r;
}

}  // namespace

Conjunto une_listas(const std::string& origen, const std::string& destino, int dim, const Opciones& o) {
  if (origen == "-" && destino == "-") throw Fallo("only one of the two lists can be standard input");
  const Lista a = lee_lista(origen, dim, o, false, o.filas_abajo), b = lee_lista(destino, dim, o, o.con_sigma, false);
  const std::unordered_map<std::string_view, size_t> en_a = indice(a), en_b = indice(b);
  Conjunto c;
  c.nombre = a.nombre + " + " + b.nombre;
  c.dim = dim;
  c.con_id = true;
  c.sigmas_por_par = b.sigmas_por_par;
  std::vector<std::string_view> solo_a, solo_b;
  for (size_t k = 0; k < a.ids.size(); ++k) {
    const auto it = en_b.find(a.ids[k]);
    if (it == en_b.end()) {
      solo_a.push_back(a.ids[k]);
      continue;
    }
    const size_t j = it->second;
    c.origen.insert(c.origen.end(), a.x.begin() + long(dim * k), a.x.begin() + long(dim * (k + 1)));
    c.destino.insert(c.destino.end(), b.x.begin() + long(dim * j), b.x.begin() + long(dim * (j + 1)));
    const size_t s = size_t(b.sigmas_por_par);
    c.sigma.insert(c.sigma.end(), b.sigma.begin() + long(s * j), b.sigma.begin() + long(s * (j + 1)));
    c.ids.anade(a.ids[k]);
    c.lineas.push_back(a.lineas[k]);
  }
  for (size_t k = 0; k < b.ids.size(); ++k)
    if (en_a.find(b.ids[k]) == en_a.end()) solo_b.push_back(b.ids[k]);
  for (const auto& [lista, otra, ids] : {std::tuple{&a, &b, &solo_a}, std::tuple{&b, &a, &solo_b}}) {
    if (ids->empty()) continue;
    const std::string texto = std::to_string(ids->size()) + " point" + (ids->size() == 1 ? "" : "s") + " of " +
                              lista->nombre + " not in " + otra->nombre + ": " + algunos(*ids);
    if (o.estricto) throw Fallo(texto + " (--strict)");
    aviso(texto + " (left out)");
  }
  return c;
}

}  // namespace orienta::cli
