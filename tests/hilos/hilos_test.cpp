// Every exported function called from many threads at once, each thread on data of its own and all
// of them on one set of read-only data: every result must match, bit for bit, the single-threaded
// run. Under ThreadSanitizer (the tsan preset) this is also the check that no function keeps
// state or touches memory beyond what it is given.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "debiles.hpp"

namespace {

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

// Read-only data every thread reads at once: 2D pairs in all six layouts, 3D pairs, angles and
// weights, a rotation matrix.
struct Compartido {
  double pares2d[4 * kPares];  // source x, y, target x, y
  float pares2d_fl[4 * kPares];
  const double* ptr2d[2 * kPares];
  const float* ptr2d_fl[2 * kPares];
  double fuentes[2 * kPares], destinos[2 * kPares];
  float fuentes_fl[2 * kPares], destinos_fl[2 * kPares];
  double puntos3d[6 * kPares];
  float puntos3d_fl[6 * kPares];
  double* ptr3d[2 * kPares];
  float* ptr3d_fl[2 * kPares];
  double angulos[3 * kPares];
  float pesos[3 * kPares];
  double rotacion[9];

  Compartido() {
    Azar azar(12345);
    for (uint32_t i = 0; i < 4 * kPares; ++i) pares2d_fl[i] = float(pares2d[i] = azar.real(1000));
    for (uint32_t i = 0; i < kPares; ++i) {
      for (int c = 0; c < 2; ++c) {
        fuentes[2 * i + c] = pares2d[4 * i + c];
        destinos[2 * i + c] = pares2d[4 * i + 2 + c];
        fuentes_fl[2 * i + c] = pares2d_fl[4 * i + c];
        destinos_fl[2 * i + c] = pares2d_fl[4 * i + 2 + c];
      }
      ptr2d[2 * i] = &pares2d[4 * i];
      ptr2d[2 * i + 1] = &pares2d[4 * i + 2];
      ptr2d_fl[2 * i] = &pares2d_fl[4 * i];
      ptr2d_fl[2 * i + 1] = &pares2d_fl[4 * i + 2];
    }
    for (uint32_t i = 0; i < 6 * kPares; ++i) puntos3d_fl[i] = float(puntos3d[i] = azar.real(50));
    for (uint32_t j = 0; j < 2 * kPares; ++j) {
      ptr3d[j] = &puntos3d[3 * j];
      ptr3d_fl[j] = &puntos3d_fl[3 * j];
    }
    for (uint32_t i = 0; i < 3 * kPares; ++i) {
      angulos[i] = azar.real(3.141592653589793);
      pesos[i] = float(azar.real(1) + 1.5);
    }
    double angulos_rot[3] = {0.3, -1.1, 2.4};
    if (ORIENTA_PRESENTE(MatrizRot_κωφ)) MatrizRot_κωφ(angulos_rot, rotacion);
  }
};

const Compartido& compartido() {
  static const Compartido datos;  // built before the first thread starts (see the tests)
  return datos;
}

// One piece of work: every present function once on data drawn from `semilla` (owned by the call)
// and on the shared data.
std::vector<unsigned char> trabajo(uint64_t semilla) {
  const Compartido& c = compartido();
  Azar azar(semilla);
  Bitacora b;

  SenosCosenos sc;
  for (double& v : sc.v) v = azar.real(1);
  double m[9], v3[3];
  float m_fl[9], v3_fl[3];
  if (ORIENTA_PRESENTE(MatrizRotGT_ωφκ)) MatrizRotGT_ωφκ(&sc, m), b.anota(m);
  if (ORIENTA_PRESENTE(MatrizRotGT_κwκ)) MatrizRotGT_κwκ(&sc, m), b.anota(m);
  if (ORIENTA_PRESENTE(MatrizRotGT_κωφ)) MatrizRotGT_κωφ(&sc, m), b.anota(m), b.anota(sc);
  using Vector = void (*)(double*, double*);
  for (Vector f : {MatrizRot_20, MatrizRot_24, MatrizRot_26})
    if (f != nullptr) {
      for (double& x : v3) x = azar.real(1);
      f(v3, m), b.anota(m), b.anota(v3);
    }
  for (double& x : v3) x = azar.real(1);
  if (ORIENTA_PRESENTE(MatrizRot_28)) MatrizRot_28(v3, m), b.anota(m);
  if (ORIENTA_PRESENTE(MatrizRot_κωφ)) MatrizRot_κωφ(v3, m), b.anota(m), b.anota(v3);
  for (float& x : v3_fl) x = float(azar.real(1));
  if (ORIENTA_PRESENTE(MatrizDeltafl_dbl)) b.anota(MatrizDeltafl_dbl(v3_fl, m)), b.anota(m), b.anota(v3_fl);
  if (ORIENTA_PRESENTE(MatrizDeltafl_fl)) b.anota(MatrizDeltafl_fl(v3_fl, m_fl)), b.anota(m_fl), b.anota(v3_fl);

  for (int k = 0; k < 9; ++k) m_fl[k] = float(m[k] = azar.real(2) + (k % 4 == 0 ? 3 : 0));
  if (ORIENTA_PRESENTE(Orvinvsim3_dbl)) Orvinvsim3_dbl(m), b.anota(m);
  if (ORIENTA_PRESENTE(Orvinvsim3_fl)) Orvinvsim3_fl(m_fl), b.anota(m_fl);
  if (ORIENTA_PRESENTE(convierte_en_R_dbl)) b.anota(convierte_en_R_dbl(m)), b.anota(m);
  if (ORIENTA_PRESENTE(convierte_en_R_fl)) b.anota(convierte_en_R_fl(m_fl)), b.anota(m_fl);

  for (const double* matriz : {static_cast<const double*>(m), c.rotacion}) {
    if (ORIENTA_PRESENTE(Gmatriz_ωφκ_seg)) b.anota(Gmatriz_ωφκ_seg(matriz));
    if (ORIENTA_PRESENTE(Gmatriz_24_seg)) b.anota(Gmatriz_24_seg(matriz));
    uint32_t codigo = 0;
    for (FuncGmatriz f : {Gmatriz_ωφκ_seg, Gmatriz_24_seg})
      if (f != nullptr && ORIENTA_PRESENTE(Getoffset_matriz)) b.anota(Getoffset_matriz(matriz, f, &codigo)), b.anota(codigo);
  }

  const uint32_t n = 1 + uint32_t(azar.siguiente() % kPares);
  if (ORIENTA_PRESENTE(Gmedio)) b.anota(Gmedio(c.angulos, n));
  if (ORIENTA_PRESENTE(Gmedio_pesos)) b.anota(Gmedio_pesos(c.angulos, n, c.pesos));

  // 2D similarity, six layouts per precision on the shared pairs, then the plain form.
  const int64_t d = sizeof(double), f = sizeof(float);
  Hel2Dg_dbl h{};
  Hel2Dg_fl h_fl{};
  if (ORIENTA_PRESENTE(Hel2Dg___ptr_dbl)) b.anota(h = Hel2Dg___ptr_dbl(c.ptr2d, n));
  if (ORIENTA_PRESENTE(Hel2Dg___p_dbl)) b.anota(Hel2Dg___p_dbl(c.pares2d, n));
  if (ORIENTA_PRESENTE(Hel2Dg___pp_dbl)) b.anota(Hel2Dg___pp_dbl(c.fuentes, c.destinos, n));
  if (ORIENTA_PRESENTE(Hel2Dg___g_dbl)) b.anota(Hel2Dg___g_dbl(c.pares2d, 2 * d, n));
  if (ORIENTA_PRESENTE(Hel2Dg___gg_dbl)) b.anota(Hel2Dg___gg_dbl(c.pares2d, c.pares2d + 2, 4 * d, n));
  if (ORIENTA_PRESENTE(Hel2Dg___mixed_dbl)) b.anota(Hel2Dg___mixed_dbl(c.fuentes, 2 * d, c.pares2d + 2, 4 * d, n));
  if (ORIENTA_PRESENTE(Hel2Dg___ptr_fl)) b.anota(h_fl = Hel2Dg___ptr_fl(c.ptr2d_fl, n));
  if (ORIENTA_PRESENTE(Hel2Dg___p_fl)) b.anota(Hel2Dg___p_fl(c.pares2d_fl, n));
  if (ORIENTA_PRESENTE(Hel2Dg___pp_fl)) b.anota(Hel2Dg___pp_fl(c.fuentes_fl, c.destinos_fl, n));
  if (ORIENTA_PRESENTE(Hel2Dg___g_fl)) b.anota(Hel2Dg___g_fl(c.pares2d_fl, 2 * f, n));
  if (ORIENTA_PRESENTE(Hel2Dg___gg_fl)) b.anota(Hel2Dg___gg_fl(c.pares2d_fl, c.pares2d_fl + 2, 4 * f, n));
  if (ORIENTA_PRESENTE(Hel2Dg___mixed_fl)) b.anota(Hel2Dg___mixed_fl(c.fuentes_fl, 2 * f, c.pares2d_fl + 2, 4 * f, n));
  if (ORIENTA_PRESENTE(Hel2D___Hel2Dg_dbl)) b.anota(Hel2D___Hel2Dg_dbl(&h));
  if (ORIENTA_PRESENTE(Hel2D___Hel2Dg_fl)) b.anota(Hel2D___Hel2Dg_fl(&h_fl));

  // Polynomials: estimated from the shared pairs into a record of this call, then applied.
  const uint32_t tipo = uint32_t(azar.siguiente() % 9);
  Trans_Polinomica2D_dbl t{};
  Trans_Polinomica2D_fl t_fl{};
  t.tipo = t_fl.tipo = tipo;
  double punto[2] = {azar.real(1000), azar.real(1000)};
  float punto_fl[2] = {float(punto[0]), float(punto[1])};
  if (ORIENTA_PRESENTE(Trans_Polinomica2D___puntosxy_dbl)) Trans_Polinomica2D___puntosxy_dbl(&t, c.ptr2d, n);
  if (ORIENTA_PRESENTE(Trans_Polinomica2D___puntosxy_fl)) Trans_Polinomica2D___puntosxy_fl(&t_fl, c.ptr2d_fl, n);
  if (ORIENTA_PRESENTE(transforma_punto2D_dbl)) transforma_punto2D_dbl(&t, punto);
  if (ORIENTA_PRESENTE(transforma_punto2D_fl)) transforma_punto2D_fl(&t_fl, punto_fl);
  b.anota(t.tipo), b.anota(&t.xc_origen, sizeof t - offsetof(Trans_Polinomica2D_dbl, xc_origen));
  b.anota(t_fl.tipo), b.anota(&t_fl.xc_origen, sizeof t_fl - offsetof(Trans_Polinomica2D_fl, xc_origen));
  b.anota(punto), b.anota(punto_fl);

  // 3D similarity: read-only on the shared points, in place on a copy of the call's own.
  const int32_t general = int32_t(azar.siguiente() % 2);
  float inversa[9];
  Hel3Dg_dbl h3{};
  Hel3Dg_fl h3_fl{};
  if (ORIENTA_PRESENTE(Hel3Dg___ptr_dbl)) {
    b.anota(Hel3Dg___ptr_dbl(const_cast<double* const*>(c.ptr3d), n, &h3, general, 0, inversa)), b.anota(h3), b.anota(inversa);
    std::vector<double> propios(c.puntos3d, c.puntos3d + 6 * n);
    std::vector<double*> ptr(2 * n);
    for (uint32_t j = 0; j < 2 * n; ++j) ptr[j] = &propios[3 * j];
    b.anota(Hel3Dg___ptr_dbl(ptr.data(), n, &h3, general, 1, inversa)), b.anota(h3), b.anota(inversa);
    b.anota(propios.data(), propios.size() * sizeof(double));
  }
  if (ORIENTA_PRESENTE(Hel3Dg___ptr_fl)) {
    b.anota(Hel3Dg___ptr_fl(const_cast<float* const*>(c.ptr3d_fl), n, &h3_fl, general, 0, nullptr)), b.anota(h3_fl);
    std::vector<float> propios(c.puntos3d_fl, c.puntos3d_fl + 6 * n);
    std::vector<float*> ptr(2 * n);
    for (uint32_t j = 0; j < 2 * n; ++j) ptr[j] = &propios[3 * j];
    b.anota(Hel3Dg___ptr_fl(ptr.data(), n, &h3_fl, general, 1, inversa)), b.anota(h3_fl), b.anota(inversa);
    b.anota(propios.data(), propios.size() * sizeof(float));
  }
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
