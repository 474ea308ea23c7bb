"""pip builds the package offline through backend/vantoro_build.py, in a
virtual environment, reusing the build folder the tests run from."""

import base64
import csv
import hashlib
import importlib.machinery
import importlib.util
import io
import os
import pathlib
import subprocess
import sys
import tarfile
import zipfile

import pytest

import vantoro

PACKAGE = pathlib.Path(__file__).resolve().parents[1]
PROJECT = PACKAGE.parents[1]
BUILT = pathlib.Path(vantoro.__file__).resolve().parents[1]
# The folder run_tests.sh built in; without one pip builds afresh (slow).
BUILD_DIR = os.environ.get("VANTORO_PYTHON_BUILD_DIR") or (
    str(BUILT) if (BUILT / "CMakeCache.txt").exists() else None)


@pytest.fixture(scope="module")
def python(tmp_path_factory):
    """The interpreter of a new virtual environment with pip."""
    folder = tmp_path_factory.mktemp("venv")
    made = subprocess.run(["/usr/bin/python3", "-m", "venv", str(folder)], capture_output=True,
                          text=True)
    if made.returncode != 0:
        reason = f"no virtual environments with pip (python3-venv): {made.stdout}{made.stderr}"
        if os.environ.get("CI") == "true":
            pytest.fail(reason)
        pytest.skip(reason)
    return str(folder / "bin" / "python")


def run(python, *args, cwd=PROJECT):
    # Nothing of this process's environment may lead pip to an index or the
    # venv's python to the build tree.
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PIP_", "PYTHON"))}
    env.update(PIP_NO_INDEX="1", PIP_CONFIG_FILE=os.devnull, PIP_DISABLE_PIP_VERSION_CHECK="1",
               PIP_NO_CACHE_DIR="1", PYTHONDONTWRITEBYTECODE="1")
    if BUILD_DIR:
        env["VANTORO_PYTHON_BUILD_DIR"] = BUILD_DIR
    done = subprocess.run([python, *args], cwd=cwd, env=env, capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


USE = ("import vantoro, vantoro.asgi, vantoro.wsgi; "
       "print(vantoro.__file__, vantoro.is_protected(vantoro.protect(b'<p>x</p>', 'Site')))")


def test_pip_installs_the_package_and_an_editable_one(python, tmp_path):
    run(python, "-m", "pip", "install", "-e", "./bindings/python")
    # -I: only what is installed, not the folder it starts in; -B: no bytecode in
    # the source folder the editable install imports from.
    assert run(python, "-I", "-B", "-c", USE, cwd=tmp_path).split() == [
        str(PACKAGE / "vantoro" / "__init__.py"), "True"]
    run(python, "-m", "pip", "install", "./bindings/python")
    where, protected = run(python, "-I", "-B", "-c", USE, cwd=tmp_path).split()
    assert pathlib.Path(where).is_relative_to(pathlib.Path(python).parents[1] / "lib")
    assert protected == "True"


def test_pip_wheel_gives_a_wheel_whose_record_verifies(python, tmp_path):
    run(python, "-m", "pip", "wheel", "--no-deps", "-w", str(tmp_path), "./bindings/python")
    (wheel,) = tmp_path.glob("*.whl")
    with zipfile.ZipFile(wheel) as archive:
        files = {name: archive.read(name) for name in archive.namelist()}
    info = "vantoro-%s.dist-info" % vantoro.__version__
    rows = list(csv.reader(io.StringIO(files[f"{info}/RECORD"].decode())))
    assert sorted(row[0] for row in rows) == sorted(files)
    for name, digest, size in rows:
        if name != f"{info}/RECORD":
            expected = base64.urlsafe_b64encode(hashlib.sha256(files[name]).digest())
            assert (digest, int(size)) == ("sha256=" + expected.rstrip(b"=").decode(),
                                           len(files[name])), name
    # Every module of the source folder, and the C module for this interpreter.
    modules = {f"vantoro/{p.name}" for p in (PACKAGE / "vantoro").iterdir() if p.is_file()}
    modules.add("vantoro/_vantoro" + importlib.machinery.EXTENSION_SUFFIXES[0])
    assert {name for name in files if name.startswith("vantoro/")} == modules
    # The tag is one pip's own rules accept for the venv's interpreter.
    (tag,) = [line[5:] for line in files[f"{info}/WHEEL"].decode().splitlines()
              if line.startswith("Tag: ")]
    tags = run(python, "-c", "from pip._vendor.packaging import tags; "
                             "print(*tags.sys_tags())").split()
    assert tag in tags and wheel.name.endswith(f"-{tag}.whl")


def test_the_source_archive_carries_what_the_build_needs(tmp_path):
    spec = importlib.util.spec_from_file_location("vantoro_build",
                                                  PACKAGE / "backend" / "vantoro_build.py")
    backend = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(backend)
    name = backend.build_sdist(str(tmp_path))
    with tarfile.open(tmp_path / name) as archive:
        # Our own archive; the filter where this Python has it, for its warning.
        archive.extractall(tmp_path, **({"filter": "data"} if hasattr(tarfile, "data_filter")
                                        else {}))
    top = tmp_path / name.removesuffix(".tar.gz")
    assert (top / "PKG-INFO").read_bytes() == backend._metadata()
    # CMake checks at generation that every source file it was given exists.
    configured = subprocess.run(["cmake", "-S", str(top), "-B", str(tmp_path / "build"),
                                 f"-DPython3_EXECUTABLE={sys.executable}"],
                                capture_output=True, text=True)
    assert configured.returncode == 0, configured.stdout + configured.stderr
    cache = (tmp_path / "build" / "CMakeCache.txt").read_text()
    assert f"VANTORO_SOURCE_DIR:PATH={top}/vantoro-source\n" in cache
