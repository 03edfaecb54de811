// remover_demo: the installer side of the demonstration. It installs the sample product that a
// log description names (every record kind put in place the way an installer would have), beside
// a second product of the same company that shares a DLL, a registry key and a value with it;
// then it runs the product's registered uninstall command and shows, before and after, what
// exists. The description is the same file `logtool build` turns into the installation log.
//
//   remover_demo clean DESCRIPTION.json
//   remover_demo install DESCRIPTION.json LOG
//   remover_demo uninstall DESCRIPTION.json unattended|by-hand
//   remover_demo uninstall DESCRIPTION.json screenshots|program-open|user-file UNIX_DIR
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/product.h"
#include "tools/logtool/json.h"
#include "engine/report.h"
#include "shell/remover_res.h"
#include "ui/progress_res.h"

namespace {

// The neighbour: another product of the same company that counts the first shared DLL too and
// keeps a value beside each of ours.
const char NEIGHBOUR[] = "Diccionario Demo";
const char NEIGHBOUR_VERSION[] = "2.0";

const char CURRENT_VERSION[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char WINE_APP_DEFAULTS[] = "Software\\Wine\\AppDefaults\\remover.exe";

// remover's own windows, as a user sees them.
const wchar_t CONFIRM_CAPTION[] = L"Desinstalación de Parlomatic";
const wchar_t SPLASH_CLASS[] = L"DeKvAbtClsName";

constexpr DWORD UNATTENDED_LIMIT_MS = 120000;
constexpr DWORD WINDOW_LIMIT_MS = 30000;

// ---- The description ---------------------------------------------------------------------

struct Record {
    std::string name;
    std::string text;
    std::vector<std::string> list;
};

struct Product {
    std::string items[12];  // header items by number; 10 (the record count) is not used
    std::vector<Record> records;
    std::string programs;   // the user's Start Menu programs folder
    std::string folder;     // the product's folder: the shortest directory record
};

bool ReadFile(const char *path, std::string *out)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char buf[4096];
    DWORD got = 0;
    out->clear();
    while (::ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
        out->append(buf, got);
    CloseHandle(h);
    return true;
}

std::string ProgramsFolder()
{
    char path[MAX_PATH] = "";
    if (SHGetFolderPathA(nullptr, CSIDL_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK)
        return "C:\\windows\\Start Menu\\Programs";
    return path;
}

bool LoadProduct(const char *path, Product *p)
{
    std::string text, error;
    JsonValue doc;
    if (!ReadFile(path, &text)) {
        fprintf(stderr, "remover_demo: cannot read %s\n", path);
        return false;
    }
    if (!JsonParse(text, &doc, &error)) {
        fprintf(stderr, "remover_demo: %s: %s\n", path, error.c_str());
        return false;
    }
    if (const JsonValue *items = JsonMember(doc, "items"))
        for (const auto &m : items->members) {
            int n = atoi(m.first.c_str());
            if (n >= 1 && n <= 11 && m.second.kind == JSON_STRING)
                p->items[n] = m.second.text;
        }
    if (const JsonValue *records = JsonMember(doc, "records"))
        for (const JsonValue &r : records->items) {
            Record rec;
            if (const JsonValue *v = JsonMember(r, "name"))
                rec.name = v->text;
            if (const JsonValue *v = JsonMember(r, "text"))
                rec.text = v->text;
            if (const JsonValue *v = JsonMember(r, "list"))
                for (const JsonValue &s : v->items)
                    rec.list.push_back(s.text);
            if (rec.name == "CDR" && (p->folder.empty() || rec.text.size() < p->folder.size()))
                p->folder = rec.text;
            p->records.push_back(rec);
        }
    p->programs = ProgramsFolder();
    return true;
}

std::vector<const Record *> Kind(const Product &p, const char *name, size_t listSize = 0)
{
    std::vector<const Record *> found;
    for (const Record &r : p.records)
        if (r.name == name && r.list.size() >= listSize)
            found.push_back(&r);
    return found;
}

// "-2147483646;\Software\x" (a record's root and key) split into a root and a plain key path.
bool SplitKey(const std::string &field, HKEY *root, std::string *path)
{
    size_t semi = field.find(';');
    if (semi == std::string::npos)
        return false;
    long long n = atoll(field.substr(0, semi).c_str());
    *root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(static_cast<ULONG>(n))));
    std::string rest = field.substr(semi + 1);
    rest = rest.substr(0, rest.find(';'));
    if (!rest.empty() && rest[0] == '\\')
        rest.erase(0, 1);
    if (!rest.empty() && rest.back() == '\\')
        rest.pop_back();
    *path = rest;
    return !rest.empty();
}

std::string RootName(HKEY root)
{
    if (root == HKEY_CLASSES_ROOT)
        return "HKCR";
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    if (root == HKEY_LOCAL_MACHINE)
        return "HKLM";
    return "HKU";
}

std::vector<std::string> AppNames(const Product &p)
{
    std::vector<std::string> names;
    std::string all = p.items[8] + ";";
    for (size_t at = 0, semi; (semi = all.find(';', at)) != std::string::npos; at = semi + 1) {
        if (semi == at)
            break;  // remover stops at the first empty name as well
        names.push_back(all.substr(at, semi - at));
    }
    return names;
}

std::string ProductKey(const Product &p)
{
    return "Software\\" + p.items[9] + "\\" + p.items[1] + "\\" + p.items[2];
}
std::string NeighbourKey(const Product &p)
{
    return "Software\\" + p.items[9] + "\\" + NEIGHBOUR + "\\" + NEIGHBOUR_VERSION;
}
std::string UninstallKey(const Product &p)
{
    return testreg::UNINSTALL_KEY + p.items[11];
}
std::string LinkPath(const Product &p, const Record &r)
{
    return p.programs + "\\" + r.list[0] + "\\" + r.list[1] + ".lnk";
}

// ---- Registry and files --------------------------------------------------------------------

using testfs::IsDir;
using testfs::IsFile;
using testfs::MakeDirs;
using testfs::Parent;
using testreg::KeyExists;
using testreg::SetString;

// The value's text (REG_SZ) or number (REG_DWORD, in decimal); false when it is missing.
bool GetValue(HKEY root, const std::string &key, const std::string &name, std::string *text)
{
    std::string value = testreg::GetValue(root, key, name);
    if (value == testreg::MISSING)
        return false;
    if (text)
        *text = value;
    return true;
}

DWORD SharedCount(const std::string &file)
{
    std::string count;
    return GetValue(HKEY_LOCAL_MACHINE, testreg::SHARED_DLLS_KEY, file, &count) ? DWORD(atol(count.c_str())) : 0;
}

void SetSharedCount(const std::string &file, DWORD n)
{
    if (n)
        testreg::SetDword(HKEY_LOCAL_MACHINE, testreg::SHARED_DLLS_KEY, file, n);
    else
        testreg::DeleteValue(HKEY_LOCAL_MACHINE, testreg::SHARED_DLLS_KEY, file);
}

bool WriteFile(const std::string &path, const std::string &content)
{
    return MakeDirs(Parent(path)) && testfs::WriteBytes(path, content);
}

// A real shell link to target, as the installer's Start Menu entries are.
bool MakeShortcut(const std::string &link, const std::string &target)
{
    MakeDirs(Parent(link));
    IShellLinkA *shell = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void **>(&shell))))
        return WriteFile(link, "");
    shell->SetPath(target.c_str());
    shell->SetWorkingDirectory(Parent(target).c_str());
    IPersistFile *file = nullptr;
    bool ok = false;
    if (SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH);
        ok = SUCCEEDED(file->Save(wide, TRUE));
        file->Release();
    }
    shell->Release();
    return ok || WriteFile(link, "");
}

// ---- clean and install ---------------------------------------------------------------------

// Removes whatever an earlier demonstration left, ours and the neighbour's alike.
void Clean(const Product &p)
{
    for (const Record *r : Kind(p, "CF"))
        DeleteFileA(r->text.c_str());
    for (const Record *r : Kind(p, "CSF", 2)) {
        DeleteFileA(r->list[1].c_str());
        SetSharedCount(r->list[1], 0);
    }
    std::vector<std::string> dirs;
    for (const Record *r : Kind(p, "API", 2)) {
        DeleteFileA(LinkPath(p, *r).c_str());
        dirs.push_back(p.programs + "\\" + r->list[0]);
    }
    for (const Record *r : Kind(p, "CDR"))
        dirs.push_back(r->text);
    std::sort(dirs.begin(), dirs.end(),
              [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
    for (const std::string &d : dirs) {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((d + "\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA((d + "\\" + fd.cFileName).c_str());
            while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryA(d.c_str());
    }
    for (const Record *r : Kind(p, "CRK")) {
        HKEY root;
        std::string key;
        if (SplitKey(r->text, &root, &key))
            SHDeleteKeyA(root, key.c_str());
    }
    for (const Record *r : Kind(p, "SRK", 2)) {
        HKEY root;
        std::string key;
        if (SplitKey(r->list[0], &root, &key)) {
            testreg::DeleteValue(root, key, r->list[1]);
            testreg::DeleteValue(root, key, NEIGHBOUR);
        }
    }
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, ("Software\\" + p.items[9]).c_str());
    for (const std::string &name : AppNames(p))
        SHDeleteKeyA(HKEY_LOCAL_MACHINE,
                     (testreg::APP_PATHS_KEY + name).c_str());
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallKey(p).c_str());
    // Working copies an interrupted run would have left in the Windows directory.
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("C:\\windows\\_detmp.*", &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do
            DeleteFileA((std::string("C:\\windows\\") + fd.cFileName).c_str());
        while (FindNextFileA(h, &fd));
        FindClose(h);
    }
}

// Puts in place what each record says the installation did, registers the uninstall command
// for the log at logPath, and sets up the neighbour.
bool Install(const Product &p, const std::string &logPath)
{
    testinstall::Product installed;
    std::string program;
    for (const Record *r : Kind(p, "CF")) {
        installed.File(r->text, "Parlomatic demo file\r\n");
        if (program.empty() && r->text.size() > 4 &&
            lstrcmpiA(r->text.c_str() + r->text.size() - 4, ".exe") == 0)
            program = r->text;
    }
    // One more reference to each shared DLL, and the neighbour's to the first.
    auto reference = [&](const std::string &file) {
        for (auto &counted : installed.shared)
            if (counted.first == file) {
                counted.second++;
                return;
            }
        installed.shared.push_back({file, SharedCount(file) + 1});
    };
    const std::vector<const Record *> shared = Kind(p, "CSF", 2);
    for (const Record *r : shared) {
        installed.File(r->list[1], "shared library\r\n");
        reference(r->list[1]);
    }
    if (!shared.empty())
        reference(shared[0]->list[1]);
    for (const Record *r : Kind(p, "CDR"))
        installed.dirs.push_back(r->text);
    for (const Record *r : Kind(p, "CPG"))
        installed.dirs.push_back(p.programs + "\\" + r->text);
    // remover finds the shortcuts through this value.
    installed.String(HKEY_CURRENT_USER, testreg::SHELL_FOLDERS_KEY, "Programs", p.programs);
    bool ok = true;
    for (const Record *r : Kind(p, "CRK")) {
        HKEY root;
        std::string key;
        if (!SplitKey(r->text, &root, &key)) {
            ok = false;
            continue;
        }
        installed.String(root, key, "", p.items[1]);
        installed.String(root, key + "\\Opciones", "Idioma", "es");
    }
    for (const Record *r : Kind(p, "SRK", 2)) {
        HKEY root;
        std::string key;
        if (!SplitKey(r->list[0], &root, &key)) {
            ok = false;
            continue;
        }
        installed.String(root, key, r->list[1], program);
        installed.String(root, key, NEIGHBOUR, "C:\\Program Files\\Diccionario Demo\\dicc.exe");
    }
    installed.String(HKEY_LOCAL_MACHINE, ProductKey(p), "Ruta", p.folder);
    installed.String(HKEY_LOCAL_MACHINE, NeighbourKey(p), "Ruta", "C:\\Program Files\\Diccionario Demo");
    for (const std::string &name : AppNames(p))
        installed.AppPath(name, p.folder + "\\" + name);
    // -f followed directly by the log; quoted, since the path holds blanks.
    installed.Uninstall(p.items[11], p.items[1], "C:\\windows\\remover.exe -f\"" + logPath + "\"");
    std::string why;
    if (!installed.Build(&why)) {
        fprintf(stderr, "remover_demo: %s\n", why.c_str());
        ok = false;
    }
    CoInitialize(nullptr);
    for (const Record *r : Kind(p, "API", 2))
        ok = MakeShortcut(LinkPath(p, *r), program) && ok;
    CoUninitialize();
    // remover runs under Wine's own Windows version; a demo prefix made by an earlier demo may
    // still tell Wine to report Windows 95 to it.
    testreg::DeleteValue(HKEY_CURRENT_USER, WINE_APP_DEFAULTS, "Version");
    return ok;
}

// ---- The table -----------------------------------------------------------------------------

enum Probe { PROBE_FILE, PROBE_DIR, PROBE_KEY, PROBE_VALUE, PROBE_SHARED, PROBE_TEMP };

struct Row {
    std::string section;
    std::string shown;
    Probe probe;
    HKEY root = nullptr;
    std::string path;
    std::string value;
    bool kept = false;        // what a sound uninstall leaves
    std::string why;          // for the rows that stay
    std::string before;
};

std::string State(const Row &r)
{
    switch (r.probe) {
    case PROBE_FILE:
        return IsFile(r.path) ? "present" : "-";
    case PROBE_DIR:
        return IsDir(r.path) ? "present" : "-";
    case PROBE_KEY:
        return KeyExists(r.root, r.path) ? "present" : "-";
    case PROBE_VALUE:
        return GetValue(r.root, r.path, r.value, nullptr) ? "present" : "-";
    case PROBE_SHARED: {
        std::string s = IsFile(r.path) ? "present" : "-";
        std::string count;
        if (GetValue(HKEY_LOCAL_MACHINE, testreg::SHARED_DLLS_KEY, r.path, &count))
            s += ", count " + count;
        return s;
    }
    case PROBE_TEMP: {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA(r.path.c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE)
            return "-";
        FindClose(h);
        return "present";
    }
    }
    return "?";
}

// What a sound uninstall leaves of a row that was there before.
std::string Expected(const Row &r)
{
    if (r.probe == PROBE_SHARED && r.kept) {
        DWORD n = 0;
        size_t at = r.before.find("count ");
        if (at != std::string::npos)
            n = DWORD(atoi(r.before.c_str() + at + 6));
        return "present, count " + std::to_string(n - 1);
    }
    return r.kept ? r.before : "-";
}

// Long but well-known parts of paths, shortened so that a row fits a terminal line.
std::string Shorten(const Product &p, std::string s)
{
    const std::pair<std::string, std::string> parts[] = {
        {p.programs + "\\", "<Programs>\\"},
        {std::string(CURRENT_VERSION) + "\\", "..\\CurrentVersion\\"},
    };
    for (const auto &part : parts) {
        size_t at = s.find(part.first);
        if (at != std::string::npos)
            s.replace(at, part.first.size(), part.second);
    }
    return s;
}

std::vector<Row> Rows(const Product &p)
{
    std::vector<Row> rows;
    auto add = [&](const char *section, const std::string &shown, Probe probe, HKEY root,
                   const std::string &path, const std::string &value = "", bool kept = false,
                   const std::string &why = "") {
        Row r;
        r.section = section;
        r.shown = Shorten(p, shown);
        r.probe = probe;
        r.root = root;
        r.path = path;
        r.value = value;
        r.kept = kept;
        r.why = why;
        rows.push_back(r);
    };
    for (const Record *r : Kind(p, "CF"))
        add("Files (CF)", r->text, PROBE_FILE, nullptr, r->text);
    const std::vector<const Record *> shared = Kind(p, "CSF", 2);
    for (size_t i = 0; i < shared.size(); i++)
        add("Shared files, with their SharedDLLs count (CSF)", shared[i]->list[1], PROBE_SHARED,
            nullptr, shared[i]->list[1], "", i == 0,
            i == 0 ? std::string(NEIGHBOUR) + " uses it too" : "");
    for (const Record *r : Kind(p, "API", 2))
        add("Start Menu shortcuts (API) and their folder (CPG)", LinkPath(p, *r), PROBE_FILE,
            nullptr, LinkPath(p, *r));
    for (const Record *r : Kind(p, "CPG"))
        add("Start Menu shortcuts (API) and their folder (CPG)", p.programs + "\\" + r->text,
            PROBE_DIR, nullptr, p.programs + "\\" + r->text);
    std::vector<const Record *> dirs = Kind(p, "CDR");
    for (const Record *r : dirs)
        add("Folders (CDR)", r->text, PROBE_DIR, nullptr, r->text);
    for (const Record *r : Kind(p, "CRK")) {
        HKEY root;
        std::string key;
        if (SplitKey(r->text, &root, &key))
            add("Registry keys (CRK)", RootName(root) + "\\" + key, PROBE_KEY, root, key);
    }
    for (const Record *r : Kind(p, "SRK", 2)) {
        HKEY root;
        std::string key;
        if (!SplitKey(r->list[0], &root, &key))
            continue;
        add("Registry values (SRK)", RootName(root) + "\\" + key + " : " + r->list[1],
            PROBE_VALUE, root, key, r->list[1]);
        add("Registry values (SRK)", RootName(root) + "\\" + key + " : " + NEIGHBOUR,
            PROBE_VALUE, root, key, NEIGHBOUR, true, std::string("belongs to ") + NEIGHBOUR);
    }
    if (!Kind(p, "URK").empty()) {
        const std::string company = "Software\\" + p.items[9];
        const char *section = "Product key and company key (URK)";
        add(section, "HKLM\\" + ProductKey(p), PROBE_KEY, HKEY_LOCAL_MACHINE, ProductKey(p));
        add(section, "HKLM\\" + company + "\\" + p.items[1], PROBE_KEY, HKEY_LOCAL_MACHINE,
            company + "\\" + p.items[1]);
        add(section, "HKLM\\" + NeighbourKey(p), PROBE_KEY, HKEY_LOCAL_MACHINE, NeighbourKey(p),
            "", true, "the sibling product");
        add(section, "HKLM\\" + company, PROBE_KEY, HKEY_LOCAL_MACHINE, company, "", true,
            std::string("still holds ") + NEIGHBOUR);
    }
    if (!Kind(p, "MRK").empty()) {
        const char *section = "App Paths and the Uninstall entry (MRK)";
        for (const std::string &name : AppNames(p)) {
            std::string key = testreg::APP_PATHS_KEY + name;
            add(section, "HKLM\\" + key, PROBE_KEY, HKEY_LOCAL_MACHINE, key);
        }
        add(section, "HKLM\\" + UninstallKey(p), PROBE_KEY, HKEY_LOCAL_MACHINE, UninstallKey(p));
    }
    const char *section = "remover itself";
    add(section, "C:\\windows\\remover.exe", PROBE_FILE, nullptr, "C:\\windows\\remover.exe", "",
        true, "serves every product; not in the log");
    add(section, "C:\\windows\\_detmp.* (working copy of the log)", PROBE_TEMP, nullptr,
        "C:\\windows\\_detmp.*");
    add(section, "C:\\windows\\_bmp23_.bm_ (splash picture)", PROBE_TEMP, nullptr,
        "C:\\windows\\_bmp23_.bm_");
    return rows;
}

size_t ShownWidth(const std::vector<Row> &rows)
{
    size_t w = 0;
    for (const Row &r : rows)
        w = std::max(w, r.shown.size());
    return w;
}

void PrintBefore(const Product &p, std::vector<Row> &rows, const std::string &log)
{
    size_t w = ShownWidth(rows);
    printf("\nBEFORE: what the installation of %s %s put in place\n", p.items[1].c_str(),
           p.items[2].c_str());
    printf("  (<Programs> is %s)\n", p.programs.c_str());
    printf("  (the installation log: %s)\n", log.c_str());
    std::string section;
    for (Row &r : rows) {
        r.before = State(r);
        if (r.section != section) {
            section = r.section;
            printf("\n  %s\n", section.c_str());
        }
        if (r.kept)
            printf("    %-*s  %-17s (%s)\n", int(w), r.shown.c_str(), r.before.c_str(),
                   r.why.c_str());
        else
            printf("    %-*s  %s\n", int(w), r.shown.c_str(), r.before.c_str());
    }
    fflush(stdout);
}

// The after-table; returns the number of rows that did not end as a sound uninstall leaves them.
int PrintAfter(std::vector<Row> &rows)
{
    size_t w = ShownWidth(rows);
    int removed = 0, kept = 0, wrong = 0;
    printf("\nAFTER: what the uninstall removed and what it rightly kept\n");
    std::string section;
    for (Row &r : rows) {
        std::string now = State(r);
        std::string verdict;
        if (now != Expected(r)) {
            verdict = "!! " + (now == "-" ? std::string("gone") : now) + ", expected " +
                      (Expected(r) == "-" ? std::string("removed") : Expected(r));
            wrong++;
        } else if (r.before == "-") {
            verdict = "none left behind";
        } else if (r.kept) {
            verdict = "kept";
            if (r.probe == PROBE_SHARED)
                verdict += ", count " + r.before.substr(r.before.find("count ") + 6) + " -> " +
                           now.substr(now.find("count ") + 6);
            verdict += ": " + r.why;
            kept++;
        } else {
            verdict = "removed";
            removed++;
        }
        if (r.section != section) {
            section = r.section;
            printf("\n  %s\n", section.c_str());
        }
        printf("    %-*s  %s\n", int(w), r.shown.c_str(), verdict.c_str());
    }
    printf("\n");
    if (wrong && removed == 0)
        printf("RESULT: nothing was removed (was the confirmation answered No?).\n");
    else if (wrong)
        printf("RESULT: %d rows NOT as expected (marked !!); %d removed, %d rightly kept.\n", wrong,
               removed, kept);
    else
        printf("RESULT: as expected: %d things removed, %d rightly kept, no temporary files left.\n",
               removed, kept);
    fflush(stdout);
    return wrong;
}

// ---- Running remover -----------------------------------------------------------------------

bool Start(const std::string &commandLine, PROCESS_INFORMATION *pi)
{
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    return CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          pi) != 0;
}

// The command with "-a" put right behind the program's name.
std::string Unattended(const std::string &command)
{
    size_t end = command[0] == '"' ? command.find('"', 1) + 1 : command.find(' ');
    if (end == std::string::npos || end == 0)
        return command + " -a";
    return command.substr(0, end) + " -a" + command.substr(end);
}

std::wstring Text(HWND w)
{
    wchar_t t[512] = L"";
    GetWindowTextW(w, t, 512);
    return t;
}

std::wstring Class(HWND w)
{
    wchar_t t[256] = L"";
    GetClassNameW(w, t, 256);
    return t;
}

struct Find {
    DWORD pid;
    const wchar_t *cls;
    const wchar_t *caption;  // or null
    int control;             // a control the window must have, or 0
    HWND found;
};

BOOL CALLBACK FindOne(HWND w, LPARAM param)
{
    Find *f = reinterpret_cast<Find *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != f->pid || !IsWindowVisible(w) || Class(w) != f->cls ||
        (f->caption && Text(w) != f->caption) || (f->control && !GetDlgItem(w, f->control)))
        return TRUE;
    f->found = w;
    return FALSE;
}

HWND WaitForWindow(HANDLE process, DWORD pid, const wchar_t *cls, const wchar_t *caption,
                   int control)
{
    for (DWORD begin = GetTickCount(); GetTickCount() - begin < WINDOW_LIMIT_MS;) {
        Find f = {pid, cls, caption, control, nullptr};
        EnumWindows(FindOne, reinterpret_cast<LPARAM>(&f));
        if (f.found)
            return f.found;
        if (WaitForSingleObject(process, 20) == WAIT_OBJECT_0)
            return nullptr;
    }
    return nullptr;
}

void Press(HWND dialog, int id)
{
    DWORD_PTR result;
    SendMessageTimeoutA(GetDlgItem(dialog, id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
}

// Grabs the X screen and keeps the window's rectangle of it as a PNG (Wine starts Unix programs
// by their Z: path). Waits until the picture is complete.
bool Screenshot(HWND window, const std::string &unixPath)
{
    Sleep(300);  // let the window finish painting
    RECT rc;
    GetWindowRect(window, &rc);
    char crop[64];
    snprintf(crop, sizeof crop, "%ldx%ld+%ld+%ld", rc.right - rc.left, rc.bottom - rc.top, rc.left,
             rc.top);
    std::string q = "'" + unixPath;
    std::string script = "xwd -root -silent >" + q + ".xwd' && /usr/bin/convert xwd:" + q +
                         ".xwd' -crop " + crop + " +repage png:" + q + ".part' && mv " + q +
                         ".part' " + q + "'; rm -f " + q + ".xwd'";
    std::string wine = "Z:" + unixPath;
    std::replace(wine.begin(), wine.end(), '/', '\\');
    DeleteFileA(wine.c_str());
    PROCESS_INFORMATION pi;
    if (!Start("Z:\\bin\\sh -c \"" + script + "\"", &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);  // a Unix child's handle does not tell its end: watch the file
    for (int waited = 0; waited < 20000; waited += 50) {
        if (IsFile(wine))
            return true;
        Sleep(50);
    }
    return false;
}

// Waits for the progress dialog to offer OK, takes its picture and presses OK.
bool AnswerProgressDialog(const PROCESS_INFORMATION &pi, const std::string &path)
{
    // The bar is what tells the progress dialog apart from other dialogs.
    HWND dialog = WaitForWindow(pi.hProcess, pi.dwProcessId, L"#32770", nullptr, IDC_BAR);
    if (!dialog) {
        printf("  !! no progress dialog\n");
        return false;
    }
    HWND ok = GetDlgItem(dialog, IDOK);
    for (DWORD begin = GetTickCount(); !IsWindowEnabled(ok) && GetTickCount() - begin < 60000;)
        if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0)
            break;
    if (!IsWindowEnabled(ok)) {
        printf("  !! the progress dialog never offered OK\n");
        return false;
    }
    if (Screenshot(dialog, path))
        printf("  screenshot  %-42s %s\n", "the finished progress dialog (answered OK)",
               path.c_str());
    Press(dialog, IDOK);
    return true;
}

// Answers remover's boxes like a user, taking a picture of each. False when a window did not
// come.
bool AnswerWithScreenshots(const PROCESS_INFORMATION &pi, const std::string &dir)
{
    HWND box = WaitForWindow(pi.hProcess, pi.dwProcessId, L"#32770", CONFIRM_CAPTION, 0);
    if (!box) {
        printf("  !! no confirmation box\n");
        return false;
    }
    std::string path = dir + "/confirmation.png";
    if (Screenshot(box, path))
        printf("  screenshot  %-42s %s\n", "the confirmation box (answered Yes)", path.c_str());
    Press(box, IDYES);
    HWND splash = WaitForWindow(pi.hProcess, pi.dwProcessId, SPLASH_CLASS, nullptr, 0);
    if (!splash) {
        printf("  !! no splash window\n");
        return false;
    }
    path = dir + "/splash.png";
    if (Screenshot(splash, path))
        printf("  screenshot  %-42s %s\n", "the splash (at least 2 s)", path.c_str());
    return AnswerProgressDialog(pi, dir + "/progress-finished.png");
}

// The user left the product's program open: the files-in-use box names it, and Continue lets
// its files go at the next restart, which the closing text then says.
// Answers the confirmation box with Yes; false when it did not come.
bool AnswerYes(const PROCESS_INFORMATION &pi)
{
    HWND box = WaitForWindow(pi.hProcess, pi.dwProcessId, L"#32770", CONFIRM_CAPTION, 0);
    if (!box) {
        printf("  !! no confirmation box\n");
        return false;
    }
    Press(box, IDYES);
    return true;
}

bool AnswerWithProgramOpen(const PROCESS_INFORMATION &pi, const std::string &dir)
{
    if (!AnswerYes(pi))
        return false;
    HWND inUse = WaitForWindow(pi.hProcess, pi.dwProcessId, L"#32770", nullptr, IDC_IN_USE_LIST);
    if (!inUse) {
        printf("  !! no box naming the program that holds the product's files\n");
        return false;
    }
    std::string path = dir + "/in-use.png";
    if (Screenshot(inUse, path))
        printf("  screenshot  %-42s %s\n", "the files-in-use box (answered Continuar)",
               path.c_str());
    Press(inUse, IDC_IN_USE_CONTINUE);
    return AnswerProgressDialog(pi, dir + "/progress-restart.png");
}

// The user keeps a file of their own in the product's folder: the removal keeps the folder, and
// its closing text says that something stayed.
bool AnswerWithUserFile(const PROCESS_INFORMATION &pi, const std::string &dir)
{
    return AnswerYes(pi) && AnswerProgressDialog(pi, dir + "/progress-kept.png");
}

// The report as the terminal shows it: the system code page's text in UTF-8.
void PrintReport(const std::string &path, const char *what = "REPORT written with -l")
{
    std::string text;
    if (!ReadFile(path.c_str(), &text)) {
        printf("  !! no removal report at %s\n", path.c_str());
        return;
    }
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string utf8(m, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, utf8.data(), m, nullptr, nullptr);
    utf8.erase(std::remove(utf8.begin(), utf8.end(), '\r'), utf8.end());
    printf("\n%s (%s):\n%s", what, path.c_str(), utf8.c_str());
}

std::vector<std::string> Lines(const std::string &path)
{
    std::string text;
    std::vector<std::string> lines;
    ReadFile(path.c_str(), &text);
    for (size_t at = 0, end; at < text.size(); at = end + 2) {
        end = text.find("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

// Whether the plan foretold the removal: every record line, in the plan's tense, and the status.
bool PlanMatched(const std::string &planPath, DWORD planCode, const std::string &reportPath,
                 DWORD code)
{
    std::vector<std::string> plan = Lines(planPath), report = Lines(reportPath);
    bool same = plan.size() == report.size() && planCode == code;
    for (size_t i = 6; same && i < report.size(); ++i) {
        if (report[i].rfind("Result: ", 0) == 0)
            break;
        if (report[i].empty()) {
            same = plan[i].empty();
            continue;
        }
        size_t at = report[i].find(": ", 15);
        char future[1024];
        same = at != std::string::npos &&
               ReportFutureTense(report[i].c_str() + at + 2, future, sizeof future) &&
               report[i].substr(0, at + 2) + future == plan[i];
    }
    return same;
}

// The plan of the removal to come in its window, as a user opens it before answering Yes.
bool ShowPlanWindow(const std::string &command, const std::string &dir)
{
    std::string line = Unattended(command);
    line.replace(line.find(" -a"), 3, " -n");
    PROCESS_INFORMATION pi;
    if (!Start(line, &pi))
        return false;
    HWND window = WaitForWindow(pi.hProcess, pi.dwProcessId, L"#32770", nullptr, IDC_PLAN_LIST);
    std::string path = dir + "/plan.png";
    if (window && Screenshot(window, path))
        printf("  screenshot  %-42s %s\n", "the plan first (remover -n, answered OK)", path.c_str());
    if (window)
        Press(window, IDOK);
    bool ended = WaitForSingleObject(pi.hProcess, WINDOW_LIMIT_MS) == WAIT_OBJECT_0;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    if (!window)
        printf("  !! no plan window\n");
    return window && ended;
}

// Runs the plan (remover -n) of the removal that command would make, writing it to planPath.
DWORD RunPlan(const std::string &command, const std::string &planPath)
{
    DeleteFileA(planPath.c_str());
    PROCESS_INFORMATION pi;
    std::string line = Unattended(command);
    line.insert(line.find(" -a") + 3, " -n");
    if (!Start(line + " -l\"" + planPath + "\"", &pi))
        return 0xFFFFFFFF;
    WaitForSingleObject(pi.hProcess, UNATTENDED_LIMIT_MS);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

// The product's program as the user left it running: this very program, put in the place of the
// product's first program file and started idle.
bool StartProductProgram(const Product &p, PROCESS_INFORMATION *pi)
{
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    for (const Record *r : Kind(p, "CF")) {
        const std::string &file = r->text;
        if (file.size() < 4 || lstrcmpiA(file.c_str() + file.size() - 4, ".exe") != 0)
            continue;
        return n > 0 && n < MAX_PATH && CopyFileA(self, file.c_str(), FALSE) &&
               Start("\"" + file + "\" idle", pi);
    }
    return false;
}

// The next start of Windows, as Wine does it: what was left for it goes now.
bool Restart()
{
    PROCESS_INFORMATION pi;
    if (!Start("wineboot.exe -r", &pi))
        return false;
    bool ended = WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return ended;
}

int Uninstall(const Product &p, const std::string &mode, const std::string &shotDir)
{
    std::string command;
    if (!GetValue(HKEY_LOCAL_MACHINE, UninstallKey(p), "UninstallString", &command)) {
        fprintf(stderr, "remover_demo: no UninstallString under HKLM\\%s\n", UninstallKey(p).c_str());
        return 2;
    }
    std::vector<Row> rows = Rows(p);
    std::string log = command.substr(command.find("-f") + 2);
    log.erase(std::remove(log.begin(), log.end(), '"'), log.end());
    const bool answered = mode == "screenshots" || mode == "program-open" || mode == "user-file";
    const std::string userFile = p.folder + "\\mis notas.txt";
    if (mode == "user-file" && !WriteFile(userFile, "del usuario")) {
        printf("  !! the user's file could not be written\n");
        return 1;
    }
    if (!answered)
        PrintBefore(p, rows, log);
    else
        for (Row &r : rows)
            r.before = State(r);

    // The unattended run and the one with the program open write a removal report, shown after.
    const std::string report = "C:\\parlomatic-removal.txt";
    const std::string planReport = "C:\\parlomatic-plan.txt";
    DWORD planCode = 0;
    if (mode == "unattended") {
        DWORD begin = GetTickCount();
        planCode = RunPlan(command, planReport);
        printf("\nPLAN first: the same command with -n (nothing changed), %.1f s, exit code %lu\n",
               (GetTickCount() - begin) / 1000.0, planCode);
        PrintReport(planReport, "PLAN written with -l");
    }
    if (mode == "unattended" || mode == "program-open") {
        DeleteFileA(report.c_str());
        command = (mode == "unattended" ? Unattended(command) : command) + " -l\"" + report + "\"";
    }
    PROCESS_INFORMATION program = {};
    if (mode == "program-open") {
        if (!StartProductProgram(p, &program)) {
            printf("  !! the product's program could not be started\n");
            return 1;
        }
        Sleep(1000);  // up and running, its file loaded
        printf("\nThe product's program is running (process %lu) and stays open.\n",
               program.dwProcessId);
    }
    printf("\nRUN: the registered UninstallString%s:\n  %s\n",
           mode == "unattended" ? ", unattended (-a added)" : "", command.c_str());
    if (mode == "by-hand")
        printf("  Answer its boxes on your display: Yes, then OK when the dialog offers it.\n");
    fflush(stdout);
    if (mode == "screenshots" && !ShowPlanWindow(command, shotDir))
        return 1;
    PROCESS_INFORMATION pi;
    DWORD begin = GetTickCount();
    if (!Start(command, &pi)) {
        fprintf(stderr, "remover_demo: cannot start %s (error %lu)\n", command.c_str(),
                GetLastError());
        return 2;
    }
    bool ok = mode == "screenshots"    ? AnswerWithScreenshots(pi, shotDir)
              : mode == "program-open" ? AnswerWithProgramOpen(pi, shotDir)
              : mode == "user-file"    ? AnswerWithUserFile(pi, shotDir)
                                       : true;
    DWORD limit = mode == "by-hand" ? INFINITE : UNATTENDED_LIMIT_MS;
    if (WaitForSingleObject(pi.hProcess, limit) != WAIT_OBJECT_0) {
        printf("  !! remover.exe did not end within %lu s; stopped\n", limit / 1000);
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, 5000);
        ok = false;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    printf("  remover.exe ended after %.1f s with exit code %lu%s\n",
           (GetTickCount() - begin) / 1000.0, code,
           mode == "unattended" ? " (automatic runs start on the third tick of a 1.5 s timer)"
           : mode == "program-open" ? " (3010: the rest goes at the next restart)"
                                    : "");
    if (mode == "unattended" || mode == "program-open")
        PrintReport(report);
    if (mode == "unattended") {
        bool matched = PlanMatched(planReport, planCode, report, code);
        printf("%s\n", matched ? "\nThe plan foretold this removal line by line, and its exit code."
                                : "\n  !! the plan and the removal disagree");
        DeleteFileA(planReport.c_str());
        if (!matched)
            ok = false;
    }
    if (mode == "program-open") {
        if (code != 3010)
            ok = false;
        TerminateProcess(program.hProcess, 0);
        WaitForSingleObject(program.hProcess, 5000);
        CloseHandle(program.hProcess);
        CloseHandle(program.hThread);
        printf("\nThe program is closed and Windows restarts (wineboot -r).\n");
        if (!Restart()) {
            printf("  !! the restart did not end\n");
            ok = false;
        }
    }
    if (mode == "user-file") {
        // The folder stays for the user's file, and with it nothing else of the product.
        bool kept = code == 1 && GetFileAttributesA(userFile.c_str()) != INVALID_FILE_ATTRIBUTES;
        DeleteFileA(userFile.c_str());
        RemoveDirectoryA(p.folder.c_str());
        int wrong = 0;
        for (Row &r : rows)
            if (State(r) != Expected(r))
                wrong++;
        printf("  %s\n", kept && !wrong ? "the user's file and its folder stayed, the rest went"
                                       : "!! this run did not keep the user's file as expected");
        return ok && kept && !wrong ? 0 : 1;
    }
    if (answered) {
        int wrong = 0;
        for (Row &r : rows)
            if (State(r) != Expected(r))
                wrong++;
        printf("  %s\n", wrong ? "!! this run did not remove the installation as expected"
                               : mode == "program-open"
                                   ? "after the restart the installation is gone as expected"
                                   : "this run removed the installation as expected too");
        return ok && !wrong ? 0 : 1;
    }
    return PrintAfter(rows) == 0 && ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string command = argc > 1 ? argv[1] : "";
    // Standing in for the product's own program, left open by the user until it is ended.
    if (command == "idle") {
        Sleep(INFINITE);
        return 0;
    }
    Product p;
    if (argc < 3 || !LoadProduct(argv[2], &p)) {
        fprintf(stderr,
                "usage: remover_demo clean DESCRIPTION.json\n"
                "       remover_demo install DESCRIPTION.json LOG\n"
                "       remover_demo uninstall DESCRIPTION.json unattended|by-hand\n"
                "       remover_demo uninstall DESCRIPTION.json screenshots|program-open|user-file UNIX_DIR\n");
        return 2;
    }
    if (command == "clean") {
        Clean(p);
        return 0;
    }
    if (command == "install" && argc == 4) {
        Clean(p);
        if (!Install(p, argv[3])) {
            fprintf(stderr, "remover_demo: the sample product could not be installed completely\n");
            return 1;
        }
        return 0;
    }
    if (command == "uninstall" && argc >= 4) {
        std::string mode = argv[3];
        if ((mode == "screenshots" || mode == "program-open" || mode == "user-file") && argc == 5)
            return Uninstall(p, mode, argv[4]);
        if (mode == "unattended" || mode == "by-hand")
            return Uninstall(p, mode, "");
    }
    fprintf(stderr, "remover_demo: unknown command\n");
    return 2;
}
