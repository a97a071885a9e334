// 3D similarity: both starts, scratch copy and centring in place, in both precisions, against
// Eigen's umeyama on the same points in its own layout (two packed 3×n matrices), and against one
// read of the pointer array and the points.
#include "orienta.h"

#include <Eigen/Geometry>

#include <string>

#include "comun.hpp"

namespace orienta::banco {
namespace {

template <class T>
struct Datos3D {
  uint32_t n;
  std::vector<T> S, D;
  std::vector<T*> P;
  Datos3D(uint32_t n_, int64_t datos) : n(n_) {
    const Pares<3>& q = pares<3>(n, datos);
    S = como<T>(q.origen);
    D = como<T>(q.destino);
    P.resize(2 * size_t(n));
    for (size_t i = 0; i < n; ++i) {
      P[2 * i] = &S[3 * i];
      P[2 * i + 1] = &D[3 * i];
    }
  }
};

int32_t estima(const Datos3D<double>& d, Hel3Dg_dbl* h, int32_t general, int32_t en_sitio) {
  return Hel3Dg___ptr_dbl(d.P.data(), d.n, h, general, en_sitio, nullptr);
}
int32_t estima(const Datos3D<float>& d, Hel3Dg_fl* h, int32_t general, int32_t en_sitio) {
  return Hel3Dg___ptr_fl(d.P.data(), d.n, h, general, en_sitio, nullptr);
}

// In place, the first call centres the benchmark's own copy of the points and every later call
// works on centred points: the same operations on numbers of the same kind (centroids near zero,
// no subnormals), so the time per call is that of a call on fresh points.
template <class T, class Registro>
void nuestro(benchmark::State& estado, int32_t general, int32_t en_sitio, int64_t datos) {
  const Datos3D<T> d(uint32_t(estado.range(0)), datos);
  Registro h{};
  int32_t estado_estima = 0;
  for (auto _ : estado) {
    estado_estima = estima(d, &h, general, en_sitio);
    benchmark::DoNotOptimize(h);
  }
  if (estado_estima < 0) estado.SkipWithError("the estimate failed");
  estado.SetItemsProcessed(int64_t(estado.iterations()) * estado.range(0));
}

template <class T>
void umeyama(benchmark::State& estado, int64_t datos) {
  const Datos3D<T> d(uint32_t(estado.range(0)), datos);
  using Puntos = Eigen::Matrix<T, 3, Eigen::Dynamic>;
  const Eigen::Map<const Puntos> origen(d.S.data(), 3, d.n), destino(d.D.data(), 3, d.n);
  for (auto _ : estado) {
    Eigen::Matrix<T, 4, 4> h = Eigen::umeyama(origen, destino, true);
    benchmark::DoNotOptimize(h.data());
    benchmark::ClobberMemory();
  }
  estado.SetItemsProcessed(int64_t(estado.iterations()) * estado.range(0));
}

template <class T>
void lectura(benchmark::State& estado) {
  const Datos3D<T> d(uint32_t(estado.range(0)), kExactos);
  const size_t puntos = 3 * size_t(d.n) * sizeof(T);
  mide_lectura(estado, {{d.P.data(), d.P.size() * sizeof(T*)}, {d.S.data(), puntos},
                        {d.D.data(), puntos}});
}

template <class T, class Registro>
void registra(const std::string& s) {
  for (int32_t general : {0, 1})
    for (int32_t en_sitio : {0, 1})
      for (int64_t datos : {kExactos, kRuido}) {
        const std::string nombre = "Hel3Dg___ptr_" + s + (general ? "/general" : "/plano") +
                                   (en_sitio ? "_sitio/" : "_copia/") + nombre_datos(datos);
        benchmark::RegisterBenchmark(nombre.c_str(), nuestro<T, Registro>, general, en_sitio,
                                     datos)
            ->Apply(tamanos);
      }
  for (int64_t datos : {kExactos, kRuido})
    benchmark::RegisterBenchmark(("eigen_umeyama3D_" + s + "/" + nombre_datos(datos)).c_str(),
                                 umeyama<T>, datos)
        ->Apply(tamanos);
  benchmark::RegisterBenchmark(("lectura/Hel3Dg___ptr_" + s).c_str(), lectura<T>)->Apply(tamanos);
}

const bool registrado =
    (registra<double, Hel3Dg_dbl>("dbl"), registra<float, Hel3Dg_fl>("fl"), true);

}  // namespace
}  // namespace orienta::banco
