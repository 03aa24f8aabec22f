"""velmora: the evolution of the accretion rate of a viscous accretion disc.

The disc's torque is the exact solution of the viscous diffusion equation
(a sum of Bessel eigenmodes plus closed-form profiles of the outer supply),
evaluated for any times and radii. Units are cgs; times in seconds since the
start of the evolution; the model's keywords in the parameter file's units.
astropy quantities and numpy timedelta64 times are converted where a number
is taken (velmora.units).

    >>> import velmora
    >>> disc = velmora.Disc.from_file("examples/default.par")
    >>> disc.mdot([1e6, 2e6])            # g/s at the centre
    >>> disc.replace(texp=20).mdot(1e6)  # reuses the projections of the first model

See help(velmora.Disc); velmora.constants for the constants of the tools.
"""

from ._velmora import (Disc, Keyword, ParameterError, ParameterFileWarning, PlausibilityWarning, SolutionError,
                       __version__, format_parameter_file, keywords, read_parameter_file, write_parameter_file)
from . import _disc, constants, units

_disc.install(Disc)
Disc.__module__ = __name__  # velmora.Disc in help(), repr() and pickles
Keyword.__module__ = __name__

__all__ = ["Disc", "Keyword", "ParameterError", "ParameterFileWarning", "PlausibilityWarning", "SolutionError",
           "format_parameter_file", "keywords", "read_parameter_file", "write_parameter_file", "constants", "units"]
