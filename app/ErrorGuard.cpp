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
    if (Presenter()) {
        Presenter()(message);
        return;
    }
    QWidget* parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message,
                    QMessageBox::Ok, parent);
    box.exec();
}
