// A private scratch directory per test, removed with everything in it afterwards, and small
// file helpers that go straight to Win32 (not through the code under test).
#pragma once

#include <windows.h>

#include <string>

namespace testfs {

inline void RemoveTree(const std::string &dir)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string full = dir + "\\" + name;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

class TempDir {
public:
    TempDir()
    {
        char base[MAX_PATH];
        GetTempPathA(sizeof base, base);
        static unsigned serial;
        for (;;) {
            path_ = std::string(base) + "rmtest" + std::to_string(GetCurrentProcessId()) + "_" +
                    std::to_string(++serial);
            if (CreateDirectoryA(path_.c_str(), nullptr))
                break;
        }
    }
    ~TempDir() { RemoveTree(path_); }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

inline bool WriteBytes(const std::string &path, const std::string &bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr);
    CloseHandle(h);
    return ok && done == bytes.size();
}

// The whole file, or "<missing>" when it cannot be opened.
inline std::string ReadBytes(const std::string &path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
        out.append(buf, got);
    CloseHandle(h);
    return out;
}

inline bool IsFile(const std::string &path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool IsDir(const std::string &path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string Parent(const std::string &path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

// Makes dir and any parent it lacks; true when it is there.
inline bool MakeDirs(const std::string &dir)
{
    if (dir.empty() || IsDir(dir))
        return true;
    MakeDirs(Parent(dir));
    return CreateDirectoryA(dir.c_str(), nullptr) || IsDir(dir);
}

// The Windows directory, with its trailing backslash.
inline std::string WindowsDir()
{
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, sizeof dir);
    std::string s = dir;
    if (s.empty() || s.back() != '\\')
        s += '\\';
    return s;
}

inline std::string SystemDir()
{
    char dir[MAX_PATH];
    GetSystemDirectoryA(dir, sizeof dir);
    return dir;
}

inline std::string Pattern(size_t n, unsigned seed = 1)
{
    std::string s(n, '\0');
    unsigned x = seed;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        s[i] = char(x >> 16);
    }
    return s;
}

}  // namespace testfs
