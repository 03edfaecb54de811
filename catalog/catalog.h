// catalog.dll: the French texts of the Parlomatic products, read by number with LoadString on
// the library's module handle. The library exports nothing; these are the facts its readers and
// its tests rely on.
#pragma once

constexpr int CATALOG_LANGUAGE = 0x000C;         // string table: French, neutral sub-language
constexpr int CATALOG_VERSION_LANGUAGE = 0x040C; // version block: French (France), 1036
constexpr char CATALOG_FILE_VERSION[] = "1.00.21";
constexpr int CATALOG_TEXT_COUNT = 1088;
