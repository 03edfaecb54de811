// An installed product as an installer leaves it: directories, files, shared-file counts, keys
// and values of its own, its App Paths and Uninstall entries, and the log that describes it. Each
// test world (and the demo) describes its product here and builds and removes it in one place,
// with the plain Win32 calls and the independent log writer.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "support/logfile.h"
#include "support/registry.h"
#include "support/tempdir.h"

namespace testinstall {

struct Value {
    HKEY root;
    std::string key, name, text;
    bool isDword;
    DWORD number;
};

struct Product {
    std::vector<std::string> dirs;                            // parents are made as needed
    std::vector<std::pair<std::string, std::string>> files;   // path and content
    std::vector<std::pair<std::string, DWORD>> shared;        // SharedDLLs counts
    std::vector<std::pair<HKEY, std::string>> keys;           // its own: removed whole
    std::vector<Value> values;                                // removed one by one
    std::string log;                                          // written when named
    rawlog::Items items;
    std::vector<rawlog::Rec> records;

    void File(const std::string &path, const std::string &content)
    {
        files.push_back({path, content});
    }
    void Key(HKEY root, const std::string &key) { keys.push_back({root, key}); }
    void String(HKEY root, const std::string &key, const std::string &name,
                const std::string &text)
    {
        values.push_back({root, key, name, text, false, 0});
    }
    void Dword(HKEY root, const std::string &key, const std::string &name, DWORD number)
    {
        values.push_back({root, key, name, "", true, number});
    }
    void AppPath(const std::string &program, const std::string &target)
    {
        Key(HKEY_LOCAL_MACHINE, testreg::APP_PATHS_KEY + program);
        String(HKEY_LOCAL_MACHINE, testreg::APP_PATHS_KEY + program, "", target);
    }
    void Uninstall(const std::string &entry, const std::string &display,
                   const std::string &command)
    {
        std::string key = testreg::UNINSTALL_KEY + entry;
        Key(HKEY_LOCAL_MACHINE, key);
        String(HKEY_LOCAL_MACHINE, key, "DisplayName", display);
        String(HKEY_LOCAL_MACHINE, key, "UninstallString", command);
    }

    // Puts everything in place, going on past a failure; the first one is told in why.
    bool Build(std::string *why = nullptr) const
    {
        std::string first;
        auto check = [&](bool ok, const std::string &what) {
            if (!ok && first.empty())
                first = "cannot " + what + " (error " + std::to_string(GetLastError()) + ")";
        };
        for (const std::string &d : dirs)
            check(testfs::MakeDirs(d), "make the directory " + d);
        for (const auto &f : files)
            check(testfs::MakeDirs(testfs::Parent(f.first)) &&
                      testfs::WriteBytes(f.first, f.second),
                  "write " + f.first);
        for (const auto &s : shared)
            check(testreg::SetDword(HKEY_LOCAL_MACHINE, testreg::SHARED_DLLS_KEY, s.first,
                                    s.second),
                  "count " + s.first);
        for (const auto &k : keys)
            check(testreg::MakeKey(k.first, k.second), "make the key " + k.second);
        for (const Value &v : values)
            check(v.isDword ? testreg::SetDword(v.root, v.key, v.name, v.number)
                            : testreg::SetString(v.root, v.key, v.name, v.text),
                  "set " + v.key + "\\" + v.name);
        if (!log.empty())
            check(rawlog::WriteLog(log, items, records), "write the log " + log);
        if (why)
            *why = first;
        return first.empty();
    }

    // Removes what Build puts in place (read-only files too), whether it was built or not.
    void Remove() const
    {
        for (const auto &f : files) {
            SetFileAttributesA(f.first.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(f.first.c_str());
        }
        if (!log.empty())
            DeleteFileA(log.c_str());
        for (const auto &s : shared)
            testreg::DeleteValue(HKEY_LOCAL_MACHINE, testreg::SHARED_DLLS_KEY, s.first);
        for (auto d = dirs.rbegin(); d != dirs.rend(); ++d)
            RemoveDirectoryA(d->c_str());
        for (const auto &k : keys)
            testreg::DeleteTree(k.first, k.second);
        for (const Value &v : values)
            testreg::DeleteValue(v.root, v.key, v.name);
    }
};

}  // namespace testinstall
