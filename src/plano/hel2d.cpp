#include "orienta.h"  // first, so a drifting signature is a compile error, not a mangled overload

#include "plano/hel2d.hpp"

using namespace orienta::interno;

extern "C" Hel2Dg_dbl Hel2Dg___ptr_dbl(const double* const* P, uint32_t n) {
  return estima_hel2dg<double>(CapaPtr<double>{P}, n);
}
extern "C" Hel2Dg_fl Hel2Dg___ptr_fl(const float* const* P, uint32_t n) {
  return estima_hel2dg<float>(CapaPtr<float>{P}, n);
}
extern "C" Hel2Dg_dbl Hel2Dg___p_dbl(const double* A, uint32_t n) { return estima_hel2dg<double>(CapaP<double>{A}, n); }
extern "C" Hel2Dg_fl Hel2Dg___p_fl(const float* A, uint32_t n) { return estima_hel2dg<float>(CapaP<float>{A}, n); }
extern "C" Hel2Dg_dbl Hel2Dg___pp_dbl(const double* S, const double* T, uint32_t n) {
  return estima_hel2dg<double>(CapaPP<double>{S, T}, n);
}
extern "C" Hel2Dg_fl Hel2Dg___pp_fl(const float* S, const float* T, uint32_t n) {
  return estima_hel2dg<float>(CapaPP<float>{S, T}, n);
}
extern "C" Hel2Dg_dbl Hel2Dg___g_dbl(const double* B, int64_t s, uint32_t n) {
  return estima_hel2dg<double>(CapaG<double>{bytes(B), s}, n);
}
extern "C" Hel2Dg_fl Hel2Dg___g_fl(const float* B, int64_t s, uint32_t n) {
  return estima_hel2dg<float>(CapaG<float>{bytes(B), s}, n);
}
extern "C" Hel2Dg_dbl Hel2Dg___gg_dbl(const double* S, const double* T, int64_t s, uint32_t n) {
  return estima_hel2dg<double>(CapaMixed<double>{bytes(S), bytes(T), s, s}, n);
}
extern "C" Hel2Dg_fl Hel2Dg___gg_fl(const float* S, const float* T, int64_t s, uint32_t n) {
  return estima_hel2dg<float>(CapaMixed<float>{bytes(S), bytes(T), s, s}, n);
}
extern "C" Hel2Dg_dbl Hel2Dg___mixed_dbl(const double* S, int64_t sS, const double* T, int64_t sT, uint32_t n) {
  return estima_hel2dg<double>(CapaMixed<double>{bytes(S), bytes(T), sS, sT}, n);
}
extern "C" Hel2Dg_fl Hel2Dg___mixed_fl(const float* S, int64_t sS, const float* T, int64_t sT, uint32_t n) {
  return estima_hel2dg<float>(CapaMixed<float>{bytes(S), bytes(T), sS, sT}, n);
}

extern "C" Hel2D_dbl Hel2D___Hel2Dg_dbl(const Hel2Dg_dbl* g) { return hel2d_de_hel2dg<double>(*g); }
extern "C" Hel2D_fl Hel2D___Hel2Dg_fl(const Hel2Dg_fl* g) { return hel2d_de_hel2dg<float>(*g); }
