// AddressSanitizer's defaults for the tests built with it inside the usual
// build: memory errors only. Leaks are the sanitizer suite's business, with
// its suppressions for the Tcl library.
extern "C" const char *__asan_default_options(void)
{
    return "detect_leaks=0";
}
