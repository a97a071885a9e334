// What every fuzz target shares: a reader that turns the input bytes into arguments, the runner
// that calls a function twice over differently filled outputs, the builder of pointer-pair arrays,
// and the check that stops the run. The same targets build against libFuzzer and into the replay
// program (repeticion.cpp). Every buffer a function reads or writes is a heap block of exactly its
// size, so that AddressSanitizer's redzones catch a step past it.
#ifndef ORIENTA_FUZZ_COMUN_HPP
#define ORIENTA_FUZZ_COMUN_HPP

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "gemelos.hpp"

namespace orienta::fuzz {

// The input being replayed, named in a failure report (libFuzzer saves the input itself).
inline thread_local const char* entrada_actual = nullptr;

// A broken invariant is a finding: say which and abort, which libFuzzer records as a crash.
#define EXIGE(condicion)                                                                        \
  do {                                                                                          \
    if (!(condicion)) {                                                                         \
      std::fprintf(stderr, "%s:%d: invariant broken: %s%s%s\n", __FILE__, __LINE__, #condicion, \
                   ::orienta::fuzz::entrada_actual ? " on " : "",                               \
                   ::orienta::fuzz::entrada_actual ? ::orienta::fuzz::entrada_actual : "");     \
      std::abort();                                                                             \
    }                                                                                           \
  } while (0)

template <class T>
bool mismos_bits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}
template <class T>
bool mismos_bits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}
template <class A, class B>
bool mismos_bits(const std::pair<A, B>& a, const std::pair<A, B>& b) {
  return mismos_bits(a.first, b.first) && mismos_bits(a.second, b.second);
}

// Field by field, the same bits or both NaN: for one value computed along two routes, which may
// leave NaN with different signs and payloads (the operand order of an addition decides it).
template <class T, class Registro>
bool mismo_valor(const Registro& a, const Registro& b) {
  static_assert(sizeof(Registro) % sizeof(T) == 0, "a record of scalars");
  for (size_t k = 0; k < sizeof(Registro) / sizeof(T); ++k) {
    T x, y;
    std::memcpy(&x, reinterpret_cast<const char*>(&a) + k * sizeof(T), sizeof(T));
    std::memcpy(&y, reinterpret_cast<const char*>(&b) + k * sizeof(T), sizeof(T));
    if (!mismos_bits(x, y) && !(std::isnan(x) && std::isnan(y))) return false;
  }
  return true;
}

template <class T>
bool todos_finitos(const T* v, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// R·Rᵀ = I and det R = +1, entry by entry within tol.
template <class T>
bool es_rotacion(const T* r, double tol) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double p =
          double(r[3 * i]) * r[3 * j] + double(r[3 * i + 1]) * r[3 * j + 1] + double(r[3 * i + 2]) * r[3 * j + 2];
      if (!(std::fabs(p - (i == j)) <= tol)) return false;
    }
  const double det = r[0] * (double(r[4]) * r[8] - double(r[5]) * r[7]) -
                     r[1] * (double(r[3]) * r[8] - double(r[5]) * r[6]) +
                     r[2] * (double(r[3]) * r[7] - double(r[4]) * r[6]);
  return std::fabs(det - 1) <= tol;
}

// The rotation in the plane of n pairs is (P, V)/√(P² + V²), P = Σ(xs·xt + ys·yt) and
// V = Σ(xs·yt − ys·xt) over centred coordinates: the 2D similarity's rotation, and the 3D
// estimator's start about z. Given par(i) = {xs, ys, xt, yt} centred on the library's centroids,
// returns an interval that holds |(P, V)| as the library sums it in T: the sums here are in long
// double, and the library's lie within a few roundings per term of them. Where P² + V² falls
// below T's normal range the squares keep only a few bits; above it they overflow.
template <class T, class Par>
std::pair<long double, long double> intervalo_pv(uint32_t n, Par par) {
  long double P = 0, V = 0, absoluta = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const auto [xs, ys, xt, yt] = par(i);
    P += xs * xt + ys * yt;
    V += xs * yt - ys * xt;
    absoluta += std::fabs(xs * xt) + std::fabs(ys * yt) + std::fabs(xs * yt) + std::fabs(ys * xt);
  }
  const long double cota = 8 * (n + 2.0L) * std::numeric_limits<T>::epsilon() * absoluta;
  return {std::hypot(P, V) - cota, std::hypot(P, V) + cota};
}
template <class T>
bool cuadrados_normales(std::pair<long double, long double> pv) {
  return pv.first > 4 * std::sqrt((long double)std::numeric_limits<T>::min()) &&
         pv.second < std::sqrt((long double)std::numeric_limits<T>::max()) / 4;
}

// Reads arguments off the input; past its end every read yields zero, so any prefix of an input
// is itself a valid input. Two reads never share one expression but in a braced list: the order
// in which a call's arguments, or an operator's operands, are evaluated differs between compilers,
// and the replay must read an input as the fuzzer did.
class Lector {
 public:
  Lector(const uint8_t* datos, size_t tamano) : p_(datos), fin_(datos + tamano) {}

  uint8_t byte() { return p_ < fin_ ? *p_++ : 0; }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(byte()) << (8 * i);
    return v;
  }
  // A count in [0, tope] from one byte; the byte 255 asks instead for one of up to tope + 1024,
  // past the widths at which optimised loops change shape.
  uint32_t cuenta(uint32_t tope) {
    const uint8_t b = byte();
    return b == 255 ? tope + 1 + u32() % 1024 : b % (tope + 1);
  }

  // A scalar drawn from the shapes that break numerical code: raw bit patterns (any NaN payload,
  // subnormals, the extremes), zeros, infinities and NaN, values a few ulps off ±1, ±π/2 and ±π, small halves
  // (exact geometry, coincidences), 16-bit mantissas at any exponent from 2^-64 to 2^63, and
  // moderate values for ordinary surveying data.
  template <class T>
  T escalar() {
    using L = std::numeric_limits<T>;
    switch (byte() % 8) {
      case 0:
      case 1: {
        T v;
        if constexpr (sizeof(T) == 8) {
          const uint64_t bajo = u32(), b = bajo | uint64_t(u32()) << 32;
          std::memcpy(&v, &b, sizeof v);
        } else {
          const uint32_t b = u32();
          std::memcpy(&v, &b, sizeof v);
        }
        return v;
      }
      case 2: {
        const T singulares[14] = {T(0),
                                  -T(0),
                                  T(1),
                                  -T(1),
                                  L::infinity(),
                                  -L::infinity(),
                                  L::quiet_NaN(),
                                  L::denorm_min(),
                                  -L::denorm_min(),
                                  L::min(),
                                  L::max(),
                                  -L::max(),
                                  L::epsilon(),
                                  T(3.141592653589793)};
        return singulares[byte() % 14];
      }
      case 3: {
        static constexpr double kBases[6] = {
            1.0, -1.0, 1.5707963267948966, -1.5707963267948966, 3.141592653589793, -3.141592653589793};
        T v = T(kBases[byte() % 6]);
        const int pasos = int(int8_t(byte())) % 8;
        for (int i = 0; i < pasos; ++i) v = std::nextafter(v, L::infinity());
        for (int i = 0; i > pasos; --i) v = std::nextafter(v, -L::infinity());
        return v;
      }
      case 4: return T(int8_t(byte())) * T(0.5);
      case 5: {
        const uint8_t bajo = byte();
        const int16_t m = int16_t(bajo | (uint16_t(byte()) << 8));
        return std::ldexp(T(m), int(byte() % 128) - 64);
      }
      default: return T(int32_t(u32())) * T(1.0 / 65536.0);
    }
  }

 private:
  const uint8_t* p_;
  const uint8_t* fin_;
};

// A coordinate or σ of a fuzzed pair: small integers (halves) that make exact and degenerate
// sets likely, or any double the bytes spell.
inline double coordenada(Lector& l, bool entero) {
  if (entero) return double(int8_t(l.byte())) * 0.5;
  return l.escalar<double>();
}

// A status the library documents: success, or one orienta_estado_texto knows.
inline bool estado_conocido(int32_t st) {
  return st == ORIENTA_OK || std::strcmp(orienta_estado_texto(st), "unknown status") != 0;
}

// Calls llamada(entrada, salida) twice, each time on a fresh copy of the input and over an
// output filled with a different byte pattern. A function that writes all of its output, and
// reads nothing but its input, leaves the same bytes in both runs; an element it forgot keeps
// its fill and gives the omission away. Returns the first run's input and output afterwards.
// Input and output are separate heap blocks of exactly their size.
template <class Salida, class Entrada, class Llamada>
std::pair<Entrada, Salida> dos_rellenos(const Entrada& entrada, Llamada llamada) {
  std::unique_ptr<Entrada> e[2];
  std::unique_ptr<Salida> s[2];
  for (int vez = 0; vez < 2; ++vez) {
    e[vez] = std::make_unique<Entrada>(entrada);
    s[vez] = std::make_unique<Salida>();
    std::memset(static_cast<void*>(s[vez].get()), vez == 0 ? 0x7F : 0xC3, sizeof(Salida));
    llamada(*e[vez], *s[vez]);
  }
  EXIGE(mismos_bits(*e[0], *e[1]));
  EXIGE(mismos_bits(*s[0], *s[1]));
  return {*e[0], *s[0]};
}

// Points of `dim` scalars, each in a heap block of its own, so that reading past a point's last
// scalar is caught; and the pointer-pair array over any points: pares[j] → donde(j), j < 2n.
template <class T>
class Puntos {
 public:
  Puntos(const std::vector<T>& valores, int dim) : dim_(dim) {
    for (size_t k = 0; k < valores.size() / dim; ++k) {
      bloques_.emplace_back(new T[dim]);
      std::memcpy(bloques_.back().get(), &valores[k * dim], dim * sizeof(T));
    }
  }
  T* operator[](size_t k) const { return bloques_[k].get(); }
  std::vector<T> valores() const {
    std::vector<T> v;
    for (const auto& b : bloques_) v.insert(v.end(), b.get(), b.get() + dim_);
    return v;
  }

 private:
  int dim_;
  std::vector<std::unique_ptr<T[]>> bloques_;
};

template <class T, class Donde>
std::unique_ptr<T* []> pares(uint32_t n, Donde donde) {
  std::unique_ptr<T*[]> p(new T*[2 * size_t(n)]);
  for (uint32_t j = 0; j < 2 * n; ++j) p[j] = donde(j);
  return p;
}

}  // namespace orienta::fuzz

#endif
