"""orienta: rotations, angles and similarity transformations for photogrammetry and surveying.

numpy over liborienta, loaded with ctypes; no compiled extension.

The fits most scripts want::

    fit = orienta.helmert3d(source, target)        # (n, 3) arrays
    fit.scale, fit.angles, fit.sigma0, fit.residuals
    moved = fit.apply(points)                      # one library call for the whole array
    text = fit.to_json()                           # read back by orienta.load and `orienta apply`

Point lists as they come (ids, header, quoting, decimal comma), and the report a surveyor signs::

    pts = orienta.read_points("control.txt")       # the tool's reading rules
    fit = orienta.helmert3d(pts.source, pts.target, sigma=pts.sigma, ids=pts)
    print(fit.summary(units="gon"))                # the tool's table
    table = fit.residual_table()                   # a DataFrame with pandas, else a structured array

The library's described functions keep their C names (``MatrizRotGT_ωφκ``, ``Hel2Dg___pp_dbl``,
``Hel3Dg___ptr_dbl`` …) and results, bit for bit; ``hel2dg`` picks the 2D similarity layout that
reads the caller's arrays without copying. ``orienta.dask.apply`` carries a transformation
through a chunked dask array.

The library is found through the ORIENTA_LIBRARY environment variable, else beside the installed
package, else in the source checkout's build trees, else by the system's loader.
"""

from . import _biblioteca
from ._ajuste import *  # noqa: F401,F403
from ._ajuste import __all__ as _ajuste_all
from ._descritas import *  # noqa: F401,F403
from ._descritas import __all__ as _descritas_all
from ._puntos import PointList, read_points
from ._biblioteca import (Hel2D_dbl, Hel2D_fl, Hel2Dg_dbl, Hel2Dg_fl, Hel3Dg_dbl, Hel3Dg_fl,  # noqa: F401
                          SenosCosenos, Terna, Trans_Polinomica2D_dbl, Trans_Polinomica2D_fl)

from ._version import VERSION as __version__
library_path = _biblioteca.ruta
"""The path (or loader name) liborienta was loaded from."""

__all__ = list(_ajuste_all) + list(_descritas_all) + ["PointList", "read_points",
    "Hel2D_dbl", "Hel2D_fl", "Hel2Dg_dbl", "Hel2Dg_fl", "Hel3Dg_dbl", "Hel3Dg_fl", "SenosCosenos", "Terna",
    "Trans_Polinomica2D_dbl", "Trans_Polinomica2D_fl", "library_path"]
