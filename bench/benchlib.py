"""What the benchmark scripts share: generated payloads and archives, and timing of the
unzip library under Wine, of the same reader natively and of the peers."""
import os
import random
import shutil
import subprocess
import sys
import time
import zipfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(REPO, "scripts", "wine-run")
NATIVE = os.path.join(REPO, "build", "native", "unzip", "unzip_native")


def windows_build():
    """The Windows build that runs under Wine here (32-bit where the kernel allows it)."""
    out = subprocess.run([os.path.join(REPO, "scripts", "windows-test-build")],
                         capture_output=True, text=True, check=True).stdout.strip()
    return os.path.join(REPO, out)


def make_payload(root, files, megabytes, empty=False):
    """files files of about megabytes in all, half compressible text and half random bytes,
    spread over 40 directories of 3 subdirectories each. empty keeps the names only."""
    rng = random.Random(42)
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
             for _ in range(3000)]
    text = b" ".join(rng.choice(words) for _ in range(250000))  # about 1.5 MB of "prose"
    average = int(megabytes * 1024 * 1024) // files
    total = 0
    for i in range(files):
        size = rng.randint(average // 10, average * 19 // 10)
        if empty:
            data = b""
        elif i % 2:
            data = rng.randbytes(size)
        else:
            start = rng.randrange(len(text) - size) if size < len(text) else 0
            data = text[start:start + size]
        path = os.path.join(root, "d%02d" % (i % 40), "sub%d" % (i % 3), "f%05d.dat" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        total += len(data)
    return total


def zip_tree(root, archive, top_directories=None):
    """Zips root (or only the named top-level directories of it), deflated, names sorted."""
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        for directory, dirs, files in sorted(os.walk(root)):
            dirs.sort()
            relative = os.path.relpath(directory, root)
            if top_directories is not None and relative.split(os.sep)[0] not in top_directories:
                continue
            for name in sorted(files):
                full = os.path.join(directory, name)
                z.write(full, os.path.relpath(full, root))


def payload_archive(work, name, files, megabytes, empty=False):
    """The archive of a payload made by make_payload (in work), and the payload's size."""
    root = os.path.join(work, name)
    size = make_payload(root, files, megabytes, empty)
    archive = root + ".zip"
    zip_tree(root, archive)
    shutil.rmtree(root)
    return archive, size


def zip_single(archive, megabytes):
    """One entry of the given size, streamed in so the generator stays small too."""
    rng = random.Random(7)
    block = b"".join(rng.randbytes(4096) + b"x" * 12288 for _ in range(64))  # 1 MB
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        with z.open("big.bin", "w", force_zip64=False) as f:
            for _ in range(megabytes):
                f.write(block)


def timed(command):
    """Seconds and peak resident memory (kB) of a child process. The peak is the kernel's
    VmHWM of the child's own address space, polled while it runs (it only grows); ru_maxrss
    would include this Python process, which the child inherits at fork."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    peak = 0
    while process.poll() is None:
        try:
            with open("/proc/%d/status" % process.pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]))
        except OSError:
            pass
        time.sleep(0.002)
    if process.returncode != 0:
        sys.exit("failed: %s" % " ".join(command))
    return time.perf_counter() - start, peak


def reported(command, work, env=None):
    """The "key value" lines a benchmark program prints, or None (said why) when it failed."""
    out = os.path.join(work, "program.out")
    with open(out, "wb") as f:
        result = subprocess.run(command, stdout=f, stderr=subprocess.STDOUT, env=env,
                                timeout=3600)
    with open(out, "rb") as f:
        text = f.read().decode("latin-1").replace("\r", "")
    values = dict(line.partition(" ")[::2] for line in text.splitlines())
    if result.returncode != 0 or values.get("result", "0") != "0":
        print("  (%s failed: %s)" % (os.path.basename(command[1 if command[0] == WINE_RUN else 0]),
                                     text.strip()[-400:] or "no output"))
        return None
    return values


def dll_stats(driver, archive, work):
    """Seconds of the DllProcessZipFiles call and peak working set (kB) under Wine."""
    env = dict(os.environ, WINE_RUN_DRIVES="d=" + os.path.dirname(archive))
    values = reported([WINE_RUN, driver, "D:\\" + os.path.basename(archive), "C:\\out",
                       "--stats"], work, env)
    return values and (float(values["seconds"]), int(values["peak_kb"]))


def native_stats(archive, work):
    """Seconds and peak memory of the same reader built for Linux."""
    target = os.path.join(work, "native-out")
    shutil.rmtree(target, ignore_errors=True)
    values = reported([NATIVE, archive, target], work)
    shutil.rmtree(target, ignore_errors=True)
    return values and (float(values["seconds"]), int(values["peak_kb"]))


def peers(archive, work):
    """Seconds and peak memory of bsdtar -xf and Python's zipfile, as whole processes."""
    target = os.path.join(work, "peer-out")
    results = {}
    for name, command in [
            ("bsdtar -xf", ["bsdtar", "-xf", archive, "-C", target]),
            ("Python zipfile", ["/usr/bin/python3", "-c",
                                "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])",
                                archive, target])]:
        shutil.rmtree(target, ignore_errors=True)
        os.makedirs(target)
        results[name] = timed(command)
    shutil.rmtree(target, ignore_errors=True)
    return results
