#pragma once
// The window's translated texts: four tables compiled into the program as resources of the named
// type "TRANSLATION" (ids in resources/translation_ids.h), one line per text, read by position.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// The table for a user interface language. Only the primary language counts, so every regional
// variant of German, Spanish and French gets its table; anything else gets English.
WORD TranslationIdForLanguage(LANGID language);

// The table for the current user's interface language (GetUserDefaultUILanguage).
WORD TranslationIdForUser();

// Cuts a table's text into its lines: pieces between line feeds, empty pieces skipped, the first
// piece (the byte-order-mark line) dropped and the last unit of every other piece (the CR of its
// CR LF) removed.
std::vector<std::wstring> SplitTranslation(std::wstring_view text);

// Appends the lines of table |resourceId| of |module| (null: the program itself) to |texts|.
// A table that cannot be found or loaded leaves |texts| as it was.
void LoadTranslation(WORD resourceId, std::vector<std::wstring>& texts, HMODULE module = nullptr);
