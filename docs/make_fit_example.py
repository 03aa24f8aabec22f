#!/usr/bin/python3
"""The guide's worked fits, rerun: each command of docs/guide.md marked
<!-- fit-example NAME --> is run and what it prints is compared with the
output block that follows it in the guide, so that the guide's numbers cannot
drift from what its commands give.

    PYTHONPATH=build/python /usr/bin/python3 docs/make_fit_example.py            # check (CTest runs this)
    PYTHONPATH=build/python /usr/bin/python3 docs/make_fit_example.py --update   # rewrite the guide's blocks
    ... --update --figures   # and redraw the figures the guide shows (docs/fit-example*.png)

A marked section is: the marker line, a ```sh block holding one velmora-fit
command (run from the source folder, its output folder replaced by a
temporary one), and the next ``` block, a run of consecutive lines of what the
command prints. The check compares them line by line: equal text, except
numbers that differ by at most one unit in their last printed digit (the
rounding of another build) and the seconds a run took.
Exit status: 0 all agree, 1 a block differs (the differences are printed).
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
GUIDE = os.path.join(SOURCE, "docs", "guide.md")
MARKER = re.compile(r"^<!-- fit-example (\S+)(?: figures=(\S+))? -->$")
NUMBER = re.compile(r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?")
SECONDS = re.compile(r"\d+(?:\.\d+)? s$")


def sections(lines):
    """(name, figures, command line indices, output line indices) per marker."""
    out = []
    for i, line in enumerate(lines):
        m = MARKER.match(line.strip())
        if not m:
            continue
        fences = [j for j in range(i + 1, len(lines)) if lines[j].startswith("```")][:4]
        if len(fences) < 4 or not lines[fences[0]].startswith("```sh"):
            raise SystemExit(f"{GUIDE}:{i + 1}: a marker needs a ```sh block and an output block after it")
        out.append((m.group(1), m.group(2), (fences[0] + 1, fences[1]), (fences[2] + 1, fences[3])))
    return out


def command_args(text, outdir):
    """The velmora-fit command's arguments, the output folder replaced."""
    words = shlex.split(text.replace("\\\n", " "))
    while words and "=" in words[0] and not words[0].startswith("-"):
        words.pop(0)  # environment settings such as PYTHONPATH=build/python
    if not words or os.path.basename(words[0]) != "velmora-fit":
        raise SystemExit(f"not a velmora-fit command: {text!r}")
    args = words[1:]
    if "-o" in args:
        args[args.index("-o") + 1] = outdir
    else:
        args += ["-o", outdir]
    return args


def same(expected, got):
    """Equal text, numbers within one unit of their last printed digit, and
    the seconds of a run ignored."""
    if SECONDS.search(expected) and SECONDS.search(got):
        expected, got = SECONDS.sub("", expected), SECONDS.sub("", got)
    a, b = NUMBER.split(expected), NUMBER.split(got)
    na, nb = NUMBER.findall(expected), NUMBER.findall(got)
    if a != b or len(na) != len(nb):
        return False
    for x, y in zip(na, nb):
        if x == y:
            continue
        mantissa = re.split(r"[eE]", x)[0]
        decimals = len(mantissa.split(".")[1]) if "." in mantissa else 0
        exponent = int(re.split(r"[eE]", x)[1]) if re.search(r"[eE]", x) else 0
        if abs(float(x) - float(y)) > 1.0001 * 10.0 ** (exponent - decimals):
            return False
    return True


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--update", action="store_true", help="rewrite the guide's output blocks")
    ap.add_argument("--figures", action="store_true", help="with --update: copy the figures into docs/")
    opts = ap.parse_args(argv)
    with open(GUIDE) as f:
        lines = f.read().split("\n")
    differ = 0
    replacements = []
    for name, figures, (c0, c1), (o0, o1) in sections(lines):
        tmp = tempfile.mkdtemp(prefix="velmora-guide-")
        try:
            outdir = os.path.join(tmp, "fit")
            args = command_args("\n".join(lines[c0:c1]), outdir)
            r = subprocess.run([sys.executable, "-m", "velmora.fit"] + args, cwd=SOURCE, capture_output=True,
                               text=True)
            if r.returncode != 0:
                print(f"{name}: the command exits {r.returncode}: {r.stderr.strip()}")
                differ += 1
                continue
            printed = r.stdout.rstrip("\n").split("\n")
            expected = lines[o0:o1]
            try:
                k = next(i for i, p in enumerate(printed) if NUMBER.split(p) == NUMBER.split(expected[0])
                         or p.split("=")[0] == expected[0].split("=")[0])
            except StopIteration:
                print(f"{name}: the guide's first line is not among what the command prints:\n  {expected[0]}")
                differ += 1
                continue
            got = printed[k:k + len(expected)]
            bad = [(e, g) for e, g in zip(expected, got) if not same(e, g)] + \
                  [(e, "") for e in expected[len(got):]]
            if bad:
                differ += 1
                print(f"{name}: the guide's block differs from what its command prints now (if the change is meant: "
                      "docs/make_fit_example.py --update --figures):")
                for e, g in bad:
                    print(f"  guide: {e}\n  now:   {g}")
            replacements.append(((o0, o1), got))
            if opts.update and opts.figures and figures:
                for pair in figures.split(","):
                    src, dst = pair.split(":")
                    shutil.copyfile(os.path.join(outdir, src), os.path.join(SOURCE, "docs", dst))
        finally:
            shutil.rmtree(tmp, ignore_errors=True)
    if opts.update:
        for (o0, o1), got in sorted(replacements, reverse=True):
            lines[o0:o1] = got
        with open(GUIDE, "w") as f:
            f.write("\n".join(lines))
        print(f"{GUIDE}: {len(replacements)} blocks written")
        return 0
    if not differ:
        print(f"the guide's {len(replacements)} worked fits print what the guide shows")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
