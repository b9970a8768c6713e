#include "platform/resource_strings.h"

#include <iterator>

namespace platform {
namespace {

struct Entry {
  ResString id;
  const char* text;
};

// Kept in the order of ResString, so a lookup is an index. The check below stops the
// build when an entry lands in the wrong place, instead of answering with a neighbour's text.
constexpr Entry kTable[] = {
    {ResString::MsgWarning, "Upozornění"},
    {ResString::MsgError, "Chyba"},
    {ResString::MsgInformation, "Informace"},
    {ResString::MsgConfirm, "Potvrzení"},
    {ResString::MsgButtonYes, "&Ano"},
    {ResString::MsgButtonNo, "&Ne"},
    {ResString::MsgButtonOK, "OK"},
    {ResString::MsgButtonCancel, "Storno"},
    {ResString::MsgButtonAbort, "&Přerušit"},
    {ResString::MsgButtonRetry, "&Znovu"},
    {ResString::MsgButtonIgnore, "&Ignorovat"},
    {ResString::MsgButtonAll, "&Všechno"},
    {ResString::MsgButtonNoToAll, "Ne &všem"},
    {ResString::MsgButtonYesToAll, "Ano &všem"},
    {ResString::MsgButtonHelp, "Nápo&věda"},
    {ResString::CopyButtonCaption, "&Kopírovat..."},
    {ResString::InterruptButtonCaption, "Přerušit"},
    {ResString::InterruptQuestion, "Chcete přerušit operaci?"},
    {ResString::RunReportHeading, "Při kopírování bylo zjištěno:"},
    {ResString::RunReportTable, "Tabulka %1 (%2):"},
    {ResString::RunReportWarning, "upozornění: %1"},
    {ResString::RunReportChanged, "změněno: %1"},
    {ResString::RunReportSkipped, "vynechané hodnoty: %1 (%2)"},
    {ResString::RunReportReplaced, "nahradila tabulku ze souboru %1"},
    {ResString::RunReportMore, "… a dalších %1"},
    {ResString::ProductKey, "\\Software\\KELVA\\ORBANE\\5.0"},
};

constexpr bool TableInOrder() {
  for (std::size_t i = 0; i < std::size(kTable); ++i)
    if (static_cast<std::size_t>(kTable[i].id) != i) return false;
  return true;
}
static_assert(TableInOrder(), "the string table must follow the order of ResString");

}  // namespace

std::string LoadResString(ResString id) {
  auto index = static_cast<std::size_t>(id);
  if (index >= std::size(kTable)) return {};
  return kTable[index].text;
}

}  // namespace platform
