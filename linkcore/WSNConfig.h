// Configuration files and paths (the WSN functions).
//
// Every function loads the whole file into an ACE configuration heap, looks
// the value up and discards the copy; nothing is cached between calls and
// nothing is thrown. Two syntaxes:
//   plain INI            [section] / name=value          (..String2)
//   ACE registry export  [section] / "name"="text"       (all others)
//                                   "name"=dword:0000000a
#ifndef LINKCORE_WSNCONFIG_H
#define LINKCORE_WSNCONFIG_H

#include <stdint.h>
#include "LinkCoreExport.h"

// One folder entry filled by WSNGetFilePath.
struct WSN_FILE_ENTRY
{
    int32_t nSize;        // file size in bytes, 0 when it cannot be read
    int32_t nTimesValid;  // 1 when llModified is valid, else 0
    int64_t llModified;   // last modification, seconds since 1970-01-01 UTC
    char    szName[256];  // file name without folder, zero-terminated
};

extern "C" {

// Integer (dword entry) of key in section of a registry-export file;
// defaultValue when the file, section or key is missing or not an integer.
// Creates the section in the in-memory copy (no effect on the file).
LINKCORE_API unsigned int WSNGetPrivateProfileInt(const char* section, const char* key,
                                                  int defaultValue, const char* path);
// Same, without creating the section.
LINKCORE_API unsigned int WSNGetPrivateProfileInt2(const char* section, const char* key,
                                                   int defaultValue, const char* path);
// Registry-export syntax. Copies defaultText to out first, then the string
// value when found (cut to outSize bytes including the terminating zero).
// Returns 1 when found, 0 otherwise.
LINKCORE_API unsigned int WSNGetPrivateProfileString(const char* section, const char* key,
                                                     const char* defaultText, char* out,
                                                     unsigned int outSize, const char* path);
// Plain INI syntax, same contract. When the file cannot be loaded it writes
// "error open Ini config file--<path>" to the ACE diagnostic log.
LINKCORE_API unsigned int WSNGetPrivateProfileString2(const char* section, const char* key,
                                                      const char* defaultText, char* out,
                                                      unsigned int outSize, const char* path);
// Registry-export syntax. Loads the (existing) file, sets key to the string
// value, exports the whole configuration back. false when the file cannot be
// loaded (nothing is written then) or the export fails.
LINKCORE_API bool WSNWritePrivateProfileString(const char* section, const char* key,
                                               const char* value, const char* path);
// Lists every name of folder except "." and "..", one record each, in
// directory order. Result and *count: number of records, -1 when the folder
// cannot be opened. The caller provides room for every entry; entries may be
// null to count only.
LINKCORE_API int WSNGetFilePath(const char* folder, WSN_FILE_ENTRY* entries, int* count);
// Creates folder and its missing parents ("/" separates levels), mode 0777.
// false only for a null or empty string.
LINKCORE_API bool WSNCreatFilePath(const char* folder);

}  // extern "C"

#endif
