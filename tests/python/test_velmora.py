"""Tests of the Python module velmora: the rates against the reference
solutions, the refusals against the program's, threads and the GIL, and
the shapes and conventions of the bindings.

Run from CTest with PYTHONPATH at the build's python folder; VELMORA_BINARY
and VELMORA_SOURCE_DIR name the built program and the source tree.
"""

import csv
import os
import pathlib
import pickle
import subprocess
import tempfile
import threading
import time

import numpy as np
import pytest

import velmora
from velmora._program import program_path

SOURCE_DIR = pathlib.Path(os.environ.get("VELMORA_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
# The program: CTest's, else the one installed with the package (pip), else the build's.
BINARY = os.environ.get("VELMORA_BINARY") or program_path() or str(SOURCE_DIR / "build" / "velmora")
REFERENCE_DIR = SOURCE_DIR / "tests" / "exact" / "reference"
DEFAULT_PAR = SOURCE_DIR / "examples" / "default.par"

# The reference rates: two independent solutions that agree to 2e-7; rates
# below 1e-6 of a model's peak are zero to that precision.
REFERENCE_TOLERANCE = 1e-6


def reference_rates():
    with open(REFERENCE_DIR / "rates.tsv") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    models = {}
    for row in rows:
        models.setdefault(row["model"], []).append((float(row["t_s"]), float(row["Mdot_centre"])))
    return models


@pytest.mark.skipif(not (REFERENCE_DIR / "rates.tsv").exists(), reason="no reference rates in tests/exact/reference")
def test_rates_match_the_reference_solutions():
    for model, rows in sorted(reference_rates().items()):
        disc = velmora.Disc.from_file(REFERENCE_DIR / (model + ".par"))
        t = np.array([r[0] for r in rows])
        expected = np.array([r[1] for r in rows])
        # The times in any order: reversed, the rates come back reversed.
        rate = disc.mdot(t[::-1])[::-1]
        floor = REFERENCE_TOLERANCE * np.max(np.abs(expected))
        np.testing.assert_array_less(np.abs(rate - expected), REFERENCE_TOLERANCE * np.abs(expected) + floor,
                                     err_msg=model)


PROBE = os.environ.get("VELMORA_COLUMN5_PROBE", str(SOURCE_DIR / "build" / "tests" / "column5_probe"))
MODEL_FILES = sorted((SOURCE_DIR / "examples").glob("*.par")) + sorted(REFERENCE_DIR.glob("r*.par"))


@pytest.mark.skipif(not os.path.exists(PROBE), reason="the column-5 probe is built by CMake (CTest runs this test)")
@pytest.mark.parametrize("par", MODEL_FILES, ids=[p.name for p in MODEL_FILES])
def test_rate_equals_the_programs_column_5(par):
    """The module against the program's set-up and column 5, printed to 17 digits by the probe."""
    probe = subprocess.run([PROBE, str(par)], capture_output=True, text=True, timeout=60)
    assert probe.returncode == 0, probe.stdout + probe.stderr
    expected = np.array([[float(v) for v in line.split()[1:]] for line in probe.stdout.splitlines()
                         if line.startswith("column5\t")]).reshape(-1, 2)
    disc = velmora.Disc.from_file(par)
    t = disc.output_times()
    assert len(t) == len(expected) == disc.run_settings["NUM_TIME"]
    np.testing.assert_allclose(t, expected[:, 0], rtol=1e-15)
    # The same reader and the same core: apart from the rounding of a
    # different order of evaluation, the same numbers.
    np.testing.assert_allclose(disc.mdot(t), expected[:, 1], rtol=1e-12, atol=0)


def test_rate_equals_the_data_files_column_5():
    """The program's own file, whose %e keeps 7 significant digits (half a unit of the 7th: 5e-7)."""
    par = SOURCE_DIR / "examples" / "supply_law.par"
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([BINARY, str(par)], cwd=folder, stdin=subprocess.DEVNULL, capture_output=True, check=True,
                       timeout=120)
        rows = np.loadtxt(pathlib.Path(folder) / "mdotin_supply_law.dat", comments="#")
    disc = velmora.Disc.from_file(par)
    np.testing.assert_allclose(disc.output_times(), rows[:, 1], rtol=5e-7)
    np.testing.assert_allclose(disc.mdot(disc.output_times()), rows[:, 4], rtol=5e-7)


def write_par(folder, entries):
    path = pathlib.Path(folder) / "model.par"
    path.write_text(entries)
    return path


def default_entries(**changes):
    """The default model's entries with some values replaced (or added)."""
    lines = []
    seen = set()
    for line in DEFAULT_PAR.read_text().splitlines():
        words = line.split()
        if len(words) >= 3 and words[1] == "#" and words[2] in changes:
            line = f"{changes[words[2]]} # {words[2]}"
            seen.add(words[2])
        lines.append(line)
    lines += [f"{value} # {key}" for key, value in changes.items() if key not in seen]
    return "\n".join(lines) + "\n"


# Each model the program's set-up refuses (exit status 3, the message naming
# the keyword): the file's entries, a word of the program's message, and the
# keyword the module's error names. A model refusal ("Invalid model: ...")
# reads the same in the module, word for word; a derived constant out of
# range is blamed on the quantity given.
REFUSALS = [
    ("long token", default_entries(name="n" * 700), "token longer", None),
    ("integer out of range", default_entries(NUM_TIME="99999999999"), "NUM_TIME", "NUM_TIME"),
    ("unknown supply mode", default_entries(flag_outer=3), "flag_outer", "flag_outer"),
    ("no mass", default_entries(mass=0), "mass", "mass"),
    ("no radius", default_entries(r_out_disk=0), "r_out_disk", "r_out_disk"),
    ("negative viscous time", default_entries(texp=-30), "texp", "texp"),
    ("neither texp nor kappa", default_entries(texp=0, kappa=0), "texp", "kappa"),
    ("nu0 overflows", default_entries(r_out_disk="1e300", l=0.25), "r_out_disk = 1.0000000000000001e+300 is out of range", "r_out_disk"),
    ("kappa underflows", default_entries(mass="1e300", l=0.25), "mass = 1.0000000000000001e+300 is out of range", "mass"),
    ("kappa underflows at a heavier mass", default_entries(mass="1e308"), "mass = 1e+308 is out of range", "mass"),
    ("nu0 overflows at a larger radius", default_entries(r_out_disk="1e308"), "r_out_disk = 1e+308 is out of range",
     "r_out_disk"),
    ("initial torque of a steep density", default_entries(sigma_index="1e308"), "sigma_index = 1e+308 is out of range",
     "sigma_index"),
    ("initial torque of a heavy disc", default_entries(mdisk="1e300"), "mdisk = 1.0000000000000001e+300 is out of range",
     "mdisk"),
    ("supply rate beyond any table", default_entries(flag_outer=1, mdot_out="1e308"), "mdot_out = 1e+308 g/s is above",
     "mdot_out"),
    ("texp from a kappa too small", default_entries(texp=0, kappa="1e-200"), "kappa = 9.9999999999999998e-201 is out of range", "kappa"),
    ("first time 0", default_entries(MIN_TIME=0), "MIN_TIME", "MIN_TIME"),
    ("one time, at -1", default_entries(MIN_TIME=-1, NUM_TIME=1), "MIN_TIME", "MIN_TIME"),
    ("last time negative", default_entries(MAX_TIME=-1), "MAX_TIME", "MAX_TIME"),
    ("first time beyond a double in s", default_entries(MIN_TIME="1e306"), "MIN_TIME", "MIN_TIME"),
    ("density not normalisable", default_entries(sigma_index=-2), "sigma_index", "sigma_index"),
    ("negative disc mass", default_entries(mdisk="-1e25"), "mdisk", "mdisk"),
    ("empty ignition zone", default_entries(r_ign_in=0.5, r_ign_out=0.5), "r_ign_out", "r_ign_out"),
    ("supply rate not a number", default_entries(flag_outer=1, mdot_out="nan"), "mdot_out", "mdot_out"),
    ("supply table missing", default_entries(flag_outer=2, supply_file="missing.txt"), "supply_file", "supply_file"),
    ("supply table outside mode 2", default_entries(supply_file="missing.txt"), "supply_file", "supply_file"),
    ("initial torque overflows", default_entries(mdisk="1e308", texp="1e-10"), "mdisk = 1e+308 is out of range", "mdisk"),
]


@pytest.mark.parametrize("entries,program_word,parameter", [r[1:] for r in REFUSALS], ids=[r[0] for r in REFUSALS])
def test_every_refusal_of_the_program_raises_a_value_error_naming_the_parameter(entries, program_word, parameter):
    with tempfile.TemporaryDirectory() as folder:
        par = write_par(folder, entries)
        run = subprocess.run([BINARY, str(par)], cwd=folder, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             timeout=60)
        assert run.returncode == 3, run.stdout + run.stderr
        assert program_word in run.stdout
        with pytest.raises(ValueError) as error:
            velmora.Disc.from_file(par)
        assert isinstance(error.value, velmora.ParameterError)
        assert error.value.parameter == parameter
        if parameter is not None:
            assert parameter in str(error.value)
        model_refusal = [line for line in run.stdout.splitlines() if line.startswith("Invalid model: ")]
        if model_refusal:
            assert str(error.value) == model_refusal[0][len("Invalid model: "):]


# Quantities whose own values are finite but whose model overflows: the
# constructor refuses them in the program's words, naming the quantity given.
OVERFLOWS = [dict(mdisk=1e300), dict(flag_outer=1, mdot_out=1e308), dict(mass=1e308), dict(r_out_disk=1e308),
             dict(sigma_index=1e308)]


@pytest.mark.parametrize("changes", OVERFLOWS, ids=[next(reversed(c)) for c in OVERFLOWS])
def test_the_constructor_refuses_an_overflow_in_the_words_of_the_program(changes):
    prefix = "verdict: refused (status 3): Invalid model: "
    with tempfile.TemporaryDirectory() as folder:
        par = write_par(folder, default_entries(**changes))
        check = subprocess.run([BINARY, "--check", str(par)], cwd=folder, stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=60)
    assert check.returncode == 3, check.stdout
    verdict = check.stdout.splitlines()[-1]
    assert verdict.startswith(prefix), verdict
    given = next(reversed(changes))
    with pytest.raises(velmora.ParameterError) as error:
        velmora.Disc(**{**velmora.Disc.from_file(DEFAULT_PAR).parameters, **changes})
    assert error.value.parameter == given
    assert str(error.value) == verdict[len(prefix):]


def test_arguments_are_refused_with_their_name():
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    cases = [
        (lambda: velmora.Disc(**{**disc.parameters, "l": 12}), "l"),
        (lambda: disc.replace(r_ign_out=1e-5), "r_ign_out"),
        (lambda: disc.replace(flag_outer=1, mdot_out=-1), "mdot_out"),
        (lambda: disc.replace(supply_file="/nonexistent/table"), "supply_file"),
        (lambda: disc.mdot([1e6, 0.0]), "t"),
        (lambda: disc.mdot(np.nan), "t"),
        (lambda: disc.torque([0.5, 1.5], 1e6), "x"),
        (lambda: disc.surface_density([2e11], 1e6), "r"),
    ]
    for call, parameter in cases:
        with pytest.raises(ValueError) as error:
            call()
        assert error.value.parameter == parameter, str(error.value)
    with pytest.raises(TypeError):
        disc.replace(colour=1)
    with pytest.raises(OSError):
        velmora.Disc.from_file("/nonexistent/model.par")


def test_shapes_and_conventions():
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    t = disc.output_times()
    # The program's output times: NUM_TIME from MIN_TIME to MAX_TIME texp.
    assert len(t) == 8
    assert t[0] == pytest.approx(0.3 * 30 * 86400, rel=1e-15)
    assert t[-1] == pytest.approx(3 * 30 * 86400, rel=1e-15)
    rates = disc.mdot(t)
    assert isinstance(disc.mdot(t[0]), float) and disc.mdot(t[0]) == rates[0]
    assert disc.mdot(list(t)).tolist() == rates.tolist()
    assert disc.mdot(t.reshape(2, 4)).shape == (2, 4)
    assert disc.mdot(t.astype(np.float32)).shape == (8,)
    x = np.linspace(0.0, 1.0, 5)
    F = disc.torque(x, t)
    assert F.shape == (8, 5)
    assert disc.torque(x, t[3]).tolist() == F[3].tolist()
    assert disc.surface_density(np.array([1e9, 1e10]), t).shape == (8, 2)
    # The fit through the torque's series: within a few per mille of the centre rate for l = 0.4.
    np.testing.assert_allclose(disc.mdot_fit(t), rates, rtol=5e-3)


def test_replace_shares_work_and_obeys_the_scaling_of_the_solution():
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    t = disc.output_times()
    # Mdot = (mdisk / texp) f(t / texp) at fixed shape: the scaling of the diffusion equation.
    scaled = disc.replace(texp=3 * 30.0, mdisk=2e25)
    np.testing.assert_allclose(scaled.mdot(3 * t), (2 / 3) * disc.mdot(t), rtol=1e-13)
    # A replaced model is the model built afresh from the same parameters.
    changed = disc.replace(texp=20.0, r_ign_in=0.1)
    fresh = velmora.Disc(**{**disc.parameters, "texp": 20.0, "r_ign_in": 0.1})
    np.testing.assert_allclose(changed.mdot(t), fresh.mdot(t), rtol=1e-13)
    assert changed.parameters["texp"] == 20.0 and disc.parameters["texp"] == 30.0


def test_a_supply_table_of_a_constant_rate_is_the_constant_supply():
    disc = velmora.Disc.from_file(SOURCE_DIR / "examples" / "constant_supply.par")
    rate = disc.parameters["mdot_out"]
    t = np.geomspace(1e4, 1e8, 30)
    with tempfile.TemporaryDirectory() as folder:
        table = pathlib.Path(folder) / "supply.txt"
        table.write_text(f"# days  g/s\n0 {rate}\n50 {rate}\n400 {rate}\n")
        tabled = disc.replace(flag_outer=2, mdot_out=0.0, supply_file=table)
        assert tabled.parameters["supply_file"] == str(table)
        np.testing.assert_allclose(tabled.mdot(t), disc.mdot(t), rtol=1e-12)
        np.testing.assert_allclose(tabled.supplied_mass(t), rate * t, rtol=1e-12)
        copy = pickle.loads(pickle.dumps(tabled))  # the table read again from its file
        assert copy.mdot(t).tolist() == tabled.mdot(t).tolist()
        with pytest.raises(ValueError, match="needs flag_outer = 2") as error:
            velmora.Disc(**{**disc.parameters, "supply_file": table})  # flag_outer 1
        assert error.value.parameter == "supply_file"


def test_a_pickled_model_is_the_same_model():
    disc = velmora.Disc.from_file(SOURCE_DIR / "examples" / "supply_law.par").replace(mdisk=3e24)
    copy = pickle.loads(pickle.dumps(disc))
    t = disc.output_times()
    assert copy.parameters == disc.parameters and copy.run_settings == disc.run_settings
    assert copy.mdot(t).tolist() == disc.mdot(t).tolist()
    assert copy.output_times().tolist() == t.tolist()


def test_two_threads_evaluating_two_models_give_the_serial_results():
    first = velmora.Disc.from_file(DEFAULT_PAR)
    second = velmora.Disc.from_file(SOURCE_DIR / "examples" / "supply_law.par")
    t = np.geomspace(1e4, 1e8, 2000)
    x = np.linspace(0.0, 1.0, 50)
    serial = [(first.mdot(t), first.torque(x, t[::40])), (second.mdot(t), second.torque(x, t[::40]))]
    results = [None, None]

    def evaluate(k, disc):
        results[k] = [(disc.mdot(t), disc.torque(x, t[::40])) for _ in range(20)]

    threads = [threading.Thread(target=evaluate, args=(k, d)) for k, d in enumerate((first, second))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for k in range(2):
        for rate, torque in results[k]:
            assert rate.tolist() == serial[k][0].tolist()
            assert torque.tolist() == serial[k][1].tolist()


def test_the_gil_is_released_while_a_model_computes():
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    t = np.linspace(1e5, 1e7, 2_000_000)  # about a second of work
    done = threading.Event()
    thread = threading.Thread(target=lambda: (disc.mdot(t), done.set()))
    thread.start()
    time.sleep(0.05)  # let the computation start
    steps = 0
    while not done.is_set():
        steps += 1
    thread.join()
    # Holding the GIL, the computation would let this loop run only between
    # switch intervals (5 ms); released, it runs on freely.
    assert steps > 10_000


def test_values_that_look_like_another_unit_warn_naming_the_value_meant(tmp_path):
    sound = dict(mass=1.989e34, mdisk=1e25, r_out_disk=1e11, l=0.4, r_ign_in=1e-4, r_ign_out=1, sigma_index=-1,
                 texp=30)
    slips = [
        ("mass", 10, "10 solar masses is 1.989e+34 g"),       # 1 solar mass = 1.989e33 g
        ("r_out_disk", 1e6, "1e+06 km is 1e+11 cm"),          # 1 km = 1e5 cm
        ("texp", 2.592e6, "2.592e+06 s is 30 days"),          # 30 days = 2.592e6 s
    ]
    for keyword, value, meant in slips:
        with pytest.warns(velmora.PlausibilityWarning) as record:
            velmora.Disc(**{**sound, keyword: value})
        assert len(record) == 1 and str(record[0].message).startswith(keyword + " = "), [str(w.message) for w in record]
        assert meant in str(record[0].message)
    par = tmp_path / "slip.par"
    par.write_text("".join(f"{v!r} # {k}\n" for k, v in {**sound, "mass": 10}.items()))
    with pytest.warns(velmora.PlausibilityWarning, match="mass = 10 g .* 1.989e"):
        velmora.Disc.from_file(par)
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        velmora.Disc(**sound)  # a sound disc: no warning
