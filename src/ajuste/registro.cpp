// The table of models and the validator of stored records, exported for every reader.
#include "orienta.h"  // first, so a drifting signature is a compile error, not a mangled overload

#include "ajuste/registro.hpp"

#include <algorithm>
#include <cmath>

#include "rotacion/euler.hpp"

namespace orienta::interno {

namespace {

constexpr const char* kCamposSemejanza[] = {"source_centroid", "target_centroid", "matrix", "scale",
                                            "rotation",        "angles",          nullptr};
constexpr const char* kCamposAfin[] = {"source_centroid", "target_centroid", "matrix", nullptr};
constexpr const char* kCamposPolinomio[] = {"source_centroid", "target_centroid", "matrix",
                                            "coef_x",          "coef_y",          nullptr};

constexpr const char* kParam3d[] = {"tx", "ty", "tz", "omega", "phi", "kappa", "scale"};
constexpr const char* kParam2d[] = {"tx", "ty", "rotation", "scale"};
constexpr const char* kParamAfin[] = {"tx", "ty", "a11", "a12", "a21", "a22"};
// x0, y0 (the image of the source centroid), then the coefficient of each term for x′ and y′.
constexpr const char* kParamPoli[] = {"x0",      "y0",       "cx_dx",    "cx_dy",    "cx_dx2",   "cx_dxdy", "cx_dy2",
                                      "cx_dx3",  "cx_dx2dy", "cx_dxdy2", "cx_dy3",   "cy_dx",    "cy_dy",   "cy_dx2",
                                      "cy_dxdy", "cy_dy2",   "cy_dx3",   "cy_dx2dy", "cy_dxdy2", "cy_dy3"};
constexpr const char* kParamPoli2[] = {"x0",     "y0",    "cx_dx", "cx_dy",  "cx_dx2",  "cx_dxdy",
                                       "cx_dy2", "cy_dx", "cy_dy", "cy_dx2", "cy_dxdy", "cy_dy2"};

// Minimum pairs: enough equations for the parameters (3D: three points, not on one line).
constexpr orienta_modelo_info kModelos[] = {
    {ORIENTA_HELMERT3D, 3, 1, 7, 3, 0, 3, "helmert3d", "3D similarity", kParam3d, kCamposSemejanza},
    {ORIENTA_HELMERT2D, 2, 1, 4, 2, 0, 1, "helmert2d", "2D similarity", kParam2d, kCamposSemejanza},
    {ORIENTA_AFIN2D, 2, 1, 6, 3, 0, 0, "affine2d", "2D affine", kParamAfin, kCamposAfin},
    {ORIENTA_POLI2D_2, 2, 2, 12, 6, 5, 0, "poly2d", "2D polynomial of order 2", kParamPoli2, kCamposPolinomio},
    {ORIENTA_POLI2D_3, 2, 3, 20, 10, 9, 0, "poly2d", "2D polynomial of order 3", kParamPoli, kCamposPolinomio},
    {ORIENTA_RIGIDO3D, 3, 1, 6, 3, 0, 3, "rigid3d", "3D rigid motion", kParam3d, kCamposSemejanza},
};

bool finitos(const double* p, int n) {
  for (int k = 0; k < n; ++k)
    if (!std::isfinite(p[k])) return false;
  return true;
}

// The dim×dim block of a 3×3 matrix by rows, entry by entry.
template <class F>
bool todos_en_bloque(const double* m, int dim, F&& f) {
  for (int i = 0; i < dim; ++i)
    for (int j = 0; j < dim; ++j)
      if (!f(m[3 * i + j], i, j)) return false;
  return true;
}

bool cerca(double a, double b, double tol) { return std::fabs(a - b) <= tol; }

// R·Rᵀ = I within kTolRotacion and det R > 0, on the dim×dim block.
bool rotacion_propia(const double* r, int dim) {
  for (int i = 0; i < dim; ++i)
    for (int j = 0; j < dim; ++j) {
      double p = 0.0;
      for (int k = 0; k < dim; ++k) p += r[3 * i + k] * r[3 * j + k];
      if (!cerca(p, i == j ? 1.0 : 0.0, kTolRotacion)) return false;
    }
  const double det = dim == 2 ? r[0] * r[4] - r[1] * r[3]
                              : r[0] * (r[4] * r[8] - r[5] * r[7]) - r[1] * (r[3] * r[8] - r[5] * r[6]) +
                                    r[2] * (r[3] * r[7] - r[4] * r[6]);
  return det > 0.0;
}

// The stored angles against the rotation: 3D through the matrix they build, 2D through cos and
// sin of α (which sidesteps the ±π wrap).
bool angulos_coinciden(const orienta_transformacion& t) {
  const double* a = t.angulos;
  if (t.dim == 2)
    return cerca(std::cos(a[0]), t.rotacion[0], kTolRotacion) && cerca(std::sin(a[0]), t.rotacion[3], kTolRotacion);
  double m[9];
  matriz_omega_phi_kappa(std::sin(a[0]), std::cos(a[0]), std::sin(a[1]), std::cos(a[1]), std::sin(a[2]), std::cos(a[2]),
                         m);
  for (int k = 0; k < 9; ++k)
    if (!cerca(m[k], t.rotacion[k], kTolRotacion)) return false;
  return true;
}

bool es_identidad(const double* m, int dim) {
  return todos_en_bloque(m, dim, [](double x, int i, int j) { return x == (i == j ? 1.0 : 0.0); });
}

struct Fallo {
  int32_t estado;
  const char* campo;
};

Fallo finitud(const orienta_transformacion& t, const orienta_modelo_info& m) {
  const int d = t.dim;
  if (!finitos(t.centro_origen, d)) return {ORIENTA_E_REG_NO_FINITO, "source_centroid"};
  if (!finitos(t.centro_destino, d)) return {ORIENTA_E_REG_NO_FINITO, "target_centroid"};
  if (!todos_en_bloque(t.matriz, d, [](double x, int, int) { return std::isfinite(x); }))
    return {ORIENTA_E_REG_NO_FINITO, "matrix"};
  if (es_semejanza(t.modelo)) {
    if (!std::isfinite(t.escala)) return {ORIENTA_E_REG_NO_FINITO, "scale"};
    if (!todos_en_bloque(t.rotacion, d, [](double x, int, int) { return std::isfinite(x); }))
      return {ORIENTA_E_REG_NO_FINITO, "rotation"};
    if (!finitos(t.angulos, m.num_angulos)) return {ORIENTA_E_REG_NO_FINITO, "angles"};
  }
  if (!finitos(t.coef_x, 9)) return {ORIENTA_E_REG_NO_FINITO, "coef_x"};
  if (!finitos(t.coef_y, 9)) return {ORIENTA_E_REG_NO_FINITO, "coef_y"};
  return {ORIENTA_OK, nullptr};
}

// Values a model has no place for: a similarity's scale and rotation in an affine, terms above a
// polynomial's order. A record relabelled to a smaller model would otherwise drop them silently.
Fallo sobrantes(const orienta_transformacion& t, const orienta_modelo_info& m) {
  if (!es_semejanza(t.modelo)) {
    if (!std::isnan(t.escala)) return {ORIENTA_E_REG_TERMINOS, "scale"};
    if (!es_identidad(t.rotacion, t.dim)) return {ORIENTA_E_REG_TERMINOS, "rotation"};
    if (t.angulos[0] != 0.0 || t.angulos[1] != 0.0 || t.angulos[2] != 0.0) return {ORIENTA_E_REG_TERMINOS, "angles"};
  }
  for (int k = m.num_terminos; k < 9; ++k) {
    if (t.coef_x[k] != 0.0) return {ORIENTA_E_REG_TERMINOS, "coef_x"};
    if (t.coef_y[k] != 0.0) return {ORIENTA_E_REG_TERMINOS, "coef_y"};
  }
  return {ORIENTA_OK, nullptr};
}

Fallo singularidad(const orienta_transformacion& t) {
  if (es_semejanza(t.modelo)) {
    if (t.escala == 0.0 || !std::isfinite(1.0 / t.escala)) return {ORIENTA_E_REG_SINGULAR, "scale"};
    return {ORIENTA_OK, nullptr};
  }
  const double* a = t.matriz;
  const double p = a[0] * a[4], q = a[1] * a[3], det = p - q;
  if (!(std::fabs(det) > 16 * kEps * (std::fabs(p) + std::fabs(q))) || !std::isfinite(1.0 / det))
    return {ORIENTA_E_REG_SINGULAR, "matrix"};
  return {ORIENTA_OK, nullptr};
}

// Parts stored twice must say the same thing: matrix = scale·rotation with a proper rotation and
// the angles it has; a polynomial's first-order terms in matrix and in coef_x, coef_y.
Fallo coherencia(const orienta_transformacion& t) {
  const int d = t.dim;
  if (es_semejanza(t.modelo)) {
    if (!(t.escala > 0.0) || (t.modelo == ORIENTA_RIGIDO3D && t.escala != 1.0))
      return {ORIENTA_E_REG_INCOHERENTE, "scale"};
    if (!rotacion_propia(t.rotacion, d)) return {ORIENTA_E_REG_INCOHERENTE, "rotation"};
    const double tol = kTolCopia * t.escala;
    if (!todos_en_bloque(t.matriz, d,
                         [&](double x, int i, int j) { return cerca(x, t.escala * t.rotacion[3 * i + j], tol); }))
      return {ORIENTA_E_REG_INCOHERENTE, "matrix"};
    if (!angulos_coinciden(t)) return {ORIENTA_E_REG_INCOHERENTE, "angles"};
  } else if (es_polinomio(t.modelo)) {
    const double pares[4][2] = {
        {t.matriz[0], t.coef_x[0]}, {t.matriz[1], t.coef_x[1]}, {t.matriz[3], t.coef_y[0]}, {t.matriz[4], t.coef_y[1]}};
    for (const auto& p : pares)
      if (!cerca(p[0], p[1], kTolCopia * std::max(std::fabs(p[0]), std::fabs(p[1]))))
        return {ORIENTA_E_REG_INCOHERENTE, "matrix"};
  }
  return {ORIENTA_OK, nullptr};
}

}  // namespace

const orienta_modelo_info* modelo_de(int32_t modelo) {
  for (const orienta_modelo_info& m : kModelos)
    if (m.modelo == modelo) return &m;
  return nullptr;
}

int32_t valida_registro(const orienta_transformacion* t, const char** campo) {
  Fallo f{ORIENTA_E_ARGUMENTO, nullptr};
  const orienta_modelo_info* m = t ? modelo_de(t->modelo) : nullptr;
  if (t && !m)
    f = {ORIENTA_E_MODELO, "model"};
  else if (m && t->dim != m->dim)
    f = {ORIENTA_E_MODELO, "dim"};
  else if (m) {
    for (Fallo (*paso)(const orienta_transformacion&, const orienta_modelo_info&) :
         {finitud, sobrantes,
          +[](const orienta_transformacion&r, const orienta_modelo_info&) { return singularidad(r); },
          +[](const orienta_transformacion&r, const orienta_modelo_info&) { return coherencia(r); }}) {
      f = paso(*t, *m);
      if (f.estado != ORIENTA_OK) break;
    }
  }
  if (campo) *campo = f.campo;
  return f.estado;
}

void parametros_de(const orienta_transformacion& t, double* p) {
  double T[3] = {0.0, 0.0, 0.0};
  traslacion(t, T);
  const int d = t.dim;
  switch (t.modelo) {
    case ORIENTA_HELMERT3D:
    case ORIENTA_HELMERT2D:
    case ORIENTA_RIGIDO3D:
      std::copy(T, T + d, p);
      std::copy(t.angulos, t.angulos + (d == 3 ? 3 : 1), p + d);
      if (t.modelo != ORIENTA_RIGIDO3D) p[d == 3 ? 6 : 3] = t.escala;
      return;
    case ORIENTA_AFIN2D:
      p[0] = T[0], p[1] = T[1];
      p[2] = t.matriz[0], p[3] = t.matriz[1], p[4] = t.matriz[3], p[5] = t.matriz[4];
      return;
    default: {
      // The polynomials report the image of the source centroid, not of the origin.
      const int k = modelo_de(t.modelo)->num_terminos;
      p[0] = t.centro_destino[0], p[1] = t.centro_destino[1];
      std::copy(t.coef_x, t.coef_x + k, p + 2);
      std::copy(t.coef_y, t.coef_y + k, p + 2 + k);
    }
  }
}

}  // namespace orienta::interno

using namespace orienta::interno;

extern "C" const orienta_modelo_info* orienta_modelo(int32_t modelo) { return modelo_de(modelo); }

extern "C" const char* orienta_convencion(int32_t modelo) {
  const orienta_modelo_info* m = modelo_de(modelo);
  return m && m->num_angulos > 0 ? "position vector" : nullptr;
}

extern "C" int32_t orienta_valida(const orienta_transformacion* t, const char** campo) {
  return valida_registro(t, campo);
}

extern "C" int32_t orienta_parametros(const orienta_transformacion* t, double* parametros) {
  if (!t || !parametros) return ORIENTA_E_ARGUMENTO;
  const orienta_modelo_info* m = modelo_de(t->modelo);
  if (!m || m->dim != t->dim) return ORIENTA_E_MODELO;
  parametros_de(*t, parametros);
  return ORIENTA_OK;
}
