// The fitting commands' estimates: the least-squares adjustment by default, the library's own
// estimators with --described, checked against the optimum by a bound on what rounding explains.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <optional>
#include <type_traits>

#include <sys/stat.h>

#include "cli.hpp"
#include "orienta.h"

namespace orienta::cli {

const char* nombre_orden(Orden m) {
  return m == Orden::helmert3d ? "helmert3d" : m == Orden::helmert2d ? "helmert2d" : "poly2d";
}

namespace {

constexpr double kUmbralHabitual = 3.29;  // |w| flag without --snoop: two-sided 0.1 % of a normal
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The adjustment model of a command; 0 where there is none (poly2d constant and rigid).
int32_t modelo_de(Orden m, uint32_t tipo, bool rigido = false) {
  if (m == Orden::helmert3d) return rigido ? ORIENTA_RIGIDO3D : ORIENTA_HELMERT3D;
  if (m == Orden::helmert2d) return ORIENTA_HELMERT2D;
  switch (tipo) {
    case 0:
    case 1: return 0;
    case 2: return ORIENTA_HELMERT2D;
    case 6: return ORIENTA_POLI2D_2;
    case 7: return ORIENTA_POLI2D_3;
    default: return ORIENTA_AFIN2D;
  }
}

// The |w| that one of m standard normal tests exceeds with probability α_1, where α_1 is Šidák's
// share of the family-wise α: 1 − (1 − α)^(1/m). erfc(k/√2) falls monotonically, so bisection
// finds k to the last bit without an inverse function.
double umbral_sidak(double alfa, double m) {
  const double uno = -std::expm1(std::log1p(-alfa) / m);
  double bajo = 0.0, alto = 40.0;
  for (int i = 0; i < 200 && alto - bajo > 0.0; ++i) {
    const double medio = 0.5 * (bajo + alto);
    if (medio == bajo || medio == alto) break;
    (std::erfc(medio / std::sqrt(2.0)) > uno ? bajo : alto) = medio;
  }
  return alto;
}

// Fewest pairs: the adjustment model's, and for the described-only kinds one per two parameters.
uint32_t minimo_pares(Orden m, uint32_t tipo) {
  const int32_t codigo = modelo_de(m, tipo);
  return codigo != 0 ? modelo(codigo).min_pares : tipo == 0 ? 1 : 2;
}

orienta_pares pares_de(const Conjunto& c, double umbral) {
  orienta_pares p{};
  p.origen = c.origen.data();
  p.paso_origen = int64_t(sizeof(double)) * c.dim;
  p.destino = c.destino.data();
  p.paso_destino = p.paso_origen;
  p.n = uint32_t(c.n());
  p.sigma = c.sigmas_por_par > 0 ? c.sigma.data() : nullptr;
  p.sigmas_por_par = c.sigmas_por_par > 0 ? c.sigmas_por_par : 1;
  p.umbral = umbral;
  return p;
}

// The line of the pair holding the largest coordinate, for a set whose squares overflow.
std::string linea_mayor(const Conjunto& c) {
  size_t k = 0;
  double mayor = -1;
  for (size_t q = 0; q < c.origen.size(); ++q)
    for (double x : {c.origen[q], c.destino[q]})
      if (std::fabs(x) > mayor) mayor = std::fabs(x), k = q / size_t(c.dim);
  return std::to_string(c.lineas[k]) + " holds the largest, " + corto(mayor);
}

// The one-line cause of a refused fit, with the line of the pair at fault where there is one.
[[noreturn]] void refusa(int32_t estado, Orden m, const Conjunto& c, int32_t modelo_codigo, const orienta_pares& p) {
  const std::string texto = orienta_estado_texto(estado);
  switch (estado) {
    case ORIENTA_E_NO_FINITO:
    case ORIENTA_E_PESO: {
      uint32_t k = 0;
      if (orienta_valida_pares(modelo_codigo, &p, &k) == estado && k < c.n())
        throw Fallo(c.nombre + ":" + std::to_string(c.lineas[k]) + ": " + texto);
      throw Fallo(c.nombre + ": " + texto);
    }
    case ORIENTA_E_COINCIDENTES:
    case ORIENTA_E_COLINEALES:
    case ORIENTA_E_REFLEJO: throw Fallo(c.nombre + ": degenerate point set: " + texto);
    case ORIENTA_E_RANGO:
      throw Fallo(c.nombre + ": degenerate point set: " + texto + " (" + modelo(modelo_codigo).descripcion + ")");
    case ORIENTA_E_REG_SINGULAR:
      throw Fallo(c.nombre + ": degenerate point set: the fitted map is singular (the target points lie on one line?)");
    case ORIENTA_E_DESBORDA: throw Fallo(c.nombre + ": " + texto + " (line " + linea_mayor(c) + ")");
    case ORIENTA_E_POCOS:
      throw Fallo(c.nombre + ": " + std::to_string(c.n()) + " point pairs; " + nombre_orden(m) + " needs at least " +
                  std::to_string(modelo(modelo_codigo).min_pares));
    default: throw Fallo(c.nombre + ": the adjustment failed: " + texto);
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
  for (size_t i = 0; i < 3; ++i) t.matriz[4 * i] = t.rotacion[4 * i] = 1.0;
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
orienta_transformacion descrito(Orden m, uint32_t tipo, bool general, const Conjunto& c, int32_t& estado) {
  const int dim = c.dim;
  if (dim != 2 && dim != 3) throw Fallo(c.nombre + ": pairs of " + std::to_string(dim) + " coordinates");
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
  if (m == Orden::helmert3d) {
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
  if (m == Orden::helmert2d) {
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

// What a fit is before it runs: its input, model, estimator and threshold (the family-wise one
// counts the n pairs).
Ajuste empieza(Orden m, const Opciones& o, const std::string& nombre, size_t n) {
  Ajuste a;
  a.nombre = nombre;
  a.n = n;
  a.dim = m == Orden::helmert3d ? 3 : 2;
  a.modelo = modelo_de(m, o.tipo, o.rigido);
  a.descrito = o.descrita || a.modelo == 0;
  a.umbral = o.umbral ? *o.umbral : kUmbralHabitual;
  if (o.alfa) a.umbral = umbral_sidak(*o.alfa, double(n) * a.dim), a.alfa = *o.alfa;
  return a;
}

// A mirrored set is fitted badly by any rotation, whichever estimator: a warning, and exit status
// 1 unless --mirrored-ok accepts it.
void avisa_reflejo(const Opciones& o, Ajuste& a) {
  if (!a.e.reflejo) return;
  const std::string texto = a.nombre +
                            ": the targets are a mirror image of the sources: a reflection fits them better than any "
                            "rotation (one system left-handed, or x and y swapped?); the rotation shown is the best "
                            "proper one";
  if (o.reflejo_ok)
    aviso(texto);
  else
    a.avisos.push_back(texto + " (--mirrored-ok accepts it)");
}

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

// The least-squares optimum, in every mode: it names the cause of a degenerate set the same way
// whatever was asked, and --described is measured against it.
void optimo(Orden m, const Opciones& o, const Conjunto& c, Ajuste& a, std::vector<double>& qvv) {
  const orienta_pares p = pares_de(c, a.descrito || !(o.umbral || o.alfa) ? 0.0 : a.umbral);
  orienta_observaciones obs{a.v.data(), a.w.data(), qvv.empty() ? nullptr : qvv.data(), a.r.data(), a.excluido.data()};
  int32_t estado;
  if (o.robusto && !a.descrito) {
    orienta_robusto_opciones op{};
    op.metodo = o.robusto, op.umbral = o.umbral_robusto, op.semilla = o.semilla;
    a.pesos.assign(c.n(), 0.0);
    a.dentro.assign(c.n(), 0);
    estado = orienta_robusto(a.modelo, &p, &op, &a.t, &a.e, &obs, a.dentro.data(), a.pesos.data(), &a.robusto);
    if (estado == ORIENTA_OK && o.robusto != ORIENTA_ROBUSTO_MSAC && !a.robusto.convergido)
      a.avisos.push_back(c.nombre + ": the reweighting did not settle in " + std::to_string(a.robusto.iteraciones_irls) +
                         " steps (largest weight change " + corto(a.robusto.cambio) +
                         "): too many blunders for --robust " + (o.robusto == ORIENTA_ROBUSTO_HUBER ? "huber" : "danish") +
                         "? try --robust msac");
  } else {
    estado = orienta_ajusta(a.modelo, &p, &a.t, &a.e, &obs);
  }
  if (estado < 0) refusa(estado, m, c, a.modelo, p);
  a.valores.assign(a.e.parametros, a.e.parametros + a.e.num_parametros);
  a.vtpv_optimo = a.e.vtpv;
}

// What rounding can explain: 1e-6 of the optimum, plus per pair (4·u·ρ)², with u the unit
// roundoff of the precision used and ρ = scale·|source| + |target| in the coordinates the
// estimator saw (reduced by the centroids under --float): each coordinate rounded once, and a few
// roundings more in the estimate. Sums over many pairs in float lose more than that, and the
// warning then says so: the estimate is worse than its data.
double cota_redondeo(const orienta_transformacion& t, const Conjunto& c, bool fl, double vtpv_optimo) {
  const int dim = c.dim;
  const size_t n = c.n();
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
  return 1e-6 * vtpv_optimo + absoluto;
}

// The described estimate replaces the optimum's record and residuals; its statistics keep the
// optimum's cofactors, which belong to the geometry, not to the estimate.
void adopta_descrito(Orden m, const Opciones& o, const Conjunto& c, Ajuste& a, const std::vector<double>& qvv) {
  const size_t n = c.n();
  a.general = o.general && m == Orden::helmert3d && n >= 9;
  if (o.general && m == Orden::helmert3d && !a.general)
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
  double vtpv = 0.0;
  for (double x : v) vtpv += x * x;
  a.vtpv = vtpv;
  // The constant kind maps every point to one: singular by design, and said so in --help.
  const char* campo = nullptr;
  if (const int32_t st = orienta_valida(&t, &campo); st != ORIENTA_OK && !(m == Orden::poly2d && o.tipo == 0))
    a.avisos.push_back(c.nombre + ": the described estimate is no valid transformation: '" +
                       std::string(campo ? campo : "") + "' " + orienta_estado_texto(st) +
                       "; 'orienta apply' will refuse it");
  if (a.modelo == 0) {
    // No adjustment to lean on: redundancy and σ0 of the described fit alone.
    a.valores.clear();
    a.e = orienta_estadisticas{};
    a.e.num_parametros = o.tipo == 0 ? 2 : 3;
    a.e.usados = uint32_t(n);
    a.e.redundancia = int32_t(2 * n) - a.e.num_parametros;
    a.e.vtpv = vtpv;
    a.e.sigma0 = a.e.redundancia > 0 ? std::sqrt(vtpv / a.e.redundancia) : kNaN;
    a.e.condicion = kNaN;
    a.e.chi2 = a.e.chi2_p = kNaN;
    return;
  }
  a.valores.resize(size_t(modelo(t.modelo).num_parametros));
  if (orienta_parametros(&t, a.valores.data()) != ORIENTA_OK) a.valores.assign(a.valores.size(), kNaN);
  a.e.vtpv = vtpv;
  a.e.sigma0 = a.e.redundancia > 0 ? std::sqrt(vtpv / a.e.redundancia) : kNaN;
  for (size_t q = 0; q < v.size(); ++q) a.w[q] = v[q] / (a.e.sigma0 * std::sqrt(qvv[q]));
  a.cota = cota_redondeo(t, c, o.flotante, a.vtpv_optimo);
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
}

}  // namespace

int avisa(const Ajuste& a) {
  for (const std::string& w : a.avisos) aviso(w);
  return a.avisos.empty() ? kBien : kAviso;
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

Ajuste ajusta(Orden m, const Opciones& o, const Conjunto& c) {
  const size_t n = c.n();
  const int dim = c.dim;
  const uint32_t minimo = minimo_pares(m, o.tipo);
  if (n < minimo)
    throw Fallo(c.nombre + ": " + std::to_string(n) + " point pair" + (n == 1 ? "" : "s") + "; " + nombre_orden(m) +
                " needs at least " + std::to_string(minimo));
  Ajuste a = empieza(m, o, c.nombre, n);
  a.v.assign(n * size_t(dim), kNaN);
  a.w.assign(n * size_t(dim), kNaN);
  a.r.assign(n * size_t(dim), kNaN);
  a.excluido.assign(n, 0);
  // The cofactors only weigh the residuals of a described estimate: not kept otherwise.
  std::vector<double> qvv(a.descrito ? n * size_t(dim) : 0, kNaN);
  if (a.modelo != 0) optimo(m, o, c, a, qvv);
  if (a.descrito)
    adopta_descrito(m, o, c, a, qvv);
  else if (!finitos(a.v.data(), a.v.size()) || !finitos(a.valores.data(), a.valores.size()))
    throw Fallo(c.nombre + ": degenerate point set: the fit is not finite");
  a.resumen.anade(Filas{c, a.v.data(), a.w.data(), a.excluido.data(), nullptr});
  avisa_reflejo(o, a);
  return a;
}

// ---------------------------------------------------------------------------------------------
// The fit of a file read again instead of held: moments, then vᵀPv, then the report

namespace {

constexpr size_t kBloquePares = 4096;  // pairs held at once

// What identifies the file between passes: one that changed would give a report of two files.
struct Huella {
  dev_t dispositivo;
  ino_t nodo;
  off_t largo;
  struct timespec cambio;
  bool operator==(const Huella& h) const {
    return dispositivo == h.dispositivo && nodo == h.nodo && largo == h.largo && cambio.tv_sec == h.cambio.tv_sec &&
           cambio.tv_nsec == h.cambio.tv_nsec;
  }
};

std::optional<Huella> huella(std::FILE* f) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return Huella{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

// One pass over the file: every block of its pairs, in order, to haz; returns the pairs read,
// which must be `esperados` after the first pass.
template <class F>
uint64_t recorre_fichero(std::FILE* f, const std::string& nombre, int dim, const Opciones& o, const Huella& h,
                         std::optional<uint64_t> esperados, F&& haz) {
  const std::optional<Huella> ahora = huella(f);
  if (!ahora || !(*ahora == h) || std::fseek(f, 0, SEEK_SET) != 0)
    throw Fallo(nombre + ": the file changed while it was being read");
  LectorPares lector(f, nombre, dim, o);
  Conjunto b;
  b.nombre = nombre;
  b.dim = dim;
  uint64_t n = 0;
  for (bool mas = true; mas;) {
    b.vacia();
    mas = lector.lee(b, kBloquePares);
    if (b.n() == 0) continue;
    haz(b, n);
    n += b.n();
  }
  if (esperados && n != *esperados) throw Fallo(nombre + ": the file changed while it was being read");
  return n;
}

// Ids repeated in the file, found with 8 bytes a pair: a 32-bit hash and the pair's index. Only
// the pairs whose hash repeats are looked at again, in the second pass, by their ids.
class Repetidos {
 public:
  void anade(const Conjunto& b, uint64_t desde) {
    if (!b.con_id || desde + b.n() > UINT32_MAX) return;
    for (size_t k = 0; k < b.n(); ++k)
      claves_.push_back(uint64_t(uint32_t(std::hash<std::string_view>{}(b.ids[k]))) << 32 | (desde + k));
  }
  // After the first pass: the indices to look at again.
  void decide() {
    std::sort(claves_.begin(), claves_.end());
    for (size_t a = 0; a < claves_.size();) {
      size_t z = a + 1;
      while (z < claves_.size() && claves_[z] >> 32 == claves_[a] >> 32) ++z;
      if (z - a > 1)
        for (size_t i = a; i < z; ++i) sospechosos_.push_back(claves_[i] & 0xFFFFFFFFu);
      a = z;
    }
    std::vector<uint64_t>().swap(claves_);
    std::sort(sospechosos_.begin(), sospechosos_.end());
  }
  void mira(const Conjunto& b, uint64_t desde) {
    for (; siguiente_ < sospechosos_.size() && sospechosos_[siguiente_] < desde + b.n(); ++siguiente_) {
      const size_t k = size_t(sospechosos_[siguiente_] - desde);
      ids_.anade(b.ids[k]);
      lineas_.push_back(b.lineas[k]);
    }
  }
  void avisa(const std::string& nombre) const {
    if (ids_.size() > 0) avisa_repetidos(nombre, ids_, lineas_);
  }

 private:
  std::vector<uint64_t> claves_, sospechosos_;
  size_t siguiente_ = 0;
  ListaIds ids_;
  std::vector<uint64_t> lineas_;
};

}  // namespace

bool puede_fluir(Orden m, const Opciones& o, std::FILE* f) {
  return !o.descrita && !o.umbral && !o.alfa && !o.robusto && o.dibujo.empty() && modelo_de(m, o.tipo, o.rigido) != 0 &&
         huella(f).has_value();
}

std::optional<int> ajusta_fichero(Orden m, const Opciones& o, std::FILE* f, const std::string& nombre) {
  Ajuste a = empieza(m, o, nombre, 0);  // no --snoop-alpha here: the threshold needs no count
  const int dim = a.dim;
  const Huella h = *huella(f);

  orienta_acumulador acumulador;
  bool iniciado = false;
  Repetidos repetidos;
  a.n = recorre_fichero(f, nombre, dim, o, h, std::nullopt, [&](const Conjunto& b, uint64_t desde) {
    if (!iniciado && orienta_acumulador_inicia(&acumulador, a.modelo, b.sigmas_por_par) != ORIENTA_OK)
      throw Fallo(nombre + ": the adjustment failed to start");
    iniciado = true;
    const orienta_pares p = pares_de(b, 0.0);
    if (const int32_t estado = orienta_acumulador_anade(&acumulador, &p); estado < 0) refusa(estado, m, b, a.modelo, p);
    repetidos.anade(b, desde);
  });
  // Too few pairs, or a degenerate set: the fit in memory names the cause and the line.
  orienta_solucion s;
  if (!iniciado || a.n < minimo_pares(m, o.tipo) || orienta_resuelve(&acumulador, &s) != ORIENTA_OK)
    return std::nullopt;
  repetidos.decide();

  std::vector<double> v(kBloquePares * size_t(dim)), w(v.size()), r(v.size());
  double vtpv = 0.0;
  recorre_fichero(f, nombre, dim, o, h, a.n, [&](const Conjunto& b, uint64_t desde) {
    const orienta_pares p = pares_de(b, 0.0);
    const orienta_observaciones obs{v.data(), nullptr, nullptr, nullptr, nullptr};
    double parte = 0.0;
    if (orienta_residuos(&s, &p, nullptr, kNaN, &obs, &parte) != ORIENTA_OK)
      throw Fallo(nombre + ": the residual pass failed");
    if (!finitos(v.data(), b.n() * size_t(dim))) throw Fallo(nombre + ": degenerate point set: the fit is not finite");
    vtpv += parte;
    a.resumen.anade(Filas{b, v.data(), nullptr, nullptr, nullptr});
    repetidos.mira(b, desde);
  });
  repetidos.avisa(nombre);
  if (orienta_cierra(&s, vtpv, 0, 0.0, &a.e) != ORIENTA_OK) return std::nullopt;
  a.t = s.t;
  a.valores.assign(a.e.parametros, a.e.parametros + a.e.num_parametros);
  if (!finitos(a.valores.data(), a.valores.size()))
    throw Fallo(nombre + ": degenerate point set: the fit is not finite");
  avisa_reflejo(o, a);

  const double escala = a.e.con_sigma ? 1.0 : a.e.sigma0;
  presenta(m, o, a, [&](const std::function<void(const Filas&)>& haz) {
    recorre_fichero(f, nombre, dim, o, h, a.n, [&](const Conjunto& b, uint64_t) {
      const orienta_pares p = pares_de(b, 0.0);
      const orienta_observaciones obs{v.data(), w.data(), nullptr, r.data(), nullptr};
      if (orienta_residuos(&s, &p, nullptr, escala, &obs, nullptr) != ORIENTA_OK)
        throw Fallo(nombre + ": the residual pass failed");
      haz(Filas{b, v.data(), w.data(), nullptr, r.data()});
    });
  });
  return avisa(a);
}

}  // namespace orienta::cli
