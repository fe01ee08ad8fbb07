#!/usr/bin/python3
"""The installed program under Xvfb, driven by real pointer events.

Installs the build into a temporary prefix, writes a four-track disc image and a settings file,
starts the program on the image, then with xdotool: right-clicks the list, picks "Select &All",
clicks the MP3 button and waits for the four MP3 files with their title tags; drags the window by
its background; closes it with its close button. Then SIGINT during a job, SIGTERM over the
options dialog and SIGHUP at rest must each close it the same way.

Usage: rip_under_x.py BUILD_DIR [SHOTS_DIR]
With SHOTS_DIR, screenshots of each step are saved there. Exits 77 (skipped) when Xvfb or xdotool
is missing.
"""

import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import math

SKIP = 77
TRACKS = 4
SECTORS_PER_TRACK = 150  # two seconds each


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def write_disc(folder, sectors=SECTORS_PER_TRACK):
    """A CUE sheet and a raw BIN of little-endian stereo CD audio, a chord per track."""
    bin_path = os.path.join(folder, "e2e.bin")
    cue_path = os.path.join(folder, "e2e.cue")
    frames = sectors * 588
    with open(bin_path, "wb") as out:
        for track in range(TRACKS):
            base = 220.0 * (1 + track / 4.0)
            block = bytearray()
            for n in range(frames):
                t = n / 44100.0
                v = 0.3 * math.sin(2 * math.pi * base * t) + 0.2 * math.sin(
                    2 * math.pi * base * 1.5 * t)
                s = int(v * 32767)
                block += struct.pack("<hh", s, -s)
            out.write(block)
    cue = ['FILE "e2e.bin" BINARY']
    for track in range(TRACKS):
        start = track * sectors
        cue.append("  TRACK %02d AUDIO" % (track + 1))
        cue.append("    INDEX 01 %02d:%02d:%02d" % (start // 4500, start // 75 % 60, start % 75))
    with open(cue_path, "w") as out:
        out.write("\n".join(cue) + "\n")
    return cue_path


def write_long_disc(folder, seconds):
    """A two-track image whose first track takes a while to encode, the second two seconds."""
    second = bytearray()
    for n in range(44100):
        v = int(0.3 * math.sin(2 * math.pi * 440 * n / 44100.0) * 32767)
        second += struct.pack("<hh", v, -v)
    with open(os.path.join(folder, "long.bin"), "wb") as out:
        out.write(bytes(second) * (seconds + 2))
    start = seconds * 75
    cue_path = os.path.join(folder, "long.cue")
    with open(cue_path, "w") as out:
        out.write('FILE "long.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n'
                  "  TRACK 02 AUDIO\n    INDEX 01 %02d:%02d:00\n" % (start // 4500, start // 75 % 60))
    return cue_path


def run(args, env, check=True):
    result = subprocess.run(args, env=env, capture_output=True, text=True)
    if check and result.returncode != 0:
        fail("%s: %s" % (" ".join(args), result.stderr.strip()))
    return result.stdout


class Session:
    def __init__(self, env, shots):
        self.env = env
        self.shots = shots

    def xdo(self, *args, check=True):
        return run(["xdotool"] + [str(a) for a in args], self.env, check)

    def windows(self, pid):
        out = self.xdo("search", "--onlyvisible", "--pid", pid, check=False)
        return [w for w in out.split() if w]

    def geometry(self, window):
        values = {}
        for line in self.xdo("getwindowgeometry", "--shell", window).splitlines():
            key, _, value = line.partition("=")
            values[key] = int(value) if value.lstrip("-").isdigit() else value
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    def shot(self, name):
        if self.shots:
            run(["import", "-window", "root", os.path.join(self.shots, "frame-%s.png" % name)],
                self.env)

    def main_window(self, program):
        """The window of `program` once it shows; a program that ends first fails with its
        output."""
        def started():
            if program.poll() is not None:
                fail("the program ended at start: " + program.stdout.read())
            return self.windows(program.pid)

        return self.wait_for("the main window", started)[0]

    def wait_for(self, what, test, timeout=30.0):
        end = time.time() + timeout
        while time.time() < end:
            value = test()
            if value:
                return value
            time.sleep(0.1)
        fail("timed out waiting for " + what)


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    build = os.path.abspath(sys.argv[1])
    shots = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    for tool in ("Xvfb", "xdotool"):
        if shutil.which(tool) is None:
            print("SKIP: %s is not installed" % tool)
            return SKIP

    work = tempfile.mkdtemp(prefix="tarvik-e2e-")
    xvfb = program = None
    try:
        prefix = os.path.join(work, "prefix")
        run(["cmake", "--install", build, "--prefix", prefix], os.environ.copy())
        tarvik = os.path.join(prefix, "bin", "tarvik")
        if not os.access(tarvik, os.X_OK):
            fail("the install put no program in " + tarvik)

        home = os.path.join(work, "home")
        config = os.path.join(home, ".config")
        music = os.path.join(home, "out")
        os.makedirs(os.path.join(config, "tarvik"))
        os.makedirs(music)
        with open(os.path.join(config, "tarvik", "tarvik.ini"), "w") as ini:
            ini.write("[System]\nOutDir=%s\nOpenWhenDone=0\n" % music)
        disc = write_disc(work)

        read_fd, write_fd = os.pipe()
        # Without -noreset the server resets when its last client leaves, and a program started
        # at that moment cannot connect: each case here starts the program anew.
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-noreset", "-screen", "0",
                                 "1024x768x24", "-nolisten", "tcp"], pass_fds=[write_fd],
                                stderr=subprocess.DEVNULL)
        os.close(write_fd)
        display = b""
        while not display.endswith(b"\n"):
            chunk = os.read(read_fd, 16)
            if not chunk:
                break
            display += chunk
        display = display.decode().strip()
        os.close(read_fd)
        if not display:
            print("SKIP: Xvfb did not start")
            return SKIP

        env = dict(os.environ)
        env.update({"DISPLAY": ":" + display, "HOME": home, "XDG_CONFIG_HOME": config,
                    "XDG_RUNTIME_DIR": work, "CDRIP_DRIVES": disc, "QT_QPA_PLATFORM": "xcb",
                    "SDL_AUDIODRIVER": "dummy"})
        session = Session(env, shots)
        program = subprocess.Popen([tarvik], env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True)
        window = session.main_window(program)
        time.sleep(0.5)
        x, y, width, height = session.geometry(window)
        if (width, height) != (638, 480):
            fail("the window is %dx%d" % (width, height))
        session.xdo("mousemove", x + 320, y + 40)
        time.sleep(0.3)
        session.shot("rest")

        def at(cx, cy):
            session.xdo("mousemove", x + cx, y + cy)
            time.sleep(0.15)

        # The context menu of the list, and its first item.
        at(300, 260)
        session.xdo("click", 3)
        menu = session.wait_for("the context menu",
                                lambda: [w for w in session.windows(program.pid) if w != window])
        time.sleep(0.3)
        session.shot("menu")
        mx, my, _, _ = session.geometry(menu[0])
        session.xdo("mousemove", mx + 30, my + 12)
        time.sleep(0.3)
        session.xdo("click", 1)
        session.wait_for("the menu to close", lambda: session.windows(program.pid) == [window])

        # The MP3 button lights under the pointer and its click runs the job.
        at(58, 228)
        at(60, 226)
        session.shot("lit")
        session.xdo("click", 1)
        expected = []

        def files():
            # A track being written is hidden until it is complete.
            names = sorted(n for n in os.listdir(music)
                           if n.endswith(".mp3") and not n.startswith("."))
            return names if len(names) == TRACKS else None

        names = session.wait_for("four MP3 files", files, timeout=60)
        session.wait_for("the job to close",
                         lambda: session.windows(program.pid) == [window], timeout=60)
        check = subprocess.run(
            ["/usr/bin/python3", "-c",
             "import sys, mutagen.id3, mutagen.mp3\n"
             "for p in sys.argv[1:]:\n"
             "    info = mutagen.mp3.MP3(p).info\n"
             "    title = str(mutagen.id3.ID3(p)['TIT2'])\n"
             "    print(p.rsplit('/', 1)[-1], title, info.sample_rate, info.channels,"
             " round(info.length, 1))\n"] + [os.path.join(music, n) for n in names],
            capture_output=True, text=True)
        if check.returncode != 0:
            fail("mutagen: " + check.stderr.strip())
        for line in check.stdout.splitlines():
            name, rest = line.split(".mp3 ", 1)
            title, rate, channels, length = rest.rsplit(" ", 3)
            if title != name:
                fail("%s.mp3 carries the title %r" % (name, title))
            if (rate, channels) != ("44100", "2") or abs(float(length) - 2.0) > 0.2:
                fail("%s.mp3 is %s Hz, %s channels, %s s" % (name, rate, channels, length))
            expected.append(name)
        print("ripped:", ", ".join(expected))

        # Dragging by the background, well away from every hot area.
        at(320, 40)
        session.xdo("mousedown", 1)
        for step in range(1, 6):
            session.xdo("mousemove", x + 320 + 10 * step, y + 40 + 8 * step)
            time.sleep(0.05)
        session.xdo("mouseup", 1)
        time.sleep(0.3)
        nx, ny, _, _ = session.geometry(window)
        if (nx - x, ny - y) != (50, 40):
            fail("the drag moved the window by %d,%d" % (nx - x, ny - y))
        x, y = nx, ny
        print("dragged by 50,40")

        # The close button ends the program, which saves its settings.
        at(608, 25)
        at(610, 26)
        session.xdo("click", 1)
        try:
            code = program.wait(timeout=15)
        except subprocess.TimeoutExpired:
            fail("the close button did not end the program")
        if code != 0:
            fail("the program ended with %d: %s" % (code, program.stdout.read()))
        program = None
        with open(os.path.join(config, "tarvik", "tarvik.ini")) as ini:
            if "OutDir=" + music not in ini.read():
                fail("the settings file lost the output folder")
        print("closed cleanly")

        signal_cases(tarvik, env, work)
        return 0
    finally:
        if program is not None:
            program.kill()
            program.wait()
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)


def signal_cases(tarvik, base_env, work):
    """SIGINT during a job, SIGTERM over a dialog and SIGHUP at rest close the program as its
    close box does: the job is cancelled as Cancel cancels it, the settings are saved, and the
    process ends with 128 plus the signal."""
    long_disc = write_long_disc(work, 240)
    for number, (sig, during) in enumerate([(signal.SIGINT, "job"), (signal.SIGTERM, "dialog"),
                                            (signal.SIGHUP, "rest")]):
        home = os.path.join(work, "signal%d" % number)
        config = os.path.join(home, ".config")
        music = os.path.join(home, "out")
        os.makedirs(os.path.join(config, "tarvik"))
        os.makedirs(music)
        ini_path = os.path.join(config, "tarvik", "tarvik.ini")
        with open(ini_path, "w") as ini:
            ini.write("[System]\nOutDir=%s\nOpenWhenDone=0\n" % music)
        env = dict(base_env, HOME=home, XDG_CONFIG_HOME=config, CDRIP_DRIVES=long_disc)
        session = Session(env, None)
        program = subprocess.Popen([tarvik], env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True)
        try:
            window = session.main_window(program)
            time.sleep(0.5)
            x, y, _, _ = session.geometry(window)

            def at(cx, cy):
                session.xdo("mousemove", x + cx, y + cy)
                time.sleep(0.15)

            def others():
                return [w for w in session.windows(program.pid) if w != window]

            if during == "job":
                at(550, 129)  # the select-all box
                session.xdo("click", 1)
                at(58, 228)
                at(60, 226)
                session.xdo("click", 1)
                session.wait_for("the job window", others)
                session.wait_for("the first track under way",
                                 lambda: [n for n in os.listdir(music) if n.startswith(".")])
                time.sleep(0.5)
            elif during == "dialog":
                at(320, 40)
                session.xdo("click", 1)
                session.xdo("key", "ctrl+o")
                session.wait_for("the options dialog", others)
            program.send_signal(sig)
            try:
                code = program.wait(timeout=30)
            except subprocess.TimeoutExpired:
                fail("%s during the %s did not end the program" % (sig.name, during))
            output = program.stdout.read()
            program = None
        finally:
            if program is not None:
                program.kill()
                program.wait()
        if code != 128 + sig:
            fail("%s during the %s: exit status %d, not %d: %s"
                 % (sig.name, during, code, 128 + sig, output))
        with open(ini_path) as ini:
            saved = ini.read()
        if "[MP3]" not in saved or "OutDir=" + music not in saved:
            fail("%s during the %s: the settings were not saved: %r" % (sig.name, during, saved))
        names = sorted(os.listdir(music))
        if during == "job":
            # The track being extracted is kept, finished and tagged, as Cancel keeps it; the
            # next one is never begun.
            if names != ["Track01.mp3"]:
                fail("%s during the job left %s" % (sig.name, names))
            check = subprocess.run(
                ["/usr/bin/python3", "-c",
                 "import sys, mutagen.id3, mutagen.mp3\n"
                 "p = sys.argv[1]\n"
                 "print(str(mutagen.id3.ID3(p)['TIT2']), mutagen.mp3.MP3(p).info.length)\n",
                 os.path.join(music, names[0])], capture_output=True, text=True)
            if check.returncode != 0:
                fail("mutagen on the cancelled track: " + check.stderr.strip())
            title, length = check.stdout.split()
            if title != "Track01" or not 0 < float(length) < 240:
                fail("the cancelled track reads as %r, %s s" % (title, length))
            print("%s during the job: cancelled track kept (%.1f s), settings saved, status %d"
                  % (sig.name, float(length), code))
        else:
            if names:
                fail("%s during the %s wrote %s" % (sig.name, during, names))
            print("%s during the %s: settings saved, status %d" % (sig.name, during, code))


if __name__ == "__main__":
    sys.exit(main())
