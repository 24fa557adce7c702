// LinkCore export macro. Every class and free function that the program and
// the protocol plug-ins use carries LINKCORE_API; the library itself is built
// with hidden visibility, so only these are in its dynamic symbol table.
#ifndef LINKCORE_EXPORT_H
#define LINKCORE_EXPORT_H

#if defined(_WIN32)
#  if defined(LINKCORE_BUILD)
#    define LINKCORE_API __declspec(dllexport)
#  else
#    define LINKCORE_API __declspec(dllimport)
#  endif
#else
#  define LINKCORE_API __attribute__((visibility("default")))
#endif

#endif
