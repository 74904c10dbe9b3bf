"""Fails when a program imports a DLL outside the allow-list: DLLs that every supported Windows
(7 SP1 and later) has in System32 and loads only from there (KnownDLLs). Any other DLL would be
looked for in the program's own folder first (Downloads, where anybody can put one), or be
missing on a clean Windows. Everything else the program needs it loads from System32 itself.

    check_imports.py OBJDUMP PROGRAM...
"""
import subprocess
import sys

ALLOWED = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "ole32.dll", "shell32.dll", "msvcrt.dll"}


def imports(objdump, program):
    out = subprocess.run([objdump, "-p", program], capture_output=True, text=True, check=True).stdout
    return [line.split(":", 1)[1].strip() for line in out.splitlines() if line.strip().startswith("DLL Name:")]


def main():
    objdump, programs = sys.argv[1], sys.argv[2:]
    failed = False
    for program in programs:
        names = imports(objdump, program)
        outside = sorted(name for name in names if name.lower() not in ALLOWED)
        print(f"{program}: imports {', '.join(names)}")
        if not names:
            print(f"  no imports read: is this a Windows program?")
            failed = True
        if outside:
            print(f"  outside the allow-list: {', '.join(outside)}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
