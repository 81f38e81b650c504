#pragma once
// Tuning files as text, for scripts and version control: JSON or CSV of the tables a file
// holds, and back.
#include <QByteArray>
#include <stdexcept>
#include <string>
#include <vector>

#include "Controls.h"

// Text that cannot become a tuning file; the message names the place.
class TuningTextError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The tables as one JSON object: "edition" ("2" or "3"), "programs" with "P1" to "P9", each
// with "CH1" to "CH3" (rows "RPM", "CORR", "PRESS", "MULTI%", 16 values each) and "FUEL%"
// (16 values), and "configuration" (16 values; one on the 2-channel box). Every cell must
// hold a whole number.
QByteArray TablesToJson(FormControls& form, char edition);

// The same tables, one CSV line per table row: program, table, row label, 16 values; then
// "configuration" and its values.
QByteArray TablesToCsv(FormControls& form, char edition);

// Reads JSON written by TablesToJson into the tables and returns its edition. Every value
// must be a whole number within what the box stores for it; the first that is not, or a
// missing part, throws TuningTextError and the tables are left as they were.
char JsonToTables(const QByteArray& json, FormControls& form);

// Reads CSV written by TablesToCsv the same way: one line per table row, in any order, each
// row once; the configuration's 16 values or 1 value give the edition. Tabs or semicolons in
// place of the commas, quoted fields, CR LF and blank lines at the end are taken too. The
// message names the line at fault, or the row that has none.
char CsvToTables(const QByteArray& csv, FormControls& form);

// JSON when the text starts with "{" or "[" (after blanks), CSV otherwise.
char TextToTables(const QByteArray& text, FormControls& form);
