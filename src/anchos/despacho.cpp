#include "orienta.h"  // first, so a drifting signature is a compile error, not a mangled overload

#include <atomic>

#include "anchos/despacho.hpp"

namespace orienta::interno {
namespace {

// What the caller allows: kNucleosAvx2 by default. Constant-initialised, so it is valid before
// any constructor runs.
std::atomic<int32_t> permitidos{kNucleosAvx2};

bool cpu_con_avx2() {
#if ORIENTA_AVX2
  // The check covers the operating system's saving of the 256-bit registers too.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

}  // namespace

bool usa_avx2() {
  static const bool cpu = cpu_con_avx2();  // once per process
  return cpu && permitidos.load(std::memory_order_relaxed) == kNucleosAvx2;
}

}  // namespace orienta::interno

using namespace orienta::interno;

extern "C" int32_t orienta_nucleos(int32_t pedido) {
  if (pedido == kNucleosPortables || pedido == kNucleosAvx2) permitidos.store(pedido, std::memory_order_relaxed);
  return usa_avx2() ? kNucleosAvx2 : kNucleosPortables;
}
