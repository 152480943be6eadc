"""Fixtures of the end-to-end tests.

`wine_env` (session): the Wine prefix, Xvfb and wineserver, found or brought up
once; the cross build folder comes from QOR_WIN_BUILD (default
build/ci-FLAVOUR, FLAVOUR as `tools/wine-env flavour` says).
`qor` (each test): the prefix reset to pristine, setup.exe at
C:\\qortest\\setup.exe, and helpers; see ADDING_CASES.md.
"""

from __future__ import annotations

import shutil
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
import qorwine  # noqa: E402


def _build_dir() -> Path:
    path = qorwine.default_build("ci")
    if not (path / "uidriver.exe").exists():
        pytest.exit(f"no cross build with uidriver.exe in {path}: build it and set QOR_WIN_BUILD", returncode=3)
    return path.resolve()


@pytest.fixture(scope="session")
def wine_env():
    env = qorwine.WineEnv.start(_build_dir())
    yield env
    env.stop()


class QorCase:
    """One test's view of the prefix: setup.exe and the harness helpers."""

    SETUP = r"C:\qortest\setup.exe"

    def __init__(self, env: qorwine.WineEnv):
        self.env = env
        self.results: list[qorwine.Result] = []

    def __getattr__(self, name):
        # write_file, read_file, exists, mkdir, listdir, host_path, win_path,
        # add_drive, set_windows_version, reg_add, reg_delete, reg_import,
        # reg_export, reg_value, wine
        return getattr(self.env, name)

    def install_setup(self, win_path: str = SETUP) -> str:
        """Copies the built setup.exe to a Windows path (default C:\\qortest)."""
        built = self.env.build / "setup.exe"
        if not built.exists():
            pytest.fail(f"{built} is missing: the cross build did not produce setup.exe")
        target = self.env.host_path(win_path)
        target.parent.mkdir(parents=True, exist_ok=True)
        if not target.exists() or target.stat().st_mtime < built.stat().st_mtime:
            shutil.copy2(built, target)
        return win_path

    def run(self, exe: str, args="", rules=(), timeout: float = 30, allow_timeout=False, allow_problems=False,
            **kw) -> qorwine.Result:
        """Runs any Windows program under the UI driver (see qorwine.WineEnv.run).
        Fails the test when the run hit its time limit or an action could not be
        done, unless allowed."""
        result = self.env.run(exe, args, rules=rules, timeout=timeout, **kw)
        self.results.append(result)
        problems = result.problems()
        if result.timed_out and not allow_timeout:
            pytest.fail("the run did not end in time:\n" + result.describe(), pytrace=False)
        if problems and not (allow_problems or (allow_timeout and result.timed_out)):
            pytest.fail("driving the program failed: " + "; ".join(problems) + "\n" + result.describe(),
                        pytrace=False)
        return result

    def run_setup(self, args="", rules=(), timeout: float = 30, exe: str | None = None,
                  winver: str | None = None, **kw) -> qorwine.Result:
        """Runs setup.exe (copied to C:\\qortest unless `exe` names another
        Windows path) with the raw argument text `args`; `winver` (e.g. "win98")
        is the Windows version Wine reports to it."""
        exe = exe or self.install_setup()
        if winver:
            self.env.set_windows_version(exe.rsplit("\\", 1)[-1], winver)
        return self.run(exe, args, rules=rules, timeout=timeout, **kw)


@pytest.fixture
def qor(wine_env, request):
    wine_env.reset()
    case = QorCase(wine_env)
    request.node._qor_case = case
    yield case


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    case = getattr(item, "_qor_case", None)
    if case and report.when == "call" and report.failed:
        for i, result in enumerate(case.results, 1):
            report.sections.append((f"run {i}", result.describe()))
