// Configuration files and paths.
#include "WSNConfig.h"

#include <ace/Configuration.h>
#include <ace/Configuration_Import_Export.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_dirent.h>
#include <ace/OS_NS_stdio.h>
#include <ace/OS_NS_string.h>
#include <ace/OS_NS_sys_stat.h>
#include <ace/OS_NS_unistd.h>
#include <ace/OS_NS_fcntl.h>
#include <ace/SString.h>

#include <cstdint>
#include <string>
#include <sys/stat.h>

namespace {

enum Syntax { REGISTRY, INI };

// Copies text into out, cut to outSize bytes including the terminating zero.
void CopyOut(char* out, unsigned int outSize, const char* text)
{
    if (out == nullptr || outSize == 0)
        return;
    if (text == nullptr)
        text = "";
    size_t n = ACE_OS::strlen(text);
    if (n > outSize - 1)
        n = outSize - 1;
    ACE_OS::memcpy(out, text, n);
    out[n] = '\0';
}

// A NUL byte in a line makes the registry-export reader take the line for
// longer than its buffer: it doubles the buffer for every such line, so a
// damaged file of a few dozen lines takes gigabytes and ends the process.
// Such a file is no configuration text; it is refused as unreadable.
bool HoldsNul(const char* path)
{
    FILE* f = ACE_OS::fopen(path, "rb");
    if (f == nullptr)
        return false;   // the reader reports the missing file itself
    char buffer[4096];
    bool nul = false;
    size_t n;
    while (!nul && (n = ACE_OS::fread(buffer, 1, sizeof buffer, f)) > 0)
        nul = ACE_OS::memchr(buffer, 0, n) != nullptr;
    ACE_OS::fclose(f);
    return nul;
}

// Loads path into heap with the given syntax; 0 on success.
int Import(ACE_Configuration_Heap& heap, Syntax syntax, const char* path)
{
    if (path == nullptr)
        return -1;
    if (syntax == INI)
    {
        ACE_Ini_ImpExp imp(heap);
        return imp.import_config(path);
    }
    if (HoldsNul(path))
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("config file holds a NUL byte, not read--%C\n"), path));
        return -1;
    }
    ACE_Registry_ImpExp imp(heap);
    return imp.import_config(path);
}

unsigned int GetInt(const char* section, const char* key, int defaultValue, const char* path,
                    bool createSection)
{
    ACE_Configuration_Heap heap;
    if (heap.open() != 0)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("config")));
        return static_cast<unsigned int>(defaultValue);
    }
    if (section == nullptr || key == nullptr || Import(heap, REGISTRY, path) != 0)
        return static_cast<unsigned int>(defaultValue);
    ACE_Configuration_Section_Key sk;
    if (heap.open_section(heap.root_section(), section, createSection ? 1 : 0, sk) != 0)
        return static_cast<unsigned int>(defaultValue);
    u_int value = 0;
    if (heap.get_integer_value(sk, key, value) != 0)
        return static_cast<unsigned int>(defaultValue);
    return value;
}

unsigned int GetString(Syntax syntax, const char* section, const char* key, const char* defaultText,
                       char* out, unsigned int outSize, const char* path)
{
    CopyOut(out, outSize, defaultText);
    ACE_Configuration_Heap heap;
    if (heap.open() != 0)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("config")));
        return 0;
    }
    if (Import(heap, syntax, path) != 0)
    {
        if (syntax == INI)
            ACE_ERROR((LM_ERROR, ACE_TEXT("error open Ini config file--%s\n"), path ? path : "(null)"));
        return 0;
    }
    if (section == nullptr || key == nullptr)
        return 0;
    ACE_Configuration_Section_Key sk;
    if (heap.open_section(heap.root_section(), section, 0, sk) != 0)
        return 0;
    ACE_TString value;
    if (heap.get_string_value(sk, key, value) != 0)
        return 0;
    CopyOut(out, outSize, value.c_str());
    return 1;
}

bool IsDirectory(const char* folder)
{
    ACE_DIR* dir = ACE_OS::opendir(folder);
    if (dir == nullptr)
        return false;
    ACE_OS::closedir(dir);
    return true;
}

}  // namespace

extern "C" {

unsigned int WSNGetPrivateProfileInt(const char* section, const char* key, int defaultValue,
                                     const char* path)
{
    return GetInt(section, key, defaultValue, path, true);
}

unsigned int WSNGetPrivateProfileInt2(const char* section, const char* key, int defaultValue,
                                      const char* path)
{
    return GetInt(section, key, defaultValue, path, false);
}

unsigned int WSNGetPrivateProfileString(const char* section, const char* key, const char* defaultText,
                                        char* out, unsigned int outSize, const char* path)
{
    return GetString(REGISTRY, section, key, defaultText, out, outSize, path);
}

unsigned int WSNGetPrivateProfileString2(const char* section, const char* key, const char* defaultText,
                                         char* out, unsigned int outSize, const char* path)
{
    return GetString(INI, section, key, defaultText, out, outSize, path);
}

bool WSNWritePrivateProfileString(const char* section, const char* key, const char* value,
                                  const char* path)
{
    if (section == nullptr || key == nullptr || path == nullptr)
        return false;
    ACE_Configuration_Heap heap;
    if (heap.open() != 0)
    {
        ACE_ERROR((LM_ERROR, ACE_TEXT("%p\n"), ACE_TEXT("config")));
        return false;
    }
    if (Import(heap, REGISTRY, path) != 0)
        return false;
    ACE_Registry_ImpExp imp(heap);
    ACE_Configuration_Section_Key sk;
    if (heap.open_section(heap.root_section(), section, 1, sk) != 0)
        return false;
    if (heap.set_string_value(sk, key, ACE_TString(value ? value : "")) != 0)
        return false;
    return imp.export_config(path) == 0;
}

int WSNGetFilePath(const char* folder, WSN_FILE_ENTRY* entries, int* count)
{
    ACE_DIR* dir = folder ? ACE_OS::opendir(folder) : nullptr;
    if (dir == nullptr)
    {
        if (count)
            *count = -1;
        return -1;
    }
    std::string base(folder);
    if (base.empty() || base[base.size() - 1] != '/')
        base += '/';

    int n = 0;
    for (ACE_DIRENT* ent = ACE_OS::readdir(dir); ent != nullptr; ent = ACE_OS::readdir(dir))
    {
        const char* name = ent->d_name;
        if (ACE_OS::strcmp(name, ".") == 0 || ACE_OS::strcmp(name, "..") == 0)
            continue;
        if (entries != nullptr)
        {
            WSN_FILE_ENTRY& e = entries[n];
            ACE_OS::memset(&e, 0, sizeof e);
            CopyOut(e.szName, sizeof e.szName, name);
            std::string full = base + name;
            // Size and time from the entry itself: opening it could block for
            // ever (a named pipe waits for a writer, a device for its line).
            ACE_stat st;
            if (ACE_OS::stat(full.c_str(), &st) == 0)
            {
                if (S_ISREG(st.st_mode))
                    e.nSize = st.st_size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(st.st_size);
                e.nTimesValid = 1;
                e.llModified = static_cast<int64_t>(st.st_mtime);
            }
        }
        ++n;
    }
    ACE_OS::closedir(dir);
    if (count)
        *count = n;
    return n;
}

bool WSNCreatFilePath(const char* folder)
{
    if (folder == nullptr || folder[0] == '\0')
        return false;
    if (IsDirectory(folder))
        return true;
    std::string path(folder);
    std::string::size_type slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
    {
        std::string parent = path.substr(0, slash);
        if (!IsDirectory(parent.c_str()))
            WSNCreatFilePath(parent.c_str());
    }
    if (ACE_OS::mkdir(folder, 0777) == 0)
        ::chmod(folder, 0777);
    return true;
}

}  // extern "C"
