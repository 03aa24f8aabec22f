"""velmora.fit's likelihood: upper limits, the systematic error, Gaussian
priors, several data sets, derived quantities; each against what the
statistics or the physics says independently of the code."""
import math

import numpy as np
from velmora.constants import c as C_LIGHT
import pytest

from velmora import fit
from fit_helpers import BASE, DAY, TRUTH, dataset, fixed_values, least_squares, synthetic

TRUE_DISC = BASE.replace(texp=TRUTH["texp"], mdisk=TRUTH["mdisk"])


def rate_free(texp=22.0, mdisk=1.1e25):
    return [fit.Parameter("texp", texp, 1.0, 200.0, "log"), fit.Parameter("mdisk", mdisk, 1e23, 1e27, "log")]


def with_limits(rng, n=20):
    """A light curve whose faint points are upper limits, made the way a
    telescope makes them: noise sigma = 10 % of the rate plus a floor, and a
    point whose measurement falls below 3 sigma reported as the limit 3 sigma."""
    t = TRUTH["t0"] + np.sort(rng.uniform(0.3, 150.0, n))
    m = TRUE_DISC.mdot((t - TRUTH["t0"]) * DAY)
    sigma = 0.1 * m + 0.01 * m.max()
    x = m + sigma * rng.standard_normal(n)
    limit = x < 3 * sigma
    return dataset(t, np.where(limit, 3 * sigma, x), sigma, limit)


def test_upper_limit_likelihood_is_the_probability_of_measuring_below_the_limit():
    # one limit L with noise s of a model m: P(x < L) = (1 + erf((L - m) / (s sqrt 2))) / 2
    t = np.array([110.0, 130.0])
    m = TRUE_DISC.mdot((t - TRUTH["t0"]) * DAY)
    s = 0.3 * m
    for L in (0.2 * m, m, 2.5 * m, 8 * m):
        ds = dataset(t, L, s, np.array([True, True]))
        model = fit.Model(BASE, rate_free(), fixed_values(), [ds])
        like = fit.Likelihood(model)
        u = np.array([[math.log10(20.0), 25.0]])
        lp = like.log_probability_rows(u, np.array([-9, -9]), np.array([99, 99]))[0]
        expected = sum(math.log(0.5 * math.erfc(-(Li - mi) / (si * math.sqrt(2)))) for Li, mi, si in zip(L, m, s))
        assert lp == pytest.approx(expected, rel=1e-10, abs=1e-12)


def test_least_squares_maximises_the_likelihood_the_sampler_uses():
    # The gradient of the sampler's log probability vanishes at least
    # squares' best fit (central differences; limits, a systematic error and
    # a Gaussian prior all present).
    rng = np.random.default_rng(3)
    ds = with_limits(rng, 30)
    assert 3 <= ds.limit.sum() <= 25
    params = rate_free() + [fit.Parameter("sys_error", 0.05, 0.0, 1.0, "flat", gauss=(0.08, 0.05))]
    model = fit.Model(BASE, params, fixed_values(), [ds])
    ls = fit.least_squares_fit(model)
    like = fit.Likelihood(model)
    lo, hi = np.full(3, -99.0), np.full(3, 99.0)
    for i in range(3):
        h = np.zeros(3)
        h[i] = 1e-4 * max(1.0, np.sqrt(ls["cov_u"][i, i]) * 10)
        up, down = like.log_probability_rows(np.array([ls["u"] + h, ls["u"] - h]), lo, hi)
        slope = (up - down) / (2 * h[i])
        # against the curvature scale: the slope times one sigma is far below 1
        assert abs(slope) * math.sqrt(ls["cov_u"][i, i]) < 1e-2, (params[i].name, slope)


def test_one_sigma_intervals_with_upper_limits_cover_the_truth_in_about_68_percent():
    # 240 realisations: binomial spread 3.0 %, so 63 % to 73 % is the issue's
    # 68 +- 5 % (about 1.7 sigma of the spread each side).
    rng = np.random.default_rng(29)
    trials, hits, limits = 240, {"texp": 0, "mdisk": 0}, 0
    for _ in range(trials):
        ds = with_limits(rng)
        limits += ds.limit.sum()
        ls = least_squares([ds], rate_free())
        for name in hits:
            hits[name] += abs(ls["best"][name] - TRUTH[name]) < ls["error"][name]
    assert limits > 3 * trials  # limits matter: several per light curve
    for name, n in hits.items():
        assert 0.63 <= n / trials <= 0.73, (name, n / trials)


def test_a_free_systematic_error_recovers_the_extra_scatter():
    # quoted errors of 2 %, true scatter sqrt(0.02^2 + 0.2^2): the fitted
    # fractional error is 0.2 within 3 of its errors, and chi^2 is sensible
    rng = np.random.default_rng(8)
    t, y, err = synthetic(rng, 80, rel=0.02)
    m = TRUE_DISC.mdot((t - TRUTH["t0"]) * DAY)
    y = y + 0.2 * m * rng.standard_normal(t.size)
    params = rate_free() + [fit.Parameter("sys_error", 0.05, 0.0, 1.0, "flat")]
    ls = least_squares([dataset(t, y, err)], params)
    assert abs(ls["best"]["sys_error"] - 0.2) < 3 * ls["error"]["sys_error"]
    assert ls["error"]["sys_error"] < 0.05
    for name in ("texp", "mdisk"):
        assert abs(ls["best"][name] - TRUTH[name]) < 3 * ls["error"][name], name
    assert abs(ls["chi2"] - t.size) < 5 * math.sqrt(2 * t.size)


def test_a_gaussian_prior_decides_what_the_data_cannot():
    # A flux fixes only mdisk / d^2: with both free the distance is its
    # prior's, 5 +- 0.5 kpc, at the maximum (mean) and in the error (width).
    rng = np.random.default_rng(4)
    t, y, err = synthetic(rng, 40)
    kpc = 3.0856775814913673e21
    factor = 0.1 * C_LIGHT ** 2 / (4 * math.pi * (5 * kpc) ** 2)
    ds = dataset(t, y * factor, err * factor, observable="flux")
    params = rate_free() + [fit.Parameter("distance", 4 * kpc, 1 * kpc, 20 * kpc, "log", gauss=(5 * kpc, 0.5 * kpc))]
    ls = least_squares([ds], params, distance=4 * kpc)
    assert ls["best"]["distance"] / kpc == pytest.approx(5.0, rel=1e-4)
    assert ls["error"]["distance"] / kpc == pytest.approx(0.5, rel=0.02)
    # and mdisk carries the distance's error: d(ln mdisk) = 2 d(ln d) = 0.2
    assert ls["error"]["mdisk"] / ls["best"]["mdisk"] == pytest.approx(0.2, rel=0.05)


def test_two_data_sets_with_a_calibration_factor_recover_the_truth():
    # the rate, and a luminosity whose instrument reads 30 % high (cal2 = 1.3)
    rng = np.random.default_rng(12)
    t1, y1, e1 = synthetic(rng, 30)
    t2, y2, e2 = synthetic(rng, 25)
    lum = 0.1 * C_LIGHT ** 2 * 1.3
    sets = [dataset(t1, y1, e1), dataset(t2, y2 * lum, e2 * lum, observable="luminosity", index=2)]
    params = rate_free() + [fit.Parameter("t0", 99.0, 95.0, min(t1[0], t2[0]), "flat"),
                            fit.Parameter("cal2", 1.0, 0.1, 10.0, "log")]
    ls = least_squares(sets, params)
    for name, truth in (("texp", 20.0), ("mdisk", 1e25), ("t0", 100.0), ("cal2", 1.3)):
        assert abs(ls["best"][name] - truth) < 3 * ls["error"][name], name
    assert abs(ls["chi2"] - ls["dof"]) < 4 * math.sqrt(2 * ls["dof"])


def test_derived_quantities_against_a_dense_grid_and_mass_conservation():
    params = rate_free(20.0, 1e25) + [fit.Parameter("r_ign_out", 0.5, 0.2, 1.0, "flat")]
    t_first, t_last = 101.0, 180.0
    model = fit.Model(BASE, params, fixed_values(), [dataset(np.array([t_first, t_last]), np.ones(2), np.ones(2))])
    u = np.array([math.log10(20.0), 25.0, 0.5])
    d = fit.derived_quantities(model, u, t_first, t_last)
    disc = BASE.replace(texp=20.0, mdisk=1e25, r_ign_out=0.5)
    grid = np.linspace(0.01, 60.0, 60000) * DAY
    rate = disc.mdot(grid)
    k = int(np.argmax(rate))
    assert d["peak_time"] - TRUTH["t0"] == pytest.approx(grid[k] / DAY, abs=2e-3)  # the grid's step
    assert d["peak_rate"] >= rate[k] * (1 - 1e-12)
    assert d["peak_rate"] == pytest.approx(rate[k], rel=1e-6)  # flat top: the grid's step squared
    # Eddington luminosity 1.2572e38 erg/s per solar mass (hydrogen, Thomson)
    l_edd = 1.2572e38 * BASE.parameters["mass"] / 1.98847e33
    assert d["peak_eddington_ratio"] == pytest.approx(0.1 * rate[k] * C_LIGHT ** 2 / l_edd, rel=1e-3)
    # the mass accreted over the span: the rate integrated (Simpson)
    from scipy.integrate import simpson
    s = np.linspace((t_first - 100) * DAY, (t_last - 100) * DAY, 4001)
    assert d["accreted_mass"] == pytest.approx(simpson(disc.mdot(s), x=s), rel=1e-6)
    # the initial mass: what the disc holds plus what it has accreted, at any time
    late = 50.0 * DAY
    assert d["initial_mass"] == pytest.approx(float(disc.disc_mass(late) + disc.accreted_mass(late)), rel=1e-6)
    assert d["initial_mass"] < 0.9 * 1e25  # not mdisk: the ring holds part of the normalisation


def test_a_model_that_is_not_finite_in_the_mcmc_is_named_not_a_traceback():
    # a model that gives nan above texp = 20.3 d (as the core did at isolated
    # orders l): the sampler stops with the walker's parameters
    class NanAbove(fit.Model):
        def predict_many(self, U):
            M = super().predict_many(U)
            M[U[:, 0] > math.log10(20.3)] = np.nan
            return M

    rng = np.random.default_rng(6)
    t, y, err = synthetic(rng, 30, rel=0.2)
    sets = [dataset(t, y, err)]
    ls = least_squares(sets, rate_free())
    model = NanAbove(BASE, rate_free(), fixed_values(), sets)
    args = type("Args", (), dict(seed=1, walkers=8, steps=400, burn=None, processes=1, quiet=True))
    with pytest.raises(fit.NonFiniteModel) as caught:
        fit.mcmc(model, fit.Likelihood(model), ls, args)
    assert caught.value.values["texp"] > 20.3
    assert caught.value.describe().startswith("the model is not finite at texp = ")
