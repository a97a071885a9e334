// Where the 2D estimators find pair i: the memory layouts of the plane, besides the pointer layout
// (CapaPtr, shared with the space estimator). Layouts differ only in where pair i lives; that is
// all an accessor knows. Indices are widened before they are multiplied: 2·i and 4·i overflow 32
// bits past 2^31 and 2^30 pairs.
#ifndef ORIENTA_PLANO_CAPAS_HPP
#define ORIENTA_PLANO_CAPAS_HPP

#include <cstddef>
#include <cstdint>

namespace orienta::interno {

template <class T>
struct CapaP {  // n packed records of four scalars: source x, source y, target x, target y
  const T* a;
  const T* origen(uint32_t i) const { return a + 4 * size_t(i); }
  const T* destino(uint32_t i) const { return a + 4 * size_t(i) + 2; }
};

template <class T>
struct CapaPP {  // two packed point arrays
  const T *s, *t;
  const T* origen(uint32_t i) const { return s + 2 * size_t(i); }
  const T* destino(uint32_t i) const { return t + 2 * size_t(i); }
};

// Strides count bytes and are signed: a negative stride walks an array backwards from the pointer
// given. Only the two scalars at the start of an entry are read.
template <class T>
struct CapaG {  // one strided array, source and target entries alternating
  const unsigned char* b;
  int64_t d;
  const T* origen(uint32_t i) const { return reinterpret_cast<const T*>(b + 2 * int64_t(i) * d); }
  const T* destino(uint32_t i) const { return reinterpret_cast<const T*>(b + (2 * int64_t(i) + 1) * d); }
};

template <class T>
struct CapaMixed {  // two strided arrays with their own strides (gg passes the same stride twice)
  const unsigned char *s, *t;
  int64_t ds, dt;
  const T* origen(uint32_t i) const { return reinterpret_cast<const T*>(s + int64_t(i) * ds); }
  const T* destino(uint32_t i) const { return reinterpret_cast<const T*>(t + int64_t(i) * dt); }
};

template <class T>
const unsigned char* bytes(const T* p) {
  return reinterpret_cast<const unsigned char*>(p);
}

}  // namespace orienta::interno

#endif
