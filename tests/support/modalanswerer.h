#pragma once

#include <QDialog>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QQueue>
#include <QStringList>
#include <functional>

// Answers the modal message boxes that the code under test raises: records each box's title,
// text, icon and buttons when it is shown, and clicks the button queued for it (OK when none is).
// Other dialogs are handed to the handler queued for them, which fills them in and accepts or
// rejects them; one without a handler is rejected.
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton; // NoButton when the box names none
    };

    ModalAnswerer();
    ~ModalAnswerer() override;

    void answerNext(QMessageBox::StandardButton button) { answers.enqueue({button, 0}); }
    // The next box stays open this long before the button is clicked.
    void answerNextAfter(QMessageBox::StandardButton button, int ms)
    {
        answers.enqueue({button, ms});
    }
    void answerNextDialog(const std::function<void(QDialog*)>& handler)
    {
        dialogAnswers.enqueue(handler);
    }
    // Object names of the other dialogs shown, in order.
    const QStringList& dialogs() const { return dialogsSeen; }
    const QList<Box>& boxes() const { return seen; }
    void clear()
    {
        seen.clear();
        answers.clear();
        dialogsSeen.clear();
        dialogAnswers.clear();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QList<Box> seen;
    struct Answer
    {
        QMessageBox::StandardButton button;
        int afterMs;
    };
    QQueue<Answer> answers;
    QStringList dialogsSeen;
    QQueue<std::function<void(QDialog*)>> dialogAnswers;
};
