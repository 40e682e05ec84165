#!/usr/bin/python3
"""scripts/make-media on the real distribution and on generated payloads of real size:
the images as mtools reads them, the folders beside them, and payloads that do not fit.

usage: make_media_test.py DISTDIR   (a folder with the programs, the packing list and the archives)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MAKE_MEDIA = os.path.join(REPO, "scripts", "make-media")
DIST = None
PROGRAMS = ["setup.exe", "uninst.exe", "wizunz32.dll", "packlist.ini"]
FIRST = PROGRAMS + ["tabrin.zip"]
INTERPRETER = ["cv403ini.zip", "cv403w32.zip", "cv403fn1.zip"]
EMPTY_DISK_BYTES = 2847 * 512  # data area of a 1.44 MB FAT12 floppy, one-sector clusters


def mtools(*command):
    return subprocess.run(command, check=True, capture_output=True,
                          env=dict(os.environ, MTOOLS_SKIP_CHECK="1")).stdout


def make_media(dist, out):
    return subprocess.run([MAKE_MEDIA, dist, out], capture_output=True, text=True)


def generated_dist(folder, sizes):
    """A distribution folder with the real programs and archives of random bytes."""
    os.makedirs(folder)
    for name in PROGRAMS:
        shutil.copyfile(os.path.join(DIST, name), os.path.join(folder, name))
    for name in FIRST[len(PROGRAMS):] + INTERPRETER:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(os.urandom(sizes.get(name, 1000)))
    return folder


class MakeMediaTest(unittest.TestCase):
    def setUp(self):
        self.temp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.temp)

    def check_media(self, dist, out, expected):
        for number, names in enumerate(expected, 1):
            image = os.path.join(out, "disk%d.img" % number)
            folder = os.path.join(out, "disk%d" % number)
            self.assertEqual(os.path.getsize(image), 1440 * 1024)
            info = mtools("minfo", "-i", image, "::").decode()
            self.assertIn('disk label="TABRIN%d    "' % number, info)
            self.assertIn('disk type="FAT12   "', info)
            listing = mtools("mdir", "-b", "-i", image, "::").decode().split()
            self.assertEqual(sorted(listing), sorted("::/" + n for n in names))
            self.assertEqual(sorted(os.listdir(folder)), sorted(names))
            for name in names:
                on_disk = mtools("mtype", "-i", image, "::" + name)
                with open(os.path.join(folder, name), "rb") as f:
                    self.assertEqual(on_disk, f.read(), name)
                if name != "README.TXT":
                    with open(os.path.join(dist, name), "rb") as f:
                        self.assertEqual(on_disk, f.read(), name)

    def test_real_distribution(self):
        out = os.path.join(self.temp, "media")
        result = make_media(DIST, out)
        self.assertEqual(result.returncode, 0, result.stderr)
        expected = [FIRST + ["README.TXT"], INTERPRETER[:2], INTERPRETER[2:]]
        self.check_media(DIST, out, expected)
        with open(os.path.join(out, "disk1", "README.TXT"), "rb") as f:
            readme = f.read().decode("ascii")
        self.assertNotIn("\n", readme.replace("\r\n", ""))
        # Each file is listed under the heading of its own disk.
        sections = re.split(r"Disk (\d) \(label TABRIN\d\):", readme)[1:]
        self.assertEqual([s for s in sections[0::2]], ["1", "2", "3"])
        for names, section in zip(expected, sections[1::2]):
            self.assertEqual(section.split(), names)

    def test_cd_image(self):
        """cd.iso as another reader (bsdtar) sees it: every file of the distribution in one
        folder, under its upper-case 8.3 name, dated by the build, on a volume TABRIN with
        no descriptor beyond ISO 9660's own (no Joliet) and no Rock Ridge entries."""
        out = os.path.join(self.temp, "media")
        result = make_media(DIST, out)
        self.assertEqual(result.returncode, 0, result.stderr)
        image = os.path.join(out, "cd.iso")
        read_back = os.path.join(self.temp, "read-back")
        os.makedirs(read_back)
        subprocess.run(["bsdtar", "-xf", image, "-C", read_back], check=True)
        names = FIRST + INTERPRETER + ["README.TXT"]
        self.assertEqual(sorted(os.listdir(read_back)), sorted(n.upper() for n in names))
        epoch = int(subprocess.run([os.path.join(REPO, "scripts", "source-date-epoch")],
                                   check=True, capture_output=True, text=True).stdout)
        for name in names:
            source = os.path.join(out, "cd", "README.TXT") if name == "README.TXT" else \
                os.path.join(DIST, name)
            with open(os.path.join(read_back, name.upper()), "rb") as f, open(source, "rb") as g:
                self.assertEqual(f.read(), g.read(), name)
            self.assertEqual(os.path.getmtime(os.path.join(read_back, name.upper())), epoch)
        with open(image, "rb") as f:
            descriptors = f.read(20 * 2048)
            f.seek(0)
            self.assertFalse(b"SP\x07\x01\xbe\xef" in f.read(), "Rock Ridge entries")
        types = [descriptors[s * 2048] for s in range(16, 20)
                 if descriptors[s * 2048 + 1:s * 2048 + 6] == b"CD001"]
        self.assertEqual(types, [1, 255])  # primary, terminator
        self.assertEqual(descriptors[16 * 2048 + 40:16 * 2048 + 72].rstrip(), b"TABRIN")

    def test_payloads_that_fit(self):
        cases = [  # archive sizes, expected files of disks 2 and 3
            ({"cv403w32.zip": 800000, "cv403fn1.zip": 1200000}, [INTERPRETER[:2], INTERPRETER[2:]]),
            ({"cv403ini.zip": 1000000, "cv403w32.zip": 700000}, [INTERPRETER[:1], INTERPRETER[1:]]),
            ({"cv403ini.zip": EMPTY_DISK_BYTES},  # fills disk 2 to the last cluster
             [INTERPRETER[:1], INTERPRETER[1:]]),
        ]
        for index, (sizes, later) in enumerate(cases):
            with self.subTest(sizes=sizes):
                dist = generated_dist(os.path.join(self.temp, "dist%d" % index), sizes)
                out = os.path.join(self.temp, "media%d" % index)
                result = make_media(dist, out)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.check_media(dist, out, [FIRST + ["README.TXT"]] + later)

    def test_payloads_that_do_not_fit(self):
        big = os.path.join(self.temp, "big.bin")
        with open(big, "wb") as f:
            f.write(os.urandom(1600000))
        cases = [  # archive sizes, the file the message names
            ({"cv403ini.zip": EMPTY_DISK_BYTES + 1}, "cv403ini.zip"),
            ({"tabrin.zip": EMPTY_DISK_BYTES - 10 * 1024}, "tabrin.zip"),
            ({n: 1000000 for n in INTERPRETER}, "cv403fn1.zip"),
            ({}, "cv403fn1.zip"),  # a real archive of random data, larger than a floppy
        ]
        for index, (sizes, culprit) in enumerate(cases):
            with self.subTest(culprit=culprit, sizes=sizes):
                dist = generated_dist(os.path.join(self.temp, "bad%d" % index), sizes)
                if not sizes:
                    with zipfile.ZipFile(os.path.join(dist, culprit), "w") as archive:
                        archive.write(big, "fonts/big.pfb")
                out = os.path.join(self.temp, "out%d" % index)
                result = make_media(dist, out)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(culprit, result.stderr)
                self.assertIn("does not fit", result.stderr)
                self.assertFalse(os.path.exists(os.path.join(out, "disk1.img")))


if __name__ == "__main__":
    DIST = sys.argv.pop(1)
    unittest.main()
