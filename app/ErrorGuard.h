#pragma once
// Every handler runs inside Guarded(): whatever it throws ends the handler and reaches
// the user as one message box. Tests install a presenter that records the messages.
#include <QString>
#include <exception>
#include <functional>

class QWidget;

using ErrorPresenter = std::function<void(const QString& message)>;

// Replaces the presenter; an empty function restores the message box.
void SetErrorPresenter(ErrorPresenter presenter);
void ShowError(const QString& message);
// A message box with its own title; a presenter gets the title, a line break and the text.
// Without a presenter the box opens from the event loop once the caller has returned; a
// message already queued or open is not queued again.
void ShowError(const QString& message, const QString& title);
// A message box is queued or open.
bool ErrorMessagePending();

// Asks a yes-or-no question whose default answer is No, from the event loop once the caller
// has returned, and hands the answer to `answered`. Tests install a presenter that answers
// at once; an empty function restores the message box.
using QuestionPresenter = std::function<bool(const QString& title, const QString& question)>;
void SetQuestionPresenter(QuestionPresenter presenter);
// The box belongs to `parent`, else to the active window.
void AskYesNo(const QString& title, const QString& question, std::function<void(bool)> answered,
              bool yesByDefault = false, QWidget* parent = nullptr);
// The same question asked at once, for a caller that needs the answer now (a window being
// closed).
bool AskYesNoNow(const QString& title, const QString& question);

template <typename Handler>
void Guarded(Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowError(QString::fromStdString(error.what()));
    } catch (...) {
        ShowError(QString());
    }
}
