"""The build backend of `pip install .`: scikit-build-core's, keeping what the last install compiled.

pip builds every install in an isolated environment of its own, under a new temporary path, and scikit-build-core
clears the CMake cache and the compiled objects of its build folder (build/<wheel tag>, pyproject.toml) whenever
the path of its own package differs from the one recorded there, so `pip install '.[all]'` or the test command
after `pip install .` would compile everything again. A folder built from this source by the same version of
scikit-build-core stays valid (CMake is configured again with the paths of this build): its record is brought
up to date first, and Ninja then compiles only what changed.
"""

import json
import pathlib

import scikit_build_core
from scikit_build_core import build
from scikit_build_core.build import *  # noqa: F403 (every hook as scikit-build-core gives it)

SOURCE_DIR = pathlib.Path(__file__).resolve().parent.parent


def _adopt_build_folders():
    here = str(pathlib.Path(scikit_build_core.__file__).parent.resolve())
    for record in SOURCE_DIR.glob("build/*/.skbuild-info.json"):
        try:
            info = json.loads(record.read_text(encoding="utf-8"))
        except (OSError, ValueError):
            continue  # scikit-build-core clears what it cannot read
        if (isinstance(info, dict) and info.get("skbuild_version") == scikit_build_core.__version__
                and info.get("source_dir") == str(SOURCE_DIR) and info.get("skbuild_path") != here):
            record.write_text(json.dumps(dict(info, skbuild_path=here), indent=2), encoding="utf-8")


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    _adopt_build_folders()
    return build.build_wheel(wheel_directory, config_settings, metadata_directory)
