"""Packaging: pip installs the package offline through the in-tree build backend (in a
venv, with or without build isolation, into a target folder), the wheel and the sdist are
complete and consistent, and the installed core imports without bleak."""

import base64
import csv
import hashlib
import importlib.util
import io
import re
import runpy
import subprocess
import sys
import tarfile
import types
import zipfile
from pathlib import Path

import pytest

PACKAGE = Path(__file__).resolve().parents[1]
REPOSITORY = PACKAGE.parent
BACKEND = PACKAGE / "build_backend" / "linkrelay_build.py"
MODULES = sorted(path.name for path in (PACKAGE / "linkrelay").glob("*.py"))


def load_backend():
    return types.SimpleNamespace(**runpy.run_path(str(BACKEND)))


def source_entries():
    """What python/ holds, apart from bytecode caches: a build must not add to it."""
    return sorted(
        path.relative_to(PACKAGE).as_posix()
        for path in PACKAGE.rglob("*")
        if "__pycache__" not in path.parts
    )


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=300, **kwargs)


def cmake_version():
    text = (REPOSITORY / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(\s*linkrelay\s+VERSION\s+([0-9.]+)", text)
    assert match, "CMakeLists.txt names no project version"
    return match.group(1)


def test_package_version_is_the_project_version():
    assert load_backend().Project(PACKAGE).version == cmake_version()


def test_toml_reader_reads_pyproject_as_tomllib_does():
    tomllib = pytest.importorskip("tomllib")
    backend = load_backend()
    text = (PACKAGE / "pyproject.toml").read_text(encoding="utf-8")
    assert backend.parse_toml(text) == tomllib.loads(text)
    sample = (
        '# comment\n[a]\nb = "x\\u00e9\\"y" # trailing\n"c.d" = \'lit\\eral\'\n'
        'e.f = [1, -2, [true, false],\n  "g", ]\nh = {i = "j", k = []}\n[a.l]\nm = 3_000\n'
    )
    assert backend.parse_toml(sample) == tomllib.loads(sample)


def test_metadata_is_the_same_without_tomllib():
    """Before Python 3.11 the backend reads pyproject.toml with its own reader."""
    script = (
        "import runpy, sys; sys.modules['tomllib'] = None; "
        f"backend = runpy.run_path({str(BACKEND)!r}); "
        "sys.stdout.write(backend['Project']().metadata())"
    )
    without = run([sys.executable, "-I", "-c", script], cwd=PACKAGE)
    assert without.returncode == 0, without.stderr
    assert without.stdout == load_backend().Project(PACKAGE).metadata()


@pytest.mark.parametrize(
    "text",
    ['a = """x"""\n', "[[a]]\nb = 1\n", "a = 1.5\n", 'a = "x" b\n', "a = 1\na = 2\n", 'a = "x\n'],
)
def test_toml_reader_refuses_what_it_cannot_read(text):
    with pytest.raises(ValueError):
        load_backend().parse_toml(text)


def read_record(wheel):
    record = next(name for name in wheel.namelist() if name.endswith("/RECORD"))
    rows = csv.reader(io.StringIO(wheel.read(record).decode("utf-8")))
    return {row[0]: row[1:] for row in rows}


def test_wheel_holds_the_package_and_consistent_metadata(tmp_path):
    backend = load_backend()
    assert backend.get_requires_for_build_wheel() == []
    assert backend.get_requires_for_build_sdist() == []
    assert backend.get_requires_for_build_editable() == []
    name = backend.build_wheel(str(tmp_path))
    assert name == f"linkrelay-{cmake_version()}-py3-none-any.whl"
    dist_info = f"linkrelay-{cmake_version()}.dist-info"
    with zipfile.ZipFile(tmp_path / name) as wheel:
        names = wheel.namelist()
        modules = sorted(n for n in names if n.startswith("linkrelay/"))
        assert modules == [f"linkrelay/{module}" for module in MODULES]
        assert sorted(n for n in names if not n.startswith("linkrelay/")) == sorted(
            f"{dist_info}/{f}" for f in ("METADATA", "WHEEL", "top_level.txt", "RECORD")
        )
        record = read_record(wheel)
        assert set(record) == set(names)
        assert record[f"{dist_info}/RECORD"] == ["", ""]
        for entry, (digest, size) in ((n, record[n]) for n in names if not n.endswith("/RECORD")):
            data = wheel.read(entry)
            expected = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            assert (digest, size) == (f"sha256={expected}", str(len(data))), entry
            if entry.startswith("linkrelay/"):
                assert data == (PACKAGE / entry).read_bytes()
        headers, _, description = wheel.read(f"{dist_info}/METADATA").decode().partition("\n\n")
        wheel_file = wheel.read(f"{dist_info}/WHEEL").decode().splitlines()
        top_level = wheel.read(f"{dist_info}/top_level.txt").decode()
    lines = headers.splitlines()
    for line in (
        "Metadata-Version: 2.1",
        "Name: linkrelay",
        f"Version: {cmake_version()}",
        "Requires-Python: >=3.9",
        "Provides-Extra: bleak",
        'Requires-Dist: bleak>=0.20 ; extra == "bleak"',
        "Description-Content-Type: text/markdown",
    ):
        assert line in lines
    assert [line for line in lines if line.startswith("Requires-Dist")] == [
        'Requires-Dist: bleak>=0.20 ; extra == "bleak"'
    ]
    assert any(line.startswith("Summary: Client of the linkrelay") for line in lines)
    assert description == (PACKAGE / "README.md").read_text(encoding="utf-8")
    assert "Root-Is-Purelib: true" in wheel_file and "Tag: py3-none-any" in wheel_file
    assert top_level == "linkrelay\n"


def test_sdist_builds_the_same_wheel_offline(tmp_path):
    pip = importlib.util.find_spec("pip")
    name = load_backend().build_sdist(str(tmp_path))
    assert name == f"linkrelay-{cmake_version()}.tar.gz"
    with tarfile.open(tmp_path / name) as sdist:
        members = sdist.getnames()
        base = f"linkrelay-{cmake_version()}"
        backend = "build_backend/linkrelay_build.py"
        for required in ("PKG-INFO", "pyproject.toml", "README.md", backend):
            assert f"{base}/{required}" in members
        assert all(f"{base}/linkrelay/{module}" in members for module in MODULES)
        sdist.extractall(tmp_path / "unpacked")
    if pip is None:
        pytest.skip("pip is not installed: the sdist's content is checked, not built")
    built = run(
        [sys.executable, "-m", "pip", "wheel", "--no-index", "--no-cache-dir", "--no-deps",
         "-w", str(tmp_path / "wheels"), str(tmp_path / "unpacked" / base)],
        cwd=tmp_path,
    )
    assert built.returncode == 0, built.stdout + built.stderr
    with zipfile.ZipFile(tmp_path / "wheels" / f"{base}-py3-none-any.whl") as wheel:
        assert "linkrelay/bleak.py" in wheel.namelist()


@pytest.mark.skipif(importlib.util.find_spec("pip") is None, reason="pip is not installed")
@pytest.mark.parametrize(
    "isolation", [[], ["--no-build-isolation"]], ids=["isolated", "no-isolation"]
)
def test_pip_installs_the_package_offline_into_a_target(tmp_path, isolation):
    before = source_entries()
    target = tmp_path / "site"
    install = run(
        [sys.executable, "-m", "pip", "install", "--no-index", *isolation,
         "--no-cache-dir", "--target", str(target), str(PACKAGE)],
        cwd=tmp_path,
    )
    assert install.returncode == 0, install.stdout + install.stderr
    assert (target / "linkrelay" / "bleak.py").is_file()
    assert (target / f"linkrelay-{cmake_version()}.dist-info" / "METADATA").is_file()
    assert source_entries() == before
    # The core needs nothing beyond the standard library: bleak is made unimportable.
    probe = (
        "import sys; sys.modules['bleak'] = None; import linkrelay; "
        "print(linkrelay.__file__, linkrelay.Client.__name__)"
    )
    imported = run(
        [sys.executable, "-I", "-c", f"import sys; sys.path.insert(0, {str(target)!r}); {probe}"],
        cwd=tmp_path,
    )
    assert imported.returncode == 0, imported.stderr
    assert imported.stdout.startswith(str(target))


@pytest.fixture
def venv_python(tmp_path):
    """A fresh venv with pip, as Debian's python3-venv makes it."""
    created = run([sys.executable, "-m", "venv", str(tmp_path / "venv")], cwd=tmp_path)
    if created.returncode != 0:
        pytest.skip(f"cannot create a venv with pip: {(created.stderr or created.stdout).strip()}")
    python = tmp_path / "venv" / "bin" / "python"
    if not python.exists():
        python = tmp_path / "venv" / "Scripts" / "python.exe"
    return python


def test_plain_pip_install_works_offline_in_a_venv(tmp_path, venv_python):
    before = source_entries()
    install = run(
        [str(venv_python), "-m", "pip", "install", "--no-index", "--no-cache-dir", "./python"],
        cwd=REPOSITORY,
    )
    assert install.returncode == 0, install.stdout + install.stderr
    assert source_entries() == before
    probe = (
        "import importlib.metadata, importlib.util, linkrelay; "
        "print(linkrelay.__file__); "
        "print(importlib.metadata.version('linkrelay')); "
        "print(importlib.util.find_spec('linkrelay.bleak').origin)"
    )
    imported = run([str(venv_python), "-I", "-c", probe], cwd=tmp_path)
    assert imported.returncode == 0, imported.stderr
    location, version, bleak_module = imported.stdout.splitlines()
    venv = tmp_path / "venv"
    assert Path(location).is_relative_to(venv)
    assert version == cmake_version()
    assert Path(bleak_module).is_relative_to(venv) and Path(bleak_module).name == "bleak.py"
    assert Path(bleak_module).is_file()
    shown = run([str(venv_python), "-m", "pip", "show", "linkrelay"], cwd=tmp_path)
    assert shown.returncode == 0, shown.stderr
    assert "Name: linkrelay" in shown.stdout.splitlines()
    assert f"Version: {cmake_version()}" in shown.stdout.splitlines()
    summary = [line for line in shown.stdout.splitlines() if line.startswith("Summary: ")]
    assert summary and summary[0].startswith("Summary: Client of the linkrelay")


def test_editable_install_points_at_the_source(tmp_path, venv_python):
    install = run(
        [str(venv_python), "-m", "pip", "install", "--no-index", "--no-cache-dir",
         "-e", str(PACKAGE)],
        cwd=tmp_path,
    )
    assert install.returncode == 0, install.stdout + install.stderr
    probe = "import linkrelay; print(linkrelay.__file__)"
    imported = run([str(venv_python), "-I", "-c", probe], cwd=tmp_path)
    assert imported.returncode == 0, imported.stderr
    assert Path(imported.stdout.strip()) == PACKAGE / "linkrelay" / "__init__.py"
