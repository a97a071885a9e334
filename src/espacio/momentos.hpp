// The moments of the centred 3D pairs, one pair at a time: shared by the portable centring pass
// and the tail of the wide one, so both add the same terms in the same order.
#ifndef ORIENTA_ESPACIO_MOMENTOS_HPP
#define ORIENTA_ESPACIO_MOMENTOS_HPP

namespace orienta::interno {

// One running sum per moment, each a scalar of its own (the struct lives in registers once the
// pass is inlined, and no store of a centred point can be taken to alias a sum).
template <class T>
struct SumasMomentos {
  T sa, sb, m0, m1, m2, m3, m4, m5, m6, m7, m8, n0, n1, n2, n4, n5, n8;
};

// Adds the terms of the centred pair (a, b): the squared lengths grouped (x² + y²) + z², then
// Σ b·aᵀ and, for the general start only, the rest of Σ b·aᵀ and the upper triangle of Σ a·aᵀ.
template <class T, bool kGeneral>
inline void suma_momentos(SumasMomentos<T>& s, const T a[3], const T b[3]) {
  s.sa = s.sa + ((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2]);
  s.sb = s.sb + ((b[0] * b[0] + b[1] * b[1]) + b[2] * b[2]);
  s.m0 = s.m0 + b[0] * a[0];
  s.m1 = s.m1 + b[0] * a[1];
  s.m3 = s.m3 + b[1] * a[0];
  s.m4 = s.m4 + b[1] * a[1];
  if constexpr (kGeneral) {
    s.m2 = s.m2 + b[0] * a[2];
    s.m5 = s.m5 + b[1] * a[2];
    s.m6 = s.m6 + b[2] * a[0];
    s.m7 = s.m7 + b[2] * a[1];
    s.m8 = s.m8 + b[2] * a[2];
    s.n0 = s.n0 + a[0] * a[0];
    s.n1 = s.n1 + a[0] * a[1];
    s.n2 = s.n2 + a[0] * a[2];
    s.n4 = s.n4 + a[1] * a[1];
    s.n5 = s.n5 + a[1] * a[2];
    s.n8 = s.n8 + a[2] * a[2];
  }
}

}  // namespace orienta::interno

#endif
