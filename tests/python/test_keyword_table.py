"""The module speaks the parameter file's keyword table: every model keyword of
velmora.keywords() goes through the constructor, replace(), parameters,
pickling and a parameter file, and comes back as given. A keyword added to
the table without reaching one of these fails here."""

import inspect
import math
import pickle

import pytest

import velmora

MODEL_KEYWORDS = [k for k in velmora.keywords() if k.model]
CLOSED = dict(mass=1.989e34, mdisk=1e25, r_out_disk=1e11, l=0.4, r_ign_in=1e-4, r_ign_out=1, sigma_index=-1, texp=30)


@pytest.fixture
def table(tmp_path):
    path = tmp_path / "supply.txt"
    path.write_text("0 1e17\n20 3e17\n45 5e16\n")
    return path


@pytest.fixture
def given(table):
    """A valid model in which every model keyword differs from its default (0 or no file)."""
    values = dict(mass=1.989e34, mdisk=1e25, r_out_disk=1e11, l=0.4, r_ign_in=1e-3, r_ign_out=0.9,
                  sigma_index=-1.0, texp=30.0, kappa=3e-21, flag_outer=2, mdot_out=1e17, supply_file=str(table))
    assert set(values) == {k.name for k in MODEL_KEYWORDS}, "a model keyword of the table this test does not know"
    return values


def other_value(keyword, value):
    """A different valid value of a numeric keyword (reals scaled by 0.8 keep this model valid)."""
    return value * 0.8 if keyword.kind == "real" else value


def test_signature_and_docstring_list_the_table_s_model_keywords():
    names = [k.name for k in MODEL_KEYWORDS]
    assert list(inspect.signature(velmora.Disc).parameters) == names
    assert list(inspect.signature(velmora.Disc.replace).parameters)[1:] == names
    doc = velmora.Disc.__doc__
    for k in MODEL_KEYWORDS:
        assert f"\n{k.name} : " in doc, k.name


def test_every_model_keyword_round_trips(given, tmp_path):
    disc = velmora.Disc(**given)
    assert list(disc.parameters) == [k.name for k in MODEL_KEYWORDS]
    assert disc.parameters == given
    t = [3e5, 2e6, 8e6]
    for k in MODEL_KEYWORDS:
        if k.kind == "text":
            continue
        changed = disc.replace(**{k.name: other_value(k, given[k.name])})
        expected = {**given, k.name: other_value(k, given[k.name])}
        assert changed.parameters == expected, k.name
        assert type(changed.parameters[k.name]) is type(given[k.name]), k.name
        # A fresh model of the same keywords is the same model: replace() left nothing behind.
        assert changed.mdot(t).tolist() == velmora.Disc(**expected).mdot(t).tolist(), k.name
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        copy = pickle.loads(pickle.dumps(disc, protocol))
        assert copy.parameters == given
        assert copy.mdot(t).tolist() == disc.mdot(t).tolist()
    par = tmp_path / "model.par"
    velmora.write_parameter_file(par, disc.parameters)
    read = velmora.read_parameter_file(par)
    assert {k.name: read[k.name] for k in MODEL_KEYWORDS} == given
    assert velmora.Disc.from_file(par).parameters == given


def test_a_missing_text_is_left_out_of_a_file():
    values = velmora.Disc(**CLOSED).parameters
    text = velmora.format_parameter_file(values)
    assert [line.split(" # ")[1] for line in text.splitlines()] == [k.name for k in MODEL_KEYWORDS if k.kind != "text"]


@pytest.mark.parametrize("call,words", [
    (lambda: velmora.Disc(mas=1.0), ["'mas'", "did you mean 'mass'"]),
    (lambda: velmora.Disc(MIN_TIME=1.0), ["'MIN_TIME'", "a setting of the run"]),
    (lambda: velmora.Disc(**CLOSED).replace(txep=3.0), ["replace()", "'txep'", "did you mean 'texp'"]),
])
def test_a_keyword_the_model_does_not_take_is_a_type_error_that_says_what_was_meant(call, words):
    with pytest.raises(TypeError) as caught:
        call()
    for word in words:
        assert word in str(caught.value)


def test_a_data_file_s_header_gives_back_the_model_of_its_parameter_file(tmp_path):
    """The plot tool's reading of a header: every numeric model keyword of the table, in a
    parameter file's units, against the file the program ran."""
    import os
    import shutil
    import subprocess

    from velmora import _vocabulary, plot

    source = os.environ.get("VELMORA_SOURCE_DIR")
    binary = os.environ.get("VELMORA_BINARY")
    if not (source and binary):
        pytest.skip("needs the program (VELMORA_BINARY) and the examples (VELMORA_SOURCE_DIR)")
    par = tmp_path / "model.par"
    shutil.copy(os.path.join(source, "examples", "default.par"), par)
    with par.open("a") as f:
        f.write("2 # flag_outer\n0.5 # r_ign_in\n")  # a supply mode and an edge of the matter not 1
    subprocess.run([binary, "model.par"], cwd=tmp_path, check=True, capture_output=True, timeout=600)
    name = velmora.read_parameter_file(par)[_vocabulary.run_name()]
    header = plot.read_data_file(str(tmp_path / f"mdotin_{name}.dat"))
    values = _vocabulary.header_model_values(header.value)
    given = velmora.read_parameter_file(par)
    assert values is not None and list(values) == [k.name for k in _vocabulary.numeric_model_keywords()]
    for k in _vocabulary.numeric_model_keywords():
        if k.name == "kappa" and given[k.name] == 0:
            continue  # derived from texp by the run; the header gives the derived value
        # The header writes %e: 7 significant digits, a relative rounding of at most 5e-7
        # (twice that after the division by r_out_disk).
        assert values[k.name] == pytest.approx(given[k.name], rel=1.1e-6, abs=0), k.name


def test_the_tools_find_the_central_mass_and_the_outer_edge_by_their_role():
    """The plot tool reads r_ms = 6 G M / c^2 and the disc's edge from a header by the
    roles the keyword table gives; the disc's specific angular momentum at its edge,
    sqrt(G M r_out), tells whether they are the central mass and the outer radius."""
    from velmora import _vocabulary
    from velmora.constants import G
    mass, edge = _vocabulary.central_mass(), _vocabulary.outer_radius()
    disc = velmora.Disc(**CLOSED)
    assert disc.hout == pytest.approx(math.sqrt(G * CLOSED[mass] * CLOSED[edge]), rel=1e-14)
    # Another mass of the model (the disc's) leaves the angular momentum at the edge alone.
    for k in MODEL_KEYWORDS:
        if k.unit == "g" and k.name != mass:
            assert disc.replace(**{k.name: 3 * CLOSED[k.name]}).hout == disc.hout, k.name
