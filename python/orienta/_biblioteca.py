"""Finding and loading liborienta, and the C records and prototypes as ctypes sees them."""

import ctypes
import glob
import os

_AQUI = os.path.dirname(os.path.abspath(__file__))
_NOMBRE = "liborienta.so.1"


def _candidatas():
    """Yield (description, path) in the order the library is looked for."""
    try:
        from . import _ubicacion  # written by CMake into installed and build-tree copies
    except ImportError:
        pass
    else:
        yield "beside the package", os.path.normpath(os.path.join(_AQUI, _ubicacion.BIBLIOTECA))
    # The source tree in development: python/orienta/ sits two levels below the build trees. The
    # optimised tree first; sanitizer builds come after because a plain interpreter cannot load them.
    raiz = os.path.dirname(os.path.dirname(_AQUI))
    arboles = sorted(glob.glob(os.path.join(raiz, "build", "*", _NOMBRE)),
                     key=lambda ruta: (os.path.basename(os.path.dirname(ruta)) != "rel", ruta))
    for ruta in arboles:
        yield "the build tree", ruta
    yield "the system's loader", _NOMBRE


def carga():
    """Load the library: ORIENTA_LIBRARY if set, else the candidates in order.

    Raises ImportError naming every place tried and why each failed.
    """
    explicita = os.environ.get("ORIENTA_LIBRARY")
    if explicita:
        # A path the user named is never silently replaced by another copy.
        try:
            return ctypes.CDLL(explicita), explicita
        except OSError as e:
            raise ImportError(f"orienta: ORIENTA_LIBRARY={explicita!r} cannot be loaded: {e}") from None
    intentos = ["ORIENTA_LIBRARY (not set)"]
    for donde, ruta in _candidatas():
        if os.sep in ruta and not os.path.exists(ruta):
            intentos.append(f"{donde}: {ruta} (no such file)")
            continue
        try:
            return ctypes.CDLL(ruta), ruta
        except OSError as e:
            intentos.append(f"{donde}: {ruta} ({e})")
    raise ImportError("orienta: liborienta could not be loaded. Tried:\n  " + "\n  ".join(intentos) +
                      "\nSet ORIENTA_LIBRARY to the path of liborienta.so.1.")


lib, ruta = carga()

# ------------------------------------------------------------------------------------------------
# Records, field for field as in orienta.h and orienta_ajuste.h.

d, f, u32, i32, i64, u64 = (ctypes.c_double, ctypes.c_float, ctypes.c_uint32, ctypes.c_int32,
                            ctypes.c_int64, ctypes.c_uint64)
pd, pf = ctypes.POINTER(d), ctypes.POINTER(f)


class Registro(ctypes.Structure):
    """A C record with a readable repr; array fields read back as tuples."""

    def __repr__(self):
        def valor(v):
            return tuple(v) if isinstance(v, ctypes.Array) else v
        campos = ", ".join(f"{n}={valor(getattr(self, n))!r}" for n, _ in self._fields_)
        return f"{type(self).__name__}({campos})"

    def __eq__(self, otro):
        # Bit for bit, which is how this library's results are compared.
        return type(self) is type(otro) and bytes(self) == bytes(otro)

    __hash__ = None


def _registro(nombre, campos):
    # Also bound under its C name, where pickle looks the class up.
    clase = globals()[nombre] = type(nombre, (Registro,), {"_fields_": campos, "__module__": __name__})
    return clase


Terna = _registro("Terna", [("v", d * 3)])
SenosCosenos = _registro("SenosCosenos", [("v", d * 6)])
Hel2Dg_dbl = _registro("Hel2Dg_dbl", [(n, d) for n in ("xc_origen", "yc_origen", "xc_destino", "yc_destino",
                                                     "escala", "cos_giro", "sen_giro")])
Hel2Dg_fl = _registro("Hel2Dg_fl", [(n, f) for n, _ in Hel2Dg_dbl._fields_])
Hel2D_dbl = _registro("Hel2D_dbl", [(n, d) for n in ("tx", "ty", "escala", "cos_giro", "sen_giro")])
Hel2D_fl = _registro("Hel2D_fl", [(n, f) for n, _ in Hel2D_dbl._fields_])


def _polinomica(nombre, t):
    return _registro(nombre, [("tipo", u32), ("xc_origen", t), ("yc_origen", t), ("x0_destino", t),
                              ("y0_destino", t), ("coef_x", t * 9), ("coef_y", t * 9)])


Trans_Polinomica2D_dbl = _polinomica("Trans_Polinomica2D_dbl", d)
Trans_Polinomica2D_fl = _polinomica("Trans_Polinomica2D_fl", f)
Hel3Dg_dbl = _registro("Hel3Dg_dbl", [("centro_origen", d * 3), ("centro_destino", d * 3), ("escala", d),
                                      ("rotacion", d * 9)])
Hel3Dg_fl = _registro("Hel3Dg_fl", [("centro_origen", f * 3), ("centro_destino", f * 3), ("escala", f),
                                    ("rotacion", f * 9)])

FuncGmatriz = ctypes.CFUNCTYPE(Terna, pd)

MAX_PARAMETROS = 20
Transformacion = _registro("orienta_transformacion", [
    ("modelo", i32), ("dim", i32), ("centro_origen", d * 3), ("centro_destino", d * 3), ("matriz", d * 9),
    ("escala", d), ("rotacion", d * 9), ("angulos", d * 3), ("coef_x", d * 9), ("coef_y", d * 9)])
Pares = _registro("orienta_pares", [
    ("origen", pd), ("paso_origen", i64), ("destino", pd), ("paso_destino", i64), ("n", u32),
    ("sigma", pd), ("sigmas_por_par", i32), ("umbral", d)])
Estadisticas = _registro("orienta_estadisticas", [
    ("usados", u32), ("excluidos", u32), ("num_parametros", i32), ("redundancia", i32), ("vtpv", d),
    ("sigma0", d), ("con_sigma", i32), ("reflejo", i32), ("iteraciones", i32), ("tau_inalcanzable", i32),
    ("condicion", d), ("chi2", d), ("chi2_p", d), ("parametros", d * MAX_PARAMETROS),
    ("desv", d * MAX_PARAMETROS), ("covarianza", d * (MAX_PARAMETROS * MAX_PARAMETROS))])
ModeloInfo = _registro("orienta_modelo_info", [
    ("modelo", i32), ("dim", i32), ("orden", i32), ("num_parametros", i32), ("min_pares", u32),
    ("num_terminos", i32), ("num_angulos", i32), ("nombre", ctypes.c_char_p), ("descripcion", ctypes.c_char_p),
    ("parametros", ctypes.POINTER(ctypes.c_char_p)), ("campos", ctypes.POINTER(ctypes.c_char_p))])
# Opaque to Python: plain bytes to copy, pickle and send to workers.
Acumulador = _registro("orienta_acumulador", [
    ("modelo", i32), ("sigmas_por_par", i32), ("anisotropo", i32), ("reservado", i32), ("n", u64),
    ("d", d * 128)])
Solucion = _registro("orienta_solucion", [
    ("modelo", i32), ("sigmas_por_par", i32), ("iteraciones", i32), ("reflejo", i32), ("n", u64),
    ("condicion", d), ("t", Transformacion), ("d", d * 176)])
RobustoOpciones = _registro("orienta_robusto_opciones", [
    ("metodo", i32), ("max_iteraciones", u32), ("umbral", d), ("confianza", d), ("semilla", u64),
    ("max_pasos", u32), ("reservado", u32)])
RobustoInfo = _registro("orienta_robusto_info", [
    ("iteraciones", u32), ("degeneradas", u32), ("mejoras_locales", u32), ("inliers", u32),
    ("iteraciones_irls", u32), ("convergido", i32), ("umbral_de_sigma", i32), ("reservado", i32),
    ("umbral", d), ("coste", d), ("escala", d), ("cambio", d)])
Observaciones = _registro("orienta_observaciones", [
    ("v", pd), ("w", pd), ("qvv", pd), ("r", pd), ("excluido", ctypes.POINTER(ctypes.c_uint8))])

# ------------------------------------------------------------------------------------------------
# Prototypes. Every pointer argument is declared as c_void_p so that numpy addresses (plain ints)
# pass straight through; records passed by pointer use ctypes.byref.

vp = ctypes.c_void_p
_PROTOTIPOS = {
    "MatrizRotGT_ωφκ": (None, [vp, vp]),
    "MatrizRotGT_κωφ": (None, [vp, vp]),
    "MatrizRotGT_κwκ": (None, [vp, vp]),
    "MatrizRot_κωφ": (None, [vp, vp]),
    "MatrizRot_20": (None, [vp, vp]),
    "MatrizRot_24": (None, [vp, vp]),
    "MatrizRot_26": (None, [vp, vp]),
    "MatrizRot_28": (None, [vp, vp]),
    "MatrizDeltafl_dbl": (f, [vp, vp]),
    "MatrizDeltafl_fl": (f, [vp, vp]),
    "Gmatriz_ωφκ_seg": (Terna, [vp]),
    "Gmatriz_24_seg": (Terna, [vp]),
    "Getoffset_matriz": (Terna, [vp, vp, vp]),
    "Orvinvsim3_dbl": (None, [vp]),
    "Orvinvsim3_fl": (None, [vp]),
    "convierte_en_R_dbl": (i32, [vp]),
    "convierte_en_R_fl": (i32, [vp]),
    "Gmedio": (Terna, [vp, u32]),
    "Gmedio_pesos": (Terna, [vp, u32, vp]),
    "Hel2D___Hel2Dg_dbl": (Hel2D_dbl, [vp]),
    "Hel2D___Hel2Dg_fl": (Hel2D_fl, [vp]),
    "transforma_punto2D_dbl": (None, [vp, vp]),
    "transforma_punto2D_fl": (None, [vp, vp]),
    "Trans_Polinomica2D___puntosxy_dbl": (None, [vp, vp, u32]),
    "Trans_Polinomica2D___puntosxy_fl": (None, [vp, vp, u32]),
    "Hel3Dg___ptr_dbl": (i32, [vp, u32, vp, i32, i32, vp]),
    "Hel3Dg___ptr_fl": (i32, [vp, u32, vp, i32, i32, vp]),
}
for _sufijo, _reg in (("dbl", Hel2Dg_dbl), ("fl", Hel2Dg_fl)):
    _PROTOTIPOS.update({
        f"Hel2Dg___ptr_{_sufijo}": (_reg, [vp, u32]),
        f"Hel2Dg___p_{_sufijo}": (_reg, [vp, u32]),
        f"Hel2Dg___pp_{_sufijo}": (_reg, [vp, vp, u32]),
        f"Hel2Dg___g_{_sufijo}": (_reg, [vp, i64, u32]),
        f"Hel2Dg___gg_{_sufijo}": (_reg, [vp, vp, i64, u32]),
        f"Hel2Dg___mixed_{_sufijo}": (_reg, [vp, i64, vp, i64, u32]),
    })

# The adjustment functions; a library built before them simply lacks these names.
_PROTOTIPOS_AJUSTE = {
    "orienta_ajusta": (i32, [i32, vp, vp, vp, vp]),
    "orienta_aplica": (i64, [vp, i32, vp, i64, vp, i64, u64, vp]),
    "orienta_aplica_precision": (i64, [vp, vp, vp, i64, vp, i64, vp, i64, vp, i64, u64, vp]),
    "orienta_robusto": (i32, [i32, vp, vp, vp, vp, vp, vp, vp, vp]),
    "orienta_invierte": (i32, [vp, vp]),
    "orienta_estado_texto": (ctypes.c_char_p, [i32]),
    "orienta_modelo": (ctypes.POINTER(ModeloInfo), [i32]),
    "orienta_convencion": (ctypes.c_char_p, [i32]),
    "orienta_valida": (i32, [vp, ctypes.POINTER(ctypes.c_char_p)]),
    "orienta_parametros": (i32, [vp, vp]),
    "orienta_proj": (i32, [vp, ctypes.c_char_p, u32]),
    "orienta_proj_zona": (i32, [vp, vp, ctypes.c_char_p, u32, vp]),
    "orienta_mundo": (i32, [vp, vp]),
    "orienta_valida_pares": (i32, [i32, vp, ctypes.POINTER(u32)]),
    "orienta_acumulador_inicia": (i32, [vp, i32, i32]),
    "orienta_acumulador_anade": (i32, [vp, vp]),
    "orienta_acumulador_une": (i32, [vp, vp]),
    "orienta_acumulador_quita": (i32, [vp, vp]),
    "orienta_resuelve": (i32, [vp, vp]),
    "orienta_residuos": (i32, [vp, vp, vp, d, vp, vp]),
    "orienta_cierra": (i32, [vp, d, u32, d, vp]),
}


def _enlaza(prototipos, obligatorio):
    funciones = {}
    for nombre, (resultado, argumentos) in prototipos.items():
        try:
            fn = getattr(lib, nombre)
        except AttributeError:
            if obligatorio:
                raise ImportError(f"orienta: {ruta} does not export {nombre}") from None
            continue
        fn.restype, fn.argtypes = resultado, argumentos
        funciones[nombre] = fn
    return funciones


c = _enlaza(_PROTOTIPOS, True)
c.update(_enlaza(_PROTOTIPOS_AJUSTE, False))


def funcion(nombre):
    """The bound C function, or RuntimeError when this build of the library lacks it."""
    try:
        return c[nombre]
    except KeyError:
        raise RuntimeError(f"orienta: the library loaded from {ruta} lacks {nombre}; rebuild it") from None
