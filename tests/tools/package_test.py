"""The Debian package of the build: its metadata and contents as dpkg-deb shows them; unpacked into a
temporary root, a tiny host built against it through find_package and pkg-config, and the packed launcher
finding the packed library; the same host built against an install of the build under a prefix of its own."""
import glob
import os
import re
import shlex
import shutil
import subprocess
import tempfile
import unittest

CONTENTS = ["usr/lib/libDruxLauncher.so", "usr/lib/libDruxLauncher.so.1", "usr/lib/pkgconfig/druxlauncher.pc"] + [
    "usr/include/DruxLauncher/Vantrel%s.h" % name for name in ("", "ServerController", "GameController")] + [
    "usr/lib/cmake/DruxLauncher/DruxLauncherConfig%s.cmake" % kind for kind in ("", "Version")] + [
    "usr/bin/" + name for name in ("drux-launcher", "KyrCLient.exe", "drux-game", "patcher.dll")]


def run(command, **options):
    result = subprocess.run(command, capture_output=True, text=True, **options)
    if result.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (" ".join(command), result.returncode, result.stdout,
                                                       result.stderr))
    return result.stdout


class DebianPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp()
        cls.addClassCleanup(shutil.rmtree, cls.work)
        build = os.environ["DRUX_BUILD_DIR"]
        with open(os.path.join(build, "CMakeCache.txt")) as cache:
            cls.version = re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.*)$", cache.read(), re.M).group(1)
        run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", cls.work],
            cwd=cls.work)
        packages = glob.glob(os.path.join(cls.work, "*.deb"))
        assert len(packages) == 1, packages
        cls.deb = packages[0]
        cls.root = os.path.join(cls.work, "root")
        run(["dpkg-deb", "-x", cls.deb, cls.root])

    def test_metadata(self):
        field = lambda name: run(["dpkg-deb", "-f", self.deb, name]).strip()
        self.assertEqual([field("Package"), field("Version"), field("Architecture")],
                         ["druxlauncher", self.version, run(["dpkg", "--print-architecture"]).strip()])
        # Computed from the binaries: the C and C++ runtimes, with versions; never the package itself.
        depends = field("Depends")
        self.assertEqual([word in depends for word in ("libc6 (>=", "libstdc++6 (>=", "druxlauncher")],
                         [True, True, False], depends)

    def test_contents(self):
        listed = {line.split()[-1 if " -> " not in line else -3].lstrip("./")
                  for line in run(["dpkg-deb", "-c", self.deb]).splitlines()}
        self.assertEqual([path for path in CONTENTS if path not in listed], [])
        self.assertEqual([path for path in listed if not path.startswith("usr/")], [])

    def build_host_both_ways(self, prefix, name, **pkg_config):
        """Builds the tiny host against the library under prefix through find_package and through
        pkg-config (its environment in pkg_config), and runs each build."""
        consumer = os.environ["DRUX_CONSUMER_DIR"]
        cflags, ldflags = os.environ.get("DRUX_C_FLAGS", ""), os.environ.get("DRUX_LINKER_FLAGS", "")
        build = os.path.join(self.work, name)
        run(["cmake", "-S", consumer, "-B", build, "-G", "Ninja", "-DCMAKE_PREFIX_PATH=" + prefix,
             "-DCMAKE_C_FLAGS=" + cflags, "-DCMAKE_EXE_LINKER_FLAGS=" + ldflags])
        run(["cmake", "--build", build])
        self.assertIn("consumer ok", run([os.path.join(build, "consumer")], cwd=build))
        flags = shlex.split(run(["pkg-config", "--cflags", "--libs", "druxlauncher"],
                                env=dict(os.environ, **pkg_config)))
        self.assertIn("-I" + os.path.join(prefix, "include", "DruxLauncher"), flags)
        program = os.path.join(build, "consumer-pc")
        run(["cc"] + shlex.split(cflags) + [os.path.join(consumer, "consumer.c")] + flags +
            ["-Wl,-rpath," + os.path.join(prefix, "lib")] + shlex.split(ldflags) + ["-o", program])
        self.assertIn("consumer ok", run([program], cwd=build))

    def test_a_host_builds_against_the_unpacked_package_both_ways(self):
        # The .pc file names /usr; the sysroot points it at the unpacked tree.
        prefix = os.path.join(self.root, "usr")
        self.build_host_both_ways(prefix, "from-package", PKG_CONFIG_SYSROOT_DIR=self.root,
                                  PKG_CONFIG_LIBDIR=os.path.join(prefix, "lib", "pkgconfig"))

    def test_a_host_builds_against_an_install_under_another_prefix_both_ways(self):
        prefix = os.path.join(self.work, "prefix")
        run(["cmake", "--install", os.environ["DRUX_BUILD_DIR"], "--prefix", prefix])
        self.build_host_both_ways(prefix, "from-install", PKG_CONFIG_PATH=os.path.join(prefix, "lib", "pkgconfig"))

    def test_the_packed_programs_find_the_packed_library(self):
        launcher = os.path.join(self.root, "usr", "bin", "drux-launcher")
        libraries = run(["ldd", launcher])
        self.assertIn(os.path.join(self.root, "usr", "bin", "..", "lib", "libDruxLauncher.so.1"), libraries)
        self.assertIn("drux-launcher", run([launcher, "--help"]))


if __name__ == "__main__":
    unittest.main()
