// Polynomial transformations: estimation from pointer pairs for any tipo (including values past
// 7), and evaluation of any record at any point.
//
// For every input: the pairs are only read; the record is filled the same whatever it held before
// (but for tipo, which is read and lowered to 7 at most); coefficients the kind does not use are
// zero; the kinds built on the similarity take its centroids and rotation bit for bit; evaluation
// writes the point alone and ignores the coefficients its kind does not evaluate.
#include <memory>

#include "comun.hpp"

using namespace orienta::fuzz;
using namespace prueba;

namespace {

// The fields after tipo, which both variants keep contiguous; the padding after tipo is no output.
template <class Registro>
const unsigned char* campos(const Registro& r) {
  return reinterpret_cast<const unsigned char*>(&r.xc_origen);
}
template <class Registro>
constexpr size_t bytes_campos() {
  return sizeof(Registro) - offsetof(Registro, xc_origen);
}

uint32_t lee_tipo(Lector& lector) {
  const uint8_t b = lector.byte();
  // Mostly the kinds, sometimes any 32-bit value.
  return b < 224 ? b % 10 : lector.u32();
}

template <class T>
void estimacion(Lector& lector) {
  const uint32_t tipo = lee_tipo(lector);
  const uint32_t n = lector.cuenta(32);

  std::vector<std::unique_ptr<Zona>> puntos;
  std::vector<T> originales(4 * size_t(n));
  Zona punteros(2 * size_t(n) * sizeof(T*));
  T** P = punteros.como<T*>();
  for (uint32_t i = 0; i < 2 * n; ++i) {
    puntos.push_back(std::make_unique<Zona>(2 * sizeof(T)));
    T* q = puntos.back()->como<T>();
    q[0] = originales[2 * i] = lector.escalar<T>();
    q[1] = originales[2 * i + 1] = lector.escalar<T>();
    P[i] = q;
  }

  Polinomica<T> r[2];
  for (int vez = 0; vez < 2; ++vez) {
    Zona zona(sizeof(Polinomica<T>));
    rellena(zona.bytes(), sizeof(Polinomica<T>), vez);
    Polinomica<T>* t = zona.como<Polinomica<T>>();
    t->tipo = tipo;
    estima(t, P, n);
    std::memcpy(&r[vez], t, sizeof(Polinomica<T>));
  }
  for (uint32_t i = 0; i < 2 * n; ++i) EXIGE(std::memcmp(P[i], &originales[2 * i], 2 * sizeof(T)) == 0);
  EXIGE(r[0].tipo == r[1].tipo);
  EXIGE(std::memcmp(campos(r[0]), campos(r[1]), bytes_campos<Polinomica<T>>()) == 0);

  const Polinomica<T>& t = r[0];
  EXIGE(t.tipo == (tipo > 7 ? 7u : tipo));
  // Terms the kind leaves out keep an exact +0.
  const int usados = t.tipo == 0 ? 0 : t.tipo < 6 ? 2 : t.tipo == 6 ? 5 : 9;
  for (int k = usados; k < 9; ++k) EXIGE(mismos_bits(t.coef_x[k], T(0)) && mismos_bits(t.coef_y[k], T(0)));

  if (t.tipo != 0) {
    const auto h = ptr(P, n);
    EXIGE(mismos_bits(t.xc_origen, h.xc_origen) && mismos_bits(t.yc_origen, h.yc_origen));
    if (t.tipo <= 2) {
      // Rigid keeps the unit rotation, similarity scales it; the target centroid is the image.
      const T c = t.tipo == 1 ? h.cos_giro : h.cos_giro * h.escala;
      const T s = t.tipo == 1 ? h.sen_giro : h.sen_giro * h.escala;
      EXIGE(mismos_bits(t.x0_destino, h.xc_destino) && mismos_bits(t.y0_destino, h.yc_destino));
      EXIGE(mismo_valor(t.coef_x[0], c) && mismo_valor(t.coef_x[1], T(-s)) && mismo_valor(t.coef_y[0], s) &&
            mismo_valor(t.coef_y[1], c));
    }
  }
}

template <class T>
void evaluacion(Lector& lector) {
  Polinomica<T> r;
  std::memset(&r, 0, sizeof r);
  r.tipo = lee_tipo(lector);
  r.xc_origen = lector.escalar<T>();
  r.yc_origen = lector.escalar<T>();
  r.x0_destino = lector.escalar<T>();
  r.y0_destino = lector.escalar<T>();
  for (int k = 0; k < 9; ++k) {
    r.coef_x[k] = lector.escalar<T>();
    r.coef_y[k] = lector.escalar<T>();
  }
  const T en[2] = {lector.escalar<T>(), lector.escalar<T>()};

  // The same record with the coefficients of terms its kind does not evaluate replaced.
  Polinomica<T> otro = r;
  const int evaluados = r.tipo < 6 ? 2 : r.tipo == 6 ? 5 : 9;
  for (int k = evaluados; k < 9; ++k) {
    otro.coef_x[k] = lector.escalar<T>();
    otro.coef_y[k] = lector.escalar<T>();
  }

  T imagen[2][2];
  const Polinomica<T>* registros[2] = {&r, &otro};
  for (int vez = 0; vez < 2; ++vez) {
    Zona zona_registro(sizeof(Polinomica<T>)), zona_punto(sizeof en);
    std::memcpy(zona_registro.bytes(), registros[vez], sizeof(Polinomica<T>));
    std::memcpy(zona_punto.bytes(), en, sizeof en);
    punto(zona_registro.como<Polinomica<T>>(), zona_punto.como<T>());
    EXIGE(std::memcmp(zona_registro.bytes(), registros[vez], sizeof(Polinomica<T>)) == 0);
    std::memcpy(imagen[vez], zona_punto.bytes(), sizeof en);
  }
  EXIGE(std::memcmp(imagen[0], imagen[1], sizeof imagen[0]) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  switch (lector.byte() % 4) {
    case 0: estimacion<double>(lector); break;
    case 1: estimacion<float>(lector); break;
    case 2: evaluacion<double>(lector); break;
    default: evaluacion<float>(lector); break;
  }
  return 0;
}
