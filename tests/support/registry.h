// Registry keys and values set, read and removed straight through the Win32 functions (never
// through the code under test), the well-known keys an installation registers under, and a value
// saved and put back around a test.
#pragma once

#include <windows.h>

#include <string>

namespace testreg {

constexpr char UNINSTALL_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr char APP_PATHS_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr char SHARED_DLLS_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr char SHELL_FOLDERS_KEY[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// What GetValue gives for a value or key that is not there.
constexpr char MISSING[] = "<missing>";

inline bool SetRaw(HKEY root, const std::string &path, const std::string &name, DWORD type,
                   const void *data, DWORD size)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

inline bool SetString(HKEY root, const std::string &path, const std::string &name,
                      const std::string &value)
{
    return SetRaw(root, path, name, REG_SZ, value.c_str(), DWORD(value.size() + 1));
}

inline bool SetDword(HKEY root, const std::string &path, const std::string &name, DWORD value)
{
    return SetRaw(root, path, name, REG_DWORD, &value, sizeof value);
}

inline bool MakeKey(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline bool KeyExists(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The value as text (strings as stored, DWORDs in decimal), or MISSING.
inline std::string GetValue(HKEY root, const std::string &path, const std::string &name)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return MISSING;
    char data[2048];
    DWORD type = 0, size = sizeof data - 1;
    LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(data),
                               &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return MISSING;
    if (type == REG_DWORD)
        return std::to_string(*reinterpret_cast<DWORD *>(data));
    data[size] = '\0';
    return data;
}

// Empties key by the subkeys' wide names, which reach names outside the ANSI code page too.
inline bool DeleteSubkeys(HKEY key)
{
    wchar_t name[256];
    while (RegEnumKeyW(key, 0, name, 256) == ERROR_SUCCESS) {
        HKEY sub;
        if (RegOpenKeyExW(key, name, 0, KEY_ALL_ACCESS, &sub) != ERROR_SUCCESS)
            return false;
        bool emptied = DeleteSubkeys(sub);
        RegCloseKey(sub);
        if (!emptied || RegDeleteKeyW(key, name) != ERROR_SUCCESS)
            return false;
    }
    return true;
}

inline void DeleteTree(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    DeleteSubkeys(key);
    RegCloseKey(key);
    RegDeleteKeyA(root, path.c_str());
}

inline void DeleteValue(HKEY root, const std::string &path, const std::string &name)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
}

// A string value as it was before a test changed it, put back (or removed again) afterwards.
class SavedValue {
public:
    SavedValue(HKEY root, const std::string &path, const std::string &name)
        : root_(root), path_(path), name_(name), old_(GetValue(root, path, name))
    {
    }
    ~SavedValue() { Restore(); }
    SavedValue(const SavedValue &) = delete;
    SavedValue &operator=(const SavedValue &) = delete;

    void Restore() const
    {
        if (old_ == MISSING)
            DeleteValue(root_, path_, name_);
        else
            SetString(root_, path_, name_, old_);
    }

private:
    HKEY root_;
    std::string path_, name_, old_;
};

}  // namespace testreg
