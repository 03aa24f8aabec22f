"""Units at the edge of the package: what a caller gives, as the numbers the model takes.

The model takes plain numbers in fixed units (CGS; times in seconds since the
start of the evolution; the parameter file's units for its keywords). Plain
numbers and numpy arrays of numbers pass through unchanged. Besides them:

- astropy quantities (``10 * u.Msun``, ``30 * u.day``, ``5 * u.kpc``) are
  converted to the unit asked for; a quantity of another kind (a length for
  a mass) is refused naming the parameter. astropy is optional: it is
  imported only when a caller hands over one of its objects.
- numpy ``timedelta64`` and ``datetime.timedelta`` durations are converted
  for times (a day is 86400 s, never 1 s).
- absolute times (numpy ``datetime64``, ``datetime.datetime``, astropy
  ``Time``) have no meaning for the model without the time its evolution
  starts: with ``reference`` (that time) they become durations since it,
  without one they are refused naming the parameter.

Every refusal is a ``velmora.ParameterError`` (a ValueError) whose
``parameter`` attribute is the name given.
"""

import datetime
import numbers

import numpy as np

from ._velmora import ParameterError

__all__ = ["to_seconds", "to_cgs", "is_quantity"]

# Units as written in velmora (the parameter file's table, the module's
# arguments) and the astropy unit of each that converts. "1" and the counts,
# flags and modes are dimensionless; "cgs" is whatever CGS unit the value has.
_ASTROPY_NAMES = {"days": "day", "day": "day", "s": "s", "g": "g", "cm": "cm", "g/s": "g / s", "keV": "keV",
                  "Hz": "Hz", "deg": "deg", "K": "K", "cm2": "cm2", "cm^2": "cm2", "cm-2": "cm-2", "cm^-2": "cm-2",
                  "erg/s": "erg / s", "erg/s/cm2": "erg / (s cm2)", "erg/s/cm^2": "erg / (s cm2)"}
_DIMENSIONLESS = {"1", "count", "flag", "mode", ""}
_SECONDS_PER_UNIT = {"s": 1.0, "days": 86400.0, "day": 86400.0}


def _refuse(parameter, text):
    error = ParameterError(f"{parameter}: {text}" if parameter else text)
    error.parameter = parameter
    raise error


def _astropy_kind(value):
    """'quantity', 'time' or None: what astropy object the value is (astropy imported only for one)."""
    module = type(value).__module__
    if not module.startswith("astropy"):
        return None
    from astropy import units as u  # noqa: PLC0415  (optional dependency)
    from astropy.time import Time  # noqa: PLC0415

    if isinstance(value, u.Quantity):
        return "quantity"
    if isinstance(value, Time):
        return "time"
    return None


def is_quantity(value):
    """True for an astropy Quantity (False, without importing astropy, for anything else)."""
    return _astropy_kind(value) == "quantity"


def _shown(value):
    text = str(value)
    return text if len(text) <= 60 else text[:57] + "..."


def _astropy_unit(unit, parameter):
    from astropy import units as u  # noqa: PLC0415

    if unit in _DIMENSIONLESS:
        return u.dimensionless_unscaled
    try:
        return u.Unit(_ASTROPY_NAMES.get(unit, unit))
    except ValueError:
        _refuse(parameter, f"its unit is {unit!r}, which no astropy quantity converts to: give a plain number")


def _quantity_value(value, unit, parameter):
    from astropy import units as u  # noqa: PLC0415

    if unit == "cgs":
        return value.cgs.value
    target = _astropy_unit(unit, parameter)
    try:
        return value.to_value(target)
    except u.UnitConversionError:
        shown = "a number" if target == u.dimensionless_unscaled else str(target)
        _refuse(parameter, f"{_shown(value)} cannot be converted to {shown} (the unit of {parameter or 'the value'})")


def _absolute_to_seconds(value, reference, parameter, kind):
    """Seconds from reference to the absolute time(s) value."""
    if reference is None:
        _refuse(parameter, f"an absolute time ({kind} {_shown(value)}) needs the time the evolution starts: "
                           "give the time since the start of the evolution (t - t0: a timedelta64 or a Quantity "
                           "of days)")
    if _astropy_kind(value) == "time" or _astropy_kind(reference) == "time":
        from astropy import units as u  # noqa: PLC0415
        from astropy.time import Time  # noqa: PLC0415

        def as_time(v):
            if isinstance(v, Time):
                return v
            return Time(np.asarray(v, dtype="datetime64[ns]") if not isinstance(v, datetime.datetime) else v)

        return (as_time(value) - as_time(reference)).to_value(u.s)
    start = np.datetime64(reference, "ns") if not isinstance(reference, np.ndarray) else reference.astype("datetime64[ns]")
    return (np.asarray(value, dtype="datetime64[ns]") - start) / np.timedelta64(1, "s")


def _is_absolute(value):
    if isinstance(value, (np.datetime64, datetime.datetime)):
        return True
    if isinstance(value, np.ndarray):
        return value.dtype.kind == "M"
    return _astropy_kind(value) == "time"


def _is_duration(value):
    if isinstance(value, (np.timedelta64, datetime.timedelta)):
        return True
    return isinstance(value, np.ndarray) and value.dtype.kind == "m"


def _sequence_of_objects(value):
    """A list or tuple holding astropy objects or numpy/Python times, as one array or Quantity; else None."""
    if not isinstance(value, (list, tuple)) or not value:
        return None
    items = list(value)
    while items and isinstance(items[0], (list, tuple)):
        items = list(items[0])
    if not items or isinstance(items[0], numbers.Number) and not isinstance(items[0], np.generic):
        return None
    first = items[0]
    if _astropy_kind(first) == "quantity":
        from astropy import units as u  # noqa: PLC0415

        return u.Quantity(value)
    if _astropy_kind(first) == "time":
        from astropy.time import Time  # noqa: PLC0415

        return Time(value)
    if isinstance(first, (np.timedelta64, datetime.timedelta)):
        return np.asarray(value, dtype="timedelta64[ns]")
    if isinstance(first, (np.datetime64, datetime.datetime)):
        return np.asarray(value, dtype="datetime64[ns]")
    return None


def to_cgs(value, unit, *, parameter=None, reference=None):
    """The value as a number (or array) in ``unit``.

    Parameters
    ----------
    value : float, array_like, astropy Quantity, timedelta64, datetime64 or astropy Time
        What the caller gave. Plain numbers and numeric arrays are returned
        unchanged (they are taken to be in ``unit`` already).
    unit : str
        The unit the model takes, as velmora writes it: ``"g"``, ``"cm"``,
        ``"s"``, ``"days"``, ``"g/s"``, ``"keV"``, ``"Hz"``, ``"deg"``,
        ``"cm2"``, ``"cm-2"``, ``"1"`` (a number), ``"cgs"`` (any CGS unit),
        or another unit string astropy reads.
    parameter : str, optional
        The name the caller knows the value by, named in refusals.
    reference : datetime64, datetime.datetime or astropy Time, optional
        The time the evolution starts: absolute times become the time since
        it (in ``unit``, which must be a time then).

    Returns
    -------
    float or numpy.ndarray or object
        The value in ``unit``; anything that is neither a quantity nor a time
        (a plain number, a string, None) is returned as it is.

    Raises
    ------
    velmora.ParameterError
        A quantity of another kind, a duration for a quantity that is not a
        time, an absolute time without ``reference``.
    """
    kind = type(value)
    if kind is float or kind is int or value is None or kind is str:
        return value
    if kind is np.ndarray and value.dtype.kind in "fiub":
        return value
    try:
        grouped = _sequence_of_objects(value)
    except (TypeError, ValueError):  # numbers beside quantities or times, quantities of several kinds
        _refuse(parameter, f"{_shown(value)} mixes quantities or times with values of another kind: give one "
                           "kind for all (an array of numbers, a Quantity array, a timedelta64 array)")
    if grouped is not None:
        value = grouped
    astropy_kind = _astropy_kind(value)
    if astropy_kind == "quantity":
        return _quantity_value(value, unit, parameter)
    is_time_unit = unit in _SECONDS_PER_UNIT or astropy_kind == "time" or _is_absolute(value) or _is_duration(value)
    if not is_time_unit:
        return value
    if unit not in _SECONDS_PER_UNIT:
        if unit in _DIMENSIONLESS or unit == "cgs" or not _astropy_convertible_to_time(unit):
            what = "an absolute time" if _is_absolute(value) else "a duration"
            _refuse(parameter, f"{what} ({_shown(value)}) is not a value in {unit}")
    per_unit = _SECONDS_PER_UNIT.get(unit)
    if _is_absolute(value):
        seconds = _absolute_to_seconds(value, reference, parameter, _kind_name(value))
    elif isinstance(value, datetime.timedelta):
        seconds = value.total_seconds()
    elif _is_duration(value):
        step = np.datetime_data(np.asarray(value).dtype)[0]
        if step in ("Y", "M", "generic"):
            # Years and months have no fixed length in seconds; a timedelta64 without a unit has none at all.
            what = "without a unit" if step == "generic" else f"in {'years' if step == 'Y' else 'months'}"
            _refuse(parameter, f"a timedelta64 {what} ({_shown(value)}) has no length in seconds: give it in "
                               "days or smaller units (e.g. np.timedelta64(30, 'D'))")
        seconds = np.asarray(value) / np.timedelta64(1, "s")
        if seconds.ndim == 0:
            seconds = float(seconds)
    else:
        return value
    if per_unit is None:
        from astropy import units as u  # noqa: PLC0415

        return (seconds * u.s).to_value(_astropy_unit(unit, parameter))
    return seconds / per_unit if per_unit != 1.0 else seconds


def _astropy_convertible_to_time(unit):
    try:
        from astropy import units as u  # noqa: PLC0415
    except ImportError:
        return False
    try:
        return u.Unit(_ASTROPY_NAMES.get(unit, unit)).is_equivalent(u.s)
    except ValueError:
        return False


def _kind_name(value):
    if isinstance(value, np.ndarray) or isinstance(value, np.datetime64):
        return "numpy datetime64"
    if isinstance(value, datetime.datetime):
        return "datetime"
    return "astropy Time"


def to_seconds(t, *, parameter="t", reference=None):
    """Times in seconds: the model's unit of time.

    Parameters
    ----------
    t : float, array_like, astropy Quantity, timedelta64, datetime64 or astropy Time
        Plain numbers are seconds already and pass through; a Quantity of
        time, a numpy ``timedelta64`` or a ``datetime.timedelta`` is
        converted; an absolute time (``datetime64``, ``datetime``, astropy
        ``Time``) is taken from ``reference``.
    parameter : str, optional
        The name the caller knows the time by (default ``"t"``), named in refusals.
    reference : datetime64, datetime.datetime or astropy Time, optional
        The time the evolution starts, for absolute times.

    Returns
    -------
    float or numpy.ndarray
        Seconds.

    Raises
    ------
    velmora.ParameterError
        A quantity that is not a time, an absolute time without ``reference``.

    Examples
    --------
    >>> to_seconds(np.timedelta64(1, "D"))
    86400.0
    """
    return to_cgs(t, "s", parameter=parameter, reference=reference)
