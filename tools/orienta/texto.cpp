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

namespace {

// x·10^d to the nearest integer, ties to even, exactly: x splits into two halves of 26 bits whose
// products by 10^d (at most 20 bits for d ≤ 6) are exact, and their rounded sum keeps its error.
// Only a sum that lands on a half can round the wrong way, and the error then says which way.
// False when |x·10^d| is past 2^52 (the integer would not be exact).
bool redondea(double x, int d, int64_t& q) {
  static const double kPotencias[7] = {1, 10, 100, 1000, 1e4, 1e5, 1e6};
  const double f = kPotencias[d];
  if (!(std::fabs(x) * f < 0x1p52)) return false;
  const double c = x * 134217729.0;  // 2^27 + 1: Veltkamp's split
  const double alto = c - (c - x), bajo = x - alto;
  const double a = alto * f, b = bajo * f;
  const double s = a + b, e = b - (s - a);  // exact: s + e = x·10^d (|a| ≥ |b|)
  const double r = std::nearbyint(s);
  const double resto = s - r;
  q = int64_t(r);
  if (resto == 0.5 && e > 0) ++q;
  if (resto == -0.5 && e < 0) --q;
  return true;
}

}  // namespace

size_t fijo_en(char* b, double x, int decimales) {
  if (!std::isfinite(x)) {
    const std::string s = corto(x);
    std::copy(s.begin(), s.end(), b);
    return s.size();
  }
  int64_t q;
  if (decimales >= 0 && decimales <= 6 && redondea(x, decimales, q)) {
    // The digits of |q| with the point put in; a sign only when a non-zero digit is printed.
    char digitos[24];
    const uint64_t m = q < 0 ? uint64_t(-q) : uint64_t(q);
    const size_t k = size_t(std::to_chars(digitos, digitos + sizeof digitos, m).ptr - digitos);
    const size_t d = size_t(decimales);
    size_t n = 0;
    if (q < 0) b[n++] = '-';
    if (k <= d) {  // 0.0ddd
      b[n++] = '0';
      b[n++] = '.';
      for (size_t z = k; z < d; ++z) b[n++] = '0';
      std::copy(digitos, digitos + k, b + n);
      n += k;
    } else {
      std::copy(digitos, digitos + (k - d), b + n);
      n += k - d;
      if (d > 0) b[n++] = '.';
      std::copy(digitos + (k - d), digitos + k, b + n);
      n += d;
    }
    return n;
  }
  const auto r = std::to_chars(b, b + kFijoMaximo, x, std::chars_format::fixed, decimales);
  size_t n = size_t(r.ptr - b);
  // A value that rounds to zero prints without its sign: "-0.000" reads as a fault.
  if (b[0] == '-' && std::string_view(b + 1, n - 1).find_first_not_of("0.") == std::string_view::npos) {
    std::copy(b + 1, b + n, b);
    --n;
  }
  return n;
}

std::string fijo(double x, int decimales) {
  char b[kFijoMaximo];
  return std::string(b, fijo_en(b, x, decimales));
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
    case Unidad::deg:
    case Unidad::dms: return radianes * (180.0 / 3.141592653589793);
    case Unidad::arcsec: return radianes * (648000.0 / 3.141592653589793);
    case Unidad::gon: return radianes * (200.0 / 3.141592653589793);
    case Unidad::rad: break;
  }
  return radianes;
}

const char* nombre_unidad(Unidad u) {
  switch (u) {
    case Unidad::deg: return "deg";
    case Unidad::gon: return "gon";
    case Unidad::arcsec: return "arcsec";
    case Unidad::dms: return "dms";
    case Unidad::rad: break;
  }
  return "rad";
}

int decimales_angulo(Unidad u) {
  switch (u) {
    case Unidad::rad: return 10;
    case Unidad::arcsec: return 5;
    case Unidad::dms: return kSexagesimal;
    default: return 8;
  }
}

std::string sexagesimal(double grados) {
  if (!std::isfinite(grados) || std::fabs(grados) > 1e9) return corto(grados);
  // Rounded once, in whole 1e-5 seconds, so that 59.999999" carries into the minute.
  const long long n = std::llround(std::fabs(grados) * 3600.0 * 1e5);
  const long long cs = n % 6000000, m = (n / 6000000) % 60, d = n / 360000000;
  char b[64];
  std::snprintf(b, sizeof b, "%s%lld\u00B0%02lld'%02lld.%05lld\"", grados < 0 && n > 0 ? "-" : "", d, m, cs / 100000,
                cs % 100000);
  return b;
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
