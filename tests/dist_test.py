#!/usr/bin/env python3
"""dist_test WORK_DIR: scripts/dist twice, in two build folders, gives the same zip, and the zip
holds what it should: its files in order, each program a PE32 of the project's version, the sums
right, README.txt in code page 1252 with CR LF."""
import hashlib
import os
import re
import struct
import subprocess
import sys
import time
import zipfile
from pathlib import Path

top = Path(__file__).resolve().parent.parent
work = Path(sys.argv[1])
version = re.search(r"project\(remover VERSION (\d+)\.(\d+)\.(\d+)",
                    (top / "CMakeLists.txt").read_text()).groups()
folder = "remover-%s.%s.%s/" % version
zip_name = folder[:-1] + ".zip"
failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)


def dist(build, out):
    t = time.time()
    env = dict(os.environ, REMOVER_DIST_OUT=str(out))
    run = subprocess.run([str(top / "scripts/dist"), str(build)], env=env, capture_output=True,
                         text=True, timeout=1200)
    print(f"dist_test: scripts/dist {build.name}: {time.time() - t:.0f} s")
    if run.returncode:
        sys.exit(f"scripts/dist failed:\n{run.stdout}{run.stderr}")
    return Path(run.stdout.strip().splitlines()[-1])


def pe32_version(name, data):
    """The fixed file version of a PE32 image, or None when it is not one."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        return None
    if struct.unpack_from("<H", data, pe + 24)[0] != 0x10B:   # the optional header's magic
        return None
    expect(struct.unpack_from("<I", data, pe + 8)[0] == 0, f"{name} carries a link time")
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


# The first folder is built on, as a developer's is; the second afresh, as a new clone's.
subprocess.run(["rm", "-rf", str(work / "dist-b")], check=True)
first = dist(work / "dist-a", work / "out-a")
second = dist(work / "dist-b", work / "out-b")
expect(first.name == zip_name, f"zip named {first.name}")
blob = first.read_bytes()
expect(blob == second.read_bytes(), "two builds of one commit give different zips")

names = [folder + n for n in ("remover.exe", "instalar.exe", "catalog.dll", "logtool.exe",
                              "parlomatic.json", "description.schema.json", "README.txt",
                              "SHA256SUMS")]
with zipfile.ZipFile(first) as z:
    expect(z.namelist() == names, f"file list {z.namelist()}")
    files = {n[len(folder):]: z.read(n) for n in z.namelist()}
    expect(len({i.date_time for i in z.infolist()}) == 1, "the files are not all of one date")
want = tuple(int(v) for v in version) + (0,)
for name, own in [("remover.exe", want), ("instalar.exe", want), ("logtool.exe", want),
                  ("catalog.dll", (1, 0, 0, 21))]:
    got = pe32_version(name, files.get(name, b"MZ" + b"\0" * 64))
    expect(got == own, f"{name}: PE32 of version {own}, found {got}")
    expect(files.get(name, b"").count("OriginalFilename".encode("utf-16-le")) == 1,
           f"{name} has no original file name")
sums = files.get("SHA256SUMS", b"").decode("ascii").splitlines()
listed = [line.split("  ", 1)[1] for line in sums]
expect(listed == [n[len(folder):] for n in names[:-1]], f"SHA256SUMS lists {listed}")
for line in sums:
    digest, name = line.split("  ", 1)
    expect(hashlib.sha256(files.get(name, b"")).hexdigest() == digest, f"sum of {name}")
readme = files.get("README.txt", b"")
text = readme.decode("cp1252")
expect(b"\n" not in readme.replace(b"\r\n", b""), "README.txt has a line end other than CR LF")
for heading in ("For installer authors", "For administrators", "SharedDLLs", "dañado"):
    expect(heading in text, f"README.txt lacks {heading!r}")
expect("`" not in text and "**" not in text, "README.txt keeps Markdown marks")
print(f"dist_test: {first.name}, {len(blob)} bytes")
print(f"dist_test: {1 if not failures else 0} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
