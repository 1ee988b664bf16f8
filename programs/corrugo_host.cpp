// corrugo-host: runs the plug-in on a model file from the command line.
//
// Loads an .ac model into the substitute host, loads the plug-in from its file
// as the modeller does, selects, runs Tcl commands in the host's interpreter
// and writes the model back, changing only the lines of vertices that moved.
#include "acfile/acfile.h"
#include "acfile/file_io.h"
#include "programs/report.h"
#include "programs/run_files.h"
#include "programs/viewer.h"
#include "programs/wave_options.h"
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
#include <set>
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

const char USAGE_HEAD[] = R"(Usage: corrugo-host MODEL.ac... --along AXIS --sine AXIS --cycles N [options]
  or:  corrugo-host MODEL.ac... -c TCL [options]
  or:  corrugo-host --gui [MODEL.ac] [options]

Runs the Corrugo plug-in on AC3D models: it moves the selected vertices along
an axis-aligned wave, a sine on one axis and a cosine on another, phased by
distance along a third. With -o, writes the model; with -i, each model to its
own file: only the lines of vertices that moved change, every other byte of
the file is kept. A run that would write nothing is refused (--report prints
what moved). MODEL.ac may be - for standard input; after --, every word is a
model, even one whose name starts with -.
)";

const char USAGE_TAIL[] = R"(
Exit status:
  0 every command ran cleanly on every model; 1 a command showed a message or
  raised a Tcl error (that model is not written); 2 a mistake in the command
  line (nothing is read or written); 3 a model, the plug-in or a stream that
  could not be read or written. With several models, the highest of theirs.

Examples:
  corrugo-host roof.ac --along x --sine y --cycles 5 --amplitude 0.15 -o out.ac
  corrugo-host tube.ac --select vertices --along z --sine x --cosine y \
      --per-unit 1 --amplitude 0.3 --add -o tube.ac
  corrugo-host fence.ac --in left --in right --seed 42 --along y --sine x \
      --cycles 2 --amplitude 0.2 --sine-offset random -o fence-waved.ac
  corrugo-host -i --along x --sine y --cycles 3 --amplitude 0.1 *.ac
  corrugo-host roof.ac -c 'qorvel_go x y n 3 0.2 0 0 0 0 0 0 0' -o out.ac
  cat roof.ac | corrugo-host - --along x --sine y --cycles 5 --amplitude 0.1 -o -
)";

// The command line: what the viewer takes (the model, the plug-in, the
// selection and the commands), and the rest.
struct Options : programs::ViewerOptions {
    std::vector<std::string> models; /* the viewer's model is the first */
    std::string output;
    bool in_place = false;
    bool tick_given = false;
    uint32_t tick = 0;
    int threads = 0; /* 0: as many as help */
    std::string debug;
    bool undo = false;
    bool report = false;
    bool gui = false;
    programs::WaveOptions wave;
    bool print_command = false;
    bool version = false;
    bool help = false;
};

// The exit statuses: a command that showed a message or raised a Tcl error
// (the model is not written), a mistake in the command line, and a model, a
// plug-in or a stream that could not be read or written.
const int REFUSED = 1, USAGE = 2, FAILED = 3;

// Every message starts with the program's name, as GNU tools' do.
void say(const std::string &message) { std::fprintf(stderr, "corrugo-host: %s\n", message.c_str()); }

int usage_error(const std::string &message)
{
    say(message + "\n(see corrugo-host --help)");
    return USAGE;
}

int failed(const std::string &message)
{
    say(message);
    return FAILED;
}

// A whole number from 0 to 4294967295, in decimal digits.
bool parse_whole(const std::string &text, uint32_t *whole)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    size_t digits = text.find_first_not_of('0'); /* leading zeros count for nothing */
    if (digits != std::string::npos && text.size() - digits > 10)
        return false;
    unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value > 4294967295ull)
        return false;
    *whole = (uint32_t)value;
    return true;
}

// How many threads help read and write a model: two, when this run may use
// two processors or more.
int useful_threads()
{
    cpu_set_t set;
    int available = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    return available >= 2 ? 2 : 1;
}

/* {====== The options ====== */

struct Option;
// What an option does with its value (empty for one that takes none): -1 to
// go on, else the exit status.
typedef int (*Act)(Options &options, const Option &option, const std::string &value);

// An option: its name; the name of its value in --help, or null for one that
// takes none; whether that value names a file (which may not be empty); what
// it does; its wave option's slot, for those; and its help, the lines after
// its name in --help (null: it shares the help of the next option, which
// --help names after it, as in "-h, --help").
struct Option {
    const char *name;
    const char *value;
    bool file;
    Act act;
    int slot;
    const char *help;
};

std::string usage();

// Help is printed once standard output is known to be no file of the run.
int act_help(Options &o, const Option &, const std::string &)
{
    o.help = true;
    return 0;
}

int act_wave(Options &o, const Option &option, const std::string &value)
{
    o.wave.value[option.slot] = value;
    o.wave.given[option.slot] = true;
    o.wave.any = true;
    return -1;
}

int act_add(Options &o, const Option &, const std::string &)
{
    o.wave.add = o.wave.any = true;
    return -1;
}

int act_select(Options &o, const Option &, const std::string &value)
{
    o.mode = sim::select_mode_named(value);
    if (o.mode == 0)
        return usage_error("--select takes objects, surfaces or vertices, not \"" + value + "\"");
    return -1;
}

int act_tick(Options &o, const Option &option, const std::string &value)
{
    if (!parse_whole(value, &o.tick))
        return usage_error(std::string(option.name) + " takes a whole number from 0 to 4294967295, not \"" +
                           value + "\"");
    o.tick_given = true;
    return -1;
}

int act_threads(Options &o, const Option &, const std::string &value)
{
    uint32_t n;
    if (!parse_whole(value, &n) || n < 1 || n > 1024)
        return usage_error("--threads takes a whole number from 1 to 1024, not \"" + value + "\"");
    o.threads = int(n);
    return -1;
}

// The options that only keep their value, or set a flag.
#define KEEP(field) [](Options &o, const Option &, const std::string &v) { o.field = v; return -1; }
#define ADD(field) [](Options &o, const Option &, const std::string &v) { o.field.push_back(v); return -1; }
#define SET(field) [](Options &o, const Option &, const std::string &) { o.field = true; return -1; }

typedef programs::WaveOptions W;
const Option WAVE_OPTIONS[] = {
    {"--along", "AXIS", false, act_wave, W::ALONG, "the axis the wave runs along: x, y or z"},
    {"--sine", "AXIS", false, act_wave, W::SINE,
     "the axis the sine wave moves: x, y, z or n (none, the\ndefault)"},
    {"--cosine", "AXIS", false, act_wave, W::COSINE,
     "the axis the cosine wave moves (default n); a wave needs\n--sine, --cosine or both"},
    {"--cycles", "N", false, act_wave, W::CYCLES,
     "N cycles over the selection's extent along the axis"},
    {"--per-unit", "N", false, act_wave, W::PER_UNIT,
     "N cycles per model unit (instead of --cycles)"},
    {"--amplitude", "A", false, act_wave, W::AMPLITUDE,
     "how far both waves move the vertices, in model units"},
    {"--sine-amplitude", "A", false, act_wave, W::SINE_AMPLITUDE, nullptr},
    {"--cosine-amplitude", "A", false, act_wave, W::COSINE_AMPLITUDE,
     "the same for one wave (default: --amplitude, else 0)"},
    {"--decay", "P", false, act_wave, W::DECAY,
     "how much both waves fade towards the far end, in percent\n(100: down to nothing; default 0)"},
    {"--sine-decay", "P", false, act_wave, W::SINE_DECAY, nullptr},
    {"--cosine-decay", "P", false, act_wave, W::COSINE_DECAY, "the same for one wave"},
    {"--offset", "P", false, act_wave, W::OFFSET,
     "phase offset of both waves, in percent of a cycle, or\nrandom for a fresh one per object (default 0)"},
    {"--sine-offset", "P", false, act_wave, W::SINE_OFFSET, nullptr},
    {"--cosine-offset", "P", false, act_wave, W::COSINE_OFFSET, "the same for one wave"},
    {"--add", nullptr, false, act_add, 0,
     "add the wave to the current positions (default: replace\nthem, through the lowest selected vertex)"},
    {"--print-command", nullptr, false, SET(print_command), 0,
     "print the qorvel_go command the wave options build (to\npaste into the modeller's Tcl console) and exit"},
    {nullptr, nullptr, false, nullptr, 0, nullptr}};

const Option OTHER_OPTIONS[] = {
    {"-o", "FILE", true, KEEP(output), 0,
     "write the model to FILE after the commands (FILE may be\nMODEL.ac itself; - for standard output); written whole or\n"
     "not at all, and only when every command ran without a\nmessage or Tcl error"},
    {"-i", nullptr, false, SET(in_place), 0, nullptr},
    {"--in-place", nullptr, false, SET(in_place), 0,
     "save each model to its own file, as -o MODEL.ac does (for\none model or several)"},
    {"-c", "TCL", false, ADD(commands), 0, "a Tcl command to run; repeatable, run in order"},
    {"--select", "MODE", false, act_select, 0, "objects (default), surfaces or vertices"},
    {"--in", "NAME", false, ADD(names), 0,
     "limit the selection to the objects named NAME (any depth)\nand, for surfaces and vertices, their descendants;\nrepeatable"},
    {"--plugin", "PATH", true, KEEP(plugin), 0,
     "the plug-in file (default: the corrugo.p of this build or\ninstallation)"},
    {"--seed", "N", false, act_tick, 0, nullptr},
    {"--tick", "N", false, act_tick, 0,
     "start the random offsets' draw at N (0 to 4294967295):\nthe millisecond tick count the plug-in sees, pinned, so\n"
     "random offsets are reproducible"},
    {"--debug", "FILE", true, KEEP(debug), 0,
     "write the host's debug output to FILE (- for standard\nerror); discarded by default"},
    {"--threads", "N", false, act_threads, 0,
     "read and write a large model on at most N threads (1 to\n1024; default: the processors this run may use, at most\n"
     "2, which is as many as help); what comes out is the same"},
    {"--undo", nullptr, false, SET(undo), 0, "after the commands, undo the newest undo step"},
    {"--report", nullptr, false, SET(report), 0,
     "print how many vertices moved and the bounding box before\nand after (to standard error with -o -)"},
    {"--gui", nullptr, false, SET(gui), 0,
     "open the viewer: the model in three views, the selection,\nand the Tools menu with the plug-in's entries (-c commands\n"
     "run once the window is up)"},
    {"--version", nullptr, false, SET(version), 0, "print the version and the plug-in's about text"},
    {"-h", nullptr, false, act_help, 0, nullptr},
    {"--help", nullptr, false, act_help, 0, "show this help"},
    {nullptr, nullptr, false, nullptr, 0, nullptr}};

#undef KEEP
#undef ADD
#undef SET

const Option *find_option(const std::string &name)
{
    for (const Option *table : {WAVE_OPTIONS, OTHER_OPTIONS})
        for (const Option *o = table; o->name; o++)
            if (name == o->name)
                return o;
    return nullptr;
}

// The lines of --help for the options of "table": each name with its value,
// those that share a help named together, and the help from column 20 on.
std::string option_lines(const Option *table)
{
    std::string lines, label;
    for (const Option *o = table; o->name; o++) {
        label += (label.empty() ? "" : ", ") + std::string(o->name) +
                 (o->value ? std::string(" ") + o->value : "");
        if (!o->help)
            continue;
        std::string help = o->help, indent(20, ' ');
        for (size_t at = 0; (at = help.find('\n', at)) != std::string::npos; at += 21)
            help.insert(at + 1, indent);
        lines += "  " + label + (label.size() < 18 ? std::string(18 - label.size(), ' ') : "\n" + indent) +
                 help + "\n";
        label.clear();
    }
    return lines;
}

std::string usage()
{
    return USAGE_HEAD + std::string("\nWave options (they build one qorvel_go command, run before any -c):\n") +
           option_lines(WAVE_OPTIONS) + "\nOptions:\n" + option_lines(OTHER_OPTIONS) + USAGE_TAIL;
}

/* }====== */

// Whether the models given go with the other options, and the run writes
// something: -1 to go on, else the exit status.
int check_models(Options &options)
{
    const std::vector<std::string> &models = options.models;
    options.model = models.empty() ? "" : models[0];
    if (models.empty() && !options.gui)
        return usage_error("no model file given");
    if (options.gui)
        return models.size() > 1 ? usage_error("the viewer opens one model, not " + std::to_string(models.size()))
               : options.model == "-"
                   ? usage_error("the viewer reads its model from a file, not from standard input")
                   : -1;
    if (std::count(models.begin(), models.end(), "-") > 1)
        return usage_error("standard input can be read only once");
    if (options.in_place && !options.output.empty())
        return usage_error("-i and -o cannot be given together: -i saves each model to its own file");
    if (models.size() > 1 && !options.output.empty())
        return usage_error("-o writes one model, not " + std::to_string(models.size()) +
                           "; -i saves each to its own file");
    if (options.in_place && std::count(models.begin(), models.end(), "-"))
        return usage_error("-i saves each model to its own file, and standard input has none; use -o FILE or -o -");
    if (!options.in_place && options.output.empty() && !options.report)
        return usage_error("nothing would be written: -o FILE writes the model to FILE, -o - to standard "
                           "output, -i each model to its own file; --report prints what moved");
    std::set<std::pair<dev_t, ino_t>> seen; /* a model saved twice would be waved twice */
    struct stat st;
    for (const std::string &model : models)
        if (options.in_place && stat(model.c_str(), &st) == 0 && !seen.insert({st.st_dev, st.st_ino}).second)
            return usage_error("-i: " + model + " is a model given before (the same file)");
    return -1;
}

// Fills "options" from the command line; returns -1 to go on, 0 to print
// the help or the command and end, else the exit status.
int parse_options(int argc, char **argv, Options &options)
{
    bool options_ended = false; /* after "--", every word is a model */
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--" && !options_ended) {
            options_ended = true;
            continue;
        }
        if (options_ended) {
            options.models.push_back(arg);
            continue;
        }
        std::string value;
        size_t equals = arg.find('=');
        bool inline_value = arg.rfind("--", 0) == 0 && equals != std::string::npos;
        if (inline_value) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
        }
        const Option *option = find_option(arg);
        if (!option && (inline_value || (arg.size() > 1 && arg[0] == '-')))
            return usage_error("unknown option " + arg);
        if (!option) {
            options.models.push_back(arg);
            continue;
        }
        if (option->value && !inline_value) {
            if (i + 1 >= argc)
                return usage_error("option " + arg + " needs a value");
            value = argv[++i];
        }
        if (!option->value && inline_value)
            return usage_error("option " + arg + " takes no value");
        if (option->file && value.empty())
            return usage_error("option " + arg + " needs a file name, not an empty one");
        int status = option->act(options, *option, value);
        if (status >= 0)
            return status;
    }
    if (options.version)
        return -1;
    if (options.wave.any) {
        std::string command, error;
        if (!programs::wave_command(options.wave, command, error))
            return usage_error(error);
        options.commands.insert(options.commands.begin(), command);
        if (options.print_command)
            return 0;
    } else if (options.print_command) {
        return usage_error("--print-command needs the wave options (--along and the others)");
    }
    return check_models(options);
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
