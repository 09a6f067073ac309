// XDXF dictionaries, in the visual and the logical format and in both
// generations of the meta data, read with libxml2's streaming reader an
// article at a time. Every <k> of an article is a key (the first is the
// entry, the others point at it); an <opt> part gives the key without it
// and, pointing at that, the key with it; <nu> text is shown but no part of
// a key. References (<kref>, <iref>, <rref>) become {word}, a transcription
// [it]; in the logical format nested <def>s are numbered senses. The
// abbreviations the file defines become entries. Entities: XML's own,
// numeric ones, those of the file's internal DTD (expanded here, within a
// budget) and HTML's names such as &nbsp;; anything else that looks like an
// entity stays text.
#include <libxml/HTMLparser.h>
#include <libxml/xmlreader.h>

#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <unordered_set>

#include "sources/formats.h"
#include "toolkit/error.h"

namespace zelk::sources {

namespace {

constexpr size_t kEntityBudget = 1 << 20;  // bytes entities may expand to in one article

// The file as libxml2 reads it: expanded when gzip, entities mended.
struct Feed {
  Input in;
  std::string pending = {};  // mended bytes not yet handed on
  size_t handed = 0;         // of pending
  std::string raw = {};      // bytes read, not yet mended (an entity cut at a block's end)
  bool ended = false;
  size_t bytes = 0;                               // read in all
  std::unordered_set<std::string> declared = {};  // entities the internal DTD declares
  std::exception_ptr failed = {};                 // a read error, raised again after the parse
};

bool is_name_char(char ch) {
  return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_' || ch == '-' || ch == '.' ||
         ch == ':' || static_cast<unsigned char>(ch) >= 0x80;
}

// Notes the entities declared in text ("<!ENTITY name ...").
void note_declared(Feed& f, std::string_view text) {
  for (size_t at = 0; (at = text.find("<!ENTITY", at)) != std::string_view::npos;) {
    at += 8;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    size_t end = at;
    while (end < text.size() && is_name_char(text[end])) ++end;
    if (end > at) f.declared.emplace(text.substr(at, end - at));
  }
}

// raw's bytes up to keep into pending: an '&' that begins no entity XML
// knows becomes "&amp;", an HTML name its character.
void mend(Feed& f, size_t keep) {
  std::string_view text(f.raw.data(), keep);
  note_declared(f, text);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      size_t next = text.find('&', i);
      if (next == std::string_view::npos) next = text.size();
      f.pending.append(text.substr(i, next - i));
      i = next - 1;
      continue;
    }
    size_t end = i + 1;
    while (end < text.size() && end - i < 40 && (is_name_char(text[end]) || text[end] == '#')) {
      ++end;
    }
    std::string name(text.substr(i + 1, end - i - 1));
    bool reference = end < text.size() && text[end] == ';' && !name.empty();
    if (reference && (name[0] == '#' || name == "amp" || name == "lt" || name == "gt" ||
                      name == "quot" || name == "apos" || f.declared.count(name))) {
      f.pending += '&';
      continue;
    }
    const htmlEntityDesc* html = reference ? htmlEntityLookup(BAD_CAST name.c_str()) : nullptr;
    if (html) {
      f.pending += "&#" + std::to_string(html->value) + ";";
      i = end;
    } else {
      f.pending += "&amp;";  // not markup: the source's own text
    }
  }
  f.raw.erase(0, keep);
}

int feed_read(void* context, char* buffer, int size) {
  auto& f = *static_cast<Feed*>(context);
  try {
    while (f.pending.size() - f.handed < static_cast<size_t>(size) && !f.ended) {
      size_t have = f.raw.size();
      f.raw.resize(have + (1 << 16));
      size_t n = read_input(f.in, f.raw.data() + have, 1 << 16);
      f.raw.resize(have + n);
      f.ended = n == 0;
      f.bytes += n;
      // An '&' near the end may begin an entity the next block ends.
      size_t amp = f.raw.rfind('&');
      size_t keep =
          f.ended || amp == std::string::npos || f.raw.size() - amp > 48 ? f.raw.size() : amp;
      if (f.pending.size() == f.handed) {
        f.pending.clear();
        f.handed = 0;
      }
      mend(f, keep);
    }
  } catch (...) {
    f.failed = std::current_exception();
    return -1;
  }
  size_t n = std::min(static_cast<size_t>(size), f.pending.size() - f.handed);
  std::memcpy(buffer, f.pending.data() + f.handed, n);
  f.handed += n;
  return static_cast<int>(n);
}

int feed_close(void*) { return 0; }

bool named(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

bool named_any(const xmlNode* node, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (named(node, name)) return true;
  }
  return false;
}

struct Article {
  bool lines;  // the visual format: line breaks in the text are line breaks
  size_t entity_budget = kEntityBudget;
};

// An entity's replacement text, entities in it expanded, within the budget.
void expand_entity(Article& a, const xmlDoc* doc, const xmlChar* name, std::string& out,
                   int depth) {
  xmlEntityPtr entity = xmlGetDocEntity(doc, name);
  if (!entity || !entity->content || depth > 8) {
    out += "&" + std::string(reinterpret_cast<const char*>(name)) + ";";
    return;
  }
  std::string_view text(reinterpret_cast<const char*>(entity->content));
  for (size_t i = 0; i < text.size() && a.entity_budget > 0; ++i) {
    size_t semi = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
    if (semi != std::string_view::npos && text[i + 1] != '#') {
      std::string inner(text.substr(i + 1, semi - i - 1));
      expand_entity(a, doc, BAD_CAST inner.c_str(), out, depth + 1);
      i = semi;
      continue;
    }
    out += text[i];
    --a.entity_budget;
  }
}

void text_of(Article& a, const xmlNode* node, std::string& out);

// The text of an element's children; in the logical format, sibling <def>s
// numbered. An article's own keys are the entry's, not its text.
void children_text(Article& a, const xmlNode* parent, std::string& out, bool keys = true) {
  int defs = 0;
  for (const xmlNode* n = parent->children; n; n = n->next) defs += named(n, "def");
  int number = 0;
  for (const xmlNode* n = parent->children; n; n = n->next) {
    if (!keys && named(n, "k")) continue;
    if (named(n, "def") && defs > 1 && !a.lines) {
      out += "\n" + std::to_string(++number) + ". ";
      text_of(a, n->children, out);
      out += '\n';
      continue;
    }
    xmlNode* next = n->next;  // this child alone
    const_cast<xmlNode*>(n)->next = nullptr;
    text_of(a, n, out);
    const_cast<xmlNode*>(n)->next = next;
  }
}

bool is_block(const xmlNode* node) {
  return named_any(node, {"def", "ex", "ex_orig", "ex_tran", "co", "sr", "etm", "categ", "p", "div",
                          "deftext", "dtrn", "blockquote", "abr_def", "abbr_def", "ar", "k"});
}

void reference_text(Article& a, const xmlNode* node, std::string& out) {
  std::string target;
  text_of(a, node->children, target);
  std::string flat;
  flatten_blanks(target, flat);
  if (flat.empty()) {
    xmlChar* href = xmlGetProp(node, BAD_CAST "href");
    if (href) flat = reinterpret_cast<const char*>(href);
    xmlFree(href);
  }
  if (!flat.empty()) out += "{" + flat + "}";
}

void text_of(Article& a, const xmlNode* node, std::string& out) {
  for (; node; node = node->next) {
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      for (const xmlChar* p = node->content; p && *p; ++p) {
        char ch = static_cast<char>(*p);
        out += (ch == '\n' || ch == '\r') && !a.lines ? ' ' : ch;
      }
    } else if (node->type == XML_ENTITY_REF_NODE) {
      expand_entity(a, node->doc, node->name, out, 0);
    } else if (node->type != XML_ELEMENT_NODE) {
      continue;  // comments and the like: no text
    } else if (named(node, "br")) {
      out += '\n';
    } else if (named_any(node, {"kref", "iref", "rref"})) {
      reference_text(a, node, out);
    } else if (named(node, "tr")) {
      out += " [";
      text_of(a, node->children, out);
      out += "] ";
    } else {
      bool block = is_block(node);
      if (block) out += '\n';
      children_text(a, node, out);
      if (block) out += '\n';
    }
  }
}

// A <k>'s texts: without its optional parts, with them, and as shown (the
// optional parts in parentheses).
struct KeyTexts {
  std::string without, with, shown;
};

void key_texts(Article& a, const xmlNode* node, KeyTexts& k, bool optional, bool shown_only) {
  for (; node; node = node->next) {
    std::string text;
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      text = reinterpret_cast<const char*>(node->content ? node->content : BAD_CAST "");
    } else if (node->type == XML_ENTITY_REF_NODE) {
      expand_entity(a, node->doc, node->name, text, 0);
    } else if (node->type == XML_ELEMENT_NODE) {
      bool opt = named(node, "opt");
      if (opt) k.shown += '(';
      key_texts(a, node->children, k, optional || opt, shown_only || named(node, "nu"));
      if (opt) k.shown += ')';
      continue;
    }
    k.shown += text;
    if (shown_only) continue;
    k.with += text;
    if (!optional) k.without += text;
  }
}

// One article: its keys, then its text without them.
void add_article(Emit& emit, const xmlNode* ar, bool lines, const Where& where) {
  xmlChar* f = xmlGetProp(ar, BAD_CAST "f");
  Article a{f ? f[0] != 'l' : lines};
  xmlFree(f);
  std::vector<KeyTexts> keys;
  for (const xmlNode* n = ar->children; n; n = n->next) {
    if (!named(n, "k")) continue;
    KeyTexts k;
    key_texts(a, n->children, k, false, false);
    for (std::string* s : {&k.without, &k.with, &k.shown}) {
      std::string flat;
      flatten_blanks(*s, flat);
      s->swap(flat);
    }
    if (k.without.empty()) k.without = k.with;
    if (!k.without.empty()) keys.push_back(std::move(k));
  }
  if (keys.empty()) return skip(emit, where, "", "an article without a key (<k>)");
  std::string text;
  if (keys[0].shown != keys[0].without) text = keys[0].shown + "\n";
  children_text(a, ar, text, false);
  const std::string& main = keys[0].without;
  add_entry(emit, main, text, where);
  for (const KeyTexts& k : keys) {
    if (k.without != main) add_form(emit, k.without, main, where);
    if (k.with != k.without) add_form(emit, k.with, main, where);
  }
}

// An abbreviation's definition: each of its keys an entry of its text.
void add_abbreviation(Emit& emit, const xmlNode* node, const Where& where) {
  Article a{false};
  std::vector<std::string> keys;
  std::string text;
  for (const xmlNode* n = node->children; n; n = n->next) {
    std::string part;
    text_of(a, n->children, part);
    std::string flat;
    flatten_blanks(part, flat);
    if (named_any(n, {"k", "abbr_k"})) {
      if (!flat.empty()) keys.push_back(flat);
    } else if (named_any(n, {"v", "abbr_v"})) {
      text += (text.empty() ? "" : "\n") + flat;
    }
  }
  if (keys.empty()) return skip(emit, where, "", "an abbreviation without a key");
  for (const std::string& key : keys) add_entry(emit, key, text, where);
  ++emit.counted["abbreviations written as entries"];
}

struct FreeReader {
  void operator()(xmlTextReaderPtr r) const { xmlFreeTextReader(r); }
};

// The first error of this document: its line and libxml2's message.
struct FirstError {
  int line = 0;
  std::string message;
};

void keep_first_error(void* context, xmlErrorPtr error) {
  auto& first = *static_cast<FirstError*>(context);
  if (!first.message.empty() || !error || error->level < XML_ERR_ERROR) return;
  first.line = error->line;
  first.message = error->message ? error->message : "not well-formed XML";
  while (!first.message.empty() && first.message.back() == '\n') first.message.pop_back();
}

bool element_is(xmlTextReaderPtr reader, const char* name) {
  return std::strcmp(reinterpret_cast<const char*>(xmlTextReaderConstName(reader)), name) == 0;
}

// Reads the document's articles; false when it is not well-formed.
bool read_articles(xmlTextReaderPtr reader, const std::string& name, Emit& emit) {
  bool lines = true;  // the visual format unless the root says logical
  int status = xmlTextReaderRead(reader);
  while (status == 1) {
    if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT) {
      status = xmlTextReaderRead(reader);
      continue;
    }
    if (element_is(reader, "xdxf")) {
      xmlChar* format = xmlTextReaderGetAttribute(reader, BAD_CAST "format");
      lines = !format || std::strcmp(reinterpret_cast<char*>(format), "logical") != 0;
      xmlFree(format);
    }
    bool title = element_is(reader, "full_name") || element_is(reader, "full_title");
    bool abbreviation = element_is(reader, "abr_def") || element_is(reader, "abbr_def");
    if (!title && !abbreviation && !element_is(reader, "ar")) {
      status = xmlTextReaderRead(reader);
      continue;
    }
    // An article, an abbreviation or the title, expanded alone, then passed over.
    Where where{&name, xmlTextReaderGetParserLineNumber(reader), true};
    xmlNode* node = xmlTextReaderExpand(reader);
    if (!node) return false;
    if (title) {
      Article a{false};
      std::string text;
      text_of(a, node->children, text);
      if (emit.title.empty()) flatten_blanks(text, emit.title);
    } else if (abbreviation) {
      add_abbreviation(emit, node, where);
    } else {
      add_article(emit, node, lines, where);
    }
    status = xmlTextReaderNext(reader);
  }
  return status == 0;
}

void read_xdxf(const Source& source, Emit& emit) {
  Feed feed{open_input(source.path)};
  FirstError first;
  const char* encoding = source.reading.from.empty() ? nullptr : source.reading.from.c_str();
  std::unique_ptr<xmlTextReader, FreeReader> reader(
      xmlReaderForIO(feed_read, feed_close, &feed, source.path.c_str(), encoding,
                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!reader) throw std::bad_alloc();
  xmlTextReaderSetStructuredErrorHandler(reader.get(), keep_first_error, &first);
  bool whole = read_articles(reader.get(), source.path, emit);
  if (feed.failed) std::rethrow_exception(feed.failed);
  if (feed.bytes == 0) die("%s: an empty file, no XDXF document", source.path.c_str());
  if (!whole || !first.message.empty()) {
    if (first.message.empty()) first.message = "not well-formed XML";
    die("%s:%d: %s", source.path.c_str(), first.line, first.message.c_str());
  }
  flush(emit);
}

bool sniff_xdxf(std::string_view head) {
  std::string ascii;
  for (char ch : head) {
    if (ch != '\0') ascii += ch;
  }
  return ascii.find("<xdxf") != std::string::npos;
}

}  // namespace

extern const Format kXdxf{"xdxf",
                          "XDXF dictionaries, visual and logical, plain or gzip",
                          {".xdxf", ".xdxf.dz", ".xdxf.gz"},
                          {},
                          "",
                          sniff_xdxf,
                          {},
                          read_xdxf};

}  // namespace zelk::sources
