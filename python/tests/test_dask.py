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


def test_cluster_equals_numpy_bit_for_bit_on_millions_of_points(cliente, datos):
    ajuste = orienta.helmert3d(*lee_pares(os.path.join(datos, "control3d.txt"), 3))
    centro = ajuste.source_centroid
    puntos = da.random.RandomState(5).uniform(-300, 300, size=(3_000_000, 3), chunks=(400_000, 3)) + centro
    ida = orienta.dask.apply(ajuste, puntos)
    vuelta = orienta.dask.apply(ajuste.to_json(), ida, inverse=True)
    p, q, r = dask.compute(puntos, ida, vuelta)
    assert q.shape == p.shape and q.dtype == np.float64
    assert mismos_bits(q, ajuste.apply(p))
    assert mismos_bits(r, ajuste.apply(q, inverse=True))


def test_inverse_polynomial_and_column_chunks(cliente, datos):
    ajuste = orienta.poly2d(*lee_pares(os.path.join(datos, "control2d.txt"), 2), order=2)
    puntos = np.random.default_rng(3).uniform(-400, 400, size=(50_000, 2)) + ajuste.source_centroid
    imagen = ajuste.apply(puntos)
    # Chunks that split x from y are joined; the inverse of a polynomial travels as the forward
    # record with the direction flag.
    troceado = da.from_array(imagen, chunks=(7_000, 1))
    r = orienta.dask.apply(ajuste.inverse(), troceado).compute()
    assert mismos_bits(r, ajuste.inverse().apply(imagen))


def test_bad_arguments(datos):
    ajuste = orienta.helmert2d(*lee_pares(os.path.join(datos, "control2d.txt"), 2))
    with pytest.raises(ValueError, match=r"shape \(n, 2\)"):
        orienta.dask.apply(ajuste, da.zeros((10, 3)))
    with pytest.raises(TypeError, match="Transformation or its JSON"):
        orienta.dask.apply({"transform": {}}, da.zeros((10, 2)))
    with pytest.raises(ValueError, match="model"):
        orienta.dask.apply('{"transform": {"model": "conformal"}}', da.zeros((10, 2)))


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
    opciones = dict(opciones)
    if opciones.get("sigma") == "plan-altura":
        opciones["sigma"] = np.column_stack([np.full(len(S), 0.01), np.linspace(0.01, 0.03, len(S))])
    local = getattr(orienta, nombre)(S, T, snoop=4.0, **opciones)
    troceado = dict(opciones)
    if isinstance(opciones.get("sigma"), np.ndarray):
        troceado["sigma"] = da.from_array(opciones["sigma"], chunks=(7_000, -1))
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


def test_fit_refusals_name_the_pair_in_the_whole_array():
    S, T = _nube(1_000, 2)
    T[777, 2] = np.nan
    with pytest.raises(orienta.FitError, match="first at pair 777"):
        orienta.dask.helmert3d(da.from_array(S, chunks=(300, 3)), T)
    with pytest.raises(orienta.FitError, match="status -2"):
        orienta.dask.helmert2d(S[:1, :2], T[:1, :2])
    with pytest.raises(ValueError, match="shape of source"):
        orienta.dask.helmert3d(S, T[:-1])
    with pytest.raises(ValueError, match="sigma must be"):
        orienta.dask.helmert2d(S[:, :2], T[:, :2], sigma=np.ones((1_000, 2)))
