// StarDict dictionaries: NAME.ifo (what the others hold), NAME.idx or
// NAME.idx.gz (each word with the offset and size of its data), NAME.dict or
// NAME.dict.dz (the data), and NAME.syn (synonyms pointing into .idx, which
// point at their word). Markup fields (HTML, Pango, XDXF) become text.
#include <cstring>
#include <map>

#include "format/byteorder.h"
#include "sources/formats.h"
#include "sources/markup.h"
#include "text/lines.h"
#include "text/utf8.h"
#include "toolkit/error.h"

namespace zelk::sources {

namespace {

struct TextFile {
  std::string name;
  std::string_view data;
};

struct Ifo {
  std::string version;
  long long wordcount = -1;
  long long synwordcount = -1;
  long long idxfilesize = -1;
  int offset_bits = 32;
  std::string types;  // sametypesequence, or empty
  std::string bookname;
};

long long ifo_number(const TextFile& ifo, long line_no, std::string_view key,
                     std::string_view value) {
  long long v = value.empty() || value.size() > 15 ? -1 : 0;
  for (size_t i = 0; i < value.size() && v >= 0; ++i) {
    v = value[i] >= '0' && value[i] <= '9' ? v * 10 + (value[i] - '0') : -1;
  }
  if (v < 0) {
    die("%s:%ld: %.*s=%s is not a number", ifo.name.c_str(), line_no, static_cast<int>(key.size()),
        key.data(), quote(value).c_str());
  }
  return v;
}

Ifo parse_ifo(const TextFile& ifo) {
  std::string_view text = ifo.data;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  Ifo info;
  LineWalk walk{text};
  std::string_view line;
  while (next_line(walk, &line)) {
    long line_no = walk.number;
    if (line_no == 1) {
      if (line != "StarDict's dict ifo file") {
        die("%s:1: not a StarDict .ifo file (it must start with \"StarDict's dict ifo file\")",
            ifo.name.c_str());
      }
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "bookname") {
      info.bookname = value;
    } else if (key == "version") {
      info.version = value;
      if (value != "2.4.2" && value != "3.0.0") {
        die("%s:%ld: version %s is not one this reader knows (2.4.2 or 3.0.0)", ifo.name.c_str(),
            line_no, quote(value).c_str());
      }
    } else if (key == "wordcount") {
      info.wordcount = ifo_number(ifo, line_no, key, value);
    } else if (key == "synwordcount") {
      info.synwordcount = ifo_number(ifo, line_no, key, value);
    } else if (key == "idxfilesize") {
      info.idxfilesize = ifo_number(ifo, line_no, key, value);
    } else if (key == "idxoffsetbits") {
      long long bits = ifo_number(ifo, line_no, key, value);
      if (bits != 32 && bits != 64) {
        die("%s:%ld: idxoffsetbits=%lld (32 or 64 expected)", ifo.name.c_str(), line_no, bits);
      }
      info.offset_bits = static_cast<int>(bits);
    } else if (key == "sametypesequence") {
      info.types = value;
    }
  }
  if (walk.number == 0) die("%s: empty file", ifo.name.c_str());
  if (info.version.empty()) die("%s: no version=", ifo.name.c_str());
  if (info.wordcount < 0) die("%s: no wordcount=", ifo.name.c_str());
  if (info.idxfilesize < 0) die("%s: no idxfilesize=", ifo.name.c_str());
  return info;
}

// A 32- or 64-bit field.
uint64_t big_endian(const char* p, int bytes) { return bytes == 8 ? get_quad(p) : get_long(p); }

struct Word {
  std::string_view word;
  uint64_t offset;
  uint64_t size;
};

std::vector<Word> parse_idx(const TextFile& idx, const Ifo& info) {
  if (static_cast<long long>(idx.data.size()) != info.idxfilesize) {
    die("%s: %zu bytes, but the .ifo says idxfilesize=%lld", idx.name.c_str(), idx.data.size(),
        info.idxfilesize);
  }
  const int offset_bytes = info.offset_bits / 8;
  std::vector<Word> words;
  words.reserve(static_cast<size_t>(std::min<long long>(info.wordcount, 1 << 24)));
  std::string_view d = idx.data;
  size_t pos = 0;
  while (pos < d.size()) {
    long number = static_cast<long>(words.size()) + 1;
    size_t nul = d.find('\0', pos);
    if (nul == std::string_view::npos) {
      die("%s: entry %ld: word without its closing NUL byte", idx.name.c_str(), number);
    }
    std::string_view word = d.substr(pos, nul - pos);
    pos = nul + 1;
    if (d.size() - pos < static_cast<size_t>(offset_bytes) + 4) {
      die("%s: entry %ld %s: cut short (offset and size missing)", idx.name.c_str(), number,
          quote(word).c_str());
    }
    uint64_t offset = big_endian(d.data() + pos, offset_bytes);
    uint64_t size = big_endian(d.data() + pos + offset_bytes, 4);
    pos += static_cast<size_t>(offset_bytes) + 4;
    words.push_back(Word{word, offset, size});
  }
  if (static_cast<long long>(words.size()) != info.wordcount) {
    die("%s: %zu words, but the .ifo says wordcount=%lld", idx.name.c_str(), words.size(),
        info.wordcount);
  }
  return words;
}

bool is_binary_type(char type) { return type == 'r' || (type >= 'A' && type <= 'Z'); }
bool is_markup_type(char type) { return type == 'h' || type == 'g' || type == 'x' || type == 'w'; }

// The text of one word's data: its text fields joined by line breaks,
// markup turned into text; error says why when the data is malformed.
struct Fields {
  std::string text;
  bool any_text = false;
  std::string error;
};

void add_field(Fields& f, char type, std::string_view body, bool read_markup) {
  if (is_binary_type(type)) return;
  if (f.any_text) f.text += '\n';
  f.any_text = true;
  if (read_markup && is_markup_type(type) && utf8_valid_prefix(body) == body.size()) {
    f.text += markup_to_text(body);
  } else {
    f.text += body;
  }
}

// read_markup: markup fields are turned into text, else kept as they are.
Fields parse_data(std::string_view data, const std::string& types, bool read_markup) {
  Fields f;
  size_t pos = 0;
  auto take = [&](char type, bool last) -> bool {
    if (type >= 'a' && type <= 'z') {
      size_t nul = data.find('\0', pos);
      if (nul == std::string_view::npos) {
        if (!last) {
          f.error = std::string("field '") + type + "' without its closing NUL byte";
          return false;
        }
        nul = data.size();
      }
      add_field(f, type, data.substr(pos, nul - pos), read_markup);
      pos = nul < data.size() ? nul + 1 : nul;
    } else if (type >= 'A' && type <= 'Z') {
      size_t size;
      if (last && !types.empty()) {
        size = data.size() - pos;
      } else {
        if (data.size() - pos < 4) {
          f.error = std::string("field '") + type + "' without its size";
          return false;
        }
        size = big_endian(data.data() + pos, 4);
        pos += 4;
        if (size > data.size() - pos) {
          f.error = std::string("field '") + type + "' longer than the data";
          return false;
        }
      }
      add_field(f, type, data.substr(pos, size), read_markup);
      pos += size;
    } else {
      f.error = std::string("unknown field type ") + quote(std::string_view(&type, 1));
      return false;
    }
    return true;
  };
  if (!types.empty()) {
    for (size_t i = 0; i < types.size(); ++i) {
      // With sametypesequence, the last field's text runs to the end.
      bool last = i + 1 == types.size();
      if (last && types[i] >= 'a' && types[i] <= 'z') {
        add_field(f, types[i], data.substr(pos), read_markup);
        pos = data.size();
        break;
      }
      if (!take(types[i], last)) return f;
    }
  } else {
    while (pos < data.size()) {
      char type = data[pos++];
      if (!take(type, false)) return f;
    }
  }
  return f;
}

void read_parts(const TextFile& ifo, const TextFile& idx, const TextFile& dict, const TextFile& syn,
                const Source& source, Emit& emit) {
  Ifo info = parse_ifo(ifo);
  flatten_blanks(info.bookname, emit.title);
  std::vector<Word> words = parse_idx(idx, info);
  const bool read_markup = option(source, "markup") != "none";
  Decoder decoder;
  open_decoder(decoder, source.reading.from, source.reading.stray);
  std::string key_buf, value_buf;
  std::vector<char> usable(words.size(), 0);
  for (size_t i = 0; i < words.size(); ++i) {
    const Word& w = words[i];
    Where where{&idx.name, static_cast<long>(i) + 1, false};
    if (w.offset > dict.data.size() || w.size > dict.data.size() - w.offset) {
      die("%s: bytes %llu to %llu are past the end of %s (%zu bytes)",
          describe(where, w.word).c_str(), static_cast<unsigned long long>(w.offset),
          static_cast<unsigned long long>(w.offset + w.size), dict.name.c_str(), dict.data.size());
    }
    Fields f = parse_data(dict.data.substr(w.offset, w.size), info.types, read_markup);
    if (!f.error.empty()) {
      die("%s: %s in its data in %s", describe(where, w.word).c_str(), f.error.c_str(),
          dict.name.c_str());
    }
    if (!f.any_text) {
      skip(emit, where, w.word, "no text (binary data only)");
      continue;
    }
    usable[i] = 1;
    add_entry(emit, decode_piece(decoder, w.word, key_buf, emit.damage, where),
              decode_piece(decoder, f.text, value_buf, emit.damage, where), where);
  }
  if (syn.data.empty()) return flush(emit);
  std::string_view d = syn.data;
  size_t pos = 0;
  long count = 0;
  while (pos < d.size()) {
    ++count;
    Where where{&syn.name, count, false};
    size_t nul = d.find('\0', pos);
    if (nul == std::string_view::npos || d.size() - nul - 1 < 4) {
      die("%s: cut short", describe(where).c_str());
    }
    std::string_view word = d.substr(pos, nul - pos);
    uint64_t target = big_endian(d.data() + nul + 1, 4);
    pos = nul + 5;
    if (target >= words.size()) {
      die("%s: points to word %llu, but %s has %zu words", describe(where, word).c_str(),
          static_cast<unsigned long long>(target), idx.name.c_str(), words.size());
    }
    if (!usable[target]) {
      skip(emit, where, word, "a synonym of a word without text");
      continue;
    }
    std::string headword(decode_piece(decoder, words[target].word, value_buf, emit.damage, where));
    add_form(emit, decode_piece(decoder, word, key_buf, emit.damage, where), headword, where);
  }
  if (info.synwordcount >= 0 && count != info.synwordcount) {
    die("%s: %ld synonyms, but the .ifo says synwordcount=%lld", syn.name.c_str(), count,
        info.synwordcount);
  }
  flush(emit);
}

void read_stardict(const Source& source, Emit& emit) {
  const std::string& ifo_path = source.path;
  std::string base = ifo_path;
  if (base.ends_with(".ifo")) base.resize(base.size() - 4);
  auto pick = [&](std::initializer_list<const char*> suffixes, bool required) {
    for (const char* s : suffixes) {
      if (file_exists(base + s)) return base + s;
    }
    if (required) {
      die("%s: no %s%s beside it", ifo_path.c_str(), base.c_str(), *suffixes.begin());
    }
    return std::string();
  };
  std::string idx_path = pick({".idx", ".idx.gz"}, true);
  std::string dict_path = pick({".dict.dz", ".dict"}, true);
  std::string syn_path = pick({".syn", ".syn.gz", ".syn.dz"}, false);
  Bytes ifo = read_all(ifo_path);
  Bytes idx = read_all(idx_path);
  Bytes dict = read_all(dict_path);
  Bytes syn = syn_path.empty() ? Bytes() : read_all(syn_path);
  emit.expected = idx.size() + dict.size() + syn.size();
  read_parts(TextFile{ifo_path, view(ifo)}, TextFile{idx_path, view(idx)},
             TextFile{dict_path, view(dict)}, TextFile{syn_path, view(syn)}, source, emit);
}

bool sniff_stardict(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  return head.starts_with("StarDict's dict ifo file");
}

}  // namespace

extern const Format kStardict{
    "stardict",
    "StarDict dictionaries: NAME.ifo beside NAME.idx (or .idx.gz), NAME.dict (or .dict.dz) and "
    "NAME.syn",
    {".ifo"},
    {".idx", ".idx.gz", ".dict.dz", ".dict", ".syn", ".syn.gz", ".syn.dz"},
    ".ifo",
    sniff_stardict,
    {markup_option()},
    read_stardict};

}  // namespace zelk::sources
