#include "no_text_lost.h"

#include <iconv.h>
#include <zlib.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>

namespace zelk_test {

namespace {

bool starts_with_mark(std::string_view s, std::string_view mark) {
  return s.size() >= mark.size() && s.substr(0, mark.size()) == mark;
}

std::string converted(std::string_view bytes, const char* set) {
  iconv_t cd = iconv_open("UTF-8", set);
  std::string out(bytes.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size(), out_left = out.size();
  char* to = out.data();
  const size_t unit = std::string_view(set).substr(0, 6) == "UTF-16" ? 2 : 1;
  while (in_left > 0 && iconv(cd, &in, &in_left, &to, &out_left) == size_t(-1)) {
    size_t skip = std::min(unit, in_left);  // a character not valid in the set: a separator
    in += skip;
    in_left -= skip;
    *to++ = ' ';
    --out_left;
  }
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

std::string gunzipped(const std::string& bytes) {
  if (bytes.size() < 2 || bytes[0] != '\x1F' || bytes[1] != '\x8B') return bytes;
  z_stream z{};
  inflateInit2(&z, 16 + MAX_WBITS);
  std::string out;
  char buf[65536];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  int status;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    status = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
  } while (status == Z_OK);
  inflateEnd(&z);
  return out;
}

// The text in UTF-8: gzip expanded; in the set given, else UTF-16 by its
// byte order mark or its zero bytes, else as it is (a UTF-8 mark dropped).
std::string utf8_text(const std::string& file, const std::string& from = "") {
  std::string bytes = gunzipped(file);
  if (!from.empty()) return converted(bytes, from.c_str());
  if (starts_with_mark(bytes, "\xEF\xBB\xBF")) return bytes.substr(3);
  if (starts_with_mark(bytes, "\xFF\xFE")) return converted(bytes.substr(2), "UTF-16LE");
  if (starts_with_mark(bytes, "\xFE\xFF")) return converted(bytes.substr(2), "UTF-16BE");
  if (bytes.size() >= 4 && bytes[0] != '\0' && bytes[1] == '\0' && bytes[3] == '\0') {
    return converted(bytes, "UTF-16LE");
  }
  if (bytes.size() >= 4 && bytes[0] == '\0' && bytes[2] == '\0' && bytes[1] != '\0') {
    return converted(bytes, "UTF-16BE");
  }
  return bytes;
}

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(pos, end - pos));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

void add_words(std::vector<SourceWord>& out, std::string_view text, const Unit& unit) {
  for (const std::string& w : words_of(text)) out.push_back({w, unit});
}

// Markup out: elements that break a line become a blank, others nothing;
// entities go.
std::string without_markup(const std::string& text) {
  static const std::regex block(
      "</?(br|p|div|li|ul|ol|dl|dt|dd|tr|td|th|table|h[1-6]|hr|pre|blockquote|section|article|"
      "header|footer|def|ex|co|k|ar|deftext|dtrn|sr|etm|categ|ex_orig|ex_tran|abr_def|abbr_def|"
      "abbr_k|abbr_v|v|tr|kref|iref|rref)\\b[^>]*>",
      std::regex::icase);
  static const std::regex tag("</?[A-Za-z!?][^>]*>");
  static const std::regex entity("&[#A-Za-z0-9]+;");
  std::string s = std::regex_replace(text, block, " ");
  s = std::regex_replace(s, tag, "");
  return std::regex_replace(s, entity, " ");
}

// \n, \t, \\ and \| are the escapes; a bar parts alternate keys.
std::string unescaped_tab(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (text[i] == '\\' && (next == 'n' || next == 't' || next == '\\' || next == '|')) {
      out += next == '\\' ? '\\' : ' ';
      ++i;
    } else {
      out += text[i] == '|' ? ' ' : text[i];
    }
  }
  return out;
}

void tab_words(const Files& files, const std::string& from, std::vector<SourceWord>& out) {
  const std::string text = utf8_text(files[0].second, from);
  const bool markup = text.find("<br />") != std::string::npos;
  std::vector<std::string> lines = lines_of(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = unescaped_tab(lines[i]);
    add_words(out, markup ? without_markup(line) : line, {files[0].first, long(i) + 1});
  }
}

// RFC 4180 records, each with its first line: a field in quotes may hold
// delimiters, line breaks and doubled quotes; what follows its closing
// quote is taken as it stands.
void csv_words(const Files& files, const std::map<std::string, std::string>& options,
               const std::string& from, std::vector<SourceWord>& out) {
  auto given = [&](const char* name, const char* fallback) {
    auto it = options.find(name);
    return it == options.end() ? std::string(fallback) : it->second;
  };
  const std::vector<int> columns{std::stoi(given("key-column", "1")),
                                 std::stoi(given("value-column", "2")),
                                 std::stoi(given("forms-column", "0"))};
  const char delimiter = given("delimiter", ",")[0];
  const std::string text = utf8_text(files[0].second, from);
  size_t p = 0;
  long line = 1;
  while (p < text.size()) {
    long first = line;
    std::vector<std::string> fields(1);
    for (bool quoted = false, begun = false; p < text.size(); ++p) {
      char ch = text[p];
      if (quoted) {
        line += ch == '\n';
        if (ch == '"' && p + 1 < text.size() && text[p + 1] == '"') {
          fields.back() += '"';
          ++p;
        } else if (ch == '"') {
          quoted = false;
        } else {
          fields.back() += ch;
        }
      } else if (ch == '"' && !begun) {
        quoted = begun = true;
      } else if (ch == delimiter) {
        fields.emplace_back();
        begun = false;
      } else if (ch == '\n') {
        ++line;
        ++p;
        break;
      } else {
        fields.back() += ch;
        begun = true;
      }
    }
    for (int c : columns) {
      if (c > 0 && size_t(c) <= fields.size()) {
        add_words(out, unescaped_tab(fields[c - 1]), {files[0].first, first});
      }
    }
  }
}

void wiktionary_words(const Files& files, std::vector<SourceWord>& out) {
  std::vector<std::string> lines = lines_of(utf8_text(files[0].second));
  for (size_t i = 0; i < lines.size(); ++i) {
    Unit unit{files[0].first, long(i) + 1};
    nlohmann::json word = nlohmann::json::parse(lines[i], nullptr, false);
    if (!word.is_object()) continue;
    auto text = [](const nlohmann::json& j, const char* name) {
      return j.contains(name) && j[name].is_string() ? j[name].get<std::string>() : "";
    };
    add_words(out, text(word, "word"), unit);
    if (!word.contains("senses") || !word["senses"].is_array()) continue;
    for (const auto& sense : word["senses"]) {
      if (!sense.is_object()) continue;
      bool no_gloss = false;
      if (sense.contains("tags") && sense["tags"].is_array()) {
        for (const auto& t : sense["tags"]) no_gloss |= t == "no-gloss";
      }
      if (no_gloss) continue;
      for (const char* name : {"glosses", "raw_glosses"}) {
        if (!sense.contains(name) || !sense[name].is_array()) continue;
        std::string all;
        for (const auto& g : sense[name]) all += (g.is_string() ? g.get<std::string>() : "") + " ";
        add_words(out, all, unit);
        if (!words_of(all).empty()) break;
      }
    }
  }
}

// The text without what stands from each open to its close (and, when one
// is never closed, to the end only when to_end); parts: a blank takes its
// place.
std::string without_spans(const std::string& text, std::string_view open, std::string_view close,
                          bool to_end, bool parts) {
  std::string out;
  for (size_t at = 0;;) {
    size_t begin = text.find(open, at);
    size_t end = begin == std::string::npos ? begin : text.find(close, begin + open.size());
    if (begin == std::string::npos || (end == std::string::npos && !to_end)) {
      out.append(text, at);
      return out;
    }
    out.append(text, at, begin - at);
    // The lines a span took stay, so that line numbers stay as they were.
    std::string_view taken(text.data() + begin,
                           (end == std::string::npos ? text.size() : end) - begin);
    out.append(std::count(taken.begin(), taken.end(), '\n'), '\n');
    if (end == std::string::npos) return out;
    if (parts) out += ' ';
    at = end + close.size();
  }
}

// A headword's {unsorted} parts joined to it: each '{' that a '}' closes
// later, and that '}', go.
std::string without_braces(const std::string& line) {
  std::string out;
  bool open = false;
  const size_t last = line.rfind('}');
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '{' && last != std::string::npos && i < last) {
      open = true;
    } else if (line[i] == '}' && open) {
      open = false;
    } else {
      out += line[i];
    }
  }
  return out;
}

// A DSL text's words, each unit a card (its first headword line).
void dsl_words(const Files& files, const std::string& from, std::vector<SourceWord>& out) {
  std::string text = utf8_text(files[0].second, from);
  // Comments go, joining what stands beside them (one never closed takes
  // the rest).
  text = without_spans(text, "{{", "}}", true, false);
  std::vector<std::string> lines = lines_of(text);
  long card = 0;
  bool body = true, header = true;
  // The tags of the format (FORMATS.md's list): a paragraph or a reference
  // parts words, the others join them; any other brackets part them.
  static const std::regex paragraph("\\[/?(m[0-9]?|ref)([ \\t][^\\[\\]\\n]*)?\\]");
  static const std::regex tag(
      "\\[/?(trn|!trs|ex|com|\\*|b|i|u|c|sup|sub|lang|t|p|'|url|s|video)([ \\t][^\\[\\]\\n]*)?\\]");
  static const std::regex other("\\[[^\\[\\]\\n]*\\]");
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    if ((header && line[0] == '#') || line.rfind("#INCLUDE", 0) == 0) continue;
    header = false;
    bool indented = line[0] == ' ' || line[0] == '\t';
    if (!indented && body) card = long(i) + 1;
    body = indented;
    if (indented) {  // sounds and pictures are no text of a card's body
      line = without_spans(line, "[s]", "[/s]", false, true);
      line = without_spans(line, "[video]", "[/video]", false, true);
    }
    if (!indented) line = without_braces(line);
    std::string plain;  // \x is x (\\ a backslash)
    for (size_t c = 0; c < line.size(); ++c) {
      if (line[c] == '\\' && c + 1 < line.size()) ++c;
      plain += line[c];
    }
    line = plain;
    line = std::regex_replace(line, paragraph, " ");
    line = std::regex_replace(line, tag, "");
    // A word joined to ~ is joined to the headword in the text.
    line = std::regex_replace(
        line, std::regex("[A-Za-z0-9\\x80-\\xff]*\\^?~[A-Za-z0-9\\x80-\\xff]*"), " ");
    line = std::regex_replace(line, std::regex("\\[\\[|\\]\\]"), " ");
    line = std::regex_replace(line, other, " ");
    add_words(out, line, {files[0].first, indented || !card ? card : long(i) + 1});
  }
}

void xdxf_words(const Files& files, std::vector<SourceWord>& out) {
  const std::string& text = files[0].second;
  for (const char* name : {"ar", "abr_def", "abbr_def"}) {
    std::string open = std::string("<") + name, close = std::string("</") + name + ">";
    for (size_t at = 0; (at = text.find(open, at)) != std::string::npos;) {
      size_t end = text.find(close, at);
      if (end == std::string::npos) break;
      char after = text[at + open.size()];
      if (after == '>' || after == ' ' || after == '\t' || after == '\n') {
        add_words(out, without_markup(text.substr(at, end - at)), {files[0].first, 0});
      }
      at = end;
    }
  }
}

unsigned long long base64_number(std::string_view digits) {
  static const std::string kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  unsigned long long v = 0;
  for (char ch : digits) v = v * 64 + kDigits.find(ch);
  return v;
}

void dictd_words(const Files& files, std::vector<SourceWord>& out) {
  std::vector<std::string> lines = lines_of(files[0].second);
  const std::string& data = files[1].second;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
    if (t2 == std::string_view::npos) continue;
    size_t t3 = line.find('\t', t2 + 1);
    auto offset = base64_number(line.substr(t1 + 1, t2 - t1 - 1));
    auto length =
        base64_number(line.substr(t2 + 1, t3 == std::string_view::npos ? t3 : t3 - t2 - 1));
    if (offset > data.size() || length > data.size() - offset) continue;
    std::string headword(line.substr(0, t1)), definition = data.substr(offset, length);
    // A first line that is the headword in another case or spacing is the headword.
    auto squeezed = [](std::string s) {
      std::erase_if(s, [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
      for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return s;
    };
    size_t end = definition.find('\n');
    if (end != std::string::npos && squeezed(definition.substr(0, end)) == squeezed(headword)) {
      definition.erase(0, end);
    }
    std::string words = headword + " " + definition;
    add_words(out, words, {files[0].first, long(i) + 1});
  }
}

// StarDict of one text field a word (sametypesequence m or h), and its .syn.
void stardict_words(const Files& files, std::vector<SourceWord>& out) {
  const std::string& idx = files[1].second;
  const std::string& dict = files[2].second;
  const bool markup = files[0].second.find("sametypesequence=h") != std::string::npos;
  auto be32 = [](const std::string& s, size_t at) {
    unsigned long v = 0;
    for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
  };
  long entry = 0;
  for (size_t p = 0; p < idx.size();) {
    size_t nul = idx.find('\0', p);
    if (nul == std::string::npos || nul + 9 > idx.size()) break;
    std::string word = idx.substr(p, nul - p);
    unsigned long offset = be32(idx, nul + 1), size = be32(idx, nul + 5);
    p = nul + 9;
    std::string data = offset <= dict.size() ? dict.substr(offset, size) : "";
    add_words(out, word + " " + (markup ? without_markup(data) : data), {files[1].first, ++entry});
  }
  if (files.size() < 4) return;
  entry = 0;
  const std::string& syn = files[3].second;
  for (size_t p = 0; p < syn.size();) {
    size_t nul = syn.find('\0', p);
    if (nul == std::string::npos) break;
    add_words(out, syn.substr(p, nul - p), {files[3].first, ++entry});
    p = nul + 5;
  }
}

}  // namespace

std::set<std::string> words_of(std::string_view text) {
  std::set<std::string> words;
  std::string word;
  auto end_word = [&] {
    if (!word.empty()) words.insert(word);
    word.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    auto b = static_cast<unsigned char>(text[i]);
    if (text.substr(i, 3) == "\xEF\xBF\xBD" || text.substr(i, 3) == "\xEF\xBB\xBF" ||
        text.substr(i, 2) == "\xC2\xA0") {
      end_word();  // U+FFFD, a replaced byte; U+FEFF, a byte order mark; U+00A0, a blank
      i += text[i] == '\xC2' ? 1 : 2;
    } else if (b == 0xCC && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) < 0xB0) {  // U+0300..U+032F: marks
      ++i;
    } else if (b >= 0x80) {
      size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
      bool whole = n > 0 && i + n <= text.size() && b < 0xF5;
      for (size_t k = 1; whole && k < n; ++k) {
        whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
      }
      if (!whole) {  // a byte that is not UTF-8: no letter
        end_word();
        continue;
      }
      word.append(text.substr(i, n));
      i += n - 1;
    } else if (std::isalnum(b)) {
      word += static_cast<char>(std::tolower(b));
    } else {
      end_word();
    }
  }
  end_word();
  return words;
}

std::vector<SourceWord> source_words(const std::string& format, const Files& files,
                                     const std::map<std::string, std::string>& options,
                                     const std::string& from) {
  std::vector<SourceWord> words;
  if (format == "tab") tab_words(files, from, words);
  if (format == "csv") csv_words(files, options, from, words);
  if (format == "wiktionary") wiktionary_words(files, words);
  if (format == "dsl") dsl_words(files, from, words);
  if (format == "xdxf") xdxf_words(files, words);
  if (format == "dictd") dictd_words(files, words);
  if (format == "stardict") stardict_words(files, words);
  return words;
}

std::vector<std::string> lost_words(const std::vector<SourceWord>& words, std::string_view output,
                                    const Accounted& accounted) {
  std::set<std::string> written = words_of(output), dropped = words_of(accounted.dropped);
  std::vector<std::string> lost;
  for (const SourceWord& w : words) {
    if (written.count(w.word) || dropped.count(w.word) || accounted.all ||
        accounted.skipped.count(w.unit)) {
      continue;
    }
    lost.push_back(w.word + " (" + w.unit.first + ":" + std::to_string(w.unit.second) + ")");
  }
  return lost;
}

}  // namespace zelk_test
