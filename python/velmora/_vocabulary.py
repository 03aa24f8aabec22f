"""The parameter-file keywords the tools give a role to, found in the program's keyword
table (velmora.keywords()) by what they are instead of spelt once more: the supply table
(the model's one keyword of text), the run's name (the run's one keyword of text), the
number of output times (the run's one count), the mode of the outer supply (the model's
one mode), the disc's outer edge (the model's one length in cm) and the central mass (the
model's first mass in g). A data file's header gives the model's keywords too, in cm and s
where a parameter file uses other units; header_model_values reads them back."""

import difflib
import functools
import math


@functools.lru_cache(maxsize=None)
def _keywords():
    from . import _velmora  # noqa: PLC0415

    return tuple(_velmora.keywords())


def _one(model, test):
    found = [k.name for k in _keywords() if k.model == model and test(k)]
    if len(found) != 1:
        raise LookupError(f"the keyword table has {len(found)} keywords of this role, not one: {found}")
    return found[0]


def supply_table():
    return _one(True, lambda k: k.kind == "text")


def run_name():
    return _one(False, lambda k: k.kind == "text")


def output_count():
    return _one(False, lambda k: k.unit == "count")


def supply_mode():
    return _one(True, lambda k: k.unit == "mode")


def outer_radius():
    """The disc's outer edge: the model's one length in cm (the initial matter's edges are in
    units of it)."""
    return _one(True, lambda k: k.unit == "cm")


def central_mass():
    """The central object's mass: the first of the model's masses (unit g) in the table,
    which lists the central object before the disc, as a parameter file does."""
    masses = [k.name for k in _keywords() if k.model and k.unit == "g"]
    if not masses:
        raise LookupError("the keyword table has no model keyword in g")
    return masses[0]


def numeric_model_keywords():
    """The model's keywords that take a number, in the table's order."""
    return [k for k in _keywords() if k.model and k.kind != "text"]


def run_flags():
    """The run's on/off settings (a data file's header names those that are on)."""
    return [k.name for k in _keywords() if not k.model and k.unit == "flag"]


def header_model_values(value_of):
    """The model's numeric keywords of a data file's header in a parameter file's units, or
    None when one is missing. value_of(key) gives a header value (None when absent). The
    header writes a keyword in the file's unit as "KEY(UNIT)" where the unit is not its
    own (texp(days)), and lengths relative to another keyword in cm: they are divided by
    that keyword's value."""
    keywords = numeric_model_keywords()
    names = {k.name for k in _keywords()}
    values = {}
    for k in keywords:
        value = value_of(f"{k.name}({k.unit})")
        values[k.name] = value_of(k.name) if value is None else value
    if any(v is None for v in values.values()):
        return None
    for k in keywords:
        if k.unit in names and values.get(k.unit):
            values[k.name] /= values[k.unit]
        if k.kind == "integer":
            values[k.name] = int(values[k.name]) if math.isfinite(values[k.name]) else 0
    return values


def nearest(word, choices):
    """The choice a mistyped WORD most likely means (a keyword, an option), or None: the
    same word in another case first, else the closest spelling (difflib's ratio of at
    least 0.6: one or two letters swapped, dropped or added in a keyword's length)."""
    choices = list(choices)
    folded = [c for c in choices if c.lower() == word.lower()]
    if folded:
        return folded[0]
    close = difflib.get_close_matches(word, choices, n=1, cutoff=0.6)
    return close[0] if close else None
