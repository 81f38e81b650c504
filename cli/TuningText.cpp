#include "TuningText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <map>

#include "Conversions.h"
#include "MemoryForm.h"
#include "RangeText.h"
#include "StoredValues.h"

namespace {

const char* const kChannels[3] = {"CH1", "CH2", "CH3"};
const char* const kRows[4] = {"RPM", "CORR", "PRESS", "MULTI%"};

QJsonArray RowValues(TextGrid& grid, int row, int first, int count) {
    QJsonArray values;
    for (int col = first; col < first + count; ++col) values.append(StrToInt(grid.Cell(col, row)));
    return values;
}

void CheckEdition(char edition) {
    if (edition != '2' && edition != '3')
        throw TuningTextError("The edition must be \"2\" or \"3\".");
}

std::string RangeRule(int64_t low, int64_t high) {
    return " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
           ".";
}

// Writes one JSON row of values into a grid row, checking each against its range.
void ReadRow(const QJsonValue& value, const QString& place, int count, int64_t low, int64_t high,
             std::vector<std::string>& out) {
    if (!value.isArray() || value.toArray().size() != count) {
        throw TuningTextError(place.toStdString() + " must be a list of " + std::to_string(count) +
                              " whole numbers.");
    }
    const QJsonArray values = value.toArray();
    for (int k = 0; k < count; ++k) {
        const double number = values[k].toDouble(NAN);
        if (!values[k].isDouble() || std::floor(number) != number || number < low ||
            number > high) {
            throw TuningTextError(place.toStdString() + " value " + std::to_string(k + 1) +
                                  RangeRule(low, high));
        }
        out.push_back(std::to_string(static_cast<int64_t>(number)));
    }
}

// The checked texts, in the order below, into the tables: P1..P9, each CH1, CH2, CH3 row by
// row and FUEL%; then the configuration.
void WriteTables(FormControls& form, char edition, const std::vector<std::string>& texts) {
    size_t at = 0;
    for (int program = 1; program <= 9; ++program) {
        for (int table = 0; table < 4; ++table) {
            TextGrid& grid = form.ProgramGrid(program, static_cast<ProgramTable>(table));
            for (int row = 0; row < (table == 3 ? 1 : 4); ++row) {
                for (int col = 1; col <= 16; ++col) grid.SetCell(col, row, texts[at++]);
            }
        }
    }
    TextGrid& config = form.GridByName(Grid::StrGridConfig);
    for (int col = 0; col < ConfigCells(edition); ++col) config.SetCell(col, 0, texts[at++]);
}

// A CSV line's first three fields as a table row: program 1..9 or 0 for the configuration,
// table 0..3 (CH1..CH3, FUEL%), row 0..3. False for fields that name none.
struct CsvRow {
    int program = 0;
    int table = 0;
    int row = 0;
    auto operator<=>(const CsvRow&) const = default;
};

bool ParseCsvRow(const std::vector<std::string>& fields, CsvRow& place) {
    if (fields[0] == "configuration") {
        place = {};
        return fields[1].empty() && fields[2].empty();
    }
    if (fields[0].size() != 2 || fields[0][0] != 'P' || fields[0][1] < '1' || fields[0][1] > '9')
        return false;
    place.program = fields[0][1] - '0';
    if (fields[1] == "FUEL%") {
        place.table = 3;
        place.row = 0;
        return fields[2] == "FUEL%";
    }
    for (int ch = 0; ch < 3; ++ch) {
        if (fields[1] != kChannels[ch]) continue;
        place.table = ch;
        for (int row = 0; row < 4; ++row) {
            if (fields[2] != kRows[row]) continue;
            place.row = row;
            return true;
        }
    }
    return false;
}

std::string CsvRowName(const CsvRow& place) {
    if (place.program == 0) return "configuration";
    const std::string program = "P" + std::to_string(place.program);
    if (place.table == 3) return program + " FUEL%";
    return program + ' ' + kChannels[place.table] + ' ' + kRows[place.row];
}

}  // namespace

QByteArray TablesToJson(FormControls& form, char edition) {
    CheckEdition(edition);
    QJsonObject programs;
    for (int program = 1; program <= 9; ++program) {
        QJsonObject tables;
        for (int ch = 0; ch < 3; ++ch) {
            TextGrid& grid = form.ProgramGrid(program, static_cast<ProgramTable>(ch));
            QJsonObject rows;
            for (int row = 0; row < 4; ++row) rows[kRows[row]] = RowValues(grid, row, 1, 16);
            tables[kChannels[ch]] = rows;
        }
        tables["FUEL%"] = RowValues(form.ProgramGrid(program, ProgramTable::Fuel), 0, 1, 16);
        programs[QStringLiteral("P%1").arg(program)] = tables;
    }
    QJsonObject root;
    root["edition"] = QString(QChar(edition));
    root["programs"] = programs;
    root["configuration"] =
        RowValues(form.GridByName(Grid::StrGridConfig), 0, 0, ConfigCells(edition));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray TablesToCsv(FormControls& form, char edition) {
    CheckEdition(edition);
    QByteArray csv;
    const auto line = [&](const QString& lead, TextGrid& grid, int row, int first, int count) {
        csv += lead.toUtf8();
        for (int col = first; col < first + count; ++col)
            csv += ',' + QByteArray::number(StrToInt(grid.Cell(col, row)));
        csv += '\n';
    };
    for (int program = 1; program <= 9; ++program) {
        for (int ch = 0; ch < 3; ++ch) {
            TextGrid& grid = form.ProgramGrid(program, static_cast<ProgramTable>(ch));
            for (int row = 0; row < 4; ++row)
                line(QStringLiteral("P%1,%2,%3").arg(program).arg(kChannels[ch], kRows[row]), grid,
                     row, 1, 16);
        }
        line(QStringLiteral("P%1,FUEL%,FUEL%").arg(program),
             form.ProgramGrid(program, ProgramTable::Fuel), 0, 1, 16);
    }
    line(QStringLiteral("configuration,,"), form.GridByName(Grid::StrGridConfig), 0, 0,
         ConfigCells(edition));
    return csv;
}

char JsonToTables(const QByteArray& json, FormControls& form) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        throw TuningTextError("Not a JSON object: " + error.errorString().toStdString() +
                              " at byte " + std::to_string(error.offset) + ".");
    }
    const QJsonObject root = document.object();
    const QString editionText = root["edition"].toString();
    if (editionText != "2" && editionText != "3")
        throw TuningTextError("\"edition\" must be \"2\" or \"3\".");
    const char edition = editionText[0].toLatin1();
    const QJsonObject programs = root["programs"].toObject();

    // Everything is read and checked before the first table changes.
    std::vector<std::string> texts;
    for (int program = 1; program <= 9; ++program) {
        const QString name = QStringLiteral("P%1").arg(program);
        const QJsonObject tables = programs[name].toObject();
        for (int ch = 0; ch < 3; ++ch) {
            const QJsonObject rows = tables[kChannels[ch]].toObject();
            for (int row = 0; row < 4; ++row) {
                ReadRow(rows[kRows[row]], name + ' ' + kChannels[ch] + ' ' + kRows[row], 16,
                        kMapValueRange.low, kMapValueRange.high, texts);
            }
        }
        ReadRow(tables["FUEL%"], name + " FUEL%", 16, kMapValueRange.low, kMapValueRange.high,
                texts);
    }
    ReadRow(root["configuration"], QStringLiteral("configuration"), ConfigCells(edition),
            ConfigRange(edition).low, ConfigRange(edition).high, texts);

    WriteTables(form, edition, texts);
    return edition;
}

char CsvToTables(const QByteArray& csv, FormControls& form) {
    const RangeBlock lines = SplitRangeText(csv.toStdString());
    const auto refuse = [](size_t line, const std::string& why) {
        throw TuningTextError("Line " + std::to_string(line) + " of the CSV: " + why);
    };
    // Where each table row's line is (numbered from 1).
    std::map<CsvRow, size_t> found;
    for (size_t k = 0; k < lines.size(); ++k) {
        const std::vector<std::string>& fields = lines[k];
        CsvRow place;
        if (fields.size() < 3 || !ParseCsvRow(fields, place)) {
            refuse(k + 1,
                   "\"" + fields[0] + (fields.size() > 1 ? "," + fields[1] : std::string()) +
                       (fields.size() > 2 ? "," + fields[2] : std::string()) +
                       "\" names no table row (such as \"P1,CH1,RPM\", \"P1,FUEL%,FUEL%\" or "
                       "\"configuration,,\").");
        }
        const auto [at, added] = found.emplace(place, k + 1);
        if (!added)
            refuse(k + 1, CsvRowName(place) + " comes a second time (first in line " +
                              std::to_string(at->second) + ").");
    }

    // The configuration's length tells the edition.
    const auto config = found.find(CsvRow{});
    if (config == found.end()) throw TuningTextError("The CSV has no configuration line.");
    const size_t configValues = lines[config->second - 1].size() - 3;
    if (configValues != 16 && configValues != 1) {
        refuse(config->second, "the configuration has " + std::to_string(configValues) +
                                   " values; it has 16 (3-channel box) or 1 (2-channel box).");
    }
    const char edition = configValues == 16 ? '3' : '2';

    // Everything is read and checked before the first table changes.
    std::vector<std::string> texts;
    const auto read = [&](const CsvRow& place, size_t count, int64_t low, int64_t high) {
        const auto at = found.find(place);
        if (at == found.end())
            throw TuningTextError("The CSV has no line for " + CsvRowName(place) + ".");
        const std::vector<std::string>& fields = lines[at->second - 1];
        if (fields.size() - 3 != count) {
            refuse(at->second, CsvRowName(place) + " has " + std::to_string(fields.size() - 3) +
                                   " values; it must have " + std::to_string(count) + ".");
        }
        for (size_t v = 0; v < count; ++v) {
            int32_t value = 0;
            if (!TryStrToInt(fields[3 + v], value) || value < low || value > high) {
                refuse(at->second, CsvRowName(place) + " value " + std::to_string(v + 1) + " (\"" +
                                       fields[3 + v] + "\")" + RangeRule(low, high));
            }
            texts.push_back(std::to_string(value));
        }
    };
    for (int program = 1; program <= 9; ++program) {
        for (int table = 0; table < 4; ++table) {
            for (int row = 0; row < (table == 3 ? 1 : 4); ++row)
                read({program, table, row}, 16, kMapValueRange.low, kMapValueRange.high);
        }
    }
    read(CsvRow{}, configValues, ConfigRange(edition).low, ConfigRange(edition).high);
    WriteTables(form, edition, texts);
    return edition;
}

char TextToTables(const QByteArray& text, FormControls& form) {
    const QByteArray start = text.trimmed().left(1);
    return start == "{" || start == "[" ? JsonToTables(text, form) : CsvToTables(text, form);
}
