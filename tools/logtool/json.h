// logtool's descriptions as a tree of values that remember where they stand in the text, so that
// a refusal can name the line and column. The text is read by nlohmann-json (RFC 8259: UTF-8, no
// comments, no trailing commas). Numbers are kept as their literal text and converted by the
// caller, so nothing is lost to floating point. Duplicate object keys are an error: a description
// that says two things is refused rather than guessed at.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

constexpr int JSON_MAX_DEPTH = 64;

enum JsonKind { JSON_NULL, JSON_BOOL, JSON_NUMBER, JSON_STRING, JSON_ARRAY, JSON_OBJECT };

struct JsonValue {
    JsonKind kind = JSON_NULL;
    bool boolean = false;
    std::string text;     // a string's UTF-8 bytes, or a number's literal
    std::vector<JsonValue> items;                              // array elements
    std::vector<std::pair<std::string, JsonValue>> members;    // object members, in order
    int line = 0;         // where the value starts, for messages
    int column = 0;
};

// Parses the whole of text (a UTF-8 byte order mark is skipped). On failure returns false and
// sets *error to "line L, column C: what", the place where the fault was found.
bool JsonParse(const std::string &text, JsonValue *out, std::string *error);

// The member named key of an object, or null.
const JsonValue *JsonMember(const JsonValue &object, const char *key);

// An unsigned integer literal (no sign, fraction or exponent) not above max.
bool JsonToUnsigned(const JsonValue &v, uint32_t max, uint32_t *out);

// A JSON string literal for UTF-8 bytes: quotes, backslash and control characters escaped.
std::string JsonQuote(const std::string &utf8);
