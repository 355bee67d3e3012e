"""The files around the program: the screenshot it writes, the pictures it
serves, its working directory and its single-instance lock file, each put
in a state that a user, a crash or someone else on the PC can leave behind."""

import os
import pwd
import shutil
import socket
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import harness  # noqa: E402
from harness import Program, get, jpeg_size, parse, wait_until  # noqa: E402

display = harness.VirtualDisplay("1920x1080x24")
NOBODY = 65534


def setUpModule():
    display.start()


def tearDownModule():
    display.stop()


def memory_kb(p, field):
    with open("/proc/%d/status" % p.proc.pid) as f:
        return int(f.read().split(field + ":")[1].split()[0])


def visible_window_names():
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", ""], capture_output=True, text=True,
                       timeout=20)
    names = []
    for wid in r.stdout.split():
        n = subprocess.run(["xdotool", "getwindowname", wid], capture_output=True, text=True, timeout=20)
        if n.returncode == 0 and n.stdout.strip():
            names.append(n.stdout.strip())
    return sorted(names)


def as_nobody():
    os.setgroups([])
    os.setgid(NOBODY)
    os.setuid(NOBODY)


class ProgramTest(unittest.TestCase):
    def setUp(self):
        self.programs = []

    def program(self, **kw):
        p = Program(**kw)
        self.programs.append(p)
        return p

    def tearDown(self):
        for p in self.programs:
            if self._outcome.success is False and p.proc:
                sys.stderr.write("--- program output ---\n" + p.output())
            p.cleanup()


class ScreenshotFile(ProgramTest):
    def test_names_planted_beside_the_screenshot_are_never_written_through(self):
        p = self.program().start()
        notes = os.path.join(p.home, "notes.txt")
        with open(notes, "w") as f:
            f.write("the user's notes")
        part = os.path.join(p.workdir, "ss.jpg.part")
        shot = os.path.join(p.workdir, "ss.jpg")
        created = os.path.join(p.home, "created-by-a-link")
        plants = [("a link to a file of the user's", lambda: os.symlink(notes, part)),
                  ("a dangling link", lambda: os.symlink(created, part)),
                  ("a second name of a file of the user's", lambda: os.link(notes, part))]
        for n, (what, plant) in enumerate(plants):
            if os.path.lexists(part):
                os.remove(part)
            plant()
            status, _, _, body = parse(get(p.port, "/getss%d" % n))
            self.assertEqual(status, "HTTP/1.1 200 OK")
            with open(notes, "rb") as f:
                self.assertEqual(f.read(), b"the user's notes", what + " was written through")
            self.assertFalse(os.path.lexists(created), what + " created its target")
            self.assertFalse(os.path.islink(shot), what + ": ss.jpg became a link")
            with open(shot, "rb") as f:
                self.assertEqual(f.read(), body, what)
        self.assertEqual(sorted(os.listdir(p.workdir)), sorted(harness.DATA_FILES + ["ss.jpg", "ss.jpg.part"]))

    @unittest.skipUnless(os.geteuid() == 0, "runs the program as another user")
    def test_a_read_only_folder_with_a_writable_screenshot_gets_it_updated(self):
        p = self.program()
        os.chmod(p.tmp, 0o755)
        os.chown(p.home, NOBODY, NOBODY)
        shot = os.path.join(p.workdir, "ss.jpg")
        with open(shot, "wb") as f:
            f.write(b"previous capture")
        os.chmod(shot, 0o666)
        os.chmod(p.workdir, 0o755)  # the folder is root's: read-only to the program
        p.start(preexec=as_nobody)
        status, _, _, body = parse(get(p.port, "/getss1"))
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertEqual(jpeg_size(body), (1920, 1080))
        with open(shot, "rb") as f:
            self.assertEqual(f.read(), body, "ss.jpg still holds the previous capture")


class ServedFiles(ProgramTest):
    def test_a_large_bg_gif_costs_no_memory_per_reader(self):
        p = self.program()
        size = 256 << 20
        path = os.path.join(p.workdir, "bg.gif")
        with open(os.path.join(harness.DATA_DIR, "bg.gif"), "rb") as f:
            gif = f.read()
        with open(path, "wb") as f:
            f.write(gif)
            f.truncate(size)  # the rest is a hole: no disk and no memory here
        p.start()
        p.main_window()
        parse(get(p.port, "/getss1"))
        time.sleep(0.5)
        before = memory_kb(p, "VmHWM")

        readers = 4
        got = [0] * readers
        errors = []

        def reader(i):
            try:
                s = harness.connect(p.port, timeout=60)
                s.sendall(b"GET /bg.gif HTTP/1.1\r\n\r\n")
                # All readers are on the line at once before any reads much.
                time.sleep(1.0)
                while True:
                    data = s.recv(1 << 20)
                    if not data:
                        break
                    got[i] += len(data)
                s.close()
            except OSError as e:
                errors.append(repr(e))

        threads = [threading.Thread(target=reader, args=(i,)) for i in range(readers)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(120)
        grown = memory_kb(p, "VmHWM") - before
        sys.stderr.write("%d readers of a %d MB bg.gif: peak resident memory grew by %d kB\n"
                         % (readers, size >> 20, grown))
        self.assertEqual(errors, [])
        header = ("HTTP/1.1 200 OK\r\nserver: Orvantis-1.0.0\r\ncontent-type: image/GIF\r\ncontent-length: %d\r\n"
                  "Connection: close\r\n\r\n" % size)
        self.assertEqual(got, [size + len(header)] * readers, "a reader did not get the whole file")
        if not os.environ.get("ORVANTIS_SANITIZED"):
            self.assertLess(grown, 32 * 1024, "memory grows with the file and the readers")

    def test_bg_gif_swapped_with_a_fifo_never_holds_a_worker(self):
        p = self.program().start()
        p.main_window()
        parse(get(p.port, "/bg.gif"))
        time.sleep(0.5)
        rest = p.threads()
        path = os.path.join(p.workdir, "bg.gif")
        stop = threading.Event()

        def swap():
            # bg.gif is now the picture, now a FIFO that nobody writes to.
            while not stop.is_set():
                os.mkfifo(path + ".fifo")
                os.rename(path + ".fifo", path)
                time.sleep(0.002)
                shutil.copy(os.path.join(harness.DATA_DIR, "bg.gif"), path + ".new")
                os.rename(path + ".new", path)
                time.sleep(0.002)

        answers, errors = [], []

        def client():
            for _ in range(150):
                try:
                    answers.append(parse(get(p.port, "/bg.gif", timeout=5))[0])
                except (OSError, AssertionError) as e:
                    errors.append(repr(e))

        swapper = threading.Thread(target=swap)
        swapper.start()
        clients = [threading.Thread(target=client) for _ in range(4)]
        for c in clients:
            c.start()
        for c in clients:
            c.join(300)
        stop.set()
        swapper.join(10)
        self.assertEqual(errors, [], "requests left unanswered")
        self.assertEqual(set(answers) - {"HTTP/1.1 200 OK", "HTTP/1.1 404 OK"}, set())
        self.assertIn("HTTP/1.1 404 OK", answers, "the FIFO was never met: the test proves nothing")
        wait_until(lambda: p.threads() <= rest, 10, step=0.1, what="no worker left stuck")
        start = time.monotonic()
        self.assertEqual(p.close(), 0)
        self.assertLess(time.monotonic() - start, 5)

    def test_a_removed_working_directory_raises_no_box_and_phones_are_answered(self):
        p = self.program().start()
        p.main_window()
        shutil.rmtree(p.workdir)
        status, _, _, body = parse(get(p.port, "/bg.gif"))
        self.assertEqual((status, body), ("HTTP/1.1 404 OK", b""))
        status, _, headers, body = parse(get(p.port, "/getss1"))
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertEqual(headers["content-type"], "image/JPEG")
        self.assertEqual(jpeg_size(body), (1920, 1080), "the screenshot comes from memory")
        self.assertEqual(parse(get(p.port, "/"))[0], "HTTP/1.1 200 OK")
        time.sleep(1)
        self.assertEqual(visible_window_names(), ["Orvantis"])
        self.assertEqual(p.close(timeout=5), 0)


def lock_file_name():
    return "MyApp-" + pwd.getpwuid(os.getuid()).pw_name


def first_window(p, titles, timeout=20):
    """The first of `titles` to show up as a visible window."""
    def seen():
        if p.proc.poll() is not None:
            raise AssertionError("program ended early:\n" + p.output())
        return next((t for t in titles if harness.find_windows(t)), None)
    return wait_until(seen, timeout, step=0.1, what="one of " + ", ".join(titles))


class SingleInstanceLock(ProgramTest):
    def test_a_lock_file_left_naming_a_live_process_does_not_stop_a_start(self):
        p = self.program()
        # After a crash the file names a process id that the system has since
        # given to another program (here: this test).
        with open(os.path.join(p.home, lock_file_name()), "w") as f:
            f.write("%d\n" % os.getpid())
        p.start(wait_port=False)
        self.assertEqual(first_window(p, ["Orvantis", "Already Running..."]), "Orvantis")
        p.port = wait_until(p.listening_port, 20, what="the program to listen")
        time.sleep(1)
        self.assertEqual(visible_window_names(), ["Orvantis"], "a box at start")
        # It holds the guard now: a second start is refused.
        second = self.program(workdir=p.workdir, home=p.home)
        second.start(wait_port=False)
        harness.press_return_in(harness.wait_window("Already Running..."))
        second.proc.wait(15)
        self.assertEqual(p.close(), 0)

    @unittest.skipUnless(os.geteuid() == 0, "mounting a read-only home needs root")
    def test_a_read_only_home_takes_the_lock_in_the_runtime_folder(self):
        p = self.program()
        runtime = os.path.join(p.tmp, "run")
        os.mkdir(runtime, 0o700)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", p.home], check=True)
        try:
            env = {"XDG_RUNTIME_DIR": runtime}
            p.start(env=env)
            p.main_window()
            time.sleep(1)
            self.assertEqual(visible_window_names(), ["Orvantis"], "a box at start")
            self.assertTrue(os.path.exists(os.path.join(runtime, lock_file_name())))
            second = self.program(workdir=p.workdir, home=p.home)
            second.start(wait_port=False, env=env)
            harness.press_return_in(harness.wait_window("Already Running..."))
            second.proc.wait(15)
            self.assertFalse(harness.port_open(8888), "a second copy serves on 8888")
            self.assertEqual(p.close(), 0)
        finally:
            for q in self.programs:
                q.kill()
            subprocess.run(["umount", "-l", p.home], check=False)


if __name__ == "__main__":
    unittest.main()
