"""Sphinx configuration of the abyx documentation: the user guide, the configuration reference and the API."""

import os
import re
import sys

from docutils.parsers.rst import Directive

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

# The configuration keys are documented once, in the README's tables; `.. readme-tables:: <heading>` renders the
# tables of the README section under that heading (down to the next heading), each after the line that names it.
README = os.path.join(os.path.dirname(__file__), "..", "README.md")


def _rst_cell(text):
    text = re.sub(r"\[([^\]]+)\]\(#[^)]*\)", r"\1", text.strip())  # links within the README: their text
    return text.replace("\\|", "|") or "\\ "


def readme_tables_rst(heading):
    lines = open(README, encoding="utf-8").read().split("\n")
    start = lines.index(heading) + 1
    end = next((i for i in range(start, len(lines)) if lines[i].startswith("#")), len(lines))
    out, paragraph, i = [], [], start
    while i < end:
        if not (lines[i].startswith("|") and lines[i + 1].startswith("|-") and set(lines[i + 1]) <= set("|-: ")):
            paragraph = paragraph + [lines[i]] if lines[i].strip() else []
            i += 1
            continue
        label, paragraph = paragraph[0] if len(paragraph) == 1 else "", []  # a one-line paragraph names a table
        rows = []
        while i < end and lines[i].startswith("|"):
            if not set(lines[i]) <= set("|-: "):
                rows.append([_rst_cell(c) for c in re.split(r"(?<!\\)\|", lines[i].strip())[1:-1]])
            i += 1
        out += ["", label, "", ".. list-table::", "   :header-rows: 1", ""]
        for row in rows:
            out += [f"   {'*' if n == 0 else ' '} - {cell}" for n, cell in enumerate(row)]
        out.append("")
    return out


class ReadmeTables(Directive):
    required_arguments = 1
    final_argument_whitespace = True

    def run(self):
        self.state_machine.insert_input(readme_tables_rst(self.arguments[0]), README)
        return []


def setup(app):
    app.add_directive("readme-tables", ReadmeTables)
