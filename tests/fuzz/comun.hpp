// What every fuzz target shares: a reader that turns the fuzzer's bytes into arguments, guarded
// buffers sized exactly to what a function may touch, and the check that stops the run. The twin
// names (GEMELOS, Segun) come from the header the unit tests use.
#ifndef ORIENTA_FUZZ_COMUN_HPP
#define ORIENTA_FUZZ_COMUN_HPP

#include <sanitizer/asan_interface.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "gemelos.hpp"
#include "orienta.h"

namespace orienta::fuzz {

// An invariant that failed is a finding: print it and abort, which libFuzzer records as a crash
// and saves the input that caused it.
#define EXIGE(condicion)                                                               \
  do {                                                                                 \
    if (!(condicion)) {                                                                \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condicion); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

template <class T>
bool mismos_bits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// memcpy and memcmp for buffers that may be empty (an empty vector's data() may be null, which
// the C functions do not accept even for zero bytes).
inline void copia(void* destino, const void* origen, size_t bytes) {
  if (bytes > 0) std::memcpy(destino, origen, bytes);
}
inline bool mismos_bytes(const void* a, const void* b, size_t bytes) {
  return bytes == 0 || std::memcmp(a, b, bytes) == 0;
}

// The same bits, or both NaN: for values computed twice along routes that may pick different NaN
// payloads (x86 keeps the first operand's).
template <class T>
bool mismo_valor(T a, T b) {
  return mismos_bits(a, b) || (std::isnan(a) && std::isnan(b));
}

template <class T>
bool todos_finitos(const T* v, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// Reads arguments off the input. Past its end every read yields zero, so any prefix of an input
// is itself a valid input.
class Lector {
 public:
  Lector(const uint8_t* datos, size_t tamano) : p_(datos), fin_(datos + tamano) {}

  uint8_t byte() { return p_ < fin_ ? *p_++ : 0; }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(byte()) << (8 * i);
    return v;
  }
  uint64_t u64() { return uint64_t(u32()) | (uint64_t(u32()) << 32); }
  // A count in [0, tope].
  uint32_t cuenta(uint32_t tope) { return byte() % (tope + 1); }

  // A scalar drawn from the shapes that break numerical code: raw bit patterns (any NaN payload,
  // subnormals, the extremes), exact small values, signed zeros, infinities and values a few
  // ulps off 1 and π, plus plain moderate values for ordinary geometry.
  template <class T>
  T escalar() {
    const uint8_t forma = byte();
    switch (forma % 8) {
      case 0:
      case 1: {  // any bit pattern of the type
        if constexpr (sizeof(T) == 8) {
          const uint64_t b = u64();
          T v;
          std::memcpy(&v, &b, sizeof v);
          return v;
        } else {
          const uint32_t b = u32();
          T v;
          std::memcpy(&v, &b, sizeof v);
          return v;
        }
      }
      case 2: {  // specials
        static constexpr int kN = 14;
        const T especiales[kN] = {T(0),
                                  -T(0),
                                  T(1),
                                  -T(1),
                                  std::numeric_limits<T>::infinity(),
                                  -std::numeric_limits<T>::infinity(),
                                  std::numeric_limits<T>::quiet_NaN(),
                                  std::numeric_limits<T>::denorm_min(),
                                  -std::numeric_limits<T>::denorm_min(),
                                  std::numeric_limits<T>::min(),
                                  std::numeric_limits<T>::max(),
                                  -std::numeric_limits<T>::max(),
                                  std::numeric_limits<T>::epsilon(),
                                  T(3.141592653589793)};
        return especiales[byte() % kN];
      }
      case 3: {  // a few ulps around ±1, ±π/2, ±π
        static constexpr double kBases[6] = {1.0, -1.0, 1.5707963267948966, -1.5707963267948966,
                                             3.141592653589793, -3.141592653589793};
        T v = T(kBases[byte() % 6]);
        const int pasos = int(int8_t(byte())) % 8;
        for (int i = 0; i < pasos; ++i) v = std::nextafter(v, std::numeric_limits<T>::infinity());
        for (int i = 0; i > pasos; --i) v = std::nextafter(v, -std::numeric_limits<T>::infinity());
        return v;
      }
      case 4: {  // small integers and halves: exact geometry, coincidences, collinear points
        return T(int8_t(byte())) * T(0.5);
      }
      case 5: {  // a 16-bit mantissa at a binary exponent from 2^-64 to 2^63
        const int16_t m = int16_t(byte() | (uint16_t(byte()) << 8));
        const int e = int(byte() % 128) - 64;
        return std::ldexp(T(m), e);
      }
      default: {  // moderate values: ordinary data for surveying work
        const int32_t m = int32_t(u32());
        return T(m) * T(1.0 / 65536.0);
      }
    }
  }

  bool vacio() const { return p_ >= fin_; }

 private:
  const uint8_t* p_;
  const uint8_t* fin_;
};

// A buffer of exactly the bytes a function may touch, with guard bytes on both sides. Under
// AddressSanitizer the guards are poisoned, so any read or write of them stops the run where it
// happens; without it the guards still carry a pattern that is checked when the buffer goes away.
// Ranges inside the buffer that a function must not touch (the gaps of a strided array) can be
// poisoned too.
class Zona {
 public:
  static constexpr size_t kGuarda = 64;

  explicit Zona(size_t bytes) : bytes_(bytes) {
    base_ = static_cast<unsigned char*>(std::malloc(bytes + 2 * kGuarda));
    EXIGE(base_ != nullptr);
    for (size_t i = 0; i < kGuarda; ++i) {
      base_[i] = patron(i);
      base_[kGuarda + bytes + i] = patron(i + 101);
    }
    std::memset(base_ + kGuarda, 0, bytes);
    ASAN_POISON_MEMORY_REGION(base_, kGuarda);
    ASAN_POISON_MEMORY_REGION(base_ + kGuarda + bytes, kGuarda);
  }
  Zona(const Zona&) = delete;
  Zona& operator=(const Zona&) = delete;
  ~Zona() {
    ASAN_UNPOISON_MEMORY_REGION(base_, bytes_ + 2 * kGuarda);
    for (size_t i = 0; i < kGuarda; ++i) {
      EXIGE(base_[i] == patron(i));
      EXIGE(base_[kGuarda + bytes_ + i] == patron(i + 101));
    }
    std::free(base_);
  }

  unsigned char* bytes() { return base_ + kGuarda; }
  size_t tamano() const { return bytes_; }
  template <class T>
  T* como() {
    return reinterpret_cast<T*>(bytes());
  }

  // Marks [desde, desde + cuantos) as off limits. AddressSanitizer tracks 8-byte granules, so a
  // range that does not start on one may be narrowed; it is never widened.
  void prohibe(size_t desde, size_t cuantos) { ASAN_POISON_MEMORY_REGION(bytes() + desde, cuantos); }
  void permite_todo() { ASAN_UNPOISON_MEMORY_REGION(bytes(), bytes_); }

 private:
  static unsigned char patron(size_t i) { return static_cast<unsigned char>(0xA5u ^ (i * 37u)); }
  unsigned char* base_;
  size_t bytes_;
};

// Fills a buffer with one of two distinct byte patterns. A function that writes all of its output
// gives the same bytes after either fill; an element it forgot keeps the fill and gives away the
// omission.
inline void rellena(void* p, size_t bytes, int cual) {
  std::memset(p, cual == 0 ? 0x7F : 0xC3, bytes);
}

}  // namespace orienta::fuzz

#endif
