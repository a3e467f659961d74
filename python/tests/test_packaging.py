"""pyproject.toml: pip installs the package offline with Debian's setuptools, and the
installed core imports without bleak."""

import importlib.util
import subprocess
import sys
from pathlib import Path

import pytest

PACKAGE = Path(__file__).resolve().parents[1]


@pytest.mark.skipif(importlib.util.find_spec("pip") is None, reason="pip is not installed")
def test_pip_installs_the_package_offline(tmp_path):
    target = tmp_path / "site"
    install = subprocess.run(
        [sys.executable, "-m", "pip", "install", "--no-index", "--no-build-isolation",
         "--no-cache-dir", "--target", str(target), str(PACKAGE)],
        capture_output=True,
        text=True,
        cwd=tmp_path,
    )
    assert install.returncode == 0, install.stdout + install.stderr
    assert (target / "linkrelay" / "bleak.py").is_file()
    # The core needs nothing beyond the standard library: bleak is made unimportable.
    probe = (
        "import sys; sys.modules['bleak'] = None; import linkrelay; "
        "print(linkrelay.__file__, linkrelay.Client.__name__)"
    )
    run = subprocess.run(
        [sys.executable, "-I", "-c", f"import sys; sys.path.insert(0, {str(target)!r}); {probe}"],
        capture_output=True,
        text=True,
        cwd=tmp_path,
    )
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith(str(target))
