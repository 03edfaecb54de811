// Test-side view of installation log bytes, written independently of logdb: field access,
// body unscrambling, the checksum, a raw writer for logs the real writer would never make
// (damaged bodies with a correct checksum, other banners, other versions), and on top of it the
// one writer of sound logs the tests build their worlds with.
#pragma once

#include "logdb/logdb.h"
#include "logdb/scramble.h"
#include "support/tempdir.h"

#include <stdint.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace rawlog {

constexpr uint32_t KEY = 0x4C19E7B2;

inline uint32_t U16(const std::string &b, size_t at)
{
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8;
}

inline uint32_t U32(const std::string &b, size_t at)
{
    return U16(b, at) | U16(b, at + 2) << 16;
}

inline void Put16(std::string &b, size_t at, uint32_t v)
{
    b[at] = char(v);
    b[at + 1] = char(v >> 8);
}

inline void Put32(std::string &b, size_t at, uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

inline std::string Le16(uint32_t v)
{
    std::string s(2, '\0');
    Put16(s, 0, v);
    return s;
}

inline std::string Le32(uint32_t v)
{
    std::string s(4, '\0');
    Put32(s, 0, v);
    return s;
}

inline std::string Str(const std::string &s)
{
    return Le16(uint32_t(s.size())) + s;
}

inline uint32_t Checksum(const std::string &b)
{
    uint32_t sum = 0;
    for (size_t i = 10; i < b.size(); i++)
        sum += uint32_t(int32_t(int8_t(b[i])));
    return sum;
}

inline void FixChecksum(std::string &b)
{
    Put32(b, 6, Checksum(b));
}

// The unscrambled body of the framed record at offset.
inline std::string Body(const std::string &b, size_t offset)
{
    uint32_t n = U16(b, offset);
    std::string body = b.substr(offset + 2, n);
    UnscrambleBlock(&body[0], int32_t(body.size()), KEY);
    return body;
}

// Replaces the body of the framed record at offset by plain (scrambled here), same length.
inline void SetBody(std::string &b, size_t offset, std::string plain)
{
    ScrambleBlock(&plain[0], int32_t(plain.size()), KEY);
    b.replace(offset + 2, plain.size(), plain);
}

inline std::string Framed(std::string plain, bool scramble = true)
{
    if (scramble)
        ScrambleBlock(&plain[0], int32_t(plain.size()), KEY);
    return Le16(uint32_t(plain.size())) + plain;
}

struct Entry {
    std::string name;
    uint32_t count;
    uint32_t first;
    uint32_t id;
};

struct Header {
    uint32_t version, word5, number6, number7, count, strings, names;
};

inline Header ParseHeader(const std::string &b, size_t at)
{
    std::string h = Body(b, at);
    return {U32(h, 0), U16(h, 4), U32(h, 6), U32(h, 10), U32(h, 14), U32(h, 18), U32(h, 22)};
}

inline std::vector<Entry> ParseNames(const std::string &b, size_t at)
{
    std::string t = Body(b, at);
    std::vector<Entry> out;
    size_t p = 2;
    for (uint32_t i = 0; i < U16(t, 0); i++) {
        Entry e;
        uint32_t n = U16(t, p);
        e.name = t.substr(p + 2, n);
        p += 2 + n;
        e.count = U32(t, p);
        e.first = U32(t, p + 4);
        e.id = U16(t, p + 12);
        if (U32(t, p + 8) != e.first)
            e.id = 0xFFFFFFFF;   // the repeated offset must equal the first
        p += 14;
        out.push_back(e);
    }
    return out;
}

// A log laid out by hand. Records are given as plain bodies; offsets are computed here.
struct Writer {
    uint32_t version = 0x02010000;
    std::string banner = std::string(41, 'B');
    std::string headerBody;          // empty: built from the fields below
    uint32_t word5 = 0, number6 = 0, number7 = 0, recordCount = 0;
    std::vector<std::string> strings = std::vector<std::string>(7);
    std::string nameTableBody = std::string(2, '\0');  // whole table body, entries encoded
    std::vector<std::string> records;  // plain record bodies, placed from the first record on
    uint32_t stringsOffsetOverride = 0;

    // Offset of record i in the finished file.
    uint32_t RecordOffset(size_t i) const
    {
        uint32_t at = uint32_t(12 + banner.size() + 1058);
        for (size_t k = 0; k < i; k++)
            at += 2 + uint32_t(records[k].size());
        return at;
    }

    std::string Build() const
    {
        std::string b = Le16(0xA871) + Le32(version) + Le32(0) + Str(banner);
        uint32_t headerAt = uint32_t(b.size());
        uint32_t namesAt = headerAt + 32;
        uint32_t stringsAt = RecordOffset(records.size());
        std::string h = headerBody;
        if (h.empty())
            h = Le32(version) + Le16(word5) + Le32(number6) + Le32(number7) + Le32(recordCount) +
                Le32(stringsOffsetOverride ? stringsOffsetOverride : stringsAt) + Le32(namesAt) +
                Le32(0);
        std::string reserved = Framed(h) + Framed(nameTableBody);
        reserved.resize(1058, '\0');
        b += reserved;
        for (const std::string &r : records)
            b += Framed(r);
        std::string s;
        for (const std::string &x : strings)
            s += Str(x);
        b += Framed(s);
        Put32(b, 6, Checksum(b));
        return b;
    }
};

inline std::string NameEntry(const std::string &name, uint32_t count, uint32_t first,
                             uint32_t id)
{
    return Str(name) + Le32(count) + Le32(first) + Le32(first) + Le16(id);
}

inline std::string Record(uint32_t link, uint32_t id, uint32_t flags, const std::string &rest)
{
    return Le32(link) + Le16(id) + Le16(flags) + rest;
}

// ---- Sound logs, laid out the way the installer writes them.

// One record of a log: its kind (the name it is filed under) and the parts its flags name.
struct Rec {
    std::string kind;
    uint32_t flags = 0;
    std::string text;
    uint32_t value = 0;
    std::vector<std::string> list;
};

inline Rec Text(const std::string &kind, const std::string &text)
{
    return {kind, REC_TEXT, text, 0, {}};
}

inline Rec List(const std::string &kind, const std::vector<std::string> &list)
{
    return {kind, REC_LIST, "", 0, list};
}

inline Rec Bare(const std::string &kind)
{
    return {kind, 0, "", 0, {}};
}

// Header items by number; numbers 5, 6 and 7 are the Writer's fields.
using Items = std::map<int, std::string>;

inline uint32_t NameBucket(const std::string &name)
{
    uint16_t sum = 0;
    for (char c : name)
        sum = uint16_t(sum + int8_t(c));
    return sum % 73u;
}

inline std::string RecordBody(const Rec &r, uint32_t link, uint32_t id)
{
    std::string rest;
    if (r.flags & REC_TEXT)
        rest += Str(r.text);
    if (r.flags & REC_VALUE)
        rest += Le32(r.value);
    if (r.flags & REC_LIST) {
        rest += Le16(uint32_t(r.list.size()));
        for (const std::string &s : r.list)
            rest += Str(s);
    }
    return Record(link, id, r.flags & 0xFFFF, rest);
}

// Lays out a committed log: each kind's records chained in the order given, names ids from 100
// in the order they first appear, the name table in the order of the writer's 73-bucket table
// (bucket by bucket, the newest name first). False when the name table would not fit its place.
inline bool LayOut(const Items &items, const std::vector<Rec> &records, Writer *w)
{
    struct Name {
        std::string name;
        uint32_t id, count = 0;
        size_t first = 0;
    };
    std::vector<Name> names;
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < records.size(); i++) {
        auto it = std::find_if(names.begin(), names.end(),
                               [&](const Name &n) { return n.name == records[i].kind; });
        if (it == names.end()) {
            names.push_back({records[i].kind, uint32_t(100 + names.size()), 0, i});
            it = names.end() - 1;
        }
        it->count++;
        ids.push_back(it->id);
    }
    w->records.clear();
    for (size_t i = 0; i < records.size(); i++)
        w->records.push_back(RecordBody(records[i], 0, ids[i]));
    for (size_t i = 0; i < records.size(); i++)   // offsets known once every body is there
        for (size_t j = i + 1; j < records.size(); j++)
            if (records[j].kind == records[i].kind) {
                Put32(w->records[i], 0, w->RecordOffset(j));
                break;
            }
    std::stable_sort(names.begin(), names.end(), [](const Name &a, const Name &b) {
        uint32_t ba = NameBucket(a.name), bb = NameBucket(b.name);
        return ba != bb ? ba < bb : a.id > b.id;
    });
    w->nameTableBody = Le16(uint32_t(names.size()));
    for (const Name &n : names)
        w->nameTableBody += NameEntry(n.name, n.count, w->RecordOffset(n.first), n.id);
    w->recordCount = uint32_t(records.size());
    const int order[] = {ITEM_PRODUCT_KEY, ITEM_VERSION_KEY, ITEM_TEXT3, ITEM_TEXT4,
                         ITEM_COMPANY_KEY, ITEM_APP_PATH, ITEM_UNINSTALL_KEY};
    w->strings.clear();
    for (int item : order) {
        auto it = items.find(item);
        w->strings.push_back(it == items.end() ? "" : it->second);
    }
    return w->nameTableBody.size() <= 1024;
}

// The bytes of a committed log, or "" when it cannot be laid out.
inline std::string LogBytes(const Items &items, const std::vector<Rec> &records)
{
    Writer w;
    return LayOut(items, records, &w) ? w.Build() : "";
}

// Writes a committed log at path.
inline bool WriteLog(const std::string &path, const Items &items, const std::vector<Rec> &records)
{
    std::string bytes = LogBytes(items, records);
    return !bytes.empty() && testfs::WriteBytes(path, bytes);
}

}  // namespace rawlog
