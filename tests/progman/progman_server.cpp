// Stand-in for the Program Manager's DDE service, for the DDE client tests.
//
// A hidden top-level window answers raw DDE messages for application and topic "PROGMAN": it keeps
// groups and their items in memory, answers the request for item "PROGMAN" with the group list and
// a request for a group with its description, executes ShowGroup, DeleteGroup and DeleteItem
// (arguments parsed as the Program Manager does: quoted ones may hold , ( ) [ ] and ""), and
// writes every message it receives to a journal that the tests read. Options make it misbehave.
//
//   progman_server --title T --journal FILE [--groups FILE] [--state FILE] [options]
//
//   --groups FILE     seed: one group per line, fields separated by TAB: name, group file, items...
//   --state FILE      rewritten after every command: "active=NAME", then the groups as in --groups
//   --nack-request    requests are answered by a negative acknowledgement
//   --nack-execute    commands are answered by a negative acknowledgement (and not carried out)
//   --refuse-show     only ShowGroup commands are refused that way
//   --refuse-groups   requests for a group's description are refused (the group list is given)
//   --silent          requests and commands are never answered
//   --late MS         every answer is sent MS milliseconds late
//   --only PREFIX     --nack-execute, --silent and --late hold only for the messages whose
//                     journal line begins with PREFIX ("EXECUTE [DeleteItem", "REQUEST PROGMAN")
//   --hang            the window is never serviced: a hung program's top-level window
//   --binary          requests are answered with data in a non-text format that asks for an ack
//   --ackreq          text data asks the client for an acknowledgement
//   --keep            text data is sent without fRelease (the server keeps the block)
//   --hangup          the server ends the conversation itself right after each answer
//   --no-initiate     initiates are not acknowledged
//   --reply ITEM=TEXT a request for ITEM is answered with TEXT (\r, \n and \\ escapes)
//   --top             stay at the top of the z-order (default: bottom, see below)
//   --lifetime MS     exit after MS milliseconds (default 120000), so a lost server goes away
//
// Wine's explorer runs a Program Manager DDE server of its own that also answers the broadcast
// initiate. A broadcast visits top-level windows from the top of the z-order down and the client
// keeps the last server to answer, so this window moves itself to the bottom to be that one.
#include <windows.h>
#include <dde.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Group {
    std::string name;
    std::string path;
    std::vector<std::string> items;
};

struct Reply {
    std::string item;
    std::string text;
};

struct Options {
    std::string title = "TestProgman";
    std::string journal;
    std::string state;
    bool nackRequest = false;
    bool nackExecute = false;
    bool refuseShow = false;
    bool refuseGroups = false;
    bool silent = false;
    DWORD late = 0;
    bool binary = false;
    bool ackReq = false;
    bool keep = false;
    bool hangup = false;
    bool noInitiate = false;
    bool top = false;
    bool hang = false;
    std::string only;
    DWORD lifetime = 120000;
    std::vector<Reply> replies;
};

Options opt;
std::vector<Group> groups;
int activeGroup = -1;
bool terminateSent = false;

constexpr char SERVER_CLASS[] = "TestProgmanServer";
constexpr UINT_PTR LIFETIME_TIMER = 1;
constexpr WORD CF_TEST_BINARY = CF_DIB;

void Journal(const std::string &line)
{
    if (opt.journal.empty())
        return;
    HANDLE f = CreateFileA(opt.journal.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(f, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(f);
}

// Splits at each separator character, walking by characters so that a trail byte equal to the
// separator does not split a double-byte character.
std::vector<std::string> Split(const std::string &s, char sep)
{
    std::vector<std::string> out;
    const char *start = s.c_str();
    const char *p = start;
    while (*p) {
        if (*p == sep) {
            out.emplace_back(start, p - start);
            start = p + 1;
        }
        p = CharNextA(p);
    }
    out.emplace_back(start, p - start);
    return out;
}

std::string Unescape(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

int FindGroup(const std::string &name)
{
    for (size_t i = 0; i < groups.size(); i++)
        if (lstrcmpiA(groups[i].name.c_str(), name.c_str()) == 0)
            return (int)i;
    return -1;
}

void LoadGroups(const char *file)
{
    FILE *f = fopen(file, "rb");
    if (!f)
        return;
    static char line[65536];
    while (fgets(line, sizeof line, f)) {
        line[strcspn(line, "\r\n")] = 0;
        if (!line[0])
            continue;
        std::vector<std::string> fields = Split(line, '\t');
        Group g;
        g.name = fields[0];
        g.path = fields.size() > 1 ? fields[1] : "C:\\WINDOWS\\" + g.name + ".GRP";
        for (size_t i = 2; i < fields.size(); i++)
            g.items.push_back(fields[i]);
        groups.push_back(g);
    }
    fclose(f);
}

void SaveState()
{
    if (opt.state.empty())
        return;
    std::string text = "active=";
    if (activeGroup >= 0)
        text += groups[activeGroup].name;
    text += "\r\n";
    for (const Group &g : groups) {
        text += g.name + "\t" + g.path;
        for (const std::string &item : g.items)
            text += "\t" + item;
        text += "\r\n";
    }
    std::string temp = opt.state + ".tmp";
    FILE *f = fopen(temp.c_str(), "wb");
    if (!f)
        return;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    MoveFileExA(temp.c_str(), opt.state.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string AtomName(ATOM atom)
{
    if (!atom)
        return "*";
    char name[256] = "";
    GlobalGetAtomNameA(atom, name, sizeof name);
    // The atom table keeps the first spelling of a name (Wine's explorer registers "Progman").
    if (lstrcmpiA(name, "PROGMAN") == 0)
        return "PROGMAN";
    return name;
}

// Whether the misbehaviour options hold for the message of this journal line.
bool Targeted(const std::string &line)
{
    return line.rfind(opt.only, 0) == 0;
}

void AnswerLate(const std::string &line)
{
    if (opt.late && Targeted(line))
        Sleep(opt.late);
}

void HangUpIfAsked(HWND self, HWND client)
{
    if (!opt.hangup)
        return;
    terminateSent = true;
    Journal("HANGUP");
    PostMessageA(client, WM_DDE_TERMINATE, (WPARAM)self, 0);
}

// ---- initiate ----------------------------------------------------------------------------------

LRESULT OnInitiate(HWND self, HWND client, LPARAM lParam)
{
    ATOM app = LOWORD(lParam), topic = HIWORD(lParam);
    std::string appName = AtomName(app), topicName = AtomName(topic);
    bool ours = (!app || lstrcmpiA(appName.c_str(), "PROGMAN") == 0) &&
                (!topic || lstrcmpiA(topicName.c_str(), "PROGMAN") == 0);
    if (!ours)
        return 0;
    if (opt.noInitiate) {
        Journal("INITIATE " + appName + " " + topicName + " -> IGNORED");
        return 0;
    }
    Journal("INITIATE " + appName + " " + topicName + " -> ACK");
    terminateSent = false;
    // The acknowledgement carries atoms of the server's own, as the protocol asks.
    SendMessageA(client, WM_DDE_ACK, (WPARAM)self,
                 MAKELPARAM(GlobalAddAtomA("PROGMAN"), GlobalAddAtomA("PROGMAN")));
    return 0;
}

// ---- request -----------------------------------------------------------------------------------

bool ReplyText(const std::string &item, std::string *text)
{
    for (const Reply &r : opt.replies)
        if (lstrcmpiA(r.item.c_str(), item.c_str()) == 0) {
            *text = r.text;
            return true;
        }
    if (lstrcmpiA(item.c_str(), "PROGMAN") == 0) {
        text->clear();
        for (const Group &g : groups)
            *text += g.name + "\r\n";
        return true;
    }
    if (opt.refuseGroups)
        return false;
    int i = FindGroup(item);
    if (i < 0)
        return false;
    const Group &g = groups[i];
    char head[64];
    snprintf(head, sizeof head, ",%d,1\r\n", (int)g.items.size());
    *text = "\"" + g.name + "\"," + g.path + head;
    for (const std::string &it : g.items)
        *text += "\"" + it + "\"\r\n";
    return true;
}

void PostData(HWND self, HWND client, const std::string &item, WORD format, const std::string &value,
              bool ackReq, bool release)
{
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, 4 + value.size() + 1);
    BYTE *p = (BYTE *)GlobalLock(h);
    WORD flags = 0x1000;  // fResponse
    if (release)
        flags |= 0x2000;
    if (ackReq)
        flags |= 0x8000;
    memcpy(p, &flags, 2);
    memcpy(p + 2, &format, 2);
    memcpy(p + 4, value.c_str(), value.size() + 1);
    GlobalUnlock(h);
    ATOM atom = GlobalAddAtomA(item.c_str());
    PostMessageA(client, WM_DDE_DATA, (WPARAM)self, PackDDElParam(WM_DDE_DATA, (UINT_PTR)h, atom));
}

LRESULT OnRequest(HWND self, HWND client, LPARAM lParam)
{
    WORD format = LOWORD(lParam);
    ATOM atom = HIWORD(lParam);
    std::string item = AtomName(atom);
    std::string line = "REQUEST " + item + " format=" + std::to_string(format);
    std::string text;
    if (opt.silent && Targeted(line)) {
        Journal(line + " -> NONE");
        return 0;
    }
    if (opt.binary) {
        Journal(line + " -> BINARY");
        AnswerLate(line);
        PostData(self, client, item, CF_TEST_BINARY, "\x28\x00", true, true);
        return 0;
    }
    if (opt.nackRequest || format != CF_TEXT || !ReplyText(item, &text)) {
        Journal(line + " -> NACK");
        AnswerLate(line);
        PostMessageA(client, WM_DDE_ACK, (WPARAM)self, PackDDElParam(WM_DDE_ACK, 0, atom));
        HangUpIfAsked(self, client);
        return 0;
    }
    Journal(line + " -> DATA");
    AnswerLate(line);
    PostData(self, client, item, CF_TEXT, text, opt.ackReq, !opt.keep);
    HangUpIfAsked(self, client);
    return 0;
}

// ---- execute -----------------------------------------------------------------------------------

bool RunShowGroup(const std::vector<std::string> &args)
{
    if (args.size() < 2 || args.size() > 3)
        return false;
    int show = atoi(args[1].c_str());
    int i = FindGroup(args[0]);
    if (i < 0 || show < 1 || show > 8)
        return false;
    activeGroup = i;
    return true;
}

bool RunDeleteGroup(const std::vector<std::string> &args)
{
    if (args.empty() || args.size() > 2)
        return false;
    int i = FindGroup(args[0]);
    if (i < 0)
        return false;
    groups.erase(groups.begin() + i);
    if (activeGroup == i)
        activeGroup = -1;
    else if (activeGroup > i)
        activeGroup--;
    return true;
}

bool RunDeleteItem(const std::vector<std::string> &args)
{
    if (args.size() != 1 || activeGroup < 0)
        return false;
    std::vector<std::string> &items = groups[activeGroup].items;
    for (size_t i = 0; i < items.size(); i++)
        if (lstrcmpiA(items[i].c_str(), args[0].c_str()) == 0) {
            items.erase(items.begin() + i);
            return true;
        }
    return false;
}

bool IsByte(const char *p, char c)
{
    return *p == c && CharNextA(p) - p == 1;
}

// Reads the arguments after "(" up to ")" as the Program Manager does: a comma ends an argument
// and ")" the list, except inside double quotes, where a doubled quote stands for one. Returns
// the position after ")", or null when the list does not end.
const char *Arguments(const char *p, std::vector<std::string> *out)
{
    std::string cur;
    bool quoted = false;
    while (*p) {
        const char *next = CharNextA(p);
        if (quoted && IsByte(p, '"')) {
            if (IsByte(next, '"')) {
                cur += '"';
                next = CharNextA(next);
            } else {
                quoted = false;
            }
        } else if (!quoted && IsByte(p, '"')) {
            quoted = true;
        } else if (!quoted && (IsByte(p, ',') || IsByte(p, ')'))) {
            out->push_back(cur);
            cur.clear();
            if (*p == ')')
                return next;
        } else {
            cur.append(p, next - p);
        }
        p = next;
    }
    return nullptr;
}

// One or more "[Name(arguments)]" commands; all must succeed.
bool RunCommands(const std::string &text)
{
    const char *p = text.c_str();
    bool any = false;
    while (*p) {
        const char *open = strchr(p, '(');
        if (*p != '[' || !open)
            return false;
        std::string name(p + 1, open - p - 1);
        std::vector<std::string> args;
        p = Arguments(open + 1, &args);
        if (!p || *p != ']')
            return false;
        p++;
        bool ok;
        if (lstrcmpiA(name.c_str(), "ShowGroup") == 0)
            ok = !opt.refuseShow && RunShowGroup(args);
        else if (lstrcmpiA(name.c_str(), "DeleteGroup") == 0)
            ok = RunDeleteGroup(args);
        else if (lstrcmpiA(name.c_str(), "DeleteItem") == 0)
            ok = RunDeleteItem(args);
        else
            ok = false;
        if (!ok)
            return false;
        any = true;
    }
    return any;
}

LRESULT OnExecute(HWND self, HWND client, LPARAM lParam)
{
    UINT_PTR lo = 0, hi = 0;
    UnpackDDElParam(WM_DDE_EXECUTE, lParam, &lo, &hi);
    HGLOBAL h = (HGLOBAL)hi;
    std::string command;
    if (const char *p = (const char *)GlobalLock(h)) {
        SIZE_T size = GlobalSize(h);
        command.assign(p, strnlen(p, size));
        GlobalUnlock(h);
    }
    std::string line = "EXECUTE " + command;
    if (opt.silent && Targeted(line)) {
        Journal(line + " -> NONE");
        return 0;
    }
    bool ok = !(opt.nackExecute && Targeted(line)) && RunCommands(command);
    Journal(line + (ok ? " -> ACK" : " -> NACK"));
    SaveState();
    AnswerLate(line);
    LPARAM ack = ReuseDDElParam(lParam, WM_DDE_EXECUTE, WM_DDE_ACK, ok ? 0x8000 : 0, hi);
    PostMessageA(client, WM_DDE_ACK, (WPARAM)self, ack);
    HangUpIfAsked(self, client);
    return 0;
}

// ---- acknowledgements and terminate ------------------------------------------------------------

LRESULT OnAck(LPARAM lParam)
{
    UINT_PTR status = 0, item = 0;
    UnpackDDElParam(WM_DDE_ACK, lParam, &status, &item);
    FreeDDElParam(WM_DDE_ACK, lParam);
    char line[64];
    snprintf(line, sizeof line, "ACK %04X ", (unsigned)(status & 0xFFFF));
    Journal(line + AtomName((ATOM)item));
    return 0;
}

LRESULT OnTerminate(HWND self, HWND client)
{
    if (terminateSent) {
        Journal("TERMINATE");
        terminateSent = false;
        return 0;
    }
    Journal("TERMINATE -> TERMINATE");
    PostMessageA(client, WM_DDE_TERMINATE, (WPARAM)self, 0);
    return 0;
}

LRESULT CALLBACK ServerWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_DDE_INITIATE:
        return OnInitiate(hwnd, (HWND)wParam, lParam);
    case WM_DDE_REQUEST:
        return OnRequest(hwnd, (HWND)wParam, lParam);
    case WM_DDE_EXECUTE:
        return OnExecute(hwnd, (HWND)wParam, lParam);
    case WM_DDE_ACK:
        return OnAck(lParam);
    case WM_DDE_TERMINATE:
        return OnTerminate(hwnd, (HWND)wParam);
    case WM_TIMER:
        if (wParam == LIFETIME_TIMER)
            DestroyWindow(hwnd);
        return 0;
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The options that only switch a behaviour on.
bool *Switch(const std::string &name)
{
    const struct {
        const char *name;
        bool Options::*flag;
    } switches[] = {
        {"--nack-request", &Options::nackRequest}, {"--nack-execute", &Options::nackExecute},
        {"--refuse-show", &Options::refuseShow},   {"--refuse-groups", &Options::refuseGroups},
        {"--silent", &Options::silent},            {"--binary", &Options::binary},
        {"--ackreq", &Options::ackReq},            {"--keep", &Options::keep},
        {"--hangup", &Options::hangup},            {"--no-initiate", &Options::noInitiate},
        {"--top", &Options::top},                  {"--hang", &Options::hang},
    };
    for (const auto &s : switches)
        if (name == s.name)
            return &(opt.*s.flag);
    return nullptr;
}

bool ParseOptions(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (bool *flag = Switch(a))
            *flag = true;
        else if (a == "--title" && more)
            opt.title = argv[++i];
        else if (a == "--journal" && more)
            opt.journal = argv[++i];
        else if (a == "--groups" && more)
            LoadGroups(argv[++i]);
        else if (a == "--state" && more)
            opt.state = argv[++i];
        else if (a == "--late" && more)
            opt.late = strtoul(argv[++i], nullptr, 10);
        else if (a == "--only" && more)
            opt.only = argv[++i];
        else if (a == "--lifetime" && more)
            opt.lifetime = strtoul(argv[++i], nullptr, 10);
        else if (a == "--reply" && more) {
            std::string r = argv[++i];
            size_t eq = r.find('=');
            if (eq == std::string::npos)
                return false;
            opt.replies.push_back({r.substr(0, eq), Unescape(r.substr(eq + 1))});
        } else
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (!ParseOptions(argc, argv)) {
        fprintf(stderr, "progman_server: bad arguments\n");
        return 2;
    }
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ServerWndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = SERVER_CLASS;
    if (!RegisterClassA(&wc))
        return 3;
    HWND hwnd = CreateWindowExA(0, SERVER_CLASS, opt.title.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, wc.hInstance, nullptr);
    if (!hwnd)
        return 4;
    if (!opt.top)
        SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetTimer(hwnd, LIFETIME_TIMER, opt.lifetime, nullptr);
    SaveState();
    char ready[64];
    snprintf(ready, sizeof ready, "READY acp=%u", GetACP());
    Journal(ready);
    if (opt.hang) {
        Sleep(opt.lifetime);
        return 0;
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
