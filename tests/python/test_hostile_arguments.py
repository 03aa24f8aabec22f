"""Reproducers of the module's defects under hostile arguments: each now a
Python exception naming the parameter, or the sound behaviour."""

import os
import pathlib
import pickle

import numpy as np
import pytest

import velmora

SOURCE_DIR = pathlib.Path(os.environ.get("VELMORA_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
DEFAULT_PAR = SOURCE_DIR / "examples" / "default.par"


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_every_pickle_protocol_gives_the_same_model(protocol):
    disc = velmora.Disc.from_file(DEFAULT_PAR).replace(mdisk=3e24)
    copy = pickle.loads(pickle.dumps(disc, protocol))
    t = disc.output_times()
    assert copy.parameters == disc.parameters and copy.run_settings == disc.run_settings
    assert copy.mdot(t).tolist() == disc.mdot(t).tolist()


# (call, exception type, the parameter named at the start of the message)
WRONG_ARGUMENTS = [
    (lambda d: velmora.Disc(mass="1e25"), TypeError, "mass"),
    (lambda d: d.replace(texp="20"), TypeError, "texp"),
    (lambda d: d.replace(l=[0.4]), TypeError, "l"),
    (lambda d: d.replace(flag_outer=1.5), TypeError, "flag_outer"),
    (lambda d: d.replace(flag_outer=2**40), velmora.ParameterError, "flag_outer"),
    (lambda d: velmora.Disc.from_file(None), TypeError, "path"),
    (lambda d: velmora.Disc.from_file(3.5), TypeError, "path"),
    (lambda d: velmora.Disc.from_file(str(DEFAULT_PAR) + "\0.txt"), velmora.ParameterError, "path"),
    (lambda d: d.replace(flag_outer=2, supply_file="table\0.txt"), velmora.ParameterError, "supply_file"),
]


@pytest.mark.parametrize("call,error,parameter", WRONG_ARGUMENTS, ids=[f"{e.__name__}-{p}-{i}" for i, (_, e, p) in
                                                                      enumerate(WRONG_ARGUMENTS)])
def test_wrong_arguments_name_the_parameter(call, error, parameter):
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    with pytest.raises(error) as caught:
        call(disc)
    assert str(caught.value).startswith(parameter + (": " if error is TypeError else "")), str(caught.value)


def test_numpy_scalars_are_numbers():
    disc = velmora.Disc.from_file(DEFAULT_PAR)
    same = disc.replace(mass=np.float64(disc.parameters["mass"]), flag_outer=np.int64(0))
    assert same.mdot(1e6) == disc.mdot(1e6)


def test_paths_that_are_not_utf8_and_directories(tmp_path):
    folder = os.fsencode(tmp_path) + b"/caf\xe9"
    os.mkdir(folder)
    par = folder + b"/model.par"
    with open(par, "wb") as f:
        f.write(DEFAULT_PAR.read_bytes())
    for path in (par, os.fsdecode(par)):
        assert velmora.Disc.from_file(path).parameters == velmora.Disc.from_file(DEFAULT_PAR).parameters
    with pytest.raises(IsADirectoryError):
        velmora.Disc.from_file(folder)
