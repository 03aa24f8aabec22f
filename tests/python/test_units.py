"""Units at the package's edge: velmora.constants against astropy's constants and
the model itself, velmora.units' conversions against calendar arithmetic, and
Disc taking quantities and numpy times as the numbers they stand for."""

import datetime
import inspect
import pickle

import numpy as np
import pytest

import velmora
from velmora import constants, units

DAY = 86400.0  # s, calendar arithmetic: 24 * 60 * 60

MODEL = dict(mass=1.989e34, mdisk=1e25, r_out_disk=1e11, l=0.4, r_ign_in=1e-4, r_ign_out=1, sigma_index=-1, texp=30)


@pytest.fixture(scope="module")
def u():
    return pytest.importorskip("astropy.units")


@pytest.fixture(scope="module")
def disc():
    return velmora.Disc(**MODEL)


def test_constants_agree_with_astropy():
    # The values are CODATA 2018 / IAU 2015 ones; astropy's are an independent
    # copy. G and c are the model's own: G of CODATA 2006, 3e-6 from astropy's,
    # c rounded to 7 digits.
    k = pytest.importorskip("astropy.constants")
    astropy_units = pytest.importorskip("astropy.units")
    cases = [(constants.solar_mass, k.M_sun), (constants.parsec, k.pc), (constants.sigma_sb, k.sigma_sb),
             (constants.h_planck, k.h), (constants.k_boltzmann, k.k_B), (constants.proton_mass, k.m_p),
             (constants.thomson_cross_section, k.sigma_T)]
    for ours, theirs in cases:
        assert ours == pytest.approx(theirs.cgs.value, rel=1e-15), theirs.name
    assert constants.keV == pytest.approx((1 * astropy_units.keV).to_value(astropy_units.erg), rel=1e-15)
    assert constants.kpc == pytest.approx(k.kpc.cgs.value, rel=1e-15)
    assert constants.G == pytest.approx(k.G.cgs.value, rel=5e-6)
    assert constants.c == pytest.approx(k.c.cgs.value, rel=2e-7)
    # 4 pi G M m_p c / sigma_T with astropy's constants: 1.2572e38 erg/s per solar mass.
    eddington = (4 * np.pi * k.G * k.M_sun * k.m_p * k.c / k.sigma_T).cgs.value
    assert constants.eddington_luminosity(constants.solar_mass) == pytest.approx(eddington, rel=5e-6)
    np.testing.assert_allclose(constants.eddington_luminosity([1 * constants.solar_mass, 10 * constants.solar_mass]),
                               [eddington, 10 * eddington], rtol=5e-6)


def test_model_computes_with_the_constants_of_the_package(disc):
    # hout = sqrt(G M r_out_disk) and texp (s) = texp (days) * day: the module's
    # model uses the G and the day velmora.constants gives to the tools.
    assert disc.hout ** 2 / (MODEL["mass"] * MODEL["r_out_disk"]) == pytest.approx(constants.G, rel=1e-14)
    assert disc.texp_seconds == pytest.approx(MODEL["texp"] * constants.day, rel=1e-15)
    assert constants.day == DAY


@pytest.mark.parametrize("given, seconds", [
    (np.timedelta64(1, "D"), DAY),
    (np.timedelta64(90, "m"), 5400.0),
    (np.timedelta64(1500, "ms"), 1.5),
    (datetime.timedelta(days=1, seconds=1), DAY + 1),
    (np.array([1, 2, 3], dtype="timedelta64[D]"), [DAY, 2 * DAY, 3 * DAY]),
    ([np.timedelta64(12, "h"), np.timedelta64(2, "D")], [DAY / 2, 2 * DAY]),
])
def test_numpy_and_python_durations_are_seconds(given, seconds):
    np.testing.assert_allclose(units.to_seconds(given), seconds, rtol=1e-15)


def test_plain_numbers_pass_through_unchanged():
    array = np.array([1.0, 2.0])
    for value in (3, 2.5, array, None, "file.txt"):
        assert units.to_seconds(value) is value
        assert units.to_cgs(value, "g") is value


def test_absolute_times_from_a_reference():
    start = np.datetime64("2024-03-01T00:00")
    np.testing.assert_allclose(units.to_seconds(np.datetime64("2024-03-03T06:00"), reference=start), 2.25 * DAY)
    np.testing.assert_allclose(units.to_cgs(np.array(["2024-03-02", "2024-03-11"], dtype="datetime64[D]"), "days",
                                            reference=start), [1, 10])
    np.testing.assert_allclose(units.to_seconds(datetime.datetime(2024, 3, 1, 1), reference=datetime.datetime(2024, 3, 1)),
                               3600.0)


@pytest.mark.filterwarnings("ignore:leap-second file is expired")
def test_astropy_quantities_and_times(u):
    from astropy.time import Time

    assert units.to_seconds(2 * u.day) == pytest.approx(2 * DAY, rel=1e-15)
    np.testing.assert_allclose(units.to_seconds([1 * u.day, 12 * u.hour]), [DAY, DAY / 2], rtol=1e-15)
    assert units.to_cgs(10 * u.Msun, "g") == pytest.approx(10 * constants.solar_mass, rel=1e-15)
    assert units.to_cgs(5 * u.kpc, "cm") == pytest.approx(5 * constants.kpc, rel=1e-15)
    assert units.to_cgs(2 * u.week, "days") == pytest.approx(14, rel=1e-15)
    assert units.to_cgs(1e18 * u.g / u.s, "g/s") == pytest.approx(1e18, rel=1e-15)
    assert units.to_cgs(1 * u.keV, "keV") == 1
    assert units.to_cgs(np.pi / 2 * u.rad, "deg") == pytest.approx(90, rel=1e-15)
    # MJD 60000.5 is 12 h after MJD 60000; a datetime64 reference works with a Time.
    assert units.to_seconds(Time(60000.5, format="mjd"), reference=Time(60000, format="mjd")) == pytest.approx(DAY / 2)
    assert units.to_cgs(Time("2024-03-11"), "days", reference=np.datetime64("2024-03-01")) == pytest.approx(10)


@pytest.mark.parametrize("call, parameter", [
    (lambda: units.to_seconds(np.datetime64("2024-01-01")), "t"),
    (lambda: units.to_seconds(np.array(["2024-01-01"], dtype="datetime64[D]"), parameter="times"), "times"),
    (lambda: units.to_seconds(datetime.datetime(2024, 1, 1)), "t"),
    (lambda: units.to_cgs(np.timedelta64(1, "D"), "g", parameter="mass"), "mass"),
    (lambda: units.to_cgs(datetime.timedelta(days=1), "1", parameter="l"), "l"),
])
def test_times_that_cannot_be_taken_are_refused_by_name(call, parameter):
    with pytest.raises(velmora.ParameterError) as refused:
        call()
    assert refused.value.parameter == parameter
    assert str(refused.value).startswith(parameter + ": ")


def test_quantities_of_another_kind_are_refused_by_name(u):
    from astropy.time import Time

    for call, parameter in [(lambda: units.to_seconds(3 * u.km), "t"),
                            (lambda: units.to_cgs(10 * u.Msun, "cm", parameter="r_out_disk"), "r_out_disk"),
                            (lambda: units.to_seconds(Time("2024-01-01")), "t"),
                            (lambda: velmora.Disc(**{**MODEL, "mass": 3 * u.km}), "mass"),
                            (lambda: velmora.Disc(**{**MODEL, "texp": 3 * u.kg}), "texp")]:
        with pytest.raises(velmora.ParameterError) as refused:
            call()
        assert refused.value.parameter == parameter


def test_disc_reads_numpy_times_as_durations_not_seconds(disc):
    # One day given as a timedelta64 is 86400 s (it was once read as 1 s).
    one_day = disc.mdot(np.timedelta64(1, "D"))
    assert one_day == disc.mdot(DAY)
    days = np.array([1, 3, 10], dtype="timedelta64[D]")
    np.testing.assert_array_equal(disc.accreted_mass(days), disc.accreted_mass(days.astype(float) * DAY))
    np.testing.assert_array_equal(disc.torque(x=[0.2, 0.7], t=days), disc.torque([0.2, 0.7], days.astype(float) * DAY))
    with pytest.raises(velmora.ParameterError) as refused:
        disc.mdot(np.datetime64("2024-01-01"))
    assert refused.value.parameter == "t"


def test_disc_of_quantities_is_the_disc_of_their_numbers(u, disc):
    given = velmora.Disc(mass=10 * u.Msun, mdisk=1e22 * u.kg, r_out_disk=1e6 * u.km, l=0.4, r_ign_in=1e7 * u.cm,
                         r_ign_out=1 * u.dimensionless_unscaled, sigma_index=-1, texp=30 * u.day)
    plain = velmora.Disc(mass=10 * constants.solar_mass, mdisk=1e25, r_out_disk=1e11, l=0.4, r_ign_in=1e-4,
                         r_ign_out=1, sigma_index=-1, texp=30)
    for key, value in plain.parameters.items():
        assert given.parameters[key] == pytest.approx(value, rel=1e-15), key
    t = np.array([1.0, 10.0, 100.0])
    np.testing.assert_allclose(given.mdot(t * u.day), plain.mdot(t * DAY), rtol=1e-14)
    np.testing.assert_allclose(given.surface_density(r=[1e4, 1e5] * u.km, t=2 * u.day),
                               plain.surface_density([1e9, 1e10], 2 * DAY), rtol=1e-14)
    # replace converts too, r_ign_in by the r_out_disk in force
    changed = disc.replace(texp=2 * u.week, r_ign_in=1e8 * u.cm)
    assert changed.parameters["texp"] == pytest.approx(14, rel=1e-15)
    assert changed.parameters["r_ign_in"] == pytest.approx(1e-3, rel=1e-15)
    again = pickle.loads(pickle.dumps(given))
    assert again.mdot(DAY) == given.mdot(DAY)
    with pytest.raises(velmora.ParameterError) as refused:
        disc.mdot(1 * u.km)
    assert refused.value.parameter == "t"


def test_every_public_method_of_disc_converts_units():
    # A method the compiled module gains later is wrapped by the same rule.
    methods = [name for name, member in vars(velmora.Disc).items()
               if not name.startswith("_") and callable(member) and not isinstance(member, staticmethod)]
    assert {"mdot", "torque", "replace"} <= set(methods)
    unwrapped = [name for name in methods if not getattr(getattr(velmora.Disc, name), "_velmora_units", False)]
    assert unwrapped == []


class _Observed:
    """A method as the compiled module declares one (pybind11's signature line), recording what it is handed."""

    def band_flux(self, t, e_min, e_max, effective_area=None, *, distance, inclination, f_col=1.7):
        return dict(t=t, e_min=e_min, e_max=e_max, effective_area=effective_area, distance=distance,
                    inclination=inclination, f_col=f_col)

    band_flux.__doc__ = ("band_flux(self: velmora._velmora.Disc, t: numpy.ndarray[numpy.float64], e_min: float, "
                         "e_max: float, effective_area: object = None, *, distance: float, inclination: float, "
                         "f_col: float = 1.7) -> object\n\nThe flux in a band.")


def test_a_method_the_module_gains_converts_its_arguments_by_name(u):
    from velmora import _disc

    method = _disc._wrap_method("band_flux", _Observed.band_flux)
    got = method(None, 2 * u.day, 2000 * u.eV, 1.6e-8 * u.erg, ([1, 10] * u.keV, [1, 2] * u.m ** 2),
                 distance=5 * u.kpc, inclination=np.pi / 3 * u.rad, f_col=1.7 * u.one)
    assert got["t"] == pytest.approx(2 * DAY, rel=1e-15)
    assert got["e_min"] == pytest.approx(2.0, rel=1e-15)
    assert got["e_max"] == pytest.approx(1.6e-8 / constants.keV, rel=1e-15)  # 9.99 keV
    np.testing.assert_allclose(got["effective_area"][0], [1, 10], rtol=1e-15)
    np.testing.assert_allclose(got["effective_area"][1], [1e4, 2e4], rtol=1e-15)
    assert got["distance"] == pytest.approx(5 * constants.kpc, rel=1e-15)
    assert got["inclination"] == pytest.approx(60, rel=1e-14)
    assert got["f_col"] == pytest.approx(1.7)
    plain = method(None, 1.0, 2.0, 3.0, distance=4.0, inclination=5.0)
    assert plain == dict(t=1.0, e_min=2.0, e_max=3.0, effective_area=None, distance=4.0, inclination=5.0, f_col=1.7)
    assert list(inspect.signature(method).parameters) == ["self", "t", "e_min", "e_max", "effective_area", "distance",
                                                          "inclination", "f_col"]
    for bad, parameter in [(dict(distance=5 * u.s), "distance"), (dict(distance=1.0, e_max=np.timedelta64(1, "D")),
                                                                   "e_max")]:
        arguments = dict(t=1.0, e_min=1.0, e_max=2.0, distance=1.0, inclination=0.0)
        arguments.update(bad)
        with pytest.raises(velmora.ParameterError) as refused:
            method(None, **arguments)
        assert refused.value.parameter == parameter
