"""The module as Python sees it: attributes, documentation, the Pattern type, argument
binding, values read back, initialisation and other interpreters."""

import gc
import glob
import importlib
import importlib.util
import inspect
import math
import pathlib
import struct
import subprocess
import sys
import threading
import weakref

import pytest

import morvex
from helpers import loader


load = loader("scan.xye")


class TestModuleAttributes:
    def test_exports(self):
        assert morvex.__all__ == ["Pattern", "read", "read_bytes"]
        assert type(morvex.__all__) is list
        for name in morvex.__all__:
            assert hasattr(morvex, name)
        assert morvex.__name__ == "morvex"
        assert morvex.__doc__ == "Python module definition for the `morvex` extension."
        assert pathlib.Path(morvex.__file__).name == "morvex.abi3.so"

    def test_function_docs_and_signatures(self):
        assert morvex.read.__doc__ == "Load a pattern from a file path."
        assert morvex.read.__text_signature__ == "(path)"
        assert morvex.read_bytes.__doc__ == "Load a pattern from raw bytes with a filename hint."
        assert morvex.read_bytes.__text_signature__ == "(data, filename)"
        for function, names in ((morvex.read, ["path"]), (morvex.read_bytes, ["data", "filename"])):
            parameters = inspect.signature(function).parameters
            assert list(parameters) == names
            for parameter in parameters.values():
                assert parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
                assert parameter.default is inspect.Parameter.empty

    def test_functions_belong_to_the_module(self):
        for name in ("read", "read_bytes"):
            function = getattr(morvex, name)
            assert function.__module__ == "morvex"
            assert function.__name__ == name
            assert function.__qualname__ == name
            assert function.__self__ is morvex

    def test_pattern_type(self):
        pattern_type = morvex.Pattern
        assert pattern_type.__name__ == "Pattern"
        assert pattern_type.__qualname__ == "Pattern"
        assert pattern_type.__module__ == "builtins"
        assert pattern_type.__doc__ == (
            "Represents a diffraction pattern with position, intensity, and optional error."
        )
        assert pattern_type.__bases__ == (object,)
        assert type(load("1 2\n")) is pattern_type
        assert type(load("1 2\n")).__qualname__ == "Pattern"
        assert type(load("1 2\n")).__module__ == "builtins"
        docs = {
            "x": "The x-axis values (e.g., 2-theta or Q).",
            "y": "The y-axis values (intensity).",
            "e": "The uncertainty/error values, if available.",
        }
        for name, doc in docs.items():
            assert pattern_type.__dict__[name].__doc__ == doc
        own = [name for name in pattern_type.__dict__ if not name.startswith("__")]
        assert own == ["x", "y", "e"]


class TestPatternIsReadOnly:
    def test_cannot_instantiate(self):
        with pytest.raises(TypeError, match="cannot create .*Pattern.* instances"):
            morvex.Pattern()
        with pytest.raises(TypeError):
            morvex.Pattern.__new__(morvex.Pattern)

    def test_cannot_subclass(self):
        with pytest.raises(TypeError, match="not an acceptable base type"):

            class Derived(morvex.Pattern):
                pass

    @pytest.mark.parametrize("name", ["x", "y", "e"])
    def test_attributes_cannot_be_set_or_deleted(self, name):
        pattern = load("1 2 3\n")
        with pytest.raises(AttributeError, match="not writable"):
            setattr(pattern, name, [1.0])
        with pytest.raises(AttributeError, match="not writable"):
            delattr(pattern, name)
        assert getattr(pattern, name) == [float(1 + "xye".index(name))]

    def test_no_other_attributes(self):
        pattern = load("1 2\n")
        with pytest.raises(AttributeError):
            pattern.extra = 1
        with pytest.raises(AttributeError):
            del pattern.extra
        with pytest.raises(AttributeError):
            pattern.__dict__
        with pytest.raises(TypeError):
            weakref.ref(pattern)

    def test_no_protocols_of_its_own(self):
        pattern = load("1 2\n")
        with pytest.raises(TypeError):
            len(pattern)
        with pytest.raises(TypeError):
            iter(pattern)
        assert pattern == pattern and pattern != load("1 2\n")  # identity only
        assert hash(pattern) == hash(pattern)


class TestValues:
    @pytest.mark.parametrize("rows", [2, 40_000])  # short lists and long ones are made apart
    def test_fresh_lists(self, rows):
        pattern = load("1 2 3\n4 5 6\n" + "7 8 9\n" * (rows - 2))
        for name in ("x", "y", "e"):
            first, second = getattr(pattern, name), getattr(pattern, name)
            assert type(first) is list
            assert first is not second
            assert first == second
            first.append(99.0)
            first[0] = -1.0
            assert getattr(pattern, name) == second
            assert first[-1] is not second[-1]
        assert pattern.x == [1.0, 4.0] + [7.0] * (rows - 2)
        assert all(type(v) is float for v in pattern.x + pattern.y + pattern.e)

    def test_two_columns_give_no_e(self):
        pattern = load("1 2\n3 4\n")
        assert pattern.e is None
        assert len(pattern.x) == len(pattern.y) == 2

    def test_empty_pattern(self):
        pattern = morvex.read_bytes(b"", "empty.xy")
        assert pattern.x == [] and pattern.y == [] and pattern.e is None
        assert pattern.x is not pattern.x

    def test_exact_special_values(self):
        pattern = load("nan -nan -0\ninf -inf 0\n-Infinity NaN -0.0\n1e400 -1e-400 1e-400\n")
        x, y, e = pattern.x, pattern.y, pattern.e
        assert math.isnan(x[0]) and math.copysign(1, x[0]) == 1
        assert math.isnan(y[0]) and math.copysign(1, y[0]) == -1
        assert e[0] == 0 and math.copysign(1, e[0]) == -1
        assert x[1] == math.inf and y[1] == -math.inf
        assert e[1] == 0 and math.copysign(1, e[1]) == 1
        assert x[2] == -math.inf and math.isnan(y[2])
        assert math.copysign(1, e[2]) == -1
        assert x[3] == math.inf
        assert y[3] == 0 and math.copysign(1, y[3]) == -1
        assert e[3] == 0 and math.copysign(1, e[3]) == 1

    def test_exact_doubles(self):
        values = [0.1, 1 / 3, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 123456.789]
        values += [struct.unpack("<d", struct.pack("<Q", k * 0x9E3779B97F4A7C15 % 2**63))[0]
                   for k in range(1, 200)]
        values = [v for v in values if math.isfinite(v)]
        text = "".join(f"{v!r} {-v!r} {v:.17e}\n" for v in values)
        pattern = load(text)
        assert pattern.x == values
        assert pattern.y == [-v for v in values]
        assert pattern.e == values

    def test_pattern_objects_release_their_type_reference(self):
        # Counts are taken into plain locals: assertion rewriting keeps its own references.
        pattern_type = morvex.Pattern
        load("1 2\n")  # warm up whatever the first call caches
        gc.collect()
        before = sys.getrefcount(pattern_type)
        patterns = [load("1 2\n") for _ in range(100)]
        during = sys.getrefcount(pattern_type)
        del patterns
        gc.collect()
        after = sys.getrefcount(pattern_type)
        assert (during - before, after - before) == (100, 0)


class TestArgumentBinding:
    def test_keywords_in_any_order(self):
        a = morvex.read_bytes(filename="a.xy", data=b"1 2\n")
        b = morvex.read_bytes(b"1 2\n", filename="a.xy")
        c = morvex.read_bytes(data=b"1 2\n", filename="a.xy")
        assert a.x == b.x == c.x == [1.0]

    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda: morvex.read(), "read() missing required argument 'path' (pos 1)"),
            (lambda: morvex.read("a.xy", "b"), "read() takes 1 positional argument but 2 were given"),
            (lambda: morvex.read("a.xy", path="b.xy"),
             "argument for read() given by name ('path') and position (1)"),
            (lambda: morvex.read(file="a.xy"), "read() got an unexpected keyword argument 'file'"),
            (lambda: morvex.read("a.xy", file="a.xy"),
             "read() got an unexpected keyword argument 'file'"),
            (lambda: morvex.read_bytes(b""),
             "read_bytes() missing required argument 'filename' (pos 2)"),
            (lambda: morvex.read_bytes(filename="a.xy"),
             "read_bytes() missing required argument 'data' (pos 1)"),
            (lambda: morvex.read_bytes(b"", "a.xy", "c"),
             "read_bytes() takes 2 positional arguments but 3 were given"),
            (lambda: morvex.read_bytes(b"", "a.xy", data=b""),
             "argument for read_bytes() given by name ('data') and position (1)"),
            (lambda: morvex.read_bytes(b"", "a.xy", filename="b.xy"),
             "argument for read_bytes() given by name ('filename') and position (2)"),
            (lambda: morvex.read_bytes(b"", name="a.xy"),
             "read_bytes() got an unexpected keyword argument 'name'"),
        ],
    )
    def test_binding_errors(self, call, message):
        with pytest.raises(TypeError) as caught:
            call()
        assert type(caught.value) is TypeError
        assert str(caught.value) == message

    @pytest.mark.parametrize(
        "call, prefix, given",
        [
            (lambda: morvex.read(b"a.xy"), "argument 'path': ", "bytes"),
            (lambda: morvex.read(pathlib.Path("a.xy")), "argument 'path': ", "Path"),
            (lambda: morvex.read(None), "argument 'path': ", "NoneType"),
            (lambda: morvex.read(3), "argument 'path': ", "int"),
            (lambda: morvex.read_bytes("1 2", "a.xy"), "argument 'data': ", "str"),
            (lambda: morvex.read_bytes(bytearray(b"1 2"), "a.xy"), "argument 'data': ", "bytearray"),
            (lambda: morvex.read_bytes(memoryview(b"1 2"), "a.xy"), "argument 'data': ", "memoryview"),
            # data is checked before filename
            (lambda: morvex.read_bytes(bytearray(), 5), "argument 'data': ", "bytearray"),
            (lambda: morvex.read_bytes(filename=5, data=None), "argument 'data': ", "NoneType"),
            (lambda: morvex.read_bytes(b"1 2", b"a.xy"), "argument 'filename': ", "bytes"),
            (lambda: morvex.read_bytes(b"1 2", pathlib.Path("a.xy")), "argument 'filename': ", "Path"),
        ],
    )
    def test_wrong_types(self, call, prefix, given):
        with pytest.raises(TypeError) as caught:
            call()
        text = str(caught.value)
        assert text.startswith(prefix)
        assert given in text
        assert "str" in text or "bytes" in text

    def test_subclasses_are_accepted(self):
        class Name(str):
            pass

        class Data(bytes):
            pass

        pattern = morvex.read_bytes(Data(b"1 2\n"), Name("a.xy"))
        assert pattern.x == [1.0]

    def test_str_subclass_path(self, tmp_path):
        class Name(str):
            pass

        path = tmp_path / "a.xy"
        path.write_bytes(b"3 4\n")
        assert morvex.read(Name(str(path))).y == [4.0]

    def test_unpaired_surrogates(self):
        with pytest.raises(UnicodeEncodeError):
            morvex.read("scan\udc80.xy")
        with pytest.raises(UnicodeEncodeError):
            morvex.read_bytes(b"1 2\n", "\ud800.xy")

    def test_non_ascii_names(self, tmp_path):
        path = tmp_path / "μ-Scan ☃.XY"
        path.write_bytes(b"1 2\n")
        assert morvex.read(str(path)).x == [1.0]
        assert morvex.read_bytes(b"1 2\n", "données/μ.xy").x == [1.0]


class TestInitialisation:
    def test_loading_the_library_again_gives_the_same_module(self):
        spec = importlib.util.spec_from_file_location("morvex", morvex.__file__)
        again = importlib.util.module_from_spec(spec)
        assert again is morvex
        assert importlib.reload(morvex) is morvex
        assert morvex.__all__ == ["Pattern", "read", "read_bytes"]

    def test_import_after_removal_from_sys_modules(self):
        saved = sys.modules.pop("morvex")
        try:
            fresh = importlib.import_module("morvex")
            assert fresh is saved
            assert fresh.Pattern is saved.Pattern
        finally:
            sys.modules["morvex"] = saved

    def test_subinterpreters_are_refused(self):
        build = str(pathlib.Path(morvex.__file__).parent)
        inner = f"import sys; sys.path.insert(0, {build!r}); import morvex"
        script = f"""
import sys
sys.path.insert(0, {build!r})
import morvex
import _xxsubinterpreters as interpreters
sub = interpreters.create()
try:
    interpreters.run_string(sub, {inner!r})
except Exception as error:
    print(error)
"""
        out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                             timeout=60)
        if "No module named '_xxsubinterpreters'" in out.stderr:
            pytest.skip("this interpreter has no subinterpreter module")
        assert "ImportError" in out.stdout
        assert "subinterpreters" in out.stdout


def other_interpreters():
    found = sorted(set(glob.glob("/root/.pyenv/versions/3.1[1-9]*/bin/python3.1[1-9]")
                       + glob.glob("/usr/bin/python3.1[1-9]")))
    return [path for path in found if pathlib.Path(path).resolve() != pathlib.Path(sys.executable).resolve()]


@pytest.mark.parametrize("python", other_interpreters() or [None])
def test_other_interpreters_load_the_same_binary(python, tmp_path):
    if python is None:
        pytest.skip("no other CPython 3.11+ on this machine")
    data = tmp_path / "scan.xye"
    data.write_bytes(b"# t\n10 100 1\n10.5 -inf 2\n")
    script = f"""
import sys
sys.path.insert(0, {str(pathlib.Path(morvex.__file__).parent)!r})
import morvex
p = morvex.read({str(data)!r})
q = morvex.read_bytes(open({str(data)!r}, 'rb').read(), 'x.xye')
assert (p.x, p.y, p.e) == (q.x, q.y, q.e)
assert morvex.read.__text_signature__ == '(path)'
assert morvex.read_bytes.__text_signature__ == '(data, filename)'
assert morvex.__all__ == ['Pattern', 'read', 'read_bytes']
print(sys.version_info[:2], morvex.__file__.endswith('morvex.abi3.so'), p.x, p.y, p.e)
"""
    out = subprocess.run([python, "-c", script], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip().endswith("True [10.0, 10.5] [100.0, -inf] [1.0, 2.0]")


def test_loads_from_several_threads_agree(tmp_path):
    text = "".join(f"{k * 0.01:.2f} {k * 7 % 101} {k % 5 + 1}\n" for k in range(20000))
    path = tmp_path / "scan.xye"
    path.write_text(text)
    expected = morvex.read(str(path))
    expected = (expected.x, expected.y, expected.e)
    results, errors = [], []

    def work(k):
        try:
            for _ in range(5):
                p = morvex.read(str(path)) if k % 2 else morvex.read_bytes(text.encode(), "s.xye")
                results.append((p.x, p.y, p.e))
                with pytest.raises(OSError):
                    morvex.read(str(tmp_path / "missing.xy"))
        except BaseException as error:  # noqa: BLE001 - reported to the main thread
            errors.append(error)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not errors
    assert len(results) == 40
    assert all(result == expected for result in results)
