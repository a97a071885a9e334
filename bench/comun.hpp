// Shared by every benchmark: the sizes, the point sets (made once per size and kind of data) and
// the streaming read that serves as the floor for each estimator.
#ifndef ORIENTA_BENCH_COMUN_HPP
#define ORIENTA_BENCH_COMUN_HPP

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <utility>
#include <vector>

namespace orienta::banco {

// Pairs per estimate: 10² … 10⁶.
inline constexpr int64_t kTamanos[] = {100, 1000, 10000, 100000, 1000000};

// Exact pairs are related by the true similarity alone; noisy ones carry a centimetre of
// Gaussian noise on the target, as a survey would. Both kinds are run because the 3D refinement
// may take a different number of Newton steps on them.
enum Datos : int64_t { kExactos = 0, kRuido = 1 };
inline const char* nombre_datos(int64_t d) { return d == kExactos ? "exactos" : "ruido"; }

// n points of dimension D, packed (x, y[, z]) point after point, source and target apart.
template <int D>
struct Pares {
  std::vector<double> origen, destino;
};

// Source points on a local grid a couple of kilometres across; targets in projected coordinates
// (hundreds of kilometres east, thousands north), turned, scaled by a few hundred ppm and shifted,
// as when a local survey is tied into a national grid. The 3D rotation is well away from the
// third axis so that both starts have work to do.
template <int D>
const Pares<D>& pares(uint32_t n, int64_t datos) {
  static std::map<std::pair<uint32_t, int64_t>, Pares<D>> hechos;
  auto [it, nuevo] = hechos.try_emplace({n, datos});
  Pares<D>& p = it->second;
  if (!nuevo) return p;
  std::mt19937_64 azar(0x5eed0000u + n * 2u + uint32_t(datos) + uint32_t(D) * 7919u);
  std::uniform_real_distribution<double> plano(-1000.0, 1000.0), alto(50.0, 400.0);
  std::normal_distribution<double> ruido(0.0, 0.01);
  const double escala = 1.0004;
  const double desplazamiento[3] = {431250.0, 4581700.0, 120.0};
  double R[9];
  if (D == 2) {
    const double g = 0.3;
    const double r[9] = {std::cos(g), -std::sin(g), 0, std::sin(g), std::cos(g), 0, 0, 0, 1};
    std::memcpy(R, r, sizeof R);
  } else {  // Rz(0.3)·Ry(0.05)·Rx(0.04): a tilted block
    const double a = 0.04, b = 0.05, c = 0.3;
    const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b),
                 cc = std::cos(c), sc = std::sin(c);
    const double r[9] = {cc * cb, cc * sb * sa - sc * ca, cc * sb * ca + sc * sa,
                         sc * cb, sc * sb * sa + cc * ca, sc * sb * ca - cc * sa,
                         -sb,     cb * sa,                cb * ca};
    std::memcpy(R, r, sizeof R);
  }
  p.origen.resize(size_t(n) * D);
  p.destino.resize(size_t(n) * D);
  for (uint32_t i = 0; i < n; ++i) {
    double s[3] = {2000.0 + plano(azar), 3000.0 + plano(azar), D == 3 ? alto(azar) : 0.0};
    for (int k = 0; k < D; ++k) p.origen[size_t(i) * D + k] = s[k];
    for (int k = 0; k < D; ++k) {
      double t = desplazamiento[k];
      for (int j = 0; j < D; ++j) t += escala * R[3 * k + j] * s[j];
      if (datos == kRuido) t += ruido(azar);
      p.destino[size_t(i) * D + k] = t;
    }
  }
  return p;
}

template <class T>
std::vector<T> como(const std::vector<double>& v) {
  return std::vector<T>(v.begin(), v.end());
}

// The floor: one pass over the given buffers, a plain sum of their 64-bit words. Integer addition
// is associative, so the compiler is free to vectorise it: nothing but the memory system and the
// load ports sets its pace.
struct Tramo {
  const void* datos;
  size_t bytes;
};
inline uint64_t lee_una_vez(const Tramo* tramos, size_t cuantos) {
  uint64_t suma = 0;
  for (size_t t = 0; t < cuantos; ++t) {
    const uint64_t* w = static_cast<const uint64_t*>(tramos[t].datos);
    const size_t m = tramos[t].bytes / 8;
    for (size_t i = 0; i < m; ++i) suma += w[i];
  }
  return suma;
}

inline void mide_lectura(benchmark::State& estado, const std::vector<Tramo>& tramos) {
  size_t bytes = 0;
  for (const Tramo& t : tramos) bytes += t.bytes;
  for (auto _ : estado) {
    uint64_t s = lee_una_vez(tramos.data(), tramos.size());
    benchmark::DoNotOptimize(s);
    benchmark::ClobberMemory();
  }
  estado.SetBytesProcessed(int64_t(estado.iterations()) * int64_t(bytes));
}

// Every size, for each kind of data.
inline void tamanos_y_datos(benchmark::internal::Benchmark* b) {
  b->ArgNames({"n", "datos"});
  for (int64_t d : {kExactos, kRuido})
    for (int64_t n : kTamanos) b->Args({n, d});
}
inline void tamanos(benchmark::internal::Benchmark* b) {
  b->ArgNames({"n"});
  for (int64_t n : kTamanos) b->Args({n});
}

}  // namespace orienta::banco

#endif
