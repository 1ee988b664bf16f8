// Helpers for tests that run programs through the shell and read their files.
#ifndef CORRUGO_TESTS_SHELL_H
#define CORRUGO_TESTS_SHELL_H

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// The whole content of the file at "path" (empty when there is none).
inline std::string slurp(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// "word" quoted for the shell, whatever it holds.
inline std::string quote(const std::string &word)
{
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

#endif
