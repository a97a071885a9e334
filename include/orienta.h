/**
 * @file orienta.h
 * @brief orienta: rotations, angles and similarity transformations for photogrammetry and surveying.
 *
 * Conventions, for every function below:
 *  - Angles are in radians. An angle triple (Terna, or three doubles passed by pointer) holds
 *    slot 0 = ω (about x), slot 1 = φ (about y), slot 2 = κ (about z).
 *  - A 3×3 matrix is nine scalars stored by rows: element 3·i + j is row i, column j. Matrices act
 *    on column vectors, v' = M·v. Elementary rotations, by rows, with c = cos θ, s = sin θ:
 *    - Rx(θ) = (1, 0, 0), (0, c, −s), (0, s, c)
 *    - Ry(θ) = (c, 0, s), (0, 1, 0), (−s, 0, c)
 *    - Rz(θ) = (c, −s, 0), (s, c, 0), (0, 0, 1)
 *  - The letters after the underscore of an angle function list the rotations in the order they act
 *    on a column vector: MatrizRotGT_ωφκ builds Rz(κ)·Ry(φ)·Rx(ω).
 *  - _dbl functions work in double precision, _fl twins in single precision throughout unless a
 *    function says otherwise. Counts are uint32_t, strides int64_t counts of bytes, flags int32_t
 *    (nonzero = yes).
 *  - Nothing validates its input. Degenerate data (no points, coincident points, a zero pivot, an
 *    argument outside a function's range) yield IEEE infinities and NaN through ordinary
 *    arithmetic, as each function documents. Functions that change an argument in place say so.
 *  - Pointers are not checked either: every pointer argument must point to valid memory of the
 *    documented size, except that recuperar (Getoffset_matriz) and inversa_normal (Hel3Dg___ptr_*)
 *    may be null, and an array of n points, pairs, angles or weights is not read when n = 0 (it
 *    may then be null). A null pointer anywhere else crashes the caller.
 *  - Results are reproducible to the last bit: sums run in array order in one accumulator each,
 *    and means are sum·(1/n). This holds for every finite or infinite value and on every processor
 *    whichever kernels run (see orienta_nucleos). A NaN result is any NaN: its sign and payload are
 *    unspecified and may differ between builds, kernels and processors; only being NaN is part of
 *    the result.
 *  - No function keeps state (but orienta_nucleos), allocates (but Hel3Dg___ptr_*, see there),
 *    starts threads or logs; calls on different data may run on any threads at once.
 */
#ifndef ORIENTA_H
#define ORIENTA_H

#include <stdint.h>

#ifndef ORIENTA_API
#  if defined(__GNUC__)
#    define ORIENTA_API __attribute__((visibility("default")))
#  else
#    define ORIENTA_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------------------------------
 * Shared types
 * --------------------------------------------------------------------------------------------- */

/** 3×3 matrix of doubles by rows: element 3·i + j is row i, column j; acts on column vectors. */
typedef double Matriz3x3[9];
/** The same layout in single precision. */
typedef float Matriz3x3_fl[9];

/** Three doubles returned by value. As angles: v[0] = ω, v[1] = φ, v[2] = κ (radians). As a vector:
 *  the components along x, y, z. */
typedef struct {
  double v[3]; /**< ω, φ, κ (radians) or x, y, z */
} Terna;

/** Sines and cosines of three angles, pair by pair, sine first:
 *  v = (sin a0, cos a0, sin a1, cos a1, sin a2, cos a2). Used unchanged: pairs are not normalised,
 *  so a matrix built from them is a rotation only if every pair is a unit pair. */
typedef struct {
  double v[6]; /**< sin a0, cos a0, sin a1, cos a1, sin a2, cos a2 */
} SenosCosenos;

/* ------------------------------------------------------------------------------------------------
 * Rotation matrices from Euler angles (double precision only). Input and output must not overlap;
 * all nine output elements are written.
 * --------------------------------------------------------------------------------------------- */

/** M = Rz(κ)·Ry(φ)·Rx(ω) from sc = (sin ω, cos ω, sin φ, cos φ, sin κ, cos κ). sc is unchanged.
 *  At φ = π/2 (sin φ = 1, cos φ = 0) element 6 is −1 and elements 0, 3, 7, 8 are 0.
 *  @param[in]  sc (sin ω, cos ω, sin φ, cos φ, sin κ, cos κ), unitless; each pair a unit pair for
 *              M to be a rotation (used as given, not normalised)
 *  @param[out] M  Rz(κ)·Ry(φ)·Rx(ω) by rows, all nine elements */
ORIENTA_API void MatrizRotGT_ωφκ(const SenosCosenos* sc, Matriz3x3 M);

/** M = Ry(φ)·Rx(ω)·Rz(κ) from sc = (sin ω, cos ω, sin φ, cos φ, sin κ, cos κ).
 *  [in,out] sc is reordered in place, pair by pair, to (κ, ω, φ): it is left holding
 *  (sin κ, cos κ, sin ω, cos ω, sin φ, cos φ). A second call on the same array therefore builds a
 *  different matrix; three calls in a row restore the original order.
 *  @param[in,out] sc read as (sin ω, cos ω, sin φ, cos φ, sin κ, cos κ), unitless unit pairs;
 *                 left holding (sin κ, cos κ, sin ω, cos ω, sin φ, cos φ)
 *  @param[out]    M  Ry(φ)·Rx(ω)·Rz(κ) by rows, all nine elements */
ORIENTA_API void MatrizRotGT_κωφ(SenosCosenos* sc, Matriz3x3 M);

/** M = Rz(κ₂)·Rx(w)·Rz(κ₁) from sc = (sin κ₁, cos κ₁, sin w, cos w, sin κ₂, cos κ₂). sc is
 *  unchanged. Element 8 is a copy of cos w as given.
 *  @param[in]  sc (sin κ₁, cos κ₁, sin w, cos w, sin κ₂, cos κ₂), unitless unit pairs
 *  @param[out] M  Rz(κ₂)·Rx(w)·Rz(κ₁) by rows, all nine elements */
ORIENTA_API void MatrizRotGT_κwκ(const SenosCosenos* sc, Matriz3x3 M);

/** M = Ry(φ)·Rx(ω)·Rz(κ) from the angles (ω, φ, κ): equal, up to rounding, to the matrix
 *  MatrizRotGT_κωφ builds from their sines and cosines (the two evaluate different formulas, and
 *  for about a third of random angles some element differs in the last bits).
 *  [in,out] angulos is reordered in place to (κ, ω, φ).
 *  @param[in,out] angulos read as (ω, φ, κ) in radians, any finite values; left holding (κ, ω, φ)
 *  @param[out]    M       Ry(φ)·Rx(ω)·Rz(κ) by rows, all nine elements */
ORIENTA_API void MatrizRot_κωφ(double angulos[3], Matriz3x3 M);

/* ------------------------------------------------------------------------------------------------
 * Rotation matrices from three-component rotation vectors. θ is the rotation angle and n the unit
 * axis; every matrix rotates column vectors by θ about n in the sense of Rz(θ) for n = (0, 0, 1).
 * The vector and the matrix must not overlap.
 * Types 20, 24 and 26 (and MatrizDeltafl_*) overwrite the vector p with s = sin θ·n.
 * --------------------------------------------------------------------------------------------- */

/** Type 20: p = θ·n (rotation vector). [in,out] p becomes (sin θ/θ)·p. The zero vector gives the
 *  identity and is left unchanged. Once |p|² overflows (|p| above about 1.3e154) the matrix and p
 *  are NaN.
 *  @param[in,out] p θ·n in radians (|p| = θ, any angle; |p| below about 1.3e154); left holding
 *                   sin θ·n, unitless
 *  @param[out]    M the rotation by θ about n, by rows, all nine elements */
ORIENTA_API void MatrizRot_20(double p[3], Matriz3x3 M);

/** Type 24: p = 2·sin(θ/2)·n, |p| ≤ 2 (twice the quaternion's vector part, scalar part ≥ 0).
 *  [in,out] p becomes √(1 − |p|²/4)·p. With |p| > 2 the off-diagonal elements and p are NaN.
 *  @param[in,out] p 2·sin(θ/2)·n, unitless, |p| in [0, 2] (θ in [0, π]); left holding sin θ·n
 *  @param[out]    M the rotation by θ about n, by rows, all nine elements */
ORIENTA_API void MatrizRot_24(double p[3], Matriz3x3 M);

/** Type 26: p = 2·tan(θ/2)·n (twice the Gibbs vector), of any length whose square is finite: |p|
 *  up to about 1.3e154 (beyond, |p|² overflows and the matrix holds NaN); a half turn is reached
 *  only in the limit. [in,out] p becomes 4·p/(4 + |p|²).
 *  @param[in,out] p 2·tan(θ/2)·n, unitless, any length up to about 1.3e154 (θ in [0, π)); left
 *                   holding sin θ·n
 *  @param[out]    M the rotation by θ about n, by rows, all nine elements */
ORIENTA_API void MatrizRot_26(double p[3], Matriz3x3 M);

/** Type 28: p = (2·asin q1, 2·asin q2, 2·asin q3) with (q1, q2, q3) = sin(θ/2)·n, usable while
 *  sin²(x/2) + sin²(y/2) + sin²(z/2) ≤ 1 (beyond, the off-diagonal elements are NaN). p is only
 *  read.
 *  @param[in]  p (x, y, z) = 2·asin of the components of sin(θ/2)·n, radians, each in [−π, π] with
 *                sin²(x/2) + sin²(y/2) + sin²(z/2) ≤ 1
 *  @param[out] M the rotation by θ about n, by rows, all nine elements */
ORIENTA_API void MatrizRot_28(const double p[3], Matriz3x3 M);

/** Type 26 from a float vector, in mixed precision: every product, the squared length and the
 *  factor in single precision, widened to double for the subtractions from 1 and the final sums.
 *  [in,out] p becomes 4·p/(4 + |p|²) in floats. Returns |p|² = (y² + x²) + z² of p as passed in,
 *  in single precision. |p|² overflows in float from |p| of about 1.8e19 on, and the matrix then
 *  holds NaN.
 *  @param[in,out] p 2·tan(θ/2)·n as floats, unitless, |p| below about 1.8e19; left holding
 *                   4·p/(4 + |p|²) = sin θ·n
 *  @param[out]    M the rotation by θ about n, by rows, all nine elements
 *  @return |p|² of p as passed in, unitless, in single precision */
ORIENTA_API float MatrizDeltafl_dbl(float p[3], Matriz3x3 M);

/** The same wholly in single precision, writing nine floats. @copydetails MatrizDeltafl_dbl */
ORIENTA_API float MatrizDeltafl_fl(float p[3], Matriz3x3_fl M);

/* ------------------------------------------------------------------------------------------------
 * Angles and vectors from a rotation matrix (double precision only). The matrix is only read.
 * --------------------------------------------------------------------------------------------- */

/** A recovery function: takes a rotation matrix (nine doubles by rows, only read) and returns a
 *  triple by value. Gmatriz_ωφκ_seg, Gmatriz_24_seg or one of the caller's own.
 *  @param M the rotation matrix, nine doubles by rows, only read */
typedef Terna (*FuncGmatriz)(const double* M);

/** (ω, φ, κ) with M = Rz(κ)·Ry(φ)·Rx(ω), stable near φ = ±π/2. φ is in [−π/2, π/2]; ω and κ are
 *  in [−π, π], but a near-gimbal value wrapped across ±π may land just below −π (wraps use
 *  the full turn 6.283185307179597, 12 units in the last place above 2π, so π wraps to
 *  π − 6.283185307179597). For a matrix built by MatrizRotGT_ωφκ from ω, κ in (−π, π] and φ in
 *  (−π/2, π/2) it returns those angles up to rounding (ω and κ lose accuracy as 1/cos φ).
 *  |m6| < 0.9 reads φ = asin(−m6); from 0.9 on, φ comes from the first column's length and the
 *  well-determined κ ∓ ω from the upper block.
 *
 *  Gimbal lock. At φ = ±π/2 the matrix fixes only one combination of ω and κ: at φ = +π/2
 *  (m6 = −1) only d = κ − ω, read as atan2(m5 − m1, m4 + m2); at φ = −π/2 (m6 = +1) only
 *  d = κ + ω, read as atan2(−m1 − m5, m4 − m2). How d is shared between ω and κ is a convention;
 *  this function's is:
 *   - exactly at gimbal lock (m0 = m3 = 0 or m7 = m8 = 0) all of d goes to κ and none to ω: the
 *     result is (0, π/2, d) or (0, −π/2, d), with d as atan2 returns it, in [−π, π], not wrapped;
 *     these angles rebuild the matrix, up to rounding, through MatrizRotGT_ωφκ;
 *   - near it (|m6| ≥ 0.9, not exact) κ and ω are first read as off gimbal lock, κ = atan2(m3, m0)
 *     and ω = atan2(m7, m8), and their combination is then made equal to d by moving each by half
 *     of the disagreement (wrapped into [−π, π) first), in opposite directions at φ > 0 and in the
 *     same direction at φ < 0; each is wrapped once more afterwards.
 *  @param[in] M a rotation matrix by rows (nine doubles), only read
 *  @return (ω, φ, κ) in radians: φ in [−π/2, π/2], ω and κ in [π − 6.283185307179597, π] (see the
 *          wrap above) */
ORIENTA_API Terna Gmatriz_ωφκ_seg(const Matriz3x3 M);

/** The type-24 vector 2·sin(θ/2)·n of the rotation M (0 ≤ θ ≤ π), the vector from which
 *  MatrizRot_24 rebuilds M; stable near half a turn. With t the trace: for t > −0.8 the vector is
 *  the antisymmetric part times 1/√(t + 1). For t ≤ −0.8 each component's magnitude is √q,
 *  q = 2·mᵢᵢ + 1 − t (a component with q < 0 is +0); the largest component (the first on ties)
 *  takes its sign from the antisymmetric part (negative when m5 > m7, m6 > m2, m1 > m3 for x, y,
 *  z), and every other one its sign relative to the largest from the pair's symmetric sum
 *  (m1 + m3, m2 + m6, m5 + m7; negative → opposite sign). At exactly half a turn the vector is
 *  only defined up to sign and the largest component comes out positive; e.g. the half turn
 *  about (1, −1, 0)/√2 gives (√2, −√2, 0). Near |v| = 2 rounding may put |v|² just above 4,
 *  where MatrizRot_24 yields NaN: scale such a vector down by an ulp before rebuilding.
 *  @param[in] M a rotation matrix by rows (nine doubles), only read
 *  @return 2·sin(θ/2)·n, unitless, of length in [0, 2] up to rounding */
ORIENTA_API Terna Gmatriz_24_seg(const Matriz3x3 M);

/** Takes whole quarter and half turns about z out of M, then calls recuperar once on what
 *  remains. M is only read (turns are applied to a local copy).
 *  A quarter turn is taken out when m1·m3 + m0·m4 (about cos 2κ) is negative; a half turn when
 *  what remains still turns by more than π/2 about z.
 *  [out] *codigo (written, never read first), bit 0 (1): a quarter turn was taken out; bit 1 (2):
 *  a half turn; 0 neither, 3 both. The result describes M·Rz(−π/2) for code 1, M·Rz(π) for code
 *  2 and M·Rz(π/2) for code 3. Bit 0 is stored before recuperar is called.
 *  With recuperar == Gmatriz_ωφκ_seg (this library's own function, recognised by its address) the
 *  half turn is taken out of the returned angles: when |κ| > π/2, κ ∓ π (towards 0) and ω, φ
 *  negated. With any other function, a forwarder included, it is taken out of the matrix before
 *  the call (when element 0 is negative, the first two columns are negated) and the triple is
 *  returned unchanged. A null recuperar stores the quarter-turn code and returns
 *  (NaN, NaN, NaN).
 *  @param[in]  M         a rotation matrix by rows (nine doubles), only read
 *  @param[in]  recuperar the recovery function called once on what remains, or null
 *  @param[out] codigo    the turns taken out, 0 to 3 (bit 0 a quarter turn, bit 1 a half turn)
 *  @return the triple recuperar returns (radians for Gmatriz_ωφκ_seg, with the half turn taken out
 *          as above), or (NaN, NaN, NaN) when recuperar is null */
ORIENTA_API Terna Getoffset_matriz(const Matriz3x3 M, FuncGmatriz recuperar, uint32_t* codigo);

/* ------------------------------------------------------------------------------------------------
 * 3×3 utilities
 * --------------------------------------------------------------------------------------------- */

/** [in,out] Inverts a symmetric matrix in place by symmetric elimination without pivoting. Reads
 *  only the upper triangle (elements 0, 1, 2, 4, 5, 8); writes all nine elements with the
 *  symmetric inverse. A zero pivot leaves infinities or NaN.
 *  @param[in,out] M a symmetric matrix by rows, of any unit u (upper triangle read); left holding
 *                   its inverse, of unit 1/u, all nine elements */
ORIENTA_API void Orvinvsim3_dbl(Matriz3x3 M);
/** The same in single precision. @copydetails Orvinvsim3_dbl */
ORIENTA_API void Orvinvsim3_fl(Matriz3x3_fl M);

/** [in,out] Turns a near-rotation, possibly scaled, into a proper rotation (determinant +1): the
 *  longest line (row or column) is normalised, the second made orthogonal to it and normalised,
 *  the third rebuilt as a cross product. Rows are used when the second-longest row is longer than
 *  the second-longest column, columns otherwise (the identity takes the column path and comes
 *  back unchanged). Returns the index (0, 1, 2) of the rebuilt line; which mode was taken is not
 *  reported. A zero or degenerate matrix is left holding non-finite values. The squared lengths
 *  are formed from the elements as given: with elements of magnitude beyond about 1e154 or below
 *  about 1e-154 (1e19 and 1e-19 in the float twin) they overflow or lose their digits, and the
 *  result may be finite yet not a rotation. Scale such a matrix into range first (any positive
 *  factor gives the same rotation).
 *  @param[in,out] M a near-rotation by rows, possibly scaled, elements of magnitude between about
 *                   1e-154 and 1e154 (1e-19 and 1e19 for float); left holding a rotation
 *  @return the index, 0 to 2, of the line rebuilt as a cross product */
ORIENTA_API int32_t convierte_en_R_dbl(Matriz3x3 M);
/** The same in single precision. @copydetails convierte_en_R_dbl */
ORIENTA_API int32_t convierte_en_R_fl(Matriz3x3_fl M);

/* ------------------------------------------------------------------------------------------------
 * Means of angle triplets across the ±π wrap-around
 * --------------------------------------------------------------------------------------------- */

/** Per component c, the mean of angulos[3·i + c], i < n (radians, expected within [−π, π]; not
 *  checked). The angles of a component are split into a positive group (a > 0) and a non-positive
 *  one (a ≤ 0, zero included). When both are present and the positive group's mean exceeds the
 *  non-positive one's by more than π, the non-positive group is taken a full turn up first, so
 *  angles near +π and near −π average to near ±π, not 0. A mean above π is returned less one full
 *  turn; the full turn is 6.283185307179597, 12 units in the last place above 2π, so such a mean
 *  lands at or just below −π (3.0 and −3.0 give −6.283185307179597/2): results lie in
 *  (π − 6.283185307179597, π] up to rounding. Sums run in array order; means are sum·(1/n).
 *  n = 0 yields NaN in every component (0·(1/0)). The array is only read.
 *  @param[in] angulos n triplets (ω, φ, κ), 3·n doubles, radians in [−π, π]; may be null when n = 0
 *  @param[in] n       the number of triplets, any count
 *  @return the mean of each component, radians, in (π − 6.283185307179597, π] */
ORIENTA_API Terna Gmedio(const double* angulos, uint32_t n);

/** The weighted mean: the float pesos[3·i + c] weighs angulos[3·i + c]. Grouping, shift and wrap
 *  as in Gmedio, with weighted group means Σw·a / Σw and the combined mean
 *  (N̄·WN + SP) / (WN + WP). Products w·a and their sums are in double; the weight totals WN, WP
 *  and WN + WP are summed in single precision and widened to double only to divide. A group counts
 *  only when its weight total is nonzero, so angles of weight 0 are ignored. Weights are expected
 *  non-negative: a component whose weights are all zero (or n = 0) yields NaN (0/0); negative
 *  weights that cancel to a zero total yield infinities or NaN. The float totals must stay finite:
 *  weights adding up past about 3.4e38 within a component overflow to +∞, and that component's
 *  mean comes out 0 or NaN. Both arrays are only read.
 *  @param[in] angulos n triplets, 3·n doubles, radians in [−π, π]; may be null when n = 0
 *  @param[in] n       the number of triplets, any count
 *  @param[in] pesos   3·n floats, the weight of each angle, unitless (only ratios matter), ≥ 0, with
 *                     totals per component below about 3.4e38; may be null when n = 0
 *  @return the weighted mean of each component, radians, in (π − 6.283185307179597, π] */
ORIENTA_API Terna Gmedio_pesos(const double* angulos, uint32_t n, const float* pesos);

/* ------------------------------------------------------------------------------------------------
 * 2D similarity
 * --------------------------------------------------------------------------------------------- */

/** Centred 2D similarity: target ≈ (xc_destino, yc_destino) + escala·R·(source − (xc_origen,
 *  yc_origen)), R = [cos_giro −sen_giro; sen_giro cos_giro]; sen_giro > 0 turns +x towards +y. */
typedef struct {
  double xc_origen;  /**< x of the centroid of the source points (their unit) */
  double yc_origen;  /**< y of the centroid of the source points */
  double xc_destino; /**< x of the centroid of the target points (their unit) */
  double yc_destino; /**< y of the centroid of the target points */
  double escala;     /**< √(Qd/Qo), ratio of the root-sum-square spreads (target unit per source unit) */
  double cos_giro;   /**< cosine of the least-squares rotation (a unit vector with sen_giro) */
  double sen_giro;   /**< sine of the least-squares rotation */
} Hel2Dg_dbl;

/** Hel2Dg_dbl in single precision. */
typedef struct {
  float xc_origen;  /**< as in Hel2Dg_dbl */
  float yc_origen;  /**< as in Hel2Dg_dbl */
  float xc_destino; /**< as in Hel2Dg_dbl */
  float yc_destino; /**< as in Hel2Dg_dbl */
  float escala;     /**< as in Hel2Dg_dbl */
  float cos_giro;   /**< as in Hel2Dg_dbl */
  float sen_giro;   /**< as in Hel2Dg_dbl */
} Hel2Dg_fl;

/** Plain 2D similarity: target = escala·R·(source − (tx, ty)), R as in Hel2Dg; equivalently
 *  source = (tx, ty) + (1/escala)·Rᵀ·target. */
typedef struct {
  double tx;       /**< x of the source point carried onto the target origin (source unit) */
  double ty;       /**< y of that point */
  double escala;   /**< scale, target unit per source unit */
  double cos_giro; /**< cosine of the rotation */
  double sen_giro; /**< sine of the rotation */
} Hel2D_dbl;

/** Hel2D_dbl in single precision. */
typedef struct {
  float tx;       /**< as in Hel2D_dbl */
  float ty;       /**< as in Hel2D_dbl */
  float escala;   /**< as in Hel2D_dbl */
  float cos_giro; /**< as in Hel2D_dbl */
  float sen_giro; /**< as in Hel2D_dbl */
} Hel2D_fl;

/** @name 2D similarity estimators
 * The twelve estimators below compute the same record from the same pairs and differ only in
 * where they find pair i. A point is x then y; only those two scalars are read. Strides are signed
 * byte counts (a negative stride walks backwards from the pointer given); a stride must keep every
 * point aligned for its scalar type (a multiple of 8 bytes for double, 4 for float). Points are read
 * twice and must not change during the call. n = 0 yields all NaN; n = 1 the pair's coordinates
 * and NaN for escala, cos_giro and sen_giro; all source points equal give escala = +∞. A mirror is
 * fitted as a rotation. For the same pairs all six layouts of one precision return bit-identical
 * records. Two passes: centroids as sum·(1/n), then Qo, Qd, P = Σ(dxs·dxt + dys·dyt) and
 * V = Σ(dxs·dyt − dys·dxt) from centred coordinates; escala = √(Qd/Qo) (the ratio of the spreads,
 * never below the least-squares scale; the two agree for an exact similarity), (cos_giro, sen_giro)
 * = (P, V)/√(P² + V²). When P and V are finite, not both 0, and P² + V² overflows to +∞ or
 * underflows to 0 (spreads beyond about 1e77 or below 1e-81 in double, 1e9 and 1e-11 in float),
 * P and V are first divided by max(|P|, |V|), so the turn survives at both ends of the range. The
 * _fl twins work in single precision throughout, the count included. Coordinates are in any length
 * unit, the source's and the target's each their own.
 * @{ */

/** The 2D similarity of pairs found through pointers.
 *  @param[in] P 2n pointers, P[2i] → source point i, P[2i+1] → target point i (x, y each)
 *  @param[in] n the number of pairs, any count
 *  @return the centred similarity */
ORIENTA_API Hel2Dg_dbl Hel2Dg___ptr_dbl(const double* const* P, uint32_t n);
/** The same in single precision. @copydetails Hel2Dg___ptr_dbl */
ORIENTA_API Hel2Dg_fl Hel2Dg___ptr_fl(const float* const* P, uint32_t n);
/** The 2D similarity of pairs packed as records.
 *  @param[in] A n packed records (source x, source y, target x, target y), 4·n scalars
 *  @param[in] n the number of pairs, any count
 *  @return the centred similarity */
ORIENTA_API Hel2Dg_dbl Hel2Dg___p_dbl(const double* A, uint32_t n);
/** The same in single precision. @copydetails Hel2Dg___p_dbl */
ORIENTA_API Hel2Dg_fl Hel2Dg___p_fl(const float* A, uint32_t n);
/** The 2D similarity of a packed array of source points and one of target points.
 *  @param[in] S n packed source points (x, y), 2·n scalars
 *  @param[in] T n packed target points (x, y), 2·n scalars
 *  @param[in] n the number of pairs, any count
 *  @return the centred similarity */
ORIENTA_API Hel2Dg_dbl Hel2Dg___pp_dbl(const double* S, const double* T, uint32_t n);
/** The same in single precision. @copydetails Hel2Dg___pp_dbl */
ORIENTA_API Hel2Dg_fl Hel2Dg___pp_fl(const float* S, const float* T, uint32_t n);
/** The 2D similarity of one strided array of 2n points, source and target alternating: source
 *  point i at B + 2i·s bytes, target point i at B + (2i+1)·s bytes.
 *  @param[in] B the first source point
 *  @param[in] s the stride from one point to the next, in bytes, signed, a multiple of the scalar's
 *               size (8 for double, 4 for float)
 *  @param[in] n the number of pairs, any count
 *  @return the centred similarity */
ORIENTA_API Hel2Dg_dbl Hel2Dg___g_dbl(const double* B, int64_t s, uint32_t n);
/** The same in single precision. @copydetails Hel2Dg___g_dbl */
ORIENTA_API Hel2Dg_fl Hel2Dg___g_fl(const float* B, int64_t s, uint32_t n);
/** The 2D similarity of two strided arrays sharing the stride s: source point i at S + i·s, target
 *  at T + i·s.
 *  @param[in] S the first source point
 *  @param[in] T the first target point
 *  @param[in] s the stride of both arrays, in bytes, signed, a multiple of the scalar's size (8 for
 *               double, 4 for float)
 *  @param[in] n the number of pairs, any count
 *  @return the centred similarity */
ORIENTA_API Hel2Dg_dbl Hel2Dg___gg_dbl(const double* S, const double* T, int64_t s, uint32_t n);
/** The same in single precision. @copydetails Hel2Dg___gg_dbl */
ORIENTA_API Hel2Dg_fl Hel2Dg___gg_fl(const float* S, const float* T, int64_t s, uint32_t n);
/** The 2D similarity of two strided arrays with their own strides: source point i at S + i·sS,
 *  target at T + i·sT.
 *  @param[in] S  the first source point
 *  @param[in] sS the stride of the source points, in bytes, signed, a multiple of the scalar's size
 *                (8 for double, 4 for float)
 *  @param[in] T  the first target point
 *  @param[in] sT the stride of the target points, in bytes, likewise
 *  @param[in] n  the number of pairs, any count
 *  @return the centred similarity */
ORIENTA_API Hel2Dg_dbl Hel2Dg___mixed_dbl(const double* S, int64_t sS, const double* T, int64_t sT, uint32_t n);
/** The same in single precision. @copydetails Hel2Dg___mixed_dbl */
ORIENTA_API Hel2Dg_fl Hel2Dg___mixed_fl(const float* S, int64_t sS, const float* T, int64_t sT, uint32_t n);
/** @} */

/** The plain form of a centred similarity: tx, ty = source centroid − (1/escala)·Rᵀ·target
 *  centroid; escala, cos_giro, sen_giro copied (not normalised). g is only read. escala = 0 or NaN
 *  gives infinite or NaN tx, ty.
 *  @param[in] g a centred similarity, as the estimators above return it
 *  @return the same similarity in the plain form (tx, ty in the source's unit) */
ORIENTA_API Hel2D_dbl Hel2D___Hel2Dg_dbl(const Hel2Dg_dbl* g);
/** The same in single precision. @copydetails Hel2D___Hel2Dg_dbl */
ORIENTA_API Hel2D_fl Hel2D___Hel2Dg_fl(const Hel2Dg_fl* g);

/* ------------------------------------------------------------------------------------------------
 * 2D polynomial transformations
 * --------------------------------------------------------------------------------------------- */

/** x' = x0_destino + Σ coef_x[k]·term k, y' = y0_destino + Σ coef_y[k]·term k, with dx, dy the point
 *  minus (xc_origen, yc_origen) and terms, in order: dx, dy (always); dx², dx·dy, dy² (tipo ≥ 6);
 *  dx³, dx²·dy, dx·dy², dy³ (tipo ≥ 7, compared unsigned). Kinds: 0 constant, 1 rigid,
 *  2 similarity, 3 affine (4 and 5 are fitted and evaluated as affine), 6 second order,
 *  7 third order. */
typedef struct {
  uint32_t tipo;     /**< the kind, 0 to 7 */
  double xc_origen;  /**< x of the source point the terms are centred on (source unit) */
  double yc_origen;  /**< y of that point */
  double x0_destino; /**< x′ of the image of (xc_origen, yc_origen) (target unit) */
  double y0_destino; /**< y′ of that image */
  double coef_x[9];  /**< coefficients of the terms for x′, in term order (unused terms ignored) */
  double coef_y[9];  /**< the same for y′ */
} Trans_Polinomica2D_dbl;

/** Trans_Polinomica2D_dbl in single precision (tipo still uint32_t). */
typedef struct {
  uint32_t tipo;    /**< as in Trans_Polinomica2D_dbl */
  float xc_origen;  /**< as in Trans_Polinomica2D_dbl */
  float yc_origen;  /**< as in Trans_Polinomica2D_dbl */
  float x0_destino; /**< as in Trans_Polinomica2D_dbl */
  float y0_destino; /**< as in Trans_Polinomica2D_dbl */
  float coef_x[9];  /**< as in Trans_Polinomica2D_dbl */
  float coef_y[9];  /**< as in Trans_Polinomica2D_dbl */
} Trans_Polinomica2D_fl;

/** [in,out] Overwrites punto (x then y) with its image through t; t is only read. Coefficients of
 *  terms the kind does not evaluate are ignored. The linear, quadratic and cubic groups are each
 *  summed on their own, in term order, before joining the result, and x0_destino, y0_destino are
 *  added last: with finite coefficients the point (xc_origen, yc_origen) maps exactly onto
 *  (x0_destino, y0_destino). The _fl variant rounds every step to single precision.
 *  @param[in]     t     the transformation, only read
 *  @param[in,out] punto a source point (x, y) in the source's unit; left holding its image in the
 *                       target's unit */
ORIENTA_API void transforma_punto2D_dbl(const Trans_Polinomica2D_dbl* t, double punto[2]);
/** The same in single precision. @copydetails transforma_punto2D_dbl */
ORIENTA_API void transforma_punto2D_fl(const Trans_Polinomica2D_fl* t, float punto[2]);

/** Fills t from n pairs (P as in Hel2Dg___ptr_dbl) for the kind in t->tipo, which the caller sets.
 *  [in,out] t->tipo: a value above 7 is lowered to 7 in the record; every other field is
 *  overwritten, and coefficients the kind does not use are zero.
 *  tipo 0: xc_origen, yc_origen the mean source point, x0_destino, y0_destino the mean target point.
 *  tipo 1 and 2: the Hel2Dg of the pairs, coef_x = (c, −s), coef_y = (s, c) with (c, s) its
 *  (cos_giro, sen_giro), for tipo 2 multiplied by escala.
 *  tipo 3, 6, 7: the least-squares affine, second- or third-order fit of each target coordinate in
 *  the centred source coordinates (4 and 5 are fitted as affine and keep their tipo). Pairs too few
 *  or in a degenerate arrangement for the kind (a normal matrix singular or not positive definite
 *  to within rounding) yield NaN in x0_destino, y0_destino and the fitted coefficients.
 *  n = 0 yields NaN fields. The points are only read; no allocation. The normal equations are
 *  solved by libdiradodavid, which this library loads as a dependency.
 *  @param[in,out] t the record: tipo read (0 to 7; above 7 lowered to 7), every other field written
 *  @param[in]     P 2n pointers, P[2i] → source point i, P[2i+1] → target point i (x, y each, in
 *                   the source's and the target's units)
 *  @param[in]     n the number of pairs, any count (3 for an affine fit, 6 for the second order and
 *                   10 for the third at least, or the fit is NaN) */
ORIENTA_API void Trans_Polinomica2D___puntosxy_dbl(Trans_Polinomica2D_dbl* t, const double* const* P, uint32_t n);
/** The same in single precision. @copydetails Trans_Polinomica2D___puntosxy_dbl */
ORIENTA_API void Trans_Polinomica2D___puntosxy_fl(Trans_Polinomica2D_fl* t, const float* const* P, uint32_t n);

/* ------------------------------------------------------------------------------------------------
 * 3D similarity
 * --------------------------------------------------------------------------------------------- */

/** Centred 3D similarity: a source point p maps to centro_destino + escala·R·(p − centro_origen),
 *  R a rotation matrix by rows acting on column vectors. */
typedef struct {
  double centro_origen[3];  /**< centroid of the source points of all pairs (x, y, z) */
  double centro_destino[3]; /**< centroid of the target points of all pairs */
  double escala;            /**< √(Σ|b|² / Σ|a|²) of the centred points: ratio of the RMS spreads */
  Matriz3x3 rotacion;       /**< R by rows: maximises Σ b·(R·a) over the centred pairs (a, b) */
} Hel3Dg_dbl;

/** Hel3Dg_dbl in single precision. */
typedef struct {
  float centro_origen[3];  /**< as in Hel3Dg_dbl */
  float centro_destino[3]; /**< as in Hel3Dg_dbl */
  float escala;            /**< as in Hel3Dg_dbl */
  Matriz3x3_fl rotacion;   /**< as in Hel3Dg_dbl */
} Hel3Dg_fl;

/** Estimates hel from n pairs: pares[2k] → source point k, pares[2k+1] → target point k (x, y, z).
 *  The start is the best rotation about z, or, when aprox_general ≠ 0 and n ≥ 9, the linear
 *  least-squares map made orthonormal (needed for rotations far from z, such as half turns about
 *  x). One to four Newton steps follow, stopping once the squared step falls
 *  below 1e-5; their 3×3 system is accumulated and solved in single precision.
 *  centrar_en_sitio ≠ 0: [in,out] every point is overwritten, pair by pair, with itself minus its
 *  set's centroid, and nothing is allocated. A point referenced by several pairs is reduced once
 *  per reference (and then read in its over-reduced state), so in that mode reference each point
 *  once. centrar_en_sitio = 0: the points are only read; a scratch area of 48·n bytes is taken
 *  from the heap and released before returning.
 *  [out] inversa_normal, if not null, receives the nine floats (also in this double variant) of
 *  the inverse Newton matrix of the last step, by rows: a symmetric matrix.
 *  Returns:
 *    0  estimate made: the refinement converged at a maximum of the fit;
 *    1  record and inversa_normal written, but not the best fit: four steps did not converge, or
 *       the last Newton matrix was not positive definite (a saddle, not a maximum), or the
 *       rotation is not orthonormal to within 1e-3 (R·Rᵀ − I, entry by entry: a start whose squares
 *       left the range, or a general start from a badly conditioned linear map); the record
 *       holds the last iterate. Typical with the z start on rotations far from z;
 *   −1  record and inversa_normal written, but some value in them (or in the last inverse Newton
 *       matrix, requested or not) is not finite: degenerate input, e.g. n = 0, all source points
 *       equal, all points exactly on one line, or, with the general start, all source points exactly
 *       in one plane (nearly degenerate sets may instead give finite, meaningless values);
 *   −2  the scratch area was refused (only with centrar_en_sitio = 0): nothing was written, not
 *       the record, nor inversa_normal, nor the points.
 *  @param[in,out] pares           2n pointers, pares[2k] → source point k, pares[2k+1] → target
 *                                 point k (x, y, z each, in the source's and the target's units);
 *                                 the points are only read when centrar_en_sitio = 0 and
 *                                 overwritten with their centred coordinates otherwise
 *  @param[in]     n               the number of pairs, any count (at least 3 not on one line for a
 *                                 meaningful fit)
 *  @param[out]    hel             the centred similarity (escala in target unit per source unit)
 *  @param[in]     aprox_general   flag: nonzero for the general start (used when n ≥ 9)
 *  @param[in]     centrar_en_sitio flag: nonzero to centre the points in place and allocate nothing
 *  @param[out]    inversa_normal  nine floats for the last inverse Newton matrix, or null
 *  @return the status: 0, 1, −1 or −2 as above */
ORIENTA_API int32_t Hel3Dg___ptr_dbl(double* const* pares, uint32_t n, Hel3Dg_dbl* hel, int32_t aprox_general,
                                     int32_t centrar_en_sitio, float* inversa_normal);

/** The same on float points, every step in single precision; the scratch area is 24·n bytes.
 *  Same statuses.
 *  @param[in,out] pares           as in Hel3Dg___ptr_dbl, float points
 *  @param[in]     n               the number of pairs
 *  @param[out]    hel             the centred similarity
 *  @param[in]     aprox_general   flag: nonzero for the general start (used when n ≥ 9)
 *  @param[in]     centrar_en_sitio flag: nonzero to centre the points in place and allocate nothing
 *  @param[out]    inversa_normal  nine floats for the last inverse Newton matrix, or null
 *  @return the status, as in Hel3Dg___ptr_dbl */
ORIENTA_API int32_t Hel3Dg___ptr_fl(float* const* pares, uint32_t n, Hel3Dg_fl* hel, int32_t aprox_general,
                                    int32_t centrar_en_sitio, float* inversa_normal);

/* Beside the functions above: orienta_ names are this library's own. */

/** Chooses the kernels every estimator runs from now on, in the whole process: pedido = 0 the
 *  portable ones, 1 (the default) the AVX2 ones where the processor and the operating system
 *  support them; any other value changes nothing. Returns the kernels in use after the call:
 *  0 portable, 1 AVX2. Both give the same results to the last bit (NaN: any NaN), so this serves
 *  tests and comparisons; it is the one piece of state the library keeps. Safe from any thread;
 *  a call running meanwhile may finish on either kind, with the same results.
 *  @param[in] pedido the kernels wanted: 0 portable, 1 AVX2 where supported, anything else a query
 *  @return the kernels in use after the call: 0 portable, 1 AVX2 */
ORIENTA_API int32_t orienta_nucleos(int32_t pedido);

#ifdef __cplusplus
}
#endif

/* The least-squares adjustment (orienta_* extensions): any geometry, weights, statistics. */
#include "orienta_ajuste.h"

#endif /* ORIENTA_H */
