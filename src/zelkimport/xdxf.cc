// XDXF dictionaries, in the visual and the logical format, read with
// libxml2's streaming reader an article at a time: each <ar> with its keys
// (<k>; the first is the headword, the others its forms) and its text, in
// which <kref> references become {word}, a transcription <tr> [it], and
// definitions, examples and comments (<def>, <ex>, <co>) lines of their own.
#include <libxml/xmlreader.h>

#include <climits>
#include <cstring>
#include <memory>

#include "zelkimport/forms.h"
#include "zelkimport/import.h"

namespace zelk::import {

namespace {

bool named(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

bool is_block(const xmlNode* node) {
  for (const char* name : {"def", "ex", "co", "p", "div", "deftext", "ex_orig", "ex_tran", "sr"}) {
    if (named(node, name)) return true;
  }
  return false;
}

// The text of a subtree; lines: a line break in the text is one (the
// visual format), else a blank.
void text_of(const xmlNode* node, bool lines, std::string& out, bool in_key = false) {
  for (; node; node = node->next) {
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      for (const xmlChar* p = node->content; p && *p; ++p) {
        char ch = static_cast<char>(*p);
        out += (ch == '\n' || ch == '\r') && !lines ? ' ' : ch;
      }
      continue;
    }
    if (node->type != XML_ELEMENT_NODE) continue;
    if (in_key && named(node, "opt")) continue;  // an optional part is no part of the key
    if (named(node, "br")) {
      out += '\n';
    } else if (named(node, "kref")) {
      out += '{';
      text_of(node->children, false, out);
      out += '}';
    } else if (named(node, "tr")) {
      out += " [";
      text_of(node->children, false, out);
      out += "] ";
    } else {
      bool block = is_block(node);
      if (block) out += '\n';
      text_of(node->children, lines, out, in_key);
      if (block) out += '\n';
    }
  }
}

// One article: its keys, then its text without them.
void add_article(Sink& sink, const xmlNode* ar, bool lines, const Where& where) {
  std::vector<std::string> keys;
  std::string text;
  for (const xmlNode* n = ar->children; n; n = n->next) {
    if (named(n, "k")) {
      std::string key;
      text_of(n->children, false, key, true);
      std::string flat;
      flatten(key, " ", flat);
      if (!flat.empty()) keys.push_back(flat);
      continue;
    }
    xmlNode* next = n->next;  // the text of this child alone
    const_cast<xmlNode*>(n)->next = nullptr;
    text_of(n, lines, text);
    const_cast<xmlNode*>(n)->next = next;
  }
  if (keys.empty()) return skip_entry(sink, where, "", "an article without a key (<k>)");
  add_entry(sink, keys[0], text, where);
  for (size_t i = 1; i < keys.size(); ++i) add_form(sink, keys[i], keys[0], where);
}

struct FreeReader {
  void operator()(xmlTextReaderPtr r) const { xmlFreeTextReader(r); }
};

void quiet(void*, const char*, ...) {}

void read_articles(xmlTextReaderPtr reader, const std::string& name, Sink& sink) {
  bool lines = true;  // the visual format unless the root says logical
  int status = xmlTextReaderRead(reader);
  while (status == 1) {
    const char* element = reinterpret_cast<const char*>(xmlTextReaderConstName(reader));
    bool is_element = xmlTextReaderNodeType(reader) == XML_READER_TYPE_ELEMENT;
    if (is_element && std::strcmp(element, "xdxf") == 0) {
      xmlChar* format = xmlTextReaderGetAttribute(reader, BAD_CAST "format");
      lines = !format || std::strcmp(reinterpret_cast<char*>(format), "logical") != 0;
      xmlFree(format);
    }
    bool title = std::strcmp(element, "full_name") == 0 || std::strcmp(element, "full_title") == 0;
    if (!is_element || (!title && std::strcmp(element, "ar") != 0)) {
      status = xmlTextReaderRead(reader);
      continue;
    }
    // An article or the title, expanded alone, then passed over.
    Where where{&name, xmlTextReaderGetParserLineNumber(reader), true};
    xmlNode* node = xmlTextReaderExpand(reader);
    if (!node) {
      status = -1;
      break;
    }
    if (title) {
      std::string text;
      text_of(node->children, false, text);
      if (sink.title.empty()) flatten(text, " ", sink.title);
    } else {
      add_article(sink, node, lines, where);
    }
    status = xmlTextReaderNext(reader);
  }
  if (status < 0) {
    const xmlError* error = xmlGetLastError();
    std::string message = error && error->message ? error->message : "not well-formed XML";
    while (!message.empty() && message.back() == '\n') message.pop_back();
    die("%s:%d: %s", name.c_str(), error ? error->line : 0, message.c_str());
  }
}

}  // namespace

void read_xdxf_text(const TextFile& file, Sink& sink) {
  if (file.data.size() > INT_MAX) die("%s: too large to read from memory", file.name.c_str());
  xmlSetGenericErrorFunc(nullptr, quiet);
  std::unique_ptr<xmlTextReader, FreeReader> reader(xmlReaderForMemory(
      file.data.data(), static_cast<int>(file.data.size()), file.name.c_str(), nullptr,
      XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!reader) throw std::bad_alloc();
  read_articles(reader.get(), file.name, sink);
}

void import_xdxf(const std::string& path, Sink& sink) {
  if (!file_exists(path)) die("cannot open '%s': %s", path.c_str(), std::strerror(ENOENT));
  xmlSetGenericErrorFunc(nullptr, quiet);
  // libxml2 expands gzip files (.xdxf.dz) itself as it reads them.
  std::unique_ptr<xmlTextReader, FreeReader> reader(
      xmlReaderForFile(path.c_str(), nullptr,
                       XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!reader) die("cannot open '%s'", path.c_str());
  read_articles(reader.get(), path, sink);
}

}  // namespace zelk::import
