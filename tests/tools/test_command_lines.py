"""The command lines of velmora-fit, velmora-plot and velmora-grid as a new user meets
them: --version, the option or keyword a typo most likely meant, GNU's --option=value,
and refusals that say what is wrong and what to type instead."""

import os
import pathlib

import pytest

import velmora
from velmora import _vocabulary, fit, grid, plot

SOURCE = pathlib.Path(__file__).resolve().parents[2]
BASE = str(SOURCE / "examples" / "default.par")
DATA = str(SOURCE / "examples" / "outburst_synthetic.txt")


@pytest.mark.parametrize("tool", [fit, plot, grid], ids=lambda m: m.PROG)
def test_version_is_the_package_version(tool, capsys):
    with pytest.raises(SystemExit) as stop:
        tool.main(["--version"])
    assert stop.value.code in (0, None)
    out = capsys.readouterr().out
    assert out == f"{tool.PROG} {velmora.__version__}\n"
    assert velmora.__version__[0].isdigit()


@pytest.mark.parametrize("word, choices, meant", [
    ("mdsk", ["mass", "mdisk", "l"], "mdisk"),            # a letter left out
    ("mdiks", ["mass", "mdisk", "l"], "mdisk"),           # two letters swapped
    ("min_time", ["MIN_TIME", "MAX_TIME"], "MIN_TIME"),   # the case of the table
    ("--job", ["--jobs", "--out"], "--jobs"),
    ("frobnicate", ["mass", "mdisk", "l"], None),         # nothing near: no guess
])
def test_nearest_choice(word, choices, meant):
    assert _vocabulary.nearest(word, choices) == meant


def stderr_of(tool, argv, capsys, status=2):
    try:
        got = tool.main(argv)
    except SystemExit as stop:  # argparse's usage errors
        got = stop.code
    assert got == status
    return capsys.readouterr().err


@pytest.mark.parametrize("tool, argv, guess", [
    (grid, ["--job", "2", BASE, "l=0.3"], "unknown option --job; did you mean --jobs?"),
    (grid, ["-o", "g", BASE, "mdsk=1e24,1e25"], "; did you mean mdisk?"),
    (grid, ["-o", "g", BASE, "min_time=0.1,0.2"], "; did you mean MIN_TIME?"),
    (fit, [BASE, DATA, "--free", "texp", "--distanse", "5kpc"], "(--distanse: did you mean --distance?)"),
    (plot, ["--linear", str(SOURCE / "examples")], "unknown option --linear; did you mean --linear-time?"),
], ids=["grid-option", "grid-keyword", "grid-keyword-case", "fit-option", "plot-option"])
def test_a_typo_names_what_was_meant(tool, argv, guess, capsys, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    err = stderr_of(tool, argv, capsys)
    assert guess in err
    assert os.listdir(tmp_path) == []  # refused before anything is written


@pytest.mark.parametrize("tool, argv", [
    (grid, ["--frobnicate", BASE, "l=0.3"]),
    (grid, ["-o", "g", BASE, "frobnicate=1,2"]),
    (plot, ["--frobnicate", str(SOURCE / "examples")]),
])
def test_no_guess_for_a_word_near_nothing(tool, argv, capsys, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    assert "did you mean" not in stderr_of(tool, argv, capsys)


def test_grid_takes_option_values_after_an_equals_sign():
    spaced = grid.parse_args(["--out", "runs/g", "--jobs", "3", "--sbatch", "--time=30", BASE, "l=0.3"])
    joined = grid.parse_args(["--out=runs/g", "--jobs=3", "--sbatch=--time=30", BASE, "l=0.3"])
    assert vars(joined) == vars(spaced)
    assert (joined.outdir, joined.jobs, joined.sbatch) == ("runs/g", "3", ["--time=30"])
    # A flag with '=' is no option value, and an unknown --name=value is still unknown.
    with pytest.raises(grid.Usage, match="unknown option --outdir=x; did you mean --out"):
        grid.parse_args(["--outdir=x", BASE, "l=0.3"])


@pytest.mark.parametrize("make, reason", [
    (lambda d: d / "none.par", "no such file"),
    (lambda d: d, "a folder, not a file"),
], ids=["missing", "folder"])
def test_grid_says_why_the_base_file_cannot_be_read(make, reason, capsys, tmp_path):
    base = make(tmp_path)
    err = stderr_of(grid, ["-o", str(tmp_path / "g"), str(base), "l=0.3"], capsys)
    assert f"cannot read the base parameter file '{base}': {reason}\n" in err
    assert not (tmp_path / "g").exists()


def test_grid_without_ranges_says_what_is_missing_last(capsys):
    err = stderr_of(grid, [BASE], capsys)
    assert err.startswith("Usage: velmora-grid")
    last = err.rstrip("\n").splitlines()[-1]
    assert last.startswith(f"velmora-grid: no KEYWORD=V1,V2,... after {BASE}")


def test_plot_usage_error_is_the_reason_and_the_usage_line(capsys, tmp_path):
    err = stderr_of(plot, [str(tmp_path / "missing")], capsys)
    lines = err.splitlines()
    assert lines[0] == f"velmora-plot: no such folder: {tmp_path / 'missing'}"
    assert lines[1].startswith("Usage: velmora-plot [-n NAME]")
    assert lines[-1] == "Run 'velmora-plot --help' for the options."
    assert len(lines) == 4


@pytest.mark.parametrize("grid_list, says", [
    (True, "it is a grid's folder; draw its models, all in one figure with velmora-plot {folder}/*/"),
    (False, "; run velmora there first"),
], ids=["grid-folder", "empty-folder"])
def test_plot_of_a_folder_without_data_says_where_the_data_are(grid_list, says, capsys, tmp_path):
    if grid_list:
        (tmp_path / "grid.tsv").write_text("folder\tl\ndefault_l=0.3\t0.3\n")
    err = stderr_of(plot, [str(tmp_path)], capsys, status=1)
    assert f"no velmora data in {tmp_path} (" in err
    assert says.format(folder=tmp_path) in err


@pytest.mark.parametrize("ranges, says", [
    (["l=0.25,", "0.4"], "empty value in 'l=0.25,' (a blank after a comma ends the range: write l=V1,V2 without blanks)"),
    (["l=0.25, 0.4"], "l takes a number, not ' 0.4' (write l=0.25,0.4 without blanks)"),
    (["l=0.25,,0.4"], "empty value in 'l=0.25,,0.4'\n"),       # a doubled comma: no blank to blame
    (["l=0.25,abc"], "l takes a number, not 'abc'\n"),
], ids=["blank-after-comma", "quoted-blank", "double-comma", "word"])
def test_grid_range_with_blanks_says_how_to_write_it(ranges, says, capsys, tmp_path):
    err = stderr_of(grid, ["-o", str(tmp_path / "g"), BASE] + ranges, capsys)
    assert f"velmora-grid: {says}" in err
    assert not (tmp_path / "g").exists()


def test_fit_help_example_names_files_of_the_clone_and_options_the_fit_takes(capsys):
    with pytest.raises(SystemExit):
        fit.main(["--help"])
    example = capsys.readouterr().out.split("Example")[1].split(":\n", 1)[1].replace("\\\n", " ").split()
    assert example[0] == "velmora-fit"
    for path in example[1:3]:
        assert (SOURCE / path).is_file(), path
    args = fit.parse_args(example[1:])  # the parser takes the example as written
    assert (args.free, args.t0, args.observable, args.mcmc) == ("texp,mdisk,t0", 57999.0, "flux", True)
    assert args.distance_cm == pytest.approx(5 * velmora.constants.kpc, rel=1e-15)
