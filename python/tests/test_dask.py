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
