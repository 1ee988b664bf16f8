// corrugo_phases: the job corrugo-host does on a model file, one phase at a
// time, with the wall and processor time of each and the peak memory after
// it, so that the end-to-end figure can be taken apart. Processor time is the
// steadier figure on a shared machine.
//
// usage: corrugo_phases MODEL.ac PLUGIN OUT.ac "QORVEL_GO COMMAND" [THREADS]
// (THREADS: for reading and writing, default 2)
#include "acfile/acfile.h"
#include "sim/host.h"

#include <tcl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// The process's peak resident memory so far, in MiB.
double peak_mib()
{
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return (double)kib / 1024.0;
}

// Processor time used by the process so far, in milliseconds.
double cpu_ms()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

Clock::time_point last = Clock::now();
double last_cpu = cpu_ms();

void phase(const char *name)
{
    Clock::time_point now = Clock::now();
    double cpu = cpu_ms();
    std::printf("%-28s %8.1f ms wall %8.1f ms cpu   peak %7.1f MiB\n", name,
                std::chrono::duration<double, std::milli>(now - last).count(), cpu - last_cpu,
                peak_mib());
    last = Clock::now();
    last_cpu = cpu_ms();
}

int fail(const std::string &why)
{
    std::fprintf(stderr, "corrugo_phases: %s\n", why.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5 && argc != 6)
        return fail("usage: corrugo_phases MODEL.ac PLUGIN OUT.ac \"COMMAND\" [THREADS]");
    const int threads = argc == 6 ? std::atoi(argv[5]) : 2;
    const Clock::time_point start = last;
    const double start_cpu = last_cpu;
    std::string error;
    {
        acfile::Model model;
        acfile::AcSource source;
        if (!acfile::read_ac_file(argv[1], model, source, error, acfile::READ_MAP, threads))
            return fail(error);
        phase("read the file");
        sim::replace_model(std::move(model));
        phase("hand the model to the host");

        int messages = 0;
        sim::set_message_sink([&messages](const std::string &) { messages++; });
        sim::Plugin plugin;
        if (!sim::load_plugin(argv[2], plugin, error))
            return fail(error);
        phase("Tcl and the plug-in");
        sim::select_all(sim::model(), sim::selection(), SELECT_OBJECTS);
        phase("select");

        const char *command = argv[4];
        if (Tcl_EvalEx(sim::interp(), command, -1, TCL_EVAL_GLOBAL) != TCL_OK || messages)
            return fail(std::string("the command failed: ") + Tcl_GetStringResult(sim::interp()));
        phase("the command");

        if (!acfile::write_ac_file(argv[3], sim::model(), source, error, threads))
            return fail(error);
        phase("write the file");
    }
    phase("release the file's text");
    sim::replace_model(acfile::Model());
    phase("release the model");
    std::printf("%-28s %8.1f ms wall %8.1f ms cpu\n", "total",
                std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
                cpu_ms() - start_cpu);
    return 0;
}
