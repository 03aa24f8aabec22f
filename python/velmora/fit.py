"""velmora-fit: fit a velmora disc model to observed light curves.

    python3 -m velmora.fit start.par xray.txt:band=2-10 optical.txt:fnu=5.45e14 --free texp,mdisk,t0 ...

Starting from a parameter file, it fits the model to one or more tables of
times, values and errors, each with its observable: the inner accretion rate,
a luminosity or flux made from it, or what the disc emits (bolometric, in an
X-ray band, at an optical frequency). First by maximum likelihood (scipy's
least squares), then, if asked, by an ensemble MCMC (emcee).

The model's time t (s) counts from the start of the evolution; the data's
times are days in their own system (MJD, say). The fit has one more parameter
than the file, t0: the start of the evolution in the data's time system, so
that t = (t_data - t0) days. Every datum must lie after t0.

Likelihood. A detection y with error e of a model value m (times a data set's
calibration factor) contributes a Gaussian of width s = sqrt(e^2 + (f m)^2),
f being the fractional systematic error (0 unless given or free); an upper
limit (a fourth column 1) with noise e contributes log Phi((limit - m) / s),
Phi the normal distribution function: the probability that a source of flux m
was measured below the limit. Least squares minimises -2 ln(likelihood x
Gaussian priors) written as a sum of squares: detections (y - m) / s plus
sqrt(2 ln(s / e)) when f > 0, limits sqrt(-2 ln Phi), priors (v - mu) / sigma.

Free parameters are fitted in internal coordinates: the value itself for a
flat prior, its decimal logarithm for a log-flat prior, cos i for the
inclination (a prior uniform in cos i, isotropic orientations); the prior is
uniform in that coordinate between the bounds, times the Gaussians given by
--prior. Least squares' errors come from (J^T J)^-1 of the residuals'
Jacobian J at the best fit, carried to the parameters to first order.

Exit statuses (every refusal comes before any fitting and leaves no output
folder; see the guide's table):
  0    the fit finished and its outputs are written
  1    least squares did not converge
  2    the command line is not understood
  3    a data table is refused, or the data do not suit the model's time scales
  4    the parameter choice is refused
  5    the parameter file or the starting model is refused
  6    the output folder cannot be written, or would replace an input
  7    the fit ran but cannot be trusted: it did not move from its start,
       errors zero or undefined, a singular Jacobian, a reduced chi^2 far
       above any plausible value, or a model that is not finite
  130  interrupted (Ctrl-C); whatever was complete is kept
"""

import argparse
import json
import math
import os
import re
import sys
import time
import warnings

import numpy as np

import velmora

from velmora import _vocabulary
from velmora.constants import c as C_LIGHT, day as SECONDS_PER_DAY, eddington_luminosity, kpc, \
    parsec as PARSEC, solar_mass as SOLAR_MASS

PROG = "velmora-fit"
DISC_FREE = ("texp", "mdisk", "l", "r_ign_in", "r_ign_out", "sigma_index", "mdot_out", "mass", "r_out_disk")
SHARED_FREE = ("distance", "inclination", "f_col", "c_irr", "sys_error")
LOG_BY_DEFAULT = ("texp", "mdisk", "mdot_out", "mass", "r_out_disk", "distance")
# A reduced chi^2 above this means the model or the errors are wrong beyond
# what an honest fit should report (errors underestimated five times).
MAX_REDUCED_CHI2 = 25.0
# A distance below this, given without a unit, was most likely meant in pc or kpc:
# 0.1 pc, well inside the Oort cloud, nearer than any X-ray binary.
PLAUSIBLE_DISTANCE_MIN = 0.1 * PARSEC

(EXIT_OK, EXIT_FAILED, EXIT_USAGE, EXIT_DATA, EXIT_PARAMS, EXIT_MODEL, EXIT_OUTPUT,
 EXIT_UNSOUND) = range(8)
EXIT_INTERRUPTED = 130
OUTPUT_FILES = ("summary.txt", "summary.json", "bestfit.par", "chain.npz", "fit.png", "trace.png", "pair.png")


class Refusal(Exception):
    """A refusal or an honest failure: message and exit status."""

    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


class NonFiniteModel(Exception):
    """The model or the likelihood is not finite at these parameter values."""

    def __init__(self, values, what):
        super().__init__(what)
        self.values, self.what = values, what

    def describe(self):
        shown = ", ".join(f"{k} = {v:.10g}" for k, v in self.values.items())
        return f"{self.what} at {shown}" if shown else self.what


# ---- the data ------------------------------------------------------------------

OBSERVABLES = {
    # name: (unit, needs distance, needs inclination, proportional to the inner rate)
    "mdot": ("g/s", False, False, True),
    "luminosity": ("erg/s", False, False, True),
    "flux": ("erg/s/cm^2", True, False, True),
    "bolometric": ("erg/s/cm^2", True, True, False),
    "band": ("erg/s/cm^2", True, True, False),
    "fnu": ("erg/s/cm^2/Hz", True, True, False),
}
DISC_METHODS = {"bolometric": "bolometric_flux", "band": "band_flux", "fnu": "flux_density"}


# A number as a table or an option writes one: ASCII digits, an optional sign, point and exponent,
# or nan/inf (refused later as not finite, with the row). Python's float() also takes "1_000" (1000)
# and digits of other scripts, which no table means as numbers.
NUMBER = re.compile(r"[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?|[-+]?(nan|inf|infinity)", re.IGNORECASE)


def number_of(text):
    """float(text) for a number as written above; ValueError for anything else."""
    if not NUMBER.fullmatch(text):
        raise ValueError(f"not a number: {text!r}")
    return float(text)


def option_number(text):
    """A finite number given to an option (argparse type)."""
    try:
        value = number_of(text.strip())
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}")
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"not finite: {text!r}")
    return value


def parse_observable(text):
    """(name, argument) of an observable: mdot, luminosity, flux, bolometric,
    band=EMIN-EMAX (keV) or fnu=FREQUENCY (Hz); raises ValueError."""
    name, sep, arg = text.strip().partition("=")
    if name not in OBSERVABLES:
        near = _vocabulary.nearest(name, OBSERVABLES)
        raise ValueError(f"unknown observable '{name}': choose among mdot, luminosity, flux, bolometric, "
                         "band=EMIN-EMAX (keV), fnu=FREQUENCY (Hz)" + (f"; did you mean {near}?" if near else ""))
    if name == "band":
        # An edge may have a signed exponent (band=5e-1-2); the dash between the edges is the one
        # that does not follow an e.
        m = re.fullmatch(r"\s*([0-9.]+(?:[eE][-+]?[0-9]+)?)\s*-\s*([0-9.]+(?:[eE][-+]?[0-9]+)?)\s*(keV)?\s*", arg)
        try:
            lo, hi = number_of(m.group(1)), number_of(m.group(2))
        except (AttributeError, ValueError):
            raise ValueError(f"band={arg}: expected band=EMIN-EMAX in keV, e.g. band=2-10")
        if not (0 < lo < hi < math.inf):
            raise ValueError(f"band={arg}: the band's edges must be positive and increasing")
        return name, (lo, hi)
    if name == "fnu":
        try:
            nu = number_of(re.sub(r"\s*Hz\s*$", "", arg).strip())
        except ValueError:
            raise ValueError(f"fnu={arg}: expected fnu=FREQUENCY in Hz, e.g. fnu=5.45e14")
        if not (0 < nu < math.inf):
            raise ValueError(f"fnu={arg}: the frequency must be positive")
        return name, nu
    if sep:
        raise ValueError(f"the observable {name} takes no argument ('{text}')")
    return name, None


def observable_label(name, arg):
    if name == "band":
        return f"band {arg[0]:g}-{arg[1]:g} keV"
    if name == "fnu":
        return f"fnu at {arg:g} Hz"
    return name


class DataSet:
    def __init__(self, index, path, observable, arg, t, y, err, limit):
        self.index, self.path, self.observable, self.arg = index, path, observable, arg
        self.t, self.y, self.err, self.limit = t, y, err, limit
        self.unit = OBSERVABLES[observable][0]
        self.label = observable_label(observable, arg)


def split_data_argument(argument, default_observable):
    """'path:observable' -> (path, observable text); a colon followed by
    something that is not an observable belongs to the path."""
    path, sep, obs = argument.rpartition(":")
    if sep and obs.strip().partition("=")[0] in OBSERVABLES:
        if os.path.isfile(argument) and not os.path.exists(path):  # a file named "lc:flux" itself
            return argument, default_observable
        return path, obs
    if sep and os.path.isfile(path) and not os.path.exists(argument):
        # lc.txt:xray with lc.txt a file: an observable misspelt, not a file of that name
        return path, obs
    return argument, default_observable


def decimal_comma_hint(line):
    """A note for a line whose numbers may be written with decimal commas (commas also separate fields)."""
    return "; decimal commas? write 1.5, not 1,5" if re.search(r"[0-9],[0-9]", line) and \
        not re.search(r"[0-9]\.[0-9]", line) else ""


READ_BLOCK = 1 << 20
# About ten million rows of numbers: their floats alone take gigabytes while they are read.
MAX_TABLE_BYTES = 512 << 20


def read_table(path, columns):
    """Times, values, errors and upper-limit flags of a table: blank and '#'
    lines skipped, fields separated by white space or commas. columns: the
    1-based columns of time, value, error and (optionally) the limit flag;
    None: 1,2,3 and column 4 as the flag where a row has one."""
    # Read in blocks, so that a stream with no end (/dev/zero, a device named by mistake) is refused at
    # its first NUL byte or at the size limit instead of filling the memory.
    chunks, size = [], 0
    try:
        with open(path, "rb") as f:
            while True:
                chunk = f.read(READ_BLOCK)
                if not chunk:
                    break
                if b"\0" in chunk:
                    raise Refusal(EXIT_DATA, f"{path} is not a text table (it holds NUL bytes, the first at byte "
                                  f"{size + chunk.index(bytes(1))}): give the light curve as columns of numbers")
                size += len(chunk)
                if size > MAX_TABLE_BYTES:
                    raise Refusal(EXIT_DATA, f"{path} is larger than {MAX_TABLE_BYTES >> 20} MiB: not a light "
                                  "curve a fit can hold in memory (a device or a stream named by mistake?)")
                chunks.append(chunk)
    except OSError as e:
        raise Refusal(EXIT_DATA, f"cannot read the data table {path}: {e.strerror}")
    raw = b"".join(chunks)
    text = raw.decode("utf-8", errors="replace")
    if text.startswith("\ufeff"):  # a byte-order mark, as spreadsheets write UTF-8: not part of the first line
        text = text[1:]
    rows, flags = [], []
    want = columns or (1, 2, 3)
    for number, line in enumerate(text.splitlines(), 1):
        s = line.strip()
        if not s or s.startswith("#"):
            continue
        fields = [x for x in re.split(r"[\s,]+", s) if x]
        if len(fields) < max(want):
            raise Refusal(EXIT_DATA, f"{path}, line {number}: {len(fields)} fields, but column {max(want)} "
                          "is asked for")
        try:
            rows.append([number_of(fields[c - 1]) for c in want[:3]])
            flag_field = fields[want[3] - 1] if len(want) == 4 else (fields[3] if columns is None and
                                                                    len(fields) >= 4 else "0")
            flag = number_of(flag_field)
        except ValueError:
            raise Refusal(EXIT_DATA, f"{path}, line {number}: not a number in the columns "
                          f"{','.join(map(str, want))}: {s[:80]!r}{decimal_comma_hint(s)}")
        if flag not in (0.0, 1.0):
            raise Refusal(EXIT_DATA, f"{path}, line {number}: the upper-limit flag (column "
                          f"{want[3] if len(want) == 4 else 4}) is {flag_field!r}, not 0 or 1 (give --columns 1,2,3 "
                          f"if that column is something else){decimal_comma_hint(s)}")
        flags.append(flag == 1.0)
    if not rows:
        raise Refusal(EXIT_DATA, f"{path} holds no rows of numbers")
    a = np.array(rows)
    t, y, e = a[:, 0], a[:, 1], a[:, 2]
    limit = np.array(flags, dtype=bool)
    if not np.all(np.isfinite(a)):
        row = int(np.where(~np.isfinite(a).all(1))[0][0]) + 1
        raise Refusal(EXIT_DATA, f"{path}: a time, value or error is not finite (row {row})")
    if np.any(e <= 0):
        bad = int(np.where(e <= 0)[0][0])
        raise Refusal(EXIT_DATA, f"{path}: the error of row {bad + 1} (time {t[bad]:g}) is {e[bad]:g}; "
                      "errors must be positive")
    order = np.argsort(t, kind="stable")
    return t[order], y[order], e[order], limit[order]


# ---- parameters, bounds and priors -----------------------------------------

class Parameter:
    """A free parameter: kind 'flat' (internal = value), 'log' (internal =
    log10 value) or 'cos' (internal = cos of the value in degrees)."""

    def __init__(self, name, start, lo, hi, kind, gauss=None):
        self.name, self.start, self.lo, self.hi, self.kind, self.gauss = name, start, lo, hi, kind, gauss

    @property
    def log(self):
        return self.kind == "log"

    def to_internal(self, v):
        if self.kind == "log":
            return math.log10(v)
        if self.kind == "cos":
            return math.cos(math.radians(v))
        return v

    def to_value(self, u):
        if self.kind == "log":
            return 10.0 ** u
        if self.kind == "cos":
            return np.degrees(np.arccos(np.clip(u, -1.0, 1.0)))
        return u

    @property
    def internal_bounds(self):
        a, b = self.to_internal(self.lo), self.to_internal(self.hi)
        return (min(a, b), max(a, b))

    @property
    def label(self):
        return {"log": f"log10 {self.name}", "cos": f"cos {self.name}"}.get(self.kind, self.name)

    @property
    def prior_kind(self):
        return {"log": "log-flat", "cos": "uniform in cos i", "flat": "flat"}[self.kind]


UNIT_WORDS = {"cm": 1.0, "pc": PARSEC, "kpc": kpc, "Mpc": 1e6 * PARSEC, "g": 1.0, "Msun": SOLAR_MASS,
              "msun": SOLAR_MASS, "deg": 1.0}


# What each unit word measures, and what a parameter's value is: a unit word is taken only for a
# parameter of its kind (5Msun for a distance, or kpc for texp, would be a silently wrong number).
UNIT_KINDS = {"cm": "length", "pc": "length", "kpc": "length", "Mpc": "length", "g": "mass", "Msun": "mass",
              "msun": "mass", "deg": "angle"}
PARAMETER_KINDS = {"distance": "length", "r_out_disk": "length", "mass": "mass", "mdisk": "mass",
                   "inclination": "angle"}


def parse_quantity(text, what, name=None):
    """A number, optionally followed by a unit word (cm, pc, kpc, Mpc; g,
    Msun; deg) of the kind of the parameter `name`; raises ValueError naming what."""
    m = re.fullmatch(r"\s*([-+0-9.eE]+)\s*([A-Za-z]+)?\s*", text)
    try:
        value = float(m.group(1)) * (UNIT_WORDS[m.group(2)] if m.group(2) else 1.0)
    except (AttributeError, ValueError, KeyError):
        raise ValueError(f"{what}: not a number with an optional unit (cm, pc, kpc, Mpc, g, Msun, deg): {text!r}")
    if not math.isfinite(value):
        raise ValueError(f"{what}: not finite: {text!r}")
    unit = m.group(2)
    if unit and name is not None and UNIT_KINDS[unit] != PARAMETER_KINDS.get(name):
        kind = PARAMETER_KINDS.get(name)
        words = [w for w, k in UNIT_KINDS.items() if k == kind and w != "msun"]
        raise ValueError(f"{what}: {unit} is a unit of {UNIT_KINDS[unit]}, not of {name} ("
                         + (f"{'an' if kind == 'angle' else 'a'} {kind}: {', '.join(words)}" if kind else "a plain number in the parameter file's "
                            "unit") + ")")
    return value


def parse_distance(text):
    try:
        d = parse_quantity(text, "--distance", "distance")
    except ValueError as e:
        raise argparse.ArgumentTypeError(str(e))
    if not d > 0:
        raise argparse.ArgumentTypeError(f"the distance must be positive, not {text!r}")
    if d < PLAUSIBLE_DISTANCE_MIN and not re.search(r"[A-Za-z]\s*$", text):
        # A bare number is in cm: "--distance 5" is 5 cm, not 5 kpc. A warning, not a refusal.
        print(f"{PROG}: warning: --distance {text.strip()} is {d:g} cm (a number without a unit is in cm): kpc? "
              f"{text.strip()}kpc is {d * kpc:.4g} cm", file=sys.stderr)
    return d


def parse_bound(text):
    name, sep, rest = text.partition("=")
    parts = rest.split(",")
    if not sep or len(parts) != 2:
        raise Refusal(EXIT_USAGE, f"--bound {text}: expected NAME=LOW,HIGH")
    try:
        return name.strip(), parse_quantity(parts[0], "--bound " + text, name.strip()), \
            parse_quantity(parts[1], "--bound " + text, name.strip())
    except ValueError as e:
        raise Refusal(EXIT_USAGE, str(e))


def parse_prior(text):
    name, sep, rest = text.partition("=")
    kind, sep2, args = rest.partition(":")
    parts = args.split(",")
    if not sep or kind.strip() != "gauss" or not sep2 or len(parts) != 2:
        raise Refusal(EXIT_USAGE, f"--prior {text}: expected NAME=gauss:MEAN,SIGMA (e.g. distance=gauss:5kpc,0.5kpc)")
    try:
        mu, sigma = (parse_quantity(p, "--prior " + text, name.strip()) for p in parts)
    except ValueError as e:
        raise Refusal(EXIT_USAGE, str(e))
    if not sigma > 0:
        raise Refusal(EXIT_USAGE, f"--prior {text}: SIGMA must be positive")
    return name.strip(), (mu, sigma)


def default_bounds(name, v, start):
    if name in ("texp", "mdisk"):
        return v / 100.0, v * 100.0
    if name == "mdot_out":
        return (v / 100.0, v * 100.0) if v > 0 else (0.0, 1e20)
    if name in ("mass", "r_out_disk", "distance"):
        return v / 10.0, v * 10.0
    if name == "l":
        return 0.1, 10.0
    if name == "r_ign_in":
        return 0.0, min(start["r_ign_out"], 1.0)
    if name == "r_ign_out":
        return start["r_ign_in"], 1.0
    if name == "sigma_index":
        return -3.0, 3.0
    if name == "inclination":
        return 0.0, 85.0
    if name == "f_col":
        return 1.0, 3.0
    if name == "c_irr":
        return 0.0, 0.1
    if name == "sys_error":
        return 0.0, 1.0
    if name.startswith("cal"):
        return 0.1, 10.0
    raise KeyError(name)


def choose_parameters(args, start, t_first, n_sets):
    """The free parameters with their starting values, bounds and priors."""
    names = [x.strip() for x in args.free.split(",") if x.strip()]
    if not names:
        raise Refusal(EXIT_PARAMS, "no free parameter named (--free)")
    cals = tuple(f"cal{i}" for i in range(1, n_sets + 1))
    allowed = DISC_FREE + ("t0",) + SHARED_FREE + cals
    for name in names:
        if name not in allowed:
            raise Refusal(EXIT_PARAMS, f"free parameter '{name}' is not one the fit can vary; choose among "
                          + ", ".join(allowed))
        if names.count(name) > 1:
            raise Refusal(EXIT_PARAMS, f"free parameter '{name}' is named twice")
    bounds = {}
    for b in args.bound or []:
        name, lo, hi = parse_bound(b)
        if name not in names:
            raise Refusal(EXIT_PARAMS, f"--bound for '{name}', which is not a free parameter")
        if not (lo < hi):
            raise Refusal(EXIT_PARAMS, f"--bound {b}: the lower bound must be below the upper one")
        bounds[name] = (lo, hi)
    gauss = {}
    for p in args.prior or []:
        name, mu_sigma = parse_prior(p)
        if name not in names:
            raise Refusal(EXIT_PARAMS, f"--prior for '{name}', which is not a free parameter")
        gauss[name] = mu_sigma
    log_names = set(x for x in (args.log or "").split(",") if x)
    flat_names = set(x for x in (args.flat or "").split(",") if x)
    for name in log_names | flat_names:
        if name not in names:
            raise Refusal(EXIT_PARAMS, f"a prior for '{name}', which is not a free parameter")
    if log_names & flat_names:
        raise Refusal(EXIT_PARAMS, "a parameter cannot have both a flat and a log-flat prior: "
                      + ",".join(sorted(log_names & flat_names)))
    params = []
    for name in names:
        v = start[name]
        if name == "inclination" and name not in flat_names and name not in log_names:
            kind = "cos"
        elif name in log_names or ((name in LOG_BY_DEFAULT or name.startswith("cal"))
                                   and name not in flat_names and v > 0):
            kind = "log"
        else:
            kind = "flat"
        if name in bounds:
            lo, hi = bounds[name]
        elif name == "t0":  # from 10 viscous times before the first datum to the first datum
            lo, hi = t_first - 10.0 * start.get("texp_days", start["texp"]), t_first
        else:
            lo, hi = default_bounds(name, v, start)
        if name == "t0" and hi > t_first:
            raise Refusal(EXIT_PARAMS, f"t0's upper bound {hi:g} is after the first datum at {t_first:g}: "
                          "the evolution must start before the data")
        if name == "inclination" and not (0 <= lo and hi <= 90):
            raise Refusal(EXIT_PARAMS, f"inclination bounds [{lo:g}, {hi:g}] must lie within 0..90 degrees")
        if name == "c_irr" and not (0 <= lo and hi <= 1):  # the model's range: at most all of Mdot c^2
            raise Refusal(EXIT_PARAMS, f"c_irr bounds [{lo:g}, {hi:g}] must lie within 0..1")
        if kind == "log" and lo <= 0:
            raise Refusal(EXIT_PARAMS, f"{name}: a log-flat prior needs positive bounds, not [{lo:g}, {hi:g}] "
                          f"(give --bound {name}=LOW,HIGH with LOW > 0, or --flat {name})")
        if not (lo <= v <= hi) or (name == "t0" and v >= hi):
            raise Refusal(EXIT_PARAMS, f"the starting value of {name}, {v:.10g}, is outside its bounds "
                          f"[{lo:.10g}, {hi:.10g}]")
        params.append(Parameter(name, v, lo, hi, kind, gauss.get(name)))
    return params


# ---- the model ---------------------------------------------------------------

class Model:
    """The observables at the data's times for a vector of internal coordinates.

    Without an outer supply the rate obeys Mdot(t) = (mdisk / texp) f(t / texp)
    at fixed l, radii and sigma_index. When texp and mdisk are the only free
    disc parameters and every observable is proportional to the rate, every
    model is the starting one rescaled,
        Mdot(t; texp, mdisk) = (mdisk / mdisk_s) (texp_s / texp) Mdot_s(t texp_s / texp),
    so the sampler evaluates all its walkers in one call on the starting
    model; otherwise each model is made with replace() (the last one kept)."""

    def __init__(self, base, params, fixed, datasets, scalable=False):
        self.base, self.params, self.fixed, self.datasets = base, params, fixed, datasets
        self.names = [p.name for p in params]
        self.disc_free = [n for n in self.names if n in DISC_FREE]
        self.scalable = (scalable and set(self.disc_free) <= {"texp", "mdisk"}
                         and all(OBSERVABLES[d.observable][3] for d in datasets))
        self.sizes = [d.t.size for d in datasets]
        self.t_all = np.concatenate([d.t for d in datasets])
        self.evaluations = 0
        self._last = (None, None)

    def values(self, u):
        """Every parameter's value (the fixed ones too) for internal coordinates u."""
        v = dict(self.fixed)
        v.update({p.name: float(p.to_value(x)) for p, x in zip(self.params, u)})
        return v

    def free_values(self, u):
        return {p.name: float(p.to_value(x)) for p, x in zip(self.params, u)}

    def disc(self, v):
        changes = {k: v[k] for k in self.disc_free}
        key = tuple(sorted(changes.items()))
        if self._last[0] != key:
            self._last = (key, self.base.replace(**changes) if changes else self.base)
        return self._last[1]

    def rate_factor(self, ds, v):
        """Observable per unit inner rate for the observables proportional to it."""
        if ds.observable == "mdot":
            return 1.0
        lum = v["eta"] * C_LIGHT ** 2
        if ds.observable == "luminosity":
            return lum
        return lum / (4.0 * math.pi * v["distance"] ** 2)

    def observe(self, ds, disc, t_s, v):
        if OBSERVABLES[ds.observable][3]:
            return self.rate_factor(ds, v) * disc.mdot(t_s)
        method = getattr(disc, DISC_METHODS[ds.observable])
        kw = {"distance": v["distance"], "inclination": v["inclination"]}
        if ds.observable != "bolometric":
            for key in ("f_col", "c_irr"):
                if v.get(key) is not None:
                    kw[key] = v[key]
        if ds.observable == "band":
            return method(t_s, ds.arg[0], ds.arg[1], **kw)
        if ds.observable == "fnu":
            return method(t_s, ds.arg, **kw)
        return method(t_s, **kw)

    def predict(self, u, t_override=None):
        """Model values (times each set's calibration) per data set, at its
        times or at t_override (a list of arrays of data times)."""
        self.evaluations += 1
        v = self.values(u)
        disc = self.disc(v)
        out = []
        for i, ds in enumerate(self.datasets):
            t = ds.t if t_override is None else t_override[i]
            m = self.observe(ds, disc, (t - v["t0"]) * SECONDS_PER_DAY, v)
            out.append(v.get(f"cal{ds.index}", 1.0) * np.asarray(m, dtype=float))
        return out

    def predict_many(self, U):
        """Rows of model values over all data sets (concatenated), one per row
        of internal coordinates."""
        U = np.atleast_2d(U)
        if not self.scalable:
            return np.array([np.concatenate(self.predict(u)) for u in U])
        self.evaluations += U.shape[0]
        cols = {n: np.array([p.to_value(x) for x in U[:, i]], dtype=float) for i, (n, p) in
                enumerate(zip(self.names, self.params))}

        def col(name):
            return cols[name] if name in cols else np.full(U.shape[0], self.fixed[name])
        texp, mdisk, t0 = col("texp"), col("mdisk"), col("t0")
        stretch = self.fixed["texp"] / texp
        t = ((self.t_all[None, :] - t0[:, None]) * (SECONDS_PER_DAY * stretch[:, None])).ravel()
        rate = self.base.mdot(t).reshape(U.shape[0], self.t_all.size) * (mdisk / self.fixed["mdisk"] * stretch)[:, None]
        start = 0
        for ds, n in zip(self.datasets, self.sizes):
            factor = np.ones(U.shape[0])
            if ds.observable != "mdot":
                factor *= self.fixed["eta"] * C_LIGHT ** 2
            if ds.observable == "flux":
                factor /= 4.0 * math.pi * col("distance") ** 2
            if f"cal{ds.index}" in cols:
                factor *= cols[f"cal{ds.index}"]
            rate[:, start:start + n] *= factor[:, None]
            start += n
        return rate


class Likelihood:
    """The data's likelihood and the Gaussian priors of a model (see the
    module's notes), as a log probability and as least squares' residuals."""

    def __init__(self, model):
        self.model = model
        self.y = np.concatenate([d.y for d in model.datasets])
        self.err = np.concatenate([d.err for d in model.datasets])
        self.limit = np.concatenate([d.limit for d in model.datasets])
        self.det = ~self.limit
        self.sys_free = "sys_error" in model.names
        self.gauss = [(i, p.gauss) for i, p in enumerate(model.params) if p.gauss]

    def sys(self, values):
        return values.get("sys_error", 0.0) or 0.0

    def parts(self, m, f):
        """Per-datum: z = (y - m) / s, s and the log-likelihood terms."""
        from scipy.special import log_ndtr
        s = np.sqrt(self.err ** 2 + (f * m) ** 2) if np.any(f) else self.err
        z = (self.y - m) / s
        return z, s, np.where(self.det, -0.5 * z * z - np.log(s / self.err), log_ndtr(z))

    def residuals(self, u):
        v = self.model.values(u)
        m = np.concatenate(self.model.predict(u))
        if not np.all(np.isfinite(m)):
            raise NonFiniteModel(self.model.free_values(u), "the model is not finite")
        f = self.sys(v)
        z, s, _ = self.parts(m, f)
        from scipy.special import log_ndtr
        r = np.where(self.det, z, np.sqrt(np.maximum(-2.0 * log_ndtr(z), 0.0)))
        extra = []
        if f > 0 or self.sys_free:
            extra.append(np.sqrt(np.maximum(2.0 * np.log(s[self.det] / self.err[self.det]), 0.0)))
        for i, (mu, sigma) in self.gauss:
            extra.append(np.array([(self.model.params[i].to_value(u[i]) - mu) / sigma]))
        out = np.concatenate([r] + extra) if extra else r
        if not np.all(np.isfinite(out)):
            raise NonFiniteModel(self.model.free_values(u), "the likelihood is not finite")
        return out

    def chi2(self, u):
        """Sum of squares of the data's part: (y - m)^2 / s^2 over detections
        plus -2 ln Phi over limits."""
        from scipy.special import log_ndtr
        v = self.model.values(u)
        z, s, _ = self.parts(np.concatenate(self.model.predict(u)), self.sys(v))
        return float(np.sum(z[self.det] ** 2) - 2.0 * np.sum(log_ndtr(z[self.limit])))

    def log_probability_rows(self, U, lo, hi):
        lp = np.full(U.shape[0], -np.inf)
        inside = np.all((U >= lo) & (U <= hi), axis=1)
        if not np.any(inside):
            return lp
        rows = np.where(inside)[0]
        try:
            M = self.model.predict_many(U[rows])
            bad = []
        except (ValueError, RuntimeError):  # a model velmora refuses: one by one
            M, bad = [], []
            for i in rows:
                try:
                    M.append(self.model.predict_many(U[i:i + 1])[0])
                except (ValueError, RuntimeError):
                    M.append(None)
                    bad.append(i)
        for k, i in enumerate(rows):
            if i in bad:
                continue
            m = M[k]
            v = self.model.values(U[i])
            if not np.all(np.isfinite(m)):
                raise NonFiniteModel(self.model.free_values(U[i]), "the model is not finite")
            _, _, terms = self.parts(m, self.sys(v))
            total = float(np.sum(terms))
            for j, (mu, sigma) in self.gauss:
                total -= 0.5 * ((self.model.params[j].to_value(U[i, j]) - mu) / sigma) ** 2
            if not math.isfinite(total):
                raise NonFiniteModel(self.model.free_values(U[i]), "the log-likelihood is not finite")
            lp[i] = total
        return lp


# ---- least squares ---------------------------------------------------------

def internal_bounds(params, strict_t0):
    lo = np.array([p.internal_bounds[0] for p in params])
    hi = np.array([p.internal_bounds[1] for p in params])
    # t0 may not reach the first datum (the model has no value at t = 0)
    for i, p in enumerate(params):
        if p.name == "t0":
            hi[i] = hi[i] - 1e-6 * (hi[i] - lo[i]) if strict_t0 else np.nextafter(hi[i], -np.inf)
    return lo, hi


def value_derivatives(params, u):
    """d value / d internal coordinate at u (central differences for cos i)."""
    out = []
    for p, x in zip(params, u):
        if p.kind == "log":
            out.append(p.to_value(x) * math.log(10.0))
        elif p.kind == "cos":
            h = 1e-7
            a, b = p.internal_bounds
            out.append(float(p.to_value(min(x + h, b)) - p.to_value(max(x - h, a))) / (min(x + h, b) - max(x - h, a)))
        else:
            out.append(1.0)
    return np.array(out)


def least_squares_fit(model, like=None):
    """Maximum of the likelihood times the Gaussian priors within the bounds."""
    from scipy.optimize import least_squares

    like = like or Likelihood(model)
    params = model.params
    u0 = np.array([p.to_internal(p.start) for p in params])
    lo, hi = internal_bounds(params, strict_t0=True)
    u0 = np.clip(u0, lo, hi)

    def residuals(u):
        try:
            return like.residuals(u)
        except (ValueError, RuntimeError):  # a model velmora refuses inside the bounds
            return np.full(like.residuals_size, 1e10)

    like.residuals_size = like.residuals(u0).size
    res = least_squares(residuals, u0, bounds=(lo, hi), x_scale="jac", method="trf")
    J = res.jac
    try:
        cov_u = np.linalg.inv(J.T @ J)
    except np.linalg.LinAlgError:
        cov_u = np.full((len(params), len(params)), np.nan)
    deriv = value_derivatives(params, res.x)
    cov = cov_u * np.outer(deriv, deriv)
    at_bound = [p.name for p, x, a, b in zip(params, res.x, lo, hi) if np.isclose(x, a, rtol=0, atol=1e-9 * (b - a))
                or np.isclose(x, b, rtol=0, atol=1e-9 * (b - a))]
    # upper limits the model keeps below add about nothing to chi^2: the
    # degrees of freedom are the detections' less the free parameters
    n_points = int(like.det.sum())
    return {
        "u": res.x, "u0": u0, "cov_u": cov_u, "jac": J,
        "best": {p.name: float(p.to_value(x)) for p, x in zip(params, res.x)},
        "error": {p.name: float(math.sqrt(cov[i, i])) if np.isfinite(cov[i, i]) and cov[i, i] >= 0 else float("nan")
                  for i, p in enumerate(params)},
        "covariance": cov.tolist(),
        "chi2": like.chi2(res.x), "minus_2_ln_posterior": float(2.0 * res.cost),
        "dof": int(n_points - len(params)),
        "success": bool(res.success), "message": res.message, "nfev": int(res.nfev),
        "at_bound": at_bound,
    }


def likely_causes(model, like, u, datasets, start):
    """Words on what most often makes a fit fail: the times' unit, the
    observable, the distance."""
    causes = []
    span = max(d.t.max() for d in datasets) - min(d.t.min() for d in datasets)
    texp = model.values(u)["texp"] or start.get("texp_days", 0.0)  # 0: the file gives kappa instead
    if texp > 0 and span > 100.0 * texp:
        causes.append(f"the data span {span:.4g} days, {span / texp:.3g} viscous times: are the times in seconds "
                      "rather than days?")
    try:
        parts = model.predict(u)
    except (ValueError, RuntimeError):
        parts = None
    if parts is not None:
        for ds, m in zip(datasets, parts):
            det = ~ds.limit
            if not np.any(det):
                continue
            good = det & (m > 0)
            if np.any(good):
                ratio = float(np.median(ds.y[good] / m[good]))
                if not (1e-2 < abs(ratio) < 1e2):
                    hint = "the observable (luminosity? flux?)"
                    if OBSERVABLES[ds.observable][1]:
                        hint += " or the distance"
                    causes.append(f"{ds.path} ({ds.label}, {ds.unit}) lies {abs(ratio):.3g} times the model: is "
                                  f"{hint} right?")
    if not causes:
        causes.append("the fixed parameters do not suit the data, or the errors are too small")
    return "; ".join(causes)


def check_soundness(ls, model, like, datasets, start):
    """Exit with EXIT_UNSOUND where least squares' result cannot be trusted."""
    params = model.params
    names = [p.name for p in params]
    lo, hi = internal_bounds(params, strict_t0=True)
    width = np.where(np.isfinite(hi - lo), hi - lo, 1.0)
    if np.all(np.abs(ls["u"] - ls["u0"]) <= 1e-10 * np.maximum(width, 1e-300)):
        raise Refusal(EXIT_UNSOUND, "the fit did not move from its start: the data do not respond to "
                      f"{', '.join(names)} there. Likely cause: " + likely_causes(model, like, ls["u"], datasets, start))
    J = ls["jac"]
    col = np.linalg.norm(J, axis=0)
    sv = np.linalg.svd(J, compute_uv=False)
    if sv.size < len(names) or not np.all(np.isfinite(sv)) or sv[-1] <= 1e-12 * sv[0]:
        dead = [n for n, c in zip(names, col) if not c > 1e-10 * col.max()]
        what = (f"the data do not depend on {', '.join(dead)}" if dead else
                "some free parameters change the model in the same way (degenerate)")
        raise Refusal(EXIT_UNSOUND, f"the Jacobian of the fit is singular: {what}; fix or bound them. "
                      "Likely cause: " + likely_causes(model, like, ls["u"], datasets, start))
    bad = [n for n in names if not (math.isfinite(ls["error"][n]) and ls["error"][n] > 0)]
    if bad:
        raise Refusal(EXIT_UNSOUND, f"the errors of {', '.join(bad)} are zero or undefined: the fit cannot tell "
                      "how well the data constrain them. Likely cause: "
                      + likely_causes(model, like, ls["u"], datasets, start))
    dof = max(ls["dof"], 1)
    if ls["chi2"] / dof > MAX_REDUCED_CHI2:
        raise Refusal(EXIT_UNSOUND, f"the best fit's reduced chi^2 is {ls['chi2'] / dof:.3g} ({ls['chi2']:.4g} for "
                      f"{ls['dof']} degrees of freedom), far above any plausible value (> {MAX_REDUCED_CHI2:g}): its "
                      "errors would mean nothing. Likely cause: " + likely_causes(model, like, ls["u"], datasets, start))


# ---- MCMC ----------------------------------------------------------------------

_SAMPLING = {}  # the likelihood and bounds of the log-probability, set before any pool starts


def log_probability(U):
    """Log posterior of rows of internal coordinates (flat priors in them
    between the bounds, times the Gaussian priors). A model that is not
    finite, or Ctrl-C, is kept for the caller and stops the walkers: emcee
    would print its own traceback for an exception raised here."""
    s = _SAMPLING
    U = np.atleast_2d(U)
    if s.get("stop") is None:
        try:
            return s["like"].log_probability_rows(U, s["lo"], s["hi"])
        except (NonFiniteModel, KeyboardInterrupt) as e:
            s["stop"] = e
    return np.full(U.shape[0], -np.inf)


def log_probability_one(u):
    """One walker, in a pool's process: a model that is not finite returns
    nan, which emcee refuses (the parent cannot see the child's state)."""
    try:
        return float(_SAMPLING["like"].log_probability_rows(np.atleast_2d(u), _SAMPLING["lo"], _SAMPLING["hi"])[0])
    except NonFiniteModel:
        return float("nan")


def mcmc(model, like, ls, args):
    import emcee

    params = model.params
    lo, hi = internal_bounds(params, strict_t0=False)
    _SAMPLING.update(like=like, lo=lo, hi=hi, stop=None)
    ndim = len(params)
    rng = np.random.default_rng(args.seed)
    # Walkers start in a small ball around the least-squares fit, scaled by
    # its errors (a tenth of them), inside the bounds.
    scale = 0.1 * np.sqrt(np.clip(np.diag(ls["cov_u"]), 0, None))
    scale = np.where(np.isfinite(scale) & (scale > 0), scale, 1e-4 * (hi - lo))
    start = ls["u"] + scale * rng.standard_normal((args.walkers, ndim))
    start = np.clip(start, lo + 1e-9 * (hi - lo), hi - 1e-9 * (hi - lo))

    pool = None
    if args.processes > 1:
        import multiprocessing
        pool = multiprocessing.get_context("fork").Pool(args.processes)
    try:
        # One process: all walkers of a step in one call (vectorize); a pool
        # maps the walkers one by one over its processes.
        if pool is None:
            sampler = emcee.EnsembleSampler(args.walkers, ndim, log_probability, vectorize=True)
        else:
            sampler = emcee.EnsembleSampler(args.walkers, ndim, log_probability_one, pool=pool)
        sampler.random_state = np.random.RandomState(args.seed).get_state()
        t_start = time.perf_counter()
        try:
            for _ in sampler.sample(start, iterations=args.steps, progress=not args.quiet):
                if _SAMPLING["stop"] is not None:
                    raise _SAMPLING["stop"]
        except ValueError as e:  # emcee's own refusal of a nan from a pool's process
            if "NaN" not in str(e):
                raise
            raise NonFiniteModel({}, "the log-probability of a walker is not finite "
                                 "(run with --processes 1 to name its parameters)")
        seconds = time.perf_counter() - t_start
    finally:
        if pool is not None:
            pool.terminate()
            pool.join()
    burn = args.burn if args.burn is not None else args.steps // 4
    tau = sampler.get_autocorr_time(discard=burn, quiet=True, tol=0)
    kept = args.steps - burn
    too_short = bool(np.any(~np.isfinite(tau)) or kept < 50 * np.nanmax(tau))
    flat = sampler.get_chain(discard=burn, flat=True)
    values = np.column_stack([[p.to_value(x) for x in flat[:, i]] for i, p in enumerate(params)])
    pct = np.percentile(values, [16, 50, 84], axis=0)
    lp = sampler.get_log_prob(discard=burn, flat=True)
    ibest = int(np.argmax(lp))
    return {
        "sampler": sampler, "burn": burn, "seconds": seconds, "flat": flat,
        "median": {p.name: float(pct[1, i]) for i, p in enumerate(params)},
        "p16": {p.name: float(pct[0, i]) for i, p in enumerate(params)},
        "p84": {p.name: float(pct[2, i]) for i, p in enumerate(params)},
        "max_posterior": {p.name: float(values[ibest, i]) for i, p in enumerate(params)},
        "acceptance": float(np.mean(sampler.acceptance_fraction)),
        "tau": {p.name: float(tau[i]) for i, p in enumerate(params)},
        "kept_steps": kept, "too_short": too_short,
    }


# ---- derived quantities ------------------------------------------------------

DERIVED = [
    # name, unit, description
    ("initial_mass", "g", "the mass the disc held at t0"),
    ("peak_time", "days", "time of the model's peak rate, in the data's time system"),
    ("peak_rate", "g/s", "the model's peak inner accretion rate"),
    ("peak_eddington_ratio", "1", "eta Mdot_peak c^2 over the Eddington luminosity of the central mass"),
    ("accreted_mass", "g", "mass accreted through the centre over the data's span"),
]


def derived_quantities(model, u, t_first, t_last):
    """The derived quantities of the model at internal coordinates u."""
    from scipy.optimize import minimize_scalar
    v = model.values(u)
    disc = model.disc(v)
    texp_s = disc.texp_seconds
    # the peak: a logarithmic grid over 0.01 .. 30 viscous times (earlier
    # times need many modes: searched only when the peak lies at the grid's
    # start), refined between the grid's neighbours of the largest value
    grid = texp_s * np.logspace(-2, math.log10(30.0), 150)
    rate = np.asarray(disc.mdot(grid))
    k = int(np.nanargmax(rate))
    if k == 0:
        grid = texp_s * np.logspace(-5, -2, 100)
        rate = np.asarray(disc.mdot(grid))
        k = int(np.nanargmax(rate))
    a, b = grid[max(k - 1, 0)], grid[min(k + 1, grid.size - 1)]
    if b > a:
        r = minimize_scalar(lambda x: -float(disc.mdot(x)), bounds=(a, b), method="bounded",
                            options={"xatol": 1e-9 * b})
        t_peak, peak = (r.x, -r.fun) if -r.fun >= rate[k] else (grid[k], rate[k])
    else:
        t_peak, peak = grid[k], rate[k]
    s1 = max((t_first - v["t0"]) * SECONDS_PER_DAY, 0.0)
    s2 = (t_last - v["t0"]) * SECONDS_PER_DAY
    accreted = float(disc.accreted_mass(s2)) - (float(disc.accreted_mass(s1)) if s1 > 0 else 0.0)
    return {
        "initial_mass": float(disc.initial_mass),
        "peak_time": v["t0"] + t_peak / SECONDS_PER_DAY,
        "peak_rate": float(peak),
        "peak_eddington_ratio": float(v["eta"] * peak * C_LIGHT ** 2 / eddington_luminosity(v["mass"])),
        "accreted_mass": accreted,
    }


def derived_summary(model, best_u, samples, t_first, t_last):
    """Value at the best fit, and the standard deviation and 16/50/84
    percentiles over the samples (internal coordinates)."""
    best = derived_quantities(model, best_u, t_first, t_last)
    rows = []
    for u in samples:
        try:
            rows.append(derived_quantities(model, u, t_first, t_last))
        except (ValueError, RuntimeError):
            pass
    out = {}
    for name, unit, doc in DERIVED:
        x = np.array([r[name] for r in rows], dtype=float)
        x = x[np.isfinite(x)]
        entry = {"value": best[name], "unit": unit, "description": doc, "samples": int(x.size)}
        if x.size >= 2:
            p16, p50, p84 = np.percentile(x, [16, 50, 84])
            entry.update(error=float(np.std(x, ddof=1)), p16=float(p16), p50=float(p50), p84=float(p84))
        out[name] = entry
    return out


def covariance_samples(ls, params, n, seed):
    """n draws of internal coordinates from least squares' Gaussian, inside the bounds."""
    lo, hi = internal_bounds(params, strict_t0=True)
    rng = np.random.default_rng(seed)
    cov = np.asarray(ls["cov_u"])
    try:
        draws = rng.multivariate_normal(ls["u"], cov, size=4 * n, check_valid="raise")
    except (ValueError, np.linalg.LinAlgError):
        return np.empty((0, len(params)))
    inside = draws[np.all((draws >= lo) & (draws <= hi), axis=1)]
    return inside[:n]


# ---- outputs -----------------------------------------------------------------

def write_bestfit_par(path, values, best, t_model, data_names, t0, par_dir):
    """The starting file's values with the best-fit keywords, output times
    covering the data's model times, and its own run name."""
    values = dict(values)
    values.update({k: v for k, v in best.items() if k in DISC_FREE})
    texp = values.get("texp") or 0
    if texp > 0:
        values["MIN_TIME"] = float(t_model.min() / texp)
        values["MAX_TIME"] = float(t_model.max() / texp)
        values["NUM_TIME"] = int(max(2, min(t_model.size, 100)))
    values["name"] = "bestfit"
    if values.get("supply_file") and not os.path.isabs(values["supply_file"]):
        values["supply_file"] = os.path.abspath(os.path.join(par_dir, values["supply_file"]))
    fitted = ", ".join(k for k in best if k in DISC_FREE) or "none"
    header = (f"Best fit of velmora-fit to {', '.join(data_names)}. Fitted keywords: {fitted}. Time 0 of this run "
              f"is t0 = {t0:.10g} days in the data's time system; MIN_TIME and MAX_TIME span the data.\n\n")
    with open(path, "w") as f:
        f.write(header.replace("#", " ") + velmora.format_parameter_file(values))


def figures(outdir, model, ls_u, mc, t0_best, which=("fit", "trace", "pair")):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import MaxNLocator

    sets = model.datasets
    n = len(sets)
    if "fit" in which:
        fig, axes = plt.subplots(2 * n, 1, sharex=True, figsize=(7, 4.5 * n + 1.0),
                                 gridspec_kw={"height_ratios": [3, 1] * n}, squeeze=False)
        t_lo = min(d.t.min() for d in sets)
        t_hi = max(d.t.max() for d in sets)
        fine = np.linspace(t_lo, t_hi, 400)
        fine = fine[fine > t0_best]
        m_fine = model.predict(ls_u, [fine] * n)
        m_data = model.predict(ls_u)
        draws = []
        if mc is not None:
            rng = np.random.default_rng(0)
            flat = mc["flat"]
            for k in rng.choice(len(flat), size=min(50, len(flat)), replace=False):
                try:
                    draws.append(model.predict(flat[k], [fine] * n))
                except (ValueError, RuntimeError):
                    pass
        for i, ds in enumerate(sets):
            a1, a2 = axes[2 * i, 0], axes[2 * i + 1, 0]
            det = ~ds.limit
            a1.errorbar(ds.t[det], ds.y[det], ds.err[det], fmt=".", color="k", ms=4, lw=0.8, label="data")
            if np.any(ds.limit):
                # arrows down from each limit: the limit is the top of the arrow
                a1.errorbar(ds.t[ds.limit], ds.y[ds.limit], yerr=0.3 * ds.y[ds.limit], uplims=True, fmt="none",
                            ecolor="C2", lw=1, label="upper limits")
            for d in draws:
                a1.plot(fine, d[i], color="C1", alpha=0.08, lw=0.8)
            a1.plot(fine, m_fine[i], color="C0", lw=1.5, label="best fit")
            if np.all(ds.y > 0):
                a1.set_yscale("log")
            a1.set_ylabel(f"{ds.label} ({ds.unit})")
            a1.set_title(os.path.basename(ds.path), fontsize=9)
            a1.legend(fontsize=8)
            s = ds.err
            a2.errorbar(ds.t[det], ((ds.y - m_data[i]) / s)[det], 1.0, fmt=".", color="k", ms=4, lw=0.8)
            if np.any(ds.limit):
                a2.plot(ds.t[ds.limit], ((ds.y - m_data[i]) / s)[ds.limit], "v", color="C2", ms=4)
            a2.axhline(0, color="C0")
            a2.set_ylabel("(data - model) / error", fontsize=8)
        axes[-1, 0].set_xlabel("time (days, data's time system)")
        fig.tight_layout()
        fig.savefig(os.path.join(outdir, "fit.png"), dpi=110)
        plt.close(fig)
    if mc is None:
        return
    chain = mc["sampler"].get_chain()
    labels = [p.label for p in model.params]
    k = len(labels)
    fig, axes = plt.subplots(k, 1, sharex=True, figsize=(7, 1.6 * k + 0.6), squeeze=False)
    for i, ax in enumerate(axes[:, 0]):
        ax.plot(chain[:, :, i], color="k", alpha=0.15, lw=0.5)
        ax.axvline(mc["burn"], color="C3", lw=1)
        ax.set_ylabel(labels[i])
        ax.ticklabel_format(useOffset=False, axis="y")
    axes[-1, 0].set_xlabel("step (red: end of burn-in)")
    fig.tight_layout()
    fig.savefig(os.path.join(outdir, "trace.png"), dpi=110)
    plt.close(fig)
    flat = mc["flat"]
    fig, axes = plt.subplots(k, k, figsize=(2.2 * k + 0.8, 2.2 * k + 0.8), squeeze=False)
    for i in range(k):
        for j in range(k):
            ax = axes[i, j]
            if j > i:
                ax.axis("off")
                continue
            if i == j:
                ax.hist(flat[:, i], bins=40, color="C0", histtype="step")
                for q in np.percentile(flat[:, i], [16, 50, 84]):
                    ax.axvline(q, color="k", ls="--", lw=0.8)
                ax.set_yticks([])
            else:
                ax.hist2d(flat[:, j], flat[:, i], bins=40, cmap="Greys")
                ax.plot(ls_u[j], ls_u[i], "+", color="C3", ms=10)
            ax.tick_params(labelsize=7)
            ax.xaxis.set_major_locator(MaxNLocator(4))
            ax.ticklabel_format(useOffset=False, axis="x")
            if i != j:
                ax.yaxis.set_major_locator(MaxNLocator(4))
                ax.ticklabel_format(useOffset=False, axis="y")
            if i == k - 1:
                ax.set_xlabel(labels[j])
            else:
                ax.set_xticklabels([])
            if j == 0 and i > 0:
                ax.set_ylabel(labels[i])
            elif j > 0:
                ax.set_yticklabels([])
            for lab in ax.get_xticklabels():
                lab.set_rotation(45)
    fig.tight_layout()
    fig.savefig(os.path.join(outdir, "pair.png"), dpi=110)
    plt.close(fig)


def fmt(v, name=""):
    return f"{v:.10g}" if name in ("t0", "peak_time") else f"{v:.6g}"


def summary_text(info):
    ls, mc = info["least_squares"], info.get("mcmc")
    out = [f"velmora-fit of {', '.join(d['path'] for d in info['data'])} with {info['parameter_file']}"]
    for d in info["data"]:
        limits = f", {d['upper_limits']} of them upper limits" if d["upper_limits"] else ""
        out.append(f"data {d['path']}: {d['observable']} ({d['unit']}), {d['points']} points{limits}")
    out += [f"free parameters: {', '.join(info['free'])}", "",
            "least squares: best fit and 1-sigma errors from the covariance of the Jacobian",
            f"  chi^2 = {ls['chi2']:.4g} for {ls['dof']} degrees of freedom (reduced {ls['chi2'] / max(ls['dof'], 1):.3g}); "
            f"{ls['nfev']} steps of the solver; {ls['message']}"]
    for name in info["free"]:
        prior = info["priors"][name]
        gauss = f", Gaussian {fmt(prior['gauss'][0])} +- {fmt(prior['gauss'][1])}" if prior.get("gauss") else ""
        out.append(f"  {name:12s} = {fmt(ls['best'][name], name)} +- {fmt(ls['error'][name])}   "
                   f"prior {prior['kind']} on [{fmt(prior['low'])}, {fmt(prior['high'])}]{gauss}")
    if ls["at_bound"]:
        out.append(f"  at a bound (the errors there mean little): {', '.join(ls['at_bound'])}")
    if mc:
        out += ["", f"MCMC: {mc['walkers']} walkers x {mc['steps']} steps, seed {mc['seed']}, first {mc['burn']} "
                f"steps discarded; acceptance fraction {mc['acceptance']:.3f}; {mc['seconds']:.1f} s",
                "  median and 16/84 percentiles; integrated autocorrelation time (steps)"]
        for name in info["free"]:
            med = mc["median"][name]
            out.append(f"  {name:12s} = {fmt(med, name)} -{fmt(med - mc['p16'][name])} +{fmt(mc['p84'][name] - med)}"
                       f"   tau = {mc['tau'][name]:.1f}")
        if mc["too_short"]:
            out.append(f"  WARNING: the chain is too short to trust the autocorrelation times: {mc['kept_steps']} "
                       "kept steps are fewer than 50 tau; run more steps")
        else:
            out.append(f"  the {mc['kept_steps']} kept steps exceed 50 autocorrelation times")
    derived = info.get("derived")
    if derived:
        src = "the MCMC's samples" if mc else "draws from least squares' covariance"
        out += ["", f"derived quantities: at the best fit, +- the standard deviation and 16/50/84 percentiles over {src}"]
        for name, unit, _ in DERIVED:
            d = derived[name]
            if "error" in d:
                out.append(f"  {name:20s} = {fmt(d['value'], name)} +- {fmt(d['error'])} {unit}   "
                           f"[{fmt(d['p16'], name)}, {fmt(d['p50'], name)}, {fmt(d['p84'], name)}]")
            else:
                out.append(f"  {name:20s} = {fmt(d['value'], name)} {unit}")
    out += ["", f"best-fit parameter file: {info['bestfit_par']} (t0 = {info['t0_best']:.10g} is not a keyword: "
            "the program's time 0 is t0 in the data's time)"]
    return "\n".join(out) + "\n"


# ---- the command -----------------------------------------------------------

class _Parser(argparse.ArgumentParser):
    """argparse's parser, whose refusal of an unknown option names the option most likely meant."""

    def error(self, message):
        unknown = re.match(r"unrecognized arguments: (.*)", message)
        if unknown:
            options = [o for o in self._option_string_actions if o.startswith("--")]
            hints = []
            for word in unknown.group(1).split():
                near = _vocabulary.nearest(word.partition("=")[0], options) if word.startswith("--") else None
                if near:
                    hints.append(f"{word.partition('=')[0]}: did you mean {near}?")
            if hints:
                message += " (" + "; ".join(hints) + ")"
        super().error(message)


def parse_args(argv):
    p = _Parser(
        prog=PROG, formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Fit a velmora model to light curves: least squares, then optionally an emcee MCMC.",
        epilog="Data sets: PATH or PATH:OBSERVABLE, OBSERVABLE one of mdot, luminosity, flux, bolometric, "
               "band=EMIN-EMAX (keV), fnu=FREQUENCY (Hz). Exit statuses: 0 done; 1 least squares did not "
               "converge; 2 usage; 3 data refused; 4 parameter choice refused; 5 parameter file or starting model "
               "refused; 6 output folder not writable or holding an input; 7 the fit cannot be trusted; "
               "130 interrupted.\n\nExample (the synthetic outburst of the clone's examples/, a flux at 5 kpc):\n"
               f"  {PROG} examples/outburst_start.par examples/outburst_synthetic.txt --free texp,mdisk,t0 \\\n"
               "      --t0 57999 --observable flux --distance 5kpc --mcmc -o runs/fit")
    p.add_argument("parameter_file", help="velmora parameter file: the starting model and the fixed parameters")
    p.add_argument("data", nargs="+",
                   help="light curves: columns time (days), value, error and optionally 1 for an upper limit; "
                        "'#' lines skipped; PATH:OBSERVABLE gives each its observable")
    p.add_argument("--free", required=True,
                   help="comma-separated free parameters among " + ", ".join(DISC_FREE + ("t0",) + SHARED_FREE)
                   + ", calN (data set N's calibration factor)")
    p.add_argument("--columns", help="1-based columns of time, value, error and optionally the upper-limit flag "
                   "(default: 1,2,3 and column 4 as the flag where present)")
    p.add_argument("--observable", default="mdot",
                   help="the observable of data sets given without one (default mdot): mdot (g/s), luminosity "
                        "(eta Mdot c^2, erg/s), flux (L / (4 pi d^2), erg/s/cm^2), bolometric, band=EMIN-EMAX, fnu=HZ")
    p.add_argument("--eta", type=option_number, default=0.1, help="radiative efficiency for luminosity, flux and the "
                   "Eddington ratio (default 0.1)")
    p.add_argument("--distance", type=parse_distance, dest="distance_cm",
                   help="distance: a number in cm, or with a unit pc, kpc, Mpc (e.g. 8kpc)")
    p.add_argument("--inclination", type=option_number, help="inclination in degrees (0: face-on)")
    p.add_argument("--f-col", type=option_number, dest="f_col", help="colour-correction factor of the disc's emission")
    p.add_argument("--c-irr", type=option_number, dest="c_irr", help="irradiation parameter of the disc's emission")
    p.add_argument("--sys-error", type=option_number, dest="sys_error", help="fractional systematic error added in "
                   "quadrature to every error (default 0; free with --free sys_error)")
    p.add_argument("--t0", type=option_number, help="start of the evolution in the data's time (days); default: if t0 "
                   "is free, the first datum minus 0.1 texp, else 0")
    p.add_argument("--bound", action="append", metavar="NAME=LOW,HIGH",
                   help="bounds of a free parameter (repeatable; units allowed: 3kpc,8kpc)")
    p.add_argument("--prior", action="append", metavar="NAME=gauss:MEAN,SIGMA",
                   help="a Gaussian prior on a free parameter (repeatable), e.g. distance=gauss:5kpc,0.5kpc")
    p.add_argument("--log", help="comma-separated parameters with log-flat priors (default: texp, mdisk, mdot_out, "
                   "mass, r_out_disk, distance, calN)")
    p.add_argument("--flat", help="comma-separated parameters with flat priors (the default for the others)")
    p.add_argument("--mcmc", action="store_true", help="run the emcee sampler after least squares")
    p.add_argument("--walkers", type=int, default=32, help="MCMC walkers (default 32)")
    p.add_argument("--steps", type=int, default=5000, help="MCMC steps per walker (default 5000)")
    p.add_argument("--burn", type=int, help="steps discarded as burn-in (default a quarter of the steps)")
    p.add_argument("--seed", type=int, default=1, help="random seed of the walkers' start and moves, 0 to 2^32-1 "
                   "(default 1)")
    p.add_argument("--processes", type=int, default=1, help="worker processes for the MCMC (default 1)")
    p.add_argument("-o", "--out", default="fit", help="output folder (default: fit)")
    p.add_argument("--quiet", action="store_true", help="no progress bar")
    p.add_argument("--no-plots", action="store_true", help="skip the figures")
    p.add_argument("--version", action="version", version=f"{PROG} {velmora.__version__}",
                   help="the version of velmora this tool belongs to")
    return p.parse_args(argv)


def check_args(args):
    if args.columns is None:
        args.column_list = None
    else:
        try:
            columns = [int(c) for c in args.columns.split(",")]
        except ValueError:
            columns = []
        if len(columns) not in (3, 4) or min(columns) < 1:
            raise Refusal(EXIT_USAGE, f"--columns {args.columns}: three or four positive column numbers expected, "
                          "e.g. 1,2,3 or 1,2,3,4")
        if len(set(columns)) != len(columns):
            raise Refusal(EXIT_USAGE, f"--columns {args.columns}: a column is named twice (time, value, error and "
                          "the limit flag are four columns)")
        args.column_list = columns
    if not (math.isfinite(args.eta) and args.eta > 0):
        raise Refusal(EXIT_USAGE, f"--eta {args.eta:g}: the efficiency must be positive")
    if args.inclination is not None and not (0 <= args.inclination <= 90):
        raise Refusal(EXIT_USAGE, f"--inclination {args.inclination:g}: degrees from 0 (face-on) to 90")
    for name in ("f_col", "c_irr", "sys_error"):
        v = getattr(args, name)
        if v is not None and not (math.isfinite(v) and v >= 0):
            raise Refusal(EXIT_USAGE, f"--{name.replace('_', '-')} {v:g}: a finite value >= 0 expected")
    if not (0 <= args.seed < 2 ** 32):
        raise Refusal(EXIT_USAGE, f"--seed {args.seed}: a seed from 0 to 2^32-1 is needed")
    if args.mcmc:
        free = [x for x in args.free.split(",") if x.strip()]
        if args.walkers < 2 * len(free) or args.walkers % 2:
            raise Refusal(EXIT_USAGE, f"--walkers {args.walkers}: an even number, at least twice the "
                          f"{len(free)} free parameters, is needed")
        if args.steps < 2:
            raise Refusal(EXIT_USAGE, "--steps must be at least 2")
        # The sampler keeps every step of every walker (the parameters and the log-probability, 8 bytes
        # each) in memory from the start: a chain larger than the machine's memory cannot be run.
        chain_bytes = 8.0 * args.steps * args.walkers * (len(free) + 1)
        try:
            memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
        except (ValueError, OSError, AttributeError):
            memory = None
        if memory and chain_bytes > memory:
            raise Refusal(EXIT_USAGE, f"--steps {args.steps} x --walkers {args.walkers}: the chain would take "
                          f"{chain_bytes / 2 ** 30:.3g} GiB, more than this machine's {memory / 2 ** 30:.3g} GiB "
                          "of memory")
        if args.burn is not None and not (0 <= args.burn < args.steps):
            raise Refusal(EXIT_USAGE, f"--burn {args.burn} must be between 0 and the steps")
        if args.processes < 1:
            raise Refusal(EXIT_USAGE, "--processes must be at least 1")
        # Each worker is a copy of this process with its own models: more of them than processors
        # only share the processors and multiply the memory (--processes 1000 forked a thousand).
        processors = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else (os.cpu_count() or 1)
        if args.processes > processors:
            raise Refusal(EXIT_USAGE, f"--processes {args.processes}: this process may use {processors} "
                          f"processor{'s' if processors > 1 else ''}; more workers than that only slow the sampler")


def read_start(path):
    """The parameter file's values, through the module's reader; its warnings
    on dropped entries shown as the reader gives them."""
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            values = velmora.read_parameter_file(path)
    except OSError as e:
        raise Refusal(EXIT_MODEL, f"cannot read the parameter file {path}: {e.strerror or e}")
    except (ValueError, UnicodeError) as e:
        raise Refusal(EXIT_MODEL, f"the parameter file {path} is refused: {e}")
    for w in caught:
        print(f"{PROG}: {path}: {w.message}", file=sys.stderr)
    return values


def read_datasets(args):
    sets = []
    for i, argument in enumerate(args.data, 1):
        path, obs = split_data_argument(argument, args.observable)
        try:
            name, arg = parse_observable(obs)
        except ValueError as e:
            raise Refusal(EXIT_USAGE, f"{argument}: {e}")
        t, y, err, limit = read_table(path, args.column_list)
        sets.append(DataSet(i, path, name, arg, t, y, err, limit))
    return sets


def check_outputs(out, inputs):
    """The output folder: writable (or creatable), and none of its outputs an input."""
    for name in OUTPUT_FILES:
        target = os.path.join(out, name)
        for source in inputs:
            if os.path.exists(target) and os.path.exists(source) and os.path.samefile(target, source):
                raise Refusal(EXIT_OUTPUT, f"the output {target} would replace the input {source}: give another "
                              "output folder (-o)")
    if os.path.exists(out):
        if not os.path.isdir(out):
            raise Refusal(EXIT_OUTPUT, f"cannot write into the output folder {out}: it is not a folder")
        if not os.access(out, os.W_OK | os.X_OK):
            raise Refusal(EXIT_OUTPUT, f"cannot write into the output folder {out}: permission denied")
        return
    parent = os.path.dirname(os.path.abspath(out))
    while not os.path.exists(parent):
        parent = os.path.dirname(parent)
    if not os.path.isdir(parent) or not os.access(parent, os.W_OK | os.X_OK):
        raise Refusal(EXIT_OUTPUT, f"cannot create the output folder {out}: {parent} is not writable")


def question_time_scales(datasets, start, params, t0_fixed):
    """Refuse data whose span lies far outside the viscous times allowed."""
    names = {p.name: p for p in params}
    texp_lo, texp_hi = (names["texp"].lo, names["texp"].hi) if "texp" in names else \
        (start.get("texp_days", start["texp"]),) * 2
    t_first = min(d.t.min() for d in datasets)
    t_last = max(d.t.max() for d in datasets)
    span = t_last - t_first
    if t0_fixed is not None:
        span = max(span, t_last - t0_fixed)
    if texp_hi > 0 and span > 1e3 * texp_hi:
        what = "span" if t0_fixed is None else "reach, from t0,"
        raise Refusal(EXIT_DATA, f"the data {what} {span:.4g} days, {span / texp_hi:.3g} times the longest viscous "
                      f"time the bounds allow (texp {texp_hi:g} d), where the model has long decayed: are the times "
                      "in seconds rather than days, or is t0 (--t0) in another time system? (else widen "
                      "--bound texp=LOW,HIGH)")
    if texp_lo > 0 and 0 < span < 1e-5 * texp_lo:
        raise Refusal(EXIT_DATA, f"the data span {span:.4g} days, {span / texp_lo:.3g} of the shortest viscous time "
                      f"the bounds allow (texp {texp_lo:g} d): are the times in years, or texp's bounds right?")


class Outputs:
    """The output folder, made at the first write (no folder for a refusal)."""

    def __init__(self, path):
        self.path, self.created = path, False

    def file(self, name):
        if not os.path.isdir(self.path):
            os.makedirs(self.path)
            self.created = True
        return os.path.join(self.path, name)

    def remove_if_empty(self):
        if self.created and os.path.isdir(self.path) and not os.listdir(self.path):
            os.rmdir(self.path)


def write_summary(outputs, info):
    with open(outputs.file("summary.json"), "w") as f:
        json.dump(info, f, indent=2)
    text = summary_text(info)
    with open(outputs.file("summary.txt"), "w") as f:
        f.write(text)
    return text


def run(argv, state):
    args = parse_args(argv)
    check_args(args)
    datasets = read_datasets(args)
    if all(d.limit.all() for d in datasets):
        raise Refusal(EXIT_DATA, f"every datum of {', '.join(d.path for d in datasets)} is an upper limit (a "
                      "fourth column of 1): a fit needs detections (give --columns 1,2,3 if that column is "
                      "something else)")
    values = read_start(args.parameter_file)
    try:  # the file's model, refused before any choice of parameters is questioned
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always", velmora.PlausibilityWarning)
            base = velmora.Disc.from_file(args.parameter_file)
        for w in caught:  # a quantity that looks like another unit, as the tool's own line
            print(f"{PROG}: {args.parameter_file}: warning: {w.message}", file=sys.stderr)
    except (ValueError, UnicodeError) as e:
        raise Refusal(EXIT_MODEL, f"the starting model is refused: {e}")
    except OSError as e:
        raise Refusal(EXIT_MODEL, f"cannot read the parameter file {args.parameter_file}: {e.strerror or e}")
    start = {k: float(values.get(k) or 0.0) for k in DISC_FREE}
    # The viscous time in days, also of a file that gives kappa and texp 0 (the model derives texp).
    texp_days = start["texp"] if start["texp"] > 0 else base.texp_seconds / SECONDS_PER_DAY
    start["texp_days"] = texp_days
    t_first = min(d.t.min() for d in datasets)
    t_last = max(d.t.max() for d in datasets)
    free = [x.strip() for x in args.free.split(",") if x.strip()]
    if "texp" in free and not start["texp"] > 0:
        start["texp"] = texp_days  # a free texp starts from kappa's
    if args.t0 is not None:
        start["t0"] = args.t0
    elif "t0" in free:
        start["t0"] = t_first - 0.1 * texp_days
    else:
        start["t0"] = 0.0
    if "t0" not in free and not (t_first > start["t0"]):
        raise Refusal(EXIT_DATA, f"the datum at {t_first:.10g} is not after the start of the evolution t0 = "
                      f"{start['t0']:.10g}: the model has no value there (give --t0, or free t0)")
    needs_distance = any(OBSERVABLES[d.observable][1] for d in datasets) or "distance" in free
    needs_inclination = any(OBSERVABLES[d.observable][2] for d in datasets) or "inclination" in free
    if needs_distance and args.distance_cm is None:
        which = [d.path for d in datasets if OBSERVABLES[d.observable][1]] or ["a free distance"]
        raise Refusal(EXIT_USAGE, f"--distance is needed (a starting value if free) for {', '.join(which)}")
    if needs_inclination and args.inclination is None:
        which = [d.path for d in datasets if OBSERVABLES[d.observable][2]] or ["a free inclination"]
        raise Refusal(EXIT_USAGE, f"--inclination is needed (a starting value if free) for {', '.join(which)}")
    for d in datasets:
        if d.observable in DISC_METHODS and not hasattr(velmora.Disc, DISC_METHODS[d.observable]):
            raise Refusal(EXIT_USAGE, f"{d.path}: this build of velmora has no {d.label} observable "
                          f"(Disc.{DISC_METHODS[d.observable]})")
    start.update(distance=args.distance_cm, inclination=args.inclination, f_col=args.f_col, c_irr=args.c_irr,
                 sys_error=args.sys_error if args.sys_error is not None else 0.0, eta=args.eta)
    if "sys_error" in free and not start["sys_error"]:
        start["sys_error"] = 0.05
    for key, default in (("f_col", 1.7), ("c_irr", 0.0)):
        if key in free and start[key] is None:
            start[key] = default
    for i in range(1, len(datasets) + 1):
        start[f"cal{i}"] = 1.0
    params = choose_parameters(args, start, t_first, len(datasets))
    points = sum(d.t.size for d in datasets)
    if points < len(params) + 1:
        raise Refusal(EXIT_DATA, f"{points} data points are too few for {len(params)} free parameters "
                      "(at least one more point than parameters is needed)")
    question_time_scales(datasets, start, params, None if "t0" in free else start["t0"])
    inputs = [args.parameter_file] + [d.path for d in datasets]
    if values.get("supply_file"):
        inputs.append(os.path.join(os.path.dirname(os.path.abspath(args.parameter_file)), values["supply_file"]))
    check_outputs(args.out, inputs)

    try:
        start_changes = {p.name: p.start for p in params if p.name in DISC_FREE}
        base_start = base.replace(**start_changes) if start_changes else base
    except (ValueError, UnicodeError) as e:
        raise Refusal(EXIT_MODEL, f"the starting model is refused: {e}")
    fixed = {k: v for k, v in start.items()}
    fixed.update({"texp": start["texp"], "mdisk": start["mdisk"]})
    model = Model(base_start, params, fixed, datasets,
                  scalable=int(values.get("flag_outer") or 0) == 0 and start["texp"] > 0 and start["mdisk"] > 0)
    like = Likelihood(model)
    u_start = np.array([p.to_internal(p.start) for p in params])
    try:
        m0 = model.predict(u_start)
    except ValueError as e:
        raise Refusal(EXIT_MODEL, f"the starting model is refused: {e}")
    except RuntimeError as e:
        raise Refusal(EXIT_DATA, f"the model cannot be evaluated at the data's times (the first datum is "
                      f"{(t_first - start['t0']) * SECONDS_PER_DAY:.4g} s after t0 = {start['t0']:.10g}): {e}")
    for ds, m in zip(datasets, m0):
        if not np.all(np.isfinite(m)):
            k = int(np.where(~np.isfinite(m))[0][0])
            raise Refusal(EXIT_MODEL, f"the starting model is not finite at {ds.path}'s time {ds.t[k]:.10g} "
                          f"({', '.join(f'{p.name} = {p.start:.10g}' for p in params)})")

    # ---- the work
    outputs = Outputs(args.out)
    state["outputs"] = outputs
    model.evaluations = 0
    t_ls = time.perf_counter()
    try:
        ls = least_squares_fit(model, like)
    except NonFiniteModel as e:
        raise Refusal(EXIT_UNSOUND, f"least squares met a model that is not finite: {e.describe()}")
    ls["seconds"] = time.perf_counter() - t_ls
    if not ls["success"]:
        raise Refusal(EXIT_FAILED, f"least squares did not converge: {ls['message']}")
    check_soundness(ls, model, like, datasets, start)
    t0_best = model.values(ls["u"])["t0"]
    info = {
        "parameter_file": args.parameter_file,
        "data": [{"path": d.path, "observable": d.label, "unit": d.unit, "points": int(d.t.size),
                  "upper_limits": int(d.limit.sum())} for d in datasets],
        "points": int(points),
        "eta": args.eta, "distance_cm": args.distance_cm, "inclination": args.inclination,
        "f_col": args.f_col, "c_irr": args.c_irr, "sys_error": start["sys_error"],
        "free": [p.name for p in params],
        "priors": {p.name: {"kind": p.prior_kind, "low": p.lo, "high": p.hi, "gauss": p.gauss} for p in params},
        "start": {p.name: p.start for p in params},
        "t0_best": t0_best,
        "least_squares": {k: ls[k] for k in ("best", "error", "covariance", "chi2", "minus_2_ln_posterior", "dof",
                                              "success", "message", "nfev", "at_bound", "seconds")},
    }
    samples = covariance_samples(ls, params, 200, args.seed)
    info["derived"] = derived_summary(model, ls["u"], samples, t_first, t_last)
    info["bestfit_par"] = os.path.join(args.out, "bestfit.par")
    t_model = np.concatenate([d.t for d in datasets]) - t0_best
    write_bestfit_par(outputs.file("bestfit.par"), values, ls["best"], t_model, [d.path for d in datasets],
                      t0_best, os.path.dirname(os.path.abspath(args.parameter_file)))
    text = write_summary(outputs, info)
    state["ls_written"] = True
    if not args.no_plots:
        figures(args.out, model, ls["u"], None, t0_best, which=("fit",))
    if args.mcmc:
        try:
            mc = mcmc(model, like, ls, args)
        except NonFiniteModel as e:
            raise Refusal(EXIT_UNSOUND, f"the MCMC met {e.describe()}; the least-squares result is written in "
                          f"{args.out}")
        info["mcmc"] = {"walkers": args.walkers, "steps": args.steps, "seed": args.seed, "processes": args.processes,
                        **{k: mc[k] for k in ("burn", "seconds", "median", "p16", "p84", "max_posterior",
                                              "acceptance", "tau", "kept_steps", "too_short")}}
        rng = np.random.default_rng(args.seed)
        pick = mc["flat"][rng.choice(len(mc["flat"]), size=min(200, len(mc["flat"])), replace=False)]
        info["derived"] = derived_summary(model, ls["u"], pick, t_first, t_last)
        np.savez(outputs.file("chain.npz"), chain=mc["sampler"].get_chain(), log_prob=mc["sampler"].get_log_prob(),
                 names=np.array(model.names), log10=np.array([p.log for p in params]),
                 kind=np.array([p.kind for p in params]), burn=mc["burn"], seed=args.seed)
        text = write_summary(outputs, info)
        if not args.no_plots:
            figures(args.out, model, ls["u"], mc, t0_best)
    sys.stdout.write(text)
    return EXIT_OK


def main(argv=None):
    state = {}
    try:
        return run(sys.argv[1:] if argv is None else list(argv), state)
    except Refusal as r:
        print(f"{PROG}: {r}", file=sys.stderr)
        if "outputs" in state:
            state["outputs"].remove_if_empty()
        return r.status
    except KeyboardInterrupt:
        kept = " (the least-squares result is written)" if state.get("ls_written") else ""
        print(f"{PROG}: interrupted{kept}", file=sys.stderr)
        if "outputs" in state:
            state["outputs"].remove_if_empty()
        return EXIT_INTERRUPTED


if __name__ == "__main__":
    sys.exit(main())
