// The validator of stored records on records near valid ones: a valid record of any model, then
// one of its doubles spoilt (raw bits, a few ulps, NaN, a swap with another field).
//
// For every input:
//  - orienta_valida returns ORIENTA_OK or one of the record statuses, and names a field exactly
//    when it refuses;
//  - a record it accepts has parameters, and apply never passes a non-finite image for a number;
//  - the inverse of an accepted similarity or affine is itself accepted, and carries the images of
//    points near the centroid back to them within what the tolerated rounding of the rotation allows.
#include <algorithm>

#include "comun.hpp"
#include "orienta_ajuste.h"

using namespace orienta::fuzz;

namespace {

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();

orienta_transformacion valido(Lector& l, int32_t modelo) {
  const orienta_modelo_info* m = orienta_modelo(modelo);
  orienta_transformacion t;
  std::memset(&t, 0, sizeof t);
  t.modelo = modelo;
  t.dim = m->dim;
  for (int k = 0; k < 3; ++k) t.matriz[4 * k] = t.rotacion[4 * k] = 1.0;
  t.escala = std::numeric_limits<double>::quiet_NaN();
  for (int k = 0; k < t.dim; ++k) {
    t.centro_origen[k] = double(int16_t(l.u32())) * 7.25;
    t.centro_destino[k] = 4.5e6 + double(int16_t(l.u32())) * 3.5;
  }
  const double a[3] = {(l.byte() - 128) * 0.025, (l.byte() - 128) * 0.0125, (l.byte() - 128) * 0.025};
  const double s = 0.5 + l.byte() / 128.0;
  if (m->num_angulos == 3) {
    const SenosCosenos sc = {
        {std::sin(a[0]), std::cos(a[0]), std::sin(a[1]), std::cos(a[1]), std::sin(a[2]), std::cos(a[2])}};
    MatrizRotGT_ωφκ(&sc, t.rotacion);
    const Terna r = Gmatriz_ωφκ_seg(t.rotacion);
    for (int k = 0; k < 3; ++k) t.angulos[k] = r.v[k];
  } else if (m->num_angulos == 1) {
    t.angulos[0] = a[0];
    t.rotacion[0] = t.rotacion[4] = std::cos(a[0]);
    t.rotacion[3] = std::sin(a[0]);
    t.rotacion[1] = -t.rotacion[3];
  }
  if (m->num_angulos > 0) {
    t.escala = s;
    for (int i = 0; i < t.dim; ++i)
      for (int j = 0; j < t.dim; ++j) t.matriz[3 * i + j] = s * t.rotacion[3 * i + j];
  } else {
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) t.matriz[3 * i + j] = (i == j ? 1.0 : 0.0) + (l.byte() - 128) / 512.0;
  }
  for (int k = 0; k < m->num_terminos; ++k) {
    t.coef_x[k] = k < 2 ? t.matriz[k] : (l.byte() - 128) * 1e-9;
    t.coef_y[k] = k < 2 ? t.matriz[3 + k] : (l.byte() - 128) * 1e-9;
  }
  return t;
}

// One of the record's doubles, by index.
double& hueco(orienta_transformacion& t, size_t k) {
  double* d = &t.centro_origen[0];
  return d[k % ((sizeof t - offsetof(orienta_transformacion, centro_origen)) / sizeof(double))];
}

void estropea(Lector& l, orienta_transformacion& t) {
  const uint8_t que = l.byte();
  if (que < 96) return;  // kept whole
  double& x = hueco(t, l.byte());
  switch (que % 5) {
    case 0: x = l.escalar<double>(); break;
    case 1: x = std::nextafter(std::nextafter(x, 1e300), 1e300); break;
    case 2: x = std::numeric_limits<double>::quiet_NaN(); break;
    case 3: x = x * (1.0 + (l.byte() - 128) * 1e-8); break;
    default: std::swap(x, hueco(t, l.byte())); break;
  }
}

bool al_borde(const double* a) {
  for (const int k : {0, 1, 3, 4})
    if (a[k] != 0.0 && !(std::fabs(a[k]) >= 1e-75 && std::fabs(a[k]) <= 1e75)) return true;
  const double p = a[0] * a[4], q = a[1] * a[3];
  return std::fabs(p - q) <= 1e-10 * (std::fabs(p) + std::fabs(q));
}

bool es_estado_de_registro(int32_t e) {
  return e == ORIENTA_OK || e == ORIENTA_E_MODELO || e == ORIENTA_E_REG_NO_FINITO || e == ORIENTA_E_REG_TERMINOS ||
         e == ORIENTA_E_REG_SINGULAR || e == ORIENTA_E_REG_INCOHERENTE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tam) {
  Lector l(datos, tam);
  const int32_t modelo = 1 + l.byte() % 5;
  orienta_transformacion t = valido(l, modelo);
  estropea(l, t);
  if (l.byte() == 255) t.modelo = int32_t(l.u32());  // codes the table does not know
  const char* campo = "";
  const int32_t estado = orienta_valida(&t, &campo);
  EXIGE(es_estado_de_registro(estado) && (estado == ORIENTA_OK) == (campo == nullptr));
  EXIGE(orienta_valida(nullptr, nullptr) == ORIENTA_E_ARGUMENTO);
  const int d = t.dim;
  std::vector<double> p(3 * 8);
  for (size_t k = 0; k < 8; ++k)
    for (int i = 0; i < 3; ++i) p[3 * k + i] = (i < d ? t.centro_origen[i] : 0.0) + (l.byte() - 128) * 0.5;
  std::vector<double> imagen(p.size());
  std::vector<uint8_t> fallo(8);
  const int64_t malos = orienta_aplica(&t, 0, p.data(), 24, imagen.data(), 24, 8, fallo.data());
  if (estado != ORIENTA_OK) {
    EXIGE(malos == estado);
    return 0;
  }
  double par[ORIENTA_MAX_PARAMETROS];
  EXIGE(orienta_parametros(&t, par) == ORIENTA_OK);
  EXIGE(malos >= 0 && malos <= 8);
  for (size_t k = 0; k < 8; ++k) EXIGE(fallo[k] ? std::isnan(imagen[3 * k]) : todos_finitos(&imagen[3 * k], size_t(d)));
  if (modelo == ORIENTA_POLI2D_2 || modelo == ORIENTA_POLI2D_3 || malos > 0) return 0;
  orienta_transformacion inv;
  const int32_t invertido = orienta_invierte(&t, &inv);
  // Only an affine with numbers near the ends of the double range, or one singular but for a few
  // ulps (whose inverse's determinant is then lost in rounding), may lack an inverse in doubles.
  if (invertido == ORIENTA_E_REG_SINGULAR) {
    EXIGE(modelo == ORIENTA_AFIN2D && al_borde(t.matriz));
    return 0;
  }
  EXIGE(invertido == ORIENTA_OK);
  EXIGE(orienta_valida(&inv, nullptr) == ORIENTA_OK);
  std::vector<double> vuelta(p.size());
  // A map that shrinks by 1e-300 has an inverse whose images overflow: flagged, and not compared.
  std::vector<uint8_t> sin_vuelta(8);
  EXIGE(orienta_aplica(&inv, 0, imagen.data(), 24, vuelta.data(), 24, 8, sin_vuelta.data()) >= 0);
  // R·Rᵀ may be off I by 4e-6 in a valid record, and Rᵀ/s stands for the inverse: the way back
  // is off by that much of the distance from the centroid, plus the rounding of the images (as
  // large as the target centroid, whatever it holds) seen through the inverse's linear part.
  double norma = 0.0;
  for (int i = 0; i < d; ++i) {
    double fila = 0.0;
    for (int j = 0; j < d; ++j) fila += std::fabs(inv.matriz[3 * i + j]);
    norma = std::max(norma, fila);
  }
  for (size_t k = 0; k < 8; ++k)
    for (int i = 0; i < d && !sin_vuelta[k]; ++i) {
      double grande = 0.0;
      for (int j = 0; j < d; ++j)
        grande = std::max({grande, std::fabs(imagen[3 * k + j]), std::fabs(t.centro_destino[j])});
      const double lejos = std::fabs(p[3 * k + i] - t.centro_origen[i]) + 64.0;
      const double tol = 2e-5 * lejos + 16 * kEpsilon * (std::fabs(p[3 * k + i]) + norma * grande);
      EXIGE(std::fabs(vuelta[3 * k + i] - p[3 * k + i]) <= tol);
    }
  return 0;
}
