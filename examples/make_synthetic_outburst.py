#!/usr/bin/python3
"""Writes examples/outburst_synthetic.txt: a SYNTHETIC X-ray light curve made
from known parameters plus Gaussian noise, the worked example of velmora-fit.

The model is examples/outburst_start.par with texp = 20 days and mdisk = 1e25 g,
started at MJD 58000.0; observed as a flux with efficiency 0.1 at 5 kpc, on 80
days drawn at random: 15 in the first 5 days, 65 up to MJD 58100, with errors of 5 % and
noise of that size. Seeded: rerunning it rewrites the same file.

    PYTHONPATH=build/python /usr/bin/python3 examples/make_synthetic_outburst.py
"""
import math
import os

import numpy as np
import velmora

TRUE = {"texp": 20.0, "mdisk": 1e25}
T0 = 58000.0                       # MJD, start of the evolution
ETA, D_CM = 0.1, 5e3 * 3.0856775814913673e18   # efficiency; 5 kpc in cm
C = 2.997925e10                    # cm/s
RELATIVE_ERROR = 0.05
SEED = 20240517

here = os.path.dirname(os.path.abspath(__file__))
rng = np.random.default_rng(SEED)
disc = velmora.Disc.from_file(os.path.join(here, "outburst_start.par")).replace(**TRUE)
# 15 epochs over the rise (first 5 days after the start), 65 over the decay
mjd = T0 + np.sort(np.concatenate([rng.uniform(0.3, 5.0, 15), rng.uniform(5.0, 100.0, 65)]))
flux = ETA * C ** 2 * disc.mdot((mjd - T0) * 86400.0) / (4.0 * math.pi * D_CM ** 2)
err = RELATIVE_ERROR * flux
observed = flux + err * rng.standard_normal(flux.size)
with open(os.path.join(here, "outburst_synthetic.txt"), "w") as f:
    f.write("# SYNTHETIC light curve, not an observation: made by examples/make_synthetic_outburst.py from\n"
            f"# examples/outburst_start.par with texp = {TRUE['texp']} d, mdisk = {TRUE['mdisk']:g} g, t0 = MJD {T0},\n"
            f"# flux = eta Mdot c^2 / (4 pi d^2), eta = {ETA}, d = 5 kpc, plus Gaussian noise of 5 % (seed {SEED}).\n"
            "# MJD  flux(erg/s/cm^2)  error(erg/s/cm^2)\n")
    for row in zip(mjd, observed, err):
        f.write("%.5f %.6e %.6e\n" % row)
