"""Tests of the parameter-file vocabulary the module exports: the keyword
table against what `velmora --check` prints, the reader against the
program's reading, the writer by reading back what it wrote (with the
module and with the program), and the refusals of both.
"""

import math
import os
import pathlib
import subprocess
import warnings

import pytest

import velmora

SOURCE_DIR = pathlib.Path(os.environ.get("VELMORA_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BINARY = os.path.abspath(os.environ.get("VELMORA_BINARY", SOURCE_DIR / "build" / "velmora"))
EXAMPLES = sorted((SOURCE_DIR / "examples").glob("*.par"))


def program_check(par):
    """`velmora --check PAR`: (status, {keyword: (value text, unit)}, the rest of the lines)."""
    run = subprocess.run([BINARY, "--check", str(par)], cwd=pathlib.Path(par).parent, stdin=subprocess.DEVNULL,
                         capture_output=True, timeout=60)
    lines = run.stdout.decode("utf-8", "surrogateescape").splitlines()
    keywords, rest = {}, []
    section = None
    for line in lines:
        if line.startswith("# "):
            section = line
            continue
        if section is not None and section.startswith("# keywords") and " = " in line:
            name, _, value_unit = line.partition(" = ")
            value, _, unit = value_unit.rpartition(" ")
            keywords[name] = (value, unit)
        else:
            rest.append(line)
    return run.returncode, keywords, rest


def test_the_keywords_are_the_programs_table_in_its_order():
    _, printed, _ = program_check(SOURCE_DIR / "examples" / "default.par")
    table = velmora.keywords()
    assert [k.name for k in table] == list(printed)
    assert [k.unit for k in table] == [unit for _, unit in printed.values()]
    kinds = {k.name: k.kind for k in table}
    assert {kinds[n] for n in ("mass", "texp", "MIN_TIME", "mdot_out")} == {"real"}
    assert {kinds[n] for n in ("NUM_TIME", "save", "fast", "flag_outer")} == {"integer"}
    assert {kinds[n] for n in ("name", "supply_file")} == {"text"}
    assert [k.name for k in table if not k.model] == ["MIN_TIME", "MAX_TIME", "NUM_TIME", "save", "name", "fast"]
    for k in table:
        assert isinstance(k, velmora.Keyword) and k.doc.startswith(k.unit + ", "), k


@pytest.mark.parametrize("par", EXAMPLES, ids=[p.name for p in EXAMPLES])
def test_the_reader_gives_what_the_program_reads(par):
    values = velmora.read_parameter_file(par)
    status, printed, _ = program_check(par)
    assert status == 0
    assert list(values) == list(printed)
    for k in velmora.keywords():
        value = values[k.name]
        shown = printed[k.name][0]
        if k.name == "kappa" or (k.name == "texp" and value == 0):
            continue  # the program prints the derived value there, the file's is 0
        if k.kind == "real":
            assert isinstance(value, float) and value == float(shown), k.name
        elif k.kind == "integer":
            assert isinstance(value, int) and value == int(shown), k.name
        else:
            assert value == ("" if shown == '""' else shown), k.name


# Values that must come back as they went: the extremes of a double, a
# negative zero, a non-ASCII run name, a number written as text.
ROUND_TRIPS = [
    ("smallest subnormal and largest double", {"mass": 5e-324, "mdisk": 1.7976931348623157e308}),
    ("negative zero and a tenth", {"sigma_index": -0.0, "l": 0.1}),
    ("integers", {"NUM_TIME": 2147483647, "flag_outer": -2147483648, "save": True}),
    ("text", {"name": "Störung-1", "supply_file": "tables/a,b.txt"}),
    ("numbers as text", {"mass": "1.989e34", "NUM_TIME": "12"}),
    ("integral float for an integer", {"NUM_TIME": 8.0}),
]


@pytest.mark.parametrize("values", [r[1] for r in ROUND_TRIPS], ids=[r[0] for r in ROUND_TRIPS])
def test_a_written_file_reads_back_to_the_same_values(tmp_path, values):
    par = tmp_path / "model.par"
    velmora.write_parameter_file(par, values)
    assert par.read_text() == velmora.format_parameter_file(values)
    back = velmora.read_parameter_file(par)
    kinds = {k.name: k.kind for k in velmora.keywords()}
    for name, value in values.items():
        expected = {"real": float, "integer": int, "text": str}[kinds[name]](value)
        assert type(back[name]) is type(expected) and back[name] == expected, name
        if kinds[name] == "real":
            assert math.copysign(1, back[name]) == math.copysign(1, expected), name
    # Keywords not given read as 0 or empty.
    assert all(back[k.name] in (0, "") for k in velmora.keywords() if k.name not in values)


@pytest.mark.parametrize("par", EXAMPLES, ids=[p.name for p in EXAMPLES])
def test_a_rewritten_example_is_the_same_model_for_the_program(tmp_path, par):
    values = velmora.read_parameter_file(par)
    if values["supply_file"]:
        values["supply_file"] = str((par.parent / values["supply_file"]).resolve())
    copy = tmp_path / par.name
    velmora.write_parameter_file(copy, values)
    lines = copy.read_text().splitlines()
    assert all(line.split(" # ")[1] in values and len(line.split()) == 3 for line in lines)
    status, printed, rest = program_check(copy)
    original_status, original, original_rest = program_check(par)
    assert status == original_status == 0
    assert {k: v for k, v in printed.items() if k != "supply_file"} == \
        {k: v for k, v in original.items() if k != "supply_file"}
    assert rest == original_rest  # derived constants and verdict


def test_dropped_entries_are_warned_about_as_the_program_warns(tmp_path):
    par = tmp_path / "model.par"
    par.write_text("1.989e34 # mas\n1e25 # mdisk\nabc # texp\n5#NUM_TIME\n")
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        values = velmora.read_parameter_file(par)
    texts = [str(w.message) for w in caught if issubclass(w.category, velmora.ParameterFileWarning)]
    _, _, rest = program_check(par)
    program_warnings = [line[len("warning: "):] for line in rest if line.startswith("warning: ")]
    assert texts == program_warnings and len(texts) == 3
    assert "did you mean mass?" in texts[0] and texts[0].startswith(f"{par} line 1: ")
    assert values["mdisk"] == 1e25 and values["mass"] == 0 and values["texp"] == 0
    with warnings.catch_warnings():
        warnings.simplefilter("error", velmora.ParameterFileWarning)
        with pytest.raises(velmora.ParameterFileWarning):
            velmora.read_parameter_file(par)


# Values a parameter file cannot hold: (values, the keyword the error names).
REFUSED_VALUES = [
    ({"mass\ntouch X\n#": 1}, "mass\ntouch X\n#"),
    ({"Mass": 1.0}, "Mass"),
    ({"name": "two words"}, "name"),
    ({"name": "a#b"}, "name"),
    ({"name": "line\nbreak"}, "name"),
    ({"supply_file": "tab\tle"}, "supply_file"),
    ({"name": "n" * 600}, "name"),
    ({"name": 3}, "name"),
    ({"NUM_TIME": 2.5}, "NUM_TIME"),
    ({"NUM_TIME": 2**31}, "NUM_TIME"),
    ({"NUM_TIME": "1e3"}, "NUM_TIME"),
    ({"mass": "1e34\n1 # texp"}, "mass"),
    ({"mass": "heavy"}, "mass"),
    ({"mass": None}, "mass"),
]


@pytest.mark.parametrize("values,parameter", REFUSED_VALUES, ids=[repr(v)[:30] for v, _ in REFUSED_VALUES])
def test_values_a_file_cannot_hold_are_refused_naming_the_keyword(tmp_path, values, parameter):
    par = tmp_path / "model.par"
    with pytest.raises(velmora.ParameterError) as error:
        velmora.write_parameter_file(par, {"mdisk": 1e25, **values})
    assert error.value.parameter == parameter
    assert not par.exists()
    with pytest.raises(velmora.ParameterError):
        velmora.format_parameter_file(values)


def test_files_the_reader_cannot_take(tmp_path):
    long_token = tmp_path / "long.par"
    long_token.write_text("n" * 700 + " # name\n")
    with pytest.raises(velmora.ParameterError, match="token longer"):
        velmora.read_parameter_file(long_token)
    with pytest.raises(IsADirectoryError):
        velmora.read_parameter_file(tmp_path)
    with pytest.raises(FileNotFoundError):
        velmora.read_parameter_file(tmp_path / "missing.par")
    with pytest.raises(TypeError, match="path"):
        velmora.read_parameter_file(None)


def test_solution_errors_are_runtime_errors():
    assert issubclass(velmora.SolutionError, RuntimeError)
    # Matter from the centre outwards: at 1 s the disc's mass needs more modes than the solution keeps
    # (the centre rate there comes from the Laplace transform and needs none).
    disc = velmora.Disc.from_file(SOURCE_DIR / "examples" / "default.par").replace(r_ign_in=0)
    assert disc.mdot(1.0) > 0.0
    with pytest.raises(velmora.SolutionError, match="Bessel modes"):
        disc.disc_mass(1.0)
