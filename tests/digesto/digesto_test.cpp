// Golden digests of every result built from +, −, ×, ÷ and √ alone. IEEE arithmetic rounds those
// the same on every conforming build, compiler and machine (no mathematical library takes part,
// and contraction into fused operations is off), so their bits are pinned here for good: fixed
// inputs made by integer arithmetic, one FNV-1a digest of every output per function. A changed
// bit fails and names the function. NaN is digested as one pattern: its sign and payload are not
// promised. After a deliberate change of results, the failures print the new digests to pin.
#include <gtest/gtest.h>

#include <cmath>
#include <type_traits>
#include <vector>

#include "comun.hpp"

namespace {

using namespace prueba;

// splitmix64, and reals with 53 random bits scaled by a power of two or a small integer: exact.
class Azar {
 public:
  explicit Azar(uint64_t semilla) : s_(semilla) {}
  template <class T = double>
  T real(double amplitud) {  // uniform in [−amplitud, amplitud)
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return T((double((z ^ (z >> 31)) >> 11) * 0x1p-52 - 1) * amplitud);
  }

 private:
  uint64_t s_;
};

class Digesto {
 public:
  template <class T>
  void anota(const T* v, size_t n = 1) {
    for (size_t k = 0; k < n; ++k) {
      if constexpr (std::is_floating_point_v<T>)
        if (std::isnan(v[k])) {
          bytes("NaN", 3);
          continue;
        }
      bytes(&v[k], sizeof(T));
    }
  }
  template <class T, class Registro>
  void registro(const Registro& r) {  // a record of scalars only
    anota(reinterpret_cast<const T*>(&r), sizeof r / sizeof(T));
  }
  uint64_t valor() const { return h_; }

 private:
  void bytes(const void* p, size_t n) {
    for (size_t k = 0; k < n; ++k) h_ = (h_ ^ static_cast<const unsigned char*>(p)[k]) * 0x100000001B3ull;
  }
  uint64_t h_ = 0xCBF29CE484222325ull;
};

using Caso = void (*)(Azar&, Digesto&, uint32_t);

// Sixty-four cases of one function, case c drawing its inputs from one shared stream.
uint64_t digiere(Caso caso) {
  Azar a(2024);
  Digesto d;
  for (uint32_t c = 0; c < 64; ++c) caso(a, d, c);
  return d.valor();
}

// Unit (sin, cos) pairs: random directions normalised with one root.
SenosCosenos senos(Azar& a) {
  SenosCosenos sc;
  for (int k = 0; k < 6; k += 2) {
    const double x = a.real(1), y = a.real(1), r = std::sqrt(x * x + y * y);
    sc.v[k] = x / r, sc.v[k + 1] = y / r;
  }
  return sc;
}

// Calls f(args...) and digests what it returns, if anything.
template <class F, class... A>
void llama(Digesto& d, F f, A... args) {
  if constexpr (std::is_void_v<decltype(f(args...))>) {
    f(args...);
  } else {
    const auto r = f(args...);
    d.anota(&r);
  }
}
// A vector of V within ±centesimas/100, then F(vector, matrix of M): the matrix and the vector.
template <class V, class M, auto F, int Centesimas>
void vector_(Azar& a, Digesto& d, uint32_t) {
  const double r = Centesimas / 100.0;
  V p[3] = {a.real<V>(r), a.real<V>(r), a.real<V>(r)};
  M m[9];
  llama(d, F, p, m);
  d.anota(m, 9), d.anota(p, 3);
}
template <int Cual>
void euler(Azar& a, Digesto& d, uint32_t) {
  SenosCosenos sc = senos(a);
  double m[9];
  Cual == 0 ? MatrizRotGT_ωφκ(&sc, m) : Cual == 1 ? MatrizRotGT_κωφ(&sc, m) : MatrizRotGT_κwκ(&sc, m);
  d.anota(m, 9), d.anota(sc.v, 6);
}
// Rotations of type-24 vectors up to the half turn (both branches of the recovery); Getoffset_matriz
// with that recovery and with none.
template <int Cual>
void recupera(Azar& a, Digesto& d, uint32_t) {
  double p[3] = {a.real(1.15), a.real(1.15), a.real(1.15)}, m[9];
  uint32_t codigo = 0;
  MatrizRot_24(p, m);
  const FuncGmatriz f = Cual == 1 ? Gmatriz_24_seg : nullptr;
  d.registro<double>(Cual == 0 ? Gmatriz_24_seg(m) : Getoffset_matriz(m, f, &codigo));
  d.anota(&codigo);
}
// A matrix of T filled by Valor, then F(matrix) in place.
template <class T, auto F, double (*Valor)(Azar&, int)>
void matriz(Azar& a, Digesto& d, uint32_t) {
  T m[9];
  for (int k = 0; k < 9; ++k) m[k] = T(Valor(a, k));
  llama(d, F, m);
  d.anota(m, 9);
}
double simetrica(Azar& a, int k) { return a.real(1) + (k % 4 == 0) * 2; }
double casi_rotacion(Azar& a, int k) {  // a scaled rotation about (1, 0, 0) by 0.6, perturbed
  static const double r[9] = {1, 0, 0, 0, 0.8, -0.6, 0, 0.6, 0.8};
  return r[k] * 3 + a.real(0.05);
}

// n = c angle triplets within [−π, π), with weights in [1, 4).
void medias(Azar& a, Digesto& d, uint32_t n) {
  std::vector<double> angulos(3 * n);
  std::vector<float> pesos(3 * n);
  for (uint32_t k = 0; k < 3 * n; ++k) angulos[k] = a.real(kPi), pesos[k] = a.real<float>(1.5) + 2.5f;
  d.registro<double>(Gmedio(angulos.data(), n)), d.registro<double>(Gmedio_pesos(angulos.data(), n, pesos.data()));
}

// c pairs in moderate coordinates (far from where P² + V² overflows or underflows): a similarity
// plus noise in the six layouts, or a polynomial map for the polynomial estimation.
template <class T>
struct Pares {
  std::vector<T> s, t, st;  // sources, targets, and both interleaved
  std::vector<const T*> P;
  Pares(Azar& a, uint32_t n, bool polinomio) : s(2 * n), t(2 * n) {
    const double c = a.real(2), si = a.real(2);
    for (uint32_t i = 0; i < n; ++i) {
      const T x = s[2 * i] = a.real<T>(500), y = s[2 * i + 1] = a.real<T>(500);
      t[2 * i] = T(polinomio ? 1.5 * x - 0.2 * y + 1e-4 * x * y : c * x - si * y + 3000) + a.real<T>(1);
      t[2 * i + 1] = T(polinomio ? 0.3 * x + 1.1 * y - 1e-7 * x * x * y : si * x + c * y - 700) + a.real<T>(1);
      st.insert(st.end(), {x, y, t[2 * i], t[2 * i + 1]});
    }
    for (uint32_t i = 0; i < n; ++i) P.insert(P.end(), {&s[2 * i], &t[2 * i]});
  }
};
// The six layouts one after the other, then the plain form of the first.
template <class T>
void hel2d(Azar& a, Digesto& d, uint32_t n) {
  n %= 48;
  Pares<T> q(a, n, false);
  const int64_t e = 2 * sizeof(T);
  const Hel2Dg<T> h[6] = {ptr(q.P.data(), n),
                          p(q.st.data(), n),
                          pp(q.s.data(), q.t.data(), n),
                          g(q.st.data(), e, n),
                          gg(q.s.data(), q.t.data(), e, n),
                          mixed(q.st.data(), 2 * e, q.t.data(), e, n)};
  for (const Hel2Dg<T>& r : h) d.registro<T>(r);
  d.registro<T>(plano(&h[0]));
}
template <class T>
void polinomica(Azar& a, Digesto& d, uint32_t n) {
  Pares<T> q(a, n % 40, true);
  Polinomica<T> t = {};
  t.tipo = n % 10;
  estima(&t, q.P.data(), n % 40);
  T r[2] = {a.real<T>(500), a.real<T>(500)};  // and one point through the fit
  punto(&t, r);
  d.anota(&t.tipo), d.anota(&t.xc_origen, 22), d.anota(r, 2);
}

// Similarities by a type-26 rotation with noise, n = c % 40, both starts.
template <class T, int32_t General>
void hel3d_(Azar& a, Digesto& d, uint32_t n) {
  n %= 40;
  double r[9], v[3] = {a.real(3), a.real(3), a.real(3)};
  MatrizRot_26(v, r);
  std::vector<T> puntos(6 * n);
  std::vector<T*> P;
  for (uint32_t i = 0; i < n; ++i) {
    T* o = &puntos[6 * i];
    for (int k = 0; k < 3; ++k) o[k] = a.real<T>(200);
    for (int k = 0; k < 3; ++k)
      o[3 + k] = T(1.25 * (r[3 * k] * o[0] + r[3 * k + 1] * o[1] + r[3 * k + 2] * o[2]) + 40 * k + a.real(0.01));
    P.insert(P.end(), {o, o + 3});
  }
  Hel3Dg<T> h;
  float kinv[9];
  const int32_t estado = hel3d(P.data(), n, &h, General, 0, kinv);
  d.anota(&estado), d.registro<T>(h), d.anota(kinv, 9);
}

TEST(DigestoTest, ResultsKeepTheirBits) {
  const struct {
    const char* funcion;
    Caso caso;
    uint64_t esperado;
  } casos[] = {
      {"MatrizRotGT_ωφκ", euler<0>, 0x8a12f0f7bc095a7full},
      {"MatrizRotGT_κωφ", euler<1>, 0xdfb25645eb0f1740ull},
      {"MatrizRotGT_κwκ", euler<2>, 0x3033f91f68fdfe54ull},
      // Type 24 up to |p| = 2.2 (NaN past 2); type 26 up to 17.
      {"MatrizRot_24", vector_<double, double, MatrizRot_24, 127>, 0xafa21a8f93235de6ull},
      {"MatrizRot_26", vector_<double, double, MatrizRot_26, 1000>, 0xc27a51fa90e7656bull},
      {"MatrizDeltafl_dbl", vector_<float, double, MatrizDeltafl_dbl, 300>, 0x8e1554c6831ed071ull},
      {"MatrizDeltafl_fl", vector_<float, float, MatrizDeltafl_fl, 300>, 0x9da148b092152038ull},
      {"Gmatriz_24_seg", recupera<0>, 0x70c1f7d9d39d17faull},
      {"Getoffset_matriz with Gmatriz_24_seg", recupera<1>, 0x644696a32f8cc4e2ull},
      {"Getoffset_matriz with none", recupera<2>, 0xee1e80c4b9b759eeull},
      {"Orvinvsim3_dbl", matriz<double, Orvinvsim3_dbl, simetrica>, 0xc3861b673cc7ab14ull},
      {"Orvinvsim3_fl", matriz<float, Orvinvsim3_fl, simetrica>, 0xb829a0f6c77ecac3ull},
      {"convierte_en_R_dbl", matriz<double, convierte_en_R_dbl, casi_rotacion>, 0x242406b34965e0b2ull},
      {"convierte_en_R_fl", matriz<float, convierte_en_R_fl, casi_rotacion>, 0xa98c0b336a8bc12aull},
      {"Gmedio and Gmedio_pesos", medias, 0x48548fda8a8a5193ull},
      {"Hel2Dg___*_dbl in its six layouts, and Hel2D___Hel2Dg_dbl", hel2d<double>, 0x5d427fee90289e20ull},
      {"Hel2Dg___*_fl in its six layouts, and Hel2D___Hel2Dg_fl", hel2d<float>, 0x865dfe99ad9cfdd2ull},
      {"Trans_Polinomica2D___puntosxy_dbl and transforma_punto2D_dbl", polinomica<double>, 0x23cd0ed95baac4ddull},
      {"Trans_Polinomica2D___puntosxy_fl and transforma_punto2D_fl", polinomica<float>, 0xefa9238968636649ull},
      {"Hel3Dg___ptr_dbl, z start", hel3d_<double, 0>, 0xade1981ebfbdc22full},
      {"Hel3Dg___ptr_dbl, general start", hel3d_<double, 1>, 0x8f04c4502434358eull},
      {"Hel3Dg___ptr_fl, z start", hel3d_<float, 0>, 0x2a9c30f68f2c0f89ull},
      {"Hel3Dg___ptr_fl, general start", hel3d_<float, 1>, 0xe6b5eef1d102c8f7ull},
  };
  for (const auto& c : casos) {
    const uint64_t obtenido = digiere(c.caso);
    EXPECT_EQ(obtenido, c.esperado) << c.funcion << ": digest changed; to pin the new bits: 0x" << std::hex << obtenido
                                    << "ull";
  }
}

}  // namespace
