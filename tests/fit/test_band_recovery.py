"""velmora-fit recovers an outburst it did not make: an X-ray band with upper
limits on the rise and in the tail plus an optical light curve, computed by
independent_disc (finite differences and direct quadrature, no velmora code),
with seeded noise. The forward model is first held to a closed form and to the
steady-disc reference; the fit must then find the truth within 3 sigma with a
sensible chi^2, and its derived quantities must match the ones the finite
differences give (the disc's mass, the peak, the accreted mass)."""
import json
import math
import os

import numpy as np
import pytest
from scipy import special

import independent_disc as ind
import velmora
from fit_helpers import SOURCE, run_tool

# The outburst: a 10-solar-mass black hole, the matter first between 0.1 and
# 0.6 of the disc's radius (so the disc holds less than mdisk); seen at 4 kpc
# and 45 degrees, starting at day 340.25 of the data's clock.
TRUTH = dict(mass=1.989e34, r_out_disk=1e11, l=0.4, texp=15.0, mdisk=1.5e25, r_ign_in=0.1, r_ign_out=0.6,
             sigma_index=-1.0)
T0, DISTANCE_KPC, INCLINATION = 340.25, 4.0, 45.0
BAND, FREQUENCY = (2.0, 10.0), 5.45e14       # keV; Hz (V band)
F_COL_X, F_COL_OPTICAL = 1.7, 1.0            # velmora's defaults for band and fnu (the fit sets none)
RELATIVE_NOISE, X_FLOOR = 0.05, 3e-11       # 5 %; the X-ray detector's floor, erg/s/cm^2
SEED = 27
REFERENCE = os.path.join(SOURCE, "tests", "exact", "reference", "observe", "steady7.tsv")


def test_the_finite_differences_carry_the_slowest_mode_at_its_closed_form_rate():
    # F = xi^(1/2) J_l(z0 xi^(1/(2l))) is the slowest eigenmode: it keeps its
    # shape and decays as exp(-t/texp); its inner rate is (2 pi / h_out)
    # (z0/2)^l / Gamma(l+1) exp(-t/texp), from the Bessel series at 0. This
    # pins the operator, its boundaries and the texp <-> viscosity relation.
    disc = ind.Disc(TRUTH)
    l, xi = TRUTH["l"], disc.xi[1:]
    mode = np.sqrt(xi) * special.jv(l, disc.z0 * xi ** (0.5 / l))
    times = np.array([0.3, 1.0, 3.0]) * TRUTH["texp"] * ind.DAY
    f = disc.evolve(times, f=mode)
    decay = np.exp(-times / (TRUTH["texp"] * ind.DAY))
    exact = 2.0 * math.pi / disc.h_out * (disc.z0 / 2.0) ** l / special.gamma(l + 1.0) * decay
    rate = np.array([disc.rate(fi) for fi in f])
    # second-order differences on 1600 nodes: measured 7e-7 for the rate, 5e-7 for the shape
    np.testing.assert_allclose(rate, exact, rtol=1e-5)
    np.testing.assert_allclose(f / decay[:, None], np.broadcast_to(mode, f.shape), rtol=0, atol=1e-5 * mode.max())


def test_the_quadrature_gives_the_steady_reference_disc():
    # The reference file: a steady disc (F = Mdot h / (2 pi), shifted to vanish
    # at r_ms) by another adaptive quadrature with these constants, to its 11
    # printed digits; measured 3e-11.
    p, mdot, distance = dict(mass=1.3923e34, r_out_disk=5e10), 3e17, 9.25710e21
    steady = lambda r: (mdot * np.sqrt(ind.G * p["mass"] * r) / (2.0 * math.pi))[None, :]
    checked = 0
    rows = [line.rstrip("\n").split("\t") for line in open(REFERENCE) if not line.startswith("#")]
    for q, inc, f_col, a1, a2, c_irr, value in rows:
        if float(c_irr) != 0 or q not in ("band_flux_keV", "flux_density_Hz"):
            continue
        what = dict(band=(float(a1), float(a2))) if q == "band_flux_keV" else dict(frequency=float(a1))
        got = ind.observe(steady, mdot, p, distance, float(inc), f_col=float(f_col), **what)[0]
        assert got == pytest.approx(float(value), rel=1e-9), (q, inc, f_col, a1, a2)
        checked += 1
    assert checked == 33


@pytest.fixture(scope="module")
def outburst():
    """Seeded data times, the true fluxes there and the finite-difference
    disc's mass, peak and accreted mass."""
    rng = np.random.default_rng(SEED)
    # X-ray: 6 pointings in the first 0.12 days (the turn-on: mostly limits),
    # 8 more over the rise, 30 over the decay into the floor; optical: 25.
    tx = np.sort(np.concatenate([rng.uniform(0.02, 0.12, 6), rng.uniform(0.12, 5.0, 8), rng.uniform(5.0, 140.0, 30)]))
    to = np.sort(rng.uniform(0.5, 140.0, 25))
    peak_grid = np.arange(0.5, 4.0, 0.005)
    times = np.unique(np.concatenate([tx, to, peak_grid]))
    disc = ind.Disc(TRUTH)
    f = disc.evolve(times * ind.DAY)
    rate = np.array([disc.rate(fi) for fi in f])
    at = lambda t: np.searchsorted(times, t)
    kx, ko = at(tx), at(to)
    torque = lambda k: (lambda r: np.array([disc.torque_at(f[i], r) for i in k]))
    distance = DISTANCE_KPC * ind.KPC
    fx = ind.observe(torque(kx), rate[kx], TRUTH, distance, INCLINATION, band=BAND, f_col=F_COL_X)
    fo = ind.observe(torque(ko), rate[ko], TRUTH, distance, INCLINATION, frequency=FREQUENCY, f_col=F_COL_OPTICAL)
    k = at(peak_grid)[np.argmax(rate[at(peak_grid)])]
    # parabola through the largest rate and its neighbours on the 0.005-day grid
    (t1, t2, t3), (y1, y2, y3) = times[k - 1:k + 2], rate[k - 1:k + 2]
    c2 = ((y3 - y2) / (t3 - t2) - (y2 - y1) / (t2 - t1)) / (t3 - t1)
    c1 = (y2 - y1) / (t2 - t1) - c2 * (t1 + t2)
    c0 = y2 - c2 * t2 ** 2 - c1 * t2
    first, last = min(tx[0], to[0]), max(tx[-1], to[-1])
    return dict(rng=rng, tx=tx, to=to, fx=fx, fo=fo, initial_mass=disc.mass(disc.initial),
                peak_time=T0 - c1 / (2.0 * c2), peak_rate=c0 - c1 ** 2 / (4.0 * c2),
                accreted_mass=disc.mass(f[at(first)]) - disc.mass(f[at(last)]))


def test_velmora_sees_the_same_outburst(outburst):
    # Two forward models of one disc: velmora's Green's-function series and
    # its observables against the finite differences and this quadrature.
    # Measured: X-ray 5e-5 at and above the detector's floor, 1.6e-5 in the
    # faint tail; on the turn-on far below the floor 3e-3 at 3e-12 and 6 % at
    # 1e-21 erg/s/cm^2 (0.03 days: deep in the Wien tail, E / kT ~ 50 multiplies
    # the differences' error of the rate), hence an absolute 1e-3 of the floor;
    # optical 1e-6.
    o = outburst
    disc = velmora.Disc(**TRUTH)
    view = dict(distance=DISTANCE_KPC * ind.KPC, inclination=INCLINATION)
    x = disc.band_flux(o["tx"] * ind.DAY, *BAND, f_col=F_COL_X, **view)
    v = disc.flux_density(o["to"] * ind.DAY, FREQUENCY, f_col=F_COL_OPTICAL, **view)
    np.testing.assert_allclose(x, o["fx"], rtol=2e-4, atol=1e-3 * X_FLOOR)
    np.testing.assert_allclose(v, o["fo"], rtol=1e-5)


def write_start(path):
    """The starting model: the true disc but for texp and mdisk (30 days and
    5e24 g), written as VALUE # KEYWORD lines."""
    start = dict(TRUTH, texp=30.0, mdisk=5e24)
    keys = ("mass", "mdisk", "r_out_disk", "l", "r_ign_in", "r_ign_out", "sigma_index", "texp")
    path.write_text("".join(f"{start[k]!r} # {k}\n" for k in keys) + "0 # flag_outer\nrecovery # name\n")


def test_a_two_band_outburst_with_limits_is_recovered_within_three_sigma(tmp_path, outburst):
    o, rng = outburst, outburst["rng"]
    sx = RELATIVE_NOISE * o["fx"] + X_FLOOR
    mx = o["fx"] + sx * rng.standard_normal(o["tx"].size)
    limit = mx < 3.0 * sx                        # not detected at 3 sigma: a limit of 3 sigma
    so = RELATIVE_NOISE * o["fo"]
    mo = o["fo"] + so * rng.standard_normal(o["to"].size)
    assert limit[o["tx"] < 0.12].sum() >= 3 and limit[o["tx"] > 5].sum() >= 5   # limits on the rise and the tail
    np.savetxt(tmp_path / "xray.txt", np.column_stack([T0 + o["tx"], np.where(limit, 3.0 * sx, mx), sx, limit]),
               fmt="%.10g")
    np.savetxt(tmp_path / "optical.txt", np.column_stack([T0 + o["to"], mo, so]), fmt="%.10g")
    # the distance known to 10 %: a Gaussian prior around a measured value
    d_measured = DISTANCE_KPC * (1.0 + 0.1 * rng.standard_normal())
    write_start(tmp_path / "start.par")
    r = run_tool(["start.par", f"xray.txt:band={BAND[0]:g}-{BAND[1]:g}", f"optical.txt:fnu={FREQUENCY:g}",
                  "--free", "texp,mdisk,t0,distance", "--t0", "339.5", "--distance", f"{d_measured}kpc",
                  "--prior", f"distance=gauss:{d_measured}kpc,{0.1 * d_measured}kpc", "--inclination",
                  str(INCLINATION), "--quiet", "--no-plots", "-o", "out"], tmp_path)
    assert r.returncode == 0, r.stdout + r.stderr
    s = json.load(open(tmp_path / "out" / "summary.json"))
    ls = s["least_squares"]
    truth = dict(texp=TRUTH["texp"], mdisk=TRUTH["mdisk"], t0=T0, distance=DISTANCE_KPC * ind.KPC)
    pulls = {k: (ls["best"][k] - v) / ls["error"][k] for k, v in truth.items()}
    print("pulls (sigma):", {k: round(v, 2) for k, v in pulls.items()}, "chi2", ls["chi2"], "dof", ls["dof"])
    assert all(abs(p) < 3.0 for p in pulls.values()), pulls
    # The right model's chi^2 for dof degrees of freedom: mean dof, spread
    # sqrt(2 dof) (about 10 here); 3.5 of it either way, plus 1 per limit for
    # -2 ln Phi of limits near the model. A forward model off by more than the
    # noise, or errors misread, would land far outside.
    spread = 3.5 * math.sqrt(2.0 * ls["dof"])
    assert ls["dof"] - spread < ls["chi2"] < ls["dof"] + spread + limit.sum(), (ls["chi2"], ls["dof"])
    # derived quantities against the finite differences' own: the initial mass
    # (0.56 of mdisk here), the peak and the mass accreted over the data's span
    derived = s["derived"]
    for name in ("initial_mass", "peak_time", "peak_rate", "accreted_mass"):
        d = derived[name]
        assert abs(d["value"] - o[name]) < 3.0 * d["error"], (name, d, o[name])
    assert o["initial_mass"] == pytest.approx(TRUTH["mdisk"] * (0.6 - 0.1) / (1.0 - 0.1), rel=1e-12)
