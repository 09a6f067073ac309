// Alternate headwords and inflected forms: entries whose key is the form and
// whose value points at its headword ("→ go"), or repeats the headword's
// definitions (--form-entries copy). They come from the source (StarDict's
// .syn, a tab file's "go|went|gone", a CSV column), from lists given with
// --forms FILE (form and headword pairs, UniMorph tables, Wiktionary
// extracts), and from a Hunspell dictionary (--forms hunspell:LANG): the
// inflections its affix rules make of the headwords. A form is written only
// where its headword is, after the source's own entries, so a form that is
// also a headword never hides that headword's definitions.
#pragma once

#include <string>
#include <string_view>

#include "zelkimport/sink.h"

namespace zelk::import {

// Records that form points at headword (both as the source has them), from
// the source of forms numbered from (0: the source itself); the form is
// cleaned as keys are, and dropped when it is its headword.
void add_form(Sink& sink, std::string_view form, std::string_view headword, const Where& where,
              uint8_t from = 0);

// Reads the forms the --forms options name (lists and hunspell:LANG), then
// writes every form recorded as entries after the source's own: one entry a
// form, naming all its headwords, or the headwords' definitions again.
void write_forms(Sink& sink);

// The value of a form's entry: the pointer text with the headwords, joined
// by ", ", in place of %s.
std::string pointer_text(const std::string& pattern, const std::vector<std::string>& headwords);

}  // namespace zelk::import
