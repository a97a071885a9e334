// `orienta export`: a fitted transformation in the forms other tools read, as the library writes
// them: a PROJ operation for cct and PROJ pipelines, a world file for GDAL and QGIS.
#include <charconv>

#include "cli.hpp"

namespace orienta::cli {

namespace {

[[noreturn]] void sin_forma(const std::string& nombre, const char* formato, const orienta_transformacion& t,
                            int32_t estado) {
  const std::string m = modelo(t.modelo).nombre;
  if (estado == ORIENTA_E_MODELO && std::string(formato) == "proj")
    throw Fallo(nombre + ": export proj: the " + m +
                " model has no PROJ form here yet (PROJ's horner operation "
                "needs a fitted inverse)");
  if (estado == ORIENTA_E_MODELO)
    throw Fallo(nombre + ": export world: a world file holds a 2D similarity or affine map, not " + m);
  throw Fallo(nombre + ": export " + formato + ": " + orienta_estado_texto(estado));
}

}  // namespace

int orden_exporta(const std::string& formato, const std::string& transformacion) {
  const orienta_transformacion t = lee_registro(transformacion);
  std::string texto;
  if (formato == "proj") {
    const int32_t largo = orienta_proj(&t, nullptr, 0);
    if (largo < 0) sin_forma(transformacion, "proj", t, largo);
    texto.resize(size_t(largo) + 1);
    orienta_proj(&t, texto.data(), uint32_t(texto.size()));
    texto.back() = '\n';
  } else if (formato == "world") {
    double seis[6];
    if (const int32_t estado = orienta_mundo(&t, seis); estado != ORIENTA_OK)
      sin_forma(transformacion, "world", t, estado);
    for (double x : seis) {
      char b[32];
      texto.append(b, std::to_chars(b, b + sizeof b, x).ptr) += '\n';
    }
  } else {
    throw Fallo("export: unknown format '" + cita(formato) + "': proj or world");
  }
  if (std::fwrite(texto.data(), 1, texto.size(), stdout) != texto.size()) throw Fallo("cannot write the output");
  return kBien;
}

}  // namespace orienta::cli
