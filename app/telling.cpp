#include "app/telling.h"

#include <string>

#include "db/errors.h"
#include "forms/facade.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace app {

bool unreachable(int code) { return code == db::kHardware; }

std::string causeText(int code) {
  if (unreachable(code))
    return GBK("共享文件夹暂时无法访问（") + std::string(db::errorText(code)) + GBK("），请检查网络后重试");
  if (code == db::kLockViolation || code == db::kSharingViolation || code == db::kLockFailed)
    return db::errorText(code) + std::string(GBK("（该表正被其他工作站使用，请稍后再试）"));
  return db::errorText(code);
}

void tellFailure(const std::string& gbkWhat, int code, const char* gbkState) {
  const std::string text = gbkWhat + GBK("：") + causeText(code) + GBK("。") + gbkState;
  tell(text.c_str());
}

void tell(const char* gbk) { cmd::ShowMessage(gbk); }

bool toldChangedElsewhere() {
  if (db::lastError() != db::kNoRecord) return false;
  tell(GBK("该记录已被其他工作站改动或删除，请重新选择后再操作。"));
  return true;
}

bool confirm(const char* gbk) { return cmd::ShowMessage(gbk, int(rt::mb::kOkCancel)) == rt::kOk; }

void tellNotUsed(const TableUse& use, const NotUsedTexts& texts) {
  switch (use.outcome) {
    case TableUse::Outcome::kCurrent:
      return;
    case TableUse::Outcome::kOtherLayout: {
      const std::string text = texts.otherLayout + GBK("。") + texts.nothingDone;
      tell(text.c_str());
      return;
    }
    case TableUse::Outcome::kNotCreated:
      tellFailure(texts.notCreated.empty() ? texts.notOpened : texts.notCreated, use.code, texts.nothingDone.c_str());
      return;
    case TableUse::Outcome::kNotOpened:
      tellFailure(texts.notOpened, use.code, texts.nothingDone.c_str());
      return;
  }
}

bool useTableOrTell(const std::string& name, const UseOptions& options, const NotUsedTexts& texts) {
  const TableUse use = useTable(name, options);
  tellNotUsed(use, texts);
  return use.ok();
}

}  // namespace app
