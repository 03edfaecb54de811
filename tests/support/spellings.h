// Other spellings of one place, made for real in the test prefix: Wine's drive of the whole Unix
// tree, a link made on the Unix side (Wine shows it as a reparse point and resolves it), device
// prefixes. And a canary: a real file a guard test names, put back whatever the guard did.
#pragma once

#include <windows.h>

#include <string>

#include "support/run_host.h"
#include "support/tempdir.h"

namespace spell {

// The Unix path of a Windows one, or "" outside Wine.
inline std::string UnixPath(const std::string &path)
{
    typedef char *(CDECL * UnixName)(LPCWSTR);
    UnixName unixName = reinterpret_cast<UnixName>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    wchar_t wide[MAX_PATH];
    if (!unixName || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return "";
    char *found = unixName(wide);
    std::string out = found ? found : "";
    HeapFree(GetProcessHeap(), 0, found);
    // Wine answers through its drive link ("dosdevices/c:"), whose colon no file name may hold.
    const std::string link = "/dosdevices/c:";
    size_t at = out.find(link);
    if (at != std::string::npos)
        out.replace(at, link.size(), "/drive_c");
    return out;
}

// The same file or folder through Wine's drive of the whole Unix tree ("Z:\work\...\drive_c\..."):
// another drive letter reaching it, as a mapped drive, a share or a link would on Windows.
inline std::string ThroughOtherDrive(const std::string &path)
{
    std::string unix = UnixPath(path);
    return unix.empty() ? "" : UnixToWine(unix);
}

// path with every 'from' as 'to' and its letters in upper case.
inline std::string Respelled(std::string path, char from, char to)
{
    for (char &c : path)
        c = c == from ? to : char(toupper(static_cast<unsigned char>(c)));
    return path;
}

// "\\?\Volume{GUID}\rest" for a path on a drive, or "" where the system cannot name its volume.
inline std::string VolumeSpelling(const std::string &path)
{
    char volume[MAX_PATH];
    if (path.size() < 3 || !GetVolumeNameForVolumeMountPointA(path.substr(0, 3).c_str(), volume,
                                                              sizeof volume))
        return "";
    return volume + path.substr(3);
}

// A directory link at link (which must not exist) to the folder target, made on the Unix side
// and removed with the object. ok() is false when it could not be made.
class HostLink {
public:
    HostLink(const std::string &link, const std::string &target) : link_(link)
    {
        std::string from = UnixPath(link), to = UnixPath(target);
        if (from.empty() || to.empty() || !RunHost("Z:\\bin\\ln -sfn \"" + to + "\" \"" + from + "\""))
            return;
        // The Unix program is not waited for through its handle: its effect is.
        for (int waited = 0; waited < 10000 && !testfs::Exists(link); waited += 20)
            Sleep(20);
    }
    ~HostLink()
    {
        std::string from = UnixPath(link_);
        if (!from.empty() && RunHost("Z:\\bin\\rm -f \"" + from + "\""))
            for (int waited = 0; waited < 10000 && testfs::Exists(link_); waited += 20)
                Sleep(20);
    }
    HostLink(const HostLink &) = delete;
    HostLink &operator=(const HostLink &) = delete;
    bool ok() const { return testfs::Exists(link_); }

private:
    std::string link_;
};

// A real file that a guard test names: its bytes are kept and put back afterwards (the file is
// made first when the prefix lacks it), so a broken guard fails one run, not every later one.
class Canary {
public:
    explicit Canary(const std::string &path) : path_(path), bytes_(testfs::ReadBytes(path))
    {
        had_ = bytes_ != "<missing>";
        if (!had_)
            testfs::WriteBytes(path_, "canary\r\n");
    }
    ~Canary()
    {
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (had_)
            testfs::WriteBytes(path_, bytes_);
        else
            DeleteFileA(path_.c_str());
    }
    Canary(const Canary &) = delete;
    Canary &operator=(const Canary &) = delete;
    bool alive() const { return testfs::IsFile(path_); }

private:
    std::string path_;
    std::string bytes_;
    bool had_;
};

}  // namespace spell
