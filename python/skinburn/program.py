"""The skinburn program: finding it, asking what it reads, and running it.

The package never reads ``DATA.DAT`` itself: ``skinburn --check=json DIR/``
says what a data directory holds (docs/results.md), and
``skinburn --results PREFIX DIR/`` keeps what a run computed.

A :meth:`Program.resident` program stays running for a block
(``skinburn --serve``) and takes each run as a request: the same runs,
without starting a process for each.

Holds :class:`Program`, :class:`CheckReport`, the errors
:class:`ProgramError`, :class:`InputError`, and :func:`exclusive` (a
directory held by one run at a time, else :class:`DirectoryInUse`). Uses nothing of the package:
only the program, through its command line.
"""
from __future__ import annotations

import contextlib
import dataclasses
import fcntl
import json
import os
import subprocess
import threading
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Iterator, Optional, Union

from .units import SkinburnError

#: The program's own limit on the data-directory argument (README).
MAX_ARGUMENT = 63

PathLike = Union[str, os.PathLike]


class ProgramError(SkinburnError, RuntimeError):
    """skinburn stopped with an error, or could not be run.

    ``status`` is its exit status and ``message`` the message it stopped
    with; ``stdout``/``stderr`` hold what it printed, ``document`` the
    JSON it wrote (``--check=json`` or ``PREFIX.json``), when there is one.
    """

    def __init__(self, message: str, status: Optional[int] = None, stdout: str = "", stderr: str = "",
                 document: Optional[dict] = None) -> None:
        head = f"skinburn ended with status {status}: " if status is not None else "skinburn: "
        super().__init__(head + (message or "(no message)"))
        self.message = message
        self.status = status
        self.stdout = stdout
        self.stderr = stderr
        self.document = document


class InputError(ProgramError):
    """The data directory would not start a run (``--check`` says why)."""


class DirectoryInUse(SkinburnError, RuntimeError):
    """Another run or study of this package holds the directory (:func:`exclusive`); ``directory`` is it."""

    def __init__(self, directory: Path, what: str) -> None:
        super().__init__(f"{directory} is in use by another {what} of skinburn (it holds the directory's "
                         "lock): wait for it to end, or give another directory; nothing was written there")
        self.directory = directory


@contextlib.contextmanager
def exclusive(directory: PathLike, what: str = "run") -> Iterator[Path]:
    """Holds this package's lock on ``directory`` (created if need be) while the block runs.

    The lock is the kernel's ``flock`` on the file ``.skinburn.lock`` in the
    directory (the program itself locks the directory while it publishes
    its results there, so the package takes a file of its own); it goes
    with the process however that ends (a kill included). A directory another holder has (a run, a study, in
    this process or any other) raises :class:`DirectoryInUse` at once;
    ``what`` names the holder kind in the message ("run", "study").
    """
    d = Path(directory)
    d.mkdir(parents=True, exist_ok=True)
    fd = os.open(d / ".skinburn.lock", os.O_RDWR | os.O_CREAT | getattr(os, "O_CLOEXEC", 0), 0o666)
    try:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            raise DirectoryInUse(d, what) from None
        yield d
    finally:
        os.close(fd)


def _repository_binary() -> Path:
    # python/skinburn/program.py -> the repository's build/default/skinburn
    return Path(__file__).resolve().parents[2] / "build" / "default" / "skinburn"


@dataclass(frozen=True)
class Program:
    """One skinburn binary (``path``; a relative one is taken from the working directory at construction,
    as the runs start the binary from another)."""

    path: Path
    _resident: Optional["_Resident"] = field(default=None, compare=False, repr=False)

    def __reduce__(self) -> tuple:
        # To another process it goes as the binary alone: a resident program belongs to the process
        # that started it.
        return (Program, (self.path,))

    @contextlib.contextmanager
    def resident(self) -> Iterator["Program"]:
        """This binary kept running for the block (``skinburn --serve``): the program yielded runs and
        checks as this one does, to the same bytes, each as a request to one resident process
        instead of a process of its own (a small run costs a third as much). The process ends with
        the block; one that dies is started again at the next request, and the request it died in
        ends as a run that died would (its status the signal's, negative). Within a resident block
        this yields itself."""
        if self._resident is not None:
            yield self
            return
        server = _Resident(self.path)
        try:
            yield dataclasses.replace(self, _resident=server)
        finally:
            server.close()

    def __post_init__(self) -> None:
        object.__setattr__(self, "path", Path(os.path.abspath(self.path)))

    @classmethod
    def find(cls, path: Optional[Union[PathLike, "Program"]] = None) -> "Program":
        """The binary given, else ``$SKINBURN``, else ``build/default/skinburn`` of this repository.

        A path given, or ``$SKINBURN`` when set, that names no executable file is an error
        (:class:`FileNotFoundError` naming it), never passed over for the next place.
        """
        if isinstance(path, Program):
            return path
        tried = []
        for candidate, how in ((path, "the path given"), (os.environ.get("SKINBURN"), "$SKINBURN"),
                               (_repository_binary(), "the repository's build/default/skinburn")):
            if candidate is None or candidate == "":
                continue
            p = Path(candidate)
            if p.is_file() and os.access(p, os.X_OK):
                return cls(p.resolve())
            if how == "$SKINBURN":
                why = "is not executable" if p.is_file() else "is a directory" if p.is_dir() else "does not exist"
                raise FileNotFoundError(f"$SKINBURN names {p}, which {why}: set it to the skinburn binary, "
                                        "or unset it to use the repository's build/default/skinburn")
            tried.append(f"{how} ({p})")
            if how == "the path given":
                break
        raise FileNotFoundError("no skinburn binary: tried " + ", ".join(tried)
                                + "; build it (cmake --preset default && cmake --build --preset default) "
                                  "or set SKINBURN")

    def _call(self, args: list[str], directory: Path, timeout: Optional[float],
              resolved: bool = False) -> subprocess.CompletedProcess:
        """Run the binary on ``directory`` (``resolved``: already made absolute, links followed) from
        its parent, so the argument stays short."""
        if not resolved:
            directory = Path(directory).resolve()
        arg = directory.name + "/"
        if len(arg) > MAX_ARGUMENT:
            raise ValueError(f"the directory name {directory.name!r} is longer than skinburn's "
                             f"{MAX_ARGUMENT} characters")
        if self._resident is not None and not self._resident.closed:
            return self._resident.call([*args, arg], directory.parent, timeout)
        return subprocess.run([str(self.path), *args, arg], cwd=directory.parent, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=timeout)

    def version(self) -> str:
        """``skinburn X.Y.Z`` as the binary reports it."""
        out = subprocess.run([str(self.path), "--version"], stdin=subprocess.DEVNULL, capture_output=True)
        return out.stdout.decode("utf-8", "replace").strip()

    def check(self, directory: PathLike, timeout: Optional[float] = 120, perfusion: bool = False) -> "CheckReport":
        """What the program reads from ``directory`` (``--check=json``, with ``--perfusion`` when asked);
        never runs the model."""
        done = self._call(["--check=json"] + (["--perfusion"] if perfusion else []), Path(directory), timeout)
        stdout = done.stdout.decode("utf-8", "replace")
        try:
            doc = json.loads(stdout)
        except json.JSONDecodeError:
            raise ProgramError("no JSON from --check=json: this skinburn may be older than the option "
                               f"(stdout begins {stdout.strip()[:120]!r})", done.returncode, stdout,
                               done.stderr.decode("utf-8", "replace")) from None
        return CheckReport(doc, Path(directory))

    def run(self, directory: PathLike, prefix: PathLike, timeout: Optional[float] = None,
            time_scheme: Optional[str] = None, perfusion: bool = False, march_only: bool = False,
            brief: bool = False) -> "Completed":
        """Run on ``directory`` with ``--results prefix`` and return what it wrote.

        ``time_scheme`` (``"bdf2"`` or ``"backward-euler"``) is passed as
        ``--time-scheme``; None runs the program's own (backward Euler).
        ``perfusion`` passes ``--perfusion`` (the directory's ``PERFUSE.DAT``);
        ``march_only`` passes ``--march-only`` (the history without the program's burn evaluation);
        ``brief`` passes ``--results-brief`` (a results document without what the history gives:
        no arrays by node or by step, of the laid tables only the conductivities).
        """
        directory = Path(directory).resolve()
        prefix = Path(prefix).resolve()
        json_path = prefix.with_name(prefix.name + ".json")
        for stale in (json_path, prefix.with_name(prefix.name + ".npy")):
            with contextlib.suppress(FileNotFoundError):
                stale.unlink()
        scheme = ["--time-scheme", time_scheme] if time_scheme else []
        if perfusion:
            scheme.append("--perfusion")
        if march_only:
            scheme.append("--march-only")
        if brief:
            scheme.append("--results-brief")
        done = self._call(scheme + ["--results", str(prefix)], directory, timeout, resolved=True)
        stdout = done.stdout.decode("utf-8", "replace")
        stderr = done.stderr.decode("utf-8", "replace")
        document = None
        with contextlib.suppress(FileNotFoundError):
            document = json.loads(json_path.read_text(encoding="utf-8"))
        return Completed(done.returncode, stdout, stderr, document, prefix)


class _Resident:
    """One ``skinburn --serve`` process and the requests sent to it, one at a time."""

    def __init__(self, path: Path) -> None:
        self.path = path
        self.process: Optional[subprocess.Popen] = None
        self.lock = threading.Lock()
        self.closed = False  # after its block: the program's runs are processes of their own again

    def _start(self) -> subprocess.Popen:
        if self.process is None or self.process.poll() is not None:
            self.process = subprocess.Popen([str(self.path), "--serve"], stdin=subprocess.PIPE,
                                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        return self.process

    def call(self, args: list[str], cwd: Path, timeout: Optional[float]) -> subprocess.CompletedProcess:
        """The run of ``args`` from ``cwd``, as :func:`subprocess.run` would give it; a run past
        ``timeout`` (s) ends the process and raises :class:`subprocess.TimeoutExpired`."""
        argv = [str(self.path), *args]
        request = (json.dumps({"args": args, "cwd": str(cwd)}) + "\n").encode("utf-8")
        with self.lock:
            process = self._start()
            assert process.stdin is not None and process.stdout is not None, "both are pipes"
            timer = threading.Timer(timeout, process.kill) if timeout is not None else None
            if timer is not None:
                timer.start()
            try:
                try:
                    process.stdin.write(request)
                    process.stdin.flush()
                except BrokenPipeError:
                    pass  # it ended before the request: its status says how
                line = process.stdout.readline()
            finally:
                if timer is not None:
                    timer.cancel()
            if timer is not None and timer.finished.is_set() and not line:
                process.wait()
                raise subprocess.TimeoutExpired(argv, float(timeout or 0))
            if not line:
                status = process.wait()
                return subprocess.CompletedProcess(argv, status, b"", b"")
        answer = json.loads(line)
        return subprocess.CompletedProcess(argv, int(answer["status"]), answer["stdout"].encode("utf-8"),
                                           answer["stderr"].encode("utf-8"))

    def close(self) -> None:
        """Ends the process (at the end of its input) and waits for it."""
        with self.lock:
            process, self.process = self.process, None
            self.closed = True
        if process is None:
            return
        assert process.stdin is not None and process.stdout is not None, "both are pipes"
        try:
            process.stdin.close()
        except BrokenPipeError:
            pass
        try:
            process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        process.stdout.close()


@dataclass(frozen=True)
class Completed:
    """One finished run: exit status, console text, and the ``PREFIX.json`` document (None if not written)."""

    status: int
    stdout: str
    stderr: str
    document: Optional[dict]
    prefix: Path

    def raise_for_status(self) -> None:
        """ProgramError carrying the program's message and status unless the run ended normally."""
        if self.document is None:
            lines = [l for l in (self.stdout + "\n" + self.stderr).splitlines() if l.strip()]
            raise ProgramError("no results were written (is --results supported by this skinburn?); "
                               "last output: " + " | ".join(lines[-3:]), self.status, self.stdout, self.stderr)
        if self.status != 0 or self.document.get("outcome") == "error":
            raise ProgramError(self.document.get("error") or _last_message(self.stdout, self.stderr),
                               self.status, self.stdout, self.stderr, self.document)


def _last_message(stdout: str, stderr: str) -> str:
    lines = [l.strip() for l in (stderr or stdout).splitlines() if l.strip()]
    return " ".join(lines[-2:])


class CheckReport:
    """The ``--check=json`` document of a data directory, with lookups by name.

    ``document`` is the JSON as the program wrote it (docs/results.md).
    """

    def __init__(self, document: dict, directory: Optional[Path] = None) -> None:
        self.document = document
        self.directory = directory

    @property
    def would_start(self) -> bool:
        """True when a run of the directory would start."""
        return bool(self.document.get("would_start"))

    @property
    def error(self) -> Optional[str]:
        """The message a run would stop with, or None."""
        return self.document.get("error")

    @property
    def warnings(self) -> list[dict]:
        """``[{code, concerns, text}, ...]``."""
        return list(self.document.get("warnings") or [])

    @property
    def grid(self) -> dict:
        """``nodes``, ``deltax_m``, ``depth_m``, ``timesteps``, ``deltat_s``, ``duration_s``, ..."""
        return dict(self.document.get("grid") or {})

    @property
    def jet(self) -> Optional[dict]:
        """The jet's values, or None without ``LEFTIMP.DAT``."""
        return self.document.get("jet")

    @property
    def perfusion(self) -> Optional[dict]:
        """What the run read of the blood's perfusion (``--perfusion``), or None without it:
        ``arterial_temperature_K``, ``blood_density_kg_m3``, ``blood_heat_capacity_J_kgK``,
        ``pairs`` [[depth m, rate 1/s], ...] and ``laid`` (the rate of every node)."""
        return self.document.get("perfusion")

    def entry(self, name: str) -> dict:
        """The entry of ``DATA.DAT`` by name (``DELTAT``) or number (``"18"``)."""
        for e in self.document.get("entries") or []:
            if e.get("name") == name or str(e.get("number")) == str(name):
                return e
        raise KeyError(f"DATA.DAT has no entry {name!r} (or the reader did not reach it)")

    def value(self, name: str) -> Any:
        """The stored value of an entry."""
        return self.entry(name)["value"]

    def block(self, name: str) -> dict:
        """A distribution block by the table it selected (``left_ambient``) or its name as written."""
        for b in self.document.get("blocks") or []:
            if b.get("table") == name or (b.get("name") or {}).get("text") == name:
                return b
        raise KeyError(f"DATA.DAT has no block {name!r}")

    def laid_values(self, table: str) -> Optional[list[float]]:
        """The values a table laid on the grid (per node or per record), or None (none laid, or left
        out of a brief results document)."""
        try:
            laid = self.block(table).get("laid")
        except KeyError:
            return None
        values = None if laid is None else laid.get("values")
        return None if values is None else list(values)

    def raise_unless_startable(self) -> None:
        """InputError with the program's message when the run would not start."""
        if not self.would_start:
            raise InputError(self.error or "the run would not start", self.document.get("status"),
                             self.document.get("printed", ""), "", self.document)
