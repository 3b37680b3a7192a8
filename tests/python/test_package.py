"""The installable package: the module's public surface, its type stub and its version."""

import ast
import importlib.metadata
import inspect
import os
import pathlib
import re
import sys
import types

import pytest

import morvex
from conftest import BUILD_DIR

import tomllib

ROOT = pathlib.Path(__file__).resolve().parents[2]
STUB = ROOT / "src" / "python" / "morvex" / "morvex.pyi"
PUBLIC = ["Pattern", "read", "read_bytes"]


def stub_tree():
    return ast.parse(STUB.read_text(encoding="utf-8"))


def stub_functions(body):
    return {node.name: node for node in body if isinstance(node, ast.FunctionDef)}


def version():
    return (ROOT / "VERSION").read_text(encoding="utf-8").strip()


class TestModuleSurface:
    def test_only_the_public_names_and_dunders(self):
        names = [n for n in dir(morvex) if not (n.startswith("__") and n.endswith("__"))]
        assert sorted(names) == PUBLIC
        assert morvex.__all__ == PUBLIC

    def test_the_version_is_not_a_module_attribute(self):
        assert not hasattr(morvex, "__version__")


class TestStubMatchesModule:
    def test_stub_exports_the_same_names(self):
        tree = stub_tree()
        defined = [n.name for n in tree.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))]
        assert sorted(defined) == PUBLIC
        (all_assignment,) = [n for n in tree.body
                             if isinstance(n, ast.Assign) and n.targets[0].id == "__all__"]
        assert ast.literal_eval(all_assignment.value) == morvex.__all__

    @pytest.mark.parametrize("name", ["read", "read_bytes"])
    def test_functions_have_the_runtime_parameters_and_docs(self, name):
        node = stub_functions(stub_tree().body)[name]
        runtime = getattr(morvex, name)
        assert [a.arg for a in node.args.args] == list(inspect.signature(runtime).parameters)
        assert not node.args.kwonlyargs and node.args.vararg is None and node.args.kwarg is None
        assert ast.get_docstring(node) == runtime.__doc__
        assert ast.unparse(node.returns) == "Pattern"

    def test_pattern_has_the_runtime_attributes_read_only(self):
        (cls,) = [n for n in stub_tree().body if isinstance(n, ast.ClassDef)]
        assert ast.get_docstring(cls) == morvex.Pattern.__doc__
        props = stub_functions(cls.body)
        runtime = {n: v for n, v in vars(morvex.Pattern).items()
                   if isinstance(v, types.GetSetDescriptorType)}
        assert list(props) == list(runtime) == ["x", "y", "e"]
        for name, node in props.items():
            # A bare @property with no setter is what makes the attribute read-only for mypy.
            assert [ast.unparse(d) for d in node.decorator_list] == ["property"]
            assert ast.get_docstring(node) == runtime[name].__doc__
        returns = {n: ast.unparse(node.returns) for n, node in props.items()}
        assert returns == {"x": "list[float]", "y": "list[float]", "e": "list[float] | None"}


class TestVersion:
    def test_metadata_and_changelog_take_it_from_the_version_file(self):
        with (ROOT / "pyproject.toml").open("rb") as f:
            pyproject = tomllib.load(f)
        assert "version" in pyproject["project"]["dynamic"]
        assert pyproject["tool"]["scikit-build"]["metadata"]["version"]["input"] == "VERSION"
        changelog = (ROOT / "CHANGELOG.md").read_text(encoding="utf-8")
        assert re.search(r"^## (?!Unreleased)(\S+)", changelog, re.MULTILINE).group(1) == version()

    def test_the_abi3_floor_is_the_oldest_python_the_metadata_admits(self):
        with (ROOT / "pyproject.toml").open("rb") as f:
            pyproject = tomllib.load(f)
        floor = pyproject["tool"]["scikit-build"]["wheel"]["py-api"]
        assert pyproject["project"]["requires-python"] == f">=3.{floor[3:]}"

    @pytest.mark.skipif(bool(os.environ.get("MORVEX_INSTALLED")), reason="no build tree")
    def test_cmake_reads_it(self):
        cache = (BUILD_DIR / "CMakeCache.txt").read_text(encoding="utf-8")
        assert f"CMAKE_PROJECT_VERSION:STATIC={version()}\n" in cache

    @pytest.mark.skipif(not os.environ.get("MORVEX_INSTALLED"), reason="needs the installed wheel")
    def test_installed_metadata_carries_version_licence_and_converter(self):
        meta = importlib.metadata.metadata("morvex")
        assert (meta["Version"], meta["License"]) == (version(), "MIT")
        files = {str(f) for f in importlib.metadata.files("morvex")}
        assert {"morvex.abi3.so", "morvex.pyi", "morvex-stubs/__init__.pyi",
                "morvex-stubs/py.typed", "morvex_convert/cli.py",
                f"morvex-{version()}.dist-info/licenses/LICENSE"} <= files
        (script,) = importlib.metadata.entry_points(group="console_scripts", name="morvex-convert")
        assert script.value == "morvex_convert.cli:main"
