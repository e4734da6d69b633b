"""The README's Python example works on the package as `cmake --install` puts it."""
import os
import re
import subprocess
import sys

import pytest

from conftest import SOURCE_DIR


def test_the_readme_example_runs_on_the_installed_package(tmp_path):
    build = os.environ.get("PELKO_BUILD_DIR")
    cmake = os.environ.get("CMAKE_COMMAND", "cmake")
    if not build:
        pytest.skip("PELKO_BUILD_DIR names no build (ctest sets it)")
    # DESTDIR keeps even an absolute install folder inside the temporary one.
    env = dict(os.environ, DESTDIR=str(tmp_path))
    subprocess.run([cmake, "--install", build, "--component", "python"], env=env, check=True,
                   capture_output=True)
    installed = list(tmp_path.rglob("pelko/__init__.py"))
    assert len(installed) == 1 and list(installed[0].parent.glob("_core*.so"))
    readme = (SOURCE_DIR / "README.md").read_text()
    example = re.search(r"```python\n(.*?)```", readme, re.DOTALL).group(1)
    env = dict(os.environ, PYTHONPATH=str(installed[0].parent.parent))
    done = subprocess.run([sys.executable, "-c", example + "print(pelko.__file__)\n"],
                          cwd=SOURCE_DIR, env=env, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert "P(AI < 0.8) = 0.998" in done.stdout
    assert done.stdout.splitlines()[-1] == str(installed[0])
