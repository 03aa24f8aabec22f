"""velmora.plot against closed forms: the supply it draws (the mean supply of each
step, from the model's supplied mass) against the supply laws written out here,
the conversion of observed points, the profile figure's radii and initial torque,
and the legend's reading order."""

import math
import os

import numpy as np
import pytest

import velmora
from velmora import plot

DAY = 86400.0
C_LIGHT = 2.997925e10          # cm/s, as the program's constants
PARSEC = 3.0856775814913673e18  # cm
MODEL = dict(mass=1.989e34, mdisk=1e25, r_out_disk=1e11, l=0.4, r_ign_in=1e-4, r_ign_out=1.0,
             sigma_index=-1.0, texp=30.0)


def built_in_law(t_days):
    """The built-in supply of flag_outer 2 (g/s): 1e18 exp(-t/30 d), a straight ramp over
    days 59 to 60, 4e18 exp(-t/30 d) from day 60."""
    t = np.asarray(t_days, dtype=float)
    before = 1e18 * np.exp(-t / 30.0)
    after = 4e18 * np.exp(-t / 30.0)
    a, b = 1e18 * math.exp(-59 / 30.0), 4e18 * math.exp(-60 / 30.0)
    ramp = a + (b - a) * (t - 59.0)
    return np.where(t < 59, before, np.where(t < 60, ramp, after))


@pytest.mark.parametrize("linear", [False, True])
def test_supply_of_the_built_in_law(linear):
    disc = velmora.Disc(**MODEL, flag_outer=2)
    t, rate = plot.supply_curve(disc, 1.0, 200.0, linear)
    steps = np.diff(np.linspace(1, 200, 801) if linear else np.geomspace(1, 200, 801))
    away = np.abs(t - 59.5) > steps + 0.5  # steps that do not touch the ramp's corners
    # The mean of exp(-t/tau) over a step h exceeds its middle value by (h/tau)^2/24:
    # at most (0.25/30)^2/24 = 3e-6 for linear steps, (1.3/30)^2/24 = 8e-5 for the log ones.
    tol = 1e-5 if linear else 2e-4
    np.testing.assert_allclose(rate[away], built_in_law(t[away]), rtol=tol)
    # Across the ramp the rate rises fourfold times exp(-1/30), to its value at day 60.
    late = (t > 55) & (t < 70)
    assert rate[late].max() == pytest.approx(4e18 * math.exp(-60 / 30.0), rel=0.03)


def test_supply_of_mode_1_is_mdot_out():
    disc = velmora.Disc(**MODEL, flag_outer=1, mdot_out=3.5e17)
    _, rate = plot.supply_curve(disc, 0.5, 90.0, False)
    np.testing.assert_allclose(rate, 3.5e17, rtol=1e-9)


def test_supply_of_a_table_is_piecewise_linear(tmp_path):
    table = tmp_path / "feed.txt"
    table.write_text("# days g/s\n0 1e17\n10 5e17\n40 2e17\n")
    disc = velmora.Disc(**MODEL, flag_outer=2, supply_file=str(table))
    t, rate = plot.supply_curve(disc, 1.0, 80.0, True)
    want = np.interp(t, [0, 10, 40, 1e9], [1e17, 5e17, 2e17, 2e17])
    # A linear function's mean over a step is its middle value: only the steps over a
    # row (10 and 40 days) differ.
    h = 79.0 / 800
    away = (np.abs(t - 10) > h) & (np.abs(t - 40) > h)
    np.testing.assert_allclose(rate[away], want[away], rtol=1e-7)


def test_supply_from_a_run_folder_takes_the_table_next_to_its_parameter_file(tmp_path):
    (tmp_path / "tables").mkdir()
    (tmp_path / "tables" / "feed.txt").write_text("0 2e17\n100 2e17\n")
    (tmp_path / "run.par").write_text("2 # flag_outer\nburst # name\ntables/feed.txt # supply_file\n")
    assert plot.run_supply_file(str(tmp_path), "burst") == (True, str(tmp_path / "tables" / "feed.txt"))
    assert plot.run_supply_file(str(tmp_path), "other") == (False, None)
    (tmp_path / "law.par").write_text("2 # flag_outer\nlaw # name\n")
    assert plot.run_supply_file(str(tmp_path), "law") == (True, None)


def write_observed(path, lines):
    path.write_text("# time value error\n" + "".join(f"{line}\n" for line in lines))
    return str(path)


@pytest.mark.parametrize("unit, distance, per_gram", [
    ("g/s", None, 1.0),
    ("erg/s", None, 0.1 * C_LIGHT ** 2),
    ("erg/s/cm^2", 8e3 * PARSEC, 0.1 * C_LIGHT ** 2 / (4 * math.pi * (8e3 * PARSEC) ** 2)),
])
def test_observed_points_are_shifted_and_converted(tmp_path, unit, distance, per_gram):
    data = write_observed(tmp_path / "obs.txt", [f"59510 {2e18 * per_gram!r} {1e17 * per_gram!r}",
                                                 f"59530 {1e18 * per_gram!r}"])
    obs = plot.read_observed(data, 59500.0, unit, 0.1, distance, False)
    np.testing.assert_allclose(obs.t, [10.0, 30.0], rtol=1e-12)
    np.testing.assert_allclose(obs.y, [2e18, 1e18], rtol=1e-12)
    np.testing.assert_allclose(obs.err, [1e17, 0.0], rtol=1e-12)


def test_observed_points_of_a_file_with_a_byte_order_mark(tmp_path):
    # A spreadsheet's UTF-8 starts with a byte-order mark: the first point was left out as "not a number".
    (tmp_path / "obs.txt").write_bytes(b"\xef\xbb\xbf59510 2e18 1e17\r\n59530 1e18 1e17\r\n")
    obs = plot.read_observed(str(tmp_path / "obs.txt"), 59500.0, "g/s", 0.1, None, False)
    assert obs.t.tolist() == [10.0, 30.0] and obs.y.tolist() == [2e18, 1e18]


def test_distance_units():
    assert plot.parse_distance("8 kpc") == pytest.approx(8e3 * PARSEC, rel=1e-15)
    assert plot.parse_distance("1e22") == 1e22
    for bad in ("-1 kpc", "far", "0"):
        with pytest.raises(plot.UsageError):
            plot.parse_distance(bad)


def test_t0_from_a_fit_folder(tmp_path):
    (tmp_path / "summary.json").write_text('{"t0_best": 59487.25}')
    assert plot.parse_t0(str(tmp_path)) == 59487.25
    assert plot.parse_t0("59500.5") == 59500.5
    with pytest.raises(plot.UsageError):
        plot.parse_t0(str(tmp_path / "nowhere"))
    for damaged in ('{"t0_best": NaN}', '{"t0_best": 1e999}', '{"t0_best": "59487"}x'):  # JSON reads the first two
        (tmp_path / "summary.json").write_text(damaged)
        with pytest.raises(plot.UsageError, match="--t0"):
            plot.parse_t0(str(tmp_path))


def test_observed_points_off_the_model_are_warned_about(capsys):
    t_model = np.geomspace(5, 100, 20)
    y_model = 1e18 * np.exp(-t_model / 30)
    near = plot.Observed(np.array([10.0, 20.0]), 1.1e18 * np.exp(-np.array([10.0, 20.0]) / 30), np.zeros(2), "")
    plot.check_observed(near, t_model, y_model, "f.png")
    assert capsys.readouterr().err == ""
    # MJD taken for days since the start, erg/s taken for g/s: both said.
    far = plot.Observed(np.array([59500.0, 59510.0]), np.array([1e38, 8e37]), np.zeros(2), "")
    plot.check_observed(far, t_model, y_model, "f.png")
    err = capsys.readouterr().err
    assert "2 of 2 observed points lie outside the model's times" in err
    assert "above the model's rate" in err and "--data-unit" in err


def synthetic_snapshots(tmp_path, mass=1.989e34, r_out=1e11, l=0.4):
    """An initial file and two snapshots: 99 radii r = r_out x^(4l) from x = 0.001, the
    initial torque ending in F = 0 at x = 1."""
    header = (f"#l={l:e}\n#mass={mass:e}\n#r_out_disk={r_out:e}\n#texp(days)=3.0e+01\n#flag_outer=0\n")
    x = np.linspace(0.001, 1.0, 99)
    r = r_out * x ** (4 * l)
    f0 = 1e36 * x
    f0[-1] = 0.0
    initial = tmp_path / "F_x_m.dat"
    initial.write_text(header + "".join(f"{j}\t{x[j]:e}\t{r[j]:e}\t0\t{f0[j]:e}\t0\n" for j in range(99)))
    snaps = []
    for k, t in enumerate((1e6, 3e6)):
        p = tmp_path / f"F_x{k}.dat"
        p.write_text(header + "".join(f"{j}\t{x[j]:e}\t{r[j]:e}\t0\t{1e35 * x[j] / (k + 1):e}\t0\t{t:e}\n"
                                      for j in range(99)))
        snaps.append(plot.read_data_file(str(p)))
    return plot.read_data_file(str(initial)), snaps, r


def test_profiles_span_r_ms_to_r_out_without_the_initial_cliff(tmp_path):
    initial, snaps, r = synthetic_snapshots(tmp_path)
    fig, note = plot.profile_figure(snaps, initial, "t")
    r_ms = 6 * 6.67428e-8 * 1.989e34 / C_LIGHT ** 2  # 8.86e6 cm
    assert r.min() < r_ms  # the file reaches inside the last stable orbit
    for ax in fig.axes[:2]:
        lo, hi = ax.get_xlim()
        assert lo == pytest.approx(r_ms, rel=1e-6) and hi == pytest.approx(1e11, rel=1e-12)
        for line in ax.get_lines():
            x, y = line.get_data()
            assert np.all(np.asarray(x) >= r_ms * (1 - 1e-12))
        init = [line for line in ax.get_lines() if line.get_linestyle() == "--"][0]
        assert np.asarray(init.get_ydata())[-1] > 0  # the boundary value F = 0 is not joined on
    assert "F = 0 at r_out_disk not drawn" in note
    labels = [t.get_text() for t in fig.legends[0].get_texts()]
    assert any(note in label for label in labels)


def test_legend_reads_column_5_first_then_column_3(tmp_path):
    lines = "".join(f"{i}\t{t:e}\t{m:e}\t{0.01 * m:e}\t{1.001 * m:e}\n"
                    for i, (t, m) in enumerate((s * 30 * DAY, 1e18 * s * math.exp(-s))
                                               for s in np.geomspace(0.05, 5, 8)))
    path = tmp_path / "mdotin_r.dat"
    path.write_text("#texp(s)=2.592e6\n#flag_outer=0\n#1=i\n#2=t\n#3=Mdot_in\n#4=err\n#5=Mdot_in_series\n" + lines)
    run = plot.load_run(str(path), str(tmp_path), "r", False)
    obs = plot.Observed(np.array([10.0]), np.array([1e17]), np.array([0.0]), "observed (--data)")
    fig = plot.rate_figure([run], "t", False, obs)
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    FigureCanvasAgg(fig).draw()
    texts = fig.axes[0].get_legend().get_texts()
    # Reading order: rows from the top (texts of one row within a few pixels), then left to right.
    place = sorted(texts, key=lambda t: (-round((t.get_window_extent().y0 + t.get_window_extent().y1) / 20),
                                         t.get_window_extent().x0))
    assert [t.get_text() for t in place][:2] == ["exact rate (column 5)", "least-squares estimate (columns 3, 4)"]
