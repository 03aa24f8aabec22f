"""Reproducers of the module's defects under hostile arguments: each now a
Python exception naming the parameter, or the sound behaviour."""

import inspect
import os
import pathlib
import signal
import subprocess
import sys
import time
import pickle

import numpy as np
import pytest

import velmora

SOURCE_DIR = pathlib.Path(os.environ.get("VELMORA_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
DEFAULT_PAR = SOURCE_DIR / "examples" / "default.par"


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_every_pickle_protocol_gives_the_same_model(protocol):
    disc = velmora.Disc.from_file(DEFAULT_PAR).replace(mdisk=3e24)
    copy = pickle.loads(pickle.dumps(disc, protocol))
    t = disc.output_times()
    assert copy.parameters == disc.parameters and copy.run_settings == disc.run_settings
    assert copy.mdot(t).tolist() == disc.mdot(t).tolist()


# (call, exception type, the parameter named at the start of the message)
WRONG_ARGUMENTS = [
    (lambda d: velmora.Disc(mass="1e25"), TypeError, "mass"),
    (lambda d: d.replace(texp="20"), TypeError, "texp"),
    (lambda d: d.replace(l=[0.4]), TypeError, "l"),
    (lambda d: d.replace(flag_outer=1.5), TypeError, "flag_outer"),
    (lambda d: d.replace(flag_outer=2**40), velmora.ParameterError, "flag_outer"),
    (lambda d: velmora.Disc.from_file(None), TypeError, "path"),
    (lambda d: velmora.Disc.from_file(3.5), TypeError, "path"),
    (lambda d: velmora.Disc.from_file(str(DEFAULT_PAR) + "\0.txt"), velmora.ParameterError, "path"),
    (lambda d: d.replace(flag_outer=2, supply_file="table\0.txt"), velmora.ParameterError, "supply_file"),
    # A table in a mode without one is refused for the mode before the file is opened, as the program does
    # (it was "cannot be opened" for a missing file, a NUL-byte refusal for /dev/zero).
    (lambda d: d.replace(supply_file="/nonexistent/table.txt"), velmora.ParameterError, "supply_file = "
     "/nonexistent/table.txt needs flag_outer = 2"),
    (lambda d: velmora.Disc(**dict(d.parameters, flag_outer=1, supply_file="/dev/zero")), velmora.ParameterError,
     "supply_file = /dev/zero needs flag_outer = 2"),
]


@pytest.mark.parametrize("call,error,parameter", WRONG_ARGUMENTS, ids=[f"{e.__name__}-{p}-{i}" for i, (_, e, p) in
                                                                      enumerate(WRONG_ARGUMENTS)])
def test_wrong_arguments_name_the_parameter(call, error, parameter):
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    with pytest.raises(error) as caught:
        call(disc)
    assert str(caught.value).startswith(parameter + (": " if error is TypeError else "")), str(caught.value)


# Method arguments that numpy would turn into numbers silently (None into nan, text into its number,
# True into 1 s, a complex number into its real part, a masked time into its hidden value), or that
# reached the compiled signature's generic message: (call, exception type, argument named first).
SHAPE = dict(distance=3e22, inclination=30.0)
CARELESS_ARGUMENTS = [
    (lambda d: d.mdot(None), TypeError, "t"),
    (lambda d: d.mdot("1e6"), TypeError, "t"),
    (lambda d: d.mdot(np.array(["1e6", "2e6"])), TypeError, "t"),
    (lambda d: d.mdot(b"1e6"), TypeError, "t"),
    (lambda d: d.mdot([1e6, None]), TypeError, "t"),
    (lambda d: d.mdot([1e6, "2e6"]), TypeError, "t"),
    (lambda d: d.mdot([[1e6], [1e6, 2e6]]), TypeError, "t"),
    (lambda d: d.mdot(np.array([1e6]) > 0), TypeError, "t"),
    (lambda d: d.mdot(np.array([1e6 + 1e3j])), TypeError, "t"),
    (lambda d: d.mdot(np.ma.array([1e6, -999.0], mask=[False, True])), TypeError, "t"),
    (lambda d: d.disc_mass(np.timedelta64(1, "Y")), velmora.ParameterError, "t"),
    (lambda d: d.disc_mass(np.array([1, 2], dtype="timedelta64[M]")), velmora.ParameterError, "t"),
    (lambda d: d.disc_mass(np.timedelta64(5)), velmora.ParameterError, "t"),
    (lambda d: d.disc_mass([np.timedelta64(1, "D"), 2e5]), velmora.ParameterError, "t"),
    (lambda d: d.replace(texp=np.timedelta64(1, "Y")), velmora.ParameterError, "texp"),
    (lambda d: d.torque([0.5, None], 1e6), TypeError, "x"),
    (lambda d: d.surface_density("1e9", 1e6), TypeError, "r"),
    (lambda d: d.band_flux(1e6, 2.0, 10.0, distance=None, inclination=30.0), TypeError, "distance"),
    (lambda d: d.band_flux(1e6, "2", 10.0, **SHAPE), TypeError, "e_min"),
    (lambda d: d.band_flux(1e6, 2.0, 10.0, distance=np.array([3e22, 3e23]), inclination=30.0), TypeError,
     "distance"),
    (lambda d: d.band_flux(1e6, 2.0, 10.0, distance=3e22, inclination=np.array([30.0])), TypeError, "inclination"),
    (lambda d: d.flux_density(1e6, None, **SHAPE), TypeError, "frequency"),
    (lambda d: d.ab_magnitude(1e6, 5e14 + 0j, **SHAPE), TypeError, "frequency"),
    (lambda d: d.effective_temperature([1e9], [1e6], c_irr="0.1"), TypeError, "c_irr"),
    (lambda d: d.replace(mass=np.array([2e34])), TypeError, "mass"),
]


@pytest.mark.parametrize("call,error,parameter", CARELESS_ARGUMENTS,
                         ids=[f"{e.__name__}-{p}-{i}" for i, (_, e, p) in enumerate(CARELESS_ARGUMENTS)])
def test_careless_method_arguments_name_the_argument(call, error, parameter):
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    with pytest.raises(error) as caught:
        call(disc)
    assert str(caught.value).startswith(parameter + ": "), str(caught.value)


def test_what_numpy_takes_as_numbers_still_gives_the_rate_of_those_numbers():
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    seconds = [1e6, 2e6, 4e6]
    expected = disc.mdot(np.array(seconds, dtype=float))
    for same in (seconds, tuple(seconds), np.array(seconds, dtype=np.int64), np.array(seconds, dtype=object),
                 np.ma.array(seconds), np.array([1e6, 9.0, 2e6, 9.0, 4e6])[::2],
                 np.array([int(v) for v in seconds], dtype="timedelta64[s]")):
        assert disc.mdot(same).tolist() == expected.tolist(), repr(same)
    assert disc.band_flux(1e6, np.float32(2.0), np.int64(10), distance=np.float64(3e22), inclination=np.array(30.0)) \
        == disc.band_flux(1e6, 2.0, 10.0, **SHAPE)
    assert isinstance(disc.modes_needed(1e6), int) and disc.modes_needed([1e6]).shape == (1,)


def test_a_table_given_as_a_list_of_two_rows_is_read_as_rows():
    # [[e1, a1], [e2, a2]] was taken for the pair (energies [e1, a1], areas [e2, a2]): with rows
    # (0.5 keV, 100 cm^2) and (20 keV, 300 cm^2) that is a table from 0.5 to 100 keV of 20 and 300
    # cm^2, which covers the band too, and a count rate several times too small came back.
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    rows = [[0.5, 100.0], [20.0, 300.0]]
    expected = disc.count_rate([1e6, 1e7], 2.0, 10.0, np.array(rows), **SHAPE)
    assert disc.count_rate([1e6, 1e7], 2.0, 10.0, rows, **SHAPE).tolist() == expected.tolist()
    pair = ([0.5, 20.0], [100.0, 300.0])  # a tuple of two is the pair (energies, values)
    assert disc.count_rate([1e6, 1e7], 2.0, 10.0, pair, **SHAPE).tolist() == expected.tolist()
    sigma = [[0.1, 1e-21], [100.0, 1e-25]]
    assert disc.band_flux(1e6, 2.0, 10.0, nh=1e22, cross_section=sigma, **SHAPE) == \
        disc.band_flux(1e6, 2.0, 10.0, nh=1e22, cross_section=np.array(sigma), **SHAPE)


# Calls of the observables as a first try writes them: (call, what the message must say).
T = np.geomspace(1, 100, 50) * 86400.0
MISCALLS = [
    (lambda d: d.band_flux(T, 2.0, 10.0), "band_flux(): missing a required argument: 'distance' (distance: "
                                           "distance to the source, cm)"),
    (lambda d: d.band_flux(T, 2.0, 10.0, distance=1.5e22), "missing a required argument: 'inclination'"),
    (lambda d: d.bolometric_flux(T, 1.5e22, 60.0), "bolometric_flux(): too many positional arguments"),
    (lambda d: d.flux_density(T, 5.45e14, distance=1.5e22, inclination=60, colour=1.7),
     "flux_density(): got an unexpected keyword argument 'colour'"),
]


@pytest.mark.parametrize("call,says", MISCALLS, ids=["no-distance", "no-inclination", "positional", "unknown"])
def test_a_miscalled_observable_says_what_is_wrong_and_how_to_call_it(call, says):
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    with pytest.raises(TypeError) as caught:
        call(disc)
    text = str(caught.value)
    assert says in text
    name = text.split("(", 1)[0]
    signature = inspect.signature(getattr(velmora.Disc, name))  # the documented one, with self
    how = f"call it as {name}{signature}".replace("(self, ", "(")
    assert how in text and ", *, distance, inclination" in how
    # The values are not dumped: pybind11's own message lists every time of the array.
    assert len(text) < 400 and "86400" not in text


def test_numpy_scalars_are_numbers():
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    same = disc.replace(mass=np.float64(disc.parameters["mass"]), flag_outer=np.int64(0))
    assert same.mdot(1e6) == disc.mdot(1e6)


def test_paths_that_are_not_utf8_and_directories(tmp_path):
    folder = os.fsencode(tmp_path) + b"/caf\xe9"
    os.mkdir(folder)
    par = folder + b"/model.par"
    with open(par, "wb") as f:
        f.write(DEFAULT_PAR.read_bytes())
    for path in (par, os.fsdecode(par)):
        assert velmora.Disc.from_file(path).parameters == velmora.Disc.from_file(DEFAULT_PAR).parameters
    with pytest.raises(IsADirectoryError):
        velmora.Disc.from_file(folder)


# ---- a pickle carries its supply table's rows --------------------------------------

def tabled_disc(table):
    return velmora.Disc.from_file(DEFAULT_PAR).replace(flag_outer=2, supply_file=table)


def test_an_unpickled_model_keeps_its_table_whatever_became_of_the_file(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    pathlib.Path("supply.txt").write_text("0 1e17\n20 3e17\n45 5e16\n")
    disc = tabled_disc("supply.txt")  # a relative name, as a parameter file gives one
    t = np.geomspace(1e5, 1e8, 9)
    expected = disc.mdot(t).tolist()
    pickled = [pickle.dumps(disc, protocol) for protocol in range(pickle.HIGHEST_PROTOCOL + 1)]
    pathlib.Path("supply.txt").write_text("0 1e19\n10 2e19\n")  # changed after pickling
    assert tabled_disc("supply.txt").mdot(t).tolist() != expected  # the file now gives another model
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    monkeypatch.chdir(elsewhere)  # where supply.txt names no file at all
    for data in pickled:
        copy = pickle.loads(data)
        assert copy.mdot(t).tolist() == expected
        assert copy.parameters["supply_file"] == "supply.txt"


def test_a_pickle_of_the_earlier_state_reads_its_table_by_its_path(tmp_path):
    table = tmp_path / "supply.txt"
    table.write_text("0 1e17\n20 3e17\n")
    disc = tabled_disc(table)
    earlier = velmora.Disc.__new__(velmora.Disc)
    earlier.__setstate__((disc.parameters, None))  # what a pickle of the last version holds
    assert earlier.mdot(2e6) == disc.mdot(2e6)


@pytest.mark.parametrize("state", [
    (),
    ("mass", None, None),
    ({}, None, (b"t.txt", np.array([0.0, 1.0]), "rates")),
    ({}, None, (b"t.txt", np.array([0.0, 1.0]), np.array([1e17]))),  # columns of different lengths
    ({}, ("a",) * 7, None),  # run settings that are not numbers (a RuntimeError of pybind11's cast)
    ({}, "abcdefg", None),
])
def test_a_damaged_state_is_refused_with_a_python_exception(state):
    disc = velmora.Disc.__new__(velmora.Disc)
    with pytest.raises(ValueError):
        disc.__setstate__(state)


# Every way into an instance that Disc.__new__ made without __init__ (or a subclass whose __init__
# skips Disc's): pybind11 handed the methods uninitialised memory (mdot crashed the interpreter,
# parameters aborted it, texp_seconds read garbage). Run in a child, where a crash is a status.
NEVER_CONSTRUCTED = ["mdot(1e6)", "torque(0.5, 1e6)", "band_flux(1e6, 2, 10, distance=1e22, inclination=3)",
                     "parameters", "run_settings", "texp_seconds", "initial_mass", "replace(mass=1.0)",
                     "modes_needed(1e6)", "output_times()", "__getstate__()", "__reduce__()"]


def test_an_instance_never_constructed_raises_instead_of_reading_memory():
    code = ("import velmora\n"
            "disc = velmora.Disc.__new__(velmora.Disc)\n"
            f"for access in {NEVER_CONSTRUCTED!r}:\n"
            "    try:\n"
            "        eval('disc.' + access)\n"
            "    except TypeError as e:\n"
            "        print(access, 'never constructed' in str(e), flush=True)\n"
            "    else:\n"
            "        print(access, 'answered', flush=True)\n"
            "print(repr(disc))\n")
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert child.returncode == 0, child.stdout + child.stderr
    assert child.stdout.splitlines() == [f"{a} True" for a in NEVER_CONSTRUCTED] + ["<velmora.Disc, not constructed>"]


# ---- invisible characters are shown in messages --------------------------------------

@pytest.mark.parametrize("invisible,shown", [("\ufeff", "\\ufeff"), ("\u200b", "\\u200b"), ("\u00a0", "\\xa0")])
def test_an_invisible_character_in_a_quoted_value_is_shown(tmp_path, invisible, shown):
    par = tmp_path / "model.par"
    par.write_text(DEFAULT_PAR.read_text().replace("1.989e34", invisible + "1.989e34"), encoding="utf-8")
    with pytest.warns(velmora.ParameterFileWarning) as caught:
        velmora.read_parameter_file(par)
    messages = [str(w.message) for w in caught]
    assert any(f"'{shown}1.989e34'" in m for m in messages), messages
    assert not any(invisible in m for m in messages)


# ---- Ctrl-C ------------------------------------------------------------------------

# Evaluations of many times or points: about 10 s each on an idle machine.
LONG_EVALUATIONS = [
    "disc.mdot(np.geomspace(1e2, 1e8, 8_000_000))",
    "disc.torque(np.linspace(0, 1, 1000), np.geomspace(1e4, 1e8, 20_000))",
    "disc.band_flux(np.geomspace(1e5, 1e8, 200_000), 2.0, 10.0, distance=3e22, inclination=30.0)",
]


@pytest.mark.parametrize("evaluation", LONG_EVALUATIONS)
def test_ctrl_c_interrupts_a_long_evaluation(evaluation):
    code = ("import sys, time, numpy as np, velmora\n"
            "disc = velmora.Disc(mass=1.989e34, mdisk=1e25, r_out_disk=1e11, l=0.4567, r_ign_in=1e-4,\n"
            "                    r_ign_out=1, sigma_index=-1, texp=30)\n"
            "print('ready', flush=True)\n"
            "start = time.monotonic()\n"
            "try:\n"
            f"    {evaluation}\n"
            "except KeyboardInterrupt:\n"
            "    print('interrupted', time.monotonic(), flush=True)\n"
            "else:\n"
            "    print('finished', time.monotonic() - start, flush=True)\n")
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "ready\n"
        time.sleep(1.0)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        answer = child.stdout.readline().split()
        child.wait(timeout=60)
    finally:
        child.kill()
    assert answer[0] == "interrupted", f"not interrupted: {answer}"
    # CLOCK_MONOTONIC is one clock for both processes. Signals are checked once
    # an evaluation has run 0.5 s, then every 0.1 s; 2 s leaves room for a
    # loaded machine (without the checks the evaluation runs on for about 10 s).
    assert float(answer[1]) - sent < 2.0


def test_blocks_of_an_evaluation_give_the_values_of_one_call():
    disc = velmora.Disc.from_file(DEFAULT_PAR).replace(flag_outer=2)
    t = np.geomspace(1e4, 3e8, 5000)  # more times than one block of the grid holds
    x = np.linspace(0.0, 1.0, 3)
    # Times one at a time (each a block of its own) against all at once (many blocks).
    sample = t[::97]
    assert disc.mdot(t)[::97].tolist() == [disc.mdot(v) for v in sample]
    assert disc.torque(x, t)[::97].tolist() == [disc.torque(x, v).tolist() for v in sample]
    r = np.geomspace(1e8, 1e11, 3000)  # more radii than one block holds for these times
    few = t[::1000]
    assert disc.surface_density(r, few).tolist() == [disc.surface_density(r, v).tolist() for v in few]
    assert disc.effective_temperature(r, few).tolist() == [disc.effective_temperature(r, v).tolist() for v in few]


# ---- times near the smallest doubles ---------------------------------------------------

def test_the_centre_rate_down_to_subnormal_times():
    """With the initial matter away from the centre (r_ign_in > 0) nothing has arrived by exp(-x_in^2 / c),
    c = 4 t / (texp z_0^2) about 1e-316 at t = 1e-310 s: 0 (it was inf - inf = nan). With the matter
    reaching the centre (r_ign_in = 0) the disc without an edge gives a power law in t at early times: the
    decade from 1e-310 to 1e-300 s scales as the one from 1e-300 to 1e-290 s; 1e-7 because c is a
    subnormal double there (a relative spacing of about 1e-8). Below about 1e-318 texp the time itself
    underflows once divided by texp: a SolutionError naming t, not a nan."""
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    assert disc.parameters["r_ign_in"] > 0
    assert disc.mdot([1e-310, 1e-300]).tolist() == [0.0, 0.0]
    touching = disc.replace(r_ign_in=0.0)
    early = touching.mdot([1e-310, 1e-300, 1e-290])
    assert np.all(np.isfinite(early)) and np.all(early > 0)
    assert early[0] / early[1] == pytest.approx(early[1] / early[2], rel=1e-7)
    for t in (1e-320, 5e-324):
        with pytest.raises(velmora.SolutionError, match=r"^the solution at t = .* underflows to 0"):
            touching.mdot(t)
