"""What the Wine tests of shellreg and sweeper share: the demo's files as the disc's installer
leaves them, the machine's directories, and readers for the registry, the Start-menu entries,
Explorer windows and wininit.ini of a box.

Every path a program sees is a Windows path of the box; the tests read the box's files on the
Unix side, through the drive folders of its prefix.
"""
import os
import pathlib
import shutil
import subprocess
import time

import winebox

# The names the programs share.
DEMO_TITLE = "Zarn-Hold Demo"
PRODUCT_NAME = "Zarn-Hold"
GROUP = "Halvane"
DEMO_KEY = r"HKLM\Software\Halvane\ZARN5DEMO"
COMPANY_KEY = r"HKLM\Software\Halvane"
UNINSTALL_ROOT = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
UNINSTALL_KEY = UNINSTALL_ROOT + "\\" + DEMO_TITLE
INSTALLED_NAME = "zh5ddins.exe"
PARKED_NAME = "zh5deins.$$$"
WARNING_TEXT = "Run 'Install' to install this demo"
QUESTION_TEXT = "Are you sure you want to remove Zarn-Hold Demo from your system ?"
ENTRY_NAMES = ["Zarn-Hold Demo.pif", "Setup utility for Zarn-Hold Demo.pif",
               "Readme for Zarn-Hold Demo.lnk", "Uninstaller for Zarn-Hold Demo.lnk"]

# Where the test puts shellreg: it is started from the disc, with the installed directory as
# its current directory, so it is not itself part of what sweeper removes.
DISC = r"C:\disc"
SHELLREG = DISC + r"\shellreg.exe"

# The demo's files as the disc's installer leaves them. Their contents do not matter to the
# programs (the game and its setup are MS-DOS programs nobody starts here); sweeper.exe is the
# real uninstaller, added by lay_out_demo.
DEMO_FILES = {
    "zarnhold.exe": b"MZ test stand-in for the game\r\n",
    "setup.exe": b"MZ test stand-in for the setup utility\r\n",
    "readme.txt": b"Zarn-Hold Demo readme, test copy\r\n",
    "icons/zh5.ico": b"\x00\x00\x01\x00 game icon stand-in",
    "icons/zh5setup.ico": b"\x00\x00\x01\x00 setup icon stand-in",
    "icons/zh5unins.ico": b"\x00\x00\x01\x00 uninstaller icon stand-in",
}


def prefix(box):
    return box.path_ / "prefix"


def unix_path(box, winpath):
    """Unix path of a path on C: or on a drive letter mapped inside the prefix, following
    existing names case-insensitively as Wine does (without a round trip through winebox)."""
    path = (prefix(box) / "dosdevices" / f"{winpath[0].lower()}:").resolve()
    for part in winpath[2:].split("\\"):
        if not part:
            continue
        if not (path / part).exists() and path.is_dir():
            matches = [name for name in os.listdir(path) if name.lower() == part.lower()]
            part = matches[0] if matches else part
        path = path / part
    return path


def map_drive(box, letter):
    """Maps a new drive letter to a folder inside the prefix (drive_<letter>); returns its Unix root."""
    root = prefix(box) / f"drive_{letter}"
    root.mkdir(exist_ok=True)
    link = prefix(box) / "dosdevices" / f"{letter}:"
    if not link.is_symlink():
        os.symlink(f"../drive_{letter}", link)
    return root


def unmap_drive(box, letter):
    link = prefix(box) / "dosdevices" / f"{letter}:"
    if link.is_symlink():
        link.unlink()
    shutil.rmtree(prefix(box) / f"drive_{letter}", ignore_errors=True)


def lay_out_demo(box, installed, uninstaller=True, extra=None):
    """Fills an installed directory (Windows path) as the disc's installer would."""
    directory = unix_path(box, installed)
    files = dict(DEMO_FILES)
    files.update(extra or {})
    for name, data in files.items():
        path = directory / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    if uninstaller:
        shutil.copyfile(winebox.tool("sweeper.exe"), directory / "sweeper.exe")
    return directory


def install_shellreg(box):
    box.copy(winebox.tool("shellreg.exe"), DISC)


def run_shellreg(box, installed, cmdline=b"shellreg.exe zarn5", timeout=60):
    return box.run(cmdline, cwd=installed, app=SHELLREG, timeout=timeout)


class Machine:
    """The directories of a box as its programs see them."""

    def __init__(self, box):
        info = box.wine(r"C:\winebox\sysinfo.exe").stdout.decode()
        values = dict(line.split("\t", 1) for line in info.splitlines())
        self.windows = values["windows"]
        self.system = values["system"]
        self.temp = values["temp"]
        folders = reg_query(box, r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders")
        if not folders or "Programs" not in folders.values:
            raise winebox.HarnessError("the box has no Programs folder in Shell Folders")
        self.programs = folders.values["Programs"][1]
        self.group = self.programs + "\\" + GROUP
        self.installed_uninstaller = self.system + "\\" + INSTALLED_NAME
        self.wininit = self.windows + r"\wininit.ini"
        self.parked = self.temp + "\\" + PARKED_NAME


class Key:
    def __init__(self, values, subkeys):
        self.values = values      # name -> (type, data)
        self.subkeys = subkeys    # names of the direct subkeys


def reg_query(box, key):
    """A key's values and subkeys as `reg query` shows them, or None when the key does not exist."""
    result = box.wine("reg", "query", key)
    if result.returncode != 0:
        if b"Unable to find" in result.stderr + result.stdout:
            return None
        raise winebox.HarnessError(f"reg query {key}: {result.stderr.decode(errors='replace')}")
    values, subkeys = {}, []
    own = key.replace("HKLM\\", "HKEY_LOCAL_MACHINE\\").replace("HKCU\\", "HKEY_CURRENT_USER\\").lower()
    for line in result.stdout.decode("latin-1").split("\n"):
        line = line.rstrip("\r")
        if line.startswith("    "):
            name, kind, data = (line[4:].split("    ", 2) + ["", ""])[:3]
            values[name] = (kind, data)
        elif line.startswith("HKEY_") and line.lower() != own:
            subkeys.append(line.rsplit("\\", 1)[1])
    return Key(values, subkeys)


def reg_import(box, text):
    """Imports REGEDIT4 text into the box's registry (one regedit run)."""
    path = unix_path(box, r"C:\winebox\import.reg")
    path.write_bytes(("REGEDIT4\r\n\r\n" + text).replace("\n", "\r\n").replace("\r\r\n", "\r\n").encode("latin-1"))
    result = box.wine("regedit", "/S", r"C:\winebox\import.reg")
    path.unlink()
    if result.returncode != 0:
        raise winebox.HarnessError(f"regedit: {result.stderr.decode(errors='replace')}")


def reg_delete(box, *keys):
    """Deletes keys with everything below them (one regedit run)."""
    reg_import(box, "".join(f"[-{key.replace('HKLM', 'HKEY_LOCAL_MACHINE', 1)}]\n\n" for key in keys))


def forge_registration(box, installed, machine):
    """The keys and the group shellreg would leave, made directly (much faster than a run)."""
    command = machine.installed_uninstaller + " " + installed
    escaped = command.replace("\\", "\\\\")
    reg_import(box, f'[HKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO]\n"Installed Version"=dword:00000000\n\n'
                    f'[HKEY_LOCAL_MACHINE\\{UNINSTALL_KEY[5:]}]\n"DisplayName"="{DEMO_TITLE}"\n'
                    f'"UninstallString"="{escaped}"\n\n')
    group = unix_path(box, machine.group)
    group.mkdir(parents=True, exist_ok=True)
    for name in ENTRY_NAMES:
        (group / name).write_bytes(b"entry stand-in")


def read_link(path):
    """The fields of a shell link file that lnkinfo shows; None for each one it does not hold."""
    result = subprocess.run(["lnkinfo", str(path)], capture_output=True, check=True)
    fields = {}
    for line in result.stdout.decode("latin-1").splitlines():
        if line.startswith("\t") and ":" in line:
            name, _, value = line.strip("\t").partition(":")
            fields.setdefault(name.strip(), value[1:] if value.startswith(" ") else value)
    return {
        "target": fields.get("Local path"),
        "description": fields.get("Description"),
        "icon": fields.get("Icon location"),
        "icon index": fields.get("Icon index"),
        "arguments": fields.get("Command line arguments"),
    }


def expected_links(installed, system):
    """Each entry of the group and what its link must hold, as shellreg composes it."""
    return {
        "Zarn-Hold Demo.pif": {"target": installed + r"\zarnhold.exe", "description": "Zarn_Hold Demo",
                               "icon": installed + r"\icons\zh5.ico", "icon index": "0", "arguments": None},
        "Setup utility for Zarn-Hold Demo.pif": {
            "target": installed + r"\setup.exe", "description": "Setup utility for Zarn-Hold Demo",
            "icon": installed + r"\icons\zh5setup.ico", "icon index": "0", "arguments": None},
        "Readme for Zarn-Hold Demo.lnk": {"target": installed + r"\readme.txt",
                                          "description": "Readme for Zarn-Hold Demo",
                                          "icon": None, "icon index": "0", "arguments": None},
        "Uninstaller for Zarn-Hold Demo.lnk": {
            "target": system + "\\" + INSTALLED_NAME, "description": "Uninstaller for Zarn-Hold Demo",
            "icon": installed + r"\icons\zh5unins.ico", "icon index": "0", "arguments": installed},
    }


def explorers(box):
    """(pid, command line, current directory) of each Explorer of this box opened on a folder.

    Wine shows a process's command line as its argv; the shell's own desktop process is left out.
    """
    wanted = ("WINEPREFIX=" + str(prefix(box))).encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as handle:
                if wanted not in handle.read().split(b"\0"):
                    continue
            with open(f"/proc/{entry}/cmdline", "rb") as handle:
                argv = [part for part in handle.read().split(b"\0") if part]
            cwd = os.readlink(f"/proc/{entry}/cwd")
        except OSError:
            continue
        if argv and argv[0].lower() in (b"explorer", b"explorer.exe") and b"/desktop" not in argv:
            found.append((int(entry), b" ".join(argv).decode("latin-1"), cwd))
    return found


def group_windows(box):
    return [caption for _, caption in box.windows() if caption == GROUP]


def wait_for(condition, timeout=15.0, step=0.1):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def close_explorers(box, timeout=30):
    """Closes every Explorer window on the group as a user would (Alt+F4) and waits for the
    processes to end. Under Wine they live on with the installed directory as their current
    directory, which keeps that directory from being removed, as on Windows. Wine's Explorer
    takes a few seconds to end after its window closed; ending it by force instead leaves the
    next Explorer on the folder without a window."""
    deadline = time.monotonic() + timeout
    while True:
        running = explorers(box)
        if not running:
            return
        if time.monotonic() >= deadline:
            raise winebox.HarnessError(f"Explorer did not end: {running}")
        if group_windows(box):
            try:
                box.key(GROUP, "alt+F4")
            except winebox.HarnessError:
                pass  # the window went between the look and the key press
        time.sleep(0.3)


def forget_installation(box, machine):
    """Back to a machine without the demo: no Explorer on the group, no group, no company or
    uninstall key, no installed uninstaller and no wininit.ini."""
    close_explorers(box)
    shutil.rmtree(unix_path(box, machine.group), ignore_errors=True)
    reg_delete(box, COMPANY_KEY, UNINSTALL_KEY)
    for path in (machine.installed_uninstaller, machine.wininit):
        unix_path(box, path).unlink(missing_ok=True)


def tree(root):
    """Every file and folder below root with its size and modification time, for before/after checks."""
    root = pathlib.Path(root)
    if not root.exists():
        return None
    if root.is_file():
        stat = root.stat()
        return {".": ("file", stat.st_size, stat.st_mtime_ns)}
    listing = {}
    for directory, dirs, files in os.walk(root):
        for name in dirs + files:
            path = pathlib.Path(directory) / name
            stat = path.lstat()
            kind = "dir" if path.is_dir() else "file"
            listing[str(path.relative_to(root))] = (kind, 0 if kind == "dir" else stat.st_size,
                                                    0 if kind == "dir" else stat.st_mtime_ns)
    return listing


def changed_names(before, after):
    """The names whose entry differs between two tree() listings."""
    return sorted(name for name in set(before) | set(after) if before.get(name) != after.get(name))


def read_rename_section(box, machine):
    """The lines of wininit.ini's [rename] section as (key, value) pairs; None without the file."""
    path = unix_path(box, machine.wininit)
    if not path.exists():
        return None
    return profile_section(path.read_bytes(), "rename")


def profile_section(data, section):
    lines, inside = [], False
    for line in data.decode("latin-1").split("\r\n"):
        if line.startswith("["):
            inside = line.strip().lower() == f"[{section}]"
        elif inside and "=" in line:
            key, _, value = line.partition("=")
            lines.append((key, value))
    return lines
