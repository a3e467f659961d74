"""A PEP 517 build backend for the linkrelay package that needs only the standard library.

pip runs it with no download: `[build-system] requires` is empty, so the isolated build
environment needs nothing from an index. It builds a pure-Python wheel of the `linkrelay`
package, an sdist, and an editable wheel (a .pth file naming the source folder). The
metadata comes from pyproject.toml's [project] table, read with tomllib where it exists
(Python 3.11+) and otherwise with the small TOML reader below, so pyproject.toml stays
the only place that states it.
"""

import base64
import hashlib
import io
import os
import re
import tarfile
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
PACKAGE = "linkrelay"
WHEEL_TAG = "py3-none-any"


# --- pyproject.toml ------------------------------------------------------------------------


class _TomlReader:
    """Reads the part of TOML that pyproject.toml files use: tables, dotted keys, basic
    and literal strings, arrays, inline tables, booleans and integers. Anything else
    raises ValueError, so an unexpected construct fails the build instead of being
    misread."""

    _BARE_KEY = re.compile(r"[A-Za-z0-9_-]+")
    _INTEGER = re.compile(r"[+-]?[0-9][0-9_]*")
    _ESCAPES = {"b": "\b", "t": "\t", "n": "\n", "f": "\f", "r": "\r", '"': '"', "\\": "\\"}

    def __init__(self, text):
        self.text = text
        self.pos = 0

    def fail(self, what):
        line = self.text.count("\n", 0, self.pos) + 1
        raise ValueError(f"pyproject.toml line {line}: {what}")

    def peek(self):
        return self.text[self.pos] if self.pos < len(self.text) else ""

    def skip_blank(self, newlines):
        while self.pos < len(self.text):
            char = self.text[self.pos]
            if char in " \t" or (newlines and char in "\r\n"):
                self.pos += 1
            elif char == "#":
                end = self.text.find("\n", self.pos)
                self.pos = len(self.text) if end < 0 else end
            else:
                return

    def expect(self, char):
        if self.peek() != char:
            self.fail(f"expected {char!r}")
        self.pos += 1

    def end_of_line(self):
        self.skip_blank(newlines=False)
        if self.peek() not in ("", "\n", "\r"):
            self.fail("unexpected text after a value")

    def parse(self):
        document = {}
        table = document
        while True:
            self.skip_blank(newlines=True)
            if not self.peek():
                return document
            if self.peek() == "[":
                self.pos += 1
                if self.peek() == "[":
                    self.fail("arrays of tables are not supported")
                keys = self.key()
                self.skip_blank(newlines=False)
                self.expect("]")
                self.end_of_line()
                table = self.descend(document, keys)
            else:
                self.assignment(table)
                self.end_of_line()

    def descend(self, table, keys):
        for key in keys:
            table = table.setdefault(key, {})
            if not isinstance(table, dict):
                self.fail(f"{key} is not a table")
        return table

    def assignment(self, table):
        keys = self.key()
        self.skip_blank(newlines=False)
        self.expect("=")
        self.skip_blank(newlines=False)
        parent = self.descend(table, keys[:-1])
        if keys[-1] in parent:
            self.fail(f"{keys[-1]} is defined twice")
        parent[keys[-1]] = self.value()

    def key(self):
        keys = []
        while True:
            self.skip_blank(newlines=False)
            if self.peek() in ('"', "'"):
                keys.append(self.string())
            else:
                match = self._BARE_KEY.match(self.text, self.pos)
                if not match:
                    self.fail("expected a key")
                keys.append(match.group())
                self.pos = match.end()
            self.skip_blank(newlines=False)
            if self.peek() != ".":
                return keys
            self.pos += 1

    def value(self):
        char = self.peek()
        if char in ('"', "'"):
            return self.string()
        if char == "[":
            return self.array()
        if char == "{":
            return self.inline_table()
        for word, result in (("true", True), ("false", False)):
            if self.text.startswith(word, self.pos):
                self.pos += len(word)
                return result
        match = self._INTEGER.match(self.text, self.pos)
        if match and self.text[match.end():match.end() + 1] not in (".", "e", "E", ":", "-"):
            self.pos = match.end()
            return int(match.group().replace("_", ""))
        self.fail("unsupported value")

    def string(self):
        quote = self.peek()
        if self.text.startswith(quote * 3, self.pos):
            self.fail("multi-line strings are not supported")
        self.pos += 1
        parts = []
        while True:
            char = self.peek()
            if char in ("", "\n", "\r"):
                self.fail("unterminated string")
            self.pos += 1
            if char == quote:
                return "".join(parts)
            if char == "\\" and quote == '"':
                parts.append(self.escape())
            else:
                parts.append(char)

    def escape(self):
        char = self.peek()
        self.pos += 1
        if char in self._ESCAPES:
            return self._ESCAPES[char]
        width = {"u": 4, "U": 8}.get(char)
        digits = self.text[self.pos:self.pos + width] if width else ""
        if not width or not re.fullmatch(r"[0-9A-Fa-f]+", digits) or len(digits) != width:
            self.fail("invalid escape in a string")
        self.pos += width
        return chr(int(digits, 16))

    def array(self):
        self.expect("[")
        items = []
        while True:
            self.skip_blank(newlines=True)
            if self.peek() == "]":
                self.pos += 1
                return items
            items.append(self.value())
            self.skip_blank(newlines=True)
            if self.peek() == ",":
                self.pos += 1
            elif self.peek() != "]":
                self.fail("expected ',' or ']' in an array")

    def inline_table(self):
        self.expect("{")
        table = {}
        self.skip_blank(newlines=False)
        if self.peek() == "}":
            self.pos += 1
            return table
        while True:
            self.assignment(table)
            self.skip_blank(newlines=False)
            if self.peek() == "}":
                self.pos += 1
                return table
            self.expect(",")


def parse_toml(text):
    """pyproject.toml's content as tomllib.loads returns it, for the subset _TomlReader reads."""
    return _TomlReader(text).parse()


def read_pyproject(root=ROOT):
    text = (root / "pyproject.toml").read_text(encoding="utf-8")
    try:
        import tomllib
    except ImportError:  # Python before 3.11
        return parse_toml(text)
    return tomllib.loads(text)


# --- metadata --------------------------------------------------------------------------------


def _with_extra(requirement, extra):
    """The requirement, needed only with the extra: its own marker, if any, is kept and
    parenthesised so that an 'or' in it cannot escape the extra's condition."""
    marker = f'extra == "{extra}"'
    name, separator, own_marker = requirement.partition(";")
    if not separator:
        return f"{requirement} ; {marker}"
    return f"{name.strip()} ; ({own_marker.strip()}) and {marker}"


class Project:
    """The [project] fields this backend turns into core metadata."""

    def __init__(self, root=ROOT):
        self.root = root
        project = read_pyproject(root)["project"]
        self.name = project["name"]
        self.version = project["version"]
        self.summary = project.get("description", "")
        self.requires_python = project.get("requires-python")
        self.dependencies = list(project.get("dependencies", []))
        optional = project.get("optional-dependencies", {})
        self.extras = {extra: list(requirements) for extra, requirements in optional.items()}
        self.readme = project.get("readme")
        # File names use the normalized name with '-' replaced (binary distribution format).
        self.file_name = re.sub(r"[-_.]+", "_", self.name).lower()
        self.dist_info = f"{self.file_name}-{self.version}.dist-info"

    def metadata(self):
        lines = [
            "Metadata-Version: 2.1",
            f"Name: {self.name}",
            f"Version: {self.version}",
            f"Summary: {self.summary}",
        ]
        if self.requires_python:
            lines.append(f"Requires-Python: {self.requires_python}")
        lines += [f"Requires-Dist: {requirement}" for requirement in self.dependencies]
        for extra, requirements in self.extras.items():
            lines.append(f"Provides-Extra: {extra}")
            for requirement in requirements:
                lines.append(f"Requires-Dist: {_with_extra(requirement, extra)}")
        body = ""
        if self.readme:
            readme = self.readme if isinstance(self.readme, str) else self.readme["file"]
            content_type = "text/markdown" if readme.endswith(".md") else "text/plain"
            lines.append(f"Description-Content-Type: {content_type}")
            body = (self.root / readme).read_text(encoding="utf-8")
        return "\n".join(lines) + "\n\n" + body

    def wheel(self):
        return (
            "Wheel-Version: 1.0\n"
            "Generator: linkrelay_build\n"
            "Root-Is-Purelib: true\n"
            f"Tag: {WHEEL_TAG}\n"
        )

    def dist_info_files(self):
        return {
            f"{self.dist_info}/METADATA": self.metadata().encode("utf-8"),
            f"{self.dist_info}/WHEEL": self.wheel().encode("utf-8"),
            f"{self.dist_info}/top_level.txt": f"{PACKAGE}\n".encode("utf-8"),
        }

    def package_files(self):
        """The package's files under their archive names, in a stable order, without
        compiled caches."""
        files = {}
        for path in sorted((self.root / PACKAGE).rglob("*")):
            relative = path.relative_to(self.root)
            if path.is_file() and "__pycache__" not in relative.parts and path.suffix != ".pyc":
                files[relative.as_posix()] = path.read_bytes()
        return files


# --- archives --------------------------------------------------------------------------------


def _timestamp():
    """SOURCE_DATE_EPOCH when set, so that builds are reproducible; else now."""
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", time.time()))
    return max(epoch, 315532800)  # zip cannot store dates before 1980


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(directory, project, files):
    wheel_name = f"{project.file_name}-{project.version}-{WHEEL_TAG}.whl"
    record_name = f"{project.dist_info}/RECORD"
    record = [_record_line(name, data) for name, data in files.items()] + [f"{record_name},,"]
    files = dict(files)
    files[record_name] = ("\n".join(record) + "\n").encode("utf-8")
    date_time = time.gmtime(_timestamp())[:6]
    with zipfile.ZipFile(Path(directory) / wheel_name, "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files.items():
            info = zipfile.ZipInfo(name, date_time)
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return wheel_name


def _dist_info_from(metadata_directory, project):
    """The dist-info files prepare_metadata_* wrote, when pip passes them back."""
    if metadata_directory is None:
        return project.dist_info_files()
    folder = Path(metadata_directory)
    return {
        f"{project.dist_info}/{path.name}": path.read_bytes()
        for path in sorted(folder.iterdir())
        if path.is_file() and path.name != "RECORD"
    }


def _prepare_metadata(metadata_directory):
    project = Project()
    for name, data in project.dist_info_files().items():
        path = Path(metadata_directory) / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return project.dist_info


# --- PEP 517 and PEP 660 hooks ---------------------------------------------------------------


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    return _prepare_metadata(metadata_directory)


def prepare_metadata_for_build_editable(metadata_directory, config_settings=None):
    return _prepare_metadata(metadata_directory)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = Project()
    files = project.package_files()
    files.update(_dist_info_from(metadata_directory, project))
    return _write_wheel(wheel_directory, project, files)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    """A wheel whose only content is a .pth file that puts the source folder on sys.path,
    so edits to the package take effect without reinstalling."""
    project = Project()
    files = {f"__editable__.{project.file_name}.pth": f"{ROOT}\n".encode("utf-8")}
    files.update(_dist_info_from(metadata_directory, project))
    return _write_wheel(wheel_directory, project, files)


def build_sdist(sdist_directory, config_settings=None):
    """A .tar.gz of what a wheel is built from: pyproject.toml, the README, this backend,
    the package, the examples and the tests, with PKG-INFO."""
    project = Project()
    base = f"{project.file_name}-{project.version}"
    members = {"PKG-INFO": project.metadata().encode("utf-8")}
    for name in ("pyproject.toml", "README.md", "build_backend/linkrelay_build.py"):
        members[name] = (ROOT / name).read_bytes()
    members.update(project.package_files())
    for folder in ("examples", "tests"):
        for path in sorted((ROOT / folder).glob("*.py")):
            members[path.relative_to(ROOT).as_posix()] = path.read_bytes()
    sdist_name = f"{base}.tar.gz"
    mtime = _timestamp()
    path = Path(sdist_directory) / sdist_name
    with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        for name, data in members.items():
            info = tarfile.TarInfo(f"{base}/{name}")
            info.size = len(data)
            info.mtime = mtime
            info.mode = 0o644
            sdist.addfile(info, io.BytesIO(data))
    return sdist_name
