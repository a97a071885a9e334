// A fitted transformation in the forms other tools read: a PROJ operation and a world file.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>

#include "orienta_ajuste.h"

namespace {

constexpr double kSegundos = 648000.0 / 3.141592653589793;  // arcseconds a radian

void anade(std::string& r, const char* clave, double x) {
  char b[32];
  r += clave;
  r.append(b, std::to_chars(b, b + sizeof b, x).ptr);
}

// The image of x, as orienta_aplica computes every point.
bool imagen(const orienta_transformacion* t, const double* x, double* y) {
  const int64_t paso = int64_t(sizeof(double)) * t->dim;
  return orienta_aplica(t, 0, x, paso, y, paso, 1, nullptr) == 0;
}

}  // namespace

extern "C" int32_t orienta_proj(const orienta_transformacion* t, char* texto, uint32_t largo) {
  if (!t || (!texto && largo > 0)) return ORIENTA_E_ARGUMENTO;
  if (const int32_t st = orienta_valida(t, nullptr); st != ORIENTA_OK) return st;
  const double cero[3] = {0, 0, 0};
  double T[3] = {0, 0, 0};
  if (!imagen(t, cero, T)) return ORIENTA_E_DESBORDA;
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
    default: return ORIENTA_E_MODELO;
  }
  if (largo > 0) {
    const size_t n = std::min<size_t>(r.size(), largo - 1);
    std::memcpy(texto, r.data(), n);
    texto[n] = '\0';
  }
  return int32_t(r.size());
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
