// A folder of a test's own in which corrugo-host runs as a user runs it, and
// what the run left there.
#ifndef CORRUGO_TESTS_HOST_FOLDER_H
#define CORRUGO_TESTS_HOST_FOLDER_H

#include "shell.h"
#include "acfile/acfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace host_folder {

namespace fs = std::filesystem;
using Point = std::array<float, 3>;

struct Outcome {
    int status; // the exit status, or 128 and the signal that ended it
    std::string err, out;
};

// Whether this process may mount file systems in a mount namespace of its own
// (root, with unshare and tmpfs available).
inline bool can_mount()
{
    static int answer = -1;
    if (answer < 0)
        answer = geteuid() == 0 &&
                 std::system("unshare -m sh -c 'mount -t tmpfs -o size=4k tmpfs /tmp' "
                             ">/dev/null 2>&1") == 0;
    return answer == 1;
}

// Each test gets a folder: "work" is where corrugo-host runs, and "after" a
// copy of "work" taken as soon as it ends (so that what it left on a file
// system mounted for the run can still be seen).
class HostFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("corrugo-host-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        TearDown();
        fs::create_directories(dir / "work");
    }
    void TearDown() override
    {
        /* a folder left read-only by a test, if any, made removable */
        if (std::system(("chmod -R u+w " + quote(dir.string()) + " 2>/dev/null").c_str()) != 0) {
        }
        fs::remove_all(dir);
    }

    // Runs corrugo-host with "args" in "work", after the shell commands
    // "setup" (in a subshell with it, so that limits set there are the host's
    // only) and behind the words "wrapper" (from_file gives the words for a
    // standard input); with "own_mounts", in a mount namespace that takes the
    // mounts made by "setup" with it when it ends. Standard output and error
    // go to files beside "work".
    Outcome run(const std::vector<std::string> &args, const std::string &setup = "",
                const std::string &wrapper = "", bool own_mounts = false)
    {
        std::string script = "cd " + quote((dir / "work").string()) + " || exit 99\n(\n" + setup +
                             "\n" + wrapper + " " + quote(program);
        for (const std::string &a : args)
            script += " " + quote(a);
        script += " 2>../err.txt </dev/null >../out.txt\n)\nstatus=$?\n"
                  "cp -a . ../after || exit 98\nexit $status\n";
        std::ofstream(dir / "run.sh") << script;
        fs::remove_all(dir / "after");
        std::string command = (own_mounts ? "unshare -m sh " : "sh ") + quote((dir / "run.sh").string());
        int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / "err.txt"),
                slurp(dir / "out.txt")};
    }
    // The wrapper that gives the program the file "name" in "work" as its
    // standard input.
    static std::string from_file(const std::string &name)
    {
        return "sh -c '\"$0\" \"$@\" <" + name + "'";
    }

    // Every file and folder in the copy of "work" taken after the run.
    std::vector<std::string> left() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::recursive_directory_iterator(dir / "after"))
            names.push_back(entry.path().lexically_relative(dir / "after").string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string after(const char *name) const { return slurp(dir / "after" / name); }
    // Whether the file "name" was left holding "text".
    ::testing::AssertionResult kept(const char *name, const std::string &text) const
    {
        std::string now = after(name);
        if (now == text)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << name << " changed: " << now.size() << " bytes, "
                                             << text.size() << " before";
    }

    void put(const char *name, const std::string &text)
    {
        std::ofstream(dir / "work" / name, std::ios::binary) << text;
    }
    std::string example(const char *name)
    {
        std::string text = slurp(fs::path(CORRUGO_EXAMPLES) / name);
        put(name, text);
        return text;
    }

    // The world positions of every vertex of a file in "after".
    std::vector<Point> positions(const char *name) const
    {
        acfile::Model model;
        acfile::AcSource source;
        std::string error;
        EXPECT_TRUE(acfile::read_ac_file((dir / "after" / name).string(), model, source, error)) << error;
        std::vector<Point> all;
        for (const auto &object : model.objects)
            for (const acfile::Vertex &v : object->vertices)
                all.push_back({v.x, v.y, v.z});
        return all;
    }

    // A copy of corrugo-host, its library and the plug-in in a folder every
    // user may enter (the build tree may lie in one only its owner may), and
    // the words that run it as the user nobody. Empty when this process is
    // not root, which needs nobody to see what others see.
    std::string as_nobody()
    {
        if (geteuid() != 0)
            return "";
        fs::path copy = dir / "programs";
        fs::path host = CORRUGO_HOST_PATH, from = host.parent_path();
        fs::create_directories(copy);
        for (const char *name : {"corrugo-host", "libcorrugo_sim.so", "corrugo.p", "corrugo.tcl"})
            fs::copy_file(from / name, copy / name, fs::copy_options::overwrite_existing);
        EXPECT_EQ(std::system(("chmod 0755 " + quote(dir.string()) + " " + quote(copy.string())).c_str()), 0);
        program = (copy / "corrugo-host").string();
        return "setpriv --reuid=65534 --regid=65534 --clear-groups env LD_LIBRARY_PATH=" +
               quote(copy.string());
    }

    fs::path dir;
    std::string program = CORRUGO_HOST_PATH;
};


} // namespace host_folder

#endif
