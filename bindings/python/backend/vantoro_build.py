"""Builds the vantoro package for pip and other PEP 517 front ends.

The C module links the Vantoro library, which is C++ built by CMake from the
project tree, so the build is CMake's: bindings/python/CMakeLists.txt, with
the interpreter that runs this backend. The backend uses nothing but the
standard library, so pip needs no build requirements from an index and
builds offline with Debian's cmake, g++ and (when present) ninja-build.

    pip install ./bindings/python       a wheel, built in a temporary folder
    pip install -e ./bindings/python    the package from this folder, with the C
                                        module of <project>/build/python-editable

VANTORO_PYTHON_BUILD_DIR (or --config-settings build-dir=...) names an
absolute folder to build in and keep, for example the build/python of
run_tests.sh: a folder built before is only brought up to date. It must have
been configured for this source folder and this interpreter.

A source archive (build_sdist) carries the project tree it builds from in
vantoro-source/, where CMakeLists.txt looks for it.
"""

from __future__ import annotations

import base64
import csv
import gzip
import hashlib
import io
import os
import re
import shlex
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import time
import zipfile
from pathlib import Path
from typing import Any, Iterator

ROOT = Path(__file__).resolve().parent.parent
# Where a source archive carries the project tree.
SOURCE_COPY = "vantoro-source"
# What a source archive takes from this folder, and from the project tree:
# what configuring and building the module needs, not the tests.
PACKAGE_PARTS = ["pyproject.toml", "CMakeLists.txt", "backend", "src", "vantoro"]
SOURCE_PARTS = ["CMakeLists.txt", "cmake", "docs", "examples", "include", "src"]
# The [project] keys written into the metadata; others would be dropped silently.
PROJECT_KEYS = {"name", "dynamic", "description", "requires-python", "keywords", "classifiers"}

Settings = dict[str, Any] | None


class BuildError(Exception):
    """A build that cannot go on, with what to do about it."""


# ---- The hooks ----

def get_requires_for_build_wheel(config_settings: Settings = None) -> list[str]:
    return []


def get_requires_for_build_sdist(config_settings: Settings = None) -> list[str]:
    return []


def get_requires_for_build_editable(config_settings: Settings = None) -> list[str]:
    return []


def prepare_metadata_for_build_wheel(metadata_directory: str,
                                     config_settings: Settings = None) -> str:
    folder = Path(metadata_directory) / _dist_info()
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "METADATA").write_bytes(_metadata())
    return folder.name


prepare_metadata_for_build_editable = prepare_metadata_for_build_wheel


def build_wheel(wheel_directory: str, config_settings: Settings = None,
                metadata_directory: str | None = None) -> str:
    with tempfile.TemporaryDirectory(prefix="vantoro-wheel-") as scratch:
        build = _build_folder(config_settings) or Path(scratch, "build")
        _build(build)
        package = _install(build, Path(scratch, "staging"))
        files = [(f"vantoro/{path.name}", path.read_bytes(), path.suffix == ".so")
                 for path in sorted(package.iterdir()) if path.is_file()]
    return _write_wheel(wheel_directory, files, metadata_directory)


def build_editable(wheel_directory: str, config_settings: Settings = None,
                   metadata_directory: str | None = None) -> str:
    # The build folder stays: the C module is imported from it.
    build = _build_folder(config_settings) or _source_tree() / "build" / "python-editable"
    _build(build)
    built = build / "vantoro"
    _check_module(built)
    finder = EDITABLE_FINDER.format(source=str(ROOT / "vantoro"), built=str(built))
    files = [("_vantoro_editable.py", finder.encode(), False),
             ("_vantoro_editable.pth", b"import _vantoro_editable\n", False)]
    return _write_wheel(wheel_directory, files, metadata_directory)


def build_sdist(sdist_directory: str, config_settings: Settings = None) -> str:
    base = f"{_normalized_name()}-{_version()}"
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", time.time()))
    packed = io.BytesIO()
    with tarfile.open(fileobj=packed, mode="w", format=tarfile.PAX_FORMAT) as tar:
        _add(tar, f"{base}/PKG-INFO", _metadata(), False, epoch)
        source = _source_tree()
        for top, parts, prefix in ((ROOT, PACKAGE_PARTS, base),
                                   (source, SOURCE_PARTS, f"{base}/{SOURCE_COPY}")):
            for file in _files(top, parts):
                _add(tar, f"{prefix}/{file.relative_to(top).as_posix()}", file.read_bytes(),
                     os.access(file, os.X_OK), epoch)
    path = Path(sdist_directory, base + ".tar.gz")
    path.write_bytes(gzip.compress(packed.getvalue(), mtime=epoch))
    return path.name


# An editable install imports the package from its source folder; the C
# module, which is not there, from the build folder, second on its path.
EDITABLE_FINDER = '''"""vantoro from {source}, its C module from {built}."""
import importlib.util
import sys

_FOLDERS = [{source!r}, {built!r}]


class _Finder:
    @staticmethod
    def find_spec(name, path=None, target=None):
        if name != "vantoro":
            return None
        return importlib.util.spec_from_file_location(
            name, _FOLDERS[0] + "/__init__.py", submodule_search_locations=_FOLDERS)


sys.meta_path.append(_Finder)
'''


# ---- CMake ----

def _build_folder(config_settings: Settings) -> Path | None:
    value = (config_settings or {}).get("build-dir") or os.environ.get("VANTORO_PYTHON_BUILD_DIR")
    if not value:
        return None
    if not isinstance(value, str) or not os.path.isabs(value):
        # pip runs the backend in this folder, not where it was started.
        raise BuildError(f"the build folder must be an absolute path, not {value!r}")
    return Path(value)


def _build(build: Path) -> None:
    cmake = shutil.which("cmake")
    if cmake is None:
        raise BuildError("building vantoro needs CMake 3.25 or later (Debian: cmake), "
                         "a C++20 compiler (g++) and libsodium (libsodium-dev, pkg-config)")
    cache = build / "CMakeCache.txt"
    if cache.exists():
        _check_reusable(cache)
    else:
        configure = [cmake, "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                     # The interpreter pip runs: its headers and its module suffix.
                     f"-DPython3_EXECUTABLE={sys.executable}"]
        if "CMAKE_GENERATOR" not in os.environ and shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        _run(configure)
    command = [cmake, "--build", str(build)]
    if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
        cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else None
        command += ["--parallel", str(cores or os.cpu_count() or 1)]
    _run(command)


def _check_reusable(cache: Path) -> None:
    entries = dict(re.findall(r"^([\w.-]+):\w+=(.*)$", cache.read_text(errors="replace"), re.M))
    home = entries.get("CMAKE_HOME_DIRECTORY", "")
    if os.path.realpath(home) != str(ROOT):
        raise BuildError(f"{cache.parent} is the build folder of {home or 'something else'}, "
                         f"not of {ROOT}: name another one")
    configured = os.path.realpath(entries.get("Python3_EXECUTABLE", ""))
    ours = {os.path.realpath(sys.executable),
            os.path.realpath(getattr(sys, "_base_executable", sys.executable))}
    if configured not in ours:
        raise BuildError(f"{cache.parent} builds for {configured}, not for {sys.executable}: "
                         "name another build folder")


def _install(build: Path, staging: Path) -> Path:
    """The package folder as CMake installs it (component "python"), under staging."""
    cmake = shutil.which("cmake") or "cmake"
    _run([cmake, "--install", str(build), "--component", "python", "--strip"],
         env=dict(os.environ, DESTDIR=str(staging)))
    found = [path.parent for path in staging.rglob("vantoro/__init__.py")]
    if len(found) != 1:
        raise BuildError(f"CMake installed {len(found)} vantoro packages under {staging}")
    _check_module(found[0])
    return found[0]


def _check_module(package: Path) -> None:
    module = package / ("_vantoro" + sysconfig.get_config_var("EXT_SUFFIX"))
    if not module.exists():
        raise BuildError(f"{module} was not built: was the build folder made for another "
                         "interpreter?")


def _run(command: list[str], env: dict[str, str] | None = None) -> None:
    print("+", shlex.join(command), flush=True)
    result = subprocess.run(command, env=env)
    if result.returncode != 0:
        raise BuildError(f"{shlex.join(command)} failed (exit status {result.returncode})")


# ---- Metadata, tags, archives ----

def _project() -> dict[str, Any]:
    try:
        import tomllib
    except ModuleNotFoundError:
        raise BuildError("building vantoro with pip needs Python 3.11 or later") from None
    with open(ROOT / "pyproject.toml", "rb") as file:
        project: dict[str, Any] = tomllib.load(file)["project"]
    unknown = set(project) - PROJECT_KEYS
    if unknown or project.get("dynamic") != ["version"]:
        raise BuildError(f"pyproject.toml: the backend writes no metadata for "
                         f"{sorted(unknown) or 'a static version'}; teach it first")
    return project


def _source_tree() -> Path:
    """The project tree the library is built from: a source archive's copy, or ../.."""
    for tree in (ROOT / SOURCE_COPY, ROOT.parent.parent):
        if (tree / "include" / "vantoro" / "vantoro.h").exists():
            return tree
    raise BuildError(f"no Vantoro source tree at {ROOT / SOURCE_COPY} or {ROOT.parent.parent}")


def _version() -> str:
    text = (_source_tree() / "CMakeLists.txt").read_text()
    match = re.search(r"project\(\s*vantoro\s+VERSION\s+([0-9][0-9A-Za-z.]*)", text)
    if match is None:
        raise BuildError("the top-level CMakeLists.txt names no project version")
    return match.group(1)


def _normalized_name() -> str:
    return re.sub(r"[-_.]+", "_", _project()["name"]).lower()


def _dist_info() -> str:
    return f"{_normalized_name()}-{_version()}.dist-info"


def _metadata() -> bytes:
    project = _project()
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}", f"Version: {_version()}"]
    if "description" in project:
        lines.append(f"Summary: {project['description']}")
    if "keywords" in project:
        lines.append(f"Keywords: {','.join(project['keywords'])}")
    lines += [f"Classifier: {c}" for c in project.get("classifiers", [])]
    if "requires-python" in project:
        lines.append(f"Requires-Python: {project['requires-python']}")
    return ("\n".join(lines) + "\n").encode()


def _wheel_tag() -> str:
    """interpreter-abi-platform of this interpreter, by the rules pip matches wheels with."""
    major, minor = sys.version_info[:2]
    soabi = sysconfig.get_config_var("SOABI") or ""
    if sys.implementation.name == "cpython":
        interpreter = abi = f"cp{major}{minor}"
        if sysconfig.get_config_var("Py_GIL_DISABLED"):
            abi += "t"
        if sysconfig.get_config_var("Py_DEBUG"):
            abi += "d"
    else:
        short = {"pypy": "pp", "ironpython": "ip", "jython": "jy"}
        interpreter = f"{short.get(sys.implementation.name, sys.implementation.name)}{major}{minor}"
        abi = "_".join(soabi.split("-")[:2]) if soabi.startswith("pypy") else soabi.split("-")[0]
    platform = sysconfig.get_platform()
    if sys.maxsize <= 2**32:  # a 32-bit interpreter on a 64-bit system
        platform = {"linux-x86_64": "linux-i686", "linux-aarch64": "linux-armv8l"}.get(
            platform, platform)
    tags = [re.sub(r"[-. ]", "_", tag) for tag in (interpreter, abi or "none", platform)]
    return "-".join(tags)


def _write_wheel(wheel_directory: str, files: list[tuple[str, bytes, bool]],
                 metadata_directory: str | None) -> str:
    dist_info = _dist_info()
    metadata = (Path(metadata_directory, "METADATA").read_bytes() if metadata_directory
                else _metadata())
    tag = _wheel_tag()
    wheel = (f"Wheel-Version: 1.0\nGenerator: vantoro_build\nRoot-Is-Purelib: false\n"
             f"Tag: {tag}\n").encode()
    files = files + [(f"{dist_info}/METADATA", metadata, False),
                     (f"{dist_info}/WHEEL", wheel, False)]
    record = io.StringIO()
    writer = csv.writer(record, lineterminator="\n")
    for name, data, _ in files:
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        writer.writerow([name, f"sha256={digest}", len(data)])
    writer.writerow([f"{dist_info}/RECORD", "", ""])
    files.append((f"{dist_info}/RECORD", record.getvalue().encode(), False))
    path = Path(wheel_directory, f"{_normalized_name()}-{_version()}-{tag}.whl")
    stamp = time.gmtime(max(int(os.environ.get("SOURCE_DATE_EPOCH", 315532800)), 315532800))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data, executable in files:
            entry = zipfile.ZipInfo(name, stamp[:6])
            entry.external_attr = (0o100755 if executable else 0o100644) << 16
            archive.writestr(entry, data, zipfile.ZIP_DEFLATED)
    return path.name


def _files(top: Path, parts: list[str]) -> Iterator[Path]:
    for part in parts:
        path = top / part
        if path.is_file():
            yield path
            continue
        if not path.is_dir():
            raise BuildError(f"{path} is missing: a source archive needs it")
        for folder, subfolders, names in os.walk(path):
            subfolders[:] = sorted(d for d in subfolders
                                   if not d.startswith(".") and d != "__pycache__")
            for name in sorted(names):
                if not name.startswith(".") and not name.endswith(".pyc"):
                    yield Path(folder, name)


def _add(tar: tarfile.TarFile, name: str, data: bytes, executable: bool, mtime: int) -> None:
    entry = tarfile.TarInfo(name)
    entry.size, entry.mtime, entry.mode = len(data), mtime, 0o755 if executable else 0o644
    tar.addfile(entry, io.BytesIO(data))
