// Means of angle triplets across the ±π wrap-around: per component, the angles are split into a
// positive group (a > 0) and a non-positive one (a ≤ 0, zero included), each averaged on its own,
// and the two combined after moving the non-positive group up a full turn when the groups straddle
// ±π rather than 0. Sums run in array order, one accumulator each, in a single pass.
#ifndef ORIENTA_ANGULOS_MEDIAS_HPP
#define ORIENTA_ANGULOS_MEDIAS_HPP

#include <cstddef>
#include <cstdint>

#include "interno.hpp"
#include "orienta.h"

namespace orienta::interno {

// Both groups present. With angles in [−π, π] the group means differ by more than π only when
// the groups gather on either side of ±π; the non-positive group then belongs a full turn up.
// Strictly greater: groups exactly π apart are combined as they are.
inline double sube_si_cruza(double media_positiva, double media_no_positiva) {
  if (media_positiva - media_no_positiva > kPi) return media_no_positiva + kVuelta;
  return media_no_positiva;
}

// A combined mean can exceed π only after the shift; it is brought back by the same full turn.
// kVuelta is 12 ulp above 2π, so a mean of exactly π stays π but one just above lands just below −π.
inline double baja_si_pasa_de_pi(double media) {
  if (media > kPi) return media - kVuelta;
  return media;
}

// Walks the n triplets once, handing the angle at index k = 3·i + c to grupos[c].
template <class Grupos>
void reparte(const double* angulos, uint32_t n, Grupos (&grupos)[3]) {
  for (uint32_t i = 0; i < n; ++i) {
    const size_t base = 3 * size_t(i);  // 3·i overflows 32 bits past 1431655765 triplets
    for (size_t c = 0; c < 3; ++c) grupos[c].anade(angulos[base + c], base + c);
  }
}

struct GruposSimples {
  double suma_pos = 0.0, suma_no_pos = 0.0;
  uint32_t n_pos = 0, n_no_pos = 0;

  void anade(double a, size_t) {
    if (a > 0.0) {
      suma_pos += a;
      ++n_pos;
    } else {
      suma_no_pos += a;
      ++n_no_pos;
    }
  }

  // r = 1/n once: means are sum·(1/n), which may differ from sum/n in the last place. With n = 0
  // both groups are empty and 0·(1/0) = 0·∞ is NaN: the empty mean needs no branch of its own.
  double media(double r) const {
    if (n_no_pos == 0) return r * suma_pos;
    if (n_pos == 0) return r * suma_no_pos;
    // The group means themselves are divisions, not products with a reciprocal.
    const double media_no_pos = sube_si_cruza(suma_pos / double(n_pos), suma_no_pos / double(n_no_pos));
    return baja_si_pasa_de_pi((double(n_no_pos) * media_no_pos + suma_pos) * r);
  }
};

struct GruposPesados {
  const float* pesos;
  double suma_pos = 0.0, suma_no_pos = 0.0;   // Σ w·a with w widened to double
  float peso_pos = 0.0f, peso_no_pos = 0.0f;  // Σ w kept in single precision

  void anade(double a, size_t k) {
    const float w = pesos[k];
    if (a > 0.0) {
      suma_pos += double(w) * a;
      peso_pos += w;
    } else {
      suma_no_pos += double(w) * a;
      peso_no_pos += w;
    }
  }

  // A group counts when its weight total is not zero, so zero-weighted angles are ignored. Every
  // division is by a float total widened to double. With both totals zero from zero weights the
  // weighted sum is 0 too and 0/0 gives NaN without a branch of its own.
  double media() const {
    if (peso_no_pos == 0.0f) return suma_pos / double(peso_pos);
    const double media_no_pos = suma_no_pos / double(peso_no_pos);
    if (peso_pos == 0.0f) return media_no_pos;
    const double media_no_pos_subida = sube_si_cruza(suma_pos / double(peso_pos), media_no_pos);
    const float peso = peso_no_pos + peso_pos;  // added in single precision, then widened
    return baja_si_pasa_de_pi((media_no_pos_subida * double(peso_no_pos) + suma_pos) / double(peso));
  }
};

inline Terna media_angulos(const double* angulos, uint32_t n) {
  GruposSimples grupos[3];
  reparte(angulos, n, grupos);
  const double r = 1.0 / double(n);
  return Terna{{grupos[0].media(r), grupos[1].media(r), grupos[2].media(r)}};
}

inline Terna media_angulos_pesos(const double* angulos, uint32_t n, const float* pesos) {
  GruposPesados grupos[3] = {{pesos}, {pesos}, {pesos}};
  reparte(angulos, n, grupos);
  return Terna{{grupos[0].media(), grupos[1].media(), grupos[2].media()}};
}

}  // namespace orienta::interno

#endif
