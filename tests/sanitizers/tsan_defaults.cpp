// Linked into every executable of a ThreadSanitizer build (ORVANTIS_TSAN).
//
// The desktop libraries (GLib, GIO, fontconfig, Pango, GTK) come from
// Debian, not built with ThreadSanitizer, so it cannot see their own
// synchronisation and reports races that it only glimpses through their
// calls into the C library, such as between fontconfig's loader thread and
// the GUI thread. Those reports are silenced by library.
//
// wxWidgets is not on that list: every worker thread and the GUI thread run
// under wxWidgets frames, so silencing races with a wx frame anywhere in
// their stacks would hide every race in the program's own code between a
// worker and the GUI thread.
//
// Cairo's device lock and Xlib's display lock are taken in both orders on
// the GUI thread while drawing (by cairo and Xlib alone); that possible
// deadlock is theirs and is matched by cairo's function.
//
// ATK unlocks, at exit, a mutex that GLib has already freed; its functions
// carry no symbols, so that one report is matched by library, and only as a
// mutex misuse.

extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libfontconfig.so.1\n"
           "called_from_lib:libgdk_pixbuf-2.0.so.0\n"
           "mutex:libgdk_pixbuf-2.0.so.0\n"
           "mutex:libglib-2.0.so.0\n"
           "mutex:libpango-1.0.so.0\n"
           "mutex:libatk-1.0.so.0\n"
           "mutex:wxPizza::type\n"
           "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libgio-2.0.so.0\n"
           "called_from_lib:libgobject-2.0.so.0\n"
           "called_from_lib:libpangoft2-1.0.so.0\n"
           "called_from_lib:libgtk-3.so.0\n"
           "called_from_lib:libgdk-3.so.0\n"
           "race:libfontconfig.so.1\n"
           "race:libglib-2.0.so.0\n"
           "race:libgio-2.0.so.0\n"
           "race:libgobject-2.0.so.0\n"
           "race:libpango-1.0.so.0\n"
           "race:libpangoft2-1.0.so.0\n"
           "race:libgtk-3.so.0\n"
           "race:libgdk-3.so.0\n"
           "race:libcairo.so.2\n"
           "race:libdbus-1.so.3\n"
           "race:libatk-bridge-2.0.so.0\n"
           "race:libatspi.so.0\n"
           "deadlock:libglib-2.0.so.0\n"
           "deadlock:cairo_device_acquire\n";
}

extern "C" const char* __tsan_default_options()
{
    return "second_deadlock_stack=1 history_size=4";
}
