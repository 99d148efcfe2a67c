"""The Windows build this host runs and the Wine that runs it, as the test
scripts choose them (scripts/host.sh): i686 under 32-bit Wine where the host
runs 32-bit code, x86_64 under 64-bit Wine elsewhere."""
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def windows_build_and_wine():
    """(build folder, wine command as a list, target name)."""
    out = subprocess.run(
        ["bash", "-c", 'source "$0/scripts/env.sh" && echo "$WIN_BUILD" && '
         'echo "$BUILD/wine-$WIN_TARGET/wine" && echo "$WIN_TARGET"', ROOT],
        check=True, stdout=subprocess.PIPE, text=True).stdout.split("\n")
    return out[0], [out[1]], out[2]


def wine_prefix(target):
    """The prefix scripts/test makes for the target, made when missing."""
    build = os.environ.get("UPDATER_BUILD_DIR", os.path.join(ROOT, "build"))
    prefix = os.path.join(build, "wineprefix-" + target)
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        subprocess.run(["bash", "-c", 'source "$0/scripts/env.sh" && ensure_wineprefix', ROOT], check=True,
                       stdout=subprocess.DEVNULL)
    return prefix


def start_display():
    """A free virtual display with a window manager, as DISPLAY; the
    processes started, for the caller to end."""
    for n in range(90, 141):
        if os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n):
            continue
        xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.environ["DISPLAY"] = ":%d" % n
        for _ in range(50):
            if subprocess.run(["xdpyinfo"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.2)
        wm = subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        return [xvfb, wm]
    sys.exit("no free display")


def keep_wineserver(wine):
    """Wine's server ends 3 s after its last program, and starting it again
    costs seconds: starts one that stays 60 s after the last program. One
    already running (left by an earlier bench) refuses the option: it is
    waited out first."""
    server = os.path.join(os.path.dirname(wine[0]), "wineserver")
    if subprocess.run([server, "-p60"], stderr=subprocess.DEVNULL).returncode != 0:
        subprocess.run([server, "-w"], timeout=300)
        subprocess.run([server, "-p60"], check=True)
