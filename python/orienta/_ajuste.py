"""Least-squares fits, fitted transformations, and their JSON record."""

import ctypes
import os
import typing
import json
import math
import statistics
import warnings

import numpy as np
from numpy.typing import ArrayLike

from . import _biblioteca as _b
from . import _registro as _r
from ._entrada import identificadores, mismo_numero, puntos
from ._puntos import PointList

__all__ = ["Transformation", "FitResult", "FitError", "sidak_threshold", "helmert3d", "rigid3d", "helmert2d", "affine2d", "poly2d", "load"]

# Model codes of orienta_ajuste.h; everything else about a model comes from the library's table.
_HELMERT3D, _HELMERT2D, _AFIN2D, _POLI2D_2, _POLI2D_3, _RIGIDO3D = 1, 2, 3, 4, 5, 6
UMBRAL_USUAL = 3.29  # |w| beyond which data snooping excludes a pair when snoop=True
_Ids = typing.Union[typing.Sequence[str], PointList, None]
SIN_CONTROL = 0.1  # r below it: a blunder there is mostly absorbed by the fit, as the tool's report says


class FitError(ValueError):
    """A fit refused by the library: too few pairs, degenerate or non-finite data, no convergence.

    Attributes
    ----------
    status : int
        The library's negative status code (orienta_ajuste.h).
    pair : int or None
        The index of the first pair at fault, where the status is about one pair.
    """

    def __init__(self, status, pair=None):
        donde = "" if pair is None else f", first at pair {pair}"
        super().__init__(f"{_r.estado_texto(status)} (status {status}{donde})")
        self.status = status
        self.pair = pair

    def __reduce__(self):  # raised on a dask worker, it reaches the caller whole
        return FitError, (self.status, self.pair)


class Transformation:
    """A transformation from source to target coordinates, as the library records it.

    Obtained from a fit (``helmert3d`` …), from ``load``, or from ``inverse``. The record is
    lossless: ``load(t.to_json())`` rebuilds it bit for bit.

    Attributes
    ----------
    model : str
        "helmert3d", "helmert2d", "affine2d" or "poly2d".
    order : int
        1 for the similarities and the affine, 2 or 3 for polynomials.
    dim : int
        3 for helmert3d, 2 otherwise.
    matrix : ndarray, shape (dim, dim)
        The linear part: s·R for similarities, A for the affine, first-order terms for polynomials.
    rotation : ndarray, shape (dim, dim)
        R of a similarity (a proper rotation); the identity otherwise.
    scale : float
        s of a similarity; NaN otherwise.
    angles : ndarray
        Radians: (ω, φ, κ) with R = Rz(κ)·Ry(φ)·Rx(ω) in 3D, (α,) for the 2D similarity, empty otherwise.
    translation : ndarray, shape (dim,)
        The image of the origin: T in target = T + matrix·source for similarities and the affine.
    source_centroid, target_centroid : ndarray, shape (dim,)
        The centred form's centres: target_centroid is the image of source_centroid.
    is_inverse : bool
        True for the inverse of a polynomial, applied point by point by Newton iteration.
    """

    def __init__(self, registro, inversa=False, precision=None):
        self._t = registro
        self.is_inverse = bool(inversa)
        # The record's parameter_covariance, sigma0 and redundancy, kept for apply(precision=True)
        # and written back by to_json.
        self._precision = precision
        self._covarianza = None if precision is None else np.array(precision["parameter_covariance"], dtype=np.float64)

    # -- what the record holds -----------------------------------------------------------------
    @property
    def model(self):
        return _r.modelo(self._t.modelo).name

    @property
    def order(self):
        return _r.modelo(self._t.modelo).order

    @property
    def dim(self):
        return self._t.dim

    def _bloque(self, campo):
        return np.array(campo, dtype=np.float64).reshape(3, 3)[:self.dim, :self.dim].copy()

    @property
    def matrix(self):
        return self._bloque(self._t.matriz)

    @property
    def rotation(self):
        return self._bloque(self._t.rotacion)

    @property
    def scale(self):
        return float(self._t.escala)

    @property
    def angles(self):
        return np.array(self._t.angulos[:_r.modelo(self._t.modelo).num_angles], dtype=np.float64)

    @property
    def source_centroid(self):
        return np.array(self._t.centro_origen[:self.dim], dtype=np.float64)

    @property
    def target_centroid(self):
        return np.array(self._t.centro_destino[:self.dim], dtype=np.float64)

    @property
    def translation(self):
        """The image of the origin, T = c_d − matrix·c_o (the library's rule, as the tool prints it)."""
        if self.is_inverse or self._t.modelo in (_POLI2D_2, _POLI2D_3):
            return self.apply(np.zeros(self.dim))  # a polynomial's parameters start with x0, y0 instead
        p = np.empty(_r.modelo(self._t.modelo).num_parameters)
        _b.funcion("orienta_parametros")(ctypes.byref(self._t), p.ctypes.data)
        return p[:self.dim].copy()

    @property
    def record(self):
        """A copy of the C record (orienta_transformacion)."""
        return _b.Transformacion.from_buffer_copy(self._t)

    def __repr__(self):
        cual = "inverse of " if self.is_inverse else ""
        orden = f" order {self.order}" if self.model == "poly2d" else ""
        return f"<orienta.Transformation: {cual}{self.model}{orden}>"

    # -- using it ------------------------------------------------------------------------------
    def apply(self, points: ArrayLike, inverse: bool = False, out: "np.ndarray | None" = None,
              errors: str = "warn", precision: bool = False,
              point_covariance: "ArrayLike | None" = None,
              covariance_out: "np.ndarray | None" = None) -> "np.ndarray | tuple[np.ndarray, np.ndarray]":
        """Carries points through the transformation, in one library call for the whole array.

        Parameters
        ----------
        points : array_like, shape (n, dim) or (dim,)
            float64 arrays whose x, y (, z) are adjacent are read where they lie (any row stride,
            so column blocks of wider arrays pass without a copy); anything else, float32 and
            integers included, is copied once to float64.
        inverse : bool
            Apply the inverse instead (exact for similarities and the affine, Newton iteration for
            polynomials).
        out : ndarray, optional
            A writable float64 array of shape (n, dim) with adjacent coordinates to write into. It
            may be points itself (in place); any other overlap with points is refused.
        errors : {"warn", "raise", "ignore"}
            What happens when the image of some points is not a finite number (a non-finite
            point, a point so far out that its image overflows, no preimage of a polynomial):
            those points are NaN in every coordinate (``np.isnan(out[:, 0])`` finds them), and
            a RuntimeWarning says how many ("warn"), a ValueError is raised ("raise"), or
            nothing is said ("ignore").
        precision : bool
            Also return each image's covariance, J_θ·Σθ·J_θᵀ propagated from the fit's parameter
            covariance (a fit's result, or a record written with ``parameter_covariance``), plus
            J_x·Σx·J_xᵀ with ``point_covariance``. Forward only.
        point_covariance : array_like, shape (n, dim, dim), optional
            The points' own covariances, with precision=True.
        covariance_out : ndarray, optional
            With precision=True, a writable float64 array of shape (n, dim, dim) ((dim, dim) for a
            single point), each point's matrix contiguous, to write the covariances into instead
            of a new array (a caller that applies block after block reuses one and pays no page
            faults for it). It may not overlap points or out.

        Returns
        -------
        ndarray, or (ndarray, ndarray)
            out, or a new (n, dim) float64 array; (dim,) for a single point. With precision=True
            also the covariances, (n, dim, dim) ((dim, dim) for a single point), in the target's
            squared units: ``np.sqrt(np.diagonal(c, axis1=1, axis2=2))`` are the σ.

        Raises
        ------
        ValueError
            A wrong shape, an out that cannot take the result, or errors="raise" and a point
            without a finite image.
        TypeError
            Non-numeric points, or an out that is not a float64 ndarray.

        Warns
        -----
        RuntimeWarning
            With errors="warn", when some points have no finite image; those are NaN.
        """
        if errors not in ("warn", "raise", "ignore"):
            raise ValueError(f"errors must be 'warn', 'raise' or 'ignore', not {errors!r}")
        a = np.asarray(points)
        uno = a.ndim == 1
        if uno:
            a = a.reshape(1, -1)
        a = puntos(a, "points", self.dim, np.float64, contado=False)  # a 64-bit count
        n = a.shape[0]
        if out is None:
            out = np.empty((self.dim,) if uno else (n, self.dim), dtype=np.float64)
        else:
            if not isinstance(out, np.ndarray) or out.dtype != np.float64:
                raise TypeError("out must be a float64 numpy array")
            if out.shape != ((self.dim,) if uno else (n, self.dim)):
                raise ValueError(f"out must have the shape of points, {a.shape}, got {out.shape}")
            if not out.flags.writeable:
                raise ValueError("out must be writable")
            destino = out.reshape(1, -1) if uno else out
            if destino.strides[1] != 8 or destino.strides[0] % 8 or destino.ctypes.data % 8:
                raise ValueError("out must have x, y (, z) adjacent and rows a whole number of points apart")
            mismo = destino.ctypes.data == a.ctypes.data and destino.strides == a.strides
            if np.shares_memory(destino, a) and not mismo:
                raise ValueError("out overlaps points other than exactly (in place)")
        destino = out.reshape(1, -1) if uno else out
        inversa = bool(inverse) != self.is_inverse
        if precision:
            if inversa:
                raise ValueError("precision=True is of the forward transformation only")
            if self._covarianza is None:
                raise ValueError("this transformation carries no parameter covariance: use a fit's result, "
                                 "or a record written with one (parameter_covariance)")
            cov = np.ascontiguousarray(self._covarianza, dtype=np.float64)
            salida_cov = self._covarianzas_de_salida(covariance_out, n, uno, (a, destino))
            cx = None
            if point_covariance is not None:
                cx = np.ascontiguousarray(point_covariance, dtype=np.float64).reshape(-1, self.dim, self.dim)
                if cx.shape[0] != n:
                    raise ValueError(f"point_covariance must be ({n}, {self.dim}, {self.dim}), got {np.shape(point_covariance)}")
            paso_cov = 8 * self.dim * self.dim
            r = _b.funcion("orienta_aplica_precision")(
                ctypes.byref(self._t), cov.ctypes.data, a.ctypes.data, a.strides[0],
                None if cx is None else cx.ctypes.data, paso_cov, destino.ctypes.data, destino.strides[0],
                salida_cov.ctypes.data, salida_cov.strides[0], n, None)
        elif covariance_out is not None:
            raise ValueError("covariance_out is for precision=True")
        else:
            r = _b.funcion("orienta_aplica")(ctypes.byref(self._t), int(inversa), a.ctypes.data, a.strides[0],
                                             destino.ctypes.data, destino.strides[0], n, None)
        if r < 0:
            estado, campo = _r.valida(self._t)
            if estado != 0:
                raise ValueError(f"transform '{campo}': {_r.estado_texto(estado)}")
            raise ValueError(f"orienta_aplica refused the call: {_r.estado_texto(r)}")
        if r > 0 and errors != "ignore":
            que = ("the inverse did not converge" if inversa and self._t.modelo in (_POLI2D_2, _POLI2D_3)
                   else "the image is not a finite number")
            mensaje = f"{que} at {r} of {n} points; they are NaN"
            if errors == "raise":
                raise ValueError(mensaje)
            warnings.warn(mensaje, RuntimeWarning, stacklevel=2)
        if precision:
            if covariance_out is not None:
                return out, covariance_out
            return out, (salida_cov[0] if uno else salida_cov)
        return out

    def _covarianzas_de_salida(self, c, n, uno, otros):
        """covariance_out checked, as (n, dim, dim), or a new array."""
        d = self.dim
        if c is None:
            return np.empty((n, d, d), dtype=np.float64)
        if not isinstance(c, np.ndarray) or c.dtype != np.float64:
            raise TypeError("covariance_out must be a float64 numpy array")
        if c.shape != ((d, d) if uno else (n, d, d)):
            raise ValueError(f"covariance_out must have the shape {(d, d) if uno else (n, d, d)}, got {c.shape}")
        if not c.flags.writeable:
            raise ValueError("covariance_out must be writable")
        c3 = c.reshape(1, d, d) if uno else c
        if c3.strides[1:] != (8 * d, 8) or c3.strides[0] % 8 or c3.ctypes.data % 8:
            raise ValueError("covariance_out must hold each point's matrix contiguous, by rows")
        if any(np.shares_memory(c3, o) for o in otros):
            raise ValueError("covariance_out overlaps points or out")
        return c3

    def inverse(self) -> "Transformation":
        """The inverse transformation.

        Returns
        -------
        Transformation
            For similarities and the affine, a record of the same model computed in closed form;
            for polynomials, the same record marked inverse (``apply`` runs Newton per point, and
            ``to_json`` refuses it, since the JSON record has no inverse polynomial).

        Raises
        ------
        ValueError
            When the linear part is singular.
        """
        if self._t.modelo in (_POLI2D_2, _POLI2D_3):
            return Transformation(self.record, not self.is_inverse)
        inv = _b.Transformacion()
        estado = _b.funcion("orienta_invierte")(ctypes.byref(self._t), ctypes.byref(inv))
        if estado != 0:
            raise ValueError(f"this {self.model} cannot be inverted: {_r.estado_texto(estado)}")
        return Transformation(inv)

    # -- the JSON record -----------------------------------------------------------------------
    def _documento(self):
        if self.is_inverse:
            raise ValueError("the inverse of a polynomial has no JSON record; store the forward "
                             "transformation and apply it with inverse=True")
        registro = _r.a_documento(self._t)
        if self._precision is not None:
            registro.update(self._precision)
        return {"transform": registro}

    def to_json(self, indent: "int | None" = None) -> str:
        """The JSON document that ``orienta.load`` and ``orienta apply`` read.

        Its ``transform`` key holds the record; a fit adds, under the command-line tool's names,
        ``method``, ``pairs``, ``used``, ``redundancy``, ``sigma0`` and ``vtpv``.
        Numbers are written shortest-round-trip, so the record comes back bit for bit; non-finite
        values are written as null. Angles are radians.

        Parameters
        ----------
        indent : int, optional
            Passed to ``json.dumps``.

        Returns
        -------
        str
        """
        return json.dumps(_sin_no_finitos(self._documento()), indent=indent, allow_nan=False)

    def _exportable(self, que):
        if self.is_inverse:
            raise ValueError(f"the inverse of a polynomial has no {que}")

    def to_proj(self, area: "ArrayLike | None" = None) -> str:
        """The transformation as one PROJ operation, for ``cct`` or a step of a pipeline: what
        ``orienta export proj`` prints (the README's table gives the forms and their conventions).

        Parameters
        ----------
        area : array_like (xmin, ymin, xmax, ymax), optional
            For a polynomial, the source area its ``+proj=horner`` serves: PROJ needs the inverse
            as a polynomial too, fitted here over that area. A fit's result defaults to the box
            of the source points it used; a loaded record needs it.

        Raises
        ------
        ValueError
            A polynomial without an area, or a bad area. The inverse's accuracy over the area is
            in ``self.proj_inverse_error`` after the call (0 for the exact inverses).
        """
        self._exportable("PROJ form")
        zona = self._zona_por_omision() if area is None else area
        if zona is not None:
            zona = np.ascontiguousarray(zona, dtype=np.float64).reshape(-1)
            if zona.shape != (4,):
                raise ValueError(f"area must be (xmin, ymin, xmax, ymax), got {area!r}")
        direccion = None if zona is None else zona.ctypes.data
        error = ctypes.c_double(0.0)
        f = _b.funcion("orienta_proj_zona")
        largo = f(ctypes.byref(self._t), direccion, None, 0, ctypes.byref(error))
        if largo < 0:
            if zona is None and self._t.modelo in (_POLI2D_2, _POLI2D_3):
                raise ValueError("a polynomial's PROJ form (horner) needs area=(xmin, ymin, xmax, ymax): "
                                 "its inverse is fitted over it")
            raise ValueError(_r.estado_texto(largo))
        texto = ctypes.create_string_buffer(largo + 1)
        f(ctypes.byref(self._t), direccion, texto, largo + 1, ctypes.byref(error))
        self.proj_inverse_error = error.value
        return texto.value.decode("ascii")

    def _zona_por_omision(self):
        return None

    def world_file(self) -> str:
        """The six lines of a world file for GDAL and QGIS, of a 2D similarity or affine fitted
        from GDAL's pixel and line (origin at the outer corner of the first pixel) to map: what
        ``orienta export world`` prints.

        Raises
        ------
        ValueError
            For other models.
        """
        self._exportable("world file")
        seis = np.empty(6)
        estado = _b.funcion("orienta_mundo")(ctypes.byref(self._t), seis.ctypes.data)
        if estado != 0:
            raise ValueError(f"a world file holds a 2D similarity or affine map, not a {self.model}"
                             if estado == _r.E_MODELO else _r.estado_texto(estado))
        return "".join(f"{x!r}\n" for x in seis.tolist())


def _sin_no_finitos(x):
    if isinstance(x, dict):
        return {k: _sin_no_finitos(v) for k, v in x.items()}
    if isinstance(x, list):
        return [_sin_no_finitos(v) for v in x]
    if isinstance(x, float) and not math.isfinite(x):
        return None
    return x


class FitResult(Transformation):
    """A least-squares fit: the transformation and the statistics of the adjustment.

    Besides everything a Transformation has:

    Attributes
    ----------
    parameters : ndarray, shape (u,)
        In the order of parameter_names; angles in radians, scale unitless.
    parameter_names : tuple of str
    sd : ndarray, shape (u,)
        Standard deviations of the parameters.
    covariance : ndarray, shape (u, u)
        σ0²·(AᵀPA)⁻¹.
    sigma0 : float
        √(vᵀPv / redundancy); NaN when the redundancy is 0.
    redundancy : int
        dim·used − u.
    pairs : int
        Pairs given.
    used : int
        Pairs in the final fit (all but the excluded).
    residuals : ndarray, shape (n, dim)
        v = transformed source − target, pair by pair; excluded pairs against the final fit.
    w : ndarray, shape (n, dim)
        Standardized residuals: Baarda's with sigma given, Pope's τ without (NaN where the fit
        does not control the observation, r ≈ 0).
    qvv : ndarray, shape (n, dim)
        Cofactors of the residuals (σ0²·qvv is their variance); NaN for excluded pairs.
    redundancy_numbers : ndarray, shape (n, dim)
        r = qvv·p, each observation's share of the redundancy (they add up to it); NaN for
        excluded pairs.
    excluded : ndarray of bool, shape (n,)
        Pairs excluded by data snooping.
    vtpv, chi2, chi2_p, condition : float
        vᵀPv, the global test statistic and its upper-tail probability (NaN without sigma), and
        the condition number of the scaled design.
    iterations : int
        Gauss–Newton iterations (0 when the closed form is the optimum).
    excluded_count : int
        Pairs excluded by data snooping.
    with_sigma : bool
        True when a priori σ were given (w is then Baarda's, the χ² test meaningful).
    reflected : bool
        A similarity (3D or 2D) whose pairs a reflection fits better than any rotation (mirrored
        input: one system left-handed, x and y swapped); the rotation returned is still proper,
        and its residuals are large. ``summary()`` states it, ``residual_table()`` warns of it.
        An exact 2D mirror image, which no rotation fits at all, raises FitError instead.
    ids : tuple of str or None
        The pairs' point ids, as given to the fit (``ids=``); None without them.
    threshold : float
        The |w| beyond which a pair is flagged (and, with snooping, excluded): the snooping
        threshold, else 3.29. ``residual_table`` and ``summary`` give the MDB at it.
    tau_unreachable : bool
        Snooping without σ with a threshold above √redundancy, the largest τ can be.
    inliers, weights, robust : ndarray of bool (n,), ndarray (n,), dict; or None
        With robust=: the pairs kept, their final weights (msac: 0 or 1) and what the search did
        (method, seed, threshold, samples, steps, settled); None otherwise.
    stats : orienta_estadisticas
        The library's statistics record as it came back (Spanish field names; the attributes
        above are the same numbers).

    Notes
    -----
    The per-pair arrays (residuals, w, qvv, redundancy_numbers) are computed when first read,
    in one pass over the pairs with the solved fit, and kept. Without snooping that pass reads
    the source, target and sigma arrays the fit was given, where they lie: change them in place
    before reading those attributes and the arrays describe the new values, not the fit.
    """

    def __init__(self, registro, estadisticas, pasada, ids=None, threshold=UMBRAL_USUAL):
        super().__init__(registro)
        self.ids = ids
        self.threshold = float(threshold)
        e = estadisticas
        u = e.num_parametros
        self.parameter_names = _r.modelo(registro.modelo).parameter_names
        self.parameters = np.array(e.parametros[:u], dtype=np.float64)
        self.sd = np.array(e.desv[:u], dtype=np.float64)
        self.covariance = np.array(e.covarianza[:u * u], dtype=np.float64).reshape(u, u)
        self.sigma0 = float(e.sigma0)
        self.redundancy = int(e.redundancia)
        self.used = int(e.usados)
        self.vtpv, self.chi2, self.chi2_p, self.condition = float(e.vtpv), float(e.chi2), float(e.chi2_p), float(e.condicion)
        self.iterations = int(e.iteraciones)
        self.excluded_count = int(e.excluidos)
        self.with_sigma = bool(e.con_sigma)
        self.reflected = bool(e.reflejo)
        self.tau_unreachable = bool(e.tau_inalcanzable)
        self.pairs = pasada.n
        self.stats = e
        self._pasada = pasada
        self.inliers = self.weights = self.robust = None  # set by a robust fit
        if np.all(np.isfinite(self.covariance)):
            self._precision = {"parameter_covariance": self.covariance.tolist(), "sigma0": self.sigma0,
                               "redundancy": self.redundancy}
            self._covarianza = self.covariance

    residuals = property(lambda self: self._pasada.lee("v"), doc="v = transformed source − target, (n, dim).")
    w = property(lambda self: self._pasada.lee("w"), doc="Standardized residuals, (n, dim).")
    qvv = property(lambda self: self._pasada.lee("qvv"), doc="Cofactors of the residuals, (n, dim).")
    redundancy_numbers = property(lambda self: self._pasada.lee("r"), doc="Redundancy numbers, (n, dim).")
    excluded = property(lambda self: self._pasada.excluido.astype(bool), doc="Pairs excluded by snooping, (n,).")

    def _zona_por_omision(self):
        S = self._pasada._pares[0]
        if S.shape[1] != 2:
            return None
        usados = S[~self.excluded]
        return np.array([usados[:, 0].min(), usados[:, 1].min(), usados[:, 0].max(), usados[:, 1].max()])

    def minimal_detectable_bias(self, threshold: float = 3.29, power: float = 0.8):
        """Baarda's internal reliability, (n, dim): for each coordinate the smallest bias that data
        snooping at ``threshold`` finds with probability ``power``, δ0·σ/√r, with δ0 = threshold +
        the normal quantile of ``power``, σ the coordinate's a priori σ (σ0 without σ) and r its
        redundancy number. NaN for excluded pairs and where r < 1e-10 (no test can see a blunder
        there). The tool's report gives it at 3.29 (or its threshold) and 80 %."""
        delta0 = float(threshold) + statistics.NormalDist().inv_cdf(float(power))
        r = self.redundancy_numbers
        s = self._pasada.sigmas() if self.with_sigma else self.sigma0
        with np.errstate(invalid="ignore", divide="ignore"):
            return delta0 * s / np.sqrt(np.where(r >= 1e-10, r, np.nan))

    def _etiquetas(self):
        # Pairs without ids are named by their index into the per-pair arrays.
        return self.ids if self.ids is not None else tuple(f"pair {k}" for k in range(self.pairs))

    def residual_table(self, dataframe: "bool | None" = None, power: float = 0.8):
        """The per-pair table of the fit: one row a pair, in the order given.

        Columns: ``id`` (the pair's id; "pair k", k its index, without ids), ``vx vy (vz)`` the
        residuals, ``wx wy (wz)`` the standardized residuals, ``rx ry (rz)`` the redundancy numbers,
        ``mdbx mdby (mdbz)`` the minimal detectable biases at ``threshold`` and ``power``,
        ``excluded`` (by snooping) and ``uncontrolled`` (a pair used whose smallest r is below
        0.1: a blunder there hardly shows in its residual).

        Parameters
        ----------
        dataframe : bool, optional
            True for a pandas DataFrame, False for a numpy structured array; by default a
            DataFrame when pandas can be imported, else the structured array.
        power : float
            Of the MDB, as in ``minimal_detectable_bias``.

        Returns
        -------
        pandas.DataFrame or numpy structured array, shape (n,)
            The same columns either way: ``id`` is str (object in the DataFrame, ``<U…`` in the
            array), the flags bool, the rest float64 (NaN for the r and MDB of excluded pairs).
            The DataFrame's ``attrs`` hold model, threshold, sigma0 and reflected.

        Warns
        -----
        UserWarning
            When the fit is ``reflected``: the table's large residuals come from mirrored input.
        """
        try:
            import pandas
        except ImportError:
            pandas = None
        if dataframe is None:
            dataframe = pandas is not None
        elif dataframe and pandas is None:
            raise ImportError("residual_table(dataframe=True) needs pandas; dataframe=False gives a numpy array")
        ejes = "xyz"[:self.dim]
        etiquetas = self._etiquetas()
        bloques = (("v", self.residuals), ("w", self.w), ("r", self.redundancy_numbers),
                   ("mdb", self.minimal_detectable_bias(self.threshold, power)))
        campos = [("id", f"U{max(1, max(map(len, etiquetas)))}")]
        campos += [(f"{c}{e}", "f8") for c, _ in bloques for e in ejes] + [("excluded", "?"), ("uncontrolled", "?")]
        t = np.empty(self.pairs, dtype=campos)
        t["id"] = etiquetas
        for c, a in bloques:
            for i, e in enumerate(ejes):
                t[f"{c}{e}"] = a[:, i]
        fuera = self.excluded
        t["excluded"] = fuera
        r = self.redundancy_numbers
        t["uncontrolled"] = ~fuera & (np.where(np.isnan(r), np.inf, r).min(axis=1) < SIN_CONTROL)
        if self.reflected:
            warnings.warn(f"mirrored input: a reflection fits these pairs better than any rotation; the "
                          f"{self.model}'s residuals reflect that", UserWarning, stacklevel=2)
        if not dataframe:
            return t
        df = pandas.DataFrame({c: (t[c].astype(object) if c == "id" else t[c]) for c in t.dtype.names})
        df.attrs.update(model=self.model, threshold=self.threshold, sigma0=self.sigma0, reflected=self.reflected)
        return df

    def summary(self, units: str = "deg") -> str:
        """The report of the fit as text, laid out as the command-line tool's table: the model, the
        transformation, the parameters with their standard deviations, pairs, used, redundancy and
        σ0, the mirrored-input warning, the global χ² test (with σ), the correlations, and per pair
        v, |v|, w (flagged * beyond ``threshold``), the smallest r, the largest MDB, 'excluded' and
        'uncontrolled'; then the centred form.

        Parameters
        ----------
        units : {"deg", "rad", "gon", "arcsec", "dms"}
            Of the angles and their deviations; dms writes degrees, minutes and seconds.

        Scale prints as its deviation from 1 in ppm, or as the factor itself when it is far from
        1 (more than 1 %: pixels to metres), where ppm say nothing.
        """
        return _informe(self, units)

    def _documento(self):
        # The fit's unit-free summary under the command-line tool's keys, then the record.
        resumen = {"method": "adjustment", "pairs": self.pairs}
        resumen.update(super()._documento())
        resumen.update({"used": self.used, "redundancy": self.redundancy, "sigma0": self.sigma0, "vtpv": self.vtpv})
        return resumen

    def __repr__(self):
        return (f"<orienta.FitResult: {self.model} of {self.pairs} pairs, used {self.used}, "
                f"redundancy {self.redundancy}, sigma0 {self.sigma0:.6g}>")


class _Pasada:
    """The per-pair statistics of one fit: kept as computed, or computed on demand from the solution
    and the pairs (one residual pass per array asked for)."""

    _CAMPOS = ("v", "w", "qvv", "r")

    def __init__(self, n, dim, excluido, hechos=None, solucion=None, pares=None, escala=1.0):
        self.n, self.dim, self.excluido = n, dim, excluido
        self._hechos = dict(hechos or {})
        self._solucion, self._pares, self._escala = solucion, pares, escala

    def sigmas(self):
        _, _, sig, por_par = self._pares
        return _sigma_por_coordenada(sig, por_par, self.n, self.dim)

    def lee(self, campo):
        if campo not in self._hechos:
            a = np.empty((self.n, self.dim))
            obs = _b.Observaciones(**{campo: ctypes.cast(a.ctypes.data, _b.pd)})
            S, T, sig, por_par = self._pares
            estado = _b.funcion("orienta_residuos")(ctypes.byref(self._solucion), ctypes.byref(_pares(S, T, sig, por_par)),
                                                    None, self._escala, ctypes.byref(obs), None)
            if estado != 0:
                raise FitError(estado)
            self._hechos[campo] = a
        return self._hechos[campo]


def sidak_threshold(alpha: float, tests: int) -> float:
    """The snooping threshold at which all of `tests` standard normal tests together (one per
    coordinate: dim·n) exceed it on clean data with probability alpha (Šidák: each at
    1 − (1 − alpha)^(1/tests)); pass it as ``snoop=``. The command-line tool's ``--snoop-alpha``.

    Large clean sets keep their points with it, where the per-test 3.29 excludes about one
    observation in a thousand.
    """
    import statistics
    a, m = float(alpha), int(tests)
    if not (0 < a < 1) or m < 1:
        raise ValueError(f"alpha must lie between 0 and 1 and tests be ≥ 1, got {alpha!r}, {tests!r}")
    una = -math.expm1(math.log1p(-a) / m)
    return -statistics.NormalDist().inv_cdf(una / 2)  # from the lower tail: no 1 − tiny rounding


def _umbral(snoop):
    if snoop is None:
        return 0.0
    if isinstance(snoop, (bool, np.bool_)):
        return UMBRAL_USUAL if snoop else 0.0
    try:
        k = float(snoop)
    except (TypeError, ValueError):
        raise TypeError(f"snoop must be None, True or a threshold, not {type(snoop).__name__}") from None
    if not (math.isfinite(k) and k >= 0):
        raise ValueError(f"snoop must be a finite threshold ≥ 0 (0 turns snooping off), got {snoop!r}")
    return k


def _sigmas(sigma, n, dim):
    if sigma is None:
        return None, 0
    s = np.asarray(sigma)
    if s.dtype.kind not in "iuf":
        raise TypeError(f"sigma must hold real numbers, not {s.dtype}")
    if s.ndim == 0:
        s = np.full(n, s, dtype=np.float64)
    if s.ndim == 2 and s.shape[1] == 1:
        s = s[:, 0]
    por_par = 1 if s.ndim == 1 else (s.shape[1] if s.ndim == 2 else 0)
    if s.shape[0] != n or por_par not in (1, 2) or (por_par == 2 and dim != 3):
        formas = "(n,) or (n, 2) for plan and height σ" if dim == 3 else "(n,)"
        raise ValueError(f"sigma must be a number or have shape {formas} with n = {n}, got {s.shape}")
    return np.require(s, np.float64, ["C_CONTIGUOUS", "ALIGNED"]), por_par


def _sigma_por_coordenada(sig, por_par, n, dim):
    """The a priori σ of every coordinate, (n, dim): one σ a pair for all, or plan σ for x, y and
    height σ for z."""
    g = np.asarray(sig, dtype=np.float64).reshape(n, por_par)
    return g[:, [0] * dim] if por_par == 1 else g[:, [0, 0, 1]]


def _pares(S, T, sig, por_par, umbral=0.0):
    return _b.Pares(origen=ctypes.cast(S.ctypes.data, _b.pd), paso_origen=S.strides[0],
                    destino=ctypes.cast(T.ctypes.data, _b.pd), paso_destino=T.strides[0], n=S.shape[0],
                    sigma=None if sig is None else ctypes.cast(sig.ctypes.data, _b.pd),
                    sigmas_por_par=por_par, umbral=umbral)


def _entrada(dim, source, target, sigma):
    S = puntos(source, "source", dim, np.float64)
    T = puntos(target, "target", dim, np.float64)
    mismo_numero("source", S, "target", T)
    sig, por_par = _sigmas(sigma, S.shape[0], dim)
    return S, T, sig, por_par


def _comprueba(estado, n, modelo=None, pares=None, desde=0):
    if estado == _r.E_MEMORIA:
        raise MemoryError(f"orienta: the scratch area for {n} pairs was refused")
    if estado != 0:
        par = None
        if pares is not None and estado in (_r.E_NO_FINITO, _r.E_PESO):
            k = ctypes.c_uint32()
            if _b.funcion("orienta_valida_pares")(modelo, ctypes.byref(pares), ctypes.byref(k)) == estado:
                par = desde + k.value
        raise FitError(estado, par)


_METODOS_ROBUSTOS = {"msac": 1, "ransac": 1, "huber": 2, "danish": 3}


def _ajusta(modelo, dim, source, target, sigma, snoop, ids=None, robust=None, threshold=None, seed=1):
    S, T, sig, por_par = _entrada(dim, source, target, sigma)
    n = S.shape[0]
    nombres = identificadores(ids, n)
    umbral = _umbral(snoop)
    marca = umbral if umbral > 0 else UMBRAL_USUAL
    t, e = _b.Transformacion(), _b.Estadisticas()
    if robust is not None:
        return _ajusta_robusto(modelo, dim, S, T, sig, por_par, n, nombres, umbral, marca, robust, threshold, seed)
    if threshold is not None:
        raise ValueError("threshold applies only with robust=")
    if umbral > 0:
        # Snooping passes over the pairs anyway: the library writes every array as it ends.
        hechos = {c: np.empty((n, dim)) for c in _Pasada._CAMPOS}
        excluido = np.zeros(n, dtype=np.uint8)
        obs = _b.Observaciones(**{c: ctypes.cast(a.ctypes.data, _b.pd) for c, a in hechos.items()},
                               excluido=ctypes.cast(excluido.ctypes.data, ctypes.POINTER(ctypes.c_uint8)))
        p = _pares(S, T, sig, por_par, umbral)
        _comprueba(_b.funcion("orienta_ajusta")(modelo, ctypes.byref(p), ctypes.byref(t), ctypes.byref(e),
                                                ctypes.byref(obs)), n, modelo, p)
        return FitResult(t, e, _Pasada(n, dim, excluido, hechos, pares=(S, T, sig, por_par)), nombres, marca)
    # Without snooping: the statistics of the pairs, the solution, and vᵀPv in one more pass; the
    # per-pair arrays wait until they are asked for.
    a, s = _b.Acumulador(), _b.Solucion()
    p = _pares(S, T, sig, por_par)
    f = _b.funcion
    _comprueba(f("orienta_acumulador_inicia")(ctypes.byref(a), modelo, por_par), n)
    if n < _r.modelo(modelo).min_pairs:
        raise FitError(_r.E_POCOS)
    _comprueba(f("orienta_acumulador_anade")(ctypes.byref(a), ctypes.byref(p)), n, modelo, p)
    _comprueba(f("orienta_resuelve")(ctypes.byref(a), ctypes.byref(s)), n)
    vtpv = ctypes.c_double()
    _comprueba(f("orienta_residuos")(ctypes.byref(s), ctypes.byref(p), None, math.nan, None, ctypes.byref(vtpv)), n)
    _comprueba(f("orienta_cierra")(ctypes.byref(s), vtpv.value, 0, 0.0, ctypes.byref(e)), n)
    pasada = _Pasada(n, dim, np.zeros(n, dtype=np.uint8), solucion=s, pares=(S, T, sig, por_par),
                     escala=1.0 if e.con_sigma else e.sigma0)
    return FitResult(s.t, e, pasada, nombres, marca)


def _ajusta_robusto(modelo, dim, S, T, sig, por_par, n, nombres, umbral, marca, metodo, umbral_robusto, semilla):
    # The robust search ends with the rigorous fit of the pairs it keeps: its arrays are written
    # as it ends, like the snooping pass's.
    if metodo not in _METODOS_ROBUSTOS:
        raise ValueError(f"robust must be 'msac' (or 'ransac'), 'huber' or 'danish', not {metodo!r}")
    umbral_r = 0.0 if umbral_robusto is None else float(umbral_robusto)
    if not (umbral_r >= 0 and math.isfinite(umbral_r)):
        raise ValueError(f"threshold must be a positive distance in the target's units, not {umbral_robusto!r}")
    if umbral_r == 0 and sig is None and metodo in ("msac", "ransac"):
        raise ValueError("robust='msac' needs threshold= (the target's units) or sigma=")
    if isinstance(semilla, bool) or not isinstance(semilla, (int, np.integer)) or not 0 <= int(semilla) < 2**64:
        raise ValueError(f"seed must be a whole number from 0 to 2**64 - 1, not {semilla!r}")
    t, e, info = _b.Transformacion(), _b.Estadisticas(), _b.RobustoInfo()
    hechos = {c: np.empty((n, dim)) for c in _Pasada._CAMPOS}
    excluido = np.zeros(n, dtype=np.uint8)
    dentro, peso = np.zeros(n, dtype=np.uint8), np.zeros(n)
    obs = _b.Observaciones(**{c: ctypes.cast(a.ctypes.data, _b.pd) for c, a in hechos.items()},
                           excluido=ctypes.cast(excluido.ctypes.data, ctypes.POINTER(ctypes.c_uint8)))
    op = _b.RobustoOpciones(metodo=_METODOS_ROBUSTOS[metodo], umbral=umbral_r, semilla=int(semilla))
    p = _pares(S, T, sig, por_par, umbral)
    _comprueba(_b.funcion("orienta_robusto")(modelo, ctypes.byref(p), ctypes.byref(op), ctypes.byref(t), ctypes.byref(e),
                                             ctypes.byref(obs), dentro.ctypes.data, peso.ctypes.data,
                                             ctypes.byref(info)), n, modelo, p)
    r = FitResult(t, e, _Pasada(n, dim, excluido, hechos, pares=(S, T, sig, por_par)), nombres, marca)
    r.inliers = dentro.astype(bool)
    r.weights = peso
    r.robust = {"method": metodo, "seed": int(semilla), "threshold": info.umbral,
                "threshold_on_sigma": bool(info.umbral_de_sigma), "samples": int(info.iteraciones),
                "steps": int(info.iteraciones_irls), "settled": bool(info.convergido) or metodo in ("msac", "ransac")}
    if not r.robust["settled"]:
        warnings.warn(f"robust={metodo!r}: the weights did not settle in {info.iteraciones_irls} steps "
                      "(too many blunders? try robust='msac')", RuntimeWarning, stacklevel=3)
    return r


_DOC_AJUSTE = """{que}

Parameters
----------
source, target : array_like, shape (n, {dim})
    Matched points. float64 arrays with adjacent coordinates are read where they lie; anything
    else is copied once to float64.{extra}
sigma : float or array_like, optional
    A priori standard deviation of each pair's coordinates, in the points' units: one number for
    all, shape (n,) per pair{sigma3d}. None gives unit weights.
snoop : None, bool or float, optional
    Data snooping: pairs whose largest |w| exceeds the threshold are excluded one at a time and
    the fit repeated. True uses {umbral}; None, False or 0 turn it off.
ids : sequence of str, or a PointList, optional
    The pairs' point ids, n of them (whole numbers are taken as text), or the PointList the
    arrays came from (``read_points``): kept as ``FitResult.ids`` for ``residual_table`` and
    ``summary``.
robust : {{None, "msac", "ransac", "huber", "danish"}}, optional
    A fit that survives many wrong pairs: "msac" (or "ransac") draws minimal samples, scores them
    by Σ min(|v|², threshold²), refits the best on its inliers and keeps them (the others are
    excluded, as by snooping); "huber" (k = 1.345) and "danish" (c = 2) reweight every pair from
    that start. The result's statistics are those of the rigorous fit of what is kept, and it
    adds ``inliers`` (n bools), ``weights`` (n floats) and ``robust`` (what the search did). A
    reweighting that does not settle warns.
threshold : float, optional
    With robust: the inlier distance |v| in the target's units; None with sigma: the |v/σ|
    that all n good pairs pass together with probability 0.99 (n = 1000: 4.80 in 2D, 5.09 in 3D).
seed : int
    With robust: the samples' seed; the same seed gives the same result.

Returns
-------
FitResult

Raises
------
ValueError
    Wrong shapes, mismatched counts, a bad sigma or threshold, ids of another count.
TypeError
    Non-numeric input, ids that are not text.
FitError
    (a ValueError) too few pairs, non-finite data, coincident or collinear points, rank loss or
    overflow, with the library's status and message.
MemoryError
    The library's scratch area was refused.
"""


def helmert3d(source: ArrayLike, target: ArrayLike, sigma: "ArrayLike | None" = None,
              snoop: "bool | float | None" = None, ids: "_Ids" = None, robust: "str | None" = None,
              threshold: "float | None" = None, seed: int = 1) -> FitResult:
    return _ajusta(_HELMERT3D, 3, source, target, sigma, snoop, ids, robust, threshold, seed)


def rigid3d(source: ArrayLike, target: ArrayLike, sigma: "ArrayLike | None" = None,
            snoop: "bool | float | None" = None, ids: "_Ids" = None, robust: "str | None" = None,
            threshold: "float | None" = None, seed: int = 1) -> FitResult:
    return _ajusta(_RIGIDO3D, 3, source, target, sigma, snoop, ids, robust, threshold, seed)


def helmert2d(source: ArrayLike, target: ArrayLike, sigma: "ArrayLike | None" = None,
              snoop: "bool | float | None" = None, ids: "_Ids" = None, robust: "str | None" = None,
              threshold: "float | None" = None, seed: int = 1) -> FitResult:
    return _ajusta(_HELMERT2D, 2, source, target, sigma, snoop, ids, robust, threshold, seed)


def affine2d(source: ArrayLike, target: ArrayLike, sigma: "ArrayLike | None" = None,
             snoop: "bool | float | None" = None, ids: "_Ids" = None, robust: "str | None" = None,
             threshold: "float | None" = None, seed: int = 1) -> FitResult:
    return _ajusta(_AFIN2D, 2, source, target, sigma, snoop, ids, robust, threshold, seed)


def poly2d(source: ArrayLike, target: ArrayLike, order: int, sigma: "ArrayLike | None" = None,
           snoop: "bool | float | None" = None, ids: "_Ids" = None, robust: "str | None" = None,
           threshold: "float | None" = None, seed: int = 1) -> FitResult:
    if order not in (1, 2, 3) or isinstance(order, bool):
        raise ValueError(f"order must be 1, 2 or 3, got {order!r}")
    # Order 1 is the affine polynomial: the affine fit, with the affine's record.
    return _ajusta({1: _AFIN2D, 2: _POLI2D_2, 3: _POLI2D_3}[order], 2, source, target, sigma, snoop, ids, robust,
                   threshold, seed)


_S3 = ", or (n, 2) for plan (x, y) and height (z) σ"
helmert3d.__doc__ = _DOC_AJUSTE.format(que="Seven-parameter 3D similarity: target = T + s·R·source, "
                                       "R = Rz(κ)·Ry(φ)·Rx(ω).", dim=3, extra="", sigma3d=_S3, umbral=UMBRAL_USUAL)
rigid3d.__doc__ = _DOC_AJUSTE.format(que="Six-parameter 3D rigid motion: target = T + R·source, the scale held at 1 "
                                     "(R = Rz(κ)·Ry(φ)·Rx(ω)).", dim=3, extra="", sigma3d=_S3, umbral=UMBRAL_USUAL)
helmert2d.__doc__ = _DOC_AJUSTE.format(que="Four-parameter 2D similarity: target = T + s·R(α)·source.",
                                       dim=2, extra="", sigma3d="", umbral=UMBRAL_USUAL)
affine2d.__doc__ = _DOC_AJUSTE.format(que="Six-parameter 2D affine transformation: target = T + A·source.",
                                      dim=2, extra="", sigma3d="", umbral=UMBRAL_USUAL)
poly2d.__doc__ = _DOC_AJUSTE.format(
    que="Centred 2D polynomial of order 1, 2 or 3 in dx, dy = source − source centroid.", dim=2,
    extra="\norder : {1, 2, 3}\n    The polynomial's order; 1 is the affine (the same fit and record as affine2d).",
    sigma3d="", umbral=UMBRAL_USUAL)

# ------------------------------------------------------------------------------------------------
# The report of a fit, laid out as the command-line tool's table

# Per unit: the factor from radians (a product with the double nearest 180/π, 200/π, as the tool
# writes it) and the decimals of the table; dms writes degrees sexagesimally.
_UNIDADES = {"rad": (1.0, 10), "deg": (180.0 / math.pi, 8), "dms": (180.0 / math.pi, None),
             "gon": (200.0 / math.pi, 8), "arcsec": (648000.0 / math.pi, 5)}
_TERMINOS = ("dx", "dy", "dx^2", "dx*dy", "dy^2", "dx^3", "dx^2*dy", "dx*dy^2", "dy^3")


def _fijo(x, d):
    if not math.isfinite(x):
        return str(x)
    t = f"{x:.{d}f}"
    # A value that rounds to zero prints without its sign: "-0.000" reads as a fault.
    return t[1:] if t[0] == "-" and not t.strip("-0.") else t


def _sexagesimal(grados):
    if not math.isfinite(grados) or abs(grados) > 1e9:
        return repr(grados)
    # Rounded once, in whole 1e-5 seconds, so that 59.999999" carries into the minute.
    n = round(abs(grados) * 3600.0 * 1e5)
    cs, m, d = n % 6000000, (n // 6000000) % 60, n // 360000000
    return f"{'-' if grados < 0 and n > 0 else ''}{d}\u00b0{m:02d}'{cs // 100000:02d}.{cs % 100000:05d}\""


def _valor(x, d, cifras=14):
    """d decimals; None: sexagesimal degrees; -1: scientific with cifras digits."""
    if d is None:
        return _sexagesimal(x)
    if d < 0:
        return f"{x:.{cifras}e}" if math.isfinite(x) else str(x)
    return _fijo(x, d)


def _filas(filas, ancho):
    """Rows of (label, values, decimals[, text after]) as the tool prints them."""
    r = []
    for f in filas:
        etiqueta, valores, d = f[:3]
        sufijo = f[3] if len(f) > 3 else ""
        r.append("  " + etiqueta.ljust(22) + "".join(" " + _valor(x, d).rjust(ancho) for x in valores) + sufijo)
    return r


def _escala_factor(s):
    # Parts per million of a scale far from 1 (pixels to metres, feet to metres) say nothing.
    return abs(s - 1.0) > 0.01


def _parametros(f, unidad):
    """(key, label, value, sd, decimals) of each parameter, in the units the table prints."""
    factor_angulo, dec_angulo = _UNIDADES[unidad]
    factor = _escala_factor(f.scale) if f.model in ("helmert3d", "helmert2d") else False
    r = []
    for nombre, x, s in zip(f.parameter_names, f.parameters.tolist(), f.sd.tolist()):
        if nombre in ("tx", "ty", "tz", "x0", "y0"):
            r.append((nombre, nombre, x, s, 4))
        elif nombre in ("omega", "phi", "kappa", "rotation"):
            r.append((nombre, f"{nombre} ({unidad})", x * factor_angulo, s * factor_angulo, dec_angulo))
        elif nombre == "scale":
            r.append(("scale", "scale", x, s, 12) if factor
                     else ("scale_ppm", "scale (ppm)", (x - 1.0) * 1e6, s * 1e6, 4))
        else:
            r.append((nombre, nombre, x, s, -1 if f.model == "poly2d" else 12))
    return r


def _antes_y_despues(f, unidad):
    """The rows a model prints before the statistics and its sections after them."""
    factor_angulo, dec_angulo = _UNIDADES[unidad]
    co, cd, R, s = f.source_centroid, f.target_centroid, f.rotation, f.scale
    escala = ("scale", [s], 12, "   (held at 1: rigid3d)" if f.model == "rigid3d"
              else "" if _escala_factor(s) else f"   ({_fijo((s - 1.0) * 1e6, 4)} ppm)")
    if f.dim == 3:
        antes = [("translation T", f.translation, 4),
                 (f"omega phi kappa ({unidad})", f.angles * factor_angulo, dec_angulo), escala]
        centrada = [("source centroid", co, 4), ("target centroid", cd, 4)]
        centrada += [("rotation R, by rows" if i == 0 else " ", R[i], 12) for i in range(3)]
        return "target = T + scale*R*source,  R = Rz(kappa)*Ry(phi)*Rx(omega)", antes, [
            ("centred form: target = target centroid + scale*R*(source - source centroid)", centrada)], 16
    if f.model == "helmert2d":
        T = f.translation
        plano = -np.linalg.solve(f.matrix, T)  # target = scale*R*(source - t)
        antes = [("translation T", T, 4), (f"rotation ({unidad})", f.angles * factor_angulo, dec_angulo), escala]
        return "target = T + scale*R*source,  R = [cos -sin; sin cos] of the rotation", antes, [
            ("plain form: target = scale*R*(source - t)", [("t", plano, 4)]),
            ("centred form: target = target centroid + scale*R*(source - source centroid)",
             [("source centroid", co, 4), ("target centroid", cd, 4), ("cos, sin", [R[0, 0], R[1, 0]], 12)])], 16
    # The affine and the polynomials print the record of the centred polynomial.
    if f.model == "poly2d":
        cx, cy = list(f._t.coef_x), list(f._t.coef_y)
        usados = 5 if f.order == 2 else 9
    else:
        M = f.matrix
        cx, cy, usados = [M[0, 0], M[0, 1]], [M[1, 0], M[1, 1]], 2
    antes = [("(xc, yc)", co, 4), ("(x0, y0)", cd, 4), ("term", [], 0, " " + "cx".rjust(22) + " " + "cy".rjust(22))]
    antes += [(_TERMINOS[k], [cx[k], cy[k]], -1) for k in range(usados)]
    if math.isfinite(f.condition):
        antes.append(("condition number of the design", [], 0, " " + _fijo(f.condition, 1)))
    return "x' = x0 + sum cx[k]*term k,  y' = y0 + sum cy[k]*term k,  dx = x - xc, dy = y - yc", antes, [], 22


def _informe(f, unidad):
    if unidad not in _UNIDADES:
        raise ValueError(f"units must be one of {', '.join(_UNIDADES)}, not {unidad!r}")
    formula, antes, despues, ancho_valor = _antes_y_despues(f, unidad)
    orden = f"order {f.order}, " if f.model == "poly2d" else ""
    L = [f"orienta {f.model}: {orden}{f.pairs} pairs (least-squares adjustment)", "", "  " + formula]
    L += _filas(antes, ancho_valor)
    ps = _parametros(f, unidad)
    L += ["", "  " + "parameter".ljust(16) + " " + "value".rjust(20) + " " + "sd".rjust(16)]
    L += ["  " + et.ljust(16) + " " + _valor(x, d, 6).rjust(20) + " " + _valor(s, d, 6).rjust(16)
          for _, et, x, s, d in ps]
    unidad_s0 = " (unitless: residuals over their a priori sigma)" if f.with_sigma else " (units of the coordinates)"
    L += ["", f"  used {f.used} of {f.pairs} pairs, redundancy {f.redundancy}, "
              f"sigma0 {_fijo(f.sigma0, 4)}{unidad_s0}"]
    if f.reflected:
        L.append("  mirrored input: a reflection fits these pairs better than any rotation")
    if f.with_sigma:
        L.append(f"  global test: chi2 {_fijo(f.chi2, 3)} with {f.redundancy} degrees of freedom, p = "
                 f"{_fijo(f.chi2_p, 4)}: {'passes' if f.chi2_p >= 0.05 else 'fails'} at the 5% level")
    if f.tau_unreachable:
        L.append(f"  snooping can exclude nothing: no tau exceeds sqrt(redundancy) = "
                 f"{_fijo(math.sqrt(max(f.redundancy, 0)), 2)}, below the threshold {_fijo(f.threshold, 2)}")
    if len(ps) > 1 and f.used > 0:
        C = f.covariance
        with np.errstate(invalid="ignore", divide="ignore"):
            Q = C / np.sqrt(np.outer(np.diag(C), np.diag(C)))
        L += ["", "  correlations", "  " + " " * 12 + "".join(" " + p[0][:9].rjust(9) for p in ps)]
        L += ["  " + p[0].ljust(12) + "".join(" " + _fijo(q, 3).rjust(9) for q in fila)
              for p, fila in zip(ps, Q.tolist())]
    L += [""] + _tabla_residuos(f)
    for nota, filas in despues:
        L += ["", "  " + nota] + _filas(filas, ancho_valor)
    return "\n".join(L) + "\n"


def _tabla_residuos(f):
    d = f.dim
    etiquetas = f._etiquetas()
    ancho = max(12, min(32, max(map(len, etiquetas))))
    v, w, r = f.residuals, f.w, f.redundancy_numbers
    mdb = f.minimal_detectable_bias(f.threshold)
    fuera = f.excluded
    delta0 = f.threshold + statistics.NormalDist().inv_cdf(0.8)
    cual = "Baarda's, from the a priori sigma" if f.with_sigma else "Pope's tau, from sigma0"
    L = [f"  residuals v = transformed source - target; w standardized ({cual}), "
         f"* where |w| > {_fijo(f.threshold, 2)}",
         "  r redundancy number and MDB the smallest bias that test finds with 80% power "
         f"(delta0 {_fijo(delta0, 2)}), of",
         f"  the weakest coordinate; uncontrolled where r < {SIN_CONTROL}: a blunder there hardly shows",
         "  " + "id".ljust(ancho) + "".join(f" {'v' + e:>10}" for e in "xyz"[:d]) + f" {'|v|':>10}"
         + "".join(f" {'w' + e:>7}" for e in "xyz"[:d]) + f" {'r':>5} {'MDB':>9}"]
    for k, etiqueta in enumerate(etiquetas):
        vk, wk, rk, mk = v[k].tolist(), w[k].tolist(), r[k].tolist(), mdb[k].tolist()
        t = "  " + etiqueta.ljust(ancho) + "".join(" " + _fijo(x, 4).rjust(10) for x in vk)
        t += " " + _fijo(math.sqrt(sum(x * x for x in vk)), 4).rjust(10)
        t += "".join(" " + (_fijo(x, 2).rjust(7) if math.isfinite(x) else "      -") for x in wk)
        # The weakest coordinate of the pair: its smallest redundancy number and largest MDB.
        rmin = min(rk) if not any(math.isnan(x) for x in rk) else None
        mmax = max(mk) if all(math.isfinite(x) for x in mk) else None
        t += " " + (_fijo(rmin, 2).rjust(5) if rmin is not None else "    -")
        t += " " + (_fijo(mmax, 4).rjust(9) if mmax is not None else "        -")
        if fuera[k]:
            t += "  excluded"
        else:
            if max((abs(x) for x in wk if math.isfinite(x)), default=0.0) > f.threshold:
                t += "  *"
            if rmin is not None and rmin < SIN_CONTROL:
                t += "  uncontrolled"
        L.append(t)
    usados = ~fuera
    def rms(a):
        return math.sqrt(float(np.sum(a[usados] ** 2)) / f.used) if f.used else math.nan
    linea = "  " + "RMS of |v|".ljust(ancho) + " " * (11 * d) + " " + _fijo(rms(v), 4).rjust(10)
    if d == 3:
        linea += f"   plan {_fijo(rms(v[:, :2]), 4)}, height {_fijo(rms(v[:, 2]), 4)}"
    L.append(linea + (" (excluded pairs left out)" if f.excluded_count > 0 else ""))
    if fuera.any():
        L += ["", f"  excluded by data snooping (|w| > {_fijo(f.threshold, 2)}), residuals against the final fit: "
              + " ".join(etiquetas[k] for k in np.flatnonzero(fuera))]
    return L


# ------------------------------------------------------------------------------------------------
# Reading the JSON record back


def load(source: "str | os.PathLike | dict | typing.IO") -> Transformation:
    """Reads a transformation from its JSON record.

    The record is checked by the library's validator, the same rule the command-line tool's
    ``apply`` and every reader follow: a record that lacks a field its model needs, holds a
    null or non-finite value where its model uses one, holds values its model has no place for,
    whose parts disagree beyond rounding or whose linear part is singular is refused, naming the
    field.

    Parameters
    ----------
    source : str, path-like, file or dict
        JSON text (a string starting with ``{``), the path of a file holding it, an open file, or
        the parsed document. The document may be the whole output of ``orienta … --json`` or of
        ``to_json`` (only its ``transform`` key is read) or a bare transform object.

    Returns
    -------
    Transformation

    Raises
    ------
    ValueError
        Not JSON, no transform, an unknown model, a field of the wrong size or kind, or a record
        the validator refuses.
    OSError
        The file cannot be read.
    """
    doc, donde = _r.lee_documento(source)
    return Transformation(_r.de_documento(doc, donde), precision=_r.precision(doc, donde))
