// Where forms come from besides the source: lists (form and headword
// pairs, UniMorph tables, Wiktionary extracts) and Hunspell dictionaries.
// Each reader records a form only where its headword is a headword of the
// source.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "zelkimport/sink.h"

namespace zelk::import {

// The source's headwords, to find a form's headword by: exactly, or in
// lower case, as the source has its keys when they all are (dictd's).
struct Headwords {
  const std::vector<std::string>& keys;            // sorted, each once
  std::unordered_map<std::string, size_t> folded;  // lower_case(key) -> its place in keys
  bool keys_folded = true;                         // every key is in lower case

  explicit Headwords(const std::vector<std::string>& sorted);
  // The headword word stands for, or null.
  const std::string* find(const std::string& word) const;
};

// The number of a source of forms among sink.form_sources, added if new.
uint8_t form_source(Sink& sink, const std::string& name);

// Reads a list of forms, its layout told from its first line: "form<TAB>
// headword" lines; UniMorph's "lemma<TAB>form<TAB>features"; or a
// Wiktionary extract (JSON lines), whose words' forms and form-of senses
// are taken, of the language --lang-code names (else its first word's).
// Plain or gzip, read as it comes.
void read_form_list(Sink& sink, const std::string& path, const Headwords& headwords);

// Reads a Hunspell dictionary (hunspell:LANG: a name like de_DE, or a path
// without .aff): every word its affix rules make of a root that inflects
// a headword, and that hunspell takes for a word (that it stems back to
// the root is what the tests check).
void read_hunspell(Sink& sink, const std::string& language, const Headwords& headwords);

}  // namespace zelk::import
