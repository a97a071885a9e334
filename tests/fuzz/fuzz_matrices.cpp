// Rotation matrices from Euler angles (sines and cosines, or the angles) and from rotation vectors
// of types 20, 24, 26, 28, including the float type-26 builders.
//
// For every input: the input array ends exactly as documented (unchanged, reordered, or
// overwritten), all nine output elements are written, and nothing outside the two arrays is
// touched. Each function runs twice on the same input over differently filled outputs: an element
// left unwritten, or a result that depends on anything but the input, shows up as a difference.
#include "comun.hpp"

using namespace orienta::fuzz;

namespace {

// Runs llamada(entrada, salida) twice on copies of the same input, over outputs filled with two
// different patterns, and requires identical bytes in both the outputs and the inputs afterwards.
// Leaves the result of the first run in entrada_final / salida_final.
template <class Llamada>
void dos_veces(const void* entrada, size_t bytes_entrada, size_t bytes_salida, Llamada llamada,
               std::vector<unsigned char>& entrada_final, std::vector<unsigned char>& salida_final) {
  std::vector<unsigned char> e[2], s[2];
  for (int vez = 0; vez < 2; ++vez) {
    Zona zona_entrada(bytes_entrada), zona_salida(bytes_salida);
    std::memcpy(zona_entrada.bytes(), entrada, bytes_entrada);
    rellena(zona_salida.bytes(), bytes_salida, vez);
    llamada(zona_entrada.bytes(), zona_salida.bytes());
    e[vez].assign(zona_entrada.bytes(), zona_entrada.bytes() + bytes_entrada);
    s[vez].assign(zona_salida.bytes(), zona_salida.bytes() + bytes_salida);
  }
  EXIGE(e[0] == e[1]);
  EXIGE(s[0] == s[1]);
  entrada_final = e[0];
  salida_final = s[0];
}

void euler(Lector& lector) {
  SenosCosenos sc;
  for (double& v : sc.v) v = lector.escalar<double>();
  std::vector<unsigned char> entrada, salida;

  dos_veces(&sc, sizeof sc, sizeof(Matriz3x3),
            [](void* e, void* s) { MatrizRotGT_ωφκ(static_cast<const SenosCosenos*>(e), static_cast<double*>(s)); },
            entrada, salida);
  EXIGE(std::memcmp(entrada.data(), &sc, sizeof sc) == 0);
  dos_veces(&sc, sizeof sc, sizeof(Matriz3x3),
            [](void* e, void* s) { MatrizRotGT_κwκ(static_cast<const SenosCosenos*>(e), static_cast<double*>(s)); },
            entrada, salida);
  EXIGE(std::memcmp(entrada.data(), &sc, sizeof sc) == 0);
  // Element 8 is the cosine of w exactly as given, NaN payload and all.
  EXIGE(std::memcmp(salida.data() + 8 * sizeof(double), &sc.v[3], sizeof(double)) == 0);
  dos_veces(&sc, sizeof sc, sizeof(Matriz3x3),
            [](void* e, void* s) { MatrizRotGT_κωφ(static_cast<SenosCosenos*>(e), static_cast<double*>(s)); },
            entrada, salida);
  // Reordered pair by pair from (ω, φ, κ) to (κ, ω, φ).
  static constexpr int kDesdeSc[6] = {4, 5, 0, 1, 2, 3};
  for (int i = 0; i < 6; ++i)
    EXIGE(std::memcmp(entrada.data() + i * sizeof(double), &sc.v[kDesdeSc[i]], sizeof(double)) == 0);
  const double angulos[3] = {sc.v[0], sc.v[1], sc.v[2]};
  dos_veces(angulos, sizeof angulos, sizeof(Matriz3x3),
            [](void* e, void* s) { MatrizRot_κωφ(static_cast<double*>(e), static_cast<double*>(s)); },
            entrada, salida);
  // Reordered from (ω, φ, κ) to (κ, ω, φ).
  static constexpr int kDesdeAngulos[3] = {2, 0, 1};
  for (int i = 0; i < 3; ++i)
    EXIGE(std::memcmp(entrada.data() + i * sizeof(double), &angulos[kDesdeAngulos[i]], sizeof(double)) == 0);
}

void vectores(Lector& lector) {
  const double p[3] = {lector.escalar<double>(), lector.escalar<double>(), lector.escalar<double>()};
  std::vector<unsigned char> entrada, salida;

  // Types 20, 24 and 26 overwrite the vector; whatever they leave, the two runs agree on it.
  using Constructor = void (*)(double*, double*);
  const Constructor que_escriben[3] = {MatrizRot_20, MatrizRot_24, MatrizRot_26};
  for (Constructor f : que_escriben)
    dos_veces(p, sizeof p, sizeof(Matriz3x3), [f](void* e, void* s) { f(static_cast<double*>(e), static_cast<double*>(s)); },
              entrada, salida);
  dos_veces(p, sizeof p, sizeof(Matriz3x3),
            [](void* e, void* s) { MatrizRot_28(static_cast<const double*>(e), static_cast<double*>(s)); },
            entrada, salida);
  EXIGE(std::memcmp(entrada.data(), p, sizeof p) == 0);

  // The float type-26 pair: both return |p|² = (y² + x²) + z² in floats of the vector as passed
  // in, and both leave the same rewritten vector (its factor is single precision in both).
  const float pf[3] = {lector.escalar<float>(), lector.escalar<float>(), lector.escalar<float>()};
  const float q_esperado = (pf[1] * pf[1] + pf[0] * pf[0]) + pf[2] * pf[2];
  std::vector<unsigned char> vector_dbl, vector_fl;
  float q_dbl = 0, q_fl = 0;
  dos_veces(pf, sizeof pf, sizeof(Matriz3x3),
            [&q_dbl](void* e, void* s) { q_dbl = MatrizDeltafl_dbl(static_cast<float*>(e), static_cast<double*>(s)); },
            vector_dbl, salida);
  EXIGE(mismo_valor(q_dbl, q_esperado));
  dos_veces(pf, sizeof pf, sizeof(Matriz3x3_fl),
            [&q_fl](void* e, void* s) { q_fl = MatrizDeltafl_fl(static_cast<float*>(e), static_cast<float*>(s)); },
            vector_fl, salida);
  EXIGE(mismo_valor(q_fl, q_esperado));
  EXIGE(vector_dbl == vector_fl);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  euler(lector);
  vectores(lector);
  return 0;
}
