"""Fails when a program file holds any of the given texts, as 8-bit or as UTF-16 text.

    check_no_plain_text.py PROGRAM TEXT... [-- PROGRAM TEXT...]...
"""
import sys


def groups(arguments):
    group = []
    for argument in arguments + ["--"]:
        if argument == "--":
            if group:
                yield group[0], group[1:]
            group = []
        else:
            group.append(argument)


def main():
    failures = []
    checked = 0
    for program, texts in groups(sys.argv[1:]):
        with open(program, "rb") as file:
            content = file.read()
        for text in texts:
            for encoding in ("utf-8", "utf-16-le"):
                checked += 1
                if text.encode(encoding) in content:
                    failures.append(f"{program}: holds {text!r} as {encoding} text")
    for failure in failures:
        print(failure)
    if checked == 0:
        print("nothing was checked")
        return 1
    print(f"{checked} checks, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
