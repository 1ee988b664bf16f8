// The files of a run, known by device and inode.
#include "programs/run_files.h"

#include "acfile/file_io.h"
#include "acfile/save_file.h"

#include <link.h>
#include <sys/stat.h>
#include <sys/auxv.h>
#include <unistd.h>

namespace programs {

static void add(RunFiles &files, RunFileRole role, const struct stat &st)
{
    files.files.push_back({role, true, st.st_dev, st.st_ino, ""});
}

// The file "path" names, or its place when there is none yet.
static void add_named(RunFiles &files, RunFileRole role, const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        add(files, role, st);
    else
        files.files.push_back({role, false, 0, 0, path});
}

// The file behind the open descriptor "fd", when "any" kind will do or it is
// a regular file (a terminal or /dev/null loses nothing by being written).
static void add_descriptor(RunFiles &files, RunFileRole role, int fd, bool any)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && (any || S_ISREG(st.st_mode)))
        add(files, role, st);
}

static int add_library(struct dl_phdr_info *info, size_t, void *data)
{
    struct stat st;
    /* the program itself has no name here; the kernel's vdso is no file */
    if (info->dlpi_name && info->dlpi_name[0] && stat(info->dlpi_name, &st) == 0)
        add(*static_cast<RunFiles *>(data), RUN_LIBRARY, st);
    return 0;
}

RunFiles run_files(const std::vector<std::string> &models, const std::string &output, const std::string &plugin)
{
    RunFiles files;
    for (const std::string &model : models) {
        if (model == "-")
            add_descriptor(files, RUN_MODEL, STDIN_FILENO, true);
        else
            add_named(files, RUN_MODEL, model);
    }
    if (output == "-")
        add_descriptor(files, RUN_OUTPUT_STREAM, STDOUT_FILENO, true);
    else if (!output.empty())
        add_named(files, RUN_OUTPUT, output);
    add_named(files, RUN_PLUGIN, plugin);
    add_named(files, RUN_SCRIPT, acfile::folder_of(plugin) + "/corrugo.tcl");
    /* the program: by /proc where there is one, else by the name it was run by */
    struct stat st;
    const char *run_as = reinterpret_cast<const char *>(getauxval(AT_EXECFN));
    if (stat("/proc/self/exe", &st) == 0 || (run_as && stat(run_as, &st) == 0))
        add(files, RUN_PROGRAM, st);
    dl_iterate_phdr(add_library, &files);
    add_descriptor(files, RUN_STANDARD_INPUT, STDIN_FILENO, false);
    add_descriptor(files, RUN_STANDARD_OUTPUT, STDOUT_FILENO, false);
    add_descriptor(files, RUN_STANDARD_ERROR, STDERR_FILENO, false);
    return files;
}

const RunFile *run_file_of(const RunFiles &files, const struct stat &st, RunFileRole from)
{
    for (const RunFile &f : files.files)
        if (f.role >= from && f.exists && f.device == st.st_dev && f.inode == st.st_ino)
            return &f;
    return nullptr;
}

const RunFile *run_file_named(const RunFiles &files, const std::string &path, RunFileRole from)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return run_file_of(files, st, from);
    for (const RunFile &f : files.files)
        if (f.role >= from && !f.exists && acfile::same_file(path, f.name))
            return &f;
    return nullptr;
}

const RunFile *read_by_run(const RunFiles &files, const struct stat &st)
{
    for (const RunFile &f : files.files)
        if (f.role != RUN_OUTPUT && f.role != RUN_OUTPUT_STREAM && f.role <= RUN_LIBRARY && f.exists &&
            f.device == st.st_dev && f.inode == st.st_ino)
            return &f;
    return nullptr;
}

const RunFile *runs_on(const RunFiles &files, const std::string &path)
{
    const RunFile *f = run_file_named(files, path, RUN_PLUGIN);
    return f && f->role <= RUN_LIBRARY ? f : nullptr;
}

const char *run_file_role(RunFileRole role)
{
    switch (role) {
    case RUN_MODEL: return "the model file";
    case RUN_OUTPUT: return "the output file of -o";
    case RUN_OUTPUT_STREAM: return "standard output, where -o - writes the model";
    case RUN_PLUGIN: return "the plug-in file";
    case RUN_SCRIPT: return "the dialog script beside the plug-in";
    case RUN_PROGRAM: return "corrugo-host itself";
    case RUN_LIBRARY: return "a library corrugo-host has loaded";
    case RUN_STANDARD_INPUT: return "the file standard input reads";
    case RUN_STANDARD_OUTPUT: return "the file standard output writes to";
    case RUN_STANDARD_ERROR: return "the file standard error writes to";
    }
    return "a file of this run";
}

/* {====== The guards of what a run writes ====== */

std::string debug_refusal(const std::string &debug, const RunFile *f)
{
    if (!f)
        return "";
    return "--debug " + debug + " names " + run_file_role(f->role) +
           (f->role == RUN_MODEL ? "; debug output would overwrite it" : "");
}

// The file of the run that it reads or runs on that the open descriptor "fd"
// writes to, or null.
static const RunFile *joined(const RunFiles &files, int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read_by_run(files, st) : nullptr;
}

// Whatever is printed (the model with -o -, the help, the report, a
// command's puts) would go into the file: refused before anything is.
std::string standard_output_refusal(const RunFiles &files, bool model_out)
{
    const RunFile *f = joined(files, STDOUT_FILENO);
    if (!f)
        return "";
    return (model_out ? "-o - writes to standard output, which is " : "standard output is ") +
           std::string(run_file_role(f->role));
}

std::string standard_error_refusal(const RunFiles &files)
{
    const RunFile *f = joined(files, STDERR_FILENO);
    return f ? "standard error is " + std::string(run_file_role(f->role)) : "";
}

std::string outputs_refusal(const std::string &output, const std::string &debug, const RunFiles &files)
{
    const RunFile *f = output.empty() || output == "-" ? nullptr : runs_on(files, output);
    if (f)
        return "-o " + output + " names " + run_file_role(f->role);
    std::string why = debug.empty() || debug == "-" ? "" : debug_refusal(debug, run_file_named(files, debug));
    return why.empty() ? standard_output_refusal(files, output == "-") : why;
}

/* }====== */

} // namespace programs
