// The product's string lists from and to plain vectors, for tests that hand lists to the code
// under test or read what it filled in.
#pragma once

#include <string>
#include <vector>

#include "base/strlist.h"

namespace testlist {

// A new list holding strings; the caller destroys it.
inline StringList *Make(const std::vector<std::string> &strings)
{
    StringList *list = ListCreate(0);
    for (const std::string &s : strings)
        ListAdd(list, s.c_str());
    return list;
}

inline std::vector<std::string> Strings(StringList *list)
{
    std::vector<std::string> out;
    for (void *p = ListFirst(list); p; p = ListNext(list))
        out.push_back(static_cast<const char *>(p));
    return out;
}

}  // namespace testlist
