"""Physical constants of velmora's tools, CGS units, each written once.

``G``, ``c`` and ``day`` are the model's own constants, taken from the
compiled module: the program, the module and the tools compute with the same
numbers (``G`` = 6.67428e-8 is velmora's value, 1e-4 from CODATA 2018's).
The others are exact SI definitions or CODATA 2018 / IAU 2015 values, the
ones astropy 5 uses, so that ``10 * velmora.constants.solar_mass`` is the
mass astropy gives for ``10 * u.Msun``.

Attributes
----------
G : float
    Gravitational constant, cm^3 g^-1 s^-2 (the model's).
c : float
    Speed of light, cm/s (the model's).
day : float
    Seconds per day, s.
solar_mass : float
    Nominal solar mass, g: the IAU 2015 nominal GM_sun over CODATA 2018's G.
parsec, kpc : float
    Parsec and kiloparsec, cm (IAU 2015: 648000/pi astronomical units).
sigma_sb : float
    Stefan-Boltzmann constant, erg cm^-2 s^-1 K^-4.
h_planck : float
    Planck constant, erg s (exact).
k_boltzmann : float
    Boltzmann constant, erg/K (exact).
keV : float
    One kiloelectronvolt, erg (exact).
proton_mass : float
    Proton mass, g.
thomson_cross_section : float
    Thomson cross-section, cm^2.
"""

import math

from . import _velmora

__all__ = ["G", "c", "day", "solar_mass", "parsec", "kpc", "sigma_sb", "h_planck", "k_boltzmann", "keV",
           "proton_mass", "thomson_cross_section", "eddington_luminosity"]

G = float(_velmora.G)              # cm^3 g^-1 s^-2
c = float(_velmora.c_light)        # cm/s
day = float(_velmora.seconds_per_day)  # s

solar_mass = 1.988409870698051e33  # g
parsec = 3.0856775814913673e18     # cm
kpc = 1e3 * parsec                 # cm
sigma_sb = 5.6703744191844314e-05  # erg cm^-2 s^-1 K^-4 (2 pi^5 k^4 / (15 h^3 c^2), exact in SI)
h_planck = 6.62607015e-27          # erg s
k_boltzmann = 1.380649e-16         # erg/K
keV = 1.602176634e-9               # erg
proton_mass = 1.67262192369e-24    # g
thomson_cross_section = 6.6524587321e-25  # cm^2


def eddington_luminosity(mass_g):
    """The Eddington luminosity of a mass accreting ionised hydrogen.

    L_Edd = 4 pi G M m_p c / sigma_T, where radiation pressure on the
    electrons balances gravity on the protons.

    Parameters
    ----------
    mass_g : float or array_like
        Mass of the central object, g.

    Returns
    -------
    float or numpy.ndarray
        Luminosity, erg/s (1.26e38 erg/s per solar mass).
    """
    factor = 4.0 * math.pi * G * proton_mass * c / thomson_cross_section
    try:
        return factor * mass_g
    except TypeError:
        import numpy as np  # a list of masses

        return factor * np.asarray(mass_g, dtype=float)
