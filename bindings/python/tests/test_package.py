"""The package as a whole: its types, and the README's example."""

import os
import pathlib
import re
import shutil
import subprocess

import pytest

import vantoro

README = pathlib.Path(__file__).resolve().parents[3] / "README.md"


def test_the_package_passes_mypy_strict(tmp_path):
    mypy = shutil.which("mypy") or "/usr/bin/mypy"
    if not os.access(mypy, os.X_OK):
        if os.environ.get("CI") == "true":
            pytest.fail("mypy is not installed")
        pytest.skip("mypy is not installed")
    # The package as built, with the stub of its C module beside it.
    package = pathlib.Path(vantoro.__file__).resolve().parent
    run = subprocess.run([mypy, "--strict", "--no-color-output", "--cache-dir", str(tmp_path),
                          str(package)], cwd=package.parent, capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    assert "Success" in run.stdout


def python_section_example():
    text = README.read_text(encoding="utf-8")
    section = text[text.index("\n## Python use\n"):text.index("\n## PHP use\n")]
    return re.search(r"^```python\n(.*?)^```$", section, re.S | re.M).group(1)


def test_the_readme_example_runs_as_written(capsys):
    example = python_section_example()
    assert "import vantoro" in example
    exec(compile(example, "README.md (Python use)", "exec"), {})
    assert "VANTORO_INVALID_ARGUMENT copyright decoys need" in capsys.readouterr().out
