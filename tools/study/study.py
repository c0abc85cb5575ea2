#!/usr/bin/python3
"""Parameter studies of skinburn, run with GNU parallel.

    study.py [options] TEMPLATE DESCRIPTION STUDYDIR [-- PARALLEL-OPTIONS...]

TEMPLATE is a data directory (its input files are copied, OUTPUT.TXT is not);
DESCRIPTION is a JSON file naming the values to vary; STUDYDIR receives one
trial directory per case (t001/, t002/, ...), GNU parallel's joblog and the
CSV of results. Every trial gets BATCH 1 and TRIAL = its number. A trial that
is complete (its status file exists and its inputs are unchanged) is not run
again, so an interrupted study resumes where it stopped. Words after `--` go
to GNU parallel as they stand (e.g. --sshlogin, --slf, --workdir).

Standard library only; see README.md next to this file for the description
format and the CSV columns.
"""
import argparse
import csv
import hashlib
import itertools
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import threading

INPUT_FILES = ("DATA.DAT", "INITTEMP.DAT", "CONDUCT.DAT", "HEATCAP.DAT", "DENSITY.DAT",
               "LEFTBC.DAT", "LEFTAMB.DAT", "RIGHTBC.DAT", "RIGHTAMB.DAT", "LEFTIMP.DAT",
               "GASPROP.DAT")
# The separate data file of a distribution block, by the letter that selects it.
BLOCK_FILES = {"I": "INITTEMP.DAT", "C": "CONDUCT.DAT", "H": "HEATCAP.DAT", "D": "DENSITY.DAT",
               "L": "LEFTBC.DAT", "O": "LEFTAMB.DAT", "R": "RIGHTBC.DAT", "A": "RIGHTAMB.DAT"}
# The twenty run-parameter entries of DATA.DAT: name, label words before the
# value, words after it, kind of value.
ENTRIES = (("OUTTIME", 7, 1, "real"), ("OUTNODE", 6, 1, "int"), ("VERBOSE", 5, 0, "int"),
           ("PRINTAMATRIX", 2, 0, "int"), ("PRINTINITTEMP", 2, 0, "int"),
           ("BURNDEPTH", 6, 0, "int"), ("BATCH", 2, 0, "int"), ("TRIAL", 2, 0, "int"),
           ("EXECDATE", 3, 0, "text"), ("EXECBY", 3, 0, "text"), ("FREQFACTOR", 3, 0, "real"),
           ("FREQEXP", 1, 0, "exp"), ("ACTENERGY", 1, 0, "real"), ("GASCONST", 1, 0, "real"),
           ("LBC", 2, 0, "text"), ("RBC", 1, 0, "text"), ("TIMESTEPS", 2, 0, "int"),
           ("DELTAT", 1, 1, "real"), ("DELTAX", 1, 1, "real"), ("NODES", 1, 0, "int"))
ENTRY_KIND = {name: kind for name, _, _, kind in ENTRIES}
ENTRY_NUMBERS = {str(i + 1): e[0] for i, e in enumerate(ENTRIES)}
FORCED = ("BATCH", "TRIAL")
JET_SCALARS = ("option", "reynolds", "nozzle", "offaxis", "standoff")
JET_KEYS = tuple("jet." + k for k in JET_SCALARS) + ("jet.standoff_ratio", "jet.boundary",
                                                     "jet.velocity")
OUTPUTS = ("OUTPUT.TXT", "stdout.txt", "stderr.txt", "status", "status.tmp", "inputs.sha256")


class StudyError(Exception):
    pass


# --- Reading the input files as skinburn does --------------------------------

WORD = re.compile(rb"[^ \t\n\v\f\r]+")
REAL = re.compile(rb"[+-]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?")
INT = re.compile(rb"[+-]?\d+")


def parse_real(word):
    m = REAL.match(word)
    return float(m.group()) if m else 0.0


def parse_int(word):
    m = INT.match(word)
    return int(m.group()) if m else 0


def starts_number(word):
    return word[:1].isdigit() or word[:1] == b"."


def skip_header(text):
    """Offset after the '#' lines and the title line (read in 79-byte pieces)."""
    pos = 0
    while pos < len(text):
        end = pos
        while end < len(text) and end - pos < 79:
            end += 1
            if text[end - 1] == 0x0A:
                break
        line, pos = text[pos:end], end
        if line[:1] != b"#":
            return pos
    raise EOFError


class Words:
    def __init__(self, text, pos):
        self.words = WORD.finditer(text, pos)

    def next(self):
        m = next(self.words, None)
        if m is None:
            raise EOFError
        return m

    def take(self, before, after=0):
        for _ in range(before):
            self.next()
        value = self.next()
        for _ in range(after):
            self.next()
        return value

    def pairs(self):
        """Spans of the value words of a pair list; consumes the word ending it.
        (In DATA.DAT a value word that is not a number is skipped; replacing it
        still gives the pair the new value.)"""
        spans = []
        while True:
            if not starts_number(self.next().group()):
                return spans
            spans.append(self.next().span())


def scan_data(text):
    """Spans of the twenty entries and of the value words of every block."""
    entries, blocks = {}, []
    try:
        w = Words(text, skip_header(text))
        for name, before, after, _ in ENTRIES:
            if name == "FREQEXP" and parse_real(text[slice(*entries["FREQFACTOR"])]) == 0:
                continue
            entries[name] = w.take(before, after).span()
        for place in range(1, 9):
            name = w.take(1 if place == 1 else 0).group().decode("latin-1")
            count = parse_int(w.take(0, 1).group())
            letter = "I"
            if place > 1:
                if count < -1:
                    break
                code = "O" if name[:1] == "L" and name[5:6] == "A" else \
                       "A" if name[:1] == "R" and name[6:7] == "A" else name[:1]
                if code not in BLOCK_FILES or code == "I":
                    continue  # skinburn skips such a block; it uses up its place
                letter = code
            elif count < 0:
                break
            if count == -1 and letter == "L":
                blocks.append((name, letter, "LEFTIMP.DAT", None))
                w.next()
            elif count == 0:
                blocks.append((name, letter, BLOCK_FILES[letter], None))
                w.next()
            else:
                blocks.append((name, letter, "DATA.DAT", w.pairs()))
    except EOFError:
        pass
    return entries, blocks


def scan_table_file(name, text):
    try:
        w = Words(text, skip_header(text))
        w.take(2)
        return w.pairs()
    except EOFError:
        raise StudyError(f"{name} of the template ends before its list of pairs ends")


def scan_leftimp(text):
    try:
        w = Words(text, skip_header(text))
        spans = {key: w.take(3 if key == "option" else 2).span() for key in JET_SCALARS}
        w.take(2, 1)
        spans["boundary"] = w.pairs()
        w.take(1, 1)
        spans["velocity"] = w.pairs()
        return spans
    except EOFError:
        raise StudyError("LEFTIMP.DAT of the template ends before its gas velocity list ends")


# --- Study description --------------------------------------------------------

def word_of(value):
    """The word written into the input files for a value of the description."""
    if isinstance(value, bool) or not isinstance(value, (int, float, str)):
        raise StudyError(f"value {value!r} is neither a number nor a word")
    if isinstance(value, str):
        if not value or WORD.fullmatch(value.encode("latin-1", "replace")) is None or \
                len(value) > 79 or not all(ord(c) < 256 for c in value):
            raise StudyError(f"value {value!r} must be one word of at most 79 characters")
        return value
    if isinstance(value, int):
        return str(value)
    text = repr(value)
    return text[:-2] if text.endswith(".0") else text


def values_of(key, given):
    if isinstance(given, list):
        if not given:
            raise StudyError(f"{key}: empty list of values")
        return [word_of(v) for v in given]
    if isinstance(given, dict):
        try:
            start, stop, count = given["start"], given["stop"], int(given["count"])
        except (KeyError, TypeError, ValueError):
            raise StudyError(f"{key}: a range needs start, stop and count")
        if count < 1 or set(given) - {"start", "stop", "count"} or not all(
                isinstance(x, (int, float)) and not isinstance(x, bool) for x in (start, stop)):
            raise StudyError(f"{key}: a range is {{start: number, stop: number, count >= 1}}")
        if count == 1:
            return [word_of(start)]
        return [word_of(float("%.12g" % (start + i * (stop - start) / (count - 1))))
                for i in range(count)]
    return [word_of(given)]


def read_description(path):
    """Columns (varied keys) and cases (dicts key -> word), and the fixed settings."""
    try:
        with open(path, encoding="utf-8") as f:
            desc = json.load(f)
    except (OSError, ValueError) as e:
        raise StudyError(f"{path}: {e}")
    if not isinstance(desc, dict) or set(desc) - {"grid", "cases", "set", "title"} or \
            ("grid" in desc) == ("cases" in desc):
        raise StudyError(f"{path}: give exactly one of \"grid\" or \"cases\" "
                         "(and optionally \"set\", \"title\")")
    if not isinstance(desc.get("set", {}), dict):
        raise StudyError("set: an object of key -> value")
    fixed = {k: word_of(v) for k, v in desc.get("set", {}).items()}
    if "grid" in desc:
        grid = desc["grid"]
        if not isinstance(grid, dict) or not grid:
            raise StudyError("grid: an object of key -> values")
        columns = list(grid)
        axes = [values_of(k, grid[k]) for k in columns]
        cases = [dict(zip(columns, combo)) for combo in itertools.product(*axes)]
    else:
        if not isinstance(desc["cases"], list) or not desc["cases"]:
            raise StudyError("cases: a non-empty list of objects")
        columns, cases = [], []
        for case in desc["cases"]:
            if not isinstance(case, dict):
                raise StudyError("cases: each case is an object of key -> value")
            columns += [k for k in case if k not in columns]
            cases.append({k: word_of(v) for k, v in case.items()})
    for key in columns + list(fixed):
        if key.upper() in FORCED:
            raise StudyError(f"{key} is set by the study itself (BATCH 1, TRIAL = number)")
    return columns, cases, fixed


# --- Making the trial directories --------------------------------------------

class Template:
    def __init__(self, directory):
        self.files = {}
        for name in INPUT_FILES:
            path = os.path.join(directory, name)
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    self.files[name] = f.read()
        if "DATA.DAT" not in self.files:
            raise StudyError(f"{directory}: no DATA.DAT")
        self.entries, self.blocks = scan_data(self.files["DATA.DAT"])
        if len(self.entries) < 19:
            raise StudyError(f"{directory}/DATA.DAT ends inside its twenty entries")

    def targets(self, key, word):
        """(file, spans, word) edits that give `key` the value `word`."""
        name = ENTRY_NUMBERS.get(key, key.upper())
        if name in ENTRY_KIND:
            if name not in self.entries:
                raise StudyError(f"{key}: DATA.DAT holds no such entry (FREQFACTOR is 0)")
            kind = ENTRY_KIND[name]
            if kind == "int" and re.fullmatch(r"[+-]?\d+", word) is None:
                raise StudyError(f"{key}: {word} is not an integer")
            if kind == "exp" and re.fullmatch(r"[+-]?\d+", word):
                word = "10^" + word
            return [("DATA.DAT", [self.entries[name]], word)]
        if key.startswith("jet."):
            if key not in JET_KEYS:
                raise StudyError(f"{key}: the jet values are {', '.join(JET_KEYS)}")
            if "LEFTIMP.DAT" not in self.files:
                raise StudyError(f"{key}: the template has no LEFTIMP.DAT")
            jet = scan_leftimp(self.files["LEFTIMP.DAT"])
            spans = jet[key[4:]]
            return [("LEFTIMP.DAT", spans if isinstance(spans, list) else [spans], word)]
        edits = []
        for block, _, source, spans in self.blocks:
            if block.upper() != key.upper():
                continue
            if source == "LEFTIMP.DAT":
                raise StudyError(f"{key}: the block comes from LEFTIMP.DAT; vary jet.* values")
            if source == "DATA.DAT" and not starts_number(word.encode("latin-1")):
                raise StudyError(f"{key}: a value in DATA.DAT must begin with a digit or '.'")
            if source != "DATA.DAT":
                if source not in self.files:
                    raise StudyError(f"{key}: the template has no {source}")
                spans = scan_table_file(source, self.files[source])
            edits.append((source, spans, word))
        if not edits:
            names = ", ".join(b[0] for b in self.blocks)
            raise StudyError(f"{key}: not an entry name or number, a jet.* value or a block "
                             f"of the template ({names})")
        return edits

    def trial_files(self, number, case):
        """The input files of one trial."""
        settings = dict(case, BATCH="1", TRIAL=str(number))
        if "jet.standoff_ratio" in settings:
            if "jet.standoff" in settings:
                raise StudyError("give jet.standoff or jet.standoff_ratio, not both")
            ratio = parse_real(settings.pop("jet.standoff_ratio").encode())
            nozzle = settings.get("jet.nozzle")
            if nozzle is None:
                jet = scan_leftimp(self.files["LEFTIMP.DAT"])
                nozzle = self.files["LEFTIMP.DAT"][slice(*jet["nozzle"])].decode("latin-1")
            settings["jet.standoff"] = word_of(float("%.12g" % (ratio * parse_real(
                nozzle.encode()))))
        edits = {}
        for key, word in settings.items():
            for source, spans, w in self.targets(key, word):
                for span in spans:
                    edits.setdefault(source, {})[span] = w.encode("latin-1")
        files = dict(self.files)
        for source, replace in edits.items():
            text = files[source]
            for (start, end), w in sorted(replace.items(), reverse=True):
                text = text[:start] + w + text[end:]
            files[source] = text
        check_layout(self, files, edits.get("DATA.DAT", {}), number, case)
        return files


def check_layout(template, files, replaced, number, case):
    """The new DATA.DAT must read back every entry and block value where it was."""
    old = template.files["DATA.DAT"]
    new_entries, new_blocks = scan_data(files["DATA.DAT"])
    want = [old[a:b] if (a, b) not in replaced else replaced[(a, b)]
            for a, b in list(template.entries.values()) +
            [s for b in template.blocks if b[3] for s in b[3]]]
    got = [files["DATA.DAT"][a:b] for a, b in list(new_entries.values()) +
           [s for b in new_blocks if b[3] for s in b[3]]]
    if want != got or [b[:3] for b in new_blocks] != [b[:3] for b in template.blocks]:
        raise StudyError(f"trial {number}: {json.dumps(case)} changes the layout of DATA.DAT "
                         "(a FREQFACTOR of 0 leaves out entry 12)")


def fingerprint(files):
    h = hashlib.sha256()
    for name in sorted(files):
        h.update(name.encode() + b"\0" + str(len(files[name])).encode() + b"\0" + files[name])
    return h.hexdigest()


def prepare(template, cases, fixed, study, force):
    """Writes the trial directories that need a run; returns (names, pending)."""
    width = max(3, len(str(len(cases))))
    names, pending = [], []
    # Every case is checked before anything is written.
    trials = [template.trial_files(number, dict(fixed, **case))
              for number, case in enumerate(cases, 1)]
    os.makedirs(study, exist_ok=True)
    for number, files in enumerate(trials, 1):
        name = "t%0*d" % (width, number)
        names.append(name)
        stamp = fingerprint(files)
        path = os.path.join(study, name)
        if not force and trial_status(path) is not None and \
                read_text(os.path.join(path, "inputs.sha256")) == stamp:
            continue
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        for file, text in files.items():
            with open(os.path.join(path, file), "wb") as f:
                f.write(text)
        with open(os.path.join(path, "inputs.sha256"), "w") as f:
            f.write(stamp)
        pending.append(name)
    return names, pending


# --- Running with GNU parallel ------------------------------------------------

class Progress(threading.Thread):
    """Trials done / total and failures so far, from the status files."""

    def __init__(self, study, names, pending):
        super().__init__(daemon=True)
        self.study, self.waiting, self.total = study, list(pending), len(names)
        self.done, self.failed = self.total - len(pending), sum(
            trial_status(os.path.join(study, n)) != "0" for n in names if n not in pending)
        self.stopped = threading.Event()
        self.tty = sys.stderr.isatty()
        self.shown = -1

    def show(self, final=False):
        waiting = []
        for name in self.waiting:
            status = trial_status(os.path.join(self.study, name))
            if status is None:
                waiting.append(name)
            else:
                self.done += 1
                self.failed += status != "0"
        self.waiting = waiting
        line = f"study: {self.done}/{self.total} trials done, {self.failed} failed"
        tenth = self.done * 10 // max(self.total, 1)
        if self.tty:
            sys.stderr.write("\r" + line + ("\n" if final else " "))
        elif tenth != self.shown or final:
            sys.stderr.write(line + "\n")
        self.shown = tenth
        sys.stderr.flush()

    def run(self):
        while not self.stopped.wait(0.5):
            self.show()


def trial_status(path):
    """The exit status written after the trial's run, or None before."""
    status = (read_text(os.path.join(path, "status")) or "").strip()
    return status or None


def run_trials(study, pending, skinburn, jobs, per_job, extra, progress):
    joblog = os.path.join(study, "joblog")
    if os.path.exists(joblog):
        os.remove(joblog)
    # A GNU parallel job runs `per_job` trials one after the other, each in its
    # own directory with stdin empty (the all-nodes Omega outcomes and error
    # reports wait for a key), and writes each trial's status after its run.
    # A trial stopped by SIGHUP, SIGINT, SIGKILL or SIGTERM (an interrupted
    # study) gets no status, ends the job and runs again next time. The job's
    # exit value is the number of its trials that failed.
    job = (f"cd {shlex.quote(os.path.abspath(study))} || exit 255; f=0; for t in {{}}; do "
           f"{shlex.quote(skinburn)} \"$t/\" </dev/null >\"$t/stdout.txt\" 2>\"$t/stderr.txt\"; "
           "s=$?; case $s in 129|130|137|143) exit $s;; esac; "
           "echo $s >\"$t/status\"; [ $s -eq 0 ] || f=$((f+1)); done; exit $f")
    # Without -j, one job per CPU core on every machine.
    command = ["parallel", "--will-cite", "--use-cores-instead-of-threads", "--ungroup",
               "--joblog", joblog, "-n", str(per_job)]
    command += ["-j", str(jobs)] if jobs else []
    command += extra + [job]
    env = dict(os.environ, PARALLEL_SHELL="/bin/sh")
    try:
        proc = subprocess.Popen(command, stdin=subprocess.PIPE, env=env, text=True)
    except FileNotFoundError:
        raise StudyError("GNU parallel is not installed (Debian: apt-get install parallel)")
    if progress:
        progress.start()
    try:
        proc.communicate("".join(n + "\n" for n in pending))
    except KeyboardInterrupt:
        proc.wait()
        raise
    finally:
        if progress:
            progress.stopped.set()
            progress.join()
            progress.show(final=True)


# --- Results --------------------------------------------------------------------

def read_text(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except OSError:
        return None


def lines_of(text):
    return [" ".join(line.split()) for line in (text or "").split("\n") if line.strip()]


def first_error(out, err):
    lines = lines_of(out)
    for i, line in enumerate(lines):
        if "Error" in line:
            if line.endswith(":") and i + 1 < len(lines):
                line += " " + lines[i + 1]
            return line
    return " ".join(lines_of(err)[:2])  # numerical fatal errors: banner line and cause


def outcome_of(out):
    if "Omega Output: Omega>1 for all nodes." in out:
        return "above"
    if "Omega Output: Omega<1 for all nodes." in out:
        return "below"
    depths = re.findall(r"Omega is equal to 1 at depth (\S+) \(m\)", out)
    if depths:
        return ";".join(depths)
    m = re.search(r"Omega at node \d+ =\s*(\S+)", out)
    return m.group(1) if m else "none"


PROFILE_NODE1 = re.compile(r"T\(K\) @ time[^\n]*\n[ \t]*1[ \t]+\S+[ \t]+(\S+)")
HISTORY = re.compile(r"T\(K\) @ Node\s+(\d+)[^\n]*\n")


def peak_of(report):
    """(peak temperature as printed, node): node 1 of the profiles, or the
    node of the history layout; empty when the report holds no temperatures."""
    values, node = PROFILE_NODE1.findall(report), "1"
    m = HISTORY.search(report)
    if m:
        node, values = m.group(1), []
        for line in report[m.end():].split("\n"):
            fields = line.split()
            if len(fields) not in (3, 4) or not all(REAL.fullmatch(f.encode()) for f in fields):
                break
            values.append(fields[-1])
    if not values:
        return "", ""
    temps = [float(v) for v in values]
    if any(t != t for t in temps):
        return "nan", node
    return values[temps.index(max(temps))], node


def summarize(study, name, shown):
    path = os.path.join(study, name)
    status = (read_text(os.path.join(path, "status")) or "").strip()
    out = read_text(os.path.join(path, "stdout.txt")) or ""
    err = read_text(os.path.join(path, "stderr.txt")) or ""
    data = (read_text(os.path.join(path, "DATA.DAT")) or "").encode("latin-1")
    entries, _ = scan_data(data)
    verbose = parse_int(data[slice(*entries["VERBOSE"])]) if "VERBOSE" in entries else 0
    report = (read_text(os.path.join(path, "OUTPUT.TXT")) or "") if verbose == 1 else out
    peak, node = peak_of(report)
    error = first_error(out, err)
    if not status:
        error = "did not complete (run the study again to resume)"
    elif status != "0" and not error:
        code = int(status)
        error = f"killed by signal {code - 128}" if code > 128 else f"exit status {code}"
    return {"status": status, "outcome": outcome_of(out) if status == "0" else "",
            "peak_T": peak, "peak_node": node, "error": error,
            "dir": os.path.join(shown, name) + "/"}


def write_csv(path, study, shown, names, columns, cases):
    fields = ["trial"] + columns + ["status", "outcome", "peak_T", "peak_node", "error", "dir"]
    statuses = []
    with open(path, "w", newline="") as f:
        out = csv.DictWriter(f, fields, lineterminator="\n")
        out.writeheader()
        for number, (name, case) in enumerate(zip(names, cases), 1):
            row = summarize(study, name, shown)
            statuses.append(row["status"])
            out.writerow(dict(case, trial=number, **row))
    return sum(s not in ("0", "") for s in statuses), statuses.count("")


def main(argv):
    ours, extra = (argv[:argv.index("--")], argv[argv.index("--") + 1:]) if "--" in argv \
        else (argv, [])
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(
        usage="%(prog)s [options] TEMPLATE DESCRIPTION STUDYDIR [-- PARALLEL-OPTIONS...]",
        description=__doc__.split("\n\n")[0],
        epilog="Words after -- go to GNU parallel as they stand (e.g. --sshlogin, --slf).")
    p.add_argument("template", help="data directory to copy for every trial")
    p.add_argument("description", help="JSON study description")
    p.add_argument("study", help="directory for the trials, joblog and CSV")
    p.add_argument("-j", "--jobs", help="trials at a time (default: one per CPU core)")
    p.add_argument("--csv", help="CSV file (default: STUDY/study.csv)")
    p.add_argument("--skinburn", default=os.environ.get("SKINBURN", os.path.join(
        here, "..", "..", "build", "default", "skinburn")), help="the skinburn binary")
    p.add_argument("--per-job", type=int, metavar="K",
                   help="trials per GNU parallel job (default: a tenth of a slot's share)")
    p.add_argument("--force", action="store_true", help="run every trial again")
    p.add_argument("--quiet", action="store_true", help="no progress display")
    args = p.parse_args(ours)
    try:
        skinburn = os.path.abspath(args.skinburn)
        if not os.access(skinburn, os.X_OK):
            raise StudyError(f"{skinburn}: no skinburn binary (build it, or give --skinburn)")
        columns, cases, fixed = read_description(args.description)
        template = Template(args.template)
        if args.per_job is not None and args.per_job < 1:
            raise StudyError("--per-job must be at least 1")
        names, pending = prepare(template, cases, fixed, args.study, args.force)
        done = len(names) - len(pending)
        if pending:
            # Several trials to a job: GNU parallel takes tens of milliseconds
            # to start each job, as long as a short trial runs.
            slots = int(args.jobs) if (args.jobs or "").isdigit() else os.cpu_count() or 1
            per_job = args.per_job or max(1, min(20, len(pending) // (10 * max(slots, 1))))
            progress = None if args.quiet else Progress(args.study, names, set(pending))
            run_trials(args.study, pending, skinburn, args.jobs, per_job, extra, progress)
        csv_path = args.csv or os.path.join(args.study, "study.csv")
        failed, unfinished = write_csv(csv_path, args.study, args.study.rstrip("/"), names,
                                       columns, cases)
    except StudyError as e:
        print(f"study: {e}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("\nstudy: interrupted; run it again to resume", file=sys.stderr)
        return 130
    print(f"study: {len(names)} trials ({len(pending)} run now, {done} already complete), "
          f"{failed} failed; {csv_path}")
    if unfinished:
        print(f"study: {unfinished} trials did not complete; run the study again to resume",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
