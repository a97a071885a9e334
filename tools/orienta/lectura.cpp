// Reading points and point pairs: one a line, columns separated by blanks or commas, '#' starts a
// comment. Every fault is reported once, with file, line and column, and nothing is guessed.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_map>

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
// being asked, so those two are settled here. Returns null on success, else why the text is
// refused.
const char* lee_decimal(std::string_view s, double& x) {
  std::string_view cuerpo = s;
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

}  // namespace

bool es_numero(std::string_view s) {
  double x;
  return lee_decimal(s, x) == nullptr;
}

double numero_en(const Lector& l, const Columna& c) {
  double x;
  if (const char* motivo = lee_decimal(c.texto, x))
    error_en(l.nombre(), l.linea(), c.col, "'" + cita(c.texto) + "' " + motivo);
  return x;
}

Lector::Lector(std::FILE* f, std::string nombre) : f_(f), nombre_(std::move(nombre)), bloque_(size_t(1) << 16) {}

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

bool Lector::siguiente(std::vector<Columna>& columnas) {
  std::string_view l;
  while (linea_cruda(l)) {
    if (linea_ == UINT64_MAX) throw Fallo(nombre_ + ": too many lines");
    ++linea_;
    if (linea_ == 1 && l.substr(0, 3) == "\xEF\xBB\xBF") l.remove_prefix(3);  // a byte-order mark is no column
    columnas.clear();
    uint64_t col = 1;
    size_t i = 0;
    // Columns count characters, not bytes: UTF-8 continuation bytes do not start one.
    auto avanza = [&] {
      if ((static_cast<unsigned char>(l[i]) & 0xC0) != 0x80) ++col;
      ++i;
    };
    bool tras_coma = false;
    for (;;) {
      while (i < l.size() && es_blanco(l[i])) avanza();
      if (i >= l.size() || l[i] == '#') {
        if (tras_coma) error_en(nombre_, linea_, col, "empty column after ','");
        break;
      }
      if (l[i] == ',') {
        if (columnas.empty() || tras_coma) error_en(nombre_, linea_, col, "empty column before ','");
        tras_coma = true;
        avanza();
        continue;
      }
      const size_t a = i;
      const uint64_t col_a = col;
      while (i < l.size() && !es_blanco(l[i]) && l[i] != ',' && l[i] != '#') avanza();
      columnas.push_back({l.substr(a, i - a), col_a});
      tras_coma = false;
    }
    col_fin_ = col;
    if (!columnas.empty()) return true;
  }
  return false;
}

Conjunto lee_pares(std::FILE* f, const std::string& nombre, int dim, bool con_sigma) {
  Conjunto c;
  c.nombre = nombre;
  c.dim = dim;
  Lector l(f, nombre);
  Progreso progreso("reading " + nombre);
  std::vector<Columna> cols;
  std::unordered_map<std::string, uint64_t> vistos;  // id → first line, for the repeat warning
  uint64_t repetidos = 0;
  const char* ejes = dim == 3 ? "x y z" : "x y";
  int spp = con_sigma ? -1 : 0;  // σ a line; -1 until the first line settles it
  while (l.siguiente(cols)) {
    progreso.avanza(l.linea());
    const int m = int(std::min<size_t>(cols.size(), 1000));
    bool con_id;
    if (spp < 0) {
      // With σ the first line fixes the count: a numeric first column is a coordinate when the
      // rest fits; so in 3D, eight numbers read as two σ without an id.
      const int maximo = dim == 3 ? 2 : 1;
      const int sin_id = m - 2 * dim, con = m - 1 - 2 * dim;
      if (es_numero(cols[0].texto) && sin_id >= 1 && sin_id <= maximo) {
        spp = sin_id, con_id = false;
      } else if (con >= 1 && con <= maximo) {
        spp = con, con_id = true;
      } else {
        error_en(nombre, l.linea(), m > 2 * dim + maximo + 1 ? cols[size_t(2 * dim + maximo + 1)].col : l.col_fin(),
                 std::string("expected ") + std::to_string(2 * dim) + " numbers (source " + ejes + ", target " + ejes +
                     ") and then " + (dim == 3 ? "1 or 2 σ" : "1 σ") + ", optionally after an id; found " +
                     std::to_string(m) + " columns");
      }
      c.sigmas_por_par = spp;
    } else {
      const int numeros = 2 * dim + spp;
      con_id = m == numeros + 1;
      const bool falta = m == numeros && !es_numero(cols[0].texto);
      if (!con_id && (m != numeros || falta)) {
        const uint64_t donde = m > numeros + 1 ? cols[size_t(numeros + 1)].col : l.col_fin();
        if (falta)
          error_en(nombre, l.linea(), donde,
                   "expected " + std::to_string(numeros) + " numbers after the id '" + cita(cols[0].texto) +
                       "', found " + std::to_string(m - 1));
        error_en(nombre, l.linea(), donde,
                 "expected " + std::to_string(numeros) + " numbers (source " + ejes + ", target " + ejes +
                     (spp == 0   ? std::string()
                      : spp == 1 ? ", σ"
                                 : ", plan σ, height σ") +
                     "), optionally after an id; found " + std::to_string(m) + " columns");
      }
    }
    if (c.n() >= UINT32_MAX) throw Fallo(nombre + ": more than " + std::to_string(UINT32_MAX) + " point pairs");
    const size_t primera = con_id ? 1 : 0;
    for (int k = 0; k < dim; ++k) c.origen.push_back(numero_en(l, cols[primera + size_t(k)]));
    for (int k = 0; k < dim; ++k) c.destino.push_back(numero_en(l, cols[primera + size_t(dim + k)]));
    for (int k = 0; k < spp; ++k) {
      const Columna& col = cols[primera + size_t(2 * dim + k)];
      const double s = numero_en(l, col);
      if (!(s > 0)) error_en(nombre, l.linea(), col.col, "σ '" + cita(col.texto) + "' must be positive");
      c.sigma.push_back(s);
    }
    std::string id = con_id ? std::string(cols[0].texto) : std::string();
    if (con_id) {
      const auto [donde, nuevo] = vistos.emplace(id, l.linea());
      if (!nuevo && ++repetidos <= 5)
        aviso(nombre + ":" + std::to_string(l.linea()) + ": point id '" + id_visible(id) + "' repeats line " +
              std::to_string(donde->second));
    }
    c.ids.push_back(std::move(id));
    c.lineas.push_back(l.linea());
  }
  if (repetidos > 5) aviso(nombre + ": " + std::to_string(repetidos) + " repeated point ids in all");
  return c;
}

}  // namespace orienta::cli
