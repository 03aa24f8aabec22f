"""The type stubs of the compiled module (velmora/_velmora.pyi) against the module itself:
every public name and every method of Disc has a stub, with the module's argument names."""

import ast
import inspect
import pathlib

import velmora
from velmora import _velmora

STUB = pathlib.Path(velmora.__file__).with_name("_velmora.pyi")


def stub_tree():
    return ast.parse(STUB.read_text(encoding="utf-8"))


def stub_names(body):
    names = {}
    for node in body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names[node.name] = node
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names[node.target.id] = node
    return names


def test_stub_is_installed_beside_the_module():
    assert STUB.is_file(), f"{STUB} missing: the package's build copies python/velmora/*.pyi"
    assert STUB.with_name("py.typed").is_file()


def test_every_public_name_of_the_module_has_a_stub():
    stubbed = stub_names(stub_tree().body)
    public = {name for name in vars(_velmora) if not name.startswith("_")} | {"__version__"}
    assert sorted(public - set(stubbed)) == [], "names of velmora._velmora without a stub in " + str(STUB)
    assert sorted(n for n in set(stubbed) - public if not n.startswith("_")) == [], "stubs of names the module lacks"


def test_every_method_of_disc_has_a_stub_with_its_arguments():
    disc_stub = stub_names(stub_names(stub_tree().body)["Disc"].body)
    for name, member in vars(_velmora.Disc).items():
        if name.startswith("__") and name not in ("__init__", "__getstate__", "__setstate__"):
            continue
        assert name in disc_stub, f"velmora.Disc.{name} has no stub in {STUB}"
        node = disc_stub[name]
        if not isinstance(node, ast.FunctionDef) or isinstance(member, property) or name in ("replace", "__setstate__"):
            continue
        try:
            signature = inspect.signature(getattr(_velmora.Disc, name))
        except (TypeError, ValueError):
            continue
        stubbed = [a.arg for a in node.args.args + node.args.kwonlyargs if a.arg != "self"]
        actual = [p for p in signature.parameters if p != "self"]
        assert stubbed == actual, f"Disc.{name}: stub {stubbed}, module {actual}"
