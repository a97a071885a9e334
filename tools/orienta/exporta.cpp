// `orienta export`: a fitted transformation in the forms other tools read, as the library writes
// them: a PROJ operation for cct and PROJ pipelines, a world file for GDAL and QGIS; and the pairs
// of a 2D fit as GDAL ground control points and as a QGIS georeferencer points file.
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>

#include "cli.hpp"

namespace orienta::cli {

namespace {

// horner's fitted inverse, by default: a thousandth of a source unit (of a pixel for an image,
// far below what a control point is measured to; a millimetre for a metric source).
constexpr double kToleranciaInversa = 1e-3;

bool es_polinomio(int32_t modelo) { return modelo == ORIENTA_POLI2D_2 || modelo == ORIENTA_POLI2D_3; }

[[noreturn]] void sin_forma(const std::string& nombre, const char* formato, const orienta_transformacion& t,
                            int32_t estado) {
  const std::string m = modelo(t.modelo).nombre;
  if (estado == ORIENTA_E_MODELO && std::string(formato) == "world")
    throw Fallo(nombre + ": export world: a world file holds a 2D similarity or affine map, not " + m);
  throw Fallo(nombre + ": export " + formato + ": " + orienta_estado_texto(estado));
}

// The whole document of a file (lee_registro reads only as far as the record).
Json documento(const std::string& fichero) {
  std::ifstream f(fichero, std::ios::binary);
  if (!f) throw Fallo(fichero + ": cannot open: " + std::strerror(errno));
  Json d = Json::parse(f, nullptr, false);
  if (d.is_discarded()) throw Fallo(fichero + ": not a valid JSON document");
  return d;
}

// A number of an option's text, whole.
bool numero(std::string_view s, double& x) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), x);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(x);
}

// --area XMIN,YMIN,XMAX,YMAX.
std::array<double, 4> lee_zona(const std::string& texto) {
  std::array<double, 4> z{};
  size_t a = 0;
  for (size_t k = 0; k < 4; ++k) {
    const size_t b = k == 3 ? texto.size() : texto.find(',', a);
    if (b == std::string::npos || !numero(std::string_view(texto).substr(a, b - a), z[k]))
      throw Fallo("export: --area takes four finite numbers XMIN,YMIN,XMAX,YMAX, not '" + cita(texto) + "'");
    a = b + 1;
  }
  if (!(z[0] < z[2] && z[1] < z[3]))
    throw Fallo("export: --area " + cita(texto) + " is empty or inverted: XMIN < XMAX and YMIN < YMAX are needed");
  return z;
}

// The fit document's "source_extent", when it has a 2D one.
std::optional<std::array<double, 4>> extension(const Json& d) {
  if (!d.is_object() || !d.contains("source_extent")) return std::nullopt;
  const Json& e = d.at("source_extent");
  if (!e.is_array() || e.size() != 4) return std::nullopt;
  std::array<double, 4> z{};
  for (size_t k = 0; k < 4; ++k) {
    if (!e[k].is_number()) return std::nullopt;
    z[k] = e[k].get<double>();
  }
  return z;
}

std::string lista(const double* x, size_t n) {
  std::string r;
  for (size_t k = 0; k < n; ++k) r += (k ? "," : "") + corto(x[k]);
  return r;
}

int exporta_proj(const Opciones& o, const std::string& fichero, const orienta_transformacion& t, std::string& texto) {
  std::optional<std::array<double, 4>> zona;
  if (!o.zona.empty()) zona = lee_zona(o.zona);
  if (es_polinomio(t.modelo) && !zona) {
    zona = extension(documento(fichero));
    if (!zona)
      throw Fallo(fichero + ": export proj: a polynomial becomes PROJ's horner with an inverse fitted over the "
                            "area it serves, and this record names none (no \"source_extent\" of a fit document): "
                            "give --area XMIN,YMIN,XMAX,YMAX in source units");
    if (!(zona->at(0) <= zona->at(2) && zona->at(1) <= zona->at(3)))
      throw Fallo(fichero + ": export proj: \"source_extent\" is not XMIN,YMIN,XMAX,YMAX");
    if (!(zona->at(0) < zona->at(2) && zona->at(1) < zona->at(3)))
      throw Fallo(fichero + ": export proj: the fit's source points span no area (\"source_extent\" " +
                  lista(zona->data(), 4) + "): give --area");
  }
  double tolerancia = kToleranciaInversa;
  if (!o.tolerancia.empty() && (!numero(o.tolerancia, tolerancia) || !(tolerancia > 0)))
    throw Fallo("export: --inverse-tolerance takes a positive finite number, not '" + cita(o.tolerancia) + "'");
  const double* z = zona ? zona->data() : nullptr;
  double error = 0;
  const int32_t largo = orienta_proj_zona(&t, z, nullptr, 0, &error);
  if (largo < 0) sin_forma(fichero, "proj", t, largo);
  texto.resize(size_t(largo) + 1);
  orienta_proj_zona(&t, z, texto.data(), uint32_t(texto.size()), &error);
  texto.back() = '\n';
  if (!es_polinomio(t.modelo)) return kBien;
  const std::string donde = "over the area " + lista(z, 4) + " (source units)";
  if (!(error <= tolerancia)) {
    aviso("export proj: horner's inverse, a third-order polynomial fitted " + donde + ", is off by up to " +
          corto(error) + " there (round trip through the forward map), more than --inverse-tolerance " +
          corto(tolerancia) + ": cct -I will not give what 'orienta apply --inverse' gives");
    return kAviso;
  }
  std::fprintf(stderr,
               "orienta: note: horner's inverse is a third-order polynomial fitted %s; its round trip through "
               "the forward map is off by at most %s there (--inverse-tolerance %s)\n",
               donde.c_str(), corto(error).c_str(), corto(tolerancia).c_str());
  return kBien;
}

// A pair's name in a message.
std::string nombre_par(const Conjunto& c, size_t k) {
  return c.ids[k].empty() ? "line " + std::to_string(c.lineas[k]) : "'" + id_visible(c.ids[k]) + "'";
}

// The pairs of a fit, read as the fit read them, with the flags of the pairs its data snooping
// excluded; refused unless they are the pairs of the document (count, ids, lines).
std::vector<uint8_t> excluidos(const Json& d, const std::string& fichero, const Conjunto& c) {
  std::vector<uint8_t> fuera(c.n(), 0);
  if (!d.is_object() || !d.contains("residuals")) return fuera;  // a bare record: every pair enabled
  const Json& r = d.at("residuals");
  const auto distinto = [&](const std::string& que) {
    throw Fallo(c.nombre + " is not the file of pairs " + fichero + " was fitted to: " + que);
  };
  if (!r.is_array()) throw Fallo(fichero + ": \"residuals\" is not a list");
  if (r.size() != c.n())
    distinto(std::to_string(c.n()) + " pairs, the fit " + std::to_string(r.size()));
  for (size_t k = 0; k < c.n(); ++k) {
    const Json& e = r[k];
    if (!e.is_object() || !e.contains("line") || !e.contains("id") || !e.contains("excluded") ||
        !e.at("excluded").is_boolean())
      throw Fallo(fichero + ": residual " + std::to_string(k + 1) + " lacks its id, line or excluded flag");
    const std::string id = c.ids[k].empty() ? std::string() : id_json(c.ids[k]);
    const Json& i = e.at("id");
    if (i.is_null() ? !id.empty() : !(i.is_string() && i.get<std::string>() == id))
      distinto("pair " + std::to_string(k + 1) + " is " + nombre_par(c, k) + " on line " +
               std::to_string(c.lineas[k]) + ", the fit's " +
               (i.is_string() ? "'" + id_visible(i.get<std::string>()) + "'" : std::string("has no id")));
    if (!e.at("line").is_number_unsigned() || e.at("line").get<uint64_t>() != c.lineas[k])
      distinto("pair " + std::to_string(k + 1) + " (" + nombre_par(c, k) + ") is on line " +
               std::to_string(c.lineas[k]) + ", the fit's on line " + e.at("line").dump());
    fuera[k] = e.at("excluded").get<bool>() ? 1 : 0;
  }
  return fuera;
}

Conjunto lee_fichero_pares(const std::string& ruta, const Opciones& o) {
  const bool estandar = ruta == "-";
  const std::string nombre = estandar ? "<stdin>" : ruta;
  std::FILE* f = estandar ? stdin : std::fopen(ruta.c_str(), "rb");
  if (f == nullptr) throw Fallo(nombre + ": cannot open: " + std::strerror(errno));
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> cierra(estandar ? nullptr : f, std::fclose);
  return lee_pares(f, nombre, 2, o);
}

// gdal_translate -gcp and QGIS's georeferencer .points.
int exporta_pares(const Opciones& opciones, const std::string& formato, const std::string& fichero,
                  const orienta_transformacion& t, const std::string& ruta, std::string& texto) {
  if (t.dim != 2)
    throw Fallo(fichero + ": export " + formato + ": control points of a 2D fit (pixel, line to map), not of a " +
                modelo(t.modelo).nombre + " record");
  if (ruta.empty())
    throw Fallo("export " + formato + ": missing PAIRS, the file of pairs the fit was made from");
  const Json d = documento(fichero);
  Opciones o = opciones;
  o.filas_abajo = false;  // the record maps the rows as the file gives them
  if (d.is_object() && d.contains("chi2")) o.con_sigma = true;  // fitted with --sigma: a σ column
  const Conjunto c = lee_fichero_pares(ruta, o);
  const std::vector<uint8_t> fuera = excluidos(d, fichero, c);
  std::string dejados;
  size_t n_dejados = 0;
  if (formato == "gcp") {
    for (size_t k = 0; k < c.n(); ++k) {
      if (fuera[k]) {
        dejados += (n_dejados++ ? ", " : "") + nombre_par(c, k);
        continue;
      }
      const double* s = &c.origen[2 * k];
      const double* m = &c.destino[2 * k];
      texto += "-gcp " + corto(s[0]) + " " + corto(s[1]) + " " + corto(m[0]) + " " + corto(m[1]) + "\n";
    }
    if (n_dejados)
      std::fprintf(stderr,
                   "orienta: note: %zu pair%s excluded by data snooping left out (gdal_translate has no disabled "
                   "control point): %s\n",
                   n_dejados, n_dejados == 1 ? "" : "s", dejados.c_str());
    return kBien;
  }
  // QGIS shows an image without georeferencing with y up, row r at y = -r: sourceY is -line. dX dY
  // are the residual v = transformed source - target over the map units of a pixel (the root of
  // the determinant of the linear part), in map axes; QGIS recomputes them when it loads the file.
  const double escala = std::sqrt(std::fabs(t.matriz[0] * t.matriz[4] - t.matriz[1] * t.matriz[3]));
  std::vector<double> imagen(c.origen.size());
  const int64_t paso = 2 * sizeof(double);
  if (orienta_aplica(&t, 0, c.origen.data(), paso, imagen.data(), paso, c.n(), nullptr) < 0)
    throw Fallo(fichero + ": export points: the record carries no point");
  texto = "mapX,mapY,sourceX,sourceY,enable,dX,dY,residual\n";
  for (size_t k = 0; k < c.n(); ++k) {
    const double* s = &c.origen[2 * k];
    const double* m = &c.destino[2 * k];
    const double dx = (imagen[2 * k] - m[0]) / escala, dy = (imagen[2 * k + 1] - m[1]) / escala;
    const bool bien = std::isfinite(dx) && std::isfinite(dy);
    texto += corto(m[0]) + "," + corto(m[1]) + "," + corto(s[0]) + "," + corto(s[1] == 0 ? 0.0 : -s[1]) + "," +
             (fuera[k] ? "0" : "1") + "," + corto(bien ? dx : 0.0) + "," + corto(bien ? dy : 0.0) + "," +
             corto(bien ? std::hypot(dx, dy) : 0.0) + "\n";
  }
  return kBien;
}

}  // namespace

int orden_exporta(const Opciones& o, const std::string& formato, const std::string& transformacion,
                  const std::string& pares) {
  if (formato != "proj" && formato != "world" && formato != "gcp" && formato != "points")
    throw Fallo("export: unknown format '" + cita(formato) + "': proj, world, gcp or points");
  if (!pares.empty() && (formato == "proj" || formato == "world"))
    throw Fallo("export " + formato + ": takes one file, TRANSFORM");
  if ((!o.zona.empty() || !o.tolerancia.empty()) && formato != "proj")
    throw Fallo("export " + formato + ": --area and --inverse-tolerance apply to export proj");
  const orienta_transformacion t = lee_registro(transformacion);
  std::string texto;
  int estado = kBien;
  if (formato == "proj") {
    estado = exporta_proj(o, transformacion, t, texto);
  } else if (formato == "world") {
    double seis[6];
    if (const int32_t st = orienta_mundo(&t, seis); st != ORIENTA_OK) sin_forma(transformacion, "world", t, st);
    for (double x : seis) {
      char b[32];
      texto.append(b, std::to_chars(b, b + sizeof b, x).ptr) += '\n';
    }
  } else {
    estado = exporta_pares(o, formato, transformacion, t, pares, texto);
  }
  if (std::fwrite(texto.data(), 1, texto.size(), stdout) != texto.size()) throw Fallo("cannot write the output");
  return estado;
}

}  // namespace orienta::cli
