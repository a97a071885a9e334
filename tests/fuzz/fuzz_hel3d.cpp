// The 3D similarity estimators, in both precisions, both starts, both centring modes, with and
// without the inverse Newton matrix, on pairs that may share points.
//
// For every input:
//  - status 0 or 1 ⇒ every value written is finite; −1 ⇒ some is not; −2 ⇒ nothing is written;
//  - status 0 ⇒ the rotation is orthonormal with determinant +1 (from the z start, see below);
//  - everything is written, the same over either fill of the outputs;
//  - centring on a scratch copy leaves the points alone; centring in place gives the same record
//    and leaves each point at point − centroid;
//  - below nine pairs the general start changes nothing, nor does asking for the inverse matrix.
#include "comun.hpp"

using namespace orienta::fuzz;
using namespace prueba;

namespace {

template <class T>
struct Caso {
  uint32_t n = 0;
  std::vector<T> puntos;         // distinct points, three scalars each
  std::vector<uint32_t> indice;  // pares[j] → point indice[j]
};

template <class T>
struct Salida {
  Hel3Dg<T> hel;
  float inversa[9];
  int32_t estado;
};

// One call through the two-fill runner; `despues` receives the points as the call left them.
template <class T>
Salida<T> llama(const Caso<T>& c, int32_t general, int32_t en_sitio, bool con_inversa,
                std::vector<T>* despues = nullptr) {
  auto [puntos, s] = dos_rellenos<Salida<T>>(c.puntos, [&](std::vector<T>& e, Salida<T>& s) {
    const Puntos<T> bloques(e, 3);
    const auto P = pares<T>(c.n, [&](uint32_t j) { return bloques[c.indice[j]]; });
    s.estado = hel3d(P.get(), c.n, &s.hel, general, en_sitio, con_inversa ? s.inversa : nullptr);
    if (!con_inversa) std::memset(s.inversa, 0, sizeof s.inversa);
    e = bloques.valores();
  });
  if (despues) *despues = puntos;
  return s;
}

template <class T>
void comprueba(Lector& lector) {
  Caso<T> caso;
  caso.n = lector.cuenta(24);
  const uint8_t forma = lector.byte();
  const bool compartidos = forma % 4 == 0;
  const int32_t general = int32_t(lector.byte() % 3) - 1;  // −1, 0, 1: any nonzero means yes
  const int32_t en_sitio = lector.byte() % 2 ? int32_t(lector.u32() | 1u) : 0;
  const bool con_inversa = lector.byte() % 4 != 0;

  const uint32_t distintos = compartidos ? 1 + lector.cuenta(2 * caso.n) : 2 * caso.n;
  if (caso.n > 0 || compartidos) caso.puntos.resize(3 * size_t(distintos));
  for (T& v : caso.puntos) v = lector.escalar<T>();
  for (uint32_t j = 0; j < 2 * caso.n; ++j) caso.indice.push_back(compartidos ? lector.byte() % distintos : j);

  // Half the unshared inputs make the targets a similarity of the sources (three angles, a scale,
  // a shift) with a little noise: the case the method is made for.
  if (!compartidos && forma % 2 == 1) {
    double angulos[3] = {lector.escalar<double>(), lector.escalar<double>(), lector.escalar<double>()}, R[9];
    MatrizRot_κωφ(angulos, R);
    const double mantisa = 1.0 + lector.byte() / 256.0;
    const double escala = std::ldexp(mantisa, int(lector.byte() % 16) - 8);
    const double ruido = std::ldexp(1.0, -int(lector.byte() % 40));
    for (uint32_t k = 0; k < caso.n; ++k) {
      const T* a = &caso.puntos[6 * size_t(k)];
      T* b = &caso.puntos[6 * size_t(k) + 3];
      for (int i = 0; i < 3; ++i) {
        const double rotado = (R[3 * i] * double(a[0]) + R[3 * i + 1] * double(a[1])) + R[3 * i + 2] * double(a[2]);
        b[i] = T(escala * rotado + 100.0 * i + ruido * double(int8_t(lector.byte())));
      }
    }
  }

  std::vector<T> despues;
  const Salida<T> a = llama(caso, general, en_sitio, con_inversa, &despues);
  EXIGE(a.estado >= -2 && a.estado <= 1);
  if (a.estado == -2) {  // refused before anything: outputs keep their fill, points their values
    Salida<T> relleno;
    std::memset(static_cast<void*>(&relleno), 0x7F, sizeof relleno);
    EXIGE(mismos_bits(a.hel, relleno.hel) && (!con_inversa || mismos_bits(a.inversa, relleno.inversa)));
    EXIGE(mismos_bits(despues, caso.puntos));
    return;
  }
  const bool finito = todos_finitos(&a.hel.centro_origen[0], sizeof a.hel / sizeof(T)) && todos_finitos(a.inversa, 9);
  EXIGE(finito == (a.estado >= 0));
  // Newton's update matrix carries single-precision products in both twins, each step leaving R
  // orthonormal to a few float ε; four steps at most. Checked from the z start only, and only
  // where the start's squares stay normal: from the general start, a linear map far from a scaled
  // rotation (one outlying target is enough) can make convierte_en_R_* return a non-rotation, and
  // an over- or underflowing start leaves one too; the steps keep it and the status is then 1.
  // Centred in place, a point shared by several pairs is reduced once per reference, so the
  // library's moments are not those of point − centroid that bound the start here: skipped.
  using L = long double;
  const auto pv = intervalo_pv<T>(caso.n, [&](uint32_t i) {
    const T *o = &caso.puntos[3 * caso.indice[2 * i]], *d = &caso.puntos[3 * caso.indice[2 * i + 1]];
    return std::array<L, 4>{L(o[0]) - a.hel.centro_origen[0], L(o[1]) - a.hel.centro_origen[1],
                            L(d[0]) - a.hel.centro_destino[0], L(d[1]) - a.hel.centro_destino[1]};
  });
  if (a.estado == 0 && (general == 0 || caso.n < 9) && !(compartidos && en_sitio) && cuadrados_normales<T>(pv))
    EXIGE(es_rotacion(a.hel.rotacion, 64 * double(std::numeric_limits<float>::epsilon())));
  // Whatever the start, status 0 never reports a matrix that is no rotation: the library allows
  // 1e-3 in each entry of R·Rᵀ − I, which keeps det R within about 1.5e-3 of 1.
  if (a.estado == 0) EXIGE(es_rotacion(a.hel.rotacion, 2e-3));

  if (en_sitio == 0) {
    EXIGE(mismos_bits(despues, caso.puntos));
  } else if (!compartidos) {
    const T* centro[2] = {a.hel.centro_origen, a.hel.centro_destino};
    for (size_t k = 0; k < despues.size(); ++k)
      EXIGE(mismos_bits(despues[k], T(caso.puntos[k] - centro[k / 3 % 2][k % 3])));
  }
  // The centring mode and the inverse matrix must not change the arithmetic; below nine pairs
  // neither does the start.
  auto igual = [&](const Salida<T>& b) {
    return a.estado == b.estado && mismo_valor<T>(a.hel, b.hel) && mismo_valor<float>(a.inversa, b.inversa);
  };
  if (!compartidos) EXIGE(igual(llama(caso, general, en_sitio ? 0 : 1, con_inversa)));
  if (caso.n < 9) {
    const Salida<T> b = llama(caso, general ? 0 : 1, en_sitio, !con_inversa);
    EXIGE(a.estado == b.estado && mismo_valor<T>(a.hel, b.hel));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  (lector.byte() % 2 == 0 ? comprueba<double> : comprueba<float>)(lector);
  return 0;
}
