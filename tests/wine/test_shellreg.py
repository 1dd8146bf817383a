#!/usr/bin/python3
"""shellreg under Wine: the command-line gate with its warning box, and the registration run
read back from the box's files, Start-menu entries (lnkinfo), registry and windows."""
import shutil
import sys
import unittest

sys.dont_write_bytecode = True
import winebox  # noqa: E402
import zarn_fixture as demo  # noqa: E402

REFUSED = 0xFFFFFFFF


class ShellregCase(winebox.BoxTestCase):
    display = True
    shared_box = True

    @classmethod
    def setUpClass(cls):
        if shutil.which("lnkinfo") is None:
            raise unittest.SkipTest("lnkinfo (liblnk-utils) is not installed")
        super().setUpClass()
        demo.install_shellreg(cls.box)
        cls.machine = demo.Machine(cls.box)

    def setUp(self):
        super().setUp()
        demo.forget_installation(self.box, self.machine)

    def assert_registered(self, installed, uninstaller_bytes):
        """The whole state a complete run leaves for this installed directory."""
        machine = self.machine
        self.assertFalse(demo.unix_path(self.box, installed + r"\sweeper.exe").exists(),
                         "the shipped uninstaller is still in the installed directory")
        self.assertEqual(demo.unix_path(self.box, machine.installed_uninstaller).read_bytes(), uninstaller_bytes,
                         f"{machine.installed_uninstaller} is not the shipped uninstaller")

        group = demo.unix_path(self.box, machine.group)
        self.assertEqual(sorted(p.name for p in group.iterdir()), sorted(demo.ENTRY_NAMES))
        for name, expected in demo.expected_links(installed, machine.system).items():
            with self.subTest(entry=name):
                link = demo.read_link(group / name)
                # Wine's link object stores the target resolved (D:\\x becomes D:\x); every other
                # string is kept as the program composed it.
                expected = dict(expected, target=collapse(expected["target"]))
                self.assertEqual(link, expected)

        key = demo.reg_query(self.box, demo.DEMO_KEY)
        self.assertIsNotNone(key, f"{demo.DEMO_KEY} is missing")
        self.assertEqual(key.values, {"Installed Version": ("REG_DWORD", "0x0")})
        key = demo.reg_query(self.box, demo.UNINSTALL_KEY)
        self.assertIsNotNone(key, f"{demo.UNINSTALL_KEY} is missing")
        self.assertEqual(key.values, {
            "DisplayName": ("REG_SZ", demo.DEMO_TITLE),
            "UninstallString": ("REG_SZ", machine.installed_uninstaller + " " + installed),
        })

    def assert_explorer_on_group(self):
        """One Explorer was started on the group, unquoted, and shows a window titled Halvane."""
        self.assertTrue(demo.wait_for(lambda: demo.group_windows(self.box)),
                        f"no Explorer window titled {demo.GROUP}; windows: {self.box.windows()}")
        self.assertEqual(demo.group_windows(self.box), [demo.GROUP])
        self.assertEqual([line for _, line, _ in demo.explorers(self.box)], ["Explorer " + self.machine.group])


def collapse(path):
    while "\\\\" in path:
        path = path.replace("\\\\", "\\")
    return path


class GateTest(ShellregCase):
    INSTALLED = r"C:\Zarn"

    def test_command_line_gate(self):
        # (command line, passes). lpApplicationName names shellreg, so the command line is free.
        cases = [
            (b"shellreg.exe zarn5", True),
            (b"shellreg.exe   zarn5", True),
            (b"shellreg.exe\t \tzarn5", True),
            (b'"C:\\disc\\shellreg.exe" zarn5', True),
            (b'"C:\\disc\\shellreg.exe"\tzarn5', True),
            (b"shellreg.exe zarn5 ", False),
            (b"shellreg.exe zarn5x", False),
            (b"shellreg.exe ZARN5", False),
            (b"shellreg.exe zarn", False),
            (b"shellreg.exe", False),
            (b"shellreg.exe ", False),
            (b'shellreg.exe "zarn5"', False),
        ]
        for cmdline, passes in cases:
            with self.subTest(cmdline=cmdline):
                demo.forget_installation(self.box, self.machine)
                demo.lay_out_demo(self.box, self.INSTALLED)
                if passes:
                    self.assertEqual(demo.run_shellreg(self.box, self.INSTALLED, cmdline, timeout=30), 0)
                    self.assertTrue(demo.unix_path(self.box, self.machine.installed_uninstaller).exists())
                    self.assertIsNotNone(demo.reg_query(self.box, demo.UNINSTALL_KEY))
                    self.assertIsNone(self.box.peek(demo.PRODUCT_NAME, wait_ms=0))
                    self.assert_explorer_on_group()
                else:
                    self.assert_refused(cmdline)

    def assert_refused(self, cmdline):
        before = demo.tree(demo.unix_path(self.box, "C:\\"))
        run = self.box.start(cmdline, cwd=self.INSTALLED, app=demo.SHELLREG)
        window = self.box.peek(demo.PRODUCT_NAME, wait_ms=15000)
        self.assertIsNotNone(window, "no warning box appeared")
        self.assertEqual((window.window_class, window.caption, window.text, window.icon),
                         ("#32770", demo.PRODUCT_NAME, demo.WARNING_TEXT, "exclamation"))
        self.assertEqual([b["text"] for b in window.buttons], ["OK"])
        self.assertEqual(window.default_button, "OK")
        self.box.key(demo.PRODUCT_NAME, "Return")
        self.assertEqual(run.wait(timeout=30), REFUSED)
        self.assertIsNone(self.box.peek(demo.PRODUCT_NAME, wait_ms=0))
        after = demo.tree(demo.unix_path(self.box, "C:\\"))
        # The launcher's own record of the run (in C:\winebox) is the one expected change.
        changed = [name for name in demo.changed_names(before, after) if not name.startswith("winebox")]
        self.assertEqual(changed, [], "files changed on disk")
        self.assertIsNone(demo.reg_query(self.box, demo.COMPANY_KEY))
        self.assertIsNone(demo.reg_query(self.box, demo.UNINSTALL_KEY))
        self.assertEqual(demo.explorers(self.box), [])


class RegistrationTest(ShellregCase):
    def test_full_run_then_second_run(self):
        installed = r"C:\Zarn"
        demo.lay_out_demo(self.box, installed)
        shipped = winebox.tool("sweeper.exe").read_bytes()

        self.assertEqual(demo.run_shellreg(self.box, installed), 0)
        self.assert_registered(installed, shipped)
        self.assert_explorer_on_group()
        # The demo's own files stay where the installer put them.
        for name, data in demo.DEMO_FILES.items():
            self.assertEqual(demo.unix_path(self.box, installed + "\\" + name.replace("/", "\\")).read_bytes(), data)

        # A second run: the move finds no sweeper.exe, everything else is written anew, and
        # another Explorer opens. (Wine's Explorer hands a folder that is open already to the
        # window showing it and ends, so the first window is closed before.)
        first = [pid for pid, _, _ in demo.explorers(self.box)]
        demo.close_explorers(self.box)
        self.assertEqual(demo.run_shellreg(self.box, installed), 0)
        self.assert_registered(installed, shipped)
        self.assert_explorer_on_group()
        self.assertNotIn(demo.explorers(self.box)[0][0], first)

    def test_old_uninstaller_in_the_system_directory(self):
        installed = r"C:\Zarn"
        old = b"MZ uninstaller of an earlier installation"
        shipped = winebox.tool("sweeper.exe").read_bytes()
        # (the installer shipped sweeper.exe, what the system directory holds afterwards)
        for ships, expected in [(True, shipped), (False, old)]:
            with self.subTest(ships_uninstaller=ships):
                demo.forget_installation(self.box, self.machine)
                shutil.rmtree(demo.unix_path(self.box, installed), ignore_errors=True)
                demo.lay_out_demo(self.box, installed, uninstaller=ships)
                demo.unix_path(self.box, self.machine.installed_uninstaller).write_bytes(old)
                self.assertEqual(demo.run_shellreg(self.box, installed), 0)
                self.assert_registered(installed, expected)
                self.assert_explorer_on_group()

    def test_installed_directory_with_blanks(self):
        installed = r"C:\Program Files\Zarn Hold Demo"
        demo.lay_out_demo(self.box, installed)
        self.assertEqual(demo.run_shellreg(self.box, installed), 0)
        self.assert_registered(installed, winebox.tool("sweeper.exe").read_bytes())
        self.assert_explorer_on_group()

    def test_installed_directory_at_a_drive_root(self):
        root = demo.map_drive(self.box, "d")
        self.addCleanup(demo.unmap_drive, self.box, "d")
        self.addCleanup(demo.close_explorers, self.box)
        demo.lay_out_demo(self.box, "D:\\")
        self.assertEqual(demo.run_shellreg(self.box, "D:\\"), 0)
        self.assertFalse((root / "sweeper.exe").exists())
        # Every path composed from "D:\" holds two backslashes; the uninstall command line and
        # the uninstaller entry's arguments end in one.
        self.assert_registered("D:\\", winebox.tool("sweeper.exe").read_bytes())
        key = demo.reg_query(self.box, demo.UNINSTALL_KEY)
        self.assertTrue(key.values["UninstallString"][1].endswith(" D:\\"))
        link = demo.read_link(demo.unix_path(self.box, self.machine.group) / demo.ENTRY_NAMES[0])
        self.assertEqual(link["icon"], "D:\\\\icons\\zh5.ico")
        self.assert_explorer_on_group()


if __name__ == "__main__":
    winebox.main()
