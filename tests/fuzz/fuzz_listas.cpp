// Two point lists joined by id, and a file read through --columns: any bytes either give pairs
// whose ids are each in both lists once, in the source list's order, or fail with one message
// naming an input; never a crash, a leak or another exception. The first byte picks the
// dimension, σ, --strict, --decimal-comma and, for the one-file read, a column layout; a line
// "===" splits the rest into the two lists.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "cli.hpp"
#include "comun.hpp"

using namespace orienta::cli;

namespace {

// A temporary file holding `texto`, removed with the object.
struct Temporal {
  std::string ruta = "/tmp/fuzz_listas_XXXXXX";
  explicit Temporal(const std::string& texto) {
    const int fd = mkstemp(ruta.data());
    EXIGE(fd >= 0);
    for (size_t hecho = 0; hecho < texto.size();) {
      const ssize_t w = write(fd, texto.data() + hecho, texto.size() - hecho);
      EXIGE(w > 0);
      hecho += size_t(w);
    }
    close(fd);
  }
  ~Temporal() { unlink(ruta.c_str()); }
};

void une(const std::string& a, const std::string& b, int dim, const Opciones& o) {
  const Temporal fa(a), fb(b);
  try {
    const Conjunto c = une_listas(fa.ruta, fb.ruta, dim, o);
    const size_t n = c.n();
    EXIGE(c.con_id && c.ids.size() == n && c.origen.size() == n * size_t(dim) && c.destino.size() == n * size_t(dim));
    EXIGE(c.sigma.size() == n * size_t(c.sigmas_por_par));
    std::set<std::string_view> vistos;
    for (size_t k = 0; k < n; ++k) EXIGE(vistos.insert(c.ids[k]).second);
    for (size_t k = 1; k < n; ++k) EXIGE(c.lineas[k] > c.lineas[k - 1]);
    for (double x : c.origen) EXIGE(std::isfinite(x));
    for (double x : c.destino) EXIGE(std::isfinite(x));
  } catch (const Fallo& e) {
    const std::string m = e.what();
    EXIGE(m.find(fa.ruta) != std::string::npos || m.find(fb.ruta) != std::string::npos);
  }
}

// The one-file read with the columns named: the fields of a plain layout, reversed, with an
// ignored column in front.
void columnas(const std::string& texto, int dim, Opciones o) {
  const size_t campos = 1 + 2 * size_t(dim) + (o.con_sigma ? 1 : 0);
  o.columnas.total = campos + 1;
  for (size_t k = 0; k < campos; ++k) o.columnas.orden.push_back(campos - k);
  o.columnas.con_z = dim == 3;
  o.ids = Ids::si;
  o.sigmas = o.con_sigma ? 1 : 0;
  std::FILE* f = fmemopen(const_cast<char*>(texto.data()), texto.size(), "rb");
  if (f == nullptr) return;
  try {
    const Conjunto c = lee_pares(f, "in", dim, o);
    EXIGE(c.n() == 0 || c.con_id);
    EXIGE(c.n() == 0 || c.sigmas_por_par == o.sigmas);
    EXIGE(c.origen.size() == c.n() * size_t(dim));
  } catch (const Fallo& e) {
    EXIGE(std::strncmp(e.what(), "in:", 3) == 0);
  }
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t largo) {
  if (largo == 0 || largo > 4096) return 0;
  const int dim = (datos[0] & 1) ? 3 : 2;
  Opciones o;
  o.con_sigma = (datos[0] & 2) != 0;
  o.estricto = (datos[0] & 4) != 0;
  o.coma_decimal = (datos[0] & 8) != 0;
  const std::string texto(reinterpret_cast<const char*>(datos) + 1, largo - 1);
  if (datos[0] & 0x10) {
    columnas(texto, dim, o);
    return 0;
  }
  const size_t corte = texto.find("\n===\n");
  if (corte == std::string::npos) return 0;
  une(texto.substr(0, corte + 1), texto.substr(corte + 5), dim, o);
  return 0;
}
