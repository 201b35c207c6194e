// The terminal front end's own texts (help, progress, the printer list,
// guidance) in the user's language, through gettext, text domain
// "quillon". The system's messages (the string table) are Japanese and are
// never translated.
#pragma once

#include <string>

// Takes the language from the environment (LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG) and binds the catalogue: the build tree's locale folder beside the
// program, or the installed one. Call once, before any text is looked up.
void InitTranslation();

// The translation of text, or text itself.
const char* Tr(const char* text)
#if defined(__GNUC__)
    __attribute__((format_arg(1)))
#endif
    ;

// printf-style formatting of an already translated format.
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Marks a text for translation where it is looked up (_) or only listed
// (N_, for tables that are translated when shown).
#define _(text) Tr(text)
#define N_(text) text
