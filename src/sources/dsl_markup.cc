// A DSL card's headwords and the markup of its body, as text.
//
// Body markup: [m] and [m0]...[m9] start a paragraph (a line break); the
// tags of translations, examples, comments, labels, fonts and languages go,
// their text stays; a stress mark ([']...[/']) becomes U+0301 after its
// letter; [ref]X[/ref], [ref target="X"]shown[/ref] and <<X>> become {X}
// (the shown text before it where it says something else); sounds and
// pictures ([s], [video]) are counted, not written; \x is x, [[ and ]] are
// brackets, ~ is the card's headword and ^~ the same with the case of its
// first letter turned. Any other bracketed text is the source's own.
#include <utf8proc.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "sources/dsl.h"

namespace zelk::sources {

namespace {

constexpr size_t kMostKeys = 32;
constexpr char kAcute[] = "\xCC\x81";  // U+0301, after a stressed letter

// Runs of blanks as one space, none at either end.
std::string collapsed(std::string_view text) {
  std::string out;
  bool blank = false;
  for (char ch : text) {
    if (ch == ' ' || ch == '\t') {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += ch;
  }
  return out;
}

// A headword as text and optional groups. A text node holds what a key has
// of it and what a reader sees of it (unsorted parts, stress).
struct Node {
  bool group = false;
  std::string key, shown;
  std::vector<Node> children;
};

bool is_paragraph(std::string_view name) {
  return name == "m" || (name.size() == 2 && name[0] == 'm' && name[1] >= '0' && name[1] <= '9');
}

// Tags whose text stays as it is (a closing [/s], [/video] or [/ref] met
// alone goes too).
bool is_kept(std::string_view name) {
  static const std::unordered_set<std::string_view> kKept = {
      "trn", "trn1", "!trn", "!trs", "trs", "ex", "com", "*", "b",       "i",        "u",
      "c",   "sup",  "sub",  "lang", "t",   "p",  "url", "'", "preview", "!preview", "m"};
  if (name.starts_with('/')) name.remove_prefix(1);
  return kKept.count(name) || is_paragraph(name);
}

// Whether every unescaped parenthesis outside {unsorted} parts closes.
bool balanced(std::string_view line) {
  int depth = 0;
  bool unsorted = false;
  const size_t last_close = line.rfind('}');  // a '{' after it is text
  for (size_t i = 0; i < line.size(); ++i) {
    char ch = line[i];
    if (ch == '\\') {
      ++i;
    } else if ((ch == '{' && last_close != std::string_view::npos && i < last_close) ||
               (ch == '}' && unsorted)) {
      unsorted = ch == '{';
    } else if (!unsorted && ch == '(') {
      ++depth;
    } else if (!unsorted && ch == ')' && --depth < 0) {
      return false;
    }
  }
  return depth == 0;
}

std::vector<Node> parse_nodes(std::string_view line) {
  const bool groups = balanced(line);
  std::vector<std::vector<Node>> stack(1);
  bool unsorted = false;
  size_t last_close = line.rfind('}');  // a '{' after it is text
  auto text = [&]() -> Node& {
    std::vector<Node>& seq = stack.back();
    if (seq.empty() || seq.back().group) seq.emplace_back();
    return seq.back();
  };
  for (size_t i = 0; i < line.size(); ++i) {
    char ch = line[i];
    if (ch == '\\' && i + 1 < line.size()) {
      ch = line[++i];
    } else if ((ch == '{' && last_close != std::string_view::npos && i < last_close) ||
               (ch == '}' && unsorted)) {
      unsorted = ch == '{';
      continue;
    } else if (ch == '[' && line.find(']', i) != std::string_view::npos &&
               line.find('[', i + 1) > line.find(']', i)) {
      size_t close = line.find(']', i);
      std::string_view inside = line.substr(i + 1, close - i - 1);
      std::string_view name = inside.substr(0, inside.find_first_of(" \t"));
      bool other_tag = name == "ref" || name == "/ref" || name == "s" || name == "/s" ||
                       name == "video" || name == "/video";
      if (is_kept(name) || other_tag) {  // a tag: only a stress mark shows
        if (name == "/'") text().shown += kAcute;
        // A paragraph or a reference parts the words beside it, as in a body.
        std::string_view bare = name.substr(name.starts_with('/') ? 1 : 0);
        if (is_paragraph(bare) || bare == "ref") {
          text().key += ' ';
          text().shown += ' ';
        }
        i = close;
        continue;
      }
    } else if (groups && !unsorted && ch == '(' && line.substr(i, 2) != "()") {
      stack.emplace_back();
      continue;
    } else if (groups && !unsorted && ch == ')' && stack.size() > 1) {
      Node g{true, "", "", std::move(stack.back())};
      stack.pop_back();
      stack.back().push_back(std::move(g));
      continue;
    } else if (groups && !unsorted && ch == '(') {  // "()" is text
      text().key += "()";
      text().shown += "()";
      ++i;
      continue;
    }
    Node& t = text();
    if (!unsorted) t.key += ch;
    t.shown += ch;
  }
  return std::move(stack[0]);
}

// Every combination of the optional groups, all of them first.
std::vector<std::string> expand(const std::vector<Node>& seq) {
  std::vector<std::string> out{""};
  for (const Node& n : seq) {
    if (!n.group) {
      for (std::string& s : out) s += n.key;
      continue;
    }
    std::vector<std::string> inner = expand(n.children), next;
    for (const std::string& s : out) {
      for (const std::string& with : inner) {
        if (next.size() < 2 * kMostKeys) next.push_back(s + with);
      }
      if (next.size() < 2 * kMostKeys) next.push_back(s);
    }
    out.swap(next);
  }
  return out;
}

// The headword with its groups in parentheses: as keys have it, or shown.
std::string written(const std::vector<Node>& seq, bool shown) {
  std::string out;
  for (const Node& n : seq) {
    out += n.group ? "(" + written(n.children, shown) + ")" : shown ? n.shown : n.key;
  }
  return out;
}

// The text with the case of its first letter turned.
std::string case_turned(const std::string& text) {
  utf8proc_int32_t c;
  auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                            static_cast<utf8proc_ssize_t>(text.size()), &c);
  if (n <= 0) return text;
  utf8proc_int32_t turned = utf8proc_isupper(c) ? utf8proc_tolower(c) : utf8proc_toupper(c);
  utf8proc_uint8_t buf[4];
  auto len = utf8proc_encode_char(turned, buf);
  return std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(len)) +
         text.substr(static_cast<size_t>(n));
}

// The value of attribute name in a tag's text ([ref target="X"]).
std::string attribute(std::string_view tag, std::string_view name) {
  size_t at = tag.find(std::string(name) + "=\"");
  if (at == std::string_view::npos) return "";
  at += name.size() + 2;
  size_t end = tag.find('"', at);
  return std::string(tag.substr(at, end == std::string_view::npos ? end : end - at));
}

void body_line(std::string_view line, const Headword& first, std::map<std::string, long>& counted,
               std::string& out);

// A reference to target (braces taken out), shown text before it where
// that says something else.
void reference(std::string target, std::string_view inner, const Headword& first,
               std::map<std::string, long>& counted, std::string& out) {
  std::string shown;
  body_line(inner, first, counted, shown);
  // Braces would make references of their own: blanks instead.
  for (std::string* text : {&shown, &target}) {
    std::replace_if(
        text->begin(), text->end(), [](char c) { return c == '\n' || c == '{' || c == '}'; }, ' ');
  }
  shown = collapsed(shown);
  target = target.empty() ? shown : collapsed(target);
  if (!shown.empty() && shown != target) out += shown + " ";
  if (!target.empty()) out += "{" + target + "}";
}

// The tag at line[i] ('['): its text as it goes into out; returns the
// index of the last byte it takes.
size_t tag(std::string_view line, size_t i, const Headword& first,
           std::map<std::string, long>& counted, std::string& out) {
  size_t close = line.find(']', i);
  std::string_view inside = line.substr(i + 1, close == std::string_view::npos ? 0 : close - i - 1);
  if (close == std::string_view::npos || inside.find('[') != std::string_view::npos) {
    out += '[';  // no tag: a bracket of the text
    return i;
  }
  std::string_view name = inside.substr(0, inside.find_first_of(" \t"));
  if (name == "s" || name == "video") {  // a sound, a picture, a film: not text
    std::string end = "[/" + std::string(name) + "]";
    size_t stop = line.find(end, close);
    if (stop == std::string_view::npos) return close;  // never closed: only the tag goes
    ++counted["media left out ([s], [video])"];
    return stop + end.size() - 1;
  }
  if (name == "ref") {
    size_t stop = line.find("[/ref]", close);
    size_t inner_end = stop == std::string_view::npos ? line.size() : stop;
    reference(attribute(inside, "target"), line.substr(close + 1, inner_end - close - 1), first,
              counted, out);
    return stop == std::string_view::npos ? line.size() - 1 : stop + 5;
  }
  if (is_paragraph(name)) {
    out += '\n';
  } else if (name.starts_with('/') && is_paragraph(name.substr(1))) {
    out += ' ';  // a paragraph's end parts words as its start does
  } else if (name == "/'") {
    out += kAcute;
  } else if (!is_kept(name) && name != "/s" && name != "/video" && name != "/ref") {
    out.append(line.substr(i, close - i + 1));  // not markup: the source's own text
  }
  return close;
}

void body_line(std::string_view line, const Headword& first, std::map<std::string, long>& counted,
               std::string& out) {
  for (size_t i = 0; i < line.size(); ++i) {
    char ch = line[i];
    std::string_view two = line.substr(i, 2);
    if (ch == '\\' && i + 1 < line.size()) {
      out += line[++i];
    } else if (two == "[[" || two == "]]") {
      out += ch;
      ++i;
    } else if (two == "^~") {
      out += case_turned(first.tilde);
      ++i;
    } else if (ch == '~') {
      out += first.tilde;
    } else if (two == "<<" && line.find(">>", i + 2) != std::string_view::npos) {
      size_t close = line.find(">>", i + 2);
      reference("", line.substr(i + 2, close - i - 2), first, counted, out);
      i = close + 1;
    } else if (ch == '[') {
      i = tag(line, i, first, counted, out);
    } else {
      out += ch;
    }
  }
}

// A subentry's headword with ~ (and ^~) as the card's first headword; its
// optional parts are expanded after.
std::string with_tilde(std::string_view text, const Headword& first) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      out.append(text.substr(i++, 2));
    } else if (text.substr(i, 2) == "^~") {
      out += case_turned(first.tilde);
      ++i;
    } else if (text[i] == '~') {
      out += first.tilde;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A body line that starts a subentry ("@ headword", after blanks and
// tags): the headword, trimmed ("" for a bare @, which ends one); false for
// any other line.
bool subentry(std::string_view line, std::string* headword) {
  size_t p = 0;
  for (;;) {
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    if (p < line.size() && line[p] == '[' && line.find(']', p) != std::string_view::npos) {
      p = line.find(']', p) + 1;
      continue;
    }
    break;
  }
  if (p >= line.size() || line[p] != '@') return false;
  *headword = collapsed(line.substr(p + 1));
  return true;
}

}  // namespace

std::string header_value(std::string_view line) {
  size_t open = line.find('"'), close = line.rfind('"');
  if (open == std::string_view::npos || close <= open) {
    size_t blank = line.find_first_of(" \t");
    return blank == std::string_view::npos ? "" : collapsed(line.substr(blank + 1));
  }
  return std::string(line.substr(open + 1, close - open - 1));
}

Headword parse_headword(std::string_view line) {
  std::vector<Node> nodes = parse_nodes(line);
  Headword h;
  std::unordered_set<std::string> seen;
  for (const std::string& combination : expand(nodes)) {
    std::string key = collapsed(combination);
    if (key.empty() || !seen.insert(key).second) continue;
    if (h.keys.size() < kMostKeys) h.keys.push_back(std::move(key));
  }
  h.tilde = collapsed(written(nodes, false));
  h.shown = collapsed(written(nodes, true));
  return h;
}

std::vector<Entry> card_entries(const std::vector<Headword>& heads,
                                const std::vector<std::string>& body,
                                std::map<std::string, long>& counted) {
  std::vector<Entry> entries(1);
  std::unordered_set<std::string> seen;
  const Headword* keyed = nullptr;  // the first headword that has a key
  for (const Headword& h : heads) {
    for (const std::string& key : h.keys) {
      if (seen.insert(key).second) entries[0].keys.push_back(key);
    }
    if (!keyed && !h.keys.empty()) keyed = &h;
    // A headword's unsorted parts are shown.
    if (!h.shown.empty() && (h.keys.empty() || h.shown != h.keys[0])) {
      entries[0].text += h.shown + "\n";
    }
  }
  if (!keyed) return {};
  const Headword& first = *keyed;
  size_t current = 0;
  for (const std::string& line : body) {
    std::string headword;
    if (subentry(line, &headword)) {
      current = 0;
      if (headword.empty()) continue;  // a bare @ ends the subentry
      Headword h = parse_headword(with_tilde(headword, first));
      if (h.keys.empty()) continue;
      entries.push_back(Entry{h.keys, h.shown != h.keys[0] ? h.shown + "\n" : ""});
      current = entries.size() - 1;
      continue;
    }
    body_line(line, first, counted, entries[current].text);
    entries[current].text += '\n';
  }
  return entries;
}

}  // namespace zelk::sources
