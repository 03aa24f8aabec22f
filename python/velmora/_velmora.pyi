# Type stubs of the compiled module velmora._velmora (pybind11), re-exported by
# the package velmora. Units: the parameter file's for the model's keywords,
# CGS elsewhere, times in seconds since the start of the evolution. At the
# package's import every method also takes astropy quantities and numpy
# timedelta64 times (velmora.units), which the types below admit as array_like.

import os
from typing import Any, Mapping, Optional, Union

import numpy as np
from numpy.typing import ArrayLike, NDArray

__version__: str

# The model's constants (CGS), as the program computes with them.
G: float  # cm^3 g^-1 s^-2
c_light: float  # cm/s
seconds_per_day: float  # s
# The radiation constants of the observables (CGS): sigma_sb is 2 pi^5 k^4 / (15 h^3 c^2) of these and c_light.
h_planck: float  # erg s
k_boltzmann: float  # erg/K
keV: float  # erg
sigma_sb: float  # erg cm^-2 s^-1 K^-4

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
# A float for a scalar argument, an array of the arguments' shape otherwise.
_Result = Union[float, NDArray[np.float64]]
_Value = Union[float, int, str]

class ParameterError(ValueError):
    """A model quantity or argument that cannot be used; `parameter` is its keyword (or None)."""

    parameter: Optional[str]

class SolutionError(RuntimeError):
    """A time or quantity the solution cannot resolve."""

class ParameterFileWarning(UserWarning):
    """An entry of a parameter file that the reader drops although it looks like one."""

class PlausibilityWarning(UserWarning):
    """A model quantity that is valid but looks like another unit; the message names the value meant."""

class Keyword:
    """A keyword of the parameter file, as the program's reader knows it."""

    @property
    def name(self) -> str: ...
    @property
    def unit(self) -> str: ...  # as in a parameter file: g, cm, days, g/s, cgs, 1, count, flag, mode, text, or a keyword's name
    @property
    def kind(self) -> str: ...  # "real", "integer" or "text"
    @property
    def model(self) -> bool: ...
    @property
    def doc(self) -> str: ...

def keywords() -> list[Keyword]: ...
def read_parameter_file(path: _Path) -> dict[str, _Value]: ...
def format_parameter_file(values: Mapping[str, _Value]) -> str: ...
def write_parameter_file(path: _Path, values: Mapping[str, _Value]) -> None: ...
def _seconds_per_exponential(n: int) -> float: ...

class Disc:
    """A viscous accretion disc around a compact object, solved exactly."""

    def __init__(
        self,
        *,
        mass: ArrayLike = 0.0,  # g
        mdisk: ArrayLike = 0.0,  # g
        r_out_disk: ArrayLike = 0.0,  # cm
        l: float = 0.0,  # 0.1 <= l <= 10
        r_ign_in: ArrayLike = 0.0,  # units of r_out_disk (or a length)
        r_ign_out: ArrayLike = 0.0,  # units of r_out_disk (or a length)
        sigma_index: float = 0.0,
        texp: ArrayLike = 0.0,  # days
        kappa: ArrayLike = 0.0,  # cgs
        flag_outer: int = 0,
        mdot_out: ArrayLike = 0.0,  # g/s
        supply_file: Optional[_Path] = None,
    ) -> None: ...
    @staticmethod
    def from_file(path: _Path) -> Disc: ...
    def replace(self, **changes: Any) -> Disc: ...
    def mdot(self, t: ArrayLike) -> _Result: ...  # g/s
    def mdot_fit(self, t: ArrayLike) -> _Result: ...  # g/s
    def disc_mass(self, t: ArrayLike) -> _Result: ...  # g
    def accreted_mass(self, t: ArrayLike) -> _Result: ...  # g
    def supplied_mass(self, t: ArrayLike) -> _Result: ...  # g
    def torque(self, x: ArrayLike, t: ArrayLike) -> _Result: ...  # g cm^2 s^-2, shape t.shape + x.shape
    def surface_density(self, r: ArrayLike, t: ArrayLike) -> _Result: ...  # g/cm^2, shape t.shape + r.shape
    def modes_needed(self, t: ArrayLike) -> Union[int, NDArray[np.uint64]]: ...  # an int for a scalar t
    def output_times(self) -> NDArray[np.float64]: ...  # s
    # Observables (distance cm, inclination degrees from face-on, energies keV; tables (n, 2) rows or a pair).
    def effective_temperature(self, r: ArrayLike, t: ArrayLike, c_irr: float = 0.0) -> _Result: ...  # K, t.shape + r.shape
    def bolometric_flux(self, t: ArrayLike, *, distance: ArrayLike, inclination: ArrayLike) -> _Result: ...  # erg/s/cm^2
    def band_flux(
        self,
        t: ArrayLike,
        e_min: ArrayLike,
        e_max: ArrayLike,
        *,
        distance: ArrayLike,
        inclination: ArrayLike,
        f_col: float = 1.7,
        c_irr: float = 0.0,
        nh: ArrayLike = 0.0,
        cross_section: Optional[ArrayLike] = None,
    ) -> _Result: ...  # erg/s/cm^2
    def flux_density(
        self, t: ArrayLike, frequency: ArrayLike, *, distance: ArrayLike, inclination: ArrayLike, f_col: float = 1.0,
        c_irr: float = 0.0,
    ) -> _Result: ...  # erg/s/cm^2/Hz
    def ab_magnitude(
        self, t: ArrayLike, frequency: ArrayLike, *, distance: ArrayLike, inclination: ArrayLike, f_col: float = 1.0,
        c_irr: float = 0.0,
    ) -> _Result: ...  # mag
    def count_rate(
        self,
        t: ArrayLike,
        e_min: ArrayLike,
        e_max: ArrayLike,
        effective_area: ArrayLike,
        *,
        distance: ArrayLike,
        inclination: ArrayLike,
        f_col: float = 1.7,
        c_irr: float = 0.0,
        nh: ArrayLike = 0.0,
        cross_section: Optional[ArrayLike] = None,
    ) -> _Result: ...  # photons/s
    @property
    def parameters(self) -> dict[str, Any]: ...
    @property
    def run_settings(self) -> Optional[dict[str, Any]]: ...
    @property
    def texp_seconds(self) -> float: ...  # s
    @property
    def nu0(self) -> float: ...  # cgs
    @property
    def kappa(self) -> float: ...  # cgs
    @property
    def hout(self) -> float: ...  # cm^2/s
    @property
    def initial_mass(self) -> float: ...  # g
    def __getstate__(self) -> tuple[Any, ...]: ...
    def __setstate__(self, state: tuple[Any, ...]) -> None: ...
