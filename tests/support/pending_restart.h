// What is left for the next start of Windows, as tests see and clear it: the NT family's
// pending operations (a registry value) and Windows 95's WININIT.INI; and a file held open the
// way a running program holds it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace restarttest {

constexpr char SESSION_MANAGER[] = "System\\CurrentControlSet\\Control\\Session Manager";
constexpr char PENDING_VALUE[] = "PendingFileRenameOperations";

inline std::string WindowsFile(const char *name)
{
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, sizeof dir);
    return std::string(dir) + "\\" + name;
}

inline std::string WininitPath() { return WindowsFile("wininit.ini"); }

// The paths pending deletion, in the order they will go (source "\??\path" with an empty target).
inline std::vector<std::string> PendingDeletions()
{
    std::vector<std::string> paths;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return paths;
    DWORD size = 0;
    std::vector<char> data;
    if (RegQueryValueExA(key, PENDING_VALUE, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        data.resize(size + 2);
        RegQueryValueExA(key, PENDING_VALUE, nullptr, nullptr,
                         reinterpret_cast<BYTE *>(data.data()), &size);
    }
    RegCloseKey(key);
    // Empty targets make empty strings: walk by the value's size, not to a double NUL.
    std::vector<std::string> strings;
    for (DWORD at = 0; at < size;) {
        std::string s = data.data() + at;
        strings.push_back(s);
        at += DWORD(s.size() + 1);
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2)
        if (strings[i + 1].empty() && strings[i].compare(0, 4, "\\??\\") == 0)
            paths.push_back(strings[i].substr(4));
    return paths;
}

inline std::string ReadText(const std::string &path)
{
    std::string text;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD got;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(h);
    return text;
}

// Nothing pending of either kind, nor what a restart made of WININIT.INI: a test neither meets
// another's leftovers nor leaves its own.
inline void ClearPending()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_ALL_ACCESS, &key) ==
        ERROR_SUCCESS) {
        RegDeleteValueA(key, PENDING_VALUE);
        RegCloseKey(key);
    }
    DeleteFileA(WininitPath().c_str());
    DeleteFileA(WindowsFile("wininit.bak").c_str());
}

// Clears what is pending when made and when it goes.
struct PendingScope {
    PendingScope() { ClearPending(); }
    ~PendingScope() { ClearPending(); }
    PendingScope(const PendingScope &) = delete;
    PendingScope &operator=(const PendingScope &) = delete;
};

// A file held open without delete sharing, as a running program holds its own files: another
// process's DeleteFileA fails with a sharing violation.
class HeldFile {
public:
    explicit HeldFile(const std::string &path) : path(path)
    {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written;
        if (h != INVALID_HANDLE_VALUE)
            WriteFile(h, "en uso", 6, &written, nullptr);
        handle_ = h;
    }
    ~HeldFile() { Release(); }
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Release()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    std::string path;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A copy of this test program mapped as an image, as a running program maps its EXE and a
// process its DLLs (loaded, never run): DeleteFileA refuses it with access denied, while
// MoveFileA renames it within its folder.
class LoadedImage {
public:
    explicit LoadedImage(const std::string &path) : path(path)
    {
        char self[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        if (CopyFileA(self, path.c_str(), FALSE))
            module_ = LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    }
    ~LoadedImage()
    {
        if (module_)
            FreeLibrary(module_);
    }
    LoadedImage(const LoadedImage &) = delete;
    LoadedImage &operator=(const LoadedImage &) = delete;

    bool Loaded() const { return module_ != nullptr; }

    std::string path;

private:
    HMODULE module_ = nullptr;
};

}  // namespace restarttest
