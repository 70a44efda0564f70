#!/usr/bin/env python3
"""Checks Dovrand's Windows Installer package without installing it: its tables, read with
`msiinfo export`, against the rows that say what Windows Installer will do (the service entry and
its controls, the event-log source, the start keys, the upgrade, what an uninstall removes), its
name, version and publisher against Dovrand.exe's version resource, and its files, extracted with
`msiextract`, against the programs and the guide it was built from. Needs no Wine.

msi_tables.py PACKAGE.msi DOVRAND.EXE QDLLOAD.EXE README.TXT
(with PACKAGE.msi.sha256 beside the package, when there is one, checked too)
msi_tables.py --version-of DOVRAND.EXE   prints the version the package of it gets
"""
import hashlib
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "control"))
from pe_resources import Image, version_info  # noqa: E402

UPGRADE_CODE = "{8E2F5C1A-4B7D-4C36-9A0E-5D3B71F6C284}"
EVENTLOG = "SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\Dovrand"

# What Windows Installer makes of these rows: the service "Dovrand" ("Dovrand Service"), own
# process (16), automatic start (2), normal error control (1) with the vital flag (0x8000, the
# install rolls back when it cannot be created, never stored with the service), LocalSystem (no
# account), no dependencies, no description; its command line the quoted path of the component's
# key file, Dovrand.exe, then these arguments.
SERVICE_INSTALL = [["Dovrand", "Dovrand", "Dovrand Service", "16", "2", "32769", "", "", "", "",
                    "-service[LOGARG][NOPREFARG]", "DovrandExe", ""]]
# Stopped (waiting) at install and uninstall (2 | 0x20) and deleted at uninstall (0x80); started
# at install (1) without waiting for RUNNING.
SERVICE_CONTROL = [["DovrandStart", "Dovrand", "1", "", "0", "DovrandExe"],
                   ["DovrandStopRemove", "Dovrand", "162", "", "1", "DovrandExe"]]
# Root 2 is HKLM; "#%" a REG_EXPAND_SZ, "#" a REG_DWORD; [#DovrandExe] the installed program's
# full path.
REGISTRY = [
    ["2", EVENTLOG, "CategoryCount", "#3", "DovrandExe"],
    ["2", EVENTLOG, "CategoryMessageFile", "#%[#DovrandExe]", "DovrandExe"],
    ["2", EVENTLOG, "EventMessageFile", "#%[#DovrandExe]", "DovrandExe"],
    ["2", EVENTLOG, "TypesSupported", "#7", "DovrandExe"],
    ["2", "Software\\Dovrand", "LOG", "[LOG]", "StartKeys"],
    ["2", "Software\\Dovrand", "NOPREFERENCE", "[NOPREFERENCE]", "StartKeys"]]
# Property-setting custom actions (type 51): the start keys restored, checked and turned into
# the service's arguments.
CUSTOM_ACTIONS = {
    "RestoreLog": ("LOG", "[SAVEDLOG]"),
    "KeepLog": ("LOG", "[SAVEDLOG]"),
    "KeepNoPreference": ("NOPREFERENCE", "[SAVEDNOPREFERENCE]"),
    "RestoreNoPreference": ("NOPREFERENCE", "[SAVEDNOPREFERENCE]"),
    "LogOff": ("LOG", "0"),
    "NoPreferenceOff": ("NOPREFERENCE", "0"),
    "LogArgNextToProgram": ("LOGARG", " -log"),
    "LogArgFolder": ("LOGARG", " -log [LOG]"),
    "LogArgQuotedFolder": ("LOGARG", " -log \"[LOG]\""),
    "LogArgQuotedRoot": ("LOGARG", " -log \"[LOG]\\\""),
    "NoPreferenceArg": ("NOPREFARG", " -nopreference"),
    "SetLogFolder": ("DovrandLogFolder", "[LOG]"),
    "SetShareLogFolder": ("DovrandShareLogFolder", "[LOG]"),
    "SetProgramLog": ("DOVRANDPROGRAMLOG", "[DovrandFolder]"),
}
EXECUTE = [
    ["RestoreLog", "NOT LOG AND SAVEDLOG", "51"],
    ["RestoreNoPreference", "NOT NOPREFERENCE AND SAVEDNOPREFERENCE", "52"],
    # A maintenance run by a user who is not an administrator (AdminUser as the user really is,
    # MSIUSEREALADMINDETECTION) keeps the stored keys, whatever it was given.
    ["KeepLog", "Installed AND NOT AdminUser", "55"],
    ["KeepNoPreference", "Installed AND NOT AdminUser", "56"],
    ["LogOff", "NOT LOG", "57"],
    ["NoPreferenceOff", "NOT NOPREFERENCE", "58"],
    ["LogArgNextToProgram", "LOG=\"1\"", "101"],
    ["LogArgFolder", "LOG<>\"0\" AND LOG<>\"1\" AND NOT (LOG >< \" \")", "102"],
    ["LogArgQuotedFolder", "LOG >< \" \" AND NOT (LOG >> \"\\\")", "103"],
    ["LogArgQuotedRoot", "LOG >< \" \" AND LOG >> \"\\\"", "104"],
    ["NoPreferenceArg", "NOPREFERENCE=\"1\"", "105"],
    ["SetLogFolder", "LOG<>\"0\" AND LOG<>\"1\" AND NOT (LOG << \"\\\\\")", "106"],
    ["SetShareLogFolder", "LOG << \"\\\\\"", "107"],
    ["SetProgramLog", "REMOVE=\"ALL\" AND NOT UPGRADINGPRODUCTCODE", "1410"]]
# Standard actions in the order they must run: the searches before the keys are restored, the
# launch conditions after, the directories resolved after the log folder is set, the installed
# version removed before anything is installed, the program's log marked for removal after the
# directories are known and before the script is written, the service stopped and deleted
# before the files change and installed and started after.
ORDER = ["FindRelatedProducts", "AppSearch", "RestoreLog", "RestoreNoPreference", "KeepLog",
         "KeepNoPreference", "LogOff", "NoPreferenceOff", "LaunchConditions",
         "LogArgNextToProgram", "SetLogFolder", "SetShareLogFolder", "CostFinalize",
         "InstallValidate",
         "RemoveExistingProducts", "SetProgramLog", "InstallInitialize", "StopServices",
         "DeleteServices", "RemoveRegistryValues", "RemoveFiles", "RemoveFolders",
         "CreateFolders", "InstallFiles", "WriteRegistryValues", "InstallServices",
         "MsiConfigureServices", "FailureActionsBeforeMsi5", "StartServices", "InstallFinalize"]
# Standard actions that run on a condition: a standard user's maintenance run creates no folder;
# Windows Installer 5 configures the service from its tables, an older one has sc.exe do it.
CONDITIONED = {
    "CreateFolders": "AdminUser OR NOT Installed",
    "MsiConfigureServices": "VersionMsi >= \"5.00\" AND NOT REMOVE=\"ALL\"",
    "FailureActionsBeforeMsi5": "VersionMsi < \"5.00\" AND NOT REMOVE=\"ALL\"",
}
# The failure actions on Windows Installer before 5 (Windows XP's): the system's sc.exe as
# LocalSystem (34 run a program, 0x40 its exit code ignored, 0x400 deferred, 0x800 not
# impersonated), with the actions of MsiServiceConfigFailureActions.
SC_FAILURE = ["FailureActionsBeforeMsi5", "3170", "TARGETDIR",
              "\"[SystemFolder]sc.exe\" failure Dovrand reset= 86400 "
              "actions= restart/60000/restart/60000/\"\"/0", ""]
# Restarted after 60 s on the first and the second failure (1: SC_ACTION_RESTART), nothing after
# (0), reset after 86400 s; SeChangeNotifyPrivilege its only privilege (6:
# SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO); both at install and repair (1 | 4).
FAILURE_ACTIONS = [["DovrandRecovery", "Dovrand", "5", "86400", "", "", "1[~]1[~]0",
                    "60000[~]60000[~]0", "DovrandExe"]]
SERVICE_CONFIG = [["DovrandPrivileges", "Dovrand", "5", "6", "SeChangeNotifyPrivilege",
                   "DovrandExe"]]
# The LOG folder on a drive: SYSTEM and Administrators full control (0x1F01FF), Users read and
# execute (0x1200A9), nothing else.
LOCK_PERMISSIONS = [["DovrandLogFolder", "CreateFolder", "", "Administrators", "2032127"],
                    ["DovrandLogFolder", "CreateFolder", "", "SYSTEM", "2032127"],
                    ["DovrandLogFolder", "CreateFolder", "", "Users", "1179817"]]
# The folder components: one for a LOG folder on a drive (locked), one for a share's (not
# locked: names resolved here would be this computer's accounts there); none for LOG 0 or 1.
# The stored keys' component in the program's folder.
COMPONENTS = {"StartKeys": ("DovrandFolder", ""),
              "LogFolder": ("DovrandLogFolder",
                            "LOG<>\"0\" AND LOG<>\"1\" AND NOT (LOG << \"\\\\\")"),
              "ShareLogFolder": ("DovrandShareLogFolder", "LOG << \"\\\\\"")}
LAUNCH_CONDITIONS = [
    ["LOG=\"0\" OR LOG=\"1\" OR LOG >< \":\\\" OR LOG << \"\\\\\"",
     "LOG=[LOG]: LOG is 1 (the log next to Dovrand.exe), 0 (no log) or a full folder path such "
     "as C:\\Logs\\Dovrand."],
    ["NOPREFERENCE=\"0\" OR NOPREFERENCE=\"1\"",
     "NOPREFERENCE=[NOPREFERENCE]: NOPREFERENCE is 1 or 0."],
    # The lock would take every other account's access to a whole drive.
    ["NOT (LOG >> \":\\\")", "LOG=[LOG]: LOG names a folder of its own, not the root of a drive."],
    ["NOT WIX_DOWNGRADE_DETECTED", "A later version of Dovrand is already installed."]]
# What the installer does with the properties: AdminUser as the user really is.
PROPERTIES = {"MSIUSEREALADMINDETECTION": "1"}
SECURE = {"LOG", "NOPREFERENCE", "SAVEDLOG", "SAVEDNOPREFERENCE", "WIX_UPGRADE_DETECTED",
          "WIX_DOWNGRADE_DETECTED"}
DIRECTORY = [["DovrandFolder", "ProgramFilesFolder", "Dovrand"],
             ["DovrandLogFolder", "DovrandFolder", "."],
             ["DovrandShareLogFolder", "DovrandFolder", "."],
             ["ProgramFilesFolder", "TARGETDIR", "."],
             ["TARGETDIR", "", "SourceDir"]]
REMOVE_FILE = [["DovrandLog", "DovrandExe", "Dovrand.log", "DOVRANDPROGRAMLOG", "2"]]
CREATE_FOLDER = [["DovrandLogFolder", "LogFolder"], ["DovrandShareLogFolder", "ShareLogFolder"]]
SEARCHES = [["SavedLog", "2", "Software\\Dovrand", "LOG", "2"],
            ["SavedNoPreference", "2", "Software\\Dovrand", "NOPREFERENCE", "2"]]


def export(package, table):
    """The rows of a table, each a list of its columns as text (empty for a null)."""
    out = subprocess.run(["msiinfo", "export", package, table], check=True,
                         capture_output=True).stdout.decode("utf-8")
    return [line.split("\t") for line in out.split("\r\n")[3:] if line]


def resource_strings(program):
    """The version resource's strings of a Windows program."""
    resources = Image(program).resources()
    versions = [data for (kind, _, _), data in resources.items() if kind == 16]
    return version_info(versions[0])[1] if versions else {}


def check(package, dovrand, qdlload, readme, show=print):
    """The problems found, as a list of texts; the rows that say what Windows will do are shown."""
    problems = []

    def expect(what, got, want):
        if got != want:
            problems.append("%s:\n    got  %r\n    want %r" % (what, got, want))

    if os.path.exists(package + ".sha256"):
        with open(package, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        with open(package + ".sha256") as f:
            expect("checksum file", f.read().split(), [digest, os.path.basename(package)])
    summary = subprocess.run(["msiinfo", "suminfo", package], check=True,
                             capture_output=True).stdout.decode("utf-8")
    if "Template: Intel;1033" not in summary:
        problems.append("not a 32-bit (Intel;1033) package:\n" + summary)

    strings = resource_strings(dovrand)
    properties = {row[0]: row[1] for row in export(package, "Property")}
    for name, resource in (("ProductName", "ProductName"), ("ProductVersion", "ProductVersion"),
                           ("Manufacturer", "CompanyName")):
        expect("%s (Dovrand.exe's %s)" % (name, resource), properties.get(name),
               strings.get(resource))
    version = properties.get("ProductVersion")
    expect("ALLUSERS (per machine)", properties.get("ALLUSERS"), "1")
    expect("UpgradeCode", properties.get("UpgradeCode"), UPGRADE_CODE)
    expect("SecureCustomProperties",
           set(properties.get("SecureCustomProperties", "").split(";")), SECURE)

    service = export(package, "ServiceInstall")
    control = sorted(export(package, "ServiceControl"))
    show("ServiceInstall:\n    " + "\n    ".join("|".join(row) for row in service))
    show("ServiceControl:\n    " + "\n    ".join("|".join(row) for row in control))
    expect("ServiceInstall", service, SERVICE_INSTALL)
    expect("ServiceControl", control, SERVICE_CONTROL)
    expect("Registry", sorted(row[1:] for row in export(package, "Registry")), REGISTRY)
    actions = {row[0]: row for row in export(package, "CustomAction")}
    expect("CustomAction, the program run", actions.pop(SC_FAILURE[0], None), SC_FAILURE)
    expect("CustomAction", {name: (row[2], row[3]) for name, row in actions.items()},
           CUSTOM_ACTIONS)
    expect("CustomAction types (51: set a property)",
           {name: int(row[1]) & 0x3F for name, row in actions.items()},
           {name: 51 for name in CUSTOM_ACTIONS})
    execute = export(package, "InstallExecuteSequence")
    expect("InstallExecuteSequence, the package's actions",
           sorted(row for row in execute if row[0] in CUSTOM_ACTIONS), sorted(EXECUTE))
    expect("InstallExecuteSequence, conditions of",
           {row[0]: row[1] for row in execute if row[0] in CONDITIONED}, CONDITIONED)
    sequence = {row[0]: int(row[2]) for row in execute}
    expect("InstallExecuteSequence, the order of", sorted(ORDER, key=lambda a: sequence.get(a, -1)),
           ORDER)
    expect("Upgrade", sorted(export(package, "Upgrade")), sorted([
        [UPGRADE_CODE, "", version, "", "513", "", "WIX_UPGRADE_DETECTED"],
        [UPGRADE_CODE, version, "", "", "2", "", "WIX_DOWNGRADE_DETECTED"]]))
    expect("LaunchCondition", sorted(export(package, "LaunchCondition")), LAUNCH_CONDITIONS)
    expect("Directory", sorted(export(package, "Directory")), DIRECTORY)
    expect("RemoveFile", export(package, "RemoveFile"), REMOVE_FILE)
    expect("CreateFolder", sorted(export(package, "CreateFolder")), CREATE_FOLDER)
    expect("LockPermissions", sorted(export(package, "LockPermissions")), LOCK_PERMISSIONS)
    expect("MsiServiceConfigFailureActions", export(package, "MsiServiceConfigFailureActions"),
           FAILURE_ACTIONS)
    expect("MsiServiceConfig", export(package, "MsiServiceConfig"), SERVICE_CONFIG)
    expect("Component, the keys' and the folders'",
           {row[0]: (row[2], row[4]) for row in export(package, "Component")
            if row[0] in COMPONENTS}, COMPONENTS)
    expect("Properties", {name: properties.get(name) for name in PROPERTIES}, PROPERTIES)
    expect("RegLocator", sorted(export(package, "RegLocator")), SEARCHES)

    with tempfile.TemporaryDirectory(prefix="dovrand-msi-files-") as folder:
        subprocess.run(["msiextract", "-C", folder, package], check=True, capture_output=True)
        for name, source in (("Dovrand.exe", dovrand), ("qdlload.exe", qdlload),
                             ("README.txt", readme)):
            path = os.path.join(folder, "Program Files", "Dovrand", name)
            with open(source, "rb") as f:
                want = f.read()
            got = open(path, "rb").read() if os.path.exists(path) else None
            if got != want:
                problems.append("%s in the package differs from %s" % (name, source))
    return problems


def windows_image_path(program, arguments):
    """The service's command line that Windows Installer writes: the key file's path in quotes,
    a space, the formatted Arguments of the ServiceInstall row."""
    return '"%s" %s' % (program, arguments)


def main():
    if sys.argv[1:2] == ["--version-of"]:  # the ProductVersion of a program, for scripts/demo
        print(resource_strings(sys.argv[2])["ProductVersion"])
        return 0
    package, dovrand, qdlload, readme = sys.argv[1:5]
    problems = check(package, dovrand, qdlload, readme)
    for problem in problems:
        print("FAIL  " + problem)
    print("package tables checked" if not problems else "%d failed" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
