#include "zelkimport/markup.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <climits>
#include <cstring>
#include <mutex>

namespace zelk::import {

namespace {

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

void walk(const xmlNode* node, std::string& out) {
  for (; node; node = node->next) {
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      // Line breaks in markup text are mere blanks.
      for (const xmlChar* p = node->content; p && *p; ++p) {
        out += (*p == '\n' || *p == '\r') ? ' ' : static_cast<char>(*p);
      }
    } else if (node->type == XML_ELEMENT_NODE) {
      if (is_named(node, {"script", "style", "head"})) continue;
      bool block = breaks_line(node);
      if (block) out += '\n';
      walk(node->children, out);
      if (block) out += '\n';
    }
  }
}

void quiet(void*, const char*, ...) {}

}  // namespace

std::string markup_to_text(std::string_view markup) {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetGenericErrorFunc(nullptr, quiet);
  });
  if (markup.empty()) return {};
  if (markup.size() > INT_MAX) return std::string(markup);
  // A leading text-only fragment would otherwise be wrapped in <p>: that
  // changes nothing here, since surrounding breaks are trimmed.
  htmlDocPtr doc = htmlReadMemory(
      markup.data(), static_cast<int>(markup.size()), nullptr, "UTF-8",
      HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
  std::string out;
  if (!doc) return out;
  walk(xmlDocGetRootElement(doc), out);
  xmlFreeDoc(doc);
  return out;
}

}  // namespace zelk::import
