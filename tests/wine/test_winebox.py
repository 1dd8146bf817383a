#!/usr/bin/python3
"""The harness's own promises, which the Wine tests of the programs rely on."""
import os
import sys

sys.dont_write_bytecode = True
import winebox  # noqa: E402

SYSINFO = r"C:\winebox\sysinfo.exe"


def read_info(box):
    result = box.wine(SYSINFO)
    return dict(line.split("\t", 1) for line in result.stdout.decode().splitlines())


class MachineTest(winebox.BoxTestCase):
    shared_box = True

    def test_reports_windows_95(self):
        info = read_info(self.box)
        self.assertEqual((info["platform"], info["major"], info["minor"]), ("1", "4", "0"), info)
        self.assertEqual(info["temp"].lower(), "c:\\windows\\temp\\")

    def test_nothing_leads_out_of_the_box(self):
        prefix = self.box.unix("C:\\").parent
        drives = sorted(os.listdir(prefix / "dosdevices"))
        self.assertNotIn("z:", drives)
        for name in drives:
            target = os.readlink(prefix / "dosdevices" / name)
            self.assertTrue(name == "c:" or name.startswith(("com", "lpt")), f"{name} -> {target}")
        links = [os.path.join(root, name) for root, dirs, files in os.walk(prefix / "drive_c")
                 for name in dirs + files if os.path.islink(os.path.join(root, name))]
        self.assertEqual(links, [])

    def test_bare_program_name_is_found_in_the_given_directory(self):
        self.box.copy(winebox.tool("sysinfo.exe"), r"C:\Zarn Hold")
        self.assertEqual(self.box.run(b"sysinfo.exe", cwd=r"C:\Zarn Hold"), 0)
        with self.assertRaisesRegex(winebox.HarnessError, "CreateProcessA 2"):
            self.box.run(b"missing.exe", cwd=r"C:\Zarn Hold")

    def test_wininit_is_carried_out_at_restart_only(self):
        victim = self.box.unix(r"C:\windows\temp\victim.txt")
        victim.write_text("x")
        self.box.unix(r"C:\windows\wininit.ini").write_bytes(
            b"[rename]\r\nNUL=C:\\windows\\temp\\victim.txt\r\n")
        self.assertEqual(self.box.run(SYSINFO), 0)
        self.assertTrue(victim.exists(), "wininit.ini was carried out without a restart")
        self.box.restart()
        self.assertFalse(victim.exists(), "wininit.ini was not carried out at the restart")


class DisplayTest(winebox.BoxTestCase):
    display = True
    shared_box = True

    def test_crash_ends_the_process_with_its_exception_code(self):
        # A debugger would open its crash window on the display and keep the process.
        self.assertEqual(self.box.run(SYSINFO + " --crash", timeout=60), 0xC0000005)
        self.assertEqual(self.box.windows(), [])

    def test_read_back_and_answer_by_key(self):
        MB_YESNO_QUESTION, MB_OK_EXCLAMATION, MB_DEFBUTTON2 = 0x24, 0x30, 0x100
        cases = [
            # style, keys, result, icon, buttons, default button
            (MB_YESNO_QUESTION, ["Return"], 6, "question", ["&Yes", "&No"], "&Yes"),
            (MB_YESNO_QUESTION, ["n"], 7, "question", ["&Yes", "&No"], "&Yes"),
            (MB_YESNO_QUESTION, ["y"], 6, "question", ["&Yes", "&No"], "&Yes"),
            (MB_YESNO_QUESTION, ["Tab", "Return"], 7, "question", ["&Yes", "&No"], "&Yes"),
            (MB_YESNO_QUESTION | MB_DEFBUTTON2, ["Return"], 7, "question", ["&Yes", "&No"], "&No"),
            (MB_OK_EXCLAMATION, ["Return"], 1, "exclamation", ["OK"], "OK"),
        ]
        for style, keys, result, icon, buttons, default in cases:
            with self.subTest(style=hex(style), keys=keys):
                run = self.box.start(f'{SYSINFO} --message {style:#x} "Remove it ?" "Box Title"')
                window = self.box.peek("Box Title")
                self.assertIsNotNone(window, "no message box appeared")
                self.assertEqual(window.window_class, "#32770")
                self.assertEqual(window.text, "Remove it ?")
                self.assertEqual(window.icon, icon)
                self.assertEqual([b["text"] for b in window.buttons], buttons)
                self.assertEqual(window.default_button, default)
                self.box.key("Box Title", *keys)
                self.assertEqual(run.wait(timeout=30), result)
                self.assertIsNone(self.box.peek("Box Title", wait_ms=0))


if __name__ == "__main__":
    winebox.main()
