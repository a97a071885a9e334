// The stored transformation as JSON: written by every fitting command, read by apply. The
// library's model table says which fields a model needs and the library's validator says whether
// the record holds together; this file only moves numbers between JSON and the C record.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>

#include "cli.hpp"

namespace orienta::cli {

const orienta_modelo_info& modelo(int32_t codigo) {
  const orienta_modelo_info* m = orienta_modelo(codigo);
  if (!m) throw std::logic_error("unknown model code " + std::to_string(codigo));
  return *m;
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The library's model table, read from code 1 on: a model it adds is read and written here too.
template <class F>
void cada_modelo(F&& f) {
  for (int32_t c = 1; orienta_modelo(c) != nullptr; ++c) f(*orienta_modelo(c));
}

std::string nombres_de_modelos() {
  std::string r;
  cada_modelo([&](const orienta_modelo_info& m) {
    if (m.modelo == ORIENTA_POLI2D_3) return;  // said once, with its orders
    r += (r.empty() ? "" : ", ") + std::string(m.nombre) + (m.modelo == ORIENTA_POLI2D_2 ? " of order 2 or 3" : "");
  });
  return r;
}

[[noreturn]] void mal(const std::string& fichero, const char* campo, const std::string& que) {
  throw Fallo(fichero + ": transform" + (campo ? std::string(" '") + campo + "'" : std::string()) + ": " + que);
}

// A number of the record; null stands for NaN, the form non-finite values are written in.
double numero(const Json& j, bool& bien) {
  if (j.is_null()) return kNaN;
  bien = bien && j.is_number();
  return j.is_number() ? j.get<double>() : kNaN;
}

void lista(const Json& j, const std::string& fichero, const char* campo, size_t minimo, size_t maximo,
           double* destino) {
  bool bien = j.is_array() && j.size() >= minimo && j.size() <= maximo;
  for (size_t k = 0; bien && k < j.size(); ++k) destino[k] = numero(j[k], bien);
  if (!bien)
    mal(fichero, campo,
        "must be a list of " + std::to_string(minimo) + (maximo > minimo ? " to " + std::to_string(maximo) : "") +
            " numbers");
}

void matriz(const Json& j, const std::string& fichero, const char* campo, int d, double* destino) {
  bool bien = j.is_array() && j.size() == size_t(d);
  for (int i = 0; bien && i < d; ++i) {
    const Json& fila = j[size_t(i)];
    bien = fila.is_array() && fila.size() == size_t(d);
    for (int k = 0; bien && k < d; ++k) destino[3 * i + k] = numero(fila[size_t(k)], bien);
  }
  if (!bien) mal(fichero, campo, "must be " + std::to_string(d) + " rows of " + std::to_string(d) + " numbers");
}

const orienta_modelo_info& modelo_nombrado(const Json& j, const std::string& fichero) {
  if (!j.contains("model") || !j.at("model").is_string())
    mal(fichero, nullptr, "no 'transform' object with a 'model' (write one with a fitting command's --json)");
  const std::string nombre = j.at("model").get<std::string>();
  const Json orden = j.value("order", Json(1));
  const orienta_modelo_info* hallado = nullptr;
  cada_modelo([&](const orienta_modelo_info& m) {
    if (!hallado && nombre == m.nombre && (std::string(m.nombre) != "poly2d" || orden == Json(m.orden))) hallado = &m;
  });
  if (hallado) return *hallado;
  if (nombre == "poly2d")
    mal(fichero, j.contains("order") ? "order" : nullptr,
        j.contains("order") ? "a poly2d has order 2 or 3" : std::string("lacks 'order', a field a poly2d needs"));
  mal(fichero, "model", "unknown model '" + id_visible(nombre) + "' (" + nombres_de_modelos() + ")");
}

// A record may name its rotation convention; one that names another than ours would turn every
// point the wrong way, so it is refused rather than read.
void convencion(const Json& j, const std::string& fichero, int32_t modelo) {
  if (!j.contains("convention")) return;
  const char* nuestra = orienta_convencion(modelo);
  const Json& c = j.at("convention");
  if (nuestra && c == Json(nuestra)) return;
  if (!nuestra)
    mal(fichero, "convention", "a model without angles names no rotation convention");
  mal(fichero, "convention",
      "is " + (c.is_string() ? "'" + id_visible(c.get<std::string>()) + "'" : std::string("not a string")) +
          ", but these angles are read in the '" + nuestra +
          "' convention (for coordinate-frame angles negate the angles and transpose the rotation)");
}

}  // namespace

namespace {

// The precision a record may carry: a u × u covariance of finite numbers, symmetric to rounding
// with a diagonal that is not negative, or the record is refused naming it.
void lee_precision(const Json& j, const std::string& fichero, const orienta_modelo_info& m, Precision& p) {
  if (!j.contains("parameter_covariance")) return;
  const Json& c = j.at("parameter_covariance");
  const size_t u = size_t(m.num_parametros);
  const auto fuera = [&](const std::string& que) { mal(fichero, "parameter_covariance", que); };
  if (!c.is_array() || c.size() != u)
    fuera("must be " + std::to_string(u) + " rows of " + std::to_string(u) + " numbers (" + m.nombre + ")");
  std::vector<double> r(u * u);
  for (size_t i = 0; i < u; ++i) {
    if (!c[i].is_array() || c[i].size() != u) fuera("row " + std::to_string(i + 1) + " must hold " + std::to_string(u) + " numbers");
    for (size_t k = 0; k < u; ++k) {
      if (!c[i][k].is_number() || !std::isfinite(c[i][k].get<double>())) fuera("holds a value that is not a finite number");
      r[i * u + k] = c[i][k].get<double>();
    }
  }
  for (size_t i = 0; i < u; ++i) {
    if (r[i * u + i] < 0) fuera("a variance on its diagonal is negative");
    for (size_t k = 0; k < i; ++k)
      if (std::fabs(r[i * u + k] - r[k * u + i]) > 1e-9 * std::sqrt(r[i * u + i] * r[k * u + k]) + 1e-300)
        fuera("is not symmetric");
  }
  p.covarianza = std::move(r);
}

// The polynomial terms odd in dy (dy, dx·dy, dx²·dy, dy³): those that change sign with the row.
bool impar_en_fila(int termino) { return termino == 1 || termino == 3 || termino == 6 || termino == 8; }

}  // namespace

void anade_precision(Json& registro, const orienta_transformacion& t, const orienta_estadisticas& e, bool filas_abajo) {
  const int u = e.num_parametros;
  std::vector<double> c(e.covarianza, e.covarianza + size_t(u) * size_t(u));
  if (!std::all_of(c.begin(), c.end(), [](double x) { return std::isfinite(x); })) return;
  int v = u;
  if (filas_abajo) {
    // The parameters of the map of (column, row): a similarity's T, α, s become the affine's T
    // and s·(cos α, sin α, sin α, −cos α), propagated through their derivatives; for the affine
    // and the polynomials only the signs of the terms odd in the row change (T and the centre's
    // image do not move).
    std::vector<double> G;
    if (t.modelo == ORIENTA_HELMERT2D) {
      const double ca = std::cos(t.angulos[0]), sa = std::sin(t.angulos[0]), s = t.escala;
      v = 6;
      G = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -s * sa, ca, 0, 0, s * ca, sa, 0, 0, s * ca, sa, 0, 0, s * sa, -ca};
    } else {
      G.assign(size_t(u) * size_t(u), 0.0);
      const orienta_modelo_info* m = orienta_modelo(t.modelo);
      for (int i = 0; i < u; ++i) {
        bool impar = false;
        if (t.modelo == ORIENTA_AFIN2D) impar = i == 3 || i == 5;
        if (m->num_terminos > 0 && i >= 2) {
          const int termino = (i - 2) % m->num_terminos;
          impar = impar_en_fila(termino);
        }
        G[size_t(i) * size_t(u) + size_t(i)] = impar ? -1.0 : 1.0;
      }
    }
    std::vector<double> r(size_t(v) * size_t(v), 0.0);
    for (int a = 0; a < v; ++a)
      for (int b = 0; b < v; ++b) {
        double x = 0.0;
        for (int i = 0; i < u; ++i)
          for (int k = 0; k < u; ++k)
            x += G[size_t(a) * size_t(u) + size_t(i)] * c[size_t(i) * size_t(u) + size_t(k)] *
                 G[size_t(b) * size_t(u) + size_t(k)];
        r[size_t(a) * size_t(v) + size_t(b)] = x;
      }
    c = std::move(r);
  }
  Json filas = Json::array();
  for (size_t i = 0; i < size_t(v); ++i)
    filas.push_back(std::vector<double>(c.begin() + long(i * size_t(v)), c.begin() + long((i + 1) * size_t(v))));
  registro["parameter_covariance"] = filas;
  registro["sigma0"] = e.sigma0;
  registro["redundancy"] = e.redundancia;
}

orienta_transformacion registro_de_json(const Json& documento, const std::string& fichero, Precision* p) {
  // A fitting command's whole document, or the bare transform object.
  const Json& j = documento.is_object() && documento.contains("transform") ? documento.at("transform") : documento;
  if (!j.is_object())
    mal(fichero, nullptr, "no 'transform' object with a 'model' (write one with a fitting command's --json)");
  const orienta_modelo_info& m = modelo_nombrado(j, fichero);
  const int d = m.dim;
  if (j.contains("dim") && j.at("dim") != d)
    mal(fichero, "dim",
        std::string(orienta_estado_texto(ORIENTA_E_MODELO)) + " (" + m.nombre + ": " + std::to_string(d) + ")");
  orienta_transformacion t;
  std::memset(&t, 0, sizeof t);
  t.modelo = m.modelo;
  t.dim = d;
  for (size_t i = 0; i < 3; ++i) t.matriz[4 * i] = t.rotacion[4 * i] = 1.0;
  t.escala = kNaN;
  // Every field the record may hold is read when present, needed by the model or not: a value the
  // model has no place for is for the validator to refuse, not for the reader to drop.
  struct Campo {
    const char* nombre;
    std::function<void(const Json&)> lee;
  };
  const Campo campos[] = {
      {"source_centroid",
       [&](const Json& v) { lista(v, fichero, "source_centroid", size_t(d), size_t(d), t.centro_origen); }},
      {"target_centroid",
       [&](const Json& v) { lista(v, fichero, "target_centroid", size_t(d), size_t(d), t.centro_destino); }},
      {"matrix", [&](const Json& v) { matriz(v, fichero, "matrix", d, t.matriz); }},
      {"scale", [&](const Json& v) { lista(Json::array({v}), fichero, "scale", 1, 1, &t.escala); }},
      {"rotation", [&](const Json& v) { matriz(v, fichero, "rotation", d, t.rotacion); }},
      {"angles",
       [&](const Json& v) {
         const size_t k = size_t(m.num_angulos);
         lista(v, fichero, "angles", k, k == 0 ? 3 : k, t.angulos);
       }},
      {"coef_x", [&](const Json& v) { lista(v, fichero, "coef_x", 9, 9, t.coef_x); }},
      {"coef_y", [&](const Json& v) { lista(v, fichero, "coef_y", 9, 9, t.coef_y); }},
  };
  for (const Campo& c : campos)
    if (j.contains(c.nombre)) c.lee(j.at(c.nombre));
  for (const char* const* c = m.campos; *c; ++c)
    if (!j.contains(*c))
      mal(fichero, *c, std::string(orienta_estado_texto(ORIENTA_E_REG_FALTA)) + " (" + m.nombre + ")");
  const char* campo = nullptr;
  const int32_t estado = orienta_valida(&t, &campo);
  if (estado != ORIENTA_OK) mal(fichero, campo, orienta_estado_texto(estado));
  convencion(j, fichero, m.modelo);
  if (p) lee_precision(j, fichero, m, *p);
  return t;
}

orienta_transformacion de_filas_abajo(const orienta_transformacion& t) {
  // Fitted to (column, -row), the map of (column, row) is the same map after negating y: the
  // second column of the linear part, every term odd in dy and the centre's y change sign. A
  // similarity then turns the image over, which only the affine record can say.
  orienta_transformacion r = t;
  r.centro_origen[1] = -t.centro_origen[1];
  r.matriz[1] = -t.matriz[1], r.matriz[4] = -t.matriz[4];
  for (size_t k = 0; k < 9; ++k)
    if (impar_en_fila(int(k))) r.coef_x[k] = -t.coef_x[k], r.coef_y[k] = -t.coef_y[k];
  if (t.modelo == ORIENTA_HELMERT2D) {
    r.modelo = ORIENTA_AFIN2D;
    r.escala = std::numeric_limits<double>::quiet_NaN();
    std::fill(std::begin(r.rotacion), std::end(r.rotacion), 0.0);
    r.rotacion[0] = r.rotacion[4] = r.rotacion[8] = 1.0;
    std::fill(std::begin(r.angulos), std::end(r.angulos), 0.0);
  }
  return r;
}

Json json_de_registro(const orienta_transformacion& t) {
  const orienta_modelo_info& m = modelo(t.modelo);
  const int d = t.dim;
  auto vector = [](const double* p, int n) {
    Json r = Json::array();
    for (int k = 0; k < n; ++k) r.push_back(p[k]);
    return r;
  };
  Json j = {{"model", m.nombre}};
  if (m.num_terminos > 0) j["order"] = m.orden;
  j["dim"] = d;
  j["source_centroid"] = vector(t.centro_origen, d);
  j["target_centroid"] = vector(t.centro_destino, d);
  Json M = Json::array(), R = Json::array();
  for (size_t i = 0; i < size_t(d); ++i) {
    M.push_back(vector(t.matriz + 3 * i, d));
    R.push_back(vector(t.rotacion + 3 * i, d));
  }
  j["matrix"] = M;
  j["scale"] = t.escala;  // NaN for the affine and polynomials, written as null
  j["rotation"] = R;
  j["angles"] = vector(t.angulos, m.num_angulos);
  if (const char* c = orienta_convencion(t.modelo)) j["convention"] = c;
  if (m.num_terminos > 0) {
    j["coef_x"] = vector(t.coef_x, 9);
    j["coef_y"] = vector(t.coef_y, 9);
  }
  return j;
}

// ---------------------------------------------------------------------------------------------
// Reading only the transform of a document that may hold a million residuals after it.

namespace {

// Builds the JSON values it is handed, for the parts of the document being kept.
// A JSON value's move is noexcept; the check does not see through its assertion.
// NOLINTNEXTLINE(bugprone-exception-escape)
class Constructor {
 public:
  Json raiz;
  void valor(Json v) {
    if (pila_.empty()) {
      raiz = std::move(v);
    } else if (pila_.back()->is_array()) {
      pila_.back()->push_back(std::move(v));
    } else {
      (*pila_.back())[clave_] = std::move(v);
    }
  }
  void abre(Json vacio) {
    valor(std::move(vacio));
    Json* nuevo = pila_.empty() ? &raiz : pila_.back()->is_array() ? &pila_.back()->back() : &(*pila_.back())[clave_];
    pila_.push_back(nuevo);
  }
  void cierra() { pila_.pop_back(); }
  void clave(std::string k) { clave_ = std::move(k); }

 private:
  std::vector<Json*> pila_;
  std::string clave_;
};

// SAX events: at the top level the record's own keys are kept (a bare transform object), and
// everything under "transform"; the parse stops as soon as that object closes.
// NOLINTNEXTLINE(bugprone-exception-escape): as for Constructor
class Lectura : public nlohmann::json_sax<Json> {
 public:
  Constructor raiz, transformacion;
  bool hay_transformacion = false, terminada = false;
  std::size_t posicion = 0;
  std::string motivo;

  bool null() override { return escalar(Json(nullptr)); }
  bool boolean(bool v) override { return escalar(Json(v)); }
  bool number_integer(number_integer_t v) override { return escalar(Json(v)); }
  bool number_unsigned(number_unsigned_t v) override { return escalar(Json(v)); }
  bool number_float(number_float_t v, const string_t&) override { return escalar(Json(v)); }
  bool string(string_t& v) override { return escalar(Json(v)); }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return abre(Json::object()); }
  bool start_array(std::size_t) override { return abre(Json::array()); }
  bool end_object() override { return cierra(); }
  bool end_array() override { return cierra(); }
  bool key(string_t& k) override {
    if (profundidad_ == 1) {
      clave_raiz_ = k;
      en_transformacion_ = k == "transform";
      if (guardada(k)) raiz.clave(k);
    } else if (Constructor* c = destino()) {
      c->clave(k);
    }
    return true;
  }
  bool parse_error(std::size_t pos, const std::string&, const nlohmann::detail::exception& e) override {
    posicion = pos;
    motivo = e.what();
    return false;
  }

 private:
  // Where a value starting now goes: the whole document's root, everything under "transform", or
  // the top-level members that a bare transform object has.
  Constructor* destino() {
    if (profundidad_ == 0) return &raiz;
    if (en_transformacion_) return &transformacion;
    if (guardada(clave_raiz_)) return &raiz;
    return nullptr;
  }
  static bool guardada(const std::string& k) {
    static const char* const kCampos[] = {"model", "order",    "dim",    "source_centroid", "target_centroid", "matrix",
                                          "scale", "rotation", "angles", "coef_x",          "coef_y", "convention",
                                          "parameter_covariance", "redundancy", "sigma0"};
    return std::any_of(std::begin(kCampos), std::end(kCampos), [&](const char* c) { return k == c; });
  }
  bool escalar(Json v) {
    if (profundidad_ == 1 && en_transformacion_) hay_transformacion = true;
    if (Constructor* c = destino()) c->valor(std::move(v));
    return true;
  }
  bool abre(Json vacio) {
    if (profundidad_ == 1 && en_transformacion_) hay_transformacion = true;
    if (Constructor* c = destino()) c->abre(std::move(vacio));
    ++profundidad_;
    return true;
  }
  bool cierra() {
    --profundidad_;
    if (Constructor* c = destino()) c->cierra();
    if (profundidad_ == 1 && en_transformacion_) {
      terminada = true;
      return false;  // the rest of the document is not needed
    }
    return true;
  }
  int profundidad_ = 0;
  std::string clave_raiz_;
  bool en_transformacion_ = false;
};

// Line and character column of a byte offset of the document.
std::pair<uint64_t, uint64_t> linea_columna(std::istream& f, std::size_t posicion) {
  f.clear();
  f.seekg(0);
  uint64_t linea = 1, col = 1;
  char c;
  for (std::size_t k = 0; k + 1 < posicion && f.get(c); ++k) {
    if (c == '\n') {
      ++linea, col = 1;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++col;
    }
  }
  return {linea, col};
}

}  // namespace

orienta_transformacion lee_registro(const std::string& fichero, Precision* p) {
  std::ifstream f(fichero, std::ios::binary);
  if (!f) throw Fallo(fichero + ": cannot open: " + std::strerror(errno));
  return lee_registro(f, fichero, p);
}

orienta_transformacion lee_registro(std::istream& f, const std::string& fichero, Precision* p) {
  Lectura l;
  const bool completa = Json::sax_parse(f, &l);
  if (!completa && !l.terminada) {
    if (f.bad()) throw Fallo(fichero + ": cannot read: " + std::strerror(errno));
    // nlohmann says "… at line L, column C: what": keep what, and say where in our own terms.
    std::string que = l.motivo;
    const size_t k = que.find(": ", que.find("column"));
    if (k != std::string::npos) que = que.substr(k + 2);
    const auto [linea, col] = linea_columna(f, l.posicion);
    error_en(fichero, linea, col, "not a valid JSON document: " + que);
  }
  if (l.hay_transformacion) return registro_de_json(l.transformacion.raiz, fichero, p);
  return registro_de_json(l.raiz.raiz, fichero, p);
}

}  // namespace orienta::cli
