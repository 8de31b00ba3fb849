"""Helpers shared by the Velkon benchmark scripts in bench/.

Python 3 standard library only. Linux only (/proc, pseudo-terminals).
Every address is 127.0.0.1; every process started here runs in its own
process group, dies with its parent (PR_SET_PDEATHSIG) and is stopped by
pid when the script ends, also on an error or a signal.
"""

import atexit
import json
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time

HOST = "127.0.0.1"
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CLK_TCK = os.sysconf("SC_CLK_TCK")
PORT_RANGE = (20000, 40000)
DEBIAN_PYTHON = "/usr/bin/python3"


def log(msg):
    print("[%s %s] %s" % (os.path.basename(sys.argv[0]),
                          time.strftime("%H:%M:%S"), msg),
          file=sys.stderr, flush=True)


def mono():
    return time.monotonic()


# --------------------------------------------------------------- programs

def velkon_programs():
    """{'desktop': path, 'headless': path}: from VELKON_BENCH_DESKTOP /
    VELKON_BENCH_HEADLESS, else the build folder (VELKON_BENCH_BUILD,
    default build/ of this clone)."""
    build = os.environ.get("VELKON_BENCH_BUILD", os.path.join(ROOT, "build"))
    return {
        "desktop": os.environ.get("VELKON_BENCH_DESKTOP",
                                  os.path.join(build, "velkon")),
        "headless": os.environ.get("VELKON_BENCH_HEADLESS",
                                   os.path.join(build, "velkon-headless")),
    }


def require_programs(names):
    progs = velkon_programs()
    missing = [progs[n] for n in names if not os.access(progs[n], os.X_OK)]
    if missing:
        sys.exit("missing program(s): %s\nbuild first: cmake -S . -B build "
                 "-DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build build "
                 "--target velkon velkon-headless" % ", ".join(missing))
    return progs


def require_socat():
    if shutil.which("socat") is None:
        install_debian(["socat"])


def install_debian(packages):
    """Install Debian packages when run as root (like scripts/setup.sh);
    otherwise say which line to run, and exit."""
    line = "apt-get update && apt-get install -y " + " ".join(packages)
    if os.geteuid() != 0:
        sys.exit("missing Debian package(s). Run as root:\n  " + line)
    log("installing: " + " ".join(packages))
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update", "-qq"], check=True, env=env,
                   stdin=subprocess.DEVNULL, timeout=600)
    subprocess.run(["apt-get", "install", "-y", "-qq"] + packages, check=True,
                   env=env, stdin=subprocess.DEVNULL, timeout=900)


def require_modules(modules, packages):
    """Import check for Debian Python packages. A Python that is not
    Debian's (pyenv, venv) does not see them: run again under
    /usr/bin/python3 in that case."""
    def missing():
        out = []
        for m in modules:
            try:
                __import__(m)
            except ImportError:
                out.append(m)
        return out

    if not missing():
        return
    if (os.path.exists(DEBIAN_PYTHON) and os.path.realpath(sys.executable)
            != os.path.realpath(DEBIAN_PYTHON)):
        check = subprocess.run(
            [DEBIAN_PYTHON, "-c", "import " + ", ".join(modules)],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if check.returncode != 0:
            install_debian(packages)
        os.execv(DEBIAN_PYTHON, [DEBIAN_PYTHON] + sys.argv)
    install_debian(packages)
    if missing():
        sys.exit("still missing after install: " + ", ".join(missing()))


# --------------------------------------------------------------- processes

_STARTED = []     # Popen objects this script started and has not stopped


def _child_setup():
    try:
        import ctypes
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(1, signal.SIGKILL, 0, 0, 0)       # PR_SET_PDEATHSIG
    except Exception:
        pass


def start(argv, env=None, logpath=None, cwd=None):
    """Start argv in a new process group; output to logpath."""
    logf = open(logpath, "ab") if logpath else subprocess.DEVNULL
    try:
        proc = subprocess.Popen(
            argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=logf,
            stderr=subprocess.STDOUT, start_new_session=True, close_fds=True,
            preexec_fn=_child_setup)
    finally:
        if logpath:
            logf.close()
    _STARTED.append(proc)
    return proc


def stop(proc, grace=3.0):
    """SIGTERM to the group we started, SIGKILL after `grace` s."""
    if proc is None:
        return None
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            proc.wait(grace)
        except subprocess.TimeoutExpired:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            try:
                proc.wait(3)
            except subprocess.TimeoutExpired:
                pass
    try:                      # anything left in the group (root reaped)
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    if proc in _STARTED:
        _STARTED.remove(proc)
    return proc.returncode


def stop_all():
    for proc in list(_STARTED):
        try:
            stop(proc, grace=1.0)
        except Exception:
            pass


class Interrupted(BaseException):
    pass


def _on_signal(signum, frame):
    raise Interrupted("signal %d" % signum)


def install_cleanup():
    atexit.register(stop_all)
    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, _on_signal)


def tail(path, n=600):
    try:
        with open(path, "rb") as f:
            f.seek(0, 2)
            f.seek(max(0, f.tell() - n))
            return f.read().decode("utf-8", "replace").strip()
    except OSError:
        return ""


# --------------------------------------------------------------- /proc

def cpu_ticks(pid):
    """utime + stime of the process (all its threads), in clock ticks."""
    with open("/proc/%d/stat" % pid, "rb") as f:
        s = f.read().decode("ascii", "replace")
    fields = s[s.rindex(")") + 2:].split()
    return int(fields[11]) + int(fields[12])


def cpu_ns(pid):
    """CPU time of all threads in ns from schedstat (finer than ticks);
    None where schedstat is not available."""
    total = 0
    try:
        for tid in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                total += int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return None
    return total


def status_kib(pid, key):
    try:
        with open("/proc/%d/status" % pid) as f:
            for ln in f:
                if ln.startswith(key + ":"):
                    return int(ln.split()[1])
    except (OSError, ValueError):
        pass
    return None


# The harness already reads the kernel's socket table.
sys.path.insert(0, HERE)
from bridgebench import _proc_net_tcp as tcp_sockets, listening_ports  # noqa: E402


def _bindable(port):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        s.bind((HOST, port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def pick_ports(count):
    """A block of `count` consecutive free ports (first port returned)."""
    rnd = random.SystemRandom()
    for _ in range(200):
        base = rnd.randint(PORT_RANGE[0], PORT_RANGE[1] - count)
        used = {p for p, _ in tcp_sockets()}
        block = range(base, base + count)
        if any(p in used for p in block):
            continue
        if all(_bindable(p) for p in block):
            return base
    raise RuntimeError("no block of %d free ports in %d-%d" %
                       ((count,) + PORT_RANGE))


def wait_for(cond, timeout, step=0.02, proc=None, what="condition"):
    """Poll cond() until true; bounded by timeout; fails early if proc
    exited."""
    t_end = mono() + timeout
    while True:
        if cond():
            return
        if proc is not None and proc.poll() is not None:
            raise RuntimeError("%s: process exited (rc=%s) first" %
                               (what, proc.returncode))
        if mono() > t_end:
            raise RuntimeError("%s: not within %.0f s" % (what, timeout))
        time.sleep(step)


# --------------------------------------------------------------- Velkon

def write_velkon_home(home, sessions, ports=None):
    """Program folder with default.vkc holding `sessions` (a list of
    dicts of configuration keys) and optionally ports.ini."""
    os.makedirs(home, exist_ok=True)
    lines = ["[Velkon]", "NumSessions=%d" % len(sessions)]
    for n, keys in enumerate(sessions, 1):
        lines.append("[Session%d]" % n)
        lines += ["%s=%s" % kv for kv in keys.items()]
    with open(os.path.join(home, "default.vkc"), "w") as f:
        f.write("\n".join(lines) + "\n")
    if ports:
        with open(os.path.join(home, "ports.ini"), "w") as f:
            f.write("[Ports]\n" + "".join("COM%d=%s\n" % kv
                                           for kv in ports.items()))


def velkon_env(home):
    env = dict(os.environ)
    env.update(VELKON_HOME=home, VELKON_RUNTIME_DIR=os.path.join(home, "run"),
               XDG_CONFIG_HOME=os.path.join(home, "config"))
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    return env


# --------------------------------------------------------------- output

def median(vals):
    vals = [v for v in vals if v is not None]
    if not vals:
        return None
    m = statistics.median(vals)
    return round(m, 4) if isinstance(m, float) else m


def emit_summary(kind, data):
    """The machine-readable line that bench/run-all reads."""
    print("SUMMARY " + json.dumps({"scenario": kind, **data},
                                  sort_keys=True), flush=True)
