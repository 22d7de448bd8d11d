// The window template block: its reader and its writer.
//
// Layout (all integers 32-bit little-endian, "text" = int32 length + bytes):
//   int32 n = 8 × windows; n/8 window ids; n/8 slots (zero); one window
//   record per id: int32, int32, text, text, int32 item count, int32 blob
//   size, item blob. The blob holds the item ids, the item offsets (from the
//   start of the item records) and the item records, each an int32 length
//   and a record body. Bodies and property blocks are described next to
//   the code that reads and writes them in template.cpp.
//
// The reader checks every length, count and offset against the bytes that
// are really there, so a damaged or hostile block gives a clean failure
// and never a read past its end or a huge allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "forms/model.h"

namespace forms {

// Parses a whole block into *out (replaced). On failure returns false,
// leaves *out empty and, when why is given, says what was wrong and where.
bool parseTemplates(const uint8_t* data, size_t size, TemplateData* out, std::string* why = nullptr);

// The block for this data. The inverse of parseTemplates for every value
// the block can carry; fields a kind's property block does not hold are
// not written (they come back with their defaults).
std::string serializeTemplates(const TemplateData& data);

// The program's own windows: the embedded block (template_block.h), parsed
// on first use and kept for the whole run. A block that does not parse
// ends the program through the fatal path ("载入窗口模板数据段出错!").
const TemplateData& templates();

// The step behind templates(): parses a block or takes the fatal path with
// "载入窗口模板数据段出错!". Never returns on a broken block.
TemplateData parseTemplatesOrDie(const uint8_t* data, size_t size);

}  // namespace forms
