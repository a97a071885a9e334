"""Point and pair lists as they come from the field, read by the command-line tool's rules.

One point (or pair) a line; columns separated by blanks, tabs, ';' or ','; quoted columns;
'#' comments; an optional header row; an optional id column. The first data line settles the
layout of the whole file, and every fault is reported with file, line and column.
"""

import math
import os
import re
import typing
import warnings

import numpy as np

__all__ = ["PointList", "read_points"]

_BLANCOS = " \t\r\v\f"
_DIGITOS = "0123456789"
_NUMERO = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?\Z")
_NO_FINITO = re.compile(r"[+-]?(?:inf(?:inity)?|nan(?:\([0-9A-Za-z_]*\))?)\Z", re.I)
_ENTERO = re.compile(r"[+-]?[0-9]+\Z")
_CITA = re.compile(r'"((?:[^"]|"")*)"')
# A gap between columns; with a decimal comma the comma belongs to the numbers.
_HUECO = {False: re.compile(r"[ \t\r\v\f;,]*"), True: re.compile(r"[ \t\r\v\f;]*")}
_DESNUDA = {False: re.compile(r"[^ \t\r\v\f;,#]+"), True: re.compile(r"[^ \t\r\v\f;#]+")}
# The bulk of a file, lines of printable ASCII split by blanks alone, takes a shorter way: the
# columns of str.split (no other whitespace in such a line) and one match for all its numbers.
# Any line it does not take, or whose numbers it does not accept, goes through the full reading,
# which says what is wrong.
_SENCILLA = {False: re.compile(r'[^\x20-\x7e\t\r\v\f]|[",;#]'), True: re.compile(r'[^\x20-\x7e\t\r\v\f]|["#;]')}
_NUMEROS = re.compile(r"{n}(?: {n})*\Z".format(n=r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?"))

# Names of the coordinate columns when neither a header nor columns= gives them, by count: the
# layouts a point list or a pair file has (pairs: source x y (z), target X Y (Z), then sigma).
_NOMBRES_USUALES = {
    2: ("x", "y"), 3: ("x", "y", "z"), 4: ("x", "y", "X", "Y"), 5: ("x", "y", "X", "Y", "sigma"),
    6: ("x", "y", "z", "X", "Y", "Z"), 7: ("x", "y", "z", "X", "Y", "Z", "sigma"),
    8: ("x", "y", "z", "X", "Y", "Z", "sigma_plan", "sigma_height")}
# Pairs by the count of their numeric columns: (dim, sigma a pair). No count reads two ways,
# since a 2D pair has one σ at most.
_PARES_POR_CUENTA = {4: (2, 0), 5: (2, 1), 6: (3, 0), 7: (3, 1), 8: (3, 2)}
_SIGMAS = ("sigma", "sigma_plan", "sigma_height")


def _cita(s):
    """s as a message quotes it: control characters shown as '?', cut after 40 characters."""
    r = "".join("?" if ord(c) < 0x20 or ord(c) == 0x7F else c for c in s[:40])
    return r + "..." if len(s) > 40 else r


def _error(nombre, linea, col, mensaje):
    return ValueError(f"{nombre}:{linea}:{col}: {mensaje}")


def _lee_decimal(texto, coma):
    """(value, None), or (None, why the text is not a number)."""
    s = texto
    if coma:
        if "." in s:
            return None, "has a '.', but with decimal_comma=True the decimal point is ','"
        s = s.replace(",", ".")
    cuerpo = s[1:] if s.startswith("+") else s
    if cuerpo[:1] == "-":
        cuerpo = cuerpo[1:]
    if cuerpo[:2] in ("0x", "0X"):
        return None, "is a hexadecimal number: write coordinates in decimal"
    if _NO_FINITO.match(s):
        return None, "is not a finite number"
    if not _NUMERO.match(s):
        return None, "is not a number"
    x = float(s)  # correctly rounded, as the tool's reader; too small reads as zero
    if x in (np.inf, -np.inf):
        return None, "is not a finite number"
    return x, None


def _con_fraccion(texto, coma):
    """A number with a fraction or an exponent (a coordinate, not a point id), quickly."""
    if coma:
        if "." in texto:
            return False
        texto = texto.replace(",", ".")
    return _NUMERO.match(texto) is not None and _ENTERO.match(texto) is None


def _es_numero(texto, coma):
    return _lee_decimal(texto, coma)[1] is None


def _parte(l, coma, nombre, linea):
    """The columns of one line as (text, column, quoted); column counts characters from 1.

    A separator is a run of blanks holding at most one ',' or ';'. Without a decimal comma, a
    comma between two digits that is the only separator there, on a line that also separates by
    blanks or ';', is refused: it is most likely a decimal comma, and two numbers read from it
    would be a silent wrong answer.
    """
    columnas = []
    i, n = 0, len(l)
    tras_separador = False
    apretada = None  # index of the column after the first tight comma
    otro_separador = False
    hueco, desnuda = _HUECO[coma], _DESNUDA[coma]
    while True:
        j = hueco.match(l, i).end()
        separadores = 0
        blancos = False
        for k in range(i, j):
            if l[k] in _BLANCOS:
                blancos = True
                continue
            if not columnas or tras_separador:
                raise _error(nombre, linea, k + 1, f"empty column before '{l[k]}'")
            tras_separador = True
            separadores += 1
        if j >= n or l[j] == "#":
            if tras_separador:
                raise _error(nombre, linea, j + 1, "empty column after the last separator")
            break
        if columnas:
            if (not blancos and separadores == 1 and l[i] == "," and l[i - 1] in _DIGITOS
                    and l[j] in _DIGITOS and apretada is None):
                apretada = len(columnas)
            if blancos or separadores != 1 or l[i] != ",":
                otro_separador = True
        if l[j] == '"':
            m = _CITA.match(l, j)
            if m is None:
                raise _error(nombre, linea, j + 1, "unterminated quote")
            k = m.end()
            if k < n and l[k] not in _BLANCOS + "#;" and not (l[k] == "," and not coma):
                raise _error(nombre, linea, k + 1, "text after a closing quote")
            columnas.append((m.group(1).replace('""', '"'), j + 1, True))
        else:
            k = desnuda.match(l, j).end()
            columnas.append((l[j:k], j + 1, False))
        i = k
        tras_separador = False
    if apretada is not None and otro_separador:
        (a, col, _), (b, _, _) = columnas[apretada - 1], columnas[apretada]
        raise _error(nombre, linea, col, f"'{_cita(a + ',' + b)}' looks like a number with a decimal comma, read as "
                     "two columns; with decimal_comma=True it is one number (columns then separated by blanks, "
                     "tabs or ';')")
    return columnas


def _texto(source, encoding):
    """(text, name) of a path or an open file."""
    if hasattr(source, "read"):
        datos = source.read()
        nombre = str(getattr(source, "name", "<stream>"))
    elif isinstance(source, (str, os.PathLike)):
        nombre = os.fspath(source)
        with open(nombre, "rb") as f:
            datos = f.read()
    else:
        raise TypeError(f"read_points takes a path or an open file, not {type(source).__name__}")
    if isinstance(datos, str):
        return datos, nombre
    try:
        return bytes(datos).decode(encoding), nombre
    except UnicodeDecodeError as e:
        linea = bytes(datos).count(b"\n", 0, e.start) + 1
        raise ValueError(f"{nombre}:{linea}: not {encoding} text (pass encoding=)") from None


def _lista_columnas(columns, ids):
    """columns= as a tuple of names, checked: one per column of the file, '-' to leave one out."""
    if isinstance(columns, str):
        nombres = tuple(c.strip() for c in columns.split(","))
    else:
        nombres = tuple(columns)
    if not all(isinstance(c, str) and c for c in nombres):
        raise TypeError("columns must be a sequence of non-empty str (or one comma-separated str)")
    vistos = set()
    for c in nombres:
        if c != "-" and c in vistos:
            raise ValueError(f"columns names '{c}' twice")
        vistos.add(c)
    if ids is not None and bool(ids) != ("id" in vistos):
        raise ValueError(f"ids={bool(ids)} but columns names {'an' if 'id' in vistos else 'no'} id column")
    if not vistos - {"id", "-"}:
        raise ValueError("columns names no coordinate column")
    return nombres


def _cuentas_validas(dim):
    """The counts of numeric columns a line may have: any with dim unknown; else a point list of
    dim coordinates or pairs of them with their σ."""
    if dim is None:
        return None
    return {dim, 2 * dim, 2 * dim + 1} | ({2 * dim + 2} if dim == 3 else set())


def _esperado(dim, con_id):
    sigmas = "1 sigma or plan and height sigma" if dim == 3 else "1 sigma"
    quien = "after an id" if con_id else "without an id"
    return (f"expected {dim} coordinates (a point list) or {2 * dim} (source, target) and at most {sigmas}, "
            f"{quien}")


def _con_id(cols, ids, dim, coma, nombre, linea, fin):
    """Whether column 1 holds ids, settled on the first data line."""
    texto, col, citada = cols[0]
    m = len(cols)
    validas = _cuentas_validas(dim)
    cabe = (lambda k: k >= 2) if validas is None else validas.__contains__  # a point has two coordinates at least
    numero = not citada and _es_numero(texto, coma)
    if ids is None:
        if not numero:
            con_id = True
        elif not _ENTERO.match(texto):
            con_id = False  # a number with a fraction is a coordinate
        else:
            # A whole number is a point id, unless only the line without one is a layout of
            # coordinates: '10 20' is a point, and so is '10 20 30' with dim=3.
            con_id = cabe(m - 1) or not cabe(m)
    else:
        con_id = bool(ids)
        if not con_id and not numero:
            raise _error(nombre, linea, col, f"'{_cita(texto)}' is not a number, and this file is read with ids=False")
    k = m - con_id
    if k < 1:
        raise _error(nombre, linea, fin, f"an id '{_cita(texto)}' and no coordinates")
    if validas is not None and k not in validas:
        raise _error(nombre, linea, cols[con_id + max(validas)][1] if k > max(validas) else fin,
                     f"{_esperado(dim, con_id)}; found {m} column{'s' if m != 1 else ''}")
    return con_id


class PointList:
    """The points (or point pairs) of a file, as ``read_points`` read them.

    Attributes
    ----------
    path : str
        The file's name, as messages give it.
    ids : tuple of str or None
        The id column, or None when the file has none.
    coords : ndarray, shape (n, k), float64
        Every numeric column, in the file's order (the id and columns named '-' left out).
    names : tuple of str
        The name of each column of coords: from columns=, else from the header row, else by
        count as the usual layouts name them (x y, x y z, pairs x y (z) X Y (Z), then sigma, or
        sigma_plan and sigma_height), else c1, c2, ….
    lines : ndarray of int64, shape (n,)
        The file line each point came from.

    For a pair file, ``source``, ``target`` and ``sigma`` (or ``pairs()``) give the arrays a fit
    takes, and the object itself may be passed as a fit's ``ids=``::

        pts = orienta.read_points("control.txt")
        fit = orienta.helmert3d(pts.source, pts.target, sigma=pts.sigma, ids=pts)
    """

    def __init__(self, path, ids, coords, names, lines, por_nombre, campos):
        self.path, self.ids, self.coords, self.names, self.lines = path, ids, coords, names, lines
        self._por_nombre = por_nombre  # names are roles (columns= or by count), not a header's labels
        self._campos = campos          # each coordinate column's place in the file, from 1

    def __len__(self):
        return self.coords.shape[0]

    def __repr__(self):
        con = "with ids" if self.ids is not None else "without ids"
        return f"<orienta.PointList: {len(self)} points from {self.path}, {con}, columns {' '.join(self.names)}>"

    def column(self, name: str) -> np.ndarray:
        """The coordinate column called name, (n,)."""
        donde = [k for k, c in enumerate(self.names) if c == name]
        if len(donde) != 1:
            que = "no" if not donde else "more than one"
            raise KeyError(f"{self.path} has {que} column named {name!r} (columns: {', '.join(self.names)})")
        return self.coords[:, donde[0]]

    def _reparto(self):
        """(dim, source indices, target indices, sigma indices)."""
        nombres = list(self.names)
        if self._por_nombre and {"x", "y", "X", "Y"} <= set(nombres):
            tres = "z" in nombres or "Z" in nombres
            if tres and not {"z", "Z"} <= set(nombres):
                raise ValueError(f"{self.path}: a 3D pair needs both z and Z columns, found only "
                                 f"{'z' if 'z' in nombres else 'Z'}")
            d = 3 if tres else 2
            origen = [nombres.index(c) for c in "xyz"[:d]]
            destino = [nombres.index(c) for c in "XYZ"[:d]]
            presentes = [c for c in _SIGMAS if c in nombres]
            if presentes not in ([], ["sigma"]) + ((["sigma_plan", "sigma_height"],) if d == 3 else ()):
                raise ValueError(f"{self.path}: give sigma, or (in 3D) sigma_plan and sigma_height together; "
                                 f"found {', '.join(presentes)}")
            otras = [c for c in nombres if c not in set(("x", "y", "z")[:d] + ("X", "Y", "Z")[:d]) | set(presentes)]
            if otras:
                raise ValueError(f"{self.path}: column {otras[0]!r} is none of x y{' z' if d == 3 else ''} "
                                 f"X Y{' Z' if d == 3 else ''} and sigma; name it '-' in columns= to leave it out")
            return d, origen, destino, [nombres.index(c) for c in presentes]
        k = self.coords.shape[1]
        if k not in _PARES_POR_CUENTA:
            raise ValueError(f"{self.path} holds {k} numeric column{'s' if k != 1 else ''}: pairs are 4 or 5 "
                             "(2D: source, target, sigma) or 6 to 8 (3D: source, target, one or two sigma)")
        d, s = _PARES_POR_CUENTA[k]
        return d, list(range(d)), list(range(d, 2 * d)), list(range(2 * d, 2 * d + s))

    def pairs(self, dim: "int | None" = None):
        """(source, target, sigma) of a pair file: (n, dim) arrays and None, (n,) or (n, 2).

        With names from columns= (or none given), the columns named x y (z), X Y (Z) and sigma,
        or sigma_plan and sigma_height; any other column is refused. With a header row, by
        position, as the tool reads pairs: source, target, then σ; the count says the dimension
        (4 or 5 columns 2D, 6 to 8 3D). dim, when given, must agree.

        Raises
        ------
        ValueError
            Columns that are no pair layout, a dim that disagrees, a σ that is not positive
            (naming its line).
        """
        d, o, t, s = self._reparto()
        if dim is not None and dim != d:
            raise ValueError(f"{self.path} holds {d}D pairs, not {dim}D")
        sigma = None
        if s:
            sigma = self.coords[:, s[0]] if len(s) == 1 else self.coords[:, s]
            malo = np.flatnonzero(~(np.asarray(sigma).reshape(len(self), -1) > 0).all(axis=1))
            if malo.size:
                k = int(malo[0])
                fila = np.asarray(sigma).reshape(len(self), -1)[k]
                cual = int(np.argmin(fila > 0))
                raise ValueError(f"{self.path}:{int(self.lines[k])}: sigma {fila[cual]!r} (column "
                                 f"{self._campos[s[cual]]}) must be positive")
        return self.coords[:, o], self.coords[:, t], sigma

    source = property(lambda self: self.pairs()[0], doc="The source points of a pair file, (n, dim).")
    target = property(lambda self: self.pairs()[1], doc="The target points of a pair file, (n, dim).")
    sigma = property(lambda self: self.pairs()[2],
                     doc="The pairs' a priori σ: None, (n,), or (n, 2) plan and height.")


def read_points(source: "str | os.PathLike | typing.IO", columns: "typing.Sequence[str] | str | None" = None,
                decimal_comma: bool = False, ids: "bool | None" = None,
                dim: "int | None" = None, encoding: str = "utf-8") -> PointList:
    """Reads a point or pair list by the command-line tool's rules.

    One point (or pair) a line. Columns are separated by blanks, tabs, ';' or ','; a column may
    be quoted ("P 101" is an id with a blank, "" a quote inside); '#' starts a comment; blank
    lines are skipped. A first line of names alone (at least two columns, none a number) is a
    header row: it names the columns and is skipped. The first data line settles the layout of
    the whole file: a later line with another number of columns is refused. Numbers are decimal
    with a '.'; hexadecimal, nan and inf are refused, and so is a decimal comma (12,5) unless
    decimal_comma=True, with which ',' is the decimal point and no longer separates columns.

    Parameters
    ----------
    source : str, path-like or open file
    columns : sequence of str, or one comma-separated str, optional
        A name for every column of the file, in the file's order: 'id' for the id column, '-'
        for a column to leave out, any other name for a numeric column. Every line (a header row
        too) must then have exactly these columns, and the header's names give way to these.
        Pairs are picked by the names x y (z), X Y (Z), sigma (or sigma_plan, sigma_height),
        as the tool's ``--columns``: ``columns="id,-,x,y,z,X,Y,Z,sigma"``.
    decimal_comma : bool
        Read ',' as the decimal point.
    ids : bool, optional
        Whether column 1 holds point ids. By default as the first data line shows: a text or a
        quoted column is an id, a number with a fraction (100.25) a coordinate, a whole number
        (101) an id unless the rest of the line would then be no layout of coordinates.
    dim : {2, 3}, optional
        The points' dimension, where known: lines must then hold dim coordinates (a point list)
        or pairs of them with their σ, and a whole-number first column is a coordinate where only
        that reading fits (with dim=3, '10 20 30' is a point, not an id and two coordinates).
    encoding : str
        Of a file read from a path or a binary stream.

    Returns
    -------
    PointList

    Raises
    ------
    ValueError
        Naming the file, line and column and the cause: a column that is not a number, a line
        with another layout, an empty column, an unterminated quote, no data.
    OSError
        The file cannot be read.

    Warns
    -----
    UserWarning
        A point id that repeats an earlier one (the first five, then how many in all).
    """
    if dim not in (None, 2, 3):
        raise ValueError(f"dim must be 2 or 3, got {dim!r}")
    if ids is not None and not isinstance(ids, (bool, np.bool_)):
        raise TypeError(f"ids must be None, True or False, not {type(ids).__name__}")
    coma = bool(decimal_comma)
    texto, nombre = _texto(source, encoding)
    nombres_dados = None if columns is None else _lista_columnas(columns, ids)

    cabecera = linea_cabecera = None
    total = None      # columns a line has
    con_id = False
    linea_disposicion = None
    valores, identificadores, lineas = [], [], []
    toma = None       # indices of the numeric columns
    posicion_id, vigila_id = None, False
    for numero, l in enumerate(texto.split("\n"), 1):
        if numero == 1 and l.startswith("\ufeff"):
            l = l[1:]  # a byte-order mark is no column
        if total is not None and not _SENCILLA[coma].search(l):
            campos = l.split()
            if len(campos) == total:
                numeros = " ".join([campos[k] for k in toma])
                if coma:
                    numeros = numeros.replace(",", ".") if "." not in numeros else "x"
                if _NUMEROS.match(numeros) and not (vigila_id and _con_fraccion(campos[0], coma)):
                    fila = [float(x) for x in numeros.split(" ")]
                    if math.isfinite(sum(fila)):
                        valores.append(fila)
                        if con_id:
                            identificadores.append(campos[posicion_id])
                        lineas.append(numero)
                        continue
        cols = _parte(l, coma, nombre, numero)
        if not cols:
            continue
        m = len(cols)
        if total is None:
            if nombres_dados is not None and m != len(nombres_dados):
                raise _error(nombre, numero, cols[len(nombres_dados)][1] if m > len(nombres_dados) else len(l) + 1,
                             f"{m} column{'s' if m != 1 else ''} where columns= names {len(nombres_dados)}")
            sin_numeros = not any(_es_numero(c[0], coma) for c in cols)
            if cabecera is None and m >= 2 and sin_numeros:
                cabecera, linea_cabecera = [c[0] for c in cols], numero
                continue
            if cabecera is not None and m > 1 and sin_numeros:
                raise _error(nombre, numero, 1, "a line without a single number: a second header row? "
                             "remove it or start it with '#'")
            if cabecera is not None and len(cabecera) != m:
                raise _error(nombre, numero, 1, f"the header row on line {linea_cabecera} names {len(cabecera)} "
                             f"columns, this first data line has {m}")
            if nombres_dados is not None:
                con_id = "id" in nombres_dados
                toma = [k for k, c in enumerate(nombres_dados) if c not in ("id", "-")]
                posicion_id = nombres_dados.index("id") if con_id else None
            else:
                con_id = _con_id(cols, ids, dim, coma, nombre, numero, len(l) + 1)
                toma = list(range(1 if con_id else 0, m))
                posicion_id = 0 if con_id else None
            total, linea_disposicion = m, numero
            vigila_id = con_id and ids is None and nombres_dados is None
        elif m != total:
            donde = cols[total][1] if m > total else len(l) + 1
            primero = ", an id first" if con_id and posicion_id == 0 else ""
            raise _error(nombre, numero, donde, f"{m} column{'s' if m != 1 else ''} where line {linea_disposicion} "
                         f"set the layout of this file ({total} columns{primero}); every line must have the same")
        elif vigila_id:
            t, c, citada = cols[0]
            if not citada and _es_numero(t, coma) and not _ENTERO.match(t):
                raise _error(nombre, numero, c, f"'{_cita(t)}' in the id column has a fraction, but line "
                             f"{linea_disposicion} set the layout of this file with an id first; if the file has "
                             "no ids, say ids=False")
        fila = []
        for k in toma:
            t, c, citada = cols[k]
            if citada:
                raise _error(nombre, numero, c, f"'{_cita(t)}' is quoted: a number is written bare")
            x, motivo = _lee_decimal(t, coma)
            if motivo:
                raise _error(nombre, numero, c, f"'{_cita(t)}' {motivo}")
            fila.append(x)
        valores.append(fila)
        if con_id:
            identificadores.append(cols[posicion_id][0])
        lineas.append(numero)
    if total is None:
        raise ValueError(f"{nombre}: no data lines" + (f" after the header row on line {linea_cabecera}"
                                                       if cabecera is not None else ""))

    if nombres_dados is not None:
        nombres = tuple(nombres_dados[k] for k in toma)
    elif cabecera is not None:
        nombres = tuple(cabecera[k] for k in toma)
    else:
        nombres = _NOMBRES_USUALES.get(len(toma), tuple(f"c{k + 1}" for k in range(len(toma))))
    if con_id:
        _avisa_repetidos(nombre, identificadores, lineas)
    return PointList(nombre, tuple(identificadores) if con_id else None, np.array(valores, dtype=np.float64),
                     nombres, np.array(lineas, dtype=np.int64), nombres_dados is not None or cabecera is None,
                     tuple(k + 1 for k in toma))


def _avisa_repetidos(nombre, ids, lineas):
    primera, repetidos = {}, []
    for k, i in enumerate(ids):
        if i in primera:
            repetidos.append((lineas[k], i, lineas[primera[i]]))
        else:
            primera[i] = k
    for linea, i, antes in repetidos[:5]:
        warnings.warn(f"{nombre}:{linea}: point id '{_cita(i)}' repeats line {antes}", UserWarning, stacklevel=3)
    if len(repetidos) > 5:
        warnings.warn(f"{nombre}: {len(repetidos)} repeated point ids in all", UserWarning, stacklevel=3)
