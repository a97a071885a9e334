// 2D similarity: the six layouts in both precisions against Eigen's umeyama on the same points in
// its own layout (two packed 2×n matrices), and against one read of each layout's buffers.
#include "orienta.h"

#include <string>

#include "comun.hpp"

namespace orienta::banco {
namespace {

enum class Capa { ptr, p, pp, g, gg, mixed };
const char* nombre_capa(Capa c) {
  switch (c) {
    case Capa::ptr: return "ptr";
    case Capa::p: return "p";
    case Capa::pp: return "pp";
    case Capa::g: return "g";
    case Capa::gg: return "gg";
    case Capa::mixed: return "mixed";
  }
  return "?";
}

// Strided layouts use a stride of one point, so every layout holds exactly the bytes Eigen reads.
template <class T>
std::vector<Tramo> tramos(const Conjunto<2, T>& d, Capa c) {
  const size_t puntos = 2 * size_t(d.n) * sizeof(T);
  switch (c) {
    case Capa::ptr: return d.tramos_ptr();
    case Capa::p:
    case Capa::g: return {{d.A.data(), 2 * puntos}};
    default: return {{d.S.data(), puntos}, {d.D.data(), puntos}};
  }
}

template <class T>
prueba::Hel2Dg<T> estima(Capa c, const Conjunto<2, T>& d) {
  const uint32_t n = d.n;
  const int64_t paso = 2 * sizeof(T);
  switch (c) {
    case Capa::ptr: return prueba::ptr(d.P.data(), n);
    case Capa::p: return prueba::p(d.A.data(), n);
    case Capa::pp: return prueba::pp(d.S.data(), d.D.data(), n);
    case Capa::g: return prueba::g(d.A.data(), paso, n);
    case Capa::gg: return prueba::gg(d.S.data(), d.D.data(), paso, n);
    case Capa::mixed: return prueba::mixed(d.S.data(), paso, d.D.data(), paso, n);
  }
  return {};
}

template <class T>
void nuestro(benchmark::State& estado, Capa c, int64_t datos) {
  const Conjunto<2, T> d(uint32_t(estado.range(0)), datos);
  por_estimacion(estado, [&] {
    auto h = estima<T>(c, d);
    benchmark::DoNotOptimize(h);
  });
}

template <class T>
void lectura(benchmark::State& estado, Capa c) {
  const Conjunto<2, T> d(uint32_t(estado.range(0)), kExactos);
  mide_lectura(estado, tramos(d, c));
}

template <class T>
void registra() {
  const std::string s = sufijo<T>();
  for (Capa c : {Capa::ptr, Capa::p, Capa::pp, Capa::g, Capa::gg, Capa::mixed}) {
    const std::string capa = std::string("Hel2Dg___") + nombre_capa(c) + "_" + s;
    for (int64_t datos : {kExactos, kRuido})
      benchmark::RegisterBenchmark((capa + "/" + nombre_datos(datos)).c_str(), nuestro<T>, c, datos)->Apply(tamanos);
    benchmark::RegisterBenchmark(("lectura/" + capa).c_str(), lectura<T>, c)->Apply(tamanos);
  }
  for (int64_t datos : {kExactos, kRuido})
    benchmark::RegisterBenchmark(("eigen_umeyama2D_" + s + "/" + nombre_datos(datos)).c_str(), umeyama<2, T>, datos)
        ->Apply(tamanos);
}

const bool registrado = (registra<double>(), registra<float>(), true);

}  // namespace
}  // namespace orienta::banco
