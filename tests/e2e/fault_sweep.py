#!/usr/bin/env python3
"""Fails each open, write, close and rename of a run in turn (fault_preload.c) and checks that
the tool keeps what it promises for that call: a list it can't read stops the run with exit 2;
a species whose input or output fails is reported and counted, its earlier files untouched,
every other species written; a console that can't be written gives exit 7 with every file
written; an interrupt leaves no temporary; a kill leaves every file old or new. EINTR and
short writes change nothing.
Usage: fault_sweep.py TARNEL PRELOAD_LIBRARY EXAMPLES_DIR"""
import atexit, errno, os, random, re, shutil, signal, subprocess, sys, tempfile

tool, preload, examples = (os.path.abspath(a) for a in sys.argv[1:4])
# Memory, where there is some: on a disk, each run would wait for its replaced files' writeout.
shm = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
work = tempfile.mkdtemp(prefix="tarnel-faults.", dir=shm)
atexit.register(shutil.rmtree, work, True)
os.chdir(work)
# One species at a time, where the tool can run several: one that fails for lack of space among
# others is run again alone, and a one-off fault then goes unseen.
jobs = ["--jobs", "1"] if subprocess.run([tool, "--jobs", "1", "--version"],
                                         capture_output=True).returncode == 0 else []
LISTS = {"active.txt", "all.txt"}
SPECIES = ["Escherichia_coli", "Big", "Arabidopsis_thaliana"]
OUTPUTS = {s: [f"dup/{s}.tsv", f"status/{s}", f"fasta/{s}.fas"] for s in SPECIES}
# Arabidopsis has no earlier files: failing, it must leave none.
OLD = {p: None if s == "Arabidopsis_thaliana" else f"old {p}\n".encode()
       for s in SPECIES for p in OUTPUTS[s]}


# (what the file system lacks, call, actions): the Nth such call of a run gets the (N modulo
# their number)th action. Lacking a way to swap two names, or hard links too, the tool
# publishes by other steps, which must keep the same promises (but for a kill without links).
ROWS = [("", "open", "EACCES EMFILE ENOSPC"), ("", "open", "EINTR"),
        ("", "write", "ENOSPC EIO EDQUOT"), ("", "write", "EINTR"), ("", "write", "short"),
        ("", "close", "EIO EDQUOT"), ("", "close", "EINTR"),
        ("", "rename", "EIO EDQUOT EPERM"), ("", "rename", "EINTR"),
        ("", "any", "SIGINT"), ("", "any", "SIGKILL"),
        ("exchange", "rename", "EIO EDQUOT EPERM EINTR"), ("exchange", "any", "SIGINT SIGKILL"),
        ("exchange link", "rename", "EIO EDQUOT EPERM EINTR"),
        ("exchange link", "any", "SIGINT")]


def make_collection():
    os.mkdir("protein")
    shutil.copy(f"{examples}/protein/ecoli.fa", "protein/")
    shutil.copy(f"{examples}/protein/arabidopsis.fa.gz", "protein/")
    rng = random.Random(1)  # some 3 MB: its FASTA output takes the helper thread
    sequences = ["".join(rng.choices("ACDEFGHIKLMNPQRSTVWY", k=rng.randint(50, 600)))
                 for _ in range(10000)]
    with open("protein/big.fa", "w") as f:
        for i, s in enumerate(sequences + sequences[:300]):
            f.write(f">B{i}\n" + "\n".join(s[j:j + 60] for j in range(0, len(s), 60)) + "\n")
    files = {"Escherichia_coli": "ecoli.fa", "Big": "big.fa",
             "Arabidopsis_thaliana": "arabidopsis.fa.gz"}
    with open("all.txt", "w") as f:
        f.write("species_name\tFASTA_file_name\n")
        f.writelines(f"{s}\t{files[s]}\n" for s in SPECIES)
    with open("active.txt", "w") as f:
        f.write("species_name\tFASTA_file_name\nBig\tbig.fa\n")


def restore():
    for d in ("dup", "status", "fasta"):
        shutil.rmtree(d, ignore_errors=True)
        os.mkdir(d)
    for path, content in OLD.items():
        if content is not None:
            with open(path, "wb") as f:
                f.write(content)


def run(fault, without):  # fault: "KIND N ACTION" or "count"
    restore()
    kind_n, _, action = fault.rpartition(" ")
    if action.startswith(("E", "SIG")):  # as numbers, which the library takes
        number = getattr(errno, action, None) or getattr(signal, action)
        fault = f"{kind_n} {'s' if action.startswith('SIG') else 'e'}{number}"
    if os.path.exists("log"):
        os.remove("log")
    env = dict(os.environ, LD_PRELOAD=preload, TARNEL_FAULT=fault, TARNEL_FAULT_LOG="log",
               TARNEL_FAULT_WITHOUT=without)
    try:
        p = subprocess.run([tool, *jobs, "-w", "1", "active.txt", "all.txt"], env=env,
                           capture_output=True, timeout=60)
        code, out, err = p.returncode, p.stdout.decode(), p.stderr.decode()
    except subprocess.TimeoutExpired:
        code, out, err = "hang", "", ""
    log = open("log").read() if os.path.exists("log") else ""
    files = {p: open(p, "rb").read() if os.path.exists(p) else None for p in OLD}
    temporaries = [f"{d}/{n}" for d in ("dup", "status", "fasta") for n in os.listdir(d)
                   if n.startswith(".tn")]
    return code, out, err, log, files, temporaries


def normal(console):  # the times vary from run to run
    return re.sub(r"Time:\d+m", "Time:m", re.sub(r" *\d+s$", "s", console, flags=re.M))


def expected_outcome(action, kind, flags, target):
    if action in ("SIGINT", "SIGKILL"):
        return action
    if action in ("EINTR", "short") or not target:
        return "reference"
    if target == "stdout":
        return "console"
    name, directory = os.path.basename(target), os.path.basename(os.path.dirname(target))
    # A temporary being made, written, closed or published; not one that an exchange left
    # holding the replaced file, which is only let go.
    replaced = target.endswith(" (deleted)") or kind == "open" and not flags & os.O_CREAT
    if kind == "rename" or name.startswith(".tn") and not replaced:
        return "species"
    # An input or a list the tool could still open again: it may, if all comes out right.
    if kind == "open" and name in LISTS:
        return "list or reference"
    if kind == "open" and directory == "protein":
        return "species or reference"
    return "reference"  # a list or input closed, or a replaced file held or let go


def check(outcome, result, reference):
    code, out, err, log, files, temporaries = result
    new = reference[4]
    wrong = [p for p in OLD if files[p] not in (OLD[p], new[p])]
    if outcome == "SIGKILL":
        return f"exit {code}" if code != -signal.SIGKILL else wrong and f"mixed {wrong}"
    if outcome == "SIGINT":
        if code != -signal.SIGINT:
            return f"exit {code}"
        return temporaries and f"left {temporaries}" or wrong and f"mixed {wrong}"
    if temporaries:
        return f"left {temporaries}"
    if outcome == "list":
        stale = [p for p in OLD if files[p] != OLD[p]]
        return (code != 2 and f"exit {code}" or "Bad or missing list" not in out and "no message"
                or stale and f"changed {stale}")
    if outcome == "console":
        if code != 7:
            return f"exit {code}"
        if not re.fullmatch(r"tarnel: can't write standard output: .+\n", err):
            return f"stderr {err!r}"
    elif code != 0 or err:
        return f"exit {code} {err.strip()}"
    failed = [s for s in SPECIES if not re.search(
        rf"^{s}\.\.\. .*written in +\d+s$", out, re.M)]
    if outcome == "species":
        if len(failed) != 1 or not re.search(rf"^{failed[0]}\.\.\. .*(can't |failed at line)",
                                             out, re.M):
            return f"failed species {failed}"
        if "Errors:1" not in out:
            return "not counted"
    elif outcome == "reference" and normal(out) != normal(reference[1]):
        return "console differs"
    expected = {p: OLD[p] if s in failed and outcome == "species" else new[p]
                for s in SPECIES for p in OUTPUTS[s]}
    differ = [p for p in OLD if files[p] != expected[p]]
    return differ and f"{'old' if outcome == 'species' else 'new'} expected {differ}"


make_collection()
references, failures, runs = {}, {}, 0
for without, kind, actions in ROWS:
    if without not in references:  # a run without faults: its outputs, and the calls made
        reference = run("count", without)
        counts = {k: int(v) for k, v in zip(*[iter(reference[3].split())] * 2)}
        counts["any"] = sum(counts.values())
        references[without] = reference, counts
        if reference[0] or reference[2] or reference[5] or reference[4] != references[""][0][4]:
            sys.exit(f"reference run without {without} failed: {reference[0]} {reference[2]}")
    reference, counts = references[without]
    for n in range(1, counts[kind] + 1):
        action = actions.split()[n % len(actions.split())]
        result = run(f"{kind} {n} {action}", without)
        runs += 1
        _, flags, target = result[3].strip().split(" ", 2) if result[3] else ("", "0", "")
        outcome = expected_outcome(action, kind, int(flags, 16), target)
        problems = [check(o, result, reference) for o in outcome.split(" or ")]
        if all(problems):
            target = os.path.relpath(target) if "/" in target else target
            failures.setdefault((without, kind, actions, outcome), []).append(
                f"#{n} {action} {target}: {problems[0]}")
print(f"{runs} runs")
for (without, kind, actions, outcome), cases in sorted(failures.items()):
    lacking = f" without {without}" if without else ""
    print(f"FAIL{lacking} {kind} {actions}, expected {outcome}: {len(cases)} x, e.g. {cases[0]}")
sys.exit(1 if failures else 0)
