#!/usr/bin/python3
"""The installed program on the command line, without a display.

Installs the build into a temporary prefix and writes a four-track disc image (CD-Text titles on
two tracks, the last track data). Then: --version, --help and the manual page; every usage error
with its exit status and the argument it names; --list; a rip of 1,3 to MP3 decoded by mpg123 and
tagged as mutagen reads it; a WAV rip read by sox; --overwrite never against an existing file;
the window still starting for the options a desktop session passes.

Usage: cli_end_to_end.py BUILD_DIR
Everything is written under one temporary folder (HOME and XDG_CONFIG_HOME included).
"""

import gzip
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

TRACKS = [("Morning Café", 150), (None, 75), ("Évening", 113), ("DATA", 75)]


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def write_disc(folder):
    """A UTF-8 CUE sheet and a raw BIN of little-endian stereo CD audio; the last track data."""
    bin_path = os.path.join(folder, "album.bin")
    cue = ['TITLE "Command Line Album"', 'PERFORMER "The Testers"', 'FILE "album.bin" BINARY']
    start = 0
    with open(bin_path, "wb") as out:
        for number, (title, sectors) in enumerate(TRACKS, 1):
            data = title == "DATA"
            cue.append("  TRACK %02d %s" % (number, "MODE1/2352" if data else "AUDIO"))
            if title and not data:
                cue.append('    TITLE "%s"' % title)
            cue.append("    INDEX 01 %02d:%02d:%02d" % (start // 4500, start // 75 % 60, start % 75))
            if data:
                out.write(bytes(2352 * sectors))
            else:
                base = 220.0 * (1 + number / 4.0)
                block = bytearray()
                for n in range(sectors * 588):
                    v = 0.3 * math.sin(2 * math.pi * base * n / 44100.0)
                    block += struct.pack("<hh", int(v * 32767), int(-v * 32767))
                out.write(block)
            start += sectors
    cue_path = os.path.join(folder, "album.cue")
    with open(cue_path, "w", encoding="utf-8") as out:
        out.write("\n".join(cue) + "\n")
    return cue_path


class Program:
    def __init__(self, tarvik, env):
        self.tarvik = tarvik
        self.env = env

    def run(self, *args, stdin=subprocess.DEVNULL, timeout=120):
        return subprocess.run([self.tarvik] + list(args), env=self.env, stdin=stdin,
                              capture_output=True, text=True, timeout=timeout)

    def expect(self, status, *args):
        r = self.run(*args)
        if r.returncode != status:
            fail("tarvik %s: exit %d, expected %d\n%s%s" % (" ".join(args), r.returncode, status,
                                                             r.stdout, r.stderr))
        return r


def check_usage(p, cue):
    """Each usage error ends with 2, a message naming the argument and the short usage."""
    cases = [
        (["--frobnicate"], "--frobnicate"),
        (["--rip", "--mp3", "--out"], "--out"),
        (["--rip", "--mp3", "--wav"], "--wav"),
        (["--rip", "--mp3", "--mp3"], "--mp3"),
        (["--rip"], "--mp3"),
        (["--rip", "--wav", "--tracks", "1,x"], "1,x"),
        (["--rip", "--wav", "--overwrite", "sometimes"], "sometimes"),
        (["--list", "--rip"], "--rip"),
        (["--list", "--drive", "9"], "9"),
        (["--list", "--drive", "/nonexistent/disc.cue"], "/nonexistent/disc.cue"),
        (["stray"], "stray"),
    ]
    for args, named in cases:
        r = p.expect(2, *args)
        if named not in r.stderr or "Usage: tarvik" not in r.stderr:
            fail("tarvik %s: the message does not name %r:\n%s" % (" ".join(args), named,
                                                                   r.stderr))


def check_hostile_images(p, work):
    """Images that crash libcdio are refused with their reason; the program lives on to say so."""
    nrg = os.path.join(work, "broken.nrg")
    with open(nrg, "wb") as f:
        f.write(b"\0" * 2400 + b"CUEX" + b"\xff" * 4 + b"\0" * 20 + b"NERO" +
                (2400).to_bytes(4, "big"))
    toc = os.path.join(work, "broken.toc")
    with open(toc, "w") as f:
        f.write('TRACK MODE2\nDATAFILE "%s"\n' % toc)
    r = subprocess.run([p.tarvik, "--list"], env=dict(p.env, CDRIP_DRIVES=nrg + ":" + toc),
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
    for told in ["broken.nrg cannot be used: libcdio", "broken.toc cannot be used: libcdio crashed",
                 "No drive is listed"]:
        if r.returncode != 1 or told not in r.stderr:
            fail("tarvik --list over broken images: exit %d, %r not told:\n%s%s"
                 % (r.returncode, told, r.stdout, r.stderr))
    r = p.expect(2, "--list", "--drive", nrg)
    if "cannot be opened as a disc image or drive: libcdio" not in r.stderr:
        fail("tarvik --list --drive over a broken image does not say why:\n" + r.stderr)


def check_byte_path(p, work, cue):
    """A disc image whose name is not UTF-8 (file names are bytes) is listed and read."""
    folder = os.path.join(os.fsencode(work), b"M\xfasica")
    os.makedirs(folder)
    for ext in [b".cue", b".bin"]:
        shutil.copy(os.fsencode(cue[:-4]) + ext, os.path.join(folder, b"caf\xe9" + ext))
    r = subprocess.run([os.fsencode(p.tarvik), b"--list", b"--drive",
                        os.path.join(folder, b"caf\xe9.cue")], env=p.env,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    if r.returncode != 0 or b"Morning Caf\xc3\xa9" not in r.stdout:
        fail("a disc image named in Latin-1 bytes is not listed: exit %d\n%r\n%r"
             % (r.returncode, r.stdout, r.stderr))


def check_manual(prefix):
    # Installed compressed, as Debian wants manual pages.
    page = os.path.join(prefix, "share", "man", "man1", "tarvik.1.gz")
    if not os.path.isfile(page):
        fail("no manual page installed at " + page)
    if shutil.which("groff"):
        with gzip.open(page, "rb") as source:
            text = source.read().decode()
        r = subprocess.run(["groff", "-ww", "-man", "-z"], input=text, capture_output=True,
                           text=True)
        if r.returncode != 0 or r.stderr.strip():
            fail("groff warns about the manual page:\n" + r.stderr)
    else:
        print("groff missing: the manual page's rendering is not checked")


def main():
    build = os.path.abspath(sys.argv[1])
    work = tempfile.mkdtemp(prefix="tarvik-cli-")
    try:
        prefix = os.path.join(work, "prefix")
        subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True,
                       capture_output=True)
        home = os.path.join(work, "home")
        os.makedirs(home)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   CDRIP_DRIVES="", LC_ALL="C.UTF-8")
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        env.pop("QT_QPA_PLATFORM", None)
        p = Program(os.path.join(prefix, "bin", "tarvik"), env)
        cue = write_disc(work)

        if p.expect(0, "--version").stdout.strip() != "tarvik 2.3":
            fail("--version does not say tarvik 2.3")
        help_text = p.expect(0, "--help").stdout
        for option in ["--list", "--rip", "--mp3", "--wav", "--tracks", "--out", "--drive",
                       "--overwrite", "--quiet", "--help", "--version"]:
            if option not in help_text:
                fail("--help does not describe " + option)
        check_manual(prefix)
        check_usage(p, cue)
        check_hostile_images(p, work)
        check_byte_path(p, work, cue)

        listing = p.expect(0, "--list", "--drive", cue).stdout
        for expected in ["album.cue", "01  audio      0      0:02  Morning Café",
                         "02  audio    150      0:01  Track02",
                         "03  audio    225      0:01  Évening", "04  data     338",
                         "Command Line Album / The Testers"]:
            if expected not in listing:
                fail("--list lacks %r:\n%s" % (expected, listing))

        rip_tests(p, work, cue)
        folder_tests(p, work)
        window_test(p)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("command line end to end: passed")


def tool(*args):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=120)


def check_mp3(path, title, sectors, work):
    """mpg123 decodes it at 44100 Hz stereo to the track's length; mutagen reads its title."""
    wav = os.path.join(work, "decoded.wav")
    r = tool("mpg123", "-q", "-w", wav, path)
    if r.returncode != 0:
        fail("mpg123 cannot decode %s: %s" % (path, r.stderr))
    with open(wav, "rb") as f:
        head = f.read(44)
        frames = (os.path.getsize(wav) - 44) // 4
    channels, rate = struct.unpack("<HI", head[22:28])
    if (rate, channels) != (44100, 2) or abs(frames - sectors * 588) > 1152:
        fail("%s decodes to %d Hz, %d channels, %d frames" % (path, rate, channels, frames))
    r = tool("/usr/bin/python3", "-c",
             "import sys\nfrom mutagen.id3 import ID3\n"
             "print(ID3(sys.argv[1]).get('TIT2').text[0])", path)
    if r.returncode != 0 or r.stdout.strip() != title:
        fail("mutagen reads the title of %s as %r: %s" % (path, r.stdout.strip(), r.stderr))


def rip_tests(p, work, cue):
    out = os.path.join(work, "out")
    # A track the disc does not have is a usage error, noticed once the disc is read.
    r = p.expect(2, "--rip", "--wav", "--drive", cue, "--tracks", "2-7", "--out", out)
    if "2-7" not in r.stderr or os.path.exists(out):
        fail("--tracks 2-7 on a four-track disc: %s" % r.stderr)

    p.expect(0, "--rip", "--mp3", "--tracks", "1,3", "--drive", cue, "--out", out)
    names = sorted(os.listdir(out))
    if names != ["Morning Café.mp3", "Évening.mp3"]:
        fail("the MP3 rip of 1,3 made %s" % names)
    check_mp3(os.path.join(out, "Morning Café.mp3"), "Morning Café", TRACKS[0][1], work)
    check_mp3(os.path.join(out, "Évening.mp3"), "Évening", TRACKS[2][1], work)

    # Every audio track to WAV, named as the window names them: the data track is left out.
    wavs = os.path.join(work, "wav")
    p.expect(0, "--rip", "--wav", "--drive", cue, "--out", wavs, "--quiet")
    for name, sectors in [("Morning Café.wav", 150), ("Track02.wav", 75), ("Évening.wav", 113)]:
        r = tool("soxi", "-s", os.path.join(wavs, name))
        if r.returncode != 0 or int(r.stdout.strip() or -1) != sectors * 588:
            fail("sox reads %s as %r samples: %s" % (name, r.stdout.strip(), r.stderr))
    if len(os.listdir(wavs)) != 3:
        fail("the WAV rip made %s" % os.listdir(wavs))

    # never: the existing file stays as it was, its track counts as not ripped.
    kept = os.path.join(wavs, "Track02.wav")
    with open(kept, "wb") as f:
        f.write(b"mine")
    r = p.expect(1, "--rip", "--wav", "--drive", cue, "--out", wavs, "--tracks", "2",
                 "--overwrite", "never")
    if open(kept, "rb").read() != b"mine" or "already exists" not in r.stderr:
        fail("--overwrite never replaced the file or said nothing: %s" % r.stderr)
    p.expect(0, "--rip", "--wav", "--drive", cue, "--out", wavs, "--tracks", "2",
             "--overwrite", "always")
    if os.path.getsize(kept) != 44 + 75 * 2352:
        fail("--overwrite always did not replace the file")
    # ask: the window's question; "replace all" answers it for the rest of the run.
    for name in ["Morning Café.wav", "Track02.wav"]:
        with open(os.path.join(wavs, name), "wb") as f:
            f.write(b"old")
    r = subprocess.run([p.tarvik, "--rip", "--wav", "--drive", cue, "--out", wavs, "--tracks",
                        "1-2", "--overwrite", "ask"], env=p.env, input="maybe\na\n",
                       capture_output=True, text=True, timeout=120)
    asked = r.stderr.count("already exists,do you want to replace it?")
    if r.returncode != 0 or asked != 2 or os.path.getsize(kept) == 3:
        fail("--overwrite ask: exit %d, asked %d times\n%s" % (r.returncode, asked, r.stderr))

    interrupt_test(p, work)


def interrupt_test(p, work):
    """Ctrl-C finishes the running track as Cancel does and starts no other: exit 130."""
    folder = os.path.join(work, "long")
    os.makedirs(folder)
    sectors = 75 * 120
    with open(os.path.join(folder, "long.bin"), "wb") as f:
        f.write(os.urandom(2352 * sectors * 2))
    with open(os.path.join(folder, "long.cue"), "w") as f:
        f.write('FILE "long.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n'
                "  TRACK 02 AUDIO\n    INDEX 01 02:00:00\n")
    out = os.path.join(work, "cancelled")
    rip = subprocess.Popen([p.tarvik, "--rip", "--mp3", "--drive",
                            os.path.join(folder, "long.cue"), "--out", out],
                           env=p.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True)
    deadline = time.time() + 60
    while not os.path.isdir(out) or not os.listdir(out):
        if time.time() > deadline or rip.poll() is not None:
            fail("the long rip never started a file")
        time.sleep(0.05)
    time.sleep(0.3)
    rip.send_signal(signal.SIGINT)
    stdout, stderr = rip.communicate(timeout=60)
    files = os.listdir(out)
    if rip.returncode != 130 or files != ["Track01.mp3"]:
        fail("after Ctrl-C: exit %d, files %s\n%s%s" % (rip.returncode, files, stdout, stderr))
    if "Cancelled" not in stdout:
        fail("the interrupted track is not reported as cancelled: " + stdout)


def write_plain_disc(folder, name, titles, sectors):
    """A CUE sheet of audio tracks of noise, `sectors` each, with the given CD-Text titles."""
    with open(os.path.join(folder, name + ".bin"), "wb") as f:
        f.write(os.urandom(2352 * sectors * len(titles)))
    lines = ['FILE "%s.bin" BINARY' % name]
    for number, title in enumerate(titles, 1):
        start = (number - 1) * sectors
        lines += ["  TRACK %02d AUDIO" % number, '    TITLE "%s"' % title,
                  "    INDEX 01 %02d:%02d:%02d" % (start // 4500, start // 75 % 60, start % 75)]
    path = os.path.join(folder, name + ".cue")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def write_settings(home, out_dir):
    folder = os.path.join(home, ".config", "tarvik")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "tarvik.ini"), "w") as f:
        f.write("[System]\nOutDir=%s\nOpenWhenDone=0\n" % out_dir)


def unfinished(folder):
    return sorted(n for n in os.listdir(folder) if n.startswith(".tarvik-"))


def folder_tests(p, work):
    """The folder and file rules on the command line: two tracks of one title, a hard link,
    a kill in the middle of a track and the sweep of the next start (command line and window),
    and output folders that are no full path, run where a mistake could not reach the root."""
    discs = os.path.join(work, "folder-discs")
    os.makedirs(discs)
    twins = write_plain_disc(discs, "twins", ["Twin", "Twin", "Twin"], 75)
    out = os.path.join(work, "folder-out")
    os.makedirs(out)
    outside = os.path.join(work, "outside.wav")
    with open(outside, "wb") as f:
        f.write(b"precious")
    os.link(outside, os.path.join(out, "Twin.wav"))
    p.expect(0, "--rip", "--wav", "--drive", twins, "--out", out, "--overwrite", "always")
    if sorted(os.listdir(out)) != ["Twin (2).wav", "Twin (3).wav", "Twin.wav"]:
        fail("three tracks titled Twin made %s" % sorted(os.listdir(out)))
    if open(outside, "rb").read() != b"precious" or os.stat(outside).st_nlink != 1:
        fail("replacing a hard link wrote through it")
    for name in os.listdir(out):
        if os.path.getsize(os.path.join(out, name)) != 44 + 75 * 2352:
            fail("%s does not hold its whole track" % name)

    # Killed in the middle of a track: no file under a track's name, one unfinished file.
    long_disc = write_plain_disc(discs, "long", ["Long"], 75 * 90)
    killed = os.path.join(work, "killed")
    decoys = [".tarvik-short.part.mp3", ".tarvik-Ab3dEf9H.part.ogg", "notes.txt"]

    def kill_mid_track():
        rip = subprocess.Popen([p.tarvik, "--rip", "--mp3", "--drive", long_disc, "--out",
                                killed, "--quiet"], env=p.env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.time() + 60
        while True:
            parts = [n for n in unfinished(killed) if n.endswith(".part.mp3") and len(n) == 25]
            if parts and os.path.getsize(os.path.join(killed, parts[0])) > 20000:
                break
            if time.time() > deadline or rip.poll() is not None:
                rip.kill()
                fail("the long rip never got under way: %s" % rip.communicate()[1])
            time.sleep(0.05)
        rip.kill()
        rip.wait(timeout=30)
        if os.path.exists(os.path.join(killed, "Long.mp3")) or len(unfinished(killed)) != 3:
            fail("after a kill: %s" % sorted(os.listdir(killed)))

    os.makedirs(killed)
    for name in decoys:
        with open(os.path.join(killed, name), "w") as f:
            f.write("not ours to remove")
    kill_mid_track()
    # The next start on the command line sweeps it, and only it.
    p.expect(0, "--rip", "--wav", "--drive", twins, "--tracks", "1", "--out", killed)
    if sorted(os.listdir(killed)) != sorted(decoys + ["Twin.wav"]):
        fail("the command line's sweep left %s" % sorted(os.listdir(killed)))
    # So does the window's start, in the folder of the settings.
    kill_mid_track()
    write_settings(p.env["HOME"], killed)
    env = dict(p.env, QT_QPA_PLATFORM="offscreen", SDL_AUDIODRIVER="dummy",
               CDRIP_DRIVES=twins)
    window = subprocess.Popen([p.tarvik, "-session", "sweep"], env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 20
        while len(unfinished(killed)) != 2 and time.time() < deadline:
            time.sleep(0.1)
    finally:
        window.terminate()
        window.wait(timeout=30)
    if sorted(os.listdir(killed)) != sorted(decoys + ["Twin.wav"]):
        fail("the window's sweep left %s" % sorted(os.listdir(killed)))
    os.remove(os.path.join(p.env["HOME"], ".config", "tarvik", "tarvik.ini"))

    jailed_folder_tests(p, work, twins)


def jailed_folder_tests(p, work, disc):
    """Settings whose output folder is empty, blank or relative are refused before anything is
    written. The program runs in a private mount namespace with a folder of this test as its
    root, so even a program that got it wrong could write nowhere else."""
    if os.geteuid() != 0 or not shutil.which("unshare"):
        print("skipped: refusing a folder that is no full path needs root to confine the program")
        return
    prefix = os.path.dirname(os.path.dirname(p.tarvik))
    for out_dir in ["", "   ", "Music", "./Music"]:
        jail = tempfile.mkdtemp(prefix="jail-", dir=work)
        mounts = []
        for name in ["bin", "lib", "lib32", "lib64", "sbin", "libx32"]:
            if os.path.islink("/" + name):
                os.symlink(os.readlink("/" + name), os.path.join(jail, name))
            elif os.path.isdir("/" + name):
                mounts.append("/" + name)
        mounts += ["/usr", "/etc", prefix, os.path.dirname(disc)]
        script = []
        for source in mounts:
            os.makedirs(jail + source, exist_ok=True)
            script.append("mount --bind -o ro '%s' '%s%s'" % (source, jail, source))
        os.makedirs(os.path.join(jail, "dev"))
        for device in ["null", "zero", "urandom"]:
            open(os.path.join(jail, "dev", device), "w").close()
            script.append("mount --bind /dev/%s '%s/dev/%s'" % (device, jail, device))
        home = os.path.join(jail, "home")
        write_settings(home, out_dir)
        before = sorted(os.path.relpath(os.path.join(d, n), jail)
                        for d, dirs, files in os.walk(jail) for n in dirs + files)
        script.append("set +e; chroot '%s' '%s' --rip --wav --drive '%s'; echo \"exit $?\" >&2"
                      % (jail, p.tarvik, disc))
        env = dict(p.env, HOME="/home", XDG_CONFIG_HOME="/home/.config")
        r = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-ec",
                            "\n".join(script)], env=env, capture_output=True, text=True,
                           timeout=120)
        after = sorted(os.path.relpath(os.path.join(d, n), jail)
                       for d, dirs, files in os.walk(jail) for n in dirs + files)
        if "exit 1" not in r.stderr:
            fail("OutDir=%r: the confined run did not end with 1:\n%s" % (out_dir, r.stderr))
        if "choose an output folder in the options, or give one with --out" not in r.stderr:
            fail("OutDir=%r is not refused with its reason:\n%s" % (out_dir, r.stderr))
        if before != after:
            fail("OutDir=%r wrote %s" % (out_dir, sorted(set(after) - set(before))))


def window_test(p):
    """A session manager restarting the program passes -session: that is the window, which
    keeps running (offscreen here) until it is closed."""
    env = dict(p.env, QT_QPA_PLATFORM="offscreen", SDL_AUDIODRIVER="dummy")
    window = subprocess.Popen([p.tarvik, "-session", "1234abcd"], env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    try:
        out, err = window.communicate(timeout=4)
        fail("-session did not start the window: exit %d\n%s%s" % (window.returncode, out, err))
    except subprocess.TimeoutExpired:
        window.terminate()
        window.communicate(timeout=30)


if __name__ == "__main__":
    main()
