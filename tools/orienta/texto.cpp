// Text and numbers: locale-proof formatting, display widths of UTF-8 ids, the JSON writer,
// warnings and progress.
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "cli.hpp"

namespace orienta::cli {

std::string corto(double x) {
  if (std::isnan(x)) return "nan";
  if (std::isinf(x)) return x < 0 ? "-inf" : "inf";
  char b[32];
  const auto r = std::to_chars(b, b + sizeof b, x);
  return std::string(b, r.ptr);
}

std::string fijo(double x, int decimales) {
  if (!std::isfinite(x)) return corto(x);
  char b[400];
  const auto r = std::to_chars(b, b + sizeof b, x, std::chars_format::fixed, decimales);
  std::string s(b, r.ptr);
  // A value that rounds to zero prints without its sign: "-0.0000" reads as a fault.
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

namespace {

// Code point and length of the UTF-8 sequence at s, or length 0 when the bytes are not one.
size_t decodifica(std::string_view s, size_t i, uint32_t& cp) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n;
  uint32_t minimo;
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  if (c >= 0xC2 && c <= 0xDF)
    n = 2, minimo = 0x80;
  else if (c >= 0xE0 && c <= 0xEF)
    n = 3, minimo = 0x800;
  else if (c >= 0xF0 && c <= 0xF4)
    n = 4, minimo = 0x10000;
  else
    return 0;
  if (i + n > s.size()) return 0;
  cp = c & (0x7Fu >> n);
  for (size_t k = 1; k < n; ++k) {
    const unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < minimo || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// Columns a code point takes: 0 for combining marks, 2 for East Asian wide and fullwidth forms
// and emoji, 1 otherwise. A fixed table, so the width does not depend on the locale.
int ancho_de(uint32_t cp) {
  if ((cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x1AB0 && cp <= 0x1AFF) || (cp >= 0x1DC0 && cp <= 0x1DFF) ||
      (cp >= 0x20D0 && cp <= 0x20FF) || (cp >= 0xFE20 && cp <= 0xFE2F) || cp == 0x200B || cp == 0x200D)
    return 0;
  if ((cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) || (cp >= 0x3041 && cp <= 0x33FF) ||
      (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xA000 && cp <= 0xA4CF) ||
      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
      (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
      (cp >= 0x1F900 && cp <= 0x1F9FF) || (cp >= 0x20000 && cp <= 0x3FFFD))
    return 2;
  return 1;
}

}  // namespace

size_t ancho_visible(std::string_view s) {
  size_t ancho = 0;
  for (size_t i = 0; i < s.size();) {
    uint32_t cp;
    const size_t n = decodifica(s, i, cp);
    if (n == 0) {
      ++ancho, ++i;  // shown as U+FFFD
      continue;
    }
    ancho += size_t(ancho_de(cp));
    i += n;
  }
  return ancho;
}

std::string id_visible(std::string_view id) {
  std::string r;
  for (size_t i = 0; i < id.size();) {
    uint32_t cp;
    const size_t n = decodifica(id, i, cp);
    if (n == 0) {
      r += "\xEF\xBF\xBD";
      ++i;
    } else if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) {
      // A control character would move the cursor or ring the terminal: shown as \xHH.
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", unsigned(cp));
      r += b;
      i += n;
    } else {
      r.append(id.substr(i, n));
      i += n;
    }
  }
  return r;
}

std::string id_json(std::string_view id) {
  std::string r;
  for (size_t i = 0; i < id.size();) {
    uint32_t cp;
    const size_t n = decodifica(id, i, cp);
    if (n == 0) {
      r += "\xEF\xBF\xBD";  // a byte of an older 8-bit encoding: the document stays valid
      ++i;
    } else {
      r.append(id.substr(i, n));
      i += n;
    }
  }
  return r;
}

std::string rellena(const std::string& s, size_t ancho, bool derecha) {
  const size_t a = ancho_visible(s);
  if (a >= ancho) return s;
  return derecha ? std::string(ancho - a, ' ') + s : s + std::string(ancho - a, ' ');
}

namespace {

void escribe(const Json& j, std::string& r) {
  switch (j.type()) {
    case Json::value_t::object: {
      r += '{';
      bool primero = true;
      for (const auto& [clave, valor] : j.items()) {
        if (!primero) r += ',';
        primero = false;
        r += Json(clave).dump();
        r += ':';
        escribe(valor, r);
      }
      r += '}';
      break;
    }
    case Json::value_t::array: {
      r += '[';
      for (size_t k = 0; k < j.size(); ++k) {
        if (k > 0) r += ',';
        escribe(j[k], r);
      }
      r += ']';
      break;
    }
    case Json::value_t::number_float: {
      const double x = j.get<double>();
      r += std::isfinite(x) ? corto(x) : "null";  // JSON has no infinities or NaN
      break;
    }
    case Json::value_t::string: r += j.dump(-1, ' ', false, Json::error_handler_t::replace); break;
    default: r += j.dump();
  }
}

}  // namespace

std::string escribe_json(const Json& j) {
  std::string r;
  escribe(j, r);
  r += '\n';
  return r;
}

void escribe_json(const Json& j, std::string& r) { escribe(j, r); }

void aviso(const std::string& mensaje) { std::fprintf(stderr, "orienta: warning: %s\n", mensaje.c_str()); }

double en_unidad(double radianes, Unidad u) {
  // One factor per unit, as a product: the factor is the double nearest 180/π (200/π).
  switch (u) {
    case Unidad::deg: return radianes * (180.0 / 3.141592653589793);
    case Unidad::gon: return radianes * (200.0 / 3.141592653589793);
    case Unidad::rad: break;
  }
  return radianes;
}

const char* nombre_unidad(Unidad u) {
  switch (u) {
    case Unidad::deg: return "deg";
    case Unidad::gon: return "gon";
    case Unidad::rad: break;
  }
  return "rad";
}

namespace {
double segundos() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }
}  // namespace

Progreso::Progreso(std::string que) : que_(std::move(que)), activo_(isatty(STDERR_FILENO) == 1) {}

Progreso::~Progreso() {
  if (escrito_) std::fputs("\r\033[K", stderr);  // leave the line clean for what follows
}

void Progreso::muestra(uint64_t cuenta) {
  const double ahora = segundos();
  if (ahora - ultimo_ < 0.25) return;
  ultimo_ = ahora;
  escrito_ = true;
  std::fprintf(stderr, "\rorienta: %s: %llu lines\033[K", que_.c_str(), static_cast<unsigned long long>(cuenta));
  std::fflush(stderr);
}

}  // namespace orienta::cli
