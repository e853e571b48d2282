#!/usr/bin/env python3
"""Checks that the DIAGNOSTICS section of tvrbios(8) explains every message of the utility.

The rule, kept simple so that a message added later only needs its entry in the page:
  a message is a string literal in the utility's sources (console/, UxLib/, GBLib/, SELib/,
  TvrLib/) that is the value of a constant named kMsg..., or that begins with "ERROR! ",
  "Error! ", "WARNING! " or "SUCCESS! " (adjacent literals count as one). Its first line
  (leading line breaks and blanks dropped, cut at the first line break or "%") must appear
  in the DIAGNOSTICS section of the page as man renders it, blanks taken as one.

Usage: tools/diagnostics-check.py SOURCE_DIR PAGE   (PAGE may be compressed)
Exit status 0 when every message has its entry, 1 when one lacks it (each is named).
"""
import os
import re
import subprocess
import sys

SOURCE_FOLDERS = ("console", "UxLib", "GBLib", "SELib", "TvrLib")
SOURCE_SUFFIXES = (".cpp", ".h")
PREFIXES = ("ERROR! ", "Error! ", "WARNING! ", "SUCCESS! ")

LITERAL = r'"(?:[^"\\\n]|\\.)*"'
LITERALS = re.compile(r"(?:%s\s*)+" % LITERAL)
CONSTANT = re.compile(r"\bkMsg\w*\s*=\s*(" + r"(?:%s\s*)+" % LITERAL + ")")
ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\", "'": "'"}


def joined(literals):
    """The text of adjacent string literals, with the common escapes undone."""
    text = "".join(part[1:-1] for part in re.findall(LITERAL, literals))
    return re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(0)), text)


def first_line(text):
    line = text.lstrip("\n ").split("\n", 1)[0].split("%", 1)[0]
    return " ".join(line.split())


def messages(source_dir):
    found = {}
    for folder in SOURCE_FOLDERS:
        for root, _, files in os.walk(os.path.join(source_dir, folder)):
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(root, name)
                with open(path, encoding="utf-8") as source:
                    code = source.read()
                texts = [joined(m.group(1)) for m in CONSTANT.finditer(code)]
                texts += [t for t in map(joined, LITERALS.findall(code)) if t.startswith(PREFIXES)]
                for text in texts:
                    if first_line(text):
                        found.setdefault(first_line(text), os.path.relpath(path, source_dir))
    return found


def diagnostics_section(page):
    """The DIAGNOSTICS section as plain text, one paragraph per line, blanks taken as one."""
    environment = dict(os.environ, LC_ALL="C", MANWIDTH="1000")
    rendered = subprocess.run(["man", "-l", page], env=environment, check=True,
                              capture_output=True, text=True).stdout
    section = re.search(r"^DIAGNOSTICS\n(.*?)(?=^\S)", rendered, re.M | re.S)
    if section is None:
        return ""
    return "\n".join(" ".join(line.split()) for line in section.group(1).splitlines())


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: diagnostics-check.py SOURCE_DIR PAGE")
    source_dir, page = sys.argv[1:]
    section = diagnostics_section(page)
    missing = {line: path for line, path in messages(source_dir).items() if line not in section}
    for line, path in sorted(missing.items(), key=lambda item: (item[1], item[0])):
        print(f"diagnostics check: {path}: \"{line}\" has no entry in DIAGNOSTICS of {page}",
              file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
