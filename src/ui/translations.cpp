#include "ui/translations.h"

#include "ui/resources/translation_ids.h"

namespace {
constexpr LANGID kPrimaryLanguageMask = 0x3FF;
}  // namespace

WORD TranslationIdForLanguage(LANGID language) {
    switch (language & kPrimaryLanguageMask) {
        case LANG_GERMAN:
            return IDR_TRANSLATION_DE;
        case LANG_SPANISH:
            return IDR_TRANSLATION_ES;
        case LANG_FRENCH:
            return IDR_TRANSLATION_FR;
        default:
            return IDR_TRANSLATION_EN;
    }
}

WORD TranslationIdForUser() { return TranslationIdForLanguage(GetUserDefaultUILanguage()); }

std::vector<std::wstring> SplitTranslation(std::wstring_view text) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    while (start < text.size()) {
        const size_t lineFeed = text.find(L'\n', start);
        const size_t end = lineFeed == std::wstring_view::npos ? text.size() : lineFeed;
        if (end > start) pieces.emplace_back(text.substr(start, end - start));
        if (lineFeed == std::wstring_view::npos) break;
        start = lineFeed + 1;
    }

    std::vector<std::wstring> lines;
    for (size_t i = 1; i < pieces.size(); ++i) {
        pieces[i].pop_back();
        lines.push_back(std::move(pieces[i]));
    }
    return lines;
}

void LoadTranslation(WORD resourceId, std::vector<std::wstring>& texts, HMODULE module) {
    if (module == nullptr) module = GetModuleHandleW(nullptr);
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"TRANSLATION");
    if (resource == nullptr) return;
    const HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return;
    const DWORD size = SizeofResource(module, resource);
    const auto* data = static_cast<const wchar_t*>(LockResource(loaded));
    if (data == nullptr) return;

    for (std::wstring& line : SplitTranslation(std::wstring_view(data, size / sizeof(wchar_t)))) {
        texts.push_back(std::move(line));
    }
}
