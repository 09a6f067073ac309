// zelkdump's commands over a database held in memory. Each returns the exit
// status: 0 success, 1 a key not found or a damaged database, 2 usage.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "zelkdump/database.h"

namespace zelk {

struct DumpContext {
  const std::string& file;  // the database's name, for messages
  std::FILE* out;
  std::FILE* err;
};

int dump_info(const DumpContext& cx, const Database& db);
int dump_list(const DumpContext& cx, const Database& db);
int dump_lookup(const DumpContext& cx, const Database& db, const std::vector<std::string>& keys);
int dump_extract(const DumpContext& cx, const Database& db);
int dump_verify(const DumpContext& cx, const Database& db);

// Opens the database in data and runs command ("info", "list", "lookup",
// "extract" or "verify") on it.
int run_dump(const DumpContext& cx, const std::string& command,
             const std::vector<std::string>& keys, const unsigned char* data, size_t size);

// "record 3 at offset 0x1f4", "header", "record list entry 2", ...
std::string where(const Problem& p);

}  // namespace zelk
