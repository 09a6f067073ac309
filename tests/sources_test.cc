// The source readers, format by format: a table of the rules real files rely
// on, each row an input we wrote and what must come of it; every import of
// every row also keeps all of its source's words (no_text_lost.h).
#include <gtest/gtest.h>
#include <zlib.h>

#include "imports.h"

using zelk_test::Files;
using zelk_test::import_source;
using zelk_test::Imported;
using zelk_test::lost;
using zelk_test::Source;

namespace {

struct Case {
  const char* rule;
  Source source;
  std::string out;         // what is written
  std::string said = "";   // a message that must be among those said
  std::string error = "";  // the start of the error that ends the import
  bool words = true;  // its words can be read by this test's rules (not an 8-bit set it declares)
};

void check(const Case& c, const zelk::import::Options& options = {}) {
  Imported r = import_source(c.source, options);
  EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << c.rule << ": " << r.error;
  if (c.error.empty()) {
    EXPECT_EQ(r.error, "") << c.rule;
    EXPECT_EQ(r.out, c.out) << c.rule;
    if (c.words) {
      EXPECT_EQ(lost(c.source, r), std::vector<std::string>{}) << c.rule;
    }
  }
  EXPECT_NE(r.messages.find(c.said), std::string::npos) << c.rule << ": " << r.messages;
}

std::string utf16(const std::string& utf8, bool big, bool mark) {
  std::string out = mark ? (big ? "\xFE\xFF" : "\xFF\xFE") : "";
  for (size_t i = 0; i < utf8.size();) {
    auto b = static_cast<unsigned char>(utf8[i]);
    char32_t c = b;
    size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (n > 1) c = b & (0xFF >> (n + 1));
    for (size_t k = 1; k < n; ++k) c = c << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    std::u16string units;
    if (c >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(c);
    }
    for (char16_t u : units) {
      char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
      out += big ? std::string{hi, lo} : std::string{lo, hi};
    }
  }
  return out;
}

std::string gzip(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(text.size() + 128, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Source dsl(const std::string& text, Files more = {}) {
  Files files{{"t.dsl", text}};
  files.insert(files.end(), more.begin(), more.end());
  return Source{"dsl", files};
}

const std::string kHead = "#NAME \"T\"\n#INDEX_LANGUAGE \"English\"\n\n";

}  // namespace

TEST(Sources, DslEncodings) {
  auto repeated = [](const std::string& piece) {  // 70,000 bytes of cards, and their output
    std::string out;
    for (int i = 0; i < 14000; ++i) out += piece;
    return out;
  };
  const std::string text = kHead + "чай\n\t[m1]tea[/m]\n";
  const std::string out = "чай\ttea\n";
  const std::string cp1251 = "#NAME \"T\"\n#SOURCE_CODE_PAGE \"Cyrillic\"\n\n\xF7\xE0\xE9\n\ttea\n";
  Case cases[] = {
      {"a UTF-16LE byte order mark", dsl(utf16(text, false, true)), out,
       "read as UTF-16LE (its byte order mark)"},
      {"a UTF-16BE byte order mark", dsl(utf16(text, true, true)), out},
      {"UTF-16LE by its zero bytes", dsl(utf16(text, false, false)), out,
       "read as UTF-16LE (its zero bytes)"},
      {"UTF-16BE by its zero bytes", dsl(utf16(text, true, false)), out},
      {"a UTF-8 byte order mark", dsl("\xEF\xBB\xBF" + text), out},
      {"UTF-8 without a mark", dsl(text), out},
      {"#SOURCE_CODE_PAGE when the text is not UTF-8", dsl(cp1251), out,
       "read as CP1251, the set it declares", "", false},
      {"#SOURCE_CODE_PAGE yields to UTF-8",
       dsl("#SOURCE_CODE_PAGE \"Latin\"\n\n" + text.substr(kHead.size())), out},
      {"UTF-8 decided on the first 64 KiB after its first letter that is not ASCII",
       dsl("#SOURCE_CODE_PAGE \"Latin\"\n\n\xC3\xA9\n\tx\n" + repeated("a\n\tb\n") + "\xE9\n\tz\n"),
       "\xC3\xA9\tx\n" + repeated("a\tb\n") + "\xEF\xBF\xBD\tz\n",
       "1 byte not valid UTF-8 replaced"},
      {"--from before all", Source{"dsl", {{"t.dsl", "\xF7\xE0\xE9\n\ttea\n"}}, {}, "CP1251"}, out},
      {"a lone surrogate replaced and counted, the rest read",
       dsl(utf16(kHead + "a\n\tx", false, true) + std::string("\x00\xD8", 2) +
           utf16("y\nb\n\tz\n", false, false)),
       "a\tx\xEF\xBF\xBDy\nb\tz\n", "t.dsl:5: 1 character not valid UTF-16LE replaced"},
      {"a stray byte replaced and counted", dsl(kHead + "a\n\tx\xFFy\nb\n\tz\n"),
       "a\tx\xEF\xBF\xBDy\nb\tz\n", "t.dsl:5: 1 byte not valid UTF-8 replaced"},
      {"gzip by its first bytes", dsl(gzip(text)), out},
      {"dictzip: .dsl.dz", Source{"", {{"t.dsl.dz", gzip(text)}}}, out},
  };
  for (const Case& c : cases) check(c);
}

TEST(Sources, DslHeadersCardsHeadwords) {
  Case cases[] = {
      {"a header's value between its first and last quote, after a tab",
       dsl("#NAME\t\"The \"big\" one\"\n\na\n\tb\n"), "a\tb\n"},
      {"#INCLUDE: another file's cards, here, its path relative, with \\",
       dsl(kHead + "a\n\tb\n#INCLUDE \"sub\\more.dsl\"\nc\n\td\n", {{"sub/more.dsl", "x\n\ty\n"}}),
       "a\tb\nx\ty\nc\td\n"},
      {"every headword of a card a key; blank lines between them skipped",
       dsl(kHead + "go\n\nwent\n\tto move\n"), "go\tto move\nwent\t\u2192 go\n"},
      {"\\x is x in a headword", dsl(kHead + "a\\(b\\) \\{c\\}\n\td\n"), "a(b) {c}\td\n"},
      {"an unsorted part shown, not keyed", dsl(kHead + "{to }go\n\tmove\n"), "go\tto go move\n"},
      {"optional parts: every combination", dsl(kHead + "colo(u)r\n\thue\n"),
       "colour\tcolo(u)r hue\ncolor\t\u2192 colour\n"},
      {"two optional parts: four keys", dsl(kHead + "(пре)вращать(ся)\n\tturn\n"),
       "превращаться\t(пре)вращать(ся) turn\nпревращать\t\u2192 превращаться\n"
       "вращаться\t\u2192 превращаться\nвращать\t\u2192 превращаться\n"},
      {"nested optional parts", dsl(kHead + "a(b(c))\n\tx\n"),
       "abc\ta(b(c)) x\nab\t\u2192 abc\na\t\u2192 abc\n"},
      {"() is text", dsl(kHead + "f()\n\tcall\n"), "f()\tcall\n"},
      {"at most 32 keys", dsl(kHead + "(a)(b)(c)(d)(e)(f)\n\tx\n"), ""},
      {"blanks collapse", dsl(kHead + "a   b\t c\n\tx\n"), "a b c\tx\n"},
      {"stress out of the key, an accent in the text", dsl(kHead + "абаж[']у[/']р\n\tlamp\n"),
       "абажур\tабажу\u0301р lamp\n"},
      {"a body before its headword skipped, the rest read", dsl(kHead + "\tlost\na\n\tb\n"),
       "a\tb\n", "skipped: a card's text before its headword"},
  };
  for (Case& c : cases) {
    if (std::string(c.rule) == "at most 32 keys") {
      Imported r = import_source(c.source);
      EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 32) << r.out;
      continue;
    }
    check(c);
  }
}

TEST(Sources, DslBodies) {
  Case cases[] = {
      {"~ is the headword as written, ^~ its first letter turned, \\~ a tilde",
       dsl(kHead + "colo(u)r\n\t~ful, ^~ful, \\~\n"),
       "colour\tcolo(u)r colo(u)rful, Colo(u)rful, ~\ncolor\t\u2192 colour\n"},
      {"a comment goes, across lines", dsl(kHead + "a\n\tb {{note\n\tmore}} c\n"), "a\tb c\n"},
      {"a comment not closed closes with its card, said; the next card is read",
       dsl(kHead + "a\n\tb {{open\nc\n\td\nx\n\ty\n"), "a\tb\nc\td\nx\ty\n",
       "t.dsl:5: a comment ({{) not closed at its card's end: closed there"},
      {"a comment between cards may hold cards", dsl(kHead + "{{\nold\n\tgone\n}}\na\n\tb\n"),
       "a\tb\n"},
      {"a comment between cards never closed: its line alone", dsl(kHead + "{{ the end\na\n\tb\n"),
       "a\tb\n", "never closed: only its own line left out"},
      {"@ starts a subentry of its own; a bare @ ends it",
       dsl(kHead + "go\n\tto move\n\t@ ~ away\n\tto leave\n\t@\n\tmore of go\n"),
       "go\tto move more of go\ngo away\tto leave\n"},
      {"paragraphs are separators, never nothing", dsl(kHead + "a\n\t[m1]one[/m][m2]two[/m]\n"),
       "a\tone two\n"},
      {"a paragraph's end parts words too", dsl(kHead + "a\n\t[m1]one[/m]two\n"), "a\tone two\n"},
      {"tags go, their text stays",
       dsl(kHead +
           "a\n\t[b]b[/b] [i]i[/i] [u]u[/u] [c]c[/c] [c red]r[/c] [sup]2[/sup] [sub]3[/sub] "
           "[trn]t[/trn] [!trs]s[/!trs] [ex]e[/ex] [com]m[/com] [*]x[/*] "
           "[lang name=\"English\"]l[/lang] [t]ts[/t] [p]n[/p]\n"),
       "a\tb i u c r 2 3 t s e m x l ts n\n"},
      {"references: <<X>>, [ref]X[/ref], [ref target]shown[/ref], [ref dict]",
       dsl(kHead + "a\n\tsee <<b>>, [ref]c[/ref], [ref target=\"d\"]the d[/ref], "
                   "[ref target=\"e\"]e[/ref], [ref dict=\"D\"]{f}[/ref]\n"),
       "a\tsee {b}, {c}, the d {d}, {e}, {f}\n"},
      {"sounds and pictures counted, not written; an address stays",
       dsl(kHead + "a\n\t[s]a.wav[/s]say [video]a.ogv[/video]it [url]http://x.example[/url]\n"),
       "a\tsay it http://x.example\n"},
      {"[[ and ]] are brackets, as \\[ and \\] are", dsl(kHead + "a\n\t[[text]] \\[more\\]\n"),
       "a\t[text] [more]\n"},
      {"any other bracketed text is the source's", dsl(kHead + "clear\n\t[klɪə] a\n"),
       "clear\t[klɪə] a\n"},
      {"the abbreviations beside the file become entries",
       dsl(kHead + "a\n\t[p]n[/p] thing\n", {{"t_abrv.dsl", "n\n\tnoun\n"}}),
       "a\tn thing\nn\tnoun\n"},
  };
  for (const Case& c : cases) check(c);
  Imported media = import_source(
      dsl(kHead + "a\n\t[s]a.wav[/s][s]b.wav[/s]x\n", {{"t_abrv.dsl", "n\n\tnoun\n"}}));
  EXPECT_EQ(media.counted["media left out ([s], [video])"], 2);
  EXPECT_EQ(media.counted["abbreviations written as entries (t_abrv.dsl)"], 1);
}

namespace {

Source xdxf(const std::string& body, const std::string& root = "<xdxf format=\"visual\">") {
  return Source{"xdxf",
                {{"t.xdxf", "<?xml version=\"1.0\"?>\n" + root + "\n" + body + "\n</xdxf>\n"}}};
}

}  // namespace

TEST(Sources, Xdxf) {
  Case cases[] = {
      {"visual: line breaks are the separator", xdxf("<ar><k>a</k>\none\ntwo</ar>"),
       "a\tone two\n"},
      {"logical: blanks collapse, nested defs are numbered senses",
       xdxf("<ar><k>a</k><def><gr>n</gr><def><deftext>one\nthing</deftext></def>"
            "<def><deftext>two</deftext><ex><ex_orig>x</ex_orig><ex_tran>y</ex_tran></ex></def>"
            "<co>c</co><sr>s</sr><etm>e</etm><categ>k</categ></def></ar>",
            "<xdxf format=\"logical\">"),
       "a\tn 1. one thing 2. two x y c s e k\n"},
      {"an article's format before the root's",
       xdxf("<ar f=\"l\"><k>a</k><def><def>x</def><def>y</def></def></ar>"), "a\t1. x 2. y\n"},
      {"the old and the new title",
       xdxf("<meta_info><full_title>New</full_title></meta_info><ar><k>a</k>b</ar>"), "a\tb\n"},
      {"old abbreviations become entries",
       xdxf("<abbreviations><abr_def><k>n.</k><v>noun</v></abr_def></abbreviations>"
            "<ar><k>a</k><abr>n.</abr> b</ar>"),
       "n.\tnoun\na\tn. b\n"},
      {"new abbreviations become entries, each key",
       xdxf("<meta_info><abbreviations><abbr_def><abbr_k>Av.</abbr_k><abbr_k>Ave.</abbr_k>"
            "<abbr_v>Avenue</abbr_v></abbr_def></abbreviations></meta_info><ar><k>a</k>b</ar>"),
       "Av.\tAvenue\nAve.\tAvenue\na\tb\n"},
      {"every k a key, the first the entry", xdxf("<ar><k>go</k><k>went</k>move</ar>"),
       "go\tmove\nwent\t\u2192 go\n"},
      {"an optional part: the key without it, with it a form",
       xdxf("<ar><k><opt>The </opt>United States<opt> of America</opt></k>a land</ar>"),
       "United States\t(The )United States( of America) a land\n"
       "The United States of America\t\u2192 United States\n"},
      {"nu shown, not keyed; sub and sup keyed; a k that begins with an element",
       xdxf("<ar><k><nu>the </nu>CO<sub>2</sub></k>gas</ar>"), "CO2\tthe CO2 gas\n"},
      {"references become {word}",
       xdxf("<ar><k>a</k>see <kref>b</kref>, <iref href=\"http://x.example\">c</iref>, "
            "<rref>d.png</rref></ar>"),
       "a\tsee {b}, {c}, {d.png}\n"},
      {"a transcription in brackets", xdxf("<ar><k>a</k><tr>ei</tr> letter</ar>"),
       "a\t[ei] letter\n"},
      {"the five entities, numeric ones, &nbsp;, an undeclared one kept as text",
       xdxf("<ar><k>a&amp;b</k>&lt;&gt;&quot;&apos; &#233;&#x00E9; x&nbsp;y &bogus; AT&T</ar>"),
       "a&b\t<>\"' éé x\u00A0y &bogus; AT&T\n"},
      {"the internal DTD's entities",
       Source{"xdxf",
              {{"t.xdxf",
                "<?xml version=\"1.0\"?>\n<!DOCTYPE xdxf [ <!ENTITY ety \"etymology\"> "
                "<!ENTITY two \"&ety; &ety;\"> ]>\n<xdxf><ar><k>a</k>&ety; &two;</ar></xdxf>\n"}}},
       "a\tetymology etymology etymology\n"},
      {"gzip", Source{"", {{"t.xdxf.dz", gzip("<xdxf><ar><k>a</k>b</ar></xdxf>")}}}, "a\tb\n"},
      {"an article without a key skipped and said", xdxf("<ar>lost</ar><ar><k>a</k>b</ar>"),
       "a\tb\n", "skipped: an article without a key (<k>)"},
      {"an empty file: its own message, its file and line", Source{"xdxf", {{"t.xdxf", ""}}}, "",
       "", "t.xdxf:"},
      {"a cut article: the line of this document",
       Source{"xdxf", {{"t.xdxf", "<xdxf>\n<ar><k>a</k>b</ar>\n<ar><k>c</k>d\n"}}}, "", "",
       "t.xdxf:4: "},
  };
  for (const Case& c : cases) check(c);
  // A message is this document's, never one left from another parse.
  Imported cut = import_source(cases[std::size(cases) - 1].source);
  Imported empty = import_source(cases[std::size(cases) - 2].source);
  EXPECT_NE(cut.error, empty.error);
  EXPECT_EQ(empty.error.find("Extra content"), std::string::npos) << empty.error;
  // Entities that would expand without end are cut at a bound.
  std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE xdxf [ <!ENTITY a \"lol lol\">";
  for (char c = 'b'; c <= 'k'; ++c) {
    laughs += std::string(" <!ENTITY ") + c + " \"" + std::string(8, ' ');
    for (int i = 0; i < 8; ++i) laughs += std::string("&") + char(c - 1) + ";";
    laughs += "\">";
  }
  laughs += " ]>\n<xdxf><ar><k>a</k>&k;</ar></xdxf>\n";
  Imported bounded = import_source(Source{"xdxf", {{"t.xdxf", laughs}}});
  EXPECT_LT(bounded.out.size(), size_t{2} << 20) << bounded.error;
}

namespace {

Source jsonl(const std::string& lines, std::map<std::string, std::string> options = {}) {
  return Source{"wiktionary", {{"t.jsonl", lines}}, options};
}

}  // namespace

TEST(Sources, Wiktionary) {
  const std::string cat = R"({"word":"cat","pos":"noun","senses":[{"glosses":["a pet"]}]})";
  Case cases[] = {
      {"glosses: the parent, then the sub-gloss",
       jsonl(R"({"word":"a","pos":"noun","senses":[{"glosses":["animal","small one"]},)"
             R"({"glosses":["inflection of b:","first-person"]}]})"),
       "a\tnoun 1. animal: small one 2. inflection of b: first-person\n"},
      {"raw_glosses when there are no glosses",
       jsonl(R"({"word":"a","senses":[{"raw_glosses":["(rare) odd"]}]})"), "a\t(rare) odd\n"},
      {"a no-gloss sense has no text; a word with none is skipped and counted",
       jsonl(R"({"word":"a","senses":[{"glosses":["x"],"tags":["no-gloss"]}]})"
             "\n" +
             cat),
       "cat\tnoun a pet\n", "t.jsonl:1: 'a' skipped: no gloss in any sense"},
      {"a form-of sense keeps its own gloss and points at its word",
       jsonl(R"({"word":"cats","pos":"noun","senses":[{"glosses":["plural of cat"],)"
             R"("form_of":[{"word":"cat"}]}]})"
             "\n" +
             cat),
       "cats\tnoun plural of cat\ncat\tnoun a pet\ncats\t\u2192 cat\n"},
      {"a pointer to a word not in the output is not written; the gloss stays",
       jsonl(R"j({"word":"Fahrer","pos":"noun","senses":[{"glosses":["driver (person)"],)j"
             R"("form_of":[{"word":"fahren"}]}]})"),
       "Fahrer\tnoun driver (person)\n"},
      {"forms, but for the table's furniture, '-' and no letter",
       jsonl(R"({"word":"go","senses":[{"glosses":["move"]}],"forms":[{"form":"went"},)"
             R"({"form":"past","tags":["table-tags"]},{"form":"x","tags":["inflection-template"]},)"
             R"({"form":"y","tags":["class"]},{"form":"z","tags":["romanization"]},)"
             R"({"form":"have","tags":["auxiliary"]},{"form":"-"},{"form":"123"}]})"),
       "go\tmove\nwent\t\u2192 go\n"},
      {"--lang-code keeps one language, counting the others",
       jsonl(cat + "\n" + R"({"word":"chat","lang_code":"fr","senses":[{"glosses":["cat"]}]})",
             {{"lang-code", "en"}}),
       "cat\tnoun a pet\n"},
      {"a broken line: its own line number",
       jsonl(cat + "\n" + cat + "\n\n" + cat + "\n{\"word\":\n" + cat), "", "",
       "t.jsonl:5: not a JSON object"},
      {"--bad-lines skip: the broken line skipped and counted",
       jsonl(cat + "\n[1,2]\n{\"word\":\n" + cat, {{"bad-lines", "skip"}}),
       "cat\tnoun a pet\ncat\tnoun a pet\n", "t.jsonl:3: skipped: not a JSON object"},
      {"examples and pronunciation when asked",
       jsonl(R"({"word":"a","sounds":[{"ipa":"/ei/"}],"senses":[{"glosses":["b"],)"
             R"("examples":[{"text":"an a"}]}]})",
             {{"examples", "1"}, {"pronunciation", "1"}}),
       "a\t/ei/ b \u2014 an a\n"},
      {"gzip", Source{"", {{"t.jsonl.gz", gzip(cat + "\n")}}}, "cat\tnoun a pet\n"},
  };
  for (const Case& c : cases) check(c);
  Imported fahrer = import_source(cases[4].source);
  EXPECT_EQ(fahrer.forms_unknown, 1);
  Imported other = import_source(cases[6].source);
  EXPECT_EQ(other.skipped["another language (--lang-code)"], 1);
  EXPECT_EQ(
      import_source(cases[5].source).counted["forms that are no words, left out (table tags, '-')"],
      7);
}

TEST(Sources, TabAndCsv) {
  Case cases[] = {
      {"alternates trimmed, empty ones left out and counted",
       Source{"tab", {{"t.tab", "a || b |\tx\n"}}}, "a\tx\nb\t\u2192 a\n"},
      {"a key of bars alone is the key", Source{"tab", {{"t.tab", "|\tpipe\n"}}}, "|\tpipe\n"},
      {"escapes: \\n, \\t, two backslashes, \\| in a key",
       Source{"tab", {{"t.tab", "a\\|b\tx\\ny\\tz \\\\ w\n"}}}, "a|b\tx y z \\ w\n"},
      {"##name is the title, info lines are no entries",
       Source{"tab", {{"t.tab", "##name\tMy words\n##author\tme\na\tb\n"}}}, "a\tb\n"},
      {"a line without a tab skipped and said", Source{"tab", {{"t.tab", "lonely\na\tb\n"}}},
       "a\tb\n", "t.tab:1: 'lonely' skipped: no tab between key and definition"},
      {"HTML definitions when the text holds <br />",
       Source{"tab", {{"t.tab", "a\tone<br />two <b>bold</b> &amp;\n"}}}, "a\tone two bold &\n"},
      {"UTF-16 by its mark, UTF-16 by its zero bytes, CRLF",
       Source{"tab", {{"t.tab", utf16("a\tb\r\nc\td\r\n", false, false)}}}, "a\tb\nc\td\n"},
      {"CSV: quoted fields with delimiters, line breaks and quotes",
       Source{"csv",
              {{"t.csv",
                "\xEF\xBB\xBF"
                "a,\"x, \"\"y\"\"\nz\"\nb,c\n"}}},
       "a\tx, \"y\" z\nb\tc\n"},
      {"CSV: a header row, other columns, forms, another delimiter",
       Source{"csv",
              {{"t.csv", "id;word;meaning;forms\n1;go;move;went||gone\n"}},
              {{"header", "1"},
               {"key-column", "2"},
               {"value-column", "3"},
               {"forms-column", "4"},
               {"delimiter", ";"}}},
       "go\tmove\nwent\t\u2192 go\ngone\t\u2192 go\n"},
      {"CSV: a row with too few columns skipped and said", Source{"csv", {{"t.csv", "a\nb,c\n"}}},
       "b\tc\n", "t.csv:1: 'a' skipped: too few columns"},
      {"CSV: a quoted field never closed", Source{"csv", {{"t.csv", "a,\"b\nc\n"}}}, "", "",
       "t.csv:1: quoted field never closed"},
  };
  for (const Case& c : cases) check(c);
  Imported empty = import_source(cases[0].source);
  EXPECT_EQ(empty.counted["empty alternate keys left out (a||b)"], 2);
  EXPECT_EQ(import_source(cases[8].source).counted["empty alternate keys left out (a||b)"], 1);
  EXPECT_EQ(import_source(cases[3].source).title, "My words");
}

namespace {

std::string be32(uint32_t v) {
  return {char(v >> 24), char(v >> 16 & 0xFF), char(v >> 8 & 0xFF), char(v & 0xFF)};
}

// A StarDict dictionary of entries (word, data) and synonyms (word, entry).
Files stardict(const std::vector<std::pair<std::string, std::string>>& entries,
               const std::vector<std::pair<std::string, uint32_t>>& synonyms,
               const std::string& types = "m") {
  std::string idx, dict, syn;
  for (const auto& [word, data] : entries) {
    idx += word + '\0' + be32(uint32_t(dict.size())) + be32(uint32_t(data.size()));
    dict += data;
  }
  for (const auto& [word, entry] : synonyms) syn += word + '\0' + be32(entry);
  std::string ifo =
      "StarDict's dict ifo file\nversion=2.4.2\nwordcount=" + std::to_string(entries.size()) +
      "\nidxfilesize=" + std::to_string(idx.size()) + "\nbookname=B\nsametypesequence=" + types +
      "\n";
  if (!synonyms.empty()) ifo += "synwordcount=" + std::to_string(synonyms.size()) + "\n";
  Files files{{"d.ifo", ifo}, {"d.idx", idx}, {"d.dict", dict}};
  if (!synonyms.empty()) files.push_back({"d.syn", syn});
  return files;
}

}  // namespace

TEST(Sources, DictdAndStardict) {
  const std::string data =
      "00-database-short\n  test\nApple\n  a fruit\n  red\nbanana\nPear \t\r\n  a fruit\n"
      "A M S\n  Advanced Monitor System\n";
  auto dictd = [&](const std::string& index, std::map<std::string, std::string> options = {}) {
    return Source{"dictd", {{"x.index", index}, {"x.dict", data}}, options};
  };
  // Without sametypesequence each field names its type; the last here is
  // a picture of 3 bytes, its size stated.
  Files typed = stardict({{"a", std::string("mhello\0P", 8) + be32(3) + "\x01\x02\x03"}}, {}, "");
  typed[0].second.erase(typed[0].second.find("sametypesequence=\n"), 18);
  Files zero_synonyms = stardict({{"go", "to move"}}, {{"went", 0}});
  zero_synonyms[0].second.replace(zero_synonyms[0].second.find("synwordcount=1"), 14,
                                  "synwordcount=0");
  Case cases[] = {
      {"metadata left out, the headword line dropped",
       dictd("00databaseshort\tA\tY\nApple\tZ\tW\n"), "Apple\ta fruit red\n"},
      {"--metadata keeps it", dictd("00databaseshort\tA\tY\n", {{"metadata", "1"}}),
       "00databaseshort\t00-database-short test\n"},
      {"--keep-headword keeps the line", dictd("Apple\tZ\tW\n", {{"keep-headword", "1"}}),
       "Apple\tApple a fruit red\n"},
      {"a fourth field is no part of the length", dictd("pome\tZ\tW\tApple\n"),
       "pome\tApple a fruit red\n"},
      {"a headword line in another case or spacing", dictd("ams\tBI\tg\nPear\t2\tS\n"),
       "ams\tAdvanced Monitor System\nPear\ta fruit\n"},
      {"CRLF in the index", dictd("Apple\tZ\tW\r\n"), "Apple\ta fruit red\n"},
      {"not an index line", dictd("Apple\tY\n"), "", "", "x.index:1: not an index line"},
      {"a bad length", dictd("\nApple\tY\tQ!\n"), "", "",
       "x.index:2: bad length 'Q!' (base64 digits expected)"},
      {"past the end of the data", dictd("banana\tBo\tB\n"), "", "",
       "x.index:1: 'banana': bytes 104 to 105 are past the end of x.dict (104 bytes)"},
      {"StarDict: synonyms point at their word",
       Source{"stardict", stardict({{"go", "to move"}, {"cat", "a pet"}}, {{"went", 0}})},
       "go\tto move\ncat\ta pet\nwent\t\u2192 go\n"},
      {"StarDict: HTML fields become text",
       Source{"stardict", stardict({{"go", "to <b>move</b><br>on"}}, {}, "h")}, "go\tto move on\n"},
      {"StarDict: a text field before the last ends with NUL",
       Source{"stardict", stardict({{"go", "to move"}}, {}, "mm")}, "", "", "d.idx"},
      {"StarDict: a sized field may end where the data ends", Source{"stardict", typed},
       "a\thello\n", "", "", false},
      {"StarDict: as many synonyms as the .ifo says", Source{"stardict", zero_synonyms}, "", "",
       "d.syn: 1 synonyms, but the .ifo says synwordcount=0"},
      {"StarDict: an entry of binary data only skipped, its synonyms too",
       Source{"stardict",
              stardict({{"pic", std::string("\0\0\0\1x", 5)}, {"a", "b"}}, {{"image", 0}}, "P")},
       "", "", ""},
  };
  for (size_t i = 0; i + 1 < std::size(cases); ++i) check(cases[i]);
  Imported binary = import_source(cases[std::size(cases) - 1].source);
  EXPECT_EQ(binary.skipped["no text (binary data only)"], 2) << binary.error;
  EXPECT_EQ(binary.skipped["a synonym of a word without text"], 1) << binary.error;
}

// The format of a source: --format, else its ending, else its first bytes,
// else tab; a part of a dictionary of several files reads its main file.
TEST(Sources, FormatFoundAndPartsRead) {
  struct Row {
    Files files;
    std::string format;
  } rows[] = {
      {{{"w.index", "a\tA\tB\n"}, {"w.dict", "xy"}}, "dictd"},
      {{{"w.dict", "xy"}, {"w.index", "a\tA\tB\n"}}, "dictd"},
      {{{"words", "{\"word\":\"a\",\"senses\":[{\"glosses\":[\"b\"]}]}\n"}}, "wiktionary"},
      {{{"words", "#NAME \"x\"\n\na\n\tb\n"}}, "dsl"},
      {{{"words", utf16("#NAME \"x\"\n\na\n\tb\n", false, true)}}, "dsl"},
      {{{"words", "<?xml version=\"1.0\"?><xdxf><ar><k>a</k>b</ar></xdxf>"}}, "xdxf"},
      {{{"words", "StarDict's dict ifo file\nversion=2.4.2\nwordcount=0\nidxfilesize=0\n"},
        {"words.idx", ""},
        {"words.dict", ""}},
       "stardict"},
      {{{"words", "a\tb\n"}}, "tab"},
      {{{"w.csv", "a,b\n"}}, "csv"},
  };
  for (const Row& row : rows) {
    Imported r = import_source(Source{"", row.files});
    EXPECT_EQ(r.format, row.format) << row.files[0].first << r.error;
  }
}
