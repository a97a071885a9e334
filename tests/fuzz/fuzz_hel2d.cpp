// The twelve 2D similarity estimators and the two conversions to the plain form.
//
// The input gives n pairs, the precision and a stride for every strided layout (positive, negative,
// wider than a point, or zero when every pair is the same). The same pairs are laid out six ways,
// each in a buffer of exactly the bytes its layout reaches, with the bytes between strided points
// made off limits (only x and y of a point may be read). For every input the six records must be
// bit-identical; n = 0 gives NaN everywhere and n = 1 the pair itself with NaN scale and rotation.
#include <memory>

#include "comun.hpp"

using namespace orienta::fuzz;

namespace {

template <class T>
struct Funciones;
template <>
struct Funciones<double> {
  using Registro = Hel2Dg_dbl;
  using Plano = Hel2D_dbl;
  static constexpr auto ptr = Hel2Dg___ptr_dbl;
  static constexpr auto p = Hel2Dg___p_dbl;
  static constexpr auto pp = Hel2Dg___pp_dbl;
  static constexpr auto g = Hel2Dg___g_dbl;
  static constexpr auto gg = Hel2Dg___gg_dbl;
  static constexpr auto mixed = Hel2Dg___mixed_dbl;
  static constexpr auto plano = Hel2D___Hel2Dg_dbl;
};
template <>
struct Funciones<float> {
  using Registro = Hel2Dg_fl;
  using Plano = Hel2D_fl;
  static constexpr auto ptr = Hel2Dg___ptr_fl;
  static constexpr auto p = Hel2Dg___p_fl;
  static constexpr auto pp = Hel2Dg___pp_fl;
  static constexpr auto g = Hel2Dg___g_fl;
  static constexpr auto gg = Hel2Dg___gg_fl;
  static constexpr auto mixed = Hel2Dg___mixed_fl;
  static constexpr auto plano = Hel2D___Hel2Dg_fl;
};

// A strided array of `cuantos` points holding exactly the bytes that start + k·paso, k < cuantos,
// reach with a point each; start is inside the buffer even for a negative stride.
template <class T>
class Estriado {
 public:
  Estriado(uint32_t cuantos, int64_t paso) : cuantos_(cuantos), paso_(paso) {
    const size_t punto = 2 * sizeof(T);
    const size_t extension = cuantos == 0 ? 0 : size_t(cuantos - 1) * size_t(paso < 0 ? -paso : paso) + punto;
    zona_ = std::make_unique<Zona>(extension);
    inicio_ = paso < 0 && cuantos > 0 ? size_t(cuantos - 1) * size_t(-paso) : 0;
  }
  void pon(uint32_t k, const T* punto) { std::memcpy(zona_->bytes() + desplazamiento(k), punto, 2 * sizeof(T)); }
  // After filling: everything but the points themselves becomes off limits.
  void cierra() {
    const size_t ancho = size_t(paso_ < 0 ? -paso_ : paso_), punto = 2 * sizeof(T);
    if (ancho <= punto) return;
    for (uint32_t k = 0; k + 1 < cuantos_; ++k) {
      const size_t bajo = size_t(std::min(desplazamiento(k), desplazamiento(k + 1)));
      zona_->prohibe(bajo + punto, ancho - punto);
    }
  }
  const T* inicio() { return reinterpret_cast<const T*>(zona_->bytes() + inicio_); }

 private:
  int64_t desplazamiento(uint32_t k) const { return int64_t(inicio_) + int64_t(k) * paso_; }
  uint32_t cuantos_;
  int64_t paso_;
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
void estima(Lector& lector) {
  using F = Funciones<T>;
  using Registro = typename F::Registro;
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
  auto origen = [&](uint32_t i) { return &pares[4 * size_t(i)]; };
  auto destino = [&](uint32_t i) { return &pares[4 * size_t(i) + 2]; };

  Registro r[6];
  int hechos = 0;

  if (ORIENTA_PRESENTE(*F::ptr)) {
    std::vector<std::unique_ptr<Zona>> puntos;
    Zona punteros(2 * size_t(n) * sizeof(const T*));
    const T** P = punteros.como<const T*>();
    for (uint32_t i = 0; i < 2 * n; ++i) {
      puntos.push_back(std::make_unique<Zona>(2 * sizeof(T)));
      std::memcpy(puntos.back()->bytes(), i % 2 ? destino(i / 2) : origen(i / 2), 2 * sizeof(T));
      P[i] = puntos.back()->como<T>();
    }
    r[hechos++] = F::ptr(P, n);
    for (uint32_t i = 0; i < 2 * n; ++i)
      EXIGE(std::memcmp(P[i], i % 2 ? destino(i / 2) : origen(i / 2), 2 * sizeof(T)) == 0);
  }
  if (ORIENTA_PRESENTE(*F::p)) {
    Zona A(pares.size() * sizeof(T));
    copia(A.bytes(), pares.data(), A.tamano());
    r[hechos++] = F::p(A.como<T>(), n);
    EXIGE(mismos_bytes(A.bytes(), pares.data(), A.tamano()));
  }
  if (ORIENTA_PRESENTE(*F::pp)) {
    Zona S(2 * size_t(n) * sizeof(T)), D(2 * size_t(n) * sizeof(T));
    for (uint32_t i = 0; i < n; ++i) {
      std::memcpy(S.bytes() + 2 * i * sizeof(T), origen(i), 2 * sizeof(T));
      std::memcpy(D.bytes() + 2 * i * sizeof(T), destino(i), 2 * sizeof(T));
    }
    r[hechos++] = F::pp(S.como<T>(), D.como<T>(), n);
  }
  if (ORIENTA_PRESENTE(*F::g)) {
    const int64_t s = lee_paso<T>(lector, un_punto);
    Estriado<T> B(2 * n, s);
    for (uint32_t i = 0; i < n; ++i) {
      B.pon(2 * i, origen(i));
      B.pon(2 * i + 1, destino(i));
    }
    B.cierra();
    r[hechos++] = F::g(B.inicio(), s, n);
  }
  if (ORIENTA_PRESENTE(*F::gg)) {
    const int64_t s = lee_paso<T>(lector, iguales);
    Estriado<T> S(n, s), D(n, s);
    for (uint32_t i = 0; i < n; ++i) {
      S.pon(i, origen(i));
      D.pon(i, destino(i));
    }
    S.cierra();
    D.cierra();
    r[hechos++] = F::gg(S.inicio(), D.inicio(), s, n);
  }
  if (ORIENTA_PRESENTE(*F::mixed)) {
    const int64_t sS = lee_paso<T>(lector, iguales), sD = lee_paso<T>(lector, iguales);
    Estriado<T> S(n, sS), D(n, sD);
    for (uint32_t i = 0; i < n; ++i) {
      S.pon(i, origen(i));
      D.pon(i, destino(i));
    }
    S.cierra();
    D.cierra();
    r[hechos++] = F::mixed(S.inicio(), sS, D.inicio(), sD, n);
  }

  for (int k = 1; k < hechos; ++k) EXIGE(mismos_bits(r[k], r[0]));
  if (hechos > 0) {
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
  }

  // The plain form, from the estimate and from a record the input makes up.
  if (ORIENTA_PRESENTE(*F::plano)) {
    Registro inventado;
    T* campos = &inventado.xc_origen;
    for (int k = 0; k < 7; ++k) campos[k] = lector.escalar<T>();
    const Registro fuentes[2] = {hechos > 0 ? r[0] : inventado, inventado};
    for (const Registro& fuente : fuentes) {
      Zona zona(sizeof(Registro));
      std::memcpy(zona.bytes(), &fuente, sizeof fuente);
      const auto plano = F::plano(zona.como<Registro>());
      EXIGE(std::memcmp(zona.bytes(), &fuente, sizeof fuente) == 0);
      EXIGE(mismos_bits(plano.escala, fuente.escala) && mismos_bits(plano.cos_giro, fuente.cos_giro) &&
            mismos_bits(plano.sen_giro, fuente.sen_giro));
      EXIGE(mismos_bits(plano, F::plano(zona.como<Registro>())));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  if (lector.byte() % 2 == 0)
    estima<double>(lector);
  else
    estima<float>(lector);
  return 0;
}
