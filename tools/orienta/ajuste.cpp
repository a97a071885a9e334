// The fitting commands: the least-squares adjustment by default, the library's own estimators
// with --described (checked against the optimum), then statistics as a table or one JSON document.
#include <algorithm>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "cli.hpp"
#include "orienta.h"

namespace orienta::cli {

namespace {

constexpr double kUmbralHabitual = 3.29;  // |w| flag without --snoop: two-sided 0.1 % of a normal
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char* nombre_orden(Modelo m) {
  return m == Modelo::helmert3d ? "helmert3d" : m == Modelo::helmert2d ? "helmert2d" : "poly2d";
}

// The adjustment model of a command; 0 where there is none (poly2d constant and rigid).
int32_t modelo_de(Modelo m, uint32_t tipo) {
  if (m == Modelo::helmert3d) return ORIENTA_HELMERT3D;
  if (m == Modelo::helmert2d) return ORIENTA_HELMERT2D;
  switch (tipo) {
    case 0:
    case 1: return 0;
    case 2: return ORIENTA_HELMERT2D;
    case 6: return ORIENTA_POLI2D_2;
    case 7: return ORIENTA_POLI2D_3;
    default: return ORIENTA_AFIN2D;
  }
}

// Fewest pairs that determine each: one per two parameters of a coordinate pair (3D: three).
uint32_t minimo_pares(Modelo m, uint32_t tipo) {
  if (m == Modelo::helmert3d) return 3;
  if (m == Modelo::helmert2d) return 2;
  switch (tipo) {
    case 0: return 1;
    case 1:
    case 2: return 2;
    case 6: return 6;
    case 7: return 10;
    default: return 3;
  }
}

const char* nombre_tipo(uint32_t tipo) {
  switch (tipo) {
    case 0: return "constant";
    case 1: return "rigid";
    case 2: return "similarity";
    case 6: return "second order";
    case 7: return "third order";
    default: return "affine";
  }
}

// The one-line cause of a refused fit.
std::string causa(int32_t estado, Modelo m, const Conjunto& c, int32_t modelo) {
  const std::string f = c.nombre + ": ";
  switch (estado) {
    case ORIENTA_E_NO_FINITO: return f + "a coordinate or σ is not finite, or a σ is not positive";
    case ORIENTA_E_COINCIDENTES:
      return f + "degenerate point set: all source points coincide (or all target points do)";
    case ORIENTA_E_COLINEALES:
      return f + "degenerate point set: the source points lie on one line, so " +
             (m == Modelo::helmert3d ? "the rotation about that line is not determined"
                                     : "the map across that line is not determined");
    case ORIENTA_E_RANGO:
      return f + "degenerate point set: the points do not determine a " +
             (modelo == ORIENTA_POLI2D_3 ? "third" : "second") +
             "-order polynomial (too few distinct points, or on a conic?)";
    case ORIENTA_E_DESBORDA: return f + "coordinates too large: their squares overflow (reduce them first)";
    case ORIENTA_E_MEMORIA: return f + "out of memory";
    case ORIENTA_E_NO_CONVERGE: return f + "the adjustment did not converge (plan and height σ far apart?)";
    case ORIENTA_E_POCOS: return f + std::to_string(c.n()) + " point pairs; " + nombre_orden(m) + " needs more";
    default: return f + "the adjustment failed: " + orienta_estado_texto(estado);
  }
}

// ---------------------------------------------------------------------------------------------
// The library's own estimators, once over the scalar type

inline int32_t hel3d(double* const* P, uint32_t n, Hel3Dg_dbl* h, bool g) {
  return Hel3Dg___ptr_dbl(P, n, h, g, 0, nullptr);
}
inline int32_t hel3d(float* const* P, uint32_t n, Hel3Dg_fl* h, bool g) {
  return Hel3Dg___ptr_fl(P, n, h, g, 0, nullptr);
}
inline Hel2Dg_dbl hel2d(double* const* P, uint32_t n) { return Hel2Dg___ptr_dbl(P, n); }
inline Hel2Dg_fl hel2d(float* const* P, uint32_t n) { return Hel2Dg___ptr_fl(P, n); }
inline void poli(Trans_Polinomica2D_dbl* t, double* const* P, uint32_t n) {
  Trans_Polinomica2D___puntosxy_dbl(t, P, n);
}
inline void poli(Trans_Polinomica2D_fl* t, float* const* P, uint32_t n) { Trans_Polinomica2D___puntosxy_fl(t, P, n); }

template <class T>
struct Registros;
template <>
struct Registros<double> {
  using Hel3 = Hel3Dg_dbl;
  using Poli = Trans_Polinomica2D_dbl;
};
template <>
struct Registros<float> {
  using Hel3 = Hel3Dg_fl;
  using Poli = Trans_Polinomica2D_fl;
};

orienta_transformacion identidad(int32_t modelo, int32_t dim) {
  orienta_transformacion t;
  std::memset(&t, 0, sizeof t);
  t.modelo = modelo;
  t.dim = dim;
  for (int i = 0; i < 3; ++i) t.matriz[4 * i] = t.rotacion[4 * i] = 1.0;
  t.escala = kNaN;
  return t;
}

// Double centroid of n points of dim coordinates: the sum in array order times 1/n.
void centroide(const std::vector<double>& p, int dim, size_t n, double c[3]) {
  for (int i = 0; i < dim; ++i) {
    double s = 0.0;
    for (size_t k = 0; k < n; ++k) s += p[size_t(dim) * k + size_t(i)];
    c[i] = s * (1.0 / double(n));
  }
}

// Runs a described estimator on the pairs. In double the coordinates go in as given (today's
// results, bit for bit). In float they are first reduced by their double centroids: rounding
// survey coordinates near 4.5·10⁶ m to float whole loses half a metre before any arithmetic.
template <class T>
orienta_transformacion descrito(Modelo m, uint32_t tipo, bool general, const Conjunto& c, int32_t& estado) {
  const int dim = c.dim;
  const size_t n = c.n();
  double co[3] = {0, 0, 0}, cd[3] = {0, 0, 0};
  if (std::is_same_v<T, float>) {
    centroide(c.origen, dim, n, co);
    centroide(c.destino, dim, n, cd);
  }
  std::vector<T> o(n * size_t(dim)), d(n * size_t(dim));
  // Squares of reduced coordinates must stay finite in T: past √FLT_MAX float sums overflow.
  const double limite = std::sqrt(double(std::numeric_limits<T>::max())) / 4;
  double mayor = 0;
  for (size_t k = 0; k < n; ++k)
    for (int i = 0; i < dim; ++i) {
      const size_t q = size_t(dim) * k + size_t(i);
      const double a = c.origen[q] - co[i], b = c.destino[q] - cd[i];
      mayor = std::max({mayor, std::fabs(a), std::fabs(b)});
      o[q] = T(a);
      d[q] = T(b);
    }
  if (mayor > limite)
    throw Fallo(c.nombre + ": coordinates too large for " + (std::is_same_v<T, float> ? "single" : "double") +
                " precision: a coordinate lies " + corto(mayor) + " from its centroid, and squares overflow past " +
                corto(limite) + (std::is_same_v<T, float> ? " (drop --float)" : ""));
  std::vector<T*> P(2 * n);
  for (size_t k = 0; k < n; ++k) {
    P[2 * k] = o.data() + size_t(dim) * k;
    P[2 * k + 1] = d.data() + size_t(dim) * k;
  }
  const uint32_t nn = uint32_t(n);
  estado = 0;
  if (m == Modelo::helmert3d) {
    typename Registros<T>::Hel3 h;
    estado = hel3d(P.data(), nn, &h, general);
    if (estado == -2) throw Fallo(c.nombre + ": out of memory");
    orienta_transformacion t = identidad(ORIENTA_HELMERT3D, 3);
    for (int i = 0; i < 3; ++i) {
      t.centro_origen[i] = double(h.centro_origen[i]) + co[i];
      t.centro_destino[i] = double(h.centro_destino[i]) + cd[i];
    }
    t.escala = double(h.escala);
    for (int i = 0; i < 9; ++i) {
      t.rotacion[i] = double(h.rotacion[i]);
      t.matriz[i] = t.escala * t.rotacion[i];
    }
    const Terna a = Gmatriz_ωφκ_seg(t.rotacion);
    for (int i = 0; i < 3; ++i) t.angulos[i] = a.v[i];
    return t;
  }
  if (m == Modelo::helmert2d) {
    const auto h = hel2d(P.data(), nn);
    orienta_transformacion t = identidad(ORIENTA_HELMERT2D, 2);
    t.centro_origen[0] = double(h.xc_origen) + co[0];
    t.centro_origen[1] = double(h.yc_origen) + co[1];
    t.centro_destino[0] = double(h.xc_destino) + cd[0];
    t.centro_destino[1] = double(h.yc_destino) + cd[1];
    t.escala = double(h.escala);
    const double cg = double(h.cos_giro), sg = double(h.sen_giro);
    const double R[4] = {cg, -sg, sg, cg};
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) {
        t.rotacion[3 * i + j] = R[2 * i + j];
        t.matriz[3 * i + j] = t.escala * R[2 * i + j];
      }
    t.angulos[0] = std::atan2(sg, cg);
    return t;
  }
  typename Registros<T>::Poli p;
  std::memset(&p, 0, sizeof p);
  p.tipo = tipo;
  poli(&p, P.data(), nn);
  orienta_transformacion t = identidad(tipo == 6 ? ORIENTA_POLI2D_2 : tipo == 7 ? ORIENTA_POLI2D_3 : ORIENTA_AFIN2D, 2);
  t.centro_origen[0] = double(p.xc_origen) + co[0];
  t.centro_origen[1] = double(p.yc_origen) + co[1];
  t.centro_destino[0] = double(p.x0_destino) + cd[0];
  t.centro_destino[1] = double(p.y0_destino) + cd[1];
  t.matriz[0] = double(p.coef_x[0]);
  t.matriz[1] = double(p.coef_x[1]);
  t.matriz[3] = double(p.coef_y[0]);
  t.matriz[4] = double(p.coef_y[1]);
  if (tipo >= 6)
    for (int k = 0; k < 9; ++k) t.coef_x[k] = double(p.coef_x[k]), t.coef_y[k] = double(p.coef_y[k]);
  return t;
}

// ---------------------------------------------------------------------------------------------
// Parameters as printed

struct Parametro {
  std::string nombre;    // JSON key
  std::string etiqueta;  // text label, with its unit
  double factor;         // from the library's unit (radians, unitless scale)
  bool es_escala;        // printed as (s − 1)·10⁶ ppm
  int decimales;         // in the table; -1: scientific
};

std::vector<Parametro> parametros_de(int32_t modelo, Unidad u) {
  const double f = en_unidad(1.0, u);
  const int da = u == Unidad::rad ? 10 : 8;
  const std::string un = std::string(" (") + nombre_unidad(u) + ")";
  switch (modelo) {
    case ORIENTA_HELMERT3D:
      return {{"tx", "tx", 1, false, 4},
              {"ty", "ty", 1, false, 4},
              {"tz", "tz", 1, false, 4},
              {"omega", "omega" + un, f, false, da},
              {"phi", "phi" + un, f, false, da},
              {"kappa", "kappa" + un, f, false, da},
              {"scale_ppm", "scale (ppm)", 1e6, true, 4}};
    case ORIENTA_HELMERT2D:
      return {{"tx", "tx", 1, false, 4},
              {"ty", "ty", 1, false, 4},
              {"rotation", "rotation" + un, f, false, da},
              {"scale_ppm", "scale (ppm)", 1e6, true, 4}};
    case ORIENTA_AFIN2D:
      return {{"tx", "tx", 1, false, 4},    {"ty", "ty", 1, false, 4},    {"a11", "a11", 1, false, 12},
              {"a12", "a12", 1, false, 12}, {"a21", "a21", 1, false, 12}, {"a22", "a22", 1, false, 12}};
    case ORIENTA_POLI2D_2:
    case ORIENTA_POLI2D_3: {
      static const char* const terminos[9] = {"dx", "dy", "dx2", "dxdy", "dy2", "dx3", "dx2dy", "dxdy2", "dy3"};
      const int t = modelo == ORIENTA_POLI2D_2 ? 5 : 9;
      std::vector<Parametro> r = {{"x0", "x0", 1, false, 4}, {"y0", "y0", 1, false, 4}};
      for (const char* eje : {"cx_", "cy_"})
        for (int k = 0; k < t; ++k)
          r.push_back({eje + std::string(terminos[k]), eje + std::string(terminos[k]), 1, false, -1});
      return r;
    }
    default: return {};
  }
}

std::string cientifico(double x, int cifras) {
  if (!std::isfinite(x)) return corto(x);
  char b[64];
  const auto r = std::to_chars(b, b + sizeof b, x == 0 ? 0.0 : x, std::chars_format::scientific, cifras);
  return std::string(b, r.ptr);
}

std::string con_decimales(double x, int d) { return d < 0 ? cientifico(x, 6) : fijo(x, d); }

// The parameter values of a record, in the library's order (for the described estimates).
std::vector<double> valores_de(const orienta_transformacion& t) {
  const double* M = t.matriz;
  const double* co = t.centro_origen;
  const double* cd = t.centro_destino;
  switch (t.modelo) {
    case ORIENTA_HELMERT3D: {
      std::vector<double> r;
      for (int i = 0; i < 3; ++i)
        r.push_back(cd[i] - ((M[3 * i] * co[0] + M[3 * i + 1] * co[1]) + M[3 * i + 2] * co[2]));
      r.insert(r.end(), {t.angulos[0], t.angulos[1], t.angulos[2], t.escala});
      return r;
    }
    case ORIENTA_HELMERT2D:
    case ORIENTA_AFIN2D: {
      std::vector<double> r;
      for (int i = 0; i < 2; ++i) r.push_back(cd[i] - (M[3 * i] * co[0] + M[3 * i + 1] * co[1]));
      if (t.modelo == ORIENTA_HELMERT2D)
        r.insert(r.end(), {t.angulos[0], t.escala});
      else
        r.insert(r.end(), {M[0], M[1], M[3], M[4]});
      return r;
    }
    default: {
      std::vector<double> r = {cd[0], cd[1]};
      const int k = t.modelo == ORIENTA_POLI2D_2 ? 5 : 9;
      r.insert(r.end(), t.coef_x, t.coef_x + k);
      r.insert(r.end(), t.coef_y, t.coef_y + k);
      return r;
    }
  }
}

// ---------------------------------------------------------------------------------------------

struct Ajuste {
  int32_t modelo = 0;  // 0: described only (poly2d constant, rigid)
  bool descrito = false;
  orienta_transformacion t{};
  orienta_estadisticas e{};
  std::vector<double> valores;  // parameters in the library's units
  std::vector<double> v, w;     // dim a pair
  std::vector<uint8_t> excluido;
  double umbral = kUmbralHabitual;
  int32_t estado3d = 0;  // described helmert3d status
  bool general = false;
  double vtpv = kNaN, vtpv_optimo = kNaN, cota = kNaN;
  std::vector<std::string> avisos;
};

double rms(const std::vector<double>& v, const std::vector<uint8_t>& fuera, int dim, int desde, int hasta) {
  double s = 0.0;
  size_t n = 0;
  for (size_t k = 0; k < fuera.size(); ++k) {
    if (fuera[k]) continue;
    ++n;
    for (int i = desde; i < hasta; ++i) s += v[size_t(dim) * k + size_t(i)] * v[size_t(dim) * k + size_t(i)];
  }
  return n == 0 ? kNaN : std::sqrt(s * (1.0 / double(n)));
}

// The transformed sources minus the targets, in double whatever the estimate's precision.
std::vector<double> residuos(const orienta_transformacion& t, const Conjunto& c) {
  const size_t m = c.n() * size_t(c.dim);
  std::vector<double> v(m);
  const int64_t paso = int64_t(sizeof(double)) * c.dim;
  orienta_aplica(&t, 0, c.origen.data(), paso, v.data(), paso, c.n(), nullptr);
  for (size_t q = 0; q < m; ++q) v[q] -= c.destino[q];
  return v;
}

bool finitos(const double* p, size_t n) {
  for (size_t k = 0; k < n; ++k)
    if (!std::isfinite(p[k])) return false;
  return true;
}

Ajuste ajusta(Modelo m, const Opciones& o, const Conjunto& c) {
  const size_t n = c.n();
  const int dim = c.dim;
  const uint32_t minimo = minimo_pares(m, o.tipo);
  if (n < minimo)
    throw Fallo(c.nombre + ": " + std::to_string(n) + " point pair" + (n == 1 ? "" : "s") + "; " + nombre_orden(m) +
                " needs at least " + std::to_string(minimo));
  Ajuste a;
  a.modelo = modelo_de(m, o.tipo);
  a.descrito = o.descrita || a.modelo == 0;
  if (o.umbral) a.umbral = *o.umbral;
  a.v.assign(n * size_t(dim), kNaN);
  a.w.assign(n * size_t(dim), kNaN);
  a.excluido.assign(n, 0);
  std::vector<double> qvv(n * size_t(dim), kNaN);

  // The optimum first, in every mode: it names the cause of a degenerate set the same way
  // whatever was asked, and --described is measured against it.
  if (a.modelo != 0) {
    orienta_pares p{};
    p.origen = c.origen.data();
    p.paso_origen = int64_t(sizeof(double)) * dim;
    p.destino = c.destino.data();
    p.paso_destino = p.paso_origen;
    p.n = uint32_t(n);
    p.sigma = c.sigmas_por_par > 0 ? c.sigma.data() : nullptr;
    p.sigmas_por_par = c.sigmas_por_par > 0 ? c.sigmas_por_par : 1;
    p.umbral = a.descrito || !o.umbral ? 0.0 : *o.umbral;
    orienta_observaciones obs{a.v.data(), a.w.data(), qvv.data(), nullptr, a.excluido.data()};
    const int32_t estado = orienta_ajusta(a.modelo, &p, &a.t, &a.e, &obs);
    if (estado < 0) throw Fallo(causa(estado, m, c, a.modelo));
    a.valores.assign(a.e.parametros, a.e.parametros + a.e.num_parametros);
    a.vtpv_optimo = a.e.vtpv;
    if (!a.descrito) {
      if (!finitos(a.v.data(), a.v.size()) || !finitos(a.valores.data(), a.valores.size()))
        throw Fallo(c.nombre + ": degenerate point set: the fit is not finite");
      return a;
    }
  }

  // The described estimate, in the precision asked for.
  a.general = o.general && m == Modelo::helmert3d && n >= 9;
  if (o.general && m == Modelo::helmert3d && !a.general)
    aviso("--general needs at least 9 pairs; the planar start was used");
  const orienta_transformacion t = o.flotante ? descrito<float>(m, o.tipo, a.general, c, a.estado3d)
                                              : descrito<double>(m, o.tipo, a.general, c, a.estado3d);
  const std::vector<double> v = residuos(t, c);
  if (a.estado3d == -1 || !finitos(v.data(), v.size()) || !finitos(t.matriz, 9) || !finitos(t.centro_destino, 3)) {
    // The optimum was finite, so what failed is the precision the described estimate worked in.
    if (a.modelo != 0 && o.flotante)
      throw Fallo(c.nombre + ": the single-precision estimate overflowed or lost every digit (drop --float)");
    throw Fallo(c.nombre + ": degenerate point set: the " + std::string(nombre_tipo(o.tipo)) +
                " fit is not determined (all source points coincide?)");
  }
  a.t = t;
  a.v = v;
  a.valores = a.modelo != 0 ? valores_de(t) : std::vector<double>();
  double vtpv = 0.0;
  for (double x : v) vtpv += x * x;
  a.vtpv = vtpv;
  if (a.modelo == 0) {
    // No adjustment to lean on: redundancy and σ0 of the described fit alone.
    a.e = orienta_estadisticas{};
    a.e.num_parametros = o.tipo == 0 ? 2 : 3;
    a.e.usados = uint32_t(n);
    a.e.redundancia = int32_t(2 * n) - a.e.num_parametros;
    a.e.vtpv = vtpv;
    a.e.sigma0 = a.e.redundancia > 0 ? std::sqrt(vtpv / a.e.redundancia) : kNaN;
    a.e.condicion = kNaN;
    a.e.chi2 = a.e.chi2_p = kNaN;
    return a;
  }
  // σ0 and w of the described residuals, with the optimum's cofactors: the geometry is the same.
  a.e.vtpv = vtpv;
  a.e.sigma0 = a.e.redundancia > 0 ? std::sqrt(vtpv / a.e.redundancia) : kNaN;
  for (size_t q = 0; q < v.size(); ++q) a.w[q] = v[q] / (a.e.sigma0 * std::sqrt(qvv[q]));

  // What rounding can explain: 1e-6 of the optimum, plus per pair (4·u·ρ)², with u the unit
  // roundoff of the precision used and ρ = scale·|source| + |target| in the coordinates the
  // estimator saw (reduced by the centroids under --float): each coordinate rounded once, and a few
  // roundings more in the estimate. Sums over many pairs in float lose more than that, and the
  // warning then says so: the estimate is worse than its data.
  const bool fl = o.flotante;
  const double u = fl ? std::ldexp(1.0, -24) : std::ldexp(1.0, -53);
  double co[3] = {0, 0, 0}, cd[3] = {0, 0, 0};
  if (fl) {
    centroide(c.origen, dim, n, co);
    centroide(c.destino, dim, n, cd);
  }
  double s = 0.0;  // the RMS singular value of the linear part: the scale of a similarity
  for (int i = 0; i < dim; ++i)
    for (int j = 0; j < dim; ++j) s += t.matriz[3 * i + j] * t.matriz[3 * i + j];
  s = std::sqrt(s / dim);
  const double k = 4.0;
  double absoluto = 0.0;
  for (size_t p = 0; p < n; ++p) {
    double ro = 0.0, rd = 0.0;
    for (int i = 0; i < dim; ++i) {
      const double a1 = c.origen[size_t(dim) * p + size_t(i)] - co[i],
                   b1 = c.destino[size_t(dim) * p + size_t(i)] - cd[i];
      ro += a1 * a1;
      rd += b1 * b1;
    }
    const double e = k * u * (s * std::sqrt(ro) + std::sqrt(rd));
    absoluto += e * e;
  }
  a.cota = 1e-6 * a.vtpv_optimo + absoluto;
  if (vtpv > a.vtpv_optimo + a.cota)
    a.avisos.push_back(c.nombre +
                       ": the described estimate is not the least-squares optimum: its sum of squared "
                       "residuals is " +
                       corto(vtpv) + " against " + corto(a.vtpv_optimo) + ", more than rounding explains (" +
                       corto(a.cota) + "); drop --described for the optimum");
  if (a.estado3d == 1)
    a.avisos.push_back(c.nombre +
                       ": the refinement did not end at the best rotation (status 1): the rotation may be "
                       "far from the true one" +
                       (a.general ? ""
                        : n >= 9  ? "; try --general"
                                  : ""));
  return a;
}

// ---------------------------------------------------------------------------------------------
// Output

std::string etiqueta_id(const Conjunto& c, size_t k) {
  return c.ids[k].empty() ? "line " + std::to_string(c.lineas[k]) : id_visible(c.ids[k]);
}

Json id_de(const Conjunto& c, size_t k) { return c.ids[k].empty() ? Json(nullptr) : Json(id_json(c.ids[k])); }

Json vector_json(const double* p, int n) {
  Json r = Json::array();
  for (int k = 0; k < n; ++k) r.push_back(p[k]);
  return r;
}

// A parameter's value and sd in the printed units.
void en_unidades(const Parametro& p, double valor, double desv, double& x, double& s) {
  x = p.es_escala ? (valor - 1.0) * 1e6 : valor * p.factor;
  s = desv * p.factor;
}

void json_estadisticas(Json& j, const Ajuste& a, const Conjunto& c, const Opciones& o) {
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
  j["threshold"] = a.umbral;
  Json par = Json::object();
  const size_t u = std::min(ps.size(), a.valores.size());
  for (size_t k = 0; k < u; ++k) {
    double x, s;
    en_unidades(ps[k], a.valores[k], a.e.desv[k], x, s);
    par[ps[k].nombre] = {{"value", x}, {"sd", s}};
  }
  j["parameters"] = par;
  Json orden = Json::array(), matriz = Json::array();
  for (size_t i = 0; i < u; ++i) {
    orden.push_back(ps[i].nombre);
    Json fila = Json::array();
    for (size_t k = 0; k < u; ++k)
      fila.push_back(a.e.covarianza[i * size_t(a.e.num_parametros) + k] * ps[i].factor * ps[k].factor);
    matriz.push_back(fila);
  }
  j["covariance"] = {{"order", orden}, {"matrix", matriz}};
  const int dim = c.dim;
  j["rms"] = rms(a.v, a.excluido, dim, 0, dim);  // of the pairs used, as rms_plan and rms_height
  if (dim == 3) {
    j["rms_plan"] = rms(a.v, a.excluido, 3, 0, 2);
    j["rms_height"] = rms(a.v, a.excluido, 3, 2, 3);
  }
  Json res = Json::array(), fuera = Json::array();
  for (size_t k = 0; k < c.n(); ++k) {
    Json r = {{"id", id_de(c, k)}, {"line", c.lineas[k]}};
    r["v"] = vector_json(&a.v[size_t(dim) * k], dim);
    r["w"] = vector_json(&a.w[size_t(dim) * k], dim);
    r["excluded"] = a.excluido[k] != 0;
    res.push_back(r);
    if (a.excluido[k]) fuera.push_back(c.ids[k].empty() ? Json(c.lineas[k]) : Json(id_json(c.ids[k])));
  }
  j["residuals"] = res;
  j["excluded"] = fuera;
}

void texto_estadisticas(const Ajuste& a, const Conjunto& c, const Opciones& o) {
  const std::vector<Parametro> ps = parametros_de(a.modelo, o.unidad);
  const size_t u = std::min(ps.size(), a.valores.size());
  if (u > 0) {
    std::printf("\n  %s %20s %16s\n", rellena("parameter", 16, false).c_str(), "value", "sd");
    for (size_t k = 0; k < u; ++k) {
      double x, s;
      en_unidades(ps[k], a.valores[k], a.e.desv[k], x, s);
      std::printf("  %s %20s %16s\n", rellena(ps[k].etiqueta, 16, false).c_str(),
                  con_decimales(x, ps[k].decimales).c_str(), con_decimales(s, ps[k].decimales).c_str());
    }
  }
  std::printf("\n  redundancy %d, sigma0 %s%s\n", a.e.redundancia, fijo(a.e.sigma0, 4).c_str(),
              a.e.con_sigma ? " (unitless: residuals over their a priori sigma)" : " (metres)");
  if (a.e.con_sigma)
    std::printf("  global test: chi2 %s with %d degrees of freedom, p = %s: %s at the 5%% level\n",
                fijo(a.e.chi2, 3).c_str(), a.e.redundancia, fijo(a.e.chi2_p, 4).c_str(),
                a.e.chi2_p >= 0.05 ? "passes" : "fails");
  if (a.descrito && a.modelo != 0)
    std::printf("  sum of squared residuals %s; the least-squares optimum %s\n", corto(a.vtpv).c_str(),
                corto(a.vtpv_optimo).c_str());
  if (u > 1 && a.e.usados > 0) {
    std::printf("\n  correlations\n  %s", rellena("", 12, false).c_str());
    for (size_t k = 0; k < u; ++k) std::printf(" %9s", ps[k].nombre.substr(0, 9).c_str());
    std::printf("\n");
    const size_t np = size_t(a.e.num_parametros);
    for (size_t i = 0; i < u; ++i) {
      std::printf("  %s", rellena(ps[i].nombre, 12, false).c_str());
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
  const int dim = c.dim;
  size_t ancho = 12;
  for (size_t k = 0; k < c.n(); ++k) ancho = std::max(ancho, std::min<size_t>(32, ancho_visible(etiqueta_id(c, k))));
  std::printf("\n  residuals v = transformed source - target; w standardized (%s), * where |w| > %s\n  %s",
              a.e.con_sigma ? "Baarda's, from the a priori sigma" : "Pope's tau, from sigma0",
              fijo(a.umbral, 2).c_str(), rellena("id", ancho, false).c_str());
  for (int i = 0; i < dim; ++i) std::printf(" %10s", ejes[i]);
  std::printf(" %10s", "|v|");
  for (int i = 0; i < dim; ++i) std::printf(" %7s", wejes[i]);
  std::printf("\n");
  for (size_t k = 0; k < c.n(); ++k) {
    std::printf("  %s", rellena(etiqueta_id(c, k), ancho, false).c_str());
    double q = 0.0, wmax = 0.0;
    for (int i = 0; i < dim; ++i) {
      const double x = a.v[size_t(dim) * k + size_t(i)];
      std::printf(" %10s", fijo(x, 4).c_str());
      q += x * x;
    }
    std::printf(" %10s", fijo(std::sqrt(q), 4).c_str());
    for (int i = 0; i < dim; ++i) {
      const double w = a.w[size_t(dim) * k + size_t(i)];
      std::printf(" %7s", std::isfinite(w) ? fijo(w, 2).c_str() : "-");
      if (std::isfinite(w)) wmax = std::max(wmax, std::fabs(w));
    }
    std::printf("%s\n", a.excluido[k] ? "  excluded" : wmax > a.umbral ? "  *" : "");
  }
  std::printf("  %s", rellena("RMS of |v|", ancho, false).c_str());
  for (int i = 0; i < dim; ++i) std::printf(" %10s", "");
  std::printf(" %10s", fijo(rms(a.v, a.excluido, dim, 0, dim), 4).c_str());
  if (dim == 3)
    std::printf("   plan %s, height %s", fijo(rms(a.v, a.excluido, 3, 0, 2), 4).c_str(),
                fijo(rms(a.v, a.excluido, 3, 2, 3), 4).c_str());
  std::printf("%s\n", a.e.excluidos > 0 ? " (excluded pairs left out)" : "");
  if (a.e.excluidos > 0) {
    std::printf("\n  excluded by data snooping (|w| > %s), residuals against the final fit:",
                fijo(a.umbral, 2).c_str());
    for (size_t k = 0; k < c.n(); ++k)
      if (a.excluido[k]) std::printf(" %s", etiqueta_id(c, k).c_str());
    std::printf("\n");
  }
}

const char* metodo(const Ajuste& a) { return a.descrito ? "described" : "adjustment"; }
const char* precision(const Opciones& o, const Ajuste& a) { return a.descrito && o.flotante ? "single" : "double"; }

Json cabecera(Modelo m, const Opciones& o, const Conjunto& c, const Ajuste& a) {
  return {{"command", nombre_orden(m)},
          {"file", id_json(c.nombre)},
          {"method", metodo(a)},
          {"precision", precision(o, a)},
          {"pairs", c.n()}};
}

}  // namespace

Json json_de_transformacion(const orienta_transformacion& t) {
  static const char* const modelos[6] = {"", "helmert3d", "helmert2d", "affine2d", "poly2d", "poly2d"};
  const int d = t.dim;
  Json j = {{"model", modelos[t.modelo >= 1 && t.modelo <= 5 ? t.modelo : 0]}};
  if (t.modelo == ORIENTA_POLI2D_2 || t.modelo == ORIENTA_POLI2D_3) j["order"] = t.modelo == ORIENTA_POLI2D_2 ? 2 : 3;
  j["dim"] = d;
  j["source_centroid"] = vector_json(t.centro_origen, d);
  j["target_centroid"] = vector_json(t.centro_destino, d);
  Json M = Json::array(), R = Json::array();
  for (int i = 0; i < d; ++i) {
    M.push_back(vector_json(t.matriz + 3 * i, d));
    R.push_back(vector_json(t.rotacion + 3 * i, d));
  }
  j["matrix"] = M;
  const bool semejanza = t.modelo == ORIENTA_HELMERT3D || t.modelo == ORIENTA_HELMERT2D;
  j["scale"] = semejanza ? Json(t.escala) : Json(nullptr);
  j["rotation"] = R;
  j["angles"] = t.modelo == ORIENTA_HELMERT3D   ? vector_json(t.angulos, 3)
                : t.modelo == ORIENTA_HELMERT2D ? vector_json(t.angulos, 1)
                                                : Json::array();
  if (t.modelo == ORIENTA_POLI2D_2 || t.modelo == ORIENTA_POLI2D_3) {
    j["coef_x"] = vector_json(t.coef_x, 9);
    j["coef_y"] = vector_json(t.coef_y, 9);
  }
  return j;
}

int orden_ajuste(Modelo m, const Opciones& o, const Conjunto& c, Json* j) {
  const Ajuste a = ajusta(m, o, c);
  const int dim = c.dim;
  if (!o.dibujo.empty()) dibuja(o.dibujo, Dibujo{&c, &a.v, &a.w, &a.excluido, a.umbral});
  const orienta_transformacion& t = a.t;
  const double* co = t.centro_origen;
  const double* cd = t.centro_destino;
  const double s = t.escala;
  const double ppm = (s - 1.0) * 1e6;
  double T[3];
  for (int i = 0; i < dim; ++i) {
    double x = 0.0;
    for (int k = 0; k < dim; ++k) x += t.matriz[3 * i + k] * co[k];
    T[i] = cd[i] - x;
  }
  const std::string un = nombre_unidad(o.unidad);
  const int dec = o.unidad == Unidad::rad ? 10 : 8;

  if (m == Modelo::helmert3d) {
    const double ang[3] = {en_unidad(t.angulos[0], o.unidad), en_unidad(t.angulos[1], o.unidad),
                           en_unidad(t.angulos[2], o.unidad)};
    if (j != nullptr) {
      Json d = cabecera(m, o, c, a);
      d["start"] = a.descrito ? (a.general ? "general" : "planar") : "closed form";
      d["status"] = a.descrito ? a.estado3d : 0;
      d["source_centroid"] = vector_json(co, 3);
      d["target_centroid"] = vector_json(cd, 3);
      d["scale"] = s;
      d["scale_ppm"] = ppm;
      d["rotation"] = vector_json(t.rotacion, 9);
      d["angle_unit"] = un;
      d["omega"] = ang[0];
      d["phi"] = ang[1];
      d["kappa"] = ang[2];
      d["translation"] = vector_json(T, 3);
      json_estadisticas(d, a, c, o);
      d["transform"] = json_de_transformacion(t);
      *j = d;
    } else {
      std::printf("orienta helmert3d: %zu pairs from %s (%s%s)\n\n", c.n(), id_visible(c.nombre).c_str(),
                  a.descrito ? (o.flotante ? "described, single precision" : "described, double precision")
                             : "least-squares adjustment",
                  a.descrito ? (a.general ? ", general start" : ", planar start") : "");
      std::printf("  target = T + scale*R*source,  R = Rz(kappa)*Ry(phi)*Rx(omega)\n");
      std::printf("  %s %16s %16s %16s\n", rellena("translation T", 22, false).c_str(), fijo(T[0], 4).c_str(),
                  fijo(T[1], 4).c_str(), fijo(T[2], 4).c_str());
      std::printf("  %s %16s %16s %16s\n", rellena("omega phi kappa (" + un + ")", 22, false).c_str(),
                  fijo(ang[0], dec).c_str(), fijo(ang[1], dec).c_str(), fijo(ang[2], dec).c_str());
      std::printf("  %s %16s   (%s ppm)\n", rellena("scale", 22, false).c_str(), fijo(s, 12).c_str(),
                  fijo(ppm, 4).c_str());
      texto_estadisticas(a, c, o);
      std::printf("\n  centred form: target = target centroid + scale*R*(source - source centroid)\n");
      std::printf("  %s %16s %16s %16s\n", rellena("source centroid", 22, false).c_str(), fijo(co[0], 4).c_str(),
                  fijo(co[1], 4).c_str(), fijo(co[2], 4).c_str());
      std::printf("  %s %16s %16s %16s\n", rellena("target centroid", 22, false).c_str(), fijo(cd[0], 4).c_str(),
                  fijo(cd[1], 4).c_str(), fijo(cd[2], 4).c_str());
      for (int i = 0; i < 3; ++i)
        std::printf("  %s %16s %16s %16s\n", rellena(i == 0 ? "rotation R, by rows" : "", 22, false).c_str(),
                    fijo(t.rotacion[3 * i], 12).c_str(), fijo(t.rotacion[3 * i + 1], 12).c_str(),
                    fijo(t.rotacion[3 * i + 2], 12).c_str());
    }
  } else if (m == Modelo::helmert2d) {
    const double ang = en_unidad(t.angulos[0], o.unidad);
    Hel2Dg_dbl g{co[0], co[1], cd[0], cd[1], s, t.rotacion[0], t.rotacion[3]};
    const Hel2D_dbl l = Hel2D___Hel2Dg_dbl(&g);
    if (j != nullptr) {
      Json d = cabecera(m, o, c, a);
      d["source_centroid"] = vector_json(co, 2);
      d["target_centroid"] = vector_json(cd, 2);
      d["scale"] = s;
      d["scale_ppm"] = ppm;
      d["cos"] = t.rotacion[0];
      d["sin"] = t.rotacion[3];
      d["angle_unit"] = un;
      d["rotation"] = ang;
      d["translation"] = vector_json(T, 2);
      const double plano[2] = {l.tx, l.ty};
      d["plain_t"] = vector_json(plano, 2);
      json_estadisticas(d, a, c, o);
      d["transform"] = json_de_transformacion(t);
      *j = d;
    } else {
      std::printf("orienta helmert2d: %zu pairs from %s (%s)\n\n", c.n(), id_visible(c.nombre).c_str(),
                  a.descrito ? (o.flotante ? "described, single precision" : "described, double precision")
                             : "least-squares adjustment");
      std::printf("  target = T + scale*R*source,  R = [cos -sin; sin cos] of the rotation\n");
      std::printf("  %s %16s %16s\n", rellena("translation T", 22, false).c_str(), fijo(T[0], 4).c_str(),
                  fijo(T[1], 4).c_str());
      std::printf("  %s %16s\n", rellena("rotation (" + un + ")", 22, false).c_str(), fijo(ang, dec).c_str());
      std::printf("  %s %16s   (%s ppm)\n", rellena("scale", 22, false).c_str(), fijo(s, 12).c_str(),
                  fijo(ppm, 4).c_str());
      texto_estadisticas(a, c, o);
      std::printf("\n  plain form: target = scale*R*(source - t)\n");
      std::printf("  %s %16s %16s\n", rellena("t", 22, false).c_str(), fijo(l.tx, 4).c_str(), fijo(l.ty, 4).c_str());
      std::printf("\n  centred form: target = target centroid + scale*R*(source - source centroid)\n");
      std::printf("  %s %16s %16s\n", rellena("source centroid", 22, false).c_str(), fijo(co[0], 4).c_str(),
                  fijo(co[1], 4).c_str());
      std::printf("  %s %16s %16s\n", rellena("target centroid", 22, false).c_str(), fijo(cd[0], 4).c_str(),
                  fijo(cd[1], 4).c_str());
      std::printf("  %s %16s %16s\n", rellena("cos, sin", 22, false).c_str(), fijo(t.rotacion[0], 12).c_str(),
                  fijo(t.rotacion[3], 12).c_str());
    }
  } else {
    // The record of today's poly2d, read off the transformation whichever estimated it.
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
    if (j != nullptr) {
      Json d = cabecera(m, o, c, a);
      d["kind"] = nombre_tipo(o.tipo);
      d["tipo"] = o.tipo;
      d["source_centroid"] = vector_json(co, 2);
      d["target_origin"] = vector_json(cd, 2);
      d["coef_x"] = vector_json(cx, 9);
      d["coef_y"] = vector_json(cy, 9);
      d["condition"] = a.e.condicion;
      json_estadisticas(d, a, c, o);
      d["transform"] = json_de_transformacion(t);
      *j = d;
    } else {
      static const char* const terminos[9] = {"dx",   "dy",      "dx^2",    "dx*dy", "dy^2",
                                              "dx^3", "dx^2*dy", "dx*dy^2", "dy^3"};
      std::printf("orienta poly2d: %s (tipo %u), %zu pairs from %s (%s)\n\n", nombre_tipo(o.tipo), o.tipo, c.n(),
                  id_visible(c.nombre).c_str(),
                  a.descrito ? (o.flotante ? "described, single precision" : "described, double precision")
                             : "least-squares adjustment");
      std::printf("  x' = x0 + sum cx[k]*term k,  y' = y0 + sum cy[k]*term k,  dx = x - xc, dy = y - yc\n");
      std::printf("  %s %22s %22s\n", rellena("(xc, yc)", 22, false).c_str(), fijo(co[0], 4).c_str(),
                  fijo(co[1], 4).c_str());
      std::printf("  %s %22s %22s\n", rellena("(x0, y0)", 22, false).c_str(), fijo(cd[0], 4).c_str(),
                  fijo(cd[1], 4).c_str());
      std::printf("  %s %22s %22s\n", rellena("term", 22, false).c_str(), "cx", "cy");
      for (int k = 0; k < usados; ++k) {
        std::printf("  %s %22s %22s\n", rellena(terminos[k], 22, false).c_str(), cientifico(cx[k], 14).c_str(),
                    cientifico(cy[k], 14).c_str());
      }
      if (std::isfinite(a.e.condicion))
        std::printf("  condition number of the design %s\n", fijo(a.e.condicion, 1).c_str());
      texto_estadisticas(a, c, o);
    }
  }
  for (const std::string& w : a.avisos) aviso(w);
  return a.avisos.empty() ? kBien : kAviso;
}

}  // namespace orienta::cli
