"""The command ``velmora``: the program built with this package.

pip installs the program into the package (``velmora/bin/velmora``); in a
CMake build tree the package is ``build/python/velmora`` and the program
``build/velmora``.
"""

import os
import subprocess
import sys

__all__ = ["program_path", "main"]


def program_path():
    """The path of the program ``velmora`` that belongs to this package.

    Returns
    -------
    str or None
        The installed program (``<package>/bin/velmora``) or, in a build
        tree, the build's program; None when neither is there.
    """
    here = os.path.dirname(os.path.abspath(__file__))
    for candidate in (os.path.join(here, "bin", "velmora"), os.path.join(here, os.pardir, os.pardir, "velmora")):
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return os.path.normpath(candidate)
    return None


def main(argv=None):
    """Runs the program ``velmora`` with the arguments ``argv``.

    Parameters
    ----------
    argv : list of str, optional
        The program's arguments. None (the console command) takes the
        command line's and replaces this process by the program, which keeps
        its terminal, its signals and its exit status; a list runs it as a
        child and returns its status.

    Returns
    -------
    int
        The program's exit status (127 when it is not installed).
    """
    program = program_path()
    if program is None:
        print("velmora: the program is not installed with this Python package "
              f"({os.path.dirname(os.path.abspath(__file__))} has no bin/velmora)", file=sys.stderr)
        return 127
    if argv is None:
        sys.stdout.flush()
        sys.stderr.flush()
        os.execv(program, ["velmora", *sys.argv[1:]])
    return subprocess.call([program, *argv])


if __name__ == "__main__":
    sys.exit(main())
