// The report of a fit, as a table or as one JSON document. What each model prints around the
// common statistics is one table per model (rows of label, JSON key and values); everything else,
// the parameters with their deviations, the statistics and the residuals, is the same code for all.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "cli.hpp"
#include "orienta.h"

namespace orienta::cli {

std::string etiqueta_id(const Conjunto& c, size_t k) {
  return c.ids[k].empty() ? "line " + std::to_string(c.lineas[k]) : id_visible(c.ids[k]);
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---------------------------------------------------------------------------------------------
// Parameters as printed: the library names them; how each prints follows from what it is.

struct Parametro {
  std::string clave;     // JSON key
  std::string etiqueta;  // text label, with its unit
  double factor;         // from the library's unit (radians, unitless scale)
  bool es_escala;        // printed as (s − 1)·10⁶ ppm
  int decimales;         // in the table; -1: scientific
};

// Parts per million of a scale far from 1 (pixels to metres, feet to metres) say nothing: such a
// scale prints as the factor it is.
bool escala_factor(double s) { return std::fabs(s - 1.0) > 0.01; }

// `factor`: the scale as a factor in the table (the JSON keeps scale_ppm, and "scale" elsewhere).
std::vector<Parametro> parametros_de(int32_t codigo, Unidad u, bool factor = false) {
  std::vector<Parametro> r;
  if (codigo == 0) return r;
  const orienta_modelo_info& m = modelo(codigo);
  const std::string un = std::string(" (") + nombre_unidad(u) + ")";
  for (int k = 0; k < m.num_parametros; ++k) {
    const std::string n = m.parametros[k];
    if (n == "tx" || n == "ty" || n == "tz" || n == "x0" || n == "y0")
      r.push_back({n, n, 1, false, 4});
    else if (n == "omega" || n == "phi" || n == "kappa" || n == "rotation")
      r.push_back({n, n + un, en_unidad(1.0, u), false, decimales_angulo(u)});
    else if (n == "scale")
      r.push_back(factor ? Parametro{"scale", "scale", 1, false, 12} : Parametro{"scale_ppm", "scale (ppm)", 1e6, true, 4});
    else
      r.push_back({n, n, 1, false, m.num_terminos > 0 ? -1 : 12});
  }
  return r;
}

void en_unidades(const Parametro& p, double valor, double desv, double& x, double& s) {
  x = p.es_escala ? (valor - 1.0) * 1e6 : valor * p.factor;
  s = desv * p.factor;
}

std::string cientifico(double x, int cifras) {
  if (!std::isfinite(x)) return corto(x);
  char b[64];
  const auto r = std::to_chars(b, b + sizeof b, x == 0 ? 0.0 : x, std::chars_format::scientific, cifras);
  return std::string(b, r.ptr);
}

std::string con_decimales(double x, int d) {
  return d == kSexagesimal ? sexagesimal(x) : d < 0 ? cientifico(x, 6) : fijo(x, d);
}

Json vector_json(const double* p, int n) {
  Json r = Json::array();
  for (int k = 0; k < n; ++k) r.push_back(p[k]);
  return r;
}

// ---------------------------------------------------------------------------------------------
// What each model prints around the statistics

struct Fila {
  std::string etiqueta;  // text label; empty: JSON only
  const char* clave;     // JSON key; null: text only
  std::vector<double> valores;
  int decimales;         // -1: scientific, 14 digits
  std::string sufijo{};  // text after the values
  bool lista = false;    // JSON: an array even for one value
};

struct Seccion {
  std::string nota;  // its heading
  std::vector<Fila> filas;
};

// A JSON value's move is noexcept; the check does not see through its assertion.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct Vista {
  std::string prefijo, titulo, formula;  // "orienta poly2d: PREFIJO n pairs from F (TITULO)"
  int ancho = 16;                        // of a value column
  Json json;                             // model-specific JSON keys that are not rows (strings, codes)
  std::vector<Fila> antes;               // before the statistics
  std::vector<Seccion> despues;          // after them
};

const char* metodo(const Opciones& o, const Ajuste& a) {
  return !a.descrito  ? "least-squares adjustment"
         : o.flotante ? "described, single precision"
                      : "described, double precision";
}

Vista vista_3d(const Opciones& o, const Ajuste& a) {
  const orienta_transformacion& t = a.t;
  double T[3];
  for (int i = 0; i < 3; ++i) T[i] = a.valores.size() > 2 ? a.valores[size_t(i)] : kNaN;
  const std::string un = nombre_unidad(o.unidad);
  const int dec = decimales_angulo(o.unidad);
  const double ang[3] = {en_unidad(t.angulos[0], o.unidad), en_unidad(t.angulos[1], o.unidad),
                         en_unidad(t.angulos[2], o.unidad)};
  const double s = t.escala, ppm = (s - 1.0) * 1e6;
  Vista v;
  v.titulo = std::string(metodo(o, a)) + (a.descrito ? (a.general ? ", general start" : ", planar start") : "");
  v.formula = "target = T + scale*R*source,  R = Rz(kappa)*Ry(phi)*Rx(omega)";
  v.json = {{"start", a.descrito ? (a.general ? "general" : "planar") : "closed form"},
            {"status", a.descrito ? a.estado3d : 0}};
  v.antes = {{"", "source_centroid", {t.centro_origen, t.centro_origen + 3}, 4},
             {"", "target_centroid", {t.centro_destino, t.centro_destino + 3}, 4},
             {"translation T", "translation", {T, T + 3}, 4},
             {"omega phi kappa (" + un + ")", nullptr, {ang, ang + 3}, dec},
             {"scale",
              "scale",
              {s},
              12,
              a.modelo == ORIENTA_RIGIDO3D ? std::string("   (held at 1: --rigid)")
              : escala_factor(s)             ? std::string()
                                             : "   (" + fijo(ppm, 4) + " ppm)"},
             {"", "scale_ppm", {ppm}, 4},
             {"", "rotation", {t.rotacion, t.rotacion + 9}, 12}};
  v.json["angle_unit"] = o.unidad == Unidad::dms ? "deg" : un;  // dms is the table's way of writing degrees
  v.json["omega"] = ang[0], v.json["phi"] = ang[1], v.json["kappa"] = ang[2];
  Seccion centrada{"centred form: target = target centroid + scale*R*(source - source centroid)",
                   {{"source centroid", nullptr, {t.centro_origen, t.centro_origen + 3}, 4},
                    {"target centroid", nullptr, {t.centro_destino, t.centro_destino + 3}, 4}}};
  for (size_t i = 0; i < 3; ++i)
    centrada.filas.push_back(
        {i == 0 ? "rotation R, by rows" : " ", nullptr, {t.rotacion + 3 * i, t.rotacion + 3 * i + 3}, 12});
  v.despues = {centrada};
  return v;
}

Vista vista_2d(const Opciones& o, const Ajuste& a) {
  const orienta_transformacion& t = a.t;
  const double* co = t.centro_origen;
  const double* cd = t.centro_destino;
  const double s = t.escala, ppm = (s - 1.0) * 1e6;
  const double T[2] = {a.valores.size() > 1 ? a.valores[0] : kNaN, a.valores.size() > 1 ? a.valores[1] : kNaN};
  Hel2Dg_dbl g{co[0], co[1], cd[0], cd[1], s, t.rotacion[0], t.rotacion[3]};
  const Hel2D_dbl l = Hel2D___Hel2Dg_dbl(&g);
  const double plano[2] = {l.tx, l.ty};
  const std::string un = nombre_unidad(o.unidad);
  const double ang = en_unidad(t.angulos[0], o.unidad);
  Vista v;
  v.titulo = metodo(o, a);
  v.formula = "target = T + scale*R*source,  R = [cos -sin; sin cos] of the rotation";
  v.antes = {{"", "source_centroid", {co, co + 2}, 4},
             {"", "target_centroid", {cd, cd + 2}, 4},
             {"translation T", "translation", {T, T + 2}, 4, "", true},
             {"rotation (" + un + ")", "rotation", {ang}, decimales_angulo(o.unidad)},
             {"scale",
              "scale",
              {s},
              12,
              a.modelo == ORIENTA_RIGIDO3D ? std::string("   (held at 1: --rigid)")
              : escala_factor(s)             ? std::string()
                                             : "   (" + fijo(ppm, 4) + " ppm)"},
             {"", "scale_ppm", {ppm}, 4},
             {"", "cos", {t.rotacion[0]}, 12},
             {"", "sin", {t.rotacion[3]}, 12},
             {"", "plain_t", {plano, plano + 2}, 4, "", true}};
  v.json["angle_unit"] = o.unidad == Unidad::dms ? "deg" : un;  // dms is the table's way of writing degrees
  v.despues = {{"plain form: target = scale*R*(source - t)", {{"t", nullptr, {plano, plano + 2}, 4}}},
               {"centred form: target = target centroid + scale*R*(source - source centroid)",
                {{"source centroid", nullptr, {co, co + 2}, 4},
                 {"target centroid", nullptr, {cd, cd + 2}, 4},
                 {"cos, sin", nullptr, {t.rotacion[0], t.rotacion[3]}, 12}}}};
  return v;
}

Vista vista_poli(const Opciones& o, const Ajuste& a) {
  static const char* const kTerminos[9] = {"dx", "dy", "dx^2", "dx*dy", "dy^2", "dx^3", "dx^2*dy", "dx*dy^2", "dy^3"};
  const orienta_transformacion& t = a.t;
  // The record of the described polynomial, read off the transformation whichever estimated it.
  double cx[9], cy[9];
  if (t.modelo == ORIENTA_POLI2D_2 || t.modelo == ORIENTA_POLI2D_3) {
    std::copy(t.coef_x, t.coef_x + 9, cx);
    std::copy(t.coef_y, t.coef_y + 9, cy);
  } else {
    std::fill(cx, cx + 9, 0.0);
    std::fill(cy, cy + 9, 0.0);
    cx[0] = t.matriz[0], cx[1] = t.matriz[1], cy[0] = t.matriz[3], cy[1] = t.matriz[4];
  }
  const int usados = o.tipo >= 7 ? 9 : o.tipo == 6 ? 5 : 2;
  Vista v;
  v.prefijo = std::string(nombre_tipo(o.tipo)) + " (kind code " + std::to_string(o.tipo) + "), ";
  v.titulo = metodo(o, a);
  v.formula = "x' = x0 + sum cx[k]*term k,  y' = y0 + sum cy[k]*term k,  dx = x - xc, dy = y - yc";
  v.ancho = 22;
  v.json = {{"kind", nombre_tipo(o.tipo)}, {"kind_code", o.tipo}};
  v.antes = {{"(xc, yc)", "source_centroid", {t.centro_origen, t.centro_origen + 2}, 4},
             {"(x0, y0)", "target_origin", {t.centro_destino, t.centro_destino + 2}, 4},
             {"", "coef_x", {cx, cx + 9}, -1},
             {"", "coef_y", {cy, cy + 9}, -1}};
  v.antes.push_back({"term", nullptr, {}, 0, " " + rellena("cx", 22) + " " + rellena("cy", 22)});
  for (int k = 0; k < usados; ++k) v.antes.push_back({kTerminos[k], nullptr, {cx[k], cy[k]}, -1});
  if (std::isfinite(a.e.condicion))
    v.antes.push_back({"condition number of the design", nullptr, {}, 0, " " + fijo(a.e.condicion, 1)});
  v.antes.push_back({"", "condition", {a.e.condicion}, 1});
  return v;
}

Vista vista(Orden m, const Opciones& o, const Ajuste& a) {
  switch (m) {
    case Orden::helmert3d: return vista_3d(o, a);
    case Orden::helmert2d: return vista_2d(o, a);
    default: return vista_poli(o, a);
  }
}

// Where the threshold came from, when --snoop-alpha set it.
std::string alfa_texto(const Ajuste& a) {
  return ": Sidak, family-wise alpha " + corto(a.alfa) + " over " + std::to_string(a.n * size_t(a.dim)) + " tests";
}

std::string valor_texto(double x, int decimales) {
  return decimales == kSexagesimal ? sexagesimal(x) : decimales < 0 ? cientifico(x, 14) : fijo(x, decimales);
}

void imprime_filas(const std::vector<Fila>& filas, int ancho) {
  for (const Fila& f : filas) {
    if (f.etiqueta.empty()) continue;
    std::string linea = "  " + (f.valores.empty() && f.sufijo.empty() ? f.etiqueta : rellena(f.etiqueta, 22, false));
    for (double x : f.valores) linea += " " + rellena(valor_texto(x, f.decimales), size_t(ancho));
    linea += f.sufijo;
    std::printf("%s\n", linea.c_str());
  }
}

void json_filas(const std::vector<Fila>& filas, Json& j) {
  for (const Fila& f : filas) {
    if (!f.clave) continue;
    j[f.clave] =
        f.valores.size() == 1 && !f.lista ? Json(f.valores[0]) : vector_json(f.valores.data(), int(f.valores.size()));
  }
}

// ---------------------------------------------------------------------------------------------
// The statistics, the same for every model

// Appends r to standard output once it has grown, so that a million residuals never sit in memory
// as text.
void vacia_si_lleno(std::string& r, bool siempre = false) {
  if (!siempre && r.size() < (size_t(1) << 20)) return;
  if (std::fwrite(r.data(), 1, r.size(), stdout) != r.size()) throw Fallo("cannot write the output");
  r.clear();
}

// ---------------------------------------------------------------------------------------------
// One residual row, written straight into the output text: a million of them are most of what a
// fit prints, so no row builds a string or a JSON value of its own.

bool ascii_simple(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7F;
  });
}

// The display width of a pair's label: its byte count for a printable ASCII id.
size_t ancho_id(const Conjunto& c, size_t k) {
  const std::string_view id = c.ids[k];
  if (id.empty()) {
    char b[24];
    return 5 + size_t(std::to_chars(b, b + sizeof b, c.lineas[k]).ptr - b);  // "line N"
  }
  return ascii_simple(id) ? id.size() : ancho_visible(etiqueta_id(c, k));
}

// Baarda's internal reliability of a coordinate: the smallest bias that data snooping finds with
// the stated power, δ0·σ/√r, σ the a priori σ of the coordinate (σ0 without); NaN where r is not
// known, and for a coordinate the fit does not control (r < 1e-10).
double mdb(const Ajuste& a, const Filas& f, size_t k, int i) {
  const double r = f.r ? f.r[size_t(f.c.dim) * k + size_t(i)] : kNaN;
  if (!(r >= 1e-10)) return kNaN;
  double s = a.e.sigma0;
  if (a.e.con_sigma) {
    const int por = f.c.sigmas_por_par;
    s = f.c.sigma[size_t(por) * k + (por == 2 && i == 2 ? 1 : 0)];
  }
  return a.delta0() * s / std::sqrt(r);
}

constexpr double kSinControl = 0.1;  // r below it: a blunder there hardly shows in its residual

// The numbers of a row: nine at most (3D: v, |v|, w, r, MDB), each at most kFijoMaximo characters
// and its blanks, then the flags.
struct Linea {
  char b[9 * (kFijoMaximo + 12) + 64];
  size_t n = 0;
  void pon(const char* s) {
    const size_t m = std::strlen(s);
    std::memcpy(b + n, s, m);
    n += m;
  }
  // x right-aligned in `ancho` columns (the blank before it included), as fijo() writes it.
  void fijo(double x, int decimales, size_t ancho) {
    char t[kFijoMaximo];
    const size_t m = fijo_en(t, x, decimales);
    const size_t hueco = m < ancho ? ancho - m : 1;
    std::memset(b + n, ' ', hueco);
    std::memcpy(b + n + hueco, t, m);
    n += hueco + m;
  }
};

void fila_texto(std::string& r, const Filas& f, size_t k, int dim, size_t ancho, const Ajuste& a) {
  const double umbral = a.umbral;
  r += "  ";
  const std::string_view id = f.c.ids[k];
  if (!id.empty() && !ascii_simple(id)) {
    r += rellena(etiqueta_id(f.c, k), ancho, false);  // padded by display width
  } else {
    const size_t desde = r.size();  // a byte a column
    if (id.empty()) {
      char b[24];
      r.append("line ").append(b, std::to_chars(b, b + sizeof b, f.c.lineas[k]).ptr);
    } else {
      r.append(id);
    }
    if (r.size() - desde < ancho) r.append(ancho - (r.size() - desde), ' ');
  }
  // The numbers go into one buffer of the line's size and join the output in one append.
  Linea l;
  const double* v = f.v + size_t(dim) * k;
  const double* w = f.w + size_t(dim) * k;
  double q = 0.0, wmax = 0.0;
  for (int i = 0; i < dim; ++i) {
    l.fijo(v[i], 4, 11);
    q += v[i] * v[i];
  }
  l.fijo(std::sqrt(q), 4, 11);
  for (int i = 0; i < dim; ++i) {
    if (std::isfinite(w[i])) {
      l.fijo(w[i], 2, 8);
      wmax = std::max(wmax, std::fabs(w[i]));
    } else {
      l.pon("       -");
    }
  }
  // The weakest coordinate of the pair: its smallest redundancy number and largest MDB.
  double rmin = INFINITY, mmax = 0.0;
  for (int i = 0; i < dim; ++i) {
    const double ri = f.r ? f.r[size_t(dim) * k + size_t(i)] : kNaN;
    rmin = std::min(rmin, std::isnan(ri) ? -1.0 : ri);
    const double m = mdb(a, f, k, i);
    mmax = std::isnan(m) || std::isnan(mmax) ? kNaN : std::max(mmax, m);
  }
  if (rmin >= 0.0)
    l.fijo(rmin, 2, 6);
  else
    l.pon("     -");
  if (std::isfinite(mmax))
    l.fijo(mmax, 4, 10);
  else
    l.pon("         -");
  if (f.excluido && f.excluido[k]) {
    l.pon("  excluded");
  } else {
    if (wmax > umbral) l.pon("  *");
    if (rmin >= 0.0 && rmin < kSinControl) l.pon("  uncontrolled");
  }
  l.pon("\n");
  r.append(l.b, l.n);
}

void anade_corto(std::string& r, double x) {
  if (!std::isfinite(x)) {
    r += "null";  // JSON has no infinities or NaN
    return;
  }
  char b[32];
  const auto e = std::to_chars(b, b + sizeof b, x);
  r.append(b, e.ptr);
}

// {"id":…,"line":…,"v":[…],"w":[…],"excluded":…}, as escribe_json writes that object.
void fila_json(std::string& r, const Filas& f, size_t k, const Ajuste& a) {
  const int dim = f.c.dim;
  const std::string_view id = f.c.ids[k];
  r += "{\"id\":";
  if (id.empty())
    r += "null";
  else if (ascii_simple(id) && id.find_first_of("\"\\") == std::string_view::npos)
    r.append("\"").append(id).append("\"");
  else
    escribe_json(Json(id_json(id)), r);
  r += ",\"line\":";
  char b[24];
  r.append(b, std::to_chars(b, b + sizeof b, f.c.lineas[k]).ptr);
  for (const auto& [clave, x] : {std::pair<const char*, const double*>{",\"v\":[", f.v}, {"],\"w\":[", f.w}}) {
    r += clave;
    for (int i = 0; i < dim; ++i) {
      if (i > 0) r += ',';
      anade_corto(r, x[size_t(dim) * k + size_t(i)]);
    }
  }
  r += "],\"r\":[";
  for (int i = 0; i < dim; ++i) {
    if (i > 0) r += ',';
    anade_corto(r, f.r ? f.r[size_t(dim) * k + size_t(i)] : kNaN);
  }
  r += "],\"mdb\":[";
  for (int i = 0; i < dim; ++i) {
    if (i > 0) r += ',';
    anade_corto(r, mdb(a, f, k, int(i)));
  }
  r += f.excluido && f.excluido[k] ? "],\"excluded\":true}" : "],\"excluded\":false}";
}

const char* nombre_robusto(int32_t metodo) {
  return metodo == ORIENTA_ROBUSTO_MSAC ? "msac" : metodo == ORIENTA_ROBUSTO_HUBER ? "huber" : "danish";
}

// What the robust search did, and the pairs it left out (MSAC) or weighed down (IRLS).
void texto_robusto(const Ajuste& a, const Opciones& o) {
  const orienta_robusto_info& r = a.robusto;
  const size_t n = a.dentro.size();
  std::printf("  robust (%s, seed %llu): %u of %zu pairs kept, threshold %s%s", nombre_robusto(o.robusto),
              static_cast<unsigned long long>(o.semilla), r.inliers, n, corto(r.umbral).c_str(),
              r.umbral_de_sigma ? " on |v/sigma|" : "");
  if (r.iteraciones > 0) std::printf(", %u samples (%u degenerate)", r.iteraciones, r.degeneradas);
  if (o.robusto != ORIENTA_ROBUSTO_MSAC)
    std::printf(", %u reweighting steps%s", r.iteraciones_irls, r.convergido ? "" : " (not settled)");
  std::printf("\n");
  if (o.robusto == ORIENTA_ROBUSTO_MSAC) return;
  std::string bajos;
  size_t cuantos = 0;
  for (size_t k = 0; k < n; ++k)
    if (a.pesos[k] < 0.5 && cuantos++ < 8) bajos += " " + std::to_string(k + 1) + ":" + fijo(a.pesos[k], 3);
  if (cuantos > 0)
    std::printf("  weights below 0.5 (pair:weight): %s%s\n", bajos.c_str(),
                cuantos > 8 ? (" and " + std::to_string(cuantos - 8) + " more").c_str() : "");
}

void texto_estadisticas(const Ajuste& a, const Opciones& o, const Recorrido& pares) {
  const std::vector<Parametro> ps = parametros_de(a.modelo, o.unidad, escala_factor(a.t.escala));
  const size_t u = std::min(ps.size(), a.valores.size());
  if (u > 0) {
    std::printf("\n  %s %20s %16s\n", rellena("parameter", 16, false).c_str(), "value", "sd");
    for (size_t k = 0; k < u; ++k) {
      double x, s;
      en_unidades(ps[k], a.valores[k], a.e.desv[k], x, s);
      // Padded by what shows, not by bytes: a dms angle holds a two-byte degree sign.
      std::printf("  %s %s %s\n", rellena(ps[k].etiqueta, 16, false).c_str(),
                  rellena(con_decimales(x, ps[k].decimales), 20, true).c_str(),
                  rellena(con_decimales(s, ps[k].decimales), 16, true).c_str());
    }
  }
  std::printf("\n  redundancy %d, sigma0 %s%s\n", a.e.redundancia, fijo(a.e.sigma0, 4).c_str(),
              a.e.con_sigma ? " (unitless: residuals over their a priori sigma)" : " (metres)");
  if (a.e.reflejo) std::printf("  mirrored input: a reflection fits these pairs better than any rotation\n");
  if (a.e.con_sigma)
    std::printf("  global test: chi2 %s with %d degrees of freedom, p = %s: %s at the 5%% level\n",
                fijo(a.e.chi2, 3).c_str(), a.e.redundancia, fijo(a.e.chi2_p, 4).c_str(),
                a.e.chi2_p >= 0.05 ? "passes" : "fails");
  if (!a.dentro.empty()) texto_robusto(a, o);
  if (a.descrito && a.modelo != 0)
    std::printf("  sum of squared residuals %s; the least-squares optimum %s\n", corto(a.vtpv).c_str(),
                corto(a.vtpv_optimo).c_str());
  if (u > 1 && a.e.usados > 0) {
    std::printf("\n  correlations\n  %s", rellena("", 12, false).c_str());
    for (size_t k = 0; k < u; ++k) std::printf(" %9s", ps[k].clave.substr(0, 9).c_str());
    std::printf("\n");
    const size_t np = size_t(a.e.num_parametros);
    for (size_t i = 0; i < u; ++i) {
      std::printf("  %s", rellena(ps[i].clave, 12, false).c_str());
      for (size_t k = 0; k < u; ++k) {
        const double r =
            a.e.covarianza[i * np + k] / std::sqrt(a.e.covarianza[i * np + i] * a.e.covarianza[k * np + k]);
        std::printf(" %9s", fijo(r, 3).c_str());
      }
      std::printf("\n");
    }
  }
  // Residual table: ids padded by display width, the widest id sets the column.
  static const char* const ejes[3] = {"vx", "vy", "vz"};
  static const char* const wejes[3] = {"wx", "wy", "wz"};
  const int dim = a.dim;
  const size_t ancho = a.resumen.ancho;
  std::printf("\n  residuals v = transformed source - target; w standardized (%s), * where |w| > %s%s\n",
              a.e.con_sigma ? "Baarda's, from the a priori sigma" : "Pope's tau, from sigma0",
              fijo(a.umbral, 2).c_str(), a.alfa > 0 ? (" (" + alfa_texto(a).substr(2) + ")").c_str() : "");
  std::printf(
      "  r redundancy number and MDB the smallest bias that test finds with 80%% power (delta0 %s), of\n"
      "  the weakest coordinate; uncontrolled where r < %s: a blunder there hardly shows\n  %s",
      fijo(a.delta0(), 2).c_str(), fijo(kSinControl, 1).c_str(), rellena("id", ancho, false).c_str());
  for (int i = 0; i < dim; ++i) std::printf(" %10s", ejes[i]);
  std::printf(" %10s", "|v|");
  for (int i = 0; i < dim; ++i) std::printf(" %7s", wejes[i]);
  std::printf(" %5s %9s\n", "r", "MDB");
  std::string r;
  std::vector<std::string> fuera;
  pares([&](const Filas& f) {
    for (size_t k = 0; k < f.c.n(); ++k) {
      fila_texto(r, f, k, dim, ancho, a);
      if (f.excluido && f.excluido[k]) fuera.push_back(etiqueta_id(f.c, k));
      vacia_si_lleno(r);
    }
  });
  vacia_si_lleno(r, true);
  std::printf("  %s", rellena("RMS of |v|", ancho, false).c_str());
  for (int i = 0; i < dim; ++i) std::printf(" %10s", "");
  std::printf(" %10s", fijo(a.resumen.rms(0), 4).c_str());
  if (dim == 3)
    std::printf("   plan %s, height %s", fijo(a.resumen.rms(1), 4).c_str(), fijo(a.resumen.rms(2), 4).c_str());
  std::printf("%s\n", a.e.excluidos > 0 ? " (excluded pairs left out)" : "");
  if (!fuera.empty()) {
    std::printf("\n  excluded by data snooping (|w| > %s%s), residuals against the final fit:",
                fijo(a.umbral, 2).c_str(), a.alfa > 0 ? alfa_texto(a).c_str() : "");
    for (const std::string& id : fuera) std::printf(" %s", id.c_str());
    std::printf("\n");
  }
}

void json_estadisticas(Json& j, const Ajuste& a, const Opciones& o) {
  const std::vector<Parametro> ps = parametros_de(a.modelo, o.unidad);
  j["used"] = a.e.usados;
  j["redundancy"] = a.e.redundancia;
  j["sigma0"] = a.e.sigma0;
  j["vtpv"] = a.e.vtpv;
  if (a.descrito && a.modelo != 0) {
    j["optimum_vtpv"] = a.vtpv_optimo;
    j["rounding_bound"] = a.cota;
  }
  if (a.e.con_sigma) {
    j["chi2"] = a.e.chi2;
    j["chi2_p"] = a.e.chi2_p;
  }
  j["mirrored"] = a.e.reflejo != 0;
  j["reliability"] = {{"power", 0.8}, {"delta0", a.delta0()}, {"uncontrolled_below", kSinControl}};
  j["threshold"] = a.umbral;
  if (!a.dentro.empty()) {
    const orienta_robusto_info& r = a.robusto;
    Json rob = {{"method", nombre_robusto(o.robusto)}, {"seed", o.semilla}, {"threshold", r.umbral},
                {"threshold_on_sigma", r.umbral_de_sigma != 0}, {"kept", r.inliers}, {"samples", r.iteraciones},
                {"degenerate_samples", r.degeneradas}};
    if (o.robusto != ORIENTA_ROBUSTO_MSAC) {
      rob["steps"] = r.iteraciones_irls, rob["settled"] = r.convergido != 0, rob["scale"] = r.escala;
      rob["weights"] = a.pesos;
    }
    Json fuera = Json::array();
    for (size_t k = 0; k < a.dentro.size(); ++k)
      if (!a.dentro[k]) fuera.push_back(k + 1);
    rob["outlier_pairs"] = fuera;  // 1-based positions in the input
    j["robust"] = rob;
  }
  if (a.alfa > 0) j["threshold_alpha"] = a.alfa;
  Json par = Json::object();
  const size_t u = std::min(ps.size(), a.valores.size());
  for (size_t k = 0; k < u; ++k) {
    double x, s;
    en_unidades(ps[k], a.valores[k], a.e.desv[k], x, s);
    par[ps[k].clave] = {{"value", x}, {"sd", s}};
  }
  j["parameters"] = par;
  Json orden = Json::array(), matriz = Json::array();
  for (size_t i = 0; i < u; ++i) {
    orden.push_back(ps[i].clave);
    Json fila = Json::array();
    for (size_t k = 0; k < u; ++k)
      fila.push_back(a.e.covarianza[i * size_t(a.e.num_parametros) + k] * ps[i].factor * ps[k].factor);
    matriz.push_back(fila);
  }
  j["covariance"] = {{"order", orden}, {"matrix", matriz}};
  j["rms"] = a.resumen.rms(0);  // of the pairs used, as rms_plan and rms_height
  if (a.dim == 3) {
    j["rms_plan"] = a.resumen.rms(1);
    j["rms_height"] = a.resumen.rms(2);
  }
}

}  // namespace

void Resumen::anade(const Filas& f) {
  const int dim = f.c.dim;
  for (size_t k = 0; k < f.c.n(); ++k) {
    ancho = std::max(ancho, std::min<size_t>(32, ancho_id(f.c, k)));
    if (f.excluido && f.excluido[k]) continue;
    ++usados;
    const double* v = f.v + size_t(dim) * k;
    for (int i = 0; i < dim; ++i) suma[0] += v[i] * v[i];
    if (dim == 3) {
      for (int i = 0; i < 2; ++i) suma[1] += v[i] * v[i];
      suma[2] += v[2] * v[2];
    }
  }
}

double Resumen::rms(int que) const { return usados == 0 ? kNaN : std::sqrt(suma[que] * (1.0 / double(usados))); }

Recorrido en_memoria(const Conjunto& c, const Ajuste& a) {
  return [&c, &a](const std::function<void(const Filas&)>& haz) {
    haz(Filas{c, a.v.data(), a.w.data(), a.excluido.empty() ? nullptr : a.excluido.data(),
              a.r.empty() ? nullptr : a.r.data()});
  };
}

void escribe_documento(Orden m, const Opciones& o, const Ajuste& a, const Recorrido& pares) {
  const Vista v = vista(m, o, a);
  Json d = {{"command", nombre_orden(m)},
            {"file", id_json(a.nombre)},
            {"method", a.descrito ? "described" : "adjustment"},
            {"precision", a.descrito && o.flotante ? "single" : "double"},
            {"pairs", a.n}};
  // The record first: apply reads a document only as far as its end.
  d["transform"] = json_de_registro(o.filas_abajo ? de_filas_abajo(a.t) : a.t);
  if (!a.descrito && a.modelo != 0) anade_precision(d["transform"], a.t, a.e, o.filas_abajo);
  if (o.filas_abajo) d["image_rows_down"] = true;
  for (const auto& [clave, valor] : v.json.items()) d[clave] = valor;
  json_filas(v.antes, d);
  json_estadisticas(d, a, o);
  std::string r;
  escribe_json(d, r);
  r.pop_back();  // the closing brace: the residuals follow
  r += ",\"residuals\":[";
  Json fuera = Json::array();
  bool primero = true;
  // "source_extent": the least and greatest source coordinates of the pairs used, x y [z] each,
  // in the frame the record maps (rows as the file gives them).
  double menor[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, mayor[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  pares([&](const Filas& f) {
    for (size_t k = 0; k < f.c.n(); ++k) {
      if (!primero) r += ',';
      primero = false;
      fila_json(r, f, k, a);
      if (f.excluido && f.excluido[k])
        fuera.push_back(f.c.ids[k].empty() ? Json(f.c.lineas[k]) : Json(id_json(f.c.ids[k])));
      else
        for (int i = 0; i < f.c.dim; ++i) {
          const double x = f.c.origen[size_t(f.c.dim) * k + size_t(i)] * (o.filas_abajo && i == 1 ? -1.0 : 1.0);
          menor[i] = std::min(menor[i], x), mayor[i] = std::max(mayor[i], x);
        }
      vacia_si_lleno(r);
    }
  });
  r += "],\"excluded\":";
  escribe_json(fuera, r);
  Json extension = Json::array();
  for (const double* e : {menor, mayor})
    for (int i = 0; i < a.dim; ++i) extension.push_back(e[i]);
  r += ",\"source_extent\":";
  escribe_json(menor[0] <= mayor[0] ? extension : Json(nullptr), r);
  r += "}";
  vacia_si_lleno(r, true);
}

void presenta(Orden m, const Opciones& o, const Ajuste& a, const Recorrido& pares) {
  if (o.json) {
    escribe_documento(m, o, a, pares);
    std::fputc('\n', stdout);
    return;
  }
  const Vista v = vista(m, o, a);
  std::printf("orienta %s: %s%zu pairs from %s (%s)\n\n", nombre_orden(m), v.prefijo.c_str(), a.n,
              id_visible(a.nombre).c_str(), v.titulo.c_str());
  std::printf("  %s\n", v.formula.c_str());
  imprime_filas(v.antes, v.ancho);
  if (o.filas_abajo)
    std::printf("\n  image rows grow downwards: fitted to (column, -row); the --json record maps (column, row)\n");
  texto_estadisticas(a, o, pares);
  for (const Seccion& s : v.despues) {
    std::printf("\n  %s\n", s.nota.c_str());
    imprime_filas(s.filas, v.ancho);
  }
}

}  // namespace orienta::cli
