#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <unistd.h>

namespace fs = std::filesystem;

namespace fuzzkit {

void Fail(const char* target, const std::string& what)
{
    std::fprintf(stderr, "%s: contract broken: %s\n", target, what.c_str());
    std::fflush(stderr);
    __builtin_trap();
}

namespace {

std::string g_workDir;

void RemoveWorkDir()
{
    if (g_workDir.empty())
        return;
    std::error_code ec;
    fs::remove_all(g_workDir, ec);
}

}  // namespace

const std::string& WorkDir()
{
    if (g_workDir.empty())
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/torvane-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
        {
            std::perror("mkdtemp");
            std::abort();
        }
        g_workDir = pattern + "/";
        std::atexit(RemoveWorkDir);
    }
    return g_workDir;
}

std::string FreshDir(const std::string& name)
{
    const std::string dir = WorkDir() + name + "/";
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    if (ec)
        Fail("fuzzkit", "cannot make " + dir + ": " + ec.message());
    return dir;
}

std::string WriteInput(const std::string& name, const uint8_t* data, size_t size)
{
    const std::string path = WorkDir() + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out)
        Fail("fuzzkit", "cannot write " + path);
    return path;
}

std::string TreeListing(const std::string& folder, const std::string& skip)
{
    std::set<std::string> lines;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec), end;
    for (; !ec && it != end; it.increment(ec))
    {
        const fs::path& p = it->path();
        std::string rel = p.lexically_relative(folder).generic_string();
        if (!skip.empty() && rel.compare(0, skip.size(), skip) == 0)
            continue;
        std::error_code e2;
        const fs::file_status st = fs::symlink_status(p, e2);
        if (fs::is_symlink(st))
            rel += " -> link";
        else if (fs::is_directory(st))
            rel += "/";
        else
            rel += " " + std::to_string(fs::file_size(p, e2));
        lines.insert(rel);
    }
    std::string out;
    for (const std::string& l : lines)
        out += l + "\n";
    return out;
}

std::wstring Wide(const std::string& path)
{
    // The work folder is plain ASCII; a byte-wise widening is enough here.
    return std::wstring(path.begin(), path.end());
}

}  // namespace fuzzkit
