#!/usr/bin/python3
"""Speed of velmora-fit: the cost of one model evaluation inside a fit against
the bare evaluation of the same model.

Synthetic data: 100 epochs of the inner accretion rate of
examples/outburst_start.par with texp = 20 d, mdisk = 1e25 g, t0 = 58000,
errors of 5 % (seeded). Timed, one after the other in one run:
  bare      disc.mdot on the 100 epochs of a model already set up;
  lsq       a least-squares fit of texp, mdisk, t0 (velmora-fit's own path);
  mcmc      an emcee run of 32 walkers x 5000 steps (velmora-fit's own path,
            one process, all walkers of a step in one call).
Cost per evaluation inside a fit = its time / the model evaluations it made
(the Jacobian's included). Times are the CPU time of this process
(time.process_time): on a shared machine wall times swing with the load of
others, and everything here runs in this one thread.

    PYTHONPATH=build/python /usr/bin/python3 bench/fit_speed.py [--steps N]
"""
import argparse
import importlib.machinery
import os
import time
import types

import numpy as np
import scipy.optimize  # noqa: F401  (imported before the timing)
import emcee  # noqa: F401
import velmora

here = os.path.dirname(os.path.abspath(__file__))
loader = importlib.machinery.SourceFileLoader("velmora_fit", os.path.join(here, "..", "tools", "velmora-fit"))
fit = types.ModuleType(loader.name)
loader.exec_module(fit)

ap = argparse.ArgumentParser()
ap.add_argument("--steps", type=int, default=5000)
ap.add_argument("--walkers", type=int, default=32)
cli = ap.parse_args()

par = os.path.join(here, "..", "examples", "outburst_start.par")
start = velmora.Disc.from_file(par)
truth = start.replace(texp=20.0, mdisk=1e25)
rng = np.random.default_rng(1)
t = 58000.0 + np.sort(np.concatenate([rng.uniform(0.3, 5.0, 20), rng.uniform(5.0, 100.0, 80)]))
rate = truth.mdot((t - 58000.0) * 86400.0)
err = 0.05 * rate
y = rate + err * rng.standard_normal(t.size)

# bare: the best of 5 rounds of 2000 calls
ts = (t - 58000.0) * 86400.0
rounds = []
for _ in range(5):
    t1 = time.process_time()
    for _ in range(2000):
        truth.mdot(ts)
    rounds.append((time.process_time() - t1) / 2000)
bare = min(rounds)

params = [fit.Parameter("texp", 30.0, 0.3, 3000.0, True), fit.Parameter("mdisk", 5e24, 5e22, 5e26, True),
          fit.Parameter("t0", 57999.0, 57700.0, t[0], False)]
model = fit.Model(start.replace(texp=30.0, mdisk=5e24), params, {"texp": 30.0, "mdisk": 5e24, "t0": 57999.0},
                  t, "mdot", 1.0, scalable=True)
t1 = time.process_time()
ls = fit.least_squares_fit(model, y, err)
lsq_time = time.process_time() - t1
lsq_evals = model.evaluations

args = types.SimpleNamespace(seed=1, walkers=cli.walkers, steps=cli.steps, burn=None, processes=1, quiet=True)
model.evaluations = 0
t1 = time.process_time()
mc = fit.mcmc(model, y, err, ls, args)
mc_seconds = time.process_time() - t1  # the sampler's run plus its autocorrelation and percentiles
mc_evals = model.evaluations

# emcee's own cost: the same run with a log-probability that costs nothing
import emcee as _emcee
trivial = _emcee.EnsembleSampler(cli.walkers, 3, lambda U: -0.5 * np.sum(U * U, axis=1), vectorize=True)
t1 = time.process_time()
trivial.run_mcmc(np.random.default_rng(2).standard_normal((cli.walkers, 3)), cli.steps)
sampler_only = time.process_time() - t1
# the model alone, as the sampler calls it: one call for the half of the walkers moved together
half = cli.walkers // 2
U = np.tile(ls["u"], (half, 1))
t1 = time.process_time()
for _ in range(200):
    model.predict_many(U)
batched = (time.process_time() - t1) / (200 * half)

print("CPU time of this process")
print(f"bare evaluation, 100 epochs:          {bare * 1e6:8.1f} us")
print(f"least squares (texp, mdisk, t0):      {lsq_time * 1e3:8.1f} ms, {lsq_evals} evaluations, "
      f"{lsq_time / lsq_evals * 1e6:8.1f} us each = {lsq_time / lsq_evals / bare:5.2f} x bare")
print(f"  best fit: texp {ls['best']['texp']:.4f} +- {ls['error']['texp']:.4f} d, mdisk {ls['best']['mdisk']:.4e} "
      f"+- {ls['error']['mdisk']:.2e} g, t0 {ls['best']['t0']:.4f} +- {ls['error']['t0']:.4f}")
print(f"MCMC {cli.walkers} walkers x {cli.steps} steps:        {mc_seconds:8.2f} s, {mc_evals} evaluations, "
      f"{mc_seconds / mc_evals * 1e6:8.1f} us each = {mc_seconds / mc_evals / bare:5.2f} x bare")
print(f"  of which emcee's own moves (a free log-probability): {sampler_only / mc_evals * 1e6:6.1f} us per evaluation; "
      f"the model for {half} walkers in one call: {batched * 1e6:6.1f} us per walker = {batched / bare:4.2f} x bare")
print(f"  acceptance {mc['acceptance']:.3f}, autocorrelation times "
      + ", ".join(f"{k} {v:.1f}" for k, v in mc["tau"].items())
      + ("  (chain too short for them)" if mc["too_short"] else ""))
