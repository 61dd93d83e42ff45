"""Settings of the whole suite.

Where the typing and recipe libraries are meant to be installed, the run
sets ORVEN_REQUIRE_EXTRAS=1: there a test that pytest.importorskip would
skip for want of a library fails instead, so a broken install cannot pass
for a run in which those tests did nothing."""

import os

import pytest

pytest_plugins = ("pytester",)

REQUIRE_EXTRAS = os.environ.get("ORVEN_REQUIRE_EXTRAS") == "1"


def skipped_for_a_missing_module(excinfo):
    return excinfo.errisinstance(pytest.skip.Exception) and any(
        entry.name == "importorskip" for entry in excinfo.traceback)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if REQUIRE_EXTRAS and report.skipped and call.excinfo is not None \
            and skipped_for_a_missing_module(call.excinfo):
        report.outcome = "failed"
        report.longrepr = f"ORVEN_REQUIRE_EXTRAS=1, yet skipped: {call.excinfo.value}"
