// fontconfig keeps a few blocks from parsing the system's configuration that it
// never frees; LeakSanitizer would report them at exit in every program that
// draws text. Add this file to the SOURCES of such a test.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
