#include "Recovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include "SaveFile.h"
#include "TuningFile.h"

namespace {

QJsonArray Strings(const std::vector<QString>& texts) {
    QJsonArray array;
    for (const QString& text : texts) array.append(text);
    return array;
}

std::vector<QString> Strings(const QJsonValue& value) {
    std::vector<QString> texts;
    for (const QJsonValue& text : value.toArray()) texts.push_back(text.toString());
    return texts;
}

QJsonArray Settings(const std::array<QString, 3>& settings) {
    return QJsonArray{settings[0], settings[1], settings[2]};
}

std::array<QString, 3> Settings(const QJsonValue& value) {
    const QJsonArray array = value.toArray();
    return {array.at(0).toString(), array.at(1).toString(), array.at(2).toString()};
}

// A recovery file is a few tens of kilobytes; anything far larger is no recovery file.
constexpr qint64 kLargest = 4 * 1024 * 1024;

}  // namespace

QString RecoveryStore::Path() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/corvane-zel/recovery.json");
}

void RecoveryStore::Write(const RecoveryState& state) {
    QJsonArray tables;
    for (const RecoveryState::Table& table : state.tables) {
        tables.append(QJsonObject{{QStringLiteral("name"), table.name},
                                  {QStringLiteral("texts"), Strings(table.texts)},
                                  {QStringLiteral("baseline"), Strings(table.baseline)}});
    }
    QJsonObject root{
        {QStringLiteral("tables"), tables},
        {QStringLiteral("settings"), Settings(state.settings)},
        {QStringLiteral("origin"), static_cast<int>(state.origin.kind)},
        {QStringLiteral("originName"), state.origin.name},
        {QStringLiteral("originTime"), state.origin.when.toString(Qt::ISODate)},
        {QStringLiteral("changes"), state.changes},
        {QStringLiteral("lastChange"), state.lastChange.toString(Qt::ISODate)},
    };
    if (state.settingsBaseline)
        root.insert(QStringLiteral("settingsBaseline"), Settings(*state.settingsBaseline));
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Compact);
    QDir().mkpath(QFileInfo(Path()).absolutePath());
    SaveFileAtomically(Path(), std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::optional<RecoveryState> RecoveryStore::Read() {
    const QFileInfo info(Path());
    if (!info.isFile() || info.size() > kLargest) return std::nullopt;
    QFile file(Path());
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject()) return std::nullopt;
    const QJsonObject root = document.object();
    RecoveryState state;
    for (const QJsonValue& value : root.value(QStringLiteral("tables")).toArray()) {
        const QJsonObject table = value.toObject();
        state.tables.push_back({table.value(QStringLiteral("name")).toString(),
                                Strings(table.value(QStringLiteral("texts"))),
                                Strings(table.value(QStringLiteral("baseline")))});
    }
    if (state.tables.empty()) return std::nullopt;
    state.settings = Settings(root.value(QStringLiteral("settings")));
    if (root.contains(QStringLiteral("settingsBaseline")))
        state.settingsBaseline = Settings(root.value(QStringLiteral("settingsBaseline")));
    const int kind = root.value(QStringLiteral("origin")).toInt();
    if (kind >= 0 && kind <= static_cast<int>(TablesOrigin::Kind::Restored))
        state.origin.kind = static_cast<TablesOrigin::Kind>(kind);
    state.origin.name = root.value(QStringLiteral("originName")).toString();
    state.origin.when =
        QDateTime::fromString(root.value(QStringLiteral("originTime")).toString(), Qt::ISODate);
    state.changes = root.value(QStringLiteral("changes")).toInt();
    state.lastChange =
        QDateTime::fromString(root.value(QStringLiteral("lastChange")).toString(), Qt::ISODate);
    return state;
}

void RecoveryStore::Remove() {
    QFile::remove(Path());
}
