"""tavrin.amazon.scraper, and the import lifecycle both extension modules share.

Every scenario imports in a fresh interpreter: the modules are created and
executed once per process, so a scenario that has imported one cannot undo it.
"""

from __future__ import annotations

import importlib.util
import shutil
import subprocess
import textwrap

import pytest

from support import check_python

SCRAPER = "tavrin.amazon.scraper"
VELMORA = "tavrin.amazon_rufus.services.velmora"
MODULES = [pytest.param(SCRAPER, "scraper", id="scraper"), pytest.param(VELMORA, "velmora", id="velmora")]

# Puts the target module under the test's control: `Target(source)` serves
# tavrin.amazon.scraping.scraper from `source`, ahead of the tests' stand-in,
# and counts its executions in `runs`.
PRELUDE = """
import importlib, importlib.abc, importlib.util, sys, types

NAME = "tavrin.amazon.scraping.scraper"
SCRAPER = "tavrin.amazon.scraper"


class Target(importlib.abc.MetaPathFinder, importlib.abc.Loader):
    def __init__(self, source):
        self.source = source
        self.runs = 0
        sys.meta_path.insert(0, self)

    def find_spec(self, name, path, target=None):
        return importlib.util.spec_from_loader(name, self) if name == NAME else None

    def exec_module(self, module):
        self.runs += 1
        exec(self.source, vars(module))


def fake(name=NAME, **attributes):
    module = types.ModuleType(name)
    vars(module).update(attributes)
    return module


def import_error():
    try:
        importlib.import_module(SCRAPER)
    except ImportError as error:
        assert SCRAPER not in sys.modules
        return error
    raise AssertionError("the import succeeded")


def raising_getattr(name):
    if name == "AmazonScraper":
        raise RuntimeError("lookup of " + name)
    raise AttributeError(name)
"""


def scenario(code: str, **kwargs: object) -> str:
    return check_python(PRELUDE + textwrap.dedent(code), **kwargs)


@pytest.mark.parametrize(
    "setup, target",
    [
        pytest.param("", "importlib.import_module(NAME)", id="stand-in"),
        pytest.param("t = Target('class AmazonScraper: pass')", "sys.modules[NAME]", id="imported target"),
        # Any object serves, not only a class; the module in sys.modules is used as it is.
        pytest.param("sys.modules[NAME] = fake(AmazonScraper=object())", "sys.modules[NAME]", id="target in sys.modules"),
    ],
)
def test_reexports_the_target_object(setup: str, target: str) -> None:
    scenario(f"""
        {setup}
        m = importlib.import_module(SCRAPER)
        target = {target}
        assert m.AmazonScraper is target.AmazonScraper
        assert type(m.__all__) is list and m.__all__ == ["AmazonScraper"]
        assert m.__all__ is not getattr(target, "__all__", None)
        assert list(vars(m))[-2:] == ["AmazonScraper", "__all__"]
        """)


def test_star_import_binds_only_the_class() -> None:
    scenario("""
        namespace = {}
        exec("from tavrin.amazon.scraper import *", namespace)
        del namespace["__builtins__"]
        assert namespace == {"AmazonScraper": importlib.import_module(NAME).AmazonScraper}
        """)


def test_module_attributes() -> None:
    scenario("""
        m = importlib.import_module(SCRAPER)
        assert m.__doc__ == "amazon scraper 兼容导出。", m.__doc__
        assert m.__name__ == SCRAPER and m.__package__ == "tavrin.amazon"
        assert m.__file__ == m.__spec__.origin and m.__loader__ is m.__spec__.loader
        assert not hasattr(m, "__path__")
        """)


@pytest.mark.parametrize(
    "setup",
    [
        pytest.param("sys.modules[NAME] = fake()", id="in sys.modules"),
        pytest.param("Target('')", id="imported"),
        # A lookup failing otherwise than with AttributeError is reported the same way...
        pytest.param("sys.modules[NAME] = fake(__getattr__=raising_getattr)", id="lookup raises in sys.modules"),
        pytest.param("Target('from __main__ import raising_getattr as __getattr__')", id="lookup raises"),
        # ... and then no submodule is consulted.
        pytest.param(
            "sys.modules[NAME] = fake(__getattr__=raising_getattr); sys.modules[NAME + '.AmazonScraper'] = fake()",
            id="lookup raises, submodule present",
        ),
    ],
)
def test_target_without_the_class_fails_until_fixed(setup: str) -> None:
    scenario(f"""
        {setup}
        error = import_error()
        assert type(error) is ImportError and str(error) == "cannot import name AmazonScraper", repr(error)
        assert error.__context__ is None and error.__cause__ is None

        # The failed module was forgotten: the next import executes afresh.
        fixed = type("AmazonScraper", (), {{}})
        sys.modules[NAME].AmazonScraper = fixed
        assert importlib.import_module(SCRAPER).AmazonScraper is fixed
        """)


@pytest.mark.parametrize(
    "setup, owner",
    [
        pytest.param("sys.modules[NAME] = fake()", "NAME", id="target in sys.modules"),
        pytest.param("t = Target('x = 1')", "NAME", id="imported target"),
        # The target's own __name__ names the submodule, not the path it was imported by.
        pytest.param(
            "sys.modules[NAME] = fake('elsewhere'); sys.modules[NAME + '.AmazonScraper'] = fake('decoy')",
            "'elsewhere'",
            id="target named elsewhere",
        ),
    ],
)
def test_submodule_stands_in_for_a_missing_attribute(setup: str, owner: str) -> None:
    scenario(f"""
        {setup}
        submodule = fake({owner} + ".AmazonScraper")
        sys.modules[submodule.__name__] = submodule
        assert importlib.import_module(SCRAPER).AmazonScraper is submodule
        """)


@pytest.mark.parametrize(
    "setup, expected, fix",
    [
        pytest.param(
            "t = Target('raise LookupError(\"target broke\")')",
            "type(error) is LookupError and error.args == ('target broke',) and t.runs == 1",
            "t.source = 'class AmazonScraper: pass'",
            id="target raises",
        ),
        pytest.param(
            "sys.modules[NAME] = None",
            "type(error) is ModuleNotFoundError and error.name == NAME",
            "del sys.modules[NAME]",
            id="target not found",
        ),
    ],
)
def test_target_failure_propagates_unchanged(setup: str, expected: str, fix: str) -> None:
    scenario(f"""
        {setup}
        try:
            importlib.import_module(SCRAPER)
        except Exception as caught:
            error = caught
        assert {expected}, repr(error)
        assert SCRAPER not in sys.modules

        {fix}
        m = importlib.import_module(SCRAPER)
        assert m.AmazonScraper is sys.modules[NAME].AmazonScraper
        """)


@pytest.mark.parametrize(
    "again",
    [
        pytest.param("sys.modules.pop(SCRAPER) and importlib.import_module(SCRAPER)", id="import after del"),
        pytest.param("importlib.reload(m)", id="reload"),
    ],
)
def test_module_is_executed_once(again: str) -> None:
    scenario(f"""
        t = Target("class AmazonScraper: pass")
        m = importlib.import_module(SCRAPER)
        cls, exported = m.AmazonScraper, m.__all__

        importlib.reload(sys.modules[NAME])  # a new class in the target, not taken over
        assert t.runs == 2 and sys.modules[NAME].AmazonScraper is not cls

        assert ({again}) is m
        assert m.AmazonScraper is cls and m.__all__ is exported and t.runs == 2
        """)


# Executing the module's loader directly leaves sys.modules to the module itself.
@pytest.mark.parametrize(
    "setup, outcome",
    [
        pytest.param("", "sys.modules[SCRAPER] is m", id="enters itself"),
        pytest.param("sys.modules[SCRAPER] = placeholder", "sys.modules[SCRAPER] is placeholder", id="entry kept"),
    ],
)
def test_execution_outside_the_import_system(setup: str, outcome: str) -> None:
    scenario(f"""
        placeholder = object()
        found = importlib.util.find_spec(SCRAPER)
        {setup}
        m = importlib.util.module_from_spec(found)
        found.loader.exec_module(m)
        assert {outcome}
        """)


# A failed execution takes back the entry it made, so a later import starts again.
def test_failed_execution_outside_the_import_system_is_retried() -> None:
    scenario("""
        sys.modules[NAME] = fake()
        found = importlib.util.find_spec(SCRAPER)
        try:
            found.loader.exec_module(importlib.util.module_from_spec(found))
        except ImportError:
            pass
        assert SCRAPER not in sys.modules
        sys.modules[NAME].AmazonScraper = fixed = object()
        assert importlib.import_module(SCRAPER).AmazonScraper is fixed
        """)


@pytest.mark.parametrize("name, short_name", MODULES)
def test_exports_only_the_entry_point(name: str, short_name: str) -> None:
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not available")
    path = importlib.util.find_spec(name).origin
    listing = subprocess.run([nm, "-D", "--defined-only", path], capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in listing.splitlines() if line.strip()] == [f"PyInit_{short_name}"]


@pytest.mark.parametrize("name, short_name", MODULES)
def test_execution_of_another_module_object_is_refused(name: str, short_name: str) -> None:
    scenario(f"""
        import ctypes
        m = importlib.import_module({name!r})
        init = getattr(ctypes.PyDLL(m.__file__), "PyInit_{short_name}")
        init.restype = ctypes.c_void_p
        exec_def = ctypes.pythonapi.PyModule_ExecDef
        exec_def.argtypes, exec_def.restype = [ctypes.py_object, ctypes.c_void_p], ctypes.c_int
        definition = init()

        assert exec_def(m, definition) == 0
        try:
            exec_def(types.ModuleType("other"), definition)
        except RuntimeError as error:
            expected = "Module '{short_name}' has already been imported. Re-initialisation is not supported."
            assert str(error) == expected, str(error)
        else:
            raise AssertionError("executed a second module object")
        """)


@pytest.mark.parametrize("name, short_name", MODULES)
@pytest.mark.parametrize("first", ["main", "subinterpreter"])
def test_second_interpreter_is_refused(name: str, short_name: str, first: str) -> None:
    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "run_in_subinterp"):
        pytest.skip("no legacy subinterpreters")
    output = scenario(f"""
        def attempt(name):
            try:
                importlib.import_module(name)
                print("imported")
            except ImportError as error:
                print("refused:", error)
            sys.stdout.flush()

        def in_subinterpreter(name):
            import _testcapi, inspect
            code = inspect.getsource(attempt) + f"attempt({{name!r}})"
            assert _testcapi.run_in_subinterp("import importlib, sys\\n" + code) == 0

        if {first!r} == "main":
            attempt({name!r})
            in_subinterpreter({name!r})
        else:
            in_subinterpreter({name!r})
            attempt({name!r})
        """)
    refusal = "refused: Interpreter change detected - this module can only be loaded into one interpreter per process."
    assert output.splitlines() == ["imported", refusal]


# Each failed import creates, fails and forgets a module object; none may
# survive. The import system's own allocations make the block count noisier
# than a method call's, so the check is over more calls with a looser bound:
# one lost block per failed import would exceed it many times over. (A
# successful re-import is not checked: CPython itself drops the state block of
# the executed module each time the create step hands that module back.)
@pytest.mark.parametrize(
    "setup, raises",
    [
        pytest.param("sys.modules[NAME] = fake()", "ImportError", id="missing class"),
        pytest.param("sys.modules[NAME] = fake(__getattr__=raising_getattr)", "ImportError", id="lookup raises"),
        pytest.param("Target('raise LookupError')", "LookupError", id="target raises"),
        pytest.param("sys.modules[NAME] = None", "ModuleNotFoundError", id="target not found"),
    ],
)
def test_failed_imports_do_not_leak(setup: str, raises: str) -> None:
    scenario(f"""
        import gc
        {setup}

        def blocks_after(calls):
            for _ in range(calls):
                try:
                    importlib.import_module(SCRAPER)
                except {raises}:
                    pass
                else:
                    raise AssertionError("the import succeeded")
            gc.collect()
            return sys.getallocatedblocks()

        start = blocks_after(1000)
        growth = blocks_after(4000) - start
        assert growth < 1000, f"allocated blocks grew by {{growth}} over 4000 failed imports"
        """)
