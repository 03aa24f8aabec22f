#!/usr/bin/python3
"""Speed of velmora-fit (velmora.fit): the cost of a new model per parameter,
a least-squares fit, and the MCMCs of the fitting issue, against their targets.

Synthetic data from examples/outburst_start.par with texp = 20 d, mdisk =
1e25 g, t0 = 58000 (seeded, errors of 5 %). Timed, one after the other in one
run, in CPU time of this process (time.process_time: on a shared machine wall
times swing with the load of others, and everything here runs in one thread):
  bare      disc.mdot on 100 epochs of a model already set up;
  new model replace() changing one parameter, then 100 epochs (median of 200,
            every value new: a model of a value seen before could reuse what
            the core keeps; target 0.1 ms for every parameter);
  lsq       a least-squares fit of texp, mdisk, t0 to 100 points of the rate;
  mcmc A    32 walkers x 5000 steps, texp, mdisk, t0, l, r_ign_out free, on 60
            points of the rate (target: 60 s CPU);
  mcmc B    the same on 60 points of a 2-10 keV band flux (target: 3 min CPU),
            when the module has the band observable.
With --steps N or --walkers W the MCMCs' times are also projected to 32
walkers x 5000 steps, in proportion to walkers x steps (each walker makes one
model a step).
With --before DIR the per-parameter table is also timed, in a child process
right after this one's, with the module built in DIR (for example the build
of an earlier revision), and shown beside it.

    PYTHONPATH=build/python /usr/bin/python3 bench/fit_speed.py [--steps N] [--skip-a] [--skip-b] [--before DIR]
"""
import argparse
import json
import statistics
import subprocess
import sys
import time
import types

import numpy as np
import scipy.optimize  # noqa: F401  (imported before the timing)
import emcee  # noqa: F401
import velmora
from velmora import fit

import os
here = os.path.dirname(os.path.abspath(__file__))

ap = argparse.ArgumentParser()
ap.add_argument("--steps", type=int, default=5000)
ap.add_argument("--walkers", type=int, default=32)
ap.add_argument("--skip-a", action="store_true")
ap.add_argument("--skip-b", action="store_true")
ap.add_argument("--before", metavar="DIR", help="a build's python folder whose module is timed beside this one")
ap.add_argument("--table-only", action="store_true", help=argparse.SUPPRESS)  # the child of --before
cli = ap.parse_args()
TARGET_MODEL_MS = 0.1
TARGET_A_S = 60.0
TARGET_B_S = 180.0

par = os.path.join(here, "..", "examples", "outburst_start.par")
start = velmora.Disc.from_file(par)
truth = start.replace(texp=20.0, mdisk=1e25)
KPC = 3.0856775814913673e21


def curve(n, seed):
    rng = np.random.default_rng(seed)
    t = 58000.0 + np.sort(np.concatenate([rng.uniform(0.3, 5.0, n // 5), rng.uniform(5.0, 100.0, n - n // 5)]))
    return t


def fixed(**kw):
    v = {k: start.parameters[k] for k in fit.DISC_FREE}
    v.update(texp=30.0, mdisk=5e24, t0=57999.0, eta=0.1, distance=5 * KPC, inclination=60.0, f_col=None,
             c_irr=None, sys_error=0.0)
    v.update(kw)
    return v


t100 = curve(100, 1)
ts = (t100 - 58000.0) * 86400.0


def per_parameter():
    """Median CPU ms of replace(one parameter) + 100 epochs of the rate, per parameter."""
    fed = truth.replace(flag_outer=1, mdot_out=1e17)
    # (base model, parameter, factor per step): each of 200 values is new.
    cases = [(truth, "texp", 1.001), (truth, "mdisk", 1.001), (truth, "mass", 1.001), (truth, "r_out_disk", 1.001),
             (truth, "l", 1.0001), (truth, "r_ign_in", 1.0001), (truth, "r_ign_out", 0.9999),
             (truth, "sigma_index", 1.0001), (fed, "mdot_out", 1.001), (truth, "flag_outer", None)]
    table = {}
    for base, name, f in cases:
        costs = []
        for k in range(200):
            if name == "flag_outer":
                change = {"flag_outer": 1, "mdot_out": 1e17 * 1.001 ** (k + 1)}
                label = "flag_outer 0 -> 1"
            else:
                change = {name: base.parameters[name] * f ** (k + 1)}
                label = name + (" (flag_outer 1)" if base is fed else "")
            t1 = time.process_time()
            base.replace(**change).mdot(ts)
            costs.append(time.process_time() - t1)
        table[label] = statistics.median(costs) * 1e3
    return table


if cli.table_only:
    print(json.dumps(per_parameter()))
    sys.exit(0)

print("CPU time of this process")
# bare: the best of 5 rounds of 2000 calls
rounds = []
for _ in range(5):
    t1 = time.process_time()
    for _ in range(2000):
        truth.mdot(ts)
    rounds.append((time.process_time() - t1) / 2000)
bare = min(rounds)
print(f"bare evaluation, 100 epochs:          {bare * 1e6:8.1f} us")

now = per_parameter()
before = None
if cli.before:
    env = dict(os.environ, PYTHONPATH=cli.before)
    child = subprocess.run([sys.executable, os.path.abspath(__file__), "--table-only"], env=env, capture_output=True,
                           text=True, check=True)
    before = json.loads(child.stdout.strip().splitlines()[-1])
print(f"new model (replace one parameter) + 100 epochs, median of 200 (target {TARGET_MODEL_MS} ms):")
print(f"  {'parameter':28s} {'before ms':>10s} {'now ms':>10s}" if before else f"  {'parameter':28s} {'now ms':>10s}")
for label, ms in now.items():
    verdict = "ok" if ms <= TARGET_MODEL_MS else "ABOVE TARGET"
    if before:
        b = before.get(label)
        print(f"  {label:28s} {b if b is not None else float('nan'):10.3f} {ms:10.3f}  {verdict}")
    else:
        print(f"  {label:28s} {ms:10.3f}  {verdict}")

# least squares of texp, mdisk, t0 on 100 points of the rate
y_true = truth.mdot(ts)
rng = np.random.default_rng(1)
err = 0.05 * y_true
y = y_true + err * rng.standard_normal(t100.size)
ds = fit.DataSet(1, "rate", "mdot", None, t100, y, err, np.zeros(t100.size, bool))
params = [fit.Parameter("texp", 30.0, 0.3, 3000.0, "log"), fit.Parameter("mdisk", 5e24, 5e22, 5e26, "log"),
          fit.Parameter("t0", 57999.0, 57700.0, t100[0], "flat")]
model = fit.Model(start.replace(texp=30.0, mdisk=5e24), params, fixed(), [ds], scalable=True)
t1 = time.process_time()
ls = fit.least_squares_fit(model)
lsq_time = time.process_time() - t1
print(f"least squares (texp, mdisk, t0):      {lsq_time * 1e3:8.1f} ms, {model.evaluations} evaluations; "
      f"texp {ls['best']['texp']:.4f} +- {ls['error']['texp']:.4f} d")


def mcmc_run(label, observable, arg, target):
    t60 = curve(60, 2)
    s = (t60 - 58000.0) * 86400.0
    if observable == "mdot":
        m = truth.mdot(s)
    else:
        m = truth.band_flux(s, arg[0], arg[1], distance=5 * KPC, inclination=60.0)
    e = 0.05 * m
    yy = m + e * np.random.default_rng(3).standard_normal(m.size)
    d = fit.DataSet(1, label, observable, arg, t60, yy, e, np.zeros(t60.size, bool))
    ps = [fit.Parameter("texp", 22.0, 2.0, 200.0, "log"), fit.Parameter("mdisk", 1.1e25, 1e23, 1e27, "log"),
          fit.Parameter("t0", 57999.5, 57990.0, t60[0], "flat"), fit.Parameter("l", 0.42, 0.2, 2.0, "flat"),
          fit.Parameter("r_ign_out", 0.95, 0.2, 1.0, "flat")]
    mdl = fit.Model(start.replace(texp=22.0, mdisk=1.1e25, l=0.42, r_ign_out=0.95), ps, fixed(), [d])
    like = fit.Likelihood(mdl)
    t1 = time.process_time()
    lsq = fit.least_squares_fit(mdl, like)
    t_lsq = time.process_time() - t1
    args = types.SimpleNamespace(seed=1, walkers=cli.walkers, steps=cli.steps, burn=None, processes=1, quiet=True)
    mdl.evaluations = 0
    t1 = time.process_time()
    try:
        mc = fit.mcmc(mdl, like, lsq, args)
    except fit.NonFiniteModel as e:
        print(f"{label}: the MCMC stopped after {time.process_time() - t1:.1f} s CPU and {mdl.evaluations} models: "
              f"{e.describe()}")
        return
    t_mc = time.process_time() - t1
    print(f"{label}: least squares {t_lsq:.2f} s; MCMC {cli.walkers} walkers x {cli.steps} steps: {t_mc:8.1f} s CPU, "
          f"{mdl.evaluations} models, {t_mc / mdl.evaluations * 1e3:.3f} ms each; acceptance {mc['acceptance']:.3f}")
    full = t_mc * 5000.0 * 32.0 / (cli.steps * cli.walkers)
    how = "measured" if cli.steps == 5000 and cli.walkers == 32 else f"projected from {cli.walkers} x {cli.steps}"
    print(f"  32 walkers x 5000 steps: {full:.1f} s CPU ({how}); target {target:.0f} s: "
          f"{'met' if full <= target else 'NOT MET'}")
    print("  medians " + ", ".join(f"{k} {v:.5g}" for k, v in mc["median"].items())
          + ("  (chain too short for its autocorrelation times)" if mc["too_short"] else ""))


if not cli.skip_a:
    mcmc_run("MCMC A, rate, texp mdisk t0 l r_ign_out", "mdot", None, TARGET_A_S)
if not cli.skip_b:
    if hasattr(velmora.Disc, "band_flux"):
        mcmc_run("MCMC B, 2-10 keV band flux, same parameters", "band", (2.0, 10.0), TARGET_B_S)
    else:
        print("MCMC B skipped: this build of the module has no band flux (Disc.band_flux)")
