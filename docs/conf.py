"""Sphinx configuration of the abyx documentation: the user guide and the toolkit's API reference."""

import os
import sys

sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "python")))

project = "abyx"
author = "the abyx developers"
copyright = "2026, the abyx developers"
extensions = ["sphinx.ext.autodoc", "sphinx.ext.napoleon"]
exclude_patterns = ["_build", "images"]
autodoc_member_order = "bysource"
autodoc_typehints = "none"
default_role = "code"
html_theme = "alabaster"
