#!/usr/bin/python3
"""Time of a light curve per observable, beside the rate's, in one run.

    PYTHONPATH=build/python /usr/bin/python3 bench/observables_speed.py [--epochs 100] [--model examples/default.par]

The model (default: examples/default.par) at 5 kpc and 60 degrees, epochs
spaced logarithmically from 0.3 to 3 texp (the default run's span). For each
observable: the processor time of one call on all epochs (best of repeated
loops; processor time, not wall time, because the machine may be shared:
other processes then slow a call down but do not add to its time), the time
per epoch, and its ratio to disc.mdot(t) on the same epochs. --early starts
the light curve at 0.03 texp, where the torque needs more radii and modes.
"""

import argparse
import pathlib
import sys
import time

import numpy as np

import velmora

ROOT = pathlib.Path(__file__).resolve().parents[1]
KPC = 3.0856775814913673e21


def best_time(call, budget=0.5, rounds=5):
    """Processor seconds per call: the best of `rounds` loops of about budget/rounds seconds each."""
    call()
    n = 1
    while True:
        start = time.process_time()
        for _ in range(n):
            call()
        elapsed = time.process_time() - start
        if elapsed > budget / rounds / 4 or n > 100_000:
            break
        n *= 4
    best = elapsed / n
    for _ in range(rounds - 1):
        start = time.process_time()
        for _ in range(n):
            call()
        best = min(best, (time.process_time() - start) / n)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--epochs", type=int, default=100)
    parser.add_argument("--model", default=str(ROOT / "examples" / "default.par"))
    parser.add_argument("--early", action="store_true", help="epochs from 0.03 texp instead of 0.3")
    args = parser.parse_args()

    disc = velmora.Disc.from_file(args.model)
    t = np.geomspace(0.03 if args.early else 0.3, 3.0, args.epochs) * disc.texp_seconds
    view = dict(distance=5 * KPC, inclination=60.0)
    # Illustrative tables (not data of any instrument): an area peaking at 1.5 keV, sigma ~ E^-8/3.
    energy = np.geomspace(0.2, 12.0, 40)
    area = np.column_stack([energy, 400.0 * np.exp(-0.5 * np.log(energy / 1.5) ** 2)])
    cross_section = np.column_stack([energy, 2.4e-22 * energy ** (-8 / 3)])
    v_band = 5.45e14  # Hz
    cases = [
        ("mdot (the rate)", lambda: disc.mdot(t)),
        ("bolometric_flux", lambda: disc.bolometric_flux(t, **view)),
        ("band_flux 2-10 keV", lambda: disc.band_flux(t, 2.0, 10.0, **view)),
        ("band_flux 0.5-2 keV", lambda: disc.band_flux(t, 0.5, 2.0, **view)),
        ("band_flux 15-50 keV", lambda: disc.band_flux(t, 15.0, 50.0, **view)),
        ("flux_density V", lambda: disc.flux_density(t, v_band, **view)),
        ("flux_density V, c_irr", lambda: disc.flux_density(t, v_band, c_irr=5e-4, **view)),
        ("ab_magnitude V", lambda: disc.ab_magnitude(t, v_band, **view)),
        ("band_flux, nh 1e22", lambda: disc.band_flux(t, 2.0, 10.0, nh=1e22, cross_section=cross_section, **view)),
        ("count_rate 0.5-10 keV", lambda: disc.count_rate(t, 0.5, 10.0, area, **view)),
        ("effective_temperature", lambda: disc.effective_temperature(np.geomspace(2e7, 1e11, 64), t)),
    ]
    print(f"# {pathlib.Path(args.model).name}, {args.epochs} epochs from {t[0] / disc.texp_seconds:g} to 3 texp, "
          f"processor time per call (best of 5 loops)")
    print(f"{'observable':24s} {'per call':>10s} {'per epoch':>10s} {'/ mdot':>8s}")
    rate = None
    for label, call in cases:
        seconds = best_time(call)
        rate = rate or seconds
        print(f"{label:24s} {seconds * 1e3:8.3f} ms {seconds / len(t) * 1e6:7.2f} us {seconds / rate:8.1f}")
    print("# effective_temperature: 64 radii per epoch, each an exact modal sum (no interpolation)")


if __name__ == "__main__":
    sys.exit(main())
