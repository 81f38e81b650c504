#include "ErrorGuard.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace {
ErrorPresenter& Presenter() {
    static ErrorPresenter presenter;
    return presenter;
}

// Messages queued or open, so that the same message is not stacked behind itself.
QStringList& Pending() {
    static QStringList pending;
    return pending;
}

void ShowBox(const QString& message, const QString& title) {
    QWidget* parent = QApplication::activeWindow();
    QMessageBox box(QMessageBox::Critical,
                    title.isEmpty() ? QApplication::applicationDisplayName() : title, message,
                    QMessageBox::Ok, parent);
    box.exec();
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
    if (qApp == nullptr || QThread::currentThread()->loopLevel() == 0) {
        ShowBox(message, title);
        return;
    }
    // The box opens once the handler that met the fault has returned to the event loop. A
    // modal loop run from inside a key handler, a cell editor's event filter or the port's
    // read would deliver events to objects it may destroy meanwhile (an editor closed by the
    // focus moving to the box), and whatever the handler still had to complete (a file, the
    // tables' state) would wait behind the box.
    const QString key = title + QLatin1Char('\n') + message;
    if (Pending().contains(key)) return;
    Pending().append(key);
    QTimer::singleShot(0, qApp, [message, title, key] {
        ShowBox(message, title);
        Pending().removeOne(key);
    });
}

namespace {
QuestionPresenter& Asker() {
    static QuestionPresenter asker;
    return asker;
}

// The question in a message box with Yes and No; Escape answers No.
bool AskInBox(const QString& title, const QString& question, bool yesByDefault, QWidget* parent) {
    QMessageBox box(QMessageBox::Question, title, question, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(yesByDefault ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
}  // namespace

void SetQuestionPresenter(QuestionPresenter presenter) {
    Asker() = std::move(presenter);
}

void AskYesNo(const QString& title, const QString& question, std::function<void(bool)> answered,
              bool yesByDefault, QWidget* parent) {
    if (Asker()) {
        answered(Asker()(title, question));
        return;
    }
    QPointer<QWidget> owner = parent;
    QTimer::singleShot(
        0, qApp,
        [title, question, answered = std::move(answered), yesByDefault, owner,
         parented = parent != nullptr] {
            // An owner that has gone since leaves nothing to ask about.
            if (parented && owner.isNull()) return;
            answered(AskInBox(title, question, yesByDefault,
                              parented ? owner.data() : QApplication::activeWindow()));
        });
}

bool AskYesNoNow(const QString& title, const QString& question) {
    if (Asker()) return Asker()(title, question);
    return AskInBox(title, question, false, QApplication::activeWindow());
}

bool ErrorMessagePending() {
    return !Pending().isEmpty();
}
