"""Sphinx configuration: the API reference is built from the installed
package's docstrings (the extension modules' own __doc__ and
__text_signature__), so build it in the project's environment."""

import os

# Document the modules as they run (their own docstrings and signatures),
# not by executing their .pyi stubs in their place.
os.environ["SPHINX_AUTODOC_IGNORE_NATIVE_MODULE_TYPE_STUBS"] = "1"

project = "oskra.tcl"
author = "the oskra.tcl developers"
copyright = "the oskra.tcl developers"

extensions = ["sphinx.ext.autodoc", "sphinx.ext.intersphinx"]
autodoc_member_order = "bysource"
autodoc_default_options = {"members": True, "show-inheritance": True}
# The stubs carry the types; the reference shows the run-time signatures.
autodoc_typehints = "none"
intersphinx_mapping = {}
nitpicky = False

html_theme = "alabaster"
html_title = "oskra.tcl"
exclude_patterns = ["_build"]
