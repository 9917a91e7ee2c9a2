"""The shipped stubs of the compiled module match the signatures it reports."""

import ast
import re
from pathlib import Path

import quorvel

STUB = Path(__file__).resolve().parent.parent / "python" / "quorvel.pyi"

# How the binding's type names are written in the stubs: arguments accept more than results give.
ARGUMENT_TYPES = {"List[float]": "Sequence[float] | numpy.typing.ArrayLike"}
RESULT_TYPES = {
    "List[float]": "list[float]",
    "numpy.ndarray[numpy.float64[m, n]]": "numpy.typing.NDArray[numpy.float64]",
}


def module_signatures():
    """name -> ([(argument name, type)], result type) read from the module's docstrings."""
    signatures = {}
    cls = quorvel.NonStationary
    members = {n: getattr(cls, n) for n in vars(cls) if not n.startswith("_") or n == "__init__"}
    for name, member in members.items():
        if isinstance(member, property):
            for kind, accessor in (("get", member.fget), ("set", member.fset)):
                signatures[f"{name}.{kind}"] = parse(accessor.__doc__)
        else:
            signatures[name] = parse(member.__doc__)
    return signatures


def parse(doc):
    match = re.search(r"\((.*)\) -> (.+)", doc.strip().splitlines()[0])
    arguments = [a.split(": ", 1) for a in match.group(1).split(", ") if ": " in a]
    return [(n, ARGUMENT_TYPES.get(t, t)) for n, t in arguments[1:]], RESULT_TYPES.get(
        match.group(2), match.group(2)
    )


def stub_signatures():
    tree = ast.parse(STUB.read_text())
    (cls,) = [node for node in tree.body if isinstance(node, ast.ClassDef)]
    signatures = {}
    for node in cls.body:
        decorators = [ast.unparse(d) for d in node.decorator_list]
        name = node.name
        if "property" in decorators:
            name += ".get"
        elif any(d.endswith(".setter") for d in decorators):
            name += ".set"
        arguments = node.args.posonlyargs + node.args.args
        types = [(a.arg, ast.unparse(a.annotation)) for a in arguments[1:]]
        signatures[name] = types, ast.unparse(node.returns)
    return signatures, {n.target.id for n in tree.body if isinstance(n, ast.AnnAssign)}


def test_stub_signatures_match_the_module():
    stubs, attributes = stub_signatures()
    assert stubs == module_signatures()
    assert attributes == {"__version__"}
    assert {n for n in dir(quorvel) if not n.startswith("_")} == {"NonStationary"}


def test_stub_is_installed_beside_the_module_and_as_a_stub_package():
    installed = Path(quorvel.__file__).parent
    assert (installed / "quorvel.pyi").read_text() == STUB.read_text()
    assert (installed / "quorvel-stubs" / "__init__.pyi").read_text() == STUB.read_text()


def test_engine_stub_names_what_the_engine_has_with_its_parameters_in_order():
    from quorvel_tools import _engine

    tree = ast.parse((STUB.parent / "quorvel_tools" / "_engine.pyi").read_text())
    functions = {
        node.name: [a.arg for a in node.args.args]
        for node in tree.body
        if isinstance(node, ast.FunctionDef)
    }
    others = {node.target.id for node in tree.body if isinstance(node, ast.AnnAssign)}
    others |= {node.name for node in tree.body if isinstance(node, ast.ClassDef)}
    names = {n for n in dir(_engine) if not n.startswith("_")}
    assert set(functions) | others == names
    for name, parameters in functions.items():
        first = getattr(_engine, name).__doc__.strip().splitlines()[0]
        listed = re.search(r"\((.*)\) ->", first).group(1)
        assert [p.split(":")[0] for p in re.split(r", (?=\w+:)", listed)] == parameters, name
