#pragma once
// Resource ids of the window's translation tables (type "TRANSLATION"). Shared by the resource
// script and the code, so plain defines only.
#define IDR_TRANSLATION_DE 133
#define IDR_TRANSLATION_EN 134
#define IDR_TRANSLATION_ES 135
#define IDR_TRANSLATION_FR 136
