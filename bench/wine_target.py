"""The Windows build this host runs and the Wine that runs it, as the test
scripts choose them (scripts/host.sh): i686 under 32-bit Wine where the host
runs 32-bit code, x86_64 under 64-bit Wine elsewhere."""
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def windows_build_and_wine():
    """(build folder, wine command as a list, target name)."""
    out = subprocess.run(
        ["bash", "-c", 'source "$0/scripts/env.sh" && echo "$WIN_BUILD" && '
         'echo "$BUILD/wine-$WIN_TARGET/wine" && echo "$WIN_TARGET"', ROOT],
        check=True, stdout=subprocess.PIPE, text=True).stdout.split("\n")
    return out[0], [out[1]], out[2]
