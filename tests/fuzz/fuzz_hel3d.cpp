// The 3D similarity estimators, in both precisions, both starts, both centring modes, with and
// without the inverse Newton matrix, on pairs that may share points.
//
// For every input:
//  - status 0 or 1 ⇒ every value written (the record, and the inverse matrix when asked for) is
//    finite; −1 ⇒ some written value is not; −2 ⇒ nothing written at all;
//  - the record and the inverse are the same whatever the output held before;
//  - centring on a scratch copy leaves the points alone; centring in place gives the same record
//    and leaves each point that only one pair references at point − centroid;
//  - below nine pairs the general start changes nothing; the inverse matrix changes nothing.
#include <memory>

#include "comun.hpp"

using namespace orienta::fuzz;
using namespace prueba;

namespace {

template <class T>
struct Resultado {
  int32_t estado;
  Hel3Dg<T> hel;
  float inversa[9];
  std::vector<T> puntos;  // every distinct point afterwards, three scalars each
};

template <class T>
struct Caso {
  uint32_t n = 0;
  std::vector<T> puntos;         // distinct points, three scalars each
  std::vector<uint32_t> indice;  // pares[j] → point indice[j]
  bool compartidos = false;
};

// One call on fresh copies of the points, with every output in a guarded buffer filled with
// pattern `relleno`.
template <class T>
Resultado<T> llama(const Caso<T>& caso, int32_t general, int32_t en_sitio, bool con_inversa, int relleno) {
  const size_t distintos = caso.puntos.size() / 3;
  std::vector<std::unique_ptr<Zona>> puntos;
  for (size_t k = 0; k < distintos; ++k) {
    puntos.push_back(std::make_unique<Zona>(3 * sizeof(T)));
    std::memcpy(puntos.back()->bytes(), &caso.puntos[3 * k], 3 * sizeof(T));
  }
  Zona pares(2 * size_t(caso.n) * sizeof(T*));
  T** P = pares.como<T*>();
  for (uint32_t j = 0; j < 2 * caso.n; ++j) P[j] = puntos[caso.indice[j]]->template como<T>();
  Zona hel(sizeof(Hel3Dg<T>));
  rellena(hel.bytes(), sizeof(Hel3Dg<T>), relleno);
  std::unique_ptr<Zona> inversa;
  if (con_inversa) {
    inversa = std::make_unique<Zona>(9 * sizeof(float));
    rellena(inversa->bytes(), 9 * sizeof(float), relleno);
  }

  Resultado<T> r;
  r.estado = hel3d(P, caso.n, hel.como<Hel3Dg<T>>(), general, en_sitio,
                   con_inversa ? inversa->como<float>() : nullptr);
  std::memcpy(&r.hel, hel.bytes(), sizeof(Hel3Dg<T>));
  if (con_inversa)
    std::memcpy(r.inversa, inversa->bytes(), sizeof r.inversa);
  else
    rellena(r.inversa, sizeof r.inversa, relleno);
  for (uint32_t j = 0; j < 2 * caso.n; ++j) EXIGE(P[j] == puntos[caso.indice[j]]->template como<T>());
  r.puntos.resize(caso.puntos.size());
  for (size_t k = 0; k < distintos; ++k) std::memcpy(&r.puntos[3 * k], puntos[k]->bytes(), 3 * sizeof(T));
  return r;
}

template <class T>
bool misma_estimacion(const Resultado<T>& a, const Resultado<T>& b, bool con_inversa) {
  return a.estado == b.estado && mismos_bits(a.hel, b.hel) &&
         (!con_inversa || std::memcmp(a.inversa, b.inversa, sizeof a.inversa) == 0);
}

template <class T>
void comprueba(Lector& lector) {
  Caso<T> caso;
  caso.n = lector.cuenta(24);
  const uint8_t forma = lector.byte();
  caso.compartidos = forma % 4 == 0;
  const int32_t general = int32_t(lector.byte() % 3) - 1;  // −1, 0, 1: any nonzero means yes
  const int32_t en_sitio = lector.byte() % 2 ? int32_t(lector.u32() | 1u) : 0;
  const bool con_inversa = lector.byte() % 4 != 0;

  // Distinct points: 2n, or fewer when pairs share them.
  const uint32_t distintos = caso.compartidos ? 1 + lector.cuenta(2 * caso.n) : 2 * caso.n;
  if (caso.n > 0 || caso.compartidos) {
    caso.puntos.resize(3 * size_t(distintos));
    for (T& v : caso.puntos) v = lector.escalar<T>();
  }
  caso.indice.resize(2 * size_t(caso.n));
  for (uint32_t j = 0; j < 2 * caso.n; ++j) caso.indice[j] = caso.compartidos ? lector.byte() % distintos : j;

  // Half the unshared inputs make the targets a true similarity of the sources (a rotation from
  // three angles, a scale and a shift), with a little noise: the case the method is made for.
  if (!caso.compartidos && forma % 2 == 1) {
    double angulos[3] = {lector.escalar<double>(), lector.escalar<double>(), lector.escalar<double>()};
    double R[9];
    MatrizRot_κωφ(angulos, R);
    const double escala = std::ldexp(1.0 + (lector.byte() / 256.0), int(lector.byte() % 16) - 8);
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

  const Resultado<T> a = llama(caso, general, en_sitio, con_inversa, 0);
  const Resultado<T> b = llama(caso, general, en_sitio, con_inversa, 1);

  // The status against what was written.
  const T* campos = reinterpret_cast<const T*>(&a.hel);
  const size_t cuantos = sizeof(a.hel) / sizeof(T);
  EXIGE(a.estado >= -2 && a.estado <= 1);
  if (a.estado == -2) {
    // Refused before anything: outputs keep their fill, points their values.
    unsigned char relleno[sizeof(a.hel)];
    rellena(relleno, sizeof relleno, 0);
    EXIGE(std::memcmp(&a.hel, relleno, sizeof relleno) == 0);
    EXIGE(std::memcmp(a.inversa, relleno, sizeof a.inversa) == 0);
    EXIGE(mismos_bytes(a.puntos.data(), caso.puntos.data(), caso.puntos.size() * sizeof(T)));
    return;
  }
  const bool finito = todos_finitos(campos, cuantos) && (!con_inversa || todos_finitos(a.inversa, 9));
  EXIGE(finito == (a.estado >= 0));

  // Everything written, and written the same, over either fill.
  EXIGE(misma_estimacion(a, b, con_inversa));
  EXIGE(mismos_bytes(a.puntos.data(), b.puntos.data(), a.puntos.size() * sizeof(T)));

  if (en_sitio == 0) {
    EXIGE(mismos_bytes(a.puntos.data(), caso.puntos.data(), caso.puntos.size() * sizeof(T)));
  } else if (!caso.compartidos) {
    for (uint32_t k = 0; k < caso.n; ++k)
      for (int i = 0; i < 3; ++i) {
        EXIGE(mismos_bits(a.puntos[6 * k + i], T(caso.puntos[6 * k + i] - a.hel.centro_origen[i])));
        EXIGE(mismos_bits(a.puntos[6 * k + 3 + i], T(caso.puntos[6 * k + 3 + i] - a.hel.centro_destino[i])));
      }
  }

  // Modes that must not change the arithmetic.
  if (!caso.compartidos) {
    const Resultado<T> otro_modo = llama(caso, general, en_sitio ? 0 : 1, true, 0);
    EXIGE(misma_estimacion(a, otro_modo, con_inversa));
  }
  if (caso.n < 9) {
    const Resultado<T> otra_salida = llama(caso, general ? 0 : 1, en_sitio, !con_inversa, 0);
    EXIGE(a.estado == otra_salida.estado && mismos_bits(a.hel, otra_salida.hel));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  if (lector.byte() % 2 == 0)
    comprueba<double>(lector);
  else
    comprueba<float>(lector);
  return 0;
}
