"""The wlroots backend when the compositor goes away while it runs: a
platform test (wlroots_gone_test.cpp) run inside a headless sway session of
its own, which it ends itself."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wlharness  # noqa: E402
from harness import BUILD_DIR  # noqa: E402


class CompositorGone(unittest.TestCase):
    def test_the_backend_outlives_its_compositor(self):
        session = wlharness.start_session("sway")
        try:
            test = session.runnable(os.path.join(BUILD_DIR, "tests", "wayland", "orvantis_wlroots_gone_test"))
            r = subprocess.run(session.as_user([test]), env=session.user_env(), capture_output=True, text=True,
                               timeout=120)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr + session.describe_failure())
        finally:
            session.stop()


if __name__ == "__main__":
    wlharness.main("sway")
