#!/usr/bin/env python3
"""Runs every command that README.md and docs/*.md give, as written, and
checks every relative link between them (its file and its #heading), every
file of the checkout they name in backticks, the options of every command
of the three programs they quote in backticks, and that the download's state
diagram names only states of src/isp/ispsession.h.

Usage: run_doc_commands.py REPO BINDIR [PAGE...]

Code blocks, by the word after the fence:
  sh          run with bash -e, in a scratch folder (below); a non-zero exit fails
  sh no-run   not run here (Windows, MSVC, MSYS2, installing the package); counted
  bat wine    not run here: scripts/test-windows runs it under Wine, as written
  bat, powershell, console, bash: must say no-run too, or be sh
  anything else (text, mermaid, json, ...) is not a command

The scratch folder of a block is a view of the checkout: a link to each of
its top-level entries, `build` linked to the build, and beside them
`firmware.bin`, an image of 1000 bytes. Each block gets two simulated
displays of its own, $DEV and $DEV2 naming their devices, and starts from a
fresh configuration, as a reader starting there has: no saved port map, no
display record (XDG_CONFIG_HOME, HOME and CUSTDISP_RECORD_DIR are the
block's own). What a block uses it maps itself. "Com 1" to "Com 4" unmapped
are the PC's own ports (/dev/ttyS0 ...): the block runs where those are
hidden (a mount namespace, each covered by an empty file), so one it uses
without mapping fails it, and nothing a block does opens a device this test
did not make. Where no namespace can be made, a saved map points all four
at devices that do not exist instead. The programs of BINDIR come first on
PATH.

A block that starts the window (custdisp, scripts/run) holds nothing else
that runs: the window waits until it is closed, and a reader running the
block would wait there.

Commands that only mean something on a whole machine are checked instead of
run: the program (or script) must exist, and every option the command gives
must be in its --help. They are the lines that start with the window
(custdisp, whatever its folder) or:
"""
import hashlib
import os
import re
import shlex
import signal
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

# The window opens and waits; the scripts build, test or benchmark for
# minutes; cmake, cpack and ctest build or run the whole suite; Ansible needs
# PCs. Keep this list short: everything else runs.
CHECKED = ("custdisp", "scripts/", "bench/", "cmake", "cpack", "ctest", "ansible-playbook")
__doc__ += "  " + ", ".join(CHECKED) + "\n"

SHELLS = {"sh", "bash", "console", "bat", "powershell", "shell"}
FENCE = re.compile(r"^(\s*)```(.*)$")
LINK = re.compile(r"!?\[(?:[^\]\[]|\[[^\]]*\])*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
# A runnable block never names a real port: those belong in no-run blocks or prose.
REAL_DEVICE = re.compile(r"/dev/tty[A-Za-z]|/dev/serial/|\bCOM[0-9]")
BLOCK_TIMEOUT = 180
# The devices "Com 1" to "Com 4" name on a PC where nothing was mapped.
OWN_PORTS = [f"/dev/ttyS{n}" for n in range(4)]


def blocks(page):
    """(line, info, text) of every fenced block."""
    out, inside, info, start, body = [], False, "", 0, []
    for n, line in enumerate(page.read_text(encoding="utf-8").splitlines(), 1):
        m = FENCE.match(line)
        if not inside and m:
            inside, info, start, body = True, m.group(2).strip(), n, []
        elif inside and m and not m.group(2).strip():
            out.append((start, info, "\n".join(body) + "\n"))
            inside = False
        elif inside:
            body.append(line)
    return out


def slug(heading):
    s = heading.strip().lower()
    s = re.sub(r"[`*_]", "", s)
    s = re.sub(r"[^\w\- ]", "", s)
    return s.replace(" ", "-")


def prose(page):
    """The page without its fenced blocks."""
    out, inside = [], False
    for line in page.read_text(encoding="utf-8").splitlines():
        m = FENCE.match(line)
        if m and (not inside or not m.group(2).strip()):
            inside = not inside
        elif not inside:
            out.append(line)
    return "\n".join(out)


def anchors(page):
    text = prose(page)
    return {slug(m.group(1)) for m in re.finditer(r"^#+\s+(.*)$", text, re.M)}


def check_links(repo, pages):
    errors = []
    for page in pages:
        for m in LINK.finditer(prose(page)):
            target = m.group(1)
            if re.match(r"^[a-z]+:", target):
                continue
            path, _, frag = target.partition("#")
            dest = (page.parent / path).resolve() if path else page
            where = f"{page.relative_to(repo)}: link {target}"
            if not dest.exists():
                errors.append(f"{where}: no such file")
            elif repo.resolve() not in dest.parents and dest != repo.resolve():
                errors.append(f"{where}: outside the repository")
            elif frag and dest.suffix == ".md" and frag not in anchors(dest):
                errors.append(f"{where}: no heading '{frag}' there")
    return errors


# A file of the checkout named in the text (`src/isp/ispsession.h`); NAME,
# FILE and the like stand for any.
REPO_PATH = re.compile(r"`((?:src|tests|scripts|docs|deploy|bench|cmake|packaging|completion)/[\w./-]*)`")


def check_paths(repo, pages):
    errors = []
    for page in pages:
        for m in REPO_PATH.finditer(prose(page)):
            path = m.group(1)
            if re.search(r"\b[A-Z]{3,}\b", path) or "*" in path or path.endswith("..."):
                continue
            if not (repo / path).exists():
                errors.append(f"{page.relative_to(repo)}: names {path}: no such file")
    return errors


def check_states(repo, pages):
    """The download's diagram names only states the session has."""
    errors = []
    header = (repo / "src/isp/ispsession.h").read_text()
    enum = re.search(r"enum class State \{(.*?)\};", header, re.S)
    states = set(re.findall(r"^\s*(\w+),", enum.group(1), re.M)) if enum else set()
    for page in pages:
        for line, info, text in blocks(page):
            if info.split()[:1] != ["mermaid"] or "stateDiagram" not in text:
                continue
            drawn = set(re.findall(r"(\w+)\s*-->\s*(?:\w+)", text)) | set(re.findall(r"-->\s*(\w+)", text))
            for name in sorted(drawn - states):
                errors.append(f"{page.relative_to(repo)}:{line}: state {name} is not in src/isp/ispsession.h")
    return errors


def logical_lines(text):
    """Lines with their backslash continuations joined."""
    out, cur = [], ""
    for line in text.splitlines():
        if line.endswith("\\"):
            cur += line[:-1] + " "
            continue
        out.append(cur + line)
        cur = ""
    if cur:
        out.append(cur)
    return out


def without_assignments(words):
    """The command without the VAR=value words before it."""
    while words and re.match(r"^[A-Za-z_][A-Za-z0-9_]*=", words[0]):
        words = words[1:]
    return words


def is_checked(line):
    words = without_assignments(line.split())
    if not words:
        return False
    first = words[0]
    return Path(first).name == "custdisp" or any(first == c or (c.endswith("/") and first.startswith(c)) for c in CHECKED)


# cmake lists the options of its build and install modes only there.
MORE_HELP = {"cmake": (["--build"], ["--install"])}


def help_text(program, env, cwd):
    text = ""
    for args in (["--help"], *MORE_HELP.get(Path(program).name, ())):
        p = subprocess.run([program, *args], cwd=cwd, env=env, capture_output=True, text=True, timeout=60)
        text += p.stdout + p.stderr
    return text


def check_command(line, env, cwd):
    """A command checked, not run: it exists and knows every option it is given."""
    # What is commented out is prose, and "..." stands for the rest of a command.
    words = without_assignments(shlex.split(line, comments=True))
    program = words[0]
    if "/" in program:
        path = Path(cwd) / program
        if not (path.is_file() and os.access(path, os.X_OK)):
            return f"{program}: no such program"
        # The scripts take their arguments, not options: being there is the check.
        if program.startswith(("scripts/", "bench/")):
            return None
        program = str(path)
    elif not any((Path(d) / program).is_file() for d in env["PATH"].split(os.pathsep)):
        return f"{program}: not installed"
    # --name[=value], or -X with its value attached (-DNAME=VALUE).
    options = [w.split("=")[0] if w.startswith("--") else w[:2] for w in words[1:] if w.startswith("-") and w != "--"]
    if not options:
        return None
    known = help_text(program, env, cwd)
    missing = [o for o in options if not re.search(r"(^|[\s,\[|])" + re.escape(o) + r"(?![\w-])", known, re.M)]
    return f"{program}: not in its --help: {', '.join(missing)}" if missing else None


# A command quoted in the text (`custdisp-cli isp --trace -p N FILE`).
INLINE_COMMAND = re.compile(r"`((?:custdisp|custdisp-cli|custdisp-sim) [^`]*)`")


def check_inline_commands(repo, bindir, pages):
    """Commands quoted in the text know the options they give."""
    env = dict(os.environ, PATH=f"{bindir}{os.pathsep}{os.environ.get('PATH', '')}", QT_QPA_PLATFORM="offscreen")
    errors = []
    for page in pages:
        for m in INLINE_COMMAND.finditer(prose(page)):
            try:
                why = check_command(m.group(1), env, repo)
            except ValueError:  # not a whole command: an unbalanced quote
                continue
            if why:
                errors.append(f"{page.relative_to(repo)}: `{m.group(1)}`: {why}")
    return errors


def opens_window(line):
    words = without_assignments(line.split())
    return bool(words) and (Path(words[0]).name == "custdisp" or words[0] == "scripts/run")


def can_hide_ports():
    """Whether a user and mount namespace can be made here to hide the PC's ports."""
    try:
        return subprocess.run(["unshare", "--user", "--map-root-user", "--mount", "true"],
                              capture_output=True, timeout=30).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def start_display(folder, name, env):
    log = folder / f".{name}.log"
    proc = subprocess.Popen(["custdisp-sim"], stdout=log.open("w"), stderr=subprocess.STDOUT,
                            env=env, start_new_session=True)
    for _ in range(100):
        text = log.read_text() if log.exists() else ""
        if text.strip():
            return proc, text.splitlines()[0].strip()
        time.sleep(0.05)
    proc.kill()
    raise RuntimeError("custdisp-sim printed no device")


def scratch(repo, bindir):
    folder = Path(tempfile.mkdtemp(prefix="custdisp-doc-"))
    for entry in repo.iterdir():
        if entry.name not in (".git", "build"):
            (folder / entry.name).symlink_to(entry)
    (folder / "build").symlink_to(bindir.parent)
    # Not all zeros: the simulated display's second hash leaves out trailing zeros.
    (folder / "firmware.bin").write_bytes(b"".join(hashlib.sha256(bytes([i])).digest() for i in range(32))[:1000])
    return folder


def run_block(repo, bindir, page, line, text, hide_ports):
    folder = scratch(repo, bindir)
    env = dict(os.environ)
    env.update(PATH=f"{bindir}{os.pathsep}{env.get('PATH', '')}", HOME=str(folder / "home"),
               XDG_CONFIG_HOME=str(folder / "config"), QT_QPA_PLATFORM="offscreen",
               CUSTDISP_RECORD_DIR=str(folder / "record"))
    (folder / "home").mkdir()
    displays = []
    try:
        for name in ("DEV", "DEV2"):
            proc, device = start_display(folder, name, env)
            displays.append(proc)
            env[name] = device
        script, problems, command = [], [], ["bash", "-e", "-o", "pipefail", "-c"]
        if hide_ports:
            # Each of the PC's own ports covered by an empty file, for this block only.
            (folder / ".blank").touch()
            script.append(f'for d in {" ".join(OWN_PORTS)}; do [ ! -e "$d" ] || mount --bind .blank "$d"; done')
            command = ["unshare", "--user", "--map-root-user", "--mount", *command]
        else:
            (folder / "config" / "custdisp").mkdir(parents=True)
            (folder / "config" / "custdisp" / "ports.ini").write_text(
                "[ports]\n" + "".join(f"com{n}={folder}/no-such-device-{n}\n" for n in range(1, 5)))
        for cmd in logical_lines(text):
            if is_checked(cmd.strip()):
                why = check_command(cmd.strip(), env, folder)
                if why:
                    problems.append(why)
                script.append(":  # checked, not run: " + cmd.strip())
            else:
                script.append(cmd)
        if problems:
            return "\n".join(problems)
        # Output to a file, not a pipe: a display the block leaves running
        # would hold a pipe open.
        output = folder / ".output"
        with output.open("wb") as sink:
            proc = subprocess.Popen([*command, "\n".join(script)], cwd=folder, env=env,
                                    stdout=sink, stderr=subprocess.STDOUT, start_new_session=True)
            try:
                proc.wait(timeout=BLOCK_TIMEOUT)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
            finally:
                # Whatever the block left running (a simulated display it started).
                try:
                    os.killpg(proc.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        out = output.read_bytes().decode(errors="replace")
        if proc.returncode == -signal.SIGKILL:
            return f"still running after {BLOCK_TIMEOUT} s\n{out}"
        if proc.returncode != 0:
            if re.search(r"^COM [1-4]: not available", out, re.M):
                out += ("(the block starts with no saved port map: the Com N it uses unmapped is the PC's own "
                        "port, hidden here; map it in the block, as a reader would)\n")
            return f"exit {proc.returncode}\n{out}"
        return None
    finally:
        for d in displays:
            d.terminate()
            d.wait(timeout=10)
        subprocess.run(["rm", "-rf", str(folder)])


def main():
    repo, bindir = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    pages = [Path(p).resolve() for p in sys.argv[3:]] or [repo / "README.md", *sorted((repo / "docs").glob("*.md"))]
    failures = check_links(repo, pages) + check_paths(repo, pages) + check_states(repo, pages)
    failures += check_inline_commands(repo, bindir, pages)
    ran = skipped = 0
    hide_ports = can_hide_ports()
    if not hide_ports:
        print("note: no mount namespace here; Com 1 to Com 4 point at devices that do not exist instead")
    # Each block has its folder and displays of its own, and mostly waits on
    # them: a few run side by side; their results are printed in page order.
    runs = []
    with ThreadPoolExecutor(max_workers=4) as pool:
        for page in pages:
            for line, info, text in blocks(page):
                words = info.split()
                lang = words[0] if words else ""
                where = f"{page.relative_to(repo)}:{line}"
                if lang not in SHELLS:
                    continue
                if "no-run" in words[1:] or words == ["bat", "wine"]:
                    skipped += 1
                    print(f"not run: {where}" + (" (the Windows stage runs it under Wine)" if "wine" in words else ""))
                    continue
                if lang != "sh":
                    failures.append(f"{where}: a ```{lang} block runs nowhere here: make it sh, or mark it no-run")
                    continue
                if REAL_DEVICE.search(text):
                    failures.append(f"{where}: a runnable block names a real device; use $DEV")
                    continue
                lines = [cmd.strip() for cmd in logical_lines(text)]
                window = next((re.sub(r"\s+#.*", "", cmd) for cmd in lines if opens_window(cmd)), None)
                runnable = [re.sub(r"\s+#.*", "", cmd) for cmd in lines if cmd and not cmd.startswith("#") and not is_checked(cmd)]
                if window and runnable:
                    failures.append(f"{where}: '{window}' opens the window, which waits until it is closed, and the "
                                    f"block also runs '{runnable[0]}': give the window a block of its own")
                    continue
                runs.append((where, pool.submit(run_block, repo, bindir, page, line, text, hide_ports)))
        for where, run in runs:
            why = run.result()
            ran += 1
            print(f"{'FAIL' if why else 'ok'}: {where}")
            if why:
                failures.append(f"{where}: {why}")
    for f in failures:
        print(f, file=sys.stderr)
    print(f"{ran} blocks run, {skipped} not run, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
