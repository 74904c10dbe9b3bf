// The translation tables as compiled into the program and the rules that choose and read them.
#include "ui/translations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/resources/translation_ids.h"

namespace {
using Lines = std::vector<std::wstring>;

struct Table {
    WORD id;
    const char* language;
    size_t size;
    Lines lines;
};

const std::vector<Table>& ShippedTables() {
    static const std::vector<Table> tables = {
        {133,
         "German",
         272,
         {L"Ein Fehler ist aufgetreten", L"Stornieren", L"Wird heruntergeladen...", L"Entpacke Dateien...",
          L"Vorbereiten ...", L"Installateur", L"(Inszenierung)"}},
        {134,
         "English",
         206,
         {L"Error occurred", L"Cancel", L"Fetching files...", L"Extracting files...", L"Preparing...", L"installer",
          L"(Staging)"}},
        {135,
         "Spanish",
         252,
         {L"Se ha producido un error", L"Cancelar", L"Descargando...", L"Extrayendo archivos...", L"Preparando...",
          L"instalador", L"(Puesta en escena)"}},
        {136,
         "French",
         280,
         {L"Une erreur est survenue", L"Annuler", L"T\u00e9l\u00e9chargement...", L"Extraction des fichiers...",
          L"En train de pr\u00e9parer...", L"installateur", L"(Mise en sc\u00e8ne)"}},
    };
    return tables;
}

// The built installer, loaded as a data file: the tables checked are the ones it ships.
HMODULE TablesModule() {
    static const HMODULE installer =
        LoadLibraryExW(QV_INSTALLER_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    EXPECT_NE(installer, nullptr) << "cannot load QuorVelSetup.exe: " << GetLastError();
    return installer;
}

std::string Hex(const std::wstring& text) {
    std::string out;
    char unit[8];
    for (wchar_t c : text) {
        snprintf(unit, sizeof(unit), "%04X ", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

// The raw bytes of a TRANSLATION resource stored under US English, as UTF-16 code units.
std::wstring RawTable(HMODULE module, WORD id) {
    const HRSRC resource =
        FindResourceExW(module, L"TRANSLATION", MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (resource == nullptr) return {};
    const DWORD size = SizeofResource(module, resource);
    const auto* data = static_cast<const wchar_t*>(LockResource(LoadResource(module, resource)));
    EXPECT_EQ(size % 2, 0u) << "table " << id << " has an odd size";
    return std::wstring(data, size / 2);
}
}  // namespace

TEST(TranslationTables, AreStoredByteExactUnderUsEnglish) {
    for (const Table& table : ShippedTables()) {
        std::wstring expected = L"\uFEFF\r\n";
        for (const std::wstring& line : table.lines) expected += line + L"\r\n";
        const std::wstring raw = RawTable(TablesModule(), table.id);
        EXPECT_EQ(raw.size() * 2, table.size) << table.language << " table " << table.id;
        EXPECT_EQ(Hex(raw), Hex(expected)) << table.language << " table " << table.id;
    }
}

TEST(TranslationTables, LoadIntoTheirSevenLines) {
    for (const Table& table : ShippedTables()) {
        Lines texts;
        LoadTranslation(table.id, texts, TablesModule());
        ASSERT_EQ(texts.size(), 7u) << table.language;
        for (size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(Hex(texts[i]), Hex(table.lines[i])) << table.language << " line " << i;
        }
    }
}

TEST(TranslationTables, EnglishLinesCarryNoLineEndsOrByteOrderMark) {
    Lines texts;
    LoadTranslation(IDR_TRANSLATION_EN, texts, TablesModule());
    const Lines expected = {L"Error occurred", L"Cancel",    L"Fetching files...", L"Extracting files...",
                            L"Preparing...",   L"installer", L"(Staging)"};
    EXPECT_EQ(texts, expected);
    for (const std::wstring& line : texts) {
        EXPECT_EQ(line.find_first_of(L"\r\n\uFEFF"), std::wstring::npos) << Hex(line);
    }
}

TEST(TranslationTables, FrenchKeepsItsPrecomposedAccents) {
    Lines texts;
    LoadTranslation(IDR_TRANSLATION_FR, texts, TablesModule());
    ASSERT_EQ(texts.size(), 7u);
    EXPECT_EQ(texts[2].substr(0, 3), std::wstring(L"T\u00e9l")) << Hex(texts[2]);
    EXPECT_EQ(texts[6], std::wstring(L"(Mise en sc\u00e8ne)")) << Hex(texts[6]);
}

TEST(LoadTranslation, AppendsToWhatIsThere) {
    Lines texts = {L"kept"};
    LoadTranslation(IDR_TRANSLATION_EN, texts, TablesModule());
    ASSERT_EQ(texts.size(), 8u);
    EXPECT_EQ(texts[0], L"kept");
    EXPECT_EQ(texts[1], L"Error occurred");
}

TEST(LoadTranslation, MissingTableLeavesTheLinesAlone) {
    Lines texts = {L"kept"};
    LoadTranslation(999, texts, TablesModule());
    EXPECT_EQ(texts, Lines{L"kept"});
}

TEST(LoadTranslation, TableWithoutByteOrderMarkLineLosesItsFirstLine) {
    // Resource 200 of this test program holds "First", "Second", "Third" with no mark line.
    Lines texts;
    LoadTranslation(200, texts, GetModuleHandleW(nullptr));
    EXPECT_EQ(texts, (Lines{L"Second", L"Third"}));
}

TEST(SplitTranslation, FollowsTheLineFeedRule) {
    struct Case {
        const char* name;
        std::wstring text;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {"empty text", L"", {}},
        {"mark line only", L"\uFEFF\r\n", {}},
        {"no line feed at all", L"\uFEFFabc", {}},
        {"last line without line feed", L"\uFEFF\r\nab\r\ncd\r", {L"ab", L"cd"}},
        {"blank line keeps numbering", L"\uFEFF\r\nab\r\n\r\ncd\r\n", {L"ab", L"", L"cd"}},
        {"adjacent line feeds give nothing", L"\uFEFF\r\nab\r\n\n\ncd\r\n", {L"ab", L"cd"}},
        {"line feed without CR loses a character", L"\uFEFF\r\nabc\ncd\r\n", {L"ab", L"cd"}},
        {"leading line feed", L"\nmark\r\nab\r\n", {L"ab"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitTranslation(c.text), c.lines) << "case: " << c.name;
    }
}

TEST(TranslationChoice, UsesThePrimaryLanguageOnly) {
    struct Case {
        LANGID language;
        WORD table;
    };
    const Case cases[] = {
        {0x0407, 133}, {0x0C07, 133}, {0x0807, 133}, {0x040A, 135}, {0x0C0A, 135},
        {0x080A, 135}, {0x040C, 136}, {0x100C, 136}, {0x0C0C, 136}, {0x0409, 134},
        {0x0809, 134}, {0x0410, 134}, {0x0000, 134}, {0x0413, 134}, {0xFC07, 133},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TranslationIdForLanguage(c.language), c.table) << "LANGID 0x" << std::hex << c.language;
    }
}
