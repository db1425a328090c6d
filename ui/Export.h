// The settings report: every setting the tool manages, as a text file.
//
// BuildReport renders the report from the catalogue's objects and grids, as
// they stand, into the bytes of the file (code page 1251, every line ended
// by CR LF). It reads nothing from the unit and writes no file; the export
// action of the main window first has the tabs loaded, then hands the bytes
// to a TReportFile.
//
// ExportSettings is the action of "Экспорт настроек в файл..." in the main
// window.
//
// The report's file is a TReportFile (collections/ReportFile.h), made for a
// file that holds a password: the chosen file is replaced only by a whole
// report, and only when every value of it was read.
#pragma once

#include <string>

#include "collections/ReportFile.h"
#include "unit/Unit.h"

namespace kv {

class TCatalogue;
class TForm1;

// The start of the message of an export that wrote nothing.
constexpr const char* kReportNotWritten = "Отчёт не записан: ";

// The report's bytes. `mode` is the session's mode: in system mode (3) the
// system parameters, the greeting replacement and the service messages are
// written; otherwise each of those sections is the line
// "Недоступны (режим администратора)".
std::string BuildReport(TCatalogue& catalogue, int mode);

// The export on a unit: reads every tab not read since the connection, in
// the order Numbers, Greetings, Time, Menu, Mail, System parameters, Message
// replacement (the last two only in system mode), and then commits the
// report into `file`. When any read failed or the session dropped on the
// way, nothing is written (the chosen file stays as it was) and the
// outcome says why, its message beginning with kReportNotWritten. A write
// that fails sets `fileError` (the outcome is then Done). UI thread.
TOutcome ExportReport(TUnit& unit, TReportFile& file, std::string& fileError);
// The same reads and the same outcome, the report's bytes into `report`
// (left empty unless the outcome is Done): for a report that goes elsewhere
// than a file, such as kvbackup's standard output.
TOutcome ExportReportText(TUnit& unit, std::string& report);

// "Экспорт настроек в файл...": the save dialog (a cancel ends it), the new
// file (an error message and the end when it cannot be made, before the
// window turns busy), then, busy, ExportReport; a report not written and a
// failed write each show one message. UI thread.
void ExportSettings(TForm1& form);

}  // namespace kv
