import os

import dask
import dask.array as da
import numpy as np
import pytest
from dask.distributed import Client, LocalCluster

import orienta
import orienta.dask
from conftest import lee_pares, mismos_bits


@pytest.fixture(scope="module")
def cliente():
    # Two worker processes, as on a real cluster: each imports orienta and loads the library
    # itself (the environment carries PYTHONPATH and ORIENTA_LIBRARY to them).
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as c:
        yield c


def test_apply_on_the_cluster_equals_numpy_bit_for_bit(cliente, datos):
    # Millions of points both ways, the record sent as an object and as its JSON.
    ajuste = orienta.helmert3d(*lee_pares(os.path.join(datos, "control3d.txt"), 3))
    centro = ajuste.source_centroid
    puntos = da.random.RandomState(5).uniform(-300, 300, size=(3_000_000, 3), chunks=(400_000, 3)) + centro
    ida = orienta.dask.apply(ajuste, puntos)
    p, q, r = dask.compute(puntos, ida, orienta.dask.apply(ajuste.to_json(), ida, inverse=True))
    assert q.shape == p.shape and q.dtype == np.float64
    assert mismos_bits(q, ajuste.apply(p)) and mismos_bits(r, ajuste.apply(q, inverse=True))
    # Chunks that split x from y are joined; the inverse of a polynomial travels as the forward
    # record with the direction flag.
    poli = orienta.poly2d(*lee_pares(os.path.join(datos, "control2d.txt"), 2), order=2)
    imagen = poli.apply(np.random.default_rng(3).uniform(-400, 400, size=(50_000, 2)) + poli.source_centroid)
    r = orienta.dask.apply(poli.inverse(), da.from_array(imagen, chunks=(7_000, 1))).compute()
    assert mismos_bits(r, poli.inverse().apply(imagen))


def _nube(n, semilla, dim=3):
    g = np.random.default_rng(semilla)
    S = g.uniform(-800, 800, (n, dim)) + [4.5e6, 5.2e5, 310.0][:dim]
    T = S * 1.00002 + [12.5, -7.25, 3.0][:dim] + g.normal(0, 0.01, (n, dim))
    T[[11, n // 2, n - 3], 0] += [0.4, -0.6, 0.5]  # three blunders, in three different blocks
    return S, T


AJUSTES = [("helmert3d", 3, {}), ("rigid3d", 3, {}), ("helmert2d", 2, {}), ("affine2d", 2, {}),
           ("poly2d", 2, {"order": 3}), ("helmert3d", 3, {"sigma": "plan-altura"}), ("helmert2d", 2, {"sigma": 0.01})]


@pytest.mark.parametrize("nombre,dim,opciones", AJUSTES, ids=[f"{a[0]}-{a[2]}" for a in AJUSTES])
def test_fit_on_blocks_equals_the_fit_in_one_process(cliente, nombre, dim, opciones):
    S, T = _nube(60_000, 1, dim)
    opciones, troceado = dict(opciones), dict(opciones)
    if opciones.get("sigma") == "plan-altura":
        opciones["sigma"] = np.column_stack([np.full(len(S), 0.01), np.linspace(0.01, 0.03, len(S))])
        troceado["sigma"] = da.from_array(opciones["sigma"], chunks=(7_000, -1))
    local = getattr(orienta, nombre)(S, T, snoop=4.0, **opciones)
    repartido = getattr(orienta.dask, nombre)(da.from_array(S, chunks=(9_000, dim)), T, snoop=4.0, **troceado)
    # The same pairs excluded, and the same optimum to rounding on coordinates of 4.5e6 m.
    assert repartido.excluded_count == local.excluded_count >= 3
    assert np.array_equal(repartido.excluded.compute(), local.excluded)
    # The translations are images of the origin, 4.5e6 m away: compare the maps where the points are.
    assert np.max(abs(repartido.apply(S) - local.apply(S))) < 4e-9
    assert np.allclose(repartido.matrix, local.matrix, rtol=0, atol=1e-14)
    assert abs(repartido.sigma0 - local.sigma0) < 1e-9 * local.sigma0
    escala = np.sqrt(np.outer(np.diag(local.covariance), np.diag(local.covariance)))
    assert np.all(abs(repartido.covariance - local.covariance) <= 1e-6 * escala)
    v, w = dask.compute(repartido.residuals, repartido.w)
    assert np.max(abs(v - local.residuals)) < 1e-8
    assert np.nanmax(abs(w - local.w)) < 1e-6 and np.array_equal(np.isnan(w), np.isnan(local.w))


_S, _T = _nube(1_000, 2)
_T[777, 2] = np.nan
_H2 = orienta.helmert2d(_S[:, :2], _T[:, :2])
MALOS = [
    (lambda: orienta.dask.apply(_H2, da.zeros((10, 3))), ValueError, r"shape \(n, 2\)"),
    (lambda: orienta.dask.apply({"transform": {}}, da.zeros((10, 2))), TypeError, "Transformation or its JSON"),
    (lambda: orienta.dask.apply('{"transform": {"model": "conformal"}}', da.zeros((10, 2))), ValueError, "model"),
    # A fit names the pair by its index in the whole array, not in its block.
    (lambda: orienta.dask.helmert3d(da.from_array(_S, chunks=(300, 3)), _T), orienta.FitError, "first at pair 777"),
    (lambda: orienta.dask.helmert2d(_S[:1, :2], _T[:1, :2]), orienta.FitError, "status -2"),
    (lambda: orienta.dask.helmert3d(_S, _T[:-1]), ValueError, "shape of source"),
    (lambda: orienta.dask.helmert2d(_S[:, :2], _T[:, :2], sigma=np.ones((1_000, 2))), ValueError, "sigma must be"),
]


@pytest.mark.parametrize("llamada,error,mensaje", MALOS, ids=[m[2] for m in MALOS])
def test_bad_arguments_are_refused_naming_their_cause(llamada, error, mensaje):
    with pytest.raises(error, match=mensaje):
        llamada()
