// Under LeakSanitizer: fontconfig keeps its caches until the process ends, which the leak
// check reports; those are the system library's, not the dialog's.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
