#include "EditHistory.h"

#include <QUndoCommand>

#include "Widgets.h"

namespace {

class TableStep : public QUndoCommand {
  public:
    TableStep(EditHistory& history, const QString& name, std::vector<CellEdit> edits)
        : QUndoCommand(name), history_(history), edits_(std::move(edits)) {}
    void undo() override { history_.Apply(edits_, false); }
    void redo() override {
        // The change is made when the step is pushed; only a later redo makes it again.
        if (std::exchange(first_, false)) return;
        history_.Apply(edits_, true);
    }

  private:
    EditHistory& history_;
    std::vector<CellEdit> edits_;
    bool first_ = true;
};

}  // namespace

EditHistory::EditHistory(std::vector<Table> tables, std::function<void(int)> shown, QObject* parent)
    : QObject(parent), tables_(std::move(tables)), shown_(std::move(shown)) {
    stack_.setUndoLimit(kSteps);
}

EditHistory::Snapshot EditHistory::Take() const {
    Snapshot snapshot;
    snapshot.reserve(tables_.size());
    for (const Table& table : tables_) {
        const CellModel& model = table.text->Model();
        std::vector<QString> texts;
        texts.reserve(static_cast<size_t>(table.text->ColCount() * table.text->RowCount()));
        for (int row = 0; row < table.text->RowCount(); ++row) {
            for (int col = 0; col < table.text->ColCount(); ++col)
                texts.push_back(model.Text(col, row));
        }
        snapshot.push_back(std::move(texts));
    }
    return snapshot;
}

void EditHistory::Push(const QString& name, const Snapshot& before) {
    std::vector<CellEdit> edits;
    for (size_t t = 0; t < tables_.size() && t < before.size(); ++t) {
        const TableText& table = *tables_[t].text;
        const int cols = table.ColCount();
        for (int row = 0; row < table.RowCount(); ++row) {
            for (int col = 0; col < cols; ++col) {
                const QString& was = before[t][static_cast<size_t>(row * cols + col)];
                const QString& now = table.Model().Text(col, row);
                if (was != now) edits.push_back({t, col, row, was, now});
            }
        }
    }
    if (!edits.empty()) stack_.push(new TableStep(*this, name, std::move(edits)));
}

void EditHistory::Typed(const TableText* table, int col, int row, const QString& before,
                        const QString& after) {
    for (size_t t = 0; t < tables_.size(); ++t) {
        if (tables_[t].text != table) continue;
        stack_.push(new TableStep(*this, QStringLiteral("Typing in %1").arg(table->Name()),
                                  {{t, col, row, before, after}}));
        return;
    }
}

void EditHistory::Apply(const std::vector<CellEdit>& edits, bool after) {
    for (const CellEdit& edit : edits) {
        tables_[edit.table].text->Model().RestoreText(edit.col, edit.row,
                                                      after ? edit.after : edit.before);
    }
    if (!edits.empty() && shown_) shown_(tables_[edits.front().table].page);
}
