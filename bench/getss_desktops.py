"""Times the program's /getss on several desktops in one run, each a fresh
start of the program: X11 (a private Xvfb) and the Wayland desktops of the
test harness (tests/wayland/wlharness.py, as an ordinary user). Prints
bench/http_bench's /getss line for each, the 100 ms pause before a capture
left out. Run through bench/run-getss-bench.sh (a network namespace of its
own, as root)."""

import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "wayland"))
import wlharness  # noqa: E402
import harness  # noqa: E402  (tests/integration, on the path wlharness set)

HTTP_BENCH = os.path.join(harness.BUILD_DIR, "bench", "http_bench")


def time_getss(label, program, requests):
    # A few answers first: the first captures set up buffers and connections.
    subprocess.run([HTTP_BENCH, str(program.port), "--getss", "3"], capture_output=True, timeout=120)
    r = subprocess.run([HTTP_BENCH, str(program.port), "--getss", str(requests)], capture_output=True, text=True,
                       timeout=600)
    line = (r.stdout.strip() or r.stderr.strip()).replace("/getss   ", "")
    print("%-16s %s" % (label, line), flush=True)


def bench_x11(requests):
    display = harness.VirtualDisplay("1920x1080x24").start()
    program = harness.Program()
    try:
        program.start()
        program.main_window()
        time_getss("x11 (Xvfb)", program, requests)
    finally:
        program.cleanup()
        display.stop()


def bench_session(kind, requests):
    reason = wlharness.skip_reason(kind)
    if reason:
        print("%-16s skipped: %s" % (kind, reason), flush=True)
        return
    if kind == "kde":
        print("%-16s skipped: KWin's screen cast sends no frames with software rendering" % kind, flush=True)
        return
    session = wlharness.start_session(kind)
    program = session.program()
    try:
        program.start()
        backend = program.backend_line().rsplit(": ", 1)[1]
        if kind == "gnome":
            # The portal's consent dialog, answered as the presenter would;
            # then the stream's frames come.
            session.desktop("answer", "share")
            harness.wait_until(lambda: "portal: remote control granted" in program.output(), 60, step=0.2,
                               what="remote control")
            session.leave_overview()
        time_getss("%s (%s)" % (backend, kind), program, requests)
    finally:
        program.cleanup()
        session.stop()


def main():
    requests = int(sys.argv[1]) if len(sys.argv) > 1 else 40
    desktops = sys.argv[2:] or ["x11"] + sorted(wlharness.SESSIONS)
    print("/getss at 1920x1080, connect to last byte minus the 100 ms pause, %d requests each:" % requests)
    for desktop in desktops:
        if desktop == "x11":
            bench_x11(requests)
        else:
            bench_session(desktop, requests)


if __name__ == "__main__":
    main()
