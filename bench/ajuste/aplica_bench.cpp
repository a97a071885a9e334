// Carrying points through a fitted 3D similarity: orienta_aplica against Eigen's
// (s·R·X).colwise() + T on the same packed points, both writing into a buffer of their own; and
// the fit itself, for scale.
#include "orienta.h"

#include <Eigen/Dense>

#include <string>

#include "comun.hpp"

namespace orienta::banco {
namespace {

struct Caso {
  std::vector<double> origen, salida;
  orienta_transformacion t;
  explicit Caso(uint32_t n) {
    const Pares<3>& p = pares<3>(n, kRuido);
    origen = p.origen;
    salida.assign(origen.size(), 0.0);
    const orienta_pares v{p.origen.data(), 24, p.destino.data(), 24, n, nullptr, 1, 0.0};
    if (orienta_ajusta(ORIENTA_HELMERT3D, &v, &t, nullptr, nullptr) != ORIENTA_OK) t.modelo = 0;
  }
};

void aplica(benchmark::State& estado) {
  Caso c(uint32_t(estado.range(0)));
  if (c.t.modelo == 0) estado.SkipWithError("the fit failed");
  for (auto _ : estado) {
    orienta_aplica(&c.t, 0, c.origen.data(), 24, c.salida.data(), 24, uint64_t(estado.range(0)), nullptr);
    benchmark::DoNotOptimize(c.salida.data());
    benchmark::ClobberMemory();
  }
  estado.SetItemsProcessed(int64_t(estado.iterations()) * estado.range(0));
}

// The same map in Eigen's plain form: T = c_d − s·R·c_o, then s·R·X + T column by column.
void eigen(benchmark::State& estado) {
  Caso c(uint32_t(estado.range(0)));
  const Eigen::Map<const Eigen::Matrix<double, 3, Eigen::Dynamic>> x(c.origen.data(), 3, estado.range(0));
  Eigen::Map<Eigen::Matrix<double, 3, Eigen::Dynamic>> y(c.salida.data(), 3, estado.range(0));
  const Eigen::Matrix3d r = Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(c.t.rotacion);
  const double s = c.t.escala;
  const Eigen::Vector3d t = Eigen::Vector3d(c.t.centro_destino) - s * r * Eigen::Vector3d(c.t.centro_origen);
  for (auto _ : estado) {
    y = (s * r * x).colwise() + t;
    benchmark::DoNotOptimize(c.salida.data());
    benchmark::ClobberMemory();
  }
  estado.SetItemsProcessed(int64_t(estado.iterations()) * estado.range(0));
}

void ajusta(benchmark::State& estado) {
  const uint32_t n = uint32_t(estado.range(0));
  const Pares<3>& p = pares<3>(n, kRuido);
  const orienta_pares v{p.origen.data(), 24, p.destino.data(), 24, n, nullptr, 1, 0.0};
  orienta_transformacion t;
  orienta_estadisticas e;
  for (auto _ : estado) {
    benchmark::DoNotOptimize(orienta_ajusta(ORIENTA_HELMERT3D, &v, &t, &e, nullptr));
    benchmark::ClobberMemory();
  }
  estado.SetItemsProcessed(int64_t(estado.iterations()) * n);
}

void tamanos(benchmark::internal::Benchmark* b) {
  for (int64_t n : kTamanos) b->Arg(n);
}

const bool registrado = (benchmark::RegisterBenchmark("orienta_aplica/helmert3d", aplica)->Apply(tamanos),
                         benchmark::RegisterBenchmark("eigen_sRX_mas_T", eigen)->Apply(tamanos),
                         benchmark::RegisterBenchmark("orienta_ajusta/helmert3d", ajusta)->Apply(tamanos), true);

}  // namespace
}  // namespace orienta::banco
