// Linked into every executable of a ThreadSanitizer build (ORVANTIS_TSAN).
//
// The desktop libraries (GLib, GIO, fontconfig, Pango, GTK, ATK) and wxWidgets
// itself come from Debian, not built with ThreadSanitizer, so it cannot see
// their own synchronisation and reports races that it only glimpses through
// their calls into the C library: between fontconfig's loader thread and the
// GUI thread, or in wxWidgets' bookkeeping of detached threads at exit.
// Those reports are silenced. A race in the program's own code is still
// reported: its accesses are instrumented and show the program's frames.

extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libfontconfig.so.1\n"
           "called_from_lib:libgdk_pixbuf-2.0.so.0\n"
           "mutex:libgdk_pixbuf-2.0.so.0\n"
           "mutex:libglib-2.0.so.0\n"
           "mutex:libatk-1.0.so.0\n"
           "mutex:libpango-1.0.so.0\n"
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
           "race:libwx_baseu-3.2.so.0\n"
           "race:libwx_gtk3u_core-3.2.so.0\n"
           "race:libdbus-1.so.3\n"
           "race:libatk-bridge-2.0.so.0\n"
           "race:libatspi.so.0\n"
           "deadlock:libglib-2.0.so.0\n";
}

extern "C" const char* __tsan_default_options()
{
    return "second_deadlock_stack=1 history_size=4";
}
