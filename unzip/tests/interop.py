#!/usr/bin/python3
"""Archives made by Python's zipfile, bsdtar and 7-Zip must extract through wizunz32.dll to
the same tree, byte for byte, as bsdtar -xf gives.

usage: interop.py WINE-RUN unzip_driver.exe WORKDIR
"""
import os
import random
import shutil
import subprocess
import sys
import zipfile
import zlib

wine_run, driver, work = sys.argv[1], sys.argv[2], sys.argv[3]
shutil.rmtree(work, ignore_errors=True)
source = os.path.join(work, "source")
rng = random.Random(1)


def put(path, data):
    full = os.path.join(source, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)


put("cv4.03/cv_init.ps", b"%!PS sample init\n" * 300)
put("cv4.03/fonts/a.pfb", bytes(rng.getrandbits(8) for _ in range(200000)))
put("cv4.03/fonts/b.afm", b"StartFontMetrics 4.1\n" * 5000)
put("cv4.03/README", b"")
put("tabrin/read me.txt", b"words and more words\r\n" * 100)
put("tabrin/big.bin", b"abc" * 400000 + bytes(rng.getrandbits(8) for _ in range(70000)))
os.makedirs(os.path.join(source, "tabrin/empty"))
tops = ["cv4.03", "tabrin"]


def tree_manifest(root):
    lines = []
    for directory, dirs, files in os.walk(root):
        rel = os.path.relpath(directory, root).replace(os.sep, "/")
        prefix = "" if rel == "." else rel + "/"
        for d in dirs:
            lines.append("D %s%s/" % (prefix, d))
        for name in files:
            with open(os.path.join(directory, name), "rb") as f:
                data = f.read()
            lines.append("F %s%s %d %08x" % (prefix, name, len(data), zlib.crc32(data)))
    return sorted(lines)


def python_zip(path, method):
    with zipfile.ZipFile(path, "w", method) as z:
        for directory, dirs, files in sorted(os.walk(source)):
            for name in sorted(dirs) + sorted(files):
                full = os.path.join(directory, name)
                z.write(full, os.path.relpath(full, source))


archives = {
    "python-stored.zip": lambda p: python_zip(p, zipfile.ZIP_STORED),
    "python-deflated.zip": lambda p: python_zip(p, zipfile.ZIP_DEFLATED),
    "bsdtar.zip": lambda p: subprocess.run(
        ["bsdtar", "--format", "zip", "-cf", p, "-C", source] + tops, check=True),
    "7zip.zip": lambda p: subprocess.run(
        ["7z", "a", "-tzip", "-bd", p] + tops, cwd=source, check=True,
        stdout=subprocess.DEVNULL),
}

expected = {}
command = [wine_run, driver]
for name, make in archives.items():
    archive = os.path.join(work, name)
    make(archive)
    reference = os.path.join(work, "ref-" + name)
    os.makedirs(reference)
    subprocess.run(["bsdtar", "-xf", archive, "-C", reference], check=True)
    expected["D:\\" + name] = tree_manifest(reference)
    command += ["D:\\" + name, "C:\\interop\\" + name[:-4]]

# One Wine start for all archives. The work directory is drive D:; trees are extracted on C:.
environment = dict(os.environ, WINE_RUN_DRIVES="d=" + os.path.abspath(work))
output = os.path.join(work, "driver.out")
with open(output, "wb") as out, open(output + ".err", "wb") as err:
    code = subprocess.run(command, stdout=out, stderr=err, env=environment).returncode
with open(output, "rb") as f:
    lines = f.read().decode("latin-1").replace("\r", "").splitlines()
got, current = {}, None
for line in lines:
    if line.startswith("archive "):
        current = line[len("archive "):]
        got[current] = []
    elif current is not None:
        got[current].append(line)

failures = 0
for archive, want in expected.items():
    have = got.get(archive, [])
    entries = sorted(line for line in have if line[:2] in ("D ", "F "))
    if "result 0" not in have or entries != want:
        failures += 1
        print("%s: differs" % archive)
        for line in sorted(set(want) ^ set(entries))[:20]:
            print("  %s %s" % ("missing" if line in want else "extra  ", line))
    else:
        print("%s: %d entries identical" % (archive, len(entries)))
if failures or code != 0:
    with open(output + ".err", "rb") as f:
        sys.stdout.write(f.read().decode("latin-1")[-3000:])
    print("driver exit code %d" % code)
sys.exit(1 if failures or code != 0 else 0)
