"""Transforms a large point set stored as chunked .npy files on a local two-worker dask cluster.

A 3D similarity is fitted to the bundled control points (a total-station frame to UTM). A point
set in the source frame, stored as a stack of .npy files (one per chunk, made here on the first
run), is read lazily, carried through the transformation by two worker processes, and written
as another stack of .npy files. The transformation reaches the workers as its JSON record; each
worker loads liborienta itself. One chunk is then checked against the plain numpy path.

    /usr/bin/python3 transforma_npy.py [--puntos N] [--trozo N] [--carpeta DIR]

From a checkout it finds the package beside its folder; installed, put the package's site
directory on PYTHONPATH if the interpreter does not look there.
"""

import argparse
import os
import sys
import time

import dask.array as da
import numpy as np
from dask.distributed import Client, LocalCluster

try:
    import orienta
except ImportError:
    # Run from a checkout without PYTHONPATH: the package is python/orienta beside this folder.
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    import orienta
import orienta.dask


def control3d():
    """The bundled control points, from the checkout or from an installed share/orienta/examples."""
    aqui = os.path.dirname(os.path.abspath(__file__))
    for carpeta in (os.environ.get("ORIENTA_DATOS"), os.path.join(aqui, "..", "data"),
                    os.path.join(aqui, "..", "..", "examples", "data")):
        if carpeta and os.path.exists(os.path.join(carpeta, "control3d.txt")):
            tabla = np.loadtxt(os.path.join(carpeta, "control3d.txt"), comments="#", usecols=range(1, 7))
            return tabla[:, :3], tabla[:, 3:]
    raise SystemExit("control3d.txt not found; set ORIENTA_DATOS to examples/data")


def main():
    opciones = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    opciones.add_argument("--puntos", type=int, default=5_000_000, help="points in the set (default 5e6)")
    opciones.add_argument("--trozo", type=int, default=500_000, help="points per .npy file (default 5e5)")
    opciones.add_argument("--carpeta", default="orienta_npy", help="where the two stacks go")
    args = opciones.parse_args()

    origen, destino = control3d()
    ajuste = orienta.helmert3d(origen, destino)
    print(f"fitted: scale {ajuste.scale:.12f}, sigma0 {ajuste.sigma0:.4f} m, redundancy {ajuste.redundancy}")

    # The workers are new processes: they find the package and the library the way this one did.
    os.environ["PYTHONPATH"] = os.pathsep.join(
        filter(None, [os.path.dirname(os.path.dirname(orienta.__file__)), os.environ.get("PYTHONPATH")]))
    os.environ["ORIENTA_LIBRARY"] = orienta.library_path

    pila_origen = os.path.join(args.carpeta, "origen")
    pila_destino = os.path.join(args.carpeta, "destino")
    os.makedirs(args.carpeta, exist_ok=True)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster):
        if not os.path.exists(os.path.join(pila_origen, "info")):
            # Points around the control points' site, made on the workers, chunk by chunk.
            centro = origen.mean(axis=0)
            aleatorio = da.random.RandomState(1)
            puntos = aleatorio.uniform(-250, 250, size=(args.puntos, 3), chunks=(args.trozo, 3)) + centro
            da.to_npy_stack(pila_origen, puntos, axis=0)
        puntos = da.from_npy_stack(pila_origen, mmap_mode="r")
        inicio = time.perf_counter()
        da.to_npy_stack(pila_destino, orienta.dask.apply(ajuste, puntos), axis=0)
        segundos = time.perf_counter() - inicio
    print(f"{puntos.shape[0]} points in {puntos.numblocks[0]} chunks transformed in {segundos:.2f} s "
          f"-> {pila_destino}")

    primero = np.load(os.path.join(pila_origen, "0.npy"))
    igual = np.array_equal(np.load(os.path.join(pila_destino, "0.npy")), ajuste.apply(primero))
    print("first chunk equals the numpy path bit for bit:", igual)
    return 0 if igual else 1


if __name__ == "__main__":  # the workers are started by spawning, which imports this file again
    raise SystemExit(main())
