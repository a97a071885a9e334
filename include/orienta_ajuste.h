/*
 * orienta adjustment: rigorous least-squares estimation of transformations between point sets,
 * with the statistics of the fit, data snooping, and application forward and inverse.
 *
 * Every export here starts with orienta_; the estimators declared in orienta.h are unchanged.
 * Double precision only. No global state: every function is reentrant and thread-safe on distinct
 * records. orienta_ajusta takes one scratch area from the heap per call, n bytes and only when data
 * snooping is on (released before it returns); nothing else allocates.
 *
 * Model: target = T + s·R·source + e for the similarities (source error-free, e the target error),
 * target = T + A·source + e for the affine, and the centred polynomial of Trans_Polinomica2D_dbl for
 * the polynomials. Residuals are v = transformed source − target. R = Rz(κ)·Ry(φ)·Rx(ω), radians,
 * matrices by rows acting on column vectors, as everywhere in orienta.h.
 */
#ifndef ORIENTA_AJUSTE_H
#define ORIENTA_AJUSTE_H

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

/** Models (the `modelo` argument and field). Parameters u: 7, 4, 6, 12, 20, 6. */
enum {
  ORIENTA_HELMERT3D = 1, /**< 3D similarity: T (3), ω φ κ, s */
  ORIENTA_HELMERT2D = 2, /**< 2D similarity: T (2), α, s */
  ORIENTA_AFIN2D = 3,    /**< 2D affine: T (2), A (2×2) */
  ORIENTA_POLI2D_2 = 4,  /**< 2D polynomial of order 2 */
  ORIENTA_POLI2D_3 = 5,  /**< 2D polynomial of order 3 */
  ORIENTA_RIGIDO3D = 6   /**< 3D rigid motion (scale held at 1): T (3), ω φ κ */
};

/** Statuses. Zero is success; every negative status leaves every output untouched.
 *  orienta_estado_texto gives each one's cause in a line of English. */
enum {
  ORIENTA_OK = 0,
  ORIENTA_E_ARGUMENTO = -1,    /**< null pointer where one is required, unknown model, bad option
                                    (umbral negative or not finite, sigmas_por_par not 1 or, in 3D,
                                    2), a pointer or stride not aligned to 8 bytes */
  ORIENTA_E_POCOS = -2,        /**< fewer pairs than the model needs (orienta_modelo: min_pares) */
  ORIENTA_E_NO_FINITO = -3,    /**< a coordinate or σ is not finite, or a σ is not positive */
  ORIENTA_E_COINCIDENTES = -4, /**< all source points (or all target points) coincide */
  ORIENTA_E_COLINEALES = -5,   /**< source points on one line (3D similarity, affine, polynomials) */
  ORIENTA_E_RANGO = -6,        /**< the design matrix loses rank (its condition number passes 1e12):
                                    a polynomial's points on a conic or cubic, or a similarity whose
                                    targets do not correlate with the sources at all */
  ORIENTA_E_DESBORDA = -7,     /**< an intermediate overflowed: coordinates too large to square */
  ORIENTA_E_MEMORIA = -8,      /**< the scratch area was refused */
  ORIENTA_E_NO_CONVERGE = -9,  /**< Gauss–Newton did not converge in 50 steps (anisotropic weights
                                    only; each step is halved until vᵀPv does not grow and s > 0) */
  ORIENTA_E_PESO = -10,        /**< a σ so small or so large that its weight 1/σ² is not a finite
                                    normal number (σ must lie within about 1e-154 … 1e154) */
  ORIENTA_E_DIMINUTO = -11,    /**< the points differ, but so little that the square of their spread
                                    underflows (coordinates around 1e-160 or below: scale them up) */
  /* A stored record refused by orienta_valida (and so by orienta_aplica, orienta_invierte,
     orienta_parametros): */
  ORIENTA_E_MODELO = -12,          /**< unknown model, or a dim that is not the model's */
  ORIENTA_E_REG_NO_FINITO = -13,   /**< a value the model uses is not finite */
  ORIENTA_E_REG_TERMINOS = -14,    /**< a value the model has no place for: a scale, rotation or
                                        angles in an affine or polynomial, non-zero coefficients above
                                        a polynomial's order or in a model without them */
  ORIENTA_E_REG_SINGULAR = -15,    /**< the linear part is singular (scale 0, or a determinant that
                                        is zero to within rounding): no inverse exists. Also from
                                        orienta_ajusta when the fitted map is singular (an affine or
                                        polynomial fitted to targets on one line) */
  ORIENTA_E_REG_INCOHERENTE = -16, /**< parts stored twice disagree beyond rounding: matrix against
                                        scale·rotation, a rotation that is not proper, angles against
                                        the rotation, a polynomial's first-order terms in matriz
                                        against coef_x, coef_y; or a scale that is not positive */
  ORIENTA_E_REG_FALTA = -17,       /**< a stored record lacks a field its model needs (reported by
                                        the readers of stored records; see orienta_modelo: campos) */
  ORIENTA_E_REFLEJO = -18          /**< 2D similarity: the targets are a mirror image of the sources,
                                        so exactly that no rotation and scale fit them at all (the
                                        best proper map has scale 0) */
};

/** Maximum number of parameters of any model (order 3 polynomial). */
#define ORIENTA_MAX_PARAMETROS 20

/** A fitted transformation, complete and lossless: store every field at full precision (17
 *  significant digits) and the transformation is rebuilt exactly.
 *  Forward: p′ = centro_destino + matriz·(p − centro_origen) (+ for polynomials the terms of
 *  order 2 and 3, with dx, dy = p − centro_origen, in the term order of Trans_Polinomica2D_dbl).
 *  In 2D only the first two entries of the centres and the upper-left 2×2 block of the 3×3
 *  matrices are read; the rest hold 0 (centres) and the identity (matrices).
 *  A valid record (orienta_valida) holds finite values in what its model reads, keeps the values
 *  its model has no place for at their documented neutral value (NaN scale, identity rotation, zero
 *  angles and coefficients), has a non-singular linear part, and says the same thing where it says
 *  it twice: matriz = escala·rotacion (to 16 ulp of the scale), rotacion a proper rotation and the
 *  angles its angles (both to 4e-6, the rounding of a single-precision estimate), a polynomial's
 *  first-order coefficients in matriz and in coef_x, coef_y alike. Stored form: the keys of
 *  orienta_modelo_info.campos, named as there. */
typedef struct {
  int32_t modelo;           /**< ORIENTA_HELMERT3D … ORIENTA_POLI2D_3 */
  int32_t dim;              /**< 3 for ORIENTA_HELMERT3D, 2 otherwise */
  double centro_origen[3];  /**< c_o: the (weighted) source centroid ("source_centroid") */
  double centro_destino[3]; /**< c_d: the image of c_o ("target_centroid") */
  double matriz[9];         /**< linear part by rows ("matrix"): s·R for the similarities, A for
                                 the affine, the first-order coefficients for the polynomials */
  double escala;            /**< s > 0 for the similarities ("scale"); NaN for the others */
  double rotacion[9];       /**< R by rows for the similarities, a proper rotation ("rotation");
                                 the identity for the others */
  double angulos[3];        /**< 3D: ω, φ, κ of R as Gmatriz_ωφκ_seg reads them, φ in
                                 [−π/2, π/2] ("angles"); 2D similarity: α in angulos[0]
                                 (R = [cos α −sin α; sin α cos α]); 0 otherwise */
  double coef_x[9];         /**< polynomials: coefficients of dx, dy, dx², dx·dy, dy², dx³,
                                 dx²·dy, dx·dy², dy³ for x′ ("coef_x"; terms above the order 0);
                                 0 otherwise */
  double coef_y[9];         /**< the same for y′ ("coef_y") */
} orienta_transformacion;

/** What the library knows of a model, for every host that fits, stores or reads one: one table,
 *  so that names, counts and rules are stated once. Strings are static UTF-8, never null. */
typedef struct {
  int32_t modelo;                /**< ORIENTA_HELMERT3D … */
  int32_t dim;                   /**< coordinates of a point: 3 or 2 */
  int32_t orden;                 /**< polynomial order: 1 for the similarities and the affine */
  int32_t num_parametros;        /**< u, the reported parameters (orienta_estadisticas) */
  uint32_t min_pares;            /**< fewest pairs orienta_ajusta accepts */
  int32_t num_terminos;          /**< terms per coordinate in coef_x, coef_y: 0, 5 or 9 */
  int32_t num_angulos;           /**< entries of angulos the model uses: 3, 1 or 0 */
  const char* nombre;            /**< stored name: "helmert3d", "helmert2d", "affine2d", "poly2d"
                                      (the two polynomials, told apart by orden) */
  const char* descripcion;       /**< a few English words: "3D similarity" … */
  const char* const* parametros; /**< num_parametros parameter names in the reported order, e.g.
                                      tx ty tz omega phi kappa scale; polynomials x0 y0 cx_dx …
                                      cy_dy3 */
  const char* const* campos;     /**< the stored fields the model needs, null-terminated:
                                      source_centroid target_centroid matrix, then scale rotation
                                      angles (similarities) or coef_x coef_y (polynomials) */
} orienta_modelo_info;

/** The pairs to fit. Source point k is the dim doubles at (const char*)origen + k·paso_origen,
 *  target point k likewise; strides are signed byte counts, multiples of 8 (dim·8 for packed
 *  points). Points are only read. */
typedef struct {
  const double* origen;  /**< source point 0 (x, y[, z]), in the points' units */
  int64_t paso_origen;   /**< bytes from one source point to the next (signed, a multiple of 8) */
  const double* destino; /**< target point 0, in the target's units */
  int64_t paso_destino;  /**< bytes from one target point to the next */
  uint32_t n;            /**< pairs (may be 0 where a function says so) */
  /** A priori standard deviations, packed, sigmas_por_par per pair; null: unit weights. */
  const double* sigma;
  /** 1: one σ for every coordinate of the pair; 2 (3D only): plan σ (x, y), height σ (z). */
  int32_t sigmas_por_par;
  /** Data snooping threshold on |w|; 0 turns snooping off (3.29 is the usual choice). */
  double umbral;
} orienta_pares;

/** Statistics of a fit. Parameter order: 3D Tx Ty Tz ω φ κ s; 2D similarity Tx Ty α s (of
 *  target = T + s·R·source); affine Tx Ty a11 a12 a21 a22 (target = T + A·source); polynomials
 *  x0 y0 (centro_destino) then coef_x and coef_y of the terms the order uses (dx, dy, dx², dx·dy,
 *  dy² [, dx³, dx²·dy, dx·dy², dy³]). Angles in radians, s unitless. */
typedef struct {
  uint32_t usados;                           /**< pairs in the final fit */
  uint32_t excluidos;                        /**< pairs excluded by data snooping */
  int32_t num_parametros;                    /**< u */
  int32_t redundancia;                       /**< r = dim·usados − u */
  double vtpv;                               /**< vᵀPv of the final fit */
  double sigma0;                             /**< √(vᵀPv / r); NaN when r = 0 (and so the covariance) */
  int32_t con_sigma;                         /**< 1 when a priori σ were given (w is Baarda's), 0 (w is Pope's τ) */
  int32_t reflejo;                           /**< 1 when the best orthogonal map is a reflection (mirrored
                                                  input, 3D and 2D similarities); the rotation returned is
                                                  still proper, and fits worse than the reflection would */
  int32_t iteraciones;                       /**< Gauss–Newton iterations (0 when the closed form is the optimum,
                                                  and for the linear models) */
  int32_t tau_inalcanzable;                  /**< 1 when snooping without σ and the threshold exceeds √r, the
                                                  largest τ can be: no pair can be excluded */
  double condicion;                          /**< 2-norm condition number of the weighted design in the centred
                                                  internal parameters (3D: T_c, a small rotation, s; 2D: T_c and
                                                  the coefficients of source − centroid over its RMS spread), every
                                                  column scaled to unit norm */
  double chi2;                               /**< with σ: the global test statistic vᵀPv, χ²(r) if the σ hold;
                                                  NaN without σ */
  double chi2_p;                             /**< its upper-tail probability; NaN without σ or when r = 0 */
  double parametros[ORIENTA_MAX_PARAMETROS]; /**< the estimates in orienta_modelo_info.parametros order: metres,
                                                 radians, unitless scale */
  double desv[ORIENTA_MAX_PARAMETROS];       /**< standard deviations, √ of the covariance diagonal */
  double covarianza[ORIENTA_MAX_PARAMETROS * ORIENTA_MAX_PARAMETROS]; /**< σ0²·(AᵀPA)⁻¹, u×u by
                                                                           rows (row stride u) */
} orienta_estadisticas;

/** Per-observation results, n·dim doubles each in pair order (x, y[, z] of pair k at dim·k);
 *  every pointer may be null. Excluded pairs get v against the final fit, w = v/(σ̂·√q) with q the
 *  cofactor of a new observation minus its prediction ((1 + aᵀQa)/p, Q = (AᵀPA)⁻¹), and q_vv, r of
 *  NaN. w is NaN where r < 1e-10, an observation the fit does not control (e.g. r = 0 overall). */
typedef struct {
  double* v;         /**< residuals, transformed source − target */
  double* w;         /**< standardized residuals v/(σ̂·√q_vv): σ̂ = 1 with σ given, σ0 without */
  double* qvv;       /**< cofactors of the residuals (diagonal of Q_vv) */
  double* r;         /**< redundancy numbers q_vv·p */
  uint8_t* excluido; /**< n flags: 1 for a pair excluded by data snooping */
} orienta_observaciones;

/** Fits model to the pairs. The 3D similarity is the closed-form weighted optimum (exact for any
 *  rotation from 3 non-collinear pairs), refined by Gauss–Newton when plan and height σ differ.
 *  Data snooping (umbral > 0) runs while the redundancy after dropping a pair stays ≥ 1; a pair
 *  whose removal would leave a degenerate set is kept and snooping stops there.
 *  t, e and obs may each be null when not wanted. Returns ORIENTA_OK or a negative status; on a
 *  negative status nothing is written.
 *  @param[in] modelo an ORIENTA_* model code
 *  @param[in] pares the pairs, their σ and the snooping threshold (umbral, |w|; 0: none)
 *  @param[out] t the fitted transformation, or null
 *  @param[out] e the statistics, or null
 *  @param[out] obs where the per-pair arrays go (each pointer may be null), or null
 *  @return ORIENTA_OK, or the negative status of the first fault found */
ORIENTA_API int32_t orienta_ajusta(int32_t modelo, const orienta_pares* pares, orienta_transformacion* t,
                                   orienta_estadisticas* e, const orienta_observaciones* obs);

/* ------------------------------------------------------------------------------------------------
 * The fit in blocks: accumulate pairs, merge accumulators, solve, then pass over the pairs again
 * for the residuals and their share of vᵀPv. orienta_ajusta is these steps on one array; hosts
 * whose pairs do not fit in one place (a file read twice, chunks on a cluster) call them apart.
 *
 * The similarities (and the rigid motion) keep weighted, centred moments of the pairs (per
 * weight group where plan and height σ differ), merged by the pairwise update of Chan, Golub and
 * LeVeque, so blocks of projected coordinates lose nothing to cancellation; the affine and the
 * polynomials keep the triangular factor of a QR of their centred, scaled design (moments would
 * square its condition number), merged by stacking two factors in a common basis. In either case
 * the result does not depend on how the pairs were split into blocks, nor on the order of the
 * merges, beyond rounding.
 * --------------------------------------------------------------------------------------------- */

/** The statistics of some pairs for one model: plain data of fixed size (1 KB), to be copied,
 *  stored or sent anywhere as bytes. Fill it only with the functions below. */
typedef struct {
  int32_t modelo;         /**< the model it was started for */
  int32_t sigmas_por_par; /**< σ per pair in the blocks added: 0 (unit weights), 1, or 2 (3D) */
  int32_t anisotropo;     /**< 1 once a pair had different plan and height σ */
  int32_t reservado;      /**< 0 */
  uint64_t n;             /**< pairs accumulated */
  double d[128];          /**< the moments or the factor; not for reading */
} orienta_acumulador;

/** A solved fit: the transformation and what the residual pass and the statistics need (the
 *  cofactors of the internal parameters, the centre and scale of the design). Plain data. */
typedef struct {
  int32_t modelo;           /**< the model solved */
  int32_t sigmas_por_par;   /**< as in the accumulator solved */
  int32_t iteraciones;      /**< Gauss–Newton iterations (0: closed form, or a linear model) */
  int32_t reflejo;          /**< the best orthogonal map is a reflection (mirrored input; similarities) */
  uint64_t n;               /**< pairs in the fit */
  double condicion;         /**< as orienta_estadisticas.condicion */
  orienta_transformacion t; /**< the fitted transformation, valid for orienta_valida */
  double d[176];            /**< not for reading */
} orienta_solucion;

/** Starts an empty accumulator for modelo and blocks carrying sigmas_por_par σ a pair (0, 1, or 2
 *  in 3D). Returns ORIENTA_OK or ORIENTA_E_ARGUMENTO.
 *  @param[out] a the accumulator
 *  @param[in] modelo an ORIENTA_* model code
 *  @param[in] sigmas_por_par σ per pair of every block to come: 0, 1, or 2 (3D)
 *  @return ORIENTA_OK or ORIENTA_E_ARGUMENTO */
ORIENTA_API int32_t orienta_acumulador_inicia(orienta_acumulador* a, int32_t modelo, int32_t sigmas_por_par);

/** Adds the pairs of bloque (as orienta_ajusta reads them; umbral is ignored; its σ per pair must
 *  be the accumulator's: sigma null exactly when sigmas_por_par is 0). A block may hold no pair.
 *  Returns ORIENTA_OK, ORIENTA_E_ARGUMENTO, or the status of a pair orienta_valida_pares refuses
 *  (nothing added then).
 *  @param[in,out] a an accumulator started by orienta_acumulador_inicia
 *  @param[in] bloque the pairs to add
 *  @return ORIENTA_OK or a negative status (a unchanged then) */
ORIENTA_API int32_t orienta_acumulador_anade(orienta_acumulador* a, const orienta_pares* bloque);

/** a ← a merged with b (same model and σ per pair; a may equal b, doubling it).
 *  @param[in,out] a receives the merge
 *  @param[in] b the other accumulator, of the same model and σ count
 *  @return ORIENTA_OK or ORIENTA_E_ARGUMENTO */
ORIENTA_API int32_t orienta_acumulador_une(orienta_acumulador* a, const orienta_acumulador* b);

/** Takes the pairs of bloque back out of a (data snooping excludes a pair this way). The pairs
 *  must have been added before: removing others leaves meaningless moments. ORIENTA_E_RANGO when
 *  what remains cannot be factored (the pair was the only support of a parameter).
 *  @param[in,out] a the accumulator (unchanged on a negative status)
 *  @param[in] bloque pairs added to a before
 *  @return ORIENTA_OK, ORIENTA_E_ARGUMENTO or ORIENTA_E_RANGO */
ORIENTA_API int32_t orienta_acumulador_quita(orienta_acumulador* a, const orienta_pares* bloque);

/** Solves the fit of the pairs accumulated: the weighted least-squares optimum (Gauss–Newton on
 *  the moments when plan and height σ differ, until a step no longer changes the parameters
 *  beyond their rounding). The statuses of orienta_ajusta for degenerate sets; nothing written on
 *  a negative status.
 *  @param[in] a the accumulated pairs
 *  @param[out] s the solution
 *  @return ORIENTA_OK or a negative status */
ORIENTA_API int32_t orienta_resuelve(const orienta_acumulador* a, orienta_solucion* s);

/** The residual pass over a block of the pairs solved in s. *vtpv, if not null, receives the
 *  block's share of vᵀPv (over the pairs not excluded). obs, if not null, receives per pair and
 *  coordinate v, q_vv, r and w = v/(escala_w·√q_vv) as orienta_ajusta writes them (excluded pairs
 *  against the prediction, NaN q_vv and r); escala_w is 1 with a priori σ, σ0 without (from
 *  orienta_cierra; NaN leaves w as v/√q_vv, to be scaled later). excluido: null, or bloque->n
 *  flags (1: the pair is not in the fit); obs->excluido, if set, is written from it. Returns
 *  ORIENTA_OK or ORIENTA_E_ARGUMENTO (σ per pair not the solution's, null pointers).
 *  @param[in] s a solution from orienta_resuelve
 *  @param[in] bloque some of the pairs solved (umbral ignored)
 *  @param[in] excluido bloque->n flags, or null
 *  @param[in] escala_w σ̂ dividing w: 1 with σ, σ0 without, NaN for v/√q_vv
 *  @param[out] obs where the block's per-pair arrays go, or null
 *  @param[out] vtpv the block's share of vᵀPv, or null
 *  @return ORIENTA_OK or ORIENTA_E_ARGUMENTO */
ORIENTA_API int32_t orienta_residuos(const orienta_solucion* s, const orienta_pares* bloque, const uint8_t* excluido,
                                     double escala_w, const orienta_observaciones* obs, double* vtpv);

/** The statistics of the fit in s given its vᵀPv (the sum of orienta_residuos over all blocks),
 *  the pairs excluded (for the counts) and the snooping threshold used (for tau_inalcanzable;
 *  0 without snooping). Returns ORIENTA_OK, or ORIENTA_E_DESBORDA when they are not finite.
 *  @param[in] s the solution
 *  @param[in] vtpv vᵀPv over every block
 *  @param[in] excluidos pairs left out of the fit
 *  @param[in] umbral the snooping threshold used, |w| (0: none)
 *  @param[out] e the statistics
 *  @return ORIENTA_OK, ORIENTA_E_ARGUMENTO or ORIENTA_E_DESBORDA */
ORIENTA_API int32_t orienta_cierra(const orienta_solucion* s, double vtpv, uint32_t excluidos, double umbral,
                                   orienta_estadisticas* e);

/** The model table's row for modelo, or null for an unknown code.
 *  @param[in] modelo an ORIENTA_* model code
 *  @return the row (static storage), or null */
ORIENTA_API const orienta_modelo_info* orienta_modelo(int32_t modelo);

/** The EPSG name of the rotation convention a model's angles follow, or null for the models
 *  without angles (affine, polynomials): "position vector" for the similarities and the rigid
 *  motion, whose rotation turns the points (the position vectors) in a fixed frame, a positive
 *  angle counter-clockwise seen from the axis' positive end: R = Rz(κ)·Ry(φ)·Rx(ω) exactly (not its
 *  small-angle form), so target = T + s·R·source. A "coordinate frame" rotation by the same
 *  angles is Rᵀ; PROJ's exact coordinate-frame Helmert with the angles negated is this R (see
 *  orienta_proj). Stored records name it under "convention"; readers refuse another.
 *  @param[in] modelo an ORIENTA_* model code
 *  @return a static string, or null */
ORIENTA_API const char* orienta_convencion(int32_t modelo);

/** The one rule for a stored transformation (see orienta_transformacion): ORIENTA_OK, or the
 *  status of the first fault found (ORIENTA_E_MODELO, ORIENTA_E_REG_NO_FINITO,
 *  ORIENTA_E_REG_TERMINOS, ORIENTA_E_REG_SINGULAR, ORIENTA_E_REG_INCOHERENTE; ORIENTA_E_ARGUMENTO
 *  for a null t). campo, if not null, receives the stored name of the field at fault ("matrix",
 *  "rotation" …; null when none applies). Records written by orienta_ajusta and orienta_invierte
 *  are valid. orienta_aplica and orienta_invierte call it first.
 *  @param[in] t the record
 *  @param[out] campo the stored name of the field at fault, or null
 *  @return ORIENTA_OK or the status of the first fault */
ORIENTA_API int32_t orienta_valida(const orienta_transformacion* t, const char** campo);

/** The parameters a record stands for, in the order and units of orienta_estadisticas
 *  (translations T = c_d − matriz·c_o, the image of the origin, for the similarities and the
 *  affine). parametros receives orienta_modelo(t->modelo)->num_parametros doubles. Only the model
 *  and dim are checked (the parameters of a record orienta_valida refuses are what its fields
 *  say). Returns ORIENTA_OK, ORIENTA_E_MODELO, or ORIENTA_E_ARGUMENTO for a null pointer.
 *  @param[in] t the record
 *  @param[out] parametros num_parametros doubles: metres, radians, unitless scale
 *  @return ORIENTA_OK, ORIENTA_E_MODELO or ORIENTA_E_ARGUMENTO */
ORIENTA_API int32_t orienta_parametros(const orienta_transformacion* t, double* parametros);

/** The transformation as one PROJ operation (for cct, or a step of a +proj=pipeline), moving
 *  points as orienta_aplica does: a 3D similarity or rigid motion as "+proj=helmert +exact
 *  +convention=coordinate_frame" with +rx +ry +rz = −ω, −φ, −κ in arcseconds and +s = (s − 1)·10⁶
 *  ppm; a 2D similarity as "+proj=helmert" with +theta = −α in arcseconds and +s = s; the affine
 *  as "+proj=affine". Translations are the images of the origin; numbers are written shortest
 *  round trip. Writes at most largo bytes, the NUL included (nothing when largo is 0).
 *  @param[in] t a record orienta_valida accepts
 *  @param[out] texto largo bytes, or null when largo is 0
 *  @param[in] largo the room in texto
 *  @return the string's full length without the NUL (a larger largo is needed when it is ≥ largo),
 *          or a negative status: orienta_valida's, ORIENTA_E_MODELO for a polynomial (its PROJ form
 *          needs an area: orienta_proj_zona), ORIENTA_E_DESBORDA when the origin has no finite
 *          image, ORIENTA_E_ARGUMENTO */
ORIENTA_API int32_t orienta_proj(const orienta_transformacion* t, char* texto, uint32_t largo);

/** orienta_proj for every model, the polynomials included, given the area of the source the
 *  operation is for. The similarities and the affine are written as orienta_proj writes them
 *  (zona, if given, is only checked) and their inverse is PROJ's own, exact: *error_inversa = 0.
 *  A polynomial (order 2 or 3) becomes "+proj=horner +deg=3": +fwd_origin the source centroid
 *  c_o, +fwd_u and +fwd_v its coefficients with c_d as the constant term (the cubic ones 0 for
 *  order 2), in PROJ's term order, checked with cct of PROJ 9.1.1: u takes the coefficients of
 *  1, x, x², x³, y, xy, x²y, y², xy², y³ (the power of y outer), v those of 1, y, y², y³, x, xy,
 *  xy², x², x²y, x³ (the power of x outer), x, y the point minus the origin. PROJ's inverse of
 *  horner is a polynomial too (+inv_origin, +inv_u, +inv_v; PROJ before 9.1 has no other): it
 *  is fitted here, a third-order polynomial fitted by orienta_ajusta (target → source) to the
 *  images of a 25 × 25 grid over zona, its nodes spaced as Chebyshev–Lobatto points (denser
 *  towards the edges, where a least-squares fit strays most), and its worst round trip
 *  |inverse(forward(p)) − p| over a uniform 201 × 201 grid of zona (edges included) goes to
 *  *error_inversa, in source units. +range,
 *  which PROJ applies to |x| and |y| about +fwd_origin forward and about +inv_origin inverse,
 *  is 1.05 times the farthest such distance of the area and of its image: every point of the
 *  area (and of its image, backwards) is accepted; points beyond it up to +range are too, where
 *  the inverse was not measured. Allocates (the grids and the string) from the heap.
 *  @param[in] t a record orienta_valida accepts
 *  @param[in] zona xmin, ymin, xmax, ymax of the area in source units, finite, xmin < xmax and
 *             ymin < ymax (ORIENTA_E_ARGUMENTO otherwise); may be null for the models that
 *             need none (similarities, affine); null for a polynomial is ORIENTA_E_ARGUMENTO
 *  @param[out] texto largo bytes, or null when largo is 0
 *  @param[in] largo the room in texto, the NUL included (nothing written when 0)
 *  @param[out] error_inversa the inverse's worst round-trip error over zona in source units (0
 *              for the exact inverses), or null
 *  @return the string's full length without the NUL (a larger largo is needed when it is ≥
 *          largo), or a negative status: orienta_valida's, ORIENTA_E_ARGUMENTO (null t, null
 *          texto with largo > 0, a bad zona, a polynomial without one), ORIENTA_E_DESBORDA
 *          (a point of the area or its image not finite), the status of orienta_ajusta when the
 *          images of the grid admit no inverse fit (a map that folds the area flat),
 *          ORIENTA_E_MEMORIA */
ORIENTA_API int32_t orienta_proj_zona(const orienta_transformacion* t, const double zona[4], char* texto,
                                      uint32_t largo, double* error_inversa);

/** The six numbers of a world file (A D B E C F, one a line) for GDAL and QGIS, of a 2D similarity
 *  or affine fitted from pixel to map: the source coordinates are GDAL's pixel and line (origin at
 *  the outer corner of the first pixel), C F the image of that pixel's centre (0.5, 0.5), and a
 *  pixel centre (column i, row j) maps to (A·i + B·j + C, D·i + E·j + F).
 *  @param[in] t a record orienta_valida accepts
 *  @param[out] seis six doubles
 *  @return ORIENTA_OK, orienta_valida's status, ORIENTA_E_MODELO for other models,
 *          ORIENTA_E_DESBORDA or ORIENTA_E_ARGUMENTO */
ORIENTA_API int32_t orienta_mundo(const orienta_transformacion* t, double* seis);

/** Finds the first pair orienta_ajusta would refuse on its own: a coordinate or σ not finite, a σ
 *  not positive (ORIENTA_E_NO_FINITO), a σ outside the range of finite normal weights
 *  (ORIENTA_E_PESO). Returns that status with its index in *par, ORIENTA_OK when every pair passes
 *  (*par = n), or ORIENTA_E_ARGUMENTO for the faults orienta_ajusta refuses before reading a pair.
 *  For hosts that name the line of a file.
 *  @param[in] modelo an ORIENTA_* model code
 *  @param[in] pares the pairs
 *  @param[out] par the index of the first pair at fault (n when none)
 *  @return ORIENTA_OK or the status of the fault */
ORIENTA_API int32_t orienta_valida_pares(int32_t modelo, const orienta_pares* pares, uint32_t* par);

/** Carries n points through t (inversa = 0) or its inverse (inversa ≠ 0). Point k is read at
 *  (const char*)entrada + k·paso_entrada and written at (char*)salida + k·paso_salida (t->dim
 *  doubles each); entrada == salida with equal strides works in place. Similarities and the affine
 *  invert exactly in closed form (R^T/s, the adjugate); polynomials point by point by Newton
 *  iteration from the inverse of their linear part, to the rounding of the point (at most 100
 *  steps). A point whose image is not finite (non-finite input, an overflow, no preimage past a
 *  fold of a polynomial) is written as NaN in every coordinate and, if fallo is not null, flagged
 *  there with 1 (fallo receives n flags, 0 elsewhere).
 *  Returns the number of such points (0 = all done), orienta_valida's status for an invalid record,
 *  or ORIENTA_E_ARGUMENTO (entrada or salida null with n > 0; a pointer or stride not aligned to 8
 *  bytes). On a negative status nothing is written.
 *  @param[in] t a valid record
 *  @param[in] inversa 0: forward, otherwise the inverse
 *  @param[in] entrada the first point
 *  @param[in] paso_entrada bytes from one point to the next (a multiple of 8)
 *  @param[out] salida where the first image goes
 *  @param[in] paso_salida bytes from one image to the next (a multiple of 8)
 *  @param[in] n points
 *  @param[out] fallo n flags (1: no finite image), or null
 *  @return points without a finite image, or a negative status */
ORIENTA_API int64_t orienta_aplica(const orienta_transformacion* t, int32_t inversa, const double* entrada,
                                   int64_t paso_entrada, double* salida, int64_t paso_salida, uint64_t n,
                                   uint8_t* fallo);

/** The inverse of a similarity or an affine as a record of the same model (inv may equal t).
 *  Returns ORIENTA_OK, orienta_valida's status for an invalid record, ORIENTA_E_REG_SINGULAR when
 *  the inverse cannot be held in doubles (a linear part at the ends of the double range, whose
 *  inverse has a determinant or entries that overflow or underflow; inv is then not written), or
 *  ORIENTA_E_ARGUMENTO for polynomials (whose inverse has no record of the same model) and null
 *  pointers.
 *  @param[in] t a valid similarity or affine record
 *  @param[out] inv its inverse (may be t)
 *  @return ORIENTA_OK or a negative status */
ORIENTA_API int32_t orienta_invierte(const orienta_transformacion* t, orienta_transformacion* inv);

/** Carries n points forward through t, as orienta_aplica does, and writes the covariance of each
 *  image: C = J_θ·Σθ·J_θᵀ + J_x·Σx·J_xᵀ, J_θ and J_x the derivatives of the image with respect to
 *  the parameters (in orienta_estadisticas order and units) and to the point. Σθ is the fit's
 *  orienta_estadisticas.covarianza (u × u by rows, u = num_parametros; σ0² is in it); Σx the
 *  point's own covariance, or nothing where cov_entrada is null (the point taken as exact). Each
 *  covariance is t->dim × t->dim by rows, symmetric, in the squared units of the target: √C_ii is
 *  the σ of coordinate i. Computed in the centred form, so that near the centroid it does not lose
 *  digits to the large variances of the translation at the origin.
 *  The images follow orienta_aplica (in place works: entrada == salida, equal strides); the
 *  covariance outputs must not overlap the inputs. A point without a finite image gets NaN
 *  covariances too. Forward only: the precision of the inverse is not computed.
 *  Returns what orienta_aplica returns, orienta_valida's status for an invalid record,
 *  ORIENTA_E_REG_NO_FINITO for a covariance holding a value that is not finite, or
 *  ORIENTA_E_ARGUMENTO (null pointers with n > 0, pointers or strides not aligned to 8 bytes).
 *  @param[in] t a valid record
 *  @param[in] cov_parametros u × u doubles by rows
 *  @param[in] entrada the first point
 *  @param[in] paso_entrada bytes from one point to the next (a multiple of 8)
 *  @param[in] cov_entrada the first point's covariance (dim × dim by rows), or null
 *  @param[in] paso_cov_entrada bytes from one point's covariance to the next
 *  @param[out] salida where the first image goes
 *  @param[in] paso_salida bytes from one image to the next
 *  @param[out] cov_salida where the first image's covariance goes (dim × dim by rows)
 *  @param[in] paso_cov_salida bytes from one image's covariance to the next
 *  @param[in] n points
 *  @param[out] fallo n flags (1: no finite image), or null
 *  @return points without a finite image, or a negative status */
ORIENTA_API int64_t orienta_aplica_precision(const orienta_transformacion* t, const double* cov_parametros,
                                             const double* entrada, int64_t paso_entrada, const double* cov_entrada,
                                             int64_t paso_cov_entrada, double* salida, int64_t paso_salida,
                                             double* cov_salida, int64_t paso_cov_salida, uint64_t n, uint8_t* fallo);

/** A short English description of a status (a static string; never null).
 *  @param[in] estado a status code
 *  @return a static English sentence ("unknown status" for codes the library does not return) */
ORIENTA_API const char* orienta_estado_texto(int32_t estado);

/* ------------------------------------------------------------------------------------------------
 * Robust estimation: fits that survive wrong pairs (automatic matching leaves 30–70 % of them),
 * where data snooping, one pair at a time, fails because several large blunders mask each other.
 * Both methods end with orienta_ajusta, so the statistics (σ0, covariance, w) are those of a
 * rigorous fit.
 *
 * MSAC (ORIENTA_ROBUSTO_MSAC), a sample-consensus search:
 *  - a hypothesis is the fit of min_pares pairs (orienta_modelo: 3 for the 3D similarity, the
 *    rigid motion and the affine, 2 for the 2D similarity, 6 and 10 for the polynomials) drawn
 *    without repetition, solved with the block functions with unit weights (a minimal sample is an
 *    exact fit or nearly so); the 2D similarity and the affine solve theirs in closed form (the
 *    map through the pairs exactly). A degenerate sample (coincident, collinear to a part in 10⁹,
 *    or any negative status of orienta_resuelve) or one whose solution is not a finite, valid
 *    record is skipped and counted in orienta_robusto_info.degeneradas;
 *  - its score is the MSAC cost Σ min(r², T²) over every pair: r = ‖v‖ and T = umbral in the
 *    target's units when umbral > 0; with umbral 0 (σ required) r = ‖v/σ‖, coordinate by
 *    coordinate with the pair's σ (plan σ for x, y and height σ for z when two), and T the
 *    norm that all n good pairs pass together with probability 0.99 when their σ hold:
 *    T² = χ²(dim) at 0.99^(1/n) (one pair: √χ²(dim, 0.99), 3.0349 in 2D, 3.3682 in 3D; 1000
 *    pairs: 4.7975 and 5.0884), so that a clean set keeps every pair 99 times in 100, where a
 *    threshold per pair would leave out a hundredth of them. A pair is an inlier when r ≤ T;
 *  - each new best hypothesis is optimised locally: the least-squares fit (caller's σ) of the
 *    pairs within 3·T of it replaces it if it lowers the cost (a minimal sample fits its own pairs
 *    exactly and pushes their noise onto the others, so a good pair may lie beyond T of it), then
 *    the fit of its inliers, again while the inlier set grows, at most 4 rounds;
 *  - the search stops after N = ⌈log(1 − confianza)/log(1 − ε^m)⌉ samples, ε the inlier fraction
 *    of the best hypothesis so far and m = min_pares, or after max_iteraciones samples (degenerate
 *    ones included), whichever comes first;
 *  - the result is orienta_ajusta on the final inliers, packed in pair order, with the caller's σ
 *    and the caller's snooping (pares->umbral; 0: none): t and e are bit for bit those of
 *    orienta_ajusta on those pairs alone. The inlier set is that of the best hypothesis; it is
 *    not re-derived from the final fit.
 * IRLS (ORIENTA_ROBUSTO_HUBER, ORIENTA_ROBUSTO_DANES), iteratively reweighted least squares:
 *  - it starts from the consensus result above (more robust than the plain fit: the first
 *    weights already see the blunders), with the same umbral, confianza, max_iteraciones and
 *    semilla; when there is no threshold (umbral 0 and no σ) from the plain least-squares
 *    fit of all pairs;
 *  - each pair's standardized residual is u = √(‖v/σ‖²/dim)/σ̂ (σ = 1 without σ), an RMS over
 *    its coordinates; σ̂ = 1 with σ (they are trusted: a priori σ0 = 1), otherwise
 *    1.4826·median |v| over every coordinate of every pair (the median absolute residual, robust
 *    up to half the pairs), recomputed at each step;
 *  - weights: Huber w = min(1, 1.345/u); Danish w = 1 for u ≤ 2, exp(1 − (u/2)²) beyond
 *    (continuous at 2, and a pair at u = 6 already weighs 3e-4). Every weight is floored at 1e-12
 *    (and so that σ/√w ≤ 1e148), so that the scaled σ remain weights orienta_ajusta accepts;
 *  - a step is orienta_ajusta on every pair with σ_i/√w_i (the weights multiply the a priori
 *    weights), without snooping (pares->umbral is ignored: the weights do its work); it stops
 *    when no weight changes by 1e-6 or more, or after max_pasos steps (0: 100). The result
 *    is the fit of the final weights. Without the caller's σ its statistics are converted to
 *    those of relative weights: con_sigma 0, chi2 and chi2_p NaN, w divided by σ0.
 *
 * Degenerate input: fewer pairs than min_pares, or a best consensus of fewer, is ORIENTA_E_POCOS;
 * when no sample at all is non-degenerate (all points collinear or coincident) the status of the
 * last degenerate sample (ORIENTA_E_COLINEALES, ORIENTA_E_COINCIDENTES, ORIENTA_E_RANGO …); the
 * final fit's own statuses (orienta_ajusta's) pass through. Every negative status leaves every
 * output untouched.
 * Repeatability and threads: the samples come from a generator (xoshiro256** seeded through
 * splitmix64) owned by the call, so the same input, options and seed give the same bits every
 * time, on any thread. No global state; distinct calls may run at once. The call allocates its
 * scratch from the heap (a few bytes and doubles a pair) and releases it before it returns.
 * --------------------------------------------------------------------------------------------- */

/** Methods of orienta_robusto_opciones.metodo. */
enum {
  ORIENTA_ROBUSTO_MSAC = 1,  /**< sample consensus with the truncated quadratic cost */
  ORIENTA_ROBUSTO_HUBER = 2, /**< IRLS, Huber's weights, k = 1.345 */
  ORIENTA_ROBUSTO_DANES = 3  /**< IRLS, the Danish weights, c = 2 */
};

/** Options of orienta_robusto; all-zero fields take the defaults stated. */
typedef struct {
  int32_t metodo;           /**< ORIENTA_ROBUSTO_MSAC, _HUBER or _DANES */
  uint32_t max_iteraciones; /**< most samples drawn, by MSAC and by the start of IRLS (0: 10000) */
  double umbral;            /**< inlier threshold T on ‖v‖ in the target's units, finite, ≥ 0; 0:
                                 T on ‖v/σ‖ that all n good pairs pass with probability
                                 0.99, which needs σ (MSAC without either is
                                 ORIENTA_E_ARGUMENTO) */
  double confianza;         /**< probability of having drawn one clean sample at the adaptive
                                 stop, in [0, 1] (1: never stop early); 0: 0.999 */
  uint64_t semilla;         /**< the generator's seed: same seed, same result */
  uint32_t max_pasos;       /**< IRLS: most reweighting steps (0: 100); unused by MSAC */
  uint32_t reservado;       /**< 0 */
} orienta_robusto_opciones;

/** What a robust fit did. */
typedef struct {
  uint32_t iteraciones;      /**< samples drawn (0 when IRLS started from the plain fit) */
  uint32_t degeneradas;      /**< of which skipped as degenerate */
  uint32_t mejoras_locales;  /**< local optimisation refits that lowered the cost */
  uint32_t inliers;          /**< pairs flagged in inlier */
  uint32_t iteraciones_irls; /**< reweighting steps (0 for MSAC) */
  int32_t convergido;        /**< IRLS: 1 when the weights settled below 1e-6 (0 for MSAC) */
  int32_t umbral_de_sigma;   /**< 1 when the threshold is on ‖v/σ‖ (umbral 0 with σ) */
  int32_t reservado;         /**< 0 */
  double umbral;             /**< the threshold T used: target units, or σ units when
                                  umbral_de_sigma */
  double coste;              /**< the MSAC cost of the best hypothesis (+∞ without one) */
  double escala;             /**< IRLS: σ̂ of the final fit (1 with σ); 0 for MSAC */
  double cambio;             /**< IRLS: the largest weight change of the last step; 0 for MSAC */
} orienta_robusto_info;

/** A fit robust to wrong pairs, by sample consensus or reweighting (see above for the rules).
 *  Per pair, in pair order: inlier (n bytes) 1 for a pair of the final fit (MSAC: in the
 *  consensus and not excluded by snooping; IRLS: with u²·dim ≤ T², T as MSAC's threshold from σ, a
 *  pair a clean fit would keep), 0 otherwise; peso (n doubles) the final weights (MSAC: the inlier flags as 0 and
 *  1). obs gets every pair's v (outliers included) against the final fit, and q_vv, r, w as
 *  orienta_ajusta writes them: MSAC's outliers as excluded pairs (against the prediction, NaN q_vv
 *  and r, obs->excluido 1). Every output pointer may be null.
 *  @param[in] modelo an ORIENTA_* model code
 *  @param[in] pares the pairs and their σ; pares->umbral > 0 snoops MSAC's final fit
 *  @param[in] op the options (required)
 *  @param[out] t the fitted transformation, or null
 *  @param[out] e the statistics of the final fit, or null
 *  @param[out] obs per-observation arrays of n·dim doubles over every pair, or null
 *  @param[out] inlier n flags, or null
 *  @param[out] peso n weights, or null
 *  @param[out] info what the search did, or null
 *  @return ORIENTA_OK, ORIENTA_E_ARGUMENTO (null pares or op, unknown model or method, a bad
 *          umbral or confianza, MSAC without umbral and σ, orienta_ajusta's argument faults),
 *          orienta_valida_pares' status for a bad pair, ORIENTA_E_POCOS, the degenerate statuses
 *          above, ORIENTA_E_MEMORIA */
ORIENTA_API int32_t orienta_robusto(int32_t modelo, const orienta_pares* pares, const orienta_robusto_opciones* op,
                                    orienta_transformacion* t, orienta_estadisticas* e,
                                    const orienta_observaciones* obs, uint8_t* inlier, double* peso,
                                    orienta_robusto_info* info);

#ifdef __cplusplus
}
#endif

#endif /* ORIENTA_AJUSTE_H */
