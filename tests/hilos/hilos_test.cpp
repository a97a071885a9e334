// Every exported function called from many threads at once, each thread on data of its own and all
// of them on one set of read-only data: every result must match, bit for bit, the single-threaded
// run. Under ThreadSanitizer (the tsan preset) this is also the check that no function keeps
// state or touches memory beyond what it is given.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "gemelos.hpp"
#include "orienta.h"

namespace {

using namespace prueba;

// splitmix64: a small, fully determined source of test data.
class Azar {
 public:
  explicit Azar(uint64_t semilla) : estado_(semilla) {}
  uint64_t siguiente() {
    uint64_t z = (estado_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [−amplitud, amplitud).
  double real(double amplitud) { return (double(siguiente() >> 11) * 0x1p-53 * 2 - 1) * amplitud; }

 private:
  uint64_t estado_;
};

// All results of one piece of work, as bytes, in call order.
class Bitacora {
 public:
  template <class T>
  void anota(const T& v) {
    const auto* p = reinterpret_cast<const unsigned char*>(&v);
    bytes_.insert(bytes_.end(), p, p + sizeof(T));
  }
  void anota(const void* p, size_t n) {
    const auto* q = static_cast<const unsigned char*>(p);
    bytes_.insert(bytes_.end(), q, q + n);
  }
  const std::vector<unsigned char>& bytes() const { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

constexpr uint32_t kPares = 40;

// Read-only pairs in one precision: 2D in all six layouts, 3D behind pointers.
template <class T>
struct Pares {
  T pares2d[4 * kPares];  // source x, y, target x, y
  const T* ptr2d[2 * kPares];
  T fuentes[2 * kPares], destinos[2 * kPares];
  T puntos3d[6 * kPares];
  T* ptr3d[2 * kPares];

  // Once the coordinates are in: the other layouts and the pointers.
  void enlaza() {
    for (uint32_t i = 0; i < kPares; ++i) {
      for (int c = 0; c < 2; ++c) {
        fuentes[2 * i + c] = pares2d[4 * i + c];
        destinos[2 * i + c] = pares2d[4 * i + 2 + c];
      }
      ptr2d[2 * i] = &pares2d[4 * i];
      ptr2d[2 * i + 1] = &pares2d[4 * i + 2];
    }
    for (uint32_t j = 0; j < 2 * kPares; ++j) ptr3d[j] = &puntos3d[3 * j];
  }
};

// Read-only data every thread reads at once: the pairs in both precisions, angles and weights, a
// rotation matrix.
struct Compartido {
  Pares<double> dbl;
  Pares<float> fl;
  double angulos[3 * kPares];
  float pesos[3 * kPares];
  double rotacion[9];

  Compartido() {
    Azar azar(12345);
    for (uint32_t i = 0; i < 4 * kPares; ++i) fl.pares2d[i] = float(dbl.pares2d[i] = azar.real(1000));
    for (uint32_t i = 0; i < 6 * kPares; ++i) fl.puntos3d[i] = float(dbl.puntos3d[i] = azar.real(50));
    dbl.enlaza();
    fl.enlaza();
    for (uint32_t i = 0; i < 3 * kPares; ++i) {
      angulos[i] = azar.real(3.141592653589793);
      pesos[i] = float(azar.real(1) + 1.5);
    }
    double angulos_rot[3] = {0.3, -1.1, 2.4};
    MatrizRot_κωφ(angulos_rot, rotacion);
  }
};

const Compartido& compartido() {
  static const Compartido datos;  // built before the first thread starts (see the tests)
  return datos;
}

// The 2D similarity in six layouts on the shared pairs, its plain form, then a polynomial of kind
// `tipo` estimated from the same pairs into a record of this call and applied to `en`.
template <class T>
void plano_2d(Bitacora& b, const Pares<T>& c, uint32_t n, uint32_t tipo, const double (&en)[2]) {
  constexpr int64_t e = sizeof(T);
  const auto h = ptr(c.ptr2d, n);
  b.anota(h);
  b.anota(p(c.pares2d, n));
  b.anota(pp(c.fuentes, c.destinos, n));
  b.anota(g(c.pares2d, 2 * e, n));
  b.anota(gg(c.pares2d, c.pares2d + 2, 4 * e, n));
  b.anota(mixed(c.fuentes, 2 * e, c.pares2d + 2, 4 * e, n));
  b.anota(plano(&h));

  Polinomica<T> t{};
  t.tipo = tipo;
  T imagen[2] = {T(en[0]), T(en[1])};
  estima(&t, c.ptr2d, n);
  punto(&t, imagen);
  b.anota(t.tipo), b.anota(&t.xc_origen, sizeof t - offsetof(Polinomica<T>, xc_origen));
  b.anota(imagen);
}

// The 3D similarity: read-only on the shared points (with or without the inverse matrix), then in
// place on a copy of them owned by this call.
template <class T>
void espacio_3d(Bitacora& b, const Pares<T>& c, uint32_t n, int32_t general, bool inversa_compartida) {
  float inversa[9] = {};
  Hel3Dg<T> h{};
  b.anota(hel3d(c.ptr3d, n, &h, general, 0, inversa_compartida ? inversa : nullptr)), b.anota(h);
  if (inversa_compartida) b.anota(inversa);
  std::vector<T> propios(c.puntos3d, c.puntos3d + 6 * n);
  std::vector<T*> punteros(2 * n);
  for (uint32_t j = 0; j < 2 * n; ++j) punteros[j] = &propios[3 * j];
  b.anota(hel3d(punteros.data(), n, &h, general, 1, inversa)), b.anota(h), b.anota(inversa);
  b.anota(propios.data(), propios.size() * sizeof(T));
}

// One piece of work: every function once on data drawn from `semilla` (owned by the call) and on
// the shared data.
std::vector<unsigned char> trabajo(uint64_t semilla) {
  const Compartido& c = compartido();
  Azar azar(semilla);
  Bitacora b;

  SenosCosenos sc;
  for (double& v : sc.v) v = azar.real(1);
  double m[9], v3[3];
  float m_fl[9], v3_fl[3];
  MatrizRotGT_ωφκ(&sc, m), b.anota(m);
  MatrizRotGT_κwκ(&sc, m), b.anota(m);
  MatrizRotGT_κωφ(&sc, m), b.anota(m), b.anota(sc);
  using Vector = void (*)(double*, double*);
  for (Vector f : {MatrizRot_20, MatrizRot_24, MatrizRot_26}) {
    for (double& x : v3) x = azar.real(1);
    f(v3, m), b.anota(m), b.anota(v3);
  }
  for (double& x : v3) x = azar.real(1);
  MatrizRot_28(v3, m), b.anota(m);
  MatrizRot_κωφ(v3, m), b.anota(m), b.anota(v3);
  for (float& x : v3_fl) x = float(azar.real(1));
  b.anota(MatrizDeltafl_dbl(v3_fl, m)), b.anota(m), b.anota(v3_fl);
  b.anota(MatrizDeltafl_fl(v3_fl, m_fl)), b.anota(m_fl), b.anota(v3_fl);

  for (int k = 0; k < 9; ++k) m_fl[k] = float(m[k] = azar.real(2) + (k % 4 == 0 ? 3 : 0));
  Orvinvsim3_dbl(m), b.anota(m);
  Orvinvsim3_fl(m_fl), b.anota(m_fl);
  b.anota(convierte_en_R_dbl(m)), b.anota(m);
  b.anota(convierte_en_R_fl(m_fl)), b.anota(m_fl);

  for (const double* matriz : {static_cast<const double*>(m), c.rotacion}) {
    b.anota(Gmatriz_ωφκ_seg(matriz));
    b.anota(Gmatriz_24_seg(matriz));
    uint32_t codigo = 0;
    for (FuncGmatriz f : {Gmatriz_ωφκ_seg, Gmatriz_24_seg}) b.anota(Getoffset_matriz(matriz, f, &codigo)), b.anota(codigo);
  }

  const uint32_t n = 1 + uint32_t(azar.siguiente() % kPares);
  b.anota(Gmedio(c.angulos, n));
  b.anota(Gmedio_pesos(c.angulos, n, c.pesos));

  const uint32_t tipo = uint32_t(azar.siguiente() % 9);
  const double en[2] = {azar.real(1000), azar.real(1000)};
  plano_2d(b, c.dbl, n, tipo, en);
  plano_2d(b, c.fl, n, tipo, en);

  const int32_t general = int32_t(azar.siguiente() % 2);
  espacio_3d(b, c.dbl, n, general, true);
  espacio_3d(b, c.fl, n, general, false);
  return b.bytes();
}

TEST(Hilos, TodasLasFuncionesConcurrentesDanLosMismosBits) {
  constexpr int kTrabajos = 48, kHilos = 8, kVueltas = 3;
  compartido();
  std::vector<std::vector<unsigned char>> referencia;
  for (int s = 0; s < kTrabajos; ++s) referencia.push_back(trabajo(uint64_t(s)));
  ASSERT_GT(referencia[0].size(), 0u);

  // Every thread runs every piece of work, each thread starting at a different one, so the same
  // function runs on different threads at the same moment.
  std::atomic<int> distintos{0};
  std::atomic<bool> salida{false};
  std::vector<std::thread> hilos;
  for (int h = 0; h < kHilos; ++h)
    hilos.emplace_back([&, h] {
      while (!salida.load()) std::this_thread::yield();
      for (int vuelta = 0; vuelta < kVueltas; ++vuelta)
        for (int k = 0; k < kTrabajos; ++k) {
          const int s = (k + h * 7) % kTrabajos;
          if (trabajo(uint64_t(s)) != referencia[size_t(s)]) ++distintos;
        }
    });
  salida = true;
  for (std::thread& hilo : hilos) hilo.join();
  EXPECT_EQ(distintos.load(), 0);
}

}  // namespace
