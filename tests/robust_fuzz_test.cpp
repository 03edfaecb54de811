// Damaged installation logs: sound logs written by the real writer, then changed by a
// generator with fixed seeds (bit flips, cuts, count and length fields, chain links and name
// table offsets aimed anywhere, header and name table damage, bytes put in or taken out) and
// pushed through the open, every item and a full read of every record of every name. Every
// case must end within a bounded time with one of the log database's own codes; a crash or a
// case that does not end names the case that caused it.
#include "logdb/logdb.h"

#include "base/strlist.h"
#include "support/logfile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- Fixed-seed generator (splitmix64): the same case number always makes the same log.

struct Rng {
    uint64_t state;
    uint32_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return uint32_t((z ^ (z >> 31)) >> 16);
    }
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
};

// ---- Which case is running, for the crash handler and the watchdog.

char g_caseText[512] = "(none)";
volatile LONG g_caseStart = 0;     // tick count when the running case began; 0 between cases
constexpr DWORD CASE_LIMIT_MS = 10000;

LONG WINAPI OnCrash(EXCEPTION_POINTERS *info)
{
    fprintf(stderr, "\nCRASH (exception 0x%08lx) in %s\n",
            info ? info->ExceptionRecord->ExceptionCode : 0ul, g_caseText);
    fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI Watchdog(void *)
{
    for (;;) {
        Sleep(250);
        LONG start = g_caseStart;
        // Signed: the start is stored with its low bit set and may lie a tick ahead.
        if (start && LONG(GetTickCount() - DWORD(start)) > LONG(CASE_LIMIT_MS)) {
            fprintf(stderr, "\nHANG: %s has run for more than %lu ms\n", g_caseText,
                    CASE_LIMIT_MS);
            fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

class CaseGuard {
public:
    CaseGuard()
    {
        SetUnhandledExceptionFilter(OnCrash);
        static HANDLE watchdog = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
        (void)watchdog;
    }
    void Begin(const std::string &what)
    {
        snprintf(g_caseText, sizeof g_caseText, "%s", what.c_str());
        g_caseStart = LONG(GetTickCount() | 1);
    }
    void End() { g_caseStart = 0; }
};

// ---- Sound logs to start from.

using SeedRecord = rawlog::Rec;

// A sound log from the tests' own writer, written at path too; "" when it cannot be laid out.
std::string WriteSeed(const std::string &path, const std::vector<SeedRecord> &records)
{
    rawlog::Writer w;
    rawlog::Items items = {{ITEM_PRODUCT_KEY, "Parlomatic"}, {ITEM_VERSION_KEY, "2.1"},
                           {ITEM_COMPANY_KEY, "Ediciones Parlo"},
                           {ITEM_APP_PATH, "parlo.exe;parlodic.exe"},
                           {ITEM_UNINSTALL_KEY, "Parlomatic21"}};
    if (!rawlog::LayOut(items, records, &w))
        return "";
    w.number6 = 0x12345678;
    std::string bytes = w.Build();
    return testfs::WriteBytes(path, bytes) ? bytes : "";
}

const auto T = rawlog::Text;
const auto L = rawlog::List;

// A whole installation: every kind, chains interleaved so that links jump over other records.
std::vector<SeedRecord> InstallRecords()
{
    std::vector<SeedRecord> r;
    for (int i = 0; i < 12; i++) {
        r.push_back(T("CF", "C:\\Parlo\\leccion" + std::to_string(i) + ".dat"));
        if (i % 3 == 0)
            r.push_back(L("CSF", {"C:\\Windows\\System\\parlo" + std::to_string(i) + ".dll",
                                  "C:\\Windows\\System\\parlo" + std::to_string(i) + ".dll"}));
        if (i % 4 == 1)
            r.push_back(L("API", {"Parlomatic", "Lección " + std::to_string(i)}));
        if (i % 5 == 2)
            r.push_back(T("CDR", "C:\\Parlo\\datos" + std::to_string(i)));
    }
    r.push_back(T("CPG", "Parlomatic"));
    r.push_back(T("CRK", "-2147483647;\\Software\\Ediciones Parlo\\Parlomatic\\"));
    r.push_back(L("SRK", {"-2147483647;Software\\Parlo Usuario", "Idioma"}));
    r.push_back({"URK", 0, "", 0, {}});
    r.push_back({"MRK", 0, "", 0, {}});
    return r;
}

// Large bodies, many names, every combination of parts.
std::vector<SeedRecord> WideRecords()
{
    std::vector<SeedRecord> r;
    r.push_back(T("CF", std::string(3000, 'x')));
    std::vector<std::string> many;
    for (int i = 0; i < 60; i++)
        many.push_back("elemento" + std::to_string(i));
    r.push_back(L("CSF", many));
    r.push_back({std::string(LOG_NAME_MAX, 'N'), REC_TEXT | REC_VALUE | REC_LIST, "todo", 42,
                 {"a", "", "c"}});
    r.push_back({"VAL", REC_VALUE, "", 0xFFFFFFFF, {}});
    r.push_back({"VAL", REC_VALUE | 0x8000, "", 7, {}});
    for (int i = 0; i < 30; i++)   // the name table's budget holds about this many more
        r.push_back(T(("K" + std::to_string(i)).c_str(), "t" + std::to_string(i)));
    r.push_back(T("CF", ""));
    r.push_back(L("CSF", {}));
    return r;
}

// ---- Where things are in a sound log.

struct Frame {
    uint32_t at;    // offset of the framed record's count
    uint32_t len;   // its body length
    char kind;      // 'b'anner, 'h'eader, 'n'ame table, 'r'ecord, 's'trings
};

struct Layout {
    std::vector<Frame> frames;
    std::vector<uint32_t> records;   // record offsets in file order
    uint32_t header = 0, names = 0, strings = 0;
    size_t entries = 0;
};

Layout Map(const std::string &b)
{
    Layout m;
    m.frames.push_back({10, rawlog::U16(b, 10), 'b'});
    m.header = 12 + rawlog::U16(b, 10);
    m.frames.push_back({m.header, rawlog::U16(b, m.header), 'h'});
    rawlog::Header h = rawlog::ParseHeader(b, m.header);
    m.names = h.names;
    m.strings = h.strings;
    m.frames.push_back({m.names, rawlog::U16(b, m.names), 'n'});
    std::set<uint32_t> seen;
    for (const rawlog::Entry &e : rawlog::ParseNames(b, m.names)) {
        for (uint32_t at = e.first; at; at = rawlog::U32(rawlog::Body(b, at), 0))
            seen.insert(at);
        m.entries++;
    }
    for (uint32_t at : seen) {
        m.records.push_back(at);
        m.frames.push_back({at, rawlog::U16(b, at), 'r'});
    }
    m.frames.push_back({m.strings, rawlog::U16(b, m.strings), 's'});
    return m;
}

// ---- Mutations.

class Mutator {
public:
    Mutator(std::string &bytes, const Layout &layout, Rng &rng, std::string &log)
        : b(bytes), m(layout), rng(rng), log(log)
    {
    }

    // A value for an offset field: aimed at every kind of place, good and bad.
    uint32_t Target(uint32_t self)
    {
        uint32_t size = uint32_t(b.size());
        const uint32_t any = m.records.empty() ? 1111 : m.records[rng.Below(uint32_t(m.records.size()))];
        const uint32_t choices[] = {0, self, self - 1, self + 1, self + 2, any, any + 1,
                                    m.header, m.names, m.strings, 10, 2, size, size - 1,
                                    size - 2, size + 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                    0xFFFFFFFE, rng.Next() << 16 | rng.Next(), rng.Below(size)};
        return choices[rng.Below(sizeof choices / sizeof choices[0])];
    }

    uint32_t Length(uint32_t len, uint32_t bodyLen)
    {
        const uint32_t choices[] = {0, 1, len - 1, len + 1, len + 2, bodyLen, bodyLen + 1,
                                    254, 255, 4095, 4096, 4097, 0x7FFF, 0x8000, 0xFFFF,
                                    rng.Below(0x10000)};
        return choices[rng.Below(sizeof choices / sizeof choices[0])] & 0xFFFF;
    }

    const Frame *PickFrame(const char *kinds)
    {
        std::vector<const Frame *> fit;
        for (const Frame &f : m.frames)
            if (strchr(kinds, f.kind) && f.at + 2 + f.len <= b.size())
                fit.push_back(&f);
        return fit.empty() ? nullptr : fit[rng.Below(uint32_t(fit.size()))];
    }

    // Changes a body in its plain form and scrambles it back, keeping its length.
    template <class Edit>
    void EditBody(const Frame *f, Edit edit)
    {
        if (!f || rawlog::U16(b, f->at) != f->len || f->at + 2 + f->len > b.size())
            return;
        std::string plain = rawlog::Body(b, f->at);
        edit(plain);
        rawlog::SetBody(b, f->at, plain);
    }

    void Note(const std::string &what) { log += what + "; "; }

    // Positions of the u16 string counts inside a plain body of the given kind.
    static std::vector<uint32_t> StringCounts(const std::string &p, char kind)
    {
        std::vector<uint32_t> at;
        uint32_t pos = 0;
        auto str = [&]() {
            if (pos + 2 > p.size())
                return false;
            at.push_back(pos);
            pos += 2 + rawlog::U16(p, pos);
            return pos <= p.size();
        };
        if (kind == 's') {
            for (int i = 0; i < 7 && str(); i++) {
            }
        } else if (kind == 'n') {
            pos = 2;
            while (pos < p.size() && str())
                pos += 14;
        } else if (kind == 'r' && p.size() >= 8) {
            uint32_t flags = rawlog::U16(p, 6);
            pos = 8;
            if ((flags & REC_TEXT) && !str())
                return at;
            if (flags & REC_VALUE)
                pos += 4;
            if ((flags & REC_LIST) && pos + 2 <= p.size()) {
                uint32_t n = rawlog::U16(p, pos);
                pos += 2;
                for (uint32_t i = 0; i < n && str(); i++) {
                }
            }
        }
        return at;
    }

    void Apply(int op)
    {
        uint32_t size = uint32_t(b.size());
        switch (op) {
        case 0: {   // bits anywhere
            int n = 1 + int(rng.Below(8));
            for (int i = 0; i < n && size; i++)
                b[rng.Below(size)] ^= char(1 << rng.Below(8));
            Note("flip " + std::to_string(n) + " bits");
            break;
        }
        case 1: {   // bits of a plain body
            const Frame *f = PickFrame("hnrs");
            EditBody(f, [&](std::string &p) {
                int n = 1 + int(rng.Below(4));
                for (int i = 0; i < n && !p.empty(); i++)
                    p[rng.Below(uint32_t(p.size()))] ^= char(1 << rng.Below(8));
            });
            if (f)
                Note(std::string("flip plain bits of ") + f->kind + "@" + std::to_string(f->at));
            break;
        }
        case 2: {   // a framed record's count
            const Frame *f = PickFrame("bhnrs");
            if (!f)
                break;
            uint32_t v = Length(f->len, f->len);
            rawlog::Put16(b, f->at, v);
            Note(std::string("count of ") + f->kind + "@" + std::to_string(f->at) + " = " +
                 std::to_string(v));
            break;
        }
        case 3: {   // a string's length inside a body
            const Frame *f = PickFrame("nrs");
            EditBody(f, [&](std::string &p) {
                std::vector<uint32_t> at = StringCounts(p, f->kind);
                if (at.empty())
                    return;
                uint32_t pos = at[rng.Below(uint32_t(at.size()))];
                uint32_t v = Length(rawlog::U16(p, pos), uint32_t(p.size()));
                rawlog::Put16(p, pos, v);
                Note(std::string("string length in ") + f->kind + "@" + std::to_string(f->at) +
                     "+" + std::to_string(pos) + " = " + std::to_string(v));
            });
            break;
        }
        case 4: {   // a chain link
            const Frame *f = PickFrame("r");
            EditBody(f, [&](std::string &p) {
                if (p.size() < 4)
                    return;
                uint32_t v = Target(f->at);
                rawlog::Put32(p, 0, v);
                Note("link of " + std::to_string(f->at) + " = " + std::to_string(v));
            });
            break;
        }
        case 5: {   // a field of a name entry
            const Frame *f = PickFrame("n");
            EditBody(f, [&](std::string &p) {
                std::vector<uint32_t> at = StringCounts(p, 'n');
                if (at.empty())
                    return;
                uint32_t pos = at[rng.Below(uint32_t(at.size()))];
                pos += 2 + rawlog::U16(p, pos);   // count, first, again, id
                if (pos + 14 > p.size())
                    return;
                uint32_t field = rng.Below(4);
                if (field == 3) {
                    rawlog::Put16(p, pos + 12, rng.Below(0x10000));
                } else {
                    uint32_t v = field == 0 ? rng.Next() % 100000 : Target(rawlog::U32(p, pos + 4));
                    rawlog::Put32(p, pos + 4 * field, v);
                }
                Note("name entry field " + std::to_string(field) + " at +" + std::to_string(pos));
            });
            break;
        }
        case 6: {   // the name table's shape: entry count, duplicated or emptied names
            const Frame *f = PickFrame("n");
            EditBody(f, [&](std::string &p) {
                std::vector<uint32_t> at = StringCounts(p, 'n');
                uint32_t kind = rng.Below(3);
                if (kind == 0 || at.size() < 2) {
                    uint32_t n = rawlog::U16(p, 0);
                    const uint32_t choices[] = {0, n - 1, n + 1, 0xFFFF, rng.Below(0x10000)};
                    rawlog::Put16(p, 0, choices[rng.Below(5)] & 0xFFFF);
                    Note("name count changed");
                } else if (kind == 1) {
                    // Give a later entry the bytes of an earlier name of the same length.
                    uint32_t i = rng.Below(uint32_t(at.size()));
                    for (uint32_t j = 0; j < at.size(); j++) {
                        uint32_t n = rawlog::U16(p, at[i]);
                        if (j != i && rawlog::U16(p, at[j]) == n) {
                            p.replace(at[j] + 2, n, p.substr(at[i] + 2, n));
                            Note("name made twice");
                            break;
                        }
                    }
                } else {
                    uint32_t pos = at[rng.Below(uint32_t(at.size()))];
                    if (rawlog::U16(p, pos) > 0)
                        p[pos + 2] = rng.OneIn(2) ? '\0' : char(0x81);
                    Note("name byte changed");
                }
            });
            break;
        }
        case 7: {   // header fields
            const Frame *f = PickFrame("h");
            EditBody(f, [&](std::string &p) {
                if (p.size() < 30)
                    return;
                const uint32_t fields[] = {0, 6, 10, 14, 18, 22, 26};
                uint32_t at = fields[rng.Below(7)];
                uint32_t v = at >= 18 && at <= 22 ? Target(rawlog::U32(p, at)) : rng.Next() << 16 | rng.Next();
                rawlog::Put32(p, at, v);
                Note("header field " + std::to_string(at) + " = " + std::to_string(v));
            });
            break;
        }
        case 8: {   // the banner's length moves the header
            uint32_t n = rawlog::U16(b, 10);
            const uint32_t choices[] = {0, 1, n - 1, n + 1, n + 32, 1024, 0x7FFF, 0xFFFF,
                                        rng.Below(0x10000)};
            uint32_t v = choices[rng.Below(9)] & 0xFFFF;
            rawlog::Put16(b, 10, v);
            Note("banner count = " + std::to_string(v));
            break;
        }
        case 9: {   // flags of a record
            const Frame *f = PickFrame("r");
            EditBody(f, [&](std::string &p) {
                if (p.size() < 8)
                    return;
                const uint32_t choices[] = {0, 1, 2, 4, 3, 5, 6, 7, 0xFFFF, 0x8000,
                                            rawlog::U16(p, 6) ^ (1u << rng.Below(3)),
                                            rng.Below(0x10000)};
                uint32_t v = choices[rng.Below(12)];
                rawlog::Put16(p, 6, v);
                Note("flags of " + std::to_string(f->at) + " = " + std::to_string(v));
            });
            break;
        }
        case 10: {  // one framed record copied over another place
            const Frame *from = PickFrame("hnrs");
            if (!from || !size)
                break;
            std::string frame = b.substr(from->at, 2 + from->len);
            uint32_t to = rng.OneIn(2) ? Target(from->at) : rng.Below(size);
            if (to < size) {
                b.replace(to, std::min<size_t>(frame.size(), size - to), frame);
                b.resize(std::max<size_t>(size, to + frame.size()));
            }
            Note("frame @" + std::to_string(from->at) + " copied to " + std::to_string(to));
            break;
        }
        case 11:    // magic or version
            if (rng.OneIn(2)) {
                const uint32_t choices[] = {LOG_VERSION + 1, LOG_VERSION - 1, 0, 0xFFFFFFFF};
                rawlog::Put32(b, 2, choices[rng.Below(4)]);
                Note("version changed");
            } else {
                b[rng.Below(2)] ^= char(1 << rng.Below(8));
                Note("magic changed");
            }
            break;
        case 12:    // the stored checksum
            rawlog::Put32(b, 6, rawlog::U32(b, 6) + 1 + rng.Below(0xFFFF));
            Note("checksum changed");
            break;
        default:
            break;
        }
    }

    // Changes of the length: applied after the field edits, whose places they would move.
    void ApplyLength(int op)
    {
        uint32_t size = uint32_t(b.size());
        if (op == 13) {   // cut short, often right at or beside a frame boundary
            uint32_t cut = rng.Below(size);
            if (rng.OneIn(2) && !m.frames.empty()) {
                const Frame &f = m.frames[rng.Below(uint32_t(m.frames.size()))];
                cut = f.at + rng.Below(4) + (rng.OneIn(2) ? f.len : 0);
            }
            if (cut < size)
                b.resize(cut);
            Note("cut at " + std::to_string(cut));
        } else if (op == 14) {   // bytes put in or taken out
            uint32_t at = rng.Below(size + 1);
            uint32_t n = 1 + rng.Below(16);
            if (rng.OneIn(2)) {
                std::string junk;
                for (uint32_t i = 0; i < n; i++)
                    junk += char(rng.Next());
                b.insert(at, junk);
                Note(std::to_string(n) + " bytes put in at " + std::to_string(at));
            } else {
                b.erase(std::min(at, size), n);
                Note(std::to_string(n) + " bytes taken out at " + std::to_string(at));
            }
        } else if (op == 15) {   // something behind the strings record
            uint32_t n = 1 + rng.Below(64);
            for (uint32_t i = 0; i < n; i++)
                b += char(rng.Next());
            Note(std::to_string(n) + " bytes appended");
        }
    }

private:
    std::string &b;
    const Layout &m;
    Rng &rng;
    std::string &log;
};

constexpr int OPS_IN_PLACE = 13;   // 0..12: fields; 13..15: length changes

// ---- Driving the log database over one file.

const std::set<int> OPEN_CODES = {LOGERR_BAD_MAGIC, LOGERR_READ, LOGERR_VERSION, LOGERR_CHECKSUM};
const std::set<int> READ_CODES = {0, LOG_END, LOGERR_READ};

constexpr int TEXT_SIZE = LOG_BODY_MAX + 1;
constexpr int GUARD = 64;

struct Totals {
    int cases = 0, opened = 0, records = 0, readErrors = 0;
    DWORD slowest = 0;
};

// Every item, then the records of every name and of all names together. "" or what broke.
std::string Exercise(LogDatabase *db, size_t fileSize, bool smallBuffers, Totals *totals)
{
    std::vector<char> buf(TEXT_SIZE + GUARD, '\x5A');
    auto guardIntact = [&]() {
        for (int i = TEXT_SIZE; i < TEXT_SIZE + GUARD; i++)
            if (buf[i] != '\x5A')
                return false;
        return true;
    };
    for (int item = 0; item <= 12; item++) {
        int32_t r = LogGetItem(db, item, buf.data(), TEXT_SIZE);
        bool text = (item >= 1 && item <= 4) || item == 8 || item == 9 || item == 11;
        if (text && (r < 0 || r != int32_t(strlen(buf.data()))))
            return "item " + std::to_string(item) + " gave " + std::to_string(r);
        char small[4];
        r = LogGetItem(db, item, small, sizeof small);
        if (text && r != LOGERR_TOO_LONG && (r < 0 || r > 3 || r != int32_t(strlen(small))))
            return "item " + std::to_string(item) + " in 4 bytes gave " + std::to_string(r);
        if (text && r == LOGERR_TOO_LONG && small[0] != '\0')
            return "item " + std::to_string(item) + " refused but not emptied";
    }
    if (!guardIntact())
        return "an item was written past its buffer";

    std::vector<std::string> names;
    LogNameInfo info;
    for (int i = 0; LogGetNameInfo(db, i, &info) == 0; i++) {
        if (i > LOG_BODY_MAX / 16)
            return "more names than a name table body can hold";
        names.push_back(info.name);
    }
    names.push_back("");   // all names together
    // Links only move forward and a record takes at least 10 bytes.
    const int chainLimit = int(fileSize / 10) + 1;
    for (const std::string &name : names) {
        if (LogSelectName(db, name.c_str()) != 0)
            return "cannot select " + name.substr(0, 20);
        const int limit = name.empty() ? chainLimit * int(names.size()) : chainLimit;
        uint32_t lastOffset = 0;
        int mode = LOG_FIRST;
        int delivered = 0;
        for (;;) {
            StringList *list = ListCreate(0);
            uint32_t flags = 0, value = 0;
            int size = smallBuffers ? 8 : TEXT_SIZE;
            int r = LogReadRecord(db, nullptr, 0, &flags, buf.data(), size, &value, list, mode);
            if (r == LOGERR_TOO_LONG && smallBuffers) {
                ListDestroy(list);
                list = ListCreate(0);
                r = LogReadRecord(db, nullptr, 0, &flags, buf.data(), TEXT_SIZE, &value, list,
                                  LOG_NEXT);
                if (r != 0) {
                    ListDestroy(list);
                    return "a refused record was not read again with a larger buffer: " +
                           std::to_string(r);
                }
            }
            int count = ListCount(list);
            ListDestroy(list);
            if (!READ_CODES.count(r))
                return "read of " + name.substr(0, 20) + " gave " + std::to_string(r);
            if (!guardIntact())
                return "a text was written past its buffer";
            if (r != 0) {
                totals->readErrors += r == LOGERR_READ;
                if (r == LOG_END &&
                    LogReadRecord(db, nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr,
                                  LOG_NEXT) != LOG_END)
                    return "the end of " + name.substr(0, 20) + " did not stay the end";
                break;
            }
            if ((flags & REC_TEXT) && strlen(buf.data()) > size_t(LOG_BODY_MAX))
                return "a text longer than a body";
            if (count > LOG_BODY_MAX / 2)
                return "a list longer than a body can hold";
            uint32_t offset = LogRecordOffset(db);
            if (offset >= fileSize)
                return "a record delivered from beyond the file";
            if (!name.empty() && delivered > 0 && offset <= lastOffset)
                return "a chain went backwards";
            lastOffset = offset;
            totals->records++;
            if (++delivered > limit)
                return "the records of " + name.substr(0, 20) + " do not end";
            mode = LOG_NEXT;
        }
    }
    return "";
}

class RobustFuzz : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = dir / "damaged.log";
        seeds.push_back({"empty", WriteSeed(dir / "empty.log", {})});
        seeds.push_back({"install", WriteSeed(dir / "install.log", InstallRecords())});
        seeds.push_back({"wide", WriteSeed(dir / "wide.log", WideRecords())});
        for (const auto &s : seeds)
            ASSERT_FALSE(s.second.empty()) << "cannot write the seed log " << s.first;
    }

    // One case: the bytes through open and every read. "" or what went wrong.
    std::string RunCase(const std::string &bytes, bool smallBuffers)
    {
        if (!testfs::WriteBytes(path, bytes))
            return "cannot write the case's file";
        DWORD begin = GetTickCount();
        totals.cases++;
        LogDatabase *db = LogOpen(path.c_str(), LOG_DEFAULT | LOG_READ);
        std::string why;
        if (!db) {
            int e = LogLastError();
            if (!OPEN_CODES.count(e))
                why = "open gave " + std::to_string(e);
        } else {
            totals.opened++;
            why = Exercise(db, bytes.size(), smallBuffers, &totals);
            if (LogClose(db) != 0)
                why += " (close failed)";
        }
        totals.slowest = std::max(totals.slowest, GetTickCount() - begin);
        return why;
    }

    // The sound seed must still open and read whole: nothing leaked by the damaged ones.
    std::string SeedStillReads(const std::string &bytes)
    {
        int before = totals.readErrors;
        std::string why = RunCase(bytes, false);
        if (why.empty() && totals.readErrors != before)
            why = "the sound log no longer reads";
        return why;
    }

    testfs::TempDir dir;
    std::string path;
    std::vector<std::pair<std::string, std::string>> seeds;
    Totals totals;
    CaseGuard guard;
};

TEST_F(RobustFuzz, SoundSeedsReadWhole)
{
    for (const auto &s : seeds) {
        Totals t;
        ASSERT_TRUE(testfs::WriteBytes(path, s.second));
        LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
        ASSERT_NE(nullptr, db) << s.first << ": " << LogLastError();
        EXPECT_EQ("", Exercise(db, s.second.size(), false, &t)) << s.first;
        EXPECT_EQ(0, t.readErrors) << s.first;
        // Each record once per name, and once more with all names.
        EXPECT_EQ(2 * int(LogGetItem(db, ITEM_RECORD_COUNT, nullptr, 0)), t.records) << s.first;
        LogClose(db);
    }
}

// Random damage, one to three changes per case, the checksum made to match in nine cases of
// ten so that the damage reaches the bodies.
TEST_F(RobustFuzz, RandomDamageGivesDefinedCodesAndEnds)
{
    constexpr int CASES = 16000;
    int failures = 0;
    for (int n = 0; n < CASES && failures < 10; n++) {
        const auto &seed = seeds[size_t(n) % seeds.size()];
        Rng rng{0x5EEDull * 1000003u + uint64_t(n)};
        std::string bytes = seed.second;
        Layout layout = Map(seed.second);
        std::string what = "random case " + std::to_string(n) + " on " + seed.first + ": ";
        Mutator mutator(bytes, layout, rng, what);
        int count = 1 + int(rng.Below(3));
        std::vector<int> ops;
        for (int i = 0; i < count; i++)
            ops.push_back(int(rng.Below(16)));
        std::sort(ops.begin(), ops.end());   // field edits before length changes
        for (int op : ops) {
            if (op < OPS_IN_PLACE)
                mutator.Apply(op);
            else
                mutator.ApplyLength(op);
        }
        bool keepSum = rng.OneIn(10) || std::count(ops.begin(), ops.end(), 12) > 0;
        if (!keepSum && bytes.size() >= 10)
            rawlog::FixChecksum(bytes);
        guard.Begin(what);
        std::string why = RunCase(bytes, rng.OneIn(4));
        if (why.empty() && n % 1000 == 999)
            why = SeedStillReads(seed.second);
        guard.End();
        if (!why.empty()) {
            ADD_FAILURE() << what << why;
            failures++;
        }
    }
    RecordProperty("cases", totals.cases);
    RecordProperty("opened", totals.opened);
    RecordProperty("records", totals.records);
    RecordProperty("slowest_ms", int(totals.slowest));
    printf("random damage: %d cases, %d opened, %d records delivered, %d read errors, slowest "
           "case %lu ms\n",
           totals.cases, totals.opened, totals.records, totals.readErrors, totals.slowest);
    // A generator that never got past the checksum or never reached a record tests nothing.
    EXPECT_GT(totals.opened, CASES / 4);
    EXPECT_GT(totals.readErrors, CASES / 20);
    EXPECT_LT(totals.slowest, 2000u) << "a case took too long";
}

// A chain link, and a name's first offset, set to every offset of the file and to the extremes
// of the field. A link that does not move forward (itself included) ends the chain with a read
// error at the record that holds it; a name entry pointing anywhere gives that name's
// records or a read error, never more records than the file can hold.
TEST_F(RobustFuzz, LinksAndFirstOffsetsAimedEverywhere)
{
    const std::string &seed = seeds[1].second;
    Layout layout = Map(seed);
    std::vector<rawlog::Entry> entries = rawlog::ParseNames(seed, layout.names);
    const rawlog::Entry *cf = nullptr;
    for (const rawlog::Entry &e : entries)
        if (e.name == "CF")
            cf = &e;
    ASSERT_TRUE(cf);
    // The fourth record of the "CF" chain, and the three before it.
    std::vector<uint32_t> chain;
    for (uint32_t at = cf->first; at; at = rawlog::U32(rawlog::Body(seed, at), 0))
        chain.push_back(at);
    ASSERT_GE(chain.size(), 5u);
    const uint32_t self = chain[3];

    std::vector<uint32_t> targets;
    for (uint32_t t = 0; t <= seed.size() + 4; t++)
        targets.push_back(t);
    for (uint32_t t : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu, 0x10000u + self})
        targets.push_back(t);

    int failures = 0;
    for (uint32_t target : targets) {
        if (failures >= 10)
            break;
        // The link.
        std::string bytes = seed;
        std::string plain = rawlog::Body(bytes, self);
        rawlog::Put32(plain, 0, target);
        rawlog::SetBody(bytes, self, plain);
        rawlog::FixChecksum(bytes);
        std::string what = "link of record " + std::to_string(self) + " = " + std::to_string(target);
        guard.Begin(what);
        std::string why = RunCase(bytes, false);
        if (why.empty()) {
            LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
            LogSelectName(db, "CF");
            int r = LogReadRecord(db, nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr, LOG_FIRST);
            int delivered = 0;
            while (r == 0 && delivered < 1000) {
                delivered++;
                r = LogReadRecord(db, nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr, LOG_NEXT);
            }
            LogClose(db);
            // The record holding the bad link is refused itself: three come before it.
            if (target != 0 && target <= self && (delivered != 3 || r != LOGERR_READ))
                why = "a link that does not move forward gave " + std::to_string(delivered) +
                      " records and " + std::to_string(r);
            if (target == 0 && (delivered != 4 || r != LOG_END))
                why = "a zero link did not end the chain after 4 records";
        }
        // The name's first offset.
        if (why.empty()) {
            bytes = seed;
            plain = rawlog::Body(bytes, layout.names);
            size_t pos = plain.find(std::string("\x02\x00", 2) + "CF");
            if (pos == std::string::npos) {
                why = "no CF entry in the name table";
            } else {
                rawlog::Put32(plain, pos + 4 + 4, target);
                rawlog::SetBody(bytes, layout.names, plain);
                rawlog::FixChecksum(bytes);
                guard.Begin(what = "first offset of CF = " + std::to_string(target));
                why = RunCase(bytes, false);
            }
        }
        guard.End();
        if (!why.empty()) {
            ADD_FAILURE() << what << ": " << why;
            failures++;
        }
    }
    printf("links and first offsets: %d cases, %d opened, slowest case %lu ms\n", totals.cases,
           totals.opened, totals.slowest);
    EXPECT_GE(totals.cases, int(2 * seed.size()));
}

}  // namespace
