#!/usr/bin/python3
"""scripts/bootstrap against a fake package manager: apt-get, dpkg and dpkg-query first on
PATH, /etc and /var/cache under a scratch folder (BOOTSTRAP_ROOT). The fake apt-get fails
`update` as a mirror caught mid-sync does, or not, records the arguments of `install`, and
installs or refuses; nothing reaches the network or the machine's own package state.
"""
import os
import shutil
import stat
import subprocess
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BOOTSTRAP = os.path.join(REPO, "scripts", "bootstrap")

# FAKE is the scratch folder. dpkg-query answers from FAKE/installed; apt-get appends one
# line per call to FAKE/calls and acts as FAKE_UPDATE and FAKE_INSTALL say.
FAKES = {
    "apt-get": r"""#!/bin/bash
echo "$*" >>"$FAKE/calls"
case "$1" in
  update)
    if [ "$FAKE_UPDATE" = stale ]; then
      echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
      exit 100
    fi ;;
  install)
    if [ "$FAKE_INSTALL" = broken ]; then
      echo "E: Unable to correct problems, you have held broken packages." >&2
      exit 100
    fi
    for p in "$@"; do case "$p" in -*|bookworm) ;; *) echo "$p" >>"$FAKE/installed" ;; esac; done ;;
  source)
    mkdir -p zlib-1.2.13 && touch zlib-1.2.13/zlib.h zlib_1.2.13.dsc ;;
esac
""",
    "dpkg-query": r"""#!/bin/bash
grep -qxF "${@: -1}" "$FAKE/installed" 2>/dev/null && echo -n 'install ok installed'
""",
    "dpkg": "#!/bin/bash\n[ \"$1\" = --print-foreign-architectures ] && echo i386\nexit 0\n",
    "id": "#!/bin/bash\necho 0\n",
}


class BootstrapTest(unittest.TestCase):
    def run_bootstrap(self, update, install, installed_everything=False):
        fake = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, fake)
        bin_dir = os.path.join(fake, "bin")
        os.makedirs(bin_dir)
        for name, text in FAKES.items():
            path = os.path.join(bin_dir, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, stat.S_IRWXU)
        os.makedirs(os.path.join(fake, "etc", "apt", "sources.list.d"))
        with open(os.path.join(fake, "etc", "os-release"), "w") as f:
            f.write("VERSION_CODENAME=bookworm\n")
        with open(os.path.join(fake, "etc", "apt", "sources.list.d", "debian.sources"), "w") as f:
            f.write("Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm\n")
        if installed_everything:
            self.run_bootstrap_in(fake, bin_dir, "ok", "ok")  # a machine set up before
            os.remove(os.path.join(fake, "calls"))
        result = self.run_bootstrap_in(fake, bin_dir, update, install)
        calls_path = os.path.join(fake, "calls")
        calls = []
        if os.path.exists(calls_path):
            with open(calls_path) as f:
                calls = f.read().splitlines()
        return result, calls, fake

    def run_bootstrap_in(self, fake, bin_dir, update, install):
        env = dict(os.environ, PATH=bin_dir + ":" + os.environ["PATH"], FAKE=fake,
                   FAKE_UPDATE=update, FAKE_INSTALL=install, BOOTSTRAP_ROOT=fake)
        return subprocess.run([BOOTSTRAP], capture_output=True, text=True, env=env)

    def test_package_indexes_and_installs(self):
        cases = [  # update, install, exit code, target release expected, texts on stderr
            ("stale", "ok", 0, True, ["installing from bookworm itself"]),
            ("ok", "ok", 0, False, []),
            ("stale", "broken", 1, True, ["E: Unable to correct problems",
                                          "could not install: ", "wine32:i386"]),
        ]
        for update, install, code, targeted, texts in cases:
            with self.subTest(update=update, install=install):
                result, calls, fake = self.run_bootstrap(update, install)
                self.assertEqual(result.returncode, code, result.stderr)
                installs = [c.split() for c in calls if c.startswith("install")]
                self.assertEqual(len(installs), 1, calls)
                self.assertEqual("-t bookworm" in " ".join(installs[0]), targeted, installs)
                for package in ["wine32:i386", "xorriso", "mtools", "libarchive-tools"]:
                    self.assertIn(package, installs[0])
                for unused in ["zip", "unzip"]:
                    self.assertNotIn(unused, installs[0])
                for text in texts:
                    self.assertIn(text, result.stderr)
                self.assertEqual(os.path.exists(os.path.join(
                    fake, "var/cache/tabrin-setup-sources/zlib/zlib.h")), code == 0)
                self.assertTrue(os.path.exists(os.path.join(
                    fake, "etc/apt/sources.list.d/tabrin-setup-src.sources")))

    def test_nothing_to_do_on_a_machine_set_up(self):
        result, calls, _ = self.run_bootstrap("stale", "broken", installed_everything=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(calls, [])


if __name__ == "__main__":
    unittest.main()
