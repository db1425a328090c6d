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
// The report's file: TReportFile (collections/ReportFile.h), made for a file
// that holds a password.
#pragma once

#include <string>

#include "collections/ReportFile.h"

namespace kv {

class TCatalogue;
class TForm1;

// The report's bytes. `mode` is the session's mode: in system mode (3) the
// system parameters, the greeting replacement and the service messages are
// written; otherwise each of those sections is the line
// "Недоступны (режим администратора)".
std::string BuildReport(TCatalogue& catalogue, int mode);

// "Экспорт настроек в файл...": the save dialog (a cancel ends it), the new
// file (an error message and the end when it cannot be made, before the
// window turns busy), then, busy, the load action of every tab not yet read
// since the connection, in the order Numbers, Greetings, Time, Menu, Mail,
// System parameters, Message replacement (the last two only in system mode,
// by their own rule), waiting for the worker after each; the loads stop
// once the session has left the connected modes. Then the report, as the
// objects hold it, in place of the chosen file; a failed write shows its
// message. UI thread.
void ExportSettings(TForm1& form);

}  // namespace kv
