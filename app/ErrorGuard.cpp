#include "ErrorGuard.h"

#include <QApplication>
#include <QMessageBox>

namespace {
ErrorPresenter& Presenter() {
    static ErrorPresenter presenter;
    return presenter;
}
}  // namespace

void SetErrorPresenter(ErrorPresenter presenter) {
    Presenter() = std::move(presenter);
}

void ShowError(const QString& message) {
    ShowError(message, QString());
}

void ShowError(const QString& message, const QString& title) {
    if (Presenter()) {
        Presenter()(title.isEmpty() ? message : title + QLatin1Char('\n') + message);
        return;
    }
    QWidget* parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Critical,
                    title.isEmpty() ? QApplication::applicationDisplayName() : title, message,
                    QMessageBox::Ok, parent);
    box.exec();
}
