#!/usr/bin/python3
"""Speed of velmora-fit (velmora.fit): the cost of a new model per parameter,
a least-squares fit, and the MCMCs of the fitting issue.

Synthetic data from examples/outburst_start.par with texp = 20 d, mdisk =
1e25 g, t0 = 58000 (seeded, errors of 5 %). Timed, one after the other in one
run, in CPU time of this process (time.process_time: on a shared machine wall
times swing with the load of others, and everything here runs in one thread):
  bare      disc.mdot on 100 epochs of a model already set up;
  new model replace() changing one parameter, then 100 epochs (median);
  lsq       a least-squares fit of texp, mdisk, t0 to 100 points of the rate;
  mcmc A    32 walkers x 5000 steps, texp, mdisk, t0, l, r_ign_out free, on 60
            points of the rate (target: 60 s);
  mcmc B    the same on 60 points of a 2-10 keV band flux (target: 3 min),
            when the module has the band observable.

    PYTHONPATH=build/python /usr/bin/python3 bench/fit_speed.py [--steps N] [--skip-b]
"""
import argparse
import statistics
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
cli = ap.parse_args()

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


print("CPU time of this process")
# bare: the best of 5 rounds of 2000 calls
t100 = curve(100, 1)
ts = (t100 - 58000.0) * 86400.0
rounds = []
for _ in range(5):
    t1 = time.process_time()
    for _ in range(2000):
        truth.mdot(ts)
    rounds.append((time.process_time() - t1) / 2000)
bare = min(rounds)
print(f"bare evaluation, 100 epochs:          {bare * 1e6:8.1f} us")

# a new model per parameter: alternate between nearby values, median of 200
steps = {"texp": 1.001, "mdisk": 1.001, "l": 1.0001, "r_ign_out": 0.9999, "sigma_index": 1.0001, "r_ign_in": 1.0001}
for name, f in steps.items():
    base_value = truth.parameters[name]
    costs = []
    for k in range(200):
        value = base_value * f ** (1 + k % 7)
        t1 = time.process_time()
        truth.replace(**{name: value}).mdot(ts)
        costs.append(time.process_time() - t1)
    print(f"new model changing {name:12s} + 100 epochs: {statistics.median(costs) * 1e3:8.3f} ms (median of 200)")

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


def mcmc_run(label, observable, arg, values):
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
    print("  medians " + ", ".join(f"{k} {v:.5g}" for k, v in mc["median"].items())
          + ("  (chain too short for its autocorrelation times)" if mc["too_short"] else ""))


if not cli.skip_a:
    mcmc_run("MCMC A, rate, texp mdisk t0 l r_ign_out", "mdot", None, None)
if not cli.skip_b:
    if hasattr(velmora.Disc, "band_flux"):
        mcmc_run("MCMC B, 2-10 keV band flux, same parameters", "band", (2.0, 10.0), None)
    else:
        print("MCMC B skipped: this build of the module has no band flux (Disc.band_flux)")
