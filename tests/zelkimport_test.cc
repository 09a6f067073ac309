// The importer's readers and its clean-up, fed from memory.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "helpers.h"
#include "text/charset.h"
#include "toolkit/error.h"
#include "toolkit/file.h"
#include "writer/from_memory.h"
#include "zelkdump/commands.h"
#include "zelkimport/check.h"
#include "zelkimport/database.h"
#include "zelkimport/import.h"
#include "zelkimport/layout.h"
#include "zelkimport/markup.h"

using namespace zelk;
using namespace zelk::import;

namespace {

// What an import wrote, what it said, and the error that ended it (if any).
struct Result {
  std::string out;
  std::string messages;
  std::string error;
  long repaired = 0;
  long skipped = 0;
};

template <typename Read>
Result import_with(const Options& options, Read read) {
  Result r;
  zelk::Captured messages;
  try {
    Sink sink(options);
    sink.messages = messages.f;
    read(sink);
    if (sink.written) finish_reading(sink, "t");
    r.out = view(sink.out);
    r.repaired = sink.repaired;
    for (const auto& [reason, count] : sink.skipped) r.skipped += count;
  } catch (const zelk::Fatal& e) {
    r.error = e.message;
  }
  r.messages = messages.text();
  return r;
}

Result import_tab(const std::string& text, const Options& options = {}) {
  std::string name = "t.tab";
  return import_with(options, [&](Sink& s) { read_tab_text(TextFile{name, text}, s); });
}

Result import_csv(const std::string& text, const Options& options = {}) {
  std::string name = "t.csv";
  return import_with(options, [&](Sink& s) { read_csv_text(TextFile{name, text}, s); });
}

using zelk_test::be32;

std::string gzip(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace

TEST(Import, DictdNumbers) {
  struct Case {
    const char* digits;
    bool ok;
    unsigned long long value;
  } cases[] = {{"A", true, 0},    {"B", true, 1},           {"/", true, 63}, {"BA", true, 64},
               {"Gm", true, 422}, {"+/", true, 4031},       {"", false, 0},  {"A!", false, 0},
               {"A=", false, 0},  {"AAAAAAAAAAA", false, 0}};
  for (const Case& c : cases) {
    unsigned long long v = 99;
    EXPECT_EQ(decode_dictd_number(c.digits, &v), c.ok) << c.digits;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.digits;
    }
  }
}

// Every entry goes through the same clean-up; the tab reader is the simplest
// way in.
TEST(Import, EntriesAreCleanedUp) {
  Options skip;
  skip.bad_keys = BadKeys::kSkip;
  Options bar;
  bar.separator = " | ";
  struct Case {
    std::string in;
    Options options;
    std::string out;
    long repaired, skipped;
    const char* message;  // in the messages, or ""
  } cases[] = {
      {"k\tone\\ntwo\\tthree\\\\four\n", {}, "k\tone two three\\four\n", 0, 0, ""},
      {"k\tone\\ntwo\n", bar, "k\tone | two\n", 0, 0, ""},
      {"\xEF\xBB\xBFk\tv\r\nj\tw\r\n", {}, "k\tv\nj\tw\n", 0, 0, ""},
      {"a\\tb\tv\n", {}, "a b\tv\n", 1, 0, "t.tab:1: key 'a\\tb' holds a tab; repaired as 'a b'"},
      {"a /// b\tv\n", {}, "a / b\tv\n", 1, 0, "holds \" /// \""},
      {"a\\nb\tv\nc\tw\n", skip, "c\tw\n", 0, 1, "t.tab:1: 'a\\nb' skipped: key holds"},
      {"k\\n\tv\n", {}, "k\tv\n", 1, 0, "line feed"},
      {"\\n\tv\n", {}, "", 1, 1, "empty key"},
      {"bad\xFF\tv\n",
       {},
       "bad\xEF\xBF\xBD\tv\n",
       0,
       0,
       "t.tab:1: 1 byte not valid UTF-8 replaced in 'bad\\xFF'"},
      {"k\tv\xC3\n", {}, "k\tv\xEF\xBF\xBD\n", 0, 0, "t.tab:1: 1 byte not valid UTF-8"},
      {"just a line\n\n   \nk\tv\n", {}, "k\tv\n", 0, 1, "t.tab:1: 'just a line' skipped"},
      {"k\t\n", {}, "k\t\n", 0, 0, ""},
  };
  for (const Case& c : cases) {
    Result r = import_tab(c.in, c.options);
    EXPECT_EQ(r.error, "") << c.in;
    EXPECT_EQ(r.out, c.out) << c.in;
    EXPECT_EQ(r.repaired, c.repaired) << c.in;
    EXPECT_EQ(r.skipped, c.skipped) << c.in;
    EXPECT_NE(r.messages.find(c.message), std::string::npos) << c.in << "\n" << r.messages;
  }
}

TEST(Import, Csv) {
  Options header;
  header.header = true;
  Options columns;
  columns.key_column = 3;
  columns.value_column = 1;
  Options semicolon;
  semicolon.delimiter = ';';
  struct Case {
    std::string in;
    Options options;
    std::string out;
    std::string error;
  } cases[] = {
      {"a,b\nc,d", {}, "a\tb\nc\td\n", ""},
      {"key,value\r\na,b\r\n", header, "a\tb\n", ""},
      {"\"x, \"\"y\"\"\",\"line 1\nline 2\"\nz,w\n", {}, "x, \"y\"\tline 1 line 2\nz\tw\n", ""},
      {"v,x,k\n", columns, "k\tv\n", ""},
      {"a;b,c\n", semicolon, "a\tb,c\n", ""},
      {"a,\"\"\n", {}, "a\t\n", ""},
      {"only\na,b\n", {}, "a\tb\n", ""},
      {"a,b\n\"open,c\nd,e\n", {}, "", "t.csv:2: quoted field never closed"},
  };
  for (const Case& c : cases) {
    Result r = import_csv(c.in, c.options);
    EXPECT_EQ(r.error, c.error) << c.in;
    if (c.error.empty()) {
      EXPECT_EQ(r.out, c.out) << c.in;
    }
  }
  Result r = import_csv("h1,h2\n\"multi\nline\",x\nshort\n", {});
  EXPECT_NE(r.messages.find("t.csv:4: 'short' skipped: too few columns (1 of 2)"),
            std::string::npos)
      << r.messages;
}

TEST(Import, CharacterSets) {
  auto to = [](const char* set, bool translit = false, const char* replace = "") {
    Options o;
    o.to = set;
    o.translit = translit;
    o.replace = replace;
    return o;
  };
  Options latin1;
  latin1.from = "ISO-8859-1";
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
      {"caf\xE9\tv\n", latin1, "café\tv\n", ""},
  };
  for (const Case& c : cases) {
    Result r = import_tab(c.in, c.options);
    EXPECT_EQ(r.error, c.error) << c.in;
    if (c.error.empty()) {
      EXPECT_EQ(r.out, c.out) << c.in;
    }
  }
  // A character set with shift states ends each text with the bytes that
  // close its last run, however full the output is by then.
  Options from_utf7;
  from_utf7.from = "UTF-7";
  for (size_t n = 0; n < 40; ++n) {
    std::string text = "k\t" + std::string(n, '~') + "\n";
    Result there = import_tab(text, to("UTF-7"));
    ASSERT_EQ(there.error, "") << n;
    EXPECT_EQ(import_tab(there.out, from_utf7).out, n ? text : "k\t\n") << n << ": " << there.out;
  }
  EXPECT_NE(import_tab("k\tv\n", to("NO-SUCH-SET")).error.find("unknown character set"),
            std::string::npos);
}

TEST(Import, MarkupBecomesText) {
  struct Case {
    const char* markup;
    const char* text;  // flattened with " | "
  } cases[] = {
      {"<p>one</p><p>two</p>", "one | two"},
      {"a<br>b<br/>c", "a | b | c"},
      {"<b>bold</b> <i>it</i>", "bold it"},
      {"<script>alert(1)</script>shown<style>p{}</style>", "shown"},
      {"&lt;script&gt;alert(1)&lt;/script&gt; &amp; &eacute;", "<script>alert(1)</script> & é"},
      {"<ul><li>x</li><li>y</li></ul>", "x | y"},
      {"line\nbreak in text", "line break in text"},
      {"<k>word</k><def>meaning <ex>example</ex></def>", "word | meaning | example"},
      {"unclosed <b>tag", "unclosed tag"},
  };
  for (const Case& c : cases) {
    std::string out;
    flatten(markup_to_text(c.markup), " | ", out);
    EXPECT_EQ(out, c.text) << c.markup;
  }
}

TEST(Import, Dictd) {
  const std::string data =
      "00-database-short\n  test\nApple\n  a fruit\n  red\nbanana\nPear \t\r\n  a fruit\n";
  Options meta;
  meta.metadata = true;
  Options keep;
  keep.keep_headword = true;
  struct Case {
    std::string index;
    Options options;
    std::string out;
    std::string error;
  } cases[] = {
      {"00databaseshort\tA\tY\nApple\tZ\tW\n", {}, "Apple\ta fruit red\n", ""},
      {"00databaseshort\tA\tY\n", meta, "00databaseshort\t00-database-short test\n", ""},
      {"Apple\tZ\tW\n", keep, "Apple\tApple a fruit red\n", ""},
      {"pome\tZ\tW\tApple\n", {}, "pome\tApple a fruit red\n", ""},
      {"Pear\t2\tS\n", {}, "Pear\ta fruit\n", ""},  // the headword line ends in blanks
      {"Apple\tY\n", {}, "", "x.index:1: not an index line"},
      {"\nApple\tY\tQ!\n", {}, "", "x.index:2: bad length 'Q!' (base64 digits expected)"},
      {"Apple\t\tQ\n", {}, "", "x.index:1: bad offset ''"},
      {"banana\tBI\tB\n",
       {},
       "",
       "x.index:1: 'banana': bytes 72 to 73 are past the end of "
       "x.dict (72 bytes)"},
  };
  for (const Case& c : cases) {
    std::string index_name = "x.index", data_name = "x.dict";
    Result r = import_with(c.options, [&](Sink& s) {
      read_dictd(TextFile{index_name, c.index}, TextFile{data_name, data}, s);
    });
    EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << c.index << r.error;
    if (c.error.empty()) {
      EXPECT_EQ(r.out, c.out) << c.index;
    }
  }
}

// Long indexes are read in two halves at once; entries, messages and the
// first failure must come out as from one reading in order.
TEST(Import, DictdHalvesKeepTheOrder) {
  const std::string data = "Apple\n  a fruit\n";
  auto index_with = [](int bad_key_at, int broken_at) {
    std::string index;
    for (int i = 1; i <= 100; ++i) {
      if (i == broken_at) {
        index += "w" + std::to_string(i) + "\tA\n";
      } else {
        index += "w" + std::to_string(i) + (i % bad_key_at == 0 ? " /// x" : "") + "\tA\tQ\n";
      }
    }
    return index;
  };
  struct Case {
    int bad_key_at, broken_at;
    long written;
    std::string error;
  } cases[] = {
      {30, 0, 100, ""},                         // warnings at lines 30, 60 and 90
      {30, 80, 0, "x.index:80: not an index"},  // after the warnings at 30 and 60
      {30, 20, 0, "x.index:20: not an index"},  // the first half's failure, nothing after it
  };
  for (const Case& c : cases) {
    std::string index = index_with(c.bad_key_at, c.broken_at), name = "x.index", dname = "x.dict";
    long written = 0;
    Result r = import_with({}, [&](Sink& s) {
      read_dictd(TextFile{name, index}, TextFile{dname, data}, s);
      written = s.written;
    });
    EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << r.error;
    std::string warned;
    for (int line = c.bad_key_at; line <= 100; line += c.bad_key_at) {
      if (c.broken_at && line > c.broken_at) break;
      std::string w = "w" + std::to_string(line);
      warned += "zelkimport: x.index:" + std::to_string(line) + ": key '" + w +
                " /// x' holds \" /// \"; repaired as '" + w + " / x'\n";
    }
    EXPECT_EQ(r.messages, warned);
    if (!c.error.empty()) continue;
    EXPECT_EQ(written, c.written);
    std::string expected;
    for (int i = 1; i <= 100; ++i) {
      expected += "w" + std::to_string(i) + (i % c.bad_key_at ? "" : " / x") + "\tApple a fruit\n";
    }
    EXPECT_EQ(r.out, expected);
  }
}

TEST(Import, Stardict) {
  // Three words: text, markup with a picture beside it, a picture alone.
  std::string dict =
      std::string("first\0", 6) + "<b>second</b>" + std::string(1, '\0') + "P" + be32(3) + "PNG";
  // Without sametypesequence every field carries its type.
  std::string typed = "m" + std::string("first\0", 6) + "h<b>second</b>" + std::string(1, '\0') +
                      "P" + be32(3) + "PNG";
  auto idx32 = [](std::vector<std::pair<std::string, std::pair<uint32_t, uint32_t>>> words) {
    std::string s;
    for (auto& [w, at] : words) s += w + std::string(1, '\0') + be32(at.first) + be32(at.second);
    return s;
  };
  std::string idx = idx32({{"a", {0, 6}}, {"b", {6, 22}}, {"c", {28, 8}}});
  std::string typed_idx = idx32({{"a", {0, 7}}, {"b", {7, 23}}, {"c", {6, 0}}});
  std::string idx64;
  for (auto [w, off, size] : {std::tuple{"a", 0u, 7u}, {"b", 7u, 23u}}) {
    idx64 += std::string(w) + std::string(1, '\0') + be32(0) + be32(off) + be32(size);
  }
  std::string syn = "alpha" + std::string(1, '\0') + be32(0) + "bee" + std::string(1, '\0') +
                    be32(1) + "pic" + std::string(1, '\0') + be32(2);
  auto ifo = [](const std::string& fields) { return "StarDict's dict ifo file\n" + fields; };
  auto sized = [](size_t n) { return "idxfilesize=" + std::to_string(n) + "\n"; };
  struct Case {
    std::string ifo, idx, dict, syn, out, error;
  } cases[] = {
      {ifo("version=2.4.2\nwordcount=3\n" + sized(typed_idx.size())), typed_idx, typed, "",
       "a\tfirst\nb\tsecond\n", ""},
      {ifo("version=3.0.0\nwordcount=3\nsametypesequence=m\n" + sized(idx.size())), idx,
       std::string("first\0", 6) + "two", "", "",
       "i.idx: entry 2 'b': bytes 6 to 28 are past the end of i.dict (9 bytes)"},
      {ifo("version=3.0.0\nwordcount=2\nidxoffsetbits=64\n" + sized(idx64.size())), idx64, typed,
       "", "a\tfirst\nb\tsecond\n", ""},
      {ifo("version=2.4.2\nwordcount=3\nsynwordcount=3\n" + sized(typed_idx.size())), typed_idx,
       typed, syn, "a\tfirst\nb\tsecond\nalpha\tfirst\nbee\tsecond\n", ""},
      {ifo("version=2.4.2\nwordcount=4\n" + sized(typed_idx.size())), typed_idx, typed, "", "",
       "i.idx: 3 words, but the .ifo says wordcount=4"},
      {ifo("version=2.4.2\nwordcount=3\nidxfilesize=5\n"), typed_idx, typed, "", "",
       "i.idx: 30 bytes, but the .ifo says idxfilesize=5"},
      {ifo("version=2.4.2\nwordcount=3\n" + sized(typed_idx.size() - 3)),
       typed_idx.substr(0, typed_idx.size() - 3), typed, "", "", "i.idx: entry 3 'c': cut short"},
      {ifo("version=2.4.2\nwordcount=3\n" + sized(typed_idx.size())), typed_idx, typed,
       "x" + std::string(1, '\0') + be32(7), "", "i.syn: entry 1 'x': points to word 7, but"},
      {ifo("version=2.4.2\nwordcount=3\nsynwordcount=2\n" + sized(typed_idx.size())), typed_idx,
       typed, syn, "", "i.syn: 3 synonyms, but the .ifo says synwordcount=2"},
      {"StarDict ifo\n", "", "", "", "", "i.ifo:1: not a StarDict .ifo file"},
      {ifo("version=2.4.2\nwordcount=x1\n"), "", "", "", "", "i.ifo:3: wordcount='x1' is not"},
      {ifo("version=2.4.2\nwordcount=1\n" + sized(10)),
       "a" + std::string(1, '\0') + be32(0) + be32(4), std::string("P\0\0\0", 4), "", "",
       "i.idx: entry 1 'a': field 'P' without its size"},
      {ifo("version=2.4.2\nwordcount=1\n" + sized(10)),
       "a" + std::string(1, '\0') + be32(0) + be32(7), "P" + be32(3) + "ab", "", "",
       "i.idx: entry 1 'a': field 'P' longer than the data"},
      {"", "", "", "", "", "i.ifo: empty file"},
  };
  for (const Case& c : cases) {
    std::string n_ifo = "i.ifo", n_idx = "i.idx", n_dict = "i.dict", n_syn = "i.syn";
    Result r = import_with(Options{}, [&](Sink& s) {
      read_stardict(TextFile{n_ifo, c.ifo}, TextFile{n_idx, c.idx}, TextFile{n_dict, c.dict},
                    TextFile{n_syn, c.syn}, s);
    });
    EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << c.ifo << "\n" << r.error;
    if (c.error.empty()) {
      EXPECT_EQ(r.out, c.out) << c.ifo;
    }
  }
}

TEST(Import, Gzip) {
  std::string text(100000, 'x');
  for (size_t i = 0; i < text.size(); i += 7) text[i] = static_cast<char>('a' + i % 26);
  std::string packed = gzip(text);
  EXPECT_EQ(view(gunzip("f.dz", packed)), text);
  EXPECT_EQ(view(gunzip("f.dz", packed + gzip("tail"))), text + "tail");  // two members
  struct Case {
    std::string data;
    const char* error;
  } cases[] = {
      {packed.substr(0, packed.size() / 2), "f.dz: compressed data cut short"},
      {packed.substr(0, packed.size() - 4), "f.dz: compressed data cut short"},
      {packed.substr(0, 12) + std::string(40, '\xFF'), "f.dz: damaged compressed data"},
  };
  for (const Case& c : cases) {
    std::string error;
    try {
      gunzip("f.dz", c.data);
    } catch (const zelk::Fatal& e) {
      error = e.message;
    }
    EXPECT_EQ(error.substr(0, std::strlen(c.error)), c.error);
  }
}

TEST(Import, CheckCountsWhatZelkpackWillMeet) {
  std::string text =
      "\xEF\xBB\xBF"
      "b\tx\n"
      "a\tshort\n"
      "a /// again\n\nno separator here\n" +
      std::string(130, 'k') + "\tlong key\n" + "c\t" + std::string(100, 'v') + "\n";
  // At K = 141 every line fits: chunks of 119, 140 and 28 bytes.
  TextSummary s = check_text(text.data(), text.size(), 141);
  EXPECT_EQ(s.entries, 6);
  EXPECT_EQ(s.repeated_keys, 1);
  EXPECT_EQ(s.long_keys, 1);
  EXPECT_EQ(s.no_separator, 1);
  EXPECT_TRUE(s.byte_order_mark);
  EXPECT_EQ(s.cut_lines, 0);
  EXPECT_EQ(s.refusal, "");
  EXPECT_EQ(s.chunks, 3);
  zelk::Captured report;
  print_summary(report.f, "t.txt", s, 141, nullptr);
  EXPECT_EQ(report.text().substr(0, 99),
            "zelkimport: t.txt at -k 141:\n"
            "  entries                        6\n"
            "  repeated keys                  1\n");
  // At K = 104 the long key's line (139 bytes) is cut and the 102-byte one fits.
  TextSummary cut = check_text(text.data(), text.size(), 104);
  EXPECT_EQ(cut.refusal, "Error: Too Long (105 chars) Lines in input file (line 5).");
  std::string values = "a\t" + std::string(100, 'v') + "\nb\t" + std::string(90, 'w') + "\n";
  TextSummary two = check_text(values.data(), values.size(), 64);
  EXPECT_EQ(two.cut_lines, 2);
  EXPECT_EQ(two.longest_cut, 102);
  EXPECT_EQ(two.chunks, 2);
  std::string nul("a\tb\nc\0d\n", 8);
  EXPECT_EQ(check_text(nul.data(), nul.size(), 4096).refusal,
            "Error: NUL byte in line 2 of input file.");
  EXPECT_EQ(check_text("\n\n", 2, 4096).refusal, "Error: No entries in input file.");
  EXPECT_EQ(check_text(nullptr, 0, 4096).refusal,
            "Error: No entries in input file.");  // an empty import
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

// The converter's sort, run on the text the layout arranges, hands repeated
// keys back in source order, whatever the number and places of the repeats.
TEST(Import, LayoutGivesSourceOrderThroughTheSort) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::srand(seed);
    std::string text;
    int lines = 1 + std::rand() % 300;
    for (int i = 0; i < lines; ++i) {
      text += "k" + std::to_string(std::rand() % (1 + seed % 7)) +
              (seed % 3 ? "" : std::string(130, 'x') + std::to_string(i % 2)) + "\t#" +
              std::to_string(i) + "\n";
    }
    Layout layout = lay_out(text, 4096);
    zelk::LineTable given;
    Bytes arranged = arranged_text(text, layout, given);
    std::string_view a = view(arranged);
    zelk::LineTable table = zelk::scan_lines(a.data(), a.size(), 4096, nullptr);
    zelk::SortedLines order = zelk::sort_lines(a.data(), table);
    // The sort moves the arranged lines as it moved the text's, and the table
    // handed back is the arranged text's.
    ASSERT_TRUE(std::equal(order.begin(), order.end(), layout.order.begin(), layout.order.end()));
    ASSERT_TRUE(std::equal(table.starts.begin(), table.starts.end(), given.starts.begin(),
                           given.starts.end()));
    ASSERT_TRUE(std::equal(table.key_lengths.begin(), table.key_lengths.end(),
                           given.key_lengths.begin(), given.key_lengths.end()));
    std::map<std::string, int> last;  // sort key -> the last source line seen
    for (uint32_t line : order) {
      std::string_view l =
          a.substr(table.starts[line], table.starts[line + 1] - table.starts[line]);
      std::string key(l.substr(0, std::min<size_t>(l.find('\t'), 127)));
      int source = std::stoi(std::string(l.substr(l.find('#') + 1)));
      if (last.count(key)) {
        EXPECT_LT(last[key], source) << seed << " " << key;
      }
      last[key] = source;
    }
  }
}

// A key keeps at most half an entry line, (K - 3) / 2 bytes, cut between
// characters and named when it is cut.
TEST(Import, KeysKeepHalfALine) {
  struct Case {
    std::string key, kept;
  } cases[] = {
      {std::string(48, 'a'), std::string(48, 'a')},
      {std::string(49, 'a'), std::string(48, 'a')},
      {std::string(47, 'a') + "é", std::string(47, 'a')},
      {"é" + std::string(47, 'a'), "é" + std::string(46, 'a')},
  };
  Options o;
  o.chunksize = 100;
  for (const Case& c : cases) {
    Result r = import_tab(c.key + "\tv\n", o);
    EXPECT_EQ(r.out, c.kept + "\tv\n") << c.key;
    bool cut = c.kept != c.key;
    std::string said = "t.tab:1: '" + c.key.substr(0, 60) + "': key shortened to its first " +
                       std::to_string(c.kept.size()) + " bytes";
    EXPECT_EQ(r.messages.find(said) != std::string::npos, cut) << r.messages;
    EXPECT_EQ(r.messages.empty(), !cut) << r.messages;
  }
}

// The index record's size replayed on measured entry lengths is the size the
// chunking stage gives at that K, for any K that cuts no line.
TEST(Import, MeasuredIndexSizeIsTheChunkingStages) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::srand(seed);
    std::string text;
    for (int i = 0, n = 1 + std::rand() % 400; i < n; ++i) {
      text += std::string(1 + std::rand() % 30, static_cast<char>('a' + std::rand() % 26)) + "\t" +
              std::string(static_cast<size_t>(std::rand() % 90), 'v') + "\n";
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

// The chunking stage takes a last line without its line feed whole, as the
// sorted copy hands it over; an index record is 16 bytes and, per chunk, two
// of size and each key with its NUL.
TEST(Import, CheckMeasuresTheIndexRecord) {
  struct Case {
    std::string text;
    int k;
    size_t index;
  } cases[] = {
      {"b\t1\na\t2", 4096, 16 + 2 + 2 + 2},       // one chunk, a to b
      {"b\t1\na\t2\n", 4096, 16 + 2 + 2 + 2},     //
      {"bb\t1\naa\t2", 7, 16 + 2 * (2 + 3 + 3)},  // a chunk each
      // One chunk whose keys fill the index record to 65535 bytes, and to 65536.
      {std::string(32757, 'a') + "\t\n" + std::string(32758, 'b') + "\t\n", 65535, 65535},
      {std::string(32758, 'a') + "\t\n" + std::string(32758, 'b') + "\t\n", 65535, 65536},
  };
  for (const Case& c : cases) {
    TextSummary s = check_text(c.text.data(), c.text.size(), c.k);
    EXPECT_EQ(s.refusal, c.index > 65535 ? "Error: Too big Index Record... ABORTED" : "");
    EXPECT_EQ(s.index_size, c.index) << c.text.size();
  }
}

// The database written from chunks in memory reads back, compressed or
// plain, and without -l a large index record stops the run as zelkpack does.
TEST(Import, DatabaseFromMemory) {
  auto chunked = [](const std::string& text, int k, zelk::ChunkIndex& index) {
    zelk::LineTable table = zelk::scan_lines(text.data(), text.size(), k, nullptr);
    zelk::SortedLines order = zelk::sort_lines(text.data(), table);
    zelk::Settings settings;
    settings.chunksize = k;
    zelk::Stats stats;
    zelk::split_lines(text.data(), table.starts, order, settings, stats, index);
  };
  std::string text;
  for (int i = 0; i < 300; ++i)
    text += "key" + std::to_string(i) + "\tvalue " + std::to_string(i) + "\n";
  for (bool compress : {true, false}) {
    zelk::ChunkIndex index;
    chunked(text, 200, index);
    std::string expected(index.text.data(), index.text.size());
    zelk::Settings settings;
    settings.chunksize = 200;
    settings.do_compress = compress;
    zelk::File out(std::tmpfile(), "d.pdb");
    int fd = dup(fileno(out.f));
    zelk::write_from_memory(out, settings, index, nullptr);
    zelk::Captured said;
    std::string name = "d.pdb";
    zelk::DumpContext cx{name, said.f, said.f, false, zelk::Charset()};
    zelk::Request request;
    request.command = "extract";
    uint64_t size = static_cast<uint64_t>(lseek(fd, 0, SEEK_END));
    EXPECT_EQ(zelk::run_dump(cx, request, fd, size), 0);
    EXPECT_EQ(said.text(), expected) << compress;
    close(fd);
  }
  std::string long_keys;
  for (int i = 0; i < 600; ++i) long_keys += std::string(100, 'k') + std::to_string(i) + "\tv\n";
  zelk::ChunkIndex index;
  chunked(long_keys, 130, index);
  zelk::Settings settings;
  settings.chunksize = 130;
  zelk::File out(std::tmpfile(), "big.pdb");
  try {
    zelk::write_from_memory(out, settings, index, nullptr);
    ADD_FAILURE() << "a large index record without -l was written";
  } catch (const zelk::Fatal& fatal) {
    EXPECT_EQ(fatal.message, "Error: Too big Index Record...\nABORTED\n");
  }
}

// Stray bytes are named from both halves of a dictd index, in line order.
TEST(Import, StrayBytesNamedFromBothHalves) {
  std::string index, data = "Apple\n  a fruit\n";
  for (int i = 1; i <= 100; ++i) {
    index += "w" + std::to_string(i) + (i == 10 || i == 90 ? "\xff" : "") + "\tA\tQ\n";
  }
  std::string name = "x.index", dname = "x.dict";
  Result r = import_with({}, [&](Sink& s) {
    read_dictd(TextFile{name, index}, TextFile{dname, data}, s);
  });
  EXPECT_EQ(r.messages,
            "zelkimport: x.index:10: 1 byte not valid UTF-8 replaced in 'w10\\xFF'\n"
            "zelkimport: x.index:90: 1 byte not valid UTF-8 replaced in 'w90\\xFF'\n");
}
