"""The installer's window seen from outside, for the end-to-end tests and the demo: its controls
read through winprobe (a Windows program run under the same Wine server), driven by real input
events through xdotool."""
import os
import subprocess
import time

CAPTION = "Velmora Tizen Installer"
APP_ID = "Kx7RmVq2Tz.Velmora"
TEXTS = {
    "installing": ("Выполняется установка виджета", "Widget installation in progress"),
    "done": ("Процесс установки завершен. Проверьте наличие виджета в SmartHub Вашего ТВ.",
             "Installation process is complete. Check presence of widget in SmartHub of Your TV."),
    "failed": ("При установке виджета произошли ошибки. Установка не выполнена.",
               "There were errors while installing the widget. Installation failed."),
    "bad_ip": ("IP Адрес ТВ не задан или имеет не верный формат.",
               "IP Address TV is not set or has the wrong format."),
    "install_button": ("Установить Виджет", "Widget Install"),
}
# A telling piece of each cause's message, as it reads for the TV at 127.0.0.1 on loopback.
CAUSES = {
    "unreachable": ("Телевизор не отвечает по адресу 127.0.0.1:", "The TV does not answer at 127.0.0.1:"),
    "developer_mode_off": ("На телевизоре выключен режим разработчика.", "Developer mode is off on the TV."),
    "other_host_pc": ("только от другого компьютера (192.0.2.7).", "only from another PC (192.0.2.7)."),
    "not_in_effect": ("он ещё не вступил в силу", "it has not taken effect yet"),
    "no_connection": ("Не удалось подключиться к телевизору 127.0.0.1.", "could not connect to the TV at 127.0.0.1."),
    "locked": ("Телевизор заблокирован.", "The TV is locked."),
    "wrong_series_jk": ("Выберите серию \"J,K\"", "Choose the series \"J,K\""),
    "author": ("подписанная другим автором", "signed by someone else"),
    "no_space": ("не хватает свободного места", "not enough free space"),
    "not_kept": ("виджета нет в списке его приложений", "the widget is not in its app list"),
}
SERIES = ("J,K", "M,N,Q,R,T")


class Failure(Exception):
    pass


def run(cmd, timeout=30, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, **kw)


class Window:
    """The installer's window, read through winprobe and driven through xdotool."""

    def __init__(self, winprobe, xid):
        self.winprobe = winprobe
        self.xid = xid

    def controls(self):
        out = run(["wine", self.winprobe, "dump", CAPTION]).stdout
        rows = []
        for line in out.splitlines():
            parts = line.split("\t")
            if len(parts) == 4:
                left, top, width, height = (int(v) for v in parts[3].split(","))
                rows.append({"class": parts[0], "text": parts[1].replace("\\n", "\n"),
                             "pos": int(parts[2]), "rect": (left, top, width, height)})
        return rows

    def find(self, text, cls=None):
        for c in self.controls():
            if c["text"] == text and (cls is None or c["class"].lower() == cls.lower()):
                return c
        raise Failure(f"no control with the text {text!r}")

    def click(self, control, button=1):
        left, top, width, height = control["rect"]
        run(["xdotool", "mousemove", "--window", self.xid, str(left + min(width // 2, 8)),
             str(top + height // 2), "click", str(button)])
        time.sleep(0.3)

    def edit(self):
        return next(c for c in self.controls() if c["class"].lower() == "edit")

    def status(self):
        known = {t for pair in TEXTS.values() for t in pair}
        prompt = [c["text"] for c in self.controls() if c["class"] == "VelmoraLabel" and c["text"] in known]
        return prompt[0] if prompt else None

    def progress(self):
        return next(c["pos"] for c in self.controls() if c["class"] == "msctls_progress32")

    def boxes(self):
        out = run(["wine", self.winprobe, "boxes"]).stdout
        return [line.split("\t", 1)[1].replace("\\n", "\n") for line in out.splitlines() if "\t" in line]

    def answer_boxes(self):
        run(["wine", self.winprobe, "answer"])

    def shoot(self, path):
        geo = dict(line.split("=") for line in run(["xdotool", "getwindowgeometry", "--shell", self.xid]).stdout.split())
        run(["import", "-window", "root", "-crop", f"{geo['WIDTH']}x{geo['HEIGHT']}+{geo['X']}+{geo['Y']}",
             "+repage", path])




def open_window(installer, winprobe, cwd, env=None):
    """Starts the installer in cwd; returns its process and its window once shown."""
    process = subprocess.Popen(["wine", os.path.abspath(installer)], cwd=cwd, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(900):  # a loaded machine can take long to start Wine
        xid = run(["xdotool", "search", "--onlyvisible", "--name", f"^{CAPTION}$"]).stdout.split()
        if xid:
            time.sleep(1)
            return process, Window(os.path.abspath(winprobe), xid[0])
        time.sleep(0.1)
    process.kill()
    raise Failure("the window did not appear")


def close_window(process, window):
    run(["xdotool", "key", "--window", window.xid, "alt+F4"])
    try:
        process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        process.kill()


def choose_and_type(window, series, address):
    """Picks the TV series and types the address into the field, as a user does."""
    window.click(window.find(SERIES[series]))
    window.click(window.edit())
    run(["xdotool", "type", "--delay", "50", address])


def press_install(window):
    window.click(window.find(TEXTS["install_button"][0]))


def wait_for_final_text(window, lang, bound_s, during=None):
    """Polls the status label until it shows the done or the failed text of lang; calls during
    once while the installation runs. Returns the text (the last one seen past the bound) and the
    seconds it took. A message box does not end the wait: the final text is set before it."""
    finals = {TEXTS["done"][lang], TEXTS["failed"][lang]}
    started = time.monotonic()
    status = None
    while time.monotonic() - started < bound_s:
        status = window.status()
        if during and status == TEXTS["installing"][0]:
            during(window)
            during = None
        if status in finals and during is None:
            return status, time.monotonic() - started
        time.sleep(0.5)
    return status, time.monotonic() - started
