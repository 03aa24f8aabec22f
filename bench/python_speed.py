#!/usr/bin/python3
"""Speed of the Python module against the program, as ratios in one run.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_speed.py [--binary build/velmora] [--epochs 100]

For each shipped example model (modes 0, 1 and 2) with NUM_TIME set to the
number of epochs and `fast 1`:
  program   wall time of the program's process on that file (best of 3),
            in an empty folder, stdin from /dev/null;
  module    one disc.mdot(t) on the same output times, the model already
            set up (best of repeated loops);
  ratio     program / module.
Then what a new model costs (construction and its first light curve):
  replace   disc.replace(texp=..., mdisk=...): shares the modes and the projections;
  shape     disc.replace(r_ign_in=...): new projections of the initial torque;
  Disc()    velmora.Disc(...) from scratch, of an order already used in the process;
  order     a new order l: its Bessel zeros first.
And where the time of a light curve goes: the fixed cost of a call (an empty
array), the modal terms the sums take (disc.modes_needed), and the cost of as
many calls of exp (the core's sums cost one exponential per mode and time).
"""

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

import numpy as np

import velmora

ROOT = pathlib.Path(__file__).resolve().parents[1]
MODELS = ["default.par", "constant_supply.par", "supply_law.par"]


def with_entries(text, **entries):
    """The parameter file's text with keywords replaced (or appended)."""
    out, seen = [], set()
    for line in text.splitlines():
        words = line.split()
        if len(words) >= 3 and words[1] == "#" and words[2] in entries:
            line = f"{entries[words[2]]} # {words[2]}"
            seen.add(words[2])
        out.append(line)
    out += [f"{v} # {k}" for k, v in entries.items() if k not in seen]
    return "\n".join(out) + "\n"


def best_time(call, budget=0.3, rounds=5):
    """Seconds per call: the best of `rounds` loops of about budget/rounds seconds each."""
    call()
    n = 1
    while True:
        start = time.perf_counter()
        for _ in range(n):
            call()
        elapsed = time.perf_counter() - start
        if elapsed > budget / rounds / 4 or n > 1_000_000:
            break
        n *= 4
    best = elapsed / n
    for _ in range(rounds - 1):
        start = time.perf_counter()
        for _ in range(n):
            call()
        best = min(best, (time.perf_counter() - start) / n)
    return best


def program_time(binary, par, runs=3):
    best = float("inf")
    for _ in range(runs):
        with tempfile.TemporaryDirectory() as folder:
            start = time.perf_counter()
            subprocess.run([binary, str(par)], cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           check=True)
            best = min(best, time.perf_counter() - start)
    return best


def fmt(seconds):
    if seconds >= 1.0:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds * 1e6:.1f} us"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--binary", default=str(ROOT / "build" / "velmora"))
    parser.add_argument("--epochs", type=int, default=100)
    args = parser.parse_args()
    exp_cost = velmora._velmora._seconds_per_exponential(10_000_000)

    print(f"# {args.epochs}-epoch light curves: the program (fast 1, one process) against disc.mdot(t)")
    print(f"{'model':22s} {'mode':>4s} {'program':>10s} {'module':>10s} {'ratio':>8s}   "
          f"{'call':>8s} {'per epoch':>10s} {'modes':>6s} {'exp share':>9s}")
    with tempfile.TemporaryDirectory() as folder:
        for name in MODELS:
            text = (ROOT / "examples" / name).read_text()
            par = pathlib.Path(folder) / name
            par.write_text(with_entries(text, NUM_TIME=args.epochs, fast=1))
            disc = velmora.Disc.from_file(par)
            t = disc.output_times()
            program = program_time(args.binary, par)
            module = best_time(lambda: disc.mdot(t))
            empty = np.empty(0)
            call = best_time(lambda: disc.mdot(empty))
            modes = int(np.sum(disc.modes_needed(t)))
            exps = modes * exp_cost
            print(f"{name:22s} {disc.parameters['flag_outer']:4d} {fmt(program):>10s} {fmt(module):>10s} "
                  f"{program / module:8.0f}   {fmt(call):>8s} {fmt((module - call) / len(t)):>10s} "
                  f"{modes / len(t):6.1f} {exps / module:9.0%}")

    print()
    print("# a new model and its first light curve (the default model, 100 epochs from 0.3 to 3 texp)")
    base = velmora.Disc.from_file(ROOT / "examples" / "default.par")
    t = np.geomspace(0.3, 3.0, args.epochs) * base.texp_seconds
    base.mdot(t)
    counter = iter(range(1, 10**9))
    cases = [
        ("replace(texp, mdisk)", lambda k: base.replace(texp=20.0 + 1e-6 * k, mdisk=1e25 * (1 + 1e-6 * k))),
        ("replace(r_ign_in)", lambda k: base.replace(r_ign_in=1e-4 * (1 + 1e-6 * k))),
        ("Disc(...), known l", lambda k: velmora.Disc(**{**base.parameters, "r_ign_in": 1e-4 * (1 + 1e-6 * k)})),
        ("Disc(...), new l", lambda k: velmora.Disc(**{**base.parameters, "l": 0.4 * (1 + 1e-9 * k)})),
    ]
    for label, make in cases:
        setup = best_time(lambda: make(next(counter)), budget=0.5)
        both = best_time(lambda: make(next(counter)).mdot(t), budget=0.5)
        print(f"{label:22s} set-up {fmt(setup):>10s}   with its first light curve {fmt(both):>10s}")
    print()
    print(f"# std::exp: {exp_cost * 1e9:.1f} ns per call; 'exp share' is modes x epochs x that over the light curve's "
          f"time; 'call' is mdot on an empty array (binding and plan)")


if __name__ == "__main__":
    sys.exit(main())
