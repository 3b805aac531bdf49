"""Benchmark driver, started by scripts/bench.sh: generates the trees, runs every contender
on each tree in alternating rounds, verifies every copy, runs the engine micro-benchmarks
under Wine and writes results.md, results.csv, runs.csv and micro.csv.

It never judges speed: the exit code is 0 unless a contender failed to run, a copy was
wrong, or a micro-benchmark saw the engine give a wrong result."""

import argparse
import csv
import hashlib
import os
import platform
import re
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time
from datetime import datetime

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gentree  # noqa: E402

MAX_PATH = 260
FILE_PAUSE_S = 0.005   # the copy worker sleeps 5 ms after every file
TIMER_PAUSE_S = 0.0    # the job sees the copy phase end at once, not at its 500 ms timer


def win_path(path):
    """Wine's Z: drive is the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# ---------------------------------------------------------------- trees

def tree_specs(quick, large_mib, growth_sizes):
    """(name, description, generator, keyword arguments)."""
    specs = [("empty", "an empty source folder: each program's fixed cost of one run",
              gentree.empty, {})]
    if quick:
        specs += [
            ("small", "many small files: 100 files of 1-16 KiB in 30 folders, 4 levels",
             gentree.small_files, dict(files=100, branching=(2, 2, 2, 2))),
            ("large", "large files: 2 files of 4 MiB", gentree.large_files,
             dict(count=2, size_mib=4)),
        ]
    else:
        specs += [
            ("small", "many small files: 10,000 files of 1-16 KiB in 200 folders, 4 levels",
             gentree.small_files, dict(files=10000)),
            ("large", f"large files: 8 files of {large_mib} MiB", gentree.large_files,
             dict(count=8, size_mib=large_mib)),
        ]
    for n in growth_sizes:
        specs.append((f"growth-{n}", f"growth: {n:,} empty or tiny files (0-64 bytes), "
                      "100 per folder", gentree.growth, dict(files=n)))
    per_level = 1 if quick else 2
    specs.append(("deep", f"deep: 40 nested levels, {per_level} file(s) per level, paths past "
                  "260 chars", gentree.deep, dict(levels=40, files_per_level=per_level)))
    return specs


def per_file(seconds, files):
    return fmt(seconds * 1000 / files, 2) if files else "-"


def hash_file(path):
    h = hashlib.sha1()
    with open(path, "rb") as f:
        while True:
            chunk = f.read(1 << 20)
            if not chunk:
                break
            h.update(chunk)
    return h.hexdigest()


def manifest(root):
    """Relative path -> (size, sha1) for every file below root."""
    result = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            result[os.path.relpath(path, root)] = (os.path.getsize(path), hash_file(path))
    return result


def count_folders(root):
    return sum(len(dirs) for _, dirs, _ in os.walk(root))


# ---------------------------------------------------------------- contenders

class Contender:
    name = ""
    runs_under_wine = False
    # Wine's xcopy crashes on the first path past MAX_PATH; that is its limit, not a
    # harness failure, as long as everything below the limit was copied right.
    long_path_exit_ok = False

    def prepare(self, source, dest):
        """Called outside the timing; returns the command."""
        raise NotImplementedError

    def copy_root(self, source, dest):
        return dest

    def process_name(self):
        return None


class Cp(Contender):
    name = "cp"

    def prepare(self, source, dest):
        return ["cp", "-a", source, dest]


class Rsync(Contender):
    name = "rsync"

    def prepare(self, source, dest):
        return ["rsync", "-a", "--delete", source + "/", dest + "/"]


class Xcopy(Contender):
    name = "xcopy"
    runs_under_wine = True
    long_path_exit_ok = True

    def prepare(self, source, dest):
        return ["wine", "C:\\windows\\system32\\xcopy.exe", win_path(source), win_path(dest),
                "/E", "/I", "/Y", "/K", "/Q"]

    def process_name(self):
        return "xcopy.exe"


class Stowly(Contender):
    """The real exe in silent, local mode, as a scheduled task runs it: a copy of it in its
    own folder with a Stowly.ini beside it."""
    name = "stowly"
    runs_under_wine = True

    def __init__(self, exe, folder):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.exe = os.path.join(folder, "Stowly.exe")
        shutil.copy2(exe, self.exe)

    def prepare(self, source, dest):
        os.makedirs(dest, exist_ok=True)  # the job's write test needs the folder to exist
        ini = ("[Main Settings]\r\n"
               f"DestinationFolder={win_path(dest)}\\\r\n"
               "LogFile=1\r\n"
               "NumDirs=1\r\n"
               f"SourceFolder1={win_path(source)}\\\r\n"
               "FullMirror=1\r\n"
               "UseArchiveBit=0\r\n")
        with open(os.path.join(self.folder, "Stowly.ini"), "w", newline="") as f:
            f.write(ini)
        return ["wine", win_path(self.exe), "/S", "/L"]

    def copy_root(self, source, dest):
        # The source path below its drive root is re-created under the destination.
        return os.path.join(dest, os.path.abspath(source).lstrip("/"))

    def process_name(self):
        return "Stowly.exe"


def read_status(pid):
    fields = {}
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                key, _, value = line.partition(":")
                fields[key] = value.strip()
    except OSError:
        pass
    return fields


def run_measured(command, env, timeout_s, output_path, process_name):
    """Runs one command; returns (seconds, exit code, peak RSS KiB, sampled VmHWM KiB, seen
    process name). The wall time runs from the start to the moment wait4 reaps the process.
    Under Wine the started process becomes the Windows program itself (the launcher execs
    into it), so its VmHWM, sampled every 20 ms, and wait4's maxrss are that program's."""
    with open(output_path, "ab") as out:
        start = time.perf_counter()
        proc = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, env=env)
    pid = proc.pid
    done = threading.Event()
    sampled = {"hwm": 0, "comm": "", "killed": False}

    def sample():
        while not done.wait(0.02):
            fields = read_status(pid)
            name = fields.get("Name", "")
            if process_name and name == process_name[:15]:
                sampled["comm"] = name
                hwm = fields.get("VmHWM", "0 kB").split()[0]
                sampled["hwm"] = max(sampled["hwm"], int(hwm))
            if time.perf_counter() - start > timeout_s and not sampled["killed"]:
                sampled["killed"] = True
                os.kill(pid, signal.SIGKILL)

    sampler = threading.Thread(target=sample, daemon=True)
    sampler.start()
    _, status, usage = os.wait4(pid, 0)
    seconds = time.perf_counter() - start
    done.set()
    sampler.join()
    proc.returncode = os.waitstatus_to_exitcode(status)  # reaped here, not by Popen
    code = -9 if sampled["killed"] else proc.returncode
    return seconds, code, usage.ru_maxrss, sampled["hwm"], sampled["comm"]


def verify(source_manifest, source_root, copy_root, wine_paths):
    """Compares the copy with the source. Under Wine, files whose source or destination
    path reaches MAX_PATH may be missing (the ANSI calls cannot name them); every other
    difference is a wrong copy. Returns (ok, files copied, long files missing, problem)."""
    copied = manifest(copy_root) if os.path.isdir(copy_root) else {}
    missing_long = 0
    problems = []
    for rel, (size, digest) in source_manifest.items():
        got = copied.get(rel)
        if got == (size, digest):
            continue
        if got is None and wine_paths:
            longest = max(len(win_path(os.path.join(source_root, rel))),
                          len(win_path(os.path.join(copy_root, rel))))
            if longest >= MAX_PATH:
                missing_long += 1
                continue
        problems.append(f"{rel}: {'missing' if got is None else 'differs'}")
    extra = [rel for rel in copied if rel not in source_manifest]
    problems += [f"{rel}: not in the source" for rel in extra]
    ok = not problems
    detail = "" if ok else f"{len(problems)} problems, first: {problems[0]}"
    return ok, len(copied) - len(extra), missing_long, detail


# ---------------------------------------------------------------- Stowly's log

LOG_LINE = re.compile(r"^(\d\d)-(\d\d)-(\d{4})   (\d\d):(\d\d):(\d\d)   (.*)$")


def log_phases(log_path):
    """Seconds between the job's landmarks, from the log's one-second timestamps."""
    marks = {}
    copying = errors = 0
    try:
        with open(log_path, encoding="latin-1") as f:
            lines = f.read().splitlines()
    except OSError:
        return None
    for line in lines:
        m = LOG_LINE.match(line)
        if not m:
            continue
        mo, d, y, hh, mm, ss, text = m.groups()
        t = datetime(int(y), int(mo), int(d), int(hh), int(mm), int(ss)).timestamp()
        marks.setdefault("first", t)
        marks["last"] = t
        if text == "Copying Files...":
            marks["copy"] = t
        elif text.startswith("  ...") and "Files copied" in text:
            marks["summary"] = t
        if "   Copying " in text:
            copying += 1
        elif "   Error - " in text:
            errors += 1
    if "copy" not in marks or "summary" not in marks:
        return {"copying_lines": copying, "error_lines": errors}
    return {"prepare_list_s": marks["copy"] - marks["first"],
            "copy_s": marks["summary"] - marks["copy"],
            "finish_s": marks["last"] - marks["summary"],
            "copying_lines": copying, "error_lines": errors}


# ---------------------------------------------------------------- machine

def machine_description(folder):
    cpu = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = "unknown"
    try:
        with open("/proc/meminfo") as f:
            kib = int(f.readline().split()[1])
            mem = f"{kib / 1048576:.1f} GiB"
    except (OSError, ValueError, IndexError):
        pass
    disk = "unknown"
    try:
        df = subprocess.run(["df", "-hT", folder], capture_output=True, text=True).stdout
        fields = df.splitlines()[1].split()
        disk = f"{fields[0]} ({fields[1]}, {fields[2]} size, {fields[4]} free)"
    except (OSError, IndexError):
        pass
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    return {"nproc": str(os.cpu_count()), "cpu": cpu, "memory": mem, "disk": disk,
            "kernel": platform.release(), "wine": wine.splitlines()[-1] if wine else "unknown"}


# ---------------------------------------------------------------- statistics

def med(values):
    return statistics.median(values) if values else float("nan")


def fmt(value, digits=2):
    if value is None or value != value:
        return "-"
    return f"{value:,.{digits}f}"


# ---------------------------------------------------------------- main run

class Bench:
    def __init__(self, args):
        self.args = args
        self.out = os.path.abspath(args.out)
        self.trees = os.path.join(self.out, "t")
        self.dests = os.path.join(self.out, "o")
        self.prefix = os.path.join(self.out, "wineprefix")
        self.output_log = os.path.join(self.out, "programs.log")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64")
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)
        self.runs = []
        self.micro = []
        self.tree_info = []
        self.phases = {}
        self.failures = []
        self.desktop = None
        self.floor = []

    def say(self, text):
        print(f"[bench {time.strftime('%H:%M:%S')}] {text}", flush=True)

    def wine_ready(self):
        if not os.path.exists(os.path.join(self.prefix, ".bench-ready")):
            self.say("creating the Wine prefix (once)")
            subprocess.run(["wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v",
                            "Graphics", "/d", "null", "/f"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=self.env)
            open(os.path.join(self.prefix, ".bench-ready"), "w").close()
        if not os.path.exists(os.path.join(self.prefix, ".bench-quiet-crash")):
            # A crashing program ends at once: winedbg would take over a minute to write
            # its backtrace and then stay behind.
            subprocess.run(["wine", "reg", "add", "HKLM\\Software\\Microsoft\\Windows NT\\"
                            "CurrentVersion\\AeDebug", "/v", "Debugger", "/d",
                            "C:\\windows\\system32\\cmd.exe /c exit", "/f"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            open(os.path.join(self.prefix, ".bench-quiet-crash"), "w").close()
        # A warm server that outlives the runs by two minutes, then leaves by itself.
        subprocess.run(["wineserver", "-p120"], env=self.env)
        if self.args.desktop:
            # Wine starts its desktop process for a program's first window and ends it with
            # the program; Windows always has one. A window held open keeps it running.
            self.desktop = subprocess.Popen(["wine", "notepad.exe"], env=self.env,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(3)

    def contenders(self):
        chosen = []
        for name in self.args.contenders.split(","):
            if name == "cp":
                chosen.append(Cp())
            elif name == "rsync":
                chosen.append(Rsync())
            elif name == "xcopy":
                chosen.append(Xcopy())
            elif name == "stowly":
                chosen.append(Stowly(self.args.stowly_exe, os.path.join(self.out, "stowly")))
            else:
                sys.exit(f"unknown contender {name}")
        return chosen

    def timeout(self, files):
        return 60 + 0.2 * files

    def run_tree(self, name, source, contenders):
        self.say(f"{name}: manifest")
        src = manifest(source)
        files = len(src)
        total = sum(size for size, _ in src.values())
        self.tree_info[-1].update(files=files, bytes=total)
        for rep in range(1, self.args.reps + 1):
            # Each round starts with a different contender, so none always runs first.
            order = contenders[rep - 1:] + contenders[:rep - 1]
            for position, contender in enumerate(order):
                dest = os.path.join(self.dests, contender.name)
                shutil.rmtree(dest, ignore_errors=True)
                os.makedirs(self.dests, exist_ok=True)
                command = contender.prepare(source, dest)
                os.sync()
                timeout = self.timeout(files)
                if contender.long_path_exit_ok and name == "deep":
                    # Wine's xcopy hangs at the first path past 260 characters; waiting out
                    # the full timeout three times would push the run past 15 minutes.
                    timeout = min(timeout, 15)
                seconds, code, maxrss, hwm, comm = run_measured(
                    command, self.env, timeout, self.output_log,
                    contender.process_name())
                # What it takes to get the copy onto the disk, timed apart from the run.
                flush_start = time.perf_counter()
                os.sync()
                flush = time.perf_counter() - flush_start
                ok, copied, missing_long, detail = verify(
                    src, source, contender.copy_root(source, dest), contender.runs_under_wine)
                if code != 0 and not (contender.long_path_exit_ok and ok and missing_long):
                    detail = f"exit code {code}" + (f"; {detail}" if detail else "")
                    ok = False
                if isinstance(contender, Stowly):
                    phases = log_phases(os.path.join(dest, "Stowly.log"))
                    if phases:
                        self.phases.setdefault(name, []).append(phases)
                row = dict(tree=name, contender=contender.name, rep=rep, position=position + 1,
                           files=files, bytes=total, wall_s=round(seconds, 4),
                           flush_s=round(flush, 4), exit_code=code,
                           ok=ok, files_copied=copied, long_files_missing=missing_long,
                           peak_rss_kib=maxrss, vmhwm_kib=hwm, process=comm, detail=detail)
                self.runs.append(row)
                state = "ok" if ok else f"WRONG ({detail})"
                self.say(f"{name} round {rep} {contender.name}: {seconds:.2f} s, {state}")
                if not ok:
                    self.failures.append(f"{name}/{contender.name} round {rep}: {detail}")
                    log = os.path.join(dest, "Stowly.log")
                    if os.path.exists(log):  # kept to tell what the run saw
                        shutil.copy(log, os.path.join(self.out, f"wrong-{name}-{rep}.log"))
                shutil.rmtree(dest, ignore_errors=True)

    def time_window_floor(self):
        """Runs the bare windowed program: what any program with a window pays under Wine
        before it does anything of its own."""
        self.floor = []
        if not self.args.window_floor or not os.path.exists(self.args.window_floor):
            return
        for _ in range(self.args.reps):
            seconds, code, _, _, _ = run_measured(["wine", self.args.window_floor], self.env,
                                                  60, self.output_log, None)
            if code == 0:
                self.floor.append(seconds)
        if self.floor:
            self.say(f"bare window program: {med(self.floor):.2f} s")

    def run_engine(self, mode, args, out):
        command = ["wine", self.args.engine_bench, mode, win_path(out)] + [str(a) for a in args]
        seconds, code, _, _, _ = run_measured(command, self.env, self.args.micro_timeout,
                                              self.output_log, None)
        if code != 0:
            self.failures.append(f"engine_bench {mode}: exit code {code}")
            self.say(f"engine_bench {mode}: exit code {code}")
        return seconds

    def run_micro(self, listing_tree):
        out = os.path.join(self.out, "engine_bench.tsv")
        if os.path.exists(out):
            os.remove(out)
        scratch = os.path.join(self.out, "scratch")
        shutil.rmtree(scratch, ignore_errors=True)
        os.makedirs(scratch)
        q = self.args.quick
        reps = self.args.reps
        self.say(f"micro: ListFiles on {listing_tree}")
        self.run_engine("listing", [win_path(os.path.join(self.trees, listing_tree)),
                                    win_path(scratch), reps], out)
        self.say("micro: master list memory")
        for _ in range(reps):
            self.run_engine("memory", [20000 if q else 1000000], out)
        self.say("micro: the log writer")
        self.run_engine("log", [win_path(scratch), 300 if q else 5000, reps], out)
        self.say("micro: per-call costs and pauses")
        self.run_engine("calls", [win_path(scratch), 200 if q else 2000, reps], out)
        self.run_engine("pauses", [40 if q else 200], out)
        self.say("micro: the configuration check over 12 source folders")
        self.run_engine("check", [win_path(scratch), 12, reps], out)
        shutil.rmtree(scratch, ignore_errors=True)
        if os.path.exists(out):
            with open(out) as f:
                for line in f:
                    parts = line.rstrip("\n").split("\t")
                    if len(parts) != 4:
                        continue
                    metric, rep, value, unit = parts
                    if metric == "wrong":
                        self.failures.append(f"engine_bench: {unit}")
                        continue
                    self.micro.append(dict(metric=metric, rep=int(rep), value=float(value),
                                           unit=unit))
        self.micro_tree = listing_tree

    def run(self):
        started = time.perf_counter()
        os.makedirs(self.out, exist_ok=True)
        open(self.output_log, "w").close()
        self.wine_ready()
        contenders = self.contenders()
        self.time_window_floor()
        growth_sizes = [int(n) for n in self.args.growth.split(",") if n]
        listing_files = self.args.listing_files
        listing_tree = f"growth-{listing_files}"
        # The listing tree is generated for the micro-benchmarks even when the contenders
        # do not copy it.
        specs = tree_specs(self.args.quick, self.args.large_mib,
                           sorted(set(growth_sizes) | {listing_files}))
        only = set(self.args.trees.split(",")) if self.args.trees else None
        shutil.rmtree(self.trees, ignore_errors=True)
        for name, description, generator, kwargs in specs:
            measured = (not only or name in only) and (
                not name.startswith("growth-") or int(name[7:]) in growth_sizes)
            needed = measured or (name == listing_tree and not self.args.no_micro)
            if not needed:
                continue
            source = os.path.join(self.trees, name)
            self.say(f"{name}: generating ({description})")
            generator(source, seed=sum(map(ord, name)), **kwargs)
            self.tree_info.append(dict(tree=name, description=description,
                                       folders=count_folders(source), measured=measured))
            if measured:
                self.run_tree(name, source, contenders)
            else:
                self.tree_info[-1]["files"] = kwargs.get("files", 0)
                self.tree_info[-1]["bytes"] = sum(
                    os.path.getsize(os.path.join(d, f))
                    for d, _, fs in os.walk(source) for f in fs)
            if name != listing_tree and not self.args.keep_trees:
                shutil.rmtree(source, ignore_errors=True)
        if not self.args.no_micro:
            self.run_micro(listing_tree)
        if not self.args.keep_trees:
            shutil.rmtree(self.trees, ignore_errors=True)
            shutil.rmtree(self.dests, ignore_errors=True)
        if self.desktop:
            subprocess.run(["wine", "taskkill", "/f", "/im", "notepad.exe"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.desktop.wait()
        self.elapsed = time.perf_counter() - started
        self.write_results()
        self.say(f"done in {self.elapsed / 60:.1f} min; results in {self.out}/results.md")
        for failure in self.failures:
            self.say(f"FAILED: {failure}")
        return 1 if self.failures else 0

    # ------------------------------------------------------------ results

    def summary(self):
        rows = []
        keys = []
        for r in self.runs:
            if (r["tree"], r["contender"]) not in keys:
                keys.append((r["tree"], r["contender"]))
        for tree, contender in keys:
            runs = [r for r in self.runs if r["tree"] == tree and r["contender"] == contender]
            walls = [r["wall_s"] for r in runs]
            files, size = runs[0]["files"], runs[0]["bytes"]
            m = med(walls)
            row = dict(tree=tree, contender=contender, files=files, bytes=size,
                       reps=len(runs), wall_median_s=m, wall_min_s=min(walls),
                       wall_max_s=max(walls),
                       synced_median_s=med([r["wall_s"] + r["flush_s"] for r in runs]),
                       files_per_s=files / m if m else 0,
                       mb_per_s=size / 1e6 / m if m else 0,
                       peak_rss_mib=max(max(r["vmhwm_kib"], r["peak_rss_kib"])
                                        for r in runs) / 1024,
                       ok=all(r["ok"] for r in runs),
                       exit_codes=sorted({r["exit_code"] for r in runs if r["exit_code"]}),
                       long_files_missing=max(r["long_files_missing"] for r in runs))
            if contender == "stowly":
                adjusted = [w - files * FILE_PAUSE_S - TIMER_PAUSE_S for w in walls]
                row["adjusted_median_s"] = med(adjusted)
            rows.append(row)
        return rows

    def micro_values(self, metric):
        return [m["value"] for m in self.micro if m["metric"] == metric]

    def write_results(self):
        summary = self.summary()
        with open(os.path.join(self.out, "runs.csv"), "w", newline="") as f:
            fields = ["tree", "contender", "rep", "position", "files", "bytes", "wall_s",
                      "flush_s", "exit_code", "ok", "files_copied", "long_files_missing", "peak_rss_kib",
                      "vmhwm_kib", "process", "detail"]
            w = csv.DictWriter(f, fieldnames=fields)
            w.writeheader()
            w.writerows(self.runs)
        with open(os.path.join(self.out, "results.csv"), "w", newline="") as f:
            fields = ["tree", "contender", "files", "bytes", "reps", "wall_median_s",
                      "wall_min_s", "wall_max_s", "synced_median_s", "files_per_s", "mb_per_s",
                      "adjusted_median_s", "peak_rss_mib", "ok", "long_files_missing", "exit_codes"]
            w = csv.DictWriter(f, fieldnames=fields)
            w.writeheader()
            for row in summary:
                w.writerow({k: (round(v, 4) if isinstance(v, float) else v)
                            for k, v in row.items()})
        with open(os.path.join(self.out, "micro.csv"), "w", newline="") as f:
            w = csv.DictWriter(f, fieldnames=["metric", "rep", "value", "unit"])
            w.writeheader()
            w.writerows(self.micro)
        with open(os.path.join(self.out, "results.md"), "w") as f:
            f.write(self.markdown(summary))

    def markdown(self, summary):
        a = self.args
        m = machine_description(self.out)
        lines = [f"# Stowly benchmarks ({'quick' if a.quick else 'full'} run)", ""]
        lines += [f"Run {datetime.now().strftime('%Y-%m-%d %H:%M')}, {a.reps} rounds, "
                  f"{self.elapsed / 60:.1f} min in all. Machine: {m['nproc']} cores, "
                  f"{m['cpu']}, {m['memory']} memory, disk {m['disk']}, Linux {m['kernel']}, "
                  f"{m['wine']}.", ""]
        lines += ["## Trees", "", "| Tree | Files | Folders | MB | What |", "|---|---:|---:|---:|---|"]
        for t in self.tree_info:
            what = t["description"] if t["measured"] else \
                t["description"] + " (only for the ListFiles micro-benchmark)"
            lines.append(f"| {t['tree']} | {t['files']:,} | {t['folders']:,} | "
                         f"{t['bytes'] / 1e6:,.1f} | {what} |")
        lines += ["", "## Contenders", "",
                  "Wall seconds: median of the rounds, spread min-max. Stowly adj.: Stowly's "
                  "wall time minus the pauses its design mandates (5 ms per file). +sync: wall time plus the sync that follows the run "
                  "(the copy on disk, not just in the page cache). MB = 10^6 bytes. Peak "
                  "RSS: the Windows process's VmHWM (Wine's own DLLs included).", "",
                  "| Tree | Contender | Wall s | Spread s | +sync s | Files/s | MB/s | "
                  "Stowly adj. s | Peak RSS MiB | Copy |",
                  "|---|---|---:|---:|---:|---:|---:|---:|---:|---|"]
        for r in summary:
            copy = "ok" if r["ok"] else "WRONG"
            if r["long_files_missing"]:
                copy += f" ({r['long_files_missing']} files past MAX_PATH not copied)"
            if r["exit_codes"]:
                copy += f", exit code {'/'.join(map(str, r['exit_codes']))}"
            rss = fmt(r["peak_rss_mib"], 1) if r["contender"] in ("stowly", "xcopy") else "-"
            lines.append(
                f"| {r['tree']} | {r['contender']} | {fmt(r['wall_median_s'], 3)} | "
                f"{fmt(r['wall_min_s'], 3)}-{fmt(r['wall_max_s'], 3)} | "
                f"{fmt(r['synced_median_s'], 3)} | {fmt(r['files_per_s'], 0)} | {fmt(r['mb_per_s'], 1)} | "
                f"{fmt(r.get('adjusted_median_s'), 3)} | {rss} | {copy} |")
        by = {(r["tree"], r["contender"]): r for r in summary}
        if any(c == "stowly" for _, c in by):
            lines += ["", "## Ratios (median wall time)", "",
                      "| Tree | Stowly/xcopy | Stowly/cp | Stowly adj./xcopy | Stowly adj./cp | "
                      "Stowly ms/file | Stowly adj. ms/file |",
                      "|---|---:|---:|---:|---:|---:|---:|"]
        for t in self.tree_info:
            s = by.get((t["tree"], "stowly"))
            if not s:
                continue
            x, c = by.get((t["tree"], "xcopy")), by.get((t["tree"], "cp"))

            def ratio(num, den):
                if not den or not den["wall_median_s"]:
                    return "-"
                # A peer that stopped short of the tree's end did less work.
                mark = " (peer incomplete)" if den["long_files_missing"] else ""
                return fmt(num / den["wall_median_s"]) + mark
            lines.append(
                f"| {t['tree']} | {ratio(s['wall_median_s'], x)} | "
                f"{ratio(s['wall_median_s'], c)} | "
                f"{ratio(s['adjusted_median_s'], x)} | "
                f"{ratio(s['adjusted_median_s'], c)} | "
                f"{per_file(s['wall_median_s'], s['files'])} | "
                f"{per_file(s['adjusted_median_s'], s['files'])} |")
        if self.phases:
            lines += ["", "## Where Stowly's time goes (its log, 1 s resolution, median of "
                      "rounds)", "",
                      "| Tree | Start to \"Copying Files...\" s | Copy phase s | Copy ms/file | "
                      "Summary to last line s | Error lines |", "|---|---:|---:|---:|---:|---:|"]
            for tree, plist in self.phases.items():
                files = by[(tree, "stowly")]["files"] if (tree, "stowly") in by else 0
                full = [p for p in plist if "copy_s" in p]
                if not full:
                    lines.append(f"| {tree} | - | - | - | - | "
                                 f"{max(p['error_lines'] for p in plist)} |")
                    continue
                copy = med([p["copy_s"] for p in full])
                lines.append(f"| {tree} | {fmt(med([p['prepare_list_s'] for p in full]), 0)} | "
                             f"{fmt(copy, 0)} | {fmt(copy * 1000 / files if files else None, 1)} | "
                             f"{fmt(med([p['finish_s'] for p in full]), 0)} | "
                             f"{max(p['error_lines'] for p in full)} |")
        lines += self.micro_markdown()
        lines += self.targets_markdown(by)
        if self.failures:
            lines += ["", "## Failures", ""] + [f"- {x}" for x in self.failures]
        lines.append("")
        return "\n".join(lines)

    def micro_markdown(self):
        if not self.micro:
            return []
        lines = ["", "## Engine micro-benchmarks (under Wine)", "",
                 "| Figure | Median | Spread | Unit |", "|---|---:|---:|---|"]
        seen = []
        for m in self.micro:
            if m["metric"] not in seen:
                seen.append(m["metric"])
        for metric in seen:
            values = self.micro_values(metric)
            unit = next(m["unit"] for m in self.micro if m["metric"] == metric)
            digits = 0 if unit in ("bytes", "files", "entries", "lines/s") else 3
            lines.append(f"| {metric} | {fmt(med(values), digits)} | "
                         f"{fmt(min(values), digits)}-{fmt(max(values), digits)} | {unit} |")
        lines += ["", f"ListFiles ran on the {self.micro_tree} tree (source mode, Full Mirror, "
                  "a destination that does not exist; listfiles_fast: Fast Mirror with the "
                  "drive root as destination, so every folder is read twice, as a source and "
                  "its copy are); the walks list the same tree with FindFirstFileA/"
                  "FindNextFileA only (bare), plus one GetFileAttributesA per entry "
                  "(attributes). Memory: one process per round builds 1,000,000 entries "
                  "(20,000 in a quick run) the way a listing does; the working set is the "
                  "process's growth, requested bytes what the vector and its strings asked the "
                  "heap for; listfiles_list_* is the real master list after the last ListFiles "
                  "round. writelog: the job's log writer (its file held open) on the "
                  "user-interface thread, or on a worker thread while the user-interface "
                  "thread waits between pump steps with Sleep(10) (worker_sleep) or with a wait "
                  "that also wakes for messages sent to it (worker_msgwait). The append_* lines "
                  "write the same text without the engine: open, append, close per line, or one "
                  "handle kept open. call_*: microseconds per call, on the user-interface "
                  "thread: an edit box's text read, a SetErrorMode pair (QuietErrors), "
                  "GetFileAttributesA of a missing and of a present file, a list box line "
                  "replace and pump step; call_worker_send is one message sent from a worker "
                  "thread to a list box while the user-interface thread waits as the job does "
                  "(the worker no longer sends any: its progress line is posted); "
                  "call_copy_small_file one CopyFileA of a 100-byte file. pause_*: what "
                  "Sleep(5), Sleep(10) and a 5 ms high-resolution waitable timer really take. "
                  "check_sources_ms: the configuration check a job starts with, over 12 source "
                  "folders whose copies exist in the destination."]
        return lines

    def targets_markdown(self, by):
        def get(tree, contender):
            return by.get((tree, contender))

        rows = []
        s, x = get("large", "stowly"), get("large", "xcopy")
        if s and x:
            rows.append(("Large files: Stowly's MB/s within 10% of xcopy's",
                         f"{s['mb_per_s']:.1f} vs {x['mb_per_s']:.1f} MB/s "
                         f"({s['mb_per_s'] / x['mb_per_s'] * 100:.0f}%)",
                         s["mb_per_s"] >= 0.9 * x["mb_per_s"]))
            se, xe = get("empty", "stowly"), get("empty", "xcopy")
            if se and xe:
                # What each program takes for the bytes alone, its fixed cost of a run aside.
                net_s = max(s["wall_median_s"] - se["wall_median_s"], 1e-9)
                net_x = max(x["wall_median_s"] - xe["wall_median_s"], 1e-9)
                rate_s, rate_x = s["bytes"] / 1e6 / net_s, x["bytes"] / 1e6 / net_x
                rows.append(("Large files, each program's empty run taken off: within 10%",
                             f"{rate_s:.1f} vs {rate_x:.1f} MB/s ({rate_s / rate_x * 100:.0f}%); "
                             f"empty runs {se['wall_median_s']:.2f} vs "
                             f"{xe['wall_median_s']:.2f} s"
                             + (f", a bare window program's {med(self.floor):.2f} s"
                                if self.floor else ""), rate_s >= 0.9 * rate_x))
        s, x = get("small", "stowly"), get("small", "xcopy")
        if s and x:
            rows.append(("Many small files: Stowly adj. no more than xcopy",
                         f"{s['adjusted_median_s']:.2f} vs {x['wall_median_s']:.2f} s",
                         s["adjusted_median_s"] <= x["wall_median_s"]))
        lf, walk = self.micro_values("listfiles_s"), self.micro_values("walk_bare_s")
        if lf and walk:
            ratio = med(lf) / med(walk)
            rows.append(("Listing within 1.5x the bare walk", f"{ratio:.2f}x", ratio <= 1.5))
        mem = [m for m in self.micro_values("memory_working_set_bytes")]
        text = self.micro_values("memory_text_bytes")
        if mem and text:
            ratio = med(mem) / med(text)
            req = med(self.micro_values("memory_requested_bytes")) / med(text)
            rows.append(("Master list memory within 2x its path text",
                         f"{ratio:.2f}x working set ({req:.2f}x requested)", ratio <= 2.0))
        growth = sorted((r["files"], r) for (t, c), r in by.items()
                        if t.startswith("growth-") and c == "stowly")
        if len(growth) >= 2:
            (n0, r0), (n1, r1) = growth[0], growth[-1]
            per0, per1 = r0["wall_median_s"] / n0, r1["wall_median_s"] / n1
            adj0, adj1 = r0["adjusted_median_s"] / n0, r1["adjusted_median_s"] / n1
            later = "" if n1 >= 100000 or self.args.quick else " (100,000 files: --long)"
            rows.append((f"Per-file time at {n1:,} files within 1.3x that at {n0:,}{later}",
                         f"{per1 / per0:.2f}x wall ({per1 * 1000:.2f} vs {per0 * 1000:.2f} "
                         f"ms), {adj1 / adj0:.2f}x adjusted", per1 <= 1.3 * per0))
        if not rows:
            return []
        lines = ["", "## Targets (reported, never enforced)", "",
                 "| Target | Measured | Met |", "|---|---|---|"]
        lines += [f"| {t} | {v} | {'yes' if met else 'no'} |" for t, v, met in rows]
        return lines


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--out", required=True)
    p.add_argument("--stowly-exe", required=True)
    p.add_argument("--engine-bench", required=True)
    p.add_argument("--quick", action="store_true")
    p.add_argument("--reps", type=int, default=3)
    p.add_argument("--large-mib", type=int, default=128)
    p.add_argument("--growth", default=None,
                   help="file counts of the growth trees the contenders copy")
    p.add_argument("--long", action="store_true",
                   help="add the 100,000-file growth tree for every contender (about 40 min)")
    p.add_argument("--listing-files", type=int, default=None,
                   help="files in the tree ListFiles is timed on")
    p.add_argument("--contenders", default="stowly,xcopy,cp,rsync")
    p.add_argument("--trees", default="", help="comma-separated subset of tree names")
    p.add_argument("--no-micro", action="store_true")
    p.add_argument("--keep-trees", action="store_true")
    p.add_argument("--micro-timeout", type=float, default=900)
    p.add_argument("--window-floor", default=None,
                   help="the bare windowed program (bench/window_floor.cpp) to time")
    p.add_argument("--desktop", action="store_true",
                   help="keep Wine's desktop process running, as Windows always has one")
    args = p.parse_args()
    if args.growth is None:
        args.growth = "10,100" if args.quick else "1000,10000"
        if args.long:
            args.growth += ",100000"
    if args.listing_files is None:
        args.listing_files = 100 if args.quick else 100000
    if args.reps < 3:
        print("note: fewer than 3 rounds gives no meaningful spread", file=sys.stderr)
    sys.exit(Bench(args).run())


if __name__ == "__main__":
    main()
