// The parsed form of the embedded block. Kept in its own file so that
// programs using only the reader and writer (the generator) do not need
// the block itself.
#include "forms/template.h"
#include "forms/template_block.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"

namespace forms {

TemplateData parseTemplatesOrDie(const uint8_t* data, size_t size) {
  TemplateData d;
  if (!parseTemplates(data, size, &d, nullptr)) rt::fatalError(GBK("载入窗口模板数据段出错!"));
  return d;
}

const TemplateData& templates() {
  static const TemplateData data = parseTemplatesOrDie(kTemplateBlock, kTemplateBlockSize);
  return data;
}

}  // namespace forms
