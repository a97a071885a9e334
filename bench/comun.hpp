// Shared by every benchmark: the sizes, the point sets (made once per size and kind of data) in
// every layout, the timing loop of an estimator, Eigen's umeyama, and the streaming read that
// serves as the floor for each estimator.
#ifndef ORIENTA_BENCH_COMUN_HPP
#define ORIENTA_BENCH_COMUN_HPP

#include <Eigen/Geometry>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include "../tests/gemelos.hpp"  // one overloaded name per double/float twin

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
    const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b), cc = std::cos(c),
                 sc = std::sin(c);
    const double r[9] = {cc * cb,
                         cc * sb * sa - sc * ca,
                         cc * sb * ca + sc * sa,
                         sc * cb,
                         sc * sb * sa + cc * ca,
                         sc * sb * ca - cc * sa,
                         -sb,
                         cb * sa,
                         cb * ca};
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

// A stretch of memory that one streaming read covers.
struct Tramo {
  const void* datos;
  size_t bytes;
};

template <class T>
const char* sufijo() {
  return std::is_same_v<T, double> ? "dbl" : "fl";
}

// The pairs of pares<D> in the scalar T, held every way the estimators and Eigen take them: S and
// D packed point after point (Eigen's 2×n or 3×n layout, and pp, gg, mixed), A with the source and
// target of each pair side by side (p and g, plane only), P the pointer-pair layout into S and D.
template <int Dim, class T>
struct Conjunto {
  uint32_t n;
  std::vector<T> S, D, A;
  std::vector<T*> P;
  Conjunto(uint32_t n_, int64_t datos) : n(n_) {
    const Pares<Dim>& q = pares<Dim>(n, datos);
    S = como<T>(q.origen);
    D = como<T>(q.destino);
    P.resize(2 * size_t(n));
    for (size_t i = 0; i < n; ++i) {
      P[2 * i] = &S[Dim * i];
      P[2 * i + 1] = &D[Dim * i];
    }
    if constexpr (Dim == 2) {
      A.resize(4 * size_t(n));
      for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 2; ++k) {
          A[4 * i + k] = S[2 * i + k];
          A[4 * i + 2 + k] = D[2 * i + k];
        }
    }
  }
  // What the pointer layout reads: the pointer array and both point arrays.
  std::vector<Tramo> tramos_ptr() const {
    const size_t puntos = Dim * size_t(n) * sizeof(T);
    return {{P.data(), P.size() * sizeof(T*)}, {S.data(), puntos}, {D.data(), puntos}};
  }
};

// The floor: one pass over the given buffers, a plain sum of their 64-bit words. Integer addition
// is associative, so the compiler is free to vectorise it: nothing but the memory system and the
// load ports sets its pace.
inline uint64_t lee_una_vez(const Tramo* tramos, size_t cuantos) {
  uint64_t suma = 0;
  for (size_t t = 0; t < cuantos; ++t) {
    const uint64_t* w = static_cast<const uint64_t*>(tramos[t].datos);
    const size_t m = tramos[t].bytes / 8;
    for (size_t i = 0; i < m; ++i) suma += w[i];
  }
  return suma;
}

// One estimate per iteration over the range(0) pairs of the benchmark: `estima` makes the call and
// keeps its result from being optimised away.
template <class F>
void por_estimacion(benchmark::State& estado, F estima) {
  for (auto _ : estado) estima();
  estado.SetItemsProcessed(int64_t(estado.iterations()) * estado.range(0));
}

// Eigen's umeyama (with scale) on the same points, in its own layout: two packed Dim×n matrices.
template <int Dim, class T>
void umeyama(benchmark::State& estado, int64_t datos) {
  const Conjunto<Dim, T> d(uint32_t(estado.range(0)), datos);
  using Puntos = Eigen::Matrix<T, Dim, Eigen::Dynamic>;
  const Eigen::Map<const Puntos> origen(d.S.data(), Dim, d.n), destino(d.D.data(), Dim, d.n);
  por_estimacion(estado, [&] {
    Eigen::Matrix<T, Dim + 1, Dim + 1> h = Eigen::umeyama(origen, destino, true);
    benchmark::DoNotOptimize(h.data());
    benchmark::ClobberMemory();
  });
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

// The read of the pointer-pair layout: the pointer array and both point arrays.
template <int Dim, class T>
void lectura_ptr(benchmark::State& estado) {
  const Conjunto<Dim, T> d(uint32_t(estado.range(0)), kExactos);
  mide_lectura(estado, d.tramos_ptr());
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
