"""velmora-plot: PNG figures of velmora run folders.

For every accretion-rate file mdotin_<name>.dat of a folder it draws
mdotin_<name>.png: the inner accretion rate (g/s) against time, log-log (or on a
linear time axis), time in days on the bottom axis and in units of the viscous
time texp (the header line "#texp(s)=") on the top axis. Column 5, the exact
rate, is the main line and comes first in the legend; column 3, the original
algorithm's least-squares estimate, follows with the error bars of column 4.
Values a logarithmic axis cannot show (nan, inf, zero, negative) are left out
and counted on standard error. With flag_outer 1 or 2 the rate fed in at the
outer edge is drawn too, taken from the model itself: the supplied mass of
velmora.Disc differentiated over the figure's time steps, so the constant
mdot_out, the built-in law and a supply_file table are the ones the run used.
Observed points (--data) go over every figure, shifted by the data's time zero
(--t0) and converted from their unit (--data-unit).

When torque snapshots F_x<N>.dat exist (save 1) it draws F_profiles.png: the
torque over radius from the marginally stable orbit r_ms = 6 G M / c^2 to
r_out_disk at every snapshot time, coloured by time, beside the initial torque.
Given several folders it draws one figure of all their runs, mdotin_compare.png.

Exit status: 0 every figure written, 1 no data or a figure failed, 2 usage.
"""

from __future__ import annotations

import glob
import hashlib
import json
import math
import os
import re
import sys
import warnings
from dataclasses import dataclass, field
from typing import Optional

import numpy as np

from . import _vocabulary
from .constants import G, c as C_LIGHT, day as DAY, parsec as PARSEC, solar_mass as SOLAR_MASS

PROG = "velmora-plot"

USAGE = f"""Usage: {PROG} [-n NAME] [-o OUTDIR] [--par FILE] [--linear-time] [--data FILE [--t0 T0] [--data-unit UNIT]
                    [--distance D] [--eta ETA]] RUN_FOLDER...

Draws the figures of the velmora run(s) in RUN_FOLDER as PNG files:
  mdotin_<name>.png   inner accretion rate against time (days and t/texp): the exact
                      rate (column 5) as the line, the least-squares estimate (columns
                      3, 4) as points with error bars; with flag_outer 1 the supply rate
                      mdot_out, with flag_outer 2 the supply law or the supply_file table
  F_profiles.png      torque profiles F(r, t) from r_ms to r_out_disk beside the initial
                      one (only when snapshot files F_x<N>.dat exist, i.e. save 1)
With several folders: one figure, mdotin_compare.png, of the runs of all of them
(into OUTDIR, by default the current folder).

Options:
  -n NAME          draw only the run NAME (file mdotin_NAME.dat); default: every run
  --par FILE       the runs' parameter file, for the supply of flag_outer 2 (the built-in
                   law or its supply_file table); default: the parameter file in the run's
                   folder that names the run
  -o OUTDIR        write the figures into OUTDIR instead of RUN_FOLDER
  --linear-time    a linear time axis (the rate axis stays logarithmic)
  --data FILE      observed points over the rate: lines "time value [error]";
                   lines starting with '#' and blank lines are skipped
  --t0 T0          the data's time of the model's start, in the data's days (an MJD,
                   say): t = time - T0; or a velmora-fit output folder or its
                   summary.json, whose best-fit t0 is taken (default 0)
  --data-unit U    g/s (default), erg/s (a luminosity eta Mdot c^2) or erg/s/cm^2
                   (a flux, L / (4 pi D^2), needs --distance)
  --distance D     distance for erg/s/cm^2: cm, or a number with pc, kpc or Mpc
  --eta ETA        radiative efficiency of erg/s and erg/s/cm^2 (default 0.1)
  -h, --help       this help
  --version        the version of velmora this tool belongs to

Prints the path of every figure it writes. Warns (standard error) about values
left out, and about observed points outside the model's times or orders of
magnitude off its rate."""

# Colours of the single-run figure (tests look for the supply's pixels).
COLOUR_EXACT = "#1f5fa8"
COLOUR_FIT = "#c0392b"
COLOUR_MDOT_OUT = "#2e8b57"
COLOUR_SUPPLY = "#e67e22"
NUMBER = re.compile(r"^[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?$")


class UsageError(Exception):
    pass


def warn(text: str) -> None:
    print(f"{PROG}: {text}", file=sys.stderr)


# ---- data files ---------------------------------------------------------------

@dataclass
class DataFile:
    """A velmora data file: its "#key=value" header, its "#n=name" column legend
    and its data lines, as floats (nan where a field is missing or not a number)."""
    path: str
    header: dict = field(default_factory=dict)
    legend: dict = field(default_factory=dict)
    rows: np.ndarray = field(default_factory=lambda: np.zeros((0, 0)))

    def value(self, key: str) -> Optional[float]:
        text = self.header.get(key)
        if text is None:
            return None
        try:
            return float(text)
        except ValueError:
            return None

    def column(self, n: int) -> np.ndarray:
        """Column n (from 1) of every data line."""
        if self.rows.shape[1] < n:
            return np.full(len(self.rows), np.nan)
        return self.rows[:, n - 1]

    def model_key(self) -> str:
        """The model of the first 28 header lines, without flag_green (which records a
        solver mode at the moment of writing, not the model)."""
        lines = [f"{k}={v}" for k, v in list(self.header.items())[:28] if k != "flag_green"]
        return hashlib.md5("\n".join(lines).encode()).hexdigest()


def read_data_file(path: str) -> DataFile:
    """Reads a data file: lines "#key=value" (a digit key is the column legend), data lines
    of whitespace-separated numbers."""
    out = DataFile(path)
    rows = []
    width = 0
    with open(path, "r", encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("#"):
                key, eq, value = line[1:].rstrip("\n").partition("=")
                if eq:
                    if key.isdigit():
                        out.legend[int(key)] = value
                    else:
                        out.header.setdefault(key, value)
                continue
            fields = line.split()
            if not fields:
                continue
            row = []
            for text in fields:
                try:
                    row.append(float(text))
                except ValueError:
                    row.append(math.nan)
            rows.append(row)
            width = max(width, len(row))
    table = np.full((len(rows), width), np.nan)
    for i, row in enumerate(rows):
        table[i, :len(row)] = row
    out.rows = table
    return out


def describe_left_out(values: np.ndarray) -> str:
    """'2 nan, 1 negative' for the values a log axis cannot show."""
    parts = []
    for what, mask in (("nan", np.isnan(values)), ("infinite", np.isinf(values)),
                       ("zero", values == 0), ("negative", values < 0)):
        if mask.any():
            parts.append(f"{int(mask.sum())} {what}")
    return ", ".join(parts)


# ---- the run's supply, from the model ----------------------------------------------

def supply_file_of(par: str) -> tuple:
    """(run name, supply table as an absolute path or None) of a parameter file: a relative
    table is taken from the parameter file's folder, as the program takes it."""
    from .grid import read_parameters
    values, _ = read_parameters(par)
    table = values.get(_vocabulary.supply_table()) or None
    if table and not os.path.isabs(table):
        table = os.path.join(os.path.dirname(os.path.abspath(par)), table)
    return values.get(_vocabulary.run_name()), table


def run_supply_file(folder: str, name: str) -> tuple:
    """(found, table): whether a parameter file of the folder names the run NAME (the last
    such file in name order counts), and the supply table it names (None: the built-in law)."""
    found, table = False, None
    for par in sorted(glob.glob(os.path.join(glob.escape(folder), "*.par"))):
        try:
            run, its_table = supply_file_of(par)
        except (OSError, ValueError):
            continue
        if run == name:
            found, table = True, its_table
    return found, table


def supply_disc(data: DataFile, folder: str, name: str, par: Optional[str] = None):
    """The model of a run, for its supply: the parameters of the data file's header, with
    the supply table of the run's parameter file (PAR, else the one in the folder that
    names the run). Returns (disc, None) or (None, reason)."""
    import velmora
    values = _vocabulary.header_model_values(data.value)
    if values is None:
        return None, "its header lacks the model's parameters"
    table = None
    if values[_vocabulary.supply_mode()] == 2:
        # The data file does not say whether the run took the built-in law or a table.
        if par is not None:
            _, table = supply_file_of(par)
        else:
            found, table = run_supply_file(folder, name)
            if not found:
                return None, (f"no parameter file in {folder} names the run '{name}', so whether it was fed by "
                              "the built-in law or a supply_file table is unknown; give its parameter file "
                              "with --par FILE (or copy it into the folder)")
    try:
        with warnings.catch_warnings():
            # A value that looks like another unit was the run's to report, not the figure's.
            warnings.simplefilter("ignore", velmora.PlausibilityWarning)
            return velmora.Disc(**values, **{_vocabulary.supply_table(): table}), None
    except (ValueError, OSError, RuntimeError) as e:
        if table:
            return None, f"its supply table {table} cannot be used ({e})"
        return None, f"the model of its header is refused ({e})"


def supply_curve(disc, t_lo_days: float, t_hi_days: float, linear: bool):
    """The outer supply rate (g/s) of a model over [t_lo, t_hi] days: the supplied mass
    differenced over 800 steps (the mean rate of each step, drawn at its middle)."""
    lo = max(t_lo_days, 1e-9 * t_hi_days)
    edges = np.linspace(lo, t_hi_days, 801) if linear else np.geomspace(lo, t_hi_days, 801)
    mass = np.asarray(disc.supplied_mass(edges * DAY), dtype=float)
    rate = np.diff(mass) / (np.diff(edges) * DAY)
    mid = 0.5 * (edges[1:] + edges[:-1])
    return mid, rate


# ---- observed points ---------------------------------------------------------

@dataclass
class Observed:
    t: np.ndarray      # days since the model's start
    y: np.ndarray      # g/s
    err: np.ndarray    # g/s
    label: str


def parse_distance(text: str) -> float:
    m = re.fullmatch(r"\s*([-+0-9.eE]+)\s*(cm|pc|kpc|Mpc)?\s*", text)
    try:
        value = float(m.group(1))
    except (AttributeError, ValueError):
        raise UsageError(f"not a distance: {text!r} (a number in cm, or with pc, kpc or Mpc)")
    d = value * {None: 1.0, "cm": 1.0, "pc": PARSEC, "kpc": 1e3 * PARSEC, "Mpc": 1e6 * PARSEC}[m.group(2)]
    if not (math.isfinite(d) and d > 0):
        raise UsageError(f"the distance must be positive, not {text!r}")
    return d


def parse_t0(text: str) -> float:
    """A number, or the best-fit t0 of a velmora-fit output folder or its summary.json."""
    try:
        value = float(text)
        if math.isfinite(value):
            return value
    except ValueError:
        pass
    path = os.path.join(text, "summary.json") if os.path.isdir(text) else text
    if os.path.isfile(path):
        try:
            with open(path) as f:
                value = float(json.load(f)["t0_best"])
        except (OSError, ValueError, KeyError, TypeError) as e:
            raise UsageError(f"--t0 {text}: no best-fit t0 in {path} ({e})")
        if not math.isfinite(value):  # JSON's NaN and 1e999 read as floats
            raise UsageError(f"--t0 {text}: the best-fit t0 in {path} is {value}, not a time")
        return value
    raise UsageError(f"--t0 takes a number (days) or a velmora-fit output folder, not {text!r}")


def read_observed(path: str, t0: float, unit: str, eta: float, distance: Optional[float],
                  linear: bool) -> Optional[Observed]:
    factor = 1.0  # observable per g/s
    how = ""
    if unit in ("erg/s", "erg/s/cm^2"):
        factor = eta * C_LIGHT ** 2
        how = f", L = {eta:g} Mdot c^2"
        if unit == "erg/s/cm^2":
            factor /= 4.0 * math.pi * distance ** 2
            how = f", F = {eta:g} Mdot c^2 / (4 pi ({distance:.3g} cm)^2)"
    total = kept = 0
    t, y, e = [], [], []
    with open(path, "r", encoding="utf-8-sig", errors="replace") as f:
        for line in f:
            fields = line.split()
            if not fields or fields[0].startswith("#"):
                continue
            total += 1
            if len(fields) < 2 or not (NUMBER.match(fields[0]) and NUMBER.match(fields[1])):
                continue
            ti = float(fields[0]) - t0
            yi = float(fields[1]) / factor
            ei = float(fields[2]) / factor if len(fields) >= 3 and NUMBER.match(fields[2]) else 0.0
            if not (yi > 0 and math.isfinite(yi)) or (not linear and not ti > 0):
                continue
            t.append(ti)
            y.append(yi)
            e.append(ei)
            kept += 1
    shape = '"time value [error]" with a positive value'
    if kept == 0:
        warn(f"{path}: none of its {total} data lines is {shape} at a positive time after t0 = {t0:g}; not drawn")
        return None
    if kept < total:
        warn(f"{path}: {total - kept} of {total} lines are not {shape} "
             f"(and a positive time after t0 = {t0:g} on a log axis); left out")
    label = f"observed (--data, {unit}{how})" if unit != "g/s" else "observed (--data)"
    if t0:
        label += f", t0 = {t0:.10g}"
    return Observed(np.array(t), np.array(y), np.array(e), label)


def check_observed(obs: Observed, t_model: np.ndarray, y_model: np.ndarray, base: str) -> None:
    """Warns about observed points outside the model's times, or far from its rate."""
    ok = np.isfinite(y_model) & (y_model > 0) & (t_model > 0)
    if ok.sum() < 1:
        return
    tm, ym = t_model[ok], y_model[ok]
    outside = (obs.t < tm.min()) | (obs.t > tm.max())
    if outside.any():
        warn(f"{base}: {int(outside.sum())} of {len(obs.t)} observed points lie outside the model's times "
             f"({tm.min():.4g} to {tm.max():.4g} days after its start; observed {obs.t.min():.4g} to "
             f"{obs.t.max():.4g}): is the data's time zero (--t0) right?")
    inside = ~outside
    if inside.any() and ok.sum() >= 2:
        model_at = np.exp(np.interp(np.log(obs.t[inside]), np.log(tm), np.log(ym)))
        ratio = float(np.median(np.log10(obs.y[inside] / model_at)))
    else:
        ratio = float(np.median(np.log10(obs.y))) - float(np.log10(np.median(ym)))
    if abs(ratio) >= 1.0:
        warn(f"{base}: the observed points lie {10 ** abs(ratio):.3g} times {'above' if ratio > 0 else 'below'} "
             "the model's rate (median): is their unit right (--data-unit, --distance, --eta)?")


# ---- the rate figure -----------------------------------------------------------

@dataclass
class Run:
    name: str
    label: str
    data: DataFile
    t: np.ndarray                 # days, column 2
    exact: Optional[np.ndarray]   # column 5 or None
    fit: np.ndarray               # column 3
    err: np.ndarray               # column 4
    texp_days: float
    disc: object = None
    flag_outer: int = 0
    supply: tuple = ()


def load_run(path: str, folder: str, label: str, linear: bool, par: Optional[str] = None) -> Optional[Run]:
    """A run's rate file, checked; None (after a warning) when there is nothing to draw."""
    base = os.path.basename(path)
    name = base[len("mdotin_"):-len(".dat")]
    data = read_data_file(path)
    texp_s = data.value("texp(s)")
    if not (texp_s is not None and texp_s > 0):
        warn(f"{base}: no positive viscous time in its header line \"#texp(s)=\" "
             f"(found '{data.header.get('texp(s)', '')}'); not a velmora accretion-rate file?")
        return None
    n = len(data.rows)
    if n == 0:
        warn(f"{base}: no data lines (NUM_TIME 0, or the run stopped before its first output time)")
        return None
    t = data.column(2) / DAY
    time_ok = np.isfinite(t) & ((t >= 0) if linear else (t > 0))
    has5 = 5 in data.legend or data.rows.shape[1] >= 5
    curves = {3: data.column(3)}
    if has5:
        curves[5] = data.column(5)
    kept_any = False
    for col, values in curves.items():
        bad = ~(time_ok & np.isfinite(values) & (values > 0))
        if bad.all():
            if col == 5:
                warn(f"{base}: its legend names a column 5, but no data line has a positive value there "
                     f"({describe_left_out(values[time_ok])}); drawn without it")
            continue
        kept_any = True
        if bad.any():
            what = describe_left_out(values[time_ok & bad])
            times = int((~time_ok).sum())
            if times:
                what = ", ".join(filter(None, [what, f"{times} time <= 0 or not a number"]))
            warn(f"{base}: {int(bad.sum())} of {n} data lines have a time or rate <= 0 (or not a number) "
                 f"in column {col} ({data.legend.get(col, 'rate')}): {what}; left out of the figure")
        curves[col] = np.where(bad, np.nan, values)
    if not kept_any:
        warn(f"{base}: none of its {n} data lines has a positive time and rate; nothing to draw")
        return None
    exact = curves.get(5)
    if exact is not None and not np.isfinite(exact).any():
        exact = None
    err = data.column(4)
    err = np.where(np.isfinite(err), err, 0.0)
    run = Run(name, label, data, np.where(time_ok, t, np.nan), exact, curves[3], err, texp_s / DAY)
    run.flag_outer = int(data.value(_vocabulary.supply_mode()) or 0)
    if run.flag_outer in (1, 2):
        run.disc, reason = supply_disc(data, folder, name, par)
        if run.disc is None:
            warn(f"{base}: the outer supply is not drawn: {reason}")
    return run


def main_curve(run: Run):
    """The times and rate of a run's main line: column 5, else column 3."""
    y = run.exact if run.exact is not None else run.fit
    return run.t, y


def rate_figure(runs: list, title: str, linear: bool, observed: Optional[Observed]):
    """The figure of the inner accretion rate of one or several runs (a matplotlib Figure)."""
    from matplotlib.figure import Figure
    fig = Figure(figsize=(10, 7.2), dpi=100)
    ax = fig.add_subplot(1, 1, 1)
    single = len(runs) == 1
    times = np.concatenate([r.t[np.isfinite(r.t)] for r in runs]
                           + ([observed.t] if observed is not None else []))
    lo, hi = float(times.min()), float(times.max())
    if linear:
        pad = 0.05 * (hi - lo) if hi > lo else 0.5 * hi
        lo, hi = max(lo - pad, 0.0), hi + pad
    else:
        lo, hi = (lo / 10 ** 0.15, hi * 10 ** 0.15) if hi > lo else (lo / 1.5, hi * 1.5)
    if hi <= lo:
        hi = lo + 1
    rates = []
    for k, run in enumerate(runs):
        col = None if single else f"C{k % 10}"
        if run.exact is not None:
            ax.plot(run.t, run.exact, "-", lw=2, color=col or COLOUR_EXACT,
                    label="exact rate (column 5)" if single else run.label)
            rates.append(run.exact)
        fit_label = ("least-squares estimate (columns 3, 4)" if single
                     else (run.label if run.exact is None else None))
        ax.errorbar(run.t, run.fit, yerr=run.err, fmt="o", ms=4, color=col or COLOUR_FIT, mfc="none" if
                    run.exact is not None else None, capsize=2, lw=1, label=fit_label)
        if run.exact is None:
            ax.plot(run.t, run.fit, "-", lw=1, color=col or COLOUR_FIT)
        rates.append(run.fit)
        if run.disc is not None:
            tm, rate = supply_curve(run.disc, lo, hi, linear)
            good = np.isfinite(rate) & (rate > 0)
            if good.any():
                if run.flag_outer == 1:
                    value = float(np.median(rate[good]))
                    label = f"supply rate mdot_out = {value:.3g} g/s" if single else None
                    ax.axhline(value, ls=(0, (6, 3)), lw=2.5, color=col or COLOUR_MDOT_OUT, label=label)
                else:
                    label = None
                    if single:
                        table = run.disc.parameters.get(_vocabulary.supply_table())
                        label = ("outer supply (table of supply_file)" if table else
                                 "outer supply (built-in law)")
                    ax.plot(tm[good], rate[good], ls=":", lw=2.5, color=col or COLOUR_SUPPLY, label=label)
                rates.append(rate[good])
    if not single:
        ax.plot([], [], "-", lw=2, color="black", label="lines: exact rate (column 5)")
        ax.plot([], [], "o", mfc="none", color="black", label="points: least-squares estimate (column 3)")
        if any(r.disc is not None for r in runs):
            ax.plot([], [], ":", lw=2, color="black", label="dotted/dashed: outer supply")
    if observed is not None:
        ax.errorbar(observed.t, observed.y, yerr=observed.err, fmt="o", ms=6, mfc="none", color="black",
                    capsize=2, label=observed.label)
        rates.append(observed.y)
    values = np.concatenate([np.asarray(v)[np.isfinite(v) & (np.asarray(v) > 0)] for v in rates])
    ax.set_yscale("log")
    if values.size:
        ax.set_ylim(values.min() / 2, values.max() * 2)
    if not linear:
        ax.set_xscale("log")
        label_log_axis(ax.xaxis, lo, hi, True)
    ax.set_xlim(lo, hi)
    if values.size:
        label_log_axis(ax.yaxis, values.min() / 2, values.max() * 2, False)
    ax.set_xlabel("t [days]")
    ax.set_ylabel(r"inner accretion rate  $\dot M_{\rm in}$  [g/s]")
    ax.grid(True, which="both", color="#dddddd", lw=0.6)
    texps = {round(r.texp_days, 12) for r in runs}
    if len(texps) == 1:
        texp = runs[0].texp_days
        top = ax.secondary_xaxis("top", functions=(lambda t: t / texp, lambda s: s * texp))
        top.set_xlabel(f"t / t_exp   (t_exp = {texp:.4g} days)")
        if not linear:
            label_log_axis(top.xaxis, lo / texp, hi / texp, True)
    ax.set_title(title, fontsize=10, pad=10)
    # The legend goes under the axes, never over a curve.
    # matplotlib fills a legend's columns one after the other: reordered so that it
    # reads across, column 5 first, column 3 second.
    handles, labels = ax.get_legend_handles_labels()
    rows = (len(handles) + 1) // 2
    order = [i for c in range(2) for i in range(c, 2 * rows, 2) if i < len(handles)]
    ax.legend([handles[i] for i in order], [labels[i] for i in order], loc="upper center",
              bbox_to_anchor=(0.5, -0.1), ncol=2, frameon=False, fontsize=9)
    return fig


def _power_label(v, _pos=None) -> str:
    """2e17 as 2x10^17, 1e18 as 10^18."""
    if not v > 0:
        return ""
    k = math.floor(math.log10(v) + 1e-9)
    m = round(v / 10 ** k, 6)
    return f"$10^{{{k}}}$" if m == 1 else f"${m:g}\\times10^{{{k}}}$"


def label_log_axis(axis, lo: float, hi: float, plain: bool) -> None:
    """On a logarithmic axis spanning less than a few decades matplotlib labels only the
    powers of ten, which can leave one label or none: label 2 and 5 times them too.
    plain: numbers as %g (times), else as powers of ten (rates)."""
    from matplotlib import ticker
    fmt = ticker.FuncFormatter(lambda v, _p: f"{v:g}") if plain else ticker.FuncFormatter(_power_label)
    if lo > 0 and hi > lo and math.log10(hi / lo) < 2.5:
        axis.set_major_locator(ticker.LogLocator(subs=(1.0, 2.0, 5.0)))
        axis.set_minor_formatter(ticker.NullFormatter())
    axis.set_major_formatter(fmt)


def model_title(data: DataFile, name: str) -> str:
    """The run's name and its model's keywords (the program's table), as its header gives
    them, in a parameter file's units; a central mass also in solar masses; the run's flags
    that are on. Lines of at most about 120 characters."""
    values = _vocabulary.header_model_values(lambda key: data.value(key))
    parts = []
    for k in _vocabulary.numeric_model_keywords():
        v = None if values is None else values[k.name]
        if v is None:
            v = data.value(k.name)
        shown = "?" if v is None else format(v, ".4g")
        unit = f" {k.unit}" if v is not None and k.unit in ("g", "cm", "days", "g/s", "cgs") else ""
        if unit == " g" and v is not None and v > 1e-3 * SOLAR_MASS:
            unit += f" ({v / SOLAR_MASS:.3g} M_sun)"
        parts.append(f"{k.name} = {shown}{unit}")
    parts += [flag for flag in _vocabulary.run_flags() if flag in data.header]
    lines = [f"{name}:"]
    for part in parts:  # lines of whole "keyword = value" parts
        if len(lines[-1]) + len(part) > 120:
            lines.append("")
        lines[-1] += ("  " if lines[-1] else "") + part + ","
    return "\n".join(lines).rstrip(",")


# ---- the torque profiles ---------------------------------------------------------

def profile_figure(snapshots: list, initial: Optional[DataFile], title: str):
    """Torque profiles F(r, t) from r_ms to r_out_disk, coloured by time, on linear and
    logarithmic axes, beside the initial torque. Returns (figure, note) where note says
    what was left out of the initial profile."""
    from matplotlib import cm, colors
    from matplotlib.figure import Figure
    first = snapshots[0]
    mass = first.value(_vocabulary.central_mass()) or 0.0
    r_ms = 6.0 * G * mass / C_LIGHT ** 2
    r_out = first.value(_vocabulary.outer_radius()) or float(np.nanmax(first.column(3)))
    times = np.array([float(s.column(7)[0]) / DAY for s in snapshots])
    tmin, tmax = float(times.min()), float(times.max())
    if tmax <= tmin:
        tmin, tmax = tmin / 1.5, tmax * 1.5
    norm = colors.LogNorm(tmin, tmax)
    cmap = colors.LinearSegmentedColormap.from_list("velmora", ["#2c7bb6", "#abd9e9", "#fdae61", "#d7191c"])
    # The initial torque: column 5 of the initial file F_x_<name>.dat, else column 6 of a snapshot.
    if initial is not None:
        r0, f0 = initial.column(3), initial.column(5)
    else:
        r0, f0 = first.column(3), first.column(6)
    keep = np.isfinite(r0) & np.isfinite(f0) & (r0 >= r_ms * (1 - 1e-12)) & (r0 <= r_out * (1 + 1e-12))
    note = ""
    # The last point of the initial file is the outer edge x = 1, where the closed disc's
    # torque is zero by its boundary condition: drawn joined to the interior it would be a
    # cliff the disc does not have.
    idx = np.flatnonzero(keep)
    if idx.size >= 2 and f0[idx[-1]] == 0 and f0[idx[-2]] > 0:
        keep[idx[-1]] = False
        note = "its boundary value F = 0 at r_out_disk not drawn"
    init_label = "initial torque (t = 0" + (f"; {note})" if note else ")")
    fig = Figure(figsize=(13, 7), dpi=100)
    fig.suptitle(title, fontsize=10)
    for k, logy in enumerate((False, True)):
        ax = fig.add_subplot(1, 2, k + 1)
        for s, t in zip(snapshots, times):
            r, f = s.column(3), s.column(5)
            ok = np.isfinite(r) & np.isfinite(f) & (r >= r_ms * (1 - 1e-12))
            if logy:
                ok &= f > 0
            ax.plot(r[ok], f[ok], lw=1.5, color=cmap(norm(t)))
        ok = keep & ((f0 > 0) if logy else True)
        ax.plot(r0[ok], f0[ok], lw=3, ls="--", color="black", label=init_label)
        ax.set_xscale("log")
        if logy:
            ax.set_yscale("log")
        ax.set_xlim(r_ms if r_ms > 0 else None, r_out)
        ax.set_xlabel("r [cm]   (from r_ms = 6GM/c^2 to r_out_disk)")
        ax.set_ylabel(r"torque F [g cm$^2$ s$^{-2}$]")
        ax.grid(True, which="major", color="#dddddd", lw=0.6)
        if logy:
            bar = fig.colorbar(cm.ScalarMappable(norm=norm, cmap=cmap), ax=ax, label="t [days]")
            label_log_axis(bar.ax.yaxis, tmin, tmax, True)
    fig.legend(*ax.get_legend_handles_labels(), loc="lower center", frameon=False, fontsize=9)
    fig.subplots_adjust(bottom=0.14)
    return fig, note


def snapshot_index(path: str) -> Optional[int]:
    m = re.fullmatch(r"F_x([0-9]+)\.dat", os.path.basename(path))
    return int(m.group(1)) if m else None


def draw_profiles(folder: str, outdir: str) -> tuple:
    """Draws F_profiles.png of a folder; returns (figures written, failed)."""
    paths = [p for p in glob.glob(os.path.join(glob.escape(folder), "F_x*.dat")) if snapshot_index(p) is not None]
    if not paths:
        return [], False
    paths.sort(key=snapshot_index)
    # Every run of a folder writes the same snapshot names, so a folder can hold snapshots
    # of several models: those of the model that wrote the newest snapshot are drawn.
    newest = max(paths, key=os.path.getmtime)
    files = {p: read_data_file(p) for p in paths}
    ref = files[newest].model_key()
    keep = []
    for p in paths:
        if files[p].model_key() == ref:
            keep.append(files[p])
        else:
            warn(f"{os.path.basename(p)} was written by another model than {os.path.basename(newest)} "
                 "(runs in one folder share the snapshot names); left out")
    owner = None
    for rate in sorted(glob.glob(os.path.join(glob.escape(folder), "mdotin_*.dat"))):
        if read_data_file(rate).model_key() == ref:
            owner = os.path.basename(rate)[len("mdotin_"):-len(".dat")]
    if owner is None:
        warn(f"no accretion-rate file in {folder} matches the model of the snapshots")
    initial = None
    if owner is not None and os.path.isfile(os.path.join(folder, f"F_x_{owner}.dat")):
        candidate = read_data_file(os.path.join(folder, f"F_x_{owner}.dat"))
        if candidate.model_key() == ref:
            initial = candidate
    keep = [s for s in keep if len(s.rows) and np.isfinite(s.column(7)[0]) and s.column(7)[0] > 0]
    if not keep:
        warn("the snapshots hold no data line with a positive time")
        return [], True
    title = f"{model_title(keep[0], owner or 'snapshots')} — {len(keep)} snapshots"
    out = os.path.join(outdir, "F_profiles.png")
    fig, _ = profile_figure(keep, initial, title)
    return save(fig, out)


def save(fig, out: str) -> tuple:
    try:
        if os.path.exists(out):
            os.remove(out)
        fig.savefig(out, bbox_inches="tight")
    except (OSError, ValueError) as e:
        warn(f"could not draw {out}: {e}")
        return [], True
    print(out, flush=True)
    return [out], False


# ---- command line ------------------------------------------------------------------

def parse_args(argv: list) -> dict:
    opts = {"run": None, "outdir": None, "data": None, "linear": False, "t0": 0.0, "unit": "g/s",
            "distance": None, "eta": 0.1, "par": None, "folders": []}
    with_value = {"-n": "run", "-o": "outdir", "--data": "data", "--t0": "t0", "--data-unit": "unit",
                  "--distance": "distance", "--eta": "eta", "--par": "par"}
    i = 0
    while i < len(argv):
        a = argv[i]
        if a in with_value:
            if i + 1 >= len(argv):
                raise UsageError(f"option {a} needs a value")
            opts[with_value[a]] = argv[i + 1]
            i += 2
        elif a == "--linear-time":
            opts["linear"] = True
            i += 1
        elif a in ("-h", "--help"):
            print(USAGE)
            raise SystemExit(0)
        elif a == "--version":
            from . import __version__  # noqa: PLC0415
            print(f"{PROG} {__version__}")
            raise SystemExit(0)
        elif a == "--":
            opts["folders"] += argv[i + 1:]
            break
        elif a.startswith("-") and a != "-":
            near = _vocabulary.nearest(a, [o for o in (*with_value, "--linear-time", "--help", "--version")
                                           if o.startswith("--")]) if a.startswith("--") else None
            raise UsageError(f"unknown option {a}" + (f"; did you mean {near}?" if near else ""))
        else:
            opts["folders"].append(a)
            i += 1
    if not opts["folders"]:
        raise UsageError(None)
    for f in opts["folders"]:
        if not os.path.isdir(f):
            raise UsageError(f"no such folder: {f}")
    if opts["unit"] not in ("g/s", "erg/s", "erg/s/cm^2"):
        raise UsageError(f"--data-unit takes g/s, erg/s or erg/s/cm^2, not {opts['unit']!r}")
    try:
        opts["eta"] = float(opts["eta"])
    except ValueError:
        raise UsageError(f"--eta takes a number, not {opts['eta']!r}")
    if not 0 < opts["eta"] <= 1:
        raise UsageError(f"--eta must lie in (0, 1], not {opts['eta']:g}")
    if opts["distance"] is not None:
        opts["distance"] = parse_distance(opts["distance"])
    if opts["unit"] == "erg/s/cm^2" and opts["distance"] is None:
        raise UsageError("--data-unit erg/s/cm^2 needs --distance")
    if isinstance(opts["t0"], str):
        opts["t0"] = parse_t0(opts["t0"])
    if opts["par"] is not None:
        try:
            supply_file_of(opts["par"])
        except (OSError, ValueError) as e:
            raise UsageError(f"--par {opts['par']}: not a readable parameter file ({e})")
    if opts["data"] is not None and not (os.path.isfile(opts["data"]) and os.access(opts["data"], os.R_OK)):
        raise UsageError(f"no readable data file: {opts['data']}")
    return opts


def main(argv: Optional[list] = None) -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    try:
        o = parse_args(argv)
    except UsageError as e:
        if e.args[0]:  # the reason and the usage line, not the whole help above it
            print(f"{PROG}: {e.args[0]}", file=sys.stderr)
            print("\n".join(USAGE.splitlines()[:2]) + f"\nRun '{PROG} --help' for the options.", file=sys.stderr)
        else:
            print(USAGE, file=sys.stderr)
        return 2
    folders = [os.path.realpath(f) for f in o["folders"]]
    compare = len(folders) > 1
    outdir = o["outdir"]
    if outdir is None:
        outdir = os.getcwd() if compare else folders[0]
    else:
        try:
            os.makedirs(outdir, exist_ok=True)
        except OSError as e:
            warn(f"cannot create output folder {outdir}: {e}")
            return 1
        outdir = os.path.realpath(outdir)
    observed = None
    if o["data"] is not None:
        observed = read_observed(o["data"], o["t0"], o["unit"], o["eta"], o["distance"], o["linear"])

    failed = False
    written = []
    runs = []
    for folder in folders:
        if o["run"] is not None:
            path = os.path.join(folder, f"mdotin_{o['run']}.dat")
            if not os.path.isfile(path):
                warn(f"no accretion-rate file mdotin_{o['run']}.dat in {folder}")
                return 1
            paths = [path]
        else:
            paths = sorted(glob.glob(os.path.join(glob.escape(folder), "mdotin_*.dat")))
        if not paths and compare:
            warn(f"no accretion-rate file mdotin_<name>.dat in {folder}")
            failed = True
        for path in paths:
            name = os.path.basename(path)[len("mdotin_"):-len(".dat")]
            label = name
            if compare and name != os.path.basename(folder):
                label = f"{os.path.basename(folder)}/{name}"
            run = load_run(path, folder, label, o["linear"], o["par"])
            if run is None:
                failed = True
            else:
                runs.append(run)

    def checked(run_list, base):
        if observed is not None:
            for run in run_list:
                check_observed(observed, *main_curve(run), base)

    if compare:
        if runs:
            checked(runs, "mdotin_compare.png")
            fig = rate_figure(runs, f"{len(runs)} runs of {len(folders)} folders", o["linear"], observed)
            w, f = save(fig, os.path.join(outdir, "mdotin_compare.png"))
            written += w
            failed |= f
    else:
        for run in runs:
            out = os.path.join(outdir, f"mdotin_{run.name}.png")
            checked([run], os.path.basename(out))
            w, f = save(rate_figure([run], model_title(run.data, run.name), o["linear"], observed), out)
            written += w
            failed |= f
        folder = folders[0]
        has_snapshots = any(snapshot_index(p) is not None
                            for p in glob.glob(os.path.join(glob.escape(folder), "F_x*.dat")))
        if not glob.glob(os.path.join(glob.escape(folder), "mdotin_*.dat")) and not has_snapshots:
            if os.path.isfile(os.path.join(folder, "grid.tsv")):  # a velmora-grid folder: its models are below
                warn(f"no velmora data in {folder} (no mdotin_<name>.dat, no F_x<N>.dat): it is a grid's folder; "
                     f"draw its models, all in one figure with {PROG} {os.path.join(folder, '*', '')}")
            else:
                warn(f"no velmora data in {folder} (no mdotin_<name>.dat, no F_x<N>.dat); run velmora there first")
            return 1
        w, f = draw_profiles(folder, outdir)
        written += w
        failed |= f
    return 1 if failed or not written else 0


if __name__ == "__main__":
    sys.exit(main())
