// Linked into every executable of an AddressSanitizer build (ORVANTIS_ASAN).
//
// The desktop libraries keep caches for the life of the process and never
// free them (fontconfig's font list, GTK's and GLib's type system, Pango's
// font maps). LeakSanitizer would report them at every exit of a program
// that opened a window; those reports are silenced, so a leak in the
// program's own code still fails the run.

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so.1\n"
           "leak:libglib-2.0.so.0\n"
           "leak:libgobject-2.0.so.0\n"
           "leak:libgio-2.0.so.0\n"
           "leak:libgtk-3.so.0\n"
           "leak:libgdk-3.so.0\n"
           "leak:libpango-1.0.so.0\n"
           "leak:libpangoft2-1.0.so.0\n"
           "leak:libcairo.so.2\n"
           "leak:libX11.so.6\n"
           "leak:libdbus-1.so.3\n"
           "leak:libatk-bridge-2.0.so.0\n"
           "leak:libatspi.so.0\n";
}
