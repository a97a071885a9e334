// The command-line tool's reader: any bytes either read as pairs that keep every invariant or fail
// with one message naming the input; never a crash, a leak or another exception. The first byte
// picks the dimension and whether lines end with σ; the text helpers run on the raw bytes too.
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
  const bool con_sigma = (datos[0] & 2) != 0;
  const std::string texto(reinterpret_cast<const char*>(datos) + 1, largo - 1);

  // Shown ids hold no control characters; JSON ids are valid UTF-8 (a strict dump would throw).
  for (unsigned char c : id_visible(texto)) exige(c >= 0x20 && c != 0x7F, "control character shown");
  (void)Json(id_json(texto)).dump();
  exige(ancho_visible(texto) <= 2 * texto.size(), "display width");

  std::FILE* f = fmemopen(const_cast<char*>(texto.data()), texto.size(), "rb");
  if (f == nullptr) return 0;
  try {
    const Conjunto c = lee_pares(f, "in", dim, con_sigma);
    const size_t n = c.n();
    exige(c.ids.size() == n && c.origen.size() == n * size_t(dim) && c.destino.size() == n * size_t(dim), "sizes");
    exige(c.sigma.size() == n * size_t(c.sigmas_por_par), "σ count");
    for (size_t k = 0; k < c.origen.size(); ++k)
      exige(std::isfinite(c.origen[k]) && std::isfinite(c.destino[k]), "finite");
    for (double s : c.sigma) exige(std::isfinite(s) && s > 0, "σ positive");
    for (size_t k = 1; k < n; ++k) exige(c.lineas[k] > c.lineas[k - 1], "line order");
  } catch (const Fallo& e) {
    exige(std::strncmp(e.what(), "in:", 3) == 0, "message names the input");
  }
  std::fclose(f);
  return 0;
}
