"""Tests of the disc's observables (Disc.effective_temperature, bolometric_flux,
band_flux, flux_density, ab_magnitude, count_rate): against the steady disc
of tests/exact/reference/observe (an independent adaptive quadrature), against
quadratures written here with scipy on a disc of other parameters, and
against conservation: the luminosity is the disc's own dissipation.
"""

import csv
import os
import pathlib

import numpy as np
import pytest
from scipy import integrate

import velmora

SOURCE_DIR = pathlib.Path(os.environ.get("VELMORA_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
OBSERVE = SOURCE_DIR / "tests" / "exact" / "reference" / "observe"

# CGS, written out here (not taken from the module): the reference's constants.
G, C = 6.67428e-8, 2.99792458e10
H, K, KEV = 6.62607015e-27, 1.380649e-16, 1.602176634e-9
SIGMA = 2 * np.pi**5 * K**4 / (15 * H**3 * C**2)
KPC = 3.0856775814913673e21
C_MODEL = 2.997925e10  # the model's own c, for identities that compare to better than 1e-6


def reference_rows():
    with open(OBSERVE / "steady7.tsv") as f:
        lines = [line for line in f if not line.startswith("#")]
    names = ["quantity", "inclination", "f_col", "arg1", "arg2", "c_irr", "value"]
    return [dict(zip(names, row)) for row in csv.reader(lines, delimiter="\t")]


def steady7():
    disc = velmora.Disc.from_file(OBSERVE / "steady7.par")
    return disc, np.array([40.0 * disc.texp_seconds])


def test_the_steady_reference_disc():
    """All 50 rows to 1e-4: velmora's c and r_ms differ from the reference's by up to 1e-6, which the
    Wien tail of a 15-50 keV band (E/kT ~ 50) amplifies to 1.3e-5."""
    disc, t = steady7()
    distance = 3 * KPC
    r_ms = 6 * G * 1.3923e34 / C**2
    rows = reference_rows()
    assert len(rows) == 50
    for row in rows:
        q, expected = row["quantity"], float(row["value"])
        view = dict(distance=distance, inclination=float(row["inclination"]) if row["inclination"] != "-" else 0.0)
        if q == "bolometric_flux":
            value = disc.bolometric_flux(t, **view)
        elif q == "band_flux_keV":
            value = disc.band_flux(t, float(row["arg1"]), float(row["arg2"]), f_col=float(row["f_col"]), **view)
        elif q == "flux_density_Hz":
            value = disc.flux_density(t, float(row["arg1"]), f_col=float(row["f_col"]), c_irr=float(row["c_irr"]),
                                      **view)
        else:
            value = disc.effective_temperature([float(row["arg1"]) * r_ms], t)[:, 0]
        assert value[0] == pytest.approx(expected, rel=1e-4), row


# ---- a disc nobody here has seen: quadratures written in this test ---------------

UNSEEN = dict(mass=9.1e33, r_out_disk=2.3e10, l=1.3, r_ign_in=0.3, r_ign_out=0.9, texp=7.0, flag_outer=1,
              mdot_out=8.5e17)


def unseen():
    disc = velmora.Disc(**UNSEEN)
    return disc, np.array([45.0 * disc.texp_seconds])  # steady to exp(-45)


def steady_t4(r, mdot, mass, c_irr=0.0):
    r_ms = 6 * G * mass / C**2
    viscous = 3 * G * mass * mdot / (8 * np.pi * r**3) * max(0.0, 1 - np.sqrt(r_ms / r))
    return (viscous + c_irr * mdot * C**2 / (4 * np.pi * r**2)) / SIGMA


def disc_integral(intensity, mass, r_out):
    """int_{r_ms}^{r_out} r dr intensity(r), adaptive, in ln r, split near the inner edge."""
    r_ms = 6 * G * mass / C**2
    f = lambda v: np.exp(2 * v) * intensity(np.exp(v))
    edges = np.log([r_ms, 1.1 * r_ms, 2 * r_ms, 10 * r_ms, r_out])
    return sum(integrate.quad(f, a, b, epsabs=0, epsrel=1e-11, limit=200)[0] for a, b in zip(edges, edges[1:]))


@pytest.mark.parametrize("e_min, e_max, f_col, c_irr", [(1.0, 5.0, 1.5, 0.0), (0.2, 2.0, 1.0, 2e-3), (8.0, 30.0, 2.0, 0.0)])
def test_band_flux_of_an_unseen_steady_disc(e_min, e_max, f_col, c_irr):
    disc, t = unseen()
    mass, r_out, mdot = UNSEEN["mass"], UNSEEN["r_out_disk"], UNSEEN["mdot_out"]
    distance, inclination = 7.3 * KPC, 62.0

    def band(r):
        T = f_col * steady_t4(r, mdot, mass, c_irr) ** 0.25
        if T == 0:
            return 0.0
        planck = lambda E: 2 * E**3 / (H**3 * C**2) * np.exp(-E / (K * T)) / -np.expm1(-E / (K * T))
        lo, hi = e_min * KEV, e_max * KEV
        return integrate.quad(planck, lo, hi, epsabs=0, epsrel=1e-11, points=[min(max(3 * K * T, lo), hi)])[0] / f_col**4

    expected = 2 * np.pi * np.cos(np.radians(inclination)) / distance**2 * disc_integral(band, mass, r_out)
    value = disc.band_flux(t, e_min, e_max, distance=distance, inclination=inclination, f_col=f_col, c_irr=c_irr)
    # The model's constants against these: c to 1.4e-7, amplified by E/kT in the Wien tail.
    assert value[0] == pytest.approx(expected, rel=2e-5)


@pytest.mark.parametrize("frequency, c_irr", [(3.3e14, 0.0), (1.2e15, 1e-3), (8e15, 0.0)])
def test_flux_density_and_magnitude_of_an_unseen_steady_disc(frequency, c_irr):
    disc, t = unseen()
    mass, r_out, mdot = UNSEEN["mass"], UNSEEN["r_out_disk"], UNSEEN["mdot_out"]
    view = dict(distance=2.1 * KPC, inclination=20.0)

    def density(r):
        T4 = steady_t4(r, mdot, mass, c_irr)
        return 0.0 if T4 == 0 else 2 * H * frequency**3 / C**2 / np.expm1(H * frequency / (K * T4**0.25))

    expected = 2 * np.pi * np.cos(np.radians(20.0)) / view["distance"] ** 2 * disc_integral(density, mass, r_out)
    assert disc.flux_density(t, frequency, c_irr=c_irr, **view)[0] == pytest.approx(expected, rel=1e-5)
    assert disc.ab_magnitude(t, frequency, c_irr=c_irr, **view)[0] == pytest.approx(
        -2.5 * np.log10(expected) - 48.60, abs=1e-5)


# ---- identities ----------------------------------------------------------------------

@pytest.mark.parametrize("model, taus", [("steady7", [40.0]), ("default", [0.3, 1.0, 3.0])])
def test_the_whole_spectrum_is_the_bolometric_flux(model, taus):
    """From 1e-4 to 1e3 keV with f_col 1 the band holds all but the Rayleigh-Jeans tail of the coolest
    rings below 1e-4 keV (~1e-7 of the light for these discs)."""
    path = OBSERVE / "steady7.par" if model == "steady7" else SOURCE_DIR / "examples" / "default.par"
    disc = velmora.Disc.from_file(path)
    t = np.array(taus) * disc.texp_seconds
    view = dict(distance=5 * KPC, inclination=41.0)
    np.testing.assert_allclose(disc.band_flux(t, 1e-4, 1e3, f_col=1.0, **view), disc.bolometric_flux(t, **view),
                               rtol=1e-6)


def luminosity(disc, t):
    distance = 1e22
    return disc.bolometric_flux(t, distance=distance, inclination=0.0) * 2 * np.pi * distance**2


def test_the_luminosity_of_a_decaying_disc_is_its_dissipation():
    """L = int 2 (3/4) F_ms Omega / r^2 2 pi r dr, with F_ms = F - Mdot h_ms / (2 pi) from Disc.torque
    at the radii scipy asks for (no interpolation), on a disc spreading and decaying from a ring."""
    disc = velmora.Disc(mass=1.2e34, mdisk=3e24, r_out_disk=4e10, l=0.8, r_ign_in=0.4, r_ign_out=0.7, texp=12.0)
    p = disc.parameters
    mass, r_out, l = p["mass"], p["r_out_disk"], p["l"]
    r_ms = 6 * G * mass / C_MODEL**2
    h_ms = np.sqrt(G * mass * r_ms)
    for tau in (0.02, 0.15, 0.6, 2.5):
        t = np.array([tau * disc.texp_seconds])
        mdot = disc.mdot(t)[0]

        def dissipation(v):
            r = np.exp(v)
            F = disc.torque(np.array([(r / r_out) ** (0.25 / l)]), t)[0, 0]
            return 2 * 0.75 * max(0.0, F - mdot * h_ms / (2 * np.pi)) * np.sqrt(G * mass / r**3) / r**2 * 2 * np.pi * r**2

        edges = np.log([r_ms, 2 * r_ms, 20 * r_ms, r_out])
        expected = sum(integrate.quad(dissipation, a, b, epsrel=1e-10, limit=200)[0] for a, b in zip(edges, edges[1:]))
        assert luminosity(disc, t)[0] == pytest.approx(expected, rel=1e-7), tau


def test_a_steady_disc_radiates_its_binding_energy():
    """L = G M Mdot / (2 r_ms) less what lies beyond r_out: G M Mdot (1/(2 r_ms) - 3/(2 R) + sqrt(r_ms) / R^1.5)."""
    disc, t = unseen()
    mass, R, mdot = UNSEEN["mass"], UNSEEN["r_out_disk"], UNSEEN["mdot_out"]
    r_ms = 6 * G * mass / C**2
    expected = G * mass * mdot * (1 / (2 * r_ms) - 3 / (2 * R) + np.sqrt(r_ms) / R**1.5)
    # L ~ c^2 through r_ms: velmora's c is 1.4e-7 above the one here.
    assert luminosity(disc, t)[0] == pytest.approx(expected, rel=1e-6)


# ---- absorption and count rates through tables ----------------------------------------

def test_absorption_and_effective_areas():
    disc, t = unseen()
    view = dict(distance=4 * KPC, inclination=30.0, f_col=1.7)
    band = disc.band_flux(t, 0.5, 8.0, **view)
    # A flat cross-section absorbs by exactly exp(-nh sigma); zero absorbs nothing.
    flat = np.array([[0.1, 2e-22], [10.0, 2e-22]])
    assert disc.band_flux(t, 0.5, 8.0, nh=3e21, cross_section=flat, **view)[0] == pytest.approx(
        band[0] * np.exp(-0.6), rel=1e-7)
    assert disc.band_flux(t, 0.5, 8.0, nh=0.0, cross_section=flat, **view)[0] == band[0]
    # A power law sigma ~ E^-8/3 (two rows, interpolated as a power law) against scipy over energy of
    # the spectrum F_E = (2 pi cos i / d^2) int r dr I_E, with F_E's own radial quadrature.
    mass, r_out, mdot = UNSEEN["mass"], UNSEEN["r_out_disk"], UNSEEN["mdot_out"]
    to_flux = 2 * np.pi * np.cos(np.radians(30.0)) / view["distance"] ** 2

    def spectrum(E):  # erg/s/cm^2/erg
        def ring(r):
            T = 1.7 * steady_t4(r, mdot, mass) ** 0.25
            return 0.0 if T == 0 else 2 * E**3 / (H**3 * C**2) * np.exp(-E / (K * T)) / -np.expm1(-E / (K * T)) / 1.7**4
        return to_flux * disc_integral(ring, mass, r_out)

    sigma = lambda e: 2e-22 * e ** (-8 / 3)
    power_law = (np.array([0.1, 20.0]), sigma(np.array([0.1, 20.0])))
    absorbed = integrate.quad(lambda e: spectrum(e * KEV) * KEV * np.exp(-1e22 * sigma(e)), 0.5, 8.0, epsrel=1e-8)[0]
    assert disc.band_flux(t, 0.5, 8.0, nh=1e22, cross_section=power_law, **view)[0] == pytest.approx(absorbed, rel=1e-5)
    # A linear effective area counts photons: int A(E) F_E / E dE.
    area = np.array([[0.3, 100.0], [2.0, 400.0], [10.0, 50.0]])
    A = lambda e: np.interp(e, area[:, 0], area[:, 1])
    counts = sum(integrate.quad(lambda e: A(e) * spectrum(e * KEV) / e, a, b, epsrel=1e-8)[0] for a, b in [(0.5, 2.0), (2.0, 8.0)])
    assert disc.count_rate(t, 0.5, 8.0, area, **view)[0] == pytest.approx(counts, rel=1e-5)


# ---- refusals, shapes ------------------------------------------------------------------

GOOD = dict(distance=1e22, inclination=10.0)
TABLE = np.array([[0.1, 1e-22], [10.0, 1e-24]])


@pytest.mark.parametrize("call, keyword", [
    (lambda d, t: d.bolometric_flux(t, distance=-1.0, inclination=0.0), "distance"),
    (lambda d, t: d.bolometric_flux(t, distance=0.0, inclination=0.0), "distance"),
    (lambda d, t: d.band_flux(t, 2, 10, distance=1e22, inclination=90.0), "inclination"),
    (lambda d, t: d.flux_density(t, 5e14, distance=1e22, inclination=-5.0), "inclination"),
    (lambda d, t: d.band_flux(t, 10, 2, **GOOD), "e_max"),
    (lambda d, t: d.band_flux(t, 2, 2, **GOOD), "e_max"),
    (lambda d, t: d.band_flux(t, -1, 2, **GOOD), "e_min"),
    (lambda d, t: d.band_flux(t, 2, 10, f_col=0.0, **GOOD), "f_col"),
    (lambda d, t: d.flux_density(t, 5e14, f_col=-1.0, **GOOD), "f_col"),
    (lambda d, t: d.flux_density(t, 0.0, **GOOD), "frequency"),
    (lambda d, t: d.flux_density(t, 5e14, c_irr=-1e-3, **GOOD), "c_irr"),
    (lambda d, t: d.effective_temperature([1e9], t, c_irr=np.nan), "c_irr"),
    (lambda d, t: d.band_flux(t, 2, 10, c_irr=1e300, **GOOD), "c_irr"),  # inf temperatures, a nan flux
    (lambda d, t: d.effective_temperature([1e9], t, c_irr=1.5), "c_irr"),
    (lambda d, t: d.effective_temperature([-1e9], t), "r"),
    (lambda d, t: d.band_flux(t, 2, 10, nh=1e22, **GOOD), "cross_section"),
    (lambda d, t: d.band_flux(t, 2, 10, nh=-1.0, cross_section=TABLE, **GOOD), "nh"),
    (lambda d, t: d.band_flux(t, 2, 20, nh=1e22, cross_section=TABLE, **GOOD), "cross_section"),
    (lambda d, t: d.band_flux(t, 2, 5, nh=1e22, cross_section=TABLE[::-1], **GOOD), "cross_section"),
    (lambda d, t: d.band_flux(t, 2, 5, nh=1e22, cross_section=[[1, 2, 3]], **GOOD), "cross_section"),
    (lambda d, t: d.count_rate(t, 2, 5, [[1.0, 10.0]], **GOOD), "effective_area"),
    (lambda d, t: d.count_rate(t, 2, 5, [[1.0, 10.0], [9.0, -1.0]], **GOOD), "effective_area"),
    (lambda d, t: d.count_rate(t, 2, 5, "area", **GOOD), "effective_area"),
    (lambda d, t: d.bolometric_flux(-t, **GOOD), "t"),
])
def test_refusals_name_the_keyword(call, keyword):
    disc, t = steady7()
    with pytest.raises(velmora.ParameterError) as error:
        call(disc, t)
    assert error.value.parameter == keyword
    assert keyword in str(error.value)


def test_shapes_and_the_inner_edge():
    disc, t = steady7()
    r_ms = 6 * G * 1.3923e34 / C**2
    r = np.array([0.5 * r_ms, 2 * r_ms, 1e9, 5e10])
    T = disc.effective_temperature(r, np.array([t[0], 2 * t[0], 3 * t[0]]))
    assert T.shape == (3, 4) and T[0, 0] == 0.0 and np.all(T[:, 1:] > 0)
    assert isinstance(disc.bolometric_flux(t[0], **GOOD), float)
    assert disc.band_flux(np.full((2, 3), t[0]), 2, 10, **GOOD).shape == (2, 3)
    # Irradiation heats every ring, most the outer ones (T_irr^4 ~ r^-2 against r^-3).
    hot = disc.effective_temperature(r[1:], t, c_irr=1e-3)[0] / T[0, 1:]
    assert np.all(hot > 1) and np.all(np.diff(hot) > 0)


# ---- late in a decay: the band deep in the Wien tail of every ring -------------------

@pytest.mark.parametrize("tau", [2.0, 8.0])
def test_late_band_and_flux_density_against_quadrature_of_the_model_temperature(tau):
    """A decaying outburst long after its peak: 2-10 keV is beyond the Wien peak of even the hottest ring
    (E_min / k f T of 3.7 and 17 at the hottest ring), so the band's light comes from a narrow ring near the
    inner edge and most of the disc is too cool to count; the optical flux density comes from the whole
    disc. The radial integral here is scipy's adaptive quadrature of the colour-corrected Planck function of
    the model's own effective temperature at each radius (the torque summed there directly, not
    interpolated). 1e-10: the interpolated torque is held to 1e-11 and both quadratures to about 1e-12
    (measured: 2e-13 and below)."""
    disc = velmora.Disc.from_file(SOURCE_DIR / "examples" / "outburst_start.par").replace(texp=20.0, mdisk=1e25)
    t = np.array([tau * disc.texp_seconds])
    mass, r_out, f_col = disc.parameters["mass"], disc.parameters["r_out_disk"], 1.7
    view = dict(distance=5 * KPC, inclination=60.0)
    # The model's c (C_MODEL) in 2 E^3 / (h^3 c^2), so that what remains is the radial and spectral rules' error.
    to_flux = 2 * np.pi * np.cos(np.radians(60.0)) / view["distance"] ** 2 * (C / C_MODEL) ** 2
    temperature = lambda r: disc.effective_temperature([r], t)[0, 0]

    def band(r):
        T = f_col * temperature(r)
        if T == 0:
            return 0.0
        x = lambda E: E / (K * T)
        planck = lambda E: 2 * E**3 / (H**3 * C**2) * np.exp(-x(E)) / -np.expm1(-x(E))
        return integrate.quad(planck, 2 * KEV, 10 * KEV, epsabs=0, epsrel=1e-12)[0] / f_col**4

    hottest = max(temperature(r) for r in np.geomspace(1.01, 3.0, 60) * 6 * G * mass / C**2)
    assert 3 < 2 * KEV / (K * f_col * hottest) < 20
    expected = to_flux * disc_integral(band, mass, r_out)
    assert disc.band_flux(t, 2.0, 10.0, f_col=f_col, **view)[0] == pytest.approx(expected, rel=1e-10)

    nu = 5.45e14

    def density(r):
        T = f_col * temperature(r)
        return 0.0 if T == 0 else 2 * H * nu**3 / C**2 / np.expm1(H * nu / (K * T)) / f_col**4

    expected = to_flux * disc_integral(density, mass, r_out)
    assert disc.flux_density(t, nu, f_col=f_col, **view)[0] == pytest.approx(expected, rel=1e-10)


# ---- radio frequencies: the Rayleigh-Jeans limit ----------------------------------------

def test_flux_density_down_to_the_smallest_frequencies_is_the_rayleigh_jeans_limit():
    """Where h nu << k T the colour-corrected intensity is f^-4 2 nu^2 k f T / c^2: the flux density is
    (2 nu^2 k / (c^2 f^3)) cos i / d^2 int T 2 pi r dr, with the model's own temperature integrated
    here. At 1e-300 Hz and below the exponent h nu / k f T underflows to 0 (it gave 0 / 0 = nan): the
    value there is of order 1e-600 of the 1 MHz one, 0 in doubles, and the AB magnitude infinite.
    1e-8: h nu / k f T is below 1e-8 at 1 MHz for every ring of this disc above 1 K, and the
    quadrature's own error is smaller."""
    disc = velmora.Disc.from_file(SOURCE_DIR / "examples" / "outburst_start.par").replace(texp=20.0, mdisk=1e25)
    t = np.array([3.0 * disc.texp_seconds])
    f_col, view = 1.7, dict(distance=5 * KPC, inclination=60.0)
    to_flux = 2 * np.pi * np.cos(np.radians(60.0)) / view["distance"] ** 2 * (C / C_MODEL) ** 2
    temperature = lambda r: disc.effective_temperature([r], t)[0, 0]
    weight = disc_integral(temperature, disc.parameters["mass"], disc.parameters["r_out_disk"])
    for nu in (1e6, 3e7):
        expected = to_flux * 2 * nu**2 * K * weight / (C**2 * f_col**3)
        assert disc.flux_density(t, nu, f_col=f_col, **view)[0] == pytest.approx(expected, rel=1e-8)
    one_megahertz = disc.flux_density(t, 1e6, f_col=f_col, **view)[0]
    for nu in (1e-150, 1e-300, 5e-324):
        value = disc.flux_density(t, nu, f_col=f_col, **view)[0]
        assert 0.0 <= value <= one_megahertz * (nu / 1e6) ** 2 * 1.01
        assert disc.ab_magnitude(t, nu, f_col=f_col, **view)[0] >= disc.ab_magnitude(t, 1e6, f_col=f_col, **view)[0]
