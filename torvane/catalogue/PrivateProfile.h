// INI files ("config.ini", "setting.ini", the per-language files) read and
// written one key at a time, the way the Windows private-profile calls behave:
//
// - Section and key names match without regard to case; blanks around names
//   and values are ignored; a value wrapped in matching quotes ('...' or "...")
//   is read without them. Lines starting with ";" are comments. The first
//   matching section and, in it, the first matching key count.
// - A value is everything after the first "=", commas included ("2,EVEN,偶").
// - A missing file, section or key gives the default.
// - Writing one key changes only that key's line; every other byte of the file
//   (other sections and keys, comments, blank lines, order, a UTF-8 byte order
//   mark, CRLF or LF line ends) stays as it was. A missing file, section or key
//   is created. The new file replaces the old one by rename, so a crash leaves
//   either the old or the new file, never half of one.
//
// Files are UTF-8; a file that starts with a UTF-16 byte order mark (as
// Windows tools write them) is read and written back as UTF-16. Nothing here
// throws.
#pragma once

#include <string>

// The value of `key` in `section`, at most capacity - 1 characters (the
// Windows call's buffer size); `def` when the file, section or key is missing.
std::wstring PrivateProfileGetString(const std::wstring& section, const std::wstring& key,
                                     const std::wstring& def, const std::wstring& path,
                                     size_t capacity = 512);

// The value read as a decimal integer: leading blanks, optional sign, digits up
// to the first non-digit; a value that is no number gives 0. A missing or empty
// value gives `def`.
int PrivateProfileGetInt(const std::wstring& section, const std::wstring& key, int def,
                         const std::wstring& path);

// Sets `key` in `section` to `value`. False when the file cannot be read or
// written (a missing folder included), or when a name or the value would break
// the file's line structure (a line break or NUL anywhere, "]" in the section
// name, "=" in the key, an empty name, a key starting with "[" or ";").
bool PrivateProfileWriteString(const std::wstring& section, const std::wstring& key,
                               const std::wstring& value, const std::wstring& path);
