#pragma once
// Undo and redo of the changes to the window's tables, one step per user action.
#include <QObject>
#include <QString>
#include <QUndoStack>
#include <functional>
#include <vector>

class TableText;

// One cell's text before and after a step.
struct CellEdit {
    size_t table;  // index into the history's tables
    int col;
    int row;
    QString before;
    QString after;
};

class EditHistory : public QObject {
    Q_OBJECT
  public:
    struct Table {
        TableText* text;
        int page;  // the page that shows it
    };
    // The texts of every table at one moment.
    using Snapshot = std::vector<std::vector<QString>>;
    static constexpr int kSteps = 1000;

    // `shown` is called after a step was undone or redone with the page of its first cell.
    EditHistory(std::vector<Table> tables, std::function<void(int page)> shown, QObject* parent);

    QUndoStack& Stack() { return stack_; }
    Snapshot Take() const;
    // Pushes what changed since `before` as one step named `name`; nothing if nothing did.
    void Push(const QString& name, const Snapshot& before);
    // Runs a user action and makes what it changed one step, also when it throws.
    template <typename Action>
    void Record(const QString& name, Action&& action) {
        const Snapshot before = Take();
        try {
            action();
        } catch (...) {
            Push(name, before);
            throw;
        }
        Push(name, before);
    }
    // A cell the user typed into: one step of its own.
    void Typed(const TableText* table, int col, int row, const QString& before,
               const QString& after);

    // Sets the texts of a step's cells, before or after it.
    void Apply(const std::vector<CellEdit>& edits, bool after);

  private:
    std::vector<Table> tables_;
    std::function<void(int)> shown_;
    QUndoStack stack_;
};
