#include "ProgramFolder.h"

#include "UserFolder.h"
#include "WideText.h"

#include <climits>
#include <unistd.h>
#include <vector>

std::wstring ProgramFilePath()
{
    std::vector<char> buf(PATH_MAX + 1);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return std::wstring();
        if (static_cast<size_t>(n) < buf.size()) {
            std::string path(buf.data(), static_cast<size_t>(n));
            // A program file replaced while running reads back with this mark.
            const std::string deleted = " (deleted)";
            if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
                path.erase(path.size() - deleted.size());
            return wtext::FromUtf8(path);
        }
        if (buf.size() > 65536) return std::wstring();
        buf.resize(buf.size() * 2);
    }
}

std::wstring ProgramFolder()
{
    const std::wstring path = ProgramFilePath();
    const size_t slash = path.rfind(L'/');
    if (slash == std::wstring::npos) return std::wstring();
    return path.substr(0, slash + 1);
}

std::wstring WritableFolder(const std::wstring& programFolder)
{
    return wtext::FromUtf8(LinkCoreWritableFolder(wtext::ToUtf8(programFolder)));
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty()) return name;
    const wchar_t last = folder.back();
    if (last == L'/' || last == L'\\') return folder + name;
    return folder + L"/" + name;
}
