"""Importing the report module: created and executed once per process, in one interpreter."""

import shutil
import subprocess

import pytest

import tavrin.amazon_rufus.services.velmora as velmora_module
from support import check_python

NAME = "tavrin.amazon_rufus.services.velmora"


def test_reimport_after_removal_gives_the_same_module_without_executing_again():
    check_python(f"""
        import sys
        import {NAME} as first
        cls = first.Velmora
        del sys.modules["{NAME}"]
        import {NAME} as second
        assert second is first and second.Velmora is cls
        assert sys.modules["{NAME}"] is first
    """)


def test_reload_executes_nothing_again():
    check_python(f"""
        import importlib
        import {NAME} as module
        cls = module.Velmora
        module.Velmora = "replaced"
        assert importlib.reload(module) is module
        assert module.Velmora == "replaced"
        module.Velmora = cls
    """)


def test_failed_execution_is_forgotten_and_a_later_import_starts_afresh():
    check_python(f"""
        import sys, types
        real_typing = sys.modules.pop("typing", None)
        sys.modules["typing"] = types.ModuleType("typing")
        try:
            import {NAME}
        except ImportError as error:
            assert str(error) == "cannot import name Any", error
        else:
            raise AssertionError("import succeeded without typing.Any")
        assert "{NAME}" not in sys.modules
        del sys.modules["typing"]
        if real_typing is not None:
            sys.modules["typing"] = real_typing
        import {NAME} as module
        assert module.Velmora().format_data({{}}) == ""
    """)


def test_missing_re_propagates_its_import_error():
    check_python(f"""
        import sys
        sys.modules["re"] = None
        try:
            import {NAME}
        except ImportError as error:
            assert "re" in str(error)
        else:
            raise AssertionError("import succeeded without re")
    """)


def test_executing_into_another_module_object_is_refused():
    check_python(f"""
        import importlib.util
        module_spec = importlib.util.find_spec("{NAME}")
        first = importlib.util.module_from_spec(module_spec)
        second = importlib.util.module_from_spec(module_spec)
        assert first is not second
        module_spec.loader.exec_module(first)
        module_spec.loader.exec_module(first)  # the same object again: nothing happens
        try:
            module_spec.loader.exec_module(second)
        except RuntimeError as error:
            assert str(error) == (
                "Module 'velmora' has already been imported. Re-initialisation is not supported."
            ), error
        else:
            raise AssertionError("second execution accepted")
        assert importlib.util.module_from_spec(module_spec) is first
    """)


def test_module_enters_sys_modules_under_its_full_name():
    check_python(f"""
        import importlib.util, sys
        path = importlib.util.find_spec("{NAME}").origin
        module_spec = importlib.util.spec_from_file_location("elsewhere.velmora", path)
        module = importlib.util.module_from_spec(module_spec)
        assert module.__file__ == path and module.__package__ == "elsewhere"
        assert module.__loader__ is module_spec.loader and not hasattr(module, "__path__")
        module_spec.loader.exec_module(module)
        assert sys.modules["{NAME}"] is module
    """)


@pytest.mark.parametrize("config", ["isolated", "legacy"])
def test_subinterpreters_are_refused_and_main_keeps_working(config):
    check_python(f"""
        import _interpreters
        import {NAME} as module
        interp = _interpreters.create("{config}")
        try:
            error = _interpreters.run_string(interp, "import {NAME}")
        finally:
            _interpreters.destroy(interp)
        assert error.type.__name__ == "ImportError", error
        assert error.msg == (
            "Interpreter change detected - this module can only be loaded into one interpreter per process."
        ), error.msg
        assert module.Velmora().format_data({{"answers": [{{"summaryText": "S"}}]}}).endswith("S")
    """)


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm not available")
def test_only_the_module_entry_point_is_exported():
    output = subprocess.run(
        ["nm", "-D", "--defined-only", velmora_module.__file__], capture_output=True, text=True, check=True
    ).stdout
    exported = [line.split()[-1] for line in output.splitlines() if line.split()[-2] in "TDBRVW"]
    assert exported == ["PyInit_velmora"]
