"""Shared helpers of velmora-fit's tests (a module of its own name, not
conftest, so that pytest run over several test folders finds it): the starting model of the worked
example, synthetic light curves made from it, and the command run in a
temporary folder."""
import os
import subprocess
import sys

import numpy as np

import velmora
from velmora import fit

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
START_PAR = os.path.join(SOURCE, "examples", "outburst_start.par")
EXAMPLE = os.path.join(SOURCE, "examples", "outburst_synthetic.txt")
DAY = 86400.0
BASE = velmora.Disc.from_file(START_PAR)
TRUTH = {"texp": 20.0, "mdisk": 1e25, "t0": 100.0}


def synthetic(rng, n, truth=TRUTH, rel=0.05):
    """Times after t0 (days) and rates with Gaussian errors of rel."""
    t = truth["t0"] + np.sort(np.concatenate([rng.uniform(0.3, 5, n // 5), rng.uniform(5, 100, n - n // 5)]))
    mdot = BASE.replace(texp=truth["texp"], mdisk=truth["mdisk"]).mdot((t - truth["t0"]) * DAY)
    err = rel * mdot
    return t, mdot + err * rng.standard_normal(n), err


def dataset(t, y, err, limit=None, observable="mdot", arg=None, index=1, path="lc.txt"):
    limit = np.zeros(t.size, bool) if limit is None else limit
    return fit.DataSet(index, path, observable, arg, t, y, err, limit)


def fixed_values(**changes):
    v = {k: BASE.parameters[k] for k in fit.DISC_FREE}
    v.update(t0=TRUTH["t0"], eta=0.1, distance=None, inclination=None, f_col=None, c_irr=None, sys_error=0.0)
    v.update(changes)
    return v


def least_squares(sets, params, **fixed):
    model = fit.Model(BASE, params, fixed_values(**fixed), sets)
    return fit.least_squares_fit(model)


def run_tool(args, cwd, **kw):
    """velmora-fit run as a user runs it, with the package on the path."""
    return subprocess.run([sys.executable, "-m", "velmora.fit"] + [str(a) for a in args], cwd=cwd,
                          capture_output=True, text=True, **kw)
