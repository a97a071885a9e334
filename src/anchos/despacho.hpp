// Which kernels the estimators run: the portable ones, or wide ones for processors with AVX2. The
// choice never changes a finite result (every wide kernel adds the same terms in the same order);
// it is made once per process from the processor's features and can be forced to the portable
// kernels through orienta_nucleos.
//
// Wide kernels are functions marked [[gnu::target("avx2")]] rather than files built with -mavx2:
// an inline function or template shared with portable code (an accessor, std::sqrt) would
// otherwise be emitted with AVX2 instructions in that file, and the linker may keep that copy for
// every caller, portable ones included. AVX2 alone enables no fused multiply-add.
#ifndef ORIENTA_ANCHOS_DESPACHO_HPP
#define ORIENTA_ANCHOS_DESPACHO_HPP

#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#  define ORIENTA_AVX2 1
#  define ORIENTA_CON_AVX2 __attribute__((target("avx2")))
#else
#  define ORIENTA_AVX2 0
#endif

namespace orienta::interno {

inline constexpr int32_t kNucleosPortables = 0;
inline constexpr int32_t kNucleosAvx2 = 1;

// True when this call should take the AVX2 kernels. One relaxed atomic load after the first call.
bool usa_avx2();

// The two kinds of kernels as types. Every pass with a wide kernel is overloaded on them, and an
// estimate reads usa_avx2() once, in con_nucleos, and hands the kind down to its passes: the
// choice is made in one place, and one call never runs some passes of each kind (orienta_nucleos
// may change the setting meanwhile).
struct NucleoPortable {};
struct NucleoAvx2 {};

// f(NucleoAvx2{}) or f(NucleoPortable{}), whichever this call takes; f is generic over the kind.
template <class F>
decltype(auto) con_nucleos(F&& f) {
#if ORIENTA_AVX2
  if (usa_avx2()) return f(NucleoAvx2{});
#endif
  return f(NucleoPortable{});
}

}  // namespace orienta::interno

#endif
