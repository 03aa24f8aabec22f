"""An outburst computed without velmora: the viscous diffusion of the disc's
torque by finite differences, and what a telescope sees of the disc by direct
quadrature. It makes synthetic light curves for fits that velmora's own core
did not make, and checks itself against a closed form and a steady disc.

The torque over 2 pi, F = (3/2) nu Sigma h (h = sqrt(G M r), the Keplerian
specific angular momentum), obeys mass and angular-momentum conservation:

    dSigma/dt = (1 / (2 pi r)) dMdot/dr,     Mdot = 2 pi dF/dh   (inflow positive),

and with nu = nu_out (r / r_out)^b, b = 2 - 1/(2 l), xi = h / h_out:

    xi^(1/l - 2) dF/dt = A d^2F/dxi^2,       A = (3/4) nu_out / r_out^2,

with F = 0 at the centre and no inflow through the outer edge (dF/dxi = 0 at
xi = 1). The disc's mass is (2 pi / (A h_out)) int xi^(1/l - 2) F dxi and the
inner rate (2 pi / h_out) dF/dxi at xi = 0. The slowest eigenmode,
xi^(1/2) J_l(z xi^(1/(2l))) with J_(l-1)(z) = 0 (the outer condition), decays
as exp(-A z^2 t / (4 l^2)): texp = 4 l^2 / (A z_0^2) fixes A.

Space: finite volumes on nodes clustered towards the centre (xi = (j/N)^p),
each node's weight the exact integral of xi^(1/l - 2) over its cell, so that
the discrete mass changes only by the flux through the first face. Time:
Crank-Nicolson, started by four backward-Euler quarter steps so that the jumps
of the initial ring do not ring on."""
import math

import numpy as np
from scipy import optimize, special
from scipy.interpolate import CubicSpline
from scipy.linalg import solve_banded

# CGS constants of the steady-disc reference quadrature (its file's second
# line); velmora's own differ by up to 1e-6 relative.
G = 6.67428e-08
C = 29979245800.0
SIGMA_SB = 5.670374e-05
H = 6.62607015e-27
K_B = 1.380649e-16
KEV = 1.602176634e-09
DAY = 86400.0
KPC = 3.0856775814913673e21


def first_zero(order):
    """The first positive zero of J_order (order > -1), bracketed on a grid."""
    z = np.linspace(1e-3, 20.0, 4000)
    v = special.jv(order, z)
    i = np.nonzero(np.sign(v[:-1]) != np.sign(v[1:]))[0][0]
    return optimize.brentq(lambda x: special.jv(order, x), z[i], z[i + 1], xtol=1e-15)


class Disc:
    """The disc of a velmora parameter set (mass, r_out_disk, l, texp in days,
    mdisk, r_ign_in, r_ign_out, sigma_index; no outer supply), on N nodes."""

    def __init__(self, p, n=1600, power=1.6):
        self.p = dict(p)
        self.l = p["l"]
        if not 0.0 < self.l < 1.0:
            raise ValueError("the cell weights integrate xi^(1/l - 2) as a power: 0 < l < 1")
        self.gm = G * p["mass"]
        self.r_out = p["r_out_disk"]
        self.h_out = math.sqrt(self.gm * self.r_out)
        self.z0 = first_zero(self.l - 1.0)
        self.a = 4.0 * self.l ** 2 / (self.z0 ** 2 * p["texp"] * DAY)
        self.xi = (np.arange(n + 1) / n) ** power
        q = 1.0 / self.l - 1.0                       # xi^(1/l - 2) integrates to xi^q / q
        mid = np.concatenate([[0.0], 0.5 * (self.xi[1:] + self.xi[:-1]), [1.0]])
        self.weight = (mid[2:] ** q - mid[1:-1] ** q) / q   # cells of nodes 1..N
        self.initial = self.initial_torque(mid)

    def initial_torque(self, mid):
        """Cell averages of F at t = 0 for Sigma ~ r^s on [r_ign_in, r_ign_out]
        r_out, normalised to mdisk over [r_ign_in, 1] r_out: F ~ Sigma nu h ~
        xi^(5 - 1/l + 2 s), so the weighted F ~ xi^(3 + 2 s)."""
        s, m = self.p["sigma_index"], self.p["mdisk"]
        lo, hi = math.sqrt(self.p["r_ign_in"]), math.sqrt(self.p["r_ign_out"])
        e = 4.0 + 2.0 * s
        k = m * self.a * self.h_out * e / (2.0 * math.pi * (1.0 - lo ** e))   # int_lo^1 K xi^(e-1) = m A h_out / 2 pi
        a, b = np.clip(mid[1:-1], lo, hi), np.clip(mid[2:], lo, hi)
        return k * (b ** e - a ** e) / e / self.weight

    def mass(self, f):
        return 2.0 * math.pi / (self.a * self.h_out) * np.dot(self.weight, f)

    def rate(self, f):
        """Inner rate: the flux through the first face."""
        return 2.0 * math.pi / self.h_out * f[0] / self.xi[1]

    def _operator(self):
        """A d^2/dxi^2 on nodes 1..N (F_0 = 0, no flux beyond xi = 1) as bands."""
        inv = 1.0 / np.diff(self.xi)               # faces j+1/2, j = 0..N-1
        lower = self.a * inv[1:]                    # coefficient of F_(j-1) in row j
        upper = self.a * inv[1:]                    # coefficient of F_(j+1) in row j
        diag = -self.a * (inv + np.append(inv[1:], 0.0))
        return lower, diag, upper

    def evolve(self, times_s, f=None, dt_min_texp=1e-7, growth=1.015, dt_max_texp=1.5e-3):
        """F on the nodes 1..N at each time (s, ascending, > 0), from the
        initial disc or from f at t = 0."""
        texp = self.p["texp"] * DAY
        lower, diag, upper = self._operator()
        f = (self.initial if f is None else np.asarray(f, float)).copy()
        out, t, dt, first = [], 0.0, dt_min_texp * texp, True

        def step(f, h, theta):
            ab = np.zeros((3, f.size))
            ab[0, 1:] = -theta * h * upper
            ab[1] = self.weight - theta * h * diag
            ab[2, :-1] = -theta * h * lower
            rhs = self.weight * f
            if theta < 1.0:
                lf = diag * f
                lf[:-1] += upper * f[1:]
                lf[1:] += lower * f[:-1]
                rhs = rhs + (1.0 - theta) * h * lf
            return solve_banded((1, 1), ab, rhs)

        for target in times_s:
            while t < target:
                h = min(dt, target - t)
                if first:                          # Rannacher start: damps the initial jumps
                    for _ in range(4):
                        f = step(f, h / 4.0, 1.0)
                    first = False
                else:
                    f = step(f, h, 0.5)
                t += h
                dt = min(dt * growth, dt_max_texp * texp)
            out.append(f.copy())
        return np.array(out)

    # --- what the disc looks like ------------------------------------------

    def torque_at(self, f, r):
        """F at radii r (cm) from the nodes: a spline of F / xi in y = xi^(1/(2l)),
        a smooth function there, with F / xi at 0 the inner rate's h_out / 2 pi."""
        xi = self.xi[1:]
        g = np.concatenate([[self.rate(f) * self.h_out / (2.0 * math.pi)], f / xi])
        spline = CubicSpline(np.concatenate([[0.0], xi]) ** (0.5 / self.l), g)
        x = np.sqrt(np.asarray(r) / self.r_out)
        return x * spline(x ** (0.5 / self.l))


def ring_quadrature(r_in, r_out, per_efold=24):
    """Nodes and weights of int_{r_in}^{r_out} dr, Gauss-Legendre in
    q = ln(r / r_in - 1) from 1e-9 (the rings below add nothing) on panels one
    e-fold wide: smooth in q for integrands ~ (r - r_in)^(1/4)."""
    x, w = np.polynomial.legendre.leggauss(per_efold)
    q_lo, q_hi = math.log(1e-9), math.log(r_out / r_in - 1.0)
    edges = np.linspace(q_lo, q_hi, int(math.ceil(q_hi - q_lo)) + 1)
    q = np.concatenate([0.5 * (b - a) * x + 0.5 * (a + b) for a, b in zip(edges[:-1], edges[1:])])
    wq = np.concatenate([0.5 * (b - a) * w for a, b in zip(edges[:-1], edges[1:])])
    u = np.exp(q)
    return r_in * (1.0 + u), r_in * u * wq


def effective_temperature(torque, rate, mass, r):
    """Each face radiates half the viscous dissipation G dOmega/dr / (2 pi r) =
    (3/2) F Omega / r^2, with the torque moved to vanish at the marginally
    stable orbit: F_ms = F - Mdot h_ms / (2 pi). Zero where F_ms < 0."""
    gm = G * mass
    h_ms = math.sqrt(gm * 6.0 * gm / C ** 2)
    f_ms = torque - rate[..., None] * h_ms / (2.0 * math.pi)
    omega = np.sqrt(gm / r ** 3)
    return (np.clip(0.75 * f_ms * omega / r ** 2, 0.0, None) / SIGMA_SB) ** 0.25


def planck_energy(e_erg, t):
    """B_E = 2 E^3 / (h^3 c^2 (exp(E / k T) - 1)), erg/s/cm^2/sr/erg."""
    with np.errstate(over="ignore", divide="ignore", invalid="ignore"):
        x = e_erg / (K_B * t)
        b = 2.0 * e_erg ** 3 / (H ** 3 * C ** 2) / np.expm1(x)
    return np.where(t > 0, b, 0.0)


def observe(torque_fn, rate, p, distance, inclination, band=None, frequency=None, f_col=1.0):
    """The flux of a flat disc at distance (cm) and inclination (degrees):
    (2 pi cos i / d^2) int_{r_ms}^{r_out} r dr I, I = f_col^-4 B(f_col T),
    integrated over a band (keV, erg/s/cm^2) or at a frequency (Hz,
    erg/s/cm^2/Hz). torque_fn(r) gives F at each epoch: shape (epochs, radii)."""
    gm = G * p["mass"]
    r, wr = ring_quadrature(6.0 * gm / C ** 2, p["r_out_disk"])
    tc = f_col * effective_temperature(torque_fn(r), np.atleast_1d(rate), p["mass"], r)
    if band is not None:
        xg, wg = np.polynomial.legendre.leggauss(48)
        e1, e2 = band[0] * KEV, band[1] * KEV
        e = 0.5 * (e2 - e1) * xg + 0.5 * (e1 + e2)
        spectrum = planck_energy(e[None, None, :], tc[..., None]) @ (0.5 * (e2 - e1) * wg)
    else:
        spectrum = planck_energy(H * frequency, tc) * H          # B_nu = h B_E
    intensity = spectrum / f_col ** 4
    return 2.0 * math.pi * math.cos(math.radians(inclination)) / distance ** 2 * (intensity @ (r * wr))
