"""The suite's own settings (conftest.py) do what the test runs rely on."""

import os

import pytest

CONFTEST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "conftest.py")

NEEDS_A_MISSING_LIBRARY = """
    import pytest

    def test_in_a_function():
        pytest.importorskip("orven_no_such_library")

    @pytest.fixture
    def library():
        return pytest.importorskip("orven_no_such_library")

    def test_in_a_fixture(library):
        pass

    @pytest.mark.skipif(True, reason="a condition of the test, not a missing library")
    def test_skipped_on_purpose():
        pass
"""


SKIPPED = dict(skipped=3)
# A skip in a fixture that fails instead counts as an error of the setup.
FAILED = dict(failed=1, errors=1, skipped=1)


@pytest.mark.parametrize("required, outcomes", [("1", FAILED), ("0", SKIPPED), (None, SKIPPED)])
def test_a_missing_library_fails_only_where_the_extras_are_required(pytester, monkeypatch, required, outcomes):
    with open(CONFTEST, encoding="utf-8") as source:
        pytester.makeconftest(source.read())
    pytester.makepyfile(NEEDS_A_MISSING_LIBRARY)
    if required is None:
        monkeypatch.delenv("ORVEN_REQUIRE_EXTRAS", raising=False)
    else:
        monkeypatch.setenv("ORVEN_REQUIRE_EXTRAS", required)
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider")
    result.assert_outcomes(**outcomes)
