// corrugo-host: runs the plug-in on a model file from the command line.
//
// Loads an .ac model into the substitute host, loads the plug-in from its file
// as the modeller does, selects, runs Tcl commands in the host's interpreter
// and writes the model back, changing only the lines of vertices that moved.
#include "acfile/acfile.h"
#include "acfile/file_io.h"
#include "programs/options.h"
#include "programs/report.h"
#include "programs/run_files.h"
#include "programs/viewer.h"
#include "sim/host.h"

#include <tcl.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sched.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef CORRUGO_VERSION
#define CORRUGO_VERSION "0"
#endif
#ifndef CORRUGO_INSTALLED_PLUGIN
#define CORRUGO_INSTALLED_PLUGIN "/usr/local/lib/corrugo/corrugo.p"
#endif

namespace {

using programs::Options;
using programs::say;
using programs::usage;
using programs::parse_options;
using programs::usage_error;
using programs::failed;
using programs::REFUSED;
using programs::USAGE;
using programs::FAILED;

// How many threads help read and write a model: two, when this run may use
// two processors or more.
int useful_threads()
{
    cpu_set_t set;
    int available = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    return available >= 2 ? 2 : 1;
}

// "exit" in a -c command would end the program before the model is written,
// with a status that says all went well: it is an error instead.
int exit_command(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[])
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj("exit is not available in corrugo-host's commands: "
                                              "the program ends after the last of them, and "
                                              "writes -o only when every one ran cleanly",
                                              -1));
    return TCL_ERROR;
}

// Anything else that ends the interpreter ends the run as a failure.
void on_tcl_exit(ClientData status)
{
    say("the Tcl interpreter exited; nothing was written");
    acfile::remove_pending_temporary();
    int code = (int)(intptr_t)status;
    _exit(code != 0 ? code : 1);
}

// Running out of memory, or a panic of Tcl's, ends the run with a message
// naming what was read, leaving no temporary file.
std::string memory_context = "corrugo-host";

void tcl_panic(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "corrugo-host: %s: ", memory_context.c_str());
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "; nothing was written\n");
    va_end(args);
    acfile::remove_pending_temporary();
    _exit(FAILED);
}

void out_of_memory() { tcl_panic("not enough memory"); }

// The program's folder: by /proc, else by the name it was run by (which a
// shell gives with its folder when it found the program on the PATH).
std::string executable_folder()
{
    std::vector<char> path(4096);
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    const char *run_as = reinterpret_cast<const char *>(getauxval(AT_EXECFN));
    std::string exe = n > 0 ? std::string(path.data(), (size_t)n) : run_as ? run_as : "";
    return acfile::folder_of(exe);
}

std::string default_plugin()
{
    const std::string folder = executable_folder();
    std::string beside = folder + "/corrugo.p";
    if (access(beside.c_str(), R_OK) == 0)
        return beside;
    std::string installed = folder + "/../lib/corrugo/corrugo.p";
    if (access(installed.c_str(), R_OK) == 0)
        return installed;
    return CORRUGO_INSTALLED_PLUGIN;
}

/* {====== The files of the run ====== */

// The guards of the files a run writes, which ask the one list of the run's
// files (run_files.h). An exit status, or -1 to go on.

// Refused outputs (run_files.h): a usage error, exit status 2, or -1 to go on.
int refused(const std::string &why) { return why.empty() ? -1 : usage_error(why); }

// Standard error joined to a file the run reads or runs on takes nothing, not
// even why the run is refused: that goes to standard output, or nowhere when
// it is one of them too. An exit status, or -1 to go on.
int error_refused(const programs::RunFiles &files)
{
    const std::string why = programs::standard_error_refusal(files);
    if (why.empty())
        return -1;
    int to = programs::standard_output_refusal(files, false).empty() ? STDOUT_FILENO : open("/dev/null", O_WRONLY);
    dup2(to, STDERR_FILENO);
    return usage_error(why);
}

// Opens the debug file, which outputs_refusal found by its name to be none of
// the run's files: opened without emptying it, it is checked again by what
// was opened, so that nothing can come between the check and the use; only
// then emptied. An exit status when refused or failed, having said why, or
// -1 with "file" open.
int open_debug(const std::string &debug, const programs::RunFiles &files, FILE *&file)
{
    int fd = open(debug.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    struct stat st;
    bool looked = fd >= 0 && fstat(fd, &st) == 0;
    std::string refusal = looked ? programs::debug_refusal(debug, programs::run_file_of(files, st)) : "";
    file = nullptr;
    int status = -1;
    if (!refusal.empty())
        status = usage_error(refusal);
    else if (!looked || (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) || !(file = fdopen(fd, "w")))
        status = failed(debug + ": " + std::strerror(errno));
    if (!file && fd >= 0)
        close(fd);
    return status;
}

/* }====== */

// Which of the standard descriptors the program was started without. Each is
// opened on /dev/null, so that no file the run opens takes its number (a model
// saved on descriptor 1 would take in whatever is printed), and the interpreter
// finds all three; a model read from, or written to, a missing one is refused.
struct Closed {
    bool input = false, output = false, error = false;
};

Closed open_missing_descriptors()
{
    bool closed[3];
    for (int fd = 0; fd < 3; fd++) {
        closed[fd] = fcntl(fd, F_GETFD) == -1 && errno == EBADF;
        /* open gives the lowest free number: this one (without /dev/null,
           it stays closed, and only what would use it fails) */
        if (closed[fd] && open("/dev/null", O_RDWR) < 0) {
        }
    }
    return Closed{closed[0], closed[1], closed[2]};
}

// Prints the version and the about text of the plug-in at "path", which is
// loaded but not initialised; false when it cannot be loaded.
bool print_version(const std::string &path)
{
    std::printf("corrugo-host %s\n", CORRUGO_VERSION);
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void *about = handle ? dlsym(handle, "AC3DPluginAbout") : nullptr;
    if (!about) {
        say(std::string("cannot load the plug-in: ") + dlerror());
        return false;
    }
    std::printf("%s\n", reinterpret_cast<const char *(*)(void)>(about)());
    return true;
}

// Whether the text printed to "stream" went out whole: a failed write or
// close (a full disk, a closed pipe, a stream the program was started
// without) is a message and status FAILED, as coreutils' close_stdout makes it.
// "ending": nothing more is printed, and standard output is closed (its
// number is taken by no file the run opens later). The exit status
// "status", or FAILED.
int printed(int status, FILE *stream, bool closed, bool ending = false)
{
    const char *name = stream == stdout ? "standard output" : "standard error";
    int error = 0;
    if (closed)
        error = EBADF;
    else if (std::fflush(stream) != 0 || std::ferror(stream))
        error = errno != 0 ? errno : EIO; /* a write that failed before left its errno */
    if (error == 0 && ending && stream == stdout && std::fclose(stream) != 0)
        error = errno;
    if (error == 0)
        return status;
    return failed(std::string(name) + ": cannot write: " + std::strerror(error));
}

// What a run of the commands left: the model, and what the run's own
// options need of it.
struct Run {
    acfile::AcSource source;
    int threads = 1;
    int messages = 0;
    int model_out = STDOUT_FILENO; /* where -o - writes the model */
    std::unique_ptr<FILE, int (*)(FILE *)> debug{nullptr, std::fclose};
    sim::Plugin plugin;
};

// Reads "model" into the substitute host: an exit status, or -1 to go on.
int read_model(const Options &options, const std::string &model, const programs::RunFiles &files, Run &run)
{
    acfile::Model read;
    std::string error;
    run.source = acfile::AcSource();
    std::set_new_handler(nullptr); /* a read out of memory says so, and the next model is done */
    if (!acfile::read_ac_file(model, read, run.source, error, acfile::READ_MAP, run.threads))
        return failed(error);
    if (!sim::check_names(read, options.names, error)) {
        say(model + ": " + error);
        return USAGE;
    }
    /* the model read from standard input, saved back to its file by name */
    const programs::RunFile *output = options.output.empty() || options.output == "-"
                                          ? nullptr
                                          : programs::run_file_named(files, options.output);
    if (output && output->role == programs::RUN_MODEL)
        acfile::place_source(run.source, options.output);
    // From here on, what runs out of memory cannot be taken back step by step.
    memory_context = model == "-" ? "standard input" : model;
    std::set_new_handler(out_of_memory);
    Tcl_SetPanicProc(tcl_panic);
    sim::replace_model(std::move(read));
    return -1;
}

// Runs the -c commands in order, up to the first that shows a message or
// raises a Tcl error; whether every one ran cleanly.
bool run_tcl(const std::vector<std::string> &commands, const int &messages)
{
    Tcl_Interp *interp = sim::interp();
    for (const std::string &command : commands) {
        if (Tcl_EvalEx(interp, command.c_str(), (int)command.size(), TCL_EVAL_GLOBAL) != TCL_OK) {
            say("-c " + command + ": " + Tcl_GetStringResult(interp));
            return false;
        }
        if (messages > 0)
            return false;
    }
    return true;
}

// Loads the plug-in, once for every model: an exit status, or -1 to go on.
int load_plugin(const Options &options, const programs::RunFiles &files, Run &run)
{
    Tcl_CreateObjCommand(sim::interp(), "exit", exit_command, nullptr, nullptr);
    Tcl_SetExitProc(on_tcl_exit);
    if (!options.debug.empty() && options.debug != "-") {
        FILE *debug;
        int status = open_debug(options.debug, files, debug);
        run.debug.reset(debug);
        if (status >= 0)
            return status;
    }
    if (FILE *debug = options.debug == "-" ? stderr : run.debug.get())
        sim::set_debug_sink([debug](const std::string &text) { std::fwrite(text.data(), 1, text.size(), debug); });
    int &messages = run.messages;
    sim::set_message_sink([&messages](const std::string &text) {
        say(text);
        messages++;
    });
    std::string error;
    if (!sim::load_plugin(options.plugin, run.plugin, error))
        return failed("cannot load the plug-in: " + error);
    return -1;
}

// Selects and runs the commands on the model read: an exit status (1 for a
// message or a Tcl error), or -1 to go on and write.
int run_commands(const Options &options, const std::string &model, const Closed &closed, Run &run)
{
    run.messages = 0;
    sim::select_all(sim::model(), sim::selection(), options.mode, options.names);
    programs::Snapshot before;
    if (options.report)
        before = programs::snapshot(sim::model());

    const bool clean = run_tcl(options.commands, run.messages);
    if (clean && options.undo)
        sim::undo();
    // Tcl holds what the commands printed after their last newline until
    // its channels are flushed, which nothing else does before the end.
    for (int type : {TCL_STDOUT, TCL_STDERR})
        if (Tcl_Channel channel = Tcl_GetStdChannel(type))
            Tcl_Flush(channel);
    if (options.report) {
        FILE *out = options.output == "-" ? stderr : stdout;
        if (options.models.size() > 1)
            std::fprintf(out, "model: %s\n", model.c_str());
        programs::report(out, before, programs::snapshot(sim::model()));
        if (int status = printed(0, out, out == stderr ? closed.error : closed.output); status != 0)
            return status;
    }
    if (run.debug && std::fflush(run.debug.get()) != 0)
        return failed(options.debug + ": " + std::strerror(errno));
    return clean ? -1 : REFUSED;
}

// Writes the model "model" where -o or -i says, if anywhere: the exit status.
int write_model(const Options &options, const std::string &model, Run &run)
{
    std::string error;
    bool written = true;
    if (options.output == "-")
        written = acfile::write_ac_stream(run.model_out, "standard output", sim::model(), run.source, error,
                                          run.threads);
    else if (!options.output.empty() || options.in_place)
        written = acfile::write_ac_file(options.in_place ? model : options.output, sim::model(), run.source,
                                        error, run.threads);
    return written ? 0 : failed(error);
}

// Runs the commands on each model in turn, the plug-in loaded once; a model
// that fails is left as it was, and the others are still done. The exit
// status: the highest of the models'.
int run_models(const Options &options, const programs::RunFiles &files, const Closed &closed, Run &run)
{
    int worst = load_plugin(options, files, run);
    if (worst >= 0)
        return worst;
    worst = 0;
    for (const std::string &model : options.models) {
        int status = read_model(options, model, files, run);
        if (status < 0)
            status = run_commands(options, model, closed, run);
        if (status < 0)
            status = write_model(options, model, run);
        worst = std::max(worst, status);
    }
    sim::set_debug_sink(nullptr);
    if (run.debug && std::fclose(run.debug.release()) != 0)
        return failed(options.debug + ": " + std::strerror(errno));
    return worst;
}

} // namespace

int main(int argc, char **argv)
{
    // A file size limit then fails the write with EFBIG, which the writer
    // reports and cleans up after, instead of ending the process mid-write.
    std::signal(SIGXFSZ, SIG_IGN);

    // Writing to a closed pipe fails the write, which says so.
    std::signal(SIGPIPE, SIG_IGN);

    const Closed closed = open_missing_descriptors();
    // what a usage mistake prints may not go into a file the run runs on
    int status = error_refused(programs::run_files({}, "", default_plugin()));
    if (status >= 0)
        return status;
    Options options;
    status = parse_options(argc, argv, options);
    if (status > 0)
        return status;
    if (options.plugin.empty())
        options.plugin = default_plugin();
    // -o naming standard output where that is no file to replace (a pipe, a
    // terminal) writes to it as -o - does.
    struct stat named, out;
    if (options.output != "-" && !options.output.empty() && stat(options.output.c_str(), &named) == 0 &&
        !S_ISREG(named.st_mode) && fstat(STDOUT_FILENO, &out) == 0 && named.st_dev == out.st_dev &&
        named.st_ino == out.st_ino)
        options.output = "-";
    const programs::RunFiles files = programs::run_files(options.models, options.output, options.plugin);
    if (int refusal = error_refused(files); refusal >= 0)
        return refusal;
    if (status == 0) { /* the help, or the command the wave options build */
        if ((status = refused(programs::standard_output_refusal(files, false))) >= 0)
            return status;
        std::fputs(options.help ? usage().c_str() : (options.commands[0] + "\n").c_str(), stdout);
        return printed(0, stdout, closed.output, true);
    }
    if (options.output == "-" && closed.output) {
        return failed(std::string("standard output: cannot write: ") + std::strerror(EBADF));
    }
    if (closed.input && std::count(options.models.begin(), options.models.end(), "-")) {
        return failed(std::string("standard input: cannot read: ") + std::strerror(EBADF));
    }
    if (options.version)
        return (status = refused(programs::standard_output_refusal(files, false))) >= 0
                   ? status
                   : printed(print_version(options.plugin) ? 0 : FAILED, stdout, closed.output, true);
    if ((status = refused(programs::outputs_refusal(options.output, options.debug, files))) >= 0)
        return status;
    if (options.tick_given)
        sim::pin_tick(options.tick);
    if (options.gui) {
        std::set_new_handler(out_of_memory);
        Tcl_SetPanicProc(tcl_panic);
        return programs::run_viewer(options);
    }

    // A streamed model is the model and nothing else: what the run prints
    // to standard output (a command's puts, the plug-in's own) goes to
    // standard error, and the model to standard output as it was given.
    Run run;
    if (options.output == "-" && ((run.model_out = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3)) < 0 ||
                                  dup2(STDERR_FILENO, STDOUT_FILENO) < 0)) {
        return failed(std::string("standard output: cannot write: ") + std::strerror(errno));
    }
    run.threads = options.threads ? options.threads : useful_threads();
    return run_models(options, files, closed, run);
}
