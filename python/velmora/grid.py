"""velmora-grid: run a grid of velmora models and tabulate their outbursts.

From a base parameter file and one or more ranges KEYWORD=v1,v2,... it makes one
run folder per combination of values, <out>/<base>_<kw>=<v>_.../, holding
  model.par     the base file's values, as the program reads them, with those
                keywords set and `name` set to the folder's name (so that every
                model writes its own mdotin_<name>.dat), written through the
                package's parameter-file vocabulary: one "VALUE # KEYWORD" line per
                keyword of the program's table, reals to 17 digits. A relative
                supply_file of the base file is taken from the base file's folder,
                as the program takes it, and written as an absolute path.
  model.check   what `velmora --check model.par` says of it
  run.sh        runs velmora on model.par in that folder, stdin from /dev/null
                (the end of input answers the program's key press), its console
                into velmora.log, its exit status into exit_status
It then runs every run.sh with GNU parallel, or, with --slurm, writes Slurm job
arrays (one task per folder, arrays of at most --array-size tasks), a summary job
and submit.sh, and stops. When the runs have ended it writes <out>/summary.tsv:
one line per model with its folder, the varied values, the exit status, the peak
of the exact inner accretion rate (column 5 of the rate file, g/s) and its time
(s, days, texp), the peak of column 3's least-squares estimate under its own
name, the number of output times and the run time.

Every keyword of a range is checked against the program's keyword table and
every value against its kind (a real, a whole number) before anything is
written, whatever binary is named: nothing a user types reaches a script
unchecked. When the named velmora runs here, `velmora --check` also reads every
model as a run would.

Exit status: 0 every model ran and has its data; 1 a model failed or the grid
could not be prepared; 2 usage; 3 (--summary of a Slurm grid) no model failed
but some are still pending or running.
"""

from __future__ import annotations

import itertools
import math
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import warnings
from typing import Optional

from . import _vocabulary

PROG = "velmora-grid"
NUMBER = re.compile(r"^[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?$")
INTEGER = re.compile(r"^[-+]?[0-9]+$")
DROPPED = re.compile(r"^warning: .* line [0-9]+: ")
# The files of a grid folder itself (besides its member folders).
GRID_FILES = ("grid.tsv", "summary.tsv", "joblog.tsv", "slurm_arrays.tsv", "submit.sh",
              "velmora-grid.slurm", "velmora-grid-summary.slurm")
GRID_FILE_PATTERN = re.compile(r"^(velmora-grid-[0-9]+\.slurm|slurm-[0-9_]+\.out|slurm-summary-[0-9]+\.out)$")


def usage_text() -> str:
    cores = os.cpu_count() or 1
    return f"""Usage: {PROG} [options] BASE_PARAMETER_FILE KEYWORD=V1,V2,... [KEYWORD=V1,...]...
       {PROG} --summary GRID_FOLDER

Runs one velmora model per combination of the listed values, each in its own
folder GRID_FOLDER/<base>_<keyword>=<value>_.../ with its own parameter file
model.par and run name, then writes GRID_FOLDER/summary.tsv (peak of the exact
accretion rate, column 5, and its time for every model; column 3's peak beside it).

Options:
  -o, --out DIR       grid folder holding the run folders (default: grid); it must
                      be new or empty, or hold a grid that --replace replaces
      --replace       remove the grid already in DIR (its member folders and
                      files) before writing the new one
  -j, --jobs N        models run at the same time (default: {cores}, the core count)
      --velmora PATH  velmora executable (default: build/velmora of this
                      source tree if built, else velmora on PATH)
      --timeout SEC   stop a model that runs longer than SEC seconds
                      (reported with exit status 124)
      --slurm         do not run: write Slurm job arrays with one task per
                      folder (GRID_FOLDER/velmora-grid.slurm, or
                      velmora-grid-1.slurm, -2, ... when the grid needs several
                      arrays), a job that writes the summary after them
                      (velmora-grid-summary.slurm) and GRID_FOLDER/submit.sh,
                      which submits them all; or submit one array with sbatch
                      and run "{PROG} --summary GRID_FOLDER" when it has ended
      --sbatch OPT    add "#SBATCH OPT" to the Slurm scripts (repeatable),
                      e.g. --sbatch --time=30 --sbatch --partition=short
      --setup LINE    a shell line every Slurm task runs before its model
                      (repeatable), e.g. --setup 'module load gsl'
      --array-size N  at most N tasks per job array (default 1000, lowered to
                      the cluster's MaxArraySize when scontrol reports it)
      --no-check      write and run the grid even when velmora --check
                      refuses a model or drops an entry of the base file
      --summary DIR   only (re)write the summary of the grid in DIR
  -h, --help          this help
      --version       the version of velmora this tool belongs to
An option's value may also follow an '=' (--out=DIR, --jobs=4).

Keywords: those of velmora's parameter files (python3 -c 'import velmora;
print([k.name for k in velmora.keywords()])'); only numeric keywords can be
varied; name is set by the grid.

Example:
  {PROG} -j 2 examples/default.par l=0.25,0.4 mdisk=1e24,1e25"""


class Usage(Exception):
    """A usage error: exit status 2."""


class Failure(Exception):
    """The grid cannot be prepared: exit status 1."""


def note(text: str) -> None:
    print(f"{PROG}: {text}", file=sys.stderr, flush=True)


def shown(text: str) -> str:
    """TEXT for a message or a script comment: control characters as escapes, so that
    no text of the user's can start a line of a script."""
    return text.encode("unicode_escape").decode("ascii") if any(ord(ch) < 32 or ord(ch) == 127 for ch in text) \
        else text


# ---- the program's vocabulary ---------------------------------------------------------

def keyword_kinds() -> dict:
    """Keyword -> kind ('real', 'integer', 'text'), in the program's table order."""
    import velmora
    return {k.name: k.kind for k in velmora.keywords()}


def read_parameters(path: str) -> tuple:
    """The values of a parameter file as the program reads them, and the reader's warnings
    (entries it drops)."""
    import velmora
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        values = velmora.read_parameter_file(path)
    return values, [str(w.message) for w in caught if issubclass(w.category, velmora.ParameterFileWarning)]


def format_parameters(values: dict) -> str:
    import velmora
    return velmora.format_parameter_file(values)


# ---- the command line -------------------------------------------------------------------

class Options:
    def __init__(self):
        self.outdir = "grid"
        self.jobs = str(os.cpu_count() or 1)
        self.binary = None
        self.timeout = None
        self.slurm = False
        self.check = True
        self.replace = False
        self.summary = None
        self.sbatch = []
        self.setup = []
        self.array_size = None
        self.positional = []


def parse_args(argv: list) -> Options:
    o = Options()
    needs = {"-o": ("outdir", "a folder"), "--out": ("outdir", "a folder"), "-j": ("jobs", "a number"),
             "--jobs": ("jobs", "a number"), "--velmora": ("binary", "a path"), "--timeout": ("timeout", "seconds"),
             "--sbatch": ("sbatch", "an option"), "--setup": ("setup", "a shell line"),
             "--array-size": ("array_size", "a number"), "--summary": ("summary", "a grid folder")}
    i = 0
    while i < len(argv):
        a = argv[i]
        if a in ("-h", "--help"):
            print(usage_text())
            raise SystemExit(0)
        if a == "--version":
            from . import __version__  # noqa: PLC0415
            print(f"{PROG} {__version__}")
            raise SystemExit(0)
        if a.startswith("--") and "=" in a and a.partition("=")[0] in needs:
            # --out=DIR, as GNU tools take it: the same as --out DIR.
            argv = argv[:i] + list(a.partition("=")[::2]) + argv[i + 1:]
            a = argv[i]
        if a in needs:
            attr, what = needs[a]
            if i + 1 >= len(argv):
                raise Usage(f"{a} needs {what}")
            value = argv[i + 1]
            if attr in ("outdir", "summary") and value.startswith("-"):
                raise Usage(f"{a} needs {what}, not the option-like '{shown(value)}' "
                            f"(a folder of that name: ./{shown(value)})")
            if isinstance(getattr(o, attr), list):
                getattr(o, attr).append(value)
            else:
                setattr(o, attr, value)
            i += 2
        elif a == "--slurm":
            o.slurm, i = True, i + 1
        elif a == "--no-check":
            o.check, i = False, i + 1
        elif a == "--replace":
            o.replace, i = True, i + 1
        elif a == "--":
            o.positional += argv[i + 1:]
            break
        elif a.startswith("-") and a != "-":
            options = list(needs) + ["--slurm", "--no-check", "--replace", "--help", "--version"]
            near = _vocabulary.nearest(a.partition("=")[0], [o for o in options if o.startswith("--")]) \
                if a.startswith("--") else None
            raise Usage(f"unknown option {shown(a)}" + (f"; did you mean {near}?" if near else ""))
        else:
            o.positional.append(a)
            i += 1
    return o


def positive_integer(text: Optional[str], what: str) -> Optional[int]:
    if text is None:
        return None
    if not INTEGER.match(text) or int(text) < 1:
        raise Usage(f"{what} needs a positive whole number, not '{shown(text)}'")
    return int(text)


def parse_ranges(ranges: list, kinds: dict) -> list:
    """[(keyword, [value text, ...]), ...]: every keyword one of the table's numeric
    keywords, every value a number of its kind, no line breaks, nothing twice."""
    out = []
    seen = set()
    for text in ranges:
        if "=" not in text:
            raise Usage(f"'{shown(text)}' is not a range KEYWORD=V1,V2,...")
        key, _, values = text.partition("=")
        if key == _vocabulary.run_name():
            raise Usage(f"{key} is set by the grid (one distinct name per model) and cannot be varied")
        if key not in kinds:
            near = _vocabulary.nearest(key, kinds)
            raise Usage(f"'{shown(key)}' is not a velmora keyword (keywords: {' '.join(kinds)})" +
                        (f"; did you mean {near}?" if near else ""))
        if kinds[key] == "text":
            raise Usage(f"{key} takes a text; a grid varies numbers only")
        if key in seen:
            raise Usage(f"keyword {key} is given twice")
        seen.add(key)
        if values == "":
            raise Usage(f"no values for {key}")
        listed = values.split(",")
        distinct = set()
        for i, v in enumerate(listed):
            if v == "":
                # "l=0.25, 0.4": the shell's blank ended the range after its comma
                raise Usage(f"empty value in '{shown(text)}'" + (
                    f" (a blank after a comma ends the range: write {key}=V1,V2 without blanks)"
                    if i == len(listed) - 1 else ""))
            if not NUMBER.match(v):
                raise Usage(f"{key} takes a number, not '{shown(v)}'" + (
                    f" (write {key}={','.join(x.strip() for x in listed)} without blanks)"
                    if NUMBER.match(v.strip()) else ""))
            if kinds[key] == "integer" and not INTEGER.match(v):
                raise Usage(f"{key} takes a whole number, not '{shown(v)}'")
            same = next((w for w in listed[:listed.index(v)] if float(w) == float(v)), None) \
                if v not in distinct else v
            if same is not None:  # 0.4 and 0.40 are one model, run twice under two names
                raise Usage(f"value {v} of {key} is listed twice" + (f" (as {same})" if same != v else ""))
            distinct.add(v)
        out.append((key, listed))
    return out


def safe_folder(path: str, what: str) -> None:
    """A folder the grid's scripts, tables and Slurm can name: no control characters."""
    if any(ord(ch) < 32 or ord(ch) == 127 for ch in path):
        raise Failure(f"{what} '{shown(path)}' holds a line break or another control character, which the "
                      "grid's scripts and tables cannot name; choose another folder (-o)")


# ---- the program, when it runs here ---------------------------------------------------------

def find_binary(given: Optional[str], slurm: bool) -> tuple:
    """(path as the scripts call it, runs here)."""
    if given is None:
        # The wrapper tools/velmora-grid names its source tree's build; a package run from a
        # build folder (<build>/python/velmora) has the program at <build>/velmora.
        package = os.path.dirname(os.path.realpath(__file__))
        candidates = [os.environ.get("VELMORA_GRID_BUILD_BINARY", ""),
                      os.path.join(os.path.dirname(os.path.dirname(package)), "velmora")]
        found = next((c for c in candidates if c and os.path.isfile(c) and os.access(c, os.X_OK)), None)
        given = found or shutil.which("velmora")
        if not given:
            raise Failure("no velmora executable: build it (build/velmora) or give --velmora PATH")
    if os.path.isfile(given) and os.access(given, os.X_OK):
        return os.path.realpath(given), True
    if "/" not in given and shutil.which(given):
        return shutil.which(given), True
    if slurm:
        note(f"note: {shown(given)} is not an executable here; the Slurm script calls it as given")
        return given, False
    raise Failure(f"velmora executable not found or not executable: {shown(given)}")


def run_check(binary: str, path: str) -> str:
    r = subprocess.run([binary, "--check", path], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, text=True, errors="replace")
    return r.stdout


def checked_value(report: str, key: str) -> Optional[str]:
    value = None
    for line in report.splitlines():
        f = line.split()
        if len(f) >= 3 and f[0] == key and f[1] == "=":
            value = f[2]
    return value


def reads_as(key: str, wanted, got: Optional[str]) -> bool:
    if got is None:
        return False
    if key == _vocabulary.run_name():
        return got == wanted
    try:
        return float(got) == float(wanted)
    except ValueError:
        return False


# ---- making the grid ---------------------------------------------------------------------------

def typed(value: str, kind: str):
    return int(value) if kind == "integer" else float(value)


def tool_command() -> str:
    """The shell command that runs this tool again (the summary job, the rerun hint)."""
    tool = os.environ.get("VELMORA_GRID_TOOL")
    if tool:
        return shlex.quote(tool)
    argv0 = sys.argv[0] if sys.argv else ""
    if os.path.basename(argv0) == PROG and os.path.isfile(argv0):
        return shlex.quote(os.path.realpath(argv0))
    import velmora
    package_parent = os.path.dirname(os.path.dirname(os.path.realpath(velmora.__file__)))
    return (f"env PYTHONPATH={shlex.quote(package_parent)} {shlex.quote(sys.executable)} -m velmora.grid")


def sbatch_quoted(text: str) -> str:
    """TEXT as one value of an #SBATCH line: sbatch splits these lines at blanks and stops
    at '#' unless quoted; inside double quotes a backslash takes the next character as is."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def slurm_seconds(text: str) -> Optional[int]:
    """A Slurm time limit in seconds; None for what is not one (UNLIMITED, say)."""
    m = re.fullmatch(r"([0-9]+)-([0-9]+)(?::([0-9]+))?(?::([0-9]+))?", text)
    if m:
        d, h, mi, s = int(m[1]), int(m[2]), int(m[3] or 0), int(m[4] or 0)
    elif re.fullmatch(r"[0-9]+", text):
        d, h, mi, s = 0, 0, int(text), 0
    elif re.fullmatch(r"([0-9]+):([0-9]+)", text):
        d, h = 0, 0
        mi, s = (int(x) for x in text.split(":"))
    elif re.fullmatch(r"([0-9]+):([0-9]+):([0-9]+)", text):
        d = 0
        h, mi, s = (int(x) for x in text.split(":"))
    else:
        return None
    return ((d * 24 + h) * 60 + mi) * 60 + s


def max_array_size() -> Optional[int]:
    if not shutil.which("scontrol"):
        return None
    try:
        r = subprocess.run(["scontrol", "show", "config"], stdin=subprocess.DEVNULL, capture_output=True,
                           text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return None
    for line in r.stdout.splitlines():
        f = line.split()
        if len(f) >= 3 and f[0] == "MaxArraySize" and f[1] == "=" and INTEGER.match(f[2]):
            return int(f[2])
    return None


def clear_old_grid(outdir: str, replace: bool) -> None:
    """A grid goes into a new or empty folder; a folder holding a grid is emptied of it
    with --replace (its member folders and the grid's own files), else refused."""
    if not os.path.exists(outdir):
        return
    if not os.path.isdir(outdir):
        raise Failure(f"the grid folder {outdir} exists and is not a folder")
    entries = os.listdir(outdir)
    if not entries:
        return
    manifest = os.path.join(outdir, "grid.tsv")
    if not os.path.isfile(manifest):
        raise Failure(f"the grid folder {outdir} is not empty and holds no grid (no grid.tsv); "
                      "choose a new or empty folder (-o)")
    if not replace:
        raise Failure(f"{outdir} already holds a grid; give --replace to replace it whole, "
                      "or choose another folder (-o)")
    with open(manifest, encoding="utf-8", errors="replace") as f:
        members = [line.split("\t", 1)[0].rstrip("\n") for line in f.readlines()[1:]]
    for member in members:
        path = os.path.join(outdir, member)
        if member and "/" not in member and member not in (".", "..") and os.path.isdir(path) \
                and not os.path.islink(path):
            shutil.rmtree(path)
    for entry in os.listdir(outdir):
        if entry in GRID_FILES or GRID_FILE_PATTERN.match(entry):
            os.remove(os.path.join(outdir, entry))
    note(f"note: the grid of {len(members)} models that was in {outdir} is replaced")


RUN_SH = """#!/bin/bash
# One model of a velmora grid made by velmora-grid from {base} with {setting}.
# Runs velmora in this folder; the end of input answers its key press.
cd "$(dirname "$(readlink -f "$0")")" || exit 1
rm -f exit_status run_time
start=$(date +%s.%N)
{limit}{binary} model.par < /dev/null > velmora.log 2>&1
status=$?
awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {{ printf "%.1f\\n", b - a }}' > run_time
echo "$status" > exit_status
echo "finished {folder}: exit status $status after $(cat run_time) s"
exit "$status"
"""

TASK = """task=${{SLURM_ARRAY_TASK_ID:-}}
if ! [[ $task =~ ^[0-9]+$ ]] || [ "$task" -ge ${{#folders[@]}} ]; then
    echo "velmora-grid: array task '$task' has no model here (tasks 0 to {last})" >&2
    exit 2
fi
# The helper thread only where Slurm gave the task a second CPU, whatever the
# submitting shell had.
export VELMORA_THREADS=${{SLURM_CPUS_PER_TASK:-1}}
echo "velmora-grid: task $task of job ${{SLURM_ARRAY_JOB_ID:-?}}, model $(( {first} + task + 1 )) of {n}, on ${{SLURMD_NODENAME:-$(uname -n)}} with VELMORA_THREADS=$VELMORA_THREADS"
exec bash "${{folders[$task]}}/run.sh"
"""

SUBMIT = """    id=$(sbatch --parsable "$script") || { echo "submit.sh: sbatch $script failed; submitted so far: ${ids[*]:-none}" >&2; exit 1; }
    ids+=("${id%%;*}")
    echo "Submitted $script as job array ${id%%;*}"
done
deps=$(IFS=:; echo "${ids[*]}")
"""

SUBMIT_SUMMARY = """id=$(sbatch --parsable --dependency="afterany:$deps" "$script") || { echo "submit.sh: sbatch $script failed" >&2; exit 1; }
echo "Submitted the summary as job ${id%%;*}: it starts once the arrays have ended (job ids ${deps//:/, })"
"""


def write_file(path: str, text: str) -> None:
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    except OSError as e:
        raise Failure(f"cannot write {path}: {e.strerror}")


def make_grid(o: Options) -> int:
    if len(o.positional) < 2:
        print(usage_text(), file=sys.stderr)
        if o.positional:  # after the usage, where a terminal shows it: what is missing
            note(f"no KEYWORD=V1,V2,... after {shown(o.positional[0])}: name at least one keyword to vary, "
                 "e.g. texp=20,30")
        return 2
    jobs = positive_integer(o.jobs, "-j")
    timeout_s = positive_integer(o.timeout, "--timeout")
    array_size = positive_integer(o.array_size, "--array-size")
    if not o.slurm and (o.sbatch or o.setup or array_size is not None):
        raise Usage("--sbatch, --setup and --array-size are for Slurm grids (--slurm)")
    for opt in o.sbatch:
        if any(ord(ch) < 32 for ch in opt):
            raise Usage(f"--sbatch '{shown(opt)}': an #SBATCH line cannot hold a line break")
    base = o.positional[0]
    if not (os.path.isfile(base) and os.access(base, os.R_OK)):
        reason = ("no such file" if not os.path.lexists(base) else "a folder, not a file" if os.path.isdir(base)
                  else "not readable" if os.path.exists(base) else "a broken link")
        raise Usage(f"cannot read the base parameter file '{shown(base)}': {reason}")
    base_stem = os.path.splitext(os.path.basename(base))[0]
    if not re.fullmatch(r"[A-Za-z0-9._+-]+", base_stem):
        raise Failure(f"the base file's name '{shown(base_stem)}' makes a poor run name; "
                      "use letters, digits and . _ + - only")
    kinds = keyword_kinds()
    ranges = parse_ranges(o.positional[1:], kinds)
    safe_folder(o.outdir, "the grid folder")
    outdir = os.path.abspath(o.outdir)
    safe_folder(outdir, "the grid folder")

    binary, runs_here = find_binary(o.binary, o.slurm)
    if not o.slurm and not shutil.which("parallel"):
        raise Failure("GNU parallel not found; install it (Debian package parallel)")
    if not runs_here and o.check:
        raise Failure(f"{shown(binary)} does not run here, so the models cannot be checked with velmora --check; "
                      "give --no-check to write the grid unchecked")
    checker = binary if runs_here else None
    if checker is not None:
        listed = [line.split()[0] for line in run_check(checker, "/dev/null").split("# derived")[0].splitlines()
                  if len(line.split()) >= 2 and line.split()[1] == "="]
        if not listed:
            raise Failure(f"{binary} --check lists no keywords: is it velmora (of a version with --check)?")
        for key, _ in ranges:
            if key not in listed:
                raise Usage(f"'{key}' is not a keyword of {binary} (keywords: {' '.join(listed)})")

    # The base file as the program reads it; entries it drops would be dropped from every model.
    try:
        values, dropped = read_parameters(base)
    except OSError as e:
        raise Failure(f"cannot read the base parameter file {shown(base)}: {e.strerror}")
    except ValueError as e:
        raise Failure(f"the base parameter file {shown(base)} is refused: {e}")
    if checker is not None:
        # Entries the program drops name their line (its other warnings are the members').
        dropped = [line for line in run_check(checker, base).splitlines() if DROPPED.match(line)]
    if dropped:
        print("\n".join(dropped), file=sys.stderr)
        if o.check:
            raise Failure("velmora drops these entries of the base file in every model; correct them, "
                          "or give --no-check to run the grid as it is")
    # A relative table is the one next to the base file, as the program reads it.
    supply_table = _vocabulary.supply_table()
    table = values.get(supply_table) or ""
    if table and not os.path.isabs(table):
        values[supply_table] = os.path.join(os.path.dirname(os.path.abspath(base)), table)

    combos = list(itertools.product(*[[(key, v) for v in vals] for key, vals in ranges]))
    members = []
    with tempfile.TemporaryDirectory(prefix="velmora-grid.") as staging:
        problems = False
        for combo in combos:
            folder = base_stem + "".join(f"_{k}={v}" for k, v in combo)
            member = dict(values)
            for k, v in combo:
                member[k] = typed(v, kinds[k])
            member[_vocabulary.run_name()] = folder
            try:
                text = (f"A member of a velmora grid: the base file {base_stem} with "
                        + " ".join(f"{k}={v}" for k, v in combo) + ".\n\n" + format_parameters(member))
            except ValueError as e:
                raise Failure(f"{folder}: the parameter file cannot be written: {e}")
            report = None
            if checker is not None:
                par = os.path.join(staging, folder + ".par")
                write_file(par, text)
                report = run_check(checker, par)
                for k, v in list(combo) + [(_vocabulary.run_name(), folder)]:
                    got = checked_value(report, k)
                    if not reads_as(k, v, got):
                        if k == _vocabulary.run_name():
                            raise Failure(f"{folder}: velmora reads the name as '{got}', not as the folder's name")
                        raise Usage(f"{folder}: velmora reads {k} = {v} as {got}")
                verdict = next((line for line in report.splitlines() if line.startswith("verdict: ")), None)
                if o.check and verdict != "verdict: ok":
                    last = report.strip().splitlines()[-1] if report.strip() else "no output"
                    note(f"{folder}: {verdict or 'velmora --check gave no verdict: ' + last}")
                    problems = True
            members.append((folder, combo, text, report))
        # A value that looks like another unit (the program's plausibility warnings) is
        # shown, each text once, but is the user's to judge.
        shown_warnings = set()
        for folder, _, _, report in members:
            for line in (report or "").splitlines():
                if line.startswith("warning: ") and not DROPPED.match(line) and line not in shown_warnings:
                    shown_warnings.add(line)
                    note(f"{folder}: {line}")
        if problems:
            raise Failure("velmora --check refuses models of the grid (see above); nothing was written or run. "
                          "Use --no-check to run them anyway.")

    chunk = array_size or 1000
    time_line = None
    if o.slurm:
        if "\\" in outdir:
            raise Failure(f"Slurm cannot write task output under a path with a backslash: {outdir}; "
                          "choose another grid folder (-o)")
        cluster_max = max_array_size()
        if cluster_max is not None:
            if cluster_max < 1:
                raise Failure(f"this Slurm cluster has job arrays switched off (MaxArraySize = {cluster_max})")
            if chunk > cluster_max:
                note(f"note: arrays of at most {cluster_max} tasks, the cluster's MaxArraySize")
                chunk = cluster_max
        # Slurm's time limit must leave the model its --timeout and the 10 s after it in
        # which timeout kills it and run.sh records the status 124.
        user_time = None
        for opt in o.sbatch:
            m = re.fullmatch(r"(?:--time(?:=|\s+)|-t\s*)(\S+)", opt)
            if m:
                user_time = m[1]
        if timeout_s is not None and user_time is None:
            time_line = f"#SBATCH --time={(timeout_s + 10 + 59) // 60 + 1}"
        elif timeout_s is not None:
            limit = slurm_seconds(user_time)
            if limit is not None and limit <= timeout_s + 10:
                note(f"warning: Slurm's --time {user_time} ({limit} s; a bare number is minutes) does not exceed "
                     f"--timeout {timeout_s} s and the 10 s after it: Slurm may stop a model before its status "
                     "is recorded")

    try:
        clear_old_grid(outdir, o.replace)
        os.makedirs(outdir, exist_ok=True)
    except OSError as e:
        raise Failure(f"cannot prepare the grid folder {outdir}: {e.strerror}")
    limit = f"timeout --kill-after=10 {timeout_s} " if timeout_s is not None else ""
    base_shown = shown(os.path.realpath(base))
    paths = []
    for folder, combo, text, report in members:
        path = os.path.join(outdir, folder)
        try:
            os.makedirs(path, exist_ok=True)
        except OSError as e:
            raise Failure(f"cannot create {path}: {e.strerror}")
        write_file(os.path.join(path, "model.par"), text)
        if report is not None:
            write_file(os.path.join(path, "model.check"), report)
        write_file(os.path.join(path, "run.sh"), RUN_SH.format(
            base=base_shown, setting=" ".join(f"{k}={v}" for k, v in combo), limit=limit,
            binary=shlex.quote(binary), folder=folder))
        paths.append(path)
    header = "\t".join(["folder"] + [k for k, _ in ranges])
    rows = ["\t".join([folder] + [v for _, v in combo]) for folder, combo, _, _ in members]
    write_file(os.path.join(outdir, "grid.tsv"), "\n".join([header] + rows) + "\n")
    print(f"Prepared {len(paths)} models in {outdir}", flush=True)

    if o.slurm:
        write_slurm(outdir, paths, chunk, time_line, o.sbatch, o.setup)
        return 0
    print(f"Running {len(paths)} models, {jobs} at a time, with {binary}", flush=True)
    subprocess.run(["parallel", "--jobs", str(jobs), "--joblog", os.path.join(outdir, "joblog.tsv"),
                    "bash", "{}/run.sh", ":::"] + paths, stdin=subprocess.DEVNULL)
    return summarize(outdir)


def write_slurm(outdir: str, paths: list, chunk: int, time_line: Optional[str], sbatch: list, setup: list) -> None:
    n = len(paths)
    narrays = (n + chunk - 1) // chunk
    tool = tool_command()
    q = shlex.quote

    def job_header(suffix: str, output: str) -> list:
        # The grid folder's name tells two grids apart in squeue; later #SBATCH lines win.
        lines = [f"#SBATCH --job-name={sbatch_quoted(os.path.basename(outdir) + suffix)}",
                 "#SBATCH --ntasks=1", "#SBATCH --cpus-per-task=1",
                 f"#SBATCH --output={sbatch_quoted(outdir.replace('%', '%%') + '/' + output)}"]
        if time_line:
            lines.append(time_line)
        lines += [f"#SBATCH {opt}" for opt in sbatch]
        lines.append("")
        if setup:
            lines += ["# Set-up (--setup):"] + setup
        return lines

    arrays = []
    table = []
    for a in range(narrays):
        first = a * chunk
        count = min(chunk, n - first)
        name = "velmora-grid.slurm" if narrays == 1 else f"velmora-grid-{a + 1}.slurm"
        lines = ["#!/bin/bash",
                 f"# velmora grid in {outdir}: models {first + 1} to {first + count} of {n}, one Slurm array task each.",
                 f"# Submit the whole grid and its summary: bash {q(os.path.join(outdir, 'submit.sh'))}",
                 f"# This array alone:                      sbatch {q(os.path.join(outdir, name))}",
                 f"# When all have ended:                   {tool} --summary {q(outdir)}",
                 f"#SBATCH --array=0-{count - 1}"]
        lines += job_header("", "slurm-%A_%a.out")
        lines += ["folders=("] + [f"    {q(p)}" for p in paths[first:first + count]] + [")"]
        text = "\n".join(lines) + "\n" + TASK.format(last=count - 1, first=first, n=n)
        write_file(os.path.join(outdir, name), text)
        table.append(f"{name}\t{first}\t{count}\n")
        arrays.append(os.path.join(outdir, name))
    write_file(os.path.join(outdir, "slurm_arrays.tsv"), "".join(table))
    summary_lines = ["#!/bin/bash", f"# Writes the summary of the velmora grid in {outdir}.",
                     "# submit.sh submits it to start when every array of the grid has ended (afterany)."]
    summary_lines += job_header("-summary", "slurm-summary-%j.out")
    summary_lines.append(f"exec {tool} --summary {q(outdir)}")
    write_file(os.path.join(outdir, "velmora-grid-summary.slurm"), "\n".join(summary_lines) + "\n")
    submit = ["#!/bin/bash", f"# Submits the velmora grid in {outdir}: its {narrays} job array(s), then the",
              "# job that writes summary.tsv once they have all ended, however they ended.", "ids=()",
              "for script in \\"]
    submit += [f"    {q(s)} \\" for s in arrays] + ["    ; do"]
    text = "\n".join(submit) + "\n" + SUBMIT
    text += f"script={q(os.path.join(outdir, 'velmora-grid-summary.slurm'))}\n" + SUBMIT_SUMMARY
    write_file(os.path.join(outdir, "submit.sh"), text)
    if narrays == 1:
        print(f"Slurm script: {arrays[0]}")
    else:
        print(f"Slurm scripts: {narrays} job arrays of at most {chunk} tasks, {arrays[0]} to {arrays[-1]}")
    print(f"Submit the grid and its summary with: bash {q(os.path.join(outdir, 'submit.sh'))}")
    print(f"(or each array with sbatch, then, when they have ended: {tool} --summary {q(outdir)})")


# ---- the summary ---------------------------------------------------------------------------

def read_arrays(folder: str) -> list:
    out = []
    with open(os.path.join(folder, "slurm_arrays.tsv"), encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if len(parts) == 3 and INTEGER.match(parts[1]) and INTEGER.match(parts[2]):
                out.append((parts[0], int(parts[1]), int(parts[2])))
    return out


def slurm_queue(folder: str) -> Optional[dict]:
    """Model index -> (state, 'jobid_task') of the grid's tasks squeue still lists; a task
    is recognised by its array script (compared as a file, so that a path through a
    symbolic link matches too). None when squeue cannot be asked."""
    if not shutil.which("squeue"):
        return None
    user = os.environ.get("USER") or subprocess.run(["id", "-un"], capture_output=True, text=True).stdout.strip()
    try:
        r = subprocess.run(["squeue", "-h", "-r", "-u", user, "-o", "%F %K %T %o"], stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return None
    if r.returncode != 0:
        return None
    queued = {}
    arrays = read_arrays(folder)
    for line in r.stdout.splitlines():
        parts = line.split(None, 3)
        if len(parts) < 4 or not parts[3].endswith(".slurm") or not INTEGER.match(parts[1]):
            continue
        job, task, state, command = parts[0], int(parts[1]), parts[2], parts[3]
        for script, first, count in arrays:
            try:
                same = os.path.samefile(command, os.path.join(folder, script))
            except OSError:
                same = False
            if same and task < count:
                queued[first + task] = (state, f"{job}_{task}")
    return queued


def read_rate_columns(path: str) -> tuple:
    """(texp in s or None, whether the file names a column 5, rows of (t, col3, col5))."""
    texp = None
    has5 = False
    rows = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("#"):
                if line.startswith("#texp(s)="):
                    try:
                        texp = float(line[9:])
                    except ValueError:
                        pass
                elif line.startswith("#5="):
                    has5 = True
                continue
            fields = line.split()
            if not fields:
                continue

            def number(k):
                if len(fields) > k and NUMBER.match(fields[k]):
                    return float(fields[k])
                return math.nan
            rows.append((number(1), number(2), number(4)))
    return texp, has5, rows


def peak(rows: list, k: int) -> Optional[tuple]:
    """(value, time, index from 1) of the largest finite value of field k."""
    best = None
    for i, row in enumerate(rows):
        v = row[k]
        if math.isfinite(v) and (best is None or v > best[0]):
            best = (v, row[0], i + 1)
    return best


def summary_row(folder: str, member: str, expected: int, status: str) -> list:
    """peak(g/s), t_peak(s), days, texp, column 3's peak and time, n_times, note."""
    data = os.path.join(folder, member, f"mdotin_{member}.dat")
    texp, has5, rows = read_rate_columns(data) if os.path.isfile(data) else (None, False, [])
    n = len(rows)
    note_text = ""
    if status == "none":
        note_text = "not run, or stopped before it ended (no exit_status)"
    elif status == "124":
        note_text = "stopped by the time limit"
    elif status != "0":
        note_text = f"velmora failed with exit status {status}; see velmora.log"
    elif n < expected:
        note_text = f"{'no data lines' if n == 0 else 'incomplete'}: {n} of {expected} output times"
    fit = peak(rows, 1)
    main = peak(rows, 2) if has5 else None
    if not has5 and fit is not None and not note_text:
        note_text = "no column 5 (exact rate) in the rate file: no peak of it"
    if main is None and fit is None and not note_text:
        note_text = "no output times (NUM_TIME <= 0)" if expected == 0 else \
            ("no data lines" if n == 0 else "no numeric accretion rate")
    ref = main or fit
    if ref is not None and not note_text and n > 1:
        if ref[2] == 1:
            note_text = "peak at the first output time: the maximum may lie earlier"
        elif ref[2] == n:
            note_text = "peak at the last output time: the maximum may lie later"
    cells = []
    if main is not None:
        cells += [f"{main[0]:.6e}", f"{main[1]:.6e}", f"{main[1] / 86400.0:.6e}",
                  f"{main[1] / texp:.6e}" if texp and texp > 0 else "NA"]
    else:
        cells += ["NA"] * 4
    cells += [f"{fit[0]:.6e}", f"{fit[1]:.6e}"] if fit is not None else ["NA", "NA"]
    return cells + [str(n)], note_text


SUMMARY_COLUMNS = ["exit_status", "peak_Mdot_in(g/s)", "t_peak(s)", "t_peak(days)", "t_peak(texp)",
                   "peak_Mdot_col3_fit(g/s)", "t_peak_col3_fit(s)", "n_times", "run_time(s)", "note"]


def ranges_text(numbers: list) -> str:
    """Ascending whole numbers as Slurm's array list, e.g. 0,3-5,9."""
    out = []
    start = prev = numbers[0]
    for n in numbers[1:] + [None]:
        if n is not None and n == prev + 1:
            prev = n
            continue
        out.append(str(start) if prev == start else f"{start}-{prev}")
        start = prev = n
    return ",".join(out)


def read_stripped(path, default):
    """The text of a member's small status file without its blank ends, or `default` when it is missing or
    empty."""
    try:
        with open(path) as f:
            return f.read().strip() or default
    except OSError:
        return default


def summarize(folder: str) -> int:
    manifest = os.path.join(folder, "grid.tsv")
    if not os.path.isfile(manifest):
        raise Failure(f"no grid in {folder} (missing {manifest})")
    with open(manifest, encoding="utf-8", errors="replace") as f:
        lines = f.read().splitlines()
    if not lines or lines[0].split("\t", 1)[0] != "folder":
        raise Failure(f"{manifest} is not the list of a grid's models (its first line is not the header "
                      "'folder<TAB>KEYWORD...' that velmora-grid writes); no summary written")
    header, entries = lines[0], [line for line in lines[1:] if line]
    if not entries:
        raise Failure(f"{manifest} lists no model (a header line alone); no summary written")
    slurm = os.path.isfile(os.path.join(folder, "slurm_arrays.tsv"))
    queued = {}
    if slurm:
        q = slurm_queue(folder)
        if q is None:
            note("note: squeue could not be asked: tasks still pending or running in Slurm show as failed")
        else:
            queued = q
    out = [header + "\t" + "\t".join(SUMMARY_COLUMNS)]
    failed = []
    waiting = 0
    for index, line in enumerate(entries):
        member = line.split("\t", 1)[0]
        if index in queued:
            state, job = queued[index]
            status = "pending" if state == "PENDING" else "running"
            out.append("\t".join([line, status] + ["NA"] * 8 + [f"in Slurm: job {job}, {state}"]))
            waiting += 1
            continue
        path = os.path.join(folder, member)
        status = read_stripped(os.path.join(path, "exit_status"), "none")
        expected = -1
        try:
            with open(os.path.join(path, "model.check"), errors="replace") as f:
                got = checked_value(f.read(), _vocabulary.output_count())
            if got is not None and NUMBER.match(got):
                expected = max(int(float(got)), 0)
        except OSError:
            pass
        runtime = read_stripped(os.path.join(path, "run_time"), "NA")
        cells, why = summary_row(folder, member, expected, status)
        out.append("\t".join([line, status] + cells + [runtime, why]))
        if status != "0" or re.match(r"(no data lines|incomplete|no numeric)", why):
            note(f"FAILED: {folder}/{member}: {why or 'exit status ' + status}")
            failed.append(index)
    target = os.path.join(folder, "summary.tsv")
    write_file(target + ".tmp", "\n".join(out) + "\n")
    os.replace(target + ".tmp", target)
    if failed and slurm:
        what = f"the {len(failed)} failed models" if len(failed) > 1 else "the failed model"
        note(f"to rerun {what} in Slurm:")
        for script, first, count in read_arrays(folder):
            tasks = [i - first for i in failed if first <= i < first + count]
            if tasks:
                print(f"  sbatch --array={ranges_text(tasks)} {shlex.quote(os.path.join(folder, script))}",
                      file=sys.stderr)
        print(f"then, when the rerun has ended: {tool_command()} --summary {shlex.quote(folder)}", file=sys.stderr)
    if waiting:
        are = "models are" if waiting > 1 else "model is"
        note(f"{waiting} {are} still pending or running in Slurm; run --summary again later")
    print(f"Summary: {target}", flush=True)
    if failed:
        return 1
    return 3 if waiting else 0


def main(argv: Optional[list] = None) -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    try:
        o = parse_args(argv)
        if o.summary is not None:
            if o.positional:
                raise Usage("--summary takes only the grid folder")
            return summarize(o.summary)
        return make_grid(o)
    except Usage as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        print(f"Run '{PROG} --help' for the usage.", file=sys.stderr)
        return 2
    except Failure as e:
        note(str(e))
        return 1


if __name__ == "__main__":
    sys.exit(main())
