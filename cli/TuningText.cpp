#include "TuningText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "Conversions.h"
#include "MemoryForm.h"

namespace {

const char* const kChannels[3] = {"CH1", "CH2", "CH3"};
const char* const kRows[4] = {"RPM", "CORR", "PRESS", "MULTI%"};

QJsonArray RowValues(TextGrid& grid, int row, int first, int count) {
    QJsonArray values;
    for (int col = first; col < first + count; ++col) values.append(StrToInt(grid.Cell(col, row)));
    return values;
}

int ConfigCells(char edition) {
    return edition == '3' ? 16 : 1;
}

void CheckEdition(char edition) {
    if (edition != '2' && edition != '3')
        throw TuningTextError("The edition must be \"2\" or \"3\".");
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
                                  " must be a whole number from " + std::to_string(low) + " to " +
                                  std::to_string(high) + ".");
        }
        out.push_back(std::to_string(static_cast<int64_t>(number)));
    }
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
                ReadRow(rows[kRows[row]], name + ' ' + kChannels[ch] + ' ' + kRows[row], 16, -32768,
                        32767, texts);
            }
        }
        ReadRow(tables["FUEL%"], name + " FUEL%", 16, -32768, 32767, texts);
    }
    ReadRow(root["configuration"], QStringLiteral("configuration"), ConfigCells(edition), 0,
            edition == '3' ? 65535 : 255, texts);

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
    return edition;
}
