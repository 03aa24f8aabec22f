#!/usr/bin/python3
"""Light curves of the shipped models with the Python module velmora.

    PYTHONPATH=build/python /usr/bin/python3 examples/light_curve.py [out.png]

Draws the accretion rate at the centre against time for examples/default.par
(a disc left to itself), examples/supply_law.par (fed by the built-in supply
law) and the default disc with the viscosity index l = 2, and, dashed, the
five-point estimate of the rate (the program's column 3), which for l = 2
departs from the rate at the centre by tens of per cent at early times.
"""

import pathlib
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

import velmora

DAY = 86400.0  # s
here = pathlib.Path(__file__).resolve().parent
out = sys.argv[1] if len(sys.argv) > 1 else "light_curve.png"

default = velmora.Disc.from_file(here / "default.par")
models = [
    ("default.par (texp 30 d)", default),
    ("default, l = 2", default.replace(l=2.0)),
    ("supply_law.par", velmora.Disc.from_file(here / "supply_law.par")),
]

t = np.geomspace(0.5, 300.0, 400) * DAY
fig, ax = plt.subplots(figsize=(7, 4.5))
for label, disc in models:
    line, = ax.loglog(t / DAY, disc.mdot(t), label=label)
    ax.loglog(t / DAY, disc.mdot_fit(t), "--", color=line.get_color(), linewidth=0.8)
ax.set_xlabel("t (days)")
ax.set_ylabel("accretion rate at the centre (g/s)")
ax.set_title("velmora: inner accretion rate (dashed: five-point fit)")
ax.set_ylim(1e14, None)
ax.legend()
fig.tight_layout()
fig.savefig(out, dpi=110)
print(f"wrote {out}")
