/*
 * diradodavid: small dense linear-algebra routines.
 *
 * A symmetric matrix of order u is passed as its lower triangle packed by rows:
 * (0,0), (1,0), (1,1), (2,0), (2,1), (2,2), ...; row j starts at position j·(j+1)/2 and the whole
 * triangle holds u·(u+1)/2 scalars.
 */
#ifndef DIRADODAVID_H
#define DIRADODAVID_H

#include <stdint.h>  // NOLINT(modernize-deprecated-headers): a C header, installed for C hosts too

#ifndef DIRADODAVID_API
#  if defined(__GNUC__)
#    define DIRADODAVID_API __attribute__((visibility("default")))
#  else
#    define DIRADODAVID_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** Solves N·a = rx and N·b = ry for a symmetric positive definite N of order u (packed lower
 *  triangle, see above) by a Cholesky factorisation N = L·Lᵀ and forward and back substitution.
 *  [in,out] N is overwritten with L (packed the same way); rx and ry are replaced by a and b.
 *  The pivot of row j must be positive and above u·ε times the row's original diagonal entry N(j,j)
 *  (ε the scalar type's machine epsilon). The test is relative to each row's own diagonal, so
 *  unscaled systems whose diagonal spans many orders of magnitude are accepted.
 *  Returns 0 when solved. When N is singular or not positive definite (or holds NaN), both rx and
 *  ry are filled with NaN and the 1-based row of the failing pivot is returned. u < 1 returns −1
 *  and touches nothing. */
DIRADODAVID_API int32_t resuelve_sistema_sim_t_2_dbl(double* N, double* rx, double* ry, int32_t u);

/** The same in single precision throughout (ε of float in the pivot test). */
DIRADODAVID_API int32_t resuelve_sistema_sim_t_2_fl(float* N, float* rx, float* ry, int32_t u);

#ifdef __cplusplus
}
#endif

#endif /* DIRADODAVID_H */
