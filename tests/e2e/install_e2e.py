#!/usr/bin/env python3
"""The whole installation as a user meets it: the real installer under Wine on the test display,
driven by input events (xdotool), installing onto tvsim on 127.0.0.1:26101 from a working folder
with a Cyrillic name. One run per scenario; each must end in bounded time with the right status
text, the bar at 100 and no payload left behind.

The installer's command lines name port 26101 and the tool's server uses 26099, so the whole test
runs in a network namespace of its own (and so does the Wine server it starts): nothing else on
this machine can take those ports from it, and nothing leaves the namespace's loopback.

Usage: install_e2e.py --installer EXE --winprobe EXE --tvsim TVSIM --iu IU --certs DIR
                      --artifacts DIR [--only NAME...]
Needs DISPLAY and WINEPREFIX (scripts/env.sh).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from typing import Callable, Optional

from installer_window import (APP_ID, CAUSES, TEXTS, Failure, choose_and_type, close_window, open_window, press_install, run,
                              wait_for_final_text)

RUN_BOUND_S = 150  # the longest a scenario may take from the click to the final text

def enter_namespace():
    """Re-runs this script in a fresh network namespace with only a loopback interface."""
    if os.environ.get("VELMORA_E2E_NETNS") == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        return
    # Our Wine server must start inside the namespace: Wine's sockets are made by the server.
    subprocess.run(["wineserver", "-k"], capture_output=True)
    subprocess.run(["wineserver", "-w"], capture_output=True)
    unshare = ["unshare", "-n"] if os.geteuid() == 0 else ["unshare", "-rn"]
    env = dict(os.environ, VELMORA_E2E_NETNS="1")
    sys.exit(subprocess.run(unshare + [sys.executable] + sys.argv, env=env).returncode)


@dataclass
class Scenario:
    name: str
    tv: Optional[list]          # tvsim options, None: nothing listens on 26101
    series: int = 1
    address: str = "127.0.0.1"
    paste: Optional[str] = None  # pasted through the field's context menu instead of typed
    during: Optional[Callable] = None  # done once the status shows the installation running
    outcome: str = "done"        # done | failed | rejected
    lang: int = 0                # the language of the final texts
    logs: dict = field(default_factory=dict)  # step log -> text it must hold
    installed: bool = False
    cause: Optional[str] = None  # the failure's explanation expected in a message box (CAUSES)


SUCCESS_LOGS = {
    "step1.txt": "connected to 127.0.0.1:26101",
    "step2.txt": "127.0.0.1:26101",
    "step4.txt": "cmd_ret:",
    "step5.txt": "1 file(s) pushed. 0 file(s) skipped.",
    "step6.txt": f"app_id[{APP_ID}] install completed",
    "step7.txt": f"'{APP_ID}'",
}


def switch_to_english(window):
    window.click(window.find("ENG"))


SCENARIOS = [
    Scenario("2016-series-JK", ["--generation", "2016"], series=0, logs=SUCCESS_LOGS, installed=True),
    Scenario("2019-series-MNQRT-second-click", ["--generation", "2019"], series=1, logs=SUCCESS_LOGS,
             installed=True, during=press_install),
    Scenario("package-rejected-language-switch", ["--generation", "2019", "--fault", "install:-11"],
             outcome="failed", lang=1, during=switch_to_english, cause="author",
             logs={"step6.txt": "install failed[118, -11]"}),
    Scenario("no-tv-listening", None, outcome="failed", cause="unreachable",
             logs={"step1.txt": "failed to connect"}),
    Scenario("developer-mode-off", ["--developer-mode", "off", "--info-port", "8001"], outcome="failed",
             cause="developer_mode_off"),
    Scenario("tv-accepts-another-pc", ["--host-pc", "192.0.2.7", "--info-port", "8001"], outcome="failed",
             cause="other_host_pc", logs={"step1.txt": "failed to connect"}),
    Scenario("developer-mode-not-in-effect", ["--developer-mode", "not-restarted", "--info-port", "8001"],
             outcome="failed", cause="not_in_effect"),
    Scenario("tv-refuses-and-says-nothing", ["--host-pc", "192.0.2.7", "--info-port", "8001", "--info-status", "404"],
             outcome="failed", cause="no_connection"),
    Scenario("tv-locked", ["--locked"], outcome="failed", cause="locked"),
    Scenario("wrong-series", ["--generation", "2016"], series=1, outcome="failed", cause="wrong_series_jk"),
    Scenario("no-space-on-tv", ["--generation", "2019", "--fault", "install:116"], outcome="failed",
             cause="no_space", logs={"step6.txt": "download failed[116]"}),
    Scenario("tv-forgets-the-widget", ["--fault", "forget-install"], outcome="failed", cause="not_kept"),
    Scenario("hostile-address-pasted", ["--generation", "2019"], paste="1.2.3.4 & echo x> pwned.txt",
             outcome="rejected"),
]


class Runner:
    def __init__(self, args):
        self.args = args
        self.root = tempfile.mkdtemp(prefix="velmora-e2e-")
        os.makedirs(args.artifacts, exist_ok=True)

    def start_tv(self, scenario, state):
        log = open(os.path.join(self.args.artifacts, f"e2e-{scenario.name}-tvsim.log"), "w")
        tv = subprocess.Popen([self.args.tvsim, "--listen", "127.0.0.1:26101", "--state", state,
                               "--author-ca", os.path.join(self.args.certs, "author-ca.pem"),
                               "--distributor-ca", os.path.join(self.args.certs, "distributor-ca.pem")]
                              + scenario.tv, stdout=log, stderr=subprocess.STDOUT)
        for _ in range(100):
            if "listening on" in open(log.name).read():
                return tv
            time.sleep(0.05)
        raise Failure("tvsim did not start: " + open(log.name).read())

    def tv_apps(self):
        env = dict(os.environ, IU_SERVER_PORT="26150")
        try:
            run([self.args.iu, "connect", "127.0.0.1:26101"], env=env)
            return run([self.args.iu, "shell", "0", "applist"], env=env).stdout
        finally:
            run([self.args.iu, "kill-server"], env=env)

    def scenario(self, s):
        work = os.path.join(self.root, s.name, "Загрузки пользователя")
        os.makedirs(work)
        tv = self.start_tv(s, os.path.join(self.root, s.name, "tv")) if s.tv else None
        try:
            # The tool's wire trace of every step, kept beside the screenshots for a failure's
            # post-mortem (a Windows path: iu.exe and its server open it).
            trace = os.path.join(self.args.artifacts, f"e2e-{s.name}-iu-trace.txt")
            if os.path.exists(trace):
                os.remove(trace)
            env = dict(os.environ, IU_TRACE="Z:" + trace.replace("/", "\\"))
            installer, window = open_window(self.args.installer, self.args.winprobe, work, env)
            try:
                return self.drive(s, work, window)
            except Failure:
                # What the user would have: the step logs, for the report.
                if os.path.isdir(os.path.join(work, "doLog")):
                    shutil.copytree(os.path.join(work, "doLog"),
                                    os.path.join(self.args.artifacts, f"e2e-{s.name}-doLog"), dirs_exist_ok=True)
                raise
            finally:
                close_window(installer, window)
        finally:
            if tv:
                tv.terminate()
                tv.wait()

    def drive(self, s, work, window):
        if s.paste:
            run(["wine", self.args.winprobe, "clip", s.paste])
            window.click(window.edit(), button=3)
            run(["xdotool", "key", "p"])  # the context menu's Paste
            time.sleep(0.5)
            if window.edit()["text"] != s.paste:
                raise Failure(f"the paste did not reach the field: {window.edit()['text']!r}")
        else:
            choose_and_type(window, s.series, s.address)
        window.shoot(os.path.join(self.args.artifacts, f"e2e-{s.name}-before.png"))
        press_install(window)

        if s.outcome == "rejected":
            for _ in range(50):
                boxes = window.boxes()
                if boxes:
                    break
                time.sleep(0.2)
            window.answer_boxes()
            if boxes != [TEXTS["bad_ip"][s.lang]]:
                raise Failure(f"expected the bad-address box, saw {boxes}")
            time.sleep(1)
            left = os.listdir(work)
            if left:
                raise Failure(f"a rejected address left files: {left}")
            return

        status, took = wait_for_final_text(window, s.lang, RUN_BOUND_S, s.during)
        window.shoot(os.path.join(self.args.artifacts, f"e2e-{s.name}-after.png"))
        expected = TEXTS[s.outcome][s.lang]
        if status != expected:
            raise Failure(f"status after {took:.0f} s is {status!r}, expected {expected!r}; boxes: {window.boxes()}")
        time.sleep(0.5)
        boxes = window.boxes()
        window.answer_boxes()
        if s.cause:
            if len(boxes) != 1 or CAUSES[s.cause][s.lang] not in boxes[0]:
                raise Failure(f"expected one box saying {CAUSES[s.cause][s.lang]!r}, saw {boxes}")
        elif s.outcome == "done" and boxes:
            raise Failure(f"a successful run showed {boxes}")
        if window.progress() != 100:
            raise Failure(f"the bar stands at {window.progress()}")
        time.sleep(1)  # the tool's last process lets go of iu.exe
        for payload in ("iu.exe", "Velmora.wgt"):
            if os.path.exists(os.path.join(work, payload)):
                raise Failure(f"{payload} was left in the working folder")
        for log, text in s.logs.items():
            path = os.path.join(work, "doLog", log)
            content = open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else "<missing>"
            if text not in content:
                raise Failure(f"doLog/{log} lacks {text!r}: {content!r}")
        if s.installed:
            missing = [f"step{i}.txt" for i in range(1, 8) if not os.path.exists(os.path.join(work, "doLog", f"step{i}.txt"))]
            if missing:
                raise Failure(f"step logs missing: {missing}")
            apps = self.tv_apps()
            if f"'{APP_ID}'" not in apps:
                raise Failure(f"the widget is not in the TV's app list: {apps!r}")
        return took


def main():
    parser = argparse.ArgumentParser()
    for name in ("installer", "winprobe", "tvsim", "iu", "certs", "artifacts"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--only", nargs="*")
    args = parser.parse_args()
    for name in ("installer", "winprobe", "tvsim", "iu", "certs", "artifacts"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    enter_namespace()
    runner = Runner(args)
    passed = failed = 0
    try:
        for s in SCENARIOS:
            if args.only and s.name not in args.only:
                continue
            try:
                took = runner.scenario(s)
                print(f"PASS {s.name}" + (f" ({took:.1f} s)" if took else ""), flush=True)
                passed += 1
            except (Failure, subprocess.TimeoutExpired) as e:
                print(f"FAIL {s.name}: {e}", flush=True)
                failed += 1
    finally:
        subprocess.run(["wineserver", "-k"], capture_output=True)
        shutil.rmtree(runner.root, ignore_errors=True)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
