// The double and float twins differ in their record types and in the solver they hand their
// normal equations to; templates written once over the scalar T find both here, and nowhere else.
#ifndef ORIENTA_GEMELOS_HPP
#define ORIENTA_GEMELOS_HPP

#include <cstdint>

#include "diradodavid.h"
#include "orienta.h"

namespace orienta::interno {

// What one twin is made of: its scalar, its records and its solver.
template <class T, class RegistroG, class RegistroPlano, int32_t (*Resuelve)(T*, T*, T*, int32_t)>
struct Piezas {
  using Hel2Dg = RegistroG;
  using Hel2D = RegistroPlano;
  static int32_t resuelve_normales(T* N, T* rx, T* ry, int32_t u) { return Resuelve(N, rx, ry, u); }
};

template <class T>
struct Gemelo;
template <>
struct Gemelo<double> : Piezas<double, Hel2Dg_dbl, Hel2D_dbl, resuelve_sistema_sim_t_2_dbl> {};
template <>
struct Gemelo<float> : Piezas<float, Hel2Dg_fl, Hel2D_fl, resuelve_sistema_sim_t_2_fl> {};

template <class T>
using RegistroHel2Dg = typename Gemelo<T>::Hel2Dg;
template <class T>
using RegistroHel2D = typename Gemelo<T>::Hel2D;

}  // namespace orienta::interno

#endif
