#!/usr/bin/env python3
"""Checks a manual page against the options a built program prints with --help.

    check_man_pages.py PROGRAM MANPAGE

The options of `PROGRAM --help` (lines that start with two spaces and a dash, the CLI11 layout
every program here prints) must be the option tags (.TP) of the page's OPTIONS section, and no
tag may name an option the program lacks. A program with subcommands ("Subcommands:" in its
help) has one subsection (.SS NAME) under COMMANDS per subcommand, whose tags must be the options
of `PROGRAM NAME --help`; -h/--help is documented once, under OPTIONS.
"""
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z0-9][A-Za-z0-9-]*)")


def help_text(program, *args):
    run = subprocess.run([program, *args, "--help"], capture_output=True, text=True, timeout=30)
    if run.returncode != 0:
        sys.exit(f"{program} {' '.join(args)} --help exited with {run.returncode}: {run.stderr}")
    return run.stdout


def help_sections(text):
    """{section name: [lines]} of a CLI11 help text."""
    sections, current = {}, None
    for line in text.splitlines():
        header = re.fullmatch(r"([A-Z][A-Za-z ]*):", line)
        if header:
            current = sections.setdefault(header.group(1), [])
        elif current is not None:
            current.append(line)
    return sections


def help_options(text):
    options = set()
    for line in help_sections(text).get("Options", []):
        if re.match(r"  -", line):
            options.update(name for name in line.split()[0].split(",") if name.startswith("-"))
    return options


def help_subcommands(text):
    return {line.split()[0] for line in help_sections(text).get("Subcommands", []) if re.match(r"  \S", line)}


def plain(roff):
    """A roff line without font changes and with its escaped minus signs as dashes."""
    text = re.sub(r"\\f[BIRP]|\\f\(..", "", roff)
    text = text.replace("\\-", "-").replace("\\(en", "-").replace("\\(mu", "x")
    if text.startswith("."):
        # A macro line such as .BR -h ", " --help: drop the macro name and the quotes.
        text = text.split(None, 1)[1] if " " in text else ""
        text = text.replace('"', " ")
    return text


def page_tags(page):
    """{(section, subsection): set of options named in .TP tags} of a manual page source."""
    tags, section, subsection, tag_next = {}, None, None, False
    for line in page.splitlines():
        if line.startswith(".SH"):
            section, subsection = plain(line).strip().strip('"'), None
            continue
        if line.startswith(".SS"):
            subsection = plain(line).strip().strip('"').split()[-1]
            continue
        if line.startswith(".TP"):
            tag_next = True
            continue
        if tag_next:
            tag_next = False
            tags.setdefault((section, subsection), set()).update(OPTION.findall(plain(line)))
    return tags


def compare(what, documented, actual, problems):
    for name in sorted(actual - documented):
        problems.append(f"{what}: {name} is an option of the program but not on the page")
    for name in sorted(documented - actual):
        problems.append(f"{what}: {name} is on the page but not an option of the program")


def main():
    program, page_path = sys.argv[1], sys.argv[2]
    with open(page_path, encoding="utf-8") as f:
        tags = page_tags(f.read())
    top = help_text(program)
    problems = []
    actual = help_options(top)
    if not actual:
        problems.append("the program's --help lists no options; is it still in the CLI11 layout?")
    compare("OPTIONS", tags.get(("OPTIONS", None), set()), actual, problems)

    subcommands = help_subcommands(top)
    page_commands = set()
    with open(page_path, encoding="utf-8") as f:
        section = None
        for line in f:
            if line.startswith(".SH"):
                section = plain(line).strip()
            elif line.startswith(".SS") and section == "COMMANDS":
                page_commands.add(plain(line).strip().strip('"').split()[-1])
    for sub in sorted(subcommands - page_commands):
        problems.append(f"COMMANDS: the command {sub} has no subsection")
    for sub in sorted(page_commands - subcommands):
        problems.append(f"COMMANDS: the subsection {sub} names no command of the program")
    for sub in sorted(subcommands & page_commands):
        options = help_options(help_text(program, sub)) - {"-h", "--help"}
        compare(f"COMMANDS {sub}", tags.get(("COMMANDS", sub), set()), options, problems)

    for problem in problems:
        print(f"{page_path}: {problem}")
    if problems:
        return 1
    print(f"{page_path}: {len(actual)} options" + (f", {len(subcommands)} commands" if subcommands else "") + " agree with --help")
    return 0


if __name__ == "__main__":
    sys.exit(main())
