#!/usr/bin/python3
"""Writes examples/outburst_synthetic.txt: a SYNTHETIC X-ray light curve made
from known parameters plus Gaussian noise, the worked example of velmora-fit.

The model is examples/outburst_start.par with texp = 20 days and mdisk = 1e25 g,
started at MJD 58000.0; observed as a flux with efficiency 0.1 at 5 kpc, on 80
days drawn at random: 15 in the first 5 days, 65 up to MJD 58100, with errors of 5 % and
noise of that size. Seeded: rerunning it rewrites the same file.

It also writes the two bands of the second worked example (the disc's own
emission, needs the module's observables): examples/outburst_xray.txt (2-10 keV,
with upper limits in the faint tail) and examples/outburst_optical.txt (5.45e14 Hz).

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

# Two bands of the same outburst, as the second worked example: an X-ray
# light curve in 2-10 keV whose faint tail gives upper limits, and an optical
# one at 5.45e14 Hz (V band), both the disc's colour-corrected blackbody at
# 5 kpc and 60 degrees (f_col 1.7 in X-rays, 1 in the optical). A point is an
# upper limit where its measurement falls below 3 times its noise: the limit
# is 3 sigma, its noise sigma (a fourth column 1).
BAND_SEED = SEED + 1
INCLINATION = 60.0
X_FLOOR = 2e-11                    # erg/s/cm^2: the X-ray noise floor
rng = np.random.default_rng(BAND_SEED)
mjd_x = T0 + np.sort(np.concatenate([rng.uniform(0.3, 5.0, 8), rng.uniform(5.0, 150.0, 42)]))
fx = disc.band_flux((mjd_x - T0) * 86400.0, 2.0, 10.0, distance=D_CM, inclination=INCLINATION)
sx = RELATIVE_ERROR * fx + X_FLOOR
mx = fx + sx * rng.standard_normal(fx.size)
limit = mx < 3.0 * sx
mjd_o = T0 + np.sort(rng.uniform(1.0, 150.0, 30))
fo = disc.flux_density((mjd_o - T0) * 86400.0, 5.45e14, distance=D_CM, inclination=INCLINATION)
so = RELATIVE_ERROR * fo
mo = fo + so * rng.standard_normal(fo.size)
common = (f"# examples/outburst_start.par with texp = {TRUE['texp']} d, mdisk = {TRUE['mdisk']:g} g, t0 = MJD {T0}, "
          f"at 5 kpc and {INCLINATION:g} degrees (seed {BAND_SEED}).\n")
with open(os.path.join(here, "outburst_xray.txt"), "w") as f:
    f.write("# SYNTHETIC 2-10 keV light curve, not an observation: made by examples/make_synthetic_outburst.py from\n"
            + common + "# noise 5 % plus 2e-11; below 3 sigma an upper limit (fourth column 1: value = 3 sigma)\n"
            "# MJD  flux(erg/s/cm^2)  error  upper_limit\n")
    for t, m, s, lim in zip(mjd_x, mx, sx, limit):
        f.write("%.5f %.6e %.6e %d\n" % (t, 3.0 * s if lim else m, s, lim))
with open(os.path.join(here, "outburst_optical.txt"), "w") as f:
    f.write("# SYNTHETIC optical light curve at 5.45e14 Hz, not an observation: made by "
            "examples/make_synthetic_outburst.py from\n" + common + "# noise 5 %\n"
            "# MJD  f_nu(erg/s/cm^2/Hz)  error\n")
    for row in zip(mjd_o, mo, so):
        f.write("%.5f %.6e %.6e\n" % row)
