#!/usr/bin/env python3
"""The README's examples, run as written with the tool on the PATH.

    readme_examples.py TOOL README

Every ```sh block after the first two (the build and the PATH) that does
not build, install or cross-build: a block of "$ command" lines is a
transcript, each command's output compared with the lines that follow it;
any other block is run whole by bash -e. They run in a scratch directory
holding a copy of examples/, as from the repository's root.

Its ```python blocks of ">>>" examples run as doctests where the module
imports (PYTHONPATH from FISHER2X2_PYTHONPATH, the build's python/).

Then the ranking recipe (the README's line with "head -n 100") on tables whose
p-values reach far below 1e-4951: its order must be that of the exact
decimal p-values that --precise writes, compared as decimals.
"""
import decimal
import doctest
import os
import re
import random
import shutil
import subprocess
import sys
import tempfile

# Builds and installs, which CI runs in its own steps (the R package among them).
BUILDS = ("cmake", "cpack", "dpkg", "qemu", "cross_check", "build-fuzz", "man ", "pkg-config", "pip install",
          "r/build.sh")


def blocks(readme):
    out, block, inside = [], [], False
    for line in open(readme, encoding="utf-8"):
        line = line.rstrip("\n")
        if line == "```sh":
            inside, block = True, []
        elif line == "```" and inside:
            inside = False
            out.append(block)
        elif inside:
            block.append(line)
    return out


def run(command, cwd, env):
    return subprocess.run(["bash", "-e", "-o", "pipefail", "-c", command], cwd=cwd, env=env,
                          capture_output=True, text=True)


def python_examples(readme):
    path = os.environ.get("FISHER2X2_PYTHONPATH")
    if path:
        sys.path.insert(0, path)
    try:
        import fisher2x2  # noqa: F401
    except ImportError:
        print("skipped the Python examples: the module is not built")
        return 0
    text = open(readme, encoding="utf-8").read()
    failed = 0
    for i, block in enumerate(b for b in re.findall(r"```python\n(.*?)```", text, re.S) if ">>>" in b):
        test = doctest.DocTestParser().get_doctest(block, {}, f"README python block {i + 1}", readme, 0)
        runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
        runner.run(test)
        failed += runner.summarize(verbose=False).failed
    return failed


def main():
    tool, readme = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    env = dict(os.environ, PATH=os.path.dirname(tool) + os.pathsep + os.environ["PATH"])
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        shutil.copytree(os.path.join(os.path.dirname(readme), "examples"), os.path.join(scratch, "examples"))
        for block in blocks(readme)[2:]:
            text = "\n".join(block)
            if any(word in text for word in BUILDS):
                continue
            if not block[0].startswith("$ "):
                if "parallel " in text and shutil.which("parallel") is None:
                    print("skipped (no GNU parallel):", block[0])
                    continue
                r = run(text, scratch, env)
                if r.returncode != 0:
                    failures += 1
                    print(f"FAILED: {text}\n{r.stderr}")
                continue
            i = 0
            while i < len(block):
                command, want = block[i][2:], []
                i += 1
                while i < len(block) and not block[i].startswith("$ "):
                    want.append(block[i])
                    i += 1
                r = run(command, scratch, env)
                got = r.stdout.split("\n")
                if got and got[-1] == "":
                    got.pop()
                if r.returncode != 0 or got != want:
                    failures += 1
                    print(f"FAILED: $ {command}\nwanted {want}\n   got {got}\n{r.stderr}")

        # The ranking recipe on p-values down to 1e-30000 and ties.
        recipe = next(line for block in blocks(readme) for line in block
                      if "head -n 100" in line and not line.startswith("#"))
        rng = random.Random(7)
        lines = []
        for _ in range(300):
            n = rng.choice([40, 2000, 100000, 200000])
            a = rng.randint(0, n // 4)
            lines.append(f"{a} {n // 2 - a} {n // 2 - a} {a} 2")
        lines += ["0 30000 30000 0 2", "0 25000 25000 0 2", "0 25000 25000 0 2", "3 1 1 3 2"]
        path = os.path.join(scratch, "examples", "tables.txt")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        precise = subprocess.run([tool, "-bp", path], capture_output=True, text=True, check=True).stdout.split()
        exact = dict(zip(lines, (decimal.Decimal(p) for p in precise)))
        r = run(recipe, scratch, env)
        ranked = r.stdout.rstrip("\n").split("\n")
        if r.returncode != 0:
            print(r.stderr)
        values = [exact.get(line.split("\t", 1)[-1], decimal.Decimal(2)) for line in ranked]
        below = sum(v < decimal.Decimal("1e-4951") for v in exact.values())
        if len(ranked) != 100 or values != sorted(values) or values[-1] > sorted(exact.values())[99]:
            failures += 1
            print("FAILED: the ranking recipe does not give the hundred smallest p-values in order")
        print(f"ranking recipe: {len(ranked)} lines in order; {below} of {len(lines)} p-values below 1e-4951")
    failures += python_examples(readme)
    print("README examples:", "all ran as written" if failures == 0 else f"{failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
