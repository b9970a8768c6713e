// The program's string table: every user-interface text that a translator would change,
// in one place, fetched by number when it is used.
//
// Texts that are compared with each other (the copy button's idle caption) must both
// come from here, never from a literal, so that they cannot drift apart.
#pragma once

#include <string>

namespace platform {

enum class ResString {
  // Titles of the message dialog, by kind.
  MsgWarning,
  MsgError,
  MsgInformation,
  MsgConfirm,
  // Captions of the message dialog's buttons, in button-kind order.
  MsgButtonYes,
  MsgButtonNo,
  MsgButtonOK,
  MsgButtonCancel,
  MsgButtonAbort,
  MsgButtonRetry,
  MsgButtonIgnore,
  MsgButtonAll,
  MsgButtonNoToAll,
  MsgButtonYesToAll,
  MsgButtonHelp,
  // The main window.
  CopyButtonCaption,
  InterruptButtonCaption,
  InterruptQuestion,
  // The main window's report at the end of a run that changed or skipped something.
  RunReportHeading,
  RunReportTable,
  RunReportWarning,
  RunReportChanged,
  RunReportSkipped,
  RunReportReplaced,
  RunReportMore,
  // The product family's settings key, under the user's and the machine's roots.
  ProductKey,
};

// The text (UTF-8) of an entry.
std::string LoadResString(ResString id);

}  // namespace platform
