"""The type stub of an installed module (abyx.pyi beside it, abyx-stubs for mypy) names its public names."""

import ast
import importlib.metadata
from pathlib import Path

import pytest

import abyx


def test_installed_stubs_name_exactly_the_public_names():
    module = Path(abyx.__file__).resolve()
    try:
        installed = {Path(f.locate()).resolve() for f in importlib.metadata.files("abyx") or ()}
    except importlib.metadata.PackageNotFoundError:
        installed = set()
    if module not in installed:
        pytest.skip("abyx is not imported from an installed distribution")
    public = {name for name in dir(abyx) if not name.startswith("_")}
    for stub in (module.with_name("abyx.pyi"), module.with_name("abyx-stubs") / "__init__.pyi"):
        body = ast.parse(stub.read_text(encoding="utf-8")).body
        assert {node.name for node in body if isinstance(node, (ast.ClassDef, ast.FunctionDef))} == public
