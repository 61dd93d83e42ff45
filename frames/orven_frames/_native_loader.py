"""Loads the native part, which lives in the same shared object as orven.

One library means one worker pool and one set of process-wide values for
both packages.  The object exports a second initialiser, PyInit__native,
which the import machinery finds when the module is loaded under the name
orven_frames._native from orven's file.
"""

import importlib.util
import sys

import orven

from . import _texts

NAME = "orven_frames._native"


def load():
    module = sys.modules.get(NAME)
    if module is not None:
        return module
    module_spec = importlib.util.spec_from_file_location(NAME, orven.__file__)
    if module_spec is None or module_spec.loader is None:
        raise ImportError(_texts.native_not_found(NAME, orven.__file__))
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    sys.modules[NAME] = module
    return module
