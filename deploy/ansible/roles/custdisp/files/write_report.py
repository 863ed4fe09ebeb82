"""Writes a run's JSON and CSV report together: both, whole, or neither.

Usage: write_report.py BASE    (stdin: {"json": TEXT, "csv": TEXT})
Each is written beside its place under a passing name and synced; the two
are then renamed into place with Ctrl-C, termination and hang-up held off,
so that a run stopped meanwhile leaves both or neither (a report read
without its other half would pass for the whole run's). Held off only for
the renames: a stop while writing still ends it, leaving nothing.
"""
import json
import os
import signal
import sys


def stop(signum, frame):
    raise KeyboardInterrupt


base = sys.argv[1]
texts = json.load(sys.stdin)
folder, name = os.path.split(base)
stops = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}
for s in stops - {signal.SIGINT}:
    signal.signal(s, stop)
passing = {}
try:
    for kind in ("csv", "json"):
        passing[kind] = os.path.join(folder, f".{name}.{kind}.{os.getpid()}")
        fd = os.open(passing[kind], os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write(texts[kind])
            f.flush()
            os.fsync(f.fileno())
    signal.pthread_sigmask(signal.SIG_BLOCK, stops)
    os.replace(passing.pop("csv"), f"{base}.csv")
    try:
        os.replace(passing.pop("json"), f"{base}.json")
    except OSError:
        os.unlink(f"{base}.csv")
        raise
    signal.pthread_sigmask(signal.SIG_UNBLOCK, stops)
    dirfd = os.open(folder, os.O_RDONLY)
    try:
        os.fsync(dirfd)
    finally:
        os.close(dirfd)
finally:
    for path in passing.values():
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass
