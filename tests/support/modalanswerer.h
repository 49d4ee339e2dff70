#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QQueue>

// Answers the modal message boxes that the code under test raises: records each box's title,
// text, icon and buttons when it is shown, and clicks the button queued for it (OK when none is).
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

    void answerNext(QMessageBox::StandardButton button) { answers.enqueue(button); }
    const QList<Box>& boxes() const { return seen; }
    void clear()
    {
        seen.clear();
        answers.clear();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QList<Box> seen;
    QQueue<QMessageBox::StandardButton> answers;
};
