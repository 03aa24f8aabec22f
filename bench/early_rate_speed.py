#!/usr/bin/python3
"""Speed of the centre rate on 100 epochs, late and early, for the module on
the path (to compare two builds, run this once per build, alternating, in one
shell command: the machine is shared, so compare the ratios).

  late    examples/default.par (l 0.4), 100 epochs from 1 to 3 texp: the modes;
  early   the same disc at l 10, 100 epochs from 0.1 to 1 texp, where the rate
          comes from the Laplace transform (z_0^2 texp / 4t >= 2);
  fed     l 7.5 with the built-in supply law, 100 epochs from 0.05 to 1 texp.

Each is timed in CPU time of this process (time.process_time), the median of
`--repeat` calls of disc.mdot on a model already set up.

    PYTHONPATH=build/python /usr/bin/python3 bench/early_rate_speed.py [--repeat N]
"""
import argparse
import os
import statistics
import time

import numpy as np
import velmora

here = os.path.dirname(os.path.abspath(__file__))
ap = argparse.ArgumentParser()
ap.add_argument("--repeat", type=int, default=200)
cli = ap.parse_args()

base = velmora.Disc.from_file(os.path.join(here, "..", "examples", "default.par"))
cases = {
    "late": (base, np.linspace(1.0, 3.0, 100)),
    "early": (base.replace(l=10.0), np.linspace(0.1, 1.0, 100)),
    "fed": (base.replace(l=7.5, flag_outer=2), np.linspace(0.05, 1.0, 100)),
}
for name, (disc, tau) in cases.items():
    t = tau * disc.texp_seconds
    disc.mdot(t)  # modes and projections set up before the timing
    runs = []
    for _ in range(cli.repeat):
        start = time.process_time()
        disc.mdot(t)
        runs.append(time.process_time() - start)
    print(f"{name:6s} {statistics.median(runs) * 1e6:10.1f} us per 100 epochs")
