"""The stored transformation: the library's model table, and the JSON record read and written.

The library says which fields a model needs and whether a record holds together
(``orienta_valida``); this module only moves numbers between JSON and the C record, so Python and
the command-line tool accept and refuse the same records, with the same words.
"""

import ctypes
import math
import os

from . import _biblioteca as _b

__all__ = ["Modelo", "modelo", "modelo_nombrado", "MODELOS", "estado_texto", "valida", "de_documento",
           "a_documento", "lee_documento", "E_REG_FALTA", "E_MEMORIA", "E_POCOS", "E_NO_FINITO", "E_PESO"]

E_POCOS = -2
E_NO_FINITO = -3
E_PESO = -10
E_MEMORIA = -8
E_MODELO = -12
E_REG_FALTA = -17


def estado_texto(estado):
    """The library's one-line English cause of a status."""
    return _b.funcion("orienta_estado_texto")(estado).decode("utf-8", "replace")


class Modelo:
    """A row of the library's model table (orienta_modelo_info), with English attribute names."""

    def __init__(self, info):
        lista = lambda p, n: tuple(p[k].decode() for k in range(n))  # noqa: E731
        self.code = info.modelo
        self.dim = info.dim
        self.order = info.orden
        self.num_parameters = info.num_parametros
        self.min_pairs = info.min_pares
        self.num_terms = info.num_terminos
        self.num_angles = info.num_angulos
        self.name = info.nombre.decode()
        self.description = info.descripcion.decode()
        self.parameter_names = lista(info.parametros, info.num_parametros)
        campos = []
        while info.campos[len(campos)] is not None:
            campos.append(info.campos[len(campos)].decode())
        self.fields = tuple(campos)

    @property
    def is_similarity(self):
        return self.num_angles > 0

    def __repr__(self):
        return f"<orienta model {self.name} ({self.description})>"


def _tabla():
    r = {}
    codigo = 1
    while True:
        p = _b.funcion("orienta_modelo")(codigo)
        if not p:
            return r
        r[codigo] = Modelo(p.contents)
        codigo += 1


MODELOS = _tabla()


def modelo(codigo):
    return MODELOS[codigo]


class ErrorRegistro(ValueError):
    """A stored record refused: ValueError with the library's cause and the field at fault."""


def _mal(donde, campo, que):
    cual = f" '{campo}'" if campo else ""
    raise ErrorRegistro(f"{donde}transform{cual}: {que}") from None


def modelo_nombrado(registro, donde=""):
    nombre = registro.get("model")
    if not isinstance(nombre, str):
        _mal(donde, None, "no 'transform' object with a 'model' (write one with a fitting command's --json)")
    orden = registro.get("order", 1)
    for m in MODELOS.values():
        if nombre == m.name and (m.name != "poly2d" or (orden == m.order and not isinstance(orden, bool))):
            return m
    if nombre == "poly2d":
        if "order" in registro:
            _mal(donde, "order", "a poly2d has order 2 or 3")
        _mal(donde, None, "lacks 'order', a field a poly2d needs")
    nombres = ", ".join(m.name + (" of order 2 or 3" if m.name == "poly2d" else "")
                        for m in MODELOS.values() if m.order != 3)
    _mal(donde, "model", f"unknown model {nombre!r} ({nombres})")


def _numero(v):
    """A number of the record; null stands for NaN, the form non-finite values are written in."""
    if v is None:
        return math.nan
    if isinstance(v, (int, float)) and not isinstance(v, bool):
        return float(v)
    raise TypeError


def _lista(donde, campo, v, minimo, maximo):
    try:
        if not isinstance(v, list) or not minimo <= len(v) <= maximo:
            raise TypeError
        return [_numero(x) for x in v]
    except TypeError:
        cuantos = f"{minimo} to {maximo}" if maximo > minimo else f"{minimo}"
        _mal(donde, campo, f"must be a list of {cuantos} numbers")


def _matriz(donde, campo, v, d):
    try:
        if not isinstance(v, list) or len(v) != d:
            raise TypeError
        m = [1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0]
        for i, fila in enumerate(v):
            if not isinstance(fila, list) or len(fila) != d:
                raise TypeError
            m[3 * i:3 * i + d] = [_numero(x) for x in fila]
        return m
    except TypeError:
        _mal(donde, campo, f"must be {d} rows of {d} numbers")


def valida(t):
    """(status, field) of the library's validator on a C record."""
    campo = ctypes.c_char_p()
    estado = _b.funcion("orienta_valida")(ctypes.byref(t), ctypes.byref(campo))
    return estado, (campo.value.decode() if campo.value else None)


def de_documento(documento, donde=""):
    """The C record of a transform object, or of a whole fit document holding one; validated.

    ``donde`` prefixes messages (a file name and ': ').
    """
    if not isinstance(documento, dict):
        _mal(donde, None, "no 'transform' object with a 'model' (write one with a fitting command's --json)")
    r = documento.get("transform", documento) if "transform" in documento else documento
    if not isinstance(r, dict):
        _mal(donde, None, "no 'transform' object with a 'model' (write one with a fitting command's --json)")
    m = modelo_nombrado(r, donde)
    d = m.dim
    if "dim" in r and (r["dim"] != d or isinstance(r["dim"], bool)):
        _mal(donde, "dim", f"{estado_texto(E_MODELO)} ({m.name}: {d})")
    t = _b.Transformacion(modelo=m.code, dim=d)
    t.matriz[:] = t.rotacion[:] = [1.0, 0, 0, 0, 1.0, 0, 0, 0, 1.0]
    t.escala = math.nan
    # Every field the record may hold is read when present, needed by the model or not: a value
    # the model has no place for is for the validator to refuse, not for the reader to drop.
    lectores = {
        "source_centroid": lambda v: t.centro_origen.__setitem__(slice(0, d), _lista(donde, "source_centroid", v, d, d)),
        "target_centroid": lambda v: t.centro_destino.__setitem__(slice(0, d), _lista(donde, "target_centroid", v, d, d)),
        "matrix": lambda v: t.matriz.__setitem__(slice(0, 9), _matriz(donde, "matrix", v, d)),
        "scale": lambda v: setattr(t, "escala", _lista(donde, "scale", [v], 1, 1)[0]),
        "rotation": lambda v: t.rotacion.__setitem__(slice(0, 9), _matriz(donde, "rotation", v, d)),
        "angles": lambda v: _pon_angulos(t, _lista(donde, "angles", v, m.num_angles, m.num_angles or 3)),
        "coef_x": lambda v: t.coef_x.__setitem__(slice(0, 9), _lista(donde, "coef_x", v, 9, 9)),
        "coef_y": lambda v: t.coef_y.__setitem__(slice(0, 9), _lista(donde, "coef_y", v, 9, 9)),
    }
    for campo, lee in lectores.items():
        if campo in r:
            lee(r[campo])
    for campo in m.fields:
        if campo not in r:
            _mal(donde, campo, f"{estado_texto(E_REG_FALTA)} ({m.name})")
    estado, campo = valida(t)
    if estado != 0:
        _mal(donde, campo, estado_texto(estado))
    _convencion(r, donde, m)
    return t


def convencion(codigo):
    """The EPSG name of the rotation convention of a model's angles ("position vector"), or None."""
    c = _b.funcion("orienta_convencion")(codigo)
    return c.decode() if c is not None else None


def _convencion(r, donde, m):
    # A record naming another convention would turn every point the wrong way: refused, not read.
    if "convention" not in r:
        return
    nuestra, c = convencion(m.code), r["convention"]
    if nuestra is not None and c == nuestra:
        return
    if nuestra is None:
        _mal(donde, "convention", "a model without angles names no rotation convention")
    dicho = repr(c) if isinstance(c, str) else "not a string"
    _mal(donde, "convention", f"is {dicho}, but these angles are read in the {nuestra!r} convention "
         "(for coordinate-frame angles negate the angles and transpose the rotation)")


def _pon_angulos(t, valores):
    t.angulos[:len(valores)] = valores


def a_documento(t):
    """The transform object of a C record, as the command-line tool writes it."""
    m = modelo(t.modelo)
    d = m.dim
    bloque = lambda campo: [list(campo[3 * i:3 * i + d]) for i in range(d)]  # noqa: E731
    r = {"model": m.name}
    if m.num_terms:
        r["order"] = m.order
    r.update({
        "dim": d,
        "source_centroid": list(t.centro_origen[:d]),
        "target_centroid": list(t.centro_destino[:d]),
        "matrix": bloque(t.matriz),
        "scale": t.escala,
        "rotation": bloque(t.rotacion),
        "angles": list(t.angulos[:m.num_angles]),
    })
    if (c := convencion(t.modelo)) is not None:
        r["convention"] = c
    if m.num_terms:
        r["coef_x"], r["coef_y"] = list(t.coef_x), list(t.coef_y)
    return r


def lee_documento(fuente):
    """(parsed JSON, message prefix) of JSON text, a path, an open file, bytes or a parsed dict."""
    import json
    if isinstance(fuente, dict):
        return fuente, ""
    donde = ""
    if hasattr(fuente, "read"):
        donde = f"{getattr(fuente, 'name', '')}: " if isinstance(getattr(fuente, "name", None), str) else ""
        fuente = fuente.read()
    if isinstance(fuente, bytes):
        fuente = fuente.decode("utf-8")
    if isinstance(fuente, str) and fuente.lstrip().startswith("{"):
        texto = fuente
    elif isinstance(fuente, (str, os.PathLike)):
        donde = f"{os.fspath(fuente)}: "
        with open(fuente, encoding="utf-8") as archivo:
            texto = archivo.read()
    else:
        raise TypeError(f"load takes JSON text, a path, a file or a dict, not {type(fuente).__name__}")
    try:
        return json.loads(texto), donde
    except json.JSONDecodeError as e:
        raise ValueError(f"{donde.rstrip(': ') or '<text>'}:{e.lineno}:{e.colno}: not a valid JSON document: {e.msg}") from None


def precision(documento, donde=""):
    """What a record carries for the precision of transformed points ("parameter_covariance",
    u × u, checked; "sigma0", "redundancy"), as a dict of those keys, or None."""
    import numpy as np
    if not isinstance(documento, dict):
        return None
    r = documento.get("transform", documento)
    if not isinstance(r, dict) or "parameter_covariance" not in r:
        return None
    u = modelo_nombrado(r, donde).num_parameters
    try:
        c = np.array(r["parameter_covariance"], dtype=np.float64)
    except (TypeError, ValueError):
        c = None
    if c is None or c.shape != (u, u) or not np.all(np.isfinite(c)):
        _mal(donde, "parameter_covariance", f"must be {u} rows of {u} finite numbers")
    escala = np.sqrt(np.outer(np.abs(np.diag(c)), np.abs(np.diag(c))))
    if np.any(np.diag(c) < 0) or np.any(np.abs(c - c.T) > 1e-9 * escala + 1e-300):
        _mal(donde, "parameter_covariance", "is not a symmetric covariance")
    return {k: r[k] for k in ("parameter_covariance", "sigma0", "redundancy") if k in r}
