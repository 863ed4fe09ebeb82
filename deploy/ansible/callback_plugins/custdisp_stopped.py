# A run of custdisp.yml that ends before its recap (Ctrl-C, an error of
# Ansible's own) prints only Ansible's error: this says whether its report
# was written, and which command shows where each display now stands.
# Ansible loads it for the playbooks of this folder; it speaks only after
# custdisp.yml's controller tasks, and changes nothing.
import atexit
import glob
import os
import re
import shlex
import sys

from ansible.plugins.callback import CallbackBase

DOCUMENTATION = """
name: custdisp_stopped
type: notification
short_description: say what a custdisp.yml run stopped before its end left behind
description:
  - When a run of custdisp.yml ends before Ansible's recap (Ctrl-C), says
    whether the run's report was written and gives the check to run next.
"""

# Options that make a run a download, a parameters run or a dry run; the check
# is the same command without them.
DROPPED_WITH_VALUE = ("-t", "--tags")
DROPPED = ("-C", "--check")


def check_command(argv, image_known):
    words, skip = ["ansible-playbook"], False
    for word in argv[1:]:
        if skip:
            skip = False
        elif word in DROPPED_WITH_VALUE:
            skip = True
        elif not (word in DROPPED or word.startswith("--tags=") or re.match(r"-t.", word)):
            words.append(word)
    # A parameters run names no image; the check needs one.
    if not image_known and not any("custdisp_image" in w for w in words):
        words += ["-e", "custdisp_image=IMAGE"]
    return shlex.join(words)


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = "notification"
    CALLBACK_NAME = "custdisp_stopped"
    CALLBACK_NEEDS_ENABLED = False

    def __init__(self):
        super().__init__()
        self._facts = {}
        self._ended = False
        self._pid = os.getpid()
        atexit.register(self._say)

    def v2_runner_on_ok(self, result):
        # The controller's facts of the run (tasks/controller.yml): its start,
        # report folder and image, wherever the image was given.
        facts = result._result.get("ansible_facts", {})
        for key in ("__custdisp_started", "__custdisp_report_path", "__custdisp_image"):
            if key in facts:
                self._facts[key] = facts[key]

    def v2_playbook_on_stats(self, stats):
        self._ended = True

    def _say(self):
        # Forks inherit the hook; only the controller's own process speaks.
        if self._ended or os.getpid() != self._pid or "__custdisp_started" not in self._facts:
            return
        folder, started = self._facts["__custdisp_report_path"], self._facts["__custdisp_started"]
        written = sorted(glob.glob(os.path.join(glob.escape(folder), f"custdisp-*-{started}.json")))
        what = (f"its report: {', '.join(written)} (and .csv)" if written
                else f"no report was written (in {folder})")
        self._display.display(
            f"custdisp: the run stopped before its end: {what}. To see where each display stands (each PC's "
            f"display record), run the check: {check_command(sys.argv, '__custdisp_image' in self._facts)}", stderr=True)
