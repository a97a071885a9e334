#include "orienta.h"

#include "rotacion/recuperacion.hpp"

using namespace orienta::interno;

extern "C" Terna Gmatriz_ωφκ_seg(const Matriz3x3 M) { return angulos_omega_phi_kappa(M); }
extern "C" Terna Gmatriz_24_seg(const Matriz3x3 M) { return vector_tipo24(M); }
// The library's own ω-φ-κ recovery is recognised by its address, the one a host obtains too.
extern "C" Terna Getoffset_matriz(const Matriz3x3 M, FuncGmatriz recuperar, uint32_t* codigo) {
  return quita_vueltas(M, recuperar, &Gmatriz_ωφκ_seg, codigo);
}
