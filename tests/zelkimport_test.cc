// The importer's readers and its clean-up, fed from memory.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "format/format.h"
#include "helpers.h"
#include "imports.h"
#include "sources/markup.h"
#include "text/charset.h"
#include "toolkit/error.h"
#include "toolkit/file.h"
#include "writer/from_memory.h"
#include "zelkimport/advice.h"
#include "zelkimport/check.h"
#include "zelkimport/forms.h"
#include "zelkimport/layout.h"
#include "zelkimport/pdb_output.h"
#include "zelkimport/sink.h"

using namespace zelk;
using namespace zelk::import;
using zelk_test::import_source;
using zelk_test::import_tab;
using Result = zelk_test::Imported;

namespace {

// The definitions of an import's lines, in order.
std::vector<std::string> values(const std::string& out) {
  std::vector<std::string> v;
  for (size_t pos = 0; pos < out.size();) {
    size_t tab = out.find('\t', pos), end = out.find('\n', pos);
    v.push_back(out.substr(tab + 1, end - tab - 1));
    pos = end + 1;
  }
  return v;
}

}  // namespace

TEST(Import, CharacterSets) {
  auto to = [](const char* set, bool translit = false, const char* replace = "") {
    Options o;
    o.to = set;
    o.translit = translit;
    o.replace = replace;
    return o;
  };
  struct Case {
    std::string in;
    Options options;
    std::string out;
    std::string error;
  } cases[] = {
      {"café\tcrème\n", to("CP1252"), "caf\xE9\tcr\xE8me\n", ""},
      {"€\tx\n", to("CP1252"), "\x80\tx\n", ""},
      {"k\t10 €\n", to("ISO-8859-1"), "",
       "t.tab:1: 'k': '€' (U+20AC) cannot be written in ISO-8859-1; give --translit or "
       "--replace CHAR"},
      {"k\t10 €\n", to("ISO-8859-1", false, "#"), "k\t10 #\n", ""},
      {"k\tß ∞\n", to("ASCII", true), "k\tss ?\n", ""},
      {"日本\t語\n", to("SHIFT_JIS"), "\x93\xFA\x96{\t\x8C\xEA\n", ""},
  };
  for (const Case& c : cases) {
    Result r = import_tab(c.in, c.options);
    EXPECT_EQ(r.error, c.error) << c.in;
    if (c.error.empty()) {
      EXPECT_EQ(r.out, c.out) << c.in;
    }
  }
  EXPECT_EQ(import_source({"tab", {{"t.tab", "caf\xE9\tv\n"}}, {}, "ISO-8859-1"}).out, "café\tv\n");
  // A character set with shift states ends each text with the bytes that
  // close its last run, however full the output is by then.
  for (size_t n = 0; n < 40; ++n) {
    std::string text = "k\t" + std::string(n, '~') + "\n";
    Result there = import_tab(text, to("UTF-7"));
    ASSERT_EQ(there.error, "") << n;
    Result back = import_source({"tab", {{"t.tab", there.out}}, {}, "UTF-7"});
    EXPECT_EQ(back.out, n ? text : "k\t\n") << n << ": " << there.out;
  }
  EXPECT_NE(import_tab("k\tv\n", to("NO-SUCH-SET")).error.find("unknown character set"),
            std::string::npos);
}

// A definition longer than a line goes on in further entries of its key:
// every line within K - 2 bytes, every piece whole characters of the output's
// set, and the pieces joined (blanks aside) the definition.
TEST(Import, LongDefinitionsGoOnAtCharacterBoundaries) {
  for (const char* to : {"", "SHIFT_JIS", "EUC-JP", "CP1252//TRANSLIT"}) {
    const std::string value = std::string("かなカナ漢字 and ") +
                              (*to == 'S' || *to == 'E' ? "" : "Ünïcödé ") +
                              "words, a longer run withoutanyblanksatallinit "
                              "ありがとうございますありがとうございます end";
    for (int k : {16, 20, 33, 64}) {
      Options o;
      o.chunksize = k;
      o.to = to;
      if (o.to == "CP1252//TRANSLIT") {
        o.to = "CP1252";
        o.translit = true;
      }
      Result r = import_tab("key\t" + value + "\n", o);
      ASSERT_EQ(r.error, "") << to << k;
      Converter back;
      if (!o.to.empty()) open_converter(back, o.to, "UTF-8", false);
      std::string joined, expected;
      size_t pos = 0, pieces = 0;
      // Each piece but the last fills its room, but for a blank near its end
      // or a character that did not fit: room - 4 bytes, a quarter of that.
      const size_t room = static_cast<size_t>(k) - 6, least = (room - 4) * 3 / 4 - 1;
      while (pos < r.out.size()) {
        size_t end = r.out.find('\n', pos);
        std::string line = r.out.substr(pos, end - pos);
        pos = end + 1;
        ++pieces;
        EXPECT_LE(line.size(), static_cast<size_t>(k - 2)) << to << k;
        if (pos < r.out.size()) {
          EXPECT_GE(line.size() - 4, least) << to << k << line;
        }
        ASSERT_EQ(line.substr(0, 4), "key\t");
        std::string piece = line.substr(4), utf8 = piece;
        if (is_open(back)) {
          EXPECT_TRUE(convert(back, piece, utf8, nullptr).ok) << to << k << piece;
        }
        EXPECT_EQ(utf8_valid_prefix(utf8), utf8.size()) << to << k;
        joined += utf8;
      }
      EXPECT_GT(pieces, 1u);
      std::string want = value;
      if (o.translit) {
        Converter there, home;
        open_converter(there, "UTF-8", "CP1252//TRANSLIT", false);
        open_converter(home, "CP1252", "UTF-8", false);
        std::string mid;
        convert(there, value, mid, nullptr);
        convert(home, mid, want, nullptr);
      }
      std::erase(joined, ' ');
      std::erase(want, ' ');
      EXPECT_EQ(joined, want) << to << k;
    }
  }
}

// The index record's size replayed on measured entry lengths is the size the
// chunking stage gives at that K, for any K that cuts no line.
TEST(Import, MeasuredIndexSizeIsTheChunkingStages) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::srand(seed);
    std::string text;
    for (int i = 0, n = 1 + std::rand() % 400; i < n; ++i) {
      // Odd seeds: every line 25 bytes, so chunks of 125 and 200 bytes fill exactly.
      auto key = static_cast<size_t>(seed % 2 ? 5 : 1 + std::rand() % 30);
      auto value = static_cast<size_t>(seed % 2 ? 18 : std::rand() % 90);
      text += std::string(key, static_cast<char>('a' + std::rand() % 26)) + "\t" +
              std::string(value, 'v') + "\n";
    }
    zelk::LineTable table = zelk::scan_lines(text.data(), text.size(), 4096, nullptr);
    zelk::SortedLines order = zelk::sort_lines(text.data(), table);
    zelk::Stats stats;
    zelk::ChunkIndex measured;
    measured.measure = true;
    plan_chunks(text, table.starts, order, 65535, stats, measured);
    for (int k : {124, 125, 200, 333, 4096}) {
      zelk::ChunkIndex real;
      plan_chunks(text, table.starts, order, k, stats, real);
      size_t chunks = 0;
      EXPECT_EQ(zelk::index_size_at(measured, k, &chunks), zelk::index_record_size(real.entries))
          << seed << " " << k;
      EXPECT_EQ(chunks, real.entries.size()) << seed << " " << k;
    }
  }
}

// A database lists at most 65534 chunks (at -k 4, one 4-byte entry a chunk).
TEST(Chunks, AtMost65534) {
  for (size_t lines : {65534u, 65535u}) {
    std::string text;
    for (size_t i = 0; i < lines; ++i) text += "a\tb\n";
    zelk::LineTable table = zelk::scan_lines(text.data(), text.size(), 4, nullptr);
    zelk::Stats stats;
    zelk::ChunkIndex index;
    plan_chunks(text, table.starts, zelk::sort_lines(text.data(), table), 4, stats, index);
    std::string error;
    try {
      zelk::check_chunk_count(index);
    } catch (const zelk::Fatal& e) {
      error = e.message;
    }
    EXPECT_EQ(error, lines == 65534 ? "" : "Error: Too many chunks (65535), at most 65534.\n");
  }
}

// Only real elements are markup; anything else between angle brackets is
// the source's text. Links to entries become {references}; line breaks
// (shown as |) the separator.
// A key takes at most half a line: at -k 64, 30 bytes. A longer one is cut
// between characters and said; its definition stays whole.
TEST(Import, LongKeysAreShortenedAndSaid) {
  Options o;
  o.chunksize = 64;
  struct Case {
    std::string key, kept, said;
  } cases[] = {
      {std::string(30, 'k'), std::string(30, 'k'), ""},
      {std::string(31, 'k'), std::string(30, 'k'), "key shortened to its first 30 bytes"},
      {std::string(29, 'k') + "\u00E9", std::string(29, 'k'), "its first 29 bytes"},
  };
  for (const Case& c : cases) {
    Result r = import_tab(c.key + "\tdef\n", o);
    EXPECT_EQ(r.out, c.kept + "\tdef\n") << c.key;
    if (c.said.empty()) {
      EXPECT_EQ(r.messages, "") << c.key;
    } else {
      EXPECT_NE(r.messages.find(c.said), std::string::npos) << r.messages;
    }
  }
}

TEST(Import, MarkupBecomesText) {
  const std::pair<std::string, std::string> cases[] = {
      {"chien <n, masc> dog", "chien <n, masc> dog"},
      {"<@_@> a face, a < b > c", "<@_@> a face, a < b > c"},
      {"<b>bold</b> and <i>it</i><br>next", "bold and it|next"},
      {"<div>one</div><div>two</div>", "one|two"},
      {"&amp; &lt;3 &eacute;", "& <3 \u00e9"},
      {"see <a href=\"bword://apple\">apple</a>", "see {apple}"},
      {"see <a href=\"bword://caf%C3%A9\">the caf\u00e9</a>", "see the caf\u00e9 {caf\u00e9}"},
      {"<a href=\"http://x.example\">a site</a>", "a site"},
      {"x (<a href=\"bword:// or \"> or </a>) y", "x ({or}) y"},  // both trimmed alike
      {"<a href=\"bword://New York\">New  York</a>", "New York {New York}"},
      {"<k>word</k><def>a <kref>ref</kref></def>", "word|a ref"},
      {"x<script>alert(1)</script>y<style>p{}</style>", "xy"},
  };
  for (const auto& [markup, text] : cases) {
    std::string flat;
    flatten(sources::markup_to_text(markup), "|", flat);
    EXPECT_EQ(flat, text) << markup;
  }
}

// A definition continued in further entries is never cut inside a
// {reference} or before a combining mark, and comes back whole.
TEST(Import, ContinuedDefinitionsAreCutAtGoodPlaces) {
  std::mt19937 rng(7);
  const char* words[] = {"word", "e\u0301te\u0301", "{Malus domestica}",  "end.",
                         "{x}",  "na\u00efve",      "\u65e5\u672c\u8a9e", "wordswithoutanyblank"};
  for (int round = 0; round < 300; ++round) {
    std::string value;
    for (int i = 0, n = 10 + static_cast<int>(rng() % 60); i < n; ++i) {
      value += (i ? " " : "") + std::string(words[rng() % std::size(words)]);
    }
    Options o;
    o.chunksize = 40 + static_cast<int>(rng() % 100);
    Result r = import_tab("key\t" + value + "\n", o);
    ASSERT_EQ(r.error, "") << value;
    std::vector<std::string> pieces = values(r.out);
    std::string joined;
    for (size_t i = 0; i < pieces.size(); ++i) {
      const std::string& p = pieces[i];
      EXPECT_EQ(std::count(p.begin(), p.end(), '{'), std::count(p.begin(), p.end(), '}')) << p;
      EXPECT_FALSE(p.starts_with("\u0301")) << p;
      joined += p;
    }
    std::erase(joined, ' ');
    std::erase(value, ' ');
    EXPECT_EQ(joined, value);
  }
  // The end of a sentence near the end of the room comes first, then a blank.
  Options k40;
  k40.chunksize = 40;  // 34 bytes of definition a line
  EXPECT_EQ(values(import_tab("key\tOne two three four five six. Seven eight nine\n", k40).out),
            (std::vector<std::string>{"One two three four five six.", "Seven eight nine"}));
  EXPECT_EQ(values(import_tab("key\tOne two three four five six seventeen\n", k40).out),
            (std::vector<std::string>{"One two three four five six", "seventeen"}));
}

// A record list states offsets in 32 bits: a database whose last record
// would start past them is refused before a byte is written.
TEST(Format, RecordsStartWithin4GiB) {
  std::vector<IndexEntry> entries(65534, IndexEntry{"k", "k", 65000});
  const uint64_t before_index = record0_offset(entries.size());
  const uint64_t records = 65533ull * 65000;  // all but the last
  EXPECT_EQ(last_record_offset(entries, 1000), before_index + 1000 + records);
  size_t most = static_cast<size_t>(kMaxRecordOffset - before_index - records);
  EXPECT_EQ(last_record_offset(entries, most), kMaxRecordOffset);

  zelk::ChunkIndex index;  // plain records, never read: the refusal comes first
  index.entries = entries;
  index.entries[0].first = std::string(most - index_record_size(entries) + 2, 'k');
  zelk::Settings settings;
  settings.do_compress = false;
  settings.allow_large_index = true;
  zelk::Captured out;
  zelk::File file(out.f, "d.pdb");
  out.f = nullptr;
  std::string error;
  try {
    write_from_memory(file, settings, index, nullptr);
  } catch (const zelk::Fatal& e) {
    error = e.message;
  }
  EXPECT_TRUE(
      error.starts_with("Error: Database too big: record 65534 would start at byte "
                        "4294967296, past the 4294967295"))
      << error;
  EXPECT_EQ(std::ftell(file.f), 0);
}

// Forms from every source that has them, written after the source's own
// entries: a pointer naming all their headwords, or the definitions again.
TEST(Forms, FromEverySource) {
  zelk_test::TempDir dir;
  zelk_test::write_file(dir / "forms.txt", "went\tgo\ngo\tgo\nHouse\thouse\nzz\tnothere\n");
  // English flags: S, D and G inflect, U (un-) and E make other words.
  zelk_test::write_file(dir / "en_TEST.aff",
                        "SET UTF-8\nSFX S Y 1\nSFX S 0 s .\nSFX D Y 2\n"
                        "SFX D 0 ed [^e]\nSFX D 0 d e\nSFX G Y 2\nSFX G e ing e\n"
                        "SFX G 0 ing [^e]\nPFX U Y 1\nPFX U 0 un .\n"
                        "SFX E N 1\nSFX E 0 ty/S .\n");  // a suffix that takes another
  zelk_test::write_file(dir / "en_TEST.dic", "3\nwalk/SDGU\nmove/DG\ncat/E\n");
  auto with = [&](std::vector<std::string> forms, const char* text = "", bool copy = false) {
    Options o;
    o.forms = std::move(forms);
    o.form_text = text;
    o.copy_forms = copy;
    return o;
  };
  std::string file = dir / "forms.txt", hunspell = "hunspell:" + (dir / "en_TEST");
  struct Case {
    const char* format;
    std::string source;
    Options options;
    std::string out;
    std::map<std::string, std::string> csv = {};
  } cases[] = {
      {"tab",
       "go|went|gone\tto move\nbar\\|baz\tone key\n",
       {},
       "go\tto move\nbar|baz\tone key\nwent\t\u2192 go\ngone\t\u2192 go\n"},
      {"tab", "go|went\tto move\nwalk|went\ton foot\ngo|go\tagain\n", with({}, "see %s"),
       "go\tto move\nwalk\ton foot\ngo\tagain\nwent\tsee go, walk\n"},
      {"tab", "go|went\tto move\ngo\tagain\n", with({}, "", true),
       "go\tto move\ngo\tagain\nwent\tto move\nwent\tagain\n"},
      {"tab", "go\tto move\nhouse\ta home\n", with({file}),
       "go\tto move\nhouse\ta home\nwent\t\u2192 go\nHouse\t\u2192 house\n"},
      {"csv",
       "walk,on foot,walks|walked\ncat,a pet,\n",
       {},
       "walk\ton foot\ncat\ta pet\nwalks\t\u2192 walk\nwalked\t\u2192 walk\n",
       {{"forms-column", "3"}}},
      // Inflections only, each of the nearest headword: cattys of catty, but
      // no unwalked, whose unwalk is no headword.
      {"tab", "walk\ton foot\nmove\tto go\ncat\ta pet\ncatty\tspiteful\n", with({hunspell}),
       "walk\ton foot\nmove\tto go\ncat\ta pet\ncatty\tspiteful\ncattys\t\u2192 catty\n"
       "moved\t\u2192 move\nmoving\t\u2192 move\nwalked\t\u2192 walk\nwalking\t\u2192 walk\n"
       "walks\t\u2192 walk\n"},
  };
  for (const Case& c : cases) {
    std::string name = std::string("t.") + c.format;
    Result r = import_source({c.format, {{name, c.source}}, c.csv}, c.options);
    EXPECT_EQ(r.error, "") << c.source;
    EXPECT_EQ(r.out, c.out) << c.source;
  }
}

// Every thread makes its own speller; hunspell's shared table leaks or is
// freed under another thread when two are made at once (the sanitizer build
// sees the leak), and the forms must not depend on how the threads ran.
TEST(Forms, HunspellSpellersOfManyThreads) {
  zelk_test::TempDir dir;
  zelk_test::write_file(dir / "en_TEST.aff", "SET UTF-8\nSFX S Y 1\nSFX S 0 s .\n");
  zelk_test::write_file(dir / "en_TEST.dic", "2\nwalk/S\ncat/S\n");
  Options o;
  o.forms = {"hunspell:" + (dir / "en_TEST")};
  for (int run = 0; run < 20; ++run) {
    Result r = import_tab("walk\ton foot\ncat\ta pet\n", o);
    ASSERT_EQ(r.out, "walk\ton foot\ncat\ta pet\ncats\t\u2192 cat\nwalks\t\u2192 walk\n") << run;
  }
}

// The advice on -k measures each entry laid out anew at another K from the
// places its definition may be cut, without writing it: the index record it
// predicts is the one an import at that K gives.
TEST(Import, IndexSizeAtAnotherKIsThatOfAnImportThere) {
  std::mt19937 rng(11);
  const char* words[] = {"word", "e\u0301te\u0301", "{Malus domestica}", "end.",  "{x",
                         "}",    "\u65e5\u672c",    "glued\u0301\u0302", "dolor!"};
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 60; ++i) {
    std::string value;
    for (int w = 0, n = 1 + static_cast<int>(rng() % 400); w < n; ++w) {
      value += (w ? " " : "") + std::string(words[rng() % std::size(words)]);
    }
    entries.emplace_back("k" + std::to_string(i), value);
  }
  auto import_at = [&](Sink& sink, int k) {
    const std::string name = "t.tab";
    for (size_t i = 0; i < entries.size(); ++i) {
      write_entry(sink, entries[i].first, entries[i].second, Where{&name, long(i) + 1, true}, k);
    }
  };
  Options o;
  o.chunksize = 40;
  Sink first(o);
  first.messages = nullptr;
  import_at(first, o.chunksize);
  ASSERT_FALSE(first.reflowed.empty());
  Layout layout = lay_out(view(first.out), o.chunksize);
  for (int k : {40, 57, 100, 333, 1024, 4096}) {
    Options at = o;
    at.chunksize = k;
    Sink again(at);
    again.messages = nullptr;
    import_at(again, k);
    // As the import writes it: repeated keys (a definition's further lines)
    // arranged to come back in order.
    Layout real = lay_out(view(again.out), k);
    LineTable arranged;
    Bytes text = real.moved ? arranged_text(view(again.out), real, arranged) : again.out;
    Sorted sorted{real.moved ? &arranged : &real.table, &real.order};
    TextSummary summary = check_text(text.data(), text.size(), k, &sorted);
    EXPECT_EQ(index_size_reimported(first, view(first.out), layout, k), summary.index_size) << k;
  }
}
