#!/usr/bin/python3
"""What a telescope sees of examples/default.par at 5 kpc: the figure docs/observables.png.

    PYTHONPATH=build/python /usr/bin/python3 examples/observables.py [out.png]

On one time axis, each normalised at its own peak: the accretion rate at the
centre, the 2-10 keV flux (colour correction 1.7), and the V-band flux
density (5.45e14 Hz) of the bare disc and of the disc irradiated by the
central source (c_irr = 5e-4). The disc is seen at 60 degrees; the
normalisation removes distance and inclination, which scale every flux alike.
It prints the peak values and the e-folding times late in the decay.
"""

import pathlib
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

import velmora
from velmora.constants import kpc

DAY = 86400.0  # s
V_BAND = 5.45e14  # Hz
here = pathlib.Path(__file__).resolve().parent
out = sys.argv[1] if len(sys.argv) > 1 else "observables.png"

disc = velmora.Disc.from_file(here / "default.par")
view = dict(distance=5 * kpc, inclination=60.0)
t = np.geomspace(0.1, 300.0, 300) * DAY
curves = [
    ("accretion rate at the centre", disc.mdot(t), "g/s"),
    ("2-10 keV flux (f_col 1.7)", disc.band_flux(t, 2.0, 10.0, f_col=1.7, **view), "erg/s/cm^2"),
    ("V-band flux density", disc.flux_density(t, V_BAND, **view), "erg/s/cm^2/Hz"),
    ("V-band, irradiated (c_irr 5e-4)", disc.flux_density(t, V_BAND, c_irr=5e-4, **view), "erg/s/cm^2/Hz"),
]

fig, ax = plt.subplots(figsize=(7, 4.5))
late = t > 100 * DAY
for label, values, unit in curves:
    ax.loglog(t / DAY, values / values.max(), label=label)
    slope = np.polyfit(t[late] / DAY, np.log(values[late]), 1)[0]
    print(f"{label:34s} peak {values.max():.4g} {unit} at {t[values.argmax()] / DAY:6.1f} d; "
          f"e-folding time after 100 d {-1 / slope:6.1f} d")
ax.set_xlabel("t (days)")
ax.set_ylabel("normalised at the peak")
ax.set_title("default.par at 5 kpc, inclination 60 degrees")
ax.set_ylim(1e-4, 2)
ax.legend(loc="lower left")
fig.tight_layout()
fig.savefig(out, dpi=110)
print(f"wrote {out}")
