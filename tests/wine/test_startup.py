#!/usr/bin/python3
"""Start-up under Wine: what WinMain receives, as seen by cmdline_probe.exe (built like a program).

The command-line rows come from tests/cmdline_cases.txt, which the host start-up test reads too.
"""
import pathlib
import sys

sys.dont_write_bytecode = True
import winebox  # noqa: E402

CASES = pathlib.Path(__file__).resolve().parent.parent / "cmdline_cases.txt"
PROBE_DIR = r"C:\probe"
PROBE = PROBE_DIR + r"\cmdline_probe.exe"
SW_SHOWDEFAULT = 10


def unescape(text):
    """The file's C escapes (\\t \\n \\r \\\\ \\xNN) to bytes; any other backslash is an error."""
    out = bytearray()
    data = text.encode("latin-1")
    i = 0
    while i < len(data):
        byte = data[i]
        if byte != ord("\\"):
            out.append(byte)
            i += 1
            continue
        code = chr(data[i + 1]) if i + 1 < len(data) else ""
        if code in "tnr\\" and code:
            out += {"t": b"\t", "n": b"\n", "r": b"\r", "\\": b"\\"}[code]
            i += 2
        elif code == "x":
            out.append(int(data[i + 2:i + 4].decode(), 16))
            i += 4
        else:
            raise ValueError(f"unknown escape \\{code} in {text!r}")
    return bytes(out)


def read_cases(path=None):
    """(line number, raw, expected, flags, code page) for every case of the file."""
    path = path or CASES
    cases = []
    for number, line in enumerate(path.read_text(encoding="latin-1").split("\n"), 1):
        if not line or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) != 3:
            raise ValueError(f"{path}:{number}: expected raw<TAB>expected<TAB>flags, got {line!r}")
        flags = set() if fields[2] == "-" else set(fields[2].split(","))
        code_page = 1252
        for flag in flags:
            if flag.startswith("cp="):
                code_page = int(flag[3:])
        cases.append((number, unescape(fields[0]), unescape(fields[1]), flags, code_page))
    return cases


class StartupTest(winebox.BoxTestCase):
    shared_box = True

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.box.copy(winebox.tool("cmdline_probe.exe"), PROBE_DIR)
        info = cls.box.wine(r"C:\winebox\sysinfo.exe").stdout.decode()
        cls.code_page = int(dict(line.split("\t", 1) for line in info.splitlines())["acp"])
        cls.runs = 0

    def probe(self, cmdline, show=None, exit_value=None):
        """Runs the probe; returns (exit code, nCmdShow, lpCmdLine bytes)."""
        type(self).runs += 1
        output = rf"{PROBE_DIR}\out{self.runs}.txt"
        env = {"PROBE_OUTPUT": output}
        if exit_value is not None:
            env["PROBE_EXIT"] = exit_value
        code = self.box.run(cmdline, app=PROBE, show=show, env=env)
        written = self.box.unix(output).read_bytes()
        header, _, rest = written.partition(b"\n")
        return code, int(header), rest

    def test_command_line_table(self):
        cases = read_cases()
        self.assertTrue(cases, f"no cases in {CASES}")
        for number, raw, expected, flags, code_page in cases:
            if "host-only" in flags:
                continue
            with self.subTest(line=number, raw=raw):
                if code_page != self.code_page:
                    self.skipTest(f"needs code page {code_page}, Wine runs {self.code_page}")
                code, show, received = self.probe(raw)
                self.assertEqual(received, expected, f"line {number}: command line {raw!r}")
                self.assertEqual(show, SW_SHOWDEFAULT)
                self.assertEqual(code, 0)

    def test_show_command(self):
        # Without STARTF_USESHOWWINDOW the program gets SW_SHOWDEFAULT; with it, wShowWindow as is.
        for show, expected in [(None, SW_SHOWDEFAULT), (0, 0), (1, 1), (2, 2), (3, 3), (7, 7), (11, 11)]:
            with self.subTest(wShowWindow=show):
                _, received, _ = self.probe(b"probe.exe x", show=show)
                self.assertEqual(received, expected)

    def test_exit_code_is_winmain_result(self):
        # The whole 32-bit value, not just the low byte a Unix parent would see.
        for value, expected in [(0, 0), (1, 1), (-1, 0xFFFFFFFF), (256, 256), (-2147483647, 0x80000001)]:
            with self.subTest(winmain_returns=value):
                code, _, _ = self.probe(b"probe.exe", exit_value=value)
                self.assertEqual(code, expected)


if __name__ == "__main__":
    winebox.main()
