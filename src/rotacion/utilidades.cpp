#include "orienta.h"

#include "rotacion/utilidades.hpp"

using namespace orienta::interno;

extern "C" void Orvinvsim3_dbl(Matriz3x3 M) { inversa_simetrica<double>(M); }
extern "C" void Orvinvsim3_fl(Matriz3x3_fl M) { inversa_simetrica<float>(M); }
extern "C" int32_t convierte_en_R_dbl(Matriz3x3 M) { return convierte_en_rotacion<double>(M); }
extern "C" int32_t convierte_en_R_fl(Matriz3x3_fl M) { return convierte_en_rotacion<float>(M); }
