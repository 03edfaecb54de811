// catalog.dll as the product sees it: loaded for real, read by number, checked against the
// published list of numbers, the texts quoted to us, the languages and the house style.
#include "catalog/catalog.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <set>
#include <string>
#include <vector>

namespace {

// The numbers the product may read, as published to the product's developers.
const char PUBLISHED_NUMBERS[] =
    "1, 3-22, 25, 3073-3075, 3091-3092, 3094, 3097, 3111, 3113, 4001-4032, 4034, 4038-4039, "
    "4041-4046, 4226, 4228, 4235, 4250-4251, 4255-4260, 4545-4546, 4569-4570, 4585-4588, "
    "4601-4603, 4618, 4633-4635, 4696-4698, 4701-4703, 4718-4719, 4722, 4746-4748, 4752, 4778, "
    "4780-4793, 4800, 4802-4805, 4807, 4860-4862, 4885, 4887-4891, 4893-4898, 4900-4906, "
    "5000-5018, 5020-5030, 5034, 5036-5039, 5041-5042, 5050-5089, 5093, 5096-5108, 5150, 5152, "
    "5154-5155, 5200, 5202-5203, 5210-5211, 5220, 5230-5233, 6001-6040, 10002-10006, "
    "10022-10024, 10027-10032, 10035-10036, 10038-10039, 10259, 10269-10271, 10275-10283, "
    "10285-10287, 10289-10290, 10294, 10306-10308, 10310-10315, 10320-10322, 10325-10329, "
    "10334-10344, 10349-10351, 10353, 10356, 10360, 10362, 10367, 10370-10372, 10374-10375, "
    "10450-10453, 10460-10462, 10467, 10472, 10474, 10477, 10500-10501, 10503-10507, "
    "10509-10510, 10512-10517, 10520-10524, 10527-10537, 10541-10543, 10545-10552, "
    "10555-10563, 10578-10579, 10582-10583, 10587-10591, 10595-10597, 10599-10601, "
    "11013-11014, 11016, 11103-11106, 11108-11116, 11172-11173, 11175-11184, 11186-11189, "
    "11191, 11193, 11198-11201, 11203-11215, 12263-12270, 12272-12285, 12290, 12296-12299, "
    "12302-12310, 12317-12323, 12326-12327, 12330, 12335, 12337-12339, 12342-12343, "
    "12400-12406, 12501-12503, 12506, 12508-12512, 13000, 13002-13010, 13012-13021, "
    "13201-13253, 13302-13304, 13400-13425, 13500-13504, 13600-13608, 13610-13613, "
    "13615-13616, 13618-13636, 13640-13652, 13654, 13657, 13700-13701, 13800-13855, "
    "13900-13903, 13905-13910, 14000-14028, 14033, 14037-14038, 14044-14047, 15000-15006, "
    "15008-15014, 15060, 16003, 16006-16015, 16019-16020, 16025-16026, 16028-16035, "
    "16101-16107, 16109, 16116, 17000-17032, 17034-17070, 17072-17151, 20201-20223, "
    "29001-29027, 29030-29037";

std::set<unsigned> ParseNumbers(const char *text)
{
    std::set<unsigned> out;
    const char *p = text;
    while (*p) {
        char *end;
        unsigned first = strtoul(p, &end, 10);
        unsigned last = first;
        if (*end == '-')
            last = strtoul(end + 1, &end, 10);
        for (unsigned n = first; n <= last; n++)
            out.insert(n);
        p = end;
        while (*p == ',' || *p == ' ')
            p++;
    }
    return out;
}

std::string CatalogPath()
{
    std::string p = std::string("Z:") + CATALOG_DLL;
    for (char &c : p)
        if (c == '/')
            c = '\\';
    return p;
}

// Reads one number with the platform's call, as the product does.
std::wstring Text(HMODULE m, unsigned id)
{
    wchar_t buf[4096];
    int n = LoadStringW(m, id, buf, 4096);
    return std::wstring(buf, n > 0 ? n : 0);
}

std::string Narrow(const std::wstring &w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

// The A/W-neutral resource type macros are narrow in this build.
const LPCWSTR TYPE_STRING = MAKEINTRESOURCEW(6);
const LPCWSTR TYPE_VERSION = MAKEINTRESOURCEW(16);

const IMAGE_NT_HEADERS *Headers(HMODULE m)
{
    auto base = reinterpret_cast<const unsigned char *>(m);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
}

class Catalog : public testing::Test {
protected:
    static HMODULE module;
    static std::set<unsigned> published;

    static void SetUpTestSuite()
    {
        module = LoadLibraryA(CatalogPath().c_str());
        published = ParseNumbers(PUBLISHED_NUMBERS);
    }
    static void TearDownTestSuite()
    {
        if (module)
            FreeLibrary(module);
        module = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(nullptr, module) << "cannot load " << CatalogPath() << ", error " << GetLastError();
    }
};

HMODULE Catalog::module = nullptr;
std::set<unsigned> Catalog::published;

TEST_F(Catalog, HoldsExactlyThePublishedNumbers)
{
    ASSERT_EQ(size_t(CATALOG_TEXT_COUNT), published.size()) << "the published list itself";
    std::set<unsigned> present;
    for (unsigned id = 0; id <= 0xFFFF; id++)
        if (!Text(module, id).empty())
            present.insert(id);
    std::vector<unsigned> missing, extra;
    for (unsigned id : published)
        if (!present.count(id))
            missing.push_back(id);
    for (unsigned id : present)
        if (!published.count(id))
            extra.push_back(id);
    EXPECT_TRUE(missing.empty()) << "first missing number " << (missing.empty() ? 0 : missing[0]);
    EXPECT_TRUE(extra.empty()) << "first unexpected number " << (extra.empty() ? 0 : extra[0]);
    EXPECT_EQ(L"", Text(module, 2));
    EXPECT_EQ(L"", Text(module, 0));
    EXPECT_EQ(L"", Text(module, 65535));
}

TEST_F(Catalog, QuotedTextsAreExact)
{
    struct Case {
        unsigned id;
        const wchar_t *text;
    } cases[] = {
        {1, L"Paramètres"},
        {3073, L"Sélectionnez le mot correspondant à l'image."},
        {4001, L"Français"},
        {4226, L"N°:"},
        {4696, L"Version ??.??"},
        {4746, L"Erreur interne n° %ld."},
        {4747, L"Le fichier %s n'existe pas."},
        {4748, L"Le fichier %s est incorrect ou endommagé."},
        {4778, L"Mémoire insuffisante"},
        {4860, L"Suivi de l'élève"},
        {4900, L"Désinstallation de %s."},
        {4901, L"Supprime le programme et ses composants."},
        {5000, L"Retour"},
        {6001, L"Mettez les groupes suivants au pluriel."},
        {10002, L"Réglage des paramètres"},
        {10450, L"Produit suivant"},
        {10597, L"La désinstallation a échoué."},
        {10600, L"Désinstallation"},
        {11013, L"Cours"},
        {11108, L"Temps\n(hh:mm)"},
        {12263, L"Afin de pouvoir installer Parlomatic sous Windows NT, vous devez avoir les "
                L"droits d'administration.\nDemandez conseil à votre administrateur système."},
        {13000, L"Connexion en cours..."},
        {13800, L"une demi-heure"},
        {15000, L"%s, vous m'avez demandé :"},
        {16003, L"Mot mystérieux"},
        {17000, L"Bibliothèque"},
        {20201, L"Synthèse"},
        {29001, L"Sélectionne ici l'espace disque que tu veux réserver à tes enregistrements audio."},
    };
    for (const Case &c : cases)
        EXPECT_EQ(std::wstring(c.text), Text(module, c.id)) << "number " << c.id;

    // Texts whose wording is ours but whose content is fixed.
    EXPECT_NE(std::wstring::npos, Text(module, 13201).find(L"@s")) << "tips name the product";
    EXPECT_NE(std::wstring::npos, Text(module, 13612).find(L"Éditions Parlomatic"));
    EXPECT_NE(std::wstring::npos, Text(module, 13613).find(L"Éditions Parlomatic"));
    bool welcome = false;
    for (unsigned id : published)
        welcome = welcome || Text(module, id) == L"Bienvenue dans le programme d'installation de @s !";
    EXPECT_TRUE(welcome) << "the installer's welcome text";
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR param)
{
    reinterpret_cast<std::set<WORD> *>(param)->insert(lang);
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param)
{
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::set<unsigned> *>(param)->insert(LOWORD(reinterpret_cast<ULONG_PTR>(name)));
    else
        reinterpret_cast<std::set<unsigned> *>(param)->insert(0x10000); // a named resource
    return TRUE;
}

BOOL CALLBACK CollectType(HMODULE, LPWSTR type, LONG_PTR param)
{
    reinterpret_cast<std::set<ULONG_PTR> *>(param)->insert(
        IS_INTRESOURCE(type) ? reinterpret_cast<ULONG_PTR>(type) : ~ULONG_PTR(0));
    return TRUE;
}

TEST_F(Catalog, CarriesOneFrenchStringTableAndOneVersionBlock)
{
    std::set<ULONG_PTR> types;
    EnumResourceTypesW(module, CollectType, reinterpret_cast<LONG_PTR>(&types));
    EXPECT_EQ((std::set<ULONG_PTR>{ULONG_PTR(RT_STRING), ULONG_PTR(RT_VERSION)}), types);

    // Blocks of sixteen: the table holds exactly the blocks the numbers fall in, all in French.
    std::set<unsigned> blocks, expected;
    for (unsigned id : published)
        expected.insert(id / 16 + 1);
    EnumResourceNamesW(module, TYPE_STRING, CollectName, reinterpret_cast<LONG_PTR>(&blocks));
    EXPECT_EQ(expected, blocks);
    for (unsigned b : blocks) {
        std::set<WORD> langs;
        EnumResourceLanguagesW(module, TYPE_STRING, MAKEINTRESOURCEW(b), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&langs));
        EXPECT_EQ((std::set<WORD>{WORD(CATALOG_LANGUAGE)}), langs) << "block " << b;
        EXPECT_NE(nullptr, FindResourceExW(module, TYPE_STRING, MAKEINTRESOURCEW(b),
                                           MAKELANGID(LANG_FRENCH, SUBLANG_NEUTRAL)));
    }

    std::set<WORD> versionLangs;
    EnumResourceLanguagesW(module, TYPE_VERSION, MAKEINTRESOURCEW(1), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&versionLangs));
    EXPECT_EQ((std::set<WORD>{WORD(CATALOG_VERSION_LANGUAGE)}), versionLangs);
    EXPECT_EQ(1036, CATALOG_VERSION_LANGUAGE);
}

// The table read block by block, as the resource layout defines it, agrees with LoadString:
// lengths are exact, texts carry no terminator and absent numbers have length 0.
TEST_F(Catalog, RawBlocksMatchLoadString)
{
    unsigned seen = 0;
    for (unsigned b = 1; b <= 4096; b++) {
        HRSRC r = FindResourceExW(module, TYPE_STRING, MAKEINTRESOURCEW(b), CATALOG_LANGUAGE);
        if (!r)
            continue;
        auto p = static_cast<const WCHAR *>(LockResource(LoadResource(module, r)));
        const WCHAR *end = p + SizeofResource(module, r) / sizeof(WCHAR);
        for (unsigned i = 0; i < 16; i++) {
            ASSERT_LT(p, end) << "block " << b << " is cut short";
            unsigned len = *p++;
            ASSERT_LE(p + len, end) << "block " << b << " entry " << i;
            std::wstring raw(p, len);
            p += len;
            unsigned id = (b - 1) * 16 + i;
            EXPECT_EQ(raw, Text(module, id)) << "number " << id;
            EXPECT_EQ(std::wstring::npos, raw.find(L'\0')) << "number " << id;
            seen += len > 0;
        }
    }
    EXPECT_EQ(unsigned(CATALOG_TEXT_COUNT), seen);
}

TEST_F(Catalog, VersionBlockIsFrenchWithFileVersion)
{
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(module, &path[0], MAX_PATH));
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_NE(0u, size);
    std::vector<unsigned char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    WORD *translation = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void **>(&translation), &len));
    ASSERT_EQ(4u, len);
    EXPECT_EQ(CATALOG_VERSION_LANGUAGE, translation[0]);
    EXPECT_EQ(1252, translation[1]);

    VS_FIXEDFILEINFO *fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &len));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(21u, fixed->dwFileVersionLS);
    EXPECT_EQ(DWORD(VFT_DLL), fixed->dwFileType);

    struct Value {
        const wchar_t *name;
        const wchar_t *text;
    } values[] = {
        {L"FileVersion", L"1.00.21"},
        {L"CompanyName", L"Éditions Parlomatic"},
        {L"FileDescription", L"Messages en français des produits Éditions Parlomatic"},
        {L"OriginalFilename", L"catalog.dll"},
    };
    for (const Value &v : values) {
        wchar_t *text = nullptr;
        std::wstring key = std::wstring(L"\\StringFileInfo\\040C04E4\\") + v.name;
        ASSERT_TRUE(VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void **>(&text), &len))
            << Narrow(v.name);
        EXPECT_EQ(std::wstring(v.text), std::wstring(text)) << Narrow(v.name);
    }
    EXPECT_EQ(std::string(CATALOG_FILE_VERSION), "1.00.21");
}

TEST_F(Catalog, ImageExportsAndImportsNothing)
{
    const IMAGE_NT_HEADERS *nt = Headers(module);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    const IMAGE_DATA_DIRECTORY &exports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    EXPECT_EQ(0u, exports.VirtualAddress);
    EXPECT_EQ(0u, exports.Size);
    // The linker may leave an import directory holding only its terminating entry.
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress) {
        auto first = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(
            reinterpret_cast<const unsigned char *>(module) + imports.VirtualAddress);
        EXPECT_EQ(0u, first->Name) << "catalog.dll imports a library";
    }
}

DWORD WINAPI Nothing(LPVOID)
{
    return 0;
}

TEST_F(Catalog, EntryRoutineAgreesToEveryReason)
{
    const IMAGE_NT_HEADERS *nt = Headers(module);
    ASSERT_NE(0u, nt->OptionalHeader.AddressOfEntryPoint);
    auto entry = reinterpret_cast<BOOL(WINAPI *)(HINSTANCE, DWORD, LPVOID)>(
        reinterpret_cast<const unsigned char *>(module) + nt->OptionalHeader.AddressOfEntryPoint);
    const DWORD reasons[] = {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH,
                             DLL_PROCESS_DETACH};
    for (DWORD reason : reasons) {
        EXPECT_EQ(TRUE, entry(module, reason, nullptr)) << "reason " << reason;
        EXPECT_EQ(TRUE, entry(module, reason, reinterpret_cast<LPVOID>(1))) << "reason " << reason;
    }
    // Threads starting and ending while the library is loaded go through the routine too.
    HANDLE t = CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 5000));
    CloseHandle(t);
    HMODULE again = LoadLibraryA(CatalogPath().c_str());
    EXPECT_EQ(module, again);
    EXPECT_TRUE(FreeLibrary(again));
}

bool IsWordChar(wchar_t c)
{
    return std::iswalnum(c) || c == L'-' || (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7);
}

// Whole words of a text, lower-cased; an elided "t'" counts as the word "t'".
std::vector<std::wstring> Words(const std::wstring &text)
{
    std::vector<std::wstring> words;
    std::wstring w;
    for (size_t i = 0; i <= text.size(); i++) {
        wchar_t c = i < text.size() ? text[i] : L' ';
        if (IsWordChar(c)) {
            w += wchar_t(std::towlower(c));
        } else {
            if (c == L'\'' && !w.empty())
                w += c;
            if (!w.empty())
                words.push_back(w);
            w.clear();
        }
    }
    return words;
}

// What a reviewer would otherwise check by eye over all 1088 texts.
TEST_F(Catalog, TextsFollowTheHouseStyle)
{
    // Quoted to us as they are: "N°:", "Version ??.??" and "(hh:mm)".
    const std::set<unsigned> punctuationAsGiven = {4226, 4696, 11108};
    const std::set<std::wstring> familiar = {L"tu", L"te", L"t'", L"toi", L"ton", L"ta", L"tes"};
    const std::set<std::wstring> polite = {L"vous", L"votre", L"vos"};
    for (unsigned id : published) {
        std::wstring t = Text(module, id);
        SCOPED_TRACE("number " + std::to_string(id) + ": " + Narrow(t));
        if (t.empty()) {
            ADD_FAILURE() << "missing";
            continue;
        }
        EXPECT_NE(L' ', t.front());
        EXPECT_NE(L' ', t.back());
        EXPECT_EQ(std::wstring::npos, t.find(L"  ")) << "double space";
        EXPECT_EQ(std::wstring::npos, t.find(L" \n")) << "space before a line break";
        EXPECT_EQ(std::wstring::npos, t.find(L" ,")) << "space before a comma";
        EXPECT_EQ(std::wstring::npos, t.find(L'\x2019')) << "curly apostrophe";
        EXPECT_EQ(std::wstring::npos, t.find(L'\x2026')) << "ellipsis character";
        EXPECT_EQ(std::wstring::npos, t.find(L'\xA0')) << "no-break space";
        EXPECT_EQ(std::wstring::npos, t.find(L'"')) << "straight double quote";
        EXPECT_EQ(std::wstring::npos, t.find(L'\r'));
        for (size_t i = 0; i < t.size(); i++) {
            wchar_t c = t[i];
            wchar_t before = i ? t[i - 1] : L' ';
            wchar_t after = i + 1 < t.size() ? t[i + 1] : L' ';
            if (c == L'.' && before == L' ')
                ADD_FAILURE() << "space before a full stop at " << i;
            if ((c == L'!' || c == L'?' || c == L';' || c == L':') && before != L' ' &&
                !punctuationAsGiven.count(id))
                ADD_FAILURE() << "no space before '" << char(c) << "' at " << i;
            if (c == L'\xAB' && after != L' ')
                ADD_FAILURE() << "no space after the opening guillemet at " << i;
            if (c == L'\xBB' && before != L' ')
                ADD_FAILURE() << "no space before the closing guillemet at " << i;
            if (c == L'%' && t.compare(i, 2, L"%s") != 0 && t.compare(i, 3, L"%ld") != 0 &&
                t.compare(i, 2, L"%%") != 0)
                ADD_FAILURE() << "unknown conversion at " << i;
            if (c == L'%' && after == L'%')
                i++;
            if (c == L'@' && after != L's')
                ADD_FAILURE() << "'@' that is not the product placeholder at " << i;
        }
        bool children = id >= 29001 && id <= 29037;
        for (const std::wstring &w : Words(t)) {
            if (!children && familiar.count(w))
                ADD_FAILURE() << "'tu' form outside the children's texts: " << Narrow(w);
            if (children && polite.count(w))
                ADD_FAILURE() << "'vous' form in a children's text: " << Narrow(w);
        }
    }
}

} // namespace
