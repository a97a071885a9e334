// The twelve 2D similarity estimators and the two conversions to the plain form.
//
// The input gives n pairs, the precision and a stride for every strided layout (positive, negative,
// wider than a point, or zero when every pair is the same). The same pairs are laid out six ways,
// each in a buffer of exactly the bytes its layout reaches, with the bytes between strided points
// made off limits (only x and y of a point may be read). For every input the six records must be
// bit-identical; n = 0 gives NaN everywhere and n = 1 the pair itself with NaN scale and rotation.
#include <algorithm>
#include <memory>

#include "comun.hpp"

using namespace orienta::fuzz;
using namespace prueba;

namespace {

// A strided array of `cuantos` points holding exactly the bytes that start + k·paso, k < cuantos,
// reach with a point each; start is inside the buffer even for a negative stride. Point k is a
// copy of punto(k); everything but the points themselves is off limits.
template <class T>
class Estriado {
 public:
  template <class Punto>
  Estriado(uint32_t cuantos, int64_t paso, Punto punto) {
    const size_t tamano = 2 * sizeof(T), ancho = size_t(paso < 0 ? -paso : paso);
    zona_ = std::make_unique<Zona>(cuantos == 0 ? 0 : size_t(cuantos - 1) * ancho + tamano);
    inicio_ = paso < 0 && cuantos > 0 ? size_t(cuantos - 1) * ancho : 0;
    auto desplazamiento = [&](uint32_t k) { return size_t(int64_t(inicio_) + int64_t(k) * paso); };
    for (uint32_t k = 0; k < cuantos; ++k) std::memcpy(zona_->bytes() + desplazamiento(k), punto(k), tamano);
    if (ancho > tamano)
      for (uint32_t k = 0; k + 1 < cuantos; ++k)
        zona_->prohibe(std::min(desplazamiento(k), desplazamiento(k + 1)) + tamano, ancho - tamano);
  }
  const T* inicio() const { return reinterpret_cast<const T*>(zona_->bytes() + inicio_); }

 private:
  size_t inicio_;
  std::unique_ptr<Zona> zona_;
};

template <class T>
int64_t lee_paso(Lector& lector, bool iguales) {
  const uint8_t b = lector.byte();
  if (iguales && b % 4 == 0) return 0;
  // Two to nine scalars (a point and up to seven of padding), either way.
  const int64_t escalares = 2 + (b >> 1) % 8;
  return (b & 1 ? -1 : 1) * escalares * int64_t(sizeof(T));
}

template <class T>
void seis_capas(Lector& lector) {
  using Registro = Hel2Dg<T>;
  const uint32_t n = lector.cuenta(40);
  // One input in eight repeats its first pair everywhere: coincident points, and strides of 0.
  const bool iguales = lector.byte() % 8 == 0;
  std::vector<T> pares(4 * size_t(n));  // source x, source y, target x, target y
  for (uint32_t i = 0; i < n; ++i)
    for (int c = 0; c < 4; ++c) pares[4 * i + c] = (iguales && i > 0) ? pares[c] : lector.escalar<T>();
  // The `g` layout keeps sources and targets in one array: a stride of 0 there also needs each
  // target to be its source.
  const bool un_punto = iguales && n > 0 && lector.byte() % 2 == 0;
  if (un_punto)
    for (uint32_t i = 0; i < n; ++i) pares[4 * i + 2] = pares[0], pares[4 * i + 3] = pares[1];
  // Points in pair order: source 0, target 0, source 1, ...
  auto punto = [&](uint32_t k) { return &pares[2 * size_t(k)]; };
  auto origen = [&](uint32_t i) { return punto(2 * i); };
  auto destino = [&](uint32_t i) { return punto(2 * i + 1); };
  constexpr int64_t kJuntos = 2 * sizeof(T);  // the stride of points packed back to back

  Registro r[6];
  {
    std::vector<std::unique_ptr<Zona>> puntos;
    Zona punteros(2 * size_t(n) * sizeof(const T*));
    const T** P = punteros.como<const T*>();
    for (uint32_t k = 0; k < 2 * n; ++k) {
      puntos.push_back(std::make_unique<Zona>(2 * sizeof(T)));
      std::memcpy(puntos.back()->bytes(), punto(k), 2 * sizeof(T));
      P[k] = puntos.back()->como<T>();
    }
    r[0] = ptr(P, n);
    for (uint32_t k = 0; k < 2 * n; ++k) EXIGE(std::memcmp(P[k], punto(k), 2 * sizeof(T)) == 0);
  }
  {
    const Estriado<T> A(2 * n, kJuntos, punto);
    r[1] = p(A.inicio(), n);
    EXIGE(mismos_bytes(A.inicio(), pares.data(), pares.size() * sizeof(T)));
  }
  {
    const Estriado<T> S(n, kJuntos, origen), D(n, kJuntos, destino);
    r[2] = pp(S.inicio(), D.inicio(), n);
  }
  {
    const int64_t s = lee_paso<T>(lector, un_punto);
    const Estriado<T> B(2 * n, s, punto);
    r[3] = g(B.inicio(), s, n);
  }
  {
    const int64_t s = lee_paso<T>(lector, iguales);
    const Estriado<T> S(n, s, origen), D(n, s, destino);
    r[4] = gg(S.inicio(), D.inicio(), s, n);
  }
  {
    const int64_t sS = lee_paso<T>(lector, iguales), sD = lee_paso<T>(lector, iguales);
    const Estriado<T> S(n, sS, origen), D(n, sD, destino);
    r[5] = mixed(S.inicio(), sS, D.inicio(), sD, n);
  }

  for (int k = 1; k < 6; ++k) EXIGE(mismos_bits(r[k], r[0]));
  const Registro& h = r[0];
  if (n == 0) {
    EXIGE(std::isnan(h.xc_origen) && std::isnan(h.yc_origen) && std::isnan(h.xc_destino) &&
          std::isnan(h.yc_destino) && std::isnan(h.escala) && std::isnan(h.cos_giro) && std::isnan(h.sen_giro));
  }
  if (n == 1) {
    // Centroids of one point are the point (sum·1, where 0 + −0 leaves +0: compare values).
    const T* o = origen(0);
    const T* d = destino(0);
    auto igual = [](T a, T b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    EXIGE(igual(h.xc_origen, o[0]) && igual(h.yc_origen, o[1]) && igual(h.xc_destino, d[0]) &&
          igual(h.yc_destino, d[1]));
    EXIGE(std::isnan(h.escala) && std::isnan(h.cos_giro) && std::isnan(h.sen_giro));
  }

  // The plain form, from the estimate and from a record the input makes up.
  Registro inventado;
  T* campos = &inventado.xc_origen;
  for (int k = 0; k < 7; ++k) campos[k] = lector.escalar<T>();
  for (const Registro& fuente : {h, inventado}) {
    Zona zona(sizeof(Registro));
    std::memcpy(zona.bytes(), &fuente, sizeof fuente);
    const auto forma_plana = plano(zona.como<Registro>());
    EXIGE(std::memcmp(zona.bytes(), &fuente, sizeof fuente) == 0);
    EXIGE(mismos_bits(forma_plana.escala, fuente.escala) && mismos_bits(forma_plana.cos_giro, fuente.cos_giro) &&
          mismos_bits(forma_plana.sen_giro, fuente.sen_giro));
    EXIGE(mismos_bits(forma_plana, plano(zona.como<Registro>())));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  if (lector.byte() % 2 == 0)
    seis_capas<double>(lector);
  else
    seis_capas<float>(lector);
  return 0;
}
