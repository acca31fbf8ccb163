#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The built application's tray item as a StatusNotifierItem panel (sni_panel.py) meets it, in a
private D-Bus session under xvfb-run or weston-run.sh; the bundle is in KELVRA_TEST_BUNDLE_DIR."""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

import dbus

import sni_panel

BUNDLE = Path(os.environ["KELVRA_TEST_BUNDLE_DIR"])
WAYLAND = "WAYLAND_DISPLAY" in os.environ
ENTRIES = ["Open Control Page", "Copy URL", "Settings…", "Clicker Distributor…",
           "Check for Updates…", "About Kelvra Hub", "Quit Kelvra Hub"]


def wait_for(condition, limit=20):
    """Polls `condition` until it gives a true value or `limit` seconds pass; its last value."""
    deadline = time.monotonic() + limit
    while True:
        try:
            value = condition()
        except (dbus.DBusException, LookupError, StopIteration):
            value = None
        if value or time.monotonic() > deadline:
            return value
        time.sleep(0.1)


class DBusTrayTest(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.dir)
        home, bin_dir = self.dir / "home", self.dir / "bin"
        settings = home / ".config/Morvane/Kelvra Hub/settings.json"
        settings.parent.mkdir(parents=True)
        with socket.socket() as probe:  # a port of its own, beside other tests' servers
            probe.bind(("127.0.0.1", 0))
            settings.write_text(json.dumps({"showWelcomeWindowAtStartup": False,
                                            "hubServerPort": probe.getsockname()[1]}))
        self.log = home / ".local/state/Morvane/Kelvra Hub/kelvra-hub.log"
        bin_dir.mkdir()
        # The browser records what it is asked to open; the server waits for the test's word.
        for name, body in [("xdg-open", f'echo "$1" >> {self.dir}/opened'),
                           ("node", f"until [ -e {self.dir}/go ]; do sleep 0.1; done\n"
                                    f'exec {BUNDLE}/Helpers/node "$@"')]:
            (bin_dir / name).write_text(f"#!/bin/sh\n{body}\n")
            (bin_dir / name).chmod(0o700)
        self.env = dict(os.environ, HOME=str(home), PATH=f"{bin_dir}:/usr/bin:/bin",
                        QT_QPA_PLATFORM="wayland" if WAYLAND else "xcb")
        if not WAYLAND:  # the compositor's runner gives one of its own
            self.env["XDG_RUNTIME_DIR"] = str(self.dir)
        self.bus = dbus.SessionBus()

    def start(self, name, *command):
        with open(self.dir / name, "w") as output:
            process = subprocess.Popen(command, env=self.env, stdout=output,
                                       stderr=subprocess.STDOUT)
        self.addCleanup(lambda: process.poll() is None and (process.kill(), process.wait()))
        return process

    def start_panel(self):
        self.start("panel.out", sys.executable, sni_panel.__file__)
        self.assertTrue(wait_for(lambda: "watching" in self.read("panel.out")))

    def launch(self):
        return self.start("app.out", str(BUNDLE / "bin/kelvra-hub"), "--dev-root",
                          str(BUNDLE / "Resources/app"))

    def read(self, name):
        path = self.dir / name
        return path.read_text() if path.exists() else ""

    def entries(self):
        return [entry[1:] for entry in sni_panel.layout(self.bus)]

    def windows(self):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--classname",
                                "^kelvra-hub$"], env=self.env, capture_output=True, text=True)
        return found.stdout.split()

    def test_the_menu_follows_the_server_and_every_entry_works(self):
        self.start_panel()
        app = self.launch()
        self.assertTrue(wait_for(lambda: sni_panel.items(self.bus)), self.read("app.out"))
        props = sni_panel.props(self.bus)
        self.assertEqual([props[name] for name in
                          ["Title", "ToolTip", "Id", "Category", "Status", "ItemIsMenu"]],
                         ["Kelvra Hub", "Kelvra Hub — Starting…", "com.morvane.KelvraHub",
                          "ApplicationStatus", "Active", True])
        # By name from the bundle's theme, and as a picture that stands out on any panel.
        self.assertTrue((Path(props["IconThemePath"]) / "hicolor/scalable/apps"
                         / (props["IconName"] + ".svg")).is_file(), props)
        for panel in [(0x20, 0x20, 0x20), (0xf0, 0xf0, 0xf0)]:
            self.assertGreaterEqual(sni_panel.contrast(props["IconPixmap"], panel), 3, panel)
        # The status line's symbol once: its icon, drawn in colour.
        self.assertEqual(self.entries(), [(False, "Starting Kelvra Hub…", True)]
                         + [(label not in ENTRIES[:2], label, False) for label in ENTRIES])

        (self.dir / "go").touch()
        self.assertTrue(wait_for(lambda: sni_panel.props(self.bus)["ToolTip"] == "Kelvra Hub"),
                        self.read("app.out") + self.log.read_text() + self.read("panel.out"))
        url = self.log.read_text().split("Backend ready at ", 1)[1].split(".\n", 1)[0]
        running = "Running on " + url.split("//")[1].rstrip("/")
        self.assertEqual(self.entries(), [(False, running, True)]
                         + [(True, label, False) for label in ENTRIES])
        self.assertIn("PropertiesUpdated", self.read("panel.out"))

        sni_panel.click(self.bus, "Open Control Page")
        self.assertEqual(wait_for(lambda: self.read("opened")), url + "\n")
        if WAYLAND:  # no seat there: no clipboard, no keyboard for the alerts
            sni_panel.click(self.bus, "Copy URL")  # nobody may own the clipboard: said so
            self.assertTrue(wait_for(lambda: "Could not copy" in self.log.read_text()))
            app.send_signal(signal.SIGTERM)
        else:
            sni_panel.click(self.bus, "Copy URL")
            self.assertTrue(wait_for(lambda: subprocess.run(
                ["xclip", "-o", "-selection", "clipboard"], env=self.env, capture_output=True,
                text=True).stdout == url))
            sni_panel.activate(self.bus)
            self.assertTrue(wait_for(self.windows), "a left click shows no menu")
            subprocess.run(["xdotool", "key", "Escape"], env=self.env)
            self.assertTrue(wait_for(lambda: not self.windows()))
            for label in ["Settings", "Clicker Distributor", "About", "Quit"]:
                shown = set(self.windows())
                sni_panel.click(self.bus, label)
                self.assertTrue(wait_for(lambda: set(self.windows()) - shown), label)
            # The keys go to the confirmation once it has the focus, not while it takes it.
            alert = (set(self.windows()) - shown).pop()
            subprocess.run(["xdotool", "windowfocus", "--sync", alert, "key", "Return"],
                           env=self.env)
        self.assertEqual(app.wait(10), 0)
        self.assertTrue(wait_for(lambda: not sni_panel.items(self.bus)))

    def test_a_panel_that_comes_late_or_restarts_gets_the_item_and_loses_it_on_a_fatal_error(self):
        (self.dir / "go").touch()
        self.env["KELVRA_HUB_TRAY_WAIT_SECONDS"] = "1"
        app = self.launch()
        # The wait for a panel is over: the welcome window stands in for the tray.
        self.assertTrue(wait_for(self.windows), self.read("app.out"))
        for start in ["late", "restarted"]:
            panel = self.start("panel.out", sys.executable, sni_panel.__file__)
            self.assertTrue(wait_for(lambda: sni_panel.items(self.bus)), start)
            if start == "late":
                panel.kill()
                panel.wait()
        # Made late, the item still carries what the menu and tooltip became meanwhile.
        self.assertTrue(wait_for(lambda: sni_panel.props(self.bus)["ToolTip"] == "Kelvra Hub"))
        self.assertTrue(self.entries()[0][1].startswith("Running on "), self.entries())
        backend = int(self.log.read_text().split("Started backend PID ", 1)[1].split(".")[0])
        os.kill(backend, signal.SIGKILL)
        self.assertTrue(wait_for(lambda: not sni_panel.items(self.bus)), "the item outlived it")
        self.assertIsNone(app.poll())
        app.send_signal(signal.SIGTERM)
        self.assertEqual(app.wait(10), 0)


if __name__ == "__main__":
    unittest.main()
