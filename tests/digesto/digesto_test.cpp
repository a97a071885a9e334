// Golden digests of every result built from +, −, ×, ÷ and √ alone. IEEE arithmetic rounds those
// the same on every conforming build, compiler and machine (no mathematical library takes part,
// and contraction into fused operations is off), so their bits are pinned here for good: fixed
// inputs made by integer arithmetic, one FNV-1a digest of every output per function. A changed
// bit fails and names the function. NaN is digested as one pattern: its sign and payload are not
// promised. After a deliberate change of results, the failures print the new digests to pin.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "comun.hpp"

namespace {

using namespace prueba;

// splitmix64, and reals from it with 53 (or 24) random bits: exact, no library call.
class Azar {
 public:
  explicit Azar(uint64_t semilla) : s_(semilla) {}
  uint64_t siguiente() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  template <class T = double> T real(double amplitud) {  // uniform in [−amplitud, amplitud)
    return T((double(siguiente() >> 11) * 0x1p-52 - 1) * amplitud);
  }

 private:
  uint64_t s_;
};

class Digesto {
 public:
  void bytes(const void* p, size_t n) {
    for (size_t k = 0; k < n; ++k) h_ = (h_ ^ static_cast<const unsigned char*>(p)[k]) * 0x100000001B3ull;
  }
  template <class T> void anota(const T& v) {
    if constexpr (std::is_floating_point_v<T>) {
      if (std::isnan(v)) return bytes("NaN", 3);
    }
    bytes(&v, sizeof v);
  }
  template <class T> void escalares(const T* v, size_t n) {
    for (size_t k = 0; k < n; ++k) anota(v[k]);
  }
  template <class T, class Registro> void registro(const Registro& r) {  // a record of scalars only
    escalares(reinterpret_cast<const T*>(&r), sizeof r / sizeof(T));
  }
  uint64_t valor() const { return h_; }

 private:
  uint64_t h_ = 0xCBF29CE484222325ull;
};

constexpr int kCasos = 64;

// A unit (sin, cos) pair: a random direction normalised with one root.
void seno_coseno(Azar& a, double* sc) {
  const double x = a.real(1), y = a.real(1), r = std::sqrt(x * x + y * y);
  sc[0] = x / r, sc[1] = y / r;
}

template <void (*F)(SenosCosenos*, Matriz3x3)> uint64_t euler() {
  Azar a(1);
  Digesto d;
  for (int c = 0; c < kCasos; ++c) {
    SenosCosenos sc;
    for (int k = 0; k < 3; ++k) seno_coseno(a, &sc.v[2 * k]);
    double m[9];
    F(&sc, m);
    d.escalares(m, 9), d.escalares(sc.v, 6);
  }
  return d.valor();
}
void rot_opk(SenosCosenos* sc, Matriz3x3 m) { MatrizRotGT_ωφκ(sc, m); }
void rot_kwk(SenosCosenos* sc, Matriz3x3 m) { MatrizRotGT_κwκ(sc, m); }

// Vectors of every length up to 2.2 (type 24 is NaN past 2) and up to 10 (type 26).
template <void (*F)(double*, Matriz3x3)> uint64_t vector(double amplitud) {
  Azar a(2);
  Digesto d;
  for (int c = 0; c < kCasos; ++c) {
    double p[3] = {a.real(amplitud), a.real(amplitud), a.real(amplitud)}, m[9];
    F(p, m);
    d.escalares(m, 9), d.escalares(p, 3);
  }
  return d.valor();
}

template <class M> uint64_t delta() {
  Azar a(3);
  Digesto d;
  for (int c = 0; c < kCasos; ++c) {
    float p[3] = {a.real<float>(3), a.real<float>(3), a.real<float>(3)};
    std::remove_extent_t<M> m[9];
    if constexpr (std::is_same_v<M, Matriz3x3>)
      d.anota(MatrizDeltafl_dbl(p, m));
    else
      d.anota(MatrizDeltafl_fl(p, m));
    d.escalares(m, 9), d.escalares(p, 3);
  }
  return d.valor();
}

// Rotations from type-24 vectors up to the half turn, both branches of the type-24 recovery;
// Getoffset_matriz with that recovery and with none.
uint64_t recuperacion(int cual) {
  Azar a(4);
  Digesto d;
  for (int c = 0; c < kCasos; ++c) {
    double p[3] = {a.real(1.15), a.real(1.15), a.real(1.15)}, m[9];
    MatrizRot_24(p, m);
    uint32_t codigo = 0;
    if (cual == 0) d.registro<double>(Gmatriz_24_seg(m));
    if (cual > 0) d.registro<double>(Getoffset_matriz(m, cual == 1 ? Gmatriz_24_seg : nullptr, &codigo)), d.anota(codigo);
  }
  return d.valor();
}

template <class T> uint64_t utilidad(bool inversa) {
  Azar a(5);
  Digesto d;
  for (int c = 0; c < kCasos; ++c) {
    T m[9];
    double r[9], p[3] = {a.real(4), a.real(4), a.real(4)};
    MatrizRot_26(p, r);
    for (int k = 0; k < 9; ++k) m[k] = inversa ? T(a.real(1) + (k % 4 == 0) * 2) : T(r[k] * (c + 1) + a.real(0.05));
    if (inversa)
      invierte(m);
    else
      d.anota(ortonormaliza(m));
    d.escalares(m, 9);
  }
  return d.valor();
}

uint64_t medias(bool pesadas) {
  Azar a(6);
  Digesto d;
  for (uint32_t n = 0; n < 40; ++n) {
    std::vector<double> angulos(3 * n);
    std::vector<float> pesos(3 * n);
    for (double& x : angulos) x = a.real(kPi);
    for (float& w : pesos) w = a.real<float>(2) + 2;
    d.registro<double>(pesadas ? Gmedio_pesos(angulos.data(), n, pesos.data()) : Gmedio(angulos.data(), n));
  }
  return d.valor();
}

// Pairs in moderate coordinates (far from where P² + V² overflows or underflows), a similarity
// plus noise, n from 0 to 47; each of the six layouts on the same pairs.
template <class T, int Capa> uint64_t hel2d() {
  Azar a(7);
  Digesto d;
  for (uint32_t n = 0; n < 48; ++n) {
    std::vector<T> s(2 * n), t(2 * n), st;
    std::vector<const T*> P;
    const double c = a.real(2), si = a.real(2);
    for (uint32_t i = 0; i < n; ++i) {
      s[2 * i] = a.real<T>(500), s[2 * i + 1] = a.real<T>(500);
      t[2 * i] = T(c * s[2 * i] - si * s[2 * i + 1] + 3000 + a.real(1));
      t[2 * i + 1] = T(si * s[2 * i] + c * s[2 * i + 1] - 700 + a.real(1));
      st.insert(st.end(), {s[2 * i], s[2 * i + 1], t[2 * i], t[2 * i + 1]});
      P.insert(P.end(), {&s[2 * i], &t[2 * i]});
    }
    const int64_t e = 2 * sizeof(T);
    Hel2Dg<T> h;
    switch (Capa) {
      case 1: h = p(st.data(), n); break;
      case 2: h = pp(s.data(), t.data(), n); break;
      case 3: h = gg(s.data(), t.data(), e, n); break;
      case 4: h = mixed(st.data(), 2 * e, t.data(), e, n); break;
      case 5: h = g(st.data(), e, n); break;
      default: h = ptr(P.data(), n); break;  // and its plain form for Capa 6
    }
    if (Capa == 6)
      d.registro<T>(plano(&h));
    else
      d.registro<T>(h);
  }
  return d.valor();
}

template <class T> uint64_t polinomica(bool evalua) {
  Azar a(8);
  Digesto d;
  for (uint32_t n = 0; n < 40; ++n) {
    std::vector<T> puntos(4 * n);
    std::vector<const T*> P;
    for (uint32_t i = 0; i < n; ++i) {
      for (int k = 0; k < 2; ++k) puntos[4 * i + k] = a.real<T>(100);
      const T x = puntos[4 * i], y = puntos[4 * i + 1];
      puntos[4 * i + 2] = T(1.5 * x - 0.2 * y + 0.001 * x * y + 10 + a.real(0.01));
      puntos[4 * i + 3] = T(0.3 * x + 1.1 * y - 0.0002 * x * x * y - 5 + a.real(0.01));
      P.insert(P.end(), {&puntos[4 * i], &puntos[4 * i + 2]});
    }
    Polinomica<T> t = {};
    t.tipo = n % 10;
    if (!evalua) {
      estima(&t, P.data(), n);
    } else {
      t.xc_origen = a.real<T>(10), t.yc_origen = a.real<T>(10), t.x0_destino = a.real<T>(100), t.y0_destino = a.real<T>(100);
      for (int k = 0; k < 9; ++k) t.coef_x[k] = a.real<T>(2), t.coef_y[k] = a.real<T>(2);
      T q[2] = {a.real<T>(50), a.real<T>(50)};
      punto(&t, q);
      d.escalares(q, 2);
    }
    d.anota(t.tipo), d.escalares(&t.xc_origen, 22);
  }
  return d.valor();
}

// Similarities from type-26 rotations with noise, n from 0 to 39, both starts, with the inverse
// Newton matrix; the points are only read.
template <class T> uint64_t hel3d_(int32_t general) {
  Azar a(9);
  Digesto d;
  for (uint32_t n = 0; n < 40; ++n) {
    double r[9], v[3] = {a.real(3), a.real(3), a.real(3)};
    MatrizRot_26(v, r);
    std::vector<T> puntos(6 * n);
    std::vector<T*> P;
    for (uint32_t i = 0; i < n; ++i) {
      T* o = &puntos[6 * i];
      for (int k = 0; k < 3; ++k) o[k] = a.real<T>(200);
      for (int k = 0; k < 3; ++k) o[3 + k] = T(1.25 * ((r[3 * k] * o[0] + r[3 * k + 1] * o[1]) + r[3 * k + 2] * o[2]) + 40 * k + a.real(0.01));
      P.insert(P.end(), {o, o + 3});
    }
    Hel3Dg<T> h;
    float kinv[9];
    d.anota(hel3d(P.data(), n, &h, general, 0, kinv));
    d.registro<T>(h), d.escalares(kinv, 9);
  }
  return d.valor();
}

struct Caso {
  const char* funcion;
  uint64_t (*calcula)();
  uint64_t esperado;
};

TEST(DigestoTest, ResultsKeepTheirBits) {
  const Caso casos[] = {
      {"MatrizRotGT_ωφκ", euler<rot_opk>, 0x213f132495b1a257ull},
      {"MatrizRotGT_κωφ", euler<MatrizRotGT_κωφ>, 0x6b7573c9c9eaa018ull},
      {"MatrizRotGT_κwκ", euler<rot_kwk>, 0xd9a692200f8f3b76ull},
      {"MatrizRot_24", [] { return vector<MatrizRot_24>(1.27); }, 0xe8bc9bcc113f24b1ull},
      {"MatrizRot_26", [] { return vector<MatrizRot_26>(10); }, 0xc5aa2af637f73bd2ull},
      {"MatrizDeltafl_dbl", delta<Matriz3x3>, 0x66e9d4ae28537045ull},
      {"MatrizDeltafl_fl", delta<Matriz3x3_fl>, 0x4532b9a0ec87ba59ull},
      {"Gmatriz_24_seg", [] { return recuperacion(0); }, 0x8333039990b9144eull},
      {"Getoffset_matriz with Gmatriz_24_seg", [] { return recuperacion(1); }, 0xb77f7e40b3dbf42ull},
      {"Getoffset_matriz with none", [] { return recuperacion(2); }, 0x65a870e58b283156ull},
      {"Orvinvsim3_dbl", [] { return utilidad<double>(true); }, 0x27528f2d8d1d17ebull},
      {"Orvinvsim3_fl", [] { return utilidad<float>(true); }, 0x37189cb33e3a05ffull},
      {"convierte_en_R_dbl", [] { return utilidad<double>(false); }, 0xadf81e3e54123d7eull},
      {"convierte_en_R_fl", [] { return utilidad<float>(false); }, 0xfd41c3013fe652d0ull},
      {"Gmedio", [] { return medias(false); }, 0xf5b8794b19f310a1ull},
      {"Gmedio_pesos", [] { return medias(true); }, 0x5ee962f359c32880ull},
      {"Hel2Dg___ptr_dbl", hel2d<double, 0>, 0x11e8b1630759eb9dull},
      {"Hel2Dg___p_dbl", hel2d<double, 1>, 0x11e8b1630759eb9dull},
      {"Hel2Dg___pp_dbl", hel2d<double, 2>, 0x11e8b1630759eb9dull},
      {"Hel2Dg___gg_dbl", hel2d<double, 3>, 0x11e8b1630759eb9dull},
      {"Hel2Dg___mixed_dbl", hel2d<double, 4>, 0x11e8b1630759eb9dull},
      {"Hel2Dg___g_dbl", hel2d<double, 5>, 0x11e8b1630759eb9dull},
      {"Hel2D___Hel2Dg_dbl", hel2d<double, 6>, 0xe5984c182e9d332dull},
      {"Hel2Dg___ptr_fl", hel2d<float, 0>, 0x2a93d6ba91cdedfull},
      {"Hel2Dg___p_fl", hel2d<float, 1>, 0x2a93d6ba91cdedfull},
      {"Hel2Dg___pp_fl", hel2d<float, 2>, 0x2a93d6ba91cdedfull},
      {"Hel2Dg___gg_fl", hel2d<float, 3>, 0x2a93d6ba91cdedfull},
      {"Hel2Dg___mixed_fl", hel2d<float, 4>, 0x2a93d6ba91cdedfull},
      {"Hel2Dg___g_fl", hel2d<float, 5>, 0x2a93d6ba91cdedfull},
      {"Hel2D___Hel2Dg_fl", hel2d<float, 6>, 0xef9433bc52e318a9ull},
      {"transforma_punto2D_dbl", [] { return polinomica<double>(true); }, 0x5675d4fde70e3dd0ull},
      {"transforma_punto2D_fl", [] { return polinomica<float>(true); }, 0xc35f77b2042fdbf8ull},
      {"Trans_Polinomica2D___puntosxy_dbl", [] { return polinomica<double>(false); }, 0x3898816cbd10a805ull},
      {"Trans_Polinomica2D___puntosxy_fl", [] { return polinomica<float>(false); }, 0xd156f51b2d13c8b5ull},
      {"Hel3Dg___ptr_dbl, z start", [] { return hel3d_<double>(0); }, 0x974f20bfbcc5f176ull},
      {"Hel3Dg___ptr_dbl, general start", [] { return hel3d_<double>(1); }, 0x3c82f827f39994d6ull},
      {"Hel3Dg___ptr_fl, z start", [] { return hel3d_<float>(0); }, 0xcb29818850c7db97ull},
      {"Hel3Dg___ptr_fl, general start", [] { return hel3d_<float>(1); }, 0x10ae7d0cc923cb41ull},
  };
  for (const Caso& c : casos)
    EXPECT_EQ(c.calcula(), c.esperado) << c.funcion << ": digest changed; to pin the new bits: 0x" << std::hex
                                       << c.calcula() << "ull";
}

}  // namespace
