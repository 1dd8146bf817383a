// The names the three programs share: files, Start-menu entries, registry keys, command lines, titles.
#pragma once

// Product names.
#define PRODUCT_NAME "Zarn-Hold"
#define DEMO_TITLE "Zarn-Hold Demo"

// On the disc, relative to the disc's root (the front window's current directory).
#define INSTALLER_COMMAND "install.exe"
#define INSTALLER_WINDOW_TITLE "install"
#define BACKDROP_FILE "install\\pic640.bmp"

// In the installed directory.
#define GAME_FILE "\\zarnhold.exe"
#define SETUP_FILE "\\setup.exe"
#define README_FILE "\\readme.txt"
#define GAME_ICON "\\icons\\zh5.ico"
#define SETUP_ICON "\\icons\\zh5setup.ico"
#define UNINSTALLER_ICON "\\icons\\zh5unins.ico"
#define UNINSTALLER_SHIPPED_NAME "\\sweeper.exe"

// In the system directory, and the parked name in the temporary directory.
#define UNINSTALLER_INSTALLED_NAME "\\zh5ddins.exe"
#define UNINSTALLER_SELF_NAME "\\zh5deins.exe"
#define UNINSTALLER_PARKED_NAME "\\zh5deins.$$$"

// Below the Start menu's Programs folder.
#define COMPANY_FOLDER "\\Halvane"
#define GAME_ENTRY "\\Halvane\\Zarn-Hold Demo.pif"
#define SETUP_ENTRY "\\Halvane\\Setup utility for Zarn-Hold Demo.pif"
#define README_ENTRY "\\Halvane\\Readme for Zarn-Hold Demo.lnk"
#define UNINSTALLER_ENTRY "\\Halvane\\Uninstaller for Zarn-Hold Demo.lnk"
#define PLAY_ENTRY "\\Halvane\\Zarn-Hold Demo.lnk"

// Registry, below HKEY_LOCAL_MACHINE.
#define COMPANY_KEY "Software\\Halvane"
#define DEMO_KEY_NAME "ZARN5DEMO"
#define DEMO_KEY COMPANY_KEY "\\" DEMO_KEY_NAME
#define INSTALLED_VERSION_VALUE "Installed Version"
#define UNINSTALL_ROOT "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
#define UNINSTALL_KEY UNINSTALL_ROOT "\\" DEMO_TITLE
#define DISPLAY_NAME_VALUE "DisplayName"
#define UNINSTALL_STRING_VALUE "UninstallString"

// Command lines.
#define REGISTER_TOKEN "zarn5"
