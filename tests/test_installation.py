"""The distribution installs only what it owns, beside the toolkit's packages and out of their way.

Each test makes a fresh virtual environment of the interpreter running the suite and installs
wheels into it with pip: a small toolkit (regular packages `tavrin` and `tavrin.amazon`, and
`tavrin.amazon.scraping.scraper` with its `AmazonScraper`), and this distribution packed again
from the files it installed here. That is the content of the wheel the suite runs against
(scripts/check-wheel.sh and scripts/build-manylinux.sh install a built wheel and run the suite),
without compiling a second time.
"""

from __future__ import annotations

import base64
import hashlib
import json
import os
import subprocess
import sys
import textwrap
import venv
import zipfile
from importlib import metadata
from pathlib import Path

import pytest

from tavrin.amazon_rufus.services.velmora import Velmora

DISTRIBUTION = "tavrin-rufus-native"
PAYLOAD = Path(__file__).resolve().parent.parent / "examples" / "payload.json"
TOOLKIT = {
    "tavrin/__init__.py": b'"""The toolkit."""\n',
    "tavrin/amazon/__init__.py": b'"""The toolkit\'s Amazon tools."""\n',
    "tavrin/amazon/scraping/scraper.py": b'class AmazonScraper:\n    """The toolkit\'s scraper."""\n',
}
# Packages the toolkit owns: this distribution adds modules to some of them but no __init__.py.
PARENTS = ["tavrin", "tavrin/amazon", "tavrin/amazon/scraping", "tavrin/amazon_rufus", "tavrin/amazon_rufus/services"]
# Written by the installer, not taken from the wheel.
INSTALLER_FILES = {"INSTALLER", "REQUESTED", "RECORD", "direct_url.json"}


def write_wheel(folder: Path, name: str, version: str, tag: str, files: dict[str, bytes]) -> Path:
    stem = f"{name.replace('-', '_')}-{version}"
    info = f"{stem}.dist-info"
    files = {
        f"{info}/METADATA": f"Metadata-Version: 2.1\nName: {name}\nVersion: {version}\n".encode(),
        f"{info}/WHEEL": f"Wheel-Version: 1.0\nGenerator: tests\nRoot-Is-Purelib: false\nTag: {tag}\n".encode(),
    } | files
    record = [f"{path},sha256={digest(data)},{len(data)}" for path, data in files.items()] + [f"{info}/RECORD,,"]
    wheel = folder / f"{stem}-{tag}.whl"
    with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as archive:
        for path, data in files.items():
            archive.writestr(path, data)
        archive.writestr(f"{info}/RECORD", "\n".join(record) + "\n")
    return wheel


def digest(data: bytes) -> str:
    return base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def installed_files() -> dict[str, bytes]:
    """This distribution's files under site-packages, as its wheel held them."""
    distribution = metadata.distribution(DISTRIBUTION)
    site = Path(str(distribution.locate_file(""))).resolve()
    files = {}
    for file in distribution.files or []:
        path = Path(str(distribution.locate_file(file))).resolve()
        written_by_installer = file.parent.suffix == ".dist-info" and file.name in INSTALLER_FILES
        if path.is_relative_to(site) and "__pycache__" not in file.parts and not written_by_installer:
            files[file.as_posix()] = path.read_bytes()
    return files


@pytest.fixture(scope="module")
def wheels(tmp_path_factory: pytest.TempPathFactory) -> dict[str, Path]:
    folder = tmp_path_factory.mktemp("wheels")
    distribution = metadata.distribution(DISTRIBUTION)
    tag = next(line.split(": ", 1)[1] for line in distribution.read_text("WHEEL").splitlines() if line.startswith("Tag: "))
    return {
        "ours": write_wheel(folder, DISTRIBUTION, distribution.version, tag, installed_files()),
        "toolkit": write_wheel(folder, "tavrin-toolkit", "1.0", "py3-none-any", TOOLKIT),
    }


class Environment:
    """A fresh virtual environment; pip and Python run in it without PYTHONPATH or user site."""

    def __init__(self, folder: Path) -> None:
        venv.EnvBuilder(with_pip=False).create(folder)
        self.python = folder / "bin" / "python"
        self.scripts = folder / "bin"
        self.site = Path(self.run("import sysconfig; print(sysconfig.get_path('purelib'))").strip())
        self.env = {key: value for key, value in os.environ.items() if not key.startswith("PYTHON")}

    def pip(self, *args: str) -> None:
        command = [sys.executable, "-m", "pip", "--python", str(self.python), "--disable-pip-version-check", *args]
        subprocess.run(command, check=True, capture_output=True, env=self.env, timeout=300)

    def run(self, code: str) -> str:
        result = subprocess.run(
            [str(self.python), "-I", "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
        )
        assert result.returncode == 0, result.stdout + result.stderr
        return result.stdout

    def snapshot(self, paths: list[str]) -> dict[str, bytes | None]:
        return {path: (self.site / path).read_bytes() if (self.site / path).is_file() else None for path in paths}


@pytest.fixture
def environment(tmp_path: Path) -> Environment:
    return Environment(tmp_path / "venv")


def test_no_file_in_the_toolkits_packages_but_its_own_modules() -> None:
    files = [file.as_posix() for file in metadata.files(DISTRIBUTION) or [] if "__pycache__" not in file.parts]
    strays = [
        file for file in files if file in {f"{parent}/__init__.py" for parent in PARENTS} or file.startswith("tavrin/amazon/scraping/")
    ]
    assert strays == []


def test_alone_the_scraper_module_names_the_missing_toolkit_module(environment: Environment, wheels: dict[str, Path]) -> None:
    environment.pip("install", "--no-index", "--no-deps", str(wheels["ours"]))
    environment.run("""
        import sys
        from tavrin.amazon_rufus.services.velmora import Velmora
        assert Velmora().format_data({"answers": [{"text": "a"}]}).endswith("a")
        try:
            import tavrin.amazon.scraper
        except ModuleNotFoundError as error:
            assert error.name == "tavrin.amazon.scraping", error.name
            assert str(error) == "No module named 'tavrin.amazon.scraping'", str(error)
            assert "tavrin.amazon.scraper" not in sys.modules
        else:
            raise AssertionError("imported without the toolkit")
        """)


def test_installed_used_and_removed_beside_the_toolkit(environment: Environment, wheels: dict[str, Path]) -> None:
    environment.pip("install", "--no-index", "--no-deps", str(wheels["toolkit"]))
    toolkit = environment.snapshot(list(TOOLKIT))
    assert toolkit == TOOLKIT

    environment.pip("install", "--no-index", "--no-deps", str(wheels["ours"]))
    assert environment.snapshot(list(TOOLKIT)) == toolkit
    # The toolkit's regular packages win; our modules are files inside their folders (tavrin.amazon)
    # or inside namespace packages found there (tavrin.amazon_rufus.services).
    environment.run(f"""
        from pathlib import Path
        import tavrin, tavrin.amazon, tavrin.amazon_rufus.services
        import tavrin.amazon.scraper as scraper
        import tavrin.amazon.scraping.scraper as toolkit
        from tavrin.amazon_rufus.services import velmora
        site = Path({str(environment.site)!r})
        assert Path(tavrin.__file__) == site / "tavrin/__init__.py", tavrin.__file__
        assert Path(tavrin.amazon.__file__) == site / "tavrin/amazon/__init__.py", tavrin.amazon.__file__
        assert tavrin.amazon_rufus.services.__file__ is None
        assert list(tavrin.amazon_rufus.services.__path__) == [str(site / "tavrin/amazon_rufus/services")]
        assert Path(scraper.__file__).parent == site / "tavrin/amazon"
        assert Path(velmora.__file__).parent == site / "tavrin/amazon_rufus/services"
        assert scraper.AmazonScraper is toolkit.AmazonScraper
        assert toolkit.AmazonScraper.__doc__ == "The toolkit's scraper."
        """)
    report = Velmora().format_data(json.loads(PAYLOAD.read_text(encoding="utf-8")))
    printed = subprocess.run(
        [str(environment.scripts / "rufus-report"), str(PAYLOAD)], capture_output=True, text=True, env=environment.env, timeout=120
    )
    assert printed.returncode == 0 and printed.stdout.rstrip("\n") == report, printed.stderr

    environment.pip("uninstall", "--yes", DISTRIBUTION)
    assert environment.snapshot(list(TOOLKIT)) == toolkit
    assert not (environment.scripts / "rufus-report").exists()
    environment.run("""
        import importlib.util
        from tavrin.amazon.scraping.scraper import AmazonScraper
        assert importlib.util.find_spec("tavrin.amazon.scraper") is None
        try:
            import tavrin.amazon_rufus.services.velmora
        except ModuleNotFoundError:
            pass
        else:
            raise AssertionError("velmora still imports")
        """)
