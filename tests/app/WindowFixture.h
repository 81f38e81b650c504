#pragma once
// A freshly started main window, with error messages recorded instead of shown.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStringList>
#include <memory>

#include "ErrorGuard.h"
#include "Unit1.h"

// Readable failure output for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

// The user's data folder ($XDG_DATA_HOME: backups, recovery) at `path` while it lives.
class DataHome {
  public:
    explicit DataHome(const QString& path) : previous_(qgetenv("XDG_DATA_HOME")) {
        qputenv("XDG_DATA_HOME", path.toLocal8Bit());
    }
    ~DataHome() { qputenv("XDG_DATA_HOME", previous_); }
    DataHome(const DataHome&) = delete;
    DataHome& operator=(const DataHome&) = delete;

  private:
    QByteArray previous_;
};

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        SetErrorPresenter([this](const QString& message) { errors.append(message); });
        form = std::make_unique<TForm1>();
        form->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        form.reset();
        SetErrorPresenter({});
    }

    TStringGrid* Grid(int program, ProgramTable table) const {
        return form->ProgramGridWidget(program, table);
    }
    // Makes (col, row) of a program table current, with the focus in it, on its page.
    TStringGrid* Focus(int program, ProgramTable table, int col, int row) {
        form->PageControl1->setCurrentIndex(program);
        TStringGrid* grid = Grid(program, table);
        grid->setFocus();
        grid->setCurrentCell(row, col);
        return grid;
    }

    std::unique_ptr<TForm1> form;
    QStringList errors;
};
