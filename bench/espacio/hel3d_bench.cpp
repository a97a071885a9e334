// 3D similarity: both starts, scratch copy and centring in place, in both precisions, against
// Eigen's umeyama on the same points in its own layout (two packed 3×n matrices), and against one
// read of the pointer array and the points.
#include "orienta.h"

#include <string>

#include "comun.hpp"

namespace orienta::banco {
namespace {

// In place, the first call centres the benchmark's own copy of the points and every later call
// works on centred points: the same operations on numbers of the same kind (centroids near zero,
// no subnormals), so the time per call is that of a call on fresh points.
template <class T>
void nuestro(benchmark::State& estado, int32_t general, int32_t en_sitio, int64_t datos) {
  const Conjunto<3, T> d(uint32_t(estado.range(0)), datos);
  prueba::Hel3Dg<T> h{};
  int32_t estado_estima = 0;
  por_estimacion(estado, [&] {
    estado_estima = prueba::hel3d(d.P.data(), d.n, &h, general, en_sitio, nullptr);
    benchmark::DoNotOptimize(h);
  });
  if (estado_estima < 0) estado.SkipWithError("the estimate failed");
}

template <class T>
void registra() {
  const std::string s = sufijo<T>();
  for (int32_t general : {0, 1})
    for (int32_t en_sitio : {0, 1})
      for (int64_t datos : {kExactos, kRuido}) {
        const std::string nombre = "Hel3Dg___ptr_" + s + (general ? "/general" : "/plano") +
                                   (en_sitio ? "_sitio/" : "_copia/") + nombre_datos(datos);
        benchmark::RegisterBenchmark(nombre.c_str(), nuestro<T>, general, en_sitio, datos)->Apply(tamanos);
      }
  for (int64_t datos : {kExactos, kRuido})
    benchmark::RegisterBenchmark(("eigen_umeyama3D_" + s + "/" + nombre_datos(datos)).c_str(), umeyama<3, T>, datos)
        ->Apply(tamanos);
  benchmark::RegisterBenchmark(("lectura/Hel3Dg___ptr_" + s).c_str(), lectura_ptr<3, T>)->Apply(tamanos);
}

const bool registrado = (registra<double>(), registra<float>(), true);

}  // namespace
}  // namespace orienta::banco
