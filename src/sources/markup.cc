#include "sources/markup.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <mutex>

#include "text/utf8.h"

namespace zelk::sources {

namespace {

// The elements of HTML, of XDXF and of Pango's markup, sorted: the only
// names between angle brackets read as markup.
constexpr std::string_view kElements[] = {
    "a",       "abbr",     "abr",        "abr_def", "address", "ant",    "ar",          "article",
    "aside",   "audio",    "b",          "bdi",     "bdo",     "big",    "blockquote",  "body",
    "br",      "c",        "caption",    "categ",   "center",  "cite",   "co",          "code",
    "col",     "colgroup", "dd",         "def",     "del",     "deriv",  "description", "details",
    "dfn",     "div",      "dl",         "dt",      "dtrn",    "em",     "etm",         "ex",
    "ex_orig", "ex_tran",  "figcaption", "figure",  "font",    "footer", "full_name",   "gr",
    "h1",      "h2",       "h3",         "h4",      "h5",      "h6",     "head",        "header",
    "hpo",     "hpr",      "hr",         "html",    "i",       "img",    "ins",         "iref",
    "k",       "kbd",      "kref",       "lang",    "li",      "link",   "main",        "mark",
    "meta",    "mrkd",     "nav",        "nu",      "ol",      "opt",    "p",           "pos",
    "pre",     "q",        "rp",         "rref",    "rt",      "ruby",   "s",           "samp",
    "script",  "section",  "small",      "source",  "span",    "spt",    "sr",          "strike",
    "strong",  "style",    "sub",        "summary", "sup",     "syn",    "table",       "tbody",
    "td",      "tfoot",    "th",         "thead",   "title",   "tr",     "tt",          "u",
    "ul",      "var",      "video",      "wbr",     "xdxf",
};

static_assert(std::is_sorted(std::begin(kElements), std::end(kElements)));

bool is_element(std::string_view name) {
  char lower[16];
  if (name.size() > sizeof lower) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
  }
  return std::binary_search(std::begin(kElements), std::end(kElements),
                            std::string_view(lower, name.size()));
}

// True when the '<' at text[at] opens a tag of a known element, a comment
// or a declaration; anything else between angle brackets is text.
bool opens_tag(std::string_view text, size_t at) {
  size_t p = at + 1;
  if (p < text.size() && (text[p] == '!' || text[p] == '?')) return true;
  if (p < text.size() && text[p] == '/') ++p;
  size_t begin = p;
  while (p < text.size() && (std::isalnum(static_cast<unsigned char>(text[p])) || text[p] == '_')) {
    ++p;
  }
  if (p == begin || p == text.size()) return false;
  char after = text[p];
  bool ends_name = after == '>' || after == '/' || std::isspace(static_cast<unsigned char>(after));
  return ends_name && is_element(text.substr(begin, p - begin));
}

// The markup with every '<' that opens no known tag written as "&lt;".
std::string escape_stray_brackets(std::string_view markup) {
  std::string out;
  out.reserve(markup.size() + 16);
  for (size_t at = 0; at < markup.size(); ++at) {
    if (markup[at] == '<' && !opens_tag(markup, at)) {
      out += "&lt;";
    } else {
      out += markup[at];
    }
  }
  return out;
}

bool is_named(const xmlNode* node, std::initializer_list<const char*> names) {
  const char* name = reinterpret_cast<const char*>(node->name);
  for (const char* n : names) {
    if (std::strcmp(name, n) == 0) return true;
  }
  return false;
}

bool breaks_line(const xmlNode* node) {
  return is_named(
      node, {"br",  "p",          "div",     "li",      "ul",     "ol",     "dl",  "dt", "dd",
             "tr",  "table",      "h1",      "h2",      "h3",     "h4",     "h5",  "h6", "hr",
             "pre", "blockquote", "section", "article", "header", "footer", "def", "ex", "co"});
}

// The text without blanks at either end.
std::string trimmed(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t\n\r"), end = text.find_last_not_of(" \t\n\r");
  return begin == std::string_view::npos ? "" : std::string(text.substr(begin, end - begin + 1));
}

int hex_digit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : -1;
}

// The word a link to another entry names ("bword://apple"), its %XX escapes
// decoded where that gives UTF-8; empty for any other link.
std::string linked_word(const xmlNode* node) {
  xmlChar* href = xmlGetProp(node, reinterpret_cast<const xmlChar*>("href"));
  if (!href) return {};
  std::string_view link(reinterpret_cast<const char*>(href));
  std::string word;
  if (link.starts_with("bword://")) {
    link.remove_prefix(8);
    for (size_t i = 0; i < link.size(); ++i) {
      int high = i + 2 < link.size() && link[i] == '%' ? hex_digit(link[i + 1]) : -1;
      int low = high >= 0 ? hex_digit(link[i + 2]) : -1;
      if (low >= 0) {
        word += static_cast<char>(high * 16 + low);
        i += 2;
      } else {
        word += link[i];
      }
    }
    if (!is_utf8(word)) word = link;
  }
  xmlFree(href);
  return trimmed(word);
}

bool same_but_for_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

void walk(const xmlNode* node, std::string& out);

// A link to another entry becomes {word}, as dictd writes references; its
// text stays before it when it says something else.
void link(const xmlNode* node, const std::string& word, std::string& out) {
  std::string text;
  walk(node->children, text);
  std::string shown = trimmed(text);
  if (!shown.empty() && !same_but_for_case(shown, word)) out.append(shown) += ' ';
  out += '{' + word + '}';
}

void walk(const xmlNode* node, std::string& out) {
  for (; node; node = node->next) {
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      // Line breaks in markup text are mere blanks.
      for (const xmlChar* p = node->content; p && *p; ++p) {
        out += (*p == '\n' || *p == '\r') ? ' ' : static_cast<char>(*p);
      }
    } else if (node->type == XML_ELEMENT_NODE) {
      if (is_named(node, {"script", "style", "head"})) continue;
      if (is_named(node, {"a"})) {
        std::string word = linked_word(node);
        if (!word.empty()) {
          link(node, word, out);
          continue;
        }
      }
      bool block = breaks_line(node);
      if (block) out += '\n';
      walk(node->children, out);
      if (block) out += '\n';
    }
  }
}

void quiet(void*, const char*, ...) {}

}  // namespace

const FormatOption& markup_option() {
  static const FormatOption kMarkup{
      "markup",
      "WORD",
      "html: markup becomes text (StarDict's markup fields; tab files holding <br />), none: "
      "markup is kept as it is",
      {"html", "none"}};
  return kMarkup;
}

std::string markup_to_text(std::string_view markup) {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetGenericErrorFunc(nullptr, quiet);
  });
  if (markup.empty()) return {};
  std::string html = escape_stray_brackets(markup);
  if (html.size() > INT_MAX) return std::string(markup);
  // A leading text-only fragment would otherwise be wrapped in <p>: that
  // changes nothing here, since surrounding breaks are trimmed.
  htmlDocPtr doc = htmlReadMemory(
      html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
      HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
  std::string out;
  if (!doc) return out;
  walk(xmlDocGetRootElement(doc), out);
  xmlFreeDoc(doc);
  return out;
}

}  // namespace zelk::sources
