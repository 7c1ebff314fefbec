#!/usr/bin/env python3
"""Whole-process benchmark of vesk-connector against the floor of this machine.

Runs the built connector and the two floor programs side by side through every scenario, checks
every answer (ids, shapes, each answered exactly once, and the host's view of each exchange), and
prints a table of figures with the ratio of each to its floor. Standard library only.

    python3 bench/run.py --build build [--rounds 3] [--json out.json] [--svg out.svg]
"""
import argparse
import fcntl
import json
import os
import select
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from chart import chart

SILENCE = 20  # seconds without output after which a program is taken to have dropped a request
TOOL_NAMES = ["vesk_list_chats", "vesk_send_to_chat", "vesk_read_chat"]


class Failure(Exception):
    """A program gave a wrong, missing or repeated answer: its figures would mean nothing."""


# --- talking to one process -------------------------------------------------------------------


class Process:
    """One program under test, talked to through pipes as an agent's client does."""

    def __init__(self, argv, socket_path=""):
        env = dict(os.environ, VESK_BRIDGE_SOCKET=socket_path)
        self.errors = tempfile.TemporaryFile()
        self.popen = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=self.errors, env=env, bufsize=0)
        self.stdin = self.popen.stdin.fileno()
        self.stdout = self.popen.stdout.fileno()
        # Roomy pipes, as a client that reads in bulk would have: fewer wake-ups on both sides, so
        # the reader here is less of a limit on what is measured.
        for fd in (self.stdin, self.stdout):
            fcntl.fcntl(fd, fcntl.F_SETPIPE_SZ, 1 << 20)
        self.pending = b""

    def send(self, data):
        view = memoryview(data)
        while view:
            view = view[os.write(self.stdin, view):]

    def lines(self, count):
        """Reads until `count` whole lines have come; returns them (bytes, without LF). `arrived`
        is then the moment the last of them came, before any work on them here."""
        got = self.pending.count(b"\n")
        chunks = [self.pending]
        while got < count:
            # A program that leaves a request unanswered fails the run rather than hang it.
            if not select.select([self.stdout], [], [], SILENCE)[0]:
                raise Failure(f"no answer for {SILENCE} s after {got} of {count} answers")
            chunk = os.read(self.stdout, 1 << 20)
            if not chunk:
                raise Failure(f"output ended after {got} of {count} answers")
            got += chunk.count(b"\n")
            chunks.append(chunk)
        self.arrived = time.perf_counter()
        data = b"".join(chunks)
        parts = data.split(b"\n")
        self.pending = b"\n".join(parts[count:])
        return parts[:count]

    def status(self, field):
        """A figure from /proc/PID/status: kB for memory fields, a count for Threads."""
        with open(f"/proc/{self.popen.pid}/status") as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
        return 0

    def cpu(self):
        """Seconds of CPU (user + system) the process has used so far, all its threads together,
        ended ones included."""
        with open(f"/proc/{self.popen.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def finish(self):
        """Closes input and waits for the exit; returns the seconds that took."""
        start = time.perf_counter()
        self.popen.stdin.close()
        code = self.popen.wait()
        took = time.perf_counter() - start
        rest = self.popen.stdout.read()
        self.errors.seek(0)
        errors = self.errors.read()
        if code != 0 or errors or rest.strip(b"\n") or self.pending.strip(b"\n"):
            raise Failure(f"exit {code}, stderr {errors[:200]!r}, extra output {rest[:200]!r}")
        return took


class Sampler(threading.Thread):
    """Samples a process's thread count every 2 ms: the peak is a lower bound of the true peak."""

    def __init__(self, process):
        super().__init__(daemon=True)
        self.process, self.peak, self.stopped = process, 0, threading.Event()

    def run(self):
        while not self.stopped.wait(0.002):
            try:
                self.peak = max(self.peak, self.process.status("Threads"))
            except (OSError, ValueError):
                return

    def stop(self):
        self.stopped.set()
        self.join()
        return self.peak


# --- requests and their checks ----------------------------------------------------------------


# What a client of the 2026-07-28 revision sends with every request, and what every result of that
# revision carries besides its own members.
MODERN_META = {"io.modelcontextprotocol/protocolVersion": "2026-07-28",
               "io.modelcontextprotocol/clientCapabilities": {},
               "io.modelcontextprotocol/clientInfo": {"name": "bench", "version": "1"}}
MODERN_RESULT = {"resultType": "complete",
                 "_meta": {"io.modelcontextprotocol/serverInfo": {"name": "vesk", "version": "1.0"}}}


def request(ident, method, params=None, modern=False):
    message = {"jsonrpc": "2.0", "id": ident, "method": method}
    if modern:
        params = dict(params or {}, _meta=MODERN_META)
    if params is not None:
        message["params"] = params
    return (json.dumps(message, separators=(",", ":")) + "\n").encode()


def tool_call(ident, modern=False):
    return request(ident, "tools/call",
                   {"name": "vesk_read_chat", "arguments": {"chat": f"c{ident}", "last_n": 6}},
                   modern)


def check(lines, first, count, shape, modern=False):
    """Every id in first..first+count-1 answered exactly once, each answer of the right shape (for
    a modern request, with the members every modern result carries as well)."""
    seen = set()
    for line in lines:
        answer = json.loads(line)
        ident = answer.get("id")
        if answer.get("jsonrpc") != "2.0" or set(answer) != {"jsonrpc", "id", "result"}:
            raise Failure(f"not a success response: {line[:200]!r}")
        if ident in seen or not isinstance(ident, int) or not first <= ident < first + count:
            raise Failure(f"unexpected or repeated id: {line[:200]!r}")
        seen.add(ident)
        result = answer["result"]
        if modern:
            if any(result.pop(key, None) != value for key, value in MODERN_RESULT.items()):
                raise Failure(f"not a modern result: {line[:200]!r}")
        if not shape(ident, result):
            raise Failure(f"wrong result: {line[:200]!r}")
    if len(seen) != count:
        raise Failure(f"{count - len(seen)} requests unanswered")


def answered(_ident, result):
    """A floor program's fixed answer: any result object."""
    return isinstance(result, dict)


def empty(_ident, result):
    return result == {}


def catalogue(_ident, result):
    tools = result.get("tools")
    return isinstance(tools, list) and [tool.get("name") for tool in tools] == TOOL_NAMES


def discovered(_ident, result):
    return result.get("supportedVersions") == ["2026-07-28"] and "ttlMs" in result


def initialized(_ident, result):
    return isinstance(result.get("protocolVersion"), str) and "capabilities" in result


def read_result(ident, result, pad=0):
    text = f"read c{ident}" + "x" * pad
    return result == {"content": [{"type": "text", "text": text}], "isError": False}


def padded(pad):
    """read_result for replies whose text carries `pad` bytes more."""
    return lambda ident, result: read_result(ident, result, pad)


# --- the programs and the hosts ---------------------------------------------------------------


class Host:
    """The bench host on a socket of its own, answering after `delay_ms`."""

    def __init__(self, build, folder, delay_ms, pad=0):
        self.path = os.path.join(folder, f"host-{delay_ms}-{pad}.sock")
        self.pad = pad  # bytes of "x" after the chat in every reply's text
        self.popen = subprocess.Popen([os.path.join(build, "bench", "bench-host"), self.path,
                                       str(delay_ms), str(pad)], stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, text=True, bufsize=1)
        if self.popen.stdout.readline().strip() != "ready":
            raise Failure("bench host did not start")

    def served(self, expected):
        """Checks that the host received exactly `expected` well-formed requests since last asked."""
        self.popen.stdin.write("stats\n")
        words = self.popen.stdout.readline().split()
        if words != ["served", str(expected), "bad", "0"]:
            raise Failure(f"host saw {' '.join(words)}, expected {expected} requests")

    def stop(self):
        self.popen.stdin.close()
        self.popen.wait()


class Subject:
    """A program under test: its command line, what it answers to each kind of request, and the
    protocol era its requests are made in. A modern client sends no initialize: it discovers."""

    def __init__(self, name, argv, floor, modern=False):
        self.name, self.argv, self.floor, self.modern = name, argv, floor, modern

    def start(self, socket_path=""):
        process = Process(self.argv, socket_path)
        if self.modern:
            process.send(request(0, "server/discover", modern=True))
            check(process.lines(1), 0, 1, discovered, modern=True)
        else:
            process.send(request(0, "initialize", {"protocolVersion": "2025-06-18"}))
            check(process.lines(1), 0, 1, answered if self.floor else initialized)
        return process


# --- scenarios --------------------------------------------------------------------------------


def cold_start(subject):
    """Spawn to first answer of an initialize; idle peak RSS; end of input to exit."""
    begin = time.perf_counter()
    process = Process(subject.argv)
    process.send(request(1, "initialize", {"protocolVersion": "2025-06-18"}))
    lines = process.lines(1)
    start = process.arrived - begin
    check(lines, 1, 1, answered if subject.floor else initialized)
    memory = process.status("VmHWM")
    return {"start_ms": 1e3 * start, "exit_ms": 1e3 * process.finish(), "idle_rss_kb": memory}


def cold_starts(connector, floor, runs):
    """`runs` cold starts of each, taken in turn so that both see the same moments of a busy
    machine; medians, and the ratio of the medians."""
    pairs = [(cold_start(floor), cold_start(connector)) for _ in range(runs)]
    result = {"connector": {}, "floor": {}, "ratio": {}}
    for key in pairs[0][0]:
        result["floor"][key] = statistics.median(f[key] for f, _ in pairs)
        result["connector"][key] = statistics.median(c[key] for _, c in pairs)
        result["ratio"][key] = result["connector"][key] / result["floor"][key]
    return result


def pipelined(subject, method, count, shape):
    """`count` requests written at once; answers per second from first byte to last answer."""
    process = subject.start()
    blob = b"".join(request(i, method, modern=subject.modern) for i in range(1, count + 1))
    writer = threading.Thread(target=process.send, args=(blob,))
    begin = time.perf_counter()
    writer.start()
    lines = process.lines(count)
    took = process.arrived - begin
    writer.join()
    process.finish()
    check(lines, 1, count, shape, subject.modern)
    return {"per_s": count / took}


def unread(subject, method, count):
    """`count` requests from a file, answers to /dev/null: the program's own rate, with no reader
    on the other end to wait for. Spawn to exit, so start-up is counted too."""
    with tempfile.TemporaryFile() as requests:
        requests.write(b"".join(request(i, method) for i in range(1, count + 1)))
        requests.seek(0)
        begin = time.perf_counter()
        done = subprocess.run(subject.argv, stdin=requests, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
        took = time.perf_counter() - begin
    if done.returncode != 0:
        raise Failure(f"exit {done.returncode}")
    return {"per_s": count / took}


def sequential(connector, floor, host, count):
    """One tool call at a time, each written only once the previous one has been answered; the
    floor and the connector take turns call by call, so both see the same moments of a busy
    machine. Medians and p90 of each, and the ratio of the medians."""
    subjects = {"floor": floor, "connector": connector}
    programs = {name: subject.start(host.path) for name, subject in subjects.items()}
    times = {"floor": [], "connector": []}
    for i in range(1, count + 1):
        for name, process in programs.items():
            modern = subjects[name].modern
            begin = time.perf_counter()
            process.send(tool_call(i, modern))
            answer = process.lines(1)
            times[name].append(process.arrived - begin)
            check(answer, i, 1, padded(host.pad), modern)
    for process in programs.values():
        process.finish()
    host.served(2 * count)
    result = {"connector": {}, "floor": {}, "ratio": {}}
    for name, taken in times.items():
        taken.sort()
        result[name] = {"median_us": 1e6 * statistics.median(taken),
                        "p90_us": 1e6 * taken[int(0.9 * len(taken))]}
    for key in result["floor"]:
        result["ratio"][key] = result["connector"][key] / result["floor"][key]
    return result


def settle(process, limit=15):
    """Seconds until the process is back to one thread, polled every 10 ms (at most `limit`)."""
    begin = time.perf_counter()
    while process.status("Threads") > 1 and time.perf_counter() - begin < limit:
        time.sleep(0.01)
    return time.perf_counter() - begin


def calls(subject, host, count, after):
    """`count` tool calls written at once: calls per second, peak RSS, peak threads and CPU time
    per call (user + system, all threads, over the burst). Then, by `after`: "settle" waits until
    the program is back to one thread and takes its RSS then; "exit" closes input at once, with
    whatever threads the burst left, and takes the time to exit."""
    process = subject.start(host.path)
    blob = b"".join(tool_call(i) for i in range(1, count + 1))
    sampler = Sampler(process)
    writer = threading.Thread(target=process.send, args=(blob,))
    sampler.start()
    cpu = process.cpu()
    begin = time.perf_counter()
    writer.start()
    lines = process.lines(count)
    took = process.arrived - begin
    cpu = process.cpu() - cpu
    writer.join()
    threads = sampler.stop()
    figures = {"per_s": count / took, "wall_s": took, "rss_kb": process.status("VmHWM"),
               "threads": threads, "cpu_us": 1e6 * cpu / count}
    if after == "settle":
        figures["settle_s"] = settle(process)
        figures["settled_rss_kb"] = process.status("VmRSS")
        process.finish()
    else:
        figures["exit_ms"] = 1e3 * process.finish()
    check(lines, 1, count, padded(host.pad))
    host.served(count)
    return figures


# --- the run ----------------------------------------------------------------------------------


def rounds(count, measure, connector, floor):
    """Runs `measure` on the floor and the connector in turn, `count` times; per-figure medians
    of each, and the median of the per-round ratios connector/floor."""
    pairs = []
    for _ in range(count):
        pairs.append((measure(floor) if floor else {}, measure(connector)))
    result = {"connector": {}, "floor": {}, "ratio": {}}
    for key in pairs[0][1]:
        result["connector"][key] = statistics.median(c[key] for _, c in pairs)
        if floor:
            result["floor"][key] = statistics.median(f[key] for f, _ in pairs)
            ratios = [c[key] / f[key] for f, c in pairs if f[key]]
            if ratios:
                result["ratio"][key] = statistics.median(ratios)
    return result


def catalogue_text(connector):
    """The connector's "tools/list" result as compact JSON text, checked."""
    process = connector.start()
    process.send(request(1, "tools/list"))
    result = json.loads(process.lines(1)[0])["result"]
    process.finish()
    if not catalogue(1, result):
        raise Failure("tools/list gave no catalogue")
    return json.dumps(result, separators=(",", ":"), ensure_ascii=False)


def benchmark(build, count, program):
    connector = Subject("connector", [program or os.path.join(build, "vesk-connector"), "--chat", "bench"], False)
    # The same connector spoken to in the 2026-07-28 revision, measured beside the legacy requests.
    modern = Subject("connector, 2026-07-28", connector.argv, False, modern=True)
    responder = Subject("floor-responder", [os.path.join(build, "bench", "floor-responder")], True)
    # For "tools/list" the floor answers with the catalogue's own text, taken from the connector.
    listing = Subject("floor-responder", responder.argv + [catalogue_text(connector)], True)
    bridge = Subject("floor-bridge", [os.path.join(build, "bench", "floor-bridge")], True)
    with tempfile.TemporaryDirectory(prefix="vesk-bench-") as folder:
        fast, slow = Host(build, folder, 0), Host(build, folder, 500)
        mega, most = Host(build, folder, 0, 1000000), Host(build, folder, 0, 3900000)
        try:
            return {
                "cold": cold_starts(connector, responder, 30 * count),
                "ping": rounds(count, lambda s: pipelined(s, "ping", 20000, empty), connector, responder),
                "list": rounds(count, lambda s: pipelined(s, "tools/list", 5000, catalogue), connector, listing),
                "list_alone": rounds(count, lambda s: unread(s, "tools/list", 20000), connector, listing),
                "list_modern": rounds(count, lambda s: pipelined(s, "tools/list", 5000, catalogue), modern, connector),
                "latency": sequential(connector, bridge, fast, 2000 * count),
                "latency_modern": sequential(modern, connector, fast, 2000 * count),
                "calls": rounds(count, lambda s: calls(s, fast, 10000, "settle"), connector, bridge),
                "wide": rounds(count, lambda s: calls(s, slow, 1000, "exit"), connector, bridge),
                "mega": sequential(connector, bridge, mega, 10 * count),
                "most": sequential(connector, bridge, most, 5 * count),
                # Half a gigabyte through one host thread: one round, in turn.
                "burst": rounds(1, lambda s: calls(s, mega, 500, "settle"), connector, bridge),
            }
        finally:
            for host in (fast, slow, mega, most):
                host.stop()


# Each row: label, scenario, figure, unit, scale, goal text, test of (value, ratio) against the goal.
ROWS = [
    ("cold start, spawn to initialize answer", "cold", "start_ms", "ms", 1, "<= 2x floor",
     lambda v, r: r <= 2),
    ("exit after end of input", "cold", "exit_ms", "ms", 1, "<= 1 ms", lambda v, r: v <= 1),
    ("peak RSS, idle", "cold", "idle_rss_kb", "MB", 1 / 1024, "<= 4 MB", lambda v, r: v <= 4096),
    ("ping, 20,000 pipelined", "ping", "per_s", "/s", 1, ">= 0.30x floor", lambda v, r: r >= 0.3),
    ("tools/list, 5,000 pipelined", "list", "per_s", "/s", 1, ">= 150,000/s",
     lambda v, r: v >= 150000),
    ("  the same, 20,000 into /dev/null", "list_alone", "per_s", "/s", 1, "", None),
    ("  the same in 2026-07-28 (beside: legacy)", "list_modern", "per_s", "/s", 1,
     ">= 0.95x legacy", lambda v, r: r >= 0.95),
    ("tool call, sequential, median", "latency", "median_us", "us", 1, "<= 1.0x floor",
     lambda v, r: r <= 1.0),
    ("tool call, sequential, p90", "latency", "p90_us", "us", 1, "", None),
    ("  median in 2026-07-28 (beside: legacy)", "latency_modern", "median_us", "us", 1,
     "<= 1.05x legacy", lambda v, r: r <= 1.05),
    ("tool calls, 10,000 pipelined", "calls", "per_s", "/s", 1, ">= 1.3x floor",
     lambda v, r: r >= 1.3),
    ("  peak RSS", "calls", "rss_kb", "MB", 1 / 1024, "<= 16 MB", lambda v, r: v <= 16 * 1024),
    ("  peak threads (sampled)", "calls", "threads", "", 1, "<= floor", lambda v, r: r <= 1),
    ("  CPU per call (user + system)", "calls", "cpu_us", "us", 1, "", None),
    ("  back to 1 thread after the burst", "calls", "settle_s", "s", 1, "<= 10 s",
     lambda v, r: v <= 10),
    ("  RSS once back to 1 thread", "calls", "settled_rss_kb", "MB", 1 / 1024, "", None),
    ("1,000 calls at 500 ms, wall", "wide", "wall_s", "s", 1, "<= 1.05x floor",
     lambda v, r: r <= 1.05),
    ("  peak RSS, 1,000 in flight", "wide", "rss_kb", "MB", 1 / 1024, "<= 25 MB",
     lambda v, r: v <= 25 * 1024),
    ("  peak threads (sampled)", "wide", "threads", "", 1, ">= 1,001 (all at once)",
     lambda v, r: v >= 1001),
    ("  exit right after, workers still there", "wide", "exit_ms", "ms", 1, "", None),
    ("tool call, 1 MB reply, median", "mega", "median_us", "us", 1, "<= 1.5x floor",
     lambda v, r: r <= 1.5),
    ("tool call, 3.9 MB reply, median", "most", "median_us", "us", 1, "<= 1.5x floor",
     lambda v, r: r <= 1.5),
    ("500 calls with 1 MB replies at once, wall", "burst", "wall_s", "s", 1, "", None),
    ("  peak RSS", "burst", "rss_kb", "MB", 1 / 1024, "", None),
    ("  RSS once back to 1 thread", "burst", "settled_rss_kb", "MB", 1 / 1024, "", None),
]


def number(value, scale, unit=""):
    value *= scale
    if not unit:  # a count
        return f"{value:,.0f}"
    if value >= 1000:
        return f"{value:,.0f}"
    return f"{value:.3g}" if value < 10 else f"{value:.1f}"


def table(results):
    lines = ["| figure | connector | floor | ratio | goal | met |", "|---|---|---|---|---|---|"]
    for label, scenario, key, unit, scale, goal, test in ROWS:
        figures = results[scenario]
        value = figures["connector"][key]
        floor = figures["floor"].get(key)
        # The floor has no workers to wait for, so a ratio to its few microseconds says nothing.
        ratio = None if key == "settle_s" else figures["ratio"].get(key)
        met = "" if test is None else ("yes" if test(value, ratio if ratio is not None else 0) else "NO")
        lines.append(f"| {label} | {number(value, scale, unit)} {unit} | "
                     f"{number(floor, scale, unit) + ' ' + unit if floor is not None else '-'} | "
                     f"{f'{ratio:.2f}' if ratio is not None else '-'} | {goal} | {met} |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", help="the CMake build folder")
    parser.add_argument("--rounds", type=int, default=3, help="rounds of every scenario")
    parser.add_argument("--connector", help="the connector binary (default: BUILD/vesk-connector)")
    parser.add_argument("--json", help="also write the figures here")
    parser.add_argument("--svg", help="also draw the ratios to the floor here")
    args = parser.parse_args()
    try:
        results = benchmark(args.build, args.rounds, args.connector)
    except Failure as failure:
        print(f"benchmark failed: {failure}", file=sys.stderr)
        return 1
    print(table(results))
    if args.json:
        with open(args.json, "w") as out:
            json.dump(results, out, indent=1)
    if args.svg:
        with open(args.svg, "w") as out:
            out.write(chart(results))
    return 0


if __name__ == "__main__":
    sys.exit(main())
