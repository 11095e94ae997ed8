"""The one rule for a test that starts a Windows tool under Wine. Wine under load once ended a run with exit
code 1 and no output at all, which mkupdate never does (it says a line with every failure): that exact answer,
and only it, is asked again; each time is printed and counted, and a second one in a run fails the run, since
it is then no passing fault."""
import subprocess

retried = []  # what was asked again, in this run


def run(command, cwd=None, silent_ok=None):
    """(returncode, stdout, stderr) of one run. `silent_ok`, when given, says whether a silent exit 1 is the
    real answer (for instance when the native program gave that same answer): then it is not asked again."""
    p = subprocess.run(command, cwd=cwd, capture_output=True)
    if p.returncode == 1 and not p.stdout and not p.stderr and not (silent_ok and silent_ok()):
        retried.append(" ".join(command)[:160])
        print("asked again after Wine's silent exit 1: %s" % retried[-1])
        p = subprocess.run(command, cwd=cwd, capture_output=True)
    return p.returncode, p.stdout, p.stderr


def failures():
    """The rule's own failures: a silent exit that came more than once in the run."""
    return ["Wine's silent exit 1 came %d times in one run: not a passing fault" % len(retried)] if len(retried) > 1 else []
