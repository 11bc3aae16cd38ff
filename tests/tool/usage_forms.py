"""Every usage form that --help, the README's Usage block and the manual
page's SYNOPSIS show runs as written: the three list the same forms, and
each form, with every option it shows and each of its alternatives, is at
most four arguments and runs as batch mode (or the help, the version, the
single run), never as a table of five arguments.

    usage_forms.py TOOL README MAN_PAGE
"""
import itertools
import os
import re
import shutil
import subprocess
import sys
import tempfile


def help_forms(tool):
    text = subprocess.run([tool, "--help"], capture_output=True, text=True, check=True).stdout
    forms = []
    for line in text.splitlines():
        m = re.match(r"^(?:usage:)?\s+(fisher2x2 .*)$", line) or re.match(r"^usage: (fisher2x2 .*)$", line)
        if m:
            forms.append(m.group(1).strip())
    return forms


def readme_forms(readme):
    text = open(readme, encoding="utf-8").read()
    block = re.search(r"^## Usage\n\n```\n(.*?)```", text, re.S | re.M).group(1)
    return [line.strip() for line in block.splitlines() if line.startswith("fisher2x2")]


def man_forms(page):
    if shutil.which("groff") is None:
        return None
    text = subprocess.run(["groff", "-man", "-Tutf8", "-P-bcu", page], capture_output=True, text=True,
                          check=True).stdout
    synopsis = text.split("\nSYNOPSIS\n", 1)[1].split("\n\n", 1)[0]
    return [line.strip() for line in synopsis.splitlines() if line.strip()]


def expansions(form):
    """The concrete command lines of a form: every optional part present,
    each choice of a|b taken in turn."""
    words = form.split()[1:]
    if "|" in words:  # -h | -V
        return [[w] for w in words if w != "|"]
    choices = []
    for word in words:
        word = word.strip("[]") if word.startswith("[") and word.endswith("]") and "|" not in word else word
        parts = re.split(r"(\[[^]]*\])", word)
        options = []
        for part in parts:
            if part.startswith("["):
                options.append(part[1:-1].split("|"))
            else:
                options.append([part])
        choices.append(["".join(c) for c in itertools.product(*options)])
    return [list(c) for c in itertools.product(*choices)]


def run(tool, words, scratch):
    """Fills in the placeholders, runs the command, checks what it wrote."""
    if words == ["a", "b", "c", "d", "test"]:
        r = subprocess.run([tool, "3", "1", "1", "3", "2"], capture_output=True, text=True)
        return r.returncode == 0 and r.stdout == "  0.257143", r
    if words[0] in ("-h", "-V"):
        r = subprocess.run([tool] + words, capture_output=True, text=True)
        return r.returncode == 0 and r.stdout.endswith("\n"), r
    flags = words[0]
    alternative = "a" in flags or any(w.startswith("-a") for w in words[1:])
    columns = any(w.startswith("-c") for w in words)
    group = "COLUMN" in flags
    delimiter = "," if "-dC" in words else "\t"
    counts = ["3", "1", "1", "3"] + ([] if alternative else ["2"])
    if "s" in flags:
        counts = counts * 2  # two strata
    names = "wxyzt"[: len(counts) + group] if len(counts) < 5 or group else "wxyzt"
    lines = [("x y z w t" if not columns else delimiter.join(names))] if "H" in flags else []
    lines += [(delimiter if columns else " ").join(counts + (["k"] if group else []))] * 3
    path = os.path.join(scratch, "tables")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    args = []
    for w in words:
        w = w.replace("--fields=LIST", "--fields=p,or").replace("-dC", "-d,").replace("COLUMN", "5")
        w = w.replace("-aNAME", "-aless")
        if w.startswith("-cLIST"):
            w = "-c" + ",".join(str(i + 1) for i in range(len(counts)))
        args.append({"NAME": "less", "file": path}.get(w, w))
    r = subprocess.run([tool] + args, capture_output=True, text=True)
    out = r.stdout.splitlines()
    expected = len(lines) if not group else len(lines) - 2  # the three lines are one group
    ok = r.returncode == 0 and len(args) <= 4 and len(out) == expected and all(out) and r.stderr == ""
    return ok, r


def main():
    tool, readme, page = sys.argv[1:4]
    sources = {"--help": help_forms(tool), "README": readme_forms(readme)}
    man = man_forms(page)
    if man is not None:
        sources["the manual page"] = man
    failures = 0
    forms = sources["--help"]
    for name, listed in sources.items():
        if listed != forms:
            print(f"FAIL: {name} lists {listed}, --help {forms}")
            failures += 1
    runs = 0
    with tempfile.TemporaryDirectory() as scratch:
        for form in forms:
            for words in expansions(form):
                ok, r = run(tool, words, scratch)
                runs += 1
                if not ok:
                    failures += 1
                    print(f"FAIL: {form}: {' '.join(words)}: status {r.returncode}, "
                          f"out {r.stdout[:80]!r}, err {r.stderr[:200]!r}")
    print(f"{len(forms)} forms in {len(sources)} places, {runs} command lines: "
          f"{'all run as written' if failures == 0 else f'{failures} failures'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
