#include "orienta.h"

#include "rotacion/vectores.hpp"

using namespace orienta::interno;

extern "C" void MatrizRot_20(double p[3], Matriz3x3 M) { matriz_rodrigues<Tipo20>(p, M); }
extern "C" void MatrizRot_24(double p[3], Matriz3x3 M) { matriz_rodrigues<Tipo24>(p, M); }
extern "C" void MatrizRot_26(double p[3], Matriz3x3 M) { matriz_rodrigues<Tipo26>(p, M); }
extern "C" void MatrizRot_28(const double p[3], Matriz3x3 M) { matriz_tipo28(p, M); }
extern "C" float MatrizDeltafl_dbl(float p[3], Matriz3x3 M) { return matriz_rodrigues<Tipo26, float, double>(p, M); }
extern "C" float MatrizDeltafl_fl(float p[3], Matriz3x3_fl M) { return matriz_rodrigues<Tipo26, float, float>(p, M); }
