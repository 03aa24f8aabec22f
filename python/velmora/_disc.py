"""Units for the arguments of velmora.Disc: quantities and times converted on the way in.

The compiled class takes plain numbers in fixed units. ``install(Disc)``
wraps its constructor and every public method in place, once, at the
package's import: each argument that is an astropy quantity or a numpy time
is converted to the unit of its name (velmora.units), and the compiled
method is called with numbers. Plain numbers reach it unchanged, so
pickling, ``replace``, ``from_file`` and the class itself stay those of the
compiled module; methods the module gains later (by name of their
arguments) are wrapped the same way.

The constructor's keywords, their order and units are the parameter file's
(velmora.keywords()): ``mass`` in g, ``texp`` in days; a unit that is itself
a keyword (``r_ign_in`` in units of ``r_out_disk``) is relative to that
keyword's value, so a length given for it is divided by that value in cm.
"""

import functools
import inspect
import numbers
import re
import textwrap

import numpy as np

from . import units

__all__ = ["install", "ARGUMENT_UNITS"]

# The unit of each argument of the methods, by name (the contract of the
# module's methods): times since the start of the evolution in s, radii in
# cm, photon energies in keV, inclinations in degrees from face-on.
ARGUMENT_UNITS = {
    "t": "s",
    "x": "1",
    "r": "cm",
    "distance": "cm",
    "inclination": "deg",
    "e_min": "keV",
    "e_max": "keV",
    "frequency": "Hz",
    "nh": "cm-2",
    "f_col": "1",
    "c_irr": "1",
}

# Tables of a quantity against photon energy: an (n, 2) array of rows or a
# pair (energies, values); the pair's members are converted one by one.
TABLE_UNITS = {"effective_area": ("keV", "cm2"), "cross_section": ("keV", "cm2")}

_ARGUMENT_DOCS = {
    "t": "times since the start of the evolution, s (t > 0, any shape)",
    "x": "dimensionless radii, r = r_out_disk x^(4 l), 0 <= x <= 1",
    "r": "radii, cm",
    "distance": "distance to the source, cm",
    "inclination": "inclination of the disc's axis to the line of sight, degrees (0: face-on)",
    "e_min": "lower photon energy of the band, keV",
    "e_max": "upper photon energy of the band, keV",
    "frequency": "frequency, Hz",
    "effective_area": "effective area of the detector: (n, 2) rows of (keV, cm^2), or a pair (energies, areas)",
    "cross_section": "absorption cross-section per hydrogen atom: (n, 2) rows of (keV, cm^2), or a pair",
    "nh": "absorbing hydrogen column, cm^-2",
    "f_col": "colour-correction factor (1: black body)",
    "c_irr": "irradiation parameter (0: no irradiation)",
}

_WRAPPED = "_velmora_units"  # marks a wrapper, so that install() runs once per class


# A keyword the constructor is not given: 0, as in a parameter file; no file for a text.
_DEFAULTS = {"real": 0.0, "integer": 0, "text": None}


def _velmora_keywords():
    from . import _velmora  # noqa: PLC0415

    return _velmora.keywords()


def _model_units():
    """The unit of each keyword of a parameter file (mass: "g", texp: "days", ...), from the program's table."""
    from . import _velmora  # noqa: PLC0415

    return {k.name: k.unit for k in _velmora.keywords()}


def _keyword_value(name, value, unit, model_units, scales):
    if unit == "text" or unit is None:
        return value
    if unit in model_units:  # in units of another keyword's value
        if units.is_quantity(value) and not value.unit.physical_type == "dimensionless":
            if scales.get(unit) is None:
                units.to_cgs(value, "1", parameter=name)  # refused: no scale to divide by
            return units.to_cgs(value, model_units[unit], parameter=name) / scales[unit]
        return units.to_cgs(value, "1", parameter=name)
    return units.to_cgs(value, unit, parameter=name)


def _is_plain(value):
    kind = type(value)
    return kind is float or kind is int or value is None or kind is str or (
        kind is np.ndarray and value.dtype.kind in "fiub")


def _taken_as_is(name, value):
    """A method's argument that needs no conversion: a float or an int, or an array of real numbers
    where an array is taken (t, x, r)."""
    kind = type(value)
    return kind is float or kind is int or (kind is np.ndarray and value.dtype.kind in "fiu" and
                                             name in _ARRAY_ARGUMENTS)


def _is_plain_number(value):
    """A value a method takes as it is: a float, an int or an array of real numbers."""
    kind = type(value)
    return kind is float or kind is int or (kind is np.ndarray and value.dtype.kind in "fiu")


def _model_keywords(given, model_units, current=None):
    """The constructor's keywords converted to the parameter file's units. A unit that
    is a keyword scales by that keyword's value: the one given, else ``current``'s."""
    if all(_is_plain(v) for v in given.values()):
        return given
    scales = {}
    for reference in {model_units.get(name) for name in given} & set(model_units):
        if reference in given:
            scales[reference] = units.to_cgs(given[reference], model_units[reference], parameter=reference)
        elif current is not None:
            scales[reference] = current[reference]
    return {name: _keyword_value(name, value, model_units.get(name), model_units, scales)
            for name, value in given.items()}


def _split_top_level(text):
    parts, depth, start = [], 0, 0
    for i, ch in enumerate(text):
        if ch in "[(":
            depth += 1
        elif ch in "])":
            depth -= 1
        elif ch == "," and depth == 0:
            parts.append(text[start:i])
            start = i + 1
    if text[start:].strip():
        parts.append(text[start:])
    return [p.strip() for p in parts]


_SIGNATURE_LINE = re.compile(r"^\s*\w+\((?P<arguments>.*)\)\s*->")


class _Default:
    """A default value as pybind11 writes it, shown as written."""

    def __init__(self, text):
        self.text = text

    def __repr__(self):
        return self.text


def _signature_of(function):
    """inspect.Signature of a pybind11 function, from the first line of its docstring; None if overloaded."""
    doc = function.__doc__ or ""
    match = _SIGNATURE_LINE.match(doc.split("\n", 1)[0])
    if not match:
        return None
    parameters = []
    kind = inspect.Parameter.POSITIONAL_OR_KEYWORD
    for part in _split_top_level(match.group("arguments")):
        if part == "*":
            kind = inspect.Parameter.KEYWORD_ONLY
            continue
        name, _, default = part.partition("=")
        name = name.split(":", 1)[0].strip()
        if name.startswith("*"):
            return None
        default = default.strip()
        parameters.append(inspect.Parameter(name, kind, default=_Default(default) if default else inspect.Parameter.empty))
    try:
        return inspect.Signature(parameters)
    except ValueError:
        return None


def _units_section(names):
    lines = []
    for name in names:
        if name in TABLE_UNITS:
            lines.append(f"{name} : array_like of shape (n, 2), or a pair of arrays or astropy Quantities")
        elif name in _ARGUMENT_DOCS:
            lines.append(f"{name} : array_like, astropy Quantity{' or numpy timedelta64' if name == 't' else ''}")
        if name in _ARGUMENT_DOCS:
            lines.append(f"    {_ARGUMENT_DOCS[name]}.")
    if not lines:
        return ""
    note = ("Plain numbers are in the units above; astropy quantities are converted to them" +
            (", and numpy timedelta64 times to seconds (an absolute time, such as a datetime64, is refused: "
             "give t - t0)" if "t" in names else "") + ".")
    return "\n\nParameters\n----------\n" + "\n".join(lines) + "\n\n" + textwrap.fill(note, 79)


def _wrap_method(name, method):
    signature = _signature_of(method)
    names = [p.name for p in signature.parameters.values()][1:] if signature else []

    @functools.wraps(method)
    def converting(self, *args, **kwargs):
        if args and not all(_taken_as_is(names[i] if i < len(names) else None, a) for i, a in enumerate(args)):
            args = tuple(a if _taken_as_is(names[i] if i < len(names) else None, a) else
                         _argument(names[i] if i < len(names) else None, a, name, i) for i, a in enumerate(args))
        if kwargs and not all(_taken_as_is(k, v) for k, v in kwargs.items()):
            kwargs = {k: v if _taken_as_is(k, v) else _argument(k, v, name, None) for k, v in kwargs.items()}
        try:
            return method(self, *args, **kwargs)
        except TypeError as refusal:
            if signature is None or "incompatible function arguments" not in str(refusal):
                raise
            raise TypeError(_call_problem(name, signature, self, args, kwargs)) from None

    body = (method.__doc__ or "").split("\n", 1)
    converting.__doc__ = (body[1].lstrip("\n") if signature and len(body) > 1 else method.__doc__ or "") + \
        _units_section(names)
    if signature:
        converting.__signature__ = signature
    setattr(converting, _WRAPPED, True)
    return converting


def _call_problem(name, signature, self, args, kwargs):
    """What is wrong with a call the compiled method refused (pybind11 shows every
    overload and the arguments' values in full, arrays included): an argument missing
    or unknown, or of a type the method cannot take; then how the method is called."""
    call = name + str(signature.replace(parameters=list(signature.parameters.values())[1:]))
    try:
        signature.bind(self, *args, **kwargs)
    except TypeError as unbound:
        missing = [p for p in signature.parameters.values() if p.name not in _bound_names(signature, args, kwargs)
                   and p.default is inspect.Parameter.empty and p.name != "self"]
        text = f"{name}(): {unbound}"
        if missing and missing[0].name in _ARGUMENT_DOCS:
            text += f" ({missing[0].name}: {_ARGUMENT_DOCS[missing[0].name]})"
        return f"{text}; call it as {call}"
    return f"{name}(): an argument of a type it cannot take; call it as {call}, with numbers (or astropy " \
        "quantities) in the units help() names"


def _bound_names(signature, args, kwargs):
    positional = [p.name for p in signature.parameters.values()][1:1 + len(args)]
    return set(positional) | set(kwargs)


def _table(name, value):
    energy_unit, value_unit = TABLE_UNITS[name]
    # A tuple of two is a pair (energies, values), as the compiled method reads it; a list only when
    # it holds quantities: a list of two plain rows [[e1, v1], [e2, v2]] stays a table of rows.
    pair = isinstance(value, tuple) or (isinstance(value, list) and any(units.is_quantity(v) for v in value))
    if pair and len(value) == 2 and not all(_is_plain(v) for v in value):
        return (units.to_cgs(value[0], energy_unit, parameter=name), units.to_cgs(value[1], value_unit, parameter=name))
    if units.is_quantity(value):
        units._refuse(name, "a table of two units is given as a pair (energies, values) of quantities")
    return value


def _argument(name, value, method_name, position):
    if name in TABLE_UNITS:
        return _table(name, value)
    unit = ARGUMENT_UNITS.get(name)
    if unit is None:
        if not units.is_quantity(value) and not units._is_duration(value) and not units._is_absolute(value):
            return value
        shown = name or f"argument {position + 1} of {method_name}()"
        units._refuse(name or shown, "no unit is known for it: give a plain number in the unit help() names")
    return _real_numbers(name, units.to_cgs(value, unit, parameter=name))


# Arguments of any shape (one value of the result per element); the others are one number each.
_ARRAY_ARGUMENTS = {"t", "x", "r"}


def _refuse_type(name, value, needed):
    shown = repr(value)
    raise TypeError(f"{name}: {needed} needed, not {type(value).__name__} {shown[:40]}{'...' if len(shown) > 40 else ''}")


def _real_numbers(name, value):
    """The value as real numbers, as the compiled method takes them: an array for t, x and r, one float
    for the others. Text, None, booleans, complex numbers and masked elements would otherwise become
    numbers silently (a nan for None, the real part of a complex, 1 s for True): a TypeError naming
    the argument instead."""
    many = name in _ARRAY_ARGUMENTS
    needed = "real numbers are" if many else "a real number is"
    if _is_plain_number(value) and (many or type(value) is not np.ndarray):
        return value
    if isinstance(value, np.ma.MaskedArray):
        if np.ma.is_masked(value):
            raise TypeError(f"{name}: a masked array with masked elements: give only the values meant "
                            f"({name}.compressed()) or fill them ({name}.filled(...))")
        value = value.data
    try:
        array = np.asarray(value)
    except (TypeError, ValueError):  # ragged nesting, objects numpy cannot hold
        _refuse_type(name, value, needed)
    if array.dtype.kind == "O":
        if not all(isinstance(v, numbers.Real) and not isinstance(v, (bool, np.bool_)) for v in array.flat):
            _refuse_type(name, value, needed)
        array = array.astype(float)
    elif array.dtype.kind not in "fiu":  # text, bytes, booleans, complex numbers, records
        _refuse_type(name, value, needed)
    if many:
        return array
    if array.ndim != 0:
        _refuse_type(name, value, "one number is")
    return float(array)


def _class_doc(compiled_doc):
    """The class's docstring, numpy style: the compiled summary, then every keyword with its unit."""
    paragraphs = (compiled_doc or "").split("\n\n")
    from . import _velmora  # noqa: PLC0415

    model_units = _model_units()

    lines = ["", "Parameters", "----------"]
    for k in _velmora.keywords():
        if not k.model:
            continue
        kind = {"real": "float or astropy Quantity", "integer": "int", "text": "str or os.PathLike, optional"}[k.kind]
        if k.unit in ("1", "mode", "flag", "count"):
            kind = kind.replace(" or astropy Quantity", "")
        unit, _, meaning = k.doc.partition(", ")
        if k.unit in model_units:
            unit = f"units of {k.unit}"
            meaning += f"; a Quantity in {model_units[k.unit]} is divided by {k.unit}"
        shown_unit = f", {unit}" if k.unit not in ("1", "mode", "text", "flag", "count") else ""
        lines += [f"{k.name} : {kind}{shown_unit}", "    " + meaning[0].upper() + meaning[1:] + "."]
    lines += ["", "Raises", "------", "ParameterError",
              "    A quantity the model cannot use; its ``parameter`` attribute names it.",
              "", "Notes", "-----",
              textwrap.fill("Keywords and units are those of a parameter file (velmora.keywords()); a missing "
                            "keyword is 0, as in a file. Every method takes times in seconds since the start of "
                            "the evolution (t > 0, any order and shape); astropy quantities and numpy "
                            "timedelta64 times are converted (velmora.units). SolutionError: a time the "
                            "solution cannot resolve.", 79),
              "", "See Also", "--------", "Disc.from_file : the model of a parameter file.",
              "velmora.units : the conversions of quantities and times.",
              "", "Examples", "--------",
              ">>> disc = velmora.Disc(mass=10 * u.Msun, mdisk=1e25, r_out_disk=1e11, l=0.4, r_ign_in=1e-4,",
              "...                     r_ign_out=1, sigma_index=-1, texp=30 * u.day)",
              ">>> disc.mdot(np.array([1, 10], dtype='timedelta64[D]'))  # g/s"]
    return paragraphs[0] + ("\n\n" + paragraphs[1] if len(paragraphs) > 1 else "") + "\n" + "\n".join(lines)


def install(cls):
    """Wraps the constructor and public methods of the compiled class ``cls`` in place (once)."""
    if getattr(cls.__init__, _WRAPPED, False):
        return cls
    model_units = _model_units()
    compiled_init = cls.__init__
    compiled_replace = cls.replace

    @functools.wraps(compiled_init)
    def __init__(self, *args, **kwargs):
        compiled_init(self, *args, **_model_keywords(kwargs, model_units))

    @functools.wraps(compiled_replace)
    def replace(self, *args, **changes):
        if changes and not all(_is_plain(v) for v in changes.values()):
            changes = _model_keywords(changes, model_units, self.parameters)
        return compiled_replace(self, *args, **changes)

    for wrapper in (__init__, replace):
        setattr(wrapper, _WRAPPED, True)
    # The compiled constructor takes **keywords: its signature is the table's model keywords.
    self_parameter = inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)
    keywords = [k for k in _velmora_keywords() if k.model]
    __init__.__signature__ = inspect.Signature(
        [self_parameter] + [inspect.Parameter(k.name, inspect.Parameter.KEYWORD_ONLY, default=_DEFAULTS[k.kind])
                            for k in keywords])
    replace.__signature__ = inspect.Signature(
        [self_parameter] + [inspect.Parameter(k.name, inspect.Parameter.KEYWORD_ONLY) for k in keywords])
    cls.__init__ = __init__
    cls.replace = replace
    cls.__doc__ = _class_doc(cls.__doc__)

    for name, member in list(vars(cls).items()):
        if name.startswith("_") or name in ("replace",) or isinstance(member, (property, staticmethod, classmethod)):
            continue
        if callable(member) and not getattr(member, _WRAPPED, False):
            setattr(cls, name, _wrap_method(name, member))
    return cls
