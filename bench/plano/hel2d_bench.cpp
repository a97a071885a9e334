// 2D similarity: the six layouts in both precisions against Eigen's umeyama on the same points in
// its own layout (two packed 2×n matrices), and against one read of each layout's buffers.
#include "orienta.h"

#include <Eigen/Geometry>

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

template <class T> const char* sufijo();
template <> const char* sufijo<double>() { return "dbl"; }
template <> const char* sufijo<float>() { return "fl"; }

// The same pairs laid out every way the estimators take them. Strided layouts use a stride of
// one point, so every layout holds exactly the bytes Eigen reads.
template <class T>
struct Capas2D {
  uint32_t n;
  std::vector<T> S, D;             // pp, gg, mixed; also what ptr points into
  std::vector<T> A;                // p and g: source x, source y, target x, target y, …
  std::vector<const T*> P;         // ptr
  int64_t paso = 2 * sizeof(T);

  Capas2D(uint32_t n_, int64_t datos) : n(n_) {
    const Pares<2>& q = pares<2>(n, datos);
    S = como<T>(q.origen);
    D = como<T>(q.destino);
    A.resize(4 * size_t(n));
    P.resize(2 * size_t(n));
    for (size_t i = 0; i < n; ++i) {
      A[4 * i] = S[2 * i];
      A[4 * i + 1] = S[2 * i + 1];
      A[4 * i + 2] = D[2 * i];
      A[4 * i + 3] = D[2 * i + 1];
      P[2 * i] = &S[2 * i];
      P[2 * i + 1] = &D[2 * i];
    }
  }

  std::vector<Tramo> tramos(Capa c) const {
    const size_t puntos = 2 * size_t(n) * sizeof(T);
    switch (c) {
      case Capa::ptr:
        return {{P.data(), P.size() * sizeof(const T*)}, {S.data(), puntos}, {D.data(), puntos}};
      case Capa::p:
      case Capa::g:
        return {{A.data(), 2 * puntos}};
      default:
        return {{S.data(), puntos}, {D.data(), puntos}};
    }
  }
};

template <class T>
auto estima(Capa c, const Capas2D<T>& d) {
  const uint32_t n = d.n;
  if constexpr (std::is_same_v<T, double>) {
    switch (c) {
      case Capa::ptr: return Hel2Dg___ptr_dbl(d.P.data(), n);
      case Capa::p: return Hel2Dg___p_dbl(d.A.data(), n);
      case Capa::pp: return Hel2Dg___pp_dbl(d.S.data(), d.D.data(), n);
      case Capa::g: return Hel2Dg___g_dbl(d.A.data(), d.paso, n);
      case Capa::gg: return Hel2Dg___gg_dbl(d.S.data(), d.D.data(), d.paso, n);
      case Capa::mixed: return Hel2Dg___mixed_dbl(d.S.data(), d.paso, d.D.data(), d.paso, n);
    }
    return Hel2Dg_dbl{};
  } else {
    switch (c) {
      case Capa::ptr: return Hel2Dg___ptr_fl(d.P.data(), n);
      case Capa::p: return Hel2Dg___p_fl(d.A.data(), n);
      case Capa::pp: return Hel2Dg___pp_fl(d.S.data(), d.D.data(), n);
      case Capa::g: return Hel2Dg___g_fl(d.A.data(), d.paso, n);
      case Capa::gg: return Hel2Dg___gg_fl(d.S.data(), d.D.data(), d.paso, n);
      case Capa::mixed: return Hel2Dg___mixed_fl(d.S.data(), d.paso, d.D.data(), d.paso, n);
    }
    return Hel2Dg_fl{};
  }
}

template <class T>
void nuestro(benchmark::State& estado, Capa c, int64_t datos) {
  const Capas2D<T> d(uint32_t(estado.range(0)), datos);
  for (auto _ : estado) {
    auto h = estima<T>(c, d);
    benchmark::DoNotOptimize(h);
  }
  estado.SetItemsProcessed(int64_t(estado.iterations()) * estado.range(0));
}

template <class T>
void umeyama(benchmark::State& estado, int64_t datos) {
  const Capas2D<T> d(uint32_t(estado.range(0)), datos);
  using Puntos = Eigen::Matrix<T, 2, Eigen::Dynamic>;
  const Eigen::Map<const Puntos> origen(d.S.data(), 2, d.n), destino(d.D.data(), 2, d.n);
  for (auto _ : estado) {
    Eigen::Matrix<T, 3, 3> h = Eigen::umeyama(origen, destino, true);
    benchmark::DoNotOptimize(h.data());
    benchmark::ClobberMemory();
  }
  estado.SetItemsProcessed(int64_t(estado.iterations()) * estado.range(0));
}

template <class T>
void lectura(benchmark::State& estado, Capa c) {
  const Capas2D<T> d(uint32_t(estado.range(0)), kExactos);
  mide_lectura(estado, d.tramos(c));
}

template <class T>
void registra() {
  const std::string s = sufijo<T>();
  for (Capa c : {Capa::ptr, Capa::p, Capa::pp, Capa::g, Capa::gg, Capa::mixed}) {
    const std::string capa = std::string("Hel2Dg___") + nombre_capa(c) + "_" + s;
    for (int64_t datos : {kExactos, kRuido})
      benchmark::RegisterBenchmark((capa + "/" + nombre_datos(datos)).c_str(), nuestro<T>, c, datos)
          ->Apply(tamanos);
    benchmark::RegisterBenchmark(("lectura/" + capa).c_str(), lectura<T>, c)->Apply(tamanos);
  }
  for (int64_t datos : {kExactos, kRuido})
    benchmark::RegisterBenchmark(("eigen_umeyama2D_" + s + "/" + nombre_datos(datos)).c_str(),
                                 umeyama<T>, datos)
        ->Apply(tamanos);
}

const bool registrado = (registra<double>(), registra<float>(), true);

}  // namespace
}  // namespace orienta::banco
