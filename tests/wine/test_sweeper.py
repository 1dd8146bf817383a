#!/usr/bin/python3
"""sweeper under Wine: its question read back from the real box and answered by key, the removal
of an installation that shellreg registered, the wininit.ini line and what a restart makes of it,
and the guard that keeps a "Yes" from deleting anything but the demo's own directory."""
import shutil
import sys

sys.dont_write_bytecode = True
import winebox  # noqa: E402
import zarn_fixture as demo  # noqa: E402

REFUSED = 0xFFFFFFFF


class SweeperCase(winebox.BoxTestCase):
    display = True
    shared_box = True

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        demo.install_shellreg(cls.box)
        cls.machine = demo.Machine(cls.box)

    def setUp(self):
        super().setUp()
        self.reset()

    def reset(self):
        demo.forget_installation(self.box, self.machine)
        # The uninstaller where shellreg puts it, so every run starts as the uninstall command
        # line does, whether or not shellreg ran.
        shutil.copyfile(winebox.tool("sweeper.exe"), demo.unix_path(self.box, self.machine.installed_uninstaller))

    def command_line(self, text):
        """The uninstall command line for an installed directory, as shellreg records it."""
        return self.machine.installed_uninstaller.encode() + b" " + (text.encode("latin-1")
                                                                      if isinstance(text, str) else text)

    def remove(self, cmdline, keys=("Return",)):
        """Starts sweeper, checks its question as the user sees it, answers with keys; returns
        the exit code."""
        run = self.box.start(cmdline)
        window = self.box.peek(demo.DEMO_TITLE, wait_ms=15000)
        self.assertIsNotNone(window, f"no question for {cmdline!r}")
        self.assertEqual((window.window_class, window.caption, window.text, window.icon),
                         ("#32770", demo.DEMO_TITLE, demo.QUESTION_TEXT, "question"))
        self.assertEqual([b["text"] for b in window.buttons], ["&Yes", "&No"])
        self.assertEqual(window.default_button, "&Yes")
        self.box.key(demo.DEMO_TITLE, *keys)
        code = run.wait(timeout=60)
        self.assertIsNone(self.box.peek(demo.DEMO_TITLE, wait_ms=0))
        return code

    def register(self, installed, extra=None):
        """A real registration by shellreg; returns the uninstall command line it recorded."""
        demo.lay_out_demo(self.box, installed, extra=extra)
        self.assertEqual(demo.run_shellreg(self.box, installed), 0)
        self.assertTrue(demo.wait_for(lambda: demo.group_windows(self.box)), "shellreg opened no Explorer")
        # The user closes the group's window; under Wine its process holds the installed
        # directory as its current directory until then.
        demo.close_explorers(self.box)
        return demo.reg_query(self.box, demo.UNINSTALL_KEY).values["UninstallString"][1].encode("latin-1")

    def group_entries(self):
        group = demo.unix_path(self.box, self.machine.group)
        return sorted(p.name for p in group.iterdir()) if group.is_dir() else None

    def assert_registration_left(self):
        """Group, entries and both keys are all still there."""
        self.assertEqual(self.group_entries(), sorted(demo.ENTRY_NAMES))
        self.assertIsNotNone(demo.reg_query(self.box, demo.DEMO_KEY))
        self.assertIsNotNone(demo.reg_query(self.box, demo.UNINSTALL_KEY))
        self.assertIsNone(demo.read_rename_section(self.box, self.machine))

    def assert_registration_removed(self, group_left=None):
        """Entries and group gone (the group stays holding group_left), the demo's two keys gone
        while their parents stay."""
        self.assertEqual(self.group_entries(), group_left)
        company = demo.reg_query(self.box, demo.COMPANY_KEY)
        self.assertIsNotNone(company, f"{demo.COMPANY_KEY} was deleted")
        self.assertEqual(company.subkeys, [])
        root = demo.reg_query(self.box, demo.UNINSTALL_ROOT)
        self.assertIsNotNone(root, f"{demo.UNINSTALL_ROOT} was deleted")
        self.assertNotIn(demo.DEMO_TITLE.lower(), [name.lower() for name in root.subkeys])

    def assert_self_removal_line(self):
        self.assertEqual(demo.read_rename_section(self.box, self.machine),
                         [("NUL", self.machine.installed_uninstaller)])


class QuestionTest(SweeperCase):
    INSTALLED = r"C:\Zarn"

    def setUp(self):
        super().setUp()
        demo.lay_out_demo(self.box, self.INSTALLED)
        demo.forge_registration(self.box, self.INSTALLED, self.machine)
        self.before = demo.tree(demo.unix_path(self.box, self.INSTALLED))

    def assert_nothing_changed(self):
        self.assertEqual(demo.tree(demo.unix_path(self.box, self.INSTALLED)), self.before)
        self.assert_registration_left()

    def test_no_question_without_a_text_that_fits(self):
        # The shell's source list holds 258 characters and two closing NULs.
        long_name = "C:\\" + "a" * 200 + "\\" + "b" * 56
        self.assertEqual(len(long_name), 260)
        cases = [
            # command line, reaches the question
            (self.machine.installed_uninstaller.encode(), False),
            (self.command_line(""), False),
            (self.command_line("   "), False),
            (self.command_line(long_name[:259]), False),
            (self.command_line(long_name[:258]), True),
        ]
        for cmdline, asks in cases:
            with self.subTest(cmdline=cmdline[:60], length=len(cmdline)):
                if asks:
                    self.assertEqual(self.remove(cmdline, keys=("n",)), REFUSED)
                else:
                    self.assertEqual(self.box.run(cmdline, timeout=30), REFUSED)
                    self.assertIsNone(self.box.peek(demo.DEMO_TITLE, wait_ms=0))
                self.assert_nothing_changed()

    def test_any_answer_but_yes_changes_nothing(self):
        # n and Tab+Return choose No; Escape and Alt+F4 close the box (Wine gives IDCANCEL).
        for keys in [("n",), ("Tab", "Return"), ("Escape",), ("alt+F4",)]:
            with self.subTest(keys=keys):
                self.assertEqual(self.remove(self.command_line(self.INSTALLED), keys=keys), REFUSED)
                self.assert_nothing_changed()


class RemovalTest(SweeperCase):
    def test_yes_removes_the_installation_and_a_restart_the_uninstaller(self):
        installed = r"C:\Zarn"
        cmdline = self.register(installed, extra={"saves/slot1/game.sav": b"saved game",
                                                  "saves/slot2/game.sav": b"another"})
        self.assertEqual(cmdline, self.command_line(installed))
        uninstaller = demo.unix_path(self.box, self.machine.installed_uninstaller)

        code = self.remove(cmdline)
        self.assertNotIn(code, (0, REFUSED))
        self.assertFalse(demo.unix_path(self.box, installed).exists(), "the installed directory is still there")
        self.assert_registration_removed()
        self.assert_self_removal_line()
        self.assertTrue(uninstaller.exists(), "the uninstaller went before the restart")

        # A second run after the complete removal asks again and goes through every step; the
        # wininit.ini it finds now gets the parked-path line.
        code = self.remove(cmdline)
        self.assertNotIn(code, (0, REFUSED))
        self.assert_registration_removed()
        self.assertEqual(demo.read_rename_section(self.box, self.machine),
                         [("NUL", self.machine.installed_uninstaller),
                          (self.machine.parked, self.machine.installed_uninstaller)])

        self.box.restart()
        self.assertFalse(uninstaller.exists(), "the restart left the uninstaller in the system directory")

    def test_directory_with_blanks_is_deleted_whole(self):
        installed = r"C:\Program Files\Zarn Hold Demo"
        # What the text names up to its first blank must survive.
        demo.lay_out_demo(self.box, r"C:\Program")
        cut = demo.tree(demo.unix_path(self.box, r"C:\Program"))
        cmdline = self.register(installed)
        self.assertEqual(cmdline, self.command_line(installed))
        self.assertNotIn(self.remove(cmdline), (0, REFUSED))
        self.assertFalse(demo.unix_path(self.box, installed).exists())
        self.assertTrue(demo.unix_path(self.box, r"C:\Program Files").is_dir())
        self.assertEqual(demo.tree(demo.unix_path(self.box, r"C:\Program")), cut)
        self.assert_registration_removed()
        self.assert_self_removal_line()
        shutil.rmtree(demo.unix_path(self.box, r"C:\Program"))

    def test_group_holding_a_users_file_stays(self):
        installed = r"C:\Zarn"
        self.register(installed)
        notes = demo.unix_path(self.box, self.machine.group) / "My notes.txt"
        notes.write_bytes(b"the user's own file")
        self.assertNotIn(self.remove(self.command_line(installed)), (0, REFUSED))
        self.assertFalse(demo.unix_path(self.box, installed).exists())
        self.assert_registration_removed(group_left=["My notes.txt"])
        self.assertEqual(notes.read_bytes(), b"the user's own file")
        self.assert_self_removal_line()


class WininitTest(SweeperCase):
    def test_wininit_lines(self):
        machine = self.machine
        this = machine.installed_uninstaller
        # The temporary directory ends in a backslash, and the parked name begins with one.
        self.assertEqual(machine.parked, machine.temp + "\\zh5deins.$$$")
        self.assertIn("\\\\zh5deins.$$$", machine.parked)
        other_section = b"[boot]\r\nshell=Explorer.exe\r\n"
        cases = [
            # name, wininit.ini before, runs, [rename] lines afterwards, exit code
            ("no file", None, 1, [("NUL", this)], 1),
            ("no rename section", other_section, 1, [(machine.parked, this)], 1),
            ("another program's NUL line", b"[rename]\r\nNUL=C:\\windows\\system32\\old.dll\r\n", 1,
             [("NUL", r"C:\windows\system32\old.dll"), (machine.parked, this)], 1),
            ("two runs without a restart", None, 2, [("NUL", this), (machine.parked, this)], 1),
        ]
        # The directory the text names is long gone: nothing to delete, every other step runs.
        cmdline = self.command_line(r"C:\Zarn")
        for name, before, runs, lines, code in cases:
            with self.subTest(name):
                path = demo.unix_path(self.box, machine.wininit)
                path.unlink(missing_ok=True)
                if before is not None:
                    path.write_bytes(before)
                for _ in range(runs):
                    self.assertEqual(self.remove(cmdline), code)
                self.assertEqual(demo.read_rename_section(self.box, machine), lines)
                if before == other_section:
                    self.assertEqual(demo.profile_section(path.read_bytes(), "boot"), [("shell", "Explorer.exe")])

    def test_line_that_cannot_be_written(self):
        # A folder where wininit.ini should be: found, so the parked line is due, but not writable.
        folder = demo.unix_path(self.box, self.machine.wininit)
        folder.mkdir()
        self.addCleanup(folder.rmdir)
        demo.forge_registration(self.box, r"C:\Zarn", self.machine)
        self.assertEqual(self.remove(self.command_line(r"C:\Zarn")), 0)
        self.assert_registration_removed()


class GuardTest(SweeperCase):
    """Texts that do not name a directory of this installation: after "Yes" nothing is deleted
    from the disk, while the entries, the group, the keys and the wininit.ini line are dealt with
    as in any run. Each protected folder holds a zarnhold.exe, so only the rule under test
    stands between it and the shell."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        demo.map_drive(cls.box, "d")
        for folder in (cls.machine.windows, cls.machine.system, cls.machine.temp):
            (demo.unix_path(cls.box, folder) / "zarnhold.exe").write_bytes(demo.DEMO_FILES["zarnhold.exe"])

    def lay_out_folders(self):
        """The folders the texts aim at, laid out afresh for each text, so that a text that slips
        through shows in its own row only."""
        demo.lay_out_demo(self.box, r"C:\Zarn", uninstaller=False)
        demo.lay_out_demo(self.box, "D:\\", uninstaller=False, extra={"letters/to bank.txt": b"a letter"})
        demo.lay_out_demo(self.box, r"C:\scratch", uninstaller=False, extra={"temp/work.tmp": b"in use"})
        documents = demo.unix_path(self.box, r"C:\Documents")
        documents.mkdir(exist_ok=True)
        (documents / "letter.txt").write_bytes(b"a user's document")

    def test_guarded_texts(self):
        cases = [
            # text, what must remain, temporary directory during the run
            ("D:\\", "D:\\", None),
            ("D:", "D:\\", None),
            (r"C:\windows", r"C:\windows", None),
            ("c:\\WINDOWS\\", r"C:\windows", None),
            (r"C:\windows\system32", r"C:\windows\system32", None),
            ("C:\\windows\\temp\\", r"C:\windows\temp", None),
            (r"C:\scratch", r"C:\scratch", r"C:\scratch\temp"),
            (r"C:\Zarn*", r"C:\Zarn", None),
            (r"C:\Za?n", r"C:\Zarn", None),
            (r"C:\Zarn\icons\..", r"C:\Zarn", None),
            ("Zarn", r"C:\Zarn", None),
            (r"\Zarn", r"C:\Zarn", None),
            ("C:/Zarn", r"C:\Zarn", None),
            ("C:\\Zarn.", r"C:\Zarn", None),
            (r"C:\Zarn\readme.txt", r"C:\Zarn\readme.txt", None),
            (r"C:\Documents", r"C:\Documents", None),
        ]
        for text, kept, temp in cases:
            with self.subTest(text=text):
                self.reset()
                self.lay_out_folders()
                demo.forge_registration(self.box, text, self.machine)
                if temp:
                    self.set_temp(temp)
                before = self.snapshot(kept)
                try:
                    code = self.remove(self.command_line(text))
                finally:
                    if temp:
                        self.set_temp(self.machine.temp.rstrip("\\"))
                self.assertEqual(self.snapshot(kept), before, f"{kept} changed")
                self.assertNotIn(code, (0, REFUSED))
                self.assert_registration_removed()
                self.assert_self_removal_line()

    def snapshot(self, winpath):
        listing = demo.tree(demo.unix_path(self.box, winpath))
        self.assertTrue(listing, f"nothing at {winpath}")
        # sweeper's own line is written into the Windows directory on every run.
        listing.pop("wininit.ini", None)
        return listing

    def set_temp(self, winpath):
        value = winpath.replace("\\", "\\\\")
        demo.reg_import(self.box, f'[HKEY_CURRENT_USER\\Environment]\n"TEMP"="{value}"\n"TMP"="{value}"\n\n')


if __name__ == "__main__":
    winebox.main()
