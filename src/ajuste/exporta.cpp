// A fitted transformation in the forms other tools read: a PROJ operation and a world file.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "orienta_ajuste.h"

namespace {

constexpr double kSegundos = 648000.0 / 3.141592653589793;  // arcseconds a radian

// The inverse polynomial of horner is fitted to the forward images of a kFit × kFit grid over the
// area, Chebyshev–Lobatto nodes on each side (a least-squares fit on even nodes strays most at the
// corners: these cut its worst error there by about a third), and checked on an even
// kMide × kMide grid (edges included).
constexpr int kFit = 25;
constexpr int kMide = 201;
// +range is this much beyond the farthest point of the area (and of its image) from the origins.
constexpr double kMargenRango = 1.05;

void anade(std::string& r, const char* clave, double x) {
  char b[32];
  r += clave;
  r.append(b, std::to_chars(b, b + sizeof b, x).ptr);
}

void anade_lista(std::string& r, const char* clave, const double* x, int n) {
  r += clave;
  for (int k = 0; k < n; ++k) {
    char b[32];
    if (k > 0) r += ',';
    r.append(b, std::to_chars(b, b + sizeof b, x[k]).ptr);
  }
}

// The image of x, as orienta_aplica computes every point.
bool imagen(const orienta_transformacion* t, const double* x, double* y) {
  const int64_t paso = int64_t(sizeof(double)) * t->dim;
  return orienta_aplica(t, 0, x, paso, y, paso, 1, nullptr) == 0;
}

bool es_polinomio(int32_t modelo) { return modelo == ORIENTA_POLI2D_2 || modelo == ORIENTA_POLI2D_3; }

// PROJ's horner (checked with cct of PROJ 9.1.1) evaluates u from the coefficients of
// 1, x, x², x³, y, x·y, x²·y, y², x·y², y³ (the power of y outer, of x inner) and v from those of
// 1, y, y², y³, x, x·y, x·y², x², x²·y, x³ (the power of x outer), in x, y = p − origin, the
// constant term included. Ours: dx, dy, dx², dx·dy, dy², dx³, dx²·dy, dx·dy², dy³.
constexpr int kOrdenU[9] = {0, 2, 5, 1, 3, 6, 4, 7, 8};
constexpr int kOrdenV[9] = {1, 4, 8, 0, 3, 7, 2, 6, 5};

void horner(const double* constante, const double* cx, const double* cy, double* u, double* v) {
  u[0] = constante[0], v[0] = constante[1];
  for (int k = 0; k < 9; ++k) u[k + 1] = cx[kOrdenU[k]], v[k + 1] = cy[kOrdenV[k]];
}

// The rest of a horner operation after "+proj=horner": the forward polynomial of t, and an
// inverse fitted to it over zona, whose worst round trip on a dense grid goes to *error.
int32_t texto_horner(const orienta_transformacion* t, const double* zona, std::string& r, double* error) {
  const double x0 = zona[0], y0 = zona[1], ax = zona[2] - zona[0], ay = zona[3] - zona[1];
  if (!std::isfinite(ax) || !std::isfinite(ay)) return ORIENTA_E_ARGUMENTO;
  // The grids: source points p, their images q.
  // One block for the three arrays of the dense grid (the fit's grid uses their start), held
  // without a std::vector, whose instantiations the library would export.
  constexpr size_t kLado = size_t(2) * kMide * kMide;
  struct Bloque {
    double* d = new double[3 * kLado];
    ~Bloque() { delete[] d; }
  } bloque;
  double* const p = bloque.d;
  double* const q = p + kLado;
  double* const vuelta = q + kLado;
  auto rejilla = [&](int n, auto nodo) -> int32_t {
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const size_t k = 2 * (size_t(i) * size_t(n) + size_t(j));
        // The last node is the area's edge exactly.
        p[k] = i == n - 1 ? zona[2] : x0 + ax * nodo(i, n);
        p[k + 1] = j == n - 1 ? zona[3] : y0 + ay * nodo(j, n);
      }
    const int64_t paso = 2 * sizeof(double);
    const int64_t malos = orienta_aplica(t, 0, p, paso, q, paso, uint64_t(n) * uint64_t(n), nullptr);
    return malos == 0 ? ORIENTA_OK : malos < 0 ? int32_t(malos) : ORIENTA_E_DESBORDA;
  };
  const auto unif = [](int i, int n) { return double(i) / (n - 1); };
  const auto cheb = [](int i, int n) { return 0.5 - 0.5 * std::cos(3.141592653589793 * i / (n - 1)); };
  if (const int32_t st = rejilla(kFit, cheb); st != ORIENTA_OK) return st;
  orienta_pares pares{};
  pares.origen = q, pares.paso_origen = 2 * sizeof(double);
  pares.destino = p, pares.paso_destino = 2 * sizeof(double);
  pares.n = uint32_t(kFit * kFit);
  orienta_transformacion inv;
  if (const int32_t st = orienta_ajusta(ORIENTA_POLI2D_3, &pares, &inv, nullptr, nullptr); st != ORIENTA_OK) return st;
  if (const int32_t st = rejilla(kMide, unif); st != ORIENTA_OK) return st;
  const int64_t paso = 2 * sizeof(double);
  if (orienta_aplica(&inv, 0, q, paso, vuelta, paso, uint64_t(kMide) * kMide, nullptr) != 0)
    return ORIENTA_E_DESBORDA;
  double peor = 0, radio = 0;
  for (size_t k = 0; k < kLado; k += 2) {
    peor = std::max(peor, std::hypot(vuelta[k] - p[k], vuelta[k + 1] - p[k + 1]));
    radio = std::max({radio, std::fabs(p[k] - t->centro_origen[0]), std::fabs(p[k + 1] - t->centro_origen[1]),
                      std::fabs(q[k] - inv.centro_origen[0]), std::fabs(q[k + 1] - inv.centro_origen[1])});
  }
  if (!std::isfinite(peor) || !std::isfinite(radio * kMargenRango)) return ORIENTA_E_DESBORDA;
  double u[10], v[10];
  const double cero[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  anade(r, " +deg=3 +range=", radio * kMargenRango);
  anade_lista(r, " +fwd_origin=", t->centro_origen, 2);
  double cx[9], cy[9];
  std::memcpy(cx, t->coef_x, sizeof cx), std::memcpy(cy, t->coef_y, sizeof cy);
  if (t->modelo == ORIENTA_POLI2D_2) std::memcpy(cx + 5, cero, 4 * sizeof(double)), std::memcpy(cy + 5, cero, 4 * sizeof(double));
  horner(t->centro_destino, cx, cy, u, v);
  anade_lista(r, " +fwd_u=", u, 10), anade_lista(r, " +fwd_v=", v, 10);
  anade_lista(r, " +inv_origin=", inv.centro_origen, 2);
  horner(inv.centro_destino, inv.coef_x, inv.coef_y, u, v);
  anade_lista(r, " +inv_u=", u, 10), anade_lista(r, " +inv_v=", v, 10);
  *error = peor;
  return ORIENTA_OK;
}

}  // namespace

extern "C" int32_t orienta_proj_zona(const orienta_transformacion* t, const double zona[4], char* texto,
                                     uint32_t largo, double* error_inversa) {
  if (!t || (!texto && largo > 0)) return ORIENTA_E_ARGUMENTO;
  if (const int32_t st = orienta_valida(t, nullptr); st != ORIENTA_OK) return st;
  if (zona && !(std::isfinite(zona[0]) && std::isfinite(zona[1]) && std::isfinite(zona[2]) &&
                std::isfinite(zona[3]) && zona[0] < zona[2] && zona[1] < zona[3]))
    return ORIENTA_E_ARGUMENTO;
  if (es_polinomio(t->modelo) && !zona) return ORIENTA_E_ARGUMENTO;
  try {
    const double cero[3] = {0, 0, 0};
    double T[3] = {0, 0, 0};
    double error = 0;  // the inverses of the similarities and the affine are PROJ's, exact
    if (!es_polinomio(t->modelo) && !imagen(t, cero, T)) return ORIENTA_E_DESBORDA;
    // PROJ's exact Helmert in the coordinate-frame convention has, for the negated angles, our
    // matrix Rz(κ)·Ry(φ)·Rx(ω); its 3D scale is in ppm, its 2D one a factor, and its 2D angle turns
    // the other way. Translations are the images of the origin.
    std::string r;
    switch (t->modelo) {
      case ORIENTA_HELMERT3D:
      case ORIENTA_RIGIDO3D:
        r = "+proj=helmert +exact +convention=coordinate_frame";
        anade(r, " +x=", T[0]), anade(r, " +y=", T[1]), anade(r, " +z=", T[2]);
        anade(r, " +rx=", -t->angulos[0] * kSegundos), anade(r, " +ry=", -t->angulos[1] * kSegundos);
        anade(r, " +rz=", -t->angulos[2] * kSegundos), anade(r, " +s=", (t->escala - 1.0) * 1e6);
        break;
      case ORIENTA_HELMERT2D:
        r = "+proj=helmert";
        anade(r, " +x=", T[0]), anade(r, " +y=", T[1]);
        anade(r, " +theta=", -t->angulos[0] * kSegundos), anade(r, " +s=", t->escala);
        break;
      case ORIENTA_AFIN2D:
        r = "+proj=affine";
        anade(r, " +xoff=", T[0]), anade(r, " +yoff=", T[1]);
        anade(r, " +s11=", t->matriz[0]), anade(r, " +s12=", t->matriz[1]);
        anade(r, " +s21=", t->matriz[3]), anade(r, " +s22=", t->matriz[4]);
        break;
      case ORIENTA_POLI2D_2:
      case ORIENTA_POLI2D_3:
        r = "+proj=horner";
        if (const int32_t st = texto_horner(t, zona, r, &error); st != ORIENTA_OK) return st;
        break;
      default: return ORIENTA_E_MODELO;
    }
    if (largo > 0) {
      const size_t n = std::min<size_t>(r.size(), largo - 1);
      std::memcpy(texto, r.data(), n);
      texto[n] = '\0';
    }
    if (error_inversa) *error_inversa = error;
    return int32_t(r.size());
  } catch (const std::bad_alloc&) {
    return ORIENTA_E_MEMORIA;
  }
}

extern "C" int32_t orienta_proj(const orienta_transformacion* t, char* texto, uint32_t largo) {
  if (!t || (!texto && largo > 0)) return ORIENTA_E_ARGUMENTO;
  if (const int32_t st = orienta_valida(t, nullptr); st != ORIENTA_OK) return st;
  if (es_polinomio(t->modelo)) return ORIENTA_E_MODELO;  // a horner operation needs an area
  return orienta_proj_zona(t, nullptr, texto, largo, nullptr);
}

extern "C" int32_t orienta_mundo(const orienta_transformacion* t, double* seis) {
  if (!t || !seis) return ORIENTA_E_ARGUMENTO;
  if (const int32_t st = orienta_valida(t, nullptr); st != ORIENTA_OK) return st;
  if (t->modelo != ORIENTA_HELMERT2D && t->modelo != ORIENTA_AFIN2D) return ORIENTA_E_MODELO;
  // The source is GDAL's pixel and line, whose origin is the outer corner of the first pixel:
  // the file's last two lines are the image of that pixel's centre, (0.5, 0.5).
  const double centro[2] = {0.5, 0.5};
  double C[2];
  if (!imagen(t, centro, C)) return ORIENTA_E_DESBORDA;
  const double lineas[6] = {t->matriz[0], t->matriz[3], t->matriz[1], t->matriz[4], C[0], C[1]};
  std::memcpy(seis, lineas, sizeof lineas);
  return ORIENTA_OK;
}
