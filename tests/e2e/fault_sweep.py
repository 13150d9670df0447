#!/usr/bin/env python3
# Fails each open, write, close and rename of a run in turn (fault_preload.c) and checks that
# the tool keeps what it promises for that call: a list it can't read stops the run with exit 2;
# a species whose input or output fails is reported and counted, its earlier files untouched,
# every other species written; a console that can't be written gives exit 7 with every file
# written; an interrupt leaves no temporary; a kill leaves every file old or new. EINTR and
# short writes change nothing.
# Usage: fault_sweep.py TARNEL PRELOAD_LIBRARY EXAMPLES_DIR
import errno, glob, os, random, re, shutil, signal, subprocess, sys, tempfile

tool, preload, examples = (os.path.abspath(a) for a in sys.argv[1:4])
# Memory, where there is some: on a disk, each run would wait for its replaced files' writeout.
work = tempfile.TemporaryDirectory(dir="/dev/shm" if os.access("/dev/shm", os.W_OK) else None)
os.chdir(work.name)
FILES = {"Escherichia_coli": "ecoli.fa", "Big": "big.fa",
         "Arabidopsis_thaliana": "arabidopsis.fa.gz"}
OUTPUTS = {s: [f"dup/{s}.tsv", f"status/{s}", f"fasta/{s}.fas"] for s in FILES}
# Arabidopsis has no earlier files (False, as a missing file): failing, it must leave none.
OLD = {p: s != "Arabidopsis_thaliana" and f"old {p}\n".encode() for s in FILES for p in OUTPUTS[s]}
# Per file system lacking a way to swap two names, or hard links too, "call actions" rows:
# the Nth such call of a run gets the (N modulo their number)th action. Without those, the tool
# publishes by other steps, which must keep the same promises (but for a kill without links).
SWEEPS = {"": ["open EACCES EMFILE ENOSPC", "open EINTR", "write ENOSPC EIO EDQUOT", "write EINTR",
               "write short", "close EIO EDQUOT", "close EINTR", "rename EIO EDQUOT EPERM",
               "rename EINTR", "any SIGINT", "any SIGKILL"],
          "exchange": ["rename EIO EDQUOT EPERM EINTR", "any SIGINT SIGKILL"],
          "exchange link": ["rename EIO EDQUOT EPERM EINTR", "any SIGINT"]}

shutil.copytree(f"{examples}/protein", "protein")
rng = random.Random(1)  # some 3 MB: its FASTA output takes the helper thread
big = ["".join(rng.choices("ACDEFGHIKLMNPQRSTVWY", k=rng.randint(50, 600))) for _ in range(10000)]
open("protein/big.fa", "w").writelines(f">B{i}\n" + re.sub("(.{60})(?=.)", "\\1\n", s) + "\n"
                                       for i, s in enumerate(big + big[:300]))
header = "species_name\tFASTA_file_name\n"
open("all.txt", "w").write(header + "".join(f"{s}\t{f}\n" for s, f in FILES.items()))
open("active.txt", "w").write(header + "Big\tbig.fa\n")


def run(fault, without):  # exit, console, error, log, the files of OLD, temporaries
    for d in ("dup", "status", "fasta"):
        shutil.rmtree(d, ignore_errors=True)
        os.mkdir(d)
    for path, content in OLD.items():
        content and open(path, "wb").write(content)
    open("log", "w").close()
    env = dict(os.environ, LD_PRELOAD=preload, TARNEL_FAULT=fault, TARNEL_FAULT_LOG="log",
               TARNEL_FAULT_WITHOUT=without)
    p = subprocess.run([tool, "--jobs", "1", "-w", "1", "active.txt", "all.txt"], env=env,
                       capture_output=True, text=True, timeout=60)  # a hang stops the sweep
    # The times vary from run to run.
    return (p.returncode, re.sub(r" *\d+s$|Time:\d+m", "", p.stdout, flags=re.M), p.stderr,
            open("log").read(), {f: os.path.exists(f) and open(f, "rb").read() for f in OLD},
            glob.glob("*/.tn*"))


def expected(action, kind, flags, target):
    name = os.path.basename(target)
    # A temporary being made, written, closed or published; not one that an exchange left
    # holding the replaced file, which is only let go. A list or an input the tool could still
    # open again: it may, if all comes out right.
    replaced = target.endswith(" (deleted)") or kind == "open" and not flags & os.O_CREAT
    return (action if action[:3] == "SIG" else
            "reference" if action in ("EINTR", "short") or not target else
            "console" if target == "stdout" else
            "species" if kind == "rename" or name[:3] == ".tn" and not replaced else
            "list or reference" if kind == "open" and name in ("active.txt", "all.txt") else
            "species or reference" if kind == "open" and "protein/" in target else "reference")


def problem(outcome, result, reference):  # what is wrong with the run, if anything
    code, out, err, log, files, temporaries = result
    signalled, species, console = outcome[:3] == "SIG", outcome == "species", outcome == "console"
    failed = [s for s in FILES if not re.search(rf"^{s}\.\.\. .*written in$", out, re.M)]
    want = {p: OLD[p] if outcome == "list" or species and s in failed else reference[4][p]
            for s in FILES for p in OUTPUTS[s]}
    mixed = [p for p in OLD if files[p] not in (OLD[p], reference[4][p])]
    return next((text for wrong, text in [
        (code != (-getattr(signal, outcome) if signalled else
                  {"list": 2, "console": 7}.get(outcome, 0)), f"exit {code}"),
        (outcome != "SIGKILL" and temporaries, f"left {temporaries}"),  # a kill may leave them
        (signalled and mixed, f"mixed {mixed}"),
        (not signalled and not re.fullmatch(
            console * r"tarnel: can't write standard output: .+\n", err), f"stderr {err!r}"),
        (outcome == "list" and "Bad or missing list" not in out, "no message"),
        (species and (len(failed) != 1 or "Errors:1" not in out or not re.search(
            rf"^{failed[0]}\.\.\. .*(can't |failed at line)", out, re.M)), f"failed {failed}"),
        (outcome == "reference" and out != reference[1], "console differs"),
        (not signalled and files != want, f"files {[p for p in OLD if files[p] != want[p]]}")]
                 if wrong), None)


first, failures, runs = None, 0, 0
for without, rows in SWEEPS.items():
    reference = run("any 0 c0", without)  # without faults: its outputs, and the calls made
    first = first or reference
    if wrong := problem("reference", reference, first):
        sys.exit(f"reference run without {without}: {wrong}")
    calls = [line[0] for line in reference[3].splitlines()]
    for row in rows:
        kind, *actions = row.split()
        for n in range(1, len(calls) + 1 if kind == "any" else calls.count(kind[0]) + 1):
            action = actions[n % len(actions)]
            code = ("h0" if action == "short" else f"e{getattr(errno, action)}"
                    if action[0] == "E" else f"s{getattr(signal, action).value}")
            result, runs = run(f"{kind} {n} {code}", without), runs + 1
            _, flags, target = (result[3] or "- 0 \n")[:-1].split(" ", 2)
            outcome = expected(action, kind, int(flags, 16), target)
            problems = [problem(o, result, reference) for o in outcome.split(" or ")]
            failures += all(problems)
            if all(problems) and failures <= 20:
                print(f"FAIL without '{without}', {row}: #{n} {action} {target}: expected "
                      f"{outcome}, but {problems[0]}")
print(f"{runs} runs, {failures} failed")
sys.exit(1 if failures else 0)
