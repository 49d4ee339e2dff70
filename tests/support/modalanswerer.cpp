#include "support/modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QPushButton>
#include <QTimer>

ModalAnswerer::ModalAnswerer()
{
    qApp->installEventFilter(this);
}

ModalAnswerer::~ModalAnswerer()
{
    qApp->removeEventFilter(this);
}

bool ModalAnswerer::eventFilter(QObject* watched, QEvent* event)
{
    auto* box = qobject_cast<QMessageBox*>(watched);
    if (event->type() == QEvent::Show && box) {
        seen.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                     box->standardButton(box->defaultButton())});
        const Answer answer = answers.isEmpty() ? Answer{QMessageBox::Ok, 0} : answers.dequeue();
        const QMessageBox::StandardButton wanted = answer.button;
        // Clicked from the box's own event loop, once it runs.
        QTimer::singleShot(answer.afterMs, box, [box, wanted] {
            auto* modal = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!modal)
                modal = box;
            if (QAbstractButton* button = modal->button(wanted))
                button->click();
            else
                modal->reject(); // never leave a test hanging on a box it did not expect
        });
    }
    auto* dialog = qobject_cast<QDialog*>(watched);
    if (event->type() == QEvent::Show && dialog && !box) {
        dialogsSeen.append(dialog->objectName());
        const std::function<void(QDialog*)> handler =
            dialogAnswers.isEmpty() ? nullptr : dialogAnswers.dequeue();
        QTimer::singleShot(0, dialog, [dialog, handler] {
            if (handler)
                handler(dialog);
            if (dialog->isVisible() && !dialog->result())
                dialog->reject();
        });
    }
    return QObject::eventFilter(watched, event);
}
