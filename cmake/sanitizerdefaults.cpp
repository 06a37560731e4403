// Sanitized builds only: the sanitizer options every program and test of the build starts with.

// The runtime of this compiler takes a dynamic thread-local block that malloc happens to place 16
// bytes into a page for the header of a glibc older than 2.25 and reads a made-up address range
// from the bytes before it; the leak check at exit then faults scanning that range ("Tracer caught
// signal 11", "LeakSanitizer has encountered a fatal error") whenever a thread of Qt, Mesa or SDL
// holds such a block. Without the interception those blocks are still found and scanned as the
// heap chunks they are. Options given in ASAN_OPTIONS come after these and win.
extern "C" const char* __asan_default_options()
{
    return "intercept_tls_get_addr=0";
}
