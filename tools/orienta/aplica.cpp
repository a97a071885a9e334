// `orienta apply`: reads the transformation a fitting command printed with --json and carries
// points through it (or its inverse), streaming: one block of points in memory at a time.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>

#include "cli.hpp"

namespace orienta::cli {

namespace {

[[noreturn]] void mal(const std::string& fichero, const std::string& que) {
  throw Fallo(fichero + ": transform: " + que);
}

double numero(const Json& j, const std::string& fichero, const std::string& clave) {
  if (!j.is_number()) mal(fichero, "'" + clave + "' is not a number");
  const double x = j.get<double>();
  if (!std::isfinite(x)) mal(fichero, "'" + clave + "' is not finite");
  return x;
}

void vector_de(const Json& j, const std::string& fichero, const std::string& clave, size_t n, double* destino) {
  if (!j.contains(clave)) mal(fichero, "missing '" + clave + "'");
  const Json& a = j.at(clave);
  if (!a.is_array() || a.size() != n) mal(fichero, "'" + clave + "' must hold " + std::to_string(n) + " numbers");
  for (size_t k = 0; k < n; ++k) destino[k] = numero(a[k], fichero, clave);
}

void matriz_de(const Json& j, const std::string& fichero, const std::string& clave, int d, double* destino) {
  if (!j.contains(clave)) mal(fichero, "missing '" + clave + "'");
  const Json& a = j.at(clave);
  if (!a.is_array() || a.size() != size_t(d)) mal(fichero, "'" + clave + "' must hold " + std::to_string(d) + " rows");
  for (int i = 0; i < d; ++i) {
    if (!a[size_t(i)].is_array() || a[size_t(i)].size() != size_t(d))
      mal(fichero, "'" + clave + "' row " + std::to_string(i) + " must hold " + std::to_string(d) + " numbers");
    for (int k = 0; k < d; ++k) destino[3 * i + k] = numero(a[size_t(i)][size_t(k)], fichero, clave);
  }
}

}  // namespace

orienta_transformacion transformacion_de_json_en(const Json& documento, const std::string& fichero) {
  // A fitting command's whole document, or the bare transform object.
  const Json* p = &documento;
  if (documento.is_object() && documento.contains("transform")) p = &documento.at("transform");
  const Json& j = *p;
  if (!j.is_object() || !j.contains("model") || !j.at("model").is_string())
    mal(fichero, "no 'transform' object with a 'model' (write it with a fitting command's --json)");
  const std::string modelo = j.at("model").get<std::string>();
  orienta_transformacion t;
  std::memset(&t, 0, sizeof t);
  for (int i = 0; i < 3; ++i) t.matriz[4 * i] = t.rotacion[4 * i] = 1.0;
  t.escala = std::numeric_limits<double>::quiet_NaN();
  if (modelo == "helmert3d")
    t.modelo = ORIENTA_HELMERT3D, t.dim = 3;
  else if (modelo == "helmert2d")
    t.modelo = ORIENTA_HELMERT2D, t.dim = 2;
  else if (modelo == "affine2d")
    t.modelo = ORIENTA_AFIN2D, t.dim = 2;
  else if (modelo == "poly2d") {
    const Json orden = j.value("order", Json());
    if (orden == 2)
      t.modelo = ORIENTA_POLI2D_2;
    else if (orden == 3)
      t.modelo = ORIENTA_POLI2D_3;
    else
      mal(fichero, "poly2d needs 'order' 2 or 3");
    t.dim = 2;
  } else {
    mal(fichero, "unknown model '" + id_visible(modelo) + "' (helmert3d, helmert2d, affine2d or poly2d)");
  }
  if (j.contains("dim") && j.at("dim") != t.dim)
    mal(fichero, "'dim' must be " + std::to_string(t.dim) + " for " + modelo);
  const int d = t.dim;
  vector_de(j, fichero, "source_centroid", size_t(d), t.centro_origen);
  vector_de(j, fichero, "target_centroid", size_t(d), t.centro_destino);
  matriz_de(j, fichero, "matrix", d, t.matriz);
  if (t.modelo == ORIENTA_HELMERT3D || t.modelo == ORIENTA_HELMERT2D) {
    if (!j.contains("scale")) mal(fichero, "missing 'scale'");
    t.escala = numero(j.at("scale"), fichero, "scale");
    matriz_de(j, fichero, "rotation", d, t.rotacion);
    vector_de(j, fichero, "angles", t.modelo == ORIENTA_HELMERT3D ? 3 : 1, t.angulos);
  }
  if (t.modelo == ORIENTA_POLI2D_2 || t.modelo == ORIENTA_POLI2D_3) {
    vector_de(j, fichero, "coef_x", 9, t.coef_x);
    vector_de(j, fichero, "coef_y", 9, t.coef_y);
  }
  return t;
}

int orden_aplica(const Opciones& o, const std::string& transformacion, const std::string& fichero) {
  std::ifstream f(transformacion, std::ios::binary);
  if (!f) throw Fallo(transformacion + ": cannot open: " + std::strerror(errno));
  Json documento;
  try {
    documento = Json::parse(f);
  } catch (const Json::parse_error& e) {
    // nlohmann's message carries "line L, column C" of the fault.
    std::string m = e.what();
    const size_t k = m.find("parse error");
    throw Fallo(transformacion + ": not a JSON document: " + (k == std::string::npos ? m : m.substr(k)));
  }
  const orienta_transformacion t = transformacion_de_json_en(documento, transformacion);
  if (o.inversa && t.modelo != ORIENTA_POLI2D_2 && t.modelo != ORIENTA_POLI2D_3) {
    orienta_transformacion inv;
    if (orienta_invierte(&t, &inv) != ORIENTA_OK)
      throw Fallo(transformacion + ": the transformation is not invertible");
  }

  const bool estandar = fichero.empty() || fichero == "-";
  const std::string nombre = estandar ? "<stdin>" : fichero;
  std::FILE* entrada = estandar ? stdin : std::fopen(fichero.c_str(), "rb");
  if (entrada == nullptr) throw Fallo(nombre + ": cannot open: " + std::strerror(errno));
  struct Cierra {
    std::FILE* f;
    bool cerrar;
    ~Cierra() {
      if (cerrar) std::fclose(f);
    }
  } cierra{entrada, !estandar};

  const int d = t.dim;
  constexpr size_t kBloque = 4096;  // points held at once: memory stays flat whatever the input
  Lector l(entrada, nombre);
  Progreso progreso("apply " + nombre);
  std::vector<Columna> cols;
  std::vector<double> puntos(kBloque * size_t(d)), imagen(kBloque * size_t(d));
  std::vector<uint8_t> fallo(kBloque);
  std::string ids;             // the block's ids, end to end
  std::vector<size_t> fin_id;  // where each id ends in ids; equal to the previous: none
  std::string salida;
  salida.reserve(size_t(1) << 20);
  uint64_t sin_inversa = 0;
  const char* ejes = d == 3 ? "x y z" : "x y";

  auto vacia = [&](size_t n) {
    if (n == 0) return;
    sin_inversa += uint64_t(orienta_aplica(&t, o.inversa ? 1 : 0, puntos.data(), int64_t(sizeof(double)) * d,
                                           imagen.data(), int64_t(sizeof(double)) * d, n, fallo.data()));
    size_t desde = 0;
    for (size_t k = 0; k < n; ++k) {
      if (fin_id[k] > desde) {
        salida.append(ids, desde, fin_id[k] - desde);
        salida += ' ';
      }
      desde = fin_id[k];
      for (int i = 0; i < d; ++i) {
        char b[32];
        const double x = imagen[size_t(d) * k + size_t(i)];
        const auto r = std::to_chars(b, b + sizeof b, x);
        if (i > 0) salida += ' ';
        salida.append(b, r.ptr);
      }
      salida += '\n';
    }
    if (std::fwrite(salida.data(), 1, salida.size(), stdout) != salida.size()) throw Fallo("cannot write the output");
    salida.clear();
    ids.clear();
    fin_id.clear();
  };

  size_t n = 0;
  while (l.siguiente(cols)) {
    progreso.avanza(l.linea());
    const size_t m = cols.size();
    const bool con_id = m == size_t(d) + 1;
    if (!con_id && (m != size_t(d) || !es_numero(cols[0].texto))) {
      if (m == size_t(d))
        error_en(nombre, l.linea(), l.col_fin(),
                 "expected " + std::to_string(d) + " numbers after the id '" + cita(cols[0].texto) + "', found " +
                     std::to_string(d - 1));
      error_en(nombre, l.linea(), m > size_t(d) + 1 ? cols[size_t(d) + 1].col : l.col_fin(),
               "expected " + std::to_string(d) + " numbers (" + ejes + "), optionally after an id; found " +
                   std::to_string(m) + " columns");
    }
    const size_t primera = con_id ? 1 : 0;
    for (int i = 0; i < d; ++i) puntos[size_t(d) * n + size_t(i)] = numero_en(l, cols[primera + size_t(i)]);
    if (con_id) ids.append(cols[0].texto);
    fin_id.push_back(ids.size());
    if (++n == kBloque) {
      vacia(n);
      n = 0;
    }
  }
  vacia(n);
  if (sin_inversa > 0) {
    aviso(nombre + ": the inverse did not converge at " + std::to_string(sin_inversa) + " point" +
          (sin_inversa == 1 ? "" : "s") + " (written as nan)");
    return kAviso;
  }
  return kBien;
}

}  // namespace orienta::cli
