"""What a person at a GNOME desktop does and sees, for the GNOME tests: run
as the session's user, with the system's python3 (it needs GObject
introspection), inside the session's environment.

  gnome_desktop.py answer share|view|cancel [SECONDS]
      Waits for the desktop portal's remote-desktop consent dialog and
      answers it through the accessibility bus, as a screen reader would:
      "share" turns on "Allow remote interaction", picks the monitor and
      presses Share; "view" shares the screen with that switch off;
      "cancel" presses Cancel. Plasma 6's dialog (KDE's portal) has no
      such switch: "share" presses its Share, "cancel" its Cancel.
  gnome_desktop.py window TITLE [SECONDS]
      Waits until the program shows a window or a message box titled TITLE
      (on any desktop with the accessibility bus).
  gnome_desktop.py dismiss TITLE [SECONDS]
      The same, then presses the message box's OK.
  gnome_desktop.py close TITLE [SECONDS]
      The same, then presses the window's Close button in its title bar.
  gnome_desktop.py pointer X Y [click]
      Moves the pointer to (X, Y) through Mutter's RemoteDesktop API, and
      clicks there.
  gnome_desktop.py screenshot OUT.ppm
      The compositor's own picture of its monitor, through Mutter's
      ScreenCast API and PipeWire, as a binary PPM.
Exits 0 on success, 1 with a message otherwise.
"""

import sys
import time

import gi

gi.require_version("Atspi", "2.0")
gi.require_version("Gst", "1.0")
from gi.repository import Atspi, Gio, GLib, Gst  # noqa: E402


def find(acc, pred, depth=0):
    try:
        if pred(acc):
            return acc
        count = acc.get_child_count()
    except GLib.Error:
        return None
    if depth > 25:
        return None
    for i in range(count):
        try:
            child = acc.get_child_at_index(i)
        except GLib.Error:
            continue
        if child is not None:
            found = find(child, pred, depth + 1)
            if found is not None:
                return found
    return None


def application(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        try:
            if app is not None and app.get_name() == name:
                return app
        except GLib.Error:
            continue
    return None


def wait_for(what, probe, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = probe()
        if found is not None:
            return found
        time.sleep(0.3)
    sys.exit("timed out waiting for " + what)


def role(acc, wanted, name=None):
    return acc.get_role() == wanted and (name is None or acc.get_name() == name)


def named(acc, wanted, name):
    """`acc` has role `wanted` and is called `name`, whatever the case of
    its words and its mnemonic: GNOME 43 says "Remote desktop" and names
    its button "_Share Share", GNOME 48 says "Remote Desktop" and "Share"."""
    if acc.get_role() != wanted:
        return False
    have, name = acc.get_name().replace("_", "").lower(), name.lower()
    return have == name or have.endswith(" " + name)


def checked(acc):
    return acc.get_state_set().contains(Atspi.StateType.CHECKED)


def answer(choice, seconds):
    def dialog():
        for portal, title in (("xdg-desktop-portal-gnome", "Remote desktop"),
                              ("xdg-desktop-portal-kde", "Remote control requested")):
            app = application(portal)
            frame = app and find(app, lambda a: named(a, Atspi.Role.FRAME, title) or
                                 named(a, Atspi.Role.DIALOG, title))
            if frame:
                share = find(frame, lambda a: named(a, Atspi.Role.PUSH_BUTTON, "Share"))
                cancel = find(frame, lambda a: named(a, Atspi.Role.PUSH_BUTTON, "Cancel"))
                if share and cancel:
                    return portal, frame, share, cancel
        return None

    portal, frame, share, cancel = wait_for("the remote desktop dialog", dialog, seconds)
    if choice == "cancel":
        cancel.do_action(0)
        return
    if portal == "xdg-desktop-portal-kde":
        if choice != "share":
            sys.exit("KDE's dialog has no 'Allow remote interaction' switch to leave off")
        share.do_action(0)
        return
    # GNOME 48 shows the switch's row and the switch itself, both as check
    # boxes of that name: the switch is the one that can be pressed.
    switches = []
    find(frame, lambda a: named(a, Atspi.Role.CHECK_BOX, "Allow remote interaction") and switches.append(a))
    pressable = [s for s in switches if s.get_n_actions() > 0]
    if not pressable:
        sys.exit("the dialog has no 'Allow remote interaction' switch")
    allowed = choice == "share"
    if any(checked(s) for s in switches) != allowed:
        pressable[0].do_action(0)
    wait_for("the remote interaction switch",
             lambda: True if any(checked(s) for s in switches) == allowed else None, 10)
    # The monitor to share: a list row on GNOME 43, a toggle button on 48.
    monitors = find(frame, lambda a: role(a, Atspi.Role.LIST) and a.get_child_count() > 0 and
                    a.get_child_at_index(0).get_name().lower() != "allow remote interaction")
    if monitors is not None:
        selection = monitors.get_selection_iface()
        if selection is not None and selection.get_n_selected_children() == 0:
            selection.select_child(0)
    else:
        monitor = find(frame, lambda a: role(a, Atspi.Role.TOGGLE_BUTTON))
        if monitor is not None and not (checked(monitor) or
                                        monitor.get_state_set().contains(Atspi.StateType.PRESSED)):
            monitor.do_action(0)
    wait_for("Share to become sensitive",
             lambda: True if share.get_state_set().contains(Atspi.StateType.SENSITIVE) else None, 10)
    share.do_action(0)


def window(title, seconds, dismiss=False, close=False):
    def shown():
        app = application("orvantis")
        if app is None:
            return None
        # The main window by its title; a message box by its heading's text.
        frame = find(app, lambda a: role(a, Atspi.Role.FRAME, title) and
                     a.get_state_set().contains(Atspi.StateType.SHOWING))
        if frame is not None:
            return frame
        box = find(app, lambda a: a.get_role() in (Atspi.Role.DIALOG, Atspi.Role.ALERT))
        if box is None:
            return None
        return box if find(box, lambda a: a.get_name() == title) else None

    box = wait_for("a window titled %r" % title, shown, seconds)
    if close:
        button = find(box, lambda a: role(a, Atspi.Role.PUSH_BUTTON, "Close"))
        if button is None:
            sys.exit("the window has no Close button")
        button.do_action(0)
    if dismiss:
        ok = find(box, lambda a: role(a, Atspi.Role.PUSH_BUTTON) and a.get_name().endswith("OK"))
        if ok is None:
            sys.exit("the message box has no OK button")
        ok.do_action(0)


def monitor_size(bus):
    state = bus.call_sync("org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
                          "org.gnome.Mutter.DisplayConfig", "GetCurrentState", None, None, Gio.DBusCallFlags.NONE,
                          10000, None).unpack()
    for mode in state[1][0][1]:
        if mode[6].get("is-current"):
            return mode[1], mode[2]
    raise SystemExit("no current mode of the monitor")


def pointer(x, y, click=False):
    """Puts the pointer at (x, y): a remote-desktop session of Mutter's own
    pushes it into the bottom right corner (the top left one is the shell's
    hot corner, which opens the overview), then moves it from there."""
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)

    def call(path, interface, method, args, reply=None):
        return bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, interface, method, args,
                             GLib.VariantType(reply) if reply else None, Gio.DBusCallFlags.NONE, 10000, None)

    (session,) = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop", "CreateSession", None,
                      "(o)").unpack()
    iface = "org.gnome.Mutter.RemoteDesktop.Session"
    call(session, iface, "Start", None)
    call(session, iface, "NotifyPointerMotionRelative", GLib.Variant("(dd)", (20000.0, 20000.0)))
    time.sleep(0.2)
    width, height = monitor_size(bus)
    call(session, iface, "NotifyPointerMotionRelative", GLib.Variant("(dd)", (float(x - width + 1),
                                                                               float(y - height + 1))))
    time.sleep(0.2)
    if click:
        for pressed in (True, False):
            call(session, iface, "NotifyPointerButton", GLib.Variant("(ib)", (0x110, pressed)))
            time.sleep(0.05)
    call(session, iface, "Stop", None)


def screenshot(out):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)

    def call(path, interface, method, args, reply):
        return bus.call_sync("org.gnome.Mutter.ScreenCast" if "ScreenCast" in interface else
                             "org.gnome.Mutter.DisplayConfig", path, interface, method, args,
                             GLib.VariantType(reply) if reply else None, Gio.DBusCallFlags.NONE, 10000, None)

    state = call("/org/gnome/Mutter/DisplayConfig", "org.gnome.Mutter.DisplayConfig", "GetCurrentState", None,
                 None).unpack()
    connector = state[1][0][0][0]
    (session,) = call("/org/gnome/Mutter/ScreenCast", "org.gnome.Mutter.ScreenCast", "CreateSession",
                      GLib.Variant("(a{sv})", ({},)), "(o)").unpack()
    (stream,) = call(session, "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor",
                     GLib.Variant("(sa{sv})", (connector, {})), "(o)").unpack()
    nodes = []
    loop = GLib.MainLoop()

    def added(_conn, _sender, _path, _iface, _signal, params):
        nodes.append(params.unpack()[0])
        loop.quit()

    bus.signal_subscribe(None, "org.gnome.Mutter.ScreenCast.Stream", "PipeWireStreamAdded", stream, None,
                         Gio.DBusSignalFlags.NONE, added)
    call(session, "org.gnome.Mutter.ScreenCast.Session", "Start", None, None)
    GLib.timeout_add_seconds(20, loop.quit)
    loop.run()
    if not nodes:
        sys.exit("Mutter's screen cast gave no stream")
    Gst.init(None)
    pipeline = Gst.parse_launch("pipewiresrc path=%d always-copy=true ! videoconvert ! "
                                "video/x-raw,format=RGB ! appsink name=sink max-buffers=1 drop=true" % nodes[0])
    sink = pipeline.get_by_name("sink")
    pipeline.set_state(Gst.State.PLAYING)
    sample = sink.emit("try-pull-sample", 20 * Gst.SECOND)
    if sample is None:
        sys.exit("Mutter's screen cast sent no frame")
    caps = sample.get_caps().get_structure(0)
    width, height = caps.get_value("width"), caps.get_value("height")
    buf = sample.get_buffer()
    ok, info = buf.map(Gst.MapFlags.READ)
    data = bytes(info.data)
    buf.unmap(info)
    pipeline.set_state(Gst.State.NULL)
    call(session, "org.gnome.Mutter.ScreenCast.Session", "Stop", None, None)
    stride = len(data) // height
    with open(out, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height))
        for y in range(height):
            f.write(data[y * stride:y * stride + width * 3])


def main():
    args = sys.argv[1:]
    if args[:1] == ["answer"] and args[1:2] in (["share"], ["view"], ["cancel"]):
        answer(args[1], float(args[2]) if len(args) > 2 else 60)
    elif args[:1] in (["window"], ["dismiss"], ["close"]) and len(args) >= 2:
        window(args[1], float(args[2]) if len(args) > 2 else 30, dismiss=args[0] == "dismiss",
               close=args[0] == "close")
    elif args[:1] == ["pointer"] and len(args) in (3, 4):
        pointer(int(args[1]), int(args[2]), click=args[3:] == ["click"])
    elif args[:1] == ["screenshot"] and len(args) == 2:
        screenshot(args[1])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
