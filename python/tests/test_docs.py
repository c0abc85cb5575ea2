"""Every Python block of docs/python.md runs, in order, as a reader would run them."""
import contextlib
import io
import os
import re
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]


def test_walkthrough_runs(program, tmp_path, monkeypatch):
    text = (REPO / "docs" / "python.md").read_text(encoding="utf-8")
    blocks = re.findall(r"```python\n(.*?)```", text, flags=re.S)
    assert len(blocks) >= 8
    (tmp_path / "examples").symlink_to(REPO / "examples")
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("SKINBURN", str(program.path))
    scope: dict = {"__name__": "walkthrough"}
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        for block in blocks:
            exec(compile(block, "docs/python.md", "exec"), scope)
    out = printed.getvalue()
    if os.environ.get("SKINBURN_DOCS_OUTPUT"):  # what the blocks print, to bring the page up to date
        Path(os.environ["SKINBURN_DOCS_OUTPUT"]).write_text(out)
    # What the page shows after each block is what the block prints.
    shown = "".join(re.findall(r"```python\n.*?```\n\n?```\n(.*?)```", text, flags=re.S))
    assert shown == out
    assert "Second-degree burn (Weaver-Stoll 1969 kinetics)." in out
    assert "largest gas temperature without a burn at 50 mm" in out and "no bracket" in out
    assert (tmp_path / "out" / "python-flash-fire.png").stat().st_size > 20000


def test_the_modules_import_only_downwards():
    """The package's docstring states its modules lowest first; no module imports one after it."""
    import ast

    import skinburn

    stated = re.search(r"\n\n    (units ->.*?)\n\n", skinburn.__doc__, flags=re.S).group(1)
    order = [m.strip() for m in stated.replace("\n", " ").split("->")]
    package = REPO / "python" / "skinburn"
    assert sorted(order) == sorted(p.stem for p in package.glob("*.py") if p.stem != "__init__")
    rank = {m: k for k, m in enumerate(order)}
    for path in package.glob("*.py"):
        if path.stem == "__init__":
            continue
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if isinstance(node, ast.ImportFrom) and node.level == 1:
                assert rank[node.module] < rank[path.stem], f"{path.stem} imports {node.module}, above it"


def test_every_address_the_docs_cite_resolves():
    """Each `skinburn.X.Y` the documents and docstrings name is there after ``import skinburn`` (in a
    fresh interpreter): a module is not hidden behind a function of its name, nor left unimported."""
    import subprocess
    import sys

    pages = [REPO / "README.md", *sorted((REPO / "docs").glob("*.md")), *sorted(REPO.glob("tools/*/README.md")),
             *sorted((REPO / "python" / "skinburn").glob("*.py"))]
    cited = {m for p in pages for m in re.findall(r"`~?(skinburn(?:\.[A-Za-z_]\w*)+)", p.read_text(encoding="utf-8"))}
    assert {"skinburn.runs.cooling_growth", "skinburn.searches.search", "skinburn.run"} <= cited
    probe = ("import skinburn, sys\n"
             "for address in sys.argv[1:]:\n"
             "    obj = skinburn\n"
             "    for part in address.split('.')[1:]:\n"
             "        if not hasattr(obj, part):\n"
             "            print(address)\n"
             "            break\n"
             "        obj = getattr(obj, part)\n"
             "assert callable(skinburn.run) and skinburn.runs.run is skinburn.run\n")
    done = subprocess.run([sys.executable, "-c", probe, *sorted(cited)], capture_output=True, text=True,
                          env={**os.environ, "PYTHONPATH": str(REPO / "python")})
    assert done.returncode == 0 and done.stdout == "", done.stdout + done.stderr


def test_names_that_moved_module_still_resolve_with_a_warning():
    """The data-directory writer left the trial's module, the step sampling the exposures': their old
    addresses give the same objects for one release, each with a DeprecationWarning."""
    import pytest

    import skinburn.exposure
    import skinburn.sampling
    import skinburn.trial
    import skinburn.writer

    with pytest.warns(DeprecationWarning, match="skinburn.writer.write_trial"):
        assert skinburn.trial.write_trial is skinburn.writer.write_trial
    with pytest.warns(DeprecationWarning, match="skinburn.sampling.record_values"):
        assert skinburn.exposure.record_values is skinburn.sampling.record_values
    with pytest.raises(AttributeError):
        skinburn.trial.no_such_name  # noqa: B018 - a name that never was stays an error
