// The twelve 2D similarity estimators and the two conversions to the plain form.
//
// The input gives the precision, n pairs and a stride for every strided layout: any multiple of
// the scalar's size from −9 to 9 scalars, so strided points may also overlap or coincide, and the
// bytes between them hold NaN. Each layout must return the record of the pointer layout over the
// very addresses it reads, and, where those hold the pairs as given, the record of the pointer
// layout over the pairs (NaN aside, whose sign and payload follow the operand order). A finite
// rotation is a unit vector; the plain form copies escala and the rotation and only reads.
#include "comun.hpp"

using namespace orienta::fuzz;
using namespace prueba;

namespace {

// `cuantos` points of two scalars at inicio + k·paso bytes, in a heap block of exactly the bytes
// they span; point k is written after point k − 1, so where points overlap the later one wins.
template <class T>
class Estriado {
 public:
  template <class Punto>
  Estriado(uint32_t cuantos, int64_t paso, Punto punto) : paso_(paso) {
    const size_t ancho = size_t(paso < 0 ? -paso : paso) / sizeof(T);
    const size_t escalares = cuantos == 0 ? 0 : (cuantos - 1) * ancho + 2;
    datos_.reset(new T[escalares]);
    std::memset(static_cast<void*>(datos_.get()), 0xFF, escalares * sizeof(T));  // NaN in the gaps
    inicio_ = datos_.get() + (paso < 0 && cuantos > 0 ? (cuantos - 1) * ancho : 0);
    for (uint32_t k = 0; k < cuantos; ++k) std::memcpy(en(k), punto(k), 2 * sizeof(T));
  }
  T* inicio() const { return inicio_; }
  T* en(uint32_t k) const { return reinterpret_cast<T*>(reinterpret_cast<char*>(inicio_) + int64_t(k) * paso_); }

 private:
  std::unique_ptr<T[]> datos_;
  T* inicio_;
  int64_t paso_;
};

template <class T>
int64_t lee_paso(Lector& lector) {
  const uint8_t b = lector.byte();
  return (b & 1 ? -1 : 1) * int64_t((b >> 1) % 10) * int64_t(sizeof(T));
}

// A finite (cos_giro, sen_giro) has unit length wherever P² + V² is not below T's normal range:
// an overflowing P² + V² is rescaled first, a subnormal one keeps only a few bits.
template <class T>
void rotacion_unitaria(const Hel2Dg<T>& h, const std::vector<T>& pares, uint32_t n) {
  using L = long double;
  const auto pv = intervalo_pv<T>(n, [&](uint32_t i) {
    return std::array<L, 4>{L(pares[4 * i]) - h.xc_origen, L(pares[4 * i + 1]) - h.yc_origen,
                            L(pares[4 * i + 2]) - h.xc_destino, L(pares[4 * i + 3]) - h.yc_destino};
  });
  if (std::isfinite(h.cos_giro) && std::isfinite(h.sen_giro) &&
      pv.first > 4 * std::sqrt((long double)std::numeric_limits<T>::min())) {
    const L c = h.cos_giro, s = h.sen_giro;
    EXIGE(std::fabs(c * c + s * s - 1) <= 8 * std::numeric_limits<T>::epsilon());
  }
}

template <class T>
void seis_capas(Lector& lector) {
  const uint32_t n = lector.cuenta(40);
  // One input in eight repeats its first pair everywhere: coincident points.
  const bool iguales = lector.byte() % 8 == 0;
  std::vector<T> pares(4 * size_t(n));  // source x, source y, target x, target y
  for (size_t k = 0; k < pares.size(); ++k) pares[k] = iguales && k >= 4 ? pares[k % 4] : lector.escalar<T>();
  auto punto = [&](uint32_t j) { return &pares[2 * size_t(j)]; };  // source 0, target 0, source 1...
  auto origen = [&](uint32_t i) { return punto(2 * i); };
  auto destino = [&](uint32_t i) { return punto(2 * i + 1); };

  const Puntos<T> separados(pares, 2);
  const auto P = orienta::fuzz::pares<T>(n, [&](uint32_t j) { return separados[j]; });
  const Hel2Dg<T> r = ptr(P.get(), n);
  rotacion_unitaria(r, pares, n);

  // One layout: its record against the pointer layout over the addresses it reads.
  auto compara = [&](const Hel2Dg<T>& obtenido, auto donde) {
    const auto Q = orienta::fuzz::pares<T>(n, donde);
    EXIGE((mismo_valor<T>(obtenido, ptr(Q.get(), n))));
    bool intactos = true;
    for (uint32_t j = 0; j < 2 * n; ++j) intactos = intactos && std::memcmp(Q[j], punto(j), 2 * sizeof(T)) == 0;
    if (intactos) EXIGE(mismo_valor<T>(obtenido, r));
  };
  constexpr int64_t kJuntos = 2 * sizeof(T);
  {
    const Estriado<T> A(2 * n, kJuntos, punto);
    compara(p(A.inicio(), n), [&](uint32_t j) { return A.en(j); });
  }
  {
    const Estriado<T> S(n, kJuntos, origen), D(n, kJuntos, destino);
    compara(pp(S.inicio(), D.inicio(), n), [&](uint32_t j) { return j % 2 ? D.en(j / 2) : S.en(j / 2); });
  }
  {
    const int64_t s = lee_paso<T>(lector);
    const Estriado<T> B(2 * n, s, punto);
    compara(g(B.inicio(), s, n), [&](uint32_t j) { return B.en(j); });
  }
  {
    const int64_t s = lee_paso<T>(lector);
    const Estriado<T> S(n, s, origen), D(n, s, destino);
    compara(gg(S.inicio(), D.inicio(), s, n), [&](uint32_t j) { return j % 2 ? D.en(j / 2) : S.en(j / 2); });
  }
  {
    const int64_t sS = lee_paso<T>(lector), sD = lee_paso<T>(lector);
    const Estriado<T> S(n, sS, origen), D(n, sD, destino);
    compara(mixed(S.inicio(), sS, D.inicio(), sD, n), [&](uint32_t j) { return j % 2 ? D.en(j / 2) : S.en(j / 2); });
  }

  // The plain form, of the estimate and of a record the input makes up.
  Hel2Dg<T> inventado;
  for (T* campo = &inventado.xc_origen; campo <= &inventado.sen_giro; ++campo) *campo = lector.escalar<T>();
  for (const Hel2Dg<T>& fuente : {r, inventado}) {
    const auto [leido, h] =
        dos_rellenos<Segun<T, Hel2D_dbl, Hel2D_fl>>(fuente, [](auto& e, auto& s) { s = plano(&e); });
    EXIGE(mismos_bits(leido, fuente));
    EXIGE(mismos_bits(h.escala, fuente.escala) && mismos_bits(h.cos_giro, fuente.cos_giro) &&
          mismos_bits(h.sen_giro, fuente.sen_giro));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  (lector.byte() % 2 == 0 ? seis_capas<double> : seis_capas<float>)(lector);
  return 0;
}
