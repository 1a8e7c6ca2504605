"""GIMP 3 started for a test, headless: gimp-console-3.0 in batch mode with the Python
interpreter (python-fu-eval), or with display=True gimp-3.0 -i under an X server of its own
(Xvfb), with a profile of its own in the test's folder and a time limit for the start:

    import gimp3
    ran = gimp3.run(["from gi.repository import Gimp", ...], work, plug_ins=[folder])
    if ran.failure:
        fail(ran.failure)          # says whether the time limit killed GIMP, with its log's end

Each string is one batch command (-b), run in a fresh interpreter. GIMP quits after the last
(--quit). plug_ins are folders GIMP searches for plug-ins besides its own (each plug-in in a
folder of its name, as GIMP 3 wants). The first start with a fresh profile asks every plug-in for
its procedures: about 20 s on an idle 2-core machine, more on a busy one.
"""
import os
import signal
import subprocess
import time

# One GIMP start, batch commands included. Generous: a fresh profile's first start on a loaded
# 2-core machine, with plug-ins whose files are still cold.
START_LIMIT = 300

CONSOLE = "gimp-console-3.0"
WINDOWED = "gimp-3.0"


class Ran:
    def __init__(self, program, code, log, seconds, killed, limit):
        self.program, self.code, self.log = program, code, log
        self.seconds, self.killed, self.limit = seconds, killed, limit

    @property
    def failure(self):
        """None when GIMP ended by itself with status 0, else what went wrong and its log's end."""
        if self.killed:
            what = ("%s was killed by its time limit: still running after %d s (the limit of one "
                    "GIMP start)" % (self.program, self.limit))
        elif self.code != 0:
            what = "%s exited with status %d after %.0f s" % (self.program, self.code, self.seconds)
        else:
            return None
        return what + "; the end of its output:\n" + self.tail()

    def tail(self, lines=30):
        return "\n".join(self.log.splitlines()[-lines:])


def _start_x(env):
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=[write_end],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        xvfb.wait()
        raise RuntimeError("Xvfb did not start (status %s)" % xvfb.returncode)
    env["DISPLAY"] = ":" + number
    return xvfb


def profile(work, plug_ins=()):
    """The profile folder below work, with the extra plug-in folders in its gimprc."""
    folder = os.path.join(work, "gimp3-profile")
    os.makedirs(folder, exist_ok=True)
    if plug_ins:
        path = ":".join(["${gimp_dir}/plug-ins", "${gimp_plug_in_dir}/plug-ins"]
                        + [os.path.abspath(p) for p in plug_ins])
        with open(os.path.join(folder, "gimprc"), "w") as f:
            f.write('(plug-in-path "%s")\n' % path)
    return folder


def run(commands, work, plug_ins=(), limit=START_LIMIT, display=False, env=None):
    env = dict(os.environ if env is None else env)
    env["GIMP3_DIRECTORY"] = profile(work, plug_ins)
    for name in ("XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"):
        env[name] = os.path.join(work, "xdg", name.lower())
    env.pop("DISPLAY", None)
    program = WINDOWED if display else CONSOLE
    args = [program, "-i", "-d", "-f", "--quit", "--batch-interpreter=python-fu-eval"]
    for command in commands:
        args += ["-b", command]
    xvfb = _start_x(env) if display else None
    started = time.monotonic()
    killed = False
    try:
        # A session of its own: the time limit ends GIMP's plug-in processes with it.
        process = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        try:
            log, _ = process.communicate(timeout=limit)
        except subprocess.TimeoutExpired:
            killed = True
            os.killpg(process.pid, signal.SIGKILL)
            log, _ = process.communicate()
    finally:
        if xvfb is not None:
            xvfb.kill()
            xvfb.wait()
    return Ran(program, process.returncode, log.decode(errors="replace"),
               time.monotonic() - started, killed, limit)
