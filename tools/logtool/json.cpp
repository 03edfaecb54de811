#include "tools/logtool/json.h"

#include <stddef.h>
#include <string.h>

#include <iterator>
#include <nlohmann/json.hpp>

namespace {

// Hands the reader the text byte by byte and counts what it has taken: its events carry no
// position, and the count places them in the text.
class CountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = ptrdiff_t;
    using pointer = const char *;
    using reference = const char &;

    CountingIterator(const char *at, size_t *taken) : at_(at), taken_(taken) {}
    reference operator*() const { return *at_; }
    CountingIterator &operator++()
    {
        ++at_;
        ++*taken_;
        return *this;
    }
    CountingIterator operator++(int)
    {
        CountingIterator was = *this;
        ++*this;
        return was;
    }
    bool operator==(const CountingIterator &o) const { return at_ == o.at_; }
    bool operator!=(const CountingIterator &o) const { return at_ != o.at_; }

private:
    const char *at_;
    size_t *taken_;
};

// Line and column (from 1, in bytes) of offsets asked for in rising order.
struct Cursor {
    const char *text;
    size_t at = 0, line = 1, lineStart = 0;

    void Locate(size_t offset, int *outLine, int *outColumn)
    {
        if (offset < at)
            at = 0, line = 1, lineStart = 0;
        for (; at < offset; at++)
            if (text[at] == '\n')
                line++, lineStart = at + 1;
        *outLine = int(line);
        *outColumn = int(offset - lineStart + 1);
    }
};

// Builds the JsonValue tree from the reader's events.
class TreeBuilder : public nlohmann::json::json_sax_t {
public:
    TreeBuilder(const char *text, size_t size, JsonValue *root)
        : text_(text), size_(size), cursor_{text}, root_(root)
    {
    }

    size_t taken = 0;          // bytes the reader has taken (one past a number: it looks ahead)
    std::string error;

    bool null() override { return Place(JSON_NULL) != nullptr; }
    bool boolean(bool b) override
    {
        JsonValue *v = Place(JSON_BOOL);
        return v && (v->boolean = b, true);
    }
    bool number_integer(number_integer_t) override { return Number(); }
    bool number_unsigned(number_unsigned_t) override { return Number(); }
    bool number_float(number_float_t, const string_t &) override { return Number(); }
    bool string(string_t &s) override
    {
        JsonValue *v = Place(JSON_STRING);
        return v && (v->text = std::move(s), true);
    }
    bool binary(binary_t &) override { return Fail(taken, "unexpected binary value"); }
    bool start_object(size_t) override { return Open(JSON_OBJECT); }
    bool start_array(size_t) override { return Open(JSON_ARRAY); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t &name) override
    {
        mark_ = taken;
        for (const auto &m : open_.back()->members)
            if (m.first == name)
                return Fail(taken, "member \"" + name + "\" given twice");
        key_ = std::move(name);
        return true;
    }

    // The reader's own refusals: a token it could not read is placed at the byte that spoiled
    // it, a token it did not expect at the token's start, a missing one at the end of the text.
    bool parse_error(size_t position, const std::string &lastToken,
                     const nlohmann::json::exception &ex) override
    {
        std::string what = ex.what();
        size_t cut = what.find("] ");
        if (cut != std::string::npos)
            what.erase(0, cut + 2);
        cut = what.find(": ");
        if (what.compare(0, 11, "parse error") == 0 && cut != std::string::npos)
            what.erase(0, cut + 2);
        // The line and column say where; "syntax error while parsing value - " and what was
        // read would only say it again.
        cut = what.find(" - ");
        if (what.compare(0, 12, "syntax error") == 0 && cut != std::string::npos)
            what.erase(0, cut + 3);
        size_t lastRead = what.find("; last read: '");
        bool unreadable = lastRead != std::string::npos;
        if (unreadable)
            what.erase(lastRead);
        // The reader's record of the last token is exact for strings, numbers and literals only;
        // a bracket or separator is one byte.
        size_t back = lastToken.empty() ? 1 : lastToken.size();
        if (unreadable || position == 0 || position > size_ ||
            strchr("[]{},:", text_[position - 1]))
            back = 1;
        return Fail(position >= back ? position - back : 0, what);
    }

private:
    const char *text_;
    size_t size_;
    Cursor cursor_;
    JsonValue *root_;
    std::vector<JsonValue *> open_;
    std::string key_;
    size_t mark_ = 0;          // where the token of the last event ended
    size_t start_ = 0;         // where the last value placed starts

    bool Fail(size_t offset, const std::string &what)
    {
        if (error.empty()) {
            int line, column;
            cursor_.Locate(offset < size_ ? offset : size_, &line, &column);
            error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
                    what;
        }
        return false;
    }

    static bool Between(char c)
    {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ':';
    }

    // The new value, at its place in the tree and in the text: after the last event's token,
    // past blanks and separators.
    JsonValue *Place(JsonKind kind)
    {
        size_t start = mark_;
        while (start < size_ && Between(text_[start]))
            start++;
        start_ = start;
        mark_ = taken;
        if (open_.size() >= size_t(JSON_MAX_DEPTH)) {
            Fail(start, "nested too deeply (more than " + std::to_string(JSON_MAX_DEPTH) +
                            " levels)");
            return nullptr;
        }
        JsonValue *v = root_;
        if (!open_.empty() && open_.back()->kind == JSON_ARRAY) {
            open_.back()->items.emplace_back();
            v = &open_.back()->items.back();
        } else if (!open_.empty()) {
            open_.back()->members.emplace_back(std::move(key_), JsonValue());
            v = &open_.back()->members.back().second;
        }
        v->kind = kind;
        cursor_.Locate(start, &v->line, &v->column);
        return v;
    }

    // A number keeps its literal, which the reader does not hand over for integers.
    bool Number()
    {
        JsonValue *v = Place(JSON_NUMBER);
        if (!v)
            return false;
        size_t end = start_;
        while (end < size_ && strchr("+-.eE0123456789", text_[end]) && text_[end] != '\0')
            end++;
        v->text.assign(text_ + start_, end - start_);
        return true;
    }

    bool Open(JsonKind kind)
    {
        JsonValue *v = Place(kind);
        if (!v)
            return false;
        open_.push_back(v);
        return true;
    }

    bool Close()
    {
        mark_ = taken;
        open_.pop_back();
        return true;
    }
};

}  // namespace

bool JsonParse(const std::string &text, JsonValue *out, std::string *error)
{
    // Columns count from after a byte order mark, as an editor shows them.
    size_t skip = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const char *begin = text.data() + skip;
    size_t size = text.size() - skip;
    *out = JsonValue();
    TreeBuilder builder(begin, size, out);
    bool ok = nlohmann::json::sax_parse(CountingIterator(begin, &builder.taken),
                                        CountingIterator(begin + size, &builder.taken), &builder);
    if (!ok && error)
        *error = builder.error;
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
    return nlohmann::json(utf8).dump();
}
