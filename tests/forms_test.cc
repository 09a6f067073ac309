// Forms: the words an affix file makes, held against libhunspell's own
// verdict; which of them inflect; forms from lists.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <hunspell/hunspell.hxx>
#include <set>
#include <string>
#include <vector>

#include "helpers.h"
#include "imports.h"
#include "text/keys.h"
#include "zelkimport/affixes.h"
#include "zelkimport/inflections.h"

using namespace zelk::import;
using zelk_test::import_source;

namespace {

std::vector<std::string> words_in(const std::string& text) {
  std::vector<std::string> words;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = std::min(text.find(' ', pos), text.size());
    if (end > pos) words.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return words;
}

// The roots of a word list (its first line the count).
std::vector<Root> roots_of(const AffixFile& rules, std::string_view dic) {
  std::vector<Root> roots;
  for (size_t pos = dic.find('\n') + 1; pos < dic.size();) {
    size_t end = std::min(dic.find('\n', pos), dic.size());
    Root root;
    if (read_root(rules, dic.substr(pos, end - pos), root)) roots.push_back(std::move(root));
    pos = end + 1;
  }
  return roots;
}

// The words the rules make of every root of the word list (each with its
// root).
std::set<std::pair<std::string, std::string>> made_of(const AffixFile& rules,
                                                      const std::string& dic) {
  std::set<std::pair<std::string, std::string>> made;
  for (const Root& root : roots_of(rules, dic)) {
    for (const Made& m : derived_words(rules, root)) made.emplace(m.word, root.word);
  }
  return made;
}

}  // namespace

// Each row a feature of the affix file format: the words made of its word
// list, every one of which libhunspell takes and stems to its root, and
// words it must not make, which libhunspell refuses too.
TEST(Affixes, EachFeatureMakesWhatHunspellTakes) {
  struct Row {
    const char* feature;
    std::string aff, dic;
    std::string made, refused;
    bool stems = true;  // libhunspell's stem answers (it gives nothing under COMPLEXPREFIXES)
  } rows[] = {
      {"strip, add and condition",
       "SFX D Y 3\nSFX D 0 ed [^ey]\nSFX D 0 d e\nSFX D y ied [^aeiou]y\n",
       "3\nwalk/D\nmove/D\ncry/D\n", "cried cry move moved walk walked", "walkd moveed cryed"},
      {"prefixes, cross product",
       "PFX U Y 1\nPFX U 0 un .\nSFX S Y 1\nSFX S 0 s .\nSFX N N 1\nSFX N 0 ness .\n",
       "1\nkind/USN\n", "kind kindness kinds unkind unkinds", "unkindness"},
      {"a suffix a prefix allows", "PFX P Y 1\nPFX P 0 re/S .\nSFX S Y 1\nSFX S 0 s .\n",
       "1\ndo/P\n", "do redo redos", "dos"},
      {"a suffix's own suffixes", "SFX A Y 1\nSFX A 0 er/B .\nSFX B Y 1\nSFX B 0 s .\n",
       "1\nwalk/A\n", "walk walker walkers", "walks"},
      {"FLAG long", "FLAG long\nSFX Aa Y 1\nSFX Aa 0 s .\nSFX Bb Y 1\nSFX Bb 0 ed .\n",
       "1\nwalk/AaBb\n", "walk walked walks", "walkeds"},
      {"FLAG long, a continuation",
       "FLAG long\nSFX Aa Y 1\nSFX Aa 0 er/Bb .\nSFX Bb Y 1\nSFX Bb 0 s .\n", "1\nwalk/Aa\n",
       "walk walker walkers", "walks"},
      {"FLAG num", "FLAG num\nSFX 101 Y 1\nSFX 101 0 s .\nSFX 7 Y 1\nSFX 7 0 ed .\n",
       "1\nwalk/101,7\n", "walk walked walks", ""},
      {"FLAG UTF-8", "FLAG UTF-8\nSFX \xc3\x84 Y 1\nSFX \xc3\x84 0 s .\n", "1\nwalk/\xc3\x84\n",
       "walk walks", ""},
      {"AF aliases", "AF 2\nAF SD # walk\nAF S\nSFX S Y 1\nSFX S 0 s .\nSFX D Y 1\nSFX D 0 ed .\n",
       "2\nwalk/1\ncat/2\n", "cat cats walk walked walks", "catted"},
      {"ICONV", "ICONV 1\nICONV \xe2\x80\x99 '\nSFX S Y 1\nSFX S 0 s .\n", "1\ncat/S\n", "cat cats",
       ""},
      {"IGNORE", "IGNORE -\nSFX S Y 1\nSFX S 0 s .\n", "1\nwa-lk/S\n", "walk walks", ""},
      {"FULLSTRIP", "FULLSTRIP\nSFX X Y 1\nSFX X go went go\n", "1\ngo/X\n", "go went", ""},
      {"no FULLSTRIP", "SFX X Y 1\nSFX X go went go\n", "1\ngo/X\n", "go", "went"},
      {"COMPLEXPREFIXES", "COMPLEXPREFIXES\nPFX A Y 1\nPFX A 0 re/B .\nPFX B Y 1\nPFX B 0 un .\n",
       "1\ndo/A\n", "do redo unredo", "undo", false},
      {"CIRCUMFIX: the prefix allowed by its suffix",
       "CIRCUMFIX X\nPFX G Y 1\nPFX G 0 ge/X .\nSFX T Y 1\nSFX T 0 t/GX .\nSFX E Y 1\n"
       "SFX E 0 e .\n",
       "1\nsag/TE\n", "gesagt sag sage", "gesag sagt gesage"},
      {"NEEDAFFIX", "NEEDAFFIX X\nSFX S Y 1\nSFX S 0 s .\n", "2\nfoo/XS\nbar/S\n", "bar bars foos",
       "foo"},
      {"NEEDAFFIX on a suffix", "NEEDAFFIX X\nSFX A Y 1\nSFX A 0 er/X .\nSFX B Y 1\nSFX B 0 s .\n",
       "1\nwalk/AB\n", "walk walks", "walker"},
      {"FORBIDDENWORD", "FORBIDDENWORD F\nSFX S Y 1\nSFX S 0 s .\n", "2\nfoo/S\nbar/FS\n",
       "foo foos", "bar bars"},
      {"ONLYINCOMPOUND", "ONLYINCOMPOUND O\nCOMPOUNDFLAG C\nSFX S Y 1\nSFX S 0 s .\n",
       "2\nfoo/OS\nbar/CS\n", "bar bars", "foo foos"},
      {"words with fields", "SFX S Y 1\nSFX S 0 s . is:pl\n", "1\ncat/S po:noun\n", "cat cats", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.feature);
    const std::string aff = "SET UTF-8\n" + row.aff;
    AffixFile rules = read_affixes(aff);
    std::set<std::pair<std::string, std::string>> made = made_of(rules, row.dic);
    std::string words;
    for (const auto& m : made) words += (words.empty() ? "" : " ") + m.first;
    EXPECT_EQ(words, row.made);
    zelk_test::TempDir dir;
    zelk_test::write_file(dir / "t.aff", aff);
    zelk_test::write_file(dir / "t.dic", row.dic);
    Hunspell hunspell((dir / "t.aff").c_str(), (dir / "t.dic").c_str());
    for (const auto& [word, root] : made) {
      EXPECT_TRUE(hunspell.spell(word)) << word << " made, but hunspell refuses it";
      if (!row.stems) continue;
      std::vector<std::string> stems = hunspell.stem(word);
      EXPECT_NE(std::find(stems.begin(), stems.end(), root), stems.end())
          << word << " does not stem to " << root;
    }
    for (const std::string& w : words_in(row.refused)) {
      EXPECT_FALSE(hunspell.spell(w)) << w << " is a word to hunspell";
    }
  }
}

// Which words made are forms, and of which headword: each row a directive
// of data/inflections/ (or the affix file's own fields), the words made of
// its roots ("word>headword" a form, "word!kind" no form, "word-" a form
// of no headword), the headwords of the source.
TEST(Inflections, OnlyInflectionsPointAtTheNearestHeadword) {
  struct Row {
    const char* directive;
    std::string inflections, aff, dic, headwords, want;
  } rows[] = {
      {"inflect", "inflect S", "PFX U Y 1\nPFX U 0 un .\nSFX S Y 1\nSFX S 0 s .\n", "1\nwalk/SU\n",
       "walk", "unwalk!D unwalks- walks>walk"},
      {"the nearest headword", "inflect S", "PFX E Y 1\nPFX E 0 dis .\nSFX S Y 1\nSFX S 0 s .\n",
       "1\naster/SE\n", "aster disaster", "asters>aster disaster!D disasters>disaster"},
      {"inflect with", "inflect T\ninflect R with T",
       "SFX R Y 1\nSFX R 0 er .\nSFX T Y 1\nSFX T 0 est .\n", "2\ntall/RT\nwork/R\n", "tall work",
       "taller>tall tallest>tall worker!D"},
      {"inflect of", "inflect Z of R", "SFX R Y 1\nSFX R 0 er .\nSFX Z Y 1\nSFX Z 0 ers .\n",
       "2\ncampaign/RZ\nwalk/RZ\n", "campaign campaigner walk",
       "campaigner!D campaigners>campaigner walker!D walkers-"},
      {"a derivation after an inflection", "inflect S",
       "SFX S Y 1\nSFX S 0 s/N .\nSFX N Y 1\nSFX N 0 ness .\n", "1\nwalk/S\n", "walk walks",
       "walks>walk walksness!D"},
      {"elided words glued on", "inflect E S", "PFX E Y 1\nPFX E 0 l' .\nSFX S Y 1\nSFX S 0 s .\n",
       "1\nami/ES\n", "ami", "amis>ami l'ami!G l'amis!G"},
      {"glued ending", "inflect a\nglued a ending lo", "SFX a Y 2\nSFX a o i o\nSFX a o olo o\n",
       "1\namico/a\n", "amico", "amici>amico amicolo!G"},
      {"glued but", "inflect B\nglued B ending vi si but vi re>si",
       "SFX B Y 4\nSFX B re vi ere\nSFX B re si ere\nSFX B e si ere\nSFX B re tevi ere\n",
       "1\nvedere/B\n", "vedere", "vedersi!G vedesi>vedere vedetevi!G vedevi>vedere"},
      {"glued making", "inflect R\nglued R making rse", "SFX R Y 2\nSFX R r ndo r\nSFX R 0 se r\n",
       "1\nhablar/R\n", "hablar", "hablando>hablar hablarse!G"},
      {"numbers", "inflect S\nnumbers N", "PFX N Y 1\nPFX N 0 sei .\nSFX S Y 1\nSFX S 0 s .\n",
       "1\ncento/NS\n", "cento", "centos>cento seicento!N seicentos!N"},
      {"apart", "inflect o\napart o ending a e",
       "SFX o Y 3\nSFX o o a o\nSFX o o e o\nSFX o o i o\n", "2\ncaso/o\nbello/o\n",
       "caso casa bello", "bella>bello belle>bello belli>bello casa!A case!A casi>caso"},
      {"fields", "fields",
       "SFX S Y 1\nSFX S 0 s . is:pl\nSFX N Y 1\nSFX N 0 ness . ds:ness\nSFX L Y 1\n"
       "SFX L 0 lo . dp:pron\n",
       "1\ngood/SNL\n", "good", "goodlo!G goodness!D goods>good"},
      {"AM aliases of fields", "fields", "AM 1\nAM is:pl\nSFX S Y 1\nSFX S 0 s . 1\n", "1\ncat/S\n",
       "cat", "cats>cat"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.directive);
    Inflections in = read_inflections(row.inflections);
    AffixFile rules = read_affixes(row.aff);
    std::vector<std::string> heads = words_in(row.headwords);
    auto is_headword = [&](const std::string& w) {
      return std::find(heads.begin(), heads.end(), w) != heads.end();
    };
    std::set<std::string> got;
    for (size_t pos = row.dic.find('\n') + 1; pos < row.dic.size();) {
      size_t end = row.dic.find('\n', pos);
      Root root;
      ASSERT_TRUE(read_root(rules, row.dic.substr(pos, end - pos), root));
      pos = end + 1;
      for (const Made& m : derived_words(rules, root)) {
        if (m.affixes.empty()) continue;
        Lemma l = lemma_of(in, rules, root, m, is_headword);
        std::string kind = l.kind == kDerivation ? "D"
                           : l.kind == kGlued    ? "G"
                           : l.kind == kNumber   ? "N"
                           : l.kind == kApart    ? "A"
                                                 : "";
        got.insert(m.word + (l.form ? ">" + l.word : kind.empty() ? "-" : "!" + kind));
      }
    }
    std::string joined;
    for (const std::string& g : got) joined += (joined.empty() ? "" : " ") + g;
    EXPECT_EQ(joined, row.want);
  }
}

// Lists of forms, their layout told from their first line, plain or gzip:
// each form of a headword of the source points at it; the others counted.
TEST(FormLists, PairsUniMorphAndWiktionary) {
  const std::string wiktionary =
      R"({"word":"go","lang_code":"en","pos":"verb","senses":[{"glosses":["move"]}],)"
      R"("forms":[{"form":"went","tags":["past"]},{"form":"gone","tags":["participle"]},)"
      R"({"form":"go","tags":["canonical"]}]})"
      "\n"
      R"({"word":"better","lang_code":"en","pos":"adj","senses":[{"form_of":[{"word":"good"}],)"
      R"("glosses":["comparative of good"]}]})"
      "\n"
      R"({"word":"gehen","lang_code":"de","pos":"verb","senses":[{"glosses":["go"]}],)"
      R"("forms":[{"form":"ging","tags":["past"]}]})"
      "\n";
  auto gzip = [](const std::string& text) {
    zelk_test::TempDir dir;
    gzFile f = gzopen((dir / "x.gz").c_str(), "wb");
    gzwrite(f, text.data(), static_cast<unsigned>(text.size()));
    gzclose(f);
    std::ifstream in(dir / "x.gz", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  struct Row {
    const char* layout;
    std::string name, list, lang_code, forms, note;
    long unknown;
  } rows[] = {
      {"pairs", "f.txt", "went\tgo\ngone\tgo\n\nzz\tnothere\n", "", "went\t> go\ngone\t> go\n", "",
       1},
      {"UniMorph", "f.tsv", "go\twent\tV;PST\ngood\tbetter\tADJ;CMPR\nx\ty\tN;PL\n", "",
       "went\t> go\nbetter\t> good\n", "", 1},
      {"Wiktionary, its first word's language", "w.jsonl", wiktionary, "",
       "went\t> go\ngone\t> go\nbetter\t> good\n", "its first word's language", 0},
      {"Wiktionary in gzip, another language", "w.jsonl.gz", gzip(wiktionary), "de",
       "ging\t> gehen\n", "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.layout);
    Options o;
    o.forms = {row.name};
    o.lang_code = row.lang_code;
    o.form_text = "> %s";
    zelk_test::Imported r = import_source(
        {"tab", {{"t.tab", "go\tto move\ngood\tfine\ngehen\tto go\n"}, {row.name, row.list}}}, o);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.out.substr(r.out.find("gehen\tto go\n") + 12), row.forms);
    EXPECT_EQ(r.forms_unknown, row.unknown);
    EXPECT_NE(r.messages.find(row.note), std::string::npos) << r.messages;
  }
}

namespace {

struct Differential {
  long made = 0, refused = 0, not_stemmed = 0;  // inflections made; hunspell's verdicts
  long listed = 0, missed = 0;                  // list words hunspell stems to a root by affixes
  std::vector<std::string> examples;            // what went wrong, a few
};

// The importer's words against libhunspell's on one dictionary and word
// list: the inflections it makes of sampled roots, and the words of the
// list that hunspell takes for a root with affixes.
Differential differ(const std::string& dictionary, const std::string& list_path) {
  Differential d;
  const std::string aff = "/usr/share/hunspell/" + dictionary + ".aff",
                    dic = "/usr/share/hunspell/" + dictionary + ".dic";
  AffixFile rules = read_affixes(zelk_test::read_file(aff));
  std::map<std::string, std::vector<Root>> roots;
  for (Root& root : roots_of(rules, zelk_test::read_file(dic))) roots[root.word].push_back(root);
  Hunspell hunspell(aff.c_str(), dic.c_str());
  Inflections in = inflections_for(dictionary);
  auto is_root = [&](const std::string& w) { return roots.count(w) > 0; };
  auto note = [&](const std::string& what) {
    if (d.examples.size() < 8) d.examples.push_back(what);
  };
  size_t i = 0;
  for (const auto& [word, entries] : roots) {
    if (i++ % 97) continue;  // about a hundredth of the roots
    for (const Root& root : entries) {
      for (const Made& m : derived_words(rules, root)) {
        Lemma l = lemma_of(in, rules, root, m, is_root);
        if (!l.form || m.affixes.empty()) continue;
        ++d.made;
        if (!hunspell.spell(m.word)) {
          ++d.refused;
          note(m.word + " (of " + root.word + ") refused");
          continue;
        }
        std::vector<std::string> stems = hunspell.stem(m.word);
        if (std::find(stems.begin(), stems.end(), root.word) == stems.end()) {
          ++d.not_stemmed;
          note(m.word + " does not stem to " + root.word);
        }
      }
    }
  }
  std::string words = zelk_test::read_file(list_path);
  i = 0;
  for (size_t pos = 0; pos < words.size();) {
    size_t end = std::min(words.find('\n', pos), words.size());
    std::string word = words.substr(pos, end - pos);
    pos = end + 1;
    if (i++ % 23) continue;
    // Taken for a root with affixes (and not as a compound): is it made
    // of one of the roots hunspell names? hunspell takes any word
    // capitalised, and all in capitals.
    if (is_root(word)) continue;
    const std::string folded = zelk::lower_case(word);
    std::vector<std::string> stems = hunspell.stem(word);
    if (std::any_of(stems.begin(), stems.end(),
                    [&](const std::string& s) { return zelk::lower_case(s) == folded; })) {
      continue;  // a root itself
    }
    std::erase_if(stems, [&](const std::string& s) { return !is_root(s); });
    if (stems.empty()) continue;
    std::vector<std::string> analyses = hunspell.analyze(word);
    if (std::any_of(analyses.begin(), analyses.end(),
                    [](const std::string& a) { return a.find("pa:") != std::string::npos; })) {
      continue;
    }
    ++d.listed;
    bool made = false;
    for (const std::string& stem : stems) {
      for (const Root& root : roots[stem]) {
        for (const Made& m : derived_words(rules, root)) {
          made = made || m.word == word || zelk::lower_case(m.word) == folded;
        }
      }
    }
    if (!made) {
      ++d.missed;
      note(word + " not made of " + stems[0]);
    }
  }
  return d;
}

}  // namespace

// Against libhunspell on the word lists Debian ships: every inflection
// made is a word to hunspell that stems to its root, and the list's words
// hunspell takes for a root with affixes are made of that root.
TEST(Affixes, AsHunspellOnDebiansWordLists) {
  struct Row {
    const char* dictionary;
    const char* list;
  } rows[] = {{"en_US", "american-english"},
              {"fr_FR", "french"},
              {"es_ES", "spanish"},
              {"it_IT", "italian"},
              {"de_DE", "ngerman"}};
  int tried = 0;
  for (const Row& row : rows) {
    const std::string list = std::string("/usr/share/dict/") + row.list;
    if (!std::ifstream("/usr/share/hunspell/" + std::string(row.dictionary) + ".aff") ||
        !std::ifstream(list)) {
      continue;
    }
    ++tried;
    Differential d = differ(row.dictionary, list);
    std::string examples;
    for (const std::string& e : d.examples) examples += "\n  " + e;
    std::printf(
        "%s: %ld inflections made, %ld refused, %ld not stemmed to their root; "
        "%ld list words stemmed by affixes, %ld not made%s\n",
        row.dictionary, d.made, d.refused, d.not_stemmed, d.listed, d.missed, examples.c_str());
    EXPECT_GT(d.made, 500);
    EXPECT_EQ(d.refused + d.not_stemmed, 0);
    // What hunspell reads beyond its affixes (a final full stop, v. of v)
    // is left: a few in a thousand at most.
    EXPECT_LE(d.missed * 500, d.listed) << row.dictionary;
  }
  if (!tried) GTEST_SKIP() << "no Hunspell dictionary with its word list here";
}

// A Hunspell dictionary read in its own character set; one of a language
// without a file of inflections, whose rules say nothing, refused.
TEST(Forms, HunspellDictionariesAsTheySay) {
  const std::string news = "new\tnot old\nnews\treports\n";
  struct Row {
    const char* name;
    std::string aff, dic, out, error, source = "caf\xc3\xa9\tcoffee\n";
  } rows[] = {
      // A root of its own the source has: that word alone where the
      // language's file says "roots apart" (en), else a form too.
      {"en_TEST", "SET UTF-8\nSFX S Y 1\nSFX S 0 s .\n", "2\nnew/S\nnews\n", news, "", news},
      {"fr_TEST", "SET UTF-8\nSFX S Y 1\nSFX S 0 s . is:pl\n", "2\nnew/S\nnews\n",
       news + "news\t\u2192 new\n", "", news},
      {"en_TEST", "SET ISO8859-1\nSFX S Y 1\nSFX S 0 s .\n", "1\ncaf\xe9/S\n",
       "caf\xc3\xa9\tcoffee\ncaf\xc3\xa9s\t\xe2\x86\x92 caf\xc3\xa9\n", ""},
      {"xx_TEST", "SET UTF-8\nSFX S Y 1\nSFX S 0 s .\n", "1\ncaf\xc3\xa9/S\n",
       "caf\xc3\xa9\tcoffee\n", "which of its affix rules inflect a word is not known"},
      {"xx_TEST", "SET UTF-8\nSFX S Y 1\nSFX S 0 s . is:pl\n", "1\ncaf\xc3\xa9/S\n",
       "caf\xc3\xa9\tcoffee\ncaf\xc3\xa9s\t\xe2\x86\x92 caf\xc3\xa9\n", ""},
  };
  for (const Row& row : rows) {
    zelk_test::TempDir dir;
    zelk_test::write_file(dir / row.name + ".aff", row.aff);
    zelk_test::write_file(dir / row.name + ".dic", row.dic);
    Options o;
    o.forms = {"hunspell:" + (dir / row.name)};
    zelk_test::Imported r = zelk_test::import_tab(row.source, o);
    EXPECT_EQ(r.out, row.out) << row.aff;
    EXPECT_NE(r.error.find(row.error), std::string::npos) << r.error;
  }
}
