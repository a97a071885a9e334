// The 3×3 utilities (symmetric inverse, making a rotation) and the recovery of angles and vectors
// from a matrix, including Getoffset_matriz with this library's two recovery functions, with one of
// the caller's own and with none.
//
// For every input: only the documented elements are read or written; the symmetric inverse ignores
// the lower triangle it is given and returns a symmetric matrix; the recovery functions leave the
// matrix alone; Getoffset_matriz takes out exactly the turns its code reports, hands the recovery
// function exactly the turned matrix, and calls it once.
#include "comun.hpp"

using namespace orienta::fuzz;
using namespace prueba;

namespace {

template <class T>
void inversa(Lector& lector) {
  T m[9];
  for (T& v : m) v = lector.escalar<T>();
  T basura[3];
  for (T& v : basura) v = lector.escalar<T>();
  // Elements 3, 6 and 7 may hold anything: the result must not depend on them.
  T resultado[2][9];
  for (int vez = 0; vez < 2; ++vez) {
    Zona zona(sizeof m);
    T* z = zona.como<T>();
    std::memcpy(z, m, sizeof m);
    if (vez == 1) {
      z[3] = basura[0];
      z[6] = basura[1];
      z[7] = basura[2];
    }
    invierte(z);
    std::memcpy(resultado[vez], z, sizeof m);
  }
  EXIGE(std::memcmp(resultado[0], resultado[1], sizeof m) == 0);
  const T* r = resultado[0];
  EXIGE(mismos_bits(r[3], r[1]) && mismos_bits(r[6], r[2]) && mismos_bits(r[7], r[5]));
}

template <class T>
void rotacion(Lector& lector) {
  T m[9];
  for (T& v : m) v = lector.escalar<T>();
  T resultado[2][9];
  int32_t linea[2];
  for (int vez = 0; vez < 2; ++vez) {
    Zona zona(sizeof m);
    std::memcpy(zona.bytes(), m, sizeof m);
    linea[vez] = ortonormaliza(zona.como<T>());
    std::memcpy(resultado[vez], zona.bytes(), sizeof m);
  }
  EXIGE(linea[0] == linea[1]);
  EXIGE(linea[0] >= 0 && linea[0] <= 2);
  EXIGE(std::memcmp(resultado[0], resultado[1], sizeof m) == 0);
}

// A recovery function of the caller's own: it records what it is handed and answers with three
// elements of it, so the answer can be traced.
struct Registro {
  int llamadas = 0;
  double matriz[9] = {};
};
thread_local Registro registro;
Terna recuperador_propio(const double* M) {
  ++registro.llamadas;
  std::memcpy(registro.matriz, M, sizeof registro.matriz);
  return Terna{{M[0], M[4], -M[8]}};
}

// The working matrix Getoffset_matriz hands on for a given code: a quarter turn is M·Rz(−π/2),
// the first column the old second negated, the second the old first; a half turn negates the
// first two columns. Both are exact sign and place changes.
void trabajo(const double* m, uint32_t codigo, double* w) {
  std::memcpy(w, m, 9 * sizeof(double));
  if (codigo & 1u) {
    for (int fila = 0; fila < 3; ++fila) {
      w[3 * fila] = -m[3 * fila + 1];
      w[3 * fila + 1] = m[3 * fila];
    }
  }
  if (codigo & 2u) {
    for (int fila = 0; fila < 3; ++fila) {
      w[3 * fila] = -w[3 * fila];
      w[3 * fila + 1] = -w[3 * fila + 1];
    }
  }
}

bool misma_terna(const Terna& a, const Terna& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void recupera(Lector& lector) {
  double m[9];
  if (lector.byte() % 2 == 0) {
    for (double& v : m) v = lector.escalar<double>();
  } else {
    // A true rotation, so that the recovery branches meant for rotations are reached often.
    double angulos[3] = {lector.escalar<double>(), lector.escalar<double>(), lector.escalar<double>()};
    MatrizRot_κωφ(angulos, m);
  }

  Zona zona(sizeof m);
  std::memcpy(zona.bytes(), m, sizeof m);
  const double* z = zona.como<double>();

  EXIGE(misma_terna(Gmatriz_ωφκ_seg(z), Gmatriz_ωφκ_seg(z)));
  EXIGE(misma_terna(Gmatriz_24_seg(z), Gmatriz_24_seg(z)));
  EXIGE(std::memcmp(z, m, sizeof m) == 0);

  // The quarter turn is taken out when m1·m3 + m0·m4 < 0; a NaN sum may go either way.
  const double s = m[1] * m[3] + m[0] * m[4];
  // The last one is none at all.
  const FuncGmatriz recuperadores[4] = {Gmatriz_ωφκ_seg, Gmatriz_24_seg, recuperador_propio, nullptr};
  for (int cual = 0; cual < 4; ++cual) {
    const FuncGmatriz f = recuperadores[cual];
    Zona zona_codigo(sizeof(uint32_t));
    uint32_t* codigo = zona_codigo.como<uint32_t>();
    *codigo = lector.u32();  // never read: any value in it must do
    registro = Registro{};
    const Terna t = Getoffset_matriz(z, f, codigo);
    EXIGE(std::memcmp(z, m, sizeof m) == 0);
    const uint32_t c = *codigo;
    EXIGE(c <= 3);
    if (!std::isnan(s)) EXIGE((c & 1u) == (s < 0 ? 1u : 0u));
    double w[9];
    trabajo(m, c & 1u, w);
    if (cual == 0) {
      // The half turn comes out of the angles: κ ∓ π past |κ| > π/2, ω and φ negated.
      Terna r = Gmatriz_ωφκ_seg(w);
      const bool media = std::fabs(r.v[2]) > 1.5707963267948966;
      EXIGE(((c & 2u) != 0) == media);
      if (media) {
        r.v[2] = r.v[2] >= 0 ? r.v[2] - 3.141592653589793 : r.v[2] + 3.141592653589793;
        r.v[0] = -r.v[0];
        r.v[1] = -r.v[1];
      }
      EXIGE(misma_terna(t, r));
    } else if (cual == 1 || cual == 2) {
      // The half turn comes out of the matrix, when its element 0 is negative.
      EXIGE(((c & 2u) != 0) == (w[0] < 0));
      trabajo(m, c, w);
      if (cual == 1) {
        EXIGE(misma_terna(t, Gmatriz_24_seg(w)));
      } else {
        EXIGE(registro.llamadas == 1);
        EXIGE(std::memcmp(registro.matriz, w, sizeof w) == 0);
        EXIGE(misma_terna(t, recuperador_propio(w)));
      }
    } else {
      // No recovery function: the quarter-turn code and no angles.
      EXIGE(c <= 1);
      EXIGE(std::isnan(t.v[0]) && std::isnan(t.v[1]) && std::isnan(t.v[2]));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* datos, size_t tamano) {
  Lector lector(datos, tamano);
  switch (lector.byte() % 5) {
    case 0: inversa<double>(lector); break;
    case 1: inversa<float>(lector); break;
    case 2: rotacion<double>(lector); break;
    case 3: rotacion<float>(lector); break;
    default: recupera(lector); break;
  }
  return 0;
}
