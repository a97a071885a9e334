// The floor that exactness itself sets. A running sum that takes the values one by one in array
// order is a chain of dependent additions: each must wait for the one before, whatever the width
// of the machine. An estimator whose pass feeds k such sums per pair, side by side, cannot beat
// one chained addition per pair for that pass.
#include "comun.hpp"

namespace orienta::banco {
namespace {

template <class T>
void suma_en_orden(benchmark::State& estado) {
  const Pares<2>& q = pares<2>(uint32_t(estado.range(0)), kExactos);
  const std::vector<T> v = como<T>(q.origen);
  for (auto _ : estado) {
    T suma = T(0);
    for (const T x : v) suma = suma + x;
    benchmark::DoNotOptimize(suma);
  }
  estado.SetItemsProcessed(int64_t(estado.iterations()) * int64_t(v.size()));
}

const bool registrado =
    (benchmark::RegisterBenchmark("cota/suma_en_orden_dbl", suma_en_orden<double>)->Apply(tamanos),
     benchmark::RegisterBenchmark("cota/suma_en_orden_fl", suma_en_orden<float>)->Apply(tamanos), true);

}  // namespace
}  // namespace orienta::banco
