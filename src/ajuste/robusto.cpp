// Robust estimation on top of the fit in blocks: a sample-consensus search (MSAC scoring, local
// optimisation, adaptive stop) and iteratively reweighted least squares with Huber's or the Danish
// weights, both ending with orienta_ajusta so that the statistics are those of a rigorous fit.
// Every call keeps its own generator and scratch: nothing is shared between calls.
#include "orienta.h"  // first, so a drifting signature is a compile error, not a mangled overload

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <cstdlib>
#include <new>
#include <utility>

#include "ajuste/aplica.hpp"
#include "orienta_ajuste.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// A heap array of fixed length. The library exports its C functions and nothing else, and the
// members of a standard container instantiated here would leave it as weak symbols.
template <class T>
class Arreglo {
 public:
  Arreglo() = default;
  explicit Arreglo(size_t n, T v = T()) { asigna(n, v); }
  Arreglo(const Arreglo&) = delete;
  Arreglo& operator=(const Arreglo&) = delete;
  Arreglo(Arreglo&& o) noexcept : p_(o.p_), n_(o.n_) { o.p_ = nullptr, o.n_ = 0; }
  Arreglo& operator=(Arreglo&& o) noexcept {
    std::swap(p_, o.p_), std::swap(n_, o.n_);
    return *this;
  }
  ~Arreglo() { std::free(p_); }
  void asigna(size_t n, T v = T()) {
    if (n != n_) {
      T* q = static_cast<T*>(std::malloc(n ? n * sizeof(T) : 1));
      if (!q) throw std::bad_alloc();
      std::free(p_);
      p_ = q, n_ = n;
    }
    for (size_t k = 0; k < n; ++k) p_[k] = v;
  }
  void copia(const Arreglo& o) {
    asigna(o.n_);
    if (o.n_) std::memcpy(p_, o.p_, o.n_ * sizeof(T));
  }
  // Read only within size(): the analyzer cannot see that an empty array is never indexed.
  // NOLINTNEXTLINE(clang-analyzer-core.uninitialized.UndefReturn)
  T& operator[](size_t k) { return p_[k]; }
  const T& operator[](size_t k) const { return p_[k]; }
  T* data() { return p_; }
  const T* data() const { return p_; }
  size_t size() const { return n_; }

 private:
  T* p_ = nullptr;
  size_t n_ = 0;
};

// xoshiro256** seeded through splitmix64: the seed's bits spread over the whole state, so seeds
// 0, 1, 2 … give unrelated streams, and the state never starts all zero.
class Generador {
 public:
  explicit Generador(uint64_t semilla) {
    for (uint64_t& x : s_) {
      semilla += 0x9e3779b97f4a7c15ull;
      uint64_t z = semilla;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
      x = z ^ (z >> 31);
    }
  }
  uint64_t operator()() {
    const uint64_t r = rota(s_[1] * 5, 7) * 9, t = s_[1] << 17;
    s_[2] ^= s_[0], s_[3] ^= s_[1], s_[1] ^= s_[2], s_[0] ^= s_[3];
    s_[2] ^= t, s_[3] = rota(s_[3], 45);
    return r;
  }
  // An index below n by the high half of a 64 × 32-bit product: no division, and a bias below
  // 2⁻³² that no sample count here can show.
  uint32_t indice(uint32_t n) { return uint32_t(((*this)() >> 32) * uint64_t(n) >> 32); }

 private:
  static uint64_t rota(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
};

// The pairs as the caller laid them out, read point by point.
struct Vista {
  const orienta_pares* p;
  int dim, spp;  // spp: σ per pair given (0 without)
  const double* origen(uint32_t k) const {
    return reinterpret_cast<const double*>(reinterpret_cast<const char*>(p->origen) + int64_t(k) * p->paso_origen);
  }
  const double* destino(uint32_t k) const {
    return reinterpret_cast<const double*>(reinterpret_cast<const char*>(p->destino) + int64_t(k) * p->paso_destino);
  }
  // σ of coordinate c of pair k (1 without σ): plan σ for x, y and height σ for z when two.
  double sigma(uint32_t k, int c) const {
    if (!spp) return 1.0;
    return p->sigma[size_t(spp) * k + (spp == 2 && c == 2 ? 1 : 0)];
  }
  // Pair k alone, as a block (its σ those of the caller, or none when sin_sigma).
  orienta_pares uno(uint32_t k, bool sin_sigma = false) const {
    const bool s = spp && !sin_sigma;
    return {origen(k), p->paso_origen, destino(k), p->paso_destino, 1, s ? p->sigma + size_t(spp) * k : nullptr,
            s ? spp : 1, 0.0};
  }
};

// v = transformed source − target of one pair: the linear maps written out for their dimension,
// their numbers copied out of the record into locals the compiler keeps in registers (the search
// spends its time here); the polynomials through the library's own evaluation, so that the
// residual is the one orienta_ajusta reports.
template <int D>
struct Lineal {
  double co[D], cd[D], m[D][D];
  explicit Lineal(const orienta_transformacion& t) {
    for (int i = 0; i < D; ++i) {
      co[i] = t.centro_origen[i], cd[i] = t.centro_destino[i];
      for (int j = 0; j < D; ++j) m[i][j] = t.matriz[3 * i + j];
    }
  }
  void operator()(const double* o, const double* d, double* v) const {
    double c[D];
    for (int j = 0; j < D; ++j) c[j] = o[j] - co[j];
    for (int i = 0; i < D; ++i) {
      double y = 0.0;
      for (int j = 0; j < D; ++j) y += m[i][j] * c[j];
      v[i] = (cd[i] + y) - d[i];
    }
  }
};

struct Polinomio {
  const orienta_transformacion& t;
  void operator()(const double* o, const double* d, double* v) const {
    double f[2];
    orienta::interno::polinomio(&t, o[0] - t.centro_origen[0], o[1] - t.centro_origen[1], f, nullptr);
    v[0] = f[0] - d[0], v[1] = f[1] - d[1];
  }
};

bool es_polinomio(const orienta_transformacion& t) {
  return t.modelo == ORIENTA_POLI2D_2 || t.modelo == ORIENTA_POLI2D_3;
}

void residuo(const orienta_transformacion& t, int dim, const double* o, const double* d, double* v) {
  if (es_polinomio(t))
    Polinomio{t}(o, d, v);
  else if (dim == 3)
    Lineal<3>{t}(o, d, v);
  else
    Lineal<2>{t}(o, d, v);
}

// The squared norm each pair of [a, b) is scored by, into q: ‖v‖² in the target's units, or
// ‖v/σ‖² when the threshold comes from σ. Not finite (an overflow) counts as an outlier.
template <int D, bool PorSigma, class Residuo>
void cuadrados_de(const Vista& x, const Residuo& residuo_de, uint32_t a, uint32_t b, double* q) {
  for (uint32_t k = a; k < b; ++k) {
    double v[D];
    residuo_de(x.origen(k), x.destino(k), v);
    double s = 0.0;
    for (int i = 0; i < D; ++i) {
      const double u = PorSigma ? v[i] / x.sigma(k, i) : v[i];
      s += u * u;
    }
    if (!std::isfinite(s)) s = kInf;
    q[k] = s;
  }
}

template <bool PorSigma>
void cuadrados(const Vista& x, const orienta_transformacion& t, uint32_t a, uint32_t b, double* q) {
  if (es_polinomio(t))
    cuadrados_de<2, PorSigma>(x, Polinomio{t}, a, b, q);
  else if (x.dim == 3)
    cuadrados_de<3, PorSigma>(x, Lineal<3>(t), a, b, q);
  else
    cuadrados_de<2, PorSigma>(x, Lineal<2>(t), a, b, q);
}

void cuadrados(const Vista& x, const orienta_transformacion& t, bool por_sigma, uint32_t a, uint32_t b, double* q) {
  por_sigma ? cuadrados<true>(x, t, a, b, q) : cuadrados<false>(x, t, a, b, q);
}

struct Puntuacion {
  double coste;
  uint32_t dentro;
};

// MSAC: every pair costs min(r², T²), its r² kept in q. The sum stops early once it passes tope (a
// hypothesis that cannot win needs no exact score; the test every few pairs, as the sum only
// grows), so a loser's count and q are meaningless; a winner's q are every pair's.
Puntuacion puntua(const Vista& x, const orienta_transformacion& t, double t2, bool por_sigma, double tope,
                  double* q) {
  constexpr uint32_t kTramo = 64;
  Puntuacion p{0.0, 0};
  for (uint32_t a = 0; a < x.p->n && !(p.coste > tope); a += kTramo) {
    const uint32_t b = std::min(x.p->n, a + kTramo);
    cuadrados(x, t, por_sigma, a, b, q);
    for (uint32_t k = a; k < b; ++k)
      if (q[k] <= t2)
        p.coste += q[k], ++p.dentro;
      else
        p.coste += t2;
  }
  return p;
}

bool finita(const orienta_transformacion& t) {
  double z = 0.0;
  for (int k = 0; k < 3; ++k) z += t.centro_origen[k] * 0.0 + t.centro_destino[k] * 0.0;
  for (int k = 0; k < 9; ++k) z += t.matriz[k] * 0.0 + t.coef_x[k] * 0.0 + t.coef_y[k] * 0.0;
  return z == 0.0 && orienta_valida(&t, nullptr) == ORIENTA_OK;
}

// The pairs a winner's scores q keep.
uint32_t marca(const Arreglo<double>& q, double t2, Arreglo<uint8_t>& dentro) {
  uint32_t n = 0;
  for (size_t k = 0; k < q.size(); ++k) n += dentro[k] = q[k] <= t2;
  return n;
}

// Samples a run of conf needs once a fraction eps of the pairs agree: log(1 − conf)/log(1 − eps^m).
double necesarias(double eps, uint32_t m, double conf) {
  if (eps >= 1.0) return 0.0;
  const double p = std::pow(eps, double(m));
  const double den = std::log1p(-p);
  if (!(den < 0.0)) return kInf;
  return std::ceil(std::log1p(-conf) / den);
}

// The share of clean sets of which the threshold from σ leaves out any good pair.
constexpr double kAlfaFamilia = 0.01;

// P(χ²(dim) > x) for the dimensions of a pair, 2 and 3.
double cola_chi2(int dim, double x) {
  if (dim == 2) return std::exp(-0.5 * x);
  return std::erfc(std::sqrt(0.5 * x)) + std::sqrt(2.0 * x / 3.14159265358979323846) * std::exp(-0.5 * x);
}

// The squared threshold on ‖v/σ‖ from σ: the one any of n good pairs passes with probability
// 1 − kAlfaFamilia together, each with 1 − q, q = 1 − (1 − α)^(1/n). A threshold fixed per pair
// would leave out a hundredth of the good pairs of a large set; this one leaves most clean sets
// whole, and for one pair it is the 99 % point, √χ²(dim, 0.99). The χ² tail falls monotonically:
// bisection on it, to the last bit.
double umbral_de_sigma2(int dim, uint32_t n) {
  const double q = -std::expm1(std::log1p(-kAlfaFamilia) / double(std::max<uint32_t>(n, 1)));
  if (dim == 2) return -2.0 * std::log(q);
  double bajo = 0.0, alto = 4096.0;
  for (int k = 0; k < 200 && bajo < alto; ++k) {
    const double medio = 0.5 * (bajo + alto);
    if (medio == bajo || medio == alto) break;
    (cola_chi2(dim, medio) > q ? bajo : alto) = medio;
  }
  return alto;
}

constexpr uint32_t kRondasLocales = 4;
constexpr double kAncho = 3.0;
constexpr uint32_t kMaxMuestras = 10000;
constexpr uint32_t kMaxIrls = 100;
constexpr double kConfianza = 0.999;
constexpr double kCambioIrls = 1e-6;
constexpr double kHuber = 1.345;
constexpr double kDanes = 2.0;
// Weights are floored so that σ/√w stays a σ orienta_ajusta accepts (its weight a normal number):
// a pair weighted 1e-12 counts a millionth of its σ, nothing a fit can see.
constexpr double kPesoMin = 1e-12;
constexpr double kSigmaMax = 1e148;

// The pairs flagged, packed (dim doubles a point, spp σ a pair) for orienta_ajusta.
struct Empaquetado {
  Arreglo<double> o, d, s;
  orienta_pares p;
};

void empaqueta(const Vista& x, const Arreglo<uint8_t>& dentro, Empaquetado& e) {
  uint32_t m = 0;
  for (uint32_t k = 0; k < x.p->n; ++k) m += dentro[k];
  e.o.asigna(size_t(x.dim) * m), e.d.asigna(size_t(x.dim) * m), e.s.asigna(size_t(x.spp) * m);
  for (uint32_t k = 0, j = 0; k < x.p->n; ++k) {
    if (!dentro[k]) continue;
    std::memcpy(&e.o[size_t(x.dim) * j], x.origen(k), 8 * size_t(x.dim));
    std::memcpy(&e.d[size_t(x.dim) * j], x.destino(k), 8 * size_t(x.dim));
    if (x.spp) std::memcpy(&e.s[size_t(x.spp) * j], x.p->sigma + size_t(x.spp) * k, 8 * size_t(x.spp));
    ++j;
  }
  e.p = {e.o.data(), int64_t(8) * x.dim, e.d.data(), int64_t(8) * x.dim, m, x.spp ? e.s.data() : nullptr, x.spp ? x.spp : 1,
         x.p->umbral};
}

// The least-squares fit of the pairs flagged in dentro, with the caller's σ, packed first so that
// they enter the accumulator as one block.
int32_t ajusta_dentro(const Vista& x, int32_t modelo, const Arreglo<uint8_t>& dentro, Empaquetado& q,
                      orienta_transformacion& t) {
  empaqueta(x, dentro, q);
  orienta_acumulador a;
  orienta_solucion s;
  int32_t st = orienta_acumulador_inicia(&a, modelo, x.spp);
  if (st != ORIENTA_OK || (st = orienta_acumulador_anade(&a, &q.p)) != ORIENTA_OK ||
      (st = orienta_resuelve(&a, &s)) != ORIENTA_OK)
    return st;
  if (!finita(s.t)) return ORIENTA_E_DESBORDA;
  t = s.t;
  return ORIENTA_OK;
}

// Closed forms for the minimal samples of the plane's similarity (2 pairs) and affine (3 pairs).
// Scoring needs only the map (centres and matrix), and at a thousand pairs the general solver's
// decompositions and checks cost more than the scoring itself. A sample whose sources coincide or
// lie on one line, to a part in 10⁹ of their spread's scale, is degenerate, as is a map that is not
// finite or is singular; the general solver (used for the other models) skips the same samples.
constexpr double kDegeneradoPlano = 1e-9;

int32_t hipotesis_plana(const Vista& x, int32_t modelo, const uint32_t* muestra, orienta_transformacion& t) {
  const double* o0 = x.origen(muestra[0]);
  const double* d0 = x.destino(muestra[0]);
  double dp[2][2], dq[2][2];
  const int otros = modelo == ORIENTA_HELMERT2D ? 1 : 2;
  for (int j = 0; j < otros; ++j) {
    const double* o = x.origen(muestra[1 + j]);
    const double* d = x.destino(muestra[1 + j]);
    for (int c = 0; c < 2; ++c) dp[j][c] = o[c] - o0[c], dq[j][c] = d[c] - d0[c];
  }
  std::memset(&t, 0, sizeof t);
  t.modelo = modelo, t.dim = 2;
  t.centro_origen[0] = o0[0], t.centro_origen[1] = o0[1];
  t.centro_destino[0] = d0[0], t.centro_destino[1] = d0[1];
  auto& a = t.matriz;
  a[8] = 1.0;
  if (modelo == ORIENTA_HELMERT2D) {
    // s·R is the complex ratio dq / dp.
    const double n2 = dp[0][0] * dp[0][0] + dp[0][1] * dp[0][1];
    const double escala = std::max(std::fabs(o0[0]), std::fabs(o0[1])) * kDegeneradoPlano;
    if (!(n2 > escala * escala) || !std::isfinite(n2)) return ORIENTA_E_COINCIDENTES;
    const double c = (dp[0][0] * dq[0][0] + dp[0][1] * dq[0][1]) / n2;
    const double sn = (dp[0][0] * dq[0][1] - dp[0][1] * dq[0][0]) / n2;
    a[0] = c, a[1] = -sn, a[3] = sn, a[4] = c;
  } else {
    // A = [dq₁ dq₂]·[dp₁ dp₂]⁻¹.
    const double det = dp[0][0] * dp[1][1] - dp[1][0] * dp[0][1];
    const double l0 = std::hypot(dp[0][0], dp[0][1]), l1 = std::hypot(dp[1][0], dp[1][1]);
    if (!(std::fabs(det) > kDegeneradoPlano * l0 * l1) || !std::isfinite(det)) return ORIENTA_E_COLINEALES;
    for (size_t i = 0; i < 2; ++i) {
      a[3 * i] = (dq[0][i] * dp[1][1] - dq[1][i] * dp[0][1]) / det;
      a[3 * i + 1] = (dq[1][i] * dp[0][0] - dq[0][i] * dp[1][0]) / det;
    }
  }
  const double det = a[0] * a[4] - a[1] * a[3];
  if (!std::isfinite(a[0] + a[1] + a[3] + a[4]) || !(det != 0.0)) return ORIENTA_E_DESBORDA;
  return ORIENTA_OK;
}

// The map of a minimal sample, from unit weights: a minimal sample is (nearly) an exact fit, and
// plan and height σ apart would cost a Gauss–Newton per sample for nothing.
int32_t hipotesis(const Vista& x, int32_t modelo, const uint32_t* muestra, uint32_t m, orienta_transformacion& t) {
  if (modelo == ORIENTA_HELMERT2D || modelo == ORIENTA_AFIN2D) return hipotesis_plana(x, modelo, muestra, t);
  orienta_acumulador a;
  orienta_acumulador_inicia(&a, modelo, 0);
  int32_t st = ORIENTA_OK;
  for (uint32_t j = 0; j < m && st == ORIENTA_OK; ++j) {
    const orienta_pares b = x.uno(muestra[j], true);
    st = orienta_acumulador_anade(&a, &b);
  }
  orienta_solucion s;
  if (st == ORIENTA_OK) st = orienta_resuelve(&a, &s);
  if (st == ORIENTA_OK && !finita(s.t)) st = ORIENTA_E_DESBORDA;
  if (st == ORIENTA_OK) t = s.t;
  return st;
}

struct Consenso {
  orienta_transformacion t;
  Arreglo<uint8_t> dentro;
  uint32_t iteraciones = 0, degeneradas = 0, mejoras_locales = 0, dentro_n = 0;
  double coste = kInf;
  int32_t estado_degenerado = ORIENTA_OK;
};

int32_t consenso(const Vista& x, int32_t modelo, double t2, bool por_sigma, double conf, uint32_t tope,
                 uint64_t semilla, Consenso& c) {
  const uint32_t n = x.p->n, m = orienta_modelo(modelo)->min_pares;
  Generador g(semilla);
  c.dentro.asigna(n, 0);
  double objetivo = double(tope);
  uint32_t muestra[ORIENTA_MAX_PARAMETROS] = {};
  Empaquetado paquete;
  Arreglo<double> q(n);
  Arreglo<uint8_t> amplio(n, 0);
  bool alguna = false;
  while (c.iteraciones < tope && double(c.iteraciones) < objetivo) {
    ++c.iteraciones;
    for (uint32_t j = 0; j < m;) {
      const uint32_t k = g.indice(n);
      if (std::find(muestra, muestra + j, k) == muestra + j) muestra[j++] = k;
    }
    orienta_transformacion h;
    const int32_t st = hipotesis(x, modelo, muestra, m, h);
    if (st != ORIENTA_OK) {
      ++c.degeneradas, c.estado_degenerado = st;
      continue;
    }
    const Puntuacion p = puntua(x, h, t2, por_sigma, c.coste, q.data());
    if (!(p.coste < c.coste)) continue;
    alguna = true;
    c.t = h, c.coste = p.coste, c.dentro_n = p.dentro;
    marca(q, t2, c.dentro);
    // Local optimisation: the least-squares fit of the consensus, again while it gains pairs. The
    // first takes the pairs within kAncho·T: a minimal sample fits its own pairs exactly and puts
    // their noise onto the others, whose residuals against it spread wider than against a fit of
    // them all (with three pairs, a good third lies beyond T from a two-pair sample one time in
    // twenty). The refit is kept only if it scores better at T; if not, the inliers' own refit
    // follows (the same set when none lies between T and kAncho·T).
    bool ancho = marca(q, kAncho * kAncho * t2, amplio) > c.dentro_n;
    for (uint32_t r = 0; r < kRondasLocales && c.dentro_n >= m; ++r) {
      orienta_transformacion t;
      const bool hecho = ajusta_dentro(x, modelo, ancho ? amplio : c.dentro, paquete, t) == ORIENTA_OK;
      const Puntuacion l = hecho ? puntua(x, t, t2, por_sigma, c.coste, q.data()) : Puntuacion{kInf, 0};
      if (!(l.coste < c.coste)) {
        if (!ancho) break;
        ancho = false;
        continue;
      }
      ancho = false;
      const bool crece = l.dentro > c.dentro_n;
      c.t = t, c.coste = l.coste, c.dentro_n = l.dentro, ++c.mejoras_locales;
      marca(q, t2, c.dentro);
      if (!crece) break;
    }
    objetivo = std::min(objetivo, necesarias(double(c.dentro_n) / double(n), m, conf));
  }
  if (!alguna) return c.estado_degenerado;
  return c.dentro_n < m ? ORIENTA_E_POCOS : ORIENTA_OK;
}

// The rigorous fit of the consensus, then the residual pass over every pair against it: the
// pairs outside it (and those snooping left out) as excluded pairs, against the prediction.
int32_t cierra_consenso(const Vista& x, int32_t modelo, Arreglo<uint8_t>& dentro, orienta_transformacion& t,
                        orienta_estadisticas& e, const orienta_observaciones* obs) {
  Empaquetado q;
  empaqueta(x, dentro, q);
  Arreglo<uint8_t> fuera(q.p.n + 1, 0);
  const orienta_observaciones oq{nullptr, nullptr, nullptr, nullptr, fuera.data()};
  int32_t st = orienta_ajusta(modelo, &q.p, &t, &e, &oq);
  if (st != ORIENTA_OK) return st;
  for (uint32_t k = 0, j = 0; k < x.p->n; ++k)
    if (dentro[k]) dentro[k] = !fuera[j++];
  if (!obs) return ORIENTA_OK;
  // The solution the pass needs: the fit's pairs accumulated as orienta_ajusta accumulates them,
  // one block, so that without snooping it is the same solution bit for bit.
  Empaquetado f;
  empaqueta(x, dentro, f);
  orienta_acumulador a;
  orienta_solucion s;
  if ((st = orienta_acumulador_inicia(&a, modelo, x.spp)) != ORIENTA_OK ||
      (st = orienta_acumulador_anade(&a, &f.p)) != ORIENTA_OK || (st = orienta_resuelve(&a, &s)) != ORIENTA_OK)
    return st;
  Arreglo<uint8_t> excluido(x.p->n);
  for (uint32_t k = 0; k < x.p->n; ++k) excluido[k] = !dentro[k];
  orienta_pares todos = *x.p;
  todos.umbral = 0.0;
  return orienta_residuos(&s, &todos, excluido.data(), e.con_sigma ? 1.0 : e.sigma0, obs, nullptr);
}

double mediana(double* a, size_t n) {
  if (n == 0) return 0.0;
  const size_t h = n / 2;
  std::nth_element(a, a + h, a + n);
  double m = a[h];
  if (n % 2 == 0) m = 0.5 * (m + *std::max_element(a, a + h));
  return m;
}

// IRLS: standardized residuals u of every pair at t, the scale, and the weights of the method.
struct Reponderacion {
  Arreglo<double> u, abs, peso;
  double escala = 1.0;
};

void reponderar(const Vista& x, const orienta_transformacion& t, int32_t metodo, Reponderacion& r) {
  const uint32_t n = x.p->n;
  r.u.asigna(n), r.peso.asigna(n), r.abs.asigna(x.spp ? 0 : size_t(x.dim) * n);
  size_t absolutos = 0;
  for (uint32_t k = 0; k < n; ++k) {
    double v[3] = {0, 0, 0}, q = 0.0;
    residuo(t, x.dim, x.origen(k), x.destino(k), v);
    for (int c = 0; c < x.dim && c < 3; ++c) {
      const double z = v[c] / x.sigma(k, c);
      q += z * z;
      // NaN (∞ − ∞ of coordinates near overflow) would break the ordering of the median.
      if (!x.spp) r.abs[absolutos++] = std::isnan(z) ? kInf : std::fabs(z);
    }
    r.u[k] = std::sqrt(q / x.dim);
  }
  // With σ the scale is theirs (σ0 a priori 1); without, 1.4826 times the median |v| over every
  // coordinate (the median absolute residual, residuals centring on 0), floored so that an exact
  // majority still divides.
  r.escala = x.spp ? 1.0 : std::max(1.482602218505602 * mediana(r.abs.data(), absolutos), std::numeric_limits<double>::min());
  for (uint32_t k = 0; k < n; ++k) {
    const double u = r.u[k] / r.escala;
    r.u[k] = u;
    if (!std::isfinite(u)) r.u[k] = kInf;
    double w;
    if (metodo == ORIENTA_ROBUSTO_HUBER)
      w = u <= kHuber ? 1.0 : kHuber / u;
    else
      w = u <= kDanes ? 1.0 : std::exp(1.0 - (u / kDanes) * (u / kDanes));
    if (!(w >= 0.0)) w = 0.0;
    // The floor keeps σ/√w within the weights orienta_ajusta accepts, however large σ is.
    double minimo = kPesoMin;
    for (int c = 0; c < x.dim; ++c) minimo = std::max(minimo, std::pow(x.sigma(k, c) / kSigmaMax, 2.0));
    r.peso[k] = std::max(w, std::min(minimo, 1.0));
  }
}

// orienta_ajusta on every pair, each σ divided by √w (unit σ without the caller's).
int32_t ajusta_pesado(const Vista& x, int32_t modelo, const Arreglo<double>& peso, Arreglo<double>& sigma,
                      orienta_transformacion* t, orienta_estadisticas* e, const orienta_observaciones* obs) {
  const int spp = x.spp ? x.spp : 1;
  sigma.asigna(size_t(spp) * x.p->n);
  for (uint32_t k = 0; k < x.p->n; ++k)
    for (int c = 0; c < spp; ++c)
      sigma[size_t(spp) * k + c] = (x.spp ? x.p->sigma[size_t(spp) * k + c] : 1.0) / std::sqrt(peso[k]);
  orienta_pares p = *x.p;
  p.sigma = sigma.data(), p.sigmas_por_par = spp, p.umbral = 0.0;
  return orienta_ajusta(modelo, &p, t, e, obs);
}

int32_t robusto(int32_t modelo, const orienta_pares* pares, const orienta_robusto_opciones* op,
                orienta_transformacion* t_out, orienta_estadisticas* e_out, const orienta_observaciones* obs,
                uint8_t* inlier, double* peso_out, orienta_robusto_info* info_out) {
  const orienta_modelo_info* m = orienta_modelo(modelo);
  if (!m || !pares || !op) return ORIENTA_E_ARGUMENTO;
  const int32_t metodo = op->metodo;
  if (metodo != ORIENTA_ROBUSTO_MSAC && metodo != ORIENTA_ROBUSTO_HUBER && metodo != ORIENTA_ROBUSTO_DANES)
    return ORIENTA_E_ARGUMENTO;
  if (!(op->umbral >= 0.0) || std::isinf(op->umbral)) return ORIENTA_E_ARGUMENTO;
  if (!(op->confianza >= 0.0 && op->confianza <= 1.0)) return ORIENTA_E_ARGUMENTO;
  uint32_t malo;
  int32_t st = orienta_valida_pares(modelo, pares, &malo);
  if (st != ORIENTA_OK) return st;
  const bool con_sigma = pares->sigma != nullptr;
  const bool con_umbral = op->umbral > 0.0 || con_sigma;
  if (metodo == ORIENTA_ROBUSTO_MSAC && !con_umbral) return ORIENTA_E_ARGUMENTO;
  if (pares->n < m->min_pares) return ORIENTA_E_POCOS;

  const Vista x{pares, m->dim, con_sigma ? pares->sigmas_por_par : 0};
  const uint32_t n = pares->n;
  const bool por_sigma = op->umbral == 0.0;
  const double umbral = por_sigma ? std::sqrt(umbral_de_sigma2(m->dim, n)) : op->umbral;
  const double conf = op->confianza > 0.0 ? op->confianza : kConfianza;

  orienta_robusto_info info{};
  info.umbral = umbral;
  info.coste = kInf;
  info.umbral_de_sigma = con_umbral && por_sigma;
  orienta_transformacion t;
  orienta_estadisticas e;
  Arreglo<uint8_t> dentro;
  Arreglo<double> peso(n, 1.0);

  if (con_umbral) {
    Consenso c;
    const uint32_t tope = op->max_iteraciones ? op->max_iteraciones : kMaxMuestras;
    st = consenso(x, modelo, umbral * umbral, por_sigma, conf, tope, op->semilla, c);
    info.iteraciones = c.iteraciones, info.degeneradas = c.degeneradas, info.mejoras_locales = c.mejoras_locales;
    info.coste = c.coste;
    if (st != ORIENTA_OK) return st;
    dentro = std::move(c.dentro);
    if (metodo == ORIENTA_ROBUSTO_MSAC) {
      if ((st = cierra_consenso(x, modelo, dentro, t, e, obs)) != ORIENTA_OK) return st;
      for (uint32_t k = 0; k < n; ++k) peso[k] = dentro[k];
    } else {
      // The start of the reweighting is the consensus' rigorous fit, without snooping.
      Empaquetado q;
      empaqueta(x, dentro, q);
      q.p.umbral = 0.0;
      if ((st = orienta_ajusta(modelo, &q.p, &t, nullptr, nullptr)) != ORIENTA_OK) return st;
    }
  } else {
    orienta_pares p = *pares;
    p.umbral = 0.0;
    if ((st = orienta_ajusta(modelo, &p, &t, nullptr, nullptr)) != ORIENTA_OK) return st;
  }

  if (metodo != ORIENTA_ROBUSTO_MSAC) {
    const uint32_t tope = op->max_pasos ? op->max_pasos : kMaxIrls;
    Reponderacion r;
    Arreglo<double> sigma;
    reponderar(x, t, metodo, r);
    peso.copia(r.peso);
    info.cambio = kInf;
    while (info.iteraciones_irls < tope) {
      ++info.iteraciones_irls;
      if ((st = ajusta_pesado(x, modelo, peso, sigma, &t, nullptr, nullptr)) != ORIENTA_OK) return st;
      reponderar(x, t, metodo, r);
      double cambio = 0.0;
      for (uint32_t k = 0; k < n; ++k) cambio = std::max(cambio, std::fabs(r.peso[k] - peso[k]));
      peso.copia(r.peso), info.cambio = cambio;
      if (cambio < kCambioIrls) {
        info.convergido = 1;
        break;
      }
    }
    // The reported fit is that of the reported weights.
    if ((st = ajusta_pesado(x, modelo, peso, sigma, &t, &e, obs)) != ORIENTA_OK) return st;
    reponderar(x, t, metodo, r);
    info.escala = r.escala;
    // Without the caller's σ the weights are relative: the statistics are those of a fit without
    // σ (w as Pope's τ, against σ0; no global test).
    if (!con_sigma) {
      if (obs && obs->w)
        for (size_t k = 0; k < size_t(n) * m->dim; ++k) obs->w[k] /= e.sigma0;
      e.con_sigma = 0, e.chi2 = NAN, e.chi2_p = NAN;
    }
    dentro.asigna(n, 0);
    const double t2 = umbral_de_sigma2(m->dim, n);
    for (uint32_t k = 0; k < n; ++k) dentro[k] = r.u[k] * r.u[k] * m->dim <= t2;
  }
  for (uint32_t k = 0; k < n; ++k) info.inliers += dentro[k];
  if (t_out) *t_out = t;
  if (e_out) *e_out = e;
  if (inlier) std::memcpy(inlier, dentro.data(), n);
  if (peso_out) std::memcpy(peso_out, peso.data(), sizeof(double) * n);
  if (info_out) *info_out = info;
  return ORIENTA_OK;
}

}  // namespace

extern "C" int32_t orienta_robusto(int32_t modelo, const orienta_pares* pares, const orienta_robusto_opciones* op,
                                   orienta_transformacion* t, orienta_estadisticas* e,
                                   const orienta_observaciones* obs, uint8_t* inlier, double* peso,
                                   orienta_robusto_info* info) {
  try {
    return robusto(modelo, pares, op, t, e, obs, inlier, peso, info);
  } catch (const std::bad_alloc&) {
    return ORIENTA_E_MEMORIA;
  }
}
