"""Python face of the winebox harness, for Wine tests written with unittest.

    import winebox

    class MyTest(winebox.BoxTestCase):
        display = True                      # the box gets its own Xvfb server

        def test_something(self):
            self.box.copy(winebox.tool("shellreg.exe"), r"C:\\Zarn")
            code = self.box.run(b"shellreg.exe zarn5", cwd=r"C:\\Zarn")
            self.assertEqual(code, 0)

    if __name__ == "__main__":
        winebox.main()

Every call goes through the winebox script next to this file, which README.md describes.
"""
import atexit
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = pathlib.Path(__file__).resolve().parent
SCRIPT = HERE / "winebox"
WINE = os.environ.get("WINEBOX_WINE", "/usr/lib/wine/wine64")
SKIP = 77  # the exit code ctest is told means "skipped"


class HarnessError(RuntimeError):
    pass


def tools_dir():
    return pathlib.Path(os.environ.get("WINEBOX_TOOLS", HERE.parent.parent / "build" / "windows-x64" / "bin"))


def tool(name):
    """Path of a file of the windows-x64 build (a deliverable or a test tool)."""
    return tools_dir() / name


def missing_prerequisites(display=False):
    """What this machine lacks to run Wine tests; empty when nothing."""
    missing = []
    if not os.access(WINE, os.X_OK):
        missing.append(f"{WINE} (wine64)")
    if display:
        for program in ("Xvfb", "xdotool"):
            if shutil.which(program) is None:
                missing.append(program)
    for name in ("launch.exe", "boxpeek.exe", "sysinfo.exe"):
        if not tool(name).is_file():
            missing.append(str(tool(name)))
    return missing


def _script(*args, env=None, check=True, timeout=None):
    environment = dict(os.environ)
    environment.setdefault("WINEBOX_TOOLS", str(tools_dir()))
    if env:
        environment.update({key: str(value) for key, value in env.items()})
    arguments = [str(SCRIPT)] + [os.fsencode(a) if isinstance(a, (bytes, str)) else str(a) for a in args]
    result = subprocess.run(arguments, env=environment, stdin=subprocess.DEVNULL, capture_output=True,
                            timeout=timeout)
    if check and result.returncode != 0:
        raise HarnessError(f"winebox {os.fsdecode(arguments[1])} failed ({result.returncode}): "
                           f"{result.stderr.decode(errors='replace').strip()}")
    return result


_template = None


def template():
    """The template box: $WINEBOX_TEMPLATE if set, else one made for this process and removed at exit."""
    global _template
    configured = os.environ.get("WINEBOX_TEMPLATE")
    if configured and (pathlib.Path(configured) / "prefix" / "drive_c").is_dir():
        return pathlib.Path(configured)
    if _template is None:
        parent = pathlib.Path(tempfile.mkdtemp(prefix="winebox-template-"))
        _script("template", parent / "box")
        _template = parent / "box"
        atexit.register(shutil.rmtree, parent, True)
    return _template


class Run:
    """A program started in the background."""

    def __init__(self, box, run_id):
        self.box = box
        self.id = run_id

    def wait(self, timeout=None):
        env = {"WINEBOX_TIMEOUT": int(timeout)} if timeout else None
        return int(_script("wait", self.box.path_, self.id, env=env).stdout.split()[0])


class Window:
    """A top-level window as boxpeek read it."""

    def __init__(self, lines):
        self.handle = self.window_class = self.caption = None
        self.statics, self.buttons, self.icon, self.focus = [], [], None, None
        for line in lines:
            fields = line.split("\t")
            kind = fields[0]
            if kind == "window":
                self.handle, self.window_class, self.caption = fields[1], fields[2], _unescape(fields[3])
            elif kind == "static":
                self.statics.append(_unescape(fields[1]))
            elif kind == "icon":
                self.icon = fields[1]
            elif kind == "button":
                self.buttons.append({"id": int(fields[1]), "text": _unescape(fields[2]),
                                     "default": fields[3] == "default", "focus": fields[4] == "focus"})
            elif kind == "focus":
                self.focus = _unescape(fields[3])

    @property
    def text(self):
        return "\n".join(self.statics)

    @property
    def default_button(self):
        defaults = [b["text"] for b in self.buttons if b["default"]]
        return defaults[0] if len(defaults) == 1 else None

    def __repr__(self):
        return (f"Window({self.caption!r}, class={self.window_class!r}, statics={self.statics!r}, "
                f"icon={self.icon!r}, buttons={self.buttons!r})")


def _unescape(text):
    return text.encode("latin-1").decode("unicode_escape")


class Box:
    """One throwaway Windows 95 machine under Wine."""

    def __init__(self, path, display=False, template_box=None, screen=None):
        """screen: the Xvfb screen as WIDTHxHEIGHTxDEPTH (default 800x600x24)."""
        self.path_ = pathlib.Path(path)
        self.display = display
        arguments = ["new"] + (["--display"] if display else []) + [self.path_]
        _script(*arguments, template_box if template_box is not None else template(),
                env={"WINEBOX_SCREEN": screen} if screen else None)

    def run(self, cmdline, cwd=None, show=None, app=None, env=None, timeout=None):
        """Runs a program with this exact command line (bytes or str) and returns its exit code."""
        result = _script("run", self.path_, cmdline, *([cwd] if cwd else []),
                         env=self._run_env(show, app, env, timeout))
        return int(result.stdout.split()[0])

    def start(self, cmdline, cwd=None, show=None, app=None, env=None):
        result = _script("start", self.path_, cmdline, *([cwd] if cwd else []),
                         env=self._run_env(show, app, env, None))
        return Run(self, result.stdout.decode().strip())

    @staticmethod
    def _run_env(show, app, env, timeout):
        extra = dict(env or {})
        if show is not None:
            extra["WINEBOX_SHOW"] = int(show)
        if app is not None:
            extra["WINEBOX_APP"] = app
        if timeout is not None:
            extra["WINEBOX_TIMEOUT"] = int(timeout)
        return extra

    def copy(self, files, windir):
        """Copies one file or a list of files into a Windows directory of the box."""
        if isinstance(files, (str, bytes, os.PathLike)):
            files = [files]
        _script("copy", self.path_, windir, *files)

    def unix(self, winpath):
        """The Unix path of a C: path of the box."""
        return pathlib.Path(os.fsdecode(_script("path", self.path_, winpath).stdout.rstrip(b"\n")))

    def wine(self, *args):
        """Runs any program of the box through wine64; returns the CompletedProcess (bytes)."""
        return _script("wine", self.path_, *args, check=False)

    def peek(self, caption, wait_ms=5000):
        """The top-level window with that caption, or None when none appears within wait_ms."""
        result = _script("peek", self.path_, caption, int(wait_ms), check=False)
        if result.returncode == 1:
            return None
        if result.returncode != 0:
            raise HarnessError(f"boxpeek failed: {result.stderr.decode(errors='replace')}")
        return Window(result.stdout.decode("latin-1").splitlines())

    def windows(self):
        """(class, caption) of every visible top-level window."""
        lines = _script("windows", self.path_).stdout.decode("latin-1").splitlines()
        return [(f[2], _unescape(f[3])) for f in (line.split("\t") for line in lines) if f[0] == "window"]

    def key(self, caption, *keys):
        """Focuses the window with that caption and presses keys (xdotool names: Return, Escape, n)."""
        _script("key", self.path_, caption, *keys)

    def restart(self):
        _script("restart", self.path_)

    def kill(self):
        _script("kill", self.path_, check=False)

    def destroy(self):
        _script("destroy", self.path_, check=False)


class BoxTestCase(unittest.TestCase):
    """Gives tests a box (self.box) in a temporary directory, destroyed afterwards.

    display: the box gets its own Xvfb server (needed for windows and message boxes).
    screen: that server's screen, e.g. "640x480x8" for a palette display (default 800x600x24).
    shared_box: one box for all tests of the class, made in setUpClass; faster, but the tests
    must leave the box as they found it.
    """

    display = False
    screen = None
    shared_box = False

    @classmethod
    def _make_box(cls):
        missing = missing_prerequisites(cls.display)
        if missing:
            raise unittest.SkipTest("missing " + ", ".join(missing))
        temp = tempfile.mkdtemp(prefix="winebox-")
        try:
            box = Box(pathlib.Path(temp) / "box", display=cls.display, screen=cls.screen)
        except BaseException:
            _script("destroy", pathlib.Path(temp) / "box", check=False)
            shutil.rmtree(temp, True)
            raise
        return box, temp

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if cls.shared_box:
            cls.box, cls._shared_temp = cls._make_box()

    @classmethod
    def tearDownClass(cls):
        if cls.shared_box:
            cls.box.destroy()
            shutil.rmtree(cls._shared_temp, True)
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        if not self.shared_box:
            self.box, temp = self._make_box()
            self.addCleanup(shutil.rmtree, temp, True)
            self.addCleanup(self.box.destroy)


def main():
    """unittest.main, but exits with 77 (ctest's "skipped") when Wine, or Xvfb and xdotool for a
    test class with display = True, are missing."""
    module = sys.modules["__main__"]
    display = any(isinstance(item, type) and issubclass(item, BoxTestCase) and item.display
                  for item in vars(module).values())
    missing = missing_prerequisites(display)
    if missing:
        print("SKIPPED: Wine tests need " + ", ".join(missing), flush=True)
        sys.exit(SKIP)
    unittest.main()


def _command_line():
    """python3 winebox.py template DIR | destroy DIR: the per-run template for ctest's fixture."""
    if len(sys.argv) != 3 or sys.argv[1] not in ("template", "destroy"):
        sys.exit("usage: winebox.py template DIR | destroy DIR")
    command, directory = sys.argv[1], pathlib.Path(sys.argv[2])
    if command == "template":
        missing = missing_prerequisites()
        if missing:
            print("SKIPPED: Wine tests need " + ", ".join(missing), flush=True)
            sys.exit(SKIP)
        _script("destroy", directory, check=False)
        directory.mkdir(parents=True)
        _script("template", directory)
        print(f"template box ready at {directory}")
    else:
        _script("destroy", directory, check=False)


if __name__ == "__main__":
    _command_line()
