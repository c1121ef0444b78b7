#!/usr/bin/env python3
"""The manual page of one of the stack's programs, made from the program itself.

help2man turns the program's --help and --version into the page. A program
with commands (it answers --list-commands with their names, one a line) gets
a COMMANDS section with a subsection per command, made from
"PROGRAM COMMAND --help"; the list of commands that --help prints for the
terminal is left out of the page, where it would be run together into one
paragraph. Every page ends with the same SEE ALSO.

usage: program_page.py --help2man PATH --name TEXT --section N --output FILE PROGRAM
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

SEE_ALSO = [
    ("kalvo", 1), ("kalvo-config", 1), ("kalvo-devctl", 1), ("kalvo-devprobe", 1),
    ("kalvo-sample", 1), ("KalvoConfig", 1), ("kalvo-devhost", 8),
    ("Kalvo.ini", 5), ("KalvoLog.ini", 5), ("kalvo-network", 5), ("kalvo.h", 3),
]


def roff_text(line):
    """One line of program output as a line of roff text."""
    line = line.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + line if line.startswith((".", "'")) else line


def run(args):
    done = subprocess.run(args, capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout


def without_program_footer(text, program_help):
    """A command's help without the paragraphs at its end that the program's
    own help ends with too (a footer the command's help repeats)."""
    mine = text.rstrip("\n").split("\n\n")
    theirs = program_help.rstrip("\n").split("\n\n")
    while len(mine) > 1 and theirs and mine[-1] == theirs[-1]:
        mine.pop()
        theirs.pop()
    return "\n\n".join(mine) + "\n"


def commands_section(program):
    code, names = run([program, "--list-commands"])
    names = [n for n in names.split("\n") if n.strip()] if code == 0 else []
    if not names:
        return ""
    _, program_help = run([program, "--help"])
    out = ["[COMMANDS]"]
    for name in names:
        code, text = run([program, name, "--help"])
        if code != 0:
            sys.exit(f"{program} {name} --help ended with {code}: every command must answer "
                     "--help")
        text = without_program_footer(text, program_help)
        out.append(f'.SS "{name}"')
        out.append(".nf")
        out.extend(roff_text(line) for line in text.rstrip("\n").split("\n"))
        out.append(".fi")
    return "\n".join(out) + "\n"


def see_also(own):
    pages = [f"\\fB{n}\\fR({s})" for n, s in SEE_ALSO if n != own]
    return "[SEE ALSO]\n" + ",\n".join(pages) + "\n"


def drop_command_list(page):
    """The command list of --help (a subsection "Commands:" or "Subcommands:")."""
    return re.sub(r'\.SS "(Sub)?[Cc]ommands:"\n.*?(?=^\.S[HS] )', "", page, flags=re.S | re.M)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--help2man", required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--section", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("program")
    args = parser.parse_args()
    own = os.path.basename(args.program)
    include = commands_section(args.program) + see_also(own)
    with tempfile.NamedTemporaryFile("w", suffix=".h2m") as inc:
        inc.write(include)
        inc.flush()
        subprocess.run([args.help2man, "--no-info", "--no-discard-stderr", f"--name={args.name}",
                        f"--section={args.section}", f"--include={inc.name}",
                        f"--output={args.output}.tmp", args.program], check=True, timeout=120)
    with open(args.output + ".tmp", encoding="utf-8") as f:
        page = f.read()
    if include.startswith("[COMMANDS]"):
        page = drop_command_list(page)
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(page)
    os.remove(args.output + ".tmp")


if __name__ == "__main__":
    main()
