// The command-line tool's reader: any bytes either read as pairs that keep every invariant or fail
// with one message naming the input; never a crash, a leak or another exception. The first byte
// picks the dimension, whether lines end with σ (and how many), --ids and --decimal-comma; the text
// helpers run on the raw bytes too.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.hpp"

using namespace orienta::cli;

namespace {
void exige(bool condicion, const char* que) {
  if (!condicion) {
    std::fprintf(stderr, "broken invariant: %s\n", que);
    std::abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t largo) {
  if (largo == 0) return 0;
  const int dim = (datos[0] & 1) ? 3 : 2;
  Opciones o;
  o.con_sigma = (datos[0] & 2) != 0;
  o.sigmas = o.con_sigma && dim == 3 ? (datos[0] >> 2) % 3 : 0;
  o.ids = (datos[0] >> 4) % 3 == 0 ? Ids::automatico : (datos[0] >> 4) % 3 == 1 ? Ids::si : Ids::no;
  o.coma_decimal = (datos[0] & 0x40) != 0;
  const std::string texto(reinterpret_cast<const char*>(datos) + 1, largo - 1);

  // Shown ids hold no control characters; JSON ids are valid UTF-8 (a strict dump would throw).
  for (unsigned char c : id_visible(texto)) exige(c >= 0x20 && c != 0x7F, "control character shown");
  (void)Json(id_json(texto)).dump();
  exige(ancho_visible(texto) <= 2 * texto.size(), "display width");

  std::FILE* f = fmemopen(const_cast<char*>(texto.data()), texto.size(), "rb");
  if (f == nullptr) return 0;
  try {
    const Conjunto c = lee_pares(f, "in", dim, o);
    const size_t n = c.n();
    exige(c.ids.size() == n && c.origen.size() == n * size_t(dim) && c.destino.size() == n * size_t(dim), "sizes");
    exige(c.sigma.size() == n * size_t(c.sigmas_por_par), "σ count");
    for (size_t k = 0; k < c.origen.size(); ++k)
      exige(std::isfinite(c.origen[k]) && std::isfinite(c.destino[k]), "finite");
    for (double s : c.sigma) exige(std::isfinite(s) && s > 0, "σ positive");
    for (size_t k = 1; k < n; ++k) exige(c.lineas[k] > c.lineas[k - 1], "line order");
    // One layout for the whole file: ids on every line or on none, the same σ count everywhere.
    for (size_t k = 0; k < n; ++k) exige(c.con_id || c.ids[k].empty(), "an id in a file read without ids");
    exige(n == 0 ||
              (o.con_sigma ? (c.sigmas_por_par == 1 || (dim == 3 && c.sigmas_por_par == 2)) : c.sigmas_por_par == 0),
          "σ count");
    // Left to itself the reader takes a number with a fraction for a coordinate, never for an id.
    for (size_t k = 0; o.ids == Ids::automatico && k < n; ++k)
      exige(
          !es_numero(c.ids[k], o.coma_decimal) || c.ids[k].find_first_not_of("+-0123456789") == std::string_view::npos,
          "a fractional id");
    exige(o.sigmas == 0 || n == 0 || c.sigmas_por_par == o.sigmas, "--sigmas");
    exige(!(o.ids == Ids::si && !c.con_id && n > 0) && !(o.ids == Ids::no && c.con_id), "--ids");
  } catch (const Fallo& e) {
    exige(std::strncmp(e.what(), "in:", 3) == 0, "message names the input");
  }
  std::fclose(f);
  return 0;
}
