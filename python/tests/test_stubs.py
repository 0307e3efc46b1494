# SPDX-License-Identifier: Apache-2.0
"""The package's typing files and version against the compiled module."""
import ast
import inspect
import pathlib
import re

import lumivex
from lumivex import _lumivex

PACKAGE = pathlib.Path(lumivex.__file__).parent
ROOT = pathlib.Path(__file__).resolve().parents[2]


def _entries(body):
    """Names a stub body defines, and the bodies of its classes."""
    names, classes = set(), {}
    for node in body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.add(node.name)
        if isinstance(node, ast.ClassDef):
            classes[node.name] = node.body
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names.add(node.target.id)
    return names, classes


def _missing(module_or_class, body, where):
    """Public names of the object without an entry in the stub body."""
    names, classes = _entries(body)
    public = vars(module_or_class) if inspect.isclass(module_or_class) else {
        n: getattr(module_or_class, n) for n in dir(module_or_class)}
    missing = []
    for name, value in public.items():
        if name.startswith("__") or (name.startswith("_") and name != "_analysis"):
            continue
        if name not in names:
            missing.append(where + name)
        elif inspect.isclass(value) or inspect.ismodule(value):
            missing += _missing(value, classes.get(name, []), where + name + ".")
    return missing


def test_every_public_name_of_the_compiled_module_has_a_stub_entry():
    # A binding added without its stub entry is listed here by name.
    stub = ast.parse((PACKAGE / "_lumivex.pyi").read_text())
    assert _missing(_lumivex, stub.body, "") == []
    assert (PACKAGE / "py.typed").exists()


def test_version_is_the_projects():
    project = re.search(r"project\(lumivex VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())
    assert lumivex.__version__ == project.group(1)
    assert "__version__" in lumivex.__all__
