#!/usr/bin/env python3
"""Drives the installer window for the headless demo as a person would: types the TV's address,
presses the install button and waits for the final text, with screenshots before and after."""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from installer_window import choose_and_type, close_window, open_window, press_install, wait_for_final_text  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    for name in ("installer", "winprobe", "cwd", "shots"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    process, window = open_window(args.installer, args.winprobe, args.cwd)
    try:
        window.shoot(os.path.join(args.shots, "window-before.png"))
        choose_and_type(window, 1, "127.0.0.1")
        press_install(window)
        print("demo: typed 127.0.0.1 and pressed the install button", flush=True)
        status, took = wait_for_final_text(window, 0, 300)
        window.shoot(os.path.join(args.shots, "window-after.png"))
        print(f"demo: after {took:.0f} s the window says: {status}")
        print(f"demo: screenshots in {args.shots}: window-before.png, window-after.png")
    finally:
        close_window(process, window)


if __name__ == "__main__":
    main()
