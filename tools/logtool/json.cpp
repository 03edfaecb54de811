#include "tools/logtool/json.h"

#include <stdio.h>

namespace {

struct Parser {
    const std::string &s;
    size_t pos;
    int line;
    size_t lineStart;
    std::string error;

    bool Fail(const std::string &what)
    {
        if (error.empty())
            error = "line " + std::to_string(line) + ", column " +
                    std::to_string(pos - lineStart + 1) + ": " + what;
        return false;
    }

    bool AtEnd() const { return pos >= s.size(); }
    unsigned char Peek() const { return AtEnd() ? 0 : static_cast<unsigned char>(s[pos]); }

    void SkipSpace()
    {
        while (!AtEnd()) {
            char c = s[pos];
            if (c == '\n') {
                line++;
                lineStart = pos + 1;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                break;
            }
            pos++;
        }
    }

    bool Literal(const char *word, JsonValue *v, JsonKind kind, bool b)
    {
        size_t n = std::string(word).size();
        if (s.compare(pos, n, word) != 0)
            return Fail("unexpected character");
        pos += n;
        v->kind = kind;
        v->boolean = b;
        return true;
    }

    bool Number(JsonValue *v)
    {
        size_t start = pos;
        if (Peek() == '-')
            pos++;
        if (Peek() == '0') {
            pos++;
        } else if (Peek() >= '1' && Peek() <= '9') {
            while (Peek() >= '0' && Peek() <= '9')
                pos++;
        } else {
            return Fail("bad number");
        }
        if (Peek() == '.') {
            pos++;
            if (!(Peek() >= '0' && Peek() <= '9'))
                return Fail("bad number");
            while (Peek() >= '0' && Peek() <= '9')
                pos++;
        }
        if (Peek() == 'e' || Peek() == 'E') {
            pos++;
            if (Peek() == '+' || Peek() == '-')
                pos++;
            if (!(Peek() >= '0' && Peek() <= '9'))
                return Fail("bad number");
            while (Peek() >= '0' && Peek() <= '9')
                pos++;
        }
        v->kind = JSON_NUMBER;
        v->text = s.substr(start, pos - start);
        return true;
    }

    bool Hex4(unsigned *out)
    {
        if (pos + 4 > s.size())
            return Fail("bad \\u escape");
        unsigned x = 0;
        for (int i = 0; i < 4; i++) {
            char c = s[pos++];
            x <<= 4;
            if (c >= '0' && c <= '9')
                x |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                x |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                x |= unsigned(c - 'A' + 10);
            else
                return Fail("bad \\u escape");
        }
        *out = x;
        return true;
    }

    static void AppendUtf8(std::string *out, unsigned cp)
    {
        if (cp < 0x80) {
            *out += char(cp);
        } else if (cp < 0x800) {
            *out += char(0xC0 | cp >> 6);
            *out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out += char(0xE0 | cp >> 12);
            *out += char(0x80 | (cp >> 6 & 0x3F));
            *out += char(0x80 | (cp & 0x3F));
        } else {
            *out += char(0xF0 | cp >> 18);
            *out += char(0x80 | (cp >> 12 & 0x3F));
            *out += char(0x80 | (cp >> 6 & 0x3F));
            *out += char(0x80 | (cp & 0x3F));
        }
    }

    bool Escape(std::string *out)
    {
        char c = AtEnd() ? '\0' : s[pos++];
        switch (c) {
        case '"': *out += '"'; return true;
        case '\\': *out += '\\'; return true;
        case '/': *out += '/'; return true;
        case 'b': *out += '\b'; return true;
        case 'f': *out += '\f'; return true;
        case 'n': *out += '\n'; return true;
        case 'r': *out += '\r'; return true;
        case 't': *out += '\t'; return true;
        case 'u': break;
        default: return Fail("bad escape");
        }
        unsigned cp;
        if (!Hex4(&cp))
            return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF)
            return Fail("lone low surrogate");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned low;
            if (s.compare(pos, 2, "\\u") != 0)
                return Fail("high surrogate without its low half");
            pos += 2;
            if (!Hex4(&low))
                return false;
            if (low < 0xDC00 || low > 0xDFFF)
                return Fail("high surrogate without its low half");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(out, cp);
        return true;
    }

    // One UTF-8 sequence copied as it is; overlong forms, surrogates and bytes that start
    // nothing are refused.
    bool Utf8(std::string *out)
    {
        unsigned char c = Peek();
        int more;
        if (c >= 0xC2 && c <= 0xDF)
            more = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            more = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            more = 3;
        else
            return Fail("invalid UTF-8");
        if (pos + size_t(more) >= s.size())
            return Fail("invalid UTF-8");
        unsigned cp = c & (0x3F >> more);
        for (int i = 1; i <= more; i++) {
            unsigned char t = static_cast<unsigned char>(s[pos + size_t(i)]);
            if ((t & 0xC0) != 0x80)
                return Fail("invalid UTF-8");
            cp = cp << 6 | (t & 0x3F);
        }
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return Fail("invalid UTF-8");
        out->append(s, pos, size_t(more) + 1);
        pos += size_t(more) + 1;
        return true;
    }

    bool String(std::string *out)
    {
        pos++;   // the opening quote
        for (;;) {
            if (AtEnd())
                return Fail("unterminated string");
            unsigned char c = Peek();
            if (c == '"') {
                pos++;
                return true;
            }
            if (c < 0x20)
                return Fail("control character in string");
            if (c == '\\') {
                pos++;
                if (!Escape(out))
                    return false;
            } else if (c >= 0x80) {
                if (!Utf8(out))
                    return false;
            } else {
                *out += char(c);
                pos++;
            }
        }
    }

    bool Array(JsonValue *v, int depth)
    {
        pos++;
        v->kind = JSON_ARRAY;
        SkipSpace();
        if (Peek() == ']') {
            pos++;
            return true;
        }
        for (;;) {
            v->items.emplace_back();
            if (!Value(&v->items.back(), depth + 1))
                return false;
            SkipSpace();
            if (Peek() == ',') {
                pos++;
                continue;
            }
            if (Peek() == ']') {
                pos++;
                return true;
            }
            return Fail("expected ',' or ']'");
        }
    }

    bool Object(JsonValue *v, int depth)
    {
        pos++;
        v->kind = JSON_OBJECT;
        SkipSpace();
        if (Peek() == '}') {
            pos++;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (Peek() != '"')
                return Fail("expected a member name");
            std::string key;
            if (!String(&key))
                return false;
            if (JsonMember(*v, key.c_str()))
                return Fail("member \"" + key + "\" given twice");
            SkipSpace();
            if (Peek() != ':')
                return Fail("expected ':'");
            pos++;
            v->members.emplace_back(key, JsonValue());
            if (!Value(&v->members.back().second, depth + 1))
                return false;
            SkipSpace();
            if (Peek() == ',') {
                pos++;
                continue;
            }
            if (Peek() == '}') {
                pos++;
                return true;
            }
            return Fail("expected ',' or '}'");
        }
    }

    bool Value(JsonValue *v, int depth)
    {
        if (depth >= JSON_MAX_DEPTH)
            return Fail("nested too deeply");
        SkipSpace();
        v->line = line;
        v->column = int(pos - lineStart + 1);
        switch (Peek()) {
        case '{': return Object(v, depth);
        case '[': return Array(v, depth);
        case '"': v->kind = JSON_STRING; return String(&v->text);
        case 't': return Literal("true", v, JSON_BOOL, true);
        case 'f': return Literal("false", v, JSON_BOOL, false);
        case 'n': return Literal("null", v, JSON_NULL, false);
        case 0:
            if (AtEnd())
                return Fail("unexpected end of text");
            return Fail("unexpected character");
        default:
            if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9'))
                return Number(v);
            return Fail("unexpected character");
        }
    }
};

}  // namespace

bool JsonParse(const std::string &text, JsonValue *out, std::string *error)
{
    Parser p{text, 0, 1, 0, std::string()};
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        p.pos = p.lineStart = 3;
    *out = JsonValue();
    bool ok = p.Value(out, 0);
    if (ok) {
        p.SkipSpace();
        if (!p.AtEnd())
            ok = p.Fail("text after the end of the document");
    }
    if (!ok && error)
        *error = p.error;
    return ok;
}

const JsonValue *JsonMember(const JsonValue &object, const char *key)
{
    for (const auto &m : object.members)
        if (m.first == key)
            return &m.second;
    return nullptr;
}

bool JsonToUnsigned(const JsonValue &v, uint32_t max, uint32_t *out)
{
    if (v.kind != JSON_NUMBER || v.text.empty() || v.text.size() > 10)
        return false;
    uint64_t x = 0;
    for (char c : v.text) {
        if (c < '0' || c > '9')
            return false;
        x = x * 10 + uint64_t(c - '0');
    }
    if (x > max)
        return false;
    *out = uint32_t(x);
    return true;
}

std::string JsonQuote(const std::string &utf8)
{
    std::string out = "\"";
    for (char ch : utf8) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char hex[8];
                snprintf(hex, sizeof hex, "\\u%04x", c);
                out += hex;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}
