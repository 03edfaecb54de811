#include "tools/logtool/logtool.h"

#include "base/pool.h"
#include "base/strlist.h"
#include "logdb/logdb.h"
#include "tools/logtool/json.h"
#include "remover_version.h"

#include <windows.h>

#include <algorithm>
#include <stdio.h>

namespace {

constexpr size_t LOGTOOL_MAX_DESCRIPTION = 64u << 20;
constexpr int LOGTOOL_BANNER_MAX = 0x8000;

struct ToolRecord {
    std::string name;
    uint32_t offset = 0;
    uint32_t flags = 0;
    std::string text;
    uint32_t value = 0;
    std::vector<std::string> list;
};

const char *const kUsage =
    "usage: logtool dump [--json] LOG\n"
    "       logtool verify LOG\n"
    "       logtool build DESCRIPTION.json OUT.log\n"
    "       logtool --version\n";

std::string Code(int code)
{
    return "error " + std::to_string(code) + ": " + LogErrorText(code);
}

// ANSI (the system code page) to UTF-8; false when the bytes are not valid in the code page.
bool AnsiToUtf8(const char *p, size_t n, std::string *out)
{
    out->clear();
    if (n == 0)
        return true;
    int wn = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, p, int(n), nullptr, 0);
    if (wn <= 0)
        return false;
    std::wstring w(size_t(wn), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, p, int(n), &w[0], wn);
    int un = WideCharToMultiByte(CP_UTF8, 0, w.data(), wn, nullptr, 0, nullptr, nullptr);
    out->resize(size_t(un));
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wn, &(*out)[0], un, nullptr, nullptr);
    return true;
}

// UTF-8 to ANSI; false when a character has no exact form in the code page (no best fit, no
// '?' in its place) or would hold a zero byte.
bool Utf8ToAnsi(const std::string &in, std::string *out)
{
    out->clear();
    if (in.empty())
        return true;
    if (in.find('\0') != std::string::npos)
        return false;
    int wn = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(), int(in.size()),
                                 nullptr, 0);
    if (wn <= 0)
        return false;
    std::wstring w(size_t(wn), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), &w[0], wn);
    BOOL lossy = FALSE;
    int an = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), wn, nullptr, 0, nullptr,
                                 &lossy);
    if (an <= 0 || lossy)
        return false;
    out->resize(size_t(an));
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), wn, &(*out)[0], an, nullptr,
                        &lossy);
    std::string back;
    return !lossy && AnsiToUtf8(out->data(), out->size(), &back) && back == in;
}

// For the readable dump: the text as UTF-8, or its bytes escaped when the code page rejects it.
std::string Show(const std::string &ansi)
{
    std::string utf8;
    if (AnsiToUtf8(ansi.data(), ansi.size(), &utf8))
        return JsonQuote(utf8);
    std::string out = "\"";
    for (char c : ansi) {
        char hex[8];
        snprintf(hex, sizeof hex, "\\x%02X", unsigned(static_cast<unsigned char>(c)));
        out += (static_cast<unsigned char>(c) < 0x80 && c >= 0x20) ? std::string(1, c) : hex;
    }
    return out + "\"";
}

// logtool runs in scripts and CI, where a modal box would wait for ever: the allocator's errors
// reach the user through the results instead. The caller's setting is put back afterwards.
struct NoPoolBoxes {
    int was = PoolGetOption(POOLOPT_REPORT);
    NoPoolBoxes() { PoolSetOption(POOLOPT_REPORT, 0); }
    ~NoPoolBoxes() { PoolSetOption(POOLOPT_REPORT, was); }
};

struct OpenLog {
    LogDatabase *db = nullptr;
    ~OpenLog() { LogClose(db); }
};

// Every record of every name in chain order, names in the order of the stored table.
int CollectRecords(LogDatabase *db, std::vector<ToolRecord> *recs, std::string *err)
{
    static char text[LOG_BODY_MAX + 1];
    LogNameInfo info;
    for (int i = 0; LogGetNameInfo(db, i, &info) == 0; i++) {
        LogSelectName(db, info.name);
        for (int mode = LOG_FIRST;; mode = LOG_NEXT) {
            ToolRecord r;
            char name[LOG_NAME_SIZE];
            StringList *list = ListCreate(0);
            text[0] = '\0';
            int rc = LogReadRecord(db, name, sizeof name, &r.flags, text, sizeof text, &r.value,
                                   list, mode);
            for (void *p = ListFirst(list); p; p = ListNext(list))
                r.list.push_back(static_cast<const char *>(p));
            ListDestroy(list);
            if (rc == LOG_END)
                break;
            if (rc != 0) {
                *err += "name " + Show(info.name) + ", record " + std::to_string(recs->size()) +
                        ": " + Code(rc) + "\n";
                return rc;
            }
            r.name = info.name;
            r.text = text;
            r.offset = LogRecordOffset(db);
            recs->push_back(r);
        }
    }
    return 0;
}

const int kStringItems[] = {ITEM_PRODUCT_KEY, ITEM_VERSION_KEY, ITEM_TEXT3, ITEM_TEXT4,
                            ITEM_APP_PATH, ITEM_COMPANY_KEY, ITEM_UNINSTALL_KEY};
const char *const kItemNames[] = {"",           "product key", "version key", "text 3",
                                  "text 4",     "word 5",      "number 6",    "number 7",
                                  "app path",   "company key", "record count", "uninstall key"};

bool IsStringItem(int item)
{
    return std::find(std::begin(kStringItems), std::end(kStringItems), item) !=
           std::end(kStringItems);
}

std::string ItemText(LogDatabase *db, int item)
{
    static char buf[LOG_BODY_MAX + 1];
    return LogGetItem(db, item, buf, sizeof buf) >= 0 ? buf : "";
}

uint32_t ItemNumber(LogDatabase *db, int item)
{
    return uint32_t(LogGetItem(db, item, nullptr, 0));
}

std::string JsonRecord(const ToolRecord &r, bool *ok)
{
    std::string name, s;
    *ok = *ok && AnsiToUtf8(r.name.data(), r.name.size(), &name);
    s = "{\"name\": " + JsonQuote(name);
    if (r.flags & ~(REC_TEXT | REC_VALUE | REC_LIST))
        s += ", \"flags\": " + std::to_string(r.flags);
    if (r.flags & REC_TEXT) {
        std::string t;
        *ok = *ok && AnsiToUtf8(r.text.data(), r.text.size(), &t);
        s += ", \"text\": " + JsonQuote(t);
    }
    if (r.flags & REC_VALUE)
        s += ", \"value\": " + std::to_string(r.value);
    if (r.flags & REC_LIST) {
        s += ", \"list\": [";
        for (size_t i = 0; i < r.list.size(); i++) {
            std::string t;
            *ok = *ok && AnsiToUtf8(r.list[i].data(), r.list[i].size(), &t);
            s += (i ? ", " : "") + JsonQuote(t);
        }
        s += "]";
    }
    return s + "}";
}

int DumpJson(LogDatabase *db, std::vector<ToolRecord> recs, std::string *out, std::string *err)
{
    static char banner[LOGTOOL_BANNER_MAX + 1];
    int n = LogGetBanner(db, banner, sizeof banner);
    if (n < 0) {
        *err += "banner: " + Code(n) + "\n";
        return LOGTOOL_UNSOUND;
    }
    bool ok = true;
    std::string text;
    ok = AnsiToUtf8(banner, size_t(n), &text);
    std::string s = "{\n  \"banner\": " + JsonQuote(text) + ",\n  \"items\": {\n";
    for (int item = ITEM_PRODUCT_KEY; item <= ITEM_UNINSTALL_KEY; item++) {
        if (item == ITEM_RECORD_COUNT)
            continue;
        s += "    \"" + std::to_string(item) + "\": ";
        if (IsStringItem(item)) {
            std::string v = ItemText(db, item);
            ok = ok && AnsiToUtf8(v.data(), v.size(), &text);
            s += JsonQuote(text);
        } else {
            s += std::to_string(ItemNumber(db, item));
        }
        s += item == ITEM_UNINSTALL_KEY ? "\n" : ",\n";
    }
    s += "  },\n  \"records\": [";
    std::stable_sort(recs.begin(), recs.end(),
                     [](const ToolRecord &a, const ToolRecord &b) { return a.offset < b.offset; });
    for (size_t i = 0; i < recs.size(); i++)
        s += (i ? ",\n    " : "\n    ") + JsonRecord(recs[i], &ok);
    s += recs.empty() ? "]\n}\n" : "\n  ]\n}\n";
    if (!ok) {
        *err += "a text of the log is not valid in code page " + std::to_string(GetACP()) +
                "; it has no exact UTF-8 form\n";
        return LOGTOOL_UNSOUND;
    }
    *out += s;
    return LOGTOOL_OK;
}

void DumpText(LogDatabase *db, const char *path, const std::vector<ToolRecord> &recs,
              std::string *out)
{
    static char banner[LOGTOOL_BANNER_MAX + 1];
    int n = LogGetBanner(db, banner, sizeof banner);
    std::string s = "log " + Show(path) + "\n";
    s += "banner " + (n >= 0 ? Show(std::string(banner, size_t(n))) : Code(n)) + "\n";
    for (int item = ITEM_PRODUCT_KEY; item <= ITEM_UNINSTALL_KEY; item++) {
        s += "item " + std::to_string(item) + " (" + kItemNames[item] + "): ";
        s += IsStringItem(item) ? Show(ItemText(db, item)) : std::to_string(ItemNumber(db, item));
        s += "\n";
    }
    LogNameInfo info;
    int names = 0;
    while (LogGetNameInfo(db, names, &info) == 0)
        names++;
    s += "names " + std::to_string(names) + "\n";
    for (int i = 0; LogGetNameInfo(db, i, &info) == 0; i++)
        s += "  " + Show(info.name) + " id " + std::to_string(info.id) + " records " +
             std::to_string(info.count) + " first " + std::to_string(info.first) + "\n";
    std::string current;
    for (const ToolRecord &r : recs) {
        if (r.name != current || &r == &recs.front()) {
            s += "records of " + Show(r.name) + "\n";
            current = r.name;
        }
        char head[64];
        snprintf(head, sizeof head, "  @%u flags 0x%04X", unsigned(r.offset), unsigned(r.flags));
        s += head;
        if (r.flags & REC_TEXT)
            s += " text " + Show(r.text);
        if (r.flags & REC_VALUE)
            s += " value " + std::to_string(r.value);
        if (r.flags & REC_LIST) {
            s += " list [";
            for (size_t i = 0; i < r.list.size(); i++)
                s += (i ? ", " : "") + Show(r.list[i]);
            s += "]";
        }
        s += "\n";
    }
    *out += s;
}

// ---- build ----

struct BuildError {
    std::string *err;
    bool Fail(const JsonValue &at, const std::string &what)
    {
        *err += "line " + std::to_string(at.line) + ", column " + std::to_string(at.column) +
                ": " + what + "\n";
        return false;
    }
};

bool CheckKeys(BuildError &e, const JsonValue &obj, const std::vector<std::string> &allowed,
               const std::string &where)
{
    for (const auto &m : obj.members)
        if (std::find(allowed.begin(), allowed.end(), m.first) == allowed.end())
            return e.Fail(m.second, where + ": unknown member \"" + m.first + "\"");
    return true;
}

bool AnsiString(BuildError &e, const JsonValue &v, const std::string &what, std::string *out)
{
    if (v.kind != JSON_STRING)
        return e.Fail(v, what + " must be a string");
    if (!Utf8ToAnsi(v.text, out))
        return e.Fail(v, what + " has characters the code page " + std::to_string(GetACP()) +
                             " cannot hold exactly");
    // Refused here, before a copy is made of it: the log's own checks give the exact bounds.
    if (out->size() > size_t(LOG_BODY_MAX))
        return e.Fail(v, what + " of " + std::to_string(out->size()) +
                             " bytes cannot fit a record body (" + std::to_string(LOG_BODY_MAX) +
                             " bytes)");
    return true;
}

bool SetItems(BuildError &e, LogDatabase *db, const JsonValue &items, size_t recordCount)
{
    if (items.kind != JSON_OBJECT)
        return e.Fail(items, "\"items\" must be an object");
    for (const auto &m : items.members) {
        uint32_t item = 0;
        JsonValue key;
        key.kind = JSON_NUMBER;
        key.text = m.first;
        if (!JsonToUnsigned(key, ITEM_UNINSTALL_KEY, &item) || item < 1 ||
            m.first != std::to_string(item))
            return e.Fail(m.second, "unknown item \"" + m.first + "\" (items are 1 to 11)");
        const JsonValue &v = m.second;
        std::string what = "item " + m.first;
        uint32_t number = 0;
        if (item == uint32_t(ITEM_RECORD_COUNT)) {
            if (!JsonToUnsigned(v, 0xFFFFFFFF, &number) || number != recordCount)
                return e.Fail(v, "item 10 is the record count, " + std::to_string(recordCount));
        } else if (item == uint32_t(ITEM_WORD5)) {
            if (!JsonToUnsigned(v, 0xFFFF, &number))
                return e.Fail(v, what + " must be a number from 0 to 65535");
            LogSetItem(db, int(item), nullptr, number);
        } else if (item == uint32_t(ITEM_NUMBER6) || item == uint32_t(ITEM_NUMBER7)) {
            if (!JsonToUnsigned(v, 0xFFFFFFFF, &number))
                return e.Fail(v, what + " must be a number from 0 to 4294967295");
            LogSetItem(db, int(item), nullptr, number);
        } else {
            std::string text;
            if (!AnsiString(e, v, what, &text))
                return false;
            int rc = LogSetItem(db, int(item), text.c_str(), 0);
            if (rc != 0)
                return e.Fail(v, what + ": " + Code(rc));
        }
    }
    return true;
}

bool AddRecord(BuildError &e, LogDatabase *db, const JsonValue &rec, size_t index)
{
    std::string where = "record " + std::to_string(index);
    if (rec.kind != JSON_OBJECT)
        return e.Fail(rec, where + " must be an object");
    if (!CheckKeys(e, rec, {"name", "text", "value", "list", "flags"}, where))
        return false;
    const JsonValue *name = JsonMember(rec, "name"), *text = JsonMember(rec, "text"),
                    *value = JsonMember(rec, "value"), *list = JsonMember(rec, "list"),
                    *flagsv = JsonMember(rec, "flags");
    ToolRecord r;
    if (!name)
        return e.Fail(rec, where + " has no \"name\"");
    if (!AnsiString(e, *name, where + ": the name", &r.name))
        return false;
    r.flags = (text ? REC_TEXT : 0) | (value ? REC_VALUE : 0) | (list ? REC_LIST : 0);
    if (flagsv) {
        uint32_t given = 0;
        if (!JsonToUnsigned(*flagsv, 0xFFFF, &given))
            return e.Fail(*flagsv, where + ": \"flags\" must be a number from 0 to 65535");
        if ((r.flags & given) != r.flags)
            return e.Fail(*flagsv, where + ": \"flags\" leaves out a part the record gives");
        r.flags = given;
    }
    if (text && !AnsiString(e, *text, where + ": the text", &r.text))
        return false;
    if (value && !JsonToUnsigned(*value, 0xFFFFFFFF, &r.value))
        return e.Fail(*value, where + ": \"value\" must be a number from 0 to 4294967295");
    StringList *strings = ListCreate(0);
    if (list) {
        if (list->kind != JSON_ARRAY) {
            ListDestroy(strings);
            return e.Fail(*list, where + ": \"list\" must be an array of strings");
        }
        for (const JsonValue &item : list->items) {
            std::string s;
            if (!AnsiString(e, item, where + ": a list entry", &s)) {
                ListDestroy(strings);
                return false;
            }
            if (!ListAdd(strings, s.c_str())) {
                ListDestroy(strings);
                return e.Fail(item, where + ": no memory for a list entry");
            }
        }
    }
    int rc = LogAddRecord(db, r.name.c_str(), r.flags, r.text.c_str(), r.value, strings);
    ListDestroy(strings);
    if (rc != 0)
        return e.Fail(rec, where + " (name " + name->text + ") refused: " + Code(rc));
    return true;
}

bool Describe(BuildError &e, LogDatabase *db, const JsonValue &doc)
{
    if (doc.kind != JSON_OBJECT)
        return e.Fail(doc, "the description must be an object");
    if (!CheckKeys(e, doc, {"banner", "items", "records"}, "the description"))
        return false;
    const JsonValue *banner = JsonMember(doc, "banner"), *items = JsonMember(doc, "items"),
                    *records = JsonMember(doc, "records");
    if (banner) {
        std::string text;
        if (!AnsiString(e, *banner, "\"banner\"", &text))
            return false;
        if (text.size() != LOG_BANNER_LENGTH || LogSetBanner(db, text.c_str()) != 0)
            return e.Fail(*banner, "\"banner\" must be 41 bytes in the code page");
    }
    if (records && records->kind != JSON_ARRAY)
        return e.Fail(*records, "\"records\" must be an array");
    size_t count = records ? records->items.size() : 0;
    if (items && !SetItems(e, db, *items, count))
        return false;
    for (size_t i = 0; i < count; i++)
        if (!AddRecord(e, db, records->items[i], i))
            return false;
    return true;
}

bool ReadWholeFile(const char *path, std::string *out, std::string *err)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *err += std::string("cannot open ") + path + "\n";
        return false;
    }
    DWORD size = GetFileSize(h, nullptr);
    bool ok = size != INVALID_FILE_SIZE && size <= LOGTOOL_MAX_DESCRIPTION;
    if (ok) {
        out->resize(size);
        DWORD got = 0;
        ok = size == 0 || (ReadFile(h, &(*out)[0], size, &got, nullptr) && got == size);
    }
    CloseHandle(h);
    if (!ok)
        *err += std::string("cannot read ") + path + "\n";
    return ok;
}

}  // namespace

int LogtoolDump(const char *logPath, bool json, std::string *out, std::string *err)
{
    NoPoolBoxes quiet;
    OpenLog log;
    log.db = LogOpen(logPath, LOG_READ);
    if (!log.db) {
        *err += Show(logPath) + ": " + Code(LogLastError()) + "\n";
        return LOGTOOL_UNSOUND;
    }
    std::vector<ToolRecord> recs;
    if (CollectRecords(log.db, &recs, err) != 0)
        return LOGTOOL_UNSOUND;
    if (json)
        return DumpJson(log.db, recs, out, err);
    DumpText(log.db, logPath, recs, out);
    return LOGTOOL_OK;
}

int LogtoolVerify(const char *logPath, std::string *out, std::string *err)
{
    NoPoolBoxes quiet;
    OpenLog log;
    log.db = LogOpen(logPath, LOG_READ);
    if (!log.db) {
        *out += Code(LogLastError()) + "\n";
        return LOGTOOL_UNSOUND;
    }
    std::vector<ToolRecord> recs;
    int rc = CollectRecords(log.db, &recs, err);
    if (rc != 0) {
        *out += Code(rc) + "\n";
        return LOGTOOL_UNSOUND;
    }
    LogNameInfo info;
    int names = 0;
    for (; LogGetNameInfo(log.db, names, &info) == 0; names++) {
        size_t have = size_t(std::count_if(recs.begin(), recs.end(),
                                           [&](const ToolRecord &r) { return r.name == info.name; }));
        if (have != info.count) {
            *out += "inconsistent: name " + Show(info.name) + " has " + std::to_string(have) +
                    " records, its entry says " + std::to_string(info.count) + "\n";
            return LOGTOOL_UNSOUND;
        }
    }
    uint32_t stated = ItemNumber(log.db, ITEM_RECORD_COUNT);
    if (stated != recs.size()) {
        *out += "inconsistent: " + std::to_string(recs.size()) + " records, item 10 says " +
                std::to_string(stated) + "\n";
        return LOGTOOL_UNSOUND;
    }
    *out += "sound: " + std::to_string(recs.size()) + " records under " + std::to_string(names) +
            " names\n";
    return LOGTOOL_OK;
}

int LogtoolBuild(const std::string &description, const char *outPath, std::string *err)
{
    NoPoolBoxes quiet;
    JsonValue doc;
    std::string error;
    if (!JsonParse(description, &doc, &error)) {
        *err += "bad JSON: " + error + "\n";
        return LOGTOOL_FAILED;
    }
    std::string temp = std::string(outPath) + ".part";
    LogResetNameIds();
    LogDatabase *db = LogOpen(temp.c_str(), LOG_CREATE);
    if (!db) {
        *err += "cannot create " + temp + ": " + Code(LogLastError()) + "\n";
        return LOGTOOL_FAILED;
    }
    BuildError e{err};
    bool ok = Describe(e, db, doc);
    if (ok) {
        int rc = LogCommit(db);
        if (rc != 0) {
            *err += "commit: " + Code(rc) + "\n";
            ok = false;
        }
    }
    LogClose(db);
    if (ok && !MoveFileExA(temp.c_str(), outPath, MOVEFILE_REPLACE_EXISTING)) {
        *err += std::string("cannot write ") + outPath + "\n";
        ok = false;
    }
    if (!ok) {
        DeleteFileA(temp.c_str());
        return LOGTOOL_FAILED;
    }
    return LOGTOOL_OK;
}

int LogtoolRun(const std::vector<std::string> &args, std::string *out, std::string *err)
{
    size_t n = args.size();
    if (n == 1 && args[0] == "--version") {
        *out += "logtool " REMOVER_VERSION_TEXT "\n";
        return LOGTOOL_OK;
    }
    if (n == 3 && args[0] == "dump" && args[1] == "--json")
        return LogtoolDump(args[2].c_str(), true, out, err);
    if (n == 2 && args[0] == "dump")
        return LogtoolDump(args[1].c_str(), false, out, err);
    if (n == 2 && args[0] == "verify")
        return LogtoolVerify(args[1].c_str(), out, err);
    if (n == 3 && args[0] == "build") {
        std::string description;
        if (!ReadWholeFile(args[1].c_str(), &description, err))
            return LOGTOOL_FAILED;
        return LogtoolBuild(description, args[2].c_str(), err);
    }
    *err += kUsage;
    return LOGTOOL_FAILED;
}
